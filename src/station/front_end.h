// What the Station asks of the program's face: the main window (Qt) or the headless console.
// The Station owns the content of the three lists; the front end is told what changed, after
// the change, and shows it. Every call comes from the main thread, and so must every call back
// into the Station (operator commands, Station::OnTimer).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "boxlink/box_slots.h"
#include "detections/box_data_import.h"
#include "detections/detection_list_operations.h"
#include "foundation/kol_result.h"
#include "foundation/progress_job.h"

namespace lapora {

// The three running lists of the main window.
enum class ListId { kDetections, kSummary, kLog };

// The command buttons whose state the Station sets.
enum class Button {
  kConfiguration,
  kConnectBoxes,  // toggle: pressed while at least one box is connected
  kForget,
  kExportAll,
  kInsertDetection,
  kSyncClocks,
  kShowClocks,
  kImport,
  kDirect,  // toggle: the direct connection to the results software
  kExit,
};

// The picture of a box slot.
enum class BoxDisc { kGrey, kRed, kOrange, kGreen };

// The picture of the direct-connection button.
enum class DirectState { kNotConnected, kConnecting, kConnected };

enum class MessageIcon { kQuestion, kExclamation, kInformation, kError };

// The choice made in the detections list's context menu.
enum class RemoveRestoreChoice { kNone, kRemove, kRestore };

class Clock;
class CExportLinesDialogModel;
class ConfigurationSession;

// What the manual entry dialog needs to open.
struct ManualEntryRequest {
  std::vector<std::string> detectors;  // ManualEntryDetectors of the box slots
  int rememberedDetectorIndex = 0;     // the detector chosen the last time the dialog was accepted
  std::array<std::string, 4> raceDayDates;
  const Clock* clock = nullptr;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Opening step 1: the About entry of the window menu and the window icon.
  virtual void PrepareWindow() = 0;

  // Lists. Each call comes after the Station's own list changed the same way.
  virtual void AppendLogLines(const std::vector<std::string>& lines) = 0;
  virtual void AppendDetectionItems(const std::vector<CLogDetectionItem>& items) = 0;
  virtual void AppendSummaryEntries(const std::vector<CSummaryItem>& entries) = 0;
  // The first `count` entries of the list were deleted.
  virtual void PurgeListFront(ListId list, std::size_t count) = 0;
  virtual void ClearList(ListId list) = 0;
  // Entries changed in place (a detection removed or restored): redraw them.
  virtual void RefreshList(ListId list) = 0;
  // The index of the first visible entry; setting it beyond the end shows the end.
  virtual std::size_t ListTopIndex(ListId list) const = 0;
  virtual void SetListTopIndex(ListId list, std::size_t index) = 0;

  // Labels, pictures and controls.
  virtual void SetCounterText(const std::string& text) = 0;  // repainted at once
  virtual void SetBoxState(int index, BoxDisc disc, const std::string& tooltip) = 0;
  virtual void SetButtonState(Button button, bool enabled, bool pressed) = 0;
  virtual void SetDirectState(DirectState state) = 0;
  // The direct-connection button's tooltip (empty: none).
  virtual void SetDirectTooltip(const std::string& /*text*/) {}
  // A warning balloon titled `title` pointing into the button at (xFraction, yFraction) of its
  // size, with the embedded icon, shown for durationMs. Front ends without balloons ignore it.
  virtual void ShowBalloon(Button /*button*/, const std::string& /*title*/,
                           const std::string& /*text*/, int /*iconId*/, int /*durationMs*/,
                           double /*xFraction*/, double /*yFraction*/) {}
  // text is "+24h" and the like; hidden (label and picture) when shown is false.
  virtual void SetLongRaceIndicator(bool shown, const std::string& text) = 0;
  virtual void SetVersionText(const std::string& text) = 0;
  virtual void SetCheckBoxes(bool logDetections, bool scrollDetections) = 0;
  // The level selector shows Station::LevelEntries(); this selects one of them.
  virtual void SelectLevelEntry(int index) = 0;
  virtual void BringToFront() = 0;
  virtual void SetWaitCursor(bool waiting) = 0;

  // The box menu of slot `index` (0..3), opened at the click on its picture moved 4 units right
  // and 5 down; returns the chosen item, BoxMenuId::kNone when it was closed without a choice.
  virtual BoxMenuId ShowBoxMenu(int index, const std::vector<BoxMenuItem>& items) = 0;
  // The manual entry dialog; the accepted entry, or nothing when it was cancelled.
  virtual std::optional<ManualEntry> RunManualEntryDialog(const ManualEntryRequest& request) = 0;
  // The import dialog of box data files; what the operator chose (action kNone for Cancel).
  // Front ends without dialogs return kNone.
  virtual ImportRequest RunImportDialog(ImportDialogSetup& setup) = 0;
  // The configuration dialog over this session (working box slots, settings); modal. True when
  // it closed with OK (the session then holds what to commit). Front ends without dialogs
  // return false.
  virtual bool RunConfigurationDialog(ConfigurationSession& session) = 0;
  // The detection-lines export dialog over this model (its snapshot, settings store, FTP job
  // queue and servers file); modal: returns when it is closed. Front ends without dialogs run
  // the export from the saved settings instead.
  virtual void RunExportDetectionLinesDialog(CExportLinesDialogModel& model) = 0;
  // Rows (indexes into Station::DetectionItems()) selected in the detections list, in order.
  virtual std::vector<std::size_t> SelectedDetectionRows() const = 0;
  // The detections list's context menu, 5 pixels right of the cursor.
  virtual RemoveRestoreChoice ShowRemoveRestoreMenu(bool removeEnabled, bool restoreEnabled) = 0;

  // Questions and messages. Texts are Windows-1252 and may hold line feeds.
  virtual bool AskYesNo(const std::string& text, MessageIcon icon, bool defaultYes) = 0;
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;

  // Timers by id: when one fires the front end calls Station::OnTimer(id). Starting a timer
  // that runs restarts it with the new period.
  virtual void StartTimer(int id, int periodMs, bool oneShot) = 0;
  virtual void StopTimer(int id) = 0;

  // Lets pending events (posted events, timers, repaints) run; used while a command waits.
  // The operator's input to the main window is dropped meanwhile (Station::IsBusy).
  virtual void PumpEvents() = 0;

  // Shows a started job until its work has returned: its caption, its latest progress text and
  // a Cancel that cancels it. The lines the job adds go to onLine (may be empty), on this
  // thread, as they come. Posted events and timers keep running meanwhile; the operator's other
  // commands wait (Station::IsBusy). The caller joins the job afterwards. Without a screen:
  // pending events are handled until the job ends.
  virtual void WaitForJob(CProgressJob& job,
                          const std::function<void(const std::string& line)>& onLine) {
    auto deliver = [&job, &onLine] {
      for (const std::string& line : job.TakeLines()) {
        if (onLine) {
          onLine(line);
        }
      }
    };
    while (!job.WaitFinished(std::chrono::milliseconds(20))) {
      PumpEvents();
      deliver();
    }
    deliver();
  }

  // Keyboard state at this moment.
  virtual bool IsCtrlDown() const = 0;
  virtual bool IsScrollLockOn() const = 0;

  // Opens a document with the desktop's default application; false when it could not.
  virtual bool OpenDocument(const std::string& path) = 0;
  // The closing sequence has run: close the window and leave the event loop.
  virtual void CloseWindow() = 0;
};

}  // namespace lapora
