// The Station with real boxes: the box simulator over loopback TCP, connected with the toggle
// button, driven from its disc's menu, and streaming while the detection list is reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "boxlink/box_slots.h"
#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "resources/messages_boxslots.h"
#include "station/recording_front_end.h"
#include "station/station.h"
#include "support/boxlink_support.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::RecordingFrontEnd;
using testing::SimulatorProcess;
using testing::TempDir;
using namespace std::chrono_literals;

const std::string kBoxSim = LAPORA_BINARY_DIR "/tools/boxsim/boxsim";

// The fields of the detection lines of an incoming-detections file.
struct FileLine {
  int number = 0;
  std::string detector;
  std::string bib;
};
std::vector<FileLine> ReadDetectionLines(const std::string& path) {
  std::vector<FileLine> lines;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    FileLine parsed;
    std::string number;
    if (std::getline(fields, number, '\t') && std::getline(fields, parsed.detector, '\t') &&
        std::getline(fields, parsed.bib, '\t')) {
      parsed.number = std::stoi(number);
      lines.push_back(parsed);
    }
  }
  return lines;
}

class StationBoxesTest : public ::testing::Test {
 protected:
  StationBoxesTest() : store(dir.File("Lapora.ini")), log(events), records(log) {
    log.SetLogFilePath(dir.File("Lapora.log"));
  }
  ~StationBoxesTest() override {
    if (station && station->IsOpen()) {
      front.ctrlDown = true;
      (void)station->Close();
    }
  }

  // Starts the simulator with its race chip table in the data folder and declares it as
  // box 1 with detector 31.
  void StartBox(std::vector<std::string> args) {
    std::vector<std::string> all = {
        "--tcp", "0", "--device-id", "57", "--race", "--chip-table", dir.File("ChipTable.dtb")};
    all.insert(all.end(), args.begin(), args.end());
    sim = std::make_unique<SimulatorProcess>(kBoxSim, all);
    ASSERT_FALSE(sim->WaitEvent("chip table ").empty());
    std::string port = sim->WaitEvent("listening on ");
    ASSERT_FALSE(port.empty());
    ASSERT_TRUE(store.WriteSettingText("OstraBoxes", "BoxHost0", "127.0.0.1"));
    ASSERT_TRUE(store.WriteSettingInt("OstraBoxes", "BoxPort0", std::stoi(port)));
    ASSERT_TRUE(store.WriteSettingText("OstraBoxes", "BoxIdDetector0", "31"));
  }

  Station& OpenStation() {
    settings.GBoxReconnectSeconds = 30;
    settings.GVarnexBeepDetections = 0;
    station = std::make_unique<Station>(StationParts{settings,
                                                     store,
                                                     log,
                                                     events,
                                                     SystemClock(),
                                                     sound,
                                                     records,
                                                     chipTable,
                                                     dir.path(),
                                                     dir.path(),
                                                     dir.File("Lapora-20260609-100000.dat"),
                                                     "Version 1.40 - test",
                                                     {}},
                                        front);
    station->Open();
    return *station;
  }

  // Handles the posted events as the window's loop does until the condition holds.
  bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      station->DrainEvents();
      if (condition()) {
        return true;
      }
      if (std::chrono::steady_clock::now() > end) {
        return false;
      }
      events.WaitForEvents(5ms);
    }
  }

  std::string Logs() const {
    std::string all;
    for (const std::string& line : front.logLines) {
      all += line + "\n";
    }
    return all;
  }

  TempDir dir;
  AppSettings settings;
  SettingsStore store;
  EventQueue events;
  Logger log;
  CRecordedDetections records;
  CChipTable chipTable;
  testing::RecordingSoundPlayer sound;
  RecordingFrontEnd front;
  std::unique_ptr<SimulatorProcess> sim;
  std::unique_ptr<Station> station;
};

TEST_F(StationBoxesTest, ToggleConnectsTheBoxDetectionsArriveAndToggleDisconnects) {
  StartBox({"--runners", "30", "--start-delay-ms", "0"});
  Station& s = OpenStation();
  EXPECT_EQ(front.boxes[0].disc, BoxDisc::kRed);
  s.ResetDetectionList();  // connecting opens the list's file of the moment
  std::string file = s.IncomingDetectionsPath();

  s.Command(Button::kConnectBoxes);
  // The command returns at once; the outcome is shown once the box has been initialised.
  EXPECT_FALSE(s.IsBusy());
  ASSERT_TRUE(PumpUntil([&] { return sound.Count(kSoundConnected) == 1; })) << Logs();
  EXPECT_TRUE(front.buttons[Button::kConnectBoxes].pressed);
  EXPECT_TRUE(front.buttons[Button::kSyncClocks].enabled);
  EXPECT_TRUE(front.buttons[Button::kShowClocks].enabled);
  EXPECT_EQ(front.boxes[0].disc, BoxDisc::kGreen);
  EXPECT_EQ(records.DetectionFilePath(), file);
  EXPECT_EQ(sim->WaitEvent("command: "), "57@readerOpen@0000@1;");

  ASSERT_TRUE(PumpUntil([&] {
    return s.DetectionItems().size() == 30 && front.counterText == DetectionCounterText(30);
  })) << Logs();
  EXPECT_EQ(records.CountValidRecords(), 30);
  EXPECT_EQ(ReadDetectionLines(file).size(), 30u);
  EXPECT_NE(s.DetectionItems().back().text.find("# 30"), std::string::npos);

  // The click now releases the button: asked first, then every box is stopped.
  s.Command(Button::kConnectBoxes);
  EXPECT_EQ(front.questions.back(), Tr(kMsgDisconnectBoxesQuestion));
  EXPECT_FALSE(front.buttons[Button::kConnectBoxes].pressed);
  EXPECT_FALSE(front.buttons[Button::kSyncClocks].enabled);
  EXPECT_EQ(front.boxes[0].disc, BoxDisc::kRed);
  EXPECT_FALSE(s.BoxSlots().Box(1)->IsThreadRunning());
  EXPECT_FALSE(records.IsDetectionFileOpen());
  EXPECT_FALSE(sim->WaitEvent("disconnected").empty());
}

