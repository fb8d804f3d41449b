#include "export/ftp_jobs.h"

#include <pthread.h>
#include <sys/stat.h>

#include <utility>

#include "export/ftp_servers.h"
#include "foundation/events.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_export.h"

namespace lapora {

namespace {

constexpr char kLockSuffix[] = ".lock";

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

CFtpWorker::CFtpWorker(EventQueue& events, int port) : m_events(events), m_port(port) {}

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
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back(std::move(job));
  }
  m_wake.notify_one();
}

bool CFtpWorker::IsBusy() const {
  std::lock_guard lock(m_queueMutex);
  return m_busy;
}

std::size_t CFtpWorker::QueuedJobs() const {
  std::lock_guard lock(m_queueMutex);
  return m_queue.size();
}

void CFtpWorker::WaitWithPump(const std::function<bool()>& done,
                              const std::function<void()>& pump) {
  std::unique_lock lock(m_queueMutex);
  while (!done()) {
    m_quiet = true;
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
  }
  WaitWithPump([this] { return !m_busy; }, pump);
}

void CFtpWorker::Shutdown(const std::function<void()>& pump) {
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.clear();
    m_stop = true;
    if (!m_thread.joinable()) {
      return;
    }
  }
  m_quiet = true;
  m_cancel = true;
  m_wake.notify_all();
  WaitWithPump([this] { return m_ended; }, pump);
  m_thread.join();
}

void CFtpWorker::Run() {
  (void)pthread_setname_np(pthread_self(), "ftp worker");
  std::unique_lock lock(m_queueMutex);
  for (;;) {
    m_wake.wait_for(lock, kIdleWait, [this] { return m_stop || !m_queue.empty(); });
    if (m_stop) {
      break;
    }
    if (m_queue.empty()) {
      continue;
    }
    std::unique_ptr<CFtpJob> job = std::move(m_queue.front());
    m_queue.pop_front();
    m_busy = true;
    lock.unlock();
    RunUpload(*job);
    job.reset();
    lock.lock();
    m_busy = false;
    m_idle.notify_all();
  }
  m_ended = true;
  m_idle.notify_all();
}

void CFtpWorker::NotifyJobStatus(const CFtpJob& job) {
  if (m_quiet) {
    return;
  }
  m_sending = true;
  (void)m_events.Send(FtpJobStatusEvent{job.status, job.remoteName, job.errorText});
  m_sending = false;
}

void CFtpWorker::RunUpload(CFtpJob& job) {
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
    return;
  }

  CFtpClient client(FtpEndpoint{job.site, m_port, job.user, job.password, job.passive != 0});
  client.SetCancelFlag(&m_cancel);
  client.SetTransferStartHook([&job] { job.status = CFtpJob::kStatusTransferring; });

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
    return;
  }

  if (result.hostKey == SshHostKey::kUnknown || result.hostKey == SshHostKey::kChanged) {
    const Message& text =
        result.hostKey == SshHostKey::kUnknown ? kMsgSftpHostKeyUnknown : kMsgSftpHostKeyChanged;
    fail(StrF(Tr(text).c_str(), job.site.c_str(), result.acceptKeyCommand.c_str()));
    return;
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
}

}  // namespace lapora
