// The window front end: FrontEnd carried out with CLaporaDlg's widgets and QTimers. Posted
// events wake the Qt thread with a queued call that drains them in batches, so a burst of
// detections costs one list insert and one repaint. Qt thread only, except the wake function
// handed to the event queue (any thread).
#pragma once

#include <QObject>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/front_end.h"

namespace lapora {

class CLaporaDlg;
class EventQueue;
class Station;

class QtFrontEnd : public QObject, public FrontEnd {
  Q_OBJECT

 public:
  explicit QtFrontEnd(EventQueue& events, QObject* parent = nullptr);
  ~QtFrontEnd() override;

  // Builds the window over this station; call before Station::Open.
  void Attach(Station& station);
  CLaporaDlg* Window() const { return m_window.get(); }
  bool IsClosed() const { return m_closed; }
  // Whether the timer with this id runs.
  bool HasTimer(int id) const;

  // Seams for tests: questions answered without a box, messages only recorded, a Ctrl key.
  void SetAutoAnswer(std::optional<bool> answer) { m_autoAnswer = answer; }
  void SetCtrlDown(std::optional<bool> down) { m_ctrlOverride = down; }
  const std::vector<std::string>& Questions() const { return m_questions; }
  const std::vector<std::string>& Messages() const { return m_messages; }
  const std::vector<std::string>& OpenedDocuments() const { return m_opened; }

  // Handles one batch of posted events; schedules the next batch when more are waiting.
  void DrainPosted();

  // FrontEnd.
  void PrepareWindow() override;
  void AppendLogLines(const std::vector<std::string>& lines) override;
  void AppendDetectionItems(const std::vector<CLogDetectionItem>& items) override;
  void AppendSummaryEntries(const std::vector<CSummaryItem>& entries) override;
  void PurgeListFront(ListId list, std::size_t count) override;
  void ClearList(ListId list) override;
  void RefreshList(ListId list) override;
  std::size_t ListTopIndex(ListId list) const override;
  void SetListTopIndex(ListId list, std::size_t index) override;
  void SetCounterText(const std::string& text) override;
  void SetBoxState(int index, BoxDisc disc, const std::string& tooltip) override;
  void SetButtonState(Button button, bool enabled, bool pressed) override;
  void SetDirectState(DirectState state) override;
  void SetDirectTooltip(const std::string& text) override;
  void ShowBalloon(Button button, const std::string& title, const std::string& text, int iconId,
                   int durationMs, double xFraction, double yFraction) override;
  void SetLongRaceIndicator(bool shown, const std::string& text) override;
  void SetVersionText(const std::string& text) override;
  void SetCheckBoxes(bool logDetections, bool scrollDetections) override;
  void SelectLevelEntry(int index) override;
  void BringToFront() override;
  void SetWaitCursor(bool waiting) override;
  BoxMenuId ShowBoxMenu(int index, const std::vector<BoxMenuItem>& items) override;
  std::optional<ManualEntry> RunManualEntryDialog(const ManualEntryRequest& request) override;
  bool RunConfigurationDialog(ConfigurationSession& session) override;
  ImportRequest RunImportDialog(ImportDialogSetup& setup) override;
  void RunExportDetectionLinesDialog(CExportLinesDialogModel& model) override;
  std::vector<std::size_t> SelectedDetectionRows() const override;
  RemoveRestoreChoice ShowRemoveRestoreMenu(bool removeEnabled, bool restoreEnabled) override;
  bool AskYesNo(const std::string& text, MessageIcon icon, bool defaultYes) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void StartTimer(int id, int periodMs, bool oneShot) override;
  void StopTimer(int id) override;
  void PumpEvents() override;
  // The progress dialog with Cancel over the window, run with exec() while the job works.
  void WaitForJob(CProgressJob& job,
                  const std::function<void(const std::string& line)>& onLine) override;
  bool IsCtrlDown() const override;
  bool IsScrollLockOn() const override;
  bool OpenDocument(const std::string& path) override;
  void CloseWindow() override;

 signals:
  void Closed();

 private:
  void ScheduleDrain();

  EventQueue& m_events;
  Station* m_station = nullptr;
  std::unique_ptr<CLaporaDlg> m_window;
  std::map<int, QTimer*> m_timers;
  // Shared with the wake function: cleared when this front end goes, on the Qt thread.
  std::shared_ptr<QtFrontEnd*> m_self;
  bool m_drainScheduled = false;
  // Shows, at the end of a frame, what the last drained events added (see Station::kDrainFrame).
  QTimer m_showTimer;
  bool m_closed = false;
  std::optional<bool> m_autoAnswer;
  std::optional<bool> m_ctrlOverride;
  std::vector<std::string> m_questions;
  std::vector<std::string> m_messages;
  std::vector<std::string> m_opened;
};

}  // namespace lapora
