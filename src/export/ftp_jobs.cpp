#include "export/ftp_jobs.h"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "export/ftp_servers.h"
#include "foundation/events.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_export.h"

namespace lapora {

namespace {

constexpr char kLockSuffix[] = ".lock";

// Two jobs that write the same remote file: same server, same folder, same remote name.
bool SameRemoteFile(const CFtpJob& a, const CFtpJob& b) {
  return a.remoteName == b.remoteName && a.site == b.site && a.user == b.user &&
         TrimBlanks(a.directory) == TrimBlanks(b.directory);
}

// How the log names a job's server: its label, or its site when it has none.
const std::string& ServerName(const CFtpJob& job) {
  return job.label.empty() ? job.site : job.label;
}

// The local file is there to be read (a folder is not).
bool LocalFileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

void CFtpJob::SetServer(const CFtpServer& server) {
  label = server.label;
  site = server.site;
  user = server.user;
  password = server.password;
  directory = server.directory;
}

void CFtpJob::SetLocalPath(const std::string& path) {
  localPath = path;
  binary = 1;
}

void CFtpJob::SetRemoteName(const std::string& name) {
  remoteName = name;
}

CFtpJob MakeFtpUploadJob(const SettingsStore& store) {
  CFtpJob job;
  job.kind = CFtpJob::kKindUpload;
  job.site = store.ReadSettingText(kFtpSettingsSection, "Site", "");
  job.user = store.ReadSettingText(kFtpSettingsSection, "User", "");
  job.password = store.ReadSettingText(kFtpSettingsSection, "Password", "");
  job.directory = store.ReadSettingText(kFtpSettingsSection, "Directory", "");
  job.passive = store.ReadSettingBool(kFtpSettingsSection, "BPutInPassiveMode", true) ? 1 : 0;
  return job;
}

CFtpWorker::CFtpWorker(EventQueue& events, int port)
    : CFtpWorker(events, FtpWorkerOptions{.port = port}) {}

CFtpWorker::CFtpWorker(EventQueue& events, FtpWorkerOptions options)
    : m_events(events), m_options(options) {}

CFtpWorker::~CFtpWorker() {
  Shutdown();
}

void CFtpWorker::Start() {
  std::lock_guard lock(m_queueMutex);
  if (m_thread.joinable() || m_stop) {
    return;
  }
  m_thread = std::thread([this] { Run(); });
}

void CFtpWorker::QueueFtpJob(std::unique_ptr<CFtpJob> job) {
  if (!job) {
    return;
  }
  std::unique_ptr<CFtpJob> dropped;
  {
    std::lock_guard lock(m_queueMutex);
    auto same = std::find_if(m_queue.begin(), m_queue.end(), [&job](const auto& waiting) {
      return SameRemoteFile(*waiting, *job);
    });
    if (same != m_queue.end()) {
      *same = std::move(job);  // keeps its place: re-exports cannot push it back for ever
    } else {
      if (m_queue.size() >= std::max<std::size_t>(m_options.maxQueuedJobs, 1)) {
        dropped = std::move(m_queue.front());
        m_queue.pop_front();
      }
      m_queue.push_back(std::move(job));
    }
    ++m_queued;
  }
  m_wake.notify_one();
  if (dropped) {
    PostLog(StrF(Tr(kMsgFtpJobDropped).c_str(), dropped->remoteName.c_str(),
                 ServerName(*dropped).c_str()));
  }
}

bool CFtpWorker::IsBusy() const {
  std::lock_guard lock(m_queueMutex);
  return m_busy;
}

std::size_t CFtpWorker::QueuedJobs() const {
  std::lock_guard lock(m_queueMutex);
  return m_queue.size();
}

bool CFtpWorker::InBackoff(const std::string& site) const {
  std::lock_guard lock(m_queueMutex);
  auto found = m_backoff.find(site);
  return found != m_backoff.end() && SteadyClock::now() < found->second.retryAt;
}

void CFtpWorker::WaitWithPump(const std::function<bool()>& done, const std::function<void()>& pump,
                              const std::function<void()>& onStep) {
  std::unique_lock lock(m_queueMutex);
  while (!done()) {
    m_quiet = true;
    if (onStep) {
      onStep();
    }
    if (pump && m_sending) {
      // The worker waits for the calling thread to handle its notification.
      lock.unlock();
      pump();
      lock.lock();
    }
    m_idle.wait_for(lock, kStopStep, done);
  }
}

void CFtpWorker::StopFtpJobs(const std::function<void()>& pump) {
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.clear();
    ++m_drops;
  }
  const SteadyClock::time_point graceEnd = SteadyClock::now() + m_options.stopGrace;
  WaitWithPump([this] { return !m_busy; }, pump,
               [this, graceEnd] {
                 // Waiting for a server that does not answer would hold the exit for the whole
                 // time-out, and nothing of the file has gone yet.
                 if (m_busy && (!m_transferring || SteadyClock::now() >= graceEnd)) {
                   m_cancel = true;
                 }
               });
}

void CFtpWorker::Shutdown(const std::function<void()>& pump) {
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.clear();
    ++m_drops;
    m_stop = true;
    m_cancel = true;
    if (!m_thread.joinable()) {
      return;
    }
  }
  m_quiet = true;
  m_wake.notify_all();
  WaitWithPump([this] { return m_ended; }, pump);
  m_thread.join();
}

