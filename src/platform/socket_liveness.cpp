#include "platform/socket_liveness.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace lapora {

long UnsentByteCount(int fd) {
  int unsent = 0;
  if (::ioctl(fd, SIOCOUTQ, &unsent) != 0) {
    return -1;
  }
  return unsent;
}

long SendWithin(int fd, const char* data, std::size_t size, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (true) {
    // Never inside a blocking send: a peer that stops reading would hold the caller for good.
    ssize_t put = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put >= 0) {
      return static_cast<long>(put);
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return -static_cast<long>(errno);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      return 0;
    }
    pollfd waited{fd, POLLOUT, 0};
    if (::poll(&waited, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
      return -static_cast<long>(errno);
    }
  }
}

}  // namespace lapora
