// The detections the results software still has to get, as runs of consecutive record ids in
// the order they were offered: a cursor into the recorded detections, not a copy of them, so an
// outage of any length costs a few bytes per interruption of the id sequence. Not thread-safe:
// the results link guards it with its own mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace lapora {

// True when record id a was given before id b (ids count up and wrap; a run of records spans
// far less than half the id range).
bool RecordIdBefore(std::int32_t a, std::int32_t b);

// Ids first..last, each the NextRecordId of the one before; count of them.
struct RecordIdRun {
  std::int32_t first = 0;
  std::int32_t last = 0;
  std::size_t count = 0;

  bool operator==(const RecordIdRun&) const = default;
};

class CDetectionBacklog {
 public:
  // Adds an offered id at the end (extending the last run when it follows it). False, with
  // nothing added, for an id forgotten by ForgetUpTo.
  bool Push(std::int32_t id);
  // Puts a run back in front, ahead of everything kept (joined to the first run when it is
  // followed by it).
  void PushFront(const RecordIdRun& run);
  // Takes at most maxIds of the first run (all of it when it is shorter). Empty run (count 0)
  // when nothing is kept.
  RecordIdRun TakeFront(std::size_t maxIds);
  // Drops every id given up to `id` included, and refuses such ids from now on (the records
  // they named were cleared).
  void ForgetUpTo(std::int32_t id);
  void Clear();

  bool Empty() const { return m_runs.empty(); }
  std::size_t Count() const { return m_count; }
  const std::deque<RecordIdRun>& Runs() const { return m_runs; }

 private:
  std::deque<RecordIdRun> m_runs;
  std::size_t m_count = 0;
  bool m_forgetting = false;
  std::int32_t m_forgottenUpTo = 0;
};

}  // namespace lapora
