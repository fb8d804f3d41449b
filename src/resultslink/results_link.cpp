#include "resultslink/results_link.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <utility>

#include "foundation/events.h"
#include "foundation/log.h"
#include "platform/socket_liveness.h"
#include "resources/messages_resultslink.h"

namespace lapora {

CResultsLink::CResultsLink(EventQueue& events, Logger& log) : m_events(events), m_log(log) {}

CResultsLink::~CResultsLink() {
  StopLink();
  JoinThread();
}

bool CResultsLink::StartLink(const std::string& host, int port, int retrySeconds,
                             int stallSeconds) {
  if (m_thread.joinable()) {
    if (IsRunning()) {
      return false;  // one link thread at a time
    }
    JoinThread();  // a thread told to stop may still be inside its last connect attempt
  }
  if (port < 1 || port > 65535) {
    m_log.PostLog(0, StrF(Tr(kMsgLinkBadPort).c_str(), port));
    return false;
  }
  m_host = host;
  m_port = port;
  // Without a pause a refused connection would be retried in a tight loop.
  m_retrySeconds = retrySeconds < 1 ? 1 : retrySeconds;
  m_stallSeconds = stallSeconds < 1 ? 1 : stallSeconds;
  m_stopRequested = false;
  {
    std::lock_guard lock(m_waitMutex);
    m_finished = false;
  }
  m_phase = Phase::kTrying;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void CResultsLink::StopLink() {
  if (!m_thread.joinable()) {
    return;
  }
  m_stopRequested = true;
  Phase trying = Phase::kTrying;
  m_phase.compare_exchange_strong(trying, Phase::kEnding);
  // Wakes a blocked read; a connection made after this point is closed by the thread itself.
  m_socket.Close();
  std::unique_lock lock(m_waitMutex);
  m_waitChanged.notify_all();
  if (m_waitChanged.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                             [this] { return m_finished; })) {
    lock.unlock();
    JoinThread();
  }
}

bool CResultsLink::IsRunning() const {
  Phase phase = m_phase.load();
  return phase == Phase::kTrying || phase == Phase::kConnected;
}

bool CResultsLink::IsLinkConnected() const {
  return m_phase.load() == Phase::kConnected;
}

bool CResultsLink::IsLinkConnecting() const {
  return m_phase.load() == Phase::kTrying;
}

void CResultsLink::JoinThread() {
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

void CResultsLink::PostState(int state) {
  m_events.Post(LinkStateEvent{state});
}

bool CResultsLink::WaitBeforeRetry() {
  std::unique_lock lock(m_waitMutex);
  return !m_waitChanged.wait_for(lock, std::chrono::seconds(m_retrySeconds),
                                 [this] { return m_stopRequested.load(); });
}

void CResultsLink::Finish() {
  m_phase = Phase::kStopped;
  std::lock_guard lock(m_waitMutex);
  m_finished = true;
  m_waitChanged.notify_all();
}

void CResultsLink::Run() {
  pthread_setname_np(pthread_self(), "results link");
  bool connected = false;
  while (!m_stopRequested) {
    PostState(kLinkConnecting);
    if (m_socket.Connect(m_host, m_port, kConnectTimeoutMs) == TcpConnectResult::kConnected) {
      connected = true;
      break;
    }
    PostState(kLinkNotConnected);
    if (!WaitBeforeRetry()) {
      break;
    }
  }
  if (connected) {
    std::string error;
    if (!m_socket.EnableDeadPeerDetection(DeadPeerTimes{}, &error) && !error.empty()) {
      m_log.PostLog(0, StrF(Tr(kMsgLinkNoKeepAlive).c_str(), error.c_str()));
    }
    StartWriter();  // before the phase says connected, so that no request is refused
  }
  Phase trying = Phase::kTrying;
  if (!connected || m_stopRequested ||
      !m_phase.compare_exchange_strong(trying, Phase::kConnected)) {
    // Stopped while trying (perhaps just as an attempt succeeded): end without a word more.
    m_socket.Close();
    StopWriter();
    Finish();
    return;
  }
  PostState(kLinkConnected);
  ReadLines();
  m_phase = Phase::kEnding;
  // Closing first wakes a writer blocked on a peer that stopped reading.
  m_socket.Close();
  StopWriter();
  Finish();
  // The connection is never re-made: the operator starts the link again.
  PostState(kLinkNotConnected);
}

void CResultsLink::ReadLines() {
  std::string line;
  bool overlong = false;
  char buffer[4096];
  while (true) {
    long got = m_socket.Receive(buffer, sizeof buffer);
    if (got <= 0) {
      return;  // closed by the peer, by StopLink or by a failed send, or an error
    }
    for (long i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c != '\n') {
        if (line.size() < kMaxLineChars) {
          line.push_back(c);
        } else {
          overlong = true;
        }
        continue;
      }
      if (overlong) {
        m_log.PostLog(0, StrF(Tr(kMsgLinkLineTooLong).c_str(), static_cast<int>(kMaxLineChars)));
        overlong = false;
      }
      while (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      // A line of nothing but a line end (or carriage returns) carries nothing to decode.
      if (!line.empty()) {
        m_events.Post(LinkLineEvent{std::move(line)});
      }
      line.clear();
    }
    if (static_cast<std::size_t>(got) < sizeof buffer / 2 && !m_stopRequested) {
      // Replies come one per detection; under a burst, letting them gather for a moment
      // reads dozens per call instead of waking this thread for each one. A reply is only
      // shown, so a millisecond more does not matter; the requests are not delayed.
      std::this_thread::sleep_for(std::chrono::milliseconds(kReadGatherMs));
    }
  }
}

bool CResultsLink::SendLinkLine(const std::string& text) {
  if (!IsLinkConnected()) {
    return false;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
  std::unique_lock lock(m_outMutex);
  // A line longer than the whole queue still goes in once the queue is empty.
  while (m_outAccepting && !m_outQueue.empty() &&
         m_outQueue.size() + text.size() + 2 > kMaxQueuedBytes) {
    if (m_outRoom.wait_until(lock, deadline) == std::cv_status::timeout && m_outAccepting &&
        !m_outQueue.empty() && m_outQueue.size() + text.size() + 2 > kMaxQueuedBytes) {
      const int waiting = static_cast<int>(m_outQueue.size());
      lock.unlock();
      EndConnection(StrF(Tr(kMsgLinkBacklog).c_str(), waiting));
      return false;
    }
  }
  if (!m_outAccepting) {
    return false;
  }
  m_outQueue.append(text).append("\r\n");
  if (m_writerIdle) {
    m_writerIdle = false;
    m_outReady.notify_one();
  }
  return true;
}

void CResultsLink::StartWriter() {
  {
    std::lock_guard lock(m_outMutex);
    m_outQueue.clear();
    m_outAccepting = true;
    m_outStop = false;
    m_writerIdle = false;
  }
  m_writer = std::thread([this] { WriteLines(); });
}

void CResultsLink::StopWriter() {
  {
    std::lock_guard lock(m_outMutex);
    m_outAccepting = false;
    m_outStop = true;
    m_outQueue.clear();
  }
  m_outReady.notify_all();
  m_outRoom.notify_all();
  if (m_writer.joinable()) {
    m_writer.join();
  }
}

void CResultsLink::WriteLines() {
  pthread_setname_np(pthread_self(), "results writer");
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  const milliseconds stall = std::chrono::seconds(m_stallSeconds);
  // How often the writer looks whether waiting data moves, and its longest wait in a send.
  const int tickMs = static_cast<int>(std::clamp<long long>(stall.count() / 5, 50, 1000));

  std::string chunk;  // taken off the queue; chunk[sent..] not yet in the socket
  std::size_t sent = 0;
  std::uint64_t handed = 0;     // bytes the socket took, this connection
  std::uint64_t taken = 0;      // of those, bytes the peer acknowledged, at the last look
  bool unacknowledged = false;  // at the last look the peer had not acknowledged everything
  bool waited = false;          // at the last look some data was waiting on the peer
  steady_clock::time_point lastMove = steady_clock::now();
  while (true) {
    {
      std::unique_lock lock(m_outMutex);
      if (sent == chunk.size()) {
        chunk.clear();
        sent = 0;
        auto ready = [this] { return m_outStop || !m_outQueue.empty(); };
        m_writerIdle = !ready();
        if (unacknowledged) {
          // Data still waits on the peer: look again soon whether it moves.
          m_outReady.wait_for(lock, milliseconds(tickMs), ready);
        } else {
          m_outReady.wait(lock, ready);
        }
        m_writerIdle = false;
        // Everything queued goes out in one go: under a burst one send carries many lines.
        chunk.swap(m_outQueue);
        if (!chunk.empty()) {
          m_outRoom.notify_all();
        }
      }
      if (m_outStop) {
        return;
      }
    }
    if (sent < chunk.size()) {
      const long put = m_socket.WithDescriptor(
          [&](int fd) { return SendWithin(fd, chunk.data() + sent, chunk.size() - sent, tickMs); });
      if (put < 0 && !m_socket.IsOpen()) {
        return;  // closed by a stop or by the end of the connection: nothing to report here
      }
      if (put < 0) {
        WriterFails(StrF(Tr(kMsgLinkSendFailed).c_str(), std::strerror(static_cast<int>(-put))));
        return;
      }
      sent += static_cast<std::size_t>(put);
      handed += static_cast<std::uint64_t>(put);
    }
    // The peer takes data when its acknowledgements move; new data handed meanwhile does not
    // count. Nothing waiting (neither here nor in the socket) is no stall, and the stall time
    // counts from the first look that finds data waiting, however long the link was idle.
    const long inSocket = m_socket.WithDescriptor(UnsentByteCount);
    if (inSocket < 0) {
      unacknowledged = false;  // closed: the link thread stops this writer
      continue;
    }
    unacknowledged = inSocket > 0;
    const bool waiting = unacknowledged || sent < chunk.size();
    const std::uint64_t nowTaken = handed - std::min(handed, static_cast<std::uint64_t>(inSocket));
    const steady_clock::time_point now = steady_clock::now();
    const bool waitedBefore = waited;
    waited = waiting;
    if (nowTaken != taken || !waiting || !waitedBefore) {
      taken = nowTaken;
      lastMove = now;
    } else if (now - lastMove >= stall) {
      WriterFails(StrF(Tr(kMsgLinkStalled).c_str(), m_stallSeconds));
      return;
    }
  }
}

void CResultsLink::WriterFails(const std::string& logText) {
  EndConnection(logText);
  std::lock_guard lock(m_outMutex);
  m_outAccepting = false;
  m_outQueue.clear();
  m_outRoom.notify_all();
}

void CResultsLink::EndConnection(const std::string& logText) {
  Phase connectedPhase = Phase::kConnected;
  if (m_phase.compare_exchange_strong(connectedPhase, Phase::kEnding)) {
    m_log.PostLog(0, logText);
  }
  m_socket.Close();
}

void CResultsLink::PushDetection(const CKolResult& record) {
  if (!IsLinkConnected()) {
    return;
  }
  (void)SendLinkLine(AddKolClockRequest(record));
}

std::string CResultsLink::AddKolClockRequest(const CKolResult& record) {
  std::string request;
  request.reserve(24 + record.detectorLabel.size() + record.bibText.size() +
                  record.timeText.size());
  request.append("AddKolClock(1\t")
      .append(record.detectorLabel)
      .append("\t")
      .append(record.bibText)
      .append("\t1\t")
      .append(record.timeText)
      .append(")");
  return request;
}

}  // namespace lapora
