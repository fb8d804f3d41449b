// The writer of the incoming-detections file. Lines queued in recording order are appended by
// group commit on two writer threads: a thread takes every line queued so far, writes them in
// one go and, when syncing, ends with fdatasync; only then are their records released (offered
// to the results link, shown). While one thread syncs, the other writes the next lines, so a
// line waits for at most one sync besides its own.
//
// A file that refuses its lines (it cannot be opened, the disk is full, an I/O error) raises one
// alert naming the file and the reason. The lines wait in memory, in order, and are tried again
// at the next line and every second; their records are released at once, so the race goes on in
// the window and at the results software while the operator mends the disk. When the file takes
// them again, a log line says how many caught up.
//
// Thread-safe. The Queue* calls come from any thread; the caller serialises them, which fixes
// the order of the lines. The writer threads call the release sinks with no lock of the writer
// held, one record at a time, in queue order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "foundation/kol_result.h"

namespace lapora {

class CAppendFile;
class Logger;
class RecordReleaseSink;
struct AppendFileFaults;

// What a stored record does once its line is in the incoming file. A value: it travels with the
// line to the writer thread.
struct RecordRelease {
  RecordReleaseSink* sink = nullptr;  // null: nothing to do
  bool refresh = false;               // ask the window to refresh the counter and box states
  bool showItem = false;              // show the record in the detections list, with itemText
  std::string itemText;
};

// Receives released records (the detection intake: it pushes them to the results link and posts
// them to the window). A sink removes itself (CRecordedDetections::RemoveReleaseSink) before it
// dies.
class RecordReleaseSink {
 public:
  virtual void ReleaseRecord(const CKolResult& record, const RecordRelease& release) = 0;

 protected:
  ~RecordReleaseSink() = default;
};

class CIncomingFileWriter {
 public:
  static constexpr std::chrono::milliseconds kRetryEvery{1000};

  // The log receives the alert, the open errors and the catch-up lines.
  explicit CIncomingFileWriter(Logger& log);
  // Stops the threads, makes a last attempt at what waits and writes to the log file how many
  // lines could not be written. Releases still waiting are dropped.
  ~CIncomingFileWriter();
  CIncomingFileWriter(const CIncomingFileWriter&) = delete;
  CIncomingFileWriter& operator=(const CIncomingFileWriter&) = delete;

  // fdatasync ends each group commit (the default) or not.
  void SetSync(bool sync) { m_sync.store(sync); }
  // Failures switched on by a test; null for none. Applies to the files opened afterwards.
  void SetFaults(const AppendFileFaults* faults) { m_faults.store(faults); }

  // Opens path for appending (closing the file open before), ahead of its first line.
  void QueueOpen(const std::string& path);
  // Closes the file once the lines queued before are in it.
  void QueueClose();
  // Appends line (whole, with its line end) to path's file. The release, when it has a sink,
  // runs with record once the line is in the file or was refused.
  void QueueLine(const std::string& path, std::string_view line, const CKolResult& record,
                 RecordRelease release);

  // Waits until everything queued before the call went through and the releases ran: true when
  // it is all in its files, false when the file refused some of it or the time ran out.
  bool Flush(std::chrono::milliseconds timeout);
  // After this returns, the sink is called no more.
  void RemoveSink(RecordReleaseSink* sink);

 private:
  struct Op {
    enum class Kind { kOpen, kLines, kClose };
    Kind kind = Kind::kLines;
    std::string path;                   // kOpen, kLines
    std::string bytes;                  // kLines: whole lines
    std::vector<std::size_t> lineEnds;  // kLines: the offset after each line
    std::uint64_t firstTicket = 0;      // the ticket of the op, or of its first line
    std::size_t done = 0;               // kLines: bytes the file holds already
    std::size_t linesDone = 0;          // kLines: whole lines the file holds already
    std::uint64_t LastTicket() const {
      return kind == Kind::kLines ? firstTicket + lineEnds.size() - 1 : firstTicket;
    }
  };
  struct PendingRelease {
    std::uint64_t ticket;
    CKolResult record;
    RecordRelease release;
  };
  // What one write step did.
  struct StepResult {
    std::uint64_t step = 0;
    std::uint64_t attemptedUpTo = 0;  // the last ticket the step took
    std::uint64_t doneUpTo = 0;       // every ticket up to this one went through (0: none)
    std::size_t linesWritten = 0;
    std::shared_ptr<CAppendFile> toSync;  // written to by the step: to be synced
    std::string toSyncPath;
    bool noFileLeft = false;  // the step ended with no file open
    bool failed = false;
    bool openFailed = false;
    bool syncFailed = false;  // the sync before a close failed
    std::string path;         // the file that failed, and why
    std::string reason;
  };

  void WriterThread();
  // REQUIRES: m_queueMutex is held.
  bool HasWorkLocked(std::chrono::steady_clock::time_point now) const;
  // wasEmpty: nothing was queued before this op.
  void WakeLocked(bool wasEmpty);
  // REQUIRES: this thread runs the write step (m_writing). Writes the backlog; stops at the
  // first failure.
  StepResult WriteBacklog(bool sync, bool syncPending);
  bool CloseCurrent(bool sync, StepResult* result);
  // After a step: the sync, the failure and recovery bookkeeping, the messages and the
  // releases. Takes m_queueMutex itself.
  void FinishStep(StepResult step, bool sync);
  void ReleaseUpTo(std::uint64_t ticket);

  Logger& m_log;
  std::atomic<bool> m_sync{true};
  std::atomic<const AppendFileFaults*> m_faults{nullptr};

  mutable std::mutex m_queueMutex;
  std::condition_variable m_work;      // writer threads wait for work
  std::condition_variable m_progress;  // Flush waits for the releases, a step for the one before
  // Guarded by m_queueMutex.
  std::deque<Op> m_ops;  // queued, not yet taken by a write step
  std::deque<PendingRelease> m_releases;
  std::uint64_t m_lastTicket = 0;
  std::uint64_t m_lastStep = 0;
  bool m_writing = false;  // a write step runs
  bool m_stop = false;
  int m_idle = 0;                   // writer threads waiting for work
  std::uint64_t m_committed = 0;    // every ticket up to this one is in its file
  std::uint64_t m_refusedUpTo = 0;  // tickets up to this one were tried and refused
  std::uint64_t m_releasedUpTo = 0;
  bool m_failing = false;
  bool m_retryNow = false;            // a line came in while failing: try at once
  bool m_syncPending = false;         // the last sync failed: the open file needs another
  std::uint64_t m_finishedStep = 0;   // the last step accounted (steps are, in their order)
  std::uint64_t m_caughtUpLines = 0;  // lines written since the failure began
  std::chrono::steady_clock::time_point m_nextRetry{};
  std::string m_failingPath;  // the file named by the alert

  // Writer state: touched by the thread that runs the write step only (m_writing set under
  // m_queueMutex), and by the destructor once the threads are joined.
  std::deque<Op> m_backlog;
  std::shared_ptr<CAppendFile> m_file;
  std::string m_openPath;

  // Held while releases run: keeps them in order and lets RemoveSink wait for them.
  std::mutex m_releaseMutex;

  std::vector<std::thread> m_threads;
};

}  // namespace lapora
