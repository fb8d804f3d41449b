#include "boxlink/tcp_com_box.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>

#include "support/boxlink_support.h"
#include "support/socket_probes.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using testing::LoopbackPeer;
using namespace std::chrono_literals;

class TcpComBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box.SetConfig("31", "127.0.0.1", peer.Port());
    std::string error;
    ASSERT_TRUE(box.Connect(&error)) << error;
    ASSERT_TRUE(peer.Accept());
  }
  // Reads one line after WaitForData said it is there.
  long Line(std::string& text) {
    text.clear();
    EXPECT_EQ(box.WaitForData(5000), 1);
    return box.ReadLine(text);
  }
  BoxLinkHarness h;
  LoopbackPeer peer;
  CTcpComBox box{h.log, h.settings};
};

TEST_F(TcpComBoxTest, LinesEndAtSemicolonKeptOrLineFeedDropped) {
  peer.Send("one;two;\nthree\r\nfour");
  std::string line;
  EXPECT_EQ(Line(line), 4);
  EXPECT_EQ(line, "one;");
  EXPECT_EQ(Line(line), 4);
  EXPECT_EQ(line, "two;");
  EXPECT_EQ(Line(line), 0);  // the line feed right after ";" is an empty line
  EXPECT_EQ(line, "");
  EXPECT_EQ(Line(line), 6);
  EXPECT_EQ(line, "three\r");        // a carriage return is an ordinary character
  EXPECT_EQ(box.WaitForData(0), 0);  // "four" has no end yet
  peer.Send(";");
  EXPECT_EQ(Line(line), 5);
  EXPECT_EQ(line, "four;");
}

TEST_F(TcpComBoxTest, ALineSplitOverManyWritesIsWholeAndAppended) {
  std::string line = "kept:";
  std::thread writer([&] {
    for (char c : std::string("57@epc@0001@2012-05-13_10:23:45.120,E2003412;")) {
      peer.Send(std::string(1, c));
      std::this_thread::sleep_for(1ms);
    }
  });
  EXPECT_EQ(box.WaitForData(5000), 1);
  long count = box.ReadLine(line);
  writer.join();
  EXPECT_EQ(line, "kept:57@epc@0001@2012-05-13_10:23:45.120,E2003412;");
  EXPECT_EQ(count, 45);
}

TEST_F(TcpComBoxTest, PeerClosingMidLineFailsAndIsLoggedWithZero) {
  peer.Send("57@epc@1@partial");
  peer.CloseClient();
  std::string line;
  EXPECT_EQ(box.WaitForData(5000), 1);
  EXPECT_EQ(box.ReadLine(line), -1);
  EXPECT_FALSE(box.IsConnected());
  EXPECT_EQ(box.WaitForData(0), -1);
  EXPECT_EQ(box.ReadLine(line), -1);
  h.Pump();
  EXPECT_TRUE(h.HasLog(TrIn(BuildLanguage(), {"Reading socket (recv) returned 0",
                                              "Lecture de socket (recv) a retourn\xc3\xa9 0"})))
      << h.AllLogs();
  EXPECT_TRUE(h.HasLog(StrF("[%d] ", CurrentThreadNumber())));
}

TEST_F(TcpComBoxTest, AReadWithADeadlineKeepsHalfALineForTheNextRead) {
  peer.Send("57@epc@1@2012-05-13");
  std::string line = "kept:";
  ASSERT_EQ(box.WaitForData(5000), 1);
  EXPECT_EQ(box.ReadLineWithin(line, 50), kNoLineYet);
  EXPECT_EQ(line, "kept:");
  EXPECT_TRUE(box.IsConnected());
  peer.Send("_10:23:45.120,E2003412;57@heartBeat@2@x;");
  EXPECT_EQ(box.ReadLineWithin(line, 5000), 42);
  EXPECT_EQ(line, "kept:57@epc@1@2012-05-13_10:23:45.120,E2003412;");
  // A line already received comes out even with no time left.
  line.clear();
  EXPECT_EQ(box.ReadLineWithin(line, 0), 17);
  EXPECT_EQ(line, "57@heartBeat@2@x;");
  peer.CloseClient();
  EXPECT_EQ(box.ReadLineWithin(line, 5000), -1);
  EXPECT_FALSE(box.IsConnected());
}

TEST_F(TcpComBoxTest, EveryConnectionIsWatchedForADeadPeer) {
  int fd = box.GetHandle();
  auto option = [fd](int level, int name) { return testing::SocketOption(fd, level, name); };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 10);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 5);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 30000);
}

