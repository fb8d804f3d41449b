// The acquisition station: the state and the algorithms of the main window (opening and
// closing, the handling of every posted event, the timers, the three running lists, the race
// day tracking, the operator's list commands), shown through a FrontEnd. Main thread only:
// every member function, including OnTimer, is called on the thread that runs the front end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/app_settings.h"
#include "foundation/events.h"
#include "foundation/kol_result.h"
#include "foundation/log.h"
#include "station/front_end.h"

namespace lapora {

class CBackgroundExport;
class CChipTable;
class CExportRun;
struct CFtpJob;
class CFtpWorker;
class CLinkProtocol;
class CLinkReactions;
class CResourceMutex;
class CResultsLink;
class CSpeechEngine;
struct LinkReaction;
class CRecordedDetections;
class Clock;
class SettingsStore;
class SoundPlayer;

// What the Station works with; everything is owned by the caller and outlives the Station.
struct StationParts {
  AppSettings& settings;
  SettingsStore& store;
  Logger& log;
  EventQueue& events;
  Clock& clock;
  SoundPlayer& sound;
  CRecordedDetections& records;
  CChipTable& chipTable;
  // The program's own files: the help document, a chip table that comes with the program
  // (Folders::GetSharedFolder); also the export's default folder unless exportFolder is set.
  std::string programFolder;
  std::string dataFolder;              // the chip table is looked for here first
  std::string incomingDetectionsPath;  // this run's incoming-detections file
  std::string versionText;             // "Version 1.40 - ..."
  // Makes the speech engine when Scroll Lock is on as the window opens; may be empty.
  std::function<std::unique_ptr<CSpeechEngine>()> makeSpeech;
  // Where the named lock "Summary" lives (Folders::GetLockFolder); the data folder when empty.
  std::string lockFolder = {};
  // The export's default folder (Folders::GetDefaultExportFolder); programFolder when empty.
  std::string exportFolder = {};
  // Commands pressed as by the operator once the window runs (the --connect and --direct
  // options): "Connect to boxes", then the direct connection.
  bool connectBoxesAtStart = false;
  bool directConnectionAtStart = false;
  // The port of the FTP servers the uploads go to (tests run their own server elsewhere).
  int ftpPort = 21;
  // Temporary files of the import (a box's data read over HTTP); null: URLs cannot be read.
  TempFiles* tempFiles = nullptr;
};

class Station {
 public:
  // Timers of the main window.
  static constexpr int kTimerDayTracking = 33861;   // 500 ms, repeating
  static constexpr int kTimerExportStep = 34966;    // 1000 ms, re-armed after each run
  static constexpr int kTimerConfigDialog = 22662;  // 100 ms, once
  static constexpr int kTimerPing = 34137;          // 30 s, repeating
  static constexpr int kTimerRefresh = 17732;       // 500 ms, once
  static constexpr int kTimerLinkRequests = 34146;  // 300 ms, once: the link's first requests
  static constexpr int kTimerLinkRefusal = 8583;    // 1000 ms, once: too old a results software
  static constexpr int kTimerStartCommands = 4211;  // at once, once: the commands asked at start
  static constexpr int kDayTrackingMs = 500;
  static constexpr int kExportStepMs = 1000;
  static constexpr int kConfigDialogMs = 100;
  static constexpr int kPingMs = 30000;
  static constexpr int kRefreshMs = 500;

  // List caps: reaching the limit deletes the oldest kPurgeCount entries in one go.
  static constexpr std::size_t kDetectionsPurgeAt = 12001;
  static constexpr std::size_t kSummaryPurgeAt = 8001;
  static constexpr std::size_t kPurgeCount = 2000;
  // After a purge, and when "Scroll" gets checked, the detections list shows its last lines
  // from this many entries before the end.
  static constexpr std::size_t kScrollBackLines = 15;
  // Events handled per drained batch (one list insert and one repaint per batch).
  static constexpr std::size_t kMaxBatch = 500;
  // A window turn's share of a burst: events are handled for at most kDrainTurn, and what they
  // added is shown at most once per kDrainFrame (and whenever none is left). Showing costs the
  // lists' layout, so at race pace it is paid per frame, not per few hundred detections.
  static constexpr std::chrono::milliseconds kDrainTurn{10};
  static constexpr std::chrono::milliseconds kDrainFrame{40};

  static constexpr int kBoxSlots = 4;

  Station(StationParts parts, FrontEnd& front);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // The opening sequence of the main window.
  void Open();
  // The closing sequence (Exit button, close box, Escape). Without Ctrl held, plays the exit
  // sound and asks; returns false (nothing changed) when the operator answers No.
  // Refused (false) while an operator command runs.
  bool Close();
  bool IsOpen() const { return m_open; }
  // An operator command runs; it may be waiting (a box thread ending, an upload stopping) with
  // the window alive. Meanwhile the window takes no input and commands are refused, so none
  // re-enters another: every operator entry point below returns at once while busy.
  bool IsBusy() const { return m_commandDepth > 0; }

