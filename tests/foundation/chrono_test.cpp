#include "foundation/chrono.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <random>
#include <string>

#include "foundation/clock.h"

namespace lapora {

void PrintTo(const CChrono& value, std::ostream* os) {
  *os << "CChrono(" << value.Seconds() << ", " << value.Millis() << ")";
}

namespace {

// Reference instants in Europe/Paris (CET/CEST).
constexpr std::time_t k20120513_102345 = 1336897425;  // Sunday, CEST
constexpr std::time_t k20120513_000000 = 1336860000;  // local midnight
constexpr std::time_t k20120501_000000 = 1335823200;  // Tuesday
constexpr std::time_t k20120229_080509 = 1330499109;  // Wednesday, CET
constexpr std::time_t k20120815_060708 = 1345003628;  // Wednesday
constexpr std::time_t k20121231_235959 = 1356994799;  // Monday
constexpr std::time_t k20120324_233000 = 1332628200;  // CET, the evening before summer time
constexpr std::time_t k20120325_010000 = 1332633600;  // CET, before the change at 02:00
constexpr std::time_t k20120325_120000 = 1332669600;  // CEST, after the change
constexpr std::time_t k20121028_120000 = 1351422000;  // CET, after the change back
constexpr std::time_t k20120326_003000 = 1332714600;  // CEST, the night after the change
constexpr std::time_t k20121027_233000 = 1351373400;  // CEST, the evening before winter time
constexpr std::time_t k20121028_003000 = 1351377000;  // CEST, before the change at 03:00
constexpr std::time_t k20121028_233000 = 1351463400;  // CET, the evening after the change
constexpr std::time_t k20120301_120000 = 1330599600;

const CChrono kSentinel(777, 7);

class ChronoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) {
      m_oldTz = tz;
    }
    ASSERT_EQ(setenv("TZ", "Europe/Paris", 1), 0);
    tzset();
  }
  void TearDown() override {
    if (m_oldTz) {
      setenv("TZ", m_oldTz->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> m_oldTz;
};

TEST_F(ChronoTest, ConstructionStoresRawFieldsAndKindsReadTheClock) {
  EXPECT_FALSE(CChrono().IsSet());
  EXPECT_EQ(CChrono(), CChrono(0, 0));

  CChrono delay(0, 2500);  // raw: no normalisation
  EXPECT_EQ(delay.Seconds(), 0);
  EXPECT_EQ(delay.Millis(), 2500);
  EXPECT_TRUE(delay.IsSet());
  EXPECT_TRUE(CChrono(0, 1).IsSet());
  EXPECT_TRUE(CChrono(-1, 0).IsSet());

  ManualClock clock(static_cast<std::int64_t>(k20120513_102345) * 1000 + 120);
  EXPECT_EQ(CChrono(kChronoUnset, clock), CChrono());
  EXPECT_EQ(CChrono(kChronoNow, clock), CChrono(k20120513_102345, 120));
  EXPECT_EQ(CChrono(kChronoNowTimeOfDay, clock), CChrono(10 * 3600 + 23 * 60 + 45, 120));
  EXPECT_EQ(CChrono(7, clock), CChrono());

  CChrono copy(kSentinel);
  EXPECT_EQ(copy, kSentinel);
  copy.Clear();
  EXPECT_FALSE(copy.IsSet());
}

TEST_F(ChronoTest, SetNowSplitsUnixMillisecondsRoundingDown) {
  CChrono value;
  value.SetNow(static_cast<std::int64_t>(k20120513_102345) * 1000 + 999);
  EXPECT_EQ(value, CChrono(k20120513_102345, 999));
  value.SetNow(-1);  // just before the epoch
  EXPECT_EQ(value, CChrono(-1, 999));

  // Summer time is taken into account for the time of day.
  value.SetNowTimeOfDay(static_cast<std::int64_t>(k20120325_120000) * 1000 + 5);
  EXPECT_EQ(value, CChrono(12 * 3600, 5));
  value.SetNowTimeOfDay(static_cast<std::int64_t>(k20120325_010000) * 1000);
  EXPECT_EQ(value, CChrono(3600, 0));
}

TEST_F(ChronoTest, SystemClockKindsAreWithinTheSurroundingReadings) {
  // Read through the same clock: time() may lag the precise clock by a fraction of a second.
  std::time_t before = SystemClock().NowUnix();
  CChrono now(kChronoNow);
  std::time_t after = SystemClock().NowUnix();
  EXPECT_GE(now.Seconds(), before);
  EXPECT_LE(now.Seconds(), after);
  EXPECT_LT(now.Millis(), 1000);

  CChrono timeOfDay(kChronoNowTimeOfDay);
  EXPECT_GE(timeOfDay.Seconds(), 0);
  EXPECT_LT(timeOfDay.Seconds(), 86400);
}

TEST_F(ChronoTest, ToTimeOfDayKeepsTheLocalClockTimeAndMilliseconds) {
  CChrono value(k20120513_102345, 120);
  value.ToTimeOfDay();
  EXPECT_EQ(value, CChrono(37425, 120));

  CChrono winter(k20120229_080509, 0);
  winter.ToTimeOfDay();
  EXPECT_EQ(winter, CChrono(8 * 3600 + 5 * 60 + 9, 0));

  // Local midnight becomes 00:00:00.000, which is the unset value.
  CChrono midnight(k20120513_000000, 0);
  midnight.ToTimeOfDay();
  EXPECT_FALSE(midnight.IsSet());
}

TEST_F(ChronoTest, ToAbsoluteTodayAddsLocalMidnight) {
  CChrono value(37425, 120);
  value.ToAbsoluteToday(k20120513_102345);
  EXPECT_EQ(value, CChrono(k20120513_102345, 120));

  // Past 24 h the value lands on the next day.
  CChrono nextDay(86400 + 37425, 0);
  nextDay.ToAbsoluteToday(k20120513_102345);
  EXPECT_EQ(nextDay.Seconds(), k20120513_102345 + 86400);

  // On the days the clocks change, midnight carries the current daylight-saving flag, so the
  // current time of day maps back onto the current instant.
  CChrono spring(12 * 3600, 0);
  spring.ToAbsoluteToday(k20120325_120000);
  EXPECT_EQ(spring.Seconds(), k20120325_120000);
  CChrono autumn(12 * 3600, 0);
  autumn.ToAbsoluteToday(k20121028_120000);
  EXPECT_EQ(autumn.Seconds(), k20121028_120000);
  CChrono early(3600, 0);
  early.ToAbsoluteToday(k20120325_010000);
  EXPECT_EQ(early.Seconds(), k20120325_010000);
}

TEST_F(ChronoTest, OrderingPutsUnsetAfterEverySetValue) {
  struct Row {
    CChrono a;
    CChrono b;
    bool less;
    bool lessEqual;
    bool greater;
    bool equal;
  };
  const CChrono unset;
  const Row rows[] = {
      {CChrono(10, 0), CChrono(20, 0), true, true, false, false},
      {CChrono(20, 0), CChrono(10, 0), false, false, true, false},
      {CChrono(10, 500), CChrono(10, 600), true, true, false, false},
      {CChrono(10, 600), CChrono(10, 500), false, false, true, false},
      {CChrono(10, 999), CChrono(11, 0), true, true, false, false},
      {CChrono(10, 500), CChrono(10, 500), false, true, false, true},
      {CChrono(10, 0), unset, true, true, false, false},
      {unset, CChrono(10, 0), false, false, true, false},
      {unset, unset, false, true, false, true},
      {CChrono(-5, 0), unset, true, true, false, false},
      {unset, CChrono(-5, 0), false, false, true, false},
      {CChrono(-5, 0), CChrono(3, 0), true, true, false, false},
      {CChrono(0, 1), unset, true, true, false, false},
      {CChrono(0, 1), CChrono(0, 2), true, true, false, false},
      {CChrono(0, 1000), CChrono(1, 0), true, true, false, false},  // raw fields compared
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.a) + " vs " + ::testing::PrintToString(row.b));
    EXPECT_EQ(row.a < row.b, row.less);
    EXPECT_EQ(row.a <= row.b, row.lessEqual);
    EXPECT_EQ(row.a > row.b, row.greater);
    EXPECT_EQ(row.a == row.b, row.equal);
    EXPECT_EQ(row.a != row.b, !row.equal);
  }
}

