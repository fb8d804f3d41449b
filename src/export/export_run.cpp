#include "export/export_run.h"

#include <utility>

namespace lapora {

CExportRun::CExportRun(Work work) {
  m_thread = std::thread([this, work = std::move(work)] {
    work();
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_ended.notify_all();
  });
  m_threadId = m_thread.get_id();
}

CExportRun::~CExportRun() {
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

bool CExportRun::Done() const {
  std::lock_guard lock(m_mutex);
  return m_done;
}

bool CExportRun::WaitFor(std::chrono::milliseconds slice) const {
  std::unique_lock lock(m_mutex);
  return m_ended.wait_for(lock, slice, [this] { return m_done; });
}

void CExportRun::WaitWithPump(const std::function<void()>& pump,
                              std::chrono::milliseconds slice) const {
  while (!WaitFor(slice)) {
    if (pump) {
      pump();
    }
  }
}

}  // namespace lapora
