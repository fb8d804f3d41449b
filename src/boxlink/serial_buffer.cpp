#include "boxlink/serial_buffer.h"

#include <algorithm>

namespace lapora {

bool CSerialBuffer::Append(const char* data, std::size_t size) {
  std::unique_lock lock(m_bufferMutex);
  while (size > 0) {
    m_spaceFree.wait(lock, [&] { return m_released || m_data.size() - m_readPos < kCapacity; });
    if (m_released) {
      return false;
    }
    if (m_readPos > 0) {
      m_data.erase(0, m_readPos);
      m_readPos = 0;
    }
    std::size_t room = kCapacity - m_data.size();
    std::size_t put = std::min(room, size);
    m_data.append(data, put);
    data += put;
    size -= put;
    m_dataReady.notify_all();
  }
  return true;
}

bool CSerialBuffer::TakeUpToLineFeed(std::string& out, std::size_t maxTake) {
  bool lineFeed = false;
  {
    std::lock_guard lock(m_bufferMutex);
    std::size_t unread = m_data.size() - m_readPos;
    std::size_t limit = std::min(unread, maxTake);
    const char* begin = m_data.data() + m_readPos;
    std::size_t take = limit;
    if (const void* found = std::char_traits<char>::find(begin, limit, '\n')) {
      take = static_cast<std::size_t>(static_cast<const char*>(found) - begin) + 1;
      lineFeed = true;
    }
    out.append(begin, take);
    m_readPos += take;
    if (m_readPos == m_data.size()) {
      m_data.clear();
      m_readPos = 0;
    }
  }
  m_spaceFree.notify_all();
  return lineFeed;
}

bool CSerialBuffer::WaitForData(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_bufferMutex);
  m_dataReady.wait_for(lock, timeout,
                       [&] { return m_released || m_failed || m_data.size() > m_readPos; });
  return m_failed || m_data.size() > m_readPos;
}

std::size_t CSerialBuffer::Unread() const {
  std::lock_guard lock(m_bufferMutex);
  return m_data.size() - m_readPos;
}

void CSerialBuffer::Clear() {
  {
    std::lock_guard lock(m_bufferMutex);
    m_data.clear();
    m_readPos = 0;
  }
  m_spaceFree.notify_all();
}

void CSerialBuffer::Release() {
  {
    std::lock_guard lock(m_bufferMutex);
    m_released = true;
  }
  m_spaceFree.notify_all();
  m_dataReady.notify_all();
}

void CSerialBuffer::Reset() {
  std::lock_guard lock(m_bufferMutex);
  m_released = false;
  m_failed = false;
  m_data.clear();
  m_readPos = 0;
}

void CSerialBuffer::MarkFailed() {
  {
    std::lock_guard lock(m_bufferMutex);
    m_failed = true;
  }
  m_dataReady.notify_all();
}

}  // namespace lapora
