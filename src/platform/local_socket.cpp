#include "platform/local_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace lapora {

namespace {

using Clock = std::chrono::steady_clock;

// Closes the descriptor when it goes out of scope unless released.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return m_fd; }
  int Release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void SetError(std::string* errorText, const std::string& text) {
  if (errorText != nullptr) {
    *errorText = text;
  }
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool MakeAddress(const std::string& path, sockaddr_un* address, std::string* errorText) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) {
    SetError(errorText, path + ": too long a path for a local socket");
    return false;
  }
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Milliseconds from now to the deadline for poll, never negative.
int MsUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// Waits for the events on fd until the deadline: true when they came.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd one{fd, events, 0};
    int ready = poll(&one, 1, MsUntil(deadline));
    if (ready > 0) {
      return true;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
}

void UnlinkIfSocket(const std::string& path) {
  struct stat existing;
  if (lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode)) {
    unlink(path.c_str());
  }
}

}  // namespace

bool IsPrivateFolder(const std::string& folder, std::string* errorText) {
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) {
    SetError(errorText, SystemError(folder));
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    SetError(errorText, folder + ": not a folder");
    return false;
  }
  if (info.st_uid != geteuid()) {
    SetError(errorText, folder + ": belongs to another user");
    return false;
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    SetError(errorText, folder + ": other users may write to it");
    return false;
  }
  return true;
}

LocalRequestServer::~LocalRequestServer() {
  Stop();
}

bool LocalRequestServer::Start(const std::string& path, Handler handler, std::string* errorText) {
  Stop();
  if (!IsPrivateFolder(FolderOf(path), errorText)) {
    return false;
  }
  // Made under another name, then renamed over the final one: the final name never shows a
  // socket with wider access than owner-only, and a leftover is replaced in one step.
  const std::string temporary = path + ".new";
  sockaddr_un address;
  sockaddr_un temporaryAddress;
  if (!MakeAddress(path, &address, errorText) ||
      !MakeAddress(temporary, &temporaryAddress, errorText)) {
    return false;
  }
  struct stat existing;
  if (lstat(path.c_str(), &existing) == 0 && !S_ISSOCK(existing.st_mode)) {
    SetError(errorText, path + ": there already, and not a socket");
    return false;
  }
  UnlinkIfSocket(temporary);
  UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (listener.Get() < 0) {
    SetError(errorText, SystemError("socket"));
    return false;
  }
  if (bind(listener.Get(), reinterpret_cast<const sockaddr*>(&temporaryAddress),
           sizeof temporaryAddress) != 0) {
    SetError(errorText, SystemError(temporary));
    return false;
  }
  if (chmod(temporary.c_str(), S_IRUSR | S_IWUSR) != 0 || listen(listener.Get(), 16) != 0 ||
      rename(temporary.c_str(), path.c_str()) != 0 || lstat(path.c_str(), &existing) != 0) {
    SetError(errorText, SystemError(path));
    unlink(temporary.c_str());
    return false;
  }
  if (pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    SetError(errorText, SystemError("pipe"));
    m_wakePipe[0] = m_wakePipe[1] = -1;
    unlink(path.c_str());
    return false;
  }
  m_listenFd = listener.Release();
  m_path = path;
  m_device = existing.st_dev;
  m_inode = existing.st_ino;
  m_handler = std::move(handler);
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void LocalRequestServer::Stop() {
  if (m_thread.joinable()) {
    char byte = 1;
    ssize_t ignored = write(m_wakePipe[1], &byte, 1);
    (void)ignored;
    m_thread.join();
  }
  for (int* fd : {&m_listenFd, &m_wakePipe[0], &m_wakePipe[1]}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
  if (!m_path.empty()) {
    // A later instance may have put its own socket there already: only ours goes.
    struct stat current;
    if (lstat(m_path.c_str(), &current) == 0 && current.st_dev == m_device &&
        current.st_ino == m_inode) {
      unlink(m_path.c_str());
    }
    m_path.clear();
  }
  m_handler = nullptr;
}

void LocalRequestServer::Serve() {
  struct Client {
    int fd;
    Clock::time_point deadline;
    std::string received;
  };
  std::vector<Client> clients;
  // After a failed accept (no descriptor left, say) the listener stays readable: wait a little
  // rather than spin on it.
  Clock::time_point acceptAgainAt = Clock::now();

  // True when the client is done with: answered, gone, or sending what no request looks like.
  auto readRequest = [this](Client& client) {
    char buffer[kMaxRequestBytes + 1];
    for (;;) {
      ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        return errno != EAGAIN && errno != EWOULDBLOCK;
      }
      if (n == 0) {
        return true;
      }
      client.received.append(buffer, static_cast<std::size_t>(n));
      std::size_t end = client.received.find('\n');
      if (end != std::string::npos) {
        std::string request = client.received.substr(0, end);
        if (!request.empty() && request.back() == '\r') {
          request.pop_back();
        }
        // The reply is a few bytes into an empty socket buffer: one send without waiting.
        std::string reply = m_handler(request) + "\n";
        ssize_t sent = send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)sent;
        return true;
      }
      if (client.received.size() > kMaxRequestBytes) {
        return true;
      }
    }
  };

  for (;;) {
    Clock::time_point now = Clock::now();
    bool accepting = clients.size() < kMaxClients && now >= acceptAgainAt;
    std::vector<pollfd> fds;
    fds.push_back({m_wakePipe[0], POLLIN, 0});
    fds.push_back({accepting ? m_listenFd : -1, POLLIN, 0});  // poll skips a negative fd
    Clock::time_point wakeAt = now < acceptAgainAt ? acceptAgainAt : Clock::time_point::max();
    for (const Client& client : clients) {
      fds.push_back({client.fd, POLLIN, 0});
      wakeAt = std::min(wakeAt, client.deadline);
    }
    int timeout = wakeAt == Clock::time_point::max() ? -1 : MsUntil(wakeAt);
    int ready = poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) {
      break;
    }
    if (ready > 0 && fds[0].revents != 0) {
      break;
    }
    now = Clock::now();
    for (std::size_t i = clients.size(); i-- > 0;) {
      bool done = ready > 0 && fds[i + 2].revents != 0 && readRequest(clients[i]);
      if (done || now >= clients[i].deadline) {
        close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    if (ready > 0 && accepting && (fds[1].revents & POLLIN) != 0) {
      while (clients.size() < kMaxClients) {
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
          clients.push_back({fd, now + kRequestDeadline, {}});
          continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
          acceptAgainAt = now + std::chrono::milliseconds(100);
        }
        break;
      }
    }
  }
  for (const Client& client : clients) {
    close(client.fd);
  }
}

