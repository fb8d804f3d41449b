#include "wire_text.h"

#include <cstdio>

namespace lapora::resultsim {

namespace {

// Unicode code points of the Windows-1252 bytes 0x80..0x9F (0 where the byte is undefined).
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one UTF-8 sequence at text[pos]; returns its length, 0 when it is not valid UTF-8.
size_t DecodeUtf8(std::string_view text, size_t pos, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  size_t length = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (byte(pos + i) & 0x3F);
  }
  constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool ReadDigits(std::string_view text, size_t& pos, size_t minCount, size_t maxCount,
                int64_t& value) {
  size_t count = 0;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && count < maxCount) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++count;
  }
  return count >= minCount;
}

}  // namespace

std::string EscapeLine(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", u);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out;
}

bool UnescapeText(std::string_view text, std::string& out, std::string& error) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 >= text.size()) {
      error = "a backslash ends the text (write \\\\ for a backslash)";
      return false;
    }
    const char next = text[++i];
    switch (next) {
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        int value = 0;
        for (int k = 0; k < 2; ++k) {
          const char h = i + 1 < text.size() ? text[i + 1] : '\0';
          int digit = -1;
          if (h >= '0' && h <= '9') {
            digit = h - '0';
          } else if (h >= 'a' && h <= 'f') {
            digit = h - 'a' + 10;
          } else if (h >= 'A' && h <= 'F') {
            digit = h - 'A' + 10;
          }
          if (digit < 0) {
            error = "\\x needs two hexadecimal digits";
            return false;
          }
          value = value * 16 + digit;
          ++i;
        }
        out += static_cast<char>(value);
        break;
      }
      default:
        error = std::string("unknown escape \\") + next;
        return false;
    }
  }
  return true;
}

std::string ToCp1252IfUtf8(std::string_view text) {
  bool hasNonAscii = false;
  for (size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    const size_t length = DecodeUtf8(text, pos, code);
    if (length == 0) {
      return std::string(text);  // not UTF-8: already single-byte text
    }
    hasNonAscii = hasNonAscii || length > 1;
    pos += length;
  }
  if (!hasNonAscii) {
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    pos += DecodeUtf8(text, pos, code);
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      out += static_cast<char>(code);
      continue;
    }
    char mapped = '?';
    for (int i = 0; i < 32; ++i) {
      if (kCp1252High[i] != 0 && kCp1252High[i] == code) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

bool ParseDetectionTime(std::string_view text, int64_t& hundredths) {
  size_t pos = 0;
  int64_t first = 0;
  if (!ReadDigits(text, pos, 1, 12, first)) {
    return false;
  }
  if (pos < text.size() && text[pos] == '.') {
    // Absolute box time: seconds since 1970, a point, the hundredths without padding.
    ++pos;
    int64_t fraction = 0;
    if (!ReadDigits(text, pos, 1, 2, fraction) || pos != text.size()) {
      return false;
    }
    hundredths = (first % 86400) * 100 + fraction;
    return true;
  }
  int64_t minutes = 0;
  int64_t seconds = 0;
  if (pos >= text.size() || text[pos++] != ':' || !ReadDigits(text, pos, 2, 2, minutes) ||
      pos >= text.size() || text[pos++] != ':' || !ReadDigits(text, pos, 2, 2, seconds) ||
      minutes > 59 || seconds > 59) {
    return false;
  }
  int64_t fraction = 0;
  if (pos < text.size()) {
    if (text[pos++] != '.') {
      return false;
    }
    const size_t start = pos;
    if (!ReadDigits(text, pos, 1, 2, fraction) || pos != text.size()) {
      return false;
    }
    if (pos - start == 1) {
      fraction *= 10;  // one digit is tenths
    }
  }
  hundredths = ((first * 60 + minutes) * 60 + seconds) * 100 + fraction;
  return true;
}

std::string FormatClock(int64_t hundredths) {
  if (hundredths < 0) {
    hundredths = 0;
  }
  const int64_t seconds = hundredths / 100;
  char text[40];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace lapora::resultsim
