#include "station/station.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "foundation/speech.h"
#include "foundation/text.h"
#include "platform/text_to_speech.h"
#include "resources/messages_boxslots.h"
#include "resources/messages_export.h"
#include "resources/messages_foundation.h"
#include "resources/messages_listops.h"
#include "resources/messages_station.h"
#include "station/configuration.h"
#include "station/recording_front_end.h"
#include "support/local_time.h"
#include "support/station_rig.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::RecordingFrontEnd;

using testing::LocalMs;

class StationTest : public ::testing::Test, public testing::StationRig {
 protected:
  StationTest() : StationRig(LocalMs(2026, 6, 9, 10, 0, 0, 0)) {}

  Station& MakeStation() {
    station = std::make_unique<Station>(Parts("Lapora-20260609-100000.dat", "Version 1.40 - test"),
                                        front);
    return *station;
  }

  CLogDetectionItem Item(int n) {
    return CLogDetectionItem{"10:00:" + std::to_string(n) + "\tBox 1\t# " + std::to_string(n),
                             CKolResult{}};
  }

  std::string LogFile() const { return ReadFile(dir.File("Lapora.log")); }

  // The recorded lines are in the file and what their records brought is handled, as the
  // window's loop does when the writer's events arrive.
  void Settle(Station& s) {
    EXPECT_TRUE(records.FlushDetectionFile());
    s.DrainEvents();
  }

  void DeclareBox(int index, const std::string& host, int port, const std::string& detector) {
    std::string n = std::to_string(index);
    ASSERT_TRUE(store.WriteSettingText("OstraBoxes", "BoxHost" + n, host));
    ASSERT_TRUE(store.WriteSettingInt("OstraBoxes", "BoxPort" + n, port));
    ASSERT_TRUE(store.WriteSettingText("OstraBoxes", "BoxIdDetector" + n, detector));
  }

  // An accepted manual entry of bib at 10:05:30.5 on detector index `detector`.
  ManualEntry Entry(Station& s, const std::string& bib, int detector = 0, int correction = 0) {
    ManualEntryCheckResult checked = s.CheckManualEntry({bib, "10:05:30.5", detector, correction});
    EXPECT_TRUE(checked.accepted) << checked.message;
    return checked.entry;
  }

  RecordingFrontEnd front;
  std::unique_ptr<Station> station;
};

bool InOrder(const std::vector<std::string>& calls, const std::vector<std::string>& expected) {
  auto it = calls.begin();
  for (const std::string& want : expected) {
    it = std::find(it, calls.end(), want);
    if (it == calls.end()) {
      return false;
    }
    ++it;
  }
  return true;
}

TEST_F(StationTest, OpeningRunsItsStepsInOrderAndWritesTheBanner) {
  Station& s = MakeStation();
  s.Open();
  EXPECT_TRUE(InOrder(
      front.calls, {"PrepareWindow", "SetCheckBoxes", "SetDirectState", "SetCounterText",
                    "SetVersionText", "SelectLevelEntry 2", "StartTimer 33861", "StartTimer 34966",
                    "SetCounterText", "StartTimer 22662", "StartTimer 34137"}));
  EXPECT_EQ(front.timers[Station::kTimerDayTracking].periodMs, 500);
  EXPECT_FALSE(front.timers[Station::kTimerDayTracking].oneShot);
  EXPECT_TRUE(front.timers[Station::kTimerConfigDialog].oneShot);
  EXPECT_EQ(front.timers[Station::kTimerConfigDialog].periodMs, 100);
  EXPECT_EQ(front.timers[Station::kTimerPing].periodMs, 30000);
  EXPECT_EQ(front.versionText, "Version 1.40 - test");
  EXPECT_TRUE(records.IsDetectionFileOpen());

  // The log file starts with an empty line and the start banner.
  std::string file = LogFile();
  ASSERT_EQ(file.substr(0, 2), "\r\n");
  EXPECT_NE(file.find(" : " + StrF(Tr(kMsgStartBanner).c_str(), "Version 1.40 - test") + "\r\n"),
            std::string::npos);

  // The window settings were written back with their defaults.
  std::string ini = ReadFile(dir.File("Lapora.ini"));
  for (const char* key : {"BAbsClock=0", "LogWinLevel=50", "LogFileLevel=75", "BLogDetections=1",
                          "BScrollDetections=1"}) {
    EXPECT_NE(ini.find(key), std::string::npos) << key;
  }

  // Posted texts reach the log list once the queue is drained: the incoming file first, then
  // the chip table's result.
  s.DrainEvents();
  ASSERT_GE(front.logLines.size(), 2u);
  EXPECT_NE(front.logLines[0].find("+++ "), std::string::npos);
  EXPECT_NE(front.logLines[0].find("Lapora-20260609-100000.dat"), std::string::npos);
  EXPECT_EQ(s.LogLines().size(), front.logLines.size());
}