TEST_F(ChronoTest, DifferenceBorrowsOnceFromTheSeconds) {
  struct Row {
    CChrono a;
    CChrono b;
    CChrono expected;
  };
  const Row rows[] = {
      {CChrono(36000, 200), CChrono(35999, 900), CChrono(0, 300)},
      {CChrono(36000, 500), CChrono(36000, 500), CChrono(0, 0)},
      {CChrono(37425, 120), CChrono(0, 0), CChrono(37425, 120)},
      // Negative differences: whole seconds down, milliseconds stay positive.
      {CChrono(35999, 900), CChrono(36000, 200), CChrono(-1, 700)},
      {CChrono(100, 0), CChrono(3700, 0), CChrono(-3600, 0)},
      {CChrono(0, 0), CChrono(0, 1), CChrono(-1, 999)},
      {CChrono(0, 0), CChrono(37425, 120), CChrono(-37426, 880)},
      // Raw milliseconds are not normalised.
      {CChrono(5, 1500), CChrono(1, 200), CChrono(4, 1300)},
      {CChrono(k20120513_102345, 120), CChrono(k20120513_000000, 0), CChrono(37425, 120)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.a) + " - " + ::testing::PrintToString(row.b));
    EXPECT_EQ(row.a - row.b, row.expected);
  }
}

