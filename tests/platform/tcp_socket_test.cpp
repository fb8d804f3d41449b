#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket_liveness.h"
#include "support/loopback_peer.h"
#include "support/socket_probes.h"

namespace lapora {
namespace {

using testing::LoopbackPeer;

TEST(TcpSocketTest, ConnectsSendsAndReceivesOverLoopback) {
  LoopbackPeer peer;
  TcpSocket socket;
  ASSERT_EQ(socket.Connect("127.0.0.1", peer.Port(), 2000), TcpConnectResult::kConnected);
  ASSERT_TRUE(peer.Accept());
  EXPECT_TRUE(socket.IsOpen());
  EXPECT_EQ(socket.Send("57@readerOpen@0000@1;", 21), 21);
  EXPECT_EQ(peer.ReceiveCommands(1), "57@readerOpen@0000@1;");

  EXPECT_EQ(socket.WaitReadable(0), 0);
  peer.Send("abc");
  EXPECT_EQ(socket.WaitReadable(5000), 1);
  char buffer[16];
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer), 3);
  peer.CloseClient();
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer), 0);  // closed by the peer
}

TEST(TcpSocketTest, LocalhostByNameAndUnknownHost) {
  LoopbackPeer peer;
  TcpSocket socket;
  EXPECT_EQ(socket.Connect("localhost", peer.Port(), 2000), TcpConnectResult::kConnected);
  std::string error;
  EXPECT_EQ(socket.Connect("no-such-host.invalid", 10000, 2000, &error),
            TcpConnectResult::kResolveFailed);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_FALSE(error.empty());
}

TEST(TcpSocketTest, RefusedConnectionIsAFailureAndNoSocketIsKept) {
  int port;
  {
    LoopbackPeer closed;  // a port that was free a moment ago and has no listener now
    port = closed.Port();
  }
  TcpSocket socket;
  EXPECT_EQ(socket.Connect("127.0.0.1", port, 2000), TcpConnectResult::kFailed);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.Handle(), -1);
}

TEST(TcpSocketTest, UnansweredConnectionTimesOut) {
  // A listener that never accepts, with its queue full: further handshakes get no answer.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  int port = ntohs(address.sin_port);
  std::vector<TcpSocket> fillers(4);
  bool timedOut = false;
  for (TcpSocket& filler : fillers) {
    if (filler.Connect("127.0.0.1", port, 300) == TcpConnectResult::kFailed) {
      timedOut = true;
      break;
    }
  }
  ::close(listener);
  EXPECT_TRUE(timedOut);
}

TEST(TcpSocketTest, DeadPeerDetectionTakesItsTimesOrNamesTheRefusedCall) {
  LoopbackPeer peer;
  TcpSocket socket;
  std::string error;
  EXPECT_FALSE(socket.EnableDeadPeerDetection({}, &error));  // nothing connected yet
  EXPECT_FALSE(error.empty());
  ASSERT_EQ(socket.Connect("127.0.0.1", peer.Port(), 2000), TcpConnectResult::kConnected);
  ASSERT_TRUE(socket.EnableDeadPeerDetection({2, 1, 4, 7000}, &error)) << error;
  EXPECT_EQ(error, "");
  int fd = socket.Handle();
  auto option = [fd](int level, int name) { return testing::SocketOption(fd, level, name); };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 2);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 4);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 7000);

  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  EXPECT_FALSE(EnableDeadPeerDetection(pipeEnds[0], {}, &error));
  EXPECT_NE(error.find("SO_KEEPALIVE"), std::string::npos) << error;
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
}

TEST(TcpSocketTest, CloseFromAnotherThreadWakesABlockedReceive) {
  LoopbackPeer peer;
  TcpSocket socket;
  ASSERT_EQ(socket.Connect("127.0.0.1", peer.Port(), 2000), TcpConnectResult::kConnected);
  ASSERT_TRUE(peer.Accept());
  std::atomic<long> result{1};
  std::atomic<bool> entered{false};
  std::thread reader([&] {
    char buffer[8];
    entered = true;
    result = socket.Receive(buffer, sizeof buffer);
  });
  while (!entered) {
    std::this_thread::yield();
  }
  socket.Close();
  reader.join();
  EXPECT_LE(result.load(), 0);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.Receive(nullptr, 0), -1);
  EXPECT_EQ(socket.WaitReadable(0), -1);
  EXPECT_TRUE(peer.WaitForClose());
}

// The peer stops reading with its buffers full; Close would still deliver what waits on our
// side, Abort must not: the peer gets exactly what its system had acknowledged, then a reset.
TEST(TcpSocketTest, AbortDeliversNothingThePeerHadNotAcknowledged) {
  int port = 0;
  int listener = testing::SmallBufferListener(&port);
  ASSERT_GE(listener, 0);
  TcpSocket socket;
  ASSERT_EQ(socket.Connect("127.0.0.1", port, 2000), TcpConnectResult::kConnected);
  const int theirs = ::accept(listener, nullptr, nullptr);
  ::close(listener);
  ASSERT_GE(theirs, 0);

  const std::string block(16384, 'x');
  long sent = 0;
  for (long put; (put = socket.WithDescriptor([&](int fd) {
                   return SendWithin(fd, block.data(), block.size(), 50);
                 })) > 0;) {
    sent += put;
  }
  const long waiting = socket.WithDescriptor(UnsentByteCount);
  ASSERT_GT(waiting, 0);
  socket.Abort();
  EXPECT_FALSE(socket.IsOpen());
  socket.Abort();  // harmless once closed

  long received = 0;
  char buffer[16384];
  long got;
  while ((got = ::recv(theirs, buffer, sizeof buffer, 0)) > 0) {
    received += got;
  }
  const int error = errno;
  EXPECT_EQ(received, sent - waiting);
  EXPECT_EQ(got, -1);
  EXPECT_EQ(error, ECONNRESET);
  ::close(theirs);
}

}  // namespace
}  // namespace lapora
