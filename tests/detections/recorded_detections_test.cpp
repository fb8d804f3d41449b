#include "detections/recorded_detections.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/append_file.h"
#include "resources/messages_detections.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class RecordedDetectionsTest : public ::testing::Test {
 protected:
  RecordedDetectionsTest() { m_log.SetPostingEnabled(true); }

  // The texts posted since the last call; the alert boxes are counted in m_alerts.
  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    m_events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        texts.push_back(line->text);
      }
      m_alerts += std::holds_alternative<AlertEvent>(event) ? 1 : 0;
    });
    return texts;
  }
  CKolResult Add(const std::string& bib, int kind = 0, bool toFile = true) {
    return m_records.AddDetectionRecord("FIN", bib, CChrono(1336897425, 50), CChrono(37425, 120),
                                        kind, toFile);
  }

  TempDir m_dir;
  EventQueue m_events;
  Logger m_log{m_events};
  CRecordedDetections m_records{m_log};
  int m_alerts = 0;
};

TEST_F(RecordedDetectionsTest, RecordFieldsAndTimeTexts) {
  CKolResult dayTime = Add("123");
  EXPECT_EQ(dayTime.bibText, "123");
  EXPECT_EQ(dayTime.timeText, "10:23:45.12");
  EXPECT_EQ(dayTime.detectorLabel, "FIN");
  EXPECT_EQ(dayTime.kindMarker, 0);
  EXPECT_EQ(dayTime.reserved1, 1);
  EXPECT_EQ(dayTime.reserved2, 0);
  EXPECT_EQ(dayTime.valid, 1);
  // Absolute clock: hundredths without padding (50 ms is .5, 500 ms is .50).
  EXPECT_EQ(Add("124", 1).timeText, "1336897425.5");
  EXPECT_EQ(DetectionTimeText(CChrono(7, 500), CChrono(), 1), "7.50");
  EXPECT_EQ(DetectionTimeText(CChrono(7, 9), CChrono(), 1), "7.0");
}

TEST_F(RecordedDetectionsTest, IdsCountFromOneAndGoOnAfterClearing) {
  EXPECT_EQ(Add("1").id, 1);
  EXPECT_EQ(Add("2").id, 2);
  m_records.ClearRecords();
  EXPECT_EQ(m_records.RecordCount(), 0u);
  EXPECT_FALSE(m_records.FindRecord(1).has_value());
  CKolResult next = Add("3");
  EXPECT_EQ(next.id, 3);
  ASSERT_TRUE(m_records.FindRecord(3).has_value());
  EXPECT_EQ(*m_records.FindRecord(3), next);
  EXPECT_FALSE(m_records.FindRecord(0).has_value());

  // What a clear removed is handed over whole, once, to whoever frees it; the new list and its
  // index are not touched by that.
  Add("4");
  m_records.ClearRecords();
  m_records.ClearRecords();  // nothing more to hand over
  std::vector<ClearedRecords> cleared = m_records.TakeClearedRecords();
  ASSERT_EQ(cleared.size(), 2u);
  ASSERT_EQ(cleared[0].records.size(), 2u);
  EXPECT_EQ(cleared[0].records[0].bibText, "1");
  EXPECT_EQ(cleared[0].byId.size(), 2u);
  ASSERT_EQ(cleared[1].records.size(), 2u);
  EXPECT_EQ(cleared[1].records[1].id, 4);
  EXPECT_TRUE(m_records.TakeClearedRecords().empty());
  EXPECT_EQ(Add("5").id, 5);
  EXPECT_EQ(m_records.FindRecord(5)->bibText, "5");

  // Each list counts on its own.
  CRecordedDetections other(m_log);
  EXPECT_EQ(other.AddDetectionRecord("X", "1", CChrono(), CChrono(), 0, false).id, 1);
}

TEST_F(RecordedDetectionsTest, IdsWrapWithoutZeroOrMinusOne) {
  EXPECT_EQ(NextRecordId(0), 1);
  EXPECT_EQ(NextRecordId(41), 42);
  EXPECT_EQ(NextRecordId(INT_MAX), INT_MIN);
  EXPECT_EQ(NextRecordId(-3), -2);
  EXPECT_EQ(NextRecordId(-2), 1);
}

TEST_F(RecordedDetectionsTest, ValidFlagsAndCount) {
  Add("1");
  int second = Add("2").id;
  Add("3");
  EXPECT_EQ(m_records.CountValidRecords(), 3);
  EXPECT_TRUE(m_records.SetValid(second, 0));
  EXPECT_TRUE(m_records.SetValid(second, 0));  // twice removed counts once
  EXPECT_EQ(m_records.CountValidRecords(), 2);
  EXPECT_EQ(m_records.FindRecord(second)->valid, 0);
  EXPECT_FALSE(m_records.SetValid(999, 0));
  EXPECT_TRUE(m_records.SetValid(second, 1));
  EXPECT_EQ(m_records.CountValidRecords(), 3);
  m_records.ClearRecords();
  EXPECT_EQ(m_records.CountValidRecords(), 0);
}

