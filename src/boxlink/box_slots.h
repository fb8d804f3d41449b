// CBoxSlots: the four box slots of the station (boxes 1..4), their settings in the settings
// file, their status display, the connection and disconnection of all boxes, the box menu and
// its actions, the clock buttons, and the console's commands for all of these. What belongs to
// the front end (questions, the toggle button, cursor, timers, event pump, speech) comes in
// through BoxSlotsHooks. Main thread only; the box threads only post events.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boxlink/box_supervisor.h"
#include "boxlink/ostra_box.h"
#include "foundation/text.h"

namespace lapora {

class CRecordedDetections;
class SettingsStore;

inline constexpr int kBoxSlotCount = 4;
inline constexpr char kBoxSlotsSection[] = "OstraBoxes";

// The state of a slot as its picture shows it.
enum class BoxSlotState {
  kUndefined,     // grey: not declared (no address or port 0)
  kNotConnected,  // red: declared, neither connected nor reconnecting
  kReconnecting,  // orange: its box thread tries to connect
  kConnected,     // green
};

struct BoxSlotView {
  BoxSlotState state = BoxSlotState::kUndefined;
  std::string tooltip;  // Windows-1252, may hold line feeds
};

// The tooltip lines of a box's figures (build language, each ending in a line feed): the
// silence when there is one, reads per second, detections, last read, reconnections, clock
// offset. clockLimitMs is the alarm limit shown beside an offset beyond it.
std::string BoxFiguresText(const CBoxHealth::Figures& figures, int clockLimitMs);

// Items of the box menu. A front end shows the labels and hands back the id chosen.
enum class BoxMenuId : int {
  kNone = 0,  // the menu was closed without a choice
  kSeparator,
  kConnect,
  kDisconnect,
  kOpenChannel1,
  kStopChannel1,
  kOpenChannel2,
  kStopChannel2,
  kOpenChannel3,
  kStopChannel3,
  kOpenChannel4,
  kStopChannel4,
  kAccept,
  kDismiss,
  kClearBox,
  kGateTime,  // the sub-menu of the gate times; not an action itself
  kGate1s,
  kGate2s,
  kGate3s,
  kGate5s,
  kGate10s,
  kGate15s,
  kGate30s,
  kGunTime,
  kPackToday,
  kPackAll,
  kRewindToday,
  kRewindAll,
};

struct BoxMenuItem {
  BoxMenuId id = BoxMenuId::kNone;
  std::string label;  // Windows-1252; empty for a separator
  bool enabled = false;
  std::vector<BoxMenuItem> submenu;  // the gate times under kGateTime
};

// How ToggleBoxConnections ended.
enum class ToggleOutcome {
  kCancelled,        // the operator answered No to the disconnection question
  kNoneDeclared,     // no slot is declared: alert
  kDisconnected,     // some box was active: all were disconnected
  kConnecting,       // the declared boxes are being initialised, each on its box thread
  kNoneInitialised,  // no declared box could be connected: alert
  kConnected,        // at least one box connected; its box thread runs
};

struct ToggleResult {
  ToggleOutcome outcome = ToggleOutcome::kCancelled;
  int declared = 0;
  int initialised = 0;     // boxes InitBox connected (known once the connection has finished)
  int threadsStarted = 0;  // box threads started to initialise the declared boxes
};

// What the front end does for the slots. Every hook may be left empty: it then does nothing,
// except askYesNo, whose absence answers No (nothing is changed without the operator's Yes).
struct BoxSlotsHooks {
  // A Yes/No question (question icon, Yes by default); true for Yes.
  std::function<bool(const std::string& question)> askYesNo;
  // Shows the "Connect to boxes" toggle button pressed or released.
  std::function<void(bool pressed)> showConnectButton;
  std::function<void()> bringToFront;
  std::function<void(bool waiting)> setWaitCursor;
  // Restarts the main window's one-shot 500 ms refresh timer (box pictures and counter).
  std::function<void()> restartRefreshTimer;
  // Refreshes the detection count display at once.
  std::function<void()> refreshCounter;
  // Handles pending events while a box thread ends (may re-enter OnBoxStatus).
  std::function<void()> pumpEvents;
  // Refreshes the picture of box 1..4 from SlotView.
  std::function<void(int boxNumber)> updateBoxStatus;
  // Speaks a short text; empty when the speech is off.
  std::function<void(const std::string& text)> say;
  // The connection of all boxes has finished (outcome kNoneInitialised or kConnected).
  std::function<void(const ToggleResult& result)> connectAllFinished;
};

// What a box menu action did with its commands.
struct BoxActionResult {
  bool performed = false;   // false when the slot is unknown or not declared
  bool sendFailed = false;  // the (last) command of the action could not be sent
  std::string command;      // the keyword of that command
  std::string error;        // SendCommand's error text
};

// A console command of the box slots, parsed.
struct BoxSlotsCommand {
  enum class Kind { kToggleConnections, kBoxMenu, kSyncClocks, kShowClocks };
  Kind kind = Kind::kToggleConnections;
  int box = 0;                        // 1..4 for kBoxMenu
  BoxMenuId item = BoxMenuId::kNone;  // for kBoxMenu
};

// Reads "connect", "sync-clocks", "show-clocks" and "box N connect|disconnect|open C|stop C|
// accept|dismiss|clear|gate S|gun|pack-today|pack-all|rewind-today|rewind-all" (words separated
// by blanks, letter case ignored; S is 1, 2, 3, 5, 10, 15 or 30, "5s" accepted). False when the
// text is none of them: for a text that starts with "box", errorText gets the usage message,
// otherwise it is cleared (the text may be another console command). Pure.
bool ParseBoxSlotsCommand(std::string_view text, BoxSlotsCommand* command, std::string* errorText);

class CBoxSlots {
 public:
  // services, store and records must outlive the slots. detectionFilePath is the run's
  // incoming-detections file, opened when boxes get connected and closed when all are
  // disconnected.
  CBoxSlots(BoxLinkServices& services, SettingsStore& store, CRecordedDetections& records,
            std::string detectionFilePath, BoxSlotsHooks hooks = {});
  CBoxSlots(const CBoxSlots&) = delete;
  CBoxSlots& operator=(const CBoxSlots&) = delete;
  ~CBoxSlots();

