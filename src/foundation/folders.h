// Where Lapora keeps its files: program, data, log and documents folders, the settings,
// FTP servers and incoming-detections files, the lock folder, and the path helpers.
// A Folders object is immutable after construction (the legacy marker is tested then), so
// every method is thread-safe; folders are looked up (and created) on each call.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace lapora {

class Folders {
 public:
  // Shell folder numbers understood by GetSpecialFolder.
  static constexpr int kCommonAppData = 35;
  static constexpr int kPersonal = 5;  // documents
  // Linux always counts as a recent system: settings and logs live in the data folder.
  static constexpr int kOsGeneration = 8;

  // programFolder: where the executable lives (its marker "_useXPdirs" is tested now).
  // dataFolder: the data folder named on the command line (--data-dir), empty for the default.
  Folders(std::string programFolder, std::string dataFolder);
  // The folders of the running executable.
  static Folders ForThisProgram(const std::string& dataFolder = {});

  std::string GetProgramFolder() const { return m_programFolder; }
  // Where the program's own read-only files are (the help document, a chip table that comes
  // with it): the program folder, except for a program installed in a ".../bin" folder beside
  // a ".../share/lapora" folder (the system package's layout) without the legacy marker.
  std::string GetSharedFolder() const { return m_sharedFolder; }
  // 35: the user's data folder ($XDG_DATA_HOME); 5: the documents folder; else empty.
  std::string GetSpecialFolder(int shellFolder) const;
  std::string GetDocumentsFolder() const { return GetSpecialFolder(kPersonal); }
  static int GetOsGeneration() { return kOsGeneration; }
  // The marker "_useXPdirs" beside the executable keeps every file there.
  bool UsesLegacyFolders() const { return m_legacyFolders; }
  // True when the data folder was named explicitly (--data-dir).
  bool HasExplicitDataFolder() const { return !m_explicitDataFolder.empty(); }

  // The explicit data folder, else the program folder when the marker exists, else
  // $XDG_DATA_HOME + "/Orvane/Lapora"; created with every missing level; empty if that fails.
  std::string GetDataFolder() const;
  // The same path, neither made nor checked; empty when there is no home to hang it from.
  std::string DataFolderPath() const;
  // Data folder + "/logfiles", created each time.
  std::string GetLogFolder() const;
  // The same path, neither made nor checked ("/logfiles" when there is no data folder).
  std::string LogFolderPath() const;
  std::string GetLogFilePath() const;
  std::string GetSettingsFilePath() const;
  std::string GetFtpServersFilePath() const;
  // Log folder + "/Lapora-YYYYMMDD-HHMMSS.dat" for the given local time.
  std::string GetIncomingDetectionsFilePath(std::time_t now) const;
  std::string GetIncomingDetectionsFilePath() const;
  std::string GetHelpDocumentPath() const;
  // The export's default folder: the program folder, except for an installed program (its
  // folder is the system's and cannot be written): then the data folder.
  std::string GetDefaultExportFolder() const;
  // Where the instance lock and the named locks live: inside the data folder when it was
  // named explicitly (so separate installations and tests run side by side), else the
  // user's runtime folder (the data folder when there is none).
  std::string GetLockFolder() const;

 private:
  // The folder the settings, logs and FTP servers file hang from.
  std::string BaseFolder() const;

  std::string m_programFolder;
  std::string m_sharedFolder;
  std::string m_explicitDataFolder;
  bool m_legacyFolders = false;
};

// Creates the folder with every missing level. False for an empty path or when the folder
// does not exist afterwards; reason (optional) then gets "<level>: <system text>".
bool MakePath(const std::string& path, std::string* reason = nullptr);
// MakePath, then proof that a file can be created in the folder (made and removed again).
// False with reason "<path>: <system text>" when either fails.
[[nodiscard]] bool MakeWritableFolder(const std::string& path, std::string* reason);
// The text after the last backslash, else after the last "/", else the empty text.
std::string FileNameOfPath(std::string_view path);
// path when no file has that name and it is not among `taken` (names given out but maybe not
// made yet), else the first such "stem-2.ext", "stem-3.ext"... (a run started, or a list
// reset, within the second of another file).
std::string FreshFilePath(const std::string& path, const std::vector<std::string>& taken = {});
// Linux has no short names: the path as it stands.
std::string LongPathOf(const std::string& path);
// Deletes every file of the folder and, recursively, every sub-folder whose name does not
// start with "."; then the folder itself when removeItself. Links are removed, never
// followed. Returns true when everything asked for was removed.
bool ClearFolder(const std::string& folder, bool removeItself);

}  // namespace lapora
