// Text helpers of the results-software simulator: escaping lines for logs, decoding escapes in
// scripts and options, Windows-1252 conversion and the detection time forms of the wire.
// Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lapora::resultsim {

// Makes a received line printable on one line: backslash, tab, CR and LF become \\ \t \r \n,
// other control bytes \xHH; bytes from 0x80 up stay as they are (Windows-1252 text).
std::string EscapeLine(std::string_view bytes);

// Decodes \t \r \n \\ and \xHH. Any other backslash sequence is an error.
[[nodiscard]] bool UnescapeText(std::string_view text, std::string& out, std::string& error);

// Converts valid UTF-8 holding non-ASCII characters to Windows-1252 (unknown characters become
// '?'); anything else (plain ASCII, or bytes that are not UTF-8, i.e. already Windows-1252) is
// returned unchanged.
std::string ToCp1252IfUtf8(std::string_view text);

// Reads a detection time text: "H:MM:SS", "H:MM:SS.h" or "H:MM:SS.hh" (hours may pass 24), or
// the absolute form "seconds.hundredths" (hundredths not zero-padded), which counts as its UTC
// time of day. Gives hundredths of a second.
[[nodiscard]] bool ParseDetectionTime(std::string_view text, int64_t& hundredths);

// "HH:MM:SS" (hours grow past 24), hundredths truncated; negative values give "00:00:00".
std::string FormatClock(int64_t hundredths);

// Splits text at every separator; n separators give n + 1 pieces (empty ones kept).
std::vector<std::string> Split(std::string_view text, char separator);

// Removes leading and trailing blanks and tabs.
std::string_view TrimBlanks(std::string_view text);

}  // namespace lapora::resultsim
