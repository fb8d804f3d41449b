// The box thread against a loopback peer that plays the box: connection, discovery, reading,
// reconnection, the ways a thread ends, and a stop that meets a restart.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "boxlink/box_protocol.h"
#include "boxlink/box_supervisor.h"
#include "boxlink/ostra_box.h"
#include "boxlink/tcp_com_box.h"
#include "foundation/chrono.h"
#include "platform/process.h"
#include "resources/messages_boxlink.h"
#include "support/boxlink_support.h"
#include "support/vanishing_peer.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using testing::LoopbackPeer;
using testing::TodayDetection;
using namespace std::chrono_literals;

// The format of a message after its first "%s" (the log prefix).
std::string TailFormat(const Message& message) {
  std::string text = Tr(message);
  std::size_t at = text.find("%s");
  return at == std::string::npos ? text : text.substr(at + 2);
}
// The fixed text after the log prefix, up to the next argument.
std::string Tail(const Message& message) {
  std::string tail = TailFormat(message);
  return tail.substr(0, tail.find('%'));
}

class BoxThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the program does before its threads start: local times are then converted on the box
    // threads and the test's own without glibc reloading the zone under them.
    PinLocalTimeZone();
    h.settings.GVarnexConnectionTimeout = 1;
    box.ConfigureTransport("31", "127.0.0.1", peer.Port());
    h.onStatus = [this](int number, int failed) { supervisor.OnBoxStatus(number, failed); };
  }
  void TearDown() override {
    box.StopBoxThread([this] { h.Pump(); });
  }

  BoxLinkHarness h;
  LoopbackPeer peer;
  COstraBox box{h.services, 1};
  BoxSupervisor supervisor{
      h.services,
      {[this](int n) { return n == 1 ? &box : nullptr; }, [this](int) { ++refreshes; },
       [this] { ++timerRestarts; }, [this] { h.Pump(); }}};
  int refreshes = 0;
  int timerRestarts = 0;
};

TEST_F(BoxThreadTest, DeviceIdFromADetectionThatIsRecordedThenARequestedDisconnection) {
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.Send("57@epc@0001@" + TodayDetection("E2003412") + ";");
  // The channels are opened with the learned id, in order, each a write of its own.
  EXPECT_EQ(peer.ReceiveCommands(4),
            "57@readerOpen@0000@1;57@readerOpen@0001@2;57@readerOpen@0002@3;"
            "57@readerOpen@0003@4;");
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 1; })) << h.AllLogs();
  EXPECT_EQ(box.DeviceId(), "57");
  EXPECT_TRUE(h.HasLog(Tail(kMsgDeviceIdFound) + "57"));
  EXPECT_TRUE(h.WaitForLog(Tail(kMsgConnectionSuccessful)));
  EXPECT_EQ(h.sound.Count(kSoundBoxConnected), 1);
  EXPECT_EQ(h.records.Snapshot()[0].detectorLabel, "31");

  // Later lines, the empty ones after ";\n" included, keep the box connected.
  peer.Send("57@epc@0002@" + TodayDetection("E2003413") + ";\n57@heartBeat@0003@x;\n");
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 2; }));
  peer.Send("57@epc@0004@" + TodayDetection("E2003414") + ";\n");
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 3; }));
  EXPECT_TRUE(box.Transport()->IsConnected());

  box.StopBoxThread([&] { h.Pump(); });
  h.Pump();
  EXPECT_FALSE(box.IsThreadRunning());
  int requested = h.IndexOf(Tail(kMsgDisconnectionRequested));
  int stopped = h.IndexOf(Tail(kMsgThreadStopped) + "\n");
  ASSERT_GE(requested, 0) << h.AllLogs();
  EXPECT_GT(h.IndexOf(Tail(kMsgClearDetectionsCache)), requested);
  EXPECT_FALSE(h.HasLog(Tail(kMsgBoxReceptionFailed)));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 0);
  EXPECT_EQ(h.failedStatusEvents, 0);
  EXPECT_EQ(stopped, -1);  // (the text has no line end: checked below by the exact ending)
  EXPECT_EQ(h.CountLogs(Tail(kMsgThreadStopped)), 1);
  EXPECT_TRUE(h.HasLog("APP CNX ERROR for box 1. Expected = YES. StopBoxThread"));
  EXPECT_TRUE(peer.WaitForClose());
  EXPECT_EQ(h.shared.runningThreads.load(), 0);
}

