#include "platform/open_document.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

extern char** environ;

namespace lapora {

namespace {

constexpr char kOpener[] = "xdg-open";

// In the forked children only async-signal-safe calls follow: the parent may have other
// threads holding locks (the allocator's among them) at the moment of the fork.
[[noreturn]] void RunOpener(const char* opener, char* const argv[], int reportFd) {
  // Its own session: the viewer outlives us and gets no signal meant for our terminal.
  (void)setsid();
  pid_t grandchild = fork();
  if (grandchild != 0) {
    // The middle child ends at once, so the opener is adopted by init and never left a zombie.
    _exit(grandchild < 0 ? 1 : 0);
  }
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
  }
  // A box socket or a file inherited by a viewer that runs on would stay open after we close
  // it: only the report pipe goes along, and it closes at exec.
  if (reportFd > 3) {
    (void)close_range(3, static_cast<unsigned>(reportFd) - 1, 0);
  }
  (void)close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
  execve(opener, argv, environ);
  int error = errno;
  (void)!write(reportFd, &error, sizeof error);
  _exit(127);
}

}  // namespace

std::string FindOpener(const std::string& searchPath) {
  std::string_view rest = searchPath;
  while (true) {
    std::size_t colon = rest.find(':');
    std::string_view folder = rest.substr(0, colon);
    if (!folder.empty()) {
      std::string candidate = std::string(folder) + "/" + kOpener;
      if (access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    if (colon == std::string_view::npos) {
      return {};
    }
    rest.remove_prefix(colon + 1);
  }
}

bool OpenWithDefaultApplication(const std::string& path, std::string* error) {
  const char* searchPath = std::getenv("PATH");
  std::string opener = FindOpener(searchPath != nullptr ? searchPath : "/usr/bin:/bin");
  if (opener.empty()) {
    *error = std::string(kOpener) + " not found";
    return false;
  }
  std::string argument = path;
  std::vector<char*> argv = {opener.data(), argument.data(), nullptr};

  // The grandchild writes its exec error here; a successful exec closes the pipe (O_CLOEXEC),
  // so end-of-file means the opener runs.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  pid_t child = fork();
  if (child < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    close(report[0]);
    RunOpener(opener.c_str(), argv.data(), report[1]);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int execError = 0;
  ssize_t got;
  do {
    got = read(report[0], &execError, sizeof execError);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof execError)) {
    *error = opener + ": " + std::strerror(execError);
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = "fork: the opener could not be started";
    return false;
  }
  return true;
}

}  // namespace lapora
