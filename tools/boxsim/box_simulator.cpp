#include "box_simulator.h"

#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace lapora::boxsim {

namespace {

// Output waiting in user space before the generator pauses: small enough that a reply
// queued behind detections leaves within a few tens of milliseconds.
constexpr size_t kOutHighWater = 256 * 1024;
constexpr size_t kMaxCommandBytes = 64 * 1024;
constexpr int kPtyPeerCheckMs = 50;

int g_signalWrite = -1;

// What a signal asks, as the byte it writes into the signal pipe.
constexpr char kSignalStop = 1;
constexpr char kSignalComeUp = 2;

void OnSignal(int number) {
  if (g_signalWrite >= 0) {
    char byte = number == SIGUSR1 ? kSignalComeUp : kSignalStop;
    ssize_t ignored = write(g_signalWrite, &byte, 1);
    (void)ignored;
  }
}

void Event(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Event(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Texts echoed back must not end the line early.
std::string Clean(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == ';' || c == '\n' || c == '\r') {
      c = '_';
    }
  }
  return out;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// "2012-05-13_10:23:45.120,CHIP" -> "CHIP,2012-05-13 10:23:45.120,1,-60": the four-field
// comma form of the box data files (antenna and signal strength are filler).
bool CsvLine(const std::string& payload, std::string& out) {
  size_t comma = payload.find(',');
  size_t underscore = payload.find('_');
  if (comma == std::string::npos || underscore == std::string::npos || underscore > comma ||
      comma + 1 >= payload.size()) {
    return false;
  }
  std::string when = payload.substr(0, comma);
  when[underscore] = ' ';
  out.append(payload, comma + 1, std::string::npos);
  out.append(",").append(when).append(",1,-60\r\n");
  return true;
}

}  // namespace

CBoxSimulator::CBoxSimulator(const Options& options)
    : m_o(options), m_clock(options.dateOffsetDays, options.clockOffsetMs) {
  if (m_o.channelsClosed) {
    std::fill(std::begin(m_channels), std::end(m_channels), false);
  }
}

CBoxSimulator::~CBoxSimulator() {
  StopHttp();
  if (m_fd >= 0 && m_fd != m_ptyMaster) {
    close(m_fd);
  }
  if (m_listenFd >= 0) {
    close(m_listenFd);
  }
  if (m_ptyMaster >= 0) {
    close(m_ptyMaster);
  }
  if (!m_o.ptyLink.empty() && m_ptyMaster >= 0) {
    unlink(m_o.ptyLink.c_str());
  }
  for (int fd : m_signalPipe) {
    if (fd >= 0) {
      close(fd);
    }
  }
  g_signalWrite = -1;
  if (m_dataFile != nullptr) {
    std::fclose(m_dataFile);
  }
  if (m_sendLog != nullptr) {
    std::fclose(m_sendLog);
  }
  if (m_sessionLog != nullptr) {
    std::fclose(m_sessionLog);
  }
}

int CBoxSimulator::Run() {
  if (!Setup()) {
    return 1;
  }
  Loop();
  if (m_connected) {
    EndSession("simulator exits", false);
  }
  StopHttp();
  Event("done: sent %lld detections, %lld lines, %lld garbage lines, %zu reads unsent",
        static_cast<long long>(m_readsSent), static_cast<long long>(m_linesSent),
        static_cast<long long>(m_garbageSent), m_backlog.size());
  return 0;
}

bool CBoxSimulator::Setup() {
  std::string error;
  if (m_o.race) {
    auto race = std::make_unique<CRaceSource>(m_o);
    if (!m_o.chipTable.empty()) {
      if (!race->WriteChipTable(m_o.chipTable, error)) {
        Event("error: %s", error.c_str());
        return false;
      }
      Event("chip table %s", m_o.chipTable.c_str());
    }
    m_source = std::move(race);
  } else if (!m_o.playFile.empty()) {
    auto play = std::make_unique<CPlaySource>();
    if (!play->Load(m_o.playFile, m_o.count, error)) {
      Event("error: %s", error.c_str());
      return false;
    }
    m_source = std::move(play);
  }
  if (!m_o.dataFile.empty()) {
    m_dataFile = std::fopen(m_o.dataFile.c_str(), "ab");
    if (m_dataFile == nullptr) {
      Event("error: cannot open %s: %s", m_o.dataFile.c_str(), std::strerror(errno));
      return false;
    }
  }
  if (!m_o.sendLog.empty()) {
    m_sendLog = std::fopen(m_o.sendLog.c_str(), "ab");
    if (m_sendLog == nullptr) {
      Event("error: cannot open %s: %s", m_o.sendLog.c_str(), std::strerror(errno));
      return false;
    }
  }
  if (!m_o.sessionLog.empty()) {
    m_sessionLog = std::fopen(m_o.sessionLog.c_str(), "ab");
    if (m_sessionLog == nullptr) {
      Event("error: cannot open %s: %s", m_o.sessionLog.c_str(), std::strerror(errno));
      return false;
    }
  }
  if (pipe(m_signalPipe) != 0 || !SetNonBlocking(m_signalPipe[0]) ||
      !SetNonBlocking(m_signalPipe[1])) {
    Event("error: pipe: %s", std::strerror(errno));
    return false;
  }
  g_signalWrite = m_signalPipe[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // SIGUSR1: a box that refuses connections comes up at once, whatever is left of its time.
  sigaction(SIGUSR1, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (m_o.http) {
    StartHttp();
    if (!m_http) {
      return false;
    }
  }
  if (m_o.useTcp ? !OpenListener(m_o.refuseSeconds) : !OpenPty()) {
    return false;
  }
  if (m_o.exitAfterSeconds > 0) {
    m_exitAt = SteadyMillis() + static_cast<int64_t>(m_o.exitAfterSeconds * 1000.0);
  }
  return true;
}

bool CBoxSimulator::OpenListener(double refuseSeconds) {
  // Bound but not listening: a connection attempt is refused, as by a box that is not up,
  // while the port stays ours.
  m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listenFd < 0) {
    Event("error: socket: %s", std::strerror(errno));
    return false;
  }
  int one = 1;
  setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(m_port != 0 ? m_port : m_o.tcpPort));
  if (inet_pton(AF_INET, m_o.bindAddress.c_str(), &address.sin_addr) != 1) {
    Event("error: bad address %s", m_o.bindAddress.c_str());
    return false;
  }
  if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Event("error: bind port %d: %s", ntohs(address.sin_port), std::strerror(errno));
    return false;
  }
  socklen_t length = sizeof address;
  if (getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      !SetNonBlocking(m_listenFd)) {
    Event("error: getsockname: %s", std::strerror(errno));
    return false;
  }
  bool first = m_port == 0;
  m_port = ntohs(address.sin_port);
  m_listening = false;
  m_acceptFrom = SteadyMillis();
  m_refusing = refuseSeconds > 0;
  if (m_refusing) {
    m_acceptFrom += static_cast<int64_t>(refuseSeconds * 1000.0);
    Event("refusing connections for %g s", refuseSeconds);
  } else {
    // Listening before the port is announced, so that a peer may connect as soon as it reads it.
    if (listen(m_listenFd, 8) != 0) {
      Event("error: listen: %s", std::strerror(errno));
      return false;
    }
    m_listening = true;
  }
  if (first) {
    Event("listening on %d", m_port);
  }
  return true;
}

