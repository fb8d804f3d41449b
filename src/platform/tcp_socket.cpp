#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace lapora {
namespace {

bool SetNonBlocking(int fd, bool nonBlocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) {
    return false;
  }
  flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

std::string ErrnoText(const char* call, int error) {
  return std::string(call) + ": " + std::strerror(error);
}

void SetError(std::string* out, std::string text) {
  if (out != nullptr) {
    *out = std::move(text);
  }
}

}  // namespace

bool EnableDeadPeerDetection(int fd, const DeadPeerTimes& times, std::string* systemError) {
  struct Option {
    int level;
    int name;
    int value;
    const char* text;
  };
  const Option options[] = {
      {SOL_SOCKET, SO_KEEPALIVE, 1, "setsockopt(SO_KEEPALIVE)"},
      {IPPROTO_TCP, TCP_KEEPIDLE, times.idleSeconds, "setsockopt(TCP_KEEPIDLE)"},
      {IPPROTO_TCP, TCP_KEEPINTVL, times.intervalSeconds, "setsockopt(TCP_KEEPINTVL)"},
      {IPPROTO_TCP, TCP_KEEPCNT, times.probes, "setsockopt(TCP_KEEPCNT)"},
      {IPPROTO_TCP, TCP_USER_TIMEOUT, times.userTimeoutMs, "setsockopt(TCP_USER_TIMEOUT)"},
  };
  for (const Option& option : options) {
    if (::setsockopt(fd, option.level, option.name, &option.value, sizeof option.value) != 0) {
      SetError(systemError, ErrnoText(option.text, errno));
      return false;
    }
  }
  SetError(systemError, {});
  return true;
}

TcpSocket::~TcpSocket() {
  Close();
  std::lock_guard lock(m_fdMutex);
  for (int fd : m_closePending) {
    ::close(fd);
  }
  m_closePending.clear();
}

TcpConnectResult TcpSocket::Connect(const std::string& host, int port, int timeoutMs,
                                    std::string* systemError) {
  Close();
  SetError(systemError, {});

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    SetError(systemError, std::string("getaddrinfo: ") + gai_strerror(rc));
    if (found != nullptr) {
      freeaddrinfo(found);
    }
    return TcpConnectResult::kResolveFailed;
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  freeaddrinfo(found);
  address.sin_port = htons(static_cast<std::uint16_t>(port));

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(systemError, ErrnoText("socket", errno));
    return TcpConnectResult::kFailed;
  }
  auto fail = [&](const char* call, int error) {
    SetError(systemError, ErrnoText(call, error));
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    return TcpConnectResult::kFailed;
  };
  if (!SetNonBlocking(fd, true)) {
    return fail("fcntl", errno);
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) {
      return fail("connect", errno);
    }
    pollfd waited{fd, POLLOUT, 0};
    int ready;
    do {
      ready = ::poll(&waited, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
      return fail("poll", errno);
    }
    if (ready == 0) {
      return fail("connect", ETIMEDOUT);
    }
    // Writable only says the attempt ended: the socket's own error says how.
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      return fail("getsockopt", errno);
    }
    if (error != 0) {
      return fail("connect", error);
    }
  }
  if (!SetNonBlocking(fd, false)) {
    return fail("fcntl", errno);
  }
  int one = 1;
  // Commands are short single writes; sending them at once matters more than packing.
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  std::lock_guard lock(m_fdMutex);
  m_fd = fd;
  return TcpConnectResult::kConnected;
}

bool TcpSocket::IsOpen() const {
  std::lock_guard lock(m_fdMutex);
  return m_fd >= 0;
}

bool TcpSocket::EnableDeadPeerDetection(const DeadPeerTimes& times, std::string* systemError) {
  int fd = Enter();
  if (fd < 0) {
    SetError(systemError, "setsockopt: not connected");
    return false;
  }
  bool ok = lapora::EnableDeadPeerDetection(fd, times, systemError);
  Leave();
  return ok;
}

int TcpSocket::Handle() const {
  std::lock_guard lock(m_fdMutex);
  return m_fd;
}

