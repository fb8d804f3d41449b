#include "export/detection_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "detections/recorded_detections.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A work detection as the snapshot would make it.
CWorkResult Work(const std::string& bib, const std::string& time, const std::string& detector,
                 int id = 0) {
  CKolResult record;
  record.bibText = bib;
  record.timeText = time;
  record.detectorLabel = detector;
  record.id = id;
  return CWorkResult::FromRecord(record);
}

CChrono Time(const std::string& text) {
  CChrono time;
  EXPECT_TRUE(time.ParseTimeHundredths(text)) << text;
  return time;
}

std::vector<std::string> Bibs(const CWorkResultList& list) {
  std::vector<std::string> bibs;
  for (const CWorkResult* work : list) {
    bibs.push_back(work->bibText);
  }
  return bibs;
}

std::vector<std::string> Times(const CWorkResultList& list) {
  std::vector<std::string> times;
  for (const CWorkResult* work : list) {
    times.push_back(work->timeText);
  }
  return times;
}

TEST(DetectionStatistics, WorkResultReadsBibAndTime) {
  CWorkResult work = Work("  42abc", "10:15:30.27", "FIN", 17);
  EXPECT_EQ(work.bibNumber, 42);
  EXPECT_EQ(work.RunnerKey(), "42");
  EXPECT_EQ(work.time, CChrono(36930, 270));
  EXPECT_EQ(work.id, 17);
  EXPECT_EQ(work.bibText, "  42abc");

  EXPECT_EQ(Work("-7", "1.2.3", "FIN").bibNumber, -7);
  EXPECT_EQ(Work("007", "1.2.3", "FIN").RunnerKey(), "7");
  EXPECT_EQ(Work("A12", "10:00:00.00", "FIN").bibNumber, 0);
  EXPECT_EQ(Work("A12", "10:00:00.00", "FIN").RunnerKey(), "A12");
  EXPECT_EQ(Work("99999999999", "", "FIN").RunnerKey(), "99999999999");  // too big for a number
  // The absolute time text of an absolute-clock record is no time of day.
  EXPECT_FALSE(Work("1", "1336897425.5", "FIN").time.IsSet());
}

TEST(DetectionStatistics, SnapshotCopiesValidRecordsOfTheFilteredDetector) {
  EventQueue events;
  Logger log(events);
  CRecordedDetections records(log);
  std::vector<int> ids;
  for (const char* detector : {"FIN", "KM5", "FIN", "FIN"}) {
    ids.push_back(records
                      .AddDetectionRecord(detector, std::to_string(ids.size() + 1), CChrono(),
                                          CChrono(36000 + static_cast<int>(ids.size()), 0), 0,
                                          false)
                      .id);
  }
  ASSERT_TRUE(records.SetValid(ids[2], 0));  // removed by the operator

  for (const char* all : {"", "*"}) {
    CWorkSnapshot snapshot;
    SnapshotDetections(records, all, snapshot);
    EXPECT_EQ(Bibs(ListOf(snapshot)), (std::vector<std::string>{"1", "2", "4"})) << all;
  }
  CWorkSnapshot fin;
  fin.push_back(Work("earlier", "", "FIN"));  // appended to, not replaced
  SnapshotDetections(records, "FIN", fin);
  ASSERT_EQ(fin.size(), 3u);
  EXPECT_EQ(fin[1].bibText, "1");
  EXPECT_EQ(fin[1].id, ids[0]);
  EXPECT_EQ(fin[1].time, CChrono(36000, 0));
  EXPECT_EQ(fin[2].bibText, "4");
  CWorkSnapshot none;
  SnapshotDetections(records, "fin", none);  // exact label
  EXPECT_TRUE(none.empty());
}