TEST_F(StationTest, ClosingAsksThenShutsDownInOrder) {
  Station& s = MakeStation();
  s.Open();
  records.AddDetectionRecord("Box 1", "12", CChrono(), CChrono(), 0, true);
  ASSERT_TRUE(chipTable.AddChipEntry("E200", 7));
  // A burst's lines still queued when the operator closes.
  constexpr int kQueued = 20000;
  for (int i = 0; i < kQueued; ++i) {
    log.PostLog(0, "+ queued " + std::to_string(i));
  }
  front.calls.clear();

  ASSERT_TRUE(s.Close());
  EXPECT_EQ(sound.played, std::vector<int>{kSoundExit});
  EXPECT_TRUE(
      InOrder(front.calls, {"AskYesNo", "StopTimer 22662", "StartTimer 17732", "CloseWindow"}));
  EXPECT_EQ(front.questions.at(0), Tr(kMsgExitQuestion));
  EXPECT_FALSE(records.IsDetectionFileOpen());
  EXPECT_EQ(records.CountValidRecords(), 0);
  EXPECT_EQ(chipTable.ChipTableCount(), 0u);
  EXPECT_FALSE(s.IsOpen());
  EXPECT_TRUE(front.timers.empty());

  // The queued lines in order, the farewell line, then the exit banner, end the log file.
  std::string file = LogFile();
  std::size_t at = 0;
  for (int i = 0; i < kQueued; ++i) {
    std::string line = " : + queued " + std::to_string(i) + "\r\n";
    at = file.find(line, at);
    ASSERT_NE(at, std::string::npos) << "line " << i;
  }
  std::size_t farewell = file.find(" : + Sortie du module d'acquisition...\r\n");
  EXPECT_LT(at, farewell);
  std::size_t banner = file.find(" : ------------------------ Sortie Lapora\r\n");
  ASSERT_NE(farewell, std::string::npos);
  ASSERT_NE(banner, std::string::npos);
  EXPECT_LT(farewell, banner);
  EXPECT_EQ(file.size(),
            banner + std::string(" : ------------------------ Sortie Lapora\r\n").size());

  // Texts posted after closing are dropped.
  log.PostLog(0, "late");
  EXPECT_EQ(events.PendingCount(), 0u);
}

TEST_F(StationTest, AnsweringNoLeavesEverythingRunning) {
  Station& s = MakeStation();
  s.Open();
  front.answer = false;
  front.calls.clear();
  EXPECT_FALSE(s.Close());
  EXPECT_TRUE(s.IsOpen());
  EXPECT_TRUE(records.IsDetectionFileOpen());
  EXPECT_EQ(front.timers.count(Station::kTimerConfigDialog), 1u);
  EXPECT_TRUE(front.CallsStartingWith("CloseWindow").empty());
  EXPECT_EQ(LogFile().find("Sortie Lapora"), std::string::npos);
}

TEST_F(StationTest, CtrlHeldClosesAtOnceAndBeepSettingSilencesTheExit) {
  {
    Station& s = MakeStation();
    s.Open();
    front.ctrlDown = true;
    ASSERT_TRUE(s.Close());
    EXPECT_TRUE(sound.played.empty());
    EXPECT_TRUE(front.questions.empty());
  }
  {
    front = RecordingFrontEnd{};
    settings.GVarnexBeepWhenQuit = 0;
    Station& s = MakeStation();
    s.Open();
    ASSERT_TRUE(s.Close());
    EXPECT_TRUE(sound.played.empty());
    EXPECT_EQ(front.questions.size(), 1u);
  }
}

TEST_F(StationTest, DayTrackingCountsUpPastMidnight) {
  // A race that started on 9 June: race days 0..3 are 9 to 12 June.
  clock.SetUnixMs(LocalMs(2026, 6, 9, 23, 59, 59, 800));
  settings.SetRaceDayDates({DateFromToday(0, clock.NowUnix()), DateFromToday(1, clock.NowUnix()),
                            DateFromToday(2, clock.NowUnix()), DateFromToday(3, clock.NowUnix())});
  Station& s = MakeStation();
  s.Open();
  s.OnTimer(Station::kTimerDayTracking);
  EXPECT_EQ(settings.GDaysToAdd, 0);
  EXPECT_FALSE(front.longRaceShown);

  clock.Advance(500);  // 00:00:00.300 on 10 June
  s.OnTimer(Station::kTimerDayTracking);
  EXPECT_EQ(settings.GDaysToAdd, 1);
  EXPECT_TRUE(front.longRaceShown);
  EXPECT_EQ(front.longRaceText, "+24h");
  EXPECT_EQ(store.ReadSettingInt("Settings", "GDaysToAdd", -1), 1);

  clock.Advance(24 * 3600 * 1000);
  s.OnTimer(Station::kTimerDayTracking);
  EXPECT_EQ(settings.GDaysToAdd, 2);
  EXPECT_EQ(front.longRaceText, "+48h");
  EXPECT_EQ(store.ReadSettingInt("Settings", "GDaysToAdd", -1), 2);

  // Past the last race day nothing matches: back to day 0, indicator hidden.
  clock.Advance(2 * 24 * 3600 * 1000);
  s.OnTimer(Station::kTimerDayTracking);
  EXPECT_EQ(settings.GDaysToAdd, 0);
  EXPECT_FALSE(front.longRaceShown);
  EXPECT_EQ(store.ReadSettingInt("Settings", "GDaysToAdd", -1), 0);
}

