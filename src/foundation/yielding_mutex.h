// A mutex for short critical sections that several busy threads share (the recorded
// detections, the event queue). A thread that finds it taken retries a few times, yielding its
// core in between, before it sleeps on the lock: the wake-up of a sleeping thread (a futex
// wake, and on a virtual machine an idle core's return from halt) costs more than such a
// section, and with more threads than cores the yield lets the holder finish.
#pragma once

#include <mutex>
#include <thread>

namespace lapora {

class YieldingMutex {
 public:
  YieldingMutex() = default;
  YieldingMutex(const YieldingMutex&) = delete;
  YieldingMutex& operator=(const YieldingMutex&) = delete;

  void lock() {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (m_mutex.try_lock()) {
        return;
      }
      std::this_thread::yield();
    }
    m_mutex.lock();
  }
  bool try_lock() { return m_mutex.try_lock(); }
  void unlock() { m_mutex.unlock(); }

 private:
  static constexpr int kAttempts = 64;
  std::mutex m_mutex;
};

}  // namespace lapora
