#include "foundation/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <vector>

namespace lapora {

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F (0 where the byte is undefined).
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t Cp1252ToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) {
    char32_t cp = kHigh[byte - 0x80];
    return cp != 0 ? cp : byte;
  }
  return byte;
}

int CodePointToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    return static_cast<int>(cp);
  }
  for (size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == cp) {
      return static_cast<int>(0x80 + i);
    }
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

Language BuildLanguage() {
#if defined(LAPORA_LANGUAGE_FR)
  return Language::kFrench;
#else
  return Language::kEnglish;
#endif
}

std::string Tr(const Message& message) {
  return TrIn(BuildLanguage(), message);
}

std::string TrIn(Language language, const Message& message) {
  return Utf8ToCp1252(language == Language::kFrench ? message.fr : message.en);
}

std::string StrF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = StrFv(format, args);
  va_end(args);
  return result;
}

std::string StrFv(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) {
    return {};
  }
  if (static_cast<size_t>(n) < sizeof small) {
    return std::string(small, static_cast<size_t>(n));
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

std::string StrFBounded(size_t max_chars, const char* format, va_list args) {
  std::string text = StrFv(format, args);
  if (text.size() > max_chars) {
    text.resize(max_chars);
  }
  return text;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    bool valid = len != 0 && i + len <= utf8.size();
    char32_t cp = 0;
    if (valid) {
      cp = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
      for (size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(utf8[i + k]);
        if ((c & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        cp = (cp << 6) | (c & 0x3F);
      }
    }
    if (!valid) {
      out.push_back(static_cast<char>(b));  // already a Windows-1252 byte
      ++i;
      continue;
    }
    int mapped = CodePointToCp1252(cp);
    out.push_back(mapped < 0 ? '?' : static_cast<char>(mapped));
    i += len;
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 8);
  for (char c : cp1252) {
    AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(c)));
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y) {
      return false;
    }
  }
  return true;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool ScanInt(std::string_view text, std::size_t* pos, int* value, IntOverflow overflow) {
  std::size_t i = *pos;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::size_t digitsStart = i;
  constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 2;  // past any int magnitude
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(kBeyond, magnitude * 10 + (text[i] - '0'));
  }
  if (i == digitsStart) {
    return false;
  }
  long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT_MAX || signedValue < INT_MIN) {
    if (overflow == IntOverflow::kRefuse) {
      return false;
    }
    signedValue = signedValue > INT_MAX ? INT_MAX : INT_MIN;
  }
  *value = static_cast<int>(signedValue);
  *pos = i;
  return true;
}

}  // namespace lapora
