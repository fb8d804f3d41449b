// The station's side of the detection-lines export: the one-second step runs the background
// export on a thread of its own while the window thread goes on, skips a run that falls due
// while one runs, logs failures once and the return to normal once, and a closing waits for a
// running export; the button writes every recorded detection to the export file, the window
// menu opens the dialog through the front end, and the console's "export" command runs it
// headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "console/console_front_end.h"
#include "export/detection_lines_export.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_export_dialog.h"
#include "station/recording_front_end.h"
#include "station/station.h"
#include "support/station_rig.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr std::int64_t kPeriodMs = 2 * 60'000;  // the default period

// Holds the records lock on a thread of its own until released: an export that needs it waits,
// so that a test knows it is still running.
class RecordsLockHolder {
 public:
  explicit RecordsLockHolder(CRecordedDetections& records) {
    std::promise<void> held;
    std::future<void> isHeld = held.get_future();
    m_thread = std::thread([&records, &held, released = m_release.get_future()] {
      records.WithLock([&](CRecordedDetections::Locked&) {
        held.set_value();
        released.wait();
      });
    });
    isHeld.wait();
  }
  ~RecordsLockHolder() { Release(); }
  void Release() {
    if (m_thread.joinable()) {
      m_release.set_value();
      m_thread.join();
    }
  }

 private:
  std::promise<void> m_release;
  std::thread m_thread;
};

