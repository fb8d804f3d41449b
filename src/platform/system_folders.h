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

// $XDG_RUNTIME_DIR when it names a real folder of this user's that nobody else may enter; else
// empty.
std::string UserRuntimeFolder();

// This user's numeric id as text, to give this user's things in a shared folder names of their
// own.
std::string UserIdText();

struct PrivateFolder {
  std::string path;      // the folder to use; empty when none could be had
  bool refused = false;  // something else was at the wanted name
};

// A folder for this user alone at wanted: made (mode 0700) when missing, or the one already
// there when it is a real folder (not a link) owned by this user with mode 0700. Anything else
// at that name (a link, another user's folder, a folder others may enter, a file) is never
// used, since others could have put, or could put, things in it: a new private folder with a
// unique name starting with wanted + "-" is made beside it instead, and refused is set.
PrivateFolder TakePrivateFolder(const std::string& wanted);

bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace lapora