TEST_F(BoxThreadTest, ClearRequestedWhileReadingIsDoneBeforeTheNextLine) {
  h.settings.GVarnexIgnoreInputMsDelta = 60000;
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  std::string read = "57@epc@0001@" + TodayDetection("E2003412") + ";";
  peer.Send(read);
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 1; })) << h.AllLogs();
  // The same read again is a repeat; the next chip shows that it was handled.
  peer.Send(read + "57@epc@0002@" + TodayDetection("E2003499") + ";");
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 2; }));
  box.RequestClearLast();
  peer.Send(read);  // forgotten by the box: recorded again
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 3; }));
  EXPECT_EQ(h.records.Snapshot()[2].bibText, h.records.Snapshot()[0].bibText);

  // Without a box thread the list is emptied at once.
  box.StopBoxThread([this] { h.Pump(); });
  box.LastDetections().RememberLast("9", CChrono(100, 0));
  box.RequestClearLast();
  EXPECT_EQ(box.LastDetections().Count(), 0u);
}

TEST_F(BoxThreadTest, AStaleStatusDoesNotStopAThreadThatHasJustStarted) {
  // The end of a first thread posts a status that is still queued when a new thread starts.
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.Send("57@heartBeat@0001@10:00:00;");
  ASSERT_TRUE(h.PumpUntil([&] { return box.Transport()->IsConnected(); }));
  box.StopBoxThread(nullptr);  // no pump: its last status stays queued
  ASSERT_FALSE(box.Transport()->IsActive());
  ASSERT_TRUE(box.StartBoxThread());
  EXPECT_TRUE(box.Transport()->IsActive());  // reconnecting at once
  h.Pump();                                  // the stale status
  EXPECT_TRUE(box.IsThreadRunning());
  ASSERT_TRUE(peer.Accept());
  peer.Send("57@heartBeat@0002@10:00:01;");
  EXPECT_TRUE(h.PumpUntil([&] { return box.Transport()->IsConnected(); }));
}

TEST_F(BoxThreadTest, ABoxThatClosesTheConnectionIsReconnectedWithTheAlarm) {
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.Send("57@heartBeat@0001@x;");
  peer.ReceiveCommands(4);
  ASSERT_TRUE(h.WaitForLog(Tail(kMsgConnectionSuccessful)));
  peer.CloseClient();
  ASSERT_TRUE(h.WaitForLog("APP FOUND UNEXPECTED CNX ERROR for box 1 and will restart BoxThread"))
      << h.AllLogs();
  EXPECT_TRUE(h.HasLog(TrIn(BuildLanguage(), {"(recv) returned 0", "(recv) a retourn\xc3\xa9 0"})));
  EXPECT_TRUE(h.HasLog(Tail(kMsgBoxReceptionFailed)));
  EXPECT_TRUE(h.HasLog("APP CNX ERROR for box 1. Expected = NO. StopBoxThread"));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 1);
  EXPECT_GE(timerRestarts, 1);
  // The new thread connects again and gets the next sequence numbers.
  ASSERT_TRUE(peer.Accept());
  peer.ClearReceived();
  peer.Send("57@heartBeat@0002@x;");
  EXPECT_EQ(peer.ReceiveCommands(4).substr(0, 21), "57@readerOpen@0004@1;");
  EXPECT_TRUE(h.PumpUntil([&] { return h.CountLogs(Tail(kMsgConnectionSuccessful)) == 2; }));
  EXPECT_TRUE(h.HasLog(Tail(kMsgAttemptToConnect)));
}

TEST_F(BoxThreadTest, NoReconnectionTimeTriesOnceAndEndsWithoutAlarm) {
  h.settings.GBoxReconnectSeconds = 0;
  peer.CloseListener();  // nobody answers
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.PumpUntil([&] { return !box.IsThreadRunning(); }));
  h.Pump();
  EXPECT_TRUE(h.HasLog(StrF(TailFormat(kMsgAttemptToConnect).c_str(), 0))) << h.AllLogs();
  EXPECT_EQ(h.CountLogs("Unable to Connect"), 1);
  EXPECT_GE(h.statusEvents, 7);  // six while waiting, one at the end
  EXPECT_FALSE(h.HasLog(Tail(kMsgThreadStopped)));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 0);
  EXPECT_TRUE(h.HasLog("APP CNX ERROR for box 1. Expected = YES. StopBoxThread"));
  EXPECT_FALSE(h.HasLog("will restart"));
}

TEST_F(BoxThreadTest, StopWhileConnectingEndsWithItsOwnText) {
  peer.CloseListener();
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.WaitForLog("Unable to Connect"));
  box.StopBoxThread([&] { h.Pump(); });
  h.Pump();
  EXPECT_TRUE(h.HasLog(Tail(kMsgThreadStoppedNoConnect))) << h.AllLogs();
  EXPECT_EQ(h.CountLogs(Tail(kMsgThreadStopped)), 1);  // only as part of the text above
  EXPECT_FALSE(h.HasLog(Tail(kMsgClearDetectionsCache)));
  EXPECT_FALSE(box.Transport()->IsReconnecting());
}

