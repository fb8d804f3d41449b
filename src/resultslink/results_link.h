// CResultsLink: the direct connection to the results software. The link thread connects
// (retrying while wanted), reads reply lines and posts them with the link state to the main
// thread's EventQueue. Requests from any thread go into one outgoing queue, whole lines only,
// which the connection's writer thread sends in order, several lines per send under a burst,
// never blocking inside a send. A results software that vanished (keep-alive, unacknowledged
// data) or that takes none of the waiting data for the stall time is a lost connection.
// With catch-up on, every detection offered once the link was first started is sent exactly once,
// in record order, from a cursor into the recorded detections (see PushDetection), and a lost
// connection is made again every retry interval. The protocol has no acknowledgement: a request
// counts as received once the peer's system acknowledged its last byte (the socket's count of
// unacknowledged bytes); the others go out again on the next connection, and a connection that
// ends with some unacknowledged is reset so that they never arrive late as well.
// Thread-safety: StartLink/StopLink/SetCatchUp/ForgetDetectionsUpTo from one controlling thread
// (the main thread); SendLinkLine, PushDetection, IsLinkConnected, IsLinkConnecting and
// DetectionsToSend from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "detections/detection_pusher.h"
#include "foundation/kol_result.h"
#include "platform/tcp_socket.h"
#include "resultslink/detection_backlog.h"

namespace lapora {

class CRecordedDetections;
class EventQueue;
class Logger;

// The states carried by LinkStateEvent.
enum LinkState : int {
  kLinkConnecting = 1,    // a connection attempt starts
  kLinkConnected = 2,     // connected
  kLinkNotConnected = 3,  // an attempt failed, or the connection ended
  kLinkLostRetrying = 4,  // the connection was lost; the link tries again (catch-up on)
};

class CResultsLink final : public DetectionPusher {
 public:
  static constexpr int kDefaultPort = 8283;
  static constexpr int kDefaultRetrySeconds = 10;
  static constexpr int kConnectTimeoutMs = 2000;
  // A results software that has taken none of the data waiting for it for this long is lost.
  static constexpr int kDefaultStallSeconds = 30;
  // Dead-peer detection: keep-alive probes after 10 s of silence, every 5 s, 3 unanswered ones
  // end the connection; so does data left unacknowledged for 30 s.
  // No caller of SendLinkLine waits longer than this for room in a full queue; then the
  // results software does not keep up and the connection ends (dropping a line instead would
  // leave a hole in the results unseen, and a stalled peer must not stall detection intake).
  static constexpr int kSendTimeoutMs = 500;
  // Bytes queued before callers wait for the writer.
  static constexpr std::size_t kMaxQueuedBytes = 1 << 20;
  // Longest received line passed on; the rest of a longer line is dropped.
  static constexpr std::size_t kMaxLineChars = 2047;
  // After a short read the link thread lets replies gather this long before reading again.
  static constexpr int kReadGatherMs = 1;
  // StopLink waits at most this long for the thread to end (it may be inside a connect).
  static constexpr int kStopWaitMs = 1000;
  // Catch-up: detections turned into requests at a time, and how much may wait unacknowledged
  // on the socket before more are taken from the records.
  static constexpr std::size_t kFeedBatch = 512;
  static constexpr long kFeedAheadBytes = 64 * 1024;
  // When the operator stops the link, the data already in the socket gets this long to be
  // acknowledged, so that it is not sent a second time on the next connection.
  static constexpr int kStopDrainMs = 300;

  // events and log (and records, when given) must outlive the link. Without records there is
  // no catch-up.
  CResultsLink(EventQueue& events, Logger& log, CRecordedDetections* records = nullptr);
  ~CResultsLink() override;
  CResultsLink(const CResultsLink&) = delete;
  CResultsLink& operator=(const CResultsLink&) = delete;

  // Starts the link thread with these values when none runs (a thread that was told to stop
  // is waited for first); returns true when a thread was started. A port outside 1..65535 is
  // logged and starts nothing; a retry interval or a stall time below 1 s counts as 1 s.
  bool StartLink(const std::string& host, int port, int retrySeconds,
                 int stallSeconds = kDefaultStallSeconds);
  // Ends the attempts, or closes the connection (the thread then posts state 3). Returns once
  // the thread ended, or after kStopWaitMs when it is still inside a connect attempt (it then
  // ends by itself without posting anything more).
  void StopLink();
  // True while a link thread exists and has not been told to stop or ended.
  bool IsRunning() const;

  // When connected: queues text + CR LF, whole and after every line queued before it, and
  // returns true; it goes out at once. False when not connected (nothing sent). Waits only
  // while kMaxQueuedBytes are already queued, at most kSendTimeoutMs, after which the
  // connection is ended as lost and false returned.
  bool SendLinkLine(const std::string& text);
  bool IsLinkConnected() const;
  // True while the link thread runs and tries to connect.
  bool IsLinkConnecting() const;