TEST(DetectionStatistics, SnapshotInSlicesTakesOneListWhileItGrowsAndIsReset) {
  EventQueue events;
  Logger log(events);
  CRecordedDetections records(log);
  std::vector<int> ids;
  for (int n = 1; n <= 7; ++n) {
    ids.push_back(records
                      .AddDetectionRecord(n % 2 == 0 ? "KM5" : "FIN", std::to_string(n), CChrono(),
                                          CChrono(36000 + n, 0), 0, false)
                      .id);
  }
  ASSERT_TRUE(records.SetValid(ids[2], 0));
  for (std::size_t slice : {1u, 2u, 3u, 100u}) {
    for (const char* filter : {"", "FIN"}) {
      CWorkSnapshot whole;
      SnapshotDetections(records, filter, whole);
      CWorkSnapshot sliced;
      ASSERT_TRUE(SnapshotDetectionsInSlices(records, filter, sliced, slice));
      EXPECT_EQ(Bibs(ListOf(sliced)), Bibs(ListOf(whole))) << slice << filter;
    }
  }

  // Another thread records and resets all along: every snapshot is one list, a run of
  // consecutive records of one generation, or nothing at all when a reset came in the middle.
  records.ClearRecords();
  std::atomic<bool> stop{false};
  std::thread box([&] {
    while (!stop) {
      records.ClearRecords();
      for (int n = 1; n <= 300 && !stop; ++n) {
        (void)records.AddDetectionRecord("FIN", std::to_string(n), CChrono(), CChrono(36000, 0), 0,
                                         false);
      }
    }
  });
  while (records.RecordCount() < 100) {
    std::this_thread::yield();
  }
  int taken = 0;
  int refused = 0;
  int mixed = 0;  // records that do not follow the one before in the snapshot
  while (taken < 20 || refused < 1) {
    CWorkSnapshot snapshot;
    snapshot.push_back(Work("kept", "", "FIN"));
    if (!SnapshotDetectionsInSlices(records, "", snapshot, 7)) {
      EXPECT_EQ(snapshot.size(), 1u);  // what was there before stays, nothing of the walk
      ++refused;
      continue;
    }
    ++taken;
    for (std::size_t i = 1; i < snapshot.size(); ++i) {
      if (snapshot[i].bibText != std::to_string(i) ||
          (i >= 2 && snapshot[i].id != NextRecordId(snapshot[i - 1].id))) {
        ++mixed;
      }
    }
    if (taken + refused > 20000) {
      break;  // no reset landed mid-walk: what is shown is the rest
    }
  }
  stop = true;
  box.join();
  EXPECT_GE(taken, 20);
  EXPECT_EQ(mixed, 0);
}

TEST(DetectionStatistics, ComparatorsUseByteOrderAndPutUnsetTimesLast) {
  CWorkResult ten = Work("10", "10:00:01.00", "A");
  CWorkResult nine = Work("9", "10:00:00.00", "A");
  CWorkResult unset = Work("1", "not a time", "A");
  EXPECT_LT(CompareByBibThenTime(ten, nine), 0);  // "10" before "9"
  EXPECT_GT(CompareByTimeThenBib(ten, nine), 0);
  EXPECT_GT(CompareByTimeThenBib(unset, ten), 0);
  EXPECT_LT(CompareByDetectorThenTime(Work("5", "11:00:00.00", "A"), Work("5", "09:00:00.00", "B")),
            0);
  EXPECT_LT(
      CompareByDetectorThenTime(Work("10", "09:00:00.00", "A"), Work("9", "09:00:00.00", "A")),
      0);  // same time: by bib
  EXPECT_EQ(CompareByBibThenTime(ten, ten), 0);
  // Accented labels (Windows-1252) sort after ASCII ones, as unsigned bytes do.
  EXPECT_LT(CompareByDetectorThenTime(Work("1", "", "Z"), Work("1", "", "\xC9tape")), 0);
}

