// CTcpComBox: a box reached over TCP. Lines end at the first line feed (dropped) or ";"
// (kept); bytes are received in blocks and lines cut from the transport's own buffer.
// Thread-safety: ReadLine/WaitForData/Connect belong to one reading thread at a time (the box
// thread, or the discovery of its caller); Send, Close, RequestStop and the queries may come
// from any thread (the socket wakes a blocked read when closed).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "boxlink/com_box.h"
#include "platform/tcp_socket.h"

namespace lapora {

struct AppSettings;
class Logger;

class CTcpComBox : public CComBox {
 public:
  // settings gives the connection time-out (GVarnexConnectionTimeout, seconds).
  CTcpComBox(Logger& log, const AppSettings& settings);
  ~CTcpComBox() override;

  bool RequestStop() override;
  bool Close() override;
  int WaitForData(int milliseconds) override;
  long Send(const char* data, std::size_t length) override;
  bool Connect(std::string* errorText) override;
  bool IsActive() const override { return IsConnected() || IsReconnecting(); }
  bool IsConnected() const override { return m_socket.IsOpen(); }
  void SetHandle(int handle) override { m_socket.Adopt(handle); }
  int GetHandle() const override {
    int fd = m_socket.Handle();
    return fd < 0 ? 0 : fd;
  }
  bool IsSerial() const override { return false; }

  std::string GetHost() const { return m_address; }
  int GetPort() const { return m_port; }

  // How a silently dead connection is found (set on every connection). Main thread, while no
  // box thread runs on this transport.
  void SetDeadPeerTimes(const DeadPeerTimes& times) { m_deadPeerTimes = times; }

 protected:
  // Waits for bytes only until the deadline when there is one.
  long ReadLineUntil(std::string& text,
                     std::optional<std::chrono::steady_clock::time_point> deadline) override;

 private:
  // "[%d] Box %s" with the calling thread and the label.
  std::string LogPrefix() const;
  // Looks for a line end in the unread bytes, from where the last look stopped.
  bool FindLineEnd(std::size_t* end);
  void ResetBuffer();

  Logger& m_log;
  const AppSettings& m_settings;
  TcpSocket m_socket;
  DeadPeerTimes m_deadPeerTimes;
  // Received bytes not yet returned are [m_readPos, m_endPos) of m_buffer; reading thread only.
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_readPos = 0;
  std::size_t m_scanPos = 0;
  std::size_t m_endPos = 0;
  bool m_discarding = false;  // skipping the rest of an overlong line
};

}  // namespace lapora