LocalRequestResult SendLocalRequest(const std::string& path, const std::string& request,
                                    std::chrono::milliseconds timeout, std::string* reply,
                                    std::string* errorText) {
  const Clock::time_point deadline = Clock::now() + timeout;
  sockaddr_un address;
  if (!MakeAddress(path, &address, errorText)) {
    return LocalRequestResult::kFailed;
  }
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    const int error = errno;
    SetError(errorText, SystemError(path));
    return error == ENOENT || error == ENOTDIR ? LocalRequestResult::kNoServer
                                               : LocalRequestResult::kFailed;
  }
  // Only a socket of this user, in a folder no one else can change, gets the request.
  if (!IsPrivateFolder(FolderOf(path), errorText)) {
    return LocalRequestResult::kFailed;
  }
  if (!S_ISSOCK(info.st_mode) || info.st_uid != geteuid()) {
    SetError(errorText, path + ": not a socket of this user");
    return LocalRequestResult::kFailed;
  }

  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) {
    SetError(errorText, SystemError("socket"));
    return LocalRequestResult::kFailed;
  }
  for (;;) {
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      break;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno == ECONNREFUSED || errno == ENOENT) {
      SetError(errorText, path + ": nothing listens on it");
      return LocalRequestResult::kNoServer;
    }
    if (errno == EINPROGRESS) {
      int error = 0;
      socklen_t length = sizeof error;
      if (!WaitFor(fd.Get(), POLLOUT, deadline)) {
        SetError(errorText, path + ": no connection in time");
        return LocalRequestResult::kFailed;
      }
      if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        errno = error;
        SetError(errorText, SystemError(path));
        return error == ECONNREFUSED ? LocalRequestResult::kNoServer : LocalRequestResult::kFailed;
      }
      break;
    }
    if (errno != EAGAIN || Clock::now() >= deadline) {
      SetError(errorText, SystemError(path));
      return LocalRequestResult::kFailed;
    }
    // The server's queue of waiting connections is full: try again shortly.
    usleep(20000);
  }

  const std::string line = request + "\n";
  std::size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n = send(fd.Get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
               WaitFor(fd.Get(), POLLOUT, deadline)) {
      continue;
    } else {
      SetError(errorText, n < 0 ? SystemError(path) : path + ": the request could not be sent");
      return LocalRequestResult::kFailed;
    }
  }

  std::string received;
  for (;;) {
    std::size_t end = received.find('\n');
    if (end != std::string::npos) {
      if (reply != nullptr) {
        *reply = received.substr(0, end);
      }
      return LocalRequestResult::kAnswered;
    }
    if (!WaitFor(fd.Get(), POLLIN, deadline)) {
      SetError(errorText, path + ": no answer in time");
      return LocalRequestResult::kFailed;
    }
    char buffer[256];
    ssize_t n = recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;
    }
    if (n <= 0 || received.size() > LocalRequestServer::kMaxRequestBytes) {
      SetError(errorText, n < 0 ? SystemError(path) : path + ": closed without an answer");
      return LocalRequestResult::kFailed;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace lapora
