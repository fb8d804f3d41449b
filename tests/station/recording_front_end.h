// A front end that shows nothing and writes down every call, in order, so that tests can check
// what the Station did and in which order. Answers questions with a preset answer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "export/export_lines_dialog_model.h"
#include "station/front_end.h"

namespace lapora::testing {

class RecordingFrontEnd : public FrontEnd {
 public:
  struct Timer {
    int periodMs = 0;
    bool oneShot = false;
  };
  struct Box {
    BoxDisc disc = BoxDisc::kGrey;
    std::string tooltip;
  };
  struct ButtonState {
    bool enabled = true;
    bool pressed = false;
  };

  void PrepareWindow() override { Record("PrepareWindow"); }
  void AppendLogLines(const std::vector<std::string>& lines) override {
    Record("AppendLogLines " + std::to_string(lines.size()));
    // Lines of the batch that a purge announced with it took already (a burst longer than the
    // list's cap) are not shown, as the window's model reads the list itself.
    std::size_t skipped = std::min(m_logPurgeAhead, lines.size());
    m_logPurgeAhead = 0;
    logLines.insert(logLines.end(), lines.begin() + static_cast<std::ptrdiff_t>(skipped),
                    lines.end());
  }
  void AppendDetectionItems(const std::vector<CLogDetectionItem>& items) override {
    Record("AppendDetectionItems " + std::to_string(items.size()));
    detectionRows += items.size();
  }
  void AppendSummaryEntries(const std::vector<CSummaryItem>& entries) override {
    Record("AppendSummaryEntries " + std::to_string(entries.size()));
    summaryRows += entries.size();
  }
  void PurgeListFront(ListId list, std::size_t count) override {
    Record("Purge " + Name(list) + " " + std::to_string(count));
    if (list == ListId::kLog) {
      std::size_t shown = std::min(count, logLines.size());
      logLines.erase(logLines.begin(), logLines.begin() + static_cast<std::ptrdiff_t>(shown));
      m_logPurgeAhead = count - shown;
    } else {
      Rows(list) -= count;
    }
  }
  void ClearList(ListId list) override {
    Record("ClearList " + Name(list));
    if (list == ListId::kLog) {
      logLines.clear();
    } else {
      Rows(list) = 0;
    }
  }
  void RefreshList(ListId list) override { Record("RefreshList " + Name(list)); }
  std::size_t ListTopIndex(ListId list) const override {
    auto it = topIndex.find(list);
    return it == topIndex.end() ? 0 : it->second;
  }
  void SetListTopIndex(ListId list, std::size_t index) override { topIndex[list] = index; }

  void SetCounterText(const std::string& text) override {
    Record("SetCounterText");
    counterText = text;
  }
  void SetBoxState(int index, BoxDisc disc, const std::string& tooltip) override {
    boxes[index] = {disc, tooltip};
  }
  void SetButtonState(Button button, bool enabled, bool pressed) override {
    buttons[button] = {enabled, pressed};
  }
  void SetDirectState(DirectState state) override {
    Record("SetDirectState");
    directState = state;
  }
  void SetDirectTooltip(const std::string& text) override { directTooltip = text; }
  void SetLongRaceIndicator(bool shown, const std::string& text) override {
    longRaceShown = shown;
    longRaceText = text;
  }
  void SetVersionText(const std::string& text) override {
    Record("SetVersionText");
    versionText = text;
  }
  void SetCheckBoxes(bool logDetections, bool scrollDetections) override {
    Record("SetCheckBoxes");
    logChecked = logDetections;
    scrollChecked = scrollDetections;
  }
  void SelectLevelEntry(int index) override {
    Record("SelectLevelEntry " + std::to_string(index));
    levelEntry = index;
  }
  void BringToFront() override { Record("BringToFront"); }
  void SetWaitCursor(bool) override {}

  BoxMenuId ShowBoxMenu(int index, const std::vector<BoxMenuItem>& items) override {
    Record("ShowBoxMenu " + std::to_string(index));
    boxMenus.push_back(items);
    return boxMenuChoice;
  }
  std::optional<ManualEntry> RunManualEntryDialog(const ManualEntryRequest& request) override {
    Record("RunManualEntryDialog");
    manualRequests.push_back(request);
    return manualEntryAnswer;
  }
  ImportRequest RunImportDialog(ImportDialogSetup& setup) override {
    Record("RunImportDialog");
    return importAnswer ? importAnswer(setup) : ImportRequest{};
  }
  bool RunConfigurationDialog(ConfigurationSession& session) override {
    Record("RunConfigurationDialog");
    return configurationAnswer ? configurationAnswer(session) : false;
  }
  void RunExportDetectionLinesDialog(CExportLinesDialogModel& model) override {
    Record("RunExportDetectionLinesDialog");
    exportSnapshotSizes.push_back(model.Snapshot().size());
  }
  std::vector<std::size_t> SelectedDetectionRows() const override { return selectedRows; }
  RemoveRestoreChoice ShowRemoveRestoreMenu(bool removeEnabled, bool restoreEnabled) override {
    Record(std::string("ShowRemoveRestoreMenu ") + (removeEnabled ? "remove" : "-") + " " +
           (restoreEnabled ? "restore" : "-"));
    return removeRestoreChoice;
  }