TEST_F(RecordedDetectionsTest, FileLinesNumberTheListWithCrLf) {
  std::string path = m_dir.File("in.dat");
  m_records.OpenDetectionFile(path);
  EXPECT_TRUE(m_records.IsDetectionFileOpen());
  Add("123");
  Add("124", 1);
  Add("125", 0, false);  // kept in memory only
  Add("126");
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t123\t1\t10:23:45.12\t1\r\n"
            "2\tFIN\t124\t1\t1336897425.5\t2\r\n"
            "4\tFIN\t126\t1\t10:23:45.12\t1\r\n");
  EXPECT_EQ(m_records.RecordCount(), 4u);
}

TEST_F(RecordedDetectionsTest, ALineRecordedWhileClosedReopensTheRunsFile) {
  std::string path = m_dir.File("in.dat");
  std::string opening = StrF(Tr(kMsgOpeningDetectionFile).c_str(), path.c_str());
  m_records.OpenDetectionFile(path);
  EXPECT_EQ(LogTexts(), std::vector<std::string>{opening});
  Add("1");
  m_records.OpenDetectionFile(path);  // open already: nothing happens
  EXPECT_TRUE(LogTexts().empty());
  Add("2");

  // After "disconnect all" nobody opens the file: whoever records does, and appends.
  m_records.CloseDetectionFile();
  EXPECT_FALSE(m_records.IsDetectionFileOpen());
  Add("3");
  EXPECT_TRUE(m_records.IsDetectionFileOpen());
  EXPECT_EQ(LogTexts(), std::vector<std::string>{opening});
  m_records.CloseDetectionFile();
  m_records.EnsureDetectionFileOpen();  // a box started from its menu
  EXPECT_TRUE(m_records.IsDetectionFileOpen());
  Add("4");
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t1\t1\t10:23:45.12\t1\r\n2\tFIN\t2\t1\t10:23:45.12\t1\r\n"
            "3\tFIN\t3\t1\t10:23:45.12\t1\r\n4\tFIN\t4\t1\t10:23:45.12\t1\r\n");
  EXPECT_EQ(LogTexts(), std::vector<std::string>{opening});
}

TEST_F(RecordedDetectionsTest, ResetUnderTheLockStartsANewFileAtLineOne) {
  std::string first = m_dir.File("first.dat");
  std::string second = m_dir.File("second.dat");
  m_records.OpenDetectionFile(first);
  Add("1");
  Add("2");
  int cleared = m_records.WithLock([&](CRecordedDetections::Locked& locked) {
    int count = locked.CountValidRecords();
    locked.ClearRecords();
    locked.CloseDetectionFile();
    locked.OpenDetectionFile(second);
    return count;
  });
  EXPECT_EQ(cleared, 2);
  CKolResult next = Add("3");
  EXPECT_EQ(next.id, 3);
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(first), "1\tFIN\t1\t1\t10:23:45.12\t1\r\n2\tFIN\t2\t1\t10:23:45.12\t1\r\n");
  EXPECT_EQ(ReadFile(second), "1\tFIN\t3\t1\t10:23:45.12\t1\r\n");
}

