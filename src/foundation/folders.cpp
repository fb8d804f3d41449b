#include "foundation/folders.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/chrono.h"
#include "platform/system_folders.h"

namespace lapora {

namespace {

std::string CurrentFolder() {
  std::error_code error;
  std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::string("/") : current.string();
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') {
    return path;
  }
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

}  // namespace

Folders::Folders(std::string programFolder, std::string dataFolder)
    : m_programFolder(std::move(programFolder)), m_explicitDataFolder(Absolute(dataFolder)) {
  while (m_explicitDataFolder.size() > 1 && m_explicitDataFolder.back() == '/') {
    m_explicitDataFolder.pop_back();
  }
  m_legacyFolders = FileExists(m_programFolder + "/_useXPdirs");
  m_sharedFolder = m_programFolder;
  std::filesystem::path program(m_programFolder);
  if (!m_legacyFolders && program.filename() == "bin") {
    std::string installed = (program.parent_path() / "share" / "lapora").string();
    if (IsDirectory(installed)) {
      m_sharedFolder = installed;
    }
  }
}

Folders Folders::ForThisProgram(const std::string& dataFolder) {
  std::string executable = ExecutablePath();
  size_t slash = executable.rfind('/');
  std::string program;
  if (slash == std::string::npos) {
    program = CurrentFolder();
  } else {
    program = slash == 0 ? std::string("/") : executable.substr(0, slash);
  }
  return Folders(program, dataFolder);
}

std::string Folders::GetSpecialFolder(int shellFolder) const {
  switch (shellFolder) {
    case kCommonAppData:
      return XdgDataHome();
    case kPersonal:
      return XdgDocumentsFolder();
    default:
      return {};
  }
}

std::string Folders::DataFolderPath() const {
  if (HasExplicitDataFolder()) {
    return m_explicitDataFolder;
  }
  if (m_legacyFolders) {
    return m_programFolder;
  }
  std::string common = GetSpecialFolder(kCommonAppData);
  return common.empty() ? std::string() : common + "/Orvane/Lapora";
}

std::string Folders::GetDataFolder() const {
  std::string data = DataFolderPath();
  if (m_legacyFolders && !HasExplicitDataFolder()) {
    return data;  // beside the executable: it exists
  }
  return MakePath(data) ? data : std::string();
}

std::string Folders::BaseFolder() const {
  return GetOsGeneration() < 7 ? m_programFolder : GetDataFolder();
}

std::string Folders::GetLogFolder() const {
  std::string folder = BaseFolder() + "/logfiles";
  MakePath(folder);
  return folder;
}

std::string Folders::LogFolderPath() const {
  return (GetOsGeneration() < 7 ? m_programFolder : DataFolderPath()) + "/logfiles";
}

std::string Folders::GetLogFilePath() const {
  return GetLogFolder() + "/Lapora.log";
}

std::string Folders::GetSettingsFilePath() const {
  return BaseFolder() + "/Lapora.ini";
}

std::string Folders::GetFtpServersFilePath() const {
  return BaseFolder() + "/FtpServers.dat";
}

std::string Folders::GetIncomingDetectionsFilePath(std::time_t now) const {
  return GetLogFolder() + "/Lapora-" + TodayCompact(now) + "-" + NowCompactTime(now) + ".dat";
}

std::string Folders::GetIncomingDetectionsFilePath() const {
  return GetIncomingDetectionsFilePath(std::time(nullptr));
}

std::string Folders::GetHelpDocumentPath() const {
  return m_sharedFolder + "/Lapora.pdf";
}

std::string Folders::GetDefaultExportFolder() const {
  return m_sharedFolder == m_programFolder ? m_programFolder : GetDataFolder();
}

std::string Folders::GetLockFolder() const {
  if (HasExplicitDataFolder()) {
    return GetDataFolder();
  }
  std::string runtime = RuntimeFolder();
  return runtime.empty() ? GetDataFolder() : runtime;
}

bool MakePath(const std::string& path, std::string* reason) {
  auto fail = [reason](const std::string& where, int error) {
    if (reason != nullptr) {
      *reason = where + ": " + std::strerror(error);
    }
    return false;
  };
  if (path.empty()) {
    return fail("\"\"", ENOENT);
  }
  std::string folder = path;
  if (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();
  }
  if (mkdir(folder.c_str(), 0777) == 0) {
    return true;
  }
  // Walk down from the top, creating each missing level. Only "/" separates levels here: a
  // backslash is an ordinary character of a Linux file name.
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '/') {
      continue;
    }
    std::string level = folder.substr(0, i);
    if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
      return fail(level, errno);
    }
  }
  // Every level "exists", but the last one may be a file in the way.
  return IsDirectory(folder) || fail(folder, ENOTDIR);
}

bool MakeWritableFolder(const std::string& path, std::string* reason) {
  if (!MakePath(path, reason)) {
    return false;
  }
  // Permission bits say nothing for root, nor about a read-only mount: only a real file does.
  std::string probe = path + "/.lapora-write-test-" + std::to_string(getpid());
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (reason != nullptr) {
      *reason = path + ": " + std::strerror(errno);
    }
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

std::string FileNameOfPath(std::string_view path) {
  size_t cut = path.rfind('\\');
  if (cut == std::string_view::npos) {
    cut = path.rfind('/');
  }
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(cut + 1));
}

std::string LongPathOf(const std::string& path) {
  return path;
}

bool ClearFolder(const std::string& folder, bool removeItself) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    return false;
  }
  bool ok = true;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    std::string path = folder + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
      ok = false;
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      if (name[0] != '.') {
        // A read-only sub-folder would keep its files.
        chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU);
        ok = ClearFolder(path, true) && ok;
      }
      continue;
    }
    if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
      chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR);
    }
    if (unlink(path.c_str()) != 0) {
      ok = false;
    }
  }
  closedir(dir);
  if (removeItself && rmdir(folder.c_str()) != 0) {
    ok = false;
  }
  return ok;
}

std::string FreshFilePath(const std::string& path, const std::vector<std::string>& taken) {
  namespace fs = std::filesystem;
  auto used = [&taken](const std::string& candidate) {
    std::error_code error;
    return std::find(taken.begin(), taken.end(), candidate) != taken.end() ||
           fs::exists(candidate, error);
  };
  if (!used(path)) {
    return path;
  }
  fs::path original(path);
  std::string stem = (original.parent_path() / original.stem()).string();
  std::string extension = original.extension().string();
  for (int n = 2; n < INT_MAX; ++n) {
    std::string candidate = stem + "-" + std::to_string(n) + extension;
    if (!used(candidate)) {
      return candidate;
    }
  }
  return path;
}

}  // namespace lapora
