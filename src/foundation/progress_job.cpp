#include "foundation/progress_job.h"

#include <utility>

namespace lapora {

CProgressJob::CProgressJob(std::string caption, Work work, bool cancellable)
    : m_caption(std::move(caption)), m_cancellable(cancellable), m_work(std::move(work)) {}

CProgressJob::~CProgressJob() {
  Cancel();
  Join();
}

void CProgressJob::Start() {
  if (m_thread.joinable() || Finished()) {
    return;
  }
  m_thread = std::thread([this] { RunWork(); });
}

void CProgressJob::RunWork() {
  if (m_work) {
    m_work(*this);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_finished = true;
  m_finishedChanged.notify_all();
}

void CProgressJob::Join() {
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

bool CProgressJob::WaitFinished(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_finishedChanged.wait_for(lock, limit, [this] { return m_finished; });
}

bool CProgressJob::Finished() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_finished;
}

std::string CProgressJob::ProgressText() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_progressText;
}

CProgressJob::Steps CProgressJob::ProgressSteps() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_steps;
}

std::vector<std::string> CProgressJob::TakeLines() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return std::exchange(m_lines, {});
}

void CProgressJob::Cancel() {
  if (m_cancellable) {
    m_cancelled.store(true);
  }
}

bool CProgressJob::Report(std::string text) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progressText = std::move(text);
  }
  return !m_cancelled.load();
}

bool CProgressJob::Report(std::string text, Steps steps) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progressText = std::move(text);
    m_steps = steps;
  }
  return !m_cancelled.load();
}

void CProgressJob::AddLine(std::string text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lines.push_back(std::move(text));
}

}  // namespace lapora
