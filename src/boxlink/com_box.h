// CComBox: the connection of one box slot to its box, over TCP or a serial port, with the
// operations the box thread, the commands and the status display use; plus the rules that map
// a slot's address to a transport kind and a serial device. Thread-safety: the box thread
// reads (WaitForData, ReadLine) and connects; the main thread sends, asks for a stop and reads
// the states. Flags are atomics; each transport documents the rest.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace lapora {

// Longest line a box may send; a longer one is reported as an unknown format and skipped up
// to its end, so that no input grows memory without bound.
inline constexpr std::size_t kMaxBoxLineBytes = 64 * 1024;

// ReadLineWithin's answer when no whole line came in time (distinct from every failure code).
inline constexpr long kNoLineYet = -1000000;

class CComBox {
 public:
  CComBox() = default;
  CComBox(const CComBox&) = delete;
  CComBox& operator=(const CComBox&) = delete;
  virtual ~CComBox() = default;

  // Sets stop requested, then closes: a read blocked in the box thread fails at once.
  virtual bool RequestStop() = 0;
  // Closes the connection; harmless when already closed. Any thread.
  virtual bool Close() = 0;
  // Appends one received line to text and returns its count (see each transport for the
  // framing); a negative value when the connection failed or is closed.
  long ReadLine(std::string& text) { return ReadLineUntil(text, std::nullopt); }
  // ReadLine that gives up after milliseconds: kNoLineYet when no whole line came by then,
  // whatever part of one did (that part is kept and begins the next line read).
  long ReadLineWithin(std::string& text, int milliseconds) {
    return ReadLineUntil(text, std::chrono::steady_clock::now() +
                                   std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds));
  }
  // 1 when a line can be read, 0 when nothing came within the time, -1 without a connection.
  virtual int WaitForData(int milliseconds) = 0;
  // "[%s:%d %s]": short address, port value, detector id.
  virtual std::string GetLabel() const;
  // Writes the bytes; the count written, negative on error.
  virtual long Send(const char* data, std::size_t length) = 0;
  virtual bool HasPort() const { return PortValue() != 0; }

  void SetReconnecting(bool reconnecting) { m_reconnecting = reconnecting; }
  bool IsReconnecting() const { return m_reconnecting; }
  void SetStopRequested(bool stopRequested) { m_stopRequested = stopRequested; }
  bool IsStopRequested() const { return m_stopRequested; }

  // Stores the settings, then Connect.
  bool Open(const std::string& detectorId, const std::string& address, int port,
            std::string* errorText);
  virtual bool Connect(std::string* errorText) = 0;
  bool IsConfigured() const { return PortValue() != 0 && !Address().empty(); }
  // Connected, or reconnecting.
  virtual bool IsActive() const = 0;
  virtual bool IsConnected() const = 0;
  // "%s-%d-%s": short address, port value, detector id.
  virtual std::string GetShortLabel() const;
  // Main thread, while no box thread runs on this transport.
  virtual void SetConfig(const std::string& detectorId, const std::string& address, int port);
  void GetConfig(std::string* detectorId, std::string* address, int* port) const;
  virtual void SetHandle(int handle) = 0;
  virtual int GetHandle() const = 0;
  virtual bool IsSerial() const = 0;

  std::string DetectorId() const { return m_detectorId; }
  std::string Address() const { return m_address; }
  int PortValue() const { return m_port; }

 protected:
  // ReadLine with an optional deadline.
  virtual long ReadLineUntil(std::string& text,
                             std::optional<std::chrono::steady_clock::time_point> deadline) = 0;

  std::string m_detectorId{"31"};
  std::string m_address;
  int m_port = 0;

 private:
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_reconnecting{false};
};

// The part of an address after its last "." (the whole address without one).
std::string ShortAddress(const std::string& address);

// A slot address names a serial port when it starts with "COM" and a digit (any letter case)
// or with "/dev/"; anything else is a TCP host (a host name ending in ".com" included).
bool IsSerialAddress(const std::string& address);
// The device to open for a serial port name: COMn is /dev/ttyS(n-1); any other name (a /dev/
// path, a pseudo-terminal) is opened as it stands.
std::string SerialDevicePath(const std::string& portName);

// A stable number for the calling thread, shown in log prefixes.
int CurrentThreadNumber();

}  // namespace lapora