TEST_F(BoxThreadTest, StopDuringDiscoveryIsNotLost) {
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(
      h.WaitForLog(StrF(Tr(kMsgBoxInitialized).c_str(), 1, "127.0.0.1", peer.Port(), "31")));
  box.StopBoxThread([&] { h.Pump(); });  // returns: the thread saw the stop
  EXPECT_FALSE(box.IsThreadRunning());
  h.Pump();
  EXPECT_FALSE(h.HasLog(Tail(kMsgBoxReceptionFailed)));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 0);
}

TEST_F(BoxThreadTest, InitBoxOnTheMainThreadThenAThreadHandlesTheFirstLine) {
  std::thread peerSide([&] {
    ASSERT_TRUE(peer.Accept());
    peer.Send("\n57@epc@0001@" + TodayDetection("E2003412") + ";");  // an empty line first
  });
  ASSERT_TRUE(box.InitBox());
  peerSide.join();
  EXPECT_EQ(box.DeviceId(), "57");
  EXPECT_EQ(h.records.RecordCount(), 0u);  // not yet: the box thread handles it
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 1; })) << h.AllLogs();
  EXPECT_FALSE(h.HasLog(Tail(kMsgAttemptToConnect)));  // it started on a connected box
}

TEST_F(BoxThreadTest, UnrecognisedFirstLineKeepsThePreviousDeviceId) {
  box.SetDeviceId("12");
  std::thread peerSide([&] {
    ASSERT_TRUE(peer.Accept());
    peer.Send("garbage;");
  });
  ASSERT_TRUE(box.InitBox());
  peerSide.join();
  EXPECT_EQ(box.DeviceId(), "12");
  EXPECT_EQ(peer.ReceiveCommands(4).substr(0, 21), "12@readerOpen@0000@1;");
  h.Pump();
  EXPECT_TRUE(h.HasLog(Tail(kMsgDeviceIdInvalidInput) + "garbage;"));
}

TEST_F(BoxThreadTest, InitBoxFailureIsAnAlertWithTheReason) {
  peer.CloseListener();
  EXPECT_FALSE(box.InitBox());
  h.Pump();
  std::string expected = StrF(Tr(kMsgCannotConnect).c_str(), box.ConnectionName().c_str(),
                              "127.0.0.1", peer.Port(), "31", "Unable to Connect");
  EXPECT_TRUE(h.HasLog("######## ## ")) << h.AllLogs();
  EXPECT_TRUE(h.HasLog(expected.substr(expected.find(" : ")))) << h.AllLogs();
  box.Transport()->SetConfig("31", "127.0.0.1", 0);
  EXPECT_FALSE(box.InitBox());  // no port: not even tried
}

TEST_F(BoxThreadTest, DiscoveryEndsAtItsDeadlineWhateverCameAndTheStartedLineIsKept) {
  h.settings.GBoxDiscoverySeconds = 1;
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  // Half a line, then nothing: the discovery gives up at its deadline all the same, and the
  // channels are opened without a device id.
  std::string detection = "57@epc@0001@" + TodayDetection("E2003412") + ";";
  peer.Send(detection.substr(0, 20));
  EXPECT_EQ(peer.ReceiveCommands(4),
            "@readerOpen@0000@1;@readerOpen@0001@2;@readerOpen@0002@3;@readerOpen@0003@4;");
  ASSERT_TRUE(h.WaitForLog(Tail(kMsgConnectionSuccessful))) << h.AllLogs();
  EXPECT_TRUE(h.HasLog(StrF(TailFormat(kMsgNoDataReceived).c_str(), 1))) << h.AllLogs();
  EXPECT_EQ(box.DeviceId(), "");
  // The rest of the line comes: the reading loop gets it whole.
  peer.Send(detection.substr(20));
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 1; })) << h.AllLogs();
  EXPECT_EQ(h.records.Snapshot()[0].detectorLabel, "31");
  EXPECT_FALSE(h.HasLog(".. "));
}

