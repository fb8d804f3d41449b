// Texts of the system: Windows-1252 bytes in std::string inside, UTF-8 at the edges.
// The message catalogue keeps each bilingual text once (English and French, UTF-8 source);
// Tr() gives the build language's text converted to Windows-1252. All functions are
// thread-safe (the catalogue is read-only; conversions are pure).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace lapora {

enum class Language { kEnglish, kFrench };

// One catalogue entry, both texts in UTF-8.
struct Message {
  const char* en;
  const char* fr;
};

// The language fixed at build time (CMake option LAPORA_LANGUAGE).
Language BuildLanguage();

// The entry's text in the build language, as Windows-1252 bytes.
std::string Tr(const Message& message);
// The entry's text in the given language, as Windows-1252 bytes (tests, fixed-language texts).
std::string TrIn(Language language, const Message& message);

// printf-style formatting into a std::string. Pass std::string arguments as .c_str().
std::string StrF(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrFv(const char* format, va_list args);
// Formatting bounded to max_chars characters (the log's 1024-byte formatting buffers keep 1023).
std::string StrFBounded(size_t max_chars, const char* format, va_list args);

// Conversions at the edges. Characters with no Windows-1252 form become '?'; invalid UTF-8
// bytes are taken as Windows-1252 bytes (so already converted text passes through unharmed).
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view cp1252);

// ASCII helpers used by parsers: case-insensitive equality, trimming.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);

// The white space of the C locale, what scanf skips: space, \t, \n, \v, \f, \r.
bool IsSpace(char c);
// The text without the spaces and tabs at both ends (settings values, dialog fields).
std::string_view TrimBlanks(std::string_view text);
// The text without the white space of IsSpace at both ends.
std::string_view TrimSpace(std::string_view text);

// What a number beyond the int range gives when ScanInt reads it.
enum class IntOverflow {
  kSaturate,  // INT_MAX or INT_MIN
  kRefuse,    // no number
};
// scanf "%d" from *pos: white space skipped, an optional sign, at least one digit. On success
// *value is the number and *pos is just past its last digit; on failure both are unchanged.
bool ScanInt(std::string_view text, std::size_t* pos, int* value, IntOverflow overflow);

}  // namespace lapora