TEST(DetectionStatistics, GroupByDetectorGivesOneLinePerLabelWithItsEarliestDetection) {
  EXPECT_TRUE(GroupByDetector({}).empty());
  CWorkSnapshot snapshot{
      Work("3", "10:05:00.00", "KM5"), Work("8", "10:01:00.00", "FIN"),
      Work("2", "10:00:30.00", "KM5"), Work("4", "bad", "FIN"), Work("5", "10:00:59.99", "FIN"),
      // Equal times: the bib text decides, byte by byte.
      Work("10", "10:00:59.99", "FIN"),
      // Labels alike in their first 7 characters are still told apart.
      Work("6", "10:00:10.00", "Passage-Nord"), Work("7", "10:00:20.00", "Passage-Est"),
      Work("9", "10:00:05.00", "Passage-Nord"), Work("1", "10:00:00.00", "Passage")};
  std::vector<CStatLineEntry> lines = GroupByDetector(ListOf(snapshot));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].label, "FIN");
  EXPECT_EQ(lines[0].count, 4);
  EXPECT_EQ(lines[0].bestBib, "10");
  EXPECT_EQ(lines[0].bestTime, Time("10:00:59.99"));
  EXPECT_FALSE(lines[0].handicap.IsSet());
  EXPECT_EQ(lines[0].maxPasses, 0);
  EXPECT_EQ(lines[1].label, "KM5");
  EXPECT_EQ(lines[1].count, 2);
  EXPECT_EQ(lines[1].bestBib, "2");
  EXPECT_EQ(lines[2].label, "Passage");
  EXPECT_EQ(lines[3].label, "Passage-Est");
  EXPECT_EQ(lines[4].label, "Passage-Nord");
  EXPECT_EQ(lines[4].count, 2);
  EXPECT_EQ(lines[4].bestBib, "9");
}

TEST(DetectionStatistics, MinimumGapComparesWithTheImmediatePredecessor) {
  struct Case {
    const char* name;
    std::vector<std::string> times;
    CChrono gap;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"5 s apart under 6 s: chained into the first",
       {"10:00:10.00", "10:00:00.00", "10:00:05.00"},
       CChrono(6, 0),
       {"10:00:00.00"}},
      {"7 s apart under 6 s: all kept",
       {"10:00:00.00", "10:00:07.00", "10:00:14.00"},
       CChrono(6, 0),
       {"10:00:00.00", "10:00:07.00", "10:00:14.00"}},
      {"exactly the gap is dropped",
       {"10:00:00.00", "10:00:06.00"},
       CChrono(6, 0),
       {"10:00:00.00"}},
      {"a zero gap drops duplicates only",
       {"10:00:00.00", "10:00:00.00", "10:00:00.01"},
       CChrono(),
       {"10:00:00.00", "10:00:00.01"}},
      {"an unreadable time after a set one is kept",
       {"10:00:00.00", "garbled"},
       CChrono(6, 0),
       {"10:00:00.00", "garbled"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CWorkSnapshot snapshot;
    for (const std::string& time : c.times) {
      snapshot.push_back(Work("12", time, "FIN"));
    }
    CWorkResultList kept;
    PassStatistics statistics = ComputePassStatistics(ListOf(snapshot), c.gap, kept);
    EXPECT_EQ(Times(kept), c.kept);
    EXPECT_EQ(statistics.runners, 1);
    EXPECT_EQ(statistics.maxPasses, static_cast<int>(c.kept.size()));
  }
}

TEST(DetectionStatistics, PassageCountsBestTimesAndKeptOrder) {
  // Runner 7: three passages; 10: two (one more dropped by the gap); 9: one.
  CWorkSnapshot snapshot{
      Work("7", "10:00:00.00", "FIN"),  Work("7", "10:20:00.00", "FIN"),
      Work("7", "10:40:00.00", "FIN"),  Work("10", "09:59:00.00", "FIN"),
      Work("10", "09:59:03.00", "FIN"), Work("10", "10:25:00.00", "FIN"),
      Work("9", "10:10:00.00", "FIN"),
  };
  CWorkResultList kept;
  std::string error;
  PassStatistics statistics = ComputePassStatistics(ListOf(snapshot), CChrono(60, 0), kept, &error);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(statistics.runners, 3);
  EXPECT_EQ(statistics.maxPasses, 3);
  ASSERT_EQ(statistics.entries.size(), 3u);
  const CStatEntry expected[] = {
      {1, 1, 3, "10", Time("09:59:00.00")},
      {2, 1, 2, "7", Time("10:20:00.00")},
      {3, 1, 1, "7", Time("10:40:00.00")},
  };
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(statistics.entries[i], expected[i]) << "pass " << i + 1;
  }
  // Kept passages in time order, whatever the bib order ("10" sorts before "7" and "9").
  EXPECT_EQ(Times(kept), (std::vector<std::string>{"09:59:00.00", "10:00:00.00", "10:10:00.00",
                                                   "10:20:00.00", "10:25:00.00", "10:40:00.00"}));

  CWorkResultList none;
  PassStatistics empty = ComputePassStatistics({}, CChrono(60, 0), none);
  EXPECT_EQ(empty.maxPasses, 0);
  EXPECT_EQ(empty.runners, 0);
  EXPECT_TRUE(empty.entries.empty());
  EXPECT_TRUE(none.empty());
}

