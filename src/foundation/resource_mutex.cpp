#include "foundation/resource_mutex.h"

#include <chrono>

namespace lapora {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Between two tries of the system-wide part (flock cannot wait with a time-out).
constexpr std::chrono::milliseconds kPollInterval{1};
constexpr std::chrono::milliseconds kLongWait{2};
constexpr std::chrono::milliseconds kPauseAfterLongWait{20};

std::string LockFileName(const std::string& name) {
  std::string file;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    file.push_back(plain ? c : '_');
  }
  return file + ".mtx";
}

}  // namespace

CResourceMutex::CResourceMutex(std::string name, const std::string& lockFolder)
    : m_name(std::move(name)) {
  if (!lockFolder.empty()) {
    m_systemWide = m_fileLock.Open(lockFolder + "/" + LockFileName(m_name));
  }
}

bool CResourceMutex::Lock(int timeoutMs) {
  const auto start = SteadyClock::now();
  const bool forever = timeoutMs < 0;
  const auto deadline = start + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  const std::thread::id me = std::this_thread::get_id();

  std::unique_lock state(m_stateMutex);
  if (m_owner == me) {
    ++m_depth;
    return true;
  }
  auto free = [this] { return m_owner == std::thread::id(); };
  if (forever) {
    m_released.wait(state, free);
  } else if (!m_released.wait_until(state, deadline, free)) {
    return false;
  }
  // Ours within this process; now the other processes.
  m_owner = me;
  m_depth = 1;
  if (m_systemWide) {
    while (!m_fileLock.TryLock()) {
      if (!forever && SteadyClock::now() >= deadline) {
        m_owner = std::thread::id();
        m_depth = 0;
        state.unlock();
        m_released.notify_one();
        return false;
      }
      // The state mutex is not held while sleeping: Unlock by others must not block.
      state.unlock();
      std::this_thread::sleep_for(kPollInterval);
      state.lock();
    }
  }
  state.unlock();
  if (SteadyClock::now() - start > kLongWait) {
    std::this_thread::sleep_for(kPauseAfterLongWait);
  }
  return true;
}

void CResourceMutex::Unlock() {
  {
    std::lock_guard state(m_stateMutex);
    if (m_owner != std::this_thread::get_id()) {
      return;
    }
    if (--m_depth > 0) {
      return;
    }
    m_fileLock.Unlock();
    m_owner = std::thread::id();
  }
  m_released.notify_one();
}

}  // namespace lapora