  // Catch-up off: sends the detection's "AddKolClock" request when connected, does nothing
  // otherwise. Catch-up on (once the link was first started): notes the record's id; the
  // connection sends it in its turn, skipped if it was removed or cleared by then.
  void PushDetection(const CKolResult& record) override;

  // Catch-up on or off (off when the link has no records). Turning it off drops what waits;
  // the lost-connection behaviour follows the value at the end of each connection.
  void SetCatchUp(bool on);
  bool CatchUp() const { return m_catchUp.load(); }
  // The recorded detections up to this id were cleared: they are no longer waited for.
  void ForgetDetectionsUpTo(std::int32_t id);
  // Detections offered and not known to have reached the results software: waiting, being
  // written, or sent and not acknowledged by its system yet. Removed ones count until the
  // connection skips them.
  std::size_t DetectionsToSend() const;
  // "AddKolClock(1\t<label>\t<bib>\t1\t<time text>)".
  static std::string AddKolClockRequest(const CKolResult& record);

  // The values of the last start (defaults before the first one); controlling thread.
  const std::string& Host() const { return m_host; }
  int Port() const { return m_port; }
  int RetrySeconds() const { return m_retrySeconds; }
  int StallSeconds() const { return m_stallSeconds; }

 private:
  // kRetrying: a lost connection is being ended, to be made again.
  enum class Phase { kStopped, kTrying, kConnected, kRetrying, kEnding };
  struct InFlight {
    std::int32_t id = 0;
    std::uint64_t end = 0;  // the connection's byte count after the request's line end
  };

  void Run();
  // Connects (posting the states); false when stopped first.
  bool ConnectLoop();
  // After the read loop: the writer stopped; with keepUndelivered the requests not known to be
  // acknowledged go back in front of the backlog and the socket is reset (nothing more of it
  // reaches the peer); otherwise it is closed.
  void EndOfConnection(bool keepUndelivered);
  // Wakes the link thread's read without releasing the socket, whose unacknowledged byte
  // count is still needed.
  void WakeReader();
  // REQUIRES: m_outMutex held. Drops the requests whose bytes the peer acknowledged.
  void SettleLocked(std::uint64_t acknowledged);
  bool CanFeedLocked() const;
  // REQUIRES: lock holds m_outMutex. Turns the next detections of the backlog into requests
  // at the end of the queue, reading the records without holding the lock.
  void FeedLocked(std::unique_lock<std::mutex>& lock);
  void ReadLines();
  void WriteLines();
  void StartWriter();
  void StopWriter();
  // The writer gives up: logs why (once), ends the connection and refuses further lines.
  void WriterFails(const std::string& logText);
  // The connection cannot go on (a send failed, the peer stalled or does not keep up). Logs
  // the text once, closes the socket (which ends the read loop: the link thread reports the
  // loss).
  void EndConnection(const std::string& logText);
  void PostState(int state);
  // Waits up to the retry interval; false when a stop was requested.
  bool WaitBeforeRetry();
  void Finish();
  void JoinThread();

  EventQueue& m_events;
  Logger& m_log;
  CRecordedDetections* m_records;
  std::atomic<bool> m_catchUp{false};
  std::atomic<bool> m_everStarted{false};  // detections are kept from the first start on

  // Set by StartLink before the thread starts; read by the thread only afterwards.
  std::string m_host = "localhost";
  int m_port = kDefaultPort;
  int m_retrySeconds = kDefaultRetrySeconds;
  int m_stallSeconds = kDefaultStallSeconds;

  std::thread m_thread;  // controlling thread only
  std::atomic<Phase> m_phase{Phase::kStopped};
  std::atomic<bool> m_stopRequested{false};

  std::mutex m_waitMutex;  // guards m_finished; with m_waitChanged for retry and end waits
  std::condition_variable m_waitChanged;
  bool m_finished = true;

  TcpSocket m_socket;  // the link thread reads; the writer writes; any thread may close it

  // The outgoing queue of the current connection, and the catch-up's bookkeeping.
  mutable std::mutex m_outMutex;       // guards the fields down to m_feeding
  std::condition_variable m_outReady;  // the writer waits for lines or its stop
  std::condition_variable m_outRoom;   // callers wait for room or the end of the connection
  std::string m_outQueue;              // whole lines, each ending in CR LF
  bool m_outAccepting = false;         // the writer runs and the connection is usable
  bool m_outStop = false;
  bool m_writerIdle = false;
  std::uint64_t m_queuedTotal = 0;   // bytes queued on this connection
  std::uint64_t m_acknowledged = 0;  // of those, acknowledged by the peer at the last look
  long m_unacknowledged = 0;         // bytes waiting on the socket at the last look
  CDetectionBacklog m_backlog;       // offered, not yet made into requests
  std::deque<InFlight> m_inFlight;   // requests queued or sent, not acknowledged yet
  std::size_t m_feeding = 0;         // ids taken from the backlog, being made into requests
  std::thread m_writer;              // started and joined by the link thread
  std::uint64_t m_handed = 0;        // bytes the socket took: writer, then the link thread
};

}  // namespace lapora