TEST_F(BoxThreadTest, AStopWaitsOnlyForTheThreadItStopped) {
  // The box thread is inside a connection attempt that gets no answer (up to one second):
  // the stop cannot cut it short, so its wait handles events for a while.
  testing::UnansweredPort unanswered;
  box.ConfigureTransport("31", "127.0.0.1", unanswered.Port());
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(h.WaitForLog(Tail(kMsgAttemptToConnect)));
  int pumps = 0;
  bool restartedInside = true;
  box.StopBoxThread([&] {
    h.Pump();
    if (pumps++ == 0) {
      // What the handler of a lost box does inside that wait: end the thread, start another.
      box.StopBoxThread([&] { h.Pump(); }, COstraBox::StopKind::kCleanup);
      restartedInside = box.StartBoxThread();
    }
  });
  ASSERT_GE(pumps, 1);
  EXPECT_FALSE(restartedInside);
  EXPECT_FALSE(box.IsThreadRunning());
  EXPECT_EQ(h.shared.runningThreads.load(), 0);
  h.Pump();
  EXPECT_TRUE(h.HasLog(Tail(kMsgThreadStoppedNoConnect))) << h.AllLogs();
  // Once the stop is over, the box can be started again.
  EXPECT_TRUE(box.StartBoxThread());
}

const std::string kRestarted = "APP FOUND UNEXPECTED CNX ERROR for box 1 and will restart";

// The date of TodayDetection's reads, "YYYY-MM-DD".
std::string TodayDashed() {
  return TodayDetection("").substr(0, 10);
}

// An epc line of the read of chip at this time of today.
std::string EpcLine(int sequence, const std::string& time, const std::string& chip) {
  return StrF("57@epc@%04d@", sequence) + TodayDashed() + "_" + time + "," + chip + ";";
}

TEST_F(BoxThreadTest, ALostBoxReplaysFromJustBeforeItsLastRecordedReadAndOnlyMissedReadsCount) {
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.Send(EpcLine(1, "10:23:40.000", "E1") + EpcLine(2, "10:23:45.120", "E2"));
  peer.ReceiveCommands(4);
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 2; })) << h.AllLogs();

  peer.CloseClient();  // lost: the box thread is started again and reconnects
  ASSERT_TRUE(h.WaitForLog(kRestarted)) << h.AllLogs();
  ASSERT_TRUE(peer.Accept());
  peer.ClearReceived();
  std::int64_t before = SystemClock().NowUnixMs();
  peer.Send("57@heartBeat@0003@x;");
  std::string commands = peer.ReceiveCommands(5);
  std::int64_t after = SystemClock().NowUnixMs();
  // The channels first, then the replay from 5 s before the last recorded read to a minute
  // past the PC's clock.
  std::string rewind = "57@rewindData@0008@" + TodayDashed() + "_10:23:40.120,";
  ASSERT_EQ(commands.rfind("57@readerOpen@0004@1;", 0), 0u) << commands;
  std::size_t at = commands.find("57@rewindData@");
  ASSERT_NE(at, std::string::npos) << commands;
  EXPECT_EQ(commands.substr(at, rewind.size()), rewind);
  std::string end = commands.substr(at + rewind.size(), 23);
  EXPECT_GE(end, BoxDateTimeText(before + 60000));
  EXPECT_LE(end, BoxDateTimeText(after + 60000));
  EXPECT_EQ(commands.substr(at + rewind.size() + 23), ";");

  peer.Send("57@epc_rewind_start@0004@5;" +
            EpcLine(5, "10:23:45.120", "E2") +  // delivered before the loss
            EpcLine(6, "10:23:45.140", "E2") +  // missed, but a repeat of the one before
            EpcLine(7, "10:23:46.000", "E3") + EpcLine(8, "10:23:47.000", "E2") +
            "57@epc@0009@unreadable;57@epc_rewind_done@0010@5;");
  const std::string recovered = StrF(Tr(kMsgReadsRecovered).c_str(), 1, 2, 5);
  ASSERT_TRUE(h.WaitForLog(recovered)) << h.AllLogs();
  ASSERT_EQ(h.records.RecordCount(), 4u);
  std::vector<CKolResult> records = h.records.Snapshot();
  EXPECT_EQ(records[2].bibText, "E3");
  EXPECT_EQ(records[3].bibText, "E2");
  EXPECT_EQ(records[3].timeText, "10:23:47.00");

  // A replay the operator asks for from the box menu is taken as it comes.
  peer.Send("57@epc_rewind_start@0011@1;" + EpcLine(12, "10:23:40.000", "E1") +
            "57@epc_rewind_done@0013@1;");
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 5; })) << h.AllLogs();
  h.Pump();
  EXPECT_EQ(h.CountLogs(recovered), 1);
}

