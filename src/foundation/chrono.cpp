#include "foundation/chrono.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "foundation/clock.h"
#include "foundation/text.h"

namespace lapora {

namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

const char* const kWeekdays[7] = {"Dim", "Lun", "Mar", "Mer", "Jeu", "Ven", "Sam"};
// Windows-1252 bytes, as every text inside Lapora.
const char* const kMonths[12] = {"Janvier", "F\xE9vrier", "Mars", "Avril", "Mai", "Juin", "Juillet",
                                 "Ao\xFBt", "Septembre", "Octobre", "Novembre",
                                 // Split: "\xE9c" would read as one escape.
                                 ("D\xE9"
                                  "cembre")};

bool FitsInt32(std::int64_t value) {
  return value >= kInt32Min && value <= kInt32Max;
}

// Seconds are 32-bit: instants past 2038 wrap, as a 32-bit time value would.
std::int32_t NarrowSeconds(std::int64_t seconds) {
  return static_cast<std::int32_t>(seconds);
}

// Local calendar time of an instant; all fields zero when the system cannot convert it.
std::tm LocalTm(std::time_t instant) {
  std::tm tm{};
  if (localtime_r(&instant, &tm) == nullptr) {
    tm = std::tm{};
  }
  return tm;
}

// Unix milliseconds split into whole seconds (rounded down) and their millisecond part.
void SplitUnixMs(std::int64_t unixMs, std::int64_t& seconds, std::uint16_t& millis) {
  seconds = unixMs / 1000;
  std::int64_t rest = unixMs % 1000;
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  millis = static_cast<std::uint16_t>(rest);
}

std::int32_t TimeOfDayOf(const std::tm& tm) {
  return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

// H * 3600 + M * 60 + S, refused when a field or the result does not fit the 32-bit seconds
// (a huge field would otherwise overflow into an unrelated time).
bool HmsToSeconds(long hours, long minutes, long seconds, std::int32_t& out) {
  if (!FitsInt32(hours) || !FitsInt32(minutes) || !FitsInt32(seconds)) {
    return false;
  }
  std::int64_t total = static_cast<std::int64_t>(hours) * 3600 +
                       static_cast<std::int64_t>(minutes) * 60 + static_cast<std::int64_t>(seconds);
  if (!FitsInt32(total)) {
    return false;
  }
  out = static_cast<std::int32_t>(total);
  return true;
}

// Milliseconds are 16-bit: a fraction is kept modulo 65536, with no other check.
std::uint16_t Low16(long value) {
  return static_cast<std::uint16_t>(static_cast<unsigned long>(value));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of the count digits at text (all known to be digits).
long DigitsValue(const char* text, std::size_t count) {
  long value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool ScanDate(std::string_view date, int& year, int& month, int& day) {
  // Every box line carries a date: its usual shape, eight digits, is read without sscanf,
  // with the very result sscanf gives for it.
  if (date.size() >= 8 && std::all_of(date.begin(), date.begin() + 8, IsDigit)) {
    year = static_cast<int>(DigitsValue(date.data(), 4));
    month = static_cast<int>(DigitsValue(date.data() + 4, 2));
    day = static_cast<int>(DigitsValue(date.data() + 6, 2));
    return true;
  }
  // "%2d" is the two-digit-wide field of "%02d" (the 0 has no meaning in scanf).
  return std::sscanf(std::string(date).c_str(), "%4d%2d%2d", &year, &month, &day) == 3;
}

// Reads "H:M:S.F" with fields of 1 to 9 plain digits (what "%ld:%ld:%ld.%ld" reads from such a
// text, whatever follows the last digit); false for any other shape.
bool ScanPlainColonTime(std::string_view time, long& h, long& m, long& sec, long& fraction) {
  long* fields[4] = {&h, &m, &sec, &fraction};
  const char separators[3] = {':', ':', '.'};
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t start = at;
    while (at < time.size() && IsDigit(time[at]) && at - start < 10) {
      ++at;
    }
    std::size_t count = at - start;
    if (count == 0 || count > 9) {
      return false;
    }
    *fields[i] = DigitsValue(time.data() + start, count);
    if (i < 3) {
      if (at >= time.size() || time[at] != separators[i]) {
        return false;
      }
      ++at;
    }
  }
  // A tenth digit would have been part of sscanf's last number.
  return at >= time.size() || !IsDigit(time[at]);
}

// The absolute value of a local date and time, daylight saving left to the library.
// Negative hours, minutes and seconds are refused as well: mktime would otherwise move them
// silently into the day before.
bool LocalToAbsolute(long year, long month, long day, long hour, long minute, long second,
                     std::int32_t& out) {
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31) {
    return false;
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
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
  tm.tm_wday = -1;  // left as is by mktime when it fails: tells a failure from 1969-12-31 23:59:59
  std::time_t instant = std::mktime(&tm);
  if (instant == static_cast<std::time_t>(-1) && tm.tm_wday == -1) {
    return false;
  }
  if (!FitsInt32(static_cast<std::int64_t>(instant))) {
    return false;
  }
  out = static_cast<std::int32_t>(instant);
  return true;
}

struct Hms {
  long h;
  long m;
  long s;
};

// Truncating division: a negative value gives quotients and remainders of its sign.
Hms SplitSeconds(std::int32_t seconds) {
  long total = seconds;
  return {total / 3600, (total % 3600) / 60, total % 60};
}

Hms RoundedUp(std::int32_t seconds, std::uint16_t millis) {
  Hms t = SplitSeconds(seconds);
  if (millis != 0) {
    ++t.s;
    if (t.s == 60) {
      t.s = 0;
      ++t.m;
      if (t.m == 60) {
        t.m = 0;
        ++t.h;
      }
    }
  }
  return t;
}

std::string HmsText(const Hms& t) {
  return StrF("%02ld:%02ld:%02ld", t.h, t.m, t.s);
}

}  // namespace

CChrono::CChrono(int kind) : CChrono(kind, SystemClock()) {}

CChrono::CChrono(int kind, const Clock& clock) {
  if (kind == kChronoNow) {
    SetNow(clock.NowUnixMs());
  } else if (kind == kChronoNowTimeOfDay) {
    SetNowTimeOfDay(clock.NowUnixMs());
  }
}

void CChrono::SetNow() {
  SetNow(SystemClock().NowUnixMs());
}

void CChrono::SetNow(std::int64_t unixMs) {
  std::int64_t seconds = 0;
  SplitUnixMs(unixMs, seconds, m_millis);
  m_seconds = NarrowSeconds(seconds);
}

void CChrono::SetNowTimeOfDay() {
  SetNowTimeOfDay(SystemClock().NowUnixMs());
}

void CChrono::SetNowTimeOfDay(std::int64_t unixMs) {
  std::int64_t seconds = 0;
  SplitUnixMs(unixMs, seconds, m_millis);
  m_seconds = TimeOfDayOf(LocalTm(static_cast<std::time_t>(seconds)));
}

void CChrono::ToTimeOfDay() {
  m_seconds = TimeOfDayOf(LocalTm(m_seconds));
}

void CChrono::ToAbsoluteToday() {
  ToAbsoluteToday(std::time(nullptr));
}

void CChrono::ToAbsoluteToday(std::time_t now) {
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) {
    return;
  }
  tm.tm_hour = 0;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  // tm_isdst stays the one of the current moment (see the header).
  std::time_t midnight = std::mktime(&tm);
  if (midnight == static_cast<std::time_t>(-1)) {
    return;
  }
  m_seconds = NarrowSeconds(static_cast<std::int64_t>(m_seconds) + midnight);
}

bool CChrono::operator<(const CChrono& other) const {
  if (IsSet() && !other.IsSet()) {
    return true;
  }
  if (!IsSet() && other.IsSet()) {
    return false;
  }
  if (m_seconds != other.m_seconds) {
    return m_seconds < other.m_seconds;
  }
  return m_millis < other.m_millis;
}

bool CChrono::operator<=(const CChrono& other) const {
  return *this < other || *this == other;
}

bool CChrono::operator>(const CChrono& other) const {
  if (!IsSet() && other.IsSet()) {
    return true;
  }
  if (IsSet() && !other.IsSet()) {
    return false;
  }
  if (m_seconds != other.m_seconds) {
    return m_seconds > other.m_seconds;
  }
  return m_millis > other.m_millis;
}

CChrono CChrono::operator-(const CChrono& other) const {
  std::int64_t seconds = static_cast<std::int64_t>(m_seconds) - other.m_seconds;
  int millis = static_cast<int>(m_millis) - static_cast<int>(other.m_millis);
  if (m_millis < other.m_millis) {
    --seconds;
    millis += 1000;
  }
  return CChrono(NarrowSeconds(seconds), static_cast<std::uint16_t>(millis));
}

bool CChrono::IsWithinAfter(const CChrono& earlier, int delayMs) const {
  const std::int64_t seconds = static_cast<std::int64_t>(m_seconds) - earlier.m_seconds;
  if (seconds > delayMs / 1000 + 1) {
    return false;
  }
  // The delay as a normalised duration: 1500 ms is 1 s 500 ms.
  return *this - earlier < CChrono(delayMs / 1000, static_cast<std::uint16_t>(delayMs % 1000));
}

CChrono CChrono::operator+(const CChrono& other) const {
  std::int64_t seconds = static_cast<std::int64_t>(m_seconds) + other.m_seconds;
  int millis = static_cast<int>(m_millis) + static_cast<int>(other.m_millis);
  if (millis >= 1000) {  // one carry only: raw values of 1000 ms or more stay unnormalised
    ++seconds;
    millis -= 1000;
  }
  return CChrono(NarrowSeconds(seconds), static_cast<std::uint16_t>(millis));
}

bool CChrono::ParseTimeHundredths(std::string_view text) {
  const std::string s(text);
  long h = 0;
  long m = 0;
  long sec = 0;
  long fraction = 0;
  bool matched = std::sscanf(s.c_str(), "%ld:%ld:%ld.%ld", &h, &m, &sec, &fraction) == 4 ||
                 std::sscanf(s.c_str(), "%ld.%ld.%ld.%ld", &h, &m, &sec, &fraction) == 4;
  if (!matched) {
    fraction = 0;
    matched = std::sscanf(s.c_str(), "%ld.%ld.%ld", &h, &m, &sec) == 3 ||
              std::sscanf(s.c_str(), "%ld:%ld:%ld", &h, &m, &sec) == 3;
  }
  std::int32_t seconds = 0;
  if (!matched || !HmsToSeconds(h, m, sec, seconds)) {
    return false;
  }
  m_seconds = seconds;
  m_millis = static_cast<std::uint16_t>(Low16(fraction) * 10u);
  return true;
}

bool CChrono::ParseTimeMillis(std::string_view text) {
  const std::string s(text);
  long h = 0;
  long m = 0;
  long sec = 0;
  long fraction = 0;
  bool matched = std::sscanf(s.c_str(), "%ld:%ld:%ld.%ld", &h, &m, &sec, &fraction) == 4 ||
                 std::sscanf(s.c_str(), "%ld.%ld.%ld.%ld", &h, &m, &sec, &fraction) == 4;
  if (!matched || !FitsInt32(h) || !FitsInt32(m) || !FitsInt32(sec)) {
    return false;
  }
  std::uint16_t millis = Low16(fraction);
  while (millis >= 1000) {
    millis = static_cast<std::uint16_t>(millis - 1000);
    ++sec;
  }
  if (sec >= 60) {
    m += sec / 60;
    sec %= 60;
  }
  if (m >= 60) {
    h += m / 60;
    m %= 60;
  }
  std::int32_t seconds = 0;
  if (!HmsToSeconds(h, m, sec, seconds)) {
    return false;
  }
  m_seconds = seconds;
  m_millis = millis;
  return true;
}

bool CChrono::ParseBoxDateTime(std::string_view date, std::string_view time) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (!ScanDate(date, year, month, day)) {
    return false;
  }
  long h = 0;
  long m = 0;
  long sec = 0;
  long fraction = 0;
  if (!ScanPlainColonTime(time, h, m, sec, fraction)) {
    const std::string t(time);
    if (std::sscanf(t.c_str(), "%ld:%ld:%ld.%ld", &h, &m, &sec, &fraction) != 4) {
      int hh = 0;
      int mm = 0;
      int ss = 0;
      int ff = 0;
      if (std::sscanf(t.c_str(), "%2d%2d%2d.%d", &hh, &mm, &ss, &ff) != 4) {
        return false;
      }
      h = hh;
      m = mm;
      sec = ss;
      fraction = ff;
    }
  }
  std::int32_t seconds = 0;
  if (!LocalToAbsolute(year, month, day, h, m, sec, seconds)) {
    return false;
  }
  m_seconds = seconds;
  m_millis = Low16(fraction);
  return true;
}