bool CBoxSimulator::OpenPty() {
  m_ptyMaster = posix_openpt(O_RDWR | O_NOCTTY);
  if (m_ptyMaster < 0 || grantpt(m_ptyMaster) != 0 || unlockpt(m_ptyMaster) != 0) {
    Event("error: pseudo-terminal: %s", std::strerror(errno));
    return false;
  }
  char name[256];
  if (ptsname_r(m_ptyMaster, name, sizeof name) != 0) {
    Event("error: ptsname: %s", std::strerror(errno));
    return false;
  }
  m_ptyPath = name;
  // Raw line discipline so that no byte is echoed, translated or held for a line; the
  // settings stay with the terminal after the slave is closed, and closing it puts the master
  // in the hang-up state that tells us when a peer has the port open.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    Event("error: open %s: %s", name, std::strerror(errno));
    return false;
  }
  struct termios settings {};
  if (tcgetattr(slave, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    tcsetattr(slave, TCSANOW, &settings);
  }
  close(slave);
  if (!SetNonBlocking(m_ptyMaster)) {
    Event("error: fcntl: %s", std::strerror(errno));
    return false;
  }
  if (!m_o.ptyLink.empty()) {
    unlink(m_o.ptyLink.c_str());
    if (symlink(name, m_o.ptyLink.c_str()) != 0) {
      Event("error: symlink %s: %s", m_o.ptyLink.c_str(), std::strerror(errno));
      return false;
    }
  }
  Event("pty %s", name);
  return true;
}

