// The backlog of detections the results software still has to get: runs of record ids in the
// order offered, taken in slices, put back in front, and cut where the records were cleared.
#include "resultslink/detection_backlog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "detections/recorded_detections.h"

namespace lapora {
namespace {

using Runs = std::vector<RecordIdRun>;

Runs RunsOf(const CDetectionBacklog& backlog) {
  return Runs(backlog.Runs().begin(), backlog.Runs().end());
}

// Every id the backlog hands out, slice by slice.
std::vector<std::int32_t> Drain(CDetectionBacklog& backlog, std::size_t slice) {
  std::vector<std::int32_t> ids;
  for (RecordIdRun run = backlog.TakeFront(slice); run.count > 0; run = backlog.TakeFront(slice)) {
    EXPECT_LE(run.count, slice);
    std::int32_t id = run.first;
    for (std::size_t i = 0; i < run.count; ++i) {
      ids.push_back(id);
      id = NextRecordId(id);
    }
    EXPECT_EQ(ids.back(), run.last);
  }
  EXPECT_EQ(backlog.Count(), 0u);
  return ids;
}

TEST(DetectionBacklogTest, ConsecutiveIdsMakeOneRunAndAGapStartsAnother) {
  CDetectionBacklog backlog;
  for (std::int32_t id : {5, 6, 7, 9, 10, 8}) {
    EXPECT_TRUE(backlog.Push(id));
  }
  // 8 came late (another recording thread): it follows 10 in offer order.
  EXPECT_EQ(RunsOf(backlog), (Runs{{5, 7, 3}, {9, 10, 2}, {8, 8, 1}}));
  EXPECT_EQ(backlog.Count(), 6u);
  EXPECT_EQ(Drain(backlog, 2), (std::vector<std::int32_t>{5, 6, 7, 9, 10, 8}));
}

TEST(DetectionBacklogTest, WhatIsPutBackGoesFirstAndJoinsTheRunItPrecedes) {
  CDetectionBacklog backlog;
  for (std::int32_t id = 1; id <= 10; ++id) {
    backlog.Push(id);
  }
  RecordIdRun first = backlog.TakeFront(4);
  EXPECT_EQ(first, (RecordIdRun{1, 4, 4}));
  RecordIdRun second = backlog.TakeFront(4);
  // The connection ended before they went out: back in front, in their order.
  backlog.PushFront(second);
  backlog.PushFront(first);
  EXPECT_EQ(RunsOf(backlog), (Runs{{1, 10, 10}}));
  // Single requests put back one by one, newest first, as at the end of a connection.
  CDetectionBacklog requeued;
  requeued.Push(20);
  for (std::int32_t id : {14, 12, 11}) {
    requeued.PushFront({id, id, 1});
  }
  EXPECT_EQ(RunsOf(requeued), (Runs{{11, 12, 2}, {14, 14, 1}, {20, 20, 1}}));
  EXPECT_EQ(requeued.Count(), 4u);
}

TEST(DetectionBacklogTest, ClearedRecordsAreDroppedAndRefusedAfterwards) {
  CDetectionBacklog backlog;
  for (std::int32_t id = 3; id <= 12; ++id) {
    backlog.Push(id);
  }
  // A reset cleared the records up to 8 while 3..12 waited: 9..12 stay.
  backlog.ForgetUpTo(8);
  EXPECT_EQ(RunsOf(backlog), (Runs{{9, 12, 4}}));
  EXPECT_EQ(backlog.Count(), 4u);
  // A record of before the reset offered late (its line was still on its way to the file).
  EXPECT_FALSE(backlog.Push(7));
  EXPECT_TRUE(backlog.Push(13));
  EXPECT_EQ(RunsOf(backlog), (Runs{{9, 13, 5}}));
  backlog.ForgetUpTo(20);
  EXPECT_TRUE(backlog.Empty());
  EXPECT_EQ(backlog.Count(), 0u);
}

}  // namespace
}  // namespace lapora
