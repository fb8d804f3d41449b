// A folder in which no file can be created, whoever runs the test: a read-only tmpfs mounted
// on it when running as root (root ignores permission bits), else mode 0555. Undone when the
// object goes. Usable() is false when neither could be set up; the test should then skip.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace lapora::testing {

class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(std::string path) : m_path(std::move(path)) {
    std::error_code ignored;
    std::filesystem::create_directories(m_path, ignored);
    if (geteuid() == 0) {
      m_mounted = ::mount("lapora-test", m_path.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
      m_usable = m_mounted;
    } else {
      m_usable = ::chmod(m_path.c_str(), 0555) == 0;
    }
  }
  ~ReadOnlyFolder() {
    if (m_mounted) {
      ::umount2(m_path.c_str(), MNT_DETACH);
    } else {
      ::chmod(m_path.c_str(), 0755);
    }
  }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  bool Usable() const { return m_usable; }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  bool m_mounted = false;
  bool m_usable = false;
};

}  // namespace lapora::testing
