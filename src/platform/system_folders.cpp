#include "platform/system_folders.h"

#include <fstream>
#include <sstream>
#include <vector>

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lapora {

namespace {

std::string EnvText(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool IsAbsolute(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

// A folder that is ours alone: a real folder (not a link), owned by this user.
bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return false;
  }
  return S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

// Ours, and closed to everybody else: only this user can add, swap or read what is inside.
bool IsClosedPrivateFolder(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & 0777) == 0700;
}

std::string MakePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return {};
  }
  return IsPrivateFolder(path) ? path : std::string();
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) {
    return {};
  }
  return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string HomeFolder() {
  std::string home = EnvText("HOME");
  if (!home.empty()) {
    return home;
  }
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

std::string XdgDataHome() {
  std::string data = EnvText("XDG_DATA_HOME");
  if (IsAbsolute(data)) {
    return data;
  }
  std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string ParseUserDirsDocuments(std::string_view content, const std::string& home) {
  std::istringstream lines{std::string(content)};
  std::string line;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') {
      continue;
    }
    std::string_view rest = std::string_view(line).substr(start);
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    if (rest.substr(0, kKey.size()) != kKey) {
      continue;
    }
    rest.remove_prefix(kKey.size());
    if (rest.empty() || rest[0] != '"') {
      continue;
    }
    // A shell-quoted value: "$HOME/..." or "/absolute", with backslash escapes.
    std::string value;
    bool closed = false;
    for (size_t i = 1; i < rest.size(); ++i) {
      char c = rest[i];
      if (c == '\\' && i + 1 < rest.size()) {
        value.push_back(rest[++i]);
      } else if (c == '"') {
        closed = true;
        break;
      } else {
        value.push_back(c);
      }
    }
    if (!closed) {
      continue;
    }
    constexpr std::string_view kHome = "$HOME";
    if (std::string_view(value).substr(0, kHome.size()) == kHome) {
      value = home + value.substr(kHome.size());
    }
    if (IsAbsolute(value)) {
      return value;
    }
  }
  return {};
}

std::string XdgDocumentsFolder() {
  std::string home = HomeFolder();
  std::string config = EnvText("XDG_CONFIG_HOME");
  if (!IsAbsolute(config)) {
    config = home.empty() ? std::string() : home + "/.config";
  }
  if (!config.empty()) {
    std::ifstream in(config + "/user-dirs.dirs", std::ios::binary);
    if (in) {
      std::ostringstream content;
      content << in.rdbuf();
      std::string documents = ParseUserDirsDocuments(content.str(), home);
      if (!documents.empty() && IsDirectory(documents)) {
        return documents;
      }
    }
  }
  return home;
}

std::string SystemTempFolder() {
  std::string temp = EnvText("TMPDIR");
  if (IsAbsolute(temp)) {
    while (temp.size() > 1 && temp.back() == '/') {
      temp.pop_back();
    }
    return temp;
  }
  return "/tmp";
}

std::string RuntimeFolder() {
  std::string runtime = EnvText("XDG_RUNTIME_DIR");
  if (IsAbsolute(runtime) && IsPrivateFolder(runtime)) {
    std::string folder = MakePrivateFolder(runtime + "/lapora");
    if (!folder.empty()) {
      return folder;
    }
  }
  return MakePrivateFolder("/tmp/lapora-" + std::to_string(geteuid()));
}

std::string UserRuntimeFolder() {
  std::string runtime = EnvText("XDG_RUNTIME_DIR");
  while (runtime.size() > 1 && runtime.back() == '/') {
    runtime.pop_back();
  }
  return IsAbsolute(runtime) && IsClosedPrivateFolder(runtime) ? runtime : std::string();
}

std::string UserIdText() {
  return std::to_string(geteuid());
}

PrivateFolder TakePrivateFolder(const std::string& wanted) {
  PrivateFolder result;
  if (mkdir(wanted.c_str(), 0700) != 0 && errno != EEXIST) {
    return result;  // the parent takes no folder: nothing beside it would do better
  }
  if (IsClosedPrivateFolder(wanted)) {
    result.path = wanted;
    return result;
  }
  result.refused = true;
  std::string pattern = wanted + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) != nullptr && IsClosedPrivateFolder(name.data())) {
    result.path = name.data();
  }
  return result;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

}  // namespace lapora
