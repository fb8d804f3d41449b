#include "platform/local_socket.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "support/socket_probes.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using std::chrono::seconds;
using testing::TempDir;

// Everything the server sends until it closes the connection ("?" after a long silence).
std::string ReadUntilClosed(int fd) {
  std::string received;
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 30000) != 1) {
      return received + "?";
    }
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      return received;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
}

class LocalSocketTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir.File("test.sock"); }
  bool StartEcho(LocalRequestServer& server, std::string* error = nullptr) {
    return server.Start(
        Path(),
        [this](const std::string& request) {
          ++handled;
          return "re: " + request;
        },
        error);
  }
  LocalRequestResult Ask(const std::string& request, std::string* reply,
                         std::string* error = nullptr) {
    return SendLocalRequest(Path(), request, seconds(20), reply, error);
  }

  TempDir dir;
  std::atomic<int> handled{0};
};

TEST_F(LocalSocketTest, AnswersOwnerOnlyAndTakesItsSocketAway) {
  LocalRequestServer server;
  std::string error;
  ASSERT_TRUE(StartEcho(server, &error)) << error;
  struct stat info;
  ASSERT_EQ(lstat(Path().c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(lstat(dir.File("test.sock.new").c_str(), &info), 0);

  std::string reply;
  EXPECT_EQ(Ask("hello", &reply), LocalRequestResult::kAnswered);
  EXPECT_EQ(reply, "re: hello");
  // A raw client's CR LF line end is taken as a line end too.
  int fd = testing::ConnectLocalSocket(Path());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "hi\r\n", 4), 4);
  EXPECT_EQ(ReadUntilClosed(fd), "re: hi\n");
  close(fd);

  server.Stop();
  EXPECT_NE(lstat(Path().c_str(), &info), 0);
  EXPECT_EQ(Ask("hello", &reply, &error), LocalRequestResult::kNoServer);
}

// Silent clients and clients that send what no request looks like are dropped unanswered;
// meanwhile, and once every slot was taken by a silent one, requests are still answered.
TEST_F(LocalSocketTest, SilentAndOversizedClientsHoldNoOne) {
  LocalRequestServer server;
  ASSERT_TRUE(StartEcho(server));
  std::vector<int> silent;
  for (std::size_t i = 0; i < LocalRequestServer::kMaxClients; ++i) {
    silent.push_back(testing::ConnectLocalSocket(Path()));
    ASSERT_GE(silent.back(), 0);
  }
  int flood = testing::ConnectLocalSocket(Path());
  ASSERT_GE(flood, 0);
  std::string noLineEnd(LocalRequestServer::kMaxRequestBytes + 10, 'x');
  ASSERT_EQ(write(flood, noLineEnd.data(), noLineEnd.size()),
            static_cast<ssize_t>(noLineEnd.size()));

  std::string reply;
  std::string error;
  EXPECT_EQ(Ask("still there?", &reply, &error), LocalRequestResult::kAnswered) << error;
  EXPECT_EQ(reply, "re: still there?");
  for (int fd : silent) {
    EXPECT_EQ(ReadUntilClosed(fd), "");
    close(fd);
  }
  EXPECT_EQ(ReadUntilClosed(flood), "");
  close(flood);
  EXPECT_EQ(handled, 1);
}

// A crashed run leaves its socket: nobody answers on it, and the next server replaces it.
// Anything else at that name is not ours to remove.
TEST_F(LocalSocketTest, LeftoverSocketIsReplacedButNoOtherFile) {
  {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", Path().c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  std::string reply;
  std::string error;
  EXPECT_EQ(Ask("anyone?", &reply, &error), LocalRequestResult::kNoServer);
  LocalRequestServer server;
  ASSERT_TRUE(StartEcho(server, &error)) << error;
  EXPECT_EQ(Ask("anyone?", &reply), LocalRequestResult::kAnswered);
  server.Stop();

  testing::WriteFile(Path(), "not a socket");
  EXPECT_FALSE(StartEcho(server, &error));
  EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
  EXPECT_EQ(testing::ReadFile(Path()), "not a socket");
  EXPECT_EQ(Ask("anyone?", &reply, &error), LocalRequestResult::kFailed);
}

// A server that stops after another one took its name over leaves the newer socket alone.
TEST_F(LocalSocketTest, StoppingLeavesANewerServersSocket) {
  LocalRequestServer older;
  LocalRequestServer newer;
  ASSERT_TRUE(StartEcho(older));
  ASSERT_TRUE(StartEcho(newer));
  older.Stop();
  std::string reply;
  EXPECT_EQ(Ask("which?", &reply), LocalRequestResult::kAnswered);
}

// In a folder where others may write, someone else could have put the socket there: neither
// side uses it.
TEST_F(LocalSocketTest, FolderOthersMayWriteToIsRefused) {
  LocalRequestServer server;
  ASSERT_TRUE(StartEcho(server));
  ASSERT_EQ(chmod(dir.path().c_str(), 0770), 0);
  std::string reply;
  std::string error;
  EXPECT_EQ(Ask("hello", &reply, &error), LocalRequestResult::kFailed);
  EXPECT_NE(error.find("other users may write"), std::string::npos) << error;
  EXPECT_EQ(handled, 0);

  server.Stop();
  EXPECT_FALSE(StartEcho(server, &error));
  EXPECT_FALSE(IsPrivateFolder(dir.File("missing")));
  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
  EXPECT_TRUE(IsPrivateFolder(dir.path()));
}

}  // namespace
}  // namespace lapora
