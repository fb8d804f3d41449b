// Box slots against the box simulator, over loopback TCP and over a pseudo-terminal: the
// device id learned from the first detection, the commands the simulator receives, every
// detection recorded, and a dropped connection reconnected.
#include <gtest/gtest.h>

#include <string>

#include "boxlink/box_supervisor.h"
#include "boxlink/ostra_box.h"
#include "resources/messages_boxlink.h"
#include "support/boxlink_support.h"
#include "support/simulator_process.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using testing::SimulatorProcess;
using namespace std::chrono_literals;

const std::string kBoxSim = LAPORA_BINARY_DIR "/tools/boxsim/boxsim";

class BoxLinkBoxSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.onStatus = [this](int number, int failed) { supervisor.OnBoxStatus(number, failed); };
  }
  void TearDown() override {
    box.StopBoxThread([this] { h.Pump(); });
  }

  BoxLinkHarness h;
  COstraBox box{h.services, 2};
  BoxSupervisor supervisor{
      h.services,
      {[this](int n) { return n == 2 ? &box : nullptr; }, nullptr, nullptr, [this] { h.Pump(); }}};
};

TEST_F(BoxLinkBoxSimTest, TcpBoxIdFromTheFirstDetectionAndEveryDetectionRecorded) {
  SimulatorProcess sim(kBoxSim, {"--tcp", "0", "--device-id", "77", "--race", "--runners", "20",
                                 "--count", "20", "--rate", "200", "--start-delay-ms", "0",
                                 "--heartbeat-ms", "0", "--status-ms", "0"});
  std::string port = sim.WaitEvent("listening on ");
  ASSERT_FALSE(port.empty());
  box.ConfigureTransport("31", "127.0.0.1", std::stoi(port));
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 20; })) << h.AllLogs();
  EXPECT_EQ(box.DeviceId(), "77");
  EXPECT_EQ(sim.WaitEvent("command: "), "77@readerOpen@0000@1;");
  EXPECT_EQ(sim.WaitEvent("command: "), "77@readerOpen@0001@2;");
  std::string error;
  EXPECT_TRUE(SendCommand(box, "getGunTime", "", &error));
  EXPECT_EQ(sim.WaitEvent("command: 77@getGunTime"), "@0004@;");
  EXPECT_TRUE(h.WaitForLog("getGunTime"));
}

TEST_F(BoxLinkBoxSimTest, DroppedTcpConnectionIsReconnectedAndNothingIsLost) {
  SimulatorProcess sim(
      kBoxSim,
      {"--tcp",  "0",      "--race",           "--runners", "30",           "--count", "30",
       "--rate", "300",    "--start-delay-ms", "0",         "--drop-after", "10",      "--drops",
       "1",      "--loop", "--heartbeat-ms",   "0",         "--status-ms",  "0"});
  std::string port = sim.WaitEvent("listening on ");
  ASSERT_FALSE(port.empty());
  box.ConfigureTransport("31", "127.0.0.1", std::stoi(port));
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.WaitForLog("APP FOUND UNEXPECTED CNX ERROR for box 2 and will restart BoxThread"))
      << h.AllLogs();
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 1);
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() >= 30; })) << h.AllLogs();
  EXPECT_EQ(h.sound.Count(kSoundBoxConnected), 2);
}

TEST_F(BoxLinkBoxSimTest, SerialBoxOnAPseudoTerminal) {
  SimulatorProcess sim(kBoxSim, {"--pty", "--device-id", "58", "--race", "--runners", "10",
                                 "--count", "10", "--rate", "50", "--start-delay-ms", "0",
                                 "--heartbeat-ms", "0", "--status-ms", "0"});
  std::string path = sim.WaitEvent("pty ");
  ASSERT_FALSE(path.empty());
  box.ConfigureTransport("31", path, 9600);
  ASSERT_TRUE(box.Transport()->IsSerial());
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 10; })) << h.AllLogs();
  EXPECT_EQ(box.DeviceId(), "58");
  EXPECT_EQ(sim.WaitEvent("command: "), "58@readerOpen@0000@1;");
  box.StopBoxThread([&] { h.Pump(); });
  EXPECT_FALSE(h.HasLog(TrIn(BuildLanguage(), kMsgBoxReceptionFailed).substr(4)));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 0);
}

}  // namespace
}  // namespace lapora