void CBoxSimulator::StartHttp() {
  auto server = std::make_unique<httplib::Server>();
  server->Get("/currentData.csv", [this](const httplib::Request&, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(m_packMutex);
    if (!m_packedReady) {
      response.status = 404;
      response.set_content("no packed data\n", "text/plain");
      return;
    }
    response.set_content(m_packedCsv, "text/csv");
  });
  int port = m_o.httpPort;
  if (port == 0) {
    port = server->bind_to_any_port(m_o.bindAddress);
  } else if (!server->bind_to_port(m_o.bindAddress, port)) {
    port = -1;
  }
  if (port <= 0) {
    Event("error: http port %d cannot be bound", m_o.httpPort);
    return;
  }
  m_http = std::move(server);
  m_httpThread = std::thread([this] { m_http->listen_after_bind(); });
  Event("http on %d", port);
}

void CBoxSimulator::StopHttp() {
  if (m_http) {
    m_http->stop();
    if (m_httpThread.joinable()) {
      m_httpThread.join();
    }
    m_http.reset();
  }
}

void CBoxSimulator::Loop() {
  while (!m_stop) {
    int64_t now = SteadyMillis();
    if (m_exitAt != 0 && now >= m_exitAt) {
      Event("exit after %g s", m_o.exitAfterSeconds);
      break;
    }
    if (m_o.useTcp && !m_listening && now >= m_acceptFrom) {
      if (listen(m_listenFd, 8) != 0) {
        Event("error: listen: %s", std::strerror(errno));
        break;
      }
      m_listening = true;
      if (m_refusing) {
        m_refusing = false;
        Event("accepting connections");
      }
    }
    if (m_o.usePty && !m_connected && now >= m_nextPeerCheck) {
      m_nextPeerCheck = now + kPtyPeerCheckMs;
      pollfd probe{m_ptyMaster, 0, 0};
      if (poll(&probe, 1, 0) >= 0 && (probe.revents & POLLHUP) == 0) {
        StartSession(m_ptyMaster, m_ptyPath);
      }
    }
    if (!m_connected && m_o.storeOffline) {
      ProduceOffline();
    }
    if (m_connected) {
      Produce(now);
      WriteOutput(now);
      CheckRaceDone();
      if (m_dropPending && m_lines.empty()) {
        EndSession("dropped after " + std::to_string(m_connReads) + " detections", true);
        continue;
      }
      if (m_o.exitWhenDone && m_raceDoneShown && m_lines.empty()) {
        break;
      }
    }

    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {m_signalPipe[0], POLLIN, 0};
    int listenIndex = -1;
    int sessionIndex = -1;
    if (m_listening) {
      listenIndex = static_cast<int>(count);
      fds[count++] = {m_listenFd, POLLIN, 0};
    }
    if (m_connected) {
      short events = POLLIN;
      now = SteadyMillis();
      if (!m_lines.empty() && !Stalled(now) && now >= m_nextWriteAt) {
        events |= POLLOUT;
      }
      sessionIndex = static_cast<int>(count);
      fds[count++] = {m_fd, events, 0};
    }
    int64_t wake = NextWake(SteadyMillis());
    int timeout = static_cast<int>(std::clamp<int64_t>(wake - SteadyMillis(), 0, 1000));
    int ready = poll(fds, count, timeout);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      Event("error: poll: %s", std::strerror(errno));
      break;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      bool stop = false;
      char bytes[16];
      ssize_t got;
      while ((got = read(m_signalPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
          stop = stop || bytes[i] == kSignalStop;
          if (bytes[i] == kSignalComeUp && m_refusing) {
            m_acceptFrom = SteadyMillis();  // listened on at the next turn
          }
        }
      }
      if (stop) {
        Event("signal received");
        break;
      }
      continue;
    }
    if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN) != 0) {
      AcceptConnections();
    }
    if (sessionIndex >= 0 && m_connected) {
      short revents = fds[sessionIndex].revents;
      if ((revents & (POLLIN | POLLERR)) != 0) {
        ReadCommands();
      } else if ((revents & POLLHUP) != 0) {
        EndSession(m_o.usePty ? "pty closed by peer" : "closed by peer", false);
      }
    }
  }
}

