#include "boxlink/serial_comm_helper.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "foundation/text.h"

namespace lapora {
namespace {

// The reader takes at most this much per read; the line runs at 9600 bits/s.
constexpr std::size_t kReadChunk = 255;

}  // namespace

bool CSerialCommHelper::Open(const std::string& devicePath, int baud, char parity, int stopBits,
                             int dataBits, std::string* errorText) {
  Close();
  std::lock_guard lock(m_portMutex);
  auto fail = [&](const char* format, int systemError) {
    if (errorText != nullptr) {
      *errorText = StrF(format, devicePath.c_str(), SerialSystemErrorText(systemError).c_str());
    }
    m_port.Close();
    for (int& fd : m_wakePipe) {
      if (fd >= 0) {
        ::close(fd);
        fd = -1;
      }
    }
    return false;
  };

  SerialOpenError error;
  if (!m_port.Open(devicePath, baud, dataBits, parity, stopBits, &error)) {
    switch (error.step) {
      case SerialOpenStep::kGetState:
        return fail("Erreur GetCommState pour le port %s : %s", error.systemError);
      case SerialOpenStep::kSetTimeouts:
        return fail("Erreur setting time-outs pour le port %s : %s", error.systemError);
      default:
        return fail("Erreur de connexion au port %s : %s", error.systemError);
    }
  }
  // The wake pipe plays the part of the port's event notification.
  if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return fail("Erreur SetCommMask pour le port %s : %s", errno);
  }
  m_failed = false;
  m_buffer.Reset();
  m_state = kOpened;
  try {
    m_reader = std::thread(&CSerialCommHelper::ReaderThread, this);
  } catch (const std::system_error&) {
    fail("%s%s", 0);
    m_state = kClosed;
    if (errorText != nullptr) {
      *errorText = StrF("Exception catched for Port %s", devicePath.c_str());
    }
    return false;
  }
  m_open = true;
  return true;
}

void CSerialCommHelper::Start() {
  std::lock_guard lock(m_portMutex);
  if (m_open) {
    m_state = kStarted;
    m_state.notify_all();
  }
}

void CSerialCommHelper::Close() {
  std::lock_guard lock(m_portMutex);
  if (!m_open && !m_reader.joinable()) {
    return;
  }
  m_state = kStopped;
  m_state.notify_all();  // a reader still waiting for the start
  m_open = false;
  char wake = 1;
  if (m_wakePipe[1] >= 0) {
    (void)!::write(m_wakePipe[1], &wake, 1);
  }
  // A reader waiting for room in a full buffer is released too.
  m_buffer.Release();
  if (m_reader.joinable()) {
    m_reader.join();
  }
  m_port.Close();
  for (int& fd : m_wakePipe) {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
  m_state = kClosed;
}

long CSerialCommHelper::Write(const char* data, std::size_t size) {
  std::lock_guard lock(m_portMutex);
  if (!m_open) {
    return -EBADF;
  }
  return m_port.Write(data, size);
}

void CSerialCommHelper::ReaderThread() {
  // Nothing is taken from the port before the start: a box speaks as soon as the port opens,
  // and its first line must wait in the driver rather than be read and thrown away.
  m_state.wait(kOpened);
  if (m_state != kStarted) {
    return;  // closed before it was started
  }
  char chunk[kReadChunk];
  for (;;) {
    int ready = m_port.WaitReadable(-1, m_wakePipe[0]);
    if (ready == 2) {
      return;  // closing
    }
    if (ready < 0) {
      m_failed = true;
      m_buffer.MarkFailed();
      return;
    }
    if (ready == 0) {
      continue;
    }
    long got = m_port.Read(chunk, sizeof chunk);
    if (got < 0) {
      m_failed = true;
      m_buffer.MarkFailed();
      return;
    }
    if (got == 0) {
      continue;
    }
    if (m_state != kStarted) {
      continue;  // closing: nobody reads this port any more
    }
    if (!m_buffer.Append(chunk, static_cast<std::size_t>(got))) {
      return;  // released: closing
    }
  }
}

}  // namespace lapora