TEST_F(TcpComBoxTest, RequestStopWakesABlockedReadWithoutLoggingIt) {
  std::atomic<long> result{1};
  peer.Send("57@epc@1@x");  // no end: the read blocks for the rest
  std::thread reader([&] {
    std::string line;
    result = box.ReadLine(line);
  });
  std::this_thread::sleep_for(20ms);  // let the reader block (the result does not depend on it)
  EXPECT_TRUE(box.RequestStop());
  reader.join();
  EXPECT_LT(result.load(), 0);
  EXPECT_TRUE(box.IsStopRequested());
  EXPECT_FALSE(box.IsConnected());
  h.Pump();
  EXPECT_FALSE(h.HasLog("recv")) << h.AllLogs();
  // The next successful connection clears stop requested.
  ASSERT_TRUE(box.Connect(nullptr));
  EXPECT_FALSE(box.IsStopRequested());
}

TEST_F(TcpComBoxTest, AnOverlongLineIsReportedOnceAndSkipped) {
  std::string huge(kMaxBoxLineBytes + 1000, 'x');
  peer.Send(huge);
  peer.Send(huge);  // still the same line: no second report
  peer.Send("@tail;57@heartBeat@1@ok;");
  std::string line;
  EXPECT_EQ(Line(line), 18);
  EXPECT_EQ(line, "57@heartBeat@1@ok;");
  h.Pump();
  EXPECT_EQ(h.CountLogs(".. Unknown command format: xxx"), 1) << h.AllLogs().substr(0, 300);
  // A line of exactly the bound is still delivered.
  peer.Send(std::string(kMaxBoxLineBytes - 1, 'y') + ";");
  EXPECT_EQ(Line(line), static_cast<long>(kMaxBoxLineBytes));
}

TEST(TcpComBoxConnectTest, FailuresGiveTheirTexts) {
  BoxLinkHarness h;
  CTcpComBox box(h.log, h.settings);
  box.SetConfig("31", "no-such-host.invalid", 10000);
  std::string error;
  EXPECT_FALSE(box.Connect(&error));
  EXPECT_EQ(error, "Error gethostbyname");
  int port;
  {
    LoopbackPeer closed;
    port = closed.Port();
  }
  box.SetConfig("31", "127.0.0.1", port);
  EXPECT_FALSE(box.Connect(&error));
  EXPECT_EQ(error, "Unable to Connect");
  EXPECT_FALSE(box.IsConnected());
  EXPECT_EQ(box.GetHandle(), 0);
  EXPECT_EQ(box.WaitForData(0), -1);
  EXPECT_EQ(box.Send("x", 1), -1);
}

TEST(TcpComBoxConnectTest, WaitForDataWaitsAtMostItsTime) {
  BoxLinkHarness h;
  LoopbackPeer peer;
  CTcpComBox box(h.log, h.settings);
  box.SetConfig("31", "127.0.0.1", peer.Port());
  ASSERT_TRUE(box.Connect(nullptr));
  ASSERT_TRUE(peer.Accept());
  EXPECT_EQ(box.WaitForData(50), 0);  // nothing comes: returns after its time
  peer.Send("a;");
  EXPECT_EQ(box.WaitForData(1500), 1);
}

TEST(ComBoxLabelsTest, LabelsStatesAndAddressKinds) {
  BoxLinkHarness h;
  CTcpComBox box(h.log, h.settings);
  EXPECT_EQ(box.GetHost(), "localhost");
  EXPECT_EQ(box.GetPort(), 10000);
  EXPECT_EQ(box.DetectorId(), "31");
  box.SetConfig("31", "192.168.1.21", 10000);
  EXPECT_EQ(box.GetLabel(), "[21:10000 31]");
  EXPECT_EQ(box.GetShortLabel(), "21-10000-31");
  EXPECT_TRUE(box.IsConfigured());
  EXPECT_FALSE(box.IsActive());
  box.SetReconnecting(true);
  EXPECT_TRUE(box.IsActive());
  EXPECT_FALSE(box.IsConnected());
  box.SetConfig("31", "", 10000);
  EXPECT_FALSE(box.IsConfigured());
  box.SetConfig("31", "host", 0);
  EXPECT_FALSE(box.HasPort());
  EXPECT_EQ(box.GetLabel(), "[host:0 31]");
  EXPECT_FALSE(box.IsSerial());

  EXPECT_TRUE(IsSerialAddress("COM12"));
  EXPECT_TRUE(IsSerialAddress("com3"));
  EXPECT_TRUE(IsSerialAddress("/dev/pts/4"));
  EXPECT_FALSE(IsSerialAddress("timing.example.com"));
  EXPECT_FALSE(IsSerialAddress("COMPUTER"));
  EXPECT_FALSE(IsSerialAddress("com.example.org"));
  EXPECT_FALSE(IsSerialAddress("192.168.1.21"));
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(SerialDevicePath("/dev/pts/4"), "/dev/pts/4");
}

}  // namespace
}  // namespace lapora
