#include "platform/socket_liveness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/socket_probes.h"

namespace lapora {
namespace {

using Clock = std::chrono::steady_clock;

// A connected loopback pair: `ours` as the program holds it, `theirs` the peer's end, whose
// receive buffer is kept small so that a peer that does not read is felt soon.
class LoopbackPair : public ::testing::Test {
 protected:
  void SetUp() override {
    int port = 0;
    int listener = testing::SmallBufferListener(&port);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ours = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    theirs = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    ASSERT_GE(theirs, 0);
  }
  void TearDown() override {
    ::close(ours);
    if (theirs >= 0) {
      ::close(theirs);
    }
  }

  // Sends until the socket takes nothing more within the wait; returns the bytes sent.
  long Fill() {
    const std::string block(16384, 'x');
    long total = 0;
    long put;
    while ((put = SendWithin(ours, block.data(), block.size(), 50)) > 0) {
      total += put;
    }
    EXPECT_EQ(put, 0) << "the wait ends without room, not with an error";
    return total;
  }

  int ours = -1;
  int theirs = -1;
};

TEST_F(LoopbackPair, NoCountOfUnsentBytesOnAnythingButASocket) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  EXPECT_EQ(UnsentByteCount(pipeFds[0]), -1);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}

TEST_F(LoopbackPair, UnsentBytesStayWhileThePeerDoesNotReadAndGoWhenItDoes) {
  EXPECT_EQ(UnsentByteCount(ours), 0);
  const long sent = Fill();
  ASSERT_GT(sent, 0);
  const long waiting = UnsentByteCount(ours);
  EXPECT_GT(waiting, 0);
  EXPECT_LE(waiting, sent);
  // Still nothing read: nothing moves, and the send still returns.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(UnsentByteCount(ours), waiting);
  EXPECT_EQ(SendWithin(ours, "y", 1, 10), 0);

  // The peer reads everything: the count drops to nothing.
  char buffer[65536];
  long read = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (read < sent && Clock::now() < deadline) {
    ssize_t got = ::recv(theirs, buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0);
    read += got;
  }
  EXPECT_EQ(read, sent);
  while (UnsentByteCount(ours) != 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(UnsentByteCount(ours), 0);
}

TEST_F(LoopbackPair, ASendToAPeerThatReset) {
  Fill();
  // Closing with unread data resets the connection.
  ::close(theirs);
  theirs = -1;
  long result = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while ((result = SendWithin(ours, "y", 1, 50)) >= 0 && Clock::now() < deadline) {
  }
  EXPECT_TRUE(result == -ECONNRESET || result == -EPIPE)
      << std::strerror(static_cast<int>(-result));
}

}  // namespace
}  // namespace lapora
