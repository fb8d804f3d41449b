#include "ui/qt_front_end.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QWindow>
#include <algorithm>

#include "foundation/events.h"
#include "platform/keyboard_state.h"
#include "platform/open_document.h"
#include "station/station.h"
#include "ui/balloon_tip.h"
#include "ui/dlg_config.h"
#include "ui/dlg_export_detection_lines.h"
#include "ui/dlg_import_varnex.h"
#include "ui/dlg_insert_time_new.h"
#include "ui/dlg_job_progress.h"
#include "ui/lapora_dlg.h"
#include "ui/list_models.h"
#include "ui/message_box.h"
#include "ui/qt_menus.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

// The embedded icons a balloon may show.
constexpr int kIconWarning = 131;
// The remove and restore menu opens this far right of the cursor.
constexpr QPoint kRemoveRestoreOffset(5, 0);

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kError:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QtFrontEnd::QtFrontEnd(EventQueue& events, QObject* parent)
    : QObject(parent), m_events(events), m_self(std::make_shared<QtFrontEnd*>(this)) {
  m_showTimer.setSingleShot(true);
  connect(&m_showTimer, &QTimer::timeout, this, [this] {
    if (m_station != nullptr) {
      m_station->ShowPending();
    }
  });
  std::shared_ptr<QtFrontEnd*> self = m_self;
  // Any thread: a queued call into the Qt thread. The application object outlives every
  // worker; the front end may not, so the call looks it up again once on the Qt thread.
  m_events.SetWakeCallback([self] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self] {
          if (*self != nullptr) {
            (*self)->DrainPosted();
          }
        },
        Qt::QueuedConnection);
  });
}

QtFrontEnd::~QtFrontEnd() {
  m_events.SetWakeCallback(nullptr);
  *m_self = nullptr;
  m_showTimer.stop();
  for (auto& [id, timer] : m_timers) {
    timer->stop();
  }
}

void QtFrontEnd::Attach(Station& station) {
  m_station = &station;
  m_window = std::make_unique<CLaporaDlg>(station);
  // Events posted before the window existed.
  if (m_events.PendingCount() > 0) {
    ScheduleDrain();
  }
}

void QtFrontEnd::ScheduleDrain() {
  if (m_drainScheduled) {
    return;
  }
  m_drainScheduled = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_drainScheduled = false;
        DrainPosted();
      },
      Qt::QueuedConnection);
}

void QtFrontEnd::DrainPosted() {
  if (m_station == nullptr) {
    return;
  }
  // What is left waits for the next turn of the loop, so the window stays responsive; what
  // is handled but not shown yet is shown at the end of the frame.
  Station::PacedDrain drained = m_station->DrainEventsPaced();
  if (drained.eventsLeft) {
    ScheduleDrain();
  } else if (drained.unshown && !m_showTimer.isActive()) {
    m_showTimer.start(static_cast<int>(Station::kDrainFrame.count()));
  }
}

void QtFrontEnd::PrepareWindow() {
  // The window icon is set with the window; the About entry is in the window menu.
  m_window->setWindowIcon(QIcon(QStringLiteral(":/images/lapora.png")));
}

void QtFrontEnd::AppendLogLines(const std::vector<std::string>&) {
  m_window->Model(ListId::kLog)->RowsAppended();
}

void QtFrontEnd::AppendDetectionItems(const std::vector<CLogDetectionItem>&) {
  m_window->Model(ListId::kDetections)->RowsAppended();
}

void QtFrontEnd::AppendSummaryEntries(const std::vector<CSummaryItem>&) {
  m_window->Model(ListId::kSummary)->RowsAppended();
  m_window->List(ListId::kSummary)->viewport()->repaint();
}

void QtFrontEnd::PurgeListFront(ListId list, std::size_t count) {
  m_window->Model(list)->RowsPurged(count);
}

void QtFrontEnd::ClearList(ListId list) {
  m_window->Model(list)->RowsCleared();
}

void QtFrontEnd::RefreshList(ListId list) {
  m_window->Model(list)->RowsChanged();
}

std::size_t QtFrontEnd::ListTopIndex(ListId list) const {
  QListView* view = m_window->List(list);
  QModelIndex top = view->indexAt(QPoint(1, 1));
  if (top.isValid()) {
    return static_cast<std::size_t>(top.row());
  }
  return static_cast<std::size_t>(std::max(0, view->verticalScrollBar()->value()));
}

