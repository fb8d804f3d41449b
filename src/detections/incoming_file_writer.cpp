#include "detections/incoming_file_writer.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/append_file.h"
#include "resources/messages_detections.h"

namespace lapora {

namespace {

// Two: while one syncs, the other writes and syncs the lines that came meanwhile. One thread
// makes a line wait for the sync in progress and then its own; more gave nothing measurable.
constexpr int kWriterThreads = 2;

// The number of whole lines within the first `bytes` bytes, given the end of each line.
std::size_t LinesWithin(const std::vector<std::size_t>& lineEnds, std::size_t bytes) {
  return static_cast<std::size_t>(std::upper_bound(lineEnds.begin(), lineEnds.end(), bytes) -
                                  lineEnds.begin());
}

}  // namespace

CIncomingFileWriter::CIncomingFileWriter(Logger& log) : m_log(log) {
  for (int i = 0; i < kWriterThreads; ++i) {
    m_threads.emplace_back([this] { WriterThread(); });
  }
}

CIncomingFileWriter::~CIncomingFileWriter() {
  {
    std::lock_guard lock(m_queueMutex);
    m_stop = true;
  }
  m_work.notify_all();
  for (std::thread& thread : m_threads) {
    thread.join();
  }
  // The threads are gone: this thread runs the last write step.
  {
    std::lock_guard lock(m_queueMutex);
    for (Op& op : m_ops) {
      m_backlog.push_back(std::move(op));
    }
    m_ops.clear();
  }
  const bool sync = m_sync.load();
  StepResult last = WriteBacklog(sync, m_syncPending);
  std::string syncError;
  if (sync && last.toSync != nullptr && !last.toSync->SyncData(&syncError) && !last.failed) {
    last.failed = true;
    last.path = m_openPath;
    last.reason = syncError;
  }
  std::size_t lost = 0;
  for (const Op& op : m_backlog) {
    if (op.kind == Op::Kind::kLines) {
      lost += op.lineEnds.size() - op.linesDone;
    }
  }
  if (lost > 0) {
    // Nobody is left to show an alert: the log file and the standard error keep the trace.
    std::string text = StrF(Tr(kMsgDetectionLinesLost).c_str(), static_cast<unsigned long>(lost),
                            last.path.c_str(), last.reason.c_str());
    m_log.WriteLogText(text);
    std::fprintf(stderr, "%s\n", Cp1252ToUtf8(text).c_str());
  }
  m_file.reset();
}

void CIncomingFileWriter::QueueOpen(const std::string& path) {
  std::lock_guard lock(m_queueMutex);
  const bool wasEmpty = m_ops.empty();
  Op& op = m_ops.emplace_back();
  op.kind = Op::Kind::kOpen;
  op.path = path;
  op.firstTicket = ++m_lastTicket;
  WakeLocked(wasEmpty);
}

void CIncomingFileWriter::QueueClose() {
  std::lock_guard lock(m_queueMutex);
  const bool wasEmpty = m_ops.empty();
  Op& op = m_ops.emplace_back();
  op.kind = Op::Kind::kClose;
  op.firstTicket = ++m_lastTicket;
  WakeLocked(wasEmpty);
}

void CIncomingFileWriter::QueueLine(const std::string& path, std::string_view line,
                                    const CKolResult& record, RecordRelease release) {
  std::lock_guard lock(m_queueMutex);
  const bool wasEmpty = m_ops.empty();
  std::uint64_t ticket = ++m_lastTicket;
  if (m_ops.empty() || m_ops.back().kind != Op::Kind::kLines || m_ops.back().path != path) {
    Op& op = m_ops.emplace_back();
    op.kind = Op::Kind::kLines;
    op.path = path;
    op.firstTicket = ticket;
  }
  Op& op = m_ops.back();
  op.bytes.append(line);
  op.lineEnds.push_back(op.bytes.size());
  if (release.sink != nullptr) {
    m_releases.push_back(PendingRelease{ticket, record, std::move(release)});
  }
  WakeLocked(wasEmpty);
}

void CIncomingFileWriter::WakeLocked(bool wasEmpty) {
  if (m_failing && !m_retryNow) {
    m_retryNow = true;  // a new line is the occasion to try again
    wasEmpty = true;
  }
  // Only the first line of a batch wakes a thread: the lines that follow while it wakes up go
  // with it. A thread in its write step takes the new work when it is done.
  if (wasEmpty && m_idle > 0 && !m_writing) {
    m_work.notify_one();
  }
}

bool CIncomingFileWriter::HasWorkLocked(std::chrono::steady_clock::time_point now) const {
  if (m_writing) {
    return false;
  }
  if (m_ops.empty() && m_backlog.empty() && !m_syncPending) {
    return false;
  }
  return !m_failing || m_retryNow || now >= m_nextRetry;
}

void CIncomingFileWriter::WriterThread() {
  (void)pthread_setname_np(pthread_self(), "incoming file");
  std::unique_lock lock(m_queueMutex);
  for (;;) {
    if (!HasWorkLocked(std::chrono::steady_clock::now())) {
      if (m_stop) {
        return;
      }
      ++m_idle;
      // While the other thread writes, it handles the retries when it is done.
      if (m_failing && !m_writing) {
        m_work.wait_until(lock, m_nextRetry);
      } else {
        m_work.wait(lock);
      }
      --m_idle;
      continue;
    }
    m_writing = true;
    m_retryNow = false;
    const std::uint64_t step = ++m_lastStep;
    for (Op& op : m_ops) {
      m_backlog.push_back(std::move(op));
    }
    m_ops.clear();
    const bool sync = m_sync.load();
    const bool syncPending = m_syncPending;
    lock.unlock();

    StepResult result = WriteBacklog(sync, syncPending);
    result.step = step;

    lock.lock();
    m_writing = false;
    // Lines queued during the step go to the other thread while this one syncs. Without a
    // sync this thread is back at once: handing over would only cost a wake-up.
    if (sync && m_idle > 0 && !m_ops.empty()) {
      m_work.notify_one();
    }
    lock.unlock();
    FinishStep(std::move(result), sync);
    lock.lock();
  }
}

CIncomingFileWriter::StepResult CIncomingFileWriter::WriteBacklog(bool sync, bool syncPending) {
  StepResult result;
  if (!m_backlog.empty()) {
    result.attemptedUpTo = m_backlog.back().LastTicket();
  }
  if (sync && syncPending && m_file != nullptr) {
    result.toSync = m_file;  // the sync that failed last time
    result.toSyncPath = m_openPath;
  }
  const AppendFileFaults* faults = m_faults.load();
  while (!m_backlog.empty()) {
    Op& op = m_backlog.front();
    if (op.kind == Op::Kind::kClose) {
      if (m_file != nullptr && !CloseCurrent(sync, &result)) {
        return result;
      }
      result.doneUpTo = op.firstTicket;
      m_backlog.pop_front();
      continue;
    }
    if (m_file == nullptr || m_openPath != op.path) {
      if (m_file != nullptr && !CloseCurrent(sync, &result)) {
        return result;
      }
      std::string error;
      std::unique_ptr<CAppendFile> file = CAppendFile::Open(op.path, &error, faults);
      if (file == nullptr) {
        result.failed = true;
        result.openFailed = true;
        result.path = op.path;
        result.reason = error;
        return result;
      }
      m_file = std::move(file);
      m_openPath = op.path;
    }
    while (op.done < op.bytes.size()) {
      std::string error;
      long written = m_file->Write(std::string_view(op.bytes).substr(op.done), &error);
      if (written < 0) {
        result.failed = true;
        result.path = op.path;
        result.reason = error;
        return result;
      }
      op.done += static_cast<std::size_t>(written);
      const bool shortWrite = op.done < op.bytes.size();
      if (shortWrite) {
        // The device is full: the file keeps whole lines only while the rest waits, so that
        // neither a crash nor a reader meets half a line. (When the cut fails, the rest of the
        // line follows from where it stopped.)
        std::size_t lines = LinesWithin(op.lineEnds, op.done);
        std::size_t whole = lines > 0 ? op.lineEnds[lines - 1] : 0;
        std::string ignored;
        if (whole < op.done && m_file->Truncate(m_file->Size() - (op.done - whole), &ignored)) {
          op.done = whole;
        }
      }
      std::size_t lines = LinesWithin(op.lineEnds, op.done);
      if (lines > op.linesDone) {
        result.linesWritten += lines - op.linesDone;
        op.linesDone = lines;
        result.doneUpTo = op.firstTicket + lines - 1;
        result.toSync = m_file;
        result.toSyncPath = m_openPath;
      }
      if (shortWrite) {
        // Trying again at once would write into the room the cut has just freed, and cut again.
        result.failed = true;
        result.path = op.path;
        result.reason = error;
        return result;
      }
    }
    result.doneUpTo = op.LastTicket();
    m_backlog.pop_front();
  }
  result.noFileLeft = m_file == nullptr;
  return result;
}

bool CIncomingFileWriter::CloseCurrent(bool sync, StepResult* result) {
  std::string error;
  if (sync && !m_file->SyncData(&error)) {
    result->failed = true;
    result->syncFailed = true;
    result->path = m_openPath;
    result->reason = error;
    return false;
  }
  if (result->toSync == m_file) {
    result->toSync.reset();  // synced just now
  }
  m_file.reset();  // a sync running on another thread keeps it open until it ends
  m_openPath.clear();
  return true;
}

void CIncomingFileWriter::FinishStep(StepResult step, bool sync) {
  bool synced = !step.syncFailed;
  if (sync && synced && step.toSync != nullptr) {
    std::string error;
    synced = step.toSync->SyncData(&error);
    if (!synced && !step.failed) {
      step.failed = true;
      step.path = step.toSyncPath;
      step.reason = error;
    }
  }
  std::string alert;
  std::string openError;
  std::string resumed;
  bool retryAsked = false;
  std::uint64_t bound;
  {
    // The steps are accounted in their order, whichever sync ended first: a later step's sync
    // covers the earlier step's lines of the same file anyway.
    std::unique_lock lock(m_queueMutex);
    m_progress.wait(lock, [&] { return m_finishedStep + 1 == step.step; });
    m_finishedStep = step.step;
    // Lines whose sync failed are in the page cache, not known to be on the disk: they are not
    // counted as in the file; the next sync that succeeds covers them.
    if (synced) {
      m_committed = std::max(m_committed, step.doneUpTo);
      if (step.toSync != nullptr || step.noFileLeft || !sync) {
        m_syncPending = false;
      }
    } else {
      m_syncPending = true;
    }
    if (step.failed) {
      if (!m_failing) {
        m_failing = true;
        // Lines written but not synced wait too: they catch up with the next good sync.
        m_caughtUpLines = synced ? 0 : step.linesWritten;
        m_failingPath = step.path;
        alert = StrF(Tr(kMsgDetectionFileRefused).c_str(), step.path.c_str(), step.reason.c_str());
        if (step.openFailed) {
          openError = StrF(Tr(kMsgErrorOpeningDetectionFile).c_str(), step.path.c_str());
        }
      } else {
        m_caughtUpLines += step.linesWritten;
      }
      m_nextRetry = std::chrono::steady_clock::now() + kRetryEvery;
      m_refusedUpTo = std::max(m_refusedUpTo, step.attemptedUpTo);
      // Lines that came in during this step had no failure to wake a retry yet.
      if (!m_ops.empty()) {
        m_retryNow = true;
        retryAsked = true;
      }
    } else if (m_failing) {
      m_caughtUpLines += step.linesWritten;
      m_failing = false;
      resumed = StrF(Tr(kMsgDetectionFileResumed).c_str(), m_failingPath.c_str(),
                     static_cast<unsigned long>(m_caughtUpLines));
    }
    bound = std::max(m_committed, m_refusedUpTo);
  }
  m_progress.notify_all();  // the next step's accounting may go
  if (retryAsked) {
    m_work.notify_one();
  }
  // The operator hears of the refusal before the records it holds back go on.
  if (!openError.empty()) {
    m_log.PostLog(0, openError);
  }
  if (!alert.empty()) {
    m_log.PostAlert(alert, true);
  }
  if (!resumed.empty()) {
    m_log.PostLog(0, resumed);
  }
  ReleaseUpTo(bound);
}

void CIncomingFileWriter::ReleaseUpTo(std::uint64_t ticket) {
  {
    std::lock_guard releasing(m_releaseMutex);
    std::vector<PendingRelease> batch;
    {
      std::lock_guard lock(m_queueMutex);
      while (!m_releases.empty() && m_releases.front().ticket <= ticket) {
        batch.push_back(std::move(m_releases.front()));
        m_releases.pop_front();
      }
    }
    for (const PendingRelease& pending : batch) {
      if (pending.release.sink != nullptr) {
        pending.release.sink->ReleaseRecord(pending.record, pending.release);
      }
    }
    std::lock_guard lock(m_queueMutex);
    m_releasedUpTo = std::max(m_releasedUpTo, ticket);
  }
  m_progress.notify_all();
}

bool CIncomingFileWriter::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_queueMutex);
  const std::uint64_t target = m_lastTicket;
  m_progress.wait_for(lock, timeout, [&] { return m_releasedUpTo >= target; });
  return m_committed >= target;
}

void CIncomingFileWriter::RemoveSink(RecordReleaseSink* sink) {
  std::lock_guard releasing(m_releaseMutex);
  std::lock_guard lock(m_queueMutex);
  for (PendingRelease& pending : m_releases) {
    if (pending.release.sink == sink) {
      pending.release.sink = nullptr;
    }
  }
}

}  // namespace lapora
