// Where the operating system keeps things for this user: the executable's own path, the home,
// XDG data and documents folders, the temporary folder and the per-user runtime folder.
// Every function is thread-safe (reads the environment and the file system, keeps no state).
#pragma once

#include <string>
#include <string_view>

namespace lapora {

// Full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();

// $HOME, else the password entry's home; empty when neither is known.
std::string HomeFolder();

// $XDG_DATA_HOME when it is an absolute path, else home + "/.local/share"; empty without home.
std::string XdgDataHome();

// The XDG documents folder named in $XDG_CONFIG_HOME/user-dirs.dirs (default
// ~/.config/user-dirs.dirs) when it exists as a folder, else the home folder.
std::string XdgDocumentsFolder();

// The value of XDG_DOCUMENTS_DIR in the text of a user-dirs.dirs file, with "$HOME" replaced
// by home; empty when the file does not name it.
std::string ParseUserDirsDocuments(std::string_view content, const std::string& home);

// $TMPDIR when it is an absolute path, else "/tmp".
std::string SystemTempFolder();

// The folder of this user's lock files: $XDG_RUNTIME_DIR + "/lapora", else
// "/tmp/lapora-<uid>"; created (mode 0700) when missing. Empty when no such folder can be
// had, or when the one found is not a real folder owned by this user.
std::string RuntimeFolder();

bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace lapora
