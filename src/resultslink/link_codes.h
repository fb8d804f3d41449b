// The fixed vocabulary of the results software's replies: the command and status code tables,
// the version text and its compatibility check, and the ordinal texts of ranks. Pure
// functions over read-only tables; any thread.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/text.h"

namespace lapora {

// Status codes with a meaning of their own.
inline constexpr int kStatusCredited = 3;      // the detection was credited to the runner
inline constexpr int kStatusControlTime = -8;  // a control time: nothing is shown

// The name of a command code (Windows-1252); the build language's fallback for unknown codes.
std::string CommandName(int code);
std::string CommandNameIn(Language language, int code);
// The text of a status code (Windows-1252); the build language's fallback for unknown codes.
std::string StatusText(int code);
std::string StatusTextIn(Language language, int code);

// The four numbers a,b,c,d of a version text "a,b,c,d"; none when the text is not of that form.
std::optional<std::array<int, 4>> ParseVersionNumbers(std::string_view text);
// The short version form "%d.%d%c": a, b * 10 + c, then the letter a + d - 1 ("_" when d is 0);
// empty when the text is not a version.
std::string ConvertVersion(std::string_view text);
// True when the text is a version older than 4,4,0,0. The four numbers are compared in turn
// (10,0,0,0 is newer than 4,4,0,0, whatever its text form sorts like); a text that is not a
// version is never refused.
bool IsVersionRefused(std::string_view text);

// The ordinal text of rank n ("1er", "1ère", "12ème"; "1st", "11th", "23rd"); only the first
// character of the sex code counts. Windows-1252.
std::string OrdinalText(int rank, std::string_view sex);
std::string OrdinalTextIn(Language language, int rank, std::string_view sex);

}  // namespace lapora
