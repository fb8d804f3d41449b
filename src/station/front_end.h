// What the Station asks of the program's face: the main window (Qt) or the headless console.
// The Station owns the content of the three lists; the front end is told what changed, after
// the change, and shows it. Every call comes from the main thread, and so must every call back
// into the Station (operator commands, Station::OnTimer).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/kol_result.h"

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
  // text is "+24h" and the like; hidden (label and picture) when shown is false.
  virtual void SetLongRaceIndicator(bool shown, const std::string& text) = 0;
  virtual void SetVersionText(const std::string& text) = 0;
  virtual void SetCheckBoxes(bool logDetections, bool scrollDetections) = 0;
  // The level selector shows Station::LevelEntries(); this selects one of them.
  virtual void SelectLevelEntry(int index) = 0;
  virtual void BringToFront() = 0;
  virtual void SetWaitCursor(bool waiting) = 0;

  // Questions and messages. Texts are Windows-1252 and may hold line feeds.
  virtual bool AskYesNo(const std::string& text, MessageIcon icon, bool defaultYes) = 0;
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;

  // Timers by id: when one fires the front end calls Station::OnTimer(id). Starting a timer
  // that runs restarts it with the new period.
  virtual void StartTimer(int id, int periodMs, bool oneShot) = 0;
  virtual void StopTimer(int id) = 0;

  // Lets pending events (window events, posted events, timers) run; used while waiting.
  virtual void PumpEvents() = 0;

  // Keyboard state at this moment.
  virtual bool IsCtrlDown() const = 0;
  virtual bool IsScrollLockOn() const = 0;

  // Opens a document with the desktop's default application; false when it could not.
  virtual bool OpenDocument(const std::string& path) = 0;
  // The closing sequence has run: close the window and leave the event loop.
  virtual void CloseWindow() = 0;
};

}  // namespace lapora
