// A file opened for appending, written with write(2) and made durable with fdatasync(2); every
// failure comes back with the system's reason. One thread writes at a time; SyncData may run on
// another thread meanwhile (the kernel orders them), which lets a sync overlap the next write.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lapora {

// Failures a test switches on, as the system would report them: each field holds the errno
// value to fail with, 0 for none. Shared by every file opened with it; any thread.
struct AppendFileFaults {
  std::atomic<int> openError{0};
  std::atomic<int> writeError{0};
  std::atomic<int> syncError{0};
};

class CAppendFile {
 public:
  // Opens path for appending, created (0644) when missing. Null with *errorText ("open: " and
  // the reason) on failure. faults may be null; it must outlive the file.
  static std::unique_ptr<CAppendFile> Open(const std::string& path, std::string* errorText,
                                           const AppendFileFaults* faults = nullptr);
  ~CAppendFile();
  CAppendFile(const CAppendFile&) = delete;
  CAppendFile& operator=(const CAppendFile&) = delete;

  // Appends bytes; returns how many went in. Fewer than asked (the device filled up) or -1 (none
  // went in) come with *errorText: "write: " and the reason.
  [[nodiscard]] long Write(std::string_view bytes, std::string* errorText);
  // Makes what was written durable (fdatasync). False with *errorText ("sync: " ...).
  [[nodiscard]] bool SyncData(std::string* errorText);
  // Cuts the file to size bytes. False with *errorText.
  [[nodiscard]] bool Truncate(std::uint64_t size, std::string* errorText);
  // The size of the file as this object left it (the size at opening plus what it wrote).
  std::uint64_t Size() const { return m_size.load(std::memory_order_relaxed); }

 private:
  CAppendFile(int fd, std::uint64_t size, const AppendFileFaults* faults)
      : m_fd(fd), m_size(size), m_faults(faults) {}

  int m_fd;
  std::atomic<std::uint64_t> m_size;
  const AppendFileFaults* m_faults;
};

}  // namespace lapora