  // Handles up to maxEvents posted events, then shows what they added to the lists. Returns
  // the number handled. May be re-entered from a handler that pumps events.
  std::size_t DrainEvents(std::size_t maxEvents = kMaxBatch);
  // One turn of the window's loop over posted events: handles them for up to `turn`, and shows
  // what they added (lists, counter) only when `frame` has passed since it was last shown, so
  // that a steady flow is shown once a frame, not once per few detections.
  struct PacedDrain {
    bool eventsLeft = false;  // the caller comes back on its next turn
    bool unshown = false;     // entries wait to be shown: call ShowPending within a frame
  };
  PacedDrain DrainEventsPaced(std::chrono::milliseconds turn = kDrainTurn,
                              std::chrono::milliseconds frame = kDrainFrame);
  // Shows what the handled events added and is not shown yet.
  void ShowPending();
  void OnTimer(int id);

  // Operations of the main window used by the other parts.
  void RefreshBoxStatesAndCounter();
  void UpdateLongRaceIndicator();
  // One run of the race-day tracking (timer 33861).
  void TrackRaceDay();
  // Adds entries to the lists at once (posted ones arrive through DrainEvents).
  void AddDetectionItem(const CLogDetectionItem& item);
  void AddSummaryEntry(const CSummaryItem& entry);

  // Operator commands.
  // A command button of the window (F12 gives kInsertDetection); kExit runs Close.
  // The box slots and the operator's detection operations (main thread). The toggle button
  // goes through Command(Button::kConnectBoxes), which knows whether it was pressed.
  void ToggleBoxConnections(bool releasing);
  void BoxDiscClicked(int index);  // index 0..3: opens the box menu of that slot
  void DetectionsContextMenu();    // right click on the detections list
  void Command(Button button);
  // Records an accepted manual entry (the dialog's, or the console's after CheckManualEntry).
  CKolResult InsertManualEntry(const ManualEntry& entry);
  // The checks of the manual entry dialog's OK against the detectors of the box slots.
  ManualEntryCheckResult CheckManualEntry(const ManualEntryInput& input) const;
  // Removes (valid false) or restores the detections with these record ids, in the list and in
  // the recorded detections, then redraws the list and refreshes the counter.
  RemoveRestoreOutcome SetDetectionsValid(const std::vector<int>& ids, bool valid);
  // Empties the recorded detections and the detections list and starts a new incoming file.
  void ResetDetectionList();
  // The incoming-detections file of the recorded detections now.
  const std::string& IncomingDetectionsPath() const { return m_incomingPath; }
  // The four box slots (the console's box commands).
  CBoxSlots& BoxSlots() { return *m_boxSlots; }
  void ClearList(ListId list);             // the three "Clear those logs" buttons
  void SetLogDetections(bool checked);     // check box "Detections"
  void SetScrollDetections(bool checked);  // check box "Scroll"
  void SelectLogLevel(int entryIndex);     // the level selector
  void OpenHelpDocument();                 // the help image
  void BackgroundMenuClosed();             // after the window-background menu

  // The entries of the level selector (build language) and the one that shows a level.
  static std::vector<std::string> LevelEntries();
  static int LevelEntryFor(int level);

  // The content of the three lists, for the front ends' views.
  const std::deque<CLogDetectionItem>& DetectionItems() const { return m_detections; }
  const std::deque<CSummaryItem>& SummaryEntries() const { return m_summary; }
  const std::deque<std::string>& LogLines() const { return m_logList.Lines(); }

  AppSettings& Settings() { return m_parts.settings; }
  // The "Direct Dorix-Pro connection" toggle pressed (on) or released, as by the operator.
  void SetDirectConnection(bool on);
  bool IsDirectConnectionOn() const;
  // The direct connection: the pusher of recorded detections (DetectionIntake::SetPusher).
  CResultsLink& ResultsLink() { return *m_link; }
  // The detector identifiers last listed by the results software (empty when not connected).
  const std::vector<std::string>& ResultsDetectorList() const;

  // Queues an FTP upload (the detection-lines export); the worker runs the jobs one at a time
  // once the window has opened, and their start and end are logged.
  void QueueFtpJob(std::unique_ptr<CFtpJob> job);
  CFtpWorker& FtpWorker() { return *m_ftpWorker; }
  // FtpServers.dat, in the data folder.
  std::string FtpServersFilePath() const;
  std::string DefaultExportFolder() const;

