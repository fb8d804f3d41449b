// The reads one box has delivered during the run (chip and box date-time), so that the replay
// of the box's stored reads asked for after a lost connection records only what the loss kept
// from us; the box time of the box's last recorded detection, where that replay starts; and
// the counts of the replay under way. Not thread-safe: the box's own box thread uses it (the
// main thread only while no box thread runs for that box).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/chrono.h"

namespace lapora {

class CBoxReadHistory {
 public:
  // A read that came through the intake, kept or filtered as a repeat.
  void Remember(const std::string& chip, const CChrono& boxTime);
  // Whether this very read (same chip text, same box date-time) came before. Logarithmic in the
  // reads of that chip.
  bool Contains(const std::string& chip, const CChrono& boxTime) const;
  std::size_t Count() const { return m_count; }

  // The box time of the last detection recorded from the box; unset when none was.
  void NoteRecorded(const CChrono& boxTime) { m_lastRecorded = boxTime; }
  const CChrono& LastRecorded() const { return m_lastRecorded; }

  // Forgets every read and the last recorded time (the slot now names another box).
  void Clear();

  // The replay asked for after a loss: expected once the command is sent, running from the
  // box's start marker to its end marker. Replays the operator asks for are not followed.
  void ExpectReplay() { m_replay = Replay::kExpected; }
  // The start marker: true when it starts the expected replay (its counts start at zero).
  bool BeginReplay();
  bool InReplay() const { return m_replay == Replay::kRunning; }
  // One detection line of the replay; recovered when it was recorded.
  void CountReplayed(bool recovered);
  // The end marker: true, with the counts, when it ends the replay under way.
  bool EndReplay(int* recovered, int* replayed);
  // A new connection: a replay not yet over will not be finished on it.
  void DropReplay() { m_replay = Replay::kNone; }

 private:
  enum class Replay { kNone, kExpected, kRunning };

  static std::int64_t Key(const CChrono& boxTime) {
    // Exact: the milliseconds field is kept as written, whatever its value.
    return static_cast<std::int64_t>(boxTime.Seconds()) * 65536 + boxTime.Millis();
  }

  // Per chip, the keys of its reads in ascending order: a box sends them mostly in time order,
  // so each read is appended, and a look-up is a binary search over one runner's reads.
  std::unordered_map<std::string, std::vector<std::int64_t>> m_keysByChip;
  std::size_t m_count = 0;
  CChrono m_lastRecorded;
  Replay m_replay = Replay::kNone;
  int m_replayed = 0;
  int m_recovered = 0;
};

}  // namespace lapora