// Keeps each released record with the incoming file's content at that moment.
class KeepingSink : public RecordReleaseSink {
 public:
  explicit KeepingSink(std::string path) : m_path(std::move(path)) {}
  void ReleaseRecord(const CKolResult& record, const RecordRelease& release) override {
    std::lock_guard lock(m_mutex);
    m_bibs.push_back(record.bibText + (release.showItem ? ":" + release.itemText : ""));
    m_files.push_back(ReadFile(m_path));
    m_threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> Bibs() {
    std::lock_guard lock(m_mutex);
    return m_bibs;
  }
  std::vector<std::string> Files() {
    std::lock_guard lock(m_mutex);
    return m_files;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard lock(m_mutex);
    return m_threads;
  }

 private:
  std::string m_path;
  std::mutex m_mutex;
  std::vector<std::string> m_bibs;
  std::vector<std::string> m_files;
  std::vector<std::thread::id> m_threads;
};

TEST_F(RecordedDetectionsTest, RecordsAreReleasedOnceTheirLineIsInTheFileInOrder) {
  std::string path = m_dir.File("in.dat");
  KeepingSink sink(path);
  auto addReleased = [&](const std::string& bib) {
    RecordRelease release;
    release.sink = &sink;
    release.showItem = true;
    release.itemText = "item " + bib;
    return m_records.AddDetectionRecord("FIN", bib, CChrono(), CChrono(36000, 0), 0, true,
                                        std::move(release));
  };
  // No file for the run yet: nothing to wait for, released at once on this thread.
  addReleased("0");
  ASSERT_EQ(sink.Bibs(), std::vector<std::string>{"0:item 0"});
  EXPECT_EQ(sink.Threads()[0], std::this_thread::get_id());

  m_records.OpenDetectionFile(path);
  constexpr int kCount = 300;
  for (int i = 1; i <= kCount; ++i) {
    addReleased(std::to_string(i));
  }
  ASSERT_TRUE(m_records.FlushDetectionFile());
  std::vector<std::string> bibs = sink.Bibs();
  std::vector<std::string> files = sink.Files();
  ASSERT_EQ(bibs.size(), kCount + 1u);
  for (int i = 1; i <= kCount; ++i) {
    EXPECT_EQ(bibs[static_cast<std::size_t>(i)], StrF("%d:item %d", i, i));
    // The file held this record's line (number i + 1: the list counts record "0") when it went.
    std::string line = StrF("%d\tFIN\t%d\t1\t10:00:00.00\t1\r\n", i + 1, i);
    EXPECT_NE(files[static_cast<std::size_t>(i)].find(line), std::string::npos) << i;
  }
  m_records.RemoveReleaseSink(&sink);
}

// Lines the file refuses (here: its folder is missing) raise one alert and wait in memory; the
// records go on. The next detection and the one-second retry try again.
TEST_F(RecordedDetectionsTest, RefusedLinesAlertOnceThenCatchUpInOrder) {
  std::string folder = m_dir.File("logfiles");
  std::string path = folder + "/in.dat";
  KeepingSink sink(path);
  auto addReleased = [&](const std::string& bib) {
    RecordRelease release;
    release.sink = &sink;
    m_records.AddDetectionRecord("FIN", bib, CChrono(), CChrono(36000, 0), 0, true,
                                 std::move(release));
  };
  m_records.OpenDetectionFile(path);
  addReleased("1");
  EXPECT_FALSE(m_records.FlushDetectionFile());
  addReleased("2");
  EXPECT_FALSE(m_records.FlushDetectionFile());
  EXPECT_EQ(sink.Bibs(), (std::vector<std::string>{"1", "2"}));  // the race goes on

  std::string alert = "######## " + StrF(Tr(kMsgDetectionFileRefused).c_str(), path.c_str(),
                                         "open: No such file or directory");
  std::vector<std::string> texts = LogTexts();
  EXPECT_EQ(texts, (std::vector<std::string>{
                       StrF(Tr(kMsgOpeningDetectionFile).c_str(), path.c_str()),
                       StrF(Tr(kMsgErrorOpeningDetectionFile).c_str(), path.c_str()), alert}));
  EXPECT_EQ(m_alerts, 1);

  // The folder comes back: the retry, with no new detection, writes both lines.
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFile(path).size() < 2 * 20 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  addReleased("3");
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t1\t1\t10:00:00.00\t1\r\n2\tFIN\t2\t1\t10:00:00.00\t1\r\n"
            "3\tFIN\t3\t1\t10:00:00.00\t1\r\n");
  EXPECT_EQ(LogTexts(), std::vector<std::string>{
                            StrF(Tr(kMsgDetectionFileResumed).c_str(), path.c_str(), 2ul)});
  m_records.RemoveReleaseSink(&sink);
}

// A failed fdatasync: the lines are in the page cache but not known to be on the disk, so the
// operator is alerted until a sync succeeds. With the sync off, no sync is made at all.
TEST_F(RecordedDetectionsTest, SyncFailureIsAnAlertUntilASyncSucceeds) {
  std::string path = m_dir.File("in.dat");
  AppendFileFaults faults;
  m_records.SetFileFaults(&faults);
  faults.syncError = EIO;
  m_records.OpenDetectionFile(path);
  Add("1");
  EXPECT_FALSE(m_records.FlushDetectionFile());
  std::vector<std::string> texts = LogTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], "######## " + StrF(Tr(kMsgDetectionFileRefused).c_str(), path.c_str(),
                                         "sync: Input/output error"));
  faults.syncError = 0;
  Add("2");
  EXPECT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(LogTexts(), std::vector<std::string>{
                            StrF(Tr(kMsgDetectionFileResumed).c_str(), path.c_str(), 2ul)});

  faults.syncError = EIO;
  m_records.SetSyncLines(false);
  Add("3");
  EXPECT_TRUE(m_records.FlushDetectionFile());
  EXPECT_TRUE(LogTexts().empty());
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t1\t1\t10:23:45.12\t1\r\n2\tFIN\t2\t1\t10:23:45.12\t1\r\n"
            "3\tFIN\t3\t1\t10:23:45.12\t1\r\n");
}

