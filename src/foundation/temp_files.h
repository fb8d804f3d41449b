// Names of temporary files: "<temp>/Dorix/DORIX-<tag>-YYYYMMDDhhmmss-NN.<ext>", with a
// counter that this object keeps for the process. Thread-safe (one mutex guards the cached
// root and the counter).
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace lapora {

class Folders;
class Logger;

class TempFiles {
 public:
  static constexpr char kNoRoot[] = "<none>";

  // systemTempFolder: the system's temporary folder ($TMPDIR or /tmp unless given).
  TempFiles(const Folders& folders, Logger& log, std::string systemTempFolder = {});
  TempFiles(const TempFiles&) = delete;
  TempFiles& operator=(const TempFiles&) = delete;

  // System temporary folder + "/Dorix", created when missing; "<none>" when it cannot be
  // made or used; the empty text (with an alert, and not cached) when there is no system
  // temporary folder at all.
  std::string GetTempRoot();

  // A new temporary file path (the file is not created). Empty, with an alert, when no
  // temporary folder can be had; the caller must not use an empty name. A name that already
  // exists on disk (another process in the same second) is skipped by counting on.
  std::string MakeTempFileName(std::string_view extension, std::string_view tag);
  std::string MakeTempFileName(std::string_view extension, std::string_view tag, std::time_t now);

 private:
  // REQUIRES: m_mutex is held.
  std::string TempRootLocked();
  // The base of a name when there is no root: a unique name in the fallback folder.
  std::string FallbackBaseLocked();

  const Folders& m_folders;
  Logger& m_log;
  std::string m_systemTempFolder;
  std::mutex m_mutex;  // guards m_root and m_counter
  std::string m_root;  // empty until computed
  int m_counter = 0;
};

}  // namespace lapora
