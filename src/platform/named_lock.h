// An exclusive advisory lock on a file (flock): the system-wide lock behind the instance lock
// and the named locks. The kernel drops it when the process dies, so a crash never leaves a
// stale lock. One FileLock object is used by one thread at a time; two FileLock objects on
// the same path exclude each other, in one process or in two.
#pragma once

#include <string>

namespace lapora {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens (creating when missing) the lock file. On failure errorText gets the reason.
  [[nodiscard]] bool Open(const std::string& path, std::string* errorText = nullptr);
  // Takes the lock without waiting. False when another holder has it, or when the file is not
  // open or the lock call failed: errorText (optional) then gets the reason, and is left
  // untouched when another holder has it.
  [[nodiscard]] bool TryLock(std::string* errorText = nullptr);
  void Unlock();
  // Releases the lock and closes the file (the file itself stays: removing it would let two
  // holders lock two different files of the same name).
  void Close();

  bool IsOpen() const { return m_fd >= 0; }
  bool IsLocked() const { return m_locked; }
  const std::string& Path() const { return m_path; }

 private:
  int m_fd = -1;
  bool m_locked = false;
  std::string m_path;
};

}  // namespace lapora