TEST(DetectionStatistics, EqualPassageTimesKeepTheRunnerFirstInBibOrder) {
  CWorkSnapshot snapshot{Work("20", "10:00:00.00", "FIN"), Work("100", "10:00:00.00", "FIN")};
  CWorkResultList kept;
  PassStatistics statistics = ComputePassStatistics(ListOf(snapshot), CChrono(), kept);
  ASSERT_EQ(statistics.entries.size(), 1u);
  EXPECT_EQ(statistics.entries[0].bestBib, "100");
  EXPECT_EQ(statistics.entries[0].runnersExactly, 2);
}

TEST(DetectionStatistics, RunnersAreToldApartByNumberOrByBibText) {
  // "012" and "12" are one runner 12, whose passages are taken in time order (in bib text
  // order "012" at 10:40 would come first and drop the 10:00 passage); A and B are two runners.
  CWorkSnapshot snapshot{Work("A", "10:00:00.00", "FIN"),   Work("B", "10:00:01.00", "FIN"),
                         Work("B", "10:30:00.00", "FIN"),   Work("12", "10:00:00.00", "FIN"),
                         Work("012", "10:40:00.00", "FIN"), Work("012", "10:40:30.00", "FIN")};
  CWorkResultList kept;
  PassStatistics statistics = ComputePassStatistics(ListOf(snapshot), CChrono(60, 0), kept);
  EXPECT_EQ(statistics.runners, 3);
  EXPECT_EQ(statistics.maxPasses, 2);
  EXPECT_EQ(Times(kept), (std::vector<std::string>{"10:00:00.00", "10:00:00.00", "10:00:01.00",
                                                   "10:30:00.00", "10:40:00.00"}));
  std::vector<CWorkResultList> passages = ExtractPassages(kept);
  ASSERT_EQ(passages.size(), 2u);
  EXPECT_EQ(Bibs(passages[1]), (std::vector<std::string>{"B", "012"}));
}

TEST(DetectionStatistics, ExtractPassagesTakesTheNthOfEachRunnerInTimeOrder) {
  CWorkSnapshot snapshot{
      Work("1", "10:00:00.00", "FIN"), Work("2", "10:01:00.00", "FIN"),
      Work("2", "10:30:00.00", "FIN"), Work("3", "10:02:00.00", "FIN"),
      Work("3", "10:20:00.00", "FIN"), Work("3", "10:40:00.00", "FIN"),
  };
  std::vector<CWorkResultList> passages = ExtractPassages(ListOf(snapshot));
  ASSERT_EQ(passages.size(), 3u);
  EXPECT_EQ(Bibs(passages[0]), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Bibs(passages[1]), (std::vector<std::string>{"3", "2"}));
  EXPECT_EQ(Times(passages[1]), (std::vector<std::string>{"10:20:00.00", "10:30:00.00"}));
  EXPECT_EQ(Bibs(passages[2]), (std::vector<std::string>{"3"}));
  EXPECT_TRUE(ExtractPassages({}).empty());
}