  // The detection-lines export. The dialog ("Export global des détections..." of the window
  // menu) runs through the front end; the background step runs from timer 34966; the button
  // "Export all recorded detections" writes every valid detection to GVarnexExportFile.
  void OpenExportDetectionLinesDialog();
  // The configuration dialog; after OK the slots and settings are committed and saved.
  void RunConfigurationDialog();
  // The import of a box data file: the dialog, then the chosen replay, import or save.
  void RunImport();
  // The background step: a due export runs on a thread of its own; the step never waits.
  void BackgroundExportTick();
  const CBackgroundExport& BackgroundExport() const { return *m_backgroundExport; }
  bool ExportAllRecordedDetections();

  // The speech engine, null unless Scroll Lock was on when the window opened.
  CSpeechEngine* Speech() { return m_speech.get(); }
  FrontEnd& Front() { return m_front; }

 private:
  // Marks an operator command as running for its whole extent.
  class CommandScope {
   public:
    explicit CommandScope(Station& station);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    Station& m_station;
  };

  bool CloseSequence();
  // The exports' FTP step: queues to the upload worker from any thread.
  std::function<void(std::unique_ptr<CFtpJob>)> UploadQueuer();
  // One slice of a wait: posted events, timers and repaints are handled, operator input is not.
  void PumpWhileWaiting();
  void HandleEvent(const Event& event);
  void HandleLogLine(const LogLineEvent& event);
  void HandleFtpJobStatus(const FtpJobStatusEvent& event);
  void FlushBatches();
  bool HasUnshown() const;
  void FlushLog();
  void FlushDetections();
  void FlushSummary();
  void ReadWindowSettings();
  void UpdateBoxStatus(int index);
  // The box slots whose picture or tooltip changed since last shown (their figures move with
  // time: reads per second, age of the last read, silence).
  void RefreshChangedBoxStatus();
  void StopBoxThreads();
  // Frees the records the last clear took out of the list on a thread of its own.
  void DisposeClearedRecords();
  void RunManualEntryDialog();
  void Forget();
  void RunStartCommands();
  std::string NewIncomingPath() const;
  void ApplyLinkReaction(const LinkReaction& reaction);
  // The direct-connection button's tooltip: how many detections the results software still
  // has to get (shown when it changed).
  void UpdateDirectTooltip();

  StationParts m_parts;
  FrontEnd& m_front;
  bool m_open = false;
  bool m_closed = false;
  std::unique_ptr<CSpeechEngine> m_speech;
  // The direct connection to the results software; destroyed in reverse order (link last).
  std::unique_ptr<CResourceMutex> m_summaryLock;
  std::unique_ptr<CResultsLink> m_link;
  std::unique_ptr<CLinkProtocol> m_linkProtocol;
  std::unique_ptr<CLinkReactions> m_linkReactions;
  // The detection intake and the box slots; the slots go first, stopping their box threads
  // before the intake and the link they use.
  std::unique_ptr<DetectionIntake> m_intake;
  std::unique_ptr<CBoxLinkShared> m_boxShared;
  std::unique_ptr<BoxLinkServices> m_boxServices;
  std::unique_ptr<CBoxSlots> m_boxSlots;
  std::string m_incomingPath;
  // The folder of the export file chosen last in the configuration dialog, for this run.
  std::string m_lastExportFolder;
  // The import dialog's remembered date, times and folders, for this run.
  ImportDialogMemory m_importMemory;
  // The FTP upload worker: started when the window opens, stopped when it closes.
  std::unique_ptr<CFtpWorker> m_ftpWorker;
  // The dialog's export and the background one take turns at writing.
  std::mutex m_exportTurn;
  // The last background export time and the running background export, for the whole run.
  std::unique_ptr<CBackgroundExport> m_backgroundExport;
  // The freeing of the records cleared last (Forget, closing), off the window thread.
  std::unique_ptr<CExportRun> m_disposal;
  bool m_connectPressed = false;                                 // the toggle as last shown
  std::string m_directTooltip;                                   // as last shown
  std::array<std::optional<BoxSlotView>, kBoxSlots> m_boxViews;  // as last shown
  int m_manualDetectorIndex = 0;  // the detector chosen the last time the dialog was accepted
  // Detections-list items of records up to this id were posted before the last reset: they
  // arrive after it and are not shown (0: none).
  std::int32_t m_dropItemsUpTo = 0;

  std::deque<CLogDetectionItem> m_detections;
  std::deque<CSummaryItem> m_summary;
  LogList m_logList;

  // What the events of the batch being drained add to the lists.
  std::vector<std::string> m_pendingLog;
  std::vector<CLogDetectionItem> m_pendingDetections;
  std::vector<CSummaryItem> m_pendingSummary;
  bool m_refreshPending = false;
  int m_drainDepth = 0;
  std::chrono::steady_clock::time_point m_lastShown{};
  int m_commandDepth = 0;
  bool m_pumpedInCommand = false;
};

}  // namespace lapora
