// The headless front end: the Station's lists go to an output stream in UTF-8 (log lines as
// they stand, "detection: " items, "result: " summary entries), operator commands come from
// an input descriptor one per line, and a poll loop runs the posted events and the timers.
// Main thread only, except the wake function given to the event queue (any thread).
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "station/front_end.h"

namespace lapora {

class EventQueue;
class Station;

class ConsoleFrontEnd : public FrontEnd {
 public:
  using CommandHandler = std::function<void(const std::string& arguments)>;

  // input: the descriptor commands are read from (stdin); out: where everything is printed.
  ConsoleFrontEnd(EventQueue& events, int input, std::FILE* out);
  ~ConsoleFrontEnd() override;
  ConsoleFrontEnd(const ConsoleFrontEnd&) = delete;
  ConsoleFrontEnd& operator=(const ConsoleFrontEnd&) = delete;

  // SIGINT and SIGTERM are taken by the loop (as a readable descriptor). Call this on the main
  // thread before any other thread starts, so that every thread inherits the blocked mask.
  static bool BlockTerminationSignals();

  // The station this front end shows; set before Run. Registers the built-in commands.
  void Attach(Station& station);
  // Adds an operator command: `help` lists it with its argument text and description.
  void AddCommand(const std::string& name, const std::string& arguments,
                  const std::string& description, CommandHandler handler);

  // Runs the loop until the station has closed. With a duration, the closing sequence runs
  // (as with Ctrl held) once it has passed; so it does on SIGINT/SIGTERM. Returns 0.
  int Run(std::optional<std::chrono::milliseconds> duration);

  // Runs one command line as the operator typed it (questions it asks are answered Yes).
  void RunCommand(const std::string& line);
  // Prints one line (Windows-1252 text, written in UTF-8).
  void Print(const std::string& text);

  // FrontEnd.
  void PrepareWindow() override {}
  void AppendLogLines(const std::vector<std::string>& lines) override;
  void AppendDetectionItems(const std::vector<CLogDetectionItem>& items) override;
  void AppendSummaryEntries(const std::vector<CSummaryItem>& entries) override;
  void PurgeListFront(ListId, std::size_t) override {}
  void ClearList(ListId) override {}
  void RefreshList(ListId) override {}
  std::size_t ListTopIndex(ListId list) const override;
  void SetListTopIndex(ListId list, std::size_t index) override;
  void SetCounterText(const std::string& text) override { m_counterText = text; }
  void SetBoxState(int index, BoxDisc disc, const std::string& tooltip) override;
  void SetButtonState(Button button, bool enabled, bool pressed) override;
  void SetDirectState(DirectState state) override { m_directState = state; }
  void SetDirectTooltip(const std::string& text) override { m_directTooltip = text; }
  void ShowBalloon(Button, const std::string& title, const std::string& text, int, int, double,
                   double) override {
    Print("balloon: " + title + ": " + text);
  }
  void SetLongRaceIndicator(bool shown, const std::string& text) override;
  void SetVersionText(const std::string& text) override { m_versionText = text; }
  void SetCheckBoxes(bool logDetections, bool scrollDetections) override;
  void SelectLevelEntry(int index) override { m_levelEntry = index; }
  void BringToFront() override {}
  void SetWaitCursor(bool) override {}
  // No pictures to click, no dialog, no list to select in: the console has its own commands
  // for these (box N ..., insert, remove, restore).
  BoxMenuId ShowBoxMenu(int, const std::vector<BoxMenuItem>&) override { return BoxMenuId::kNone; }
  std::optional<ManualEntry> RunManualEntryDialog(const ManualEntryRequest& request) override;
  // No dialog: "Filtrer" and "Exporter maintenant" with the saved settings, and the outcome
  // printed as the dialog would show it.
  // No dialog here: the settings are edited in the settings file; nothing is confirmed.
  bool RunConfigurationDialog(ConfigurationSession&) override { return false; }
  // The typed import command, if one is waiting, in place of the dialog; else nothing chosen.
  ImportRequest RunImportDialog(ImportDialogSetup& setup) override;
  void RunExportDetectionLinesDialog(CExportLinesDialogModel& model) override;
  std::vector<std::size_t> SelectedDetectionRows() const override { return {}; }
  RemoveRestoreChoice ShowRemoveRestoreMenu(bool, bool) override {
    return RemoveRestoreChoice::kNone;
  }
  bool AskYesNo(const std::string& text, MessageIcon icon, bool defaultYes) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void StartTimer(int id, int periodMs, bool oneShot) override;
  void StopTimer(int id) override;
  void PumpEvents() override;
  // Prints "progress: " lines while the job works (its first text at once, then at most one a
  // second), the job's lines as they come, and keeps handling posted events and timers. SIGINT
  // or SIGTERM cancel the job; the program then closes as usual once it has ended.
  void WaitForJob(CProgressJob& job,
                  const std::function<void(const std::string& line)>& onLine) override;
  bool IsCtrlDown() const override { return m_ctrlHeld; }
  bool IsScrollLockOn() const override { return false; }
  bool OpenDocument(const std::string& path) override;
  void CloseWindow() override { m_closed = true; }