// The n-th passage taken alone, as the export did it before it split all passage numbers in
// one pass: the whole list sorted by runner, then time, then bib; the n-th of each runner;
// those sorted by time, then bib.
CWorkResultList NthPassageAlone(const CWorkResultList& kept, int n) {
  auto byRunner = [](const CWorkResult* a, const CWorkResult* b) {
    if (a->RunnerKey() != b->RunnerKey()) {
      return a->RunnerKey() < b->RunnerKey();
    }
    return CompareByTimeThenBib(*a, *b) < 0;
  };
  CWorkResultList sorted = kept;
  std::sort(sorted.begin(), sorted.end(), byRunner);
  CWorkResultList passage;
  std::size_t begin = 0;
  while (begin < sorted.size()) {
    std::size_t end = begin + 1;
    while (end < sorted.size() && sorted[end]->RunnerKey() == sorted[begin]->RunnerKey()) {
      ++end;
    }
    if (end - begin >= static_cast<std::size_t>(n)) {
      passage.push_back(sorted[begin + static_cast<std::size_t>(n) - 1]);
    }
    begin = end;
  }
  std::sort(passage.begin(), passage.end(), [](const CWorkResult* a, const CWorkResult* b) {
    return CompareByTimeThenBib(*a, *b) < 0;
  });
  return passage;
}

TEST(DetectionStatistics, OnePassSplitGivesWhatEachPassageTakenAloneGives) {
  // Many small races: runners with few or many passages, bibs of one runner written in two
  // ways, runners that tie in time, passages closer than the gap, unreadable times and removed
  // detections. The split must pick the very same detections in the very same order.
  // Bibs longer than 7 characters, some alike in their first 7, are ordered by their whole text.
  const char* bibs[] = {"1",        "2",        "7",         "10",        "012",    "12",
                        "A",        "B",        " 3",        "3x",        "99",     "1234567",
                        "12345678", "12345679", "ABCDEFGHI", "ABCDEFGHJ", "ABCDEFG"};
  const CChrono gaps[] = {CChrono(), CChrono(30, 0), CChrono(60, 0)};
  std::mt19937 random(14);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    CWorkSnapshot snapshot;
    int count = static_cast<int>(random() % 120);
    for (int i = 0; i < count; ++i) {
      // Times on a coarse grid (every 20 s over 20 min): ties and short gaps are frequent.
      int seconds = 36000 + static_cast<int>(random() % 60) * 20;
      std::string time = random() % 25 == 0 ? std::string("garbled")
                                            : StrF("%02d:%02d:%02d.00", seconds / 3600,
                                                   seconds / 60 % 60, seconds % 60);
      snapshot.push_back(Work(bibs[random() % std::size(bibs)], time, "FIN", i + 1));
      if (random() % 10 == 0) {
        snapshot.back().valid = 0;
      }
    }
    CWorkResultList kept;
    PassStatistics statistics =
        ComputePassStatistics(ListOf(snapshot), gaps[round % std::size(gaps)], kept);
    EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end(), [](const auto* a, const auto* b) {
      return CompareByTimeThenBib(*a, *b) < 0;
    }));
    std::vector<CWorkResultList> passages = ExtractPassages(kept);
    ASSERT_EQ(passages.size(), static_cast<std::size_t>(statistics.maxPasses));
    for (int n = 1; n <= statistics.maxPasses; ++n) {
      EXPECT_EQ(passages[static_cast<std::size_t>(n) - 1], NthPassageAlone(kept, n)) << n;
      EXPECT_EQ(passages[static_cast<std::size_t>(n) - 1].size(),
                static_cast<std::size_t>(statistics.entries[n - 1].runnersAtLeast));
    }
    // Unfiltered lists too (same-time duplicates of one runner included).
    CWorkResultList all = ListOf(snapshot);
    std::vector<CWorkResultList> unfiltered = ExtractPassages(all);
    for (std::size_t n = 1; n <= unfiltered.size(); ++n) {
      EXPECT_EQ(unfiltered[n - 1], NthPassageAlone(all, static_cast<int>(n))) << n;
    }
    EXPECT_TRUE(NthPassageAlone(all, static_cast<int>(unfiltered.size()) + 1).empty());
  }
}

