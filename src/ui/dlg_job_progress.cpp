#include "ui/dlg_job_progress.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QVBoxLayout>
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
  auto* bar = new QProgressBar(this);
  bar->setRange(0, 0);  // busy: the work does not know its end in advance
  m_cancel = new QPushButton(ToQt(kMsgProgressCancel), this);
  connect(m_cancel, &QPushButton::clicked, this, &CDlgJobProgress::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_cancel);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_text);
  layout->addWidget(bar);
  layout->addLayout(buttons);

  connect(&m_poll, &QTimer::timeout, this, &CDlgJobProgress::Poll);
  m_poll.start(kPollMs);
}

void CDlgJobProgress::reject() {
  if (!m_job.Cancelled()) {
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
