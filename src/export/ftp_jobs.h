// FTP upload jobs and the one worker thread that runs them in queue order. Any thread may queue
// jobs; StopFtpJobs and the destructor are for the thread that dispatches the event queue (the
// main thread). A job's progress goes to that thread as FtpJobStatusEvent, sent and waited for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
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

class CFtpWorker {
 public:
  // Waits of the worker when the queue is empty, and of StopFtpJobs while a job runs.
  static constexpr std::chrono::milliseconds kIdleWait{1000};
  static constexpr std::chrono::milliseconds kStopStep{200};

  // port: the servers' FTP port (21; tests use their own server's).
  explicit CFtpWorker(EventQueue& events, int port = kFtpDefaultPort);
  // Shutdown() without a pump. REQUIRES: when called on the thread that dispatches the event
  // queue, no notification is on its way (the owner ran StopFtpJobs or Shutdown with a pump).
  ~CFtpWorker();
  CFtpWorker(const CFtpWorker&) = delete;
  CFtpWorker& operator=(const CFtpWorker&) = delete;

  // Starts the worker thread (once; later calls do nothing). Jobs queued before wait for it.
  void Start();
  // Appends the job to the queue; the queue owns it from then on. Any thread.
  void QueueFtpJob(std::unique_ptr<CFtpJob> job);

  // At program exit: drops the queued jobs, then, while a job runs, sets the quiet flag (no
  // more notifications, for good) and waits in steps of kStopStep until the job has ended. The
  // running upload is not interrupted. pump is called between the steps while a notification
  // is already on its way to the calling thread, so that it is handled and the job can end; the
  // caller must pass one when it is the thread that dispatches the event queue.
  void StopFtpJobs(const std::function<void()>& pump = {});
  // Ends the worker thread: drops the queued jobs, silences the notifications, aborts a running
  // upload and joins. pump as for StopFtpJobs. Harmless when the thread never started.
  void Shutdown(const std::function<void()>& pump = {});

  bool IsBusy() const;
  std::size_t QueuedJobs() const;

 private:
  void Run();
  void RunUpload(CFtpJob& job);
  void NotifyJobStatus(const CFtpJob& job);
  // Waits until done() holds (checked under m_queueMutex), pumping between kStopStep waits.
  void WaitWithPump(const std::function<bool()>& done, const std::function<void()>& pump);

  EventQueue& m_events;
  const int m_port;

  mutable std::mutex m_queueMutex;  // guards m_queue, m_busy, m_stop, m_ended
  std::condition_variable m_wake;   // a job was queued, or the worker must stop
  std::condition_variable m_idle;   // a job ended, or the thread ended
  std::deque<std::unique_ptr<CFtpJob>> m_queue;
  bool m_busy = false;  // set with the removal of a job from the queue, so never unseen
  bool m_stop = false;
  bool m_ended = false;

  std::atomic<bool> m_quiet{false};    // no more notifications; never cleared
  std::atomic<bool> m_cancel{false};   // aborts the running upload (shutdown only)
  std::atomic<bool> m_sending{false};  // a notification waits to be handled
  std::thread m_thread;
};

}  // namespace lapora