void QtFrontEnd::SetListTopIndex(ListId list, std::size_t index) {
  QListView* view = m_window->List(list);
  int rows = view->model()->rowCount();
  if (rows == 0) {
    return;
  }
  // The scroll range follows the rows only once the view has laid them out.
  view->doItemsLayout();
  int row = static_cast<int>(std::min<std::size_t>(index, static_cast<std::size_t>(rows - 1)));
  view->verticalScrollBar()->setValue(row);
}

void QtFrontEnd::SetCounterText(const std::string& text) {
  m_window->CounterLabel()->setText(ToQt(text));
  m_window->CounterLabel()->repaint();
}

void QtFrontEnd::SetBoxState(int index, BoxDisc disc, const std::string& tooltip) {
  m_window->ShowBoxState(index, disc, ToQt(tooltip));
}

void QtFrontEnd::SetButtonState(Button button, bool enabled, bool pressed) {
  QPushButton* widget = m_window->CommandButton(button);
  widget->setEnabled(enabled);
  if (widget->isCheckable()) {
    widget->setChecked(pressed);
  }
}

void QtFrontEnd::SetDirectState(DirectState state) {
  m_window->ShowDirectState(state);
}

void QtFrontEnd::SetDirectTooltip(const std::string& text) {
  m_window->ShowDirectTooltip(ToQt(text));
}

void QtFrontEnd::ShowBalloon(Button button, const std::string& title, const std::string& text,
                             int iconId, int durationMs, double xFraction, double yFraction) {
  QPushButton* widget = m_window->CommandButton(button);
  QPoint spot(static_cast<int>(widget->width() * std::clamp(xFraction, 0.0, 1.0)),
              static_cast<int>(widget->height() * std::clamp(yFraction, 0.0, 1.0)));
  CBalloonTip::Icon icon = iconId == kIconWarning ? CBalloonTip::Icon::kWarning
                           : iconId == 0          ? CBalloonTip::Icon::kNone
                                                  : CBalloonTip::Icon::kInformation;
  m_window->Balloon()->ShowAt(widget->mapToGlobal(spot), ToQt(title), ToQt(text), icon, durationMs);
}

void QtFrontEnd::SetLongRaceIndicator(bool shown, const std::string& text) {
  m_window->LongRaceLabel()->setText(ToQt(text));
  m_window->LongRaceLabel()->setVisible(shown);
  m_window->LongRaceImage()->setVisible(shown);
}

void QtFrontEnd::SetVersionText(const std::string& text) {
  m_window->VersionLabel()->setText(ToQt(text));
}

void QtFrontEnd::SetCheckBoxes(bool logDetections, bool scrollDetections) {
  m_window->LogDetectionsBox()->setChecked(logDetections);
  m_window->ScrollBox()->setChecked(scrollDetections);
}

void QtFrontEnd::SelectLevelEntry(int index) {
  m_window->m_levelShown = index;
  m_window->LevelSelector()->setCurrentIndex(index);
}

void QtFrontEnd::BringToFront() {
  if (m_window->isMinimized()) {
    m_window->showNormal();
  } else {
    m_window->show();
  }
  m_window->raise();
  m_window->activateWindow();
  // In front of every window, not only of this program's: kept on top for a moment, as the
  // window manager then stacks it above the others. Changed on the native window in place:
  // QWidget::setWindowFlag would recreate it, which hides the window.
  if (QWindow* window = m_window->windowHandle()) {
    Qt::WindowFlags flags = window->flags();
    window->setFlags(flags | Qt::WindowStaysOnTopHint);
    window->setFlags(flags);
  }
}