TEST_F(StationBoxesTest, DiscMenuAndClockButtonsSendTheirCommandsToTheBox) {
  StartBox({"--runners", "5", "--loop"});
  Station& s = OpenStation();
  s.Command(Button::kConnectBoxes);
  ASSERT_TRUE(PumpUntil([&] { return front.boxes[0].disc == BoxDisc::kGreen; })) << Logs();
  for (int channel = 1; channel <= 4; ++channel) {
    ASSERT_FALSE(sim->WaitEvent("command: 57@readerOpen@").empty());
  }

  front.boxMenuChoice = BoxMenuId::kGate5s;
  s.BoxDiscClicked(0);
  EXPECT_EQ(sim->WaitEvent("command: 57@setGateTime@"), "0004@5.0;");
  const std::vector<BoxMenuItem>& menu = front.boxMenus.back();
  auto find = [&](BoxMenuId id) {
    return std::find_if(menu.begin(), menu.end(),
                        [id](const BoxMenuItem& item) { return item.id == id; });
  };
  ASSERT_NE(find(BoxMenuId::kAccept), menu.end());
  EXPECT_TRUE(find(BoxMenuId::kAccept)->enabled);
  EXPECT_FALSE(find(BoxMenuId::kConnect)->enabled);

  front.ctrlDown = true;  // the channel items
  front.boxMenuChoice = BoxMenuId::kStopChannel3;
  s.BoxDiscClicked(0);
  front.ctrlDown = false;
  EXPECT_EQ(sim->WaitEvent("command: 57@readerStop@"), "0005@3;");

  s.Command(Button::kSyncClocks);
  EXPECT_FALSE(sim->WaitEvent("command: 57@setDate@0006@").empty());
  EXPECT_FALSE(sim->WaitEvent("command: 57@setTime@0007@").empty());

  // Disconnect and connect again from the menu.
  front.boxMenuChoice = BoxMenuId::kDisconnect;
  s.BoxDiscClicked(0);
  EXPECT_EQ(front.questions.back(), Tr(kMsgDisconnectBoxQuestion));
  EXPECT_FALSE(s.BoxSlots().Box(1)->IsThreadRunning());
  s.OnTimer(Station::kTimerRefresh);
  EXPECT_EQ(front.boxes[0].disc, BoxDisc::kRed);
  EXPECT_FALSE(front.buttons[Button::kConnectBoxes].pressed);

  front.boxMenuChoice = BoxMenuId::kConnect;
  s.BoxDiscClicked(0);
  ASSERT_TRUE(PumpUntil([&] { return front.boxes[0].disc == BoxDisc::kGreen; })) << Logs();
  s.OnTimer(Station::kTimerRefresh);
  EXPECT_TRUE(front.buttons[Button::kConnectBoxes].pressed);
}

TEST_F(StationBoxesTest, ResetWhileTheBoxStreamsLosesNoDetection) {
  constexpr int kRunners = 3000;
  StartBox({"--runners", std::to_string(kRunners), "--rate", "3000", "--start-delay-ms", "0"});
  Station& s = OpenStation();
  std::string firstFile = s.IncomingDetectionsPath();
  s.Command(Button::kConnectBoxes);
  ASSERT_TRUE(PumpUntil([&] { return front.buttons[Button::kConnectBoxes].pressed; })) << Logs();
  ASSERT_TRUE(PumpUntil([&] { return records.RecordCount() >= 300; })) << Logs();
  s.ResetDetectionList();
  std::string secondFile = s.IncomingDetectionsPath();
  ASSERT_NE(secondFile, firstFile);

  ASSERT_TRUE(records.FlushDetectionFile());  // the first file's last lines are written
  std::vector<FileLine> before = ReadDetectionLines(firstFile);  // closed by the reset
  ASSERT_FALSE(sim->WaitEvent("race done: sent ", 60s).empty());
  ASSERT_TRUE(PumpUntil([&] { return before.size() + records.RecordCount() == kRunners; }, 60s))
      << before.size() << " + " << records.RecordCount();
  ASSERT_TRUE(PumpUntil([&] { return s.DetectionItems().size() == records.RecordCount(); }));

  // Every bib once, in one file or the other; the new file numbered from 1.
  std::vector<FileLine> after = ReadDetectionLines(secondFile);
  ASSERT_EQ(after.size(), records.RecordCount());
  std::multiset<std::string> bibs;
  for (const FileLine& line : before) {
    bibs.insert(line.bib);
  }
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].number, static_cast<int>(i + 1));
    bibs.insert(after[i].bib);
  }
  ASSERT_EQ(bibs.size(), static_cast<std::size_t>(kRunners));
  for (int bib = 1; bib <= kRunners; ++bib) {
    EXPECT_EQ(bibs.count(std::to_string(bib)), 1u) << bib;
  }
  // The list shows the new list's detections only.
  std::set<std::string> newBibs;
  for (const FileLine& line : after) {
    newBibs.insert(line.bib);
  }
  for (const CLogDetectionItem& item : s.DetectionItems()) {
    EXPECT_EQ(newBibs.count(item.record.bibText), 1u) << item.text;
  }
}

}  // namespace
}  // namespace lapora