class ExportWritersTest : public ::testing::Test {
 protected:
  CWorkSnapshot m_snapshot{Work("12", "10:15:30.27", "FIN"), Work("7", "10:15:31.00", "FIN"),
                           Work("8", "1336897425.5", "FIN")};
  TempDir m_dir;
};

TEST_F(ExportWritersTest, DetectionLinesSkipRemovedDetectionsAndNumberTheOthers) {
  m_snapshot[1].valid = 0;
  m_snapshot[2].kindMarker = 1;
  std::string path = m_dir.File("FIN-1.kol");
  WriteFile(path, "an older export that is replaced\r\n");
  ASSERT_TRUE(WriteDetectionLines(path, ListOf(m_snapshot), false));
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t12\t1\t10:15:30.27\t1\r\n"
            "2\tFIN\t8\t1\t1336897425.5\t2\r\n");

  ASSERT_TRUE(WriteDetectionLines(path, ListOf(m_snapshot), true));
  EXPECT_EQ(ReadFile(path),
            "dossard\ttemps\tcommentaire\r\n"
            "dossard\tperformancen\tcommentaire\r\n"
            "12\t101531\t\r\n"
            "8\t\t\r\n");
}

TEST_F(ExportWritersTest, EmptyListsGiveAnEmptyFileOrJustTheHeaders) {
  std::string plain = m_dir.File("plain.kol");
  std::string compact = m_dir.File("compact.txt");
  ASSERT_TRUE(WriteDetectionLines(plain, {}, false));
  ASSERT_TRUE(WriteShiftedDetectionLines(compact, {}, CChrono(36000, 0), true));
  EXPECT_EQ(ReadFile(plain), "");
  EXPECT_EQ(ReadFile(compact),
            "dossard\ttemps\tcommentaire\r\n"
            "dossard\tperformancen\tcommentaire\r\n");
}

TEST_F(ExportWritersTest, ShiftedLinesSubtractTheHandicap) {
  std::string path = m_dir.File("shifted.kol");
  CChrono handicap(36000, 0);  // 10:00:00.00
  ASSERT_TRUE(WriteShiftedDetectionLines(path, ListOf(m_snapshot), handicap, false));
  // An absolute time text is no time of day: it is written as recorded, not shifted.
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t12\t1\t00:15:30.27\t1\r\n"
            "2\tFIN\t7\t1\t00:15:31.00\t1\r\n"
            "3\tFIN\t8\t1\t1336897425.5\t1\r\n");
  ASSERT_TRUE(WriteShiftedDetectionLines(path, ListOf(m_snapshot), handicap, true));
  EXPECT_EQ(ReadFile(path),
            "dossard\ttemps\tcommentaire\r\n"
            "dossard\tperformancen\tcommentaire\r\n"
            "12\t1531\t\r\n"
            "7\t1531\t\r\n"
            "8\t\t\r\n");
}

TEST_F(ExportWritersTest, AFileThatCannotBeOpenedIsReportedAndNothingIsWritten) {
  std::string path = m_dir.File("no-such-folder/FIN-1.kol");
  EXPECT_FALSE(WriteDetectionLines(path, ListOf(m_snapshot), false));
  EXPECT_FALSE(WriteShiftedDetectionLines(path, ListOf(m_snapshot), CChrono(), true));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ExportWritersTest, AFullDiskIsAFailureNotAWrittenFile) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  EXPECT_FALSE(WriteDetectionLines("/dev/full", ListOf(m_snapshot), false));
}

}  // namespace
}  // namespace lapora
