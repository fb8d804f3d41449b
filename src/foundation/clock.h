// The wall clock and the millisecond tick, behind an interface so that tests can run the
// day tracking, pings and time-outs on a clock of their own. SystemClock() is thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

namespace lapora {

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall clock: milliseconds since 1970-01-01 00:00:00 UTC.
  virtual std::int64_t NowUnixMs() const = 0;
  // Monotonic tick in milliseconds (the system millisecond tick).
  virtual std::uint64_t TickMs() const = 0;

  std::time_t NowUnix() const { return static_cast<std::time_t>(NowUnixMs() / 1000); }
};

// The real clocks of the machine.
Clock& SystemClock();

// A clock that only moves when told to; for tests. Safe to read from any thread.
class ManualClock : public Clock {
 public:
  explicit ManualClock(std::int64_t unixMs = 0, std::uint64_t tickMs = 0)
      : m_unixMs(unixMs), m_tickMs(tickMs) {}
  std::int64_t NowUnixMs() const override { return m_unixMs; }
  std::uint64_t TickMs() const override { return m_tickMs; }
  void SetUnixMs(std::int64_t unixMs) { m_unixMs = unixMs; }
  void SetTickMs(std::uint64_t tickMs) { m_tickMs = tickMs; }
  void Advance(std::int64_t ms) {
    m_unixMs += ms;
    m_tickMs += static_cast<std::uint64_t>(ms);
  }

 private:
  std::atomic<std::int64_t> m_unixMs;
  std::atomic<std::uint64_t> m_tickMs;
};

}  // namespace lapora