TEST_F(StationTest, LevelSelectorShowsAndSetsTheLevel) {
  EXPECT_EQ(Station::LevelEntryFor(0), 0);
  EXPECT_EQ(Station::LevelEntryFor(75), 3);
  EXPECT_EQ(Station::LevelEntryFor(100), 4);
  EXPECT_EQ(Station::LevelEntryFor(40), 1);  // no entry: the second one, level unchanged

  ASSERT_TRUE(store.WriteSettingInt("Settings", "LogWinLevel", 40));
  Station& s = MakeStation();
  s.Open();
  EXPECT_EQ(front.levelEntry, 1);
  EXPECT_EQ(log.Level(), 40);
  s.DrainEvents();
  std::size_t shown = front.logLines.size();
  log.PostLog(40, "+ at forty");
  log.PostLog(45, "+ at forty-five");
  s.DrainEvents();
  ASSERT_EQ(front.logLines.size(), shown + 1);
  EXPECT_NE(front.logLines.back().find("+ at forty"), std::string::npos);

  s.SelectLogLevel(1);
  s.DrainEvents();
  EXPECT_NE(front.logLines.back().find("+ Log level set to 25"), std::string::npos);
  EXPECT_EQ(log.Level(), 25);
  EXPECT_EQ(settings.LogWinLevel, 25);
  EXPECT_EQ(store.ReadSettingInt("Settings", "LogWinLevel", -1), 25);

  s.SelectLogLevel(7);  // no such entry: nothing changes
  EXPECT_EQ(log.Level(), 25);
}

TEST_F(StationTest, DetectionsListPurgesAtTwelveThousandAndOne) {
  Station& s = MakeStation();
  s.Open();
  settings.BScrollDetections = 0;
  for (int i = 0; i < 12000; ++i) {
    s.AddDetectionItem(Item(i));
  }
  EXPECT_EQ(s.DetectionItems().size(), 12000u);
  EXPECT_EQ(LogFile().find("Purge Detections"), std::string::npos);

  settings.BScrollDetections = 1;
  s.AddDetectionItem(Item(12000));
  EXPECT_EQ(s.DetectionItems().size(), 10001u);
  EXPECT_EQ(front.detectionRows, 10001u);
  EXPECT_EQ(s.DetectionItems().front().text, Item(2000).text);
  EXPECT_EQ(front.topIndex[ListId::kDetections], 10001u - 15);
  std::string file = LogFile();
  EXPECT_NE(file.find(" : Purge Detections Window content...\r\n"), std::string::npos);
  EXPECT_NE(file.find(" : Purge Detections Window done\r\n"), std::string::npos);
}

TEST_F(StationTest, PostedDetectionsArriveAsOneBatchAndScrollAlong) {
  Station& s = MakeStation();
  s.Open();
  s.DrainEvents();
  front.calls.clear();
  front.topIndex[ListId::kDetections] = 4;
  for (int i = 0; i < 300; ++i) {
    events.Post(DetectionItemEvent{Item(i)});
  }
  events.Post(RefreshRequestEvent{});
  events.Post(RefreshRequestEvent{});  // dropped by the queue: one refresh is already pending
  EXPECT_EQ(s.DrainEvents(), 301u);
  EXPECT_EQ(front.CallsStartingWith("AppendDetectionItems"),
            std::vector<std::string>{"AppendDetectionItems 300"});
  EXPECT_EQ(front.CallsStartingWith("SetCounterText").size(), 1u);  // refreshes coalesced
  EXPECT_EQ(front.topIndex[ListId::kDetections], 304u);
  EXPECT_EQ(s.DetectionItems().back().text, Item(299).text);

  // Without "Scroll" the list stays where it is.
  settings.BScrollDetections = 0;
  events.Post(DetectionItemEvent{Item(300)});
  s.DrainEvents();
  EXPECT_EQ(front.topIndex[ListId::kDetections], 304u);
}

TEST_F(StationTest, ABurstDrainedTurnByTurnIsShownOncePerFrameAndLosesNothing) {
  Station& s = MakeStation();
  s.Open();
  s.DrainEvents();
  settings.BScrollDetections = 1;
  front.calls.clear();
  // A burst past the list's cap, each detection with its log line and the counter's refresh
  // request, drained by turns that must end at once in a frame that never ends: the first
  // turn shows (nothing was shown yet), the others only handle. A box thread writes a line
  // straight to the file meanwhile.
  constexpr int kBurst = 13000;
  Station::PacedDrain turn;
  for (int i = 0; i < kBurst; ++i) {
    events.Post(DetectionItemEvent{Item(i)});
    log.PostLog(0, "+ read " + std::to_string(i));
    if (i % 100 == 99) {
      events.Post(RefreshRequestEvent{});
      turn = s.DrainEventsPaced(std::chrono::milliseconds(0), std::chrono::hours(1));
    }
    if (i == kBurst / 2) {
      std::thread writer([this] { log.WriteLog("+ straight from a box thread"); });
      writer.join();
    }
  }
  while (turn.eventsLeft) {
    turn = s.DrainEventsPaced(std::chrono::milliseconds(0), std::chrono::hours(1));
  }
  EXPECT_TRUE(turn.unshown);
  EXPECT_EQ(front.CallsStartingWith("AppendDetectionItems").size(), 1u);
  EXPECT_TRUE(front.CallsStartingWith("SetCounterText").empty());

  // At the frame's end everything shows, purged as one batch would be.
  s.ShowPending();
  EXPECT_FALSE(s.DrainEventsPaced().unshown);
  EXPECT_EQ(front.CallsStartingWith("AppendDetectionItems").size(), 2u);
  EXPECT_EQ(front.CallsStartingWith("SetCounterText").size(), 1u);
  ASSERT_EQ(s.DetectionItems().size(), 11000u);
  EXPECT_EQ(s.DetectionItems().front().text, Item(2000).text);
  EXPECT_EQ(s.DetectionItems().back().text, Item(kBurst - 1).text);
  EXPECT_EQ(front.detectionRows, 11000u);
  EXPECT_EQ(front.topIndex[ListId::kDetections], 11000u - 15);
  EXPECT_NE(front.logLines.back().find("+ read 12999"), std::string::npos);

  // The file has every line once, in order, the other thread's line among them.
  std::string file = LogFile();
  std::size_t at = 0;
  for (int i = 0; i < kBurst; ++i) {
    std::string line = " : + read " + std::to_string(i) + "\r\n";
    std::size_t found = file.find(line, at);
    ASSERT_NE(found, std::string::npos) << "line " << i;
    at = found + line.size();
  }
  EXPECT_EQ(file.find(" : + read 0\r\n", file.find(" : + read 0\r\n") + 1), std::string::npos);
  EXPECT_NE(file.find(" : + straight from a box thread\r\n"), std::string::npos);
  EXPECT_NE(file.find(" : Purge Detections Window done\r\n"), std::string::npos);
}