  bool AskYesNo(const std::string& text, MessageIcon icon, bool defaultYes) override {
    Record("AskYesNo");
    questions.push_back(text);
    questionIcons.push_back(icon);
    questionDefaults.push_back(defaultYes);
    return answer;
  }
  void ShowMessage(const std::string& text, MessageIcon) override {
    Record("ShowMessage");
    messages.push_back(text);
  }
  void StartTimer(int id, int periodMs, bool oneShot) override {
    Record("StartTimer " + std::to_string(id));
    timers[id] = {periodMs, oneShot};
  }
  void StopTimer(int id) override {
    Record("StopTimer " + std::to_string(id));
    timers.erase(id);
  }
  // A job's wait: onJob sees the job first (to cancel it, say), then the wait pumps as any.
  void WaitForJob(CProgressJob& job,
                  const std::function<void(const std::string& line)>& onLine) override {
    if (onJob) {
      onJob(job);
    }
    FrontEnd::WaitForJob(job, onLine);
  }
  // A wait of the Station's handles the window's events here: counted, and onPump runs.
  void PumpEvents() override {
    ++pumps;
    if (onPump) {
      onPump();
    }
  }
  bool IsCtrlDown() const override { return ctrlDown; }
  bool IsScrollLockOn() const override { return scrollLockOn; }
  bool OpenDocument(const std::string& path) override {
    Record("OpenDocument");
    openedDocuments.push_back(path);
    return true;
  }
  void CloseWindow() override { Record("CloseWindow"); }

  // The calls whose name starts with prefix, in order.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : calls) {
      if (call.rfind(prefix, 0) == 0) {
        out.push_back(call);
      }
    }
    return out;
  }

  std::vector<std::string> calls;
  std::vector<std::string> logLines;
  std::size_t detectionRows = 0;
  std::size_t summaryRows = 0;
  std::map<ListId, std::size_t> topIndex;
  std::string counterText;
  std::map<int, Box> boxes;
  std::map<Button, ButtonState> buttons;
  DirectState directState = DirectState::kConnected;
  std::string directTooltip;
  bool longRaceShown = false;
  std::string longRaceText;
  std::string versionText;
  bool logChecked = false;
  bool scrollChecked = false;
  int levelEntry = -1;
  std::vector<std::string> questions;
  std::vector<MessageIcon> questionIcons;
  std::vector<bool> questionDefaults;
  std::vector<std::string> messages;
  std::map<int, Timer> timers;
  std::vector<std::string> openedDocuments;
  bool answer = true;
  // Scripted answers of the menus and the manual entry dialog.
  BoxMenuId boxMenuChoice = BoxMenuId::kNone;
  std::vector<std::vector<BoxMenuItem>> boxMenus;
  std::optional<ManualEntry> manualEntryAnswer;
  // Plays the configuration dialog: fills and confirms the session, or cancels (empty).
  std::function<bool(ConfigurationSession&)> configurationAnswer;
  // Plays the import dialog: the request it closes with (empty: Cancel).
  std::function<ImportRequest(ImportDialogSetup&)> importAnswer;
  std::vector<ManualEntryRequest> manualRequests;
  std::vector<std::size_t> selectedRows;
  RemoveRestoreChoice removeRestoreChoice = RemoveRestoreChoice::kNone;
  bool ctrlDown = false;
  bool scrollLockOn = false;
  int pumps = 0;
  std::function<void()> onPump;
  std::function<void(CProgressJob&)> onJob;
  // The size of the snapshot of each export dialog opened.
  std::vector<std::size_t> exportSnapshotSizes;

 private:
  static std::string Name(ListId list) {
    switch (list) {
      case ListId::kDetections:
        return "detections";
      case ListId::kSummary:
        return "summary";
      case ListId::kLog:
        return "log";
    }
    return "?";
  }
  std::size_t& Rows(ListId list) {
    return list == ListId::kDetections ? detectionRows : summaryRows;
  }
  void Record(const std::string& call) { calls.push_back(call); }

  // Log lines of the next batch that the purge announced with it already took.
  std::size_t m_logPurgeAhead = 0;
};

}  // namespace lapora::testing
