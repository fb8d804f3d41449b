// Temporary files in this user's own folder: "<folder>/DORIX-<tag>-YYYYMMDDhhmmss-NN.<ext>",
// with a counter that this object keeps for the process. The folder is $XDG_RUNTIME_DIR/Dorix
// when the runtime folder is usable, else "Dorix-<uid>" in the system temporary folder; nobody
// else can enter it, and a folder of that name that others could is never used. Each file is
// made new, so that nothing already at its name, a planted link least of all, is ever written
// through. Thread-safe (one mutex guards the cached folder and the counter).
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

  // systemTempFolder: the system's temporary folder ($TMPDIR or /tmp unless given), used when
  // $XDG_RUNTIME_DIR does not name a usable folder.
  TempFiles(const Folders& folders, Logger& log, std::string systemTempFolder = {});
  ~TempFiles();
  TempFiles(const TempFiles&) = delete;
  TempFiles& operator=(const TempFiles&) = delete;

  // This user's temporary folder, created when missing; "<none>" when it cannot be made or
  // used; the empty text (with an alert, and not cached) when there is no runtime folder and no
  // system temporary folder at all.
  std::string GetTempRoot();

  // Creates a new empty temporary file that only this user may read and write, and returns its
  // path. Empty, with an alert, when no temporary folder can be had or no file made in it; the
  // caller must not use an empty name. A name already taken on disk (another process in the
  // same second, or anything planted there) is skipped by counting on. Without a temporary
  // folder the files go to a private "Temp" folder in the data folder.
  std::string MakeTempFileName(std::string_view extension, std::string_view tag);
  std::string MakeTempFileName(std::string_view extension, std::string_view tag, std::time_t now);

 private:
  // REQUIRES: m_mutex is held.
  std::string TempRootLocked();
  // The folder the files go to: the root, or the data folder's when there is no root. Empty
  // when there is neither.
  std::string FileFolderLocked();
  // A private folder at wanted, or the one made beside it (logged) when wanted is refused.
  std::string TakeFolderLocked(const std::string& wanted);

  const Folders& m_folders;
  Logger& m_log;
  std::string m_systemTempFolder;
  std::mutex m_mutex;        // guards everything below
  std::string m_root;        // empty until computed
  std::string m_fallback;    // the data folder's, once needed
  std::string m_madeBeside;  // a unique folder made for this run, removed when empty at the end
  int m_counter = 0;
};

}  // namespace lapora