TEST_F(StationTest, SummaryAndLogListsPurgeAtEightThousandAndOne) {
  Station& s = MakeStation();
  s.Open();
  s.DrainEvents();
  for (int i = 0; i < 8000; ++i) {
    s.AddSummaryEntry(CSummaryItem{"Runner", i, "10:00:00", "1", "1st", 0});
  }
  EXPECT_EQ(s.SummaryEntries().size(), 8000u);
  s.AddSummaryEntry(CSummaryItem{"Runner", 8000, "10:00:00", "1", "1st", 0});
  EXPECT_EQ(s.SummaryEntries().size(), 6001u);
  EXPECT_EQ(front.summaryRows, 6001u);
  EXPECT_EQ(s.SummaryEntries().front().bib, 2000);
  std::string file = LogFile();
  EXPECT_NE(file.find(" : Purge Summary Window content...\r\n"), std::string::npos);
  EXPECT_NE(file.find(" : Purge Summary Window done\r\n"), std::string::npos);

  // The log list: lines already there plus posted ones up to 8001.
  std::size_t already = s.LogLines().size();
  for (std::size_t i = already; i < 8001; ++i) {
    log.PostLog(0, "+ line " + std::to_string(i));
  }
  while (s.DrainEvents() > 0) {
  }
  EXPECT_EQ(s.LogLines().size(), 6001u);
  EXPECT_EQ(front.logLines.size(), 6001u);
  EXPECT_NE(front.logLines.back().find("+ line 8000"), std::string::npos);
  EXPECT_NE(LogFile().find(" : Purge Log Window done\r\n"), std::string::npos);
}

TEST_F(StationTest, CheckBoxesStoreTheirStateAndScrollShowsTheLastFifteen) {
  Station& s = MakeStation();
  s.Open();
  settings.BScrollDetections = 0;
  for (int i = 0; i < 100; ++i) {
    s.AddDetectionItem(Item(i));
  }
  s.SetScrollDetections(false);
  EXPECT_EQ(store.ReadSettingInt("Settings", "BScrollDetections", -1), 0);
  s.SetScrollDetections(true);
  EXPECT_EQ(front.topIndex[ListId::kDetections], 85u);  // the 86th entry is the first visible
  EXPECT_EQ(settings.BScrollDetections, 1);
  EXPECT_EQ(store.ReadSettingInt("Settings", "BScrollDetections", -1), 1);

  s.SetLogDetections(false);
  EXPECT_EQ(settings.BLogDetections, 0);
  EXPECT_EQ(store.ReadSettingInt("Settings", "BLogDetections", -1), 0);
}

TEST_F(StationTest, CounterAndButtonsFollowTheValidRecords) {
  Station& s = MakeStation();
  s.Open();
  EXPECT_EQ(front.counterText, DetectionCounterText(0));
  EXPECT_FALSE(front.buttons[Button::kExportAll].enabled);
  EXPECT_FALSE(front.buttons[Button::kForget].enabled);
  EXPECT_FALSE(front.buttons[Button::kSyncClocks].enabled);
  EXPECT_FALSE(front.buttons[Button::kShowClocks].enabled);
  EXPECT_FALSE(front.buttons[Button::kConnectBoxes].pressed);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(front.boxes[i].disc, BoxDisc::kGrey);
  }

  records.AddDetectionRecord("Box 1", "12", CChrono(), CChrono(), 0, false);
  records.AddDetectionRecord("Box 1", "13", CChrono(), CChrono(), 0, false);
  events.Post(RefreshRequestEvent{});
  s.DrainEvents();
  EXPECT_EQ(front.counterText, DetectionCounterText(2));
  EXPECT_TRUE(front.buttons[Button::kExportAll].enabled);
  EXPECT_TRUE(front.buttons[Button::kForget].enabled);
}

