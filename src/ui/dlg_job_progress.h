// The one progress dialog over work that runs on a worker (a CProgressJob): its latest text, and
// a bar that is busy until the work reports how many steps it has, then shows how many are
// done. Cancel, Escape or closing the dialog cancel the job; the dialog stays, its button
// greyed, until the work has returned, so that what the caller reads afterwards is final. A job
// that cannot be cancelled gets no Cancel button, and Escape and the close box do nothing: only
// the end of its work ends the dialog. Qt thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>

#include "foundation/progress_job.h"

namespace lapora {

using JobLineSink = std::function<void(const std::string& line)>;

class CDlgJobProgress : public QDialog {
  Q_OBJECT

 public:
  // job: started, and outliving the dialog. onLine receives the lines the job adds (may be
  // empty).
  CDlgJobProgress(CProgressJob& job, const QString& title, JobLineSink onLine,
                  QWidget* parent = nullptr);

  QLabel* TextLabel() const { return m_text; }
  QProgressBar* Bar() const { return m_bar; }
  // Null for a job that cannot be cancelled.
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  // Cancels the job; the dialog ends once the work has returned.
  void reject() override;

 private:
  // Shows the job's latest text and lines; ends the dialog (Accepted, or Rejected when
  // cancelled) once the work has returned.
  void Poll();

  CProgressJob& m_job;
  JobLineSink m_onLine;
  QLabel* m_text = nullptr;
  QProgressBar* m_bar = nullptr;
  QPushButton* m_cancel = nullptr;
  QTimer m_poll;
};

// Waits for a started job while the window stays alive: a job done within a moment shows
// nothing; a longer one shows its progress dialog with exec() until it ends.
void WaitWithProgressDialog(CProgressJob& job, const QString& title, const JobLineSink& onLine,
                            QWidget* parent);

}  // namespace lapora