TEST_F(ChronoTest, SumCarriesOnceIntoTheSeconds) {
  struct Row {
    CChrono a;
    CChrono b;
    CChrono expected;
  };
  const Row rows[] = {
      {CChrono(0, 600), CChrono(0, 700), CChrono(1, 300)},
      {CChrono(10, 999), CChrono(0, 1), CChrono(11, 0)},
      {CChrono(36000, 0), CChrono(0, 250), CChrono(36000, 250)},
      {CChrono(0, 1500), CChrono(0, 600), CChrono(1, 1100)},  // 2100 ms: one carry only
      {CChrono(0, 1000), CChrono(0, 1000), CChrono(1, 1000)},
      {CChrono(-1, 700), CChrono(0, 300), CChrono(0, 0)},
      {CChrono(86399, 500), CChrono(0, 500), CChrono(86400, 0)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.a) + " + " + ::testing::PrintToString(row.b));
    EXPECT_EQ(row.a + row.b, row.expected);
  }
}

struct TimeRow {
  const char* text;
  bool ok;
  std::int32_t seconds;
  std::uint16_t millis;
};

TEST_F(ChronoTest, ParseTimeHundredthsTable) {
  const TimeRow rows[] = {
      {"10:23:45.12", true, 37425, 120},
      {"10:00:05.5", true, 36005, 50},  // the fraction counts hundredths
      {"10:00:00.5", true, 36000, 50},
      {"10:23:45.99", true, 37425, 990},
      {"10:23:45.150", true, 37425, 1500},  // no carry
      {"10.23.45.12", true, 37425, 120},
      {"12:34:56", true, 45296, 0},
      {"12.34.56", true, 45296, 0},
      {"10:23:45.", true, 37425, 0},  // fraction missing: the three-field form
      {"1:75:00", true, 3600 + 75 * 60, 0},
      {"26:03:00.00", true, 93780, 0},
      {"0:0:0", true, 0, 0},
      {"  10:23:45.12", true, 37425, 120},
      {"10:23:45.12 trailing text", true, 37425, 120},
      {"10:23:45.12abc", true, 37425, 120},
      {"12: 34: 56", true, 45296, 0},  // each number skips its leading blanks
      {"+10:-1:+5.3", true, 36000 - 60 + 5, 30},
      {"-1:00:00.00", true, -3600, 0},
      {"596523:00:00", true, 596523 * 3600, 0},
      {"12:34", false, 0, 0},
      {"12.34", false, 0, 0},
      {"12 :34:56", false, 0, 0},
      {"10.23:45.1", false, 0, 0},
      {"", false, 0, 0},
      {"abc", false, 0, 0},
      {"x10:23:45.12", false, 0, 0},
      {"596524:00:00", false, 0, 0},          // beyond the 32-bit seconds
      {"99999999999:00:00.00", false, 0, 0},  // beyond any field width
  };
  for (const TimeRow& row : rows) {
    SCOPED_TRACE(row.text);
    CChrono value = kSentinel;
    ASSERT_EQ(value.ParseTimeHundredths(row.text), row.ok);
    EXPECT_EQ(value, row.ok ? CChrono(row.seconds, row.millis) : kSentinel);
  }
}