int64_t CBoxSimulator::NextWake(int64_t now) const {
  int64_t wake = now + 1000;
  auto consider = [&wake](int64_t at) { wake = std::min(wake, at); };
  if (m_exitAt != 0) {
    consider(m_exitAt);
  }
  if (m_o.useTcp && !m_listening) {
    consider(m_acceptFrom);
  }
  if (m_o.usePty && !m_connected) {
    consider(m_nextPeerCheck);
  }
  if (!m_connected && m_o.storeOffline && m_raceStarted && m_source && !m_source->Done() &&
      AnyChannelOpen()) {
    int64_t due = m_raceStartSys + m_source->NextOffsetMs() - SystemMillis();
    consider(now + std::max<int64_t>(due, 0));
  }
  if (!m_connected || m_o.silent) {
    return wake;
  }
  if (Stalled(now)) {
    return std::min(wake, m_stallUntil);
  }
  if (m_stallUntil != 0 && !m_stallShown) {
    return now;  // the end of a stall is announced at once
  }
  if (m_o.heartbeatMs > 0) {
    consider(m_nextHeartbeat);
  }
  if (m_o.statusMs > 0) {
    consider(m_nextStatus);
  }
  if (!m_packs.empty()) {
    consider(m_packs.front().due);
  }
  if (!m_lines.empty() && m_nextWriteAt > now) {
    consider(m_nextWriteAt);
  }
  bool moreReads = !m_backlog.empty() || (m_source && !m_source->Done());
  if (moreReads && !m_dropPending && AnyChannelOpen() && m_out.size() < kOutHighWater) {
    int64_t startAt = m_sessionStart + m_o.startDelayMs;
    if (now < startAt) {
      consider(startAt);
    } else if (m_o.realtime && m_backlog.empty()) {
      int64_t due = m_raceStartSys + m_source->NextOffsetMs() - SystemMillis();
      consider(now + std::max<int64_t>(due, 0));
    } else if (m_o.rate > 0 && m_liveQueued >= m_o.burst) {
      int64_t due = m_rateStart + static_cast<int64_t>((m_rateQueued + 1) * 1000.0 / m_o.rate);
      consider(due);
    } else {
      consider(now);
    }
  }
  return wake;
}

void CBoxSimulator::StartSession(int fd, const std::string& peer) {
  m_fd = fd;
  m_connected = true;
  ++m_connections;
  m_sessionStart = SteadyMillis();
  m_connReads = 0;
  m_dropPending = false;
  m_in.clear();
  m_out.clear();
  m_outBase = 0;
  m_streamDone = 0;
  m_stallAfterStream = 0;  // a stall whose line was lost with the connection begins now
  m_lines.clear();
  m_unwrittenReads = 0;
  m_nextWriteAt = 0;
  m_nextHeartbeat = m_sessionStart;  // the PC learns the device id from the first line
  m_nextStatus = m_sessionStart;
  m_rateStart = m_sessionStart + m_o.startDelayMs;
  m_rateQueued = 0;
  Event("connected %s", peer.c_str());
  if (m_offlineReads > 0) {
    Event("stored while disconnected: %lld reads", static_cast<long long>(m_offlineReads));
    m_offlineReads = 0;
  }
  LogSession("connected", peer);
}

void CBoxSimulator::LogSession(const char* what, const std::string& detail) {
  if (m_sessionLog == nullptr) {
    return;
  }
  // Reads are counted when their last byte is written, as in the data file: the count splits
  // the data file into the connections that carried its lines.
  std::fprintf(m_sessionLog, "%lld %s %lld %s\n", static_cast<long long>(SystemMicros()), what,
               static_cast<long long>(m_readsSent), detail.c_str());
  std::fflush(m_sessionLog);
}

void CBoxSimulator::EndSession(const std::string& reason, bool dropped) {
  // Reads not fully written are kept by the box and sent first on the next connection; a box
  // that stores its reads as it makes them leaves them in its store.
  std::deque<SourceItem> unsent;
  size_t storedUnsent = 0;
  for (const OutLine& line : m_lines) {
    if (!line.isRead) {
      continue;
    }
    if (m_o.storeOffline) {
      ++storedUnsent;
      continue;
    }
    std::string text = m_out.substr(line.start - m_outBase, line.end - line.start);
    text.resize(text.size() - m_o.lineEnd.size());
    SourceItem item;
    item.wholeLine = line.whole;
    item.isRead = true;
    item.payload = text.substr(line.payloadPos);
    item.text = line.whole ? text : item.payload;
    unsent.push_back(std::move(item));
  }
  m_backlog.insert(m_backlog.begin(), unsent.begin(), unsent.end());
  m_lines.clear();
  m_unwrittenReads = 0;
  m_out.clear();
  m_connected = false;
  if (m_fd != m_ptyMaster) {
    close(m_fd);
  } else {
    tcflush(m_ptyMaster, TCIOFLUSH);
    m_nextPeerCheck = SteadyMillis() + kPtyPeerCheckMs;
  }
  m_fd = -1;
  Event("disconnected: %s (%zu reads unsent)", reason.c_str(), unsent.size() + storedUnsent);
  LogSession("disconnected", reason);
  if (dropped) {
    ++m_dropsDone;
  }
  if (!m_o.loop) {
    m_stop = true;
    return;
  }
  double refuseSeconds = m_o.outageSeconds > 0 ? m_o.outageSeconds : m_o.refuseSeconds;
  if (dropped && m_o.useTcp && refuseSeconds > 0) {
    close(m_listenFd);
    m_listenFd = -1;
    if (!OpenListener(refuseSeconds)) {
      m_stop = true;
    }
  }
}

