// Work too long for the window thread (an import, a download) run on a thread of its own while
// the window thread shows how far it got and may cancel it. The window thread owns the job: it
// starts it, reads its progress and its lines, cancels it and joins it; the work talks to the
// window only through Report and AddLine. Every member is safe from both threads unless its
// comment names one; the results the work leaves elsewhere are the window's once Join returned.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lapora {

class CProgressJob {
 public:
  using Work = std::function<void(CProgressJob& job)>;

  // How far the work got: `done` of `total` steps; total 0 while the work does not know.
  struct Steps {
    int done = 0;
    int total = 0;
  };

  // caption: what the progress dialog says the job does. A job that is not cancellable is one
  // whose work must not stop half way (files left half replaced): Cancel does nothing, and its
  // progress dialog offers none.
  CProgressJob(std::string caption, Work work, bool cancellable = true);
  // Cancels a job still running (when it can be) and joins it.
  ~CProgressJob();
  CProgressJob(const CProgressJob&) = delete;
  CProgressJob& operator=(const CProgressJob&) = delete;

  // Window thread: starts the work (once).
  void Start();
  // Window thread: waits for the work to return; its results may be read afterwards.
  void Join();
  // True once the work has returned; waits at most `limit` for it.
  bool WaitFinished(std::chrono::milliseconds limit);
  bool Finished() const;

  const std::string& Caption() const { return m_caption; }
  // The last text the work reported (empty before the first).
  std::string ProgressText() const;
  // The steps last reported with the text (none before the first).
  Steps ProgressSteps() const;
  // The lines the work added since the last call, in order.
  std::vector<std::string> TakeLines();

  // Asks the work to stop; it does at its next Report or keepGoing check. Nothing for a job
  // that is not cancellable.
  void Cancel();
  bool Cancelled() const { return m_cancelled.load(); }
  bool Cancellable() const { return m_cancellable; }

  // Work side: the progress text; false once the job is cancelled (the work then stops).
  bool Report(std::string text);
  // The same with how far the work got.
  bool Report(std::string text, Steps steps);
  // Work side: a line for the window's information list or console.
  void AddLine(std::string text);

 private:
  void RunWork();

  const std::string m_caption;
  const bool m_cancellable;
  Work m_work;
  std::thread m_thread;
  std::atomic<bool> m_cancelled{false};

  mutable std::mutex m_mutex;  // guards what follows
  std::condition_variable m_finishedChanged;
  bool m_finished = false;
  std::string m_progressText;
  Steps m_steps;
  std::vector<std::string> m_lines;
};

}  // namespace lapora
