#include "resultslink/results_link.h"

#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "detections/recorded_detections.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "platform/socket_liveness.h"
#include "resources/messages_resultslink.h"

namespace lapora {

namespace {

// Catch-up: the send waits at most this long in one go, so that a stop is seen soon.
constexpr int kSendSliceMs = 100;
// Catch-up: how soon the writer looks again when detections wait for room on the socket.
constexpr int kFeedLookMs = 20;

void AppendAddKolClock(std::string& out, const CKolResult& record) {
  out.append("AddKolClock(1\t")
      .append(record.detectorLabel)
      .append("\t")
      .append(record.bibText)
      .append("\t1\t")
      .append(record.timeText)
      .append(")");
}

}  // namespace

CResultsLink::CResultsLink(EventQueue& events, Logger& log, CRecordedDetections* records)
    : m_events(events), m_log(log), m_records(records) {}

CResultsLink::~CResultsLink() {
  StopLink();
  JoinThread();
}

bool CResultsLink::StartLink(const std::string& host, int port, int retrySeconds,
                             int stallSeconds) {
  if (m_thread.joinable()) {
    bool finished = false;
    {
      std::lock_guard lock(m_waitMutex);
      finished = m_finished;
    }
    if (IsRunning() || (!finished && !m_stopRequested)) {
      return false;  // one link thread at a time; one ending a connection may make it again
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
  m_everStarted = true;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void CResultsLink::StopLink() {
  if (!m_thread.joinable()) {
    return;
  }
  m_stopRequested = true;
  Phase trying = Phase::kTrying;
  if (!m_phase.compare_exchange_strong(trying, Phase::kEnding)) {
    Phase retrying = Phase::kRetrying;
    m_phase.compare_exchange_strong(retrying, Phase::kEnding);
  }
  // Wakes a blocked read; a connection made after this point is closed by the thread itself.
  WakeReader();
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
  return phase == Phase::kTrying || phase == Phase::kConnected || phase == Phase::kRetrying;
}

bool CResultsLink::IsLinkConnected() const {
  return m_phase.load() == Phase::kConnected;
}

bool CResultsLink::IsLinkConnecting() const {
  Phase phase = m_phase.load();
  return phase == Phase::kTrying || phase == Phase::kRetrying;
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

bool CResultsLink::ConnectLoop() {
  while (!m_stopRequested) {
    PostState(kLinkConnecting);
    if (m_socket.Connect(m_host, m_port, kConnectTimeoutMs) == TcpConnectResult::kConnected) {
      return true;
    }
    PostState(kLinkNotConnected);
    if (!WaitBeforeRetry()) {
      break;
    }
  }
  return false;
}

void CResultsLink::Run() {
  pthread_setname_np(pthread_self(), "results link");
  while (true) {
    const bool connected = ConnectLoop();
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
      StopWriter();
      EndOfConnection(m_catchUp.load());
      Finish();
      return;
    }
    PostState(kLinkConnected);
    ReadLines();
    // Decided once: a stop from now on ends the retries instead.
    const bool catchUp = m_catchUp.load();
    const bool retry = catchUp && !m_stopRequested;
    m_phase = retry ? Phase::kRetrying : Phase::kEnding;
    StopWriter();
    EndOfConnection(catchUp);
    Phase retrying = Phase::kRetrying;
    if (!retry || !m_phase.compare_exchange_strong(retrying, Phase::kTrying)) {
      Finish();
      // Without catch-up a lost connection is not made again: the operator starts the link.
      PostState(kLinkNotConnected);
      return;
    }
    PostState(kLinkLostRetrying);
    if (!WaitBeforeRetry()) {
      Finish();
      return;
    }
  }
}

void CResultsLink::WakeReader() {
  // Shutting the reading side down ends a blocked receive and sends nothing to the peer.
  (void)m_socket.WithDescriptor([](int fd) { return static_cast<long>(::shutdown(fd, SHUT_RD)); });
}

void CResultsLink::EndOfConnection(bool keepUndelivered) {
  if (!keepUndelivered) {
    m_socket.Close();
    std::lock_guard lock(m_outMutex);
    m_inFlight.clear();
    return;
  }
  if (m_stopRequested) {
    // The peer is there and reads: let what is on its way arrive rather than send it twice.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopDrainMs);
    while (m_socket.WithDescriptor(UnsentByteCount) > 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // What the peer's system acknowledged has reached it; the rest is sent again. The count is
  // still right after the peer reset the connection; once the socket is gone it is not.
  const long inSocket = m_socket.WithDescriptor(UnsentByteCount);
  {
    std::lock_guard lock(m_outMutex);
    if (inSocket >= 0) {
      SettleLocked(m_handed - std::min(m_handed, static_cast<std::uint64_t>(inSocket)));
    }
    // In front of the backlog, newest first, so that record order is kept.
    for (auto it = m_inFlight.rbegin(); it != m_inFlight.rend(); ++it) {
      m_backlog.PushFront(RecordIdRun{it->id, it->id, 1});
    }
    m_inFlight.clear();
  }
  if (inSocket == 0) {
    m_socket.Close();  // everything arrived: an orderly close
  } else {
    // A reset: the system must not deliver after this what was counted as not received.
    m_socket.Abort();
  }
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
  m_queuedTotal += text.size() + 2;
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
    m_queuedTotal = 0;
    m_acknowledged = 0;
    m_unacknowledged = 0;
  }
  m_handed = 0;
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
  // How often the writer looks whether waiting data moves.
  const int tickMs = static_cast<int>(std::clamp<long long>(stall.count() / 5, 50, 1000));
  // Its longest wait in a send: short, so that the end of the connection is seen soon.
  const int sendWaitMs = std::min(tickMs, kSendSliceMs);

  std::string chunk;  // taken off the queue; chunk[sent..] not yet in the socket
  std::size_t sent = 0;
  std::uint64_t taken = 0;      // bytes the peer acknowledged, at the last look
  bool unacknowledged = false;  // at the last look the peer had not acknowledged everything
  bool waited = false;          // at the last look some data was waiting on the peer
  steady_clock::time_point lastMove = steady_clock::now();
  while (true) {
    {
      std::unique_lock lock(m_outMutex);
      SettleLocked(taken);
      if (sent == chunk.size()) {
        chunk.clear();
        sent = 0;
        auto ready = [this] {
          return m_outStop || !m_outQueue.empty() ||
                 (CanFeedLocked() && m_unacknowledged < kFeedAheadBytes);
        };
        m_writerIdle = !ready();
        if (unacknowledged) {
          // Data still waits on the peer: look again soon whether it moves (sooner when
          // detections wait for room).
          const int lookMs = CanFeedLocked() ? std::min(tickMs, kFeedLookMs) : tickMs;
          m_outReady.wait_for(lock, milliseconds(lookMs), ready);
        } else {
          m_outReady.wait(lock, ready);
        }
        m_writerIdle = false;
        if (!m_outStop && m_outQueue.empty() && CanFeedLocked() &&
            m_unacknowledged < kFeedAheadBytes) {
          FeedLocked(lock);
        }
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
      const long put = m_socket.WithDescriptor([&](int fd) {
        return SendWithin(fd, chunk.data() + sent, chunk.size() - sent, sendWaitMs);
      });
      if (put < 0 && !m_socket.IsOpen()) {
        return;  // closed by the end of the connection: nothing to report here
      }
      if (put < 0) {
        WriterFails(StrF(Tr(kMsgLinkSendFailed).c_str(), std::strerror(static_cast<int>(-put))));
        return;
      }
      sent += static_cast<std::size_t>(put);
      m_handed += static_cast<std::uint64_t>(put);
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
    {
      std::lock_guard lock(m_outMutex);
      m_unacknowledged = inSocket;
    }
    const bool waiting = unacknowledged || sent < chunk.size();
    const std::uint64_t nowTaken =
        m_handed - std::min(m_handed, static_cast<std::uint64_t>(inSocket));
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

void CResultsLink::SettleLocked(std::uint64_t acknowledged) {
  m_acknowledged = std::max(m_acknowledged, acknowledged);
  while (!m_inFlight.empty() && m_inFlight.front().end <= m_acknowledged) {
    m_inFlight.pop_front();
  }
}

bool CResultsLink::CanFeedLocked() const {
  return m_outAccepting && !m_backlog.Empty() && m_catchUp.load();
}

void CResultsLink::FeedLocked(std::unique_lock<std::mutex>& lock) {
  const RecordIdRun run = m_backlog.TakeFront(kFeedBatch);
  m_feeding = run.count;
  lock.unlock();
  std::string lines;
  std::vector<InFlight> requests;  // ends counted from the start of `lines`
  requests.reserve(run.count);
  m_records->WithLock([&](CRecordedDetections::Locked& locked) {
    const std::vector<CKolResult>& records = locked.Records();
    // Ids grow in list order: the run starts at the first record not older than its first id.
    auto it = std::partition_point(records.begin(), records.end(), [&](const CKolResult& r) {
      return RecordIdBefore(r.id, run.first);
    });
    for (; it != records.end() && !RecordIdBefore(run.last, it->id); ++it) {
      if (it->valid == 0) {
        continue;  // removed by the operator meanwhile: the results software never gets it
      }
      AppendAddKolClock(lines, *it);
      lines.append("\r\n");
      requests.push_back(InFlight{it->id, lines.size()});
    }
  });
  lock.lock();
  m_feeding = 0;
  if (m_outStop || !m_outAccepting) {
    m_backlog.PushFront(run);  // the connection ended meanwhile: the next one sends them
    return;
  }
  for (const InFlight& request : requests) {
    m_inFlight.push_back(InFlight{request.id, m_queuedTotal + request.end});
  }
  m_outQueue.append(lines);
  m_queuedTotal += lines.size();
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
  // The link thread ends the connection, once it has counted what the peer acknowledged.
  WakeReader();
}

void CResultsLink::PushDetection(const CKolResult& record) {
  if (m_catchUp.load() && m_everStarted.load()) {
    std::lock_guard lock(m_outMutex);
    if (m_backlog.Push(record.id) && m_writerIdle && CanFeedLocked()) {
      m_writerIdle = false;
      m_outReady.notify_one();
    }
    return;
  }
  if (!IsLinkConnected()) {
    return;
  }
  (void)SendLinkLine(AddKolClockRequest(record));
}

void CResultsLink::SetCatchUp(bool on) {
  const bool catchUp = on && m_records != nullptr;
  std::lock_guard lock(m_outMutex);
  if (!catchUp) {
    m_backlog.Clear();
  }
  m_catchUp = catchUp;
  if (catchUp && m_writerIdle && CanFeedLocked()) {
    m_writerIdle = false;
    m_outReady.notify_one();
  }
}

void CResultsLink::ForgetDetectionsUpTo(std::int32_t id) {
  std::lock_guard lock(m_outMutex);
  m_backlog.ForgetUpTo(id);
}

std::size_t CResultsLink::DetectionsToSend() const {
  std::lock_guard lock(m_outMutex);
  return m_backlog.Count() + m_feeding + m_inFlight.size();
}

std::string CResultsLink::AddKolClockRequest(const CKolResult& record) {
  std::string request;
  request.reserve(24 + record.detectorLabel.size() + record.bibText.size() +
                  record.timeText.size());
  AppendAddKolClock(request, record);
  return request;
}

}  // namespace lapora