  void SetHooks(BoxSlotsHooks hooks) { m_hooks = std::move(hooks); }
  // The incoming-detections file that connecting the boxes opens from now on (after a list
  // reset started a new one).
  void SetDetectionFilePath(std::string path) { m_detectionFilePath = std::move(path); }

  // Box 1..4; null for any other number.
  COstraBox* Box(int boxNumber);
  const COstraBox* Box(int boxNumber) const;

  // Settings. Index 0..3 is the slot index in the keys (box number - 1). LoadBoxConfig picks
  // the transport kind from the address (serial for "COMn" and "/dev/..." names): that is
  // only done here, so a slot whose address changes kind later keeps its transport until the
  // next start. False, changing nothing, for a bad index or a slot whose box thread runs.
  void LoadBoxConfigs();
  bool LoadBoxConfig(int index);
  bool SaveBoxConfig(int index);
  void SaveAllBoxConfigs();

  // Status display of box 1..4 (an unknown number shows as undefined). A box connected at
  // least once in this run also shows its figures.
  BoxSlotView SlotView(int boxNumber) const;
  // The figures of box 1..4 now (all zero for an unknown number).
  CBoxHealth::Figures Figures(int boxNumber) const;
  // The console's "boxes" table: a header line, then one line per slot.
  std::vector<std::string> FiguresTable() const;
  int DeclaredCount() const;
  int ActiveCount() const;
  int ConnectedCount() const;
  // The toggle button is pressed while at least one box is connected.
  bool AnyBoxConnected() const { return ConnectedCount() > 0; }
  // The detector labels of the boxes whose detector label and host are both non-empty, in
  // box order: the choices of a manual entry.
  std::vector<std::string> ManualEntryDetectors() const;