void TcpSocket::Adopt(int fd) {
  Close();
  std::lock_guard lock(m_fdMutex);
  m_fd = fd;
}

int TcpSocket::Enter() {
  std::lock_guard lock(m_fdMutex);
  if (m_fd < 0) {
    return -1;
  }
  ++m_callsInside;
  return m_fd;
}

void TcpSocket::Leave() {
  std::lock_guard lock(m_fdMutex);
  if (--m_callsInside == 0) {
    for (int fd : m_closePending) {
      ::close(fd);
    }
    m_closePending.clear();
  }
}

int TcpSocket::WaitReadable(int timeoutMs) {
  int fd = Enter();
  if (fd < 0) {
    return -1;
  }
  pollfd waited{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&waited, 1, timeoutMs < 0 ? 0 : timeoutMs);
  } while (ready < 0 && errno == EINTR);
  Leave();
  if (ready < 0) {
    return -1;
  }
  return ready > 0 ? 1 : 0;
}

long TcpSocket::Receive(char* buffer, std::size_t size) {
  int fd = Enter();
  if (fd < 0) {
    return -1;
  }
  ssize_t got;
  do {
    got = ::recv(fd, buffer, size, 0);
  } while (got < 0 && errno == EINTR);
  long result = got >= 0 ? static_cast<long>(got) : -static_cast<long>(errno);
  Leave();
  return result;
}

long TcpSocket::Send(const char* data, std::size_t size) {
  int fd = Enter();
  if (fd < 0) {
    return -1;
  }
  ssize_t sent;
  do {
    sent = ::send(fd, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  long result = sent >= 0 ? static_cast<long>(sent) : -static_cast<long>(errno);
  Leave();
  return result;
}

bool TcpSocket::SendAll(const char* data, std::size_t size, int timeoutMs, std::size_t* sent,
                        std::string* systemError) {
  std::size_t done = 0;
  auto report = [&](bool ok, std::string text) {
    if (sent != nullptr) {
      *sent = done;
    }
    SetError(systemError, std::move(text));
    return ok;
  };
  int fd = Enter();
  if (fd < 0) {
    return report(false, "send: not connected");
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  bool ok = true;
  std::string error;
  while (done < size) {
    // Never block inside send: a peer that stops reading would hold the caller for good.
    ssize_t put = ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      ok = false;
      error = ErrnoText("send", errno);
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      ok = false;
      error = ErrnoText("send", ETIMEDOUT);
      break;
    }
    pollfd waited{fd, POLLOUT, 0};
    int ready = ::poll(&waited, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      ok = false;
      error = ErrnoText("poll", errno);
      break;
    }
  }
  Leave();
  return report(ok, std::move(error));
}

long TcpSocket::WithDescriptor(const std::function<long(int fd)>& call) {
  int fd = Enter();
  if (fd < 0) {
    return -1;
  }
  long result = call(fd);
  Leave();
  return result;
}

void TcpSocket::Close() {
  std::lock_guard lock(m_fdMutex);
  if (m_fd < 0) {
    return;
  }
  // Shutdown wakes a receive or a wait blocked in another thread; the descriptor itself stays
  // valid until that call has left it.
  ::shutdown(m_fd, SHUT_RDWR);
  if (m_callsInside > 0) {
    m_closePending.push_back(m_fd);
  } else {
    ::close(m_fd);
  }
  m_fd = -1;
}

void TcpSocket::Abort() {
  std::lock_guard lock(m_fdMutex);
  if (m_fd < 0) {
    return;
  }
  // A zero linger time makes the close send a reset and drop the send queue. No shutdown
  // before it: that would push the queued data out ahead of a closing handshake.
  const linger reset{1, 0};
  (void)::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  if (m_callsInside > 0) {
    ::shutdown(m_fd, SHUT_RDWR);  // wakes the call inside; the close follows when it leaves
    m_closePending.push_back(m_fd);
  } else {
    ::close(m_fd);
  }
  m_fd = -1;
}

}  // namespace lapora
