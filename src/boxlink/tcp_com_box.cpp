#include "boxlink/tcp_com_box.h"

#include <algorithm>
#include <cstring>

#include "foundation/app_settings.h"
#include "foundation/log.h"
#include "resources/messages_boxlink.h"

namespace lapora {
namespace {

constexpr std::size_t kReceiveBlock = 64 * 1024;

}  // namespace

CTcpComBox::CTcpComBox(Logger& log, const AppSettings& settings)
    : m_log(log),
      m_settings(settings),
      // Room for the longest line plus one block received behind it.
      m_buffer(std::make_unique<char[]>(kMaxBoxLineBytes + kReceiveBlock + 1)) {
  m_address = "localhost";
  m_port = 10000;
}

CTcpComBox::~CTcpComBox() {
  Close();
}

std::string CTcpComBox::LogPrefix() const {
  return StrF(Tr(kMsgTcpLogPrefix).c_str(), CurrentThreadNumber(), GetLabel().c_str());
}

void CTcpComBox::ResetBuffer() {
  m_endPos = 0;
  m_readPos = 0;
  m_scanPos = 0;
  m_discarding = false;
}

bool CTcpComBox::Connect(std::string* errorText) {
  ResetBuffer();
  int timeoutMs = m_settings.GVarnexConnectionTimeout.load() * 1000;
  TcpConnectResult result = m_socket.Connect(m_address, m_port, timeoutMs);
  if (result == TcpConnectResult::kResolveFailed) {
    if (errorText != nullptr) {
      *errorText = "Error gethostbyname";
    }
    return false;
  }
  if (result != TcpConnectResult::kConnected) {
    if (errorText != nullptr) {
      *errorText = "Unable to Connect";
    }
    return false;
  }
  std::string keepAliveError;
  if (!m_socket.EnableDeadPeerDetection(m_deadPeerTimes, &keepAliveError)) {
    // Still usable: only a connection lost without a word would go unnoticed.
    m_log.PostLogMsg(0, kMsgTcpKeepAliveRefused, LogPrefix().c_str(), keepAliveError.c_str());
  }
  SetStopRequested(false);
  return true;
}

bool CTcpComBox::Close() {
  m_socket.Close();
  return true;
}

bool CTcpComBox::RequestStop() {
  SetStopRequested(true);
  return Close();
}

long CTcpComBox::Send(const char* data, std::size_t length) {
  return m_socket.Send(data, length);
}

bool CTcpComBox::FindLineEnd(std::size_t* end) {
  for (std::size_t i = std::max(m_scanPos, m_readPos); i < m_endPos; ++i) {
    char c = m_buffer[i];
    if (c == '\n' || c == ';') {
      *end = i;
      m_scanPos = i;
      return true;
    }
  }
  m_scanPos = m_endPos;
  return false;
}

int CTcpComBox::WaitForData(int milliseconds) {
  if (!m_socket.IsOpen()) {
    return -1;
  }
  std::size_t end;
  if (FindLineEnd(&end)) {
    return 1;
  }
  int ready = m_socket.WaitReadable(milliseconds);
  if (ready < 0) {
    if (m_socket.IsOpen()) {
      m_log.PostLogMsg(0, kMsgTcpSelectError, LogPrefix().c_str());
    }
    return -1;
  }
  return ready;
}

long CTcpComBox::ReadLineUntil(std::string& text,
                               std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!m_socket.IsOpen()) {
    return -1;
  }
  for (;;) {
    std::size_t end;
    if (FindLineEnd(&end)) {
      std::size_t stop = m_buffer[end] == ';' ? end + 1 : end;
      const char* begin = m_buffer.get() + m_readPos;
      std::size_t count = stop - m_readPos;
      m_readPos = end + 1;
      m_scanPos = m_readPos;
      if (m_discarding) {
        m_discarding = false;
        continue;
      }
      text.append(begin, count);
      return static_cast<long>(count);
    }
    std::size_t unread = m_endPos - m_readPos;
    if (!m_discarding && unread > kMaxBoxLineBytes) {
      // Shown once (cut short); the rest of the line is skipped as it comes.
      std::string start(m_buffer.get() + m_readPos, 200);
      m_log.PostLogF(0, ".. Unknown command format: %s", start.c_str());
      m_discarding = true;
    }
    if (m_discarding) {
      m_readPos = m_scanPos = m_endPos;
    }
    // Keep the unread part of a line at the front, then receive behind it.
    if (m_readPos > 0) {
      std::memmove(m_buffer.get(), m_buffer.get() + m_readPos, m_endPos - m_readPos);
      m_endPos -= m_readPos;
      m_scanPos -= m_readPos;
      m_readPos = 0;
    }
    if (deadline) {
      // Receive only what has come: a peer that stops in the middle of a line must not hold
      // the reader past its deadline.
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      *deadline - std::chrono::steady_clock::now())
                      .count();
      int ready = m_socket.WaitReadable(left > 0 ? static_cast<int>(left) : 0);
      if (ready == 0) {
        return kNoLineYet;
      }
      if (ready < 0) {
        if (m_socket.IsOpen()) {
          m_log.PostLogMsg(0, kMsgTcpSelectError, LogPrefix().c_str());
        }
        return -1;
      }
    }
    long got = m_socket.Receive(m_buffer.get() + m_endPos, kReceiveBlock);
    if (got <= 0) {
      // The end of a requested stop is expected and reported by the box thread instead.
      if (!IsStopRequested()) {
        m_log.PostLogMsg(0, kMsgTcpRecvReturned, LogPrefix().c_str(), static_cast<int>(got));
      }
      Close();
      ResetBuffer();
      return got == 0 ? -1 : got;
    }
    m_endPos += static_cast<std::size_t>(got);
  }
}

}  // namespace lapora