TEST_F(ChronoTest, ParseTimeMillisTable) {
  const TimeRow rows[] = {
      {"10:23:45.120", true, 37425, 120},
      {"10:00:00.5", true, 36000, 5},  // the fraction counts milliseconds
      {"10.23.45.120", true, 37425, 120},
      {"10:59:59.1500", true, 39600, 500},
      {"23:59:59.999", true, 86399, 999},
      {"23:59:59.1000", true, 86400, 0},
      {"0:0:125.0", true, 125, 0},
      {"0:90:00.0", true, 5400, 0},
      {"0:0:0.65535", true, 65, 535},
      {"0:0:0.65536", true, 0, 0},  // kept to 16 bits
      {"10:00:-1.2000", true, 36001, 0},
      {"30:00:00.0 after", true, 108000, 0},
      {" 1:2:3.4", true, 3723, 4},
      {"12:34:56", false, 0, 0},  // the three-field forms are not accepted here
      {"12.34.56", false, 0, 0},
      {"12:34", false, 0, 0},
      {"", false, 0, 0},
      {"596524:00:00.0", false, 0, 0},
  };
  for (const TimeRow& row : rows) {
    SCOPED_TRACE(row.text);
    CChrono value = kSentinel;
    ASSERT_EQ(value.ParseTimeMillis(row.text), row.ok);
    EXPECT_EQ(value, row.ok ? CChrono(row.seconds, row.millis) : kSentinel);
  }
}

struct DateTimeRow {
  const char* date;
  const char* time;
  bool ok;
  std::int64_t seconds;
  std::uint16_t millis;
};

TEST_F(ChronoTest, ParseBoxDateTimeTable) {
  const DateTimeRow rows[] = {
      {"20120513", "10:23:45.120", true, k20120513_102345, 120},
      {"20120513", "10:23:45.12", true, k20120513_102345, 12},  // fraction as written
      {"20120513", "10:23:45.5", true, k20120513_102345, 5},
      {"20120513", "10:23:45.1500", true, k20120513_102345, 1500},  // no carry
      {"20120513", "102345.12", true, k20120513_102345, 12},
      {"20120513", "102345.120", true, k20120513_102345, 120},
      {"20120513", "1:2:3.4", true, k20120513_000000 + 3723, 4},
      {"20120513", "000000.0", true, k20120513_000000, 0},
      {" 20120513 trailing", "10:23:45.120 trailing", true, k20120513_102345, 120},
      {"20120229", "08:05:09.0", true, k20120229_080509, 0},
      {"20120431", "12:00:00.0", true, k20120501_000000 + 43200, 0},  // into 1 May
      {"20121231", "23:59:59.0", true, k20121231_235959, 0},
      {"20380119", "04:14:07.0", true, 2147483647, 0},
      {"20380119", "04:14:08.0", false, 0, 0},  // past the 32-bit seconds
      {"20120513", "102345", false, 0, 0},      // fraction missing
      {"20120513", "10:23:45", false, 0, 0},
      {"20120513", "1023456.7", false, 0, 0},  // two digits per field
      {"20120513", "", false, 0, 0},
      {"20120513", "24:00:00.0", false, 0, 0},
      {"20120513", "23:60:00.0", false, 0, 0},
      {"20120513", "23:59:60.0", false, 0, 0},
      {"20120513", "-1:00:00.0", false, 0, 0},
      {"20120513", "10:-5:00.0", false, 0, 0},
      {"20121313", "10:00:00.0", false, 0, 0},
      {"20120013", "10:00:00.0", false, 0, 0},
      {"20120500", "10:00:00.0", false, 0, 0},
      {"20120532", "10:00:00.0", false, 0, 0},
      {"18991231", "10:00:00.0", false, 0, 0},
      {"2012513", "10:00:00.0", false, 0, 0},  // read as 2012, 51, 3
      {"2012-05-13", "10:00:00.0", false, 0, 0},
      {"201205", "10:00:00.0", false, 0, 0},
      {"", "10:00:00.0", false, 0, 0},
  };
  for (const DateTimeRow& row : rows) {
    SCOPED_TRACE(std::string(row.date) + " " + row.time);
    CChrono value = kSentinel;
    ASSERT_EQ(value.ParseBoxDateTime(row.date, row.time), row.ok);
    EXPECT_EQ(value,
              row.ok ? CChrono(static_cast<std::int32_t>(row.seconds), row.millis) : kSentinel);
  }
}

