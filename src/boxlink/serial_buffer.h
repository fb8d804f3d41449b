// CSerialBuffer: the bounded receive buffer of a serial box, filled by the port's reader
// thread and emptied by the box thread. Thread-safe: every operation takes m_bufferMutex. A
// full buffer makes the writer wait (bytes are never dropped) until the reader takes some or
// the buffer is released for closing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

namespace lapora {

class CSerialBuffer {
 public:
  static constexpr std::size_t kCapacity = 40960;

  // Appends every byte, waiting for room while the buffer is full. False when the buffer was
  // released before all of them fitted (the rest is dropped with the closing port).
  bool Append(const char* data, std::size_t size);
  // Moves unread characters to out, at most maxTake, up to and including the first line feed.
  // True when a line feed was moved.
  bool TakeUpToLineFeed(std::string& out, std::size_t maxTake);
  // Waits until unread characters exist, the port failed, the buffer is released or the time
  // ends; true when there are unread characters or the port failed.
  bool WaitForData(std::chrono::milliseconds timeout);
  std::size_t Unread() const;
  // Throws the unread characters away.
  void Clear();
  // Wakes every waiter for good (the port is closing); Reset makes the buffer usable again,
  // empty.
  void Release();
  void Reset();
  // The port failed: data waiters wake and WaitForData returns at once from now on.
  void MarkFailed();

 private:
  mutable std::mutex m_bufferMutex;  // guards the three fields below
  std::condition_variable m_dataReady;
  std::condition_variable m_spaceFree;
  std::string m_data;  // unread characters are [m_readPos, m_data.size())
  std::size_t m_readPos = 0;
  bool m_released = false;
  bool m_failed = false;
};

}  // namespace lapora
