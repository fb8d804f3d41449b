// The direct connection as the main window runs it: the Station with a recording front end,
// the results-software simulator over loopback. The toggle and its pictures, the timers of the
// first requests, the keep-alive and the refusal, the detections information list, the sounds,
// the lost-connection balloon, and the catch-up of what was recorded while the connection was
// down (on by default) or not (off).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "detections/chip_table.h"
#include "detections/detection_list_operations.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "resources/messages_resultslink.h"
#include "resultslink/results_link.h"
#include "station/recording_front_end.h"
#include "station/station.h"
#include "support/simulator_process.h"
#include "support/station_rig.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using lapora::testing::ReadFile;
using lapora::testing::WriteFile;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

// The recording front end, with the balloons it was asked to show.
class BalloonFrontEnd : public testing::RecordingFrontEnd {
 public:
  void ShowBalloon(Button button, const std::string& title, const std::string& text, int icon,
                   int durationMs, double, double) override {
    EXPECT_EQ(button, Button::kDirect);
    EXPECT_EQ(icon, 131);
    EXPECT_EQ(durationMs, 4000);
    balloons.push_back(title + ": " + text);
  }
  Texts balloons;
};

CKolResult Detection(const std::string& label, const std::string& bib, const std::string& time) {
  CKolResult record;
  record.detectorLabel = label;
  record.bibText = bib;
  record.timeText = time;
  return record;
}

class StationLinkTest : public ::testing::Test, public testing::StationRig {
 protected:
  StationLinkTest() {
    WriteFile(dir.File("start-list.txt"), "123;Durand;Marie;F;SEN;Senior;AC Lyon;FRA;10 km\n");
  }
  ~StationLinkTest() override {
    if (station) {
      station->ResultsLink().StopLink();
    }
  }

  // Starts the simulator with options on a port (0: a free one); false when it did not come up.
  bool StartSim(Texts options, const std::string& port = "0") {
    Texts args = {"--port",
                  port,
                  "--bind",
                  "127.0.0.1",
                  "--quiet",
                  "--log",
                  dir.File("received.log"),
                  "--start-list",
                  dir.File("start-list.txt")};
    args.insert(args.end(), options.begin(), options.end());
    sim = std::make_unique<testing::SimulatorProcess>(
        LAPORA_BINARY_DIR "/tools/resultsim/resultsim", args);
    std::string listening = sim->WaitEvent("listening on ");
    settings.Host = "127.0.0.1";
    settings.Port = listening.empty() ? 0 : std::stoi(listening);
    settings.ReconnectSeconds = 1;
    return !listening.empty();
  }

  // A manual entry of bib on detector 31, recorded as the operator's dialog does.
  CKolResult Insert(int bib) {
    ManualEntry entry;
    entry.bibNumber = bib;
    entry.bibText = std::to_string(bib);
    entry.detectorLabel = "31";
    entry.absTime = CChrono(36000 + bib, 0);
    return station->InsertManualEntry(entry);
  }

  // The detection requests the simulator recorded, over all its runs.
  Texts Recorded() const {
    Texts lines;
    const std::string content = ReadFile(dir.File("record.txt"));
    std::size_t start = 0;
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(content.substr(start, end - start));
    }
    return lines;
  }

  // Waits (handling events and refreshing the window) until the tooltip reads `text`.
  bool TooltipBecomes(const std::string& text) {
    return PumpUntil([&] {
      station->RefreshBoxStatesAndCounter();
      return front.directTooltip == text;
    });
  }

  Station& OpenStation() {
    StationParts parts = Parts("Lapora-20260609-100000.dat", "Version 1.40 - test");
    parts.lockFolder = dir.path();
    station = std::make_unique<Station>(std::move(parts), front);
    station->Open();
    station->SelectLogLevel(4);  // level 100: the link's level-80 texts are shown too
    return *station;
  }

  // Runs the window's event handling until the condition holds.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (!done()) {
      if (Clock::now() >= deadline) {
        return false;
      }
      events.WaitForEvents(std::chrono::milliseconds(20));
      station->DrainEvents();
    }
    return true;
  }

  bool Shown(const std::string& text) const {
    for (const std::string& line : front.logLines) {
      if (line.size() >= text.size() &&
          line.compare(line.size() - text.size(), text.size(), text) == 0) {
        return true;
      }
    }
    return false;
  }

  // The lines the simulator received (escaped), once there are at least count.
  Texts Received(size_t count) {
    Texts lines;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
      lines.clear();
      const std::string content = ReadFile(dir.File("received.log"));
      size_t start = 0;
      size_t end;
      while ((end = content.find('\n', start)) != std::string::npos) {
        const std::string line = content.substr(start, end - start);
        lines.push_back(line.substr(line.find(' ') + 1));
        start = end + 1;
      }
      if (lines.size() >= count) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

  bool Pressed() { return front.buttons[Button::kDirect].pressed; }

  BalloonFrontEnd front;
  std::unique_ptr<testing::SimulatorProcess> sim;
  std::unique_ptr<Station> station;
};

