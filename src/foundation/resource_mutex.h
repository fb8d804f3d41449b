// CResourceMutex: a named lock shared by every thread and every process that uses the same
// name and lock folder (an in-process mutex, then an flock on "<folder>/<name>.mtx").
// Thread-safe. Like a system mutex it is owned by a thread: the owner may lock again
// (counted), Unlock by a thread that does not own it does nothing, and the kernel drops the
// system-wide part when the process dies.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/named_lock.h"

namespace lapora {

class CResourceMutex {
 public:
  static constexpr int kInfinite = -1;

  // lockFolder: where the lock file lives (Folders::GetLockFolder). When the file cannot be
  // opened the lock still excludes the threads of this process.
  CResourceMutex(std::string name, const std::string& lockFolder);
  CResourceMutex(const CResourceMutex&) = delete;
  CResourceMutex& operator=(const CResourceMutex&) = delete;

  // Waits up to timeoutMs (kInfinite: no limit) and returns whether the lock was obtained.
  // Obtained after a wait of more than 2 ms, it pauses 20 ms before returning, holding it.
  [[nodiscard]] bool Lock(int timeoutMs);
  void Unlock();

  const std::string& Name() const { return m_name; }
  bool IsSystemWide() const { return m_systemWide; }

 private:
  const std::string m_name;
  bool m_systemWide = false;
  std::mutex m_stateMutex;  // guards m_owner, m_depth and m_fileLock
  std::condition_variable m_released;
  std::thread::id m_owner;
  int m_depth = 0;
  FileLock m_fileLock;
};

// The four named locks created when the program loads; only "Summary" is taken.
struct NamedLocks {
  explicit NamedLocks(const std::string& lockFolder)
      : detections("Detections", lockFolder),
        summary("Summary", lockFolder),
        logWin("LogWin", lockFolder),
        pushIncomingDetection("PushIncomingDetection", lockFolder) {}

  CResourceMutex detections;
  CResourceMutex summary;
  CResourceMutex logWin;
  CResourceMutex pushIncomingDetection;
};

}  // namespace lapora
