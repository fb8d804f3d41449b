#include "platform/atomic_file.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lapora {

namespace {

void SetError(std::string* errorText, const std::string& what) {
  if (errorText != nullptr) {
    *errorText = what + ": " + std::strerror(errno);
  }
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// A new file: readable by all, as a file made by fopen under the usual umask.
constexpr mode_t kNewFileMode = 0644;

// Creates "path.tmp-XXXXXX" (mode 0600 until changed) and returns its descriptor, or -1.
int OpenTemporary(const std::string& path, std::string* temp, std::string* errorText) {
  std::string pattern = path + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    SetError(errorText, pattern);
    return -1;
  }
  temp->assign(name.data());
  return fd;
}

}  // namespace

ReadFileResult ReadWholeFile(const std::string& path, std::string* content,
                             std::string* errorText) {
  content->clear();
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return ReadFileResult::kMissing;
    }
    SetError(errorText, path);
    return ReadFileResult::kFailed;
  }
  char buffer[16384];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      SetError(errorText, path);
      close(fd);
      content->clear();
      return ReadFileResult::kFailed;
    }
    if (n == 0) {
      break;
    }
    content->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return ReadFileResult::kRead;
}

bool WriteFileAtomically(const std::string& path, const std::string& content,
                         std::string* errorText, FileRights rights, FileDurability durability) {
  return WriteFileInPieces(
      path, [&content](const PieceWriter& write) { return write(content); }, errorText, rights,
      durability);
}

bool WriteFileInPieces(const std::string& path, const std::function<bool(const PieceWriter&)>& fill,
                       std::string* errorText, FileRights rights, FileDurability durability) {
  std::string target = path;
  struct stat info {};
  mode_t mode = kNewFileMode;
  bool inPlace = false;
  if (lstat(path.c_str(), &info) == 0) {
    if (S_ISLNK(info.st_mode)) {
      char resolved[PATH_MAX];
      if (realpath(path.c_str(), resolved) == nullptr) {
        SetError(errorText, path);
        return false;
      }
      target = resolved;
      if (stat(target.c_str(), &info) != 0) {
        SetError(errorText, target);
        return false;
      }
    }
    // A device or a pipe cannot be replaced, only written to (a rename would put a plain file
    // in its place).
    inPlace = !S_ISREG(info.st_mode);
    mode = info.st_mode & 07777;
  }
  if (rights == FileRights::kOwnerOnly) {
    mode = 0600;
  }

  std::string temp;
  int fd;
  if (inPlace) {
    do {
      fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      SetError(errorText, target);
      return false;
    }
  } else {
    fd = OpenTemporary(target, &temp, errorText);
    if (fd < 0) {
      return false;
    }
  }
  const std::string& written = inPlace ? target : temp;
  bool ok = fill([fd](std::string_view piece) { return WriteAll(fd, piece); });
  ok = ok && (inPlace || fchmod(fd, mode) == 0) &&
       (inPlace || durability == FileDurability::kWhole || fsync(fd) == 0);
  if (!ok) {
    SetError(errorText, written);
  }
  if (close(fd) != 0 && ok) {
    SetError(errorText, written);
    ok = false;
  }
  if (inPlace) {
    return ok;
  }
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  return ReplaceWithTemporary(temp, target, errorText);
}

std::string CreateTemporaryBeside(const std::string& path, std::string* errorText) {
  struct stat info {};
  mode_t mode = kNewFileMode;
  if (stat(path.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      errno = EEXIST;  // not a file a rename may take the place of
      SetError(errorText, path);
      return {};
    }
    mode = info.st_mode & 07777;
  }
  std::string temp;
  int fd = OpenTemporary(path, &temp, errorText);
  if (fd < 0) {
    return {};
  }
  bool ok = fchmod(fd, mode) == 0;
  if (!ok) {
    SetError(errorText, temp);
  }
  if (close(fd) != 0 && ok) {
    SetError(errorText, temp);
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    return {};
  }
  return temp;
}

bool ReplaceWithTemporary(const std::string& temporary, const std::string& path,
                          std::string* errorText) {
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    SetError(errorText, path);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool SyncParentFolder(const std::string& path) {
  int fd = open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace lapora
