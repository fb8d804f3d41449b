// One background export on a thread of its own, so that the window thread never waits for the
// files to be computed and written: the window thread starts it, then polls Done() or waits for
// it in short slices (handling its events between them) and finally joins it. (What the
// operator waits for, with a progress dialog, is a CProgressJob instead.)
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace lapora {

class CExportRun {
 public:
  using Work = std::function<void()>;

  // Starts work on a new thread at once.
  explicit CExportRun(Work work);
  // Waits for the work to end (never destroys what it uses under it).
  ~CExportRun();
  CExportRun(const CExportRun&) = delete;
  CExportRun& operator=(const CExportRun&) = delete;

  // The work has returned: what it wrote is visible to the thread that saw this true.
  bool Done() const;
  // Waits at most `slice` for the end; true when the work has returned.
  bool WaitFor(std::chrono::milliseconds slice) const;
  // Waits for the end, calling pump every `slice` meanwhile (the window thread's events).
  void WaitWithPump(const std::function<void()>& pump,
                    std::chrono::milliseconds slice = std::chrono::milliseconds(20)) const;
  // The thread the work runs on.
  std::thread::id ThreadId() const { return m_threadId; }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_ended;
  bool m_done = false;  // guarded by m_mutex
  std::thread::id m_threadId;
  std::thread m_thread;  // last: started once everything above is made
};

}  // namespace lapora
