#include "ui/dlg_job_progress.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <utility>

#include "resources/messages_ui.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kPollMs = 50;
// A job that ends this fast shows no dialog: a flash would only distract the operator.
constexpr std::chrono::milliseconds kQuietWait{30};

void DeliverLines(CProgressJob& job, const JobLineSink& onLine) {
  for (const std::string& line : job.TakeLines()) {
    if (onLine) {
      onLine(line);
    }
  }
}

}  // namespace

CDlgJobProgress::CDlgJobProgress(CProgressJob& job, const QString& title, JobLineSink onLine,
                                 QWidget* parent)
    : QDialog(parent), m_job(job), m_onLine(std::move(onLine)) {
  setWindowTitle(title);
  setModal(true);
  m_text = new QLabel(ToQt(job.Caption()), this);
  m_text->setMinimumWidth(420);
  m_text->setWordWrap(true);
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 0);  // busy until the work says how many steps it has
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_text);
  layout->addWidget(m_bar);
  if (job.Cancellable()) {
    m_cancel = new QPushButton(ToQt(kMsgProgressCancel), this);
    connect(m_cancel, &QPushButton::clicked, this, &CDlgJobProgress::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    layout->addLayout(buttons);
  }

  connect(&m_poll, &QTimer::timeout, this, &CDlgJobProgress::Poll);
  m_poll.start(kPollMs);
}

void CDlgJobProgress::reject() {
  // Escape and the close box come here too; the dialog ends only when the work has returned
  // (QDialog keeps a dialog that is still visible after reject()).
  if (m_job.Cancellable() && !m_job.Cancelled()) {
    m_job.Cancel();
    m_cancel->setEnabled(false);
    m_text->setText(ToQt(kMsgProgressCancelling));
  }
  Poll();
}

void CDlgJobProgress::Poll() {
  DeliverLines(m_job, m_onLine);
  if (m_job.Finished()) {
    m_poll.stop();
    DeliverLines(m_job, m_onLine);
    QDialog::done(m_job.Cancelled() ? QDialog::Rejected : QDialog::Accepted);
    return;
  }
  if (!m_job.Cancelled()) {
    std::string text = m_job.ProgressText();
    if (!text.empty()) {
      m_text->setText(ToQt(text));
    }
    const CProgressJob::Steps steps = m_job.ProgressSteps();
    if (steps.total > 0) {
      if (m_bar->maximum() != steps.total) {
        m_bar->setRange(0, steps.total);
      }
      m_bar->setValue(std::min(steps.done, steps.total));
    }
  }
}

void WaitWithProgressDialog(CProgressJob& job, const QString& title, const JobLineSink& onLine,
                            QWidget* parent) {
  if (!job.WaitFinished(kQuietWait)) {
    CDlgJobProgress dialog(job, title, onLine, parent);
    // Only the end of the work ends the dialog; should anything else close it, it comes back
    // rather than leave the window thread blocked on the work.
    do {
      dialog.exec();
    } while (!job.Finished());
  }
  DeliverLines(job, onLine);
}

}  // namespace lapora