// Box times of every shape, read as sscanf reads them: the usual shape has a fast path of its
// own, which must agree with "%ld:%ld:%ld.%ld" (then "%2d%2d%2d.%d") on any text.
TEST_F(ChronoTest, ParseBoxDateTimeReadsLikeScanf) {
  std::mt19937 random(20261209);
  int accepted = 0;
  const std::string alphabet = "0123456789012345678901234567890123456789::::....  -+x";
  for (int n = 0; n < 20000; ++n) {
    std::string time;
    if (n % 2 == 0) {
      // Near the usual shape: fields of one to three digits, one character changed at times.
      for (int field = 0; field < 4; ++field) {
        time += std::to_string(random() % (field == 0 ? 30 : 100));
        if (field < 3) {
          time.push_back(field < 2 ? ':' : '.');
        }
      }
      if (random() % 3 == 0) {
        time[random() % time.size()] = alphabet[random() % alphabet.size()];
      }
    } else {
      std::size_t length = 1 + random() % 16;
      for (std::size_t i = 0; i < length; ++i) {
        time.push_back(alphabet[random() % alphabet.size()]);
      }
    }
    long h = 0;
    long m = 0;
    long sec = 0;
    long fraction = 0;
    bool scanned = std::sscanf(time.c_str(), "%ld:%ld:%ld.%ld", &h, &m, &sec, &fraction) == 4;
    if (!scanned) {
      int hh = 0;
      int mm = 0;
      int ss = 0;
      int ff = 0;
      scanned = std::sscanf(time.c_str(), "%2d%2d%2d.%d", &hh, &mm, &ss, &ff) == 4;
      h = hh;
      m = mm;
      sec = ss;
      fraction = ff;
    }
    bool expectOk = scanned && h >= 0 && h <= 23 && m >= 0 && m <= 59 && sec >= 0 && sec <= 59;
    SCOPED_TRACE("time \"" + time + "\"");
    CChrono value = kSentinel;
    ASSERT_EQ(value.ParseBoxDateTime("20120513", time), expectOk);
    if (expectOk) {
      ++accepted;
      EXPECT_EQ(value.Seconds(), k20120513_000000 + h * 3600 + m * 60 + sec);
      EXPECT_EQ(value.Millis(), static_cast<std::uint16_t>(static_cast<unsigned long>(fraction)));
    }
  }
  EXPECT_GT(accepted, 2000);  // the texts do include valid times
}

TEST_F(ChronoTest, ParseDateTimeTable) {
  struct Row {
    const char* date;
    const char* time;
    int hundredths;
    bool ok;
    std::int64_t seconds;
    std::uint16_t millis;
  };
  const Row rows[] = {
      {"20120513", "102345", 12, true, k20120513_102345, 120},
      {"20120513", "102345", 0, true, k20120513_102345, 0},
      {"20120513", "102345", 99, true, k20120513_102345, 990},
      {"20120513", "1234567", 0, true, k20120513_000000 + 45296, 0},  // extra digit ignored
      {"20120815", "060708", 50, true, k20120815_060708, 500},
      {"19700101", "005959", 50, true, -1, 500},
      {"19700101", "010000", 0, true, 0, 0},  // the epoch: succeeds, and is unset
      {"20120513", "1023", 0, false, 0, 0},
      {"20120513", "10:23:45", 0, false, 0, 0},
      {"20120513", "240000", 0, false, 0, 0},
      {"20120513", "106000", 0, false, 0, 0},
      {"20120513", "105960", 0, false, 0, 0},
      {"20121301", "100000", 0, false, 0, 0},
      {"18991231", "100000", 0, false, 0, 0},
      {"20120532", "100000", 0, false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.date) + " " + row.time);
    CChrono value = kSentinel;
    ASSERT_EQ(value.ParseDateTime(row.date, row.time, row.hundredths), row.ok);
    EXPECT_EQ(value,
              row.ok ? CChrono(static_cast<std::int32_t>(row.seconds), row.millis) : kSentinel);
  }
}

struct FormatRow {
  CChrono value;
  const char* expected;
};

void ExpectFormats(const FormatRow* begin, const FormatRow* end,
                   std::string (CChrono::*format)() const) {
  for (const FormatRow* row = begin; row != end; ++row) {
    SCOPED_TRACE(::testing::PrintToString(row->value));
    EXPECT_EQ((row->value.*format)(), row->expected);
  }
}

