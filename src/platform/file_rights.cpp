#include "platform/file_rights.h"

#include <cstring>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lapora {

namespace {

void SetError(std::string* errorText, const std::string& path) {
  if (errorText != nullptr) {
    *errorText = path + ": " + std::strerror(errno);
  }
}

}  // namespace

CreateFileResult CreatePrivateFile(const std::string& path, std::string* errorText) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EEXIST) {
      return CreateFileResult::kExists;
    }
    SetError(errorText, path);
    return CreateFileResult::kFailed;
  }
  close(fd);
  return CreateFileResult::kCreated;
}

NarrowResult NarrowToOwner(const std::string& path, unsigned* oldRights, std::string* errorText) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return NarrowResult::kMissing;
    }
    SetError(errorText, path);
    return NarrowResult::kFailed;
  }
  const mode_t rights = info.st_mode & 07777;
  if (oldRights != nullptr) {
    *oldRights = rights;
  }
  const mode_t narrowed = rights & 0600;
  if (narrowed == rights) {
    return NarrowResult::kAlreadyPrivate;
  }
  if (chmod(path.c_str(), narrowed) != 0) {
    SetError(errorText, path);
    return NarrowResult::kFailed;
  }
  return NarrowResult::kNarrowed;
}

}  // namespace lapora
