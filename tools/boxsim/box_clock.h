// The box's own clock: the system clock plus an offset that setDate and setTime move, and
// the text forms the box writes. Used by the simulator's single event-loop thread only.
#pragma once

#include <cstdint>
#include <string>

namespace lapora::boxsim {

// Milliseconds since 1970 of the system clock.
int64_t SystemMillis();
// Microseconds since 1970 of the system clock (send log stamps).
int64_t SystemMicros();
// Milliseconds of a monotonic clock (timers).
int64_t SteadyMillis();

class CBoxClock {
 public:
  CBoxClock(int dateOffsetDays, int64_t offsetMs);

  int64_t NowMillis() const { return SystemMillis() + m_offsetMs; }
  int64_t OffsetMillis() const { return m_offsetMs; }

  // "Y,M,D" without leading zeros needed; keeps the box time of day. False when unreadable.
  [[nodiscard]] bool SetDate(const std::string& parameter);
  // "hh,mm,ss,cc" (hundredths); keeps the box date. False when unreadable.
  [[nodiscard]] bool SetTime(const std::string& parameter);

  // Local-time texts of a box time in milliseconds since 1970.
  static std::string DashedDate(int64_t ms);     // 2012-05-13
  static std::string TimeMillis(int64_t ms);     // 10:23:45.120
  static std::string TimeSeconds(int64_t ms);    // 10:23:45
  static std::string DetectionTime(int64_t ms);  // 2012-05-13_10:23:45.120

 private:
  int64_t m_offsetMs = 0;
};

// Formats detection times fast: the text of the second is kept between calls.
class CDetectionTimeFormatter {
 public:
  // Writes "YYYY-MM-DD_HH:MM:SS.mmm" (23 characters) to out.
  void Format(int64_t ms, std::string& out);

 private:
  int64_t m_second = INT64_MIN;
  std::string m_secondText;
};

}  // namespace lapora::boxsim