void CBoxSimulator::AcceptConnections() {
  while (true) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Event("error: accept: %s", std::strerror(errno));
      }
      return;
    }
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
    std::string name = std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
    // A box serves one PC at a time.
    if (m_connected) {
      close(fd);
      Event("refused extra connection from %s", name.c_str());
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    StartSession(fd, "from " + name);
  }
}

void CBoxSimulator::ReadCommands() {
  char buffer[65536];
  ssize_t count = read(m_fd, buffer, sizeof buffer);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return;
  }
  if (count <= 0) {
    const char* what = m_o.usePty ? "pty closed by peer" : "closed by peer";
    EndSession(count == 0 || errno == EIO ? what : std::string("read failed: ") + strerror(errno),
               false);
    return;
  }
  m_in.append(buffer, static_cast<size_t>(count));
  size_t end;
  while ((end = m_in.find(';')) != std::string::npos) {
    std::string command = m_in.substr(0, end);
    m_in.erase(0, end + 1);
    size_t first = command.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
      continue;
    }
    HandleCommand(command.substr(first));
    if (!m_connected) {
      return;
    }
  }
  if (m_in.size() > kMaxCommandBytes) {
    Event("bad command: %zu bytes without ';' dropped", m_in.size());
    m_in.clear();
  }
}

void CBoxSimulator::Reply(const std::string& command, const std::string& sequence,
                          const std::string& payload) {
  if (m_o.silent) {
    return;
  }
  QueueLine(m_o.deviceId + "@" + command + "@" + Clean(sequence) + "@" + payload, false, false, 0);
}

void CBoxSimulator::HandleCommand(const std::string& raw) {
  Event("command: %s;", Printable(raw).c_str());
  size_t a = raw.find('@');
  size_t b = a == std::string::npos ? a : raw.find('@', a + 1);
  size_t c = b == std::string::npos ? b : raw.find('@', b + 1);
  if (c == std::string::npos) {
    Event("bad command: %s;", Printable(raw).c_str());
    return;
  }
  std::string device = raw.substr(0, a);
  std::string command = raw.substr(a + 1, b - a - 1);
  std::string sequence = raw.substr(b + 1, c - b - 1);
  std::string parameter = raw.substr(c + 1);
  if (!device.empty() && device != m_o.deviceId) {
    Event("note: command for device id %s", Printable(device).c_str());
  }
  const std::string echo = parameter.empty() ? "ok" : Clean(parameter);
  auto refuse = [&] {
    Event("bad parameter: %s", Printable(raw).c_str());
    Reply(command, sequence, "error");
  };
  if (command == "readerOpen" || command == "readerStop") {
    bool open = command == "readerOpen";
    if (parameter.size() == 1 && parameter[0] >= '1' && parameter[0] <= '4') {
      m_channels[parameter[0] - '1'] = open;
      Reply(command, sequence, parameter);
    } else {
      refuse();
    }
  } else if (command == "setDate") {
    if (m_clock.SetDate(parameter)) {
      Reply(command, sequence, echo);
      QueueReport("machineDate", CBoxClock::DashedDate(m_clock.NowMillis()));
    } else {
      refuse();
    }
  } else if (command == "setTime") {
    if (m_clock.SetTime(parameter)) {
      Reply(command, sequence, echo);
      QueueReport("machineTime", CBoxClock::TimeMillis(m_clock.NowMillis()));
    } else {
      refuse();
    }
  } else if (command == "getGunTime") {
    Reply(command, sequence,
          m_raceStarted ? CBoxClock::TimeMillis(m_raceStartSys + m_clock.OffsetMillis())
                        : "00:00:00.000");
  } else if (command == "setGateTime") {
    char* end = nullptr;
    double seconds = std::strtod(parameter.c_str(), &end);
    if (!parameter.empty() && end != nullptr && *end == '\0' && seconds >= 0) {
      m_gateTime = parameter;
      Reply(command, sequence, echo);
    } else {
      refuse();
    }
  } else if (command == "packDataSection") {
    std::string from;
    std::string to;
    if (!ParseRange(parameter, from, to)) {
      refuse();
      return;
    }
    Reply(command, sequence, echo);
    PendingPack pack;
    pack.due = SteadyMillis() + m_o.packDelayMs;
    pack.sequence = sequence;
    size_t pos = 0;
    while (pos < m_stored.size()) {
      size_t end = m_stored.find('\n', pos);
      std::string payload = m_stored.substr(pos, end - pos);
      pos = end + 1;
      if (InRange(payload, from, to)) {
        CsvLine(payload, pack.csv);
      }
    }
    m_packs.push_back(std::move(pack));
  } else if (command == "rewindData") {
    std::string from;
    std::string to;
    if (!ParseRange(parameter, from, to)) {
      refuse();
      return;
    }
    Reply(command, sequence, echo);
    std::vector<std::string> reads;
    size_t pos = 0;
    while (pos < m_stored.size()) {
      size_t end = m_stored.find('\n', pos);
      std::string payload = m_stored.substr(pos, end - pos);
      pos = end + 1;
      if (InRange(payload, from, to)) {
        reads.push_back(std::move(payload));
      }
    }
    QueueReport("epc_rewind_start", std::to_string(reads.size()));
    for (const std::string& payload : reads) {
      QueueReport("epc", payload);
    }
    QueueReport("epc_rewind_done", std::to_string(reads.size()));
    Event("rewind: %zu reads", reads.size());
  } else if (command == "deleteData") {
    Reply(command, sequence, "ok");
    Event("deleted %lld reads", static_cast<long long>(m_storedCount));
    m_stored.clear();
    m_storedCount = 0;
  } else {
    Event("unknown command: %s;", Printable(raw).c_str());
  }
}