class ExportStationTest : public ::testing::Test, public testing::StationRig {
 protected:
  ExportStationTest() : testing::StationRig(1'700'000'000'000) {}
  void SetUp() override {
    station = std::make_unique<Station>(Parts(), front);
    station->Open();
    out = dir.File("out");
    fs::create_directories(out);
  }
  void TearDown() override {
    if (station && station->IsOpen()) {
      front.ctrlDown = true;
      EXPECT_TRUE(station->Close());
    }
    station.reset();
  }
  void Add(const std::string& label, const std::string& bib, const std::string& time) {
    CChrono race;
    ASSERT_TRUE(race.ParseTimeHundredths(time));
    (void)records.AddDetectionRecord(label, bib, CChrono(), race, 0, false);
  }
  bool LogHas(const std::string& text) { return LogCount(text) > 0; }
  long LogCount(const std::string& text) {
    station->DrainEvents();
    const auto& lines = station->LogLines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }
  // The one-second step, as the window's timer runs it.
  void Step() { station->OnTimer(Station::kTimerExportStep); }
  void WaitForTheExportThread() {
    while (station->BackgroundExport().IsRunning()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // A period later: the step starts a run, which is waited for and collected by the next step.
  void RunOnePeriodLater() {
    clock.Advance(kPeriodMs + 1000);
    Step();
    WaitForTheExportThread();
    Step();
  }
  void SaveExportSettings(const std::string& folder) {
    store.WriteSettingText(kExportLinesSection, "Delta", "0:0:0");
    store.WriteSettingText(kExportLinesSection, "ExportPath", folder);
    store.WriteSettingBool(kBackgroundExportSection, "BExport", true);
  }

  testing::RecordingFrontEnd front;
  std::unique_ptr<Station> station;
  std::string out;
};

TEST_F(ExportStationTest, ExportStepRunsTheBackgroundExportOnePeriodLater) {
  Add("FIN", "1", "10:00:00.00");
  SaveExportSettings(out);
  Step();
  EXPECT_EQ(station->BackgroundExport().RunsStarted(), 0);
  clock.Advance(kPeriodMs + 1);
  Step();
  EXPECT_EQ(station->BackgroundExport().RunsStarted(), 1);
  WaitForTheExportThread();
  EXPECT_EQ(testing::ReadFile(out + "/export-FIN-1.kol"), "1\tFIN\t1\t1\t10:00:00.00\t1\r\n");
  ASSERT_EQ(front.timers.count(Station::kTimerExportStep), 1u);
  EXPECT_TRUE(front.timers[Station::kTimerExportStep].oneShot);
  EXPECT_EQ(front.messages.size(), 0u);  // silent
}

TEST_F(ExportStationTest, BackgroundExportLeavesTheWindowThreadFree) {
  // 100 000 detections: 4 detectors, 500 runners, 50 passages 3 min apart.
  for (int p = 0; p < 50; ++p) {
    for (int r = 1; r <= 500; ++r) {
      for (int d = 1; d <= 4; ++d) {
        CChrono race(8 * 3600 + p * 180 + r % 120, static_cast<std::uint16_t>(d * 30));
        (void)records.AddDetectionRecord("D" + std::to_string(d), std::to_string(r), CChrono(),
                                         race, 0, false);
      }
    }
  }
  SaveExportSettings(out);
  Step();
  clock.Advance(kPeriodMs + 1);
  // A box goes on recording, and its log lines reach the window, while the export runs.
  std::atomic<bool> stop{false};
  std::thread box([&] {
    for (int n = 1; !stop; ++n) {
      (void)records.AddDetectionRecord("D5", std::to_string(n), CChrono(), CChrono(36000, 0), 0,
                                       false);
      log.PostLog(0, "+ box line " + std::to_string(n));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  SteadyClock::duration longest{};
  auto timed = [&](auto&& work) {
    SteadyClock::time_point start = SteadyClock::now();
    work();
    longest = std::max(longest, SteadyClock::now() - start);
  };
  timed([&] { Step(); });
  ASSERT_EQ(station->BackgroundExport().RunsStarted(), 1);
  int stepsWhileRunning = 0;
  int drainsWhileRunning = 0;  // batches of events handled with the export known to run
  while (station->BackgroundExport().IsRunning()) {
    std::size_t handled = 0;
    timed([&] {
      handled = station->DrainEvents();
      station->RefreshBoxStatesAndCounter();  // counts the records under their lock
    });
    clock.Advance(1000);
    timed([&] { Step(); });
    ++stepsWhileRunning;
    if (handled > 0 && station->BackgroundExport().IsRunning()) {
      ++drainsWhileRunning;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  box.join();
  std::printf("longest window-thread stall while the export ran: %.1f ms over %d steps\n",
              std::chrono::duration<double, std::milli>(longest).count(), stepsWhileRunning);
  EXPECT_NE(station->BackgroundExport().LastRunThread(), std::thread::id());
  EXPECT_NE(station->BackgroundExport().LastRunThread(), std::this_thread::get_id());
  EXPECT_GT(drainsWhileRunning, 0);
  Step();
  // Every detector's last passage is there, with every runner.
  for (int d = 1; d <= 4; ++d) {
    std::string last = testing::ReadFile(out + "/export-D" + std::to_string(d) + "-50.kol");
    EXPECT_EQ(std::count(last.begin(), last.end(), '\n'), 500) << d;
  }
  EXPECT_TRUE(LogHas("+ box line 1"));
}

TEST_F(ExportStationTest, ARunDueWhileOneRunsIsSkippedAndThePeriodCountsFromItsEnd) {
  Add("FIN", "1", "10:00:00.00");
  SaveExportSettings(out);
  Step();
  {
    RecordsLockHolder holder(records);  // the run cannot take its snapshot yet
    clock.Advance(kPeriodMs + 1000);
    Step();  // the step itself never needs the records
    ASSERT_EQ(station->BackgroundExport().RunsStarted(), 1);
    clock.Advance(3 * kPeriodMs);
    Step();
    EXPECT_TRUE(station->BackgroundExport().IsRunning());
    EXPECT_EQ(station->BackgroundExport().RunsStarted(), 1);
  }
  WaitForTheExportThread();
  Step();  // collects the run, which ended 4 periods and a second after the clock started
  EXPECT_TRUE(fs::exists(out + "/export-FIN-1.kol"));
  clock.Advance(kPeriodMs);
  Step();
  EXPECT_EQ(station->BackgroundExport().RunsStarted(), 1);  // one whole period after its end
  clock.Advance(1);
  Step();
  EXPECT_EQ(station->BackgroundExport().RunsStarted(), 2);
  WaitForTheExportThread();
}

TEST_F(ExportStationTest, FailuresAreLoggedOncePerErrorAndTheReturnToNormalOnce) {
  Add("FIN", "1", "10:00:00.00");
  store.WriteSettingText(kExportLinesSection, "ExportPath", out);
  store.WriteSettingBool(kBackgroundExportSection, "BExport", true);
  Step();
  const std::string noGap = StrF(Tr(kMsgBackgroundExportFailed).c_str(),
                                 StrF(Tr(kMsgBackgroundInvalidGap).c_str(), "").c_str());
  RunOnePeriodLater();
  RunOnePeriodLater();
  EXPECT_EQ(LogCount(noGap), 1);
  // A folder that cannot be made: a new error, logged once too.
  testing::WriteFile(dir.File("blocker"), "a file");
  std::string blocked = dir.File("blocker") + "/out";
  store.WriteSettingText(kExportLinesSection, "Delta", "0:0:0");
  store.WriteSettingText(kExportLinesSection, "ExportPath", blocked);
  const std::string notWritten = StrF(
      Tr(kMsgBackgroundExportFailed).c_str(),
      StrF(Tr(kMsgBackgroundNotWritten).c_str(), (blocked + "/export-FIN-1.kol").c_str()).c_str());
  RunOnePeriodLater();
  RunOnePeriodLater();
  EXPECT_EQ(LogCount(notWritten), 1);
  store.WriteSettingText(kExportLinesSection, "ExportPath", out);
  RunOnePeriodLater();
  RunOnePeriodLater();
  EXPECT_EQ(LogCount(Tr(kMsgBackgroundExportWorks)), 1);
  EXPECT_TRUE(fs::exists(out + "/export-FIN-1.kol"));
  // Failing again after working: the same error is news again.
  store.WriteSettingText(kExportLinesSection, "ExportPath", blocked);
  RunOnePeriodLater();
  EXPECT_EQ(LogCount(notWritten), 2);
  EXPECT_EQ(front.messages.size(), 0u);  // the log only: no message box
}

TEST_F(ExportStationTest, ClosingWaitsForARunningExportWithTheWindowAlive) {
  Add("FIN", "1", "10:00:00.00");
  SaveExportSettings(out);
  Step();
  auto holder = std::make_unique<RecordsLockHolder>(records);
  clock.Advance(kPeriodMs + 1000);
  Step();
  ASSERT_TRUE(station->BackgroundExport().IsRunning());
  // The run can go on once the window has handled its events three times during the wait.
  front.onPump = [&] {
    if (front.pumps == 3) {
      holder->Release();
    }
  };
  front.ctrlDown = true;
  ASSERT_TRUE(station->Close());
  EXPECT_GE(front.pumps, 3);
  EXPECT_FALSE(station->BackgroundExport().IsRunning());
  EXPECT_TRUE(fs::exists(out + "/export-FIN-1.kol"));
  EXPECT_EQ(front.timers.count(Station::kTimerExportStep), 0u);
}

TEST_F(ExportStationTest, ExportAllButtonWritesTheExportFile) {
  settings.GVarnexExportFile = dir.File("Lapora.kol");
  Add("FIN", "1", "10:00:00.00");
  sound.played.clear();
  station->Command(Button::kExportAll);
  EXPECT_EQ(testing::ReadFile(dir.File("Lapora.kol")), "1\tFIN\t1\t1\t10:00:00.00\t1\r\n");
  EXPECT_TRUE(LogHas(StrF(Tr(kMsgExportAllDone).c_str(), dir.File("Lapora.kol").c_str())));
  EXPECT_NE(std::find(sound.played.begin(), sound.played.end(), kSoundDone), sound.played.end());
}

// The dialog's snapshot is taken on a worker: while it waits for the records lock, the window
// goes on handling its events, and the dialog opens over the whole snapshot once it is taken.
// Cancelled, it opens nothing.
TEST_F(ExportStationTest, OpeningTakesTheSnapshotOnAWorkerWhileTheWindowGoesOn) {
  Add("FIN", "1", "10:00:00.00");
  Add("FIN", "2", "10:00:01.00");
  int pumpsWhileHeld = 0;
  {
    RecordsLockHolder holder(records);
    front.onPump = [&] {
      if (++pumpsWhileHeld == 3) {
        holder.Release();
      }
    };
    station->OpenExportDetectionLinesDialog();
    front.onPump = {};
  }
  EXPECT_GE(pumpsWhileHeld, 3);
  EXPECT_EQ(front.exportSnapshotSizes, std::vector<std::size_t>{2});

  front.onJob = [](CProgressJob& job) { job.Cancel(); };
  station->OpenExportDetectionLinesDialog();
  EXPECT_EQ(front.exportSnapshotSizes.size(), 1u);
  EXPECT_FALSE(station->IsBusy());
}

TEST(ExportConsoleTest, ExportCommandRunsTheSavedExportAndPrintsTheMessage) {
  testing::StationRig rig;
  std::string out = rig.dir.File("out");
  fs::create_directories(out);
  rig.store.WriteSettingText(kExportLinesSection, "Delta", "0:0:0");
  rig.store.WriteSettingText(kExportLinesSection, "ExportPath", out);
  CChrono race(36000, 0);
  (void)rig.records.AddDetectionRecord("FIN", "1", CChrono(), race, 0, false);
  std::FILE* printed = std::tmpfile();
  ASSERT_NE(printed, nullptr);
  {
    ConsoleFrontEnd console(rig.events, -1, printed);
    Station station(rig.Parts(), console);
    console.Attach(station);
    console.RunCommand("export");
  }
  std::fflush(printed);
  std::rewind(printed);
  std::string text;
  char buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, printed)) > 0) {
    text.append(buffer, read);
  }
  std::fclose(printed);
  EXPECT_TRUE(fs::exists(out + "/export-FIN-1.kol"));
  EXPECT_NE(text.find(Cp1252ToUtf8("message: " + Tr(kMsgExportDone))), std::string::npos) << text;
  EXPECT_NE(text.find(out + "/export-FIN-1.kol"), std::string::npos);
}

}  // namespace
}  // namespace lapora