TEST_F(StationTest, ClearingAListEmptiesItAndPlaysTheSound) {
  Station& s = MakeStation();
  s.Open();
  s.AddDetectionItem(Item(1));
  s.AddSummaryEntry(CSummaryItem{"A  B", 5, "10:00:00", "1", "1st", 0});
  s.DrainEvents();
  s.ClearList(ListId::kDetections);
  s.ClearList(ListId::kSummary);
  s.ClearList(ListId::kLog);
  EXPECT_TRUE(s.DetectionItems().empty());
  EXPECT_TRUE(s.SummaryEntries().empty());
  EXPECT_TRUE(s.LogLines().empty());
  EXPECT_EQ(front.detectionRows, 0u);
  EXPECT_TRUE(front.logLines.empty());
  EXPECT_EQ(sound.played, (std::vector<int>{134, 134, 134}));
}

TEST_F(StationTest, HelpDocumentOpensWhenPresentElseSaysSo) {
  Station& s = MakeStation();
  s.Open();
  s.OpenHelpDocument();
  EXPECT_EQ(front.messages, std::vector<std::string>{Tr(kMsgHelpNotFound)});
  EXPECT_TRUE(front.openedDocuments.empty());

  testing::WriteFile(dir.File("Lapora.pdf"), "%PDF-1.4\n");
  s.OpenHelpDocument();
  EXPECT_EQ(front.openedDocuments, std::vector<std::string>{dir.File("Lapora.pdf")});
  EXPECT_EQ(front.messages.size(), 1u);
}