bool CBoxSimulator::ParseRange(const std::string& parameter, std::string& from,
                               std::string& to) const {
  from.clear();
  to.clear();
  if (parameter.empty()) {
    return true;
  }
  size_t comma = parameter.find(',');
  if (comma == std::string::npos || parameter.find(',', comma + 1) != std::string::npos) {
    return false;
  }
  from = parameter.substr(0, comma);
  to = parameter.substr(comma + 1);
  // Box times are fixed-width texts, so their order is the order of the texts.
  auto looksLikeTime = [](const std::string& t) {
    return t.size() >= 10 && t[4] == '-' && t[7] == '-' &&
           isdigit(static_cast<unsigned char>(t[0]));
  };
  return looksLikeTime(from) && looksLikeTime(to);
}

bool CBoxSimulator::InRange(const std::string& payload, const std::string& from,
                            const std::string& to) const {
  if (from.empty()) {
    return true;
  }
  std::string when = payload.substr(0, payload.find(','));
  return when >= from && when < to;
}

bool CBoxSimulator::AnyChannelOpen() const {
  return std::any_of(std::begin(m_channels), std::end(m_channels), [](bool open) { return open; });
}

std::string CBoxSimulator::NextSequence() {
  char text[8];
  std::snprintf(text, sizeof text, "%04d", m_sequence);
  m_sequence = (m_sequence + 1) % 10000;
  return text;
}

void CBoxSimulator::QueueReport(const std::string& keyword, const std::string& payload) {
  if (m_o.silent) {
    return;
  }
  QueueLine(m_o.deviceId + "@" + keyword + "@" + NextSequence() + "@" + payload, false, false, 0);
}

void CBoxSimulator::QueueLine(const std::string& text, bool isRead, bool whole,
                              uint32_t payloadPos) {
  OutLine line;
  line.start = m_outBase + m_out.size();
  m_out.append(text).append(m_o.lineEnd);
  line.end = m_outBase + m_out.size();
  line.isRead = isRead;
  line.whole = whole;
  line.payloadPos = payloadPos;
  m_lines.push_back(line);
  if (isRead) {
    ++m_unwrittenReads;
  }
}

void CBoxSimulator::QueueStatus() {
  int64_t now = m_clock.NowMillis();
  QueueReport("machineDate", CBoxClock::DashedDate(now));
  QueueReport("machineTime", CBoxClock::TimeMillis(now));
  QueueReport("machineState",
              std::string(AnyChannelOpen() ? "reading" : "stopped") + ",gate=" + Clean(m_gateTime));
  std::string channels;
  for (int i = 0; i < 4; ++i) {
    channels += std::string(i > 0 ? "," : "") + std::to_string(i + 1) + ":" +
                (m_channels[i] ? "on" : "off");
  }
  QueueReport("channelsState", channels);
}