bool CChrono::ParseDateTime(std::string_view date, std::string_view time, int hundredths) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (!ScanDate(date, year, month, day)) {
    return false;
  }
  const std::string t(time);
  int h = 0;
  int m = 0;
  int sec = 0;
  if (std::sscanf(t.c_str(), "%2d%2d%2d", &h, &m, &sec) != 3) {
    return false;
  }
  std::int32_t seconds = 0;
  if (!LocalToAbsolute(year, month, day, h, m, sec, seconds)) {
    return false;
  }
  m_seconds = seconds;
  m_millis = static_cast<std::uint16_t>(Low16(hundredths) * 10u);
  return true;
}

std::string CChrono::FormatHundredths() const {
  if (!IsSet()) {
    return "00:00:00.00";
  }
  Hms t = SplitSeconds(m_seconds);
  int hundredths = m_millis / 10;
  // Every detection formats its time a few times: the usual two-digit fields without printf.
  if (t.h >= 0 && t.h < 100 && t.m >= 0 && t.s >= 0 && hundredths < 100) {
    const long fields[4] = {t.h, t.m, t.s, hundredths};
    char text[11];
    for (int i = 0; i < 4; ++i) {
      text[i * 3] = static_cast<char>('0' + fields[i] / 10);
      text[i * 3 + 1] = static_cast<char>('0' + fields[i] % 10);
      if (i < 3) {
        text[i * 3 + 2] = i < 2 ? ':' : '.';
      }
    }
    return std::string(text, sizeof text);
  }
  return StrF("%02ld:%02ld:%02ld.%02d", t.h, t.m, t.s, hundredths);
}