TEST_F(StationTest, OpeningMakesAnFtpServersFileOpenToOthersItsOwnersAlone) {
  const std::string servers = dir.File("FtpServers.dat");
  testing::WriteFile(servers, "Main\tftp.example.org\ttimer\tsecret\t/results\r\n");
  ASSERT_EQ(chmod(servers.c_str(), 0644), 0);
  Station& s = MakeStation();
  s.Open();
  s.DrainEvents();
  struct stat info {};
  ASSERT_EQ(stat(servers.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  const std::string line = StrF(Tr(kMsgFtpServersNarrowed).c_str(), servers.c_str(), 0644u);
  EXPECT_EQ(std::count_if(
                s.LogLines().begin(), s.LogLines().end(),
                [&](const std::string& shown) { return shown.find(line) != std::string::npos; }),
            1);
  EXPECT_NE(LogFile().find(line), std::string::npos);

  // Private already: nothing to say the next time.
  station.reset();
  MakeStation().Open();
  station->DrainEvents();
  for (const std::string& shown : station->LogLines()) {
    EXPECT_EQ(shown.find(servers), std::string::npos) << shown;
  }
}

TEST_F(StationTest, AlertsBringTheWindowUpWithTheirMessage) {
  Station& s = MakeStation();
  s.Open();
  s.DrainEvents();
  front.calls.clear();
  log.PostAlert("Something bad", true);
  s.DrainEvents();
  EXPECT_TRUE(InOrder(front.calls, {"BringToFront", "ShowMessage", "AppendLogLines 1"}));
  EXPECT_EQ(front.messages.back(), "Something bad");
  EXPECT_NE(front.logLines.back().find("######## Something bad"), std::string::npos);
}

TEST_F(StationTest, ExportTimerIsReArmedAfterEachRun) {
  Station& s = MakeStation();
  s.Open();
  front.timers.erase(Station::kTimerExportStep);
  s.OnTimer(Station::kTimerExportStep);
  ASSERT_EQ(front.timers.count(Station::kTimerExportStep), 1u);
  EXPECT_TRUE(front.timers[Station::kTimerExportStep].oneShot);
  EXPECT_EQ(front.timers[Station::kTimerExportStep].periodMs, 1000);
}

TEST_F(StationTest, OpeningLoadsTheBoxSlotsAndShowsThemUntilConnected) {
  DeclareBox(0, "192.168.1.21", 10000, "31");
  DeclareBox(1, "/dev/ttyS7", 9600, "32");
  Station& s = MakeStation();
  s.Open();
  auto title = [&](int number) {
    return StrF(Tr(kMsgBoxSlotTitle).c_str(), number,
                s.BoxSlots().Box(number)->Transport()->GetLabel().c_str()) +
           "\n";
  };
  EXPECT_EQ(s.BoxSlots().Box(1)->Transport()->GetLabel(), "[21:10000 31]");
  EXPECT_EQ(front.boxes[0].disc, BoxDisc::kRed);
  EXPECT_EQ(front.boxes[0].tooltip, title(1) + Tr(kMsgBoxSlotNotConnected));
  EXPECT_EQ(front.boxes[1].disc, BoxDisc::kRed);
  EXPECT_EQ(front.boxes[1].tooltip, title(2) + Tr(kMsgBoxSlotNotConnected));
  for (int i : {2, 3}) {
    EXPECT_EQ(front.boxes[i].disc, BoxDisc::kGrey);
    EXPECT_EQ(front.boxes[i].tooltip, Tr(kMsgBoxUndefined));
  }
  EXPECT_FALSE(front.buttons[Button::kConnectBoxes].pressed);
  EXPECT_FALSE(front.buttons[Button::kSyncClocks].enabled);
  EXPECT_FALSE(front.buttons[Button::kShowClocks].enabled);

  // An undeclared slot has no menu; a red one offers only Connect.
  s.BoxDiscClicked(2);
  EXPECT_TRUE(front.CallsStartingWith("ShowBoxMenu").empty());
  s.BoxDiscClicked(0);
  ASSERT_EQ(front.CallsStartingWith("ShowBoxMenu"), std::vector<std::string>{"ShowBoxMenu 0"});
  const std::vector<BoxMenuItem>& menu = front.boxMenus.back();
  ASSERT_FALSE(menu.empty());
  for (const BoxMenuItem& item : menu) {
    EXPECT_EQ(item.enabled, item.id == BoxMenuId::kConnect) << item.label;
  }
  // With Ctrl held the channel items replace accept and dismiss.
  front.ctrlDown = true;
  s.BoxDiscClicked(1);
  bool channels = false;
  bool accept = false;
  for (const BoxMenuItem& item : front.boxMenus.back()) {
    channels = channels || item.id == BoxMenuId::kOpenChannel1;
    accept = accept || item.id == BoxMenuId::kAccept;
  }
  EXPECT_TRUE(channels);
  EXPECT_FALSE(accept);
}

TEST_F(StationTest, ToggleWithoutDeclaredBoxesAlertsAndStaysReleased) {
  Station& s = MakeStation();
  s.Open();
  s.Command(Button::kConnectBoxes);
  s.DrainEvents();
  EXPECT_EQ(front.messages, std::vector<std::string>{Tr(kMsgNoBoxDeclared)});
  EXPECT_FALSE(front.buttons[Button::kConnectBoxes].pressed);
  EXPECT_TRUE(front.questions.empty());  // connecting asks nothing
}

// A voice that keeps what it was asked to say.
class RecordingVoice : public TextToSpeech {
 public:
  explicit RecordingVoice(std::vector<std::string>* said) : m_said(said) {}
  bool Speak(std::string_view utf8, bool) override {
    m_said->emplace_back(utf8);
    return true;
  }
  void Cancel() override {}
  void WaitUntilDone() override {}

 private:
  std::vector<std::string>* m_said;
};

TEST_F(StationTest, ConnectionPhraseIsSpokenWhateverScrollLockButOnlyWithAVoice) {
  std::vector<std::string> said;
  // A station whose window opens with Scroll Lock as given, then toggled, before "Connect".
  auto connectWithScrollLock = [&](const std::string& incoming, bool atOpening) {
    StationParts parts = Parts(incoming);
    parts.makeSpeech = [&said] {
      return std::make_unique<CSpeechEngine>(std::make_unique<RecordingVoice>(&said));
    };
    front.scrollLockOn = atOpening;
    station = std::make_unique<Station>(std::move(parts), front);
    station->Open();
    front.scrollLockOn = !atOpening;
    station->Command(Button::kConnectBoxes);
    station->DrainEvents();
  };
  // Scroll Lock on as the window opens makes the voice; switched off later, it silences
  // runner names only.
  connectWithScrollLock("Lapora-1.dat", true);
  EXPECT_EQ(said, std::vector<std::string>{Cp1252ToUtf8(Tr(kMsgLetUsGo))});
  front.ctrlDown = true;
  ASSERT_TRUE(station->Close());

  // Scroll Lock off at opening: no voice, nothing is ever spoken.
  said.clear();
  connectWithScrollLock("Lapora-2.dat", false);
  EXPECT_TRUE(said.empty());
  EXPECT_EQ(station->Speech(), nullptr);
}

TEST_F(StationTest, ManualEntryDialogRecordsItsEntryAndRemembersTheDetector) {
  DeclareBox(0, "127.0.0.1", 10000, "31");
  DeclareBox(1, "127.0.0.2", 10000, "32");
  DeclareBox(2, "", 10000, "33");  // no host: not offered
  Station& s = MakeStation();
  s.Open();
  s.DrainEvents();

  // Cancelled: nothing recorded.
  s.Command(Button::kInsertDetection);
  ASSERT_EQ(front.manualRequests.size(), 1u);
  EXPECT_EQ(front.manualRequests[0].detectors, (std::vector<std::string>{"31", "32"}));
  EXPECT_EQ(front.manualRequests[0].rememberedDetectorIndex, 0);
  EXPECT_EQ(front.manualRequests[0].raceDayDates, settings.RaceDayDates());
  EXPECT_EQ(front.manualRequests[0].clock, &clock);
  EXPECT_EQ(records.RecordCount(), 0u);

  // 007 on detector 32 with 24 hours added.
  front.manualEntryAnswer = Entry(s, "007", 1, 1);
  s.Command(Button::kInsertDetection);
  Settle(s);
  std::vector<CKolResult> recorded = records.Snapshot();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].bibText, "7");
  EXPECT_EQ(recorded[0].detectorLabel, "32");
  ASSERT_EQ(s.DetectionItems().size(), 1u);
  EXPECT_NE(s.DetectionItems()[0].text.find("\tMan.\t# 7"), std::string::npos);
  EXPECT_EQ(front.counterText, DetectionCounterText(1));
  EXPECT_EQ(ReadFile(dir.File("Lapora-20260609-100000.dat")).rfind("1\t32\t7\t1\t", 0), 0u);

  // The next opening preselects the detector chosen last.
  front.manualEntryAnswer.reset();
  s.Command(Button::kInsertDetection);
  EXPECT_EQ(front.manualRequests.back().rememberedDetectorIndex, 1);
  EXPECT_EQ(records.RecordCount(), 1u);
}