TEST_F(BoxThreadTest, OnlyALossWithTheSettingOnAsksForTheMissedReads) {
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.Send("57@heartBeat@0001@x;");
  peer.ReceiveCommands(4);
  // Lost before anything was recorded from the box: the replay covers today.
  peer.CloseClient();
  ASSERT_TRUE(h.WaitForLog(kRestarted)) << h.AllLogs();
  ASSERT_TRUE(peer.Accept());
  peer.ClearReceived();
  std::time_t now = std::time(nullptr);
  peer.Send("57@heartBeat@0002@x;");
  EXPECT_EQ(peer.ReceiveCommands(5).substr(84),
            "57@rewindData@0008@" + TodayRangeParameter(now) + ";");

  // Lost again, and the operator disconnects the box while it is coming back: connected
  // again by the operator, it is not asked for a replay.
  peer.CloseClient();
  ASSERT_TRUE(h.PumpUntil([&] { return h.CountLogs(kRestarted) == 2; })) << h.AllLogs();
  ASSERT_TRUE(peer.Accept());  // and nothing sent: the box thread waits for a first line
  box.StopBoxThread([&] { h.Pump(); });
  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.ClearReceived();
  peer.Send(EpcLine(3, "10:23:45.120", "E1"));
  // Recorded once the channels are open, after anything the connection sends first.
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 1; })) << h.AllLogs();
  EXPECT_EQ(peer.ReceiveCommands(5, 200ms),
            "57@readerOpen@0009@1;57@readerOpen@0010@2;57@readerOpen@0011@3;57@readerOpen@0012@4;");

  // A loss with the setting off.
  h.settings.BAutoRecover = 0;
  peer.CloseClient();
  ASSERT_TRUE(h.PumpUntil([&] { return h.CountLogs(kRestarted) == 3; })) << h.AllLogs();
  ASSERT_TRUE(peer.Accept());
  peer.ClearReceived();
  peer.Send(EpcLine(4, "10:23:46.120", "E2"));
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 2; })) << h.AllLogs();
  EXPECT_EQ(peer.ReceiveCommands(5, 200ms).find("rewindData"), std::string::npos);
  EXPECT_EQ(h.CountLogs(Tail(kMsgAskingForMissedReads)), 1);
}

// A box whose connection dies without a word (a pulled cable): nothing arrives and nothing is
// closed, yet the connection is found dead and the box goes through the usual reconnection.
TEST(BoxThreadDeadPeerTest, AVanishedBoxIsFoundDeadAndReconnected) {
  testing::VanishingPeerNetwork network;
  std::string why;
  if (!network.Enter(&why)) {
    GTEST_SKIP() << why;
  }
  BoxLinkHarness h;
  h.settings.GVarnexConnectionTimeout = 1;
  LoopbackPeer peer(testing::VanishingPeerNetwork::kPeerAddress);
  COstraBox box(h.services, 1);
  BoxSupervisor supervisor{
      h.services, {[&](int n) { return n == 1 ? &box : nullptr; }, {}, {}, [&] { h.Pump(); }}};
  h.onStatus = [&](int number, int failed) { supervisor.OnBoxStatus(number, failed); };
  box.ConfigureTransport("31", testing::VanishingPeerNetwork::kPeerAddress, peer.Port());
  // Seconds rather than the real half minute.
  auto* transport = dynamic_cast<CTcpComBox*>(box.Transport());
  ASSERT_NE(transport, nullptr);
  transport->SetDeadPeerTimes({1, 1, 2, 3000});

  ASSERT_TRUE(box.StartBoxThread());
  ASSERT_TRUE(peer.Accept());
  peer.Send("57@heartBeat@0001@x;");
  peer.ReceiveCommands(4);
  ASSERT_TRUE(h.WaitForLog(Tail(kMsgConnectionSuccessful)));
  ASSERT_TRUE(network.CutPeer());
  ASSERT_TRUE(
      h.WaitForLog("APP FOUND UNEXPECTED CNX ERROR for box 1 and will restart BoxThread", 30000ms))
      << h.AllLogs();
  EXPECT_TRUE(h.HasLog(StrF(TailFormat(kMsgTcpRecvReturned).c_str(), -ETIMEDOUT))) << h.AllLogs();
  EXPECT_TRUE(h.HasLog(Tail(kMsgBoxReceptionFailed)));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 1);

  // The cable is back: the new thread's attempts reach the box again.
  ASSERT_TRUE(network.RestorePeer());
  ASSERT_TRUE(peer.Accept(20000ms));
  peer.Send("57@heartBeat@0002@x;");
  EXPECT_TRUE(h.PumpUntil([&] { return h.CountLogs(Tail(kMsgConnectionSuccessful)) == 2; }))
      << h.AllLogs();
  box.StopBoxThread([&] { h.Pump(); });
  h.onStatus = nullptr;
}

}  // namespace
}  // namespace lapora