// A small disk filled up under the incoming file, then freed: one alert, the file keeps whole
// lines only meanwhile, and once there is room again every line is there once, in order.
TEST_F(RecordedDetectionsTest, FullDiskAlertsOnceThenCatchesUpInOrder) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  std::string disk = m_dir.File("disk");
  ASSERT_TRUE(std::filesystem::create_directory(disk));
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  std::string path = disk + "/Lapora-20260609-100000.dat";
  KeepingSink sink(path);
  std::string expected;
  int count = 0;
  auto addLines = [&](int lines) {
    for (int i = 0; i < lines; ++i) {
      ++count;
      std::string bib = std::to_string(1000 + count);
      RecordRelease release;
      release.sink = &sink;
      m_records.AddDetectionRecord("FIN", bib, CChrono(), CChrono(36000, 0), 0, true,
                                   std::move(release));
      expected += StrF("%d\tFIN\t%s\t1\t10:00:00.00\t1\r\n", count, bib.c_str());
    }
  };
  m_records.OpenDetectionFile(path);
  addLines(10);
  ASSERT_TRUE(m_records.FlushDetectionFile());

  // The disk fills up: a file takes every block left.
  std::string filler = disk + "/filler";
  {
    std::ofstream out(filler, std::ios::binary);
    std::string block(1024, 'x');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
  }
  for (int burst = 0; burst < 20; ++burst) {
    addLines(20);
  }
  EXPECT_FALSE(m_records.FlushDetectionFile());
  std::string during = ReadFile(path);
  ASSERT_FALSE(during.empty());
  EXPECT_EQ(during.back(), '\n');  // whole lines only
  EXPECT_EQ(expected.compare(0, during.size(), during), 0);
  EXPECT_EQ(sink.Bibs().size(), static_cast<std::size_t>(count));  // the race went on
  std::vector<std::string> texts = LogTexts();
  EXPECT_EQ(m_alerts, 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(),
                       "######## " + StrF(Tr(kMsgDetectionFileRefused).c_str(), path.c_str(),
                                          "write: No space left on device")),
            1);

  // Room again: the next detection brings everything in.
  ASSERT_TRUE(std::filesystem::remove(filler));
  std::size_t linesBefore =
      static_cast<std::size_t>(std::count(during.begin(), during.end(), '\n'));
  addLines(1);
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(LogTexts(),
            std::vector<std::string>{StrF(Tr(kMsgDetectionFileResumed).c_str(), path.c_str(),
                                          static_cast<unsigned long>(count - linesBefore))});
  EXPECT_EQ(m_alerts, 1);
  m_records.RemoveReleaseSink(&sink);
}

// What the file still refuses when the store goes is written down in the log file.
TEST_F(RecordedDetectionsTest, LinesStillRefusedAtTheEndAreCountedInTheLogFile) {
  m_log.SetLogFilePath(m_dir.File("Lapora.log"));
  std::string path = m_dir.File("missing/in.dat");
  {
    CRecordedDetections records(m_log);
    records.OpenDetectionFile(path);
    for (int i = 0; i < 3; ++i) {
      (void)records.AddDetectionRecord("FIN", "7", CChrono(), CChrono(), 0, true);
    }
    EXPECT_FALSE(records.FlushDetectionFile());
  }
  EXPECT_NE(ReadFile(m_dir.File("Lapora.log"))
                .find(StrF(Tr(kMsgDetectionLinesLost).c_str(), 3ul, path.c_str(),
                           "open: No such file or directory")),
            std::string::npos);
}

TEST_F(RecordedDetectionsTest, TornLastLineOfTheNewestEarlierFileIsFound) {
  std::string current = m_dir.File("Lapora-20260609-100000.dat");
  EXPECT_FALSE(FindTornEarlierDetectionFile(m_dir.path(), current).has_value());
  std::string older = m_dir.File("Lapora-20260608-090000.dat");
  std::string newer = m_dir.File("Lapora-20260608-090000-2.dat");
  WriteFile(older, "1\tFIN\t5\t1\t10:00:00.00\t1\r\n2\tFIN");
  WriteFile(newer, "1\tFIN\t5\t1\t10:00:00.00\t1\r\n");
  WriteFile(current, "1\tFIN");  // this run's own file is not an earlier one
  auto setAge = [](const std::string& path, int secondsAgo) {
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
  };
  setAge(older, 100);
  setAge(newer, 50);
  EXPECT_FALSE(FindTornEarlierDetectionFile(m_dir.path(), current).has_value());

  // The last one written decides, whatever its name.
  setAge(older, 10);
  std::optional<TornDetectionFile> torn = FindTornEarlierDetectionFile(m_dir.path(), current);
  ASSERT_TRUE(torn.has_value());
  EXPECT_EQ(torn->path, older);
  EXPECT_EQ(torn->bytes, 5u);
}

}  // namespace
}  // namespace lapora