TEST_F(StationTest, ManualEntryAfterTheFileWasClosedIsStillWrittenToIt) {
  DeclareBox(0, "127.0.0.1", 10000, "31");
  Station& s = MakeStation();
  s.Open();
  s.InsertManualEntry(Entry(s, "5"));
  records.CloseDetectionFile();  // as after "disconnect all"
  s.InsertManualEntry(Entry(s, "6"));
  Settle(s);
  EXPECT_TRUE(records.IsDetectionFileOpen());
  std::string file = ReadFile(dir.File("Lapora-20260609-100000.dat"));
  EXPECT_EQ(file.rfind("1\t31\t5\t1\t", 0), 0u);
  EXPECT_NE(file.find("\r\n2\t31\t6\t1\t"), std::string::npos);
}

TEST_F(StationTest, ContextMenuRemovesAndRestoresTheSelectedDetections) {
  DeclareBox(0, "127.0.0.1", 10000, "31");
  Station& s = MakeStation();
  s.Open();
  for (const char* bib : {"1", "2", "3"}) {
    s.InsertManualEntry(Entry(s, bib));
  }
  Settle(s);
  ASSERT_EQ(s.DetectionItems().size(), 3u);

  s.DetectionsContextMenu();  // nothing selected: no menu
  EXPECT_TRUE(front.CallsStartingWith("ShowRemoveRestoreMenu").empty());

  // Two valid detections removed after the question.
  front.selectedRows = {0, 2};
  front.removeRestoreChoice = RemoveRestoreChoice::kRemove;
  s.DetectionsContextMenu();
  EXPECT_EQ(front.CallsStartingWith("ShowRemoveRestoreMenu").back(),
            "ShowRemoveRestoreMenu remove -");
  EXPECT_EQ(front.questions.back(), StrF(Tr(kMsgRemoveSeveral).c_str(), 2));
  EXPECT_EQ(records.FindRecord(s.DetectionItems()[0].record.id)->valid, 0);
  EXPECT_EQ(records.FindRecord(s.DetectionItems()[1].record.id)->valid, 1);
  EXPECT_EQ(records.FindRecord(s.DetectionItems()[2].record.id)->valid, 0);
  EXPECT_EQ(s.DetectionItems()[0].record.valid, 0);
  EXPECT_EQ(s.DetectionItems()[2].record.valid, 0);
  EXPECT_EQ(front.counterText, DetectionCounterText(1));
  EXPECT_EQ(front.CallsStartingWith("RefreshList").back(), "RefreshList detections");

  // A mixed selection offers both; answering No changes nothing.
  front.selectedRows = {0, 1};
  front.removeRestoreChoice = RemoveRestoreChoice::kRestore;
  front.answer = false;
  s.DetectionsContextMenu();
  EXPECT_EQ(front.CallsStartingWith("ShowRemoveRestoreMenu").back(),
            "ShowRemoveRestoreMenu remove restore");
  EXPECT_EQ(records.FindRecord(s.DetectionItems()[0].record.id)->valid, 0);

  // One removed detection restored, asked with its time and bib.
  front.selectedRows = {2};
  front.answer = true;
  s.DetectionsContextMenu();
  EXPECT_EQ(front.CallsStartingWith("ShowRemoveRestoreMenu").back(),
            "ShowRemoveRestoreMenu - restore");
  EXPECT_EQ(front.questions.back(),
            StrF(Tr(kMsgRestoreOne).c_str(), s.DetectionItems()[2].record.timeText.c_str(), "3"));
  EXPECT_EQ(records.FindRecord(s.DetectionItems()[2].record.id)->valid, 1);
  EXPECT_EQ(front.counterText, DetectionCounterText(2));
}

TEST_F(StationTest, ForgetAsksWithTheStopIconThenStartsANewListAndFile) {
  DeclareBox(0, "127.0.0.1", 10000, "31");
  Station& s = MakeStation();
  s.Open();
  std::string firstFile = dir.File("Lapora-20260609-100000.dat");
  s.InsertManualEntry(Entry(s, "1"));
  s.InsertManualEntry(Entry(s, "2"));
  Settle(s);

  front.answer = false;
  s.Command(Button::kForget);
  ASSERT_EQ(front.questions.size(), 1u);
  EXPECT_EQ(front.questions[0], Tr(kMsgForgetAllQuestion));
  EXPECT_EQ(front.questionIcons[0], MessageIcon::kError);
  EXPECT_FALSE(front.questionDefaults[0]);
  EXPECT_EQ(records.RecordCount(), 2u);

  // Two more detections whose items are still on their way when the list is reset.
  s.InsertManualEntry(Entry(s, "3"));
  s.InsertManualEntry(Entry(s, "4"));
  front.answer = true;
  sound.played.clear();
  s.Command(Button::kForget);
  Settle(s);
  EXPECT_EQ(records.RecordCount(), 0u);
  EXPECT_TRUE(s.DetectionItems().empty());  // the late items were dropped too
  EXPECT_EQ(front.detectionRows, 0u);
  EXPECT_EQ(front.counterText, DetectionCounterText(0));
  EXPECT_NE(std::find(sound.played.begin(), sound.played.end(), kSoundDone), sound.played.end());
  // Same second as the first file: the new one gets "-2".
  EXPECT_EQ(s.IncomingDetectionsPath(), dir.File("Lapora-20260609-100000-2.dat"));
  EXPECT_EQ(records.DetectionFilePath(), s.IncomingDetectionsPath());
  std::string old = ReadFile(firstFile);
  EXPECT_NE(old.find("4\t31\t4\t1\t"), std::string::npos);  // the old file keeps all four

  // The next detection is line 1 of the new file, with the next id.
  CKolResult next = s.InsertManualEntry(Entry(s, "5"));
  EXPECT_EQ(next.id, 5);
  Settle(s);
  EXPECT_EQ(ReadFile(s.IncomingDetectionsPath()).rfind("1\t31\t5\t1\t", 0), 0u);
  ASSERT_EQ(s.DetectionItems().size(), 1u);

  // With only removed detections recorded nothing is asked nor done.
  s.SetDetectionsValid({5}, false);
  std::size_t asked = front.questions.size();
  s.Command(Button::kForget);
  EXPECT_EQ(front.questions.size(), asked);
  EXPECT_EQ(records.RecordCount(), 1u);
}

