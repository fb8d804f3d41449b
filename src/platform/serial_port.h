// A thin serial port on the platform's terminal interface: open and configure a device
// (speed, data bits, parity, stop bits, DTR on, raw, no flow control), non-blocking reads,
// blocking writes, readability waits with a wake descriptor, close. Not thread-safe by
// itself: its owner (the serial transport) serialises Open/Close against the other calls.
#pragma once

#include <cstddef>
#include <string>

namespace lapora {

// The step of the opening that failed, so that the caller can name it in its own words.
enum class SerialOpenStep {
  kNone,
  kOpen,        // the device could not be opened (or is held exclusively by someone else)
  kGetState,    // its line settings could not be read or written
  kSetTimeouts  // it could not be put in non-blocking reading mode
};

struct SerialOpenError {
  SerialOpenStep step = SerialOpenStep::kNone;
  int systemError = 0;  // errno of the failing call
};

class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort() { Close(); }

  // parity: 'N', 'E' or 'O'; stopBits 1 or 2. A failed opening releases the device.
  [[nodiscard]] bool Open(const std::string& devicePath, int baud, int dataBits, char parity,
                          int stopBits, SerialOpenError* error);
  bool IsOpen() const { return m_fd >= 0; }
  void Close();

  // Waits until the port is readable or wakeFd (if >= 0) is: 1 port readable (or hung up),
  // 2 woken, 0 time-out, -1 the wait failed. timeoutMs < 0 waits without limit.
  int WaitReadable(int timeoutMs, int wakeFd);
  // Non-blocking: > 0 bytes read, 0 nothing waiting, < 0 the port failed (minus errno; EIO
  // when the line hung up).
  long Read(char* buffer, std::size_t size);
  // Writes all the bytes (waiting while the output is full); count written or minus errno.
  long Write(const char* data, std::size_t size);

  int Handle() const { return m_fd; }

 private:
  int m_fd = -1;
};

// The system's text for an error number with its trailing characters other than letters and
// digits removed, as "[#n]= \"text\"".
std::string SerialSystemErrorText(int systemError);

}  // namespace lapora
