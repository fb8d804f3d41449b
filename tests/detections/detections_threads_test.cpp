// Recording from several threads at once, with the list cleared and searched meanwhile, and
// chip lookups during reloads.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class CountingPusher : public DetectionPusher {
 public:
  void PushDetection(const CKolResult&) override { ++count; }
  std::atomic<int> count{0};
};

struct FileLine {
  int number = 0;
  std::string label;
  std::string bib;
  std::string time;
};

std::vector<FileLine> ReadLines(const std::string& path) {
  std::vector<FileLine> lines;
  std::istringstream in(ReadFile(path));
  std::string text;
  while (std::getline(in, text)) {
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\r');
    std::istringstream fields(text);
    FileLine line;
    std::string one;
    std::string kind;
    fields >> line.number >> line.label >> line.bib >> one >> line.time >> kind;
    EXPECT_EQ(one, "1");
    EXPECT_EQ(kind, "1");
    lines.push_back(line);
  }
  return lines;
}

TEST(DetectionsThreads, StoringWhileClearingAndFindingKeepsFileAndListInStep) {
  // With TZ unset, every mktime re-reads the zone file and swaps glibc's zone name under a lock
  // that ThreadSanitizer cannot see. Naming the zone once, before the threads, makes mktime keep
  // the loaded zone (and spares a file check per detection).
  setenv("TZ", ":/etc/localtime", 0);
  tzset();
  constexpr int kPerThread = 1500;
  TempDir dir;
  EventQueue events;
  Logger log(events);
  log.SetPostingEnabled(true);
  AppSettings settings;
  settings.SetRaceDayDates({"20120513", "", "", ""});
  settings.GVarnexBeepDetections = 0;
  ManualClock clock;
  CChipTable chips;
  CRecordedDetections records(log);
  CountingPusher pusher;
  DetectionIntake intake(log, events, settings, nullptr, clock, chips, records, &pusher);
  std::string path = dir.File("incoming.dat");
  records.OpenDetectionFile(path);

  std::atomic<int> storersLeft{4};
  std::atomic<int> lastId{0};
  std::atomic<int> clears{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      CTemporaryIntakeBox box(t + 1, "[box" + std::to_string(t + 1) + "]",
                              "D" + std::to_string(t + 1));
      BoxThreadCounters counters;
      for (int i = 0; i < kPerThread; ++i) {
        // Halfway, a clear must have come in between, however the threads are scheduled.
        while (i == kPerThread / 2 && clears.load() == 0) {
          std::this_thread::yield();
        }
        std::string bib = "T" + std::to_string(t) + "-" + std::to_string(i);
        if (t < 2) {
          CKolResult record =
              intake.StoreDetection(bib, box.DetectorLabel(), CChrono(), CChrono(36000 + i, 0));
          lastId.store(record.id);
        } else {
          std::string payload =
              StrF("2012-05-13_10:00:%02d.%03d,%s", i / 1000, i % 1000, bib.c_str());
          intake.HandleDetectionLine(box, "Box", payload, payload, 0, counters);
        }
      }
      if (t >= 2) {
        EXPECT_EQ(counters.recorded, kPerThread);
      }
      --storersLeft;
    });
  }
  threads.emplace_back([&] {
    while (storersLeft.load() > 0) {
      records.ClearRecords();
      ++clears;
      for (int spin = 0; spin < 2000 && storersLeft.load() > 0; ++spin) {
        std::this_thread::yield();
      }
    }
  });
  threads.emplace_back([&] {
    while (storersLeft.load() > 0) {
      int id = lastId.load();
      if (std::optional<CKolResult> found = records.FindRecord(id)) {
        EXPECT_EQ(found->id, id);
        EXPECT_EQ(found->bibText.front(), 'T');
      }
      records.WithLock([](CRecordedDetections::Locked& locked) {
        EXPECT_EQ(locked.CountValidRecords(), static_cast<int>(locked.RecordCount()));
      });
    }
  });
  for (std::thread& thread : threads) {
    thread.join();
  }
  records.CloseDetectionFile();
  ASSERT_TRUE(records.FlushDetectionFile());

  // Every detection once in the file; numbers run 1, 2, 3... and restart at 1 after a clear.
  std::vector<FileLine> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 4u * kPerThread);
  std::set<std::string> bibs;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    bibs.insert(lines[i].bib);
    if (i > 0 && lines[i].number != 1) {
      ASSERT_EQ(lines[i].number, lines[i - 1].number + 1) << "line " << i;
    }
  }
  EXPECT_EQ(bibs.size(), lines.size());
  EXPECT_EQ(pusher.count.load(), 4 * kPerThread);

  // The lines written since the last clear are the list, in order.
  std::vector<CKolResult> list = records.Snapshot();
  ASSERT_LE(list.size(), lines.size());
  std::size_t first = lines.size() - list.size();
  for (std::size_t i = 0; i < list.size(); ++i) {
    const FileLine& line = lines[first + i];
    EXPECT_EQ(line.number, static_cast<int>(i + 1));
    EXPECT_EQ(line.bib, list[i].bibText);
    EXPECT_EQ(line.label, list[i].detectorLabel);
    EXPECT_EQ(line.time, list[i].timeText);
    if (i > 0) {
      EXPECT_GT(list[i].id, list[i - 1].id);
    }
  }
  EXPECT_GE(clears.load(), 1);
}

