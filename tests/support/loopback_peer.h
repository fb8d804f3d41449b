// A loopback TCP peer for tests: listens on a free port of 127.0.0.1, accepts one client,
// sends and receives bytes with deadlines; and a loopback port that refuses. Used from one test
// thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace lapora::testing {

using namespace std::chrono_literals;

// A socket bound to a free loopback port, not listening; its port goes to *port. The caller
// owns the socket.
inline int BoundLoopbackSocket(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

// A loopback port where nothing listens: connecting to it is refused at once (a box declared
// there never connects and keeps reconnecting). Its socket stays bound, never listening, until
// the test process ends: a port given back would be free for another test run alongside, whose
// listener would then answer.
inline int RefusedPort() {
  int port = 0;
  (void)BoundLoopbackSocket(&port);
  return port;
}

// A loopback port that neither accepts nor refuses: its queue of one place is taken, so a new
// connection attempt gets no answer at all and waits until the connecting side gives up.
class UnansweredPort {
 public:
  UnansweredPort() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listen, 0);
    socklen_t length = sizeof address;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~UnansweredPort() {
    ::close(m_filler);
    ::close(m_listen);
  }
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  int Port() const { return m_port; }

 private:
  int m_listen = -1;
  int m_filler = -1;
  int m_port = 0;
};

// A loopback TCP peer that plays the box: listens, accepts, sends and receives bytes.
class LoopbackPeer {
 public:
  // host: a loopback address (127.0.0.2 for a peer that a test cuts off on its own).
  explicit LoopbackPeer(const char* host = "127.0.0.1") {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, host, &address.sin_addr);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listen, 8);
    socklen_t length = sizeof address;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }
  ~LoopbackPeer() {
    CloseClient();
    if (m_listen >= 0) {
      ::close(m_listen);
    }
  }
  int Port() const { return m_port; }

  // Waits for the box's connection; true when one came.
  bool Accept(std::chrono::milliseconds deadline = 10000ms) {
    pollfd waited{m_listen, POLLIN, 0};
    if (::poll(&waited, 1, static_cast<int>(deadline.count())) <= 0) {
      return false;
    }
    CloseClient();
    m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    return m_client >= 0;
  }
  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::send(m_client, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (put <= 0) {
        return;
      }
      done += static_cast<std::size_t>(put);
    }
  }
  // Reads until the received bytes hold `count` occurrences of ";" or the deadline passes.
  std::string ReceiveCommands(int count, std::chrono::milliseconds deadline = 10000ms) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (CountOf(m_received, ';') < count && std::chrono::steady_clock::now() < end) {
      pollfd waited{m_client, POLLIN, 0};
      if (::poll(&waited, 1, 20) > 0) {
        char buffer[4096];
        ssize_t got = ::recv(m_client, buffer, sizeof buffer, 0);
        if (got <= 0) {
          break;
        }
        m_received.append(buffer, static_cast<std::size_t>(got));
      }
    }
    return m_received;
  }
  void ClearReceived() { m_received.clear(); }
  // True when the box closed its end (read returns 0) within the deadline.
  bool WaitForClose(std::chrono::milliseconds deadline = 10000ms) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
      pollfd waited{m_client, POLLIN, 0};
      if (::poll(&waited, 1, 20) > 0) {
        char buffer[4096];
        ssize_t got = ::recv(m_client, buffer, sizeof buffer, 0);
        if (got <= 0) {
          return true;
        }
        m_received.append(buffer, static_cast<std::size_t>(got));
      }
    }
    return false;
  }
  void CloseClient() {
    if (m_client >= 0) {
      ::close(m_client);
      m_client = -1;
    }
  }
  void CloseListener() {
    if (m_listen >= 0) {
      ::close(m_listen);
      m_listen = -1;
    }
  }

 private:
  static int CountOf(const std::string& text, char c) {
    int n = 0;
    for (char x : text) {
      n += x == c ? 1 : 0;
    }
    return n;
  }

  int m_listen = -1;
  int m_client = -1;
  int m_port = 0;
  std::string m_received;
};

}  // namespace lapora::testing
