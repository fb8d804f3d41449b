#include "platform/append_file.h"

#include <cstring>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lapora {

namespace {

void SetError(std::string* errorText, const char* what, int error) {
  if (errorText != nullptr) {
    *errorText = std::string(what) + ": " + std::strerror(error);
  }
}

int Fault(const AppendFileFaults* faults, const std::atomic<int> AppendFileFaults::*field) {
  return faults != nullptr ? (faults->*field).load() : 0;
}

}  // namespace

std::unique_ptr<CAppendFile> CAppendFile::Open(const std::string& path, std::string* errorText,
                                               const AppendFileFaults* faults) {
  if (int error = Fault(faults, &AppendFileFaults::openError)) {
    SetError(errorText, "open", error);
    return nullptr;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetError(errorText, "open", errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    SetError(errorText, "open", error);
    return nullptr;
  }
  return std::unique_ptr<CAppendFile>(
      new CAppendFile(fd, static_cast<std::uint64_t>(info.st_size), faults));
}

CAppendFile::~CAppendFile() {
  ::close(m_fd);
}

long CAppendFile::Write(std::string_view bytes, std::string* errorText) {
  if (int error = Fault(m_faults, &AppendFileFaults::writeError)) {
    SetError(errorText, "write", error);
    return -1;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      SetError(errorText, "write", n < 0 ? errno : ENOSPC);
      return done > 0 ? static_cast<long>(done) : -1;
    }
    done += static_cast<std::size_t>(n);
    m_size.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
  }
  return static_cast<long>(done);
}

bool CAppendFile::SyncData(std::string* errorText) {
  if (int error = Fault(m_faults, &AppendFileFaults::syncError)) {
    SetError(errorText, "sync", error);
    return false;
  }
  int result;
  do {
    result = ::fdatasync(m_fd);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    SetError(errorText, "sync", errno);
    return false;
  }
  return true;
}

bool CAppendFile::Truncate(std::uint64_t size, std::string* errorText) {
  if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
    SetError(errorText, "truncate", errno);
    return false;
  }
  m_size.store(size, std::memory_order_relaxed);
  return true;
}

}  // namespace lapora