std::deque<std::unique_ptr<CFtpJob>>::iterator CFtpWorker::NextJob(
    SteadyClock::time_point now, SteadyClock::time_point* nextRetry) {
  *nextRetry = SteadyClock::time_point::max();
  for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
    auto backoff = m_backoff.find((*it)->site);
    if (backoff == m_backoff.end() || backoff->second.retryAt <= now) {
      return it;
    }
    *nextRetry = std::min(*nextRetry, backoff->second.retryAt);
  }
  return m_queue.end();
}

bool CFtpWorker::HasWaitingFor(const CFtpJob& job) const {
  return std::any_of(m_queue.begin(), m_queue.end(),
                     [&job](const auto& waiting) { return SameRemoteFile(*waiting, job); });
}

std::chrono::milliseconds CFtpWorker::BackOff(const std::string& site) {
  Backoff& backoff = m_backoff[site];
  backoff.delay = backoff.delay.count() == 0 ? m_options.firstBackoff
                                             : std::min<std::chrono::milliseconds>(
                                                   backoff.delay * 2, m_options.maxBackoff);
  backoff.retryAt = SteadyClock::now() + backoff.delay;
  return backoff.delay;
}

void CFtpWorker::Run() {
  (void)pthread_setname_np(pthread_self(), "ftp worker");
  std::unique_lock lock(m_queueMutex);
  for (;;) {
    if (m_stop) {
      break;
    }
    SteadyClock::time_point now = SteadyClock::now();
    SteadyClock::time_point nextRetry;
    auto next = NextJob(now, &nextRetry);
    if (next == m_queue.end()) {
      // Nothing to run now: wait for a new job, the end of a back-off, or the stop.
      const std::uint64_t queued = m_queued;
      SteadyClock::time_point until = now + kIdleWait;
      m_wake.wait_until(lock, std::min(until, nextRetry),
                        [this, queued] { return m_stop || m_queued != queued; });
      continue;
    }
    std::unique_ptr<CFtpJob> job = std::move(*next);
    m_queue.erase(next);
    m_busy = true;
    m_cancel = false;
    m_transferring = false;
    const std::uint64_t drops = m_drops;
    lock.unlock();
    UploadEnd end = RunUpload(*job);
    lock.lock();
    m_busy = false;
    std::string backoffLine;
    if (end == UploadEnd::kDone) {
      m_backoff.erase(job->site);
    } else if (end == UploadEnd::kServerUnavailable && !m_cancel) {
      std::chrono::milliseconds wait = BackOff(job->site);
      backoffLine = StrF(Tr(kMsgFtpServerBackoff).c_str(), ServerName(*job).c_str(),
                         static_cast<int>((wait.count() + 999) / 1000));
      // The job waits for the server again, first of its jobs, unless the queue was dropped
      // meanwhile or a newer file of the same name is waiting already. A full queue has no
      // room for it: it is then the oldest, and gives way.
      if (!m_stop && drops == m_drops && !HasWaitingFor(*job) &&
          m_queue.size() < std::max<std::size_t>(m_options.maxQueuedJobs, 1)) {
        m_queue.push_front(std::move(job));
      }
    }
    m_idle.notify_all();
    if (!backoffLine.empty()) {
      lock.unlock();
      PostLog(std::move(backoffLine));
      lock.lock();
    }
  }
  m_ended = true;
  m_idle.notify_all();
}

