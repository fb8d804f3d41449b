#include "sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "wire_text.h"

namespace lapora::resultsim {

namespace {

constexpr size_t kChunk = 65536;
constexpr int64_t kDrainUs = 2'000'000;  // how long a closing connection may keep sending

int64_t MonotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

int64_t UnixUs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

// One event line on stdout, flushed at once: tests and scripts wait on these.
void Event(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Event(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CServer::~CServer() {
  if (m_client >= 0) {
    close(m_client);
  }
  if (m_listenFd >= 0) {
    close(m_listenFd);
  }
  if (m_logFd >= 0) {
    close(m_logFd);
  }
  if (m_recordFd >= 0) {
    close(m_recordFd);
  }
}

bool CServer::Start(std::string& error) {
  if (!m_settings.logPath.empty()) {
    m_logFd = open(m_settings.logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_logFd < 0) {
      error = "cannot open the log " + m_settings.logPath + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!m_settings.recordPath.empty()) {
    // Appended to, never truncated: a simulator started again after a kill adds to the record.
    m_recordFd =
        open(m_settings.recordPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_recordFd < 0) {
      error = "cannot open the record " + m_settings.recordPath + ": " + std::strerror(errno);
      return false;
    }
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(m_settings.port));
  if (inet_pton(AF_INET, m_settings.bindAddress.c_str(), &address.sin_addr) != 1) {
    error = "not an IPv4 address: " + m_settings.bindAddress;
    return false;
  }
  m_listenFd = socket(AF_INET, SOCK_STREAM, 0);
  if (m_listenFd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  // Non-blocking: a connection reset between poll and accept must not hang the loop.
  if (fcntl(m_listenFd, F_SETFD, FD_CLOEXEC) != 0 || fcntl(m_listenFd, F_SETFL, O_NONBLOCK) != 0) {
    error = std::string("fcntl: ") + std::strerror(errno);
    return false;
  }
  if (setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    error = std::string("SO_REUSEADDR: ") + std::strerror(errno);
    return false;
  }
  // Set before listen so that accepted sockets inherit it and the window is sized for it.
  if (m_settings.receiveBuffer > 0 &&
      setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &m_settings.receiveBuffer,
                 sizeof m_settings.receiveBuffer) != 0) {
    error = std::string("SO_RCVBUF: ") + std::strerror(errno);
    return false;
  }
  if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = "cannot listen on " + m_settings.bindAddress + ":" + std::to_string(m_settings.port) +
            ": " + std::strerror(errno);
    return false;
  }
  if (listen(m_listenFd, 8) != 0) {
    error = std::string("listen: ") + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof address;
  if (getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = std::string("getsockname: ") + std::strerror(errno);
    return false;
  }
  Event("listening on %d", ntohs(address.sin_port));
  return true;
}

int CServer::Run(int stopFd) {
  while (true) {
    if (m_client < 0 && m_settings.clients > 0 && m_finishedClients >= m_settings.clients) {
      Event("stopped after %d clients", m_finishedClients);
      return 0;
    }
    pollfd fds[3] = {};
    nfds_t count = 0;
    fds[count++] = {stopFd, POLLIN, 0};
    // One client at a time; a stalled one gives way to the next (its peer has moved on).
    const bool acceptNow = m_client < 0 || (m_phase == Phase::kServing && !m_reading);
    const nfds_t listenIndex = acceptNow ? count : 99;
    if (acceptNow) {
      fds[count++] = {m_listenFd, POLLIN, 0};
    }
    nfds_t clientIndex = 99;
    if (m_client >= 0) {
      short events = 0;
      if ((m_phase == Phase::kServing && m_reading) || m_phase == Phase::kDraining) {
        events |= POLLIN;
      }
      if (!m_output.empty()) {
        events |= POLLOUT;
      }
      clientIndex = count;
      fds[count++] = {m_client, events, 0};
    }
    const int ready = poll(fds, count, PollTimeoutMs());
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "resultsim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      // What the client's system handed over is taken before the end, as a results software
      // that is shut down (not one that crashes) does.
      while (m_client >= 0 && m_phase == Phase::kServing && m_reading && ReadClient()) {
      }
      Event("stopped");
      return 0;
    }
    if (ready > 0 && listenIndex < count && (fds[listenIndex].revents & POLLIN) != 0) {
      Accept();
      continue;  // the poll set changed
    }
    if (m_client >= 0 && m_phase == Phase::kServing && !m_reading && m_resumeAtUs != 0 &&
        MonotonicUs() >= m_resumeAtUs) {
      m_reading = true;
      m_resumeAtUs = 0;
      Event("resumed reading");
    }
    if (ready > 0 && clientIndex < count && fds[clientIndex].revents != 0) {
      const short revents = fds[clientIndex].revents;
      if (m_phase == Phase::kDraining) {
        Drain();
      } else if (m_phase == Phase::kServing && m_reading &&
                 (revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        ReadClient();
      } else if ((revents & (POLLHUP | POLLERR)) != 0) {
        EndClient("client left");  // gone while we were not reading
      }
    }
    if (m_client >= 0) {
      Pump();
    }
    if (m_client >= 0 && m_phase == Phase::kDraining && MonotonicUs() >= m_drainDeadlineUs) {
      EndClient("closed");
    }
  }
}

void CServer::Accept() {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int fd = accept(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length);
  if (fd < 0) {
    if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
      std::fprintf(stderr, "resultsim: accept: %s\n", std::strerror(errno));
    }
    return;
  }
  // Answers go out at once, not held back to be merged with the next ones.
  const int noDelay = 1;
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0) {
    std::fprintf(stderr, "resultsim: cannot set up the connection: %s\n", std::strerror(errno));
    close(fd);
    return;
  }
  if (m_client >= 0) {
    EndClient("dropped stalled client");
  }
  m_client = fd;
  m_phase = Phase::kServing;
  m_input.clear();
  m_lines = 0;
  m_reading = true;
  m_stoppedOnce = false;
  m_resumeAtUs = 0;
  m_pending.clear();
  m_output.clear();
  m_closeReady = false;
  m_script.ResetConnection();
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  // The stamp is on the clock of the receive log, to measure when the first requests came.
  Event("client connected %s:%d at %lld", text, ntohs(peer.sin_port),
        static_cast<long long>(UnixUs()));
}

int CServer::NextLimit() const {
  int limit = 0;
  if (m_settings.closeAfter > m_lines) {
    limit = m_settings.closeAfter;
  }
  if (!m_stoppedOnce && m_settings.stopReadingAfter > m_lines &&
      (limit == 0 || m_settings.stopReadingAfter < limit)) {
    limit = m_settings.stopReadingAfter;
  }
  return limit;
}

bool CServer::ReadClient() {
  char buffer[kChunk];
  size_t want = sizeof buffer;
  const int limit = NextLimit();
  if (limit > 0) {
    // Take no byte beyond the line where the simulator must stop: the rest stays in the
    // socket buffers, as for a peer that really stops reading.
    const ssize_t peeked = recv(m_client, buffer, sizeof buffer, MSG_PEEK);
    if (peeked > 0) {
      int linesLeft = limit - m_lines;
      for (ssize_t i = 0; i < peeked; ++i) {
        if (buffer[i] == '\n' && --linesLeft == 0) {
          want = static_cast<size_t>(i) + 1;
          break;
        }
      }
    }
  }
  const ssize_t received = recv(m_client, buffer, want, 0);
  const int64_t stamp = UnixUs();
  if (received < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
      return false;
    }
    Event("client error after %d lines: %s", m_lines, std::strerror(errno));
    EndClient("closed");
    return false;
  }
  if (received == 0) {
    if (!m_input.empty()) {
      Event("unterminated line at close %s", EscapeLine(m_input).c_str());
    }
    EndClient("client left");
    return false;
  }
  m_input.append(buffer, static_cast<size_t>(received));
  std::string logText;
  size_t start = 0;
  std::vector<std::string> lines;
  while (true) {
    const size_t end = m_input.find('\n', start);
    if (end == std::string::npos) {
      break;
    }
    lines.push_back(m_input.substr(start, end - start));
    start = end + 1;
  }
  m_input.erase(0, start);
  if (m_logFd >= 0 && !lines.empty()) {
    for (const std::string& line : lines) {
      logText += std::to_string(stamp) + " " + EscapeLine(line) + "\n";
    }
    if (!WriteAll(m_logFd, logText)) {
      std::fprintf(stderr, "resultsim: cannot write the log: %s\n", std::strerror(errno));
    }
  }
  if (m_recordFd >= 0) {
    std::string recordText;
    for (const std::string& line : lines) {
      if (line.rfind("AddKolClock(", 0) == 0) {
        recordText += line.substr(0, line.find_last_not_of('\r') + 1) + "\n";
      }
    }
    if (!recordText.empty() && !WriteAll(m_recordFd, recordText)) {
      std::fprintf(stderr, "resultsim: cannot write the record: %s\n", std::strerror(errno));
    }
  }
  for (const std::string& line : lines) {
    HandleLine(line);
  }
  return m_client >= 0;
}

void CServer::HandleLine(const std::string& raw) {
  ++m_lines;
  std::string line = raw;
  while (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  if (!m_settings.quiet) {
    Event("received %d %s", m_lines, EscapeLine(raw).c_str());
  }
  if (m_phase != Phase::kServing) {
    return;  // a scripted close is under way: nothing more is answered
  }
  int64_t due = MonotonicUs() + static_cast<int64_t>(m_settings.replyDelayMs) * 1000;
  const auto queueDefault = [&] {
    std::string note;
    for (std::string& reply : m_responder.Answer(line, note)) {
      std::string shown = EscapeLine(reply);
      Queue(due, reply + "\r\n", std::move(shown), false);
    }
  };
  const CScriptRule* rule = m_script.Match(m_lines, line);
  bool closing = false;
  if (rule == nullptr) {
    queueDefault();
  } else {
    for (const CScriptAction& action : rule->actions) {
      switch (action.kind) {
        case CScriptAction::Kind::kSend:
          Queue(due, action.bytes + "\r\n", EscapeLine(action.bytes), false);
          break;
        case CScriptAction::Kind::kRaw:
          Queue(due, action.bytes, "raw " + EscapeLine(action.bytes), false);
          break;
        case CScriptAction::Kind::kDelay:
          due += static_cast<int64_t>(action.delayMs) * 1000;
          break;
        case CScriptAction::Kind::kDefault:
          queueDefault();
          break;
        case CScriptAction::Kind::kClose:
          closing = true;
          break;
      }
      if (closing) {
        break;
      }
    }
  }
  if (!closing && m_settings.closeAfter > 0 && m_lines >= m_settings.closeAfter) {
    closing = true;
    Event("closing after %d lines", m_lines);
  }
  if (closing) {
    Queue(due, "", "", true);
    m_phase = Phase::kClosing;
    return;
  }
  if (!m_stoppedOnce && m_settings.stopReadingAfter > 0 && m_lines >= m_settings.stopReadingAfter) {
    m_stoppedOnce = true;
    m_reading = false;
    m_resumeAtUs = m_settings.resumeAfterMs > 0
                       ? MonotonicUs() + static_cast<int64_t>(m_settings.resumeAfterMs) * 1000
                       : 0;
    Event("stopped reading after %d lines", m_lines);
  }
}

void CServer::Queue(int64_t dueUs, std::string bytes, std::string shown, bool close) {
  // Answers keep the order of the requests even when an earlier one is delayed longer.
  if (!m_pending.empty()) {
    dueUs = std::max(dueUs, m_pending.back().dueUs);
  }
  m_pending.push_back({dueUs, std::move(bytes), std::move(shown), close});
}

void CServer::Pump() {
  const int64_t now = MonotonicUs();
  while (!m_pending.empty() && m_pending.front().dueUs <= now && !m_closeReady) {
    Pending& next = m_pending.front();
    if (next.close) {
      m_closeReady = true;
    } else {
      m_output += next.bytes;
      if (!m_settings.quiet) {
        Event("sent %s", next.shown.c_str());
      }
    }
    m_pending.pop_front();
  }
  while (!m_output.empty()) {
    const ssize_t sent = send(m_client, m_output.data(), m_output.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return;  // POLLOUT brings us back
      }
      Event("client error after %d lines: %s", m_lines, std::strerror(errno));
      EndClient("closed");
      return;
    }
    m_output.erase(0, static_cast<size_t>(sent));
  }
  if (m_closeReady && m_phase == Phase::kClosing) {
    // Half-close, then read until the peer closes too: closing with unread bytes would reset
    // the connection and could destroy the answers still on their way.
    shutdown(m_client, SHUT_WR);
    m_phase = Phase::kDraining;
    m_drainDeadlineUs = now + kDrainUs;
  }
}

void CServer::Drain() {
  char buffer[kChunk];
  const ssize_t received = recv(m_client, buffer, sizeof buffer, 0);
  if (received > 0 || (received < 0 && (errno == EINTR || errno == EAGAIN))) {
    return;
  }
  EndClient("closed");
}

void CServer::EndClient(const char* how) {
  close(m_client);
  m_client = -1;
  m_phase = Phase::kNone;
  m_pending.clear();
  m_output.clear();
  ++m_finishedClients;
  Event("%s after %d lines", how, m_lines);
}

int CServer::PollTimeoutMs() const {
  int64_t wakeUs = -1;
  const auto consider = [&wakeUs](int64_t at) {
    if (at > 0 && (wakeUs < 0 || at < wakeUs)) {
      wakeUs = at;
    }
  };
  if (m_client >= 0) {
    if (!m_pending.empty() && !m_closeReady) {
      consider(m_pending.front().dueUs);
    }
    if (!m_reading && m_resumeAtUs != 0) {
      consider(m_resumeAtUs);
    }
    if (m_phase == Phase::kDraining) {
      consider(m_drainDeadlineUs);
    }
  }
  if (wakeUs < 0) {
    return -1;
  }
  const int64_t left = wakeUs - MonotonicUs();
  return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

}  // namespace lapora::resultsim
