// A thin IPv4 TCP client socket: name resolution, connection with a time-out, blocking receive
// and send, readability waits, dead-peer detection, shutdown and close. Thread-safe: one thread
// may block in Receive/WaitReadable while another sends, shuts down or closes; Close wakes the
// blocked call (shutdown) and the descriptor is released only once no call is still inside it,
// so a descriptor number is never reused under a running call.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace lapora {

enum class TcpConnectResult {
  kConnected,
  kResolveFailed,  // the host name gives no IPv4 address
  kFailed,         // refused, unreachable, timed out, or any socket call failed
};

// How a connection whose peer vanished without a word (a pulled cable, a machine switched off)
// is noticed: after idleSeconds without traffic the system sends a keep-alive probe every
// intervalSeconds, and `probes` unanswered ones end the connection; data left unacknowledged
// for userTimeoutMs ends it too. A receive or send in progress then fails with ETIMEDOUT.
struct DeadPeerTimes {
  int idleSeconds = 10;
  int intervalSeconds = 5;
  int probes = 3;
  int userTimeoutMs = 30000;
};

// Turns keep-alive on with these times and sets TCP_USER_TIMEOUT on a TCP socket. False, with
// the failing call in systemError (optional), when the system refused one of them.
[[nodiscard]] bool EnableDeadPeerDetection(int fd, const DeadPeerTimes& times = {},
                                           std::string* systemError = nullptr);

class TcpSocket {
 public:
  TcpSocket() = default;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  ~TcpSocket();

  // Resolves the host (a name or a dotted address), connects without blocking for more than
  // timeoutMs, checks the socket's own error once the wait ends, and leaves the socket
  // blocking. Any previous connection is closed first. systemError receives a short text of
  // the failing call (empty on success).
  [[nodiscard]] TcpConnectResult Connect(const std::string& host, int port, int timeoutMs,
                                         std::string* systemError = nullptr);

  bool IsOpen() const;

  // EnableDeadPeerDetection on the connected socket; false without a socket.
  [[nodiscard]] bool EnableDeadPeerDetection(const DeadPeerTimes& times = {},
                                             std::string* systemError = nullptr);

  // Waits until data (or the peer's close) can be read: 1 readable, 0 time-out, -1 no socket
  // or the wait failed.
  int WaitReadable(int timeoutMs);
  // Blocking receive of at most size bytes: > 0 bytes read, 0 closed by the peer (or shut
  // down by Close), < 0 an error (minus errno), or -1 without a socket.
  long Receive(char* buffer, std::size_t size);
  // One blocking send of the bytes: the count written, or < 0 on error (minus errno).
  long Send(const char* data, std::size_t size);
  // Sends every byte, looping on partial sends, but never waits for more than timeoutMs in
  // all. Returns true when all went out; false on an error, a time-out or without a socket.
  // *sent (optional) receives the count that went out. Callers that must keep lines whole
  // serialise their calls themselves.
  [[nodiscard]] bool SendAll(const char* data, std::size_t size, int timeoutMs,
                             std::size_t* sent = nullptr, std::string* systemError = nullptr);

  // Shuts the connection down in both directions and releases the descriptor (at once, or
  // when the last call inside it returns). Harmless when already closed.
  void Close();
  // Ends the connection with a reset: what the peer has not acknowledged yet is discarded, never
  // delivered later. Releases the descriptor as Close does. Harmless when already closed.
  void Abort();

  // Runs call on the open descriptor, which stays valid until call returns (a Close meanwhile
  // only shuts it down): for options and queries made elsewhere. -1 without a socket.
  long WithDescriptor(const std::function<long(int fd)>& call);

  // The raw descriptor (-1 when closed), and adoption of an already connected descriptor
  // (closing the current one).
  int Handle() const;
  void Adopt(int fd);

 private:
  // Marks a call as inside the descriptor; returns it, or -1 when closed.
  int Enter();
  void Leave();

  mutable std::mutex m_fdMutex;  // guards the three fields below
  int m_fd = -1;
  int m_callsInside = 0;
  std::vector<int> m_closePending;  // shut down, closed when the last call leaves
};

}  // namespace lapora
