// CSerialCommHelper: owner of one open serial port and of its reader thread, which moves the
// received bytes into a CSerialBuffer. Thread-safety: Open, Start, Close and Write are
// serialised by m_portMutex and may come from any thread; the reader thread only touches the
// port's input and the buffer; the state and the flags are atomics.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "boxlink/serial_buffer.h"
#include "platform/serial_port.h"

namespace lapora {

class CSerialCommHelper {
 public:
  enum State : int { kClosed = 1, kOpened = 2, kStarted = 3, kStopped = 4 };

  CSerialCommHelper() = default;
  CSerialCommHelper(const CSerialCommHelper&) = delete;
  CSerialCommHelper& operator=(const CSerialCommHelper&) = delete;
  ~CSerialCommHelper() { Close(); }

  // Opens and configures the device, starts the reader thread, which waits for Start (state
  // 2). On failure the device is released and errorText says why (French texts of the serial
  // errors).
  [[nodiscard]] bool Open(const std::string& devicePath, int baud, char parity, int stopBits,
                          int dataBits, std::string* errorText);
  // From now on received bytes are read and kept (state 3); what came since the opening waits
  // in the driver until then, so none of it is lost.
  void Start();
  // Stops the reader thread and closes the port (state 1). Harmless when closed.
  void Close();

  bool IsOpen() const { return m_open; }
  // The reader thread ended on a failing read (the line hung up, the device went away).
  bool HasFailed() const { return m_failed; }
  State GetState() const { return m_state; }
  // Writes all the bytes and waits until they are handed to the driver: count or minus errno.
  long Write(const char* data, std::size_t size);

  CSerialBuffer& Buffer() { return m_buffer; }

 private:
  void ReaderThread();

  std::mutex m_portMutex;  // serialises Open, Start, Close and Write
  SerialPort m_port;
  int m_wakePipe[2] = {-1, -1};  // written by Close to end the reader's wait
  std::thread m_reader;
  std::atomic<bool> m_open{false};
  std::atomic<bool> m_failed{false};
  std::atomic<State> m_state{kClosed};
  CSerialBuffer m_buffer;
};

}  // namespace lapora