// Without catch-up, as the direct connection always was: a loss releases the button for good and
// what was recorded meanwhile never reaches the results software.
TEST_F(StationLinkTest, ToggleTimersRequestsResultsAndLoss) {
  settings.BCatchUp = 0;
  ASSERT_TRUE(StartSim({"--detectors", "31,32", "--race-start", "10:00:00"}));
  Station& st = OpenStation();
  // The keep-alive runs from the opening, every 30 s.
  ASSERT_TRUE(front.timers.count(Station::kTimerPing));
  EXPECT_EQ(front.timers[Station::kTimerPing].periodMs, 30000);
  EXPECT_FALSE(front.timers[Station::kTimerPing].oneShot);
  // Nothing goes out while not connected.
  st.OnTimer(Station::kTimerPing);

  st.Command(Button::kDirect);
  EXPECT_TRUE(Pressed());
  EXPECT_TRUE(st.IsDirectConnectionOn());
  ASSERT_TRUE(PumpUntil([this] { return front.timers.count(Station::kTimerLinkRequests) > 0; }));
  EXPECT_EQ(front.directState, DirectState::kConnected);
  EXPECT_EQ(front.timers[Station::kTimerLinkRequests].periodMs, 300);
  EXPECT_TRUE(front.timers[Station::kTimerLinkRequests].oneShot);
  EXPECT_EQ(sound.played.back(), kSoundConnected);

  // The timers fire as the front end's clock says: first requests, then a keep-alive.
  st.OnTimer(Station::kTimerLinkRequests);
  EXPECT_FALSE(front.timers.count(Station::kTimerLinkRequests));
  st.OnTimer(Station::kTimerPing);
  st.ResultsLink().PushDetection(Detection("31", "123", "10:23:45.12"));
  EXPECT_EQ(Received(9), (Texts{"GetMode()\\r", "GetUserName()\\r", "GetCompetitionName()\\r",
                                "GetFilename()\\r", "GetVersion()\\r", "GetPrintableVersion()\\r",
                                "GetDetectorList()\\r", "Ping()\\r",
                                "AddKolClock(1\\t31\\t123\\t1\\t10:23:45.12)\\r"}));
  ASSERT_TRUE(PumpUntil([&] { return st.SummaryEntries().size() == 1; }));
  EXPECT_EQ(st.SummaryEntries()[0].bib, 123);
  EXPECT_EQ(st.SummaryEntries()[0].timeText, "00:23:45");
  EXPECT_EQ(front.summaryRows, 1u);
  EXPECT_EQ(st.ResultsDetectorList(), (Texts{"31", "32"}));
  EXPECT_TRUE(Shown("$$$ Version: 4,4,0,1"));

  // The results software goes away: lost, released, not retried.
  sim.reset();
  ASSERT_TRUE(PumpUntil([this] { return !Pressed(); }));
  EXPECT_EQ(front.directState, DirectState::kNotConnected);
  EXPECT_EQ(front.balloons, (Texts{"Attention: " + Tr(kMsgLinkLost)}));
  EXPECT_EQ((std::vector<int>(sound.played.end() - 2, sound.played.end())),
            (std::vector<int>{kSoundLinkLost, kSoundWarning}));
  EXPECT_TRUE(Shown("######## " + Tr(kMsgLinkLost)));
  EXPECT_TRUE(front.messages.empty());  // logged and ballooned, no message box
  EXPECT_TRUE(st.ResultsDetectorList().empty());
  EXPECT_FALSE(st.ResultsLink().IsRunning());
  EXPECT_EQ(front.directTooltip, "");

  // Recorded while down, then the operator connects again: only what follows goes out.
  Insert(7);
  ASSERT_TRUE(records.FlushDetectionFile());  // offered to the link, which is down
  ASSERT_TRUE(StartSim({"--record", dir.File("record.txt")}));
  st.Command(Button::kDirect);
  ASSERT_TRUE(PumpUntil([&] { return st.ResultsLink().IsLinkConnected(); }));
  const CKolResult after = Insert(8);
  ASSERT_TRUE(PumpUntil([&] { return !Recorded().empty(); }));
  EXPECT_EQ(Recorded(), (Texts{CResultsLink::AddKolClockRequest(after)}));
  EXPECT_EQ(front.balloons.size(), 1u);
}

