// CSerialComBox: a box on a serial line (9600 bits/s, 8N1, DTR on, no flow control). Only a
// line feed ends a line, and it stays in the line. Thread-safety: ReadLine/WaitForData/Connect
// belong to one reading thread at a time; Send, Close, RequestStop and the queries may come
// from any thread (the helper serialises them).
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "boxlink/com_box.h"
#include "boxlink/serial_comm_helper.h"

namespace lapora {

class Logger;

class CSerialComBox : public CComBox {
 public:
  explicit CSerialComBox(Logger& log);
  ~CSerialComBox() override;

  bool RequestStop() override;
  bool Close() override;
  int WaitForData(int milliseconds) override;
  long Send(const char* data, std::size_t length) override;
  bool Connect(std::string* errorText) override;
  bool IsActive() const override { return m_handle != 0 || IsReconnecting(); }
  bool IsConnected() const override { return m_helper.IsOpen(); }
  void SetHandle(int handle) override { m_handle = handle; }
  int GetHandle() const override { return m_handle; }
  bool IsSerial() const override { return true; }

  CSerialCommHelper& Helper() { return m_helper; }

 protected:
  // Waits for bytes only until the deadline when there is one.
  long ReadLineUntil(std::string& text,
                     std::optional<std::chrono::steady_clock::time_point> deadline) override;

 private:
  Logger& m_log;
  CSerialCommHelper m_helper;
  std::atomic<int> m_handle{0};
  // Characters of a line taken from the buffer before its line feed came; reading thread only.
  std::string m_pending;
  bool m_discarding = false;
};

}  // namespace lapora
