#include "platform/named_lock.h"

#include <cstring>

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lapora {

FileLock::~FileLock() {
  Close();
}

bool FileLock::Open(const std::string& path, std::string* errorText) {
  Close();
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errorText != nullptr) {
      *errorText = path + ": " + std::strerror(errno);
    }
    return false;
  }
  m_fd = fd;
  m_path = path;
  return true;
}

bool FileLock::TryLock(std::string* errorText) {
  if (m_fd < 0) {
    if (errorText != nullptr) {
      *errorText = "lock file not open";
    }
    return false;
  }
  if (m_locked) {
    return true;
  }
  int rc;
  do {
    rc = flock(m_fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  m_locked = rc == 0;
  if (!m_locked && errno != EWOULDBLOCK && errorText != nullptr) {
    *errorText = m_path + ": " + std::strerror(errno);
  }
  return m_locked;
}

void FileLock::Unlock() {
  if (m_fd >= 0 && m_locked) {
    int rc;
    do {
      rc = flock(m_fd, LOCK_UN);
    } while (rc != 0 && errno == EINTR);
  }
  m_locked = false;
}

void FileLock::Close() {
  Unlock();
  if (m_fd >= 0) {
    close(m_fd);  // also drops the lock if the unlock above failed
    m_fd = -1;
  }
  m_path.clear();
}

}  // namespace lapora
