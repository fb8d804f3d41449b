#include "foundation/temp_files.h"

#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/chrono.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/system_folders.h"

namespace lapora {

namespace {

constexpr char kNoLocationText[] = "Error #78956412.1\nCan't get any temporary file location...";
constexpr char kNoFileText[] = "Error #78956412\nCan't create any temporary file...";
// Counting on past names taken by others gives up after this many tries.
constexpr int kMaxNameTries = 1000;

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

TempFiles::TempFiles(const Folders& folders, Logger& log, std::string systemTempFolder)
    : m_folders(folders), m_log(log), m_systemTempFolder(std::move(systemTempFolder)) {}

std::string TempFiles::GetTempRoot() {
  std::lock_guard lock(m_mutex);
  return TempRootLocked();
}

std::string TempFiles::TempRootLocked() {
  if (!m_root.empty()) {
    return m_root;
  }
  std::string system = m_systemTempFolder.empty() ? SystemTempFolder() : m_systemTempFolder;
  if (!IsDirectory(system)) {
    m_log.PostAlert(kNoLocationText, true);
    return {};  // not cached: the next call tries again
  }
  std::string root = system + "/Dorix";
  if (access(root.c_str(), R_OK | W_OK | X_OK) != 0) {
    if (mkdir(root.c_str(), 0777) != 0 || access(root.c_str(), R_OK | W_OK | X_OK) != 0) {
      root = kNoRoot;
    }
  }
  m_root = root;
  return m_root;
}

std::string TempFiles::FallbackBaseLocked() {
  // No usable system temporary folder: a private one under the data folder.
  std::string folder = m_folders.GetDataFolder() + "/Temp";
  MakePath(folder);
  std::string pattern = folder + "/DORIX-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    m_log.PostAlert(kNoFileText, true);
    return {};
  }
  close(fd);
  std::string base(name.data());
  unlink(base.c_str());  // the unique base was all we needed; the final name adds to it
  return base;
}

std::string TempFiles::MakeTempFileName(std::string_view extension, std::string_view tag) {
  return MakeTempFileName(extension, tag, std::time(nullptr));
}

std::string TempFiles::MakeTempFileName(std::string_view extension, std::string_view tag,
                                        std::time_t now) {
  std::lock_guard lock(m_mutex);
  std::string root = TempRootLocked();
  if (root.empty()) {
    return {};
  }
  std::string base = root != kNoRoot ? root + "/DORIX" : FallbackBaseLocked();
  if (base.empty()) {
    return {};
  }
  std::string stem = base + "-";
  if (!tag.empty()) {
    stem += std::string(tag) + "-";
  }
  stem += TodayCompact(now) + NowCompactTime(now) + "-";
  for (int tries = 0; tries < kMaxNameTries; ++tries) {
    std::string name = stem + StrF("%02d", m_counter++) + "." + std::string(extension);
    if (!Exists(name)) {
      return name;
    }
  }
  m_log.PostAlert(kNoFileText, true);
  return {};
}

}  // namespace lapora
