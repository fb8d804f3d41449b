#include "foundation/temp_files.h"

#include <filesystem>

#include "foundation/chrono.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/file_rights.h"
#include "platform/system_folders.h"
#include "resources/messages_foundation.h"

namespace lapora {

namespace {

constexpr char kNoLocationText[] = "Error #78956412.1\nCan't get any temporary file location...";
constexpr char kNoFileText[] = "Error #78956412\nCan't create any temporary file...";
// Counting on past names taken by others gives up after this many tries.
constexpr int kMaxNameTries = 1000;

}  // namespace

TempFiles::TempFiles(const Folders& folders, Logger& log, std::string systemTempFolder)
    : m_folders(folders), m_log(log), m_systemTempFolder(std::move(systemTempFolder)) {}

TempFiles::~TempFiles() {
  if (!m_madeBeside.empty()) {
    std::error_code ignored;
    std::filesystem::remove(m_madeBeside, ignored);  // only when empty: files may still be used
  }
}

std::string TempFiles::GetTempRoot() {
  std::lock_guard lock(m_mutex);
  return TempRootLocked();
}

std::string TempFiles::TakeFolderLocked(const std::string& wanted) {
  PrivateFolder folder = TakePrivateFolder(wanted);
  if (folder.refused) {
    m_log.PostLog(0, StrF(Tr(kMsgTempFolderRefused).c_str(), wanted.c_str()));
    if (m_madeBeside.empty()) {
      m_madeBeside = folder.path;
    }
  }
  return folder.path;
}

std::string TempFiles::TempRootLocked() {
  if (!m_root.empty()) {
    return m_root;
  }
  std::string wanted;
  std::string runtime = UserRuntimeFolder();
  if (!runtime.empty()) {
    wanted = runtime + "/Dorix";  // the runtime folder is this user's alone already
  } else {
    std::string system = m_systemTempFolder.empty() ? SystemTempFolder() : m_systemTempFolder;
    if (!IsDirectory(system)) {
      m_log.PostAlert(kNoLocationText, true);
      return {};  // not cached: the next call tries again
    }
    wanted = system + "/Dorix-" + UserIdText();
  }
  std::string root = TakeFolderLocked(wanted);
  m_root = root.empty() ? std::string(kNoRoot) : root;
  return m_root;
}

std::string TempFiles::FileFolderLocked() {
  std::string root = TempRootLocked();
  if (root.empty() || root != kNoRoot) {
    return root;
  }
  if (m_fallback.empty()) {
    std::string data = m_folders.GetDataFolder();
    if (!data.empty()) {
      m_fallback = TakeFolderLocked(data + "/Temp");
    }
  }
  if (m_fallback.empty()) {
    m_log.PostAlert(kNoFileText, true);
  }
  return m_fallback;
}

std::string TempFiles::MakeTempFileName(std::string_view extension, std::string_view tag) {
  return MakeTempFileName(extension, tag, std::time(nullptr));
}

std::string TempFiles::MakeTempFileName(std::string_view extension, std::string_view tag,
                                        std::time_t now) {
  std::lock_guard lock(m_mutex);
  std::string folder = FileFolderLocked();
  if (folder.empty()) {
    return {};
  }
  std::string stem = folder + "/DORIX-";
  if (!tag.empty()) {
    stem += std::string(tag) + "-";
  }
  stem += TodayCompact(now) + NowCompactTime(now) + "-";
  for (int tries = 0; tries < kMaxNameTries; ++tries) {
    std::string name = stem + StrF("%02d", m_counter++) + "." + std::string(extension);
    switch (CreatePrivateFile(name)) {
      case CreateFileResult::kCreated:
        return name;
      case CreateFileResult::kExists:
        continue;
      case CreateFileResult::kFailed:
        m_log.PostAlert(kNoFileText, true);
        return {};
    }
  }
  m_log.PostAlert(kNoFileText, true);
  return {};
}

}  // namespace lapora