std::string CChrono::FormatSeconds() const {
  if (!IsSet()) {
    return "00:00:00";
  }
  return HmsText(SplitSeconds(m_seconds));
}

std::string CChrono::FormatSecondsRoundedUp() const {
  if (!IsSet()) {
    return "00:00:00";
  }
  return HmsText(RoundedUp(m_seconds, m_millis));
}

std::string CChrono::FormatWithDays() const {
  if (!IsSet()) {
    return "00:00:00";
  }
  Hms t = RoundedUp(m_seconds, m_millis);
  long days = t.h / 24;
  if (days == 0) {
    return HmsText(t);
  }
  return StrF("+%dh %02ld:%02ld:%02ld", static_cast<int>(days * 24), t.h % 24, t.m, t.s);
}

std::string CChrono::FormatCompact() const {
  if (!IsSet()) {
    return {};
  }
  std::string text;
  for (char c : FormatSecondsRoundedUp()) {
    if (c != ':') {
      text.push_back(c);
    }
  }
  return text.substr(std::min(text.find_first_not_of('0'), text.size()));
}

std::string CChrono::FormatClockHundredths() const {
  if (!IsSet()) {
    return "00:00:00.00";
  }
  std::tm tm = LocalTm(m_seconds);
  return StrF("%02d:%02d:%02d.%02d", tm.tm_hour, tm.tm_min, tm.tm_sec, m_millis / 10);
}

