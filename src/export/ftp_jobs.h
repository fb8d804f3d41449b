// FTP upload jobs and the one worker thread that runs them one at a time, in queue order except
// that a server that could not be reached is left alone for a while (its back-off) and the jobs
// of the other servers go on meanwhile. A job that failed that way (no connection, no answer in
// time, a 4xx reply) waits for its server's next try; any other failure ends the job. A queued
// job for the same server and remote name as a job still waiting takes that job's place (the
// newer file wins), and the queue is bounded. Any thread may queue jobs; StopFtpJobs and the
// destructor are for the thread that dispatches the event queue (the main thread). A job's
// progress goes to that thread as FtpJobStatusEvent, sent and waited for; the back-off and the
// jobs dropped from a full queue go there as log lines.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ftp_client.h"

namespace lapora {

class EventQueue;
class SettingsStore;
struct CFtpServer;

// The settings of the server used by a job that is given none.
inline constexpr char kFtpSettingsSection[] = "FtpSettings";

struct CFtpJob {
  static constexpr int kKindUpload = 1;
  static constexpr int kStatusStarted = 1;
  static constexpr int kStatusTransferring = 2;
  static constexpr int kStatusDone = 3;
  static constexpr int kStatusError = 6;

  std::string localPath;   // file to send
  std::string remoteName;  // its name on the server
  int binary = 0;          // 1 once the local path is set: the file is read in binary
  std::string label;       // carried for information only
  std::string site;
  std::string user;
  std::string password;
  std::string directory;
  std::string errorText;  // empty, or the reason of the failure
  int status = 0;
  int kind = kKindUpload;
  int passive = 1;

  // Replaces the five server fields.
  void SetServer(const CFtpServer& server);
  void SetLocalPath(const std::string& path);
  void SetRemoteName(const std::string& name);
};

// A new upload job: site, user, password and directory from [FtpSettings] (Site, User,
// Password, Directory; empty by default), passive mode from BPutInPassiveMode (default 1).
CFtpJob MakeFtpUploadJob(const SettingsStore& store);

struct FtpWorkerOptions {
  int port = kFtpDefaultPort;  // the servers' FTP port (tests use their own server's)
  // Waiting jobs at most. One export of 4 detectors x 50 passages to 4 servers fits whole; when
  // full, the oldest waiting job gives way to the new one.
  std::size_t maxQueuedJobs = 1024;
  // The wait before a server that could not be reached is tried again: the first, doubled at
  // each failure in a row up to the last.
  std::chrono::milliseconds firstBackoff{std::chrono::seconds(5)};
  std::chrono::milliseconds maxBackoff{std::chrono::minutes(5)};
  long connectTimeoutSeconds = CFtpClient::kDefaultConnectTimeoutSeconds;
  long responseTimeoutSeconds = CFtpClient::kDefaultResponseTimeoutSeconds;
  // How long StopFtpJobs lets an upload whose data flows go on before it aborts it.
  std::chrono::milliseconds stopGrace{std::chrono::seconds(10)};
};

class CFtpWorker {
 public:
  // Waits of the worker when the queue is empty, and of StopFtpJobs while a job runs.
  static constexpr std::chrono::milliseconds kIdleWait{1000};
  static constexpr std::chrono::milliseconds kStopStep{200};

  explicit CFtpWorker(EventQueue& events, int port = kFtpDefaultPort);
  CFtpWorker(EventQueue& events, FtpWorkerOptions options);
  // Shutdown() without a pump. REQUIRES: when called on the thread that dispatches the event
  // queue, no notification is on its way (the owner ran StopFtpJobs or Shutdown with a pump).
  ~CFtpWorker();
  CFtpWorker(const CFtpWorker&) = delete;
  CFtpWorker& operator=(const CFtpWorker&) = delete;

  // Starts the worker thread (once; later calls do nothing). Jobs queued before wait for it.
  void Start();
  // Queues the job; the queue owns it from then on. A waiting job for the same server (site,
  // user, folder) and remote name is replaced in its place; otherwise the job goes last, and
  // when the queue is full the oldest waiting job is dropped, with a log line. Any thread.
  void QueueFtpJob(std::unique_ptr<CFtpJob> job);

  // At program exit: drops the queued jobs, then, while a job runs, sets the quiet flag (no
  // more notifications, for good) and waits in steps of kStopStep until the job has ended. An
  // upload that has not reached its data yet (connecting, or waiting for a server that does
  // not answer) is aborted at once; one whose data flows gets stopGrace to end. pump is called
  // between the steps while a notification is already on its way to the calling thread, so
  // that it is handled and the job can end; the caller must pass one when it is the thread that
  // dispatches the event queue.
  void StopFtpJobs(const std::function<void()>& pump = {});
  // Ends the worker thread: drops the queued jobs, silences the notifications, aborts a running
  // upload and joins. pump as for StopFtpJobs. Harmless when the thread never started.
  void Shutdown(const std::function<void()>& pump = {});

  bool IsBusy() const;
  std::size_t QueuedJobs() const;
  // The site is in back-off: its jobs wait while the others run.
  bool InBackoff(const std::string& site) const;

 private:
  using SteadyClock = std::chrono::steady_clock;
  enum class UploadEnd { kDone, kFailed, kServerUnavailable };
  struct Backoff {
    std::chrono::milliseconds delay{0};
    SteadyClock::time_point retryAt;
  };

  void Run();
  UploadEnd RunUpload(CFtpJob& job);
  void NotifyJobStatus(const CFtpJob& job);
  void PostLog(std::string text);
  // REQUIRES: m_queueMutex held. The first waiting job whose site is not in back-off at now,
  // or end(); *nextRetry gets the earliest end of a back-off that holds jobs back.
  std::deque<std::unique_ptr<CFtpJob>>::iterator NextJob(SteadyClock::time_point now,
                                                         SteadyClock::time_point* nextRetry);
  // REQUIRES: m_queueMutex held. A waiting job for the same remote file as job.
  bool HasWaitingFor(const CFtpJob& job) const;
  // REQUIRES: m_queueMutex held. Lengthens the site's back-off; returns the wait.
  std::chrono::milliseconds BackOff(const std::string& site);
  // Waits until done() holds (checked under m_queueMutex), pumping between kStopStep waits;
  // onStep runs under m_queueMutex at every step.
  void WaitWithPump(const std::function<bool()>& done, const std::function<void()>& pump,
                    const std::function<void()>& onStep = {});

  EventQueue& m_events;
  const FtpWorkerOptions m_options;

  // Guards m_queue, m_backoff, m_busy, m_stop, m_ended, m_queued and m_drops.
  mutable std::mutex m_queueMutex;
  std::condition_variable m_wake;  // a job was queued, or the worker must stop
  std::condition_variable m_idle;  // a job ended, or the thread ended
  std::deque<std::unique_ptr<CFtpJob>> m_queue;
  std::map<std::string, Backoff> m_backoff;  // by site; gone once an upload there succeeds
  bool m_busy = false;  // set with the removal of a job from the queue, so never unseen
  bool m_stop = false;
  bool m_ended = false;
  std::uint64_t m_queued = 0;  // counts the jobs queued: the worker wakes when it moves
  std::uint64_t m_drops = 0;   // counts the drops of the whole queue (StopFtpJobs, Shutdown)

  std::atomic<bool> m_quiet{false};         // no more notifications; never cleared
  std::atomic<bool> m_cancel{false};        // aborts the running upload; cleared for each job
  std::atomic<bool> m_transferring{false};  // the running upload's data flows
  std::atomic<bool> m_sending{false};       // a notification waits to be handled
  std::thread m_thread;
};

}  // namespace lapora