  // The summary entry as printed after "result: ": five tab-separated columns.
  static std::string SummaryColumns(const CSummaryItem& entry);
  bool HasTimer(int id) const { return m_timers.count(id) != 0; }

 private:
  struct Timer {
    std::chrono::steady_clock::time_point due;
    int periodMs = 0;
    bool oneShot = false;
  };
  struct Command {
    std::string arguments;
    std::string description;
    CommandHandler handler;
  };

  void RegisterBuiltInCommands();
  void RegisterDetectionCommands();
  // "connect", "box N ...", "sync-clocks", "show-clocks" as typed.
  void RunBoxSlotsCommand(const std::string& typed);
  void InsertTyped(const std::string& arguments);
  // import FILE DATE FROM TO BOXID replay|import|save [OUT]: searched and carried out through
  // the Station's import, as the dialog would be.
  void ImportTyped(const std::string& arguments);
  void RemoveRestoreTyped(const std::string& arguments, bool valid);
  void FireDueTimers();
  void ReadInput();
  void CloseAsWithCtrl();
  // Puts back the input's flags as Run found them (harmless when already done).
  void RestoreInputFlags();
  int PollTimeoutMs(std::optional<std::chrono::steady_clock::time_point> end) const;

  EventQueue& m_events;
  Station* m_station = nullptr;
  int m_input;
  std::FILE* m_out;
  int m_wakePipe[2] = {-1, -1};
  int m_signalFd = -1;
  bool m_inputOpen = true;
  int m_savedInputFlags = -1;  // the input's file status flags before Run, -1 when not changed
  std::string m_inputBuffer;
  std::map<int, Timer> m_timers;
  std::map<std::string, Command> m_commands;
  int m_commandDepth = 0;
  bool m_ctrlHeld = false;
  bool m_closed = false;

  std::string m_counterText;
  std::string m_versionText;
  std::string m_longRaceText;
  bool m_longRaceShown = false;
  std::string m_boxTooltips[4];
  BoxDisc m_boxDiscs[4] = {BoxDisc::kGrey, BoxDisc::kGrey, BoxDisc::kGrey, BoxDisc::kGrey};
  DirectState m_directState = DirectState::kNotConnected;
  bool m_directPressed = false;
  std::string m_directTooltip;
  bool m_logDetections = false;
  bool m_scrollDetections = false;
  bool m_boxesConnected = false;  // the "Connect to boxes" toggle pressed
  bool m_clockButtonsEnabled = false;
  int m_levelEntry = -1;
  std::size_t m_topIndex[3] = {0, 0, 0};
  // The typed import waiting for the Station to ask for its dialog.
  struct PendingImport {
    ImportSearchInput input;
    std::string boxId;
    ImportAction action = ImportAction::kNone;
    std::string output;
  };
  std::optional<PendingImport> m_pendingImport;
};

}  // namespace lapora