void CFtpWorker::PostLog(std::string text) {
  if (!m_quiet) {
    m_events.Post(LogLineEvent{0, std::move(text)});
  }
}

void CFtpWorker::NotifyJobStatus(const CFtpJob& job) {
  if (m_quiet) {
    return;
  }
  m_sending = true;
  (void)m_events.Send(FtpJobStatusEvent{job.status, job.remoteName, job.errorText});
  m_sending = false;
}

CFtpWorker::UploadEnd CFtpWorker::RunUpload(CFtpJob& job) {
  job.status = CFtpJob::kStatusStarted;
  job.errorText.clear();
  NotifyJobStatus(job);

  auto fail = [this, &job](std::string text) {
    job.errorText = std::move(text);
    job.status = CFtpJob::kStatusError;
    NotifyJobStatus(job);
  };

  if (!LocalFileExists(job.localPath)) {
    fail(StrF(Tr(kMsgFtpCantOpenSource).c_str(), job.localPath.c_str()));
    return UploadEnd::kFailed;
  }

  // The local file is opened once, when the upload begins, and read through to its end from
  // that one descriptor: the export replaces its files by renaming new ones over them, so an
  // upload under way keeps sending the file it opened, whole.
  CFtpClient client(
      FtpEndpoint{job.site, m_options.port, job.user, job.password, job.passive != 0});
  client.SetCancelFlag(&m_cancel);
  client.SetConnectTimeoutSeconds(m_options.connectTimeoutSeconds);
  client.SetResponseTimeoutSeconds(m_options.responseTimeoutSeconds);
  client.SetTransferStartHook([this, &job] {
    job.status = CFtpJob::kStatusTransferring;
    m_transferring = true;
  });

  FtpUploadPlan plan;
  plan.directory = std::string(TrimBlanks(job.directory));
  plan.localPath = job.localPath;
  plan.finalName = job.remoteName;
  plan.tempName = job.remoteName + kLockSuffix;
  plan.deleteFirst = {plan.finalName, plan.tempName};
  FtpResult result = client.Upload(plan);
  if (result.ok) {
    job.status = CFtpJob::kStatusDone;
    NotifyJobStatus(job);
    return UploadEnd::kDone;
  }

  if (result.hostKey == SshHostKey::kUnknown || result.hostKey == SshHostKey::kChanged) {
    const Message& text =
        result.hostKey == SshHostKey::kUnknown ? kMsgSftpHostKeyUnknown : kMsgSftpHostKeyChanged;
    fail(StrF(Tr(text).c_str(), job.site.c_str(), result.acceptKeyCommand.c_str()));
    return UploadEnd::kFailed;
  }
  // The folder steps report the server's reply code (the libcurl code when the server gave
  // none), in decimal and in hexadecimal.
  int code = result.replyCode != 0 ? result.replyCode : result.curlCode;
  switch (result.failedStep) {
    case FtpStep::kConnect:
      fail(result.serverReplied ? result.message
                                : StrF(Tr(kMsgFtpCantConnect).c_str(), job.site.c_str()));
      break;
    case FtpStep::kCurrentFolderBefore:
      fail(StrF("GetCurrentDirectory (1) Error: %d (0x%X)", code, static_cast<unsigned>(code)));
      break;
    case FtpStep::kChangeFolder:
      fail(StrF("SetCurrentDirectory Error: %d (0x%X)", code, static_cast<unsigned>(code)));
      break;
    case FtpStep::kCurrentFolderAfter:
      fail(StrF("GetCurrentDirectory (2) Error: %d (0x%X)", code, static_cast<unsigned>(code)));
      break;
    default:
      fail(result.message);
      break;
  }
  return result.serverUnavailable ? UploadEnd::kServerUnavailable : UploadEnd::kFailed;
}

}  // namespace lapora