// A record is pushed (and shown) only once its line is in the file: with four threads
// recording at once, one write carries the lines of all of them, and none is released before
// the write that holds its line is done.
class FileCheckingPusher : public DetectionPusher {
 public:
  explicit FileCheckingPusher(std::string path) : m_path(std::move(path)) {}
  void PushDetection(const CKolResult& record) override {
    std::string text = ReadFile(m_path);
    if (text.find("\t" + record.bibText + "\t") == std::string::npos) {
      ++missing;
    }
    ++count;
  }
  std::atomic<int> count{0};
  std::atomic<int> missing{0};

 private:
  std::string m_path;
};

TEST(DetectionsThreads, EachLineIsInTheFileBeforeItsRecordIsPushed) {
  setenv("TZ", ":/etc/localtime", 0);
  tzset();
  constexpr int kPerThread = 300;
  TempDir dir;
  EventQueue events;
  Logger log(events);
  AppSettings settings;
  ManualClock clock;
  CChipTable chips;
  CRecordedDetections records(log);
  std::string path = dir.File("incoming.dat");
  FileCheckingPusher pusher(path);
  DetectionIntake intake(log, events, settings, nullptr, clock, chips, records, &pusher);
  records.OpenDetectionFile(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::string bib = "T" + std::to_string(t) + "-" + std::to_string(i);
        intake.StoreDetection(bib, "D1", CChrono(), CChrono(36000 + i, 0));
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  ASSERT_TRUE(records.FlushDetectionFile());
  EXPECT_EQ(pusher.count.load(), 4 * kPerThread);
  EXPECT_EQ(pusher.missing.load(), 0);
  records.CloseDetectionFile();
  EXPECT_EQ(ReadLines(path).size(), 4u * kPerThread);
}

TEST(DetectionsThreads, LookupsDuringReloadsSeeOneWholeTable) {
  constexpr int kChips = 3000;
  TempDir dir;
  std::string low;
  std::string high;
  for (int i = 1; i <= kChips; ++i) {
    low += std::to_string(i) + " C" + std::to_string(i) + "\n";
    high += std::to_string(i + 100000) + " c" + std::to_string(i) + "\n";
  }
  WriteFile(dir.File("low.dtb"), low);
  WriteFile(dir.File("high.dtb"), high);
  CChipTable table;
  ASSERT_TRUE(table.LoadChipTableFile(dir.File("low.dtb")));

  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&, r] {
      int i = r;
      while (!done.load()) {
        int chip = i % kChips + 1;
        std::int32_t bib = 0;
        // Never a half-loaded or empty table: every chip is always found.
        ASSERT_TRUE(table.LookupChip("C" + std::to_string(chip), &bib));
        ASSERT_TRUE(bib == chip || bib == chip + 100000) << bib;
        ASSERT_EQ(table.ChipTableCount(), static_cast<std::size_t>(kChips));
        i += 7;
      }
    });
  }
  for (int reload = 0; reload < 30; ++reload) {
    ASSERT_TRUE(table.LoadChipTableFile(dir.File(reload % 2 == 0 ? "high.dtb" : "low.dtb")));
  }
  done = true;
  for (std::thread& reader : readers) {
    reader.join();
  }
}

}  // namespace
}  // namespace lapora