void CBoxSimulator::QueueGarbage() {
  static const char* const kGarbage[] = {
      "this is not a box line", "@noSuchReport@0000@x", "@epc@0000@not-a-detection", "@@0000@x",
      "\x01\x02\xfe\xff@@@",    "@heartBeat",
  };
  constexpr int kKinds = sizeof kGarbage / sizeof kGarbage[0];
  std::string text = kGarbage[m_garbageKind];
  if (text[0] == '@') {
    text = m_o.deviceId + text;
  }
  m_garbageKind = (m_garbageKind + 1) % kKinds;
  QueueLine(text, false, false, 0);
  ++m_garbageSent;
}

void CBoxSimulator::Produce(int64_t now) {
  if (m_o.silent) {
    return;
  }
  if (Stalled(now) || m_stallPending) {
    return;
  }
  if (m_stallUntil != 0 && !m_stallShown) {
    m_stallShown = true;
    m_rateStart = now;
    m_rateQueued = 0;
    Event("stall end");
  }
  if (m_o.heartbeatMs > 0 && now >= m_nextHeartbeat) {
    QueueReport("heartBeat", CBoxClock::TimeSeconds(m_clock.NowMillis()));
    m_nextHeartbeat = now + m_o.heartbeatMs;
  }
  if (m_o.statusMs > 0 && now >= m_nextStatus) {
    QueueStatus();
    m_nextStatus = now + m_o.statusMs;
  }
  while (!m_packs.empty() && now >= m_packs.front().due) {
    PendingPack pack = std::move(m_packs.front());
    m_packs.pop_front();
    if (m_o.packFail) {
      Reply("packDataResult", pack.sequence, "FAILED: disk");
    } else {
      {
        std::lock_guard<std::mutex> lock(m_packMutex);
        m_packedCsv = std::move(pack.csv);
        m_packedReady = true;
      }
      Reply("packDataResult", pack.sequence, "ok");
    }
  }
  ProduceDetections(now);
}

void CBoxSimulator::ProduceDetections(int64_t now) {
  bool moreReads = !m_backlog.empty() || (m_source && !m_source->Done());
  if (!moreReads || m_dropPending || !AnyChannelOpen() || now < m_sessionStart + m_o.startDelayMs) {
    return;
  }
  if (!m_raceStarted) {
    m_raceStarted = true;
    m_raceStartSys = SystemMillis();
  }
  while (m_out.size() < kOutHighWater && !m_dropPending && !m_stallPending && !Stalled(now)) {
    if (m_backlog.empty()) {
      if (!m_source || m_source->Done()) {
        break;
      }
      if (m_o.realtime && m_raceStartSys + m_source->NextOffsetMs() > SystemMillis()) {
        break;
      }
    }
    if (m_o.rate > 0 && m_liveQueued >= m_o.burst &&
        m_rateQueued >= static_cast<int64_t>((now - m_rateStart) * m_o.rate / 1000.0) + 1) {
      break;
    }
    if (!QueueNextRead()) {
      break;
    }
    ++m_rateQueued;
    ++m_liveQueued;
    if (m_o.burst > 0 && m_liveQueued == m_o.burst) {
      // The pace counts from the end of the burst.
      m_rateStart = now;
      m_rateQueued = 0;
      Event("burst done: %lld detections", static_cast<long long>(m_liveQueued));
    }
    ++m_connReads;
    if (m_o.garbageEvery > 0 && m_liveQueued % m_o.garbageEvery == 0) {
      QueueGarbage();
    }
    if (m_o.stallAfter > 0 && !m_stallDone && m_liveQueued >= m_o.stallAfter) {
      m_stallDone = true;
      m_stallPending = true;
      m_stallAfterStream = m_outBase + m_out.size();
      break;
    }
    if (m_o.useTcp && m_o.dropAfter > 0 && m_connReads >= m_o.dropAfter &&
        (m_o.drops == 0 || m_dropsDone < m_o.drops)) {
      m_dropPending = true;
    }
  }
}

bool CBoxSimulator::QueueNextRead() {
  if (!m_backlog.empty()) {
    m_item = std::move(m_backlog.front());
    m_backlog.pop_front();
  } else {
    m_source->Next(m_raceStartSys + m_clock.OffsetMillis(), m_item);
    if (m_o.storeOffline && m_item.isRead) {
      StoreRead(m_item.payload.data(), m_item.payload.size());
    }
  }
  if (m_item.wholeLine) {
    uint32_t payloadPos = 0;
    if (m_item.isRead) {
      size_t at = m_item.text.size() - m_item.payload.size();
      payloadPos = static_cast<uint32_t>(at);
    }
    QueueLine(m_item.text, m_item.isRead, true, payloadPos);
    return true;
  }
  std::string prefix = m_o.deviceId + "@epc@" + NextSequence() + "@";
  QueueLine(prefix + m_item.text, true, false, static_cast<uint32_t>(prefix.size()));
  return true;
}

