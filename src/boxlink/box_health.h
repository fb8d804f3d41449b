// CBoxHealth: what the operator sees of one box's load and well-being (reads per second over
// the last 10 s, what became of its detection lines, the age of its last read, reconnections,
// the offset of its clock to the PC's) and the state of its silence and clock alarms.
// Thread-safety: one writer at a time (the box's reading thread, or the main thread while none
// runs), any number of readers on any thread. Every field is an atomic; a reader may see the
// figures of two consecutive lines mixed, never a torn value.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace lapora {

class CBoxHealth {
 public:
  // Reads per second are counted over this many whole seconds before the current one.
  static constexpr int kRateSeconds = 10;

  // What a report changed about an alarm.
  enum class AlarmChange { kNone, kRaised, kCleared };

  struct Figures {
    bool everConnected = false;  // connected at least once since the last reset
    bool connected = false;
    double readsPerSecond = 0.0;
    std::int64_t recorded = 0;
    std::int64_t ignored = 0;
    std::int64_t invalid = 0;
    bool anyRead = false;
    std::uint64_t lastReadAgeMs = 0;  // meaningful when anyRead
    int reconnections = 0;
    bool offsetKnown = false;
    std::int64_t clockOffsetMs = 0;  // box clock minus PC clock
    bool clockAlarm = false;         // the offset is beyond the limit
    // Connected, has sent at least one line and nothing since for at least the silence limit.
    bool silent = false;
    std::uint64_t silentForMs = 0;  // meaningful when silent
  };

  // Writer. A connection begins (afterLoss: it follows a lost one, a reconnection) or ends.
  void NoteConnected(bool afterLoss);
  void NoteDisconnected();
  // Writer. A line of any kind arrived at tickMs. When it ends a silence that was reported,
  // true with how long it lasted.
  bool NoteLine(std::uint64_t tickMs, std::uint64_t* silenceMs);
  // Writer. One detection line handled at tickMs, with what became of it.
  void NoteRead(std::uint64_t tickMs, int recorded, int ignored, int invalid);
  // Writer. Nothing came for limitMs or more (0: never silent): kRaised once per silence, with
  // the time since the last line.
  AlarmChange CheckSilence(std::uint64_t nowTickMs, std::uint64_t limitMs,
                           std::uint64_t* silentForMs);
  // Writer. The box reported its clock offsetMs from the PC's. kRaised when the offset goes
  // beyond limitMs (0: no alarm) and was not already, kCleared when it comes back within.
  AlarmChange NoteClockOffset(std::int64_t offsetMs, std::int64_t limitMs);
  // Writer (main thread while no reading thread runs): another box now sits in the slot.
  void Reset();

  // Any thread. silenceLimitMs: 0 never shows a silence.
  Figures Take(std::uint64_t nowTickMs, std::uint64_t silenceLimitMs) const;

 private:
  // One bucket per second: the second (tick / 1000) in the high bits, the count in the low.
  static constexpr int kBuckets = kRateSeconds + 1;
  static constexpr int kCountBits = 24;
  static constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;

  std::array<std::atomic<std::uint64_t>, kBuckets> m_buckets{};
  std::atomic<bool> m_everConnected{false};
  std::atomic<bool> m_connected{false};
  std::atomic<std::int64_t> m_recorded{0};
  std::atomic<std::int64_t> m_ignored{0};
  std::atomic<std::int64_t> m_invalid{0};
  // Ticks plus one: 0 stands for none (no read yet; no line on this connection yet).
  std::atomic<std::uint64_t> m_lastReadTick{0};
  std::atomic<std::uint64_t> m_lastLineTick{0};
  std::atomic<bool> m_silenceReported{false};
  std::atomic<int> m_reconnections{0};
  std::atomic<bool> m_offsetKnown{false};
  std::atomic<std::int64_t> m_clockOffsetMs{0};
  std::atomic<bool> m_clockAlarm{false};
};

// The offset of a box clock time of day to the PC's, both in milliseconds since midnight, in
// -12 h .. +12 h (a box a little past midnight while the PC is not yet is ahead, not 24 h
// behind).
std::int64_t TimeOfDayOffsetMs(std::int64_t boxMs, std::int64_t pcMs);

// "+2.003 s" / "-0.120 s": a signed offset in seconds with milliseconds.
std::string OffsetText(std::int64_t offsetMs);

}  // namespace lapora