// The configuration dialog opens by itself once the window runs, and from its button; only a
// confirmed session reaches the box slots and the settings file.
TEST_F(StationTest, ConfigurationIsCommittedOnlyWhenConfirmed) {
  Station& s = MakeStation();
  s.Open();
  std::string before = ReadFile(dir.File("Lapora.ini"));

  // Cancelled: nothing changes, the box states are refreshed all the same.
  s.OnTimer(Station::kTimerConfigDialog);
  EXPECT_EQ(front.CallsStartingWith("RunConfigurationDialog").size(), 1u);
  EXPECT_EQ(ReadFile(dir.File("Lapora.ini")), before);

  // Confirmed with a refused field: the dialog would stay open; nothing is committed.
  front.configurationAnswer = [](ConfigurationSession& session) {
    ConfigurationFields fields = session.OpeningFields();
    fields.boxSlots[0].address = "192.168.0.10";
    fields.boxSlots[0].port = "10001abc";
    EXPECT_FALSE(session.Ok(fields).accepted);
    return true;
  };
  s.Command(Button::kConfiguration);
  EXPECT_EQ(ReadFile(dir.File("Lapora.ini")), before);

  // Confirmed: the slot and the long-race offset are stored and written.
  front.configurationAnswer = [](ConfigurationSession& session) {
    ConfigurationFields fields = session.OpeningFields();
    fields.boxSlots[0].address = "192.168.0.10";
    fields.boxSlots[0].port = "10001";
    fields.boxSlots[0].detectorIndex = DetectorIdIndexFor("12");
    fields.longRaceIndex = 2;
    EXPECT_TRUE(session.Ok(fields).accepted);
    return true;
  };
  s.Command(Button::kConfiguration);
  EXPECT_EQ(front.CallsStartingWith("RunConfigurationDialog").size(), 3u);
  EXPECT_EQ(settings.GDaysToAdd.load(), 2);
  EXPECT_EQ(store.ReadSettingInt("Settings", "GDaysToAdd", -1), 2);
  EXPECT_EQ(store.ReadSettingText("OstraBoxes", "BoxHost0", ""), "192.168.0.10");
  EXPECT_EQ(store.ReadSettingInt("OstraBoxes", "BoxPort0", -1), 10001);
  EXPECT_EQ(store.ReadSettingText("OstraBoxes", "BoxIdDetector0", ""), "12");
}

// The import button: the dialog's choice is carried out once it has closed, the remembered
// folders are written back, and the end sound plays whatever was chosen.
TEST_F(StationTest, ImportRunsTheChosenActionAfterTheDialog) {
  Station& s = MakeStation();
  s.Open();
  ASSERT_TRUE(store.WriteSettingText("ImportDetections", "CurrentParseDir", "/races/2026"));
  front.importAnswer = [](ImportDialogSetup& setup) {
    EXPECT_EQ(setup.memory.parseDir, "/races/2026");
    setup.memory.saveDir = "/exports";
    ImportRequest request;
    request.action = ImportAction::kImport;
    request.boxId = "12";
    request.found = {CDetection(CChrono(36000, 0), CChrono(), "E2001", "101"),
                     CDetection(CChrono(36001, 0), CChrono(), "E2002", "102")};
    return request;
  };
  s.Command(Button::kImport);
  EXPECT_EQ(records.RecordCount(), 2u);
  EXPECT_EQ(records.Snapshot()[0].detectorLabel, "12");
  EXPECT_EQ(store.ReadSettingText("ImportDetections", "CurrentSaveDir", ""), "/exports");
  EXPECT_EQ(sound.played.back(), kSoundDone);

  // Cancelled: nothing is recorded, the sound still plays.
  front.importAnswer = {};
  sound.played.clear();
  s.Command(Button::kImport);
  EXPECT_EQ(records.RecordCount(), 2u);
  EXPECT_EQ(sound.played, std::vector<int>{kSoundDone});
}

}  // namespace
}  // namespace lapora