// With catch-up (the default) a lost connection is made again by itself, under the connecting
// picture with the alert shown once; what was recorded meanwhile follows, in order, removed
// detections left out, and the tooltip counts what waits until it is all sent.
TEST_F(StationLinkTest, ALostConnectionIsMadeAgainAndWhatWasRecordedMeanwhileFollows) {
  const std::string record = dir.File("record.txt");
  ASSERT_TRUE(StartSim({"--record", record}));
  const std::string port = std::to_string(settings.Port.load());
  Station& st = OpenStation();
  EXPECT_EQ(front.directTooltip, Tr(kMsgNoDetectionToSend));
  st.SetDirectConnection(true);
  ASSERT_TRUE(PumpUntil([&] { return front.directState == DirectState::kConnected; }));
  Texts expected = {CResultsLink::AddKolClockRequest(Insert(1))};
  ASSERT_TRUE(PumpUntil([&] { return Recorded().size() == 1; }));

  sim.reset();  // the results software is shut down
  ASSERT_TRUE(PumpUntil([this] { return !front.balloons.empty(); }));
  EXPECT_TRUE(Pressed());
  EXPECT_EQ(front.directState, DirectState::kConnecting);
  EXPECT_TRUE(Shown("######## " + Tr(kMsgLinkLost)));
  expected.push_back(CResultsLink::AddKolClockRequest(Insert(2)));
  const CKolResult removed = Insert(3);
  expected.push_back(CResultsLink::AddKolClockRequest(Insert(4)));
  EXPECT_EQ(st.SetDetectionsValid({removed.id}, false).recordsChanged, 1);
  ASSERT_TRUE(TooltipBecomes(StrF(Tr(kMsgDetectionsToSend).c_str(), 3, "s")));

  ASSERT_TRUE(StartSim({"--record", record}, port));
  ASSERT_TRUE(TooltipBecomes(Tr(kMsgNoDetectionToSend)));
  // The catch-up may be out before the connected state has come through the window's queue.
  ASSERT_TRUE(PumpUntil([&] {
    return Recorded().size() >= expected.size() && front.directState == DirectState::kConnected;
  }));
  EXPECT_EQ(Recorded(), expected);
  EXPECT_EQ(front.balloons.size(), 1u);
  EXPECT_TRUE(Pressed());
}

TEST_F(StationLinkTest, TooOldResultsSoftwareIsRefused) {
  ASSERT_TRUE(StartSim({"--version", "4,3,9,0"}));
  Station& st = OpenStation();
  st.SetDirectConnection(true);
  ASSERT_TRUE(PumpUntil([this] { return front.timers.count(Station::kTimerLinkRequests) > 0; }));
  st.OnTimer(Station::kTimerLinkRequests);
  ASSERT_TRUE(PumpUntil([this] { return front.timers.count(Station::kTimerLinkRefusal) > 0; }));
  EXPECT_EQ(front.timers[Station::kTimerLinkRefusal].periodMs, 1000);
  st.OnTimer(Station::kTimerLinkRefusal);
  EXPECT_FALSE(front.timers.count(Station::kTimerLinkRefusal));
  EXPECT_FALSE(Pressed());
  EXPECT_EQ(front.messages, (Texts{Tr(kMsgLinkVersionRefused)}));
  ASSERT_TRUE(PumpUntil([this] { return Shown(Tr(kMsgLinkDisconnected)); }));
  EXPECT_EQ(sound.played.back(), kSoundDone);
  EXPECT_TRUE(front.balloons.empty());
}

TEST_F(StationLinkTest, ReleasingWhileConnectedIsADisconnection) {
  ASSERT_TRUE(StartSim({}));
  Station& st = OpenStation();
  st.SetDirectConnection(true);
  ASSERT_TRUE(PumpUntil([this] {
    return front.directState == DirectState::kConnected &&
           front.timers.count(Station::kTimerLinkRequests) > 0;
  }));
  st.Command(Button::kDirect);
  EXPECT_FALSE(Pressed());
  EXPECT_EQ(front.directState, DirectState::kNotConnected);
  ASSERT_TRUE(PumpUntil([this] { return Shown(Tr(kMsgLinkDisconnected)); }));
  EXPECT_FALSE(front.timers.count(Station::kTimerLinkRequests));
  EXPECT_EQ(sound.played.back(), kSoundDone);
  EXPECT_TRUE(front.balloons.empty());
  // Pressed again, it connects again.
  st.Command(Button::kDirect);
  ASSERT_TRUE(PumpUntil([this] { return front.timers.count(Station::kTimerLinkRequests) > 0; }));
  EXPECT_TRUE(st.ResultsLink().IsLinkConnected());
}

}  // namespace
}  // namespace lapora
