// The box protocol: commands written to a box (SendCommand and the builders of their
// parameters), the classification of the lines a box sends (ClassifyBoxLine, BoxMessageKind)
// and what is done with each kind (HandleBoxMessage). SendCommand may run on any thread (the
// sequence counter is atomic); ClassifyBoxLine is pure apart from logging; HandleBoxMessage
// runs on the box's reading thread. The quiet counters are shared by every box.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "foundation/chrono.h"

namespace lapora {

class COstraBox;
class Logger;
struct BoxThreadCounters;

// What a received line is, by its keyword (compared without regard to letter case).
enum class BoxMessageKind {
  kNone,
  kEpc,
  kHeartBeat,
  kGunStartTime,
  kMachineDate,
  kMachineTime,
  kPackDataResult,
  kActiveSystemState,
  kReaderChannel,
  kReaderPower,
  kEpcLastRead,
  kChannelState,
  kReaderOpen,
  kReaderStop,
  kMachineState,
  kChannelsState,
  kSetDate,
  kSetTime,
  kSetGateTime,
  kGetGunTime,
  kGunTime,
  kPackDataSection,
  kRewindData,
  kDeleteData,
  kEpcRewindStart,
  kEpcRewindDone,
};

// The keyword of a kind as the box writes it ("" for kNone).
const char* BoxMessageKeyword(BoxMessageKind kind);

// A box's last packing of detections into a file: packState values.
inline constexpr int kPackStateUnknown = 0;
inline constexpr int kPackStateRunning = 1;
inline constexpr int kPackStateSucceeded = 2;
inline constexpr int kPackStateFailed = 3;

// Counters that thin out the log for reports every box repeats all the time: one per kind,
// shared by all boxes. Thread-safe.
class CBoxQuietCounters {
 public:
  enum Kind { kHeartBeat, kMachineDate, kMachineTime, kMachineState, kChannelsState, kCount };
  // Counts one report; true when it is the one of `period` to show (the counter restarts).
  bool Advance(Kind kind, int period);
  int Value(Kind kind) const { return m_counters[kind].load(); }

 private:
  std::atomic<int> m_counters[kCount] = {};
};

// Writes deviceId@command@sequence@parameter; to the box (no line end). False with the reason
// in errorText when the box is not connected (no sequence number used), the write failed (the
// transport is then closed) or was short.
[[nodiscard]] bool SendCommand(COstraBox& box, const std::string& command,
                               const std::string& parameter, std::string* errorText);

// Trims the line (leading white space; trailing carriage returns, line feeds and blanks),
// splits it into device id, keyword, sequence and payload (the payload's first word, trailing
// ";" removed) and finds its kind. False, logged, when the form or the keyword is unknown; a
// field longer than 255 characters makes the form unknown.
bool ClassifyBoxLine(Logger& log, std::string& line, BoxMessageKind* kind, std::string* deviceId,
                     std::string* keyword, std::string* payload);

// Acts on one classified line for the box's reading thread: logs it at the level of its kind,
// updates the box's pack state and pending flags, or hands a detection to the intake.
// readTickMs is the tick when the line was read; counters are the reading thread's.
void HandleBoxMessage(COstraBox& box, const std::string& logPrefix, BoxMessageKind kind,
                      const std::string& line, const std::string& payload, std::uint64_t readTickMs,
                      BoxThreadCounters& counters);

// Command parameters.
// setDate: today's local date "%d,%d,%d" (year, month, day, no leading zeros).
std::string SetDateParameter(std::time_t now);
// setTime: the clock time with hundredths of the absolute value, ":" and "." written ",".
std::string SetTimeParameter(const CChrono& now);
// setGateTime: "%.1f" seconds.
std::string GateTimeParameter(double seconds);
// packDataSection / rewindData restricted to today: "YYYY-MM-DD_00:00:00.000," + tomorrow in
// the same form.
std::string TodayRangeParameter(std::time_t now);
// An instant as the box writes it, in local time: "YYYY-MM-DD_HH:MM:SS.mmm".
std::string BoxDateTimeText(std::int64_t unixMs);
// The rewindData range asked for after a lost connection: from kReplayLeadMs before the box
// time of the last recorded detection to kReplayTailMs past now (so that a box clock a little
// ahead of the PC's loses nothing); the range of today when nothing was recorded from the box.
inline constexpr std::int64_t kReplayLeadMs = 5000;
inline constexpr std::int64_t kReplayTailMs = 60000;
std::string RecoveryRangeParameter(const CChrono& lastRecorded, std::int64_t nowUnixMs);

}  // namespace lapora
