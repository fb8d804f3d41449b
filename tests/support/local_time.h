// Local clock times of the test's time zone as Unix times, for tests that set a clock.
#pragma once

#include <cstdint>
#include <ctime>

namespace lapora::testing {

// The Unix time of a local date and time; the zone decides whether daylight saving applies.
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// The same in Unix milliseconds, with the milliseconds of the second.
inline std::int64_t LocalMs(int year, int month, int day, int hour, int minute, int second,
                            int ms) {
  return static_cast<std::int64_t>(LocalTime(year, month, day, hour, minute, second)) * 1000 + ms;
}

}  // namespace lapora::testing