void QtFrontEnd::SetWaitCursor(bool waiting) {
  if (waiting) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

BoxMenuId QtFrontEnd::ShowBoxMenu(int index, const std::vector<BoxMenuItem>& items) {
  QPoint position = m_window->TakeBoxMenuPosition(index);
  if (items.empty()) {
    return BoxMenuId::kNone;
  }
  QMenu menu(m_window.get());
  FillBoxMenu(menu, items);
  return ChosenBoxMenuId(menu.exec(position));
}

std::optional<ManualEntry> QtFrontEnd::RunManualEntryDialog(const ManualEntryRequest& request) {
  if (request.clock == nullptr) {
    return std::nullopt;  // nothing to take the time from: no entry can be made
  }
  CDlgInsertTimeNew dialog(request.detectors, request.rememberedDetectorIndex, request.raceDayDates,
                           *request.clock, m_window.get());
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  return dialog.Entry();
}

ImportRequest QtFrontEnd::RunImportDialog(ImportDialogSetup& setup) {
  CDlgImportVarnex dialog(setup, m_window.get());
  dialog.exec();
  return dialog.TakeRequest();
}

bool QtFrontEnd::RunConfigurationDialog(ConfigurationSession& session) {
  CDlgConfig dialog(session, m_window.get());
  return dialog.exec() == QDialog::Accepted;
}

void QtFrontEnd::RunExportDetectionLinesDialog(CExportLinesDialogModel& model) {
  CDlgExportDetectionLines dialog(model, m_window.get());
  dialog.exec();
}

std::vector<std::size_t> QtFrontEnd::SelectedDetectionRows() const {
  std::vector<std::size_t> rows;
  QItemSelectionModel* selection = m_window->List(ListId::kDetections)->selectionModel();
  for (const QModelIndex& index : selection->selectedRows()) {
    rows.push_back(static_cast<std::size_t>(index.row()));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

RemoveRestoreChoice QtFrontEnd::ShowRemoveRestoreMenu(bool removeEnabled, bool restoreEnabled) {
  QMenu menu(m_window.get());
  RemoveRestoreActions actions = FillRemoveRestoreMenu(menu, removeEnabled, restoreEnabled);
  QAction* chosen = menu.exec(QCursor::pos() + kRemoveRestoreOffset);
  if (chosen != nullptr && chosen == actions.remove) {
    return RemoveRestoreChoice::kRemove;
  }
  if (chosen != nullptr && chosen == actions.restore) {
    return RemoveRestoreChoice::kRestore;
  }
  return RemoveRestoreChoice::kNone;
}

bool QtFrontEnd::AskYesNo(const std::string& text, MessageIcon icon, bool defaultYes) {
  m_questions.push_back(text);
  if (m_autoAnswer) {
    return *m_autoAnswer;
  }
  QMessageBox box(ToQtIcon(icon), m_window->windowTitle(), ToQt(text),
                  QMessageBox::Yes | QMessageBox::No, m_window.get());
  box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void QtFrontEnd::ShowMessage(const std::string& text, MessageIcon icon) {
  m_messages.push_back(text);
  if (m_autoAnswer) {
    return;
  }
  ExecMessage(m_window.get(), ToQtIcon(icon), m_window->windowTitle(), ToQt(text));
}

void QtFrontEnd::StartTimer(int id, int periodMs, bool oneShot) {
  QTimer*& timer = m_timers[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] {
      if (m_station != nullptr) {
        m_station->OnTimer(id);
      }
    });
  }
  timer->setSingleShot(oneShot);
  timer->start(periodMs);
}

bool QtFrontEnd::HasTimer(int id) const {
  auto it = m_timers.find(id);
  return it != m_timers.end() && it->second->isActive();
}

void QtFrontEnd::StopTimer(int id) {
  auto it = m_timers.find(id);
  if (it != m_timers.end()) {
    it->second->stop();
  }
}

void QtFrontEnd::WaitForJob(CProgressJob& job,
                            const std::function<void(const std::string& line)>& onLine) {
  WaitWithProgressDialog(job, ToQt(job.Caption()), onLine, m_window.get());
}

void QtFrontEnd::PumpEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool QtFrontEnd::IsCtrlDown() const {
  if (m_ctrlOverride) {
    return *m_ctrlOverride;
  }
  return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
}

bool QtFrontEnd::IsScrollLockOn() const {
  return ::lapora::IsScrollLockOn();
}

bool QtFrontEnd::OpenDocument(const std::string& path) {
  m_opened.push_back(path);
  if (m_autoAnswer) {
    return true;
  }
  // Detached: the viewer may run as long as the operator reads, the window goes on.
  std::string error;
  return OpenWithDefaultApplication(path, &error);
}

void QtFrontEnd::CloseWindow() {
  m_closed = true;
  m_showTimer.stop();
  for (auto& [id, timer] : m_timers) {
    timer->stop();
  }
  m_window->done(QDialog::Accepted);
  emit Closed();
}

}  // namespace lapora
