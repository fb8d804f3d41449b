// Looking at sockets from a test: an integer option of a socket, and a raw client of a local
// (AF_UNIX) socket that the test then drives by hand.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace lapora::testing {

// The value of an integer socket option, -1 when it cannot be read.
inline int SocketOption(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  if (::getsockopt(fd, level, name, &value, &length) != 0) {
    return -1;
  }
  return value;
}

// A client connected to the local socket at path (-1 when it refused); the caller closes it.
inline int ConnectLocalSocket(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace lapora::testing
