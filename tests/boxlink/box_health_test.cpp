// CBoxHealth on ticks the test chooses: the read rate over the ten whole seconds before the
// current one, the silence reported once per silence, the clock alarm raised once per excursion,
// offsets across midnight; and one writer thread against a reader, for the race detector.
#include "boxlink/box_health.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace lapora {
namespace {

using Change = CBoxHealth::AlarmChange;

TEST(BoxHealthTest, ReadRateCountsTheTenWholeSecondsBeforeTheCurrentOne) {
  CBoxHealth health;
  // Three reads in each of the seconds 0 to 14, and five in second 15 (still filling).
  for (std::uint64_t second = 0; second < 15; ++second) {
    for (int i = 0; i < 3; ++i) {
      health.NoteRead(second * 1000 + static_cast<std::uint64_t>(i) * 100, 1, 0, 0);
    }
  }
  for (int i = 0; i < 5; ++i) {
    health.NoteRead(15000 + static_cast<std::uint64_t>(i), 0, 1, 0);
  }
  EXPECT_DOUBLE_EQ(health.Take(15500, 0).readsPerSecond, 3.0);
  // A second later, second 5 has left the window and second 15 has come in.
  EXPECT_DOUBLE_EQ(health.Take(16000, 0).readsPerSecond, (9 * 3 + 5) / 10.0);
  // Long after, every bucket is stale, even those whose slot was never written again.
  EXPECT_DOUBLE_EQ(health.Take(40000, 0).readsPerSecond, 0.0);

  CBoxHealth::Figures f = health.Take(40000, 0);
  EXPECT_EQ(f.recorded, 45);
  EXPECT_EQ(f.ignored, 5);
  EXPECT_EQ(f.invalid, 0);
  ASSERT_TRUE(f.anyRead);
  EXPECT_EQ(f.lastReadAgeMs, 40000u - 15004u);
}

TEST(BoxHealthTest, SilenceIsReportedOncePerSilenceAndOnlyAfterALine) {
  CBoxHealth health;
  health.NoteConnected(false);
  std::uint64_t quiet = 0;
  // A box that never sent a line is not "silent": it never spoke.
  EXPECT_EQ(health.CheckSilence(100000, 15000, &quiet), Change::kNone);
  EXPECT_FALSE(health.Take(100000, 15000).silent);

  EXPECT_FALSE(health.NoteLine(1000, &quiet));
  EXPECT_EQ(health.CheckSilence(15999, 15000, &quiet), Change::kNone);
  EXPECT_FALSE(health.Take(15999, 15000).silent);
  EXPECT_EQ(health.CheckSilence(16000, 15000, &quiet), Change::kRaised);
  EXPECT_EQ(quiet, 15000u);
  EXPECT_EQ(health.CheckSilence(30000, 15000, &quiet), Change::kNone);  // once
  CBoxHealth::Figures f = health.Take(21000, 15000);
  EXPECT_TRUE(f.silent);
  EXPECT_EQ(f.silentForMs, 20000u);

  // Any line ends it, with how long it lasted; a new silence is reported again.
  ASSERT_TRUE(health.NoteLine(31000, &quiet));
  EXPECT_EQ(quiet, 30000u);
  EXPECT_FALSE(health.NoteLine(31500, &quiet));
  EXPECT_FALSE(health.Take(31500, 15000).silent);
  EXPECT_EQ(health.CheckSilence(46500, 15000, &quiet), Change::kRaised);

  // A limit of 0 never reports; a connection that ended is not silent.
  CBoxHealth off;
  off.NoteConnected(false);
  (void)off.NoteLine(0, &quiet);
  EXPECT_EQ(off.CheckSilence(999999, 0, &quiet), Change::kNone);
  health.NoteDisconnected();
  EXPECT_FALSE(health.Take(999999, 15000).silent);
  EXPECT_EQ(health.CheckSilence(999999, 15000, &quiet), Change::kNone);
}

TEST(BoxHealthTest, ClockAlarmIsRaisedOncePerExcursionBeyondTheLimit) {
  CBoxHealth health;
  EXPECT_FALSE(health.Take(0, 0).offsetKnown);
  struct Step {
    std::int64_t offsetMs;
    std::int64_t limitMs;
    Change expected;
  };
  const Step steps[] = {
      {500, 1000, Change::kNone},    {1000, 1000, Change::kNone},  // the limit itself is within
      {2000, 1000, Change::kRaised}, {2500, 1000, Change::kNone},
      {-1500, 1000, Change::kNone},  // still beyond, on the other side
      {900, 1000, Change::kCleared}, {-1001, 1000, Change::kRaised},
      {-1001, 0, Change::kCleared},  // limit 0: no alarm at all
      {86000, 0, Change::kNone},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(health.NoteClockOffset(step.offsetMs, step.limitMs), step.expected)
        << step.offsetMs << " / " << step.limitMs;
    CBoxHealth::Figures f = health.Take(0, 0);
    EXPECT_TRUE(f.offsetKnown);
    EXPECT_EQ(f.clockOffsetMs, step.offsetMs);
  }
}

TEST(BoxHealthTest, OffsetsOfTimesOfDayAcrossMidnightAndTheirText) {
  constexpr std::int64_t kDay = 86400000;
  EXPECT_EQ(TimeOfDayOffsetMs(36001000, 36000000), 1000);
  EXPECT_EQ(TimeOfDayOffsetMs(36000000, 36002003), -2003);
  // The box just past midnight, the PC not yet: two seconds ahead, not a day behind.
  EXPECT_EQ(TimeOfDayOffsetMs(1000, kDay - 1000), 2000);
  EXPECT_EQ(TimeOfDayOffsetMs(kDay - 1000, 1000), -2000);
  // A PC time of day past 24 h (a long race) changes nothing.
  EXPECT_EQ(TimeOfDayOffsetMs(1000, kDay + 500), 500);

  EXPECT_EQ(OffsetText(2003), "+2.003 s");
  EXPECT_EQ(OffsetText(-120), "-0.120 s");
  EXPECT_EQ(OffsetText(0), "+0.000 s");
}

TEST(BoxHealthTest, OneWriterAndAReaderShareTheFiguresWithoutLocks) {
  CBoxHealth health;
  constexpr int kReads = 50000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    health.NoteConnected(false);
    for (int i = 0; i < kReads; ++i) {
      const auto tick = static_cast<std::uint64_t>(i);
      (void)health.NoteLine(tick, nullptr);
      health.NoteRead(tick, 1, i % 2, 0);
      (void)health.NoteClockOffset(i % 3000, 1000);
    }
    done = true;
  });
  std::int64_t seen = 0;
  while (!done) {
    CBoxHealth::Figures f = health.Take(kReads, 15000);
    EXPECT_GE(f.recorded, seen);  // counts only grow
    seen = f.recorded;
  }
  writer.join();
  CBoxHealth::Figures f = health.Take(kReads, 15000);
  EXPECT_EQ(f.recorded, kReads);
  EXPECT_EQ(f.ignored, kReads / 2);
  // The last ten whole seconds of ticks 0..49999 hold 1000 reads each.
  EXPECT_DOUBLE_EQ(f.readsPerSecond, 1000.0);
}

}  // namespace
}  // namespace lapora