std::string CChrono::FormatLongDate() const {
  std::tm tm = LocalTm(m_seconds);
  int weekday = tm.tm_wday >= 0 && tm.tm_wday < 7 ? tm.tm_wday : 0;
  int month = tm.tm_mon >= 0 && tm.tm_mon < 12 ? tm.tm_mon : 0;
  return StrF("%s %02d %s %4d", kWeekdays[weekday], tm.tm_mday, kMonths[month], tm.tm_year + 1900);
}

std::string TodayCompact() {
  return TodayCompact(std::time(nullptr));
}

std::string TodayCompact(std::time_t now) {
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) {
    return "00000000";
  }
  return StrF("%4d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string DateFromToday(int days) {
  return DateFromToday(days, std::time(nullptr));
}

std::string DateFromToday(int days, std::time_t now) {
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) {
    return "00000000";
  }
  // Counted on the calendar: a day is 23 or 25 hours long on a clock-change night, so adding
  // whole 86400 s steps would skip or repeat a date near midnight. Noon exists on every day.
  tm.tm_mday += days;
  tm.tm_hour = 12;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  if (std::mktime(&tm) == static_cast<std::time_t>(-1)) {
    return "00000000";
  }
  return StrF("%d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string NowCompactTime() {
  return NowCompactTime(std::time(nullptr));
}

std::string NowCompactTime(std::time_t now) {
  std::tm tm = LocalTm(now);
  return StrF("%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

bool DashedDateToCompact(std::string_view text, std::string& out) {
  std::string s(text);
  for (char& c : s) {
    if (c == '-') {
      c = ' ';
    }
  }
  int year = 0;
  int month = 0;
  int day = 0;
  if (std::sscanf(s.c_str(), "%d %d %d", &year, &month, &day) != 3) {
    return false;
  }
  out = StrF("%04d%02d%02d", year, month, day);
  return true;
}

}  // namespace lapora
