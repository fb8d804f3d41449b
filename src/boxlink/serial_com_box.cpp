#include "boxlink/serial_com_box.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "foundation/log.h"

namespace lapora {
namespace {

constexpr std::chrono::milliseconds kDryWait{10};

}  // namespace

CSerialComBox::CSerialComBox(Logger& log) : m_log(log) {
  m_address = "COM1";
}

CSerialComBox::~CSerialComBox() {
  Close();
}

bool CSerialComBox::Connect(std::string* errorText) {
  m_pending.clear();
  m_discarding = false;
  // The line speed is fixed; the slot's port value is only shown.
  std::string error;
  if (!m_helper.Open(SerialDevicePath(m_address), 9600, 'N', 1, 8, &error)) {
    if (errorText != nullptr) {
      *errorText = error;
    }
    return false;
  }
  m_helper.Start();
  m_handle = 1;
  SetStopRequested(false);
  return true;
}

bool CSerialComBox::Close() {
  m_helper.Close();
  m_handle = 0;
  return true;
}

bool CSerialComBox::RequestStop() {
  SetStopRequested(true);
  return Close();
}

long CSerialComBox::Send(const char* data, std::size_t length) {
  // The text ends at its first zero byte.
  std::size_t size = strnlen(data, length);
  if (m_helper.GetState() != CSerialCommHelper::kStarted) {
    return static_cast<long>(length);
  }
  long written = m_helper.Write(data, size);
  if (written < 0) {
    return written;
  }
  return static_cast<long>(length);
}

int CSerialComBox::WaitForData(int milliseconds) {
  if (!m_helper.IsOpen()) {
    return -1;
  }
  CSerialBuffer& buffer = m_helper.Buffer();
  if (buffer.Unread() > 0 || m_helper.HasFailed()) {
    return 1;
  }
  return buffer.WaitForData(std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds)) ? 1 : 0;
}

long CSerialComBox::ReadLineUntil(std::string& text,
                                  std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!m_helper.IsOpen()) {
    return -1;
  }
  CSerialBuffer& buffer = m_helper.Buffer();
  for (;;) {
    std::size_t room = kMaxBoxLineBytes + 1 - m_pending.size();
    bool lineFeed = buffer.TakeUpToLineFeed(m_pending, room);
    if (lineFeed) {
      if (m_discarding) {
        m_discarding = false;
        m_pending.clear();
        continue;
      }
      text += m_pending;
      long count = static_cast<long>(m_pending.size());
      m_pending.clear();
      return count;
    }
    if (m_pending.size() > kMaxBoxLineBytes) {
      if (!m_discarding) {
        m_log.PostLogF(0, ".. Unknown command format: %s", m_pending.substr(0, 200).c_str());
        m_discarding = true;
      }
      m_pending.clear();
      continue;
    }
    if (buffer.Unread() > 0) {
      continue;
    }
    // A line cut by a pause keeps its characters in m_pending for the next turn.
    if (IsStopRequested()) {
      return 0;
    }
    if (!m_helper.IsOpen()) {
      return -1;
    }
    if (m_helper.HasFailed()) {
      // The line is gone: closed here, so that whoever hears of the failure sees it closed.
      Close();
      return -1;
    }
    std::chrono::milliseconds wait = kDryWait;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return kNoLineYet;  // the characters taken so far wait in m_pending
      }
      wait = std::min(wait, left);
    }
    buffer.WaitForData(wait);
  }
}

}  // namespace lapora
