// CResultsLink: the direct connection to the results software. The link thread connects
// (retrying while wanted), reads reply lines and posts them with the link state to the main
// thread's EventQueue. Requests from any thread go into one outgoing queue, whole lines only,
// which the connection's writer thread sends in order, several lines per send under a burst,
// never blocking inside a send. A results software that vanished (keep-alive, unacknowledged
// data) or that takes none of the waiting data for the stall time is a lost connection.
// Thread-safety: StartLink/StopLink from one controlling thread (the main thread); SendLinkLine,
// PushDetection, IsLinkConnected and IsLinkConnecting from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "detections/detection_pusher.h"
#include "foundation/kol_result.h"
#include "platform/tcp_socket.h"

namespace lapora {

class EventQueue;
class Logger;

// The states carried by LinkStateEvent.
enum LinkState : int {
  kLinkConnecting = 1,    // a connection attempt starts
  kLinkConnected = 2,     // connected
  kLinkNotConnected = 3,  // an attempt failed, or the connection ended
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

  // events and log must outlive the link.
  CResultsLink(EventQueue& events, Logger& log);
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

  // Sends the detection's "AddKolClock" request when connected; does nothing otherwise.
  void PushDetection(const CKolResult& record) override;
  // "AddKolClock(1\t<label>\t<bib>\t1\t<time text>)".
  static std::string AddKolClockRequest(const CKolResult& record);

  // The values of the last start (defaults before the first one); controlling thread.
  const std::string& Host() const { return m_host; }
  int Port() const { return m_port; }
  int RetrySeconds() const { return m_retrySeconds; }
  int StallSeconds() const { return m_stallSeconds; }

 private:
  enum class Phase { kStopped, kTrying, kConnected, kEnding };

  void Run();
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

  // The outgoing queue of the current connection.
  std::mutex m_outMutex;               // guards the four fields below
  std::condition_variable m_outReady;  // the writer waits for lines or its stop
  std::condition_variable m_outRoom;   // callers wait for room or the end of the connection
  std::string m_outQueue;              // whole lines, each ending in CR LF
  bool m_outAccepting = false;         // the writer runs and the connection is usable
  bool m_outStop = false;
  bool m_writerIdle = false;
  std::thread m_writer;  // started and joined by the link thread
};

}  // namespace lapora