TEST_F(ChronoTest, FormatHundredthsTable) {
  const FormatRow rows[] = {
      {CChrono(), "00:00:00.00"},           {CChrono(37425, 120), "10:23:45.12"},
      {CChrono(43200, 999), "12:00:00.99"},  // truncated
      {CChrono(93780, 0), "26:03:00.00"},   {CChrono(360000, 0), "100:00:00.00"},
      {CChrono(0, 5), "00:00:00.00"},       {CChrono(0, 1500), "00:00:00.150"},  // raw milliseconds
      {CChrono(-1, 700), "00:00:-1.70"},                                         // -0.3 s
      {CChrono(-3600, 0), "-1:00:00.00"},   {CChrono(-3661, 0), "-1:-1:-1.00"},
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatHundredths);
}

TEST_F(ChronoTest, FormatSecondsTable) {
  const FormatRow rows[] = {
      {CChrono(), "00:00:00"},         {CChrono(43200, 999), "12:00:00"},  // truncated
      {CChrono(93780, 0), "26:03:00"}, {CChrono(59, 1), "00:00:59"},
      {CChrono(-1, 700), "00:00:-1"},  {CChrono(-3661, 0), "-1:-1:-1"},
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatSeconds);
}

TEST_F(ChronoTest, FormatSecondsRoundedUpTable) {
  const FormatRow rows[] = {
      {CChrono(), "00:00:00"},           {CChrono(43200, 0), "12:00:00"},
      {CChrono(43200, 1), "12:00:01"},   {CChrono(0, 400), "00:00:01"},
      {CChrono(59, 1), "00:01:00"},      {CChrono(3599, 500), "01:00:00"},
      {CChrono(86399, 500), "24:00:00"}, {CChrono(93780, 0), "26:03:00"},
      {CChrono(-1, 700), "00:00:00"},    {CChrono(-61, 500), "00:-1:00"},
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatSecondsRoundedUp);
}

TEST_F(ChronoTest, FormatWithDaysTable) {
  const FormatRow rows[] = {
      {CChrono(), "00:00:00"},
      {CChrono(37425, 120), "10:23:46"},
      {CChrono(86399, 0), "23:59:59"},
      {CChrono(86400, 0), "+24h 00:00:00"},
      {CChrono(86399, 500), "+24h 00:00:00"},  // rounded up first
      {CChrono(93784, 0), "+24h 02:03:04"},
      {CChrono(176400, 1), "+48h 01:00:01"},
      {CChrono(3 * 86400 + 3599, 999), "+72h 01:00:00"},
      {CChrono(-90000, 0), "+-24h -1:00:00"},
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatWithDays);
}

TEST_F(ChronoTest, FormatCompactTable) {
  const FormatRow rows[] = {
      {CChrono(), ""},
      {CChrono(307, 0), "507"},
      {CChrono(0, 400), "1"},
      {CChrono(37425, 0), "102345"},
      {CChrono(37424, 1), "102345"},
      {CChrono(36000, 0), "100000"},
      {CChrono(3600, 0), "10000"},
      {CChrono(60, 0), "100"},
      {CChrono(93784, 0), "260304"},
      {CChrono(-1, 700), ""},
      {CChrono(-307, 0), "-5-7"},
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatCompact);
}

TEST_F(ChronoTest, FormatClockHundredthsTable) {
  const FormatRow rows[] = {
      {CChrono(), "00:00:00.00"},
      {CChrono(k20120513_102345, 120), "10:23:45.12"},
      {CChrono(k20120513_102345, 999), "10:23:45.99"},
      {CChrono(k20121231_235959, 0), "23:59:59.00"},
      {CChrono(k20120229_080509, 50), "08:05:09.05"},
      {CChrono(0, 500), "01:00:00.50"},
      {CChrono(-1, 0), "00:59:59.00"},
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatClockHundredths);
}

