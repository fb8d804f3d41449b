// The single-instance guard "Lapora.mtx": an flock on that file in the lock folder, held
// from start-up until the object is released or destroyed. The kernel drops it when the
// process dies, so a crashed instance never blocks the next start. Main thread only.
#pragma once

#include <string>

#include "platform/named_lock.h"

namespace lapora {

class CInstanceLock {
 public:
  static constexpr char kFileName[] = "Lapora.mtx";

  CInstanceLock() = default;
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;

  enum class TakeResult {
    kTaken,          // held by this object (also when it already was)
    kHeldElsewhere,  // another instance holds it
    kFailed,         // no lock file could be made or locked
  };

  // Takes the lock in lockFolder (Folders::GetLockFolder). errorText (optional) gets
  // "<lock file>: <why>" unless the lock was taken.
  [[nodiscard]] TakeResult Take(const std::string& lockFolder, std::string* errorText = nullptr);
  void Release() { m_lock.Close(); }
  bool IsHeld() const { return m_lock.IsLocked(); }

 private:
  FileLock m_lock;
};

}  // namespace lapora