  // The toggle button. releasing: the click releases the pressed button (the operator asks to
  // disconnect), which asks first. Connecting returns at once (kConnecting): the declared
  // boxes are initialised concurrently on their own threads, which read on at once when their
  // box is up; once every one has reported (OnBoxInitDone), the outcome is shown (alert, or
  // the button pressed and the connection sound) and given to connectAllFinished. The
  // incoming-detections file is opened before any box thread starts.
  ToggleResult ToggleBoxConnections(bool releasing);
  // A connection of all boxes has boxes still initialising.
  bool IsConnectingAll() const { return m_round.has_value(); }
  // Handler of BoxInitDoneEvent. Reports of a round that was given up are ignored.
  void OnBoxInitDone(int boxNumber, int round, bool initialised);
  // Gives up a connection of all boxes under way (its boxes go on as they are), stops the four
  // box threads (handling events meanwhile), waits a second more while handling events,
  // closes the detection file and restarts the refresh timer.
  void DisconnectAllBoxes();

  // The box menu of box 1..4 as it opens now; empty when the slot is not declared (no menu
  // is shown then). ctrlHeld: the Ctrl key is held as the menu opens (the eight channel
  // items replace accept and dismiss).
  std::vector<BoxMenuItem> BuildBoxMenu(int boxNumber, bool ctrlHeld) const;
  // Whether the item can be chosen now (the channel items whatever Ctrl says).
  bool IsBoxMenuItemEnabled(int boxNumber, BoxMenuId item) const;
  // Performs the chosen item (kNone: nothing), then restarts the refresh timer and logs the
  // failure of the action's last sending. Nothing at all for an undeclared slot.
  BoxActionResult RunBoxMenuAction(int boxNumber, BoxMenuId item);
  // The console's "box N ..." command: refused with a log line when the item is not enabled
  // now, like a greyed menu item; otherwise RunBoxMenuAction. typed is the command as typed.
  bool RunConsoleBoxCommand(int boxNumber, BoxMenuId item, const std::string& typed);

  // The clock buttons: enabled while some box is connected.
  bool ClockButtonsEnabled() const { return AnyBoxConnected(); }
  // Asks, then sends setDate and setTime to each connected box in box order, one right after
  // the other; a failed setDate does not keep setTime back. False when the operator said No.
  bool SynchronizeBoxClocks();
  // The next date and time reports of each connected box are logged at level 0.
  void ShowBoxClocks();

  // Handlers of the box threads' events.
  void OnBoxStatus(int boxNumber, int failed);
  void OnBoxPingError(int boxNumber);
  // StopBoxThread of one box with the event pump.
  void StopBoxThread(int boxNumber);

 private:
  bool Ask(const Message& question) const;
  void Pump() const;
  void PauseWhilePumping(int milliseconds) const;
  std::string BoxPrefix(const COstraBox& box) const;
  // Sends one command of a menu action and keeps its outcome in result.
  bool SendForAction(COstraBox& box, const std::string& command, const std::string& parameter,
                     BoxActionResult* result);
  // The end of a connection of all boxes, once no box is left initialising; its outcome.
  ToggleResult FinishConnectAll();

  // A connection of all boxes under way.
  struct ConnectRound {
    int id = 0;
    std::array<bool, kBoxSlotCount> waiting{};  // boxes whose report has not come yet
    ToggleResult result;
    bool openedFile = false;  // the round opened the detection file (it was closed)
  };

  BoxLinkServices& m_services;
  SettingsStore& m_store;
  CRecordedDetections& m_records;
  std::string m_detectionFilePath;
  BoxSlotsHooks m_hooks;
  std::array<std::unique_ptr<COstraBox>, kBoxSlotCount> m_boxes;
  BoxSupervisor m_supervisor;
  std::optional<ConnectRound> m_round;
  int m_lastRoundId = 0;
};

}  // namespace lapora
