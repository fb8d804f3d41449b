// CChrono, the one time value of Lapora (a time of day of the race or an absolute Unix time),
// with its ordering, arithmetic, parsers and text forms, and the compact date texts.
// A CChrono is a plain value: copy it freely; a given object is not to be changed from two
// threads at once. Every function here is thread-safe (local time through localtime_r/mktime).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace lapora {

class Clock;

// Kind numbers for building a CChrono.
inline constexpr int kChronoUnset = 0;
inline constexpr int kChronoNow = 1;           // now, absolute (Unix time)
inline constexpr int kChronoNowTimeOfDay = 2;  // now, as seconds since local midnight

// A value is read either as a time of day (seconds since midnight of the race's reference day,
// never wrapped at 24 h) or as an absolute Unix time; the type carries no tag. A value whose
// two fields are zero is unset, so a time of day of exactly 00:00:00.000 counts as unset.
class CChrono {
 public:
  CChrono() = default;
  // Both fields stored as given, without normalisation (a delay of n ms is CChrono(0, n)).
  CChrono(std::int32_t seconds, std::uint16_t millis) : m_seconds(seconds), m_millis(millis) {}
  // kChronoUnset, kChronoNow or kChronoNowTimeOfDay, on the system clock or on the given one.
  // Any other number gives an unset value.
  explicit CChrono(int kind);
  CChrono(int kind, const Clock& clock);

  std::int32_t Seconds() const { return m_seconds; }
  std::uint16_t Millis() const { return m_millis; }

  bool IsSet() const { return m_seconds != 0 || m_millis != 0; }
  void Clear() {
    m_seconds = 0;
    m_millis = 0;
  }

  // Now, absolute: the Unix seconds and their millisecond part.
  void SetNow();
  void SetNow(std::int64_t unixMs);
  // Now, as a time of day: local hour * 3600 + minute * 60 + second, plus the millisecond part.
  void SetNowTimeOfDay();
  void SetNowTimeOfDay(std::int64_t unixMs);

  // Reads the seconds as absolute and keeps only the local time of day; milliseconds kept.
  void ToTimeOfDay();
  // Adds today's local midnight to the seconds (a time of day becomes absolute). Midnight is
  // built with the daylight-saving flag of the current moment, so that midnight + local time of
  // day gives the right instant for times in the current daylight-saving period.
  void ToAbsoluteToday();
  void ToAbsoluteToday(std::time_t now);

  // Unset sorts after every set value; two unset values are equal.
  bool operator<(const CChrono& other) const;
  bool operator<=(const CChrono& other) const;
  bool operator>(const CChrono& other) const;
  bool operator==(const CChrono& other) const {
    return m_seconds == other.m_seconds && m_millis == other.m_millis;
  }

  // Field-wise arithmetic with one borrow or one carry of the milliseconds; the unset rule plays
  // no part. Values built raw with 1000 ms or more are not normalised further.
  CChrono operator-(const CChrono& other) const;
  CChrono operator+(const CChrono& other) const;
  // The repeat filter's test, for an instant later than `earlier`: the difference is less than
  // delayMs (> 0). Instants decades apart are never within it, though their difference does
  // not fit in the seconds.
  bool IsWithinAfter(const CChrono& earlier, int delayMs) const;

  // Parsers: scanf-like (leading blanks skipped, optional sign, widths limit digits, trailing
  // text ignored). On failure they return false and leave the value unchanged.
  //
  // "H:M:S.f", "H.M.S.f" (f in hundredths), then "H.M.S", "H:M:S"; no range check, no carry.
  [[nodiscard]] bool ParseTimeHundredths(std::string_view text);
  // "H:M:S.f", "H.M.S.f" with f in milliseconds; carries ms into s, s into min, min into h.
  [[nodiscard]] bool ParseTimeMillis(std::string_view text);
  // Date "YYYYMMDD", time "H:M:S.f" or "HHMMSS.f": absolute local time; milliseconds = f as
  // written (no scaling, no carry).
  [[nodiscard]] bool ParseBoxDateTime(std::string_view date, std::string_view time);
  // Date "YYYYMMDD", time "HHMMSS": absolute local time; milliseconds = hundredths * 10.
  [[nodiscard]] bool ParseDateTime(std::string_view date, std::string_view time, int hundredths);

  // Formatters of a time of day (hours never wrapped). Negative values use truncating
  // division: quotients and remainders carry the sign, so -1 s formats as "00:00:-1".
  //
  // "HH:MM:SS.hh", hundredths truncated: the standard text of a detection time.
  std::string FormatHundredths() const;
  // "HH:MM:SS", milliseconds dropped.
  std::string FormatSeconds() const;
  // "HH:MM:SS", any non-zero milliseconds rounding up to the next second.
  std::string FormatSecondsRoundedUp() const;
  // As FormatSecondsRoundedUp, but from 24 h on: "+24h HH:MM:SS" with the days as 24 h steps.
  std::string FormatWithDays() const;
  // FormatSecondsRoundedUp without ":" nor leading zeros ("507" for 00:05:07); unset gives "".
  std::string FormatCompact() const;

  // Formatters of an absolute value, in local time.
  //
  // "HH:MM:SS.hh" of the instant; unset gives "00:00:00.00".
  std::string FormatClockHundredths() const;
  // "Dim 13 Mai 2012": French weekday and month (Windows-1252) whatever the interface language.
  std::string FormatLongDate() const;

 private:
  std::int32_t m_seconds = 0;
  std::uint16_t m_millis = 0;
};

// Compact local date and time texts. The overloads without `now` read the system clock; when
// the instant cannot be converted the fields fall back to zero.
//
// Today's date, "YYYYMMDD".
std::string TodayCompact();
std::string TodayCompact(std::time_t now);
// The calendar date `days` days after today (days may be negative), "YYYYMMDD".
std::string DateFromToday(int days);
std::string DateFromToday(int days, std::time_t now);
// The current time, "HHMMSS".
std::string NowCompactTime();
std::string NowCompactTime(std::time_t now);
// "2012-5-3" -> "20120503" (dashes taken as blanks, three numbers read). False, `out`
// unchanged, when fewer than three numbers are found.
[[nodiscard]] bool DashedDateToCompact(std::string_view text, std::string& out);

}  // namespace lapora
