// Looking at sockets from a test: an integer option of a socket, a raw client of a local
// (AF_UNIX) socket that the test then drives by hand, and a loopback listener whose accepted
// peers read slowly.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
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

// A loopback listener (backlog 1) whose accepted connections have a small receive buffer, so
// that a peer that does not read is felt soon. Its port goes to *port; -1 when it failed. The
// caller closes it.
inline int SmallBufferListener(int* port) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int small = 4096;
  ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener >= 0) {
      ::close(listener);
    }
    return -1;
  }
  *port = ntohs(address.sin_port);
  return listener;
}

}  // namespace lapora::testing
