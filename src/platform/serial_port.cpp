#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace lapora {
namespace {

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B9600;
  }
}

tcflag_t DataBitsOf(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

}  // namespace

bool SerialPort::Open(const std::string& devicePath, int baud, int dataBits, char parity,
                      int stopBits, SerialOpenError* error) {
  Close();
  auto fail = [&](SerialOpenStep step, int systemError) {
    if (error != nullptr) {
      *error = {step, systemError};
    }
    Close();
    return false;
  };
  int fd;
  do {
    fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return fail(SerialOpenStep::kOpen, errno);
  }
  m_fd = fd;
  // Exclusive use, as far as the driver supports it (pseudo-terminals do).
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    return fail(SerialOpenStep::kOpen, errno);
  }

  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) {
    return fail(SerialOpenStep::kGetState, errno);
  }
  ::cfmakeraw(&settings);
  ::cfsetispeed(&settings, SpeedOf(baud));
  ::cfsetospeed(&settings, SpeedOf(baud));
  settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  settings.c_cflag |= DataBitsOf(dataBits) | CREAD | CLOCAL;
  if (parity == 'E' || parity == 'e') {
    settings.c_cflag |= PARENB;
  } else if (parity == 'O' || parity == 'o') {
    settings.c_cflag |= PARENB | PARODD;
  }
  if (stopBits == 2) {
    settings.c_cflag |= CSTOPB;
  }
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
    return fail(SerialOpenStep::kGetState, errno);
  }
  // DTR on. Lines without modem signals (pseudo-terminals, some adapters) refuse the request,
  // which does not prevent talking to the box.
  int dtr = TIOCM_DTR;
  if (::ioctl(fd, TIOCMBIS, &dtr) != 0 && errno != ENOTTY && errno != EINVAL && errno != ENOTSUP &&
      errno != EIO) {
    return fail(SerialOpenStep::kGetState, errno);
  }
  // Reads return at once with what has arrived.
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return fail(SerialOpenStep::kSetTimeouts, errno);
  }
  if (error != nullptr) {
    *error = {};
  }
  return true;
}

void SerialPort::Close() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

int SerialPort::WaitReadable(int timeoutMs, int wakeFd) {
  if (m_fd < 0) {
    return -1;
  }
  pollfd waited[2] = {{m_fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  int ready;
  do {
    ready = ::poll(waited, wakeFd >= 0 ? 2 : 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    return -1;
  }
  if (ready == 0) {
    return 0;
  }
  if (wakeFd >= 0 && waited[1].revents != 0) {
    return 2;
  }
  return 1;
}

long SerialPort::Read(char* buffer, std::size_t size) {
  if (m_fd < 0) {
    return -EBADF;
  }
  ssize_t got;
  do {
    got = ::read(m_fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    return static_cast<long>(got);
  }
  if (got == 0) {
    // A terminal read of nothing after a readable wait: the line hung up.
    return -EIO;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    return 0;
  }
  return -static_cast<long>(errno);
}

long SerialPort::Write(const char* data, std::size_t size) {
  if (m_fd < 0) {
    return -EBADF;
  }
  std::size_t done = 0;
  while (done < size) {
    ssize_t put = ::write(m_fd, data + done, size - done);
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // The output drains at the line speed; a line that takes nothing for 5 s is stuck.
        pollfd waited{m_fd, POLLOUT, 0};
        int ready = ::poll(&waited, 1, 5000);
        if (ready < 0 && errno != EINTR) {
          return -static_cast<long>(errno);
        }
        if (ready == 0) {
          return -ETIMEDOUT;
        }
        if ((waited.revents & (POLLERR | POLLHUP)) != 0) {
          return -EIO;
        }
        continue;
      }
      return -static_cast<long>(errno);
    }
    done += static_cast<std::size_t>(put);
  }
  return static_cast<long>(done);
}

std::string SerialSystemErrorText(int systemError) {
  std::string text = std::strerror(systemError);
  while (!text.empty() && !std::isalnum(static_cast<unsigned char>(text.back()))) {
    text.pop_back();
  }
  return "[#" + std::to_string(systemError) + "]= \"" + text + "\"";
}

}  // namespace lapora