void CBoxSimulator::BeginPendingStall(int64_t now) {
  if (m_stallPending && m_streamDone >= m_stallAfterStream) {
    m_stallPending = false;
    m_stallUntil = now + static_cast<int64_t>(m_o.stallSeconds * 1000.0);
    Event("stall for %g s after %lld detections", m_o.stallSeconds,
          static_cast<long long>(m_liveQueued));
  }
}

void CBoxSimulator::WriteOutput(int64_t now) {
  BeginPendingStall(now);
  bool wrote = false;
  while (m_connected && !m_lines.empty() && !Stalled(now) && now >= m_nextWriteAt) {
    size_t pending = m_outBase + m_out.size() - m_streamDone;
    size_t chunk = pending;
    if (m_o.splitWrites) {
      // Cut the current line in two: the PC must join pieces that arrive apart.
      const OutLine& line = m_lines.front();
      size_t left = line.end - m_streamDone;
      size_t length = line.end - line.start;
      chunk = (left == length && length > 1) ? length / 2 : left;
    }
    ssize_t count = write(m_fd, m_out.data() + (m_streamDone - m_outBase), chunk);
    if (count < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        break;
      }
      std::string reason = std::string("write failed: ") + std::strerror(errno);
      EndSession(errno == EIO && m_o.usePty ? "pty closed by peer" : reason, false);
      return;
    }
    m_streamDone += static_cast<size_t>(count);
    wrote = true;
    while (!m_lines.empty() && m_lines.front().end <= m_streamDone) {
      LineWritten(m_lines.front());
      m_lines.pop_front();
    }
    BeginPendingStall(now);
    if (m_o.splitWrites) {
      m_nextWriteAt = SteadyMillis() + m_o.splitPauseMs;
      break;
    }
  }
  // Keep the buffer from growing without end: drop what every written line no longer needs.
  uint64_t keepFrom = m_lines.empty() ? m_streamDone : m_lines.front().start;
  size_t drop = static_cast<size_t>(keepFrom - m_outBase);
  if (drop > 0 && (drop >= 65536 || drop == m_out.size())) {
    m_out.erase(0, drop);
    m_outBase += drop;
  }
  if (wrote) {
    if (m_dataFile != nullptr) {
      std::fflush(m_dataFile);
    }
    if (m_sendLog != nullptr) {
      std::fflush(m_sendLog);
    }
  }
}

void CBoxSimulator::LineWritten(const OutLine& line) {
  ++m_linesSent;
  if (!line.isRead) {
    return;
  }
  ++m_readsSent;
  --m_unwrittenReads;
  const char* text = m_out.data() + (line.start - m_outBase);
  size_t length = line.end - line.start - m_o.lineEnd.size();
  const char* payload = text + line.payloadPos;
  size_t payloadLength = length - line.payloadPos;
  if (!m_o.storeOffline) {
    StoreRead(payload, payloadLength);
  }
  if (m_sendLog != nullptr) {
    std::fprintf(m_sendLog, "%lld ", static_cast<long long>(SystemMicros()));
    std::fwrite(text, 1, length, m_sendLog);
    std::fputc('\n', m_sendLog);
  }
}

void CBoxSimulator::StoreRead(const char* payload, size_t length) {
  m_stored.append(payload, length).push_back('\n');
  ++m_storedCount;
  if (m_dataFile != nullptr) {
    std::fwrite(payload, 1, length, m_dataFile);
    std::fputc('\n', m_dataFile);
  }
}

void CBoxSimulator::ProduceOffline() {
  // The race goes on while no PC listens: the reads due are made and stored, never sent.
  if (!m_raceStarted || !m_source || !AnyChannelOpen()) {
    return;
  }
  bool stored = false;
  while (!m_source->Done() && m_raceStartSys + m_source->NextOffsetMs() <= SystemMillis()) {
    m_source->Next(m_raceStartSys + m_clock.OffsetMillis(), m_item);
    StoreRead(m_item.payload.data(), m_item.payload.size());
    ++m_offlineReads;
    stored = true;
  }
  if (stored && m_dataFile != nullptr) {
    std::fflush(m_dataFile);
  }
}

void CBoxSimulator::CheckRaceDone() {
  if (m_raceDoneShown || !m_source || !m_source->Done() || !m_backlog.empty() ||
      m_unwrittenReads > 0 || !m_connected) {
    return;
  }
  m_raceDoneShown = true;
  Event("race done: sent %lld detections", static_cast<long long>(m_readsSent));
}

}  // namespace lapora::boxsim
