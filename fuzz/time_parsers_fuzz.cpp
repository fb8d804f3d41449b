// The time parsers and formatters against the C library: the fuzz input is two texts (a date
// and a time, split at the first '|'). The shortcuts the parsers take for the usual shapes
// (eight-digit dates, plain H:M:S.F times, two-digit formatting, the integer scanner) must
// give what sscanf and snprintf give with the same patterns; the sscanf-only parsers must keep
// their own promises.
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "foundation/chrono.h"
#include "foundation/text.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

// The conversion of a local date and time the parsers promise: fields in range, then mktime.
bool LocalToAbsolute(long year, long month, long day, long hour, long minute, long second,
                     std::int32_t* out) {
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  std::tm tm{};
  tm.tm_year = static_cast<int>(year - 1900);
  tm.tm_mon = static_cast<int>(month - 1);
  tm.tm_mday = static_cast<int>(day);
  tm.tm_hour = static_cast<int>(hour);
  tm.tm_min = static_cast<int>(minute);
  tm.tm_sec = static_cast<int>(second);
  tm.tm_isdst = -1;
  tm.tm_wday = -1;
  std::time_t instant = std::mktime(&tm);
  if ((instant == static_cast<std::time_t>(-1) && tm.tm_wday == -1) || instant < INT32_MIN ||
      instant > INT32_MAX) {
    return false;
  }
  *out = static_cast<std::int32_t>(instant);
  return true;
}

// ParseBoxDateTime with sscanf alone.
bool ReferenceBoxDateTime(const std::string& date, const std::string& time, std::int32_t* seconds,
                          std::uint16_t* millis) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (std::sscanf(date.c_str(), "%4d%2d%2d", &year, &month, &day) != 3) {
    return false;
  }
  long h = 0;
  long m = 0;
  long s = 0;
  long f = 0;
  if (std::sscanf(time.c_str(), "%ld:%ld:%ld.%ld", &h, &m, &s, &f) != 4) {
    int hh = 0;
    int mm = 0;
    int ss = 0;
    int ff = 0;
    if (std::sscanf(time.c_str(), "%2d%2d%2d.%d", &hh, &mm, &ss, &ff) != 4) {
      return false;
    }
    h = hh;
    m = mm;
    s = ss;
    f = ff;
  }
  if (!LocalToAbsolute(year, month, day, h, m, s, seconds)) {
    return false;
  }
  *millis = static_cast<std::uint16_t>(static_cast<unsigned long>(f));
  return true;
}

// "%02ld:%02ld:%02ld.%02d" of a time of day, with truncating division.
std::string ReferenceHundredths(const CChrono& value) {
  if (!value.IsSet()) {
    return "00:00:00.00";
  }
  long total = value.Seconds();
  char text[64];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld.%02d", total / 3600, (total % 3600) / 60,
                total % 60, value.Millis() / 10);
  return text;
}

// scanf "%d" of the text for values that fit an int (beyond, the C library's result is its
// own business, and the scanner saturates or refuses as asked).
void CheckScanInt(const std::string& text) {
  long long wide = 0;
  int consumed = 0;
  bool scanned = std::sscanf(text.c_str(), "%lld%n", &wide, &consumed) == 1;
  std::size_t pos = 0;
  int value = 7;
  bool read = ScanInt(text, &pos, &value, IntOverflow::kSaturate);
  Check(scanned == read, "ScanInt and sscanf disagree on whether a number is there");
  if (!read) {
    Check(pos == 0 && value == 7, "a failed ScanInt changed its outputs");
    return;
  }
  Check(pos == static_cast<std::size_t>(consumed), "ScanInt stops elsewhere than sscanf");
  if (wide >= INT_MIN && wide <= INT_MAX) {
    Check(value == wide, "ScanInt reads another value than sscanf");
  } else {
    Check(value == (wide > 0 ? INT_MAX : INT_MIN), "ScanInt does not saturate");
    std::size_t refusedPos = 0;
    int refused = 7;
    Check(!ScanInt(text, &refusedPos, &refused, IntOverflow::kRefuse) && refused == 7,
          "ScanInt takes a number beyond int when told to refuse it");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t bar = input.find('|');
  const std::string date(input.substr(0, bar));
  const std::string time(bar == std::string_view::npos ? input : input.substr(bar + 1));
  // What sscanf sees of each: up to the first zero byte.
  const std::string dateC(date.c_str());
  const std::string timeC(time.c_str());

  // Box date and time: the shortcuts against sscanf.
  {
    CChrono parsed(5, 5);
    std::int32_t seconds = 0;
    std::uint16_t millis = 0;
    bool ours = parsed.ParseBoxDateTime(date, time);
    bool theirs = ReferenceBoxDateTime(dateC, timeC, &seconds, &millis);
    Check(ours == theirs,
          "ParseBoxDateTime and sscanf disagree on \"" + dateC + "\" \"" + timeC + "\"");
    if (ours) {
      Check(parsed.Seconds() == seconds && parsed.Millis() == millis,
            "ParseBoxDateTime reads another instant than sscanf");
    } else {
      Check(parsed == CChrono(5, 5), "a failed parse changed the value");
    }
  }
  // Date and time with hundredths: the date shortcut again.
  {
    CChrono parsed(5, 5);
    bool ours = parsed.ParseDateTime(date, time, 42);
    int year = 0;
    int month = 0;
    int day = 0;
    int h = 0;
    int m = 0;
    int s = 0;
    std::int32_t seconds = 0;
    bool theirs = std::sscanf(dateC.c_str(), "%4d%2d%2d", &year, &month, &day) == 3 &&
                  std::sscanf(timeC.c_str(), "%2d%2d%2d", &h, &m, &s) == 3 &&
                  LocalToAbsolute(year, month, day, h, m, s, &seconds);
    Check(ours == theirs, "ParseDateTime and sscanf disagree");
    Check(!ours || (parsed.Seconds() == seconds && parsed.Millis() == 420),
          "ParseDateTime reads another instant than sscanf");
  }
  // The sscanf-only parsers: their promises.
  for (const std::string* text : {&date, &time}) {
    CChrono millis(5, 5);
    if (millis.ParseTimeMillis(*text)) {
      Check(millis.Millis() < 1000,
            "ParseTimeMillis leaves a millisecond part of a second or more");
    } else {
      Check(millis == CChrono(5, 5), "a failed parse changed the value");
    }
    CChrono hundredths(5, 5);
    if (!hundredths.ParseTimeHundredths(*text)) {
      Check(hundredths == CChrono(5, 5), "a failed parse changed the value");
    }
    std::string compact = "unchanged";
    if (!DashedDateToCompact(*text, compact)) {
      Check(compact == "unchanged", "a failed date conversion changed its output");
    }
    CheckScanInt(text->c_str());
  }
  // The formatting shortcut, for the value the first six bytes make.
  if (size >= 6) {
    std::int32_t seconds;
    std::uint16_t millis;
    std::memcpy(&seconds, data, sizeof seconds);
    std::memcpy(&millis, data + 4, sizeof millis);
    for (const CChrono& value : {CChrono(seconds, millis), CChrono(seconds % 360000, millis % 1000),
                                 CChrono(seconds & 0x3FFFF, millis)}) {
      Check(value.FormatHundredths() == ReferenceHundredths(value),
            "FormatHundredths differs from printf for " + std::to_string(value.Seconds()) + "." +
                std::to_string(value.Millis()));
      // The other formatters must simply hold any value.
      (void)value.FormatWithDays();
      (void)value.FormatCompact();
      (void)value.FormatClockHundredths();
      (void)value.FormatLongDate();
    }
  }
  return 0;
}