TEST_F(ChronoTest, FormatLongDateTable) {
  const FormatRow rows[] = {
      {CChrono(k20120513_102345, 0), "Dim 13 Mai 2012"},
      {CChrono(k20120501_000000, 0), "Mar 01 Mai 2012"},
      {CChrono(k20120229_080509, 0), "Mer 29 F\xE9vrier 2012"},
      {CChrono(k20120815_060708, 0), "Mer 15 Ao\xFBt 2012"},
      {CChrono(k20121231_235959, 0),
       "Lun 31 D\xE9"
       "cembre 2012"},
      {CChrono(), "Jeu 01 Janvier 1970"},  // no special case for unset
  };
  ExpectFormats(std::begin(rows), std::end(rows), &CChrono::FormatLongDate);

  const char* const weekdays[] = {"Dim", "Lun", "Mar", "Mer", "Jeu", "Ven", "Sam"};
  for (int day = 0; day < 7; ++day) {
    CChrono value(static_cast<std::int32_t>(k20120513_102345 + day * 86400), 0);
    EXPECT_EQ(value.FormatLongDate(),
              std::string(weekdays[day]) + " " + std::to_string(13 + day) + " Mai 2012");
  }
  // The 15th of every month of 2012 at noon.
  const std::time_t fifteenths[12] = {1326625200, 1329303600, 1331809200, 1334484000,
                                      1337076000, 1339754400, 1342346400, 1345024800,
                                      1347703200, 1350295200, 1352977200, 1355569200};
  const char* const months[12] = {"Dim 15 Janvier 2012",
                                  "Mer 15 F\xE9vrier 2012",
                                  "Jeu 15 Mars 2012",
                                  "Dim 15 Avril 2012",
                                  "Mar 15 Mai 2012",
                                  "Ven 15 Juin 2012",
                                  "Dim 15 Juillet 2012",
                                  "Mer 15 Ao\xFBt 2012",
                                  "Sam 15 Septembre 2012",
                                  "Lun 15 Octobre 2012",
                                  "Jeu 15 Novembre 2012",
                                  "Sam 15 D\xE9"
                                  "cembre 2012"};
  for (int month = 0; month < 12; ++month) {
    EXPECT_EQ(CChrono(static_cast<std::int32_t>(fifteenths[month]), 0).FormatLongDate(),
              months[month]);
  }
}

TEST_F(ChronoTest, TodayAndNowCompactTexts) {
  EXPECT_EQ(TodayCompact(k20120513_102345), "20120513");
  EXPECT_EQ(TodayCompact(k20120513_000000), "20120513");
  EXPECT_EQ(TodayCompact(k20120513_000000 - 1), "20120512");  // local, not UTC
  EXPECT_EQ(NowCompactTime(k20120513_102345), "102345");
  EXPECT_EQ(NowCompactTime(k20120513_000000), "000000");
  EXPECT_EQ(NowCompactTime(k20120229_080509), "080509");
  EXPECT_EQ(TodayCompact().size(), 8u);
  EXPECT_EQ(NowCompactTime().size(), 6u);
}

TEST_F(ChronoTest, DateFromTodayTable) {
  struct Row {
    int days;
    std::time_t now;
    const char* expected;
  };
  const Row rows[] = {
      {0, k20120513_102345, "20120513"},
      {1, k20120513_102345, "20120514"},
      {-1, k20120513_102345, "20120512"},
      {-13, k20120513_102345, "20120430"},
      {19, k20120513_102345, "20120601"},
      {-133, k20120513_102345, "20120101"},
      {-134, k20120513_102345, "20111231"},
      {-1, k20120301_120000, "20120229"},
      {365, k20120301_120000, "20130301"},
      // Counted on the calendar, near midnight on both clock-change nights of 2012 (spring:
      // 25 March, a 23-hour day; autumn: 28 October, a 25-hour day), both ways.
      {1, k20120324_233000, "20120325"},
      {2, k20120324_233000, "20120326"},
      {-1, k20120326_003000, "20120325"},
      {-2, k20120326_003000, "20120324"},
      {1, k20121028_003000, "20121029"},
      {-1, k20121028_233000, "20121027"},
      {1, k20121027_233000, "20121028"},
      {2, k20121027_233000, "20121029"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.days);
    EXPECT_EQ(DateFromToday(row.days, row.now), row.expected);
  }
  EXPECT_EQ(DateFromToday(-1).size(), 8u);
}

TEST_F(ChronoTest, DashedDateToCompactTable) {
  struct Row {
    const char* text;
    const char* expected;  // nullptr: fails
  };
  const Row rows[] = {
      {"2012-05-13", "20120513"}, {"2012-5-3", "20120503"},
      {"2012 5 3", "20120503"},   {" 2012-05-13T10:00", "20120513"},  // trailing text ignored
      {"12-5-3", "00120503"},     {"20120513", nullptr},              // one number only
      {"2012-05", nullptr},       {"", nullptr},
      {"abc", nullptr},           {"2012/05/13", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::string out = "unchanged";
    ASSERT_EQ(DashedDateToCompact(row.text, out), row.expected != nullptr);
    EXPECT_EQ(out, row.expected ? row.expected : "unchanged");
  }
}

}  // namespace
}  // namespace lapora
