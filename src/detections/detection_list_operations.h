// The operator's operations on the recorded detections: the checks and the recording of a manual
// entry, removing and restoring detections, forgetting them all and the list reset. Main thread
// only (the interface thread); box threads may record meanwhile: every step that touches the
// recorded list goes through CRecordedDetections, which takes m_recordsMutex itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/chrono.h"
#include "foundation/kol_result.h"

namespace lapora {

struct AppSettings;
class CRecordedDetections;
class Clock;
class DetectionIntake;
class EventQueue;
class Logger;
class SoundPlayer;

// ---------------------------------------------------------------------------------------------
// Manual entry.

// The time-correction entries of the dialog: entry k adds k * 24 hours.
inline constexpr int kTimeCorrectionCount = 4;
// The source name shown in the detections list for a manual detection.
inline constexpr char kManualSourceName[] = "Man.";

// The detector labels offered by the dialog, in box order: the label of every box whose label
// and host name are both non-empty. Each pair is (detector label, host name).
std::vector<std::string> ManualEntryDetectors(
    const std::vector<std::pair<std::string, std::string>>& labelAndHostOfBoxes);

// What the dialog shows when it opens.
struct ManualEntryDefaults {
  std::string timeText;    // the clock time now, "HH:MM:SS.hh"
  int detectorIndex = -1;  // -1 when there is no detector to choose
  int correctionIndex = 0;
};
// rememberedIndex is the detector chosen the last time the dialog was accepted (0 at first); the
// first entry is taken when it is out of range. The correction is today's race day (0 to 3), 0
// when today is none of the race days.
ManualEntryDefaults MakeManualEntryDefaults(std::size_t detectorCount, int rememberedIndex,
                                            const std::array<std::string, 4>& raceDayDates,
                                            const Clock& clock);

// What the operator typed and chose.
struct ManualEntryInput {
  std::string bibText;
  std::string timeText;
  int detectorIndex = -1;  // -1: nothing selected
  int correctionIndex = 0;
};

// An accepted entry.
struct ManualEntry {
  int bibNumber = 0;
  std::string bibText;  // the number written with "%d": leading zeros and trailing text dropped
  std::string detectorLabel;
  int detectorIndex = 0;    // to remember for the next opening
  int correctionIndex = 0;  // 0 to 3
  CChrono absTime;          // the typed time of day, today
};

enum class ManualEntryField { kNone, kBib, kTime, kDetector };

struct ManualEntryCheckResult {
  bool accepted = false;
  ManualEntry entry;    // when accepted
  std::string message;  // the warning to show when refused
  ManualEntryField faultyField = ManualEntryField::kNone;
  bool emptyField = false;  // the faulty field is to be emptied
};

// The checks of the dialog's OK, in order: bib (a number above 0), time, detector. The first
// failure gives its warning; nothing else is changed.
ManualEntryCheckResult ManualEntryCheck(const ManualEntryInput& input,
                                        const std::vector<std::string>& detectors,
                                        const Clock& clock);

// The race time of day of an accepted entry: its time of day plus 24 hours per correction step.
CChrono ManualEntryRaceTime(const ManualEntry& entry);

// What the recording of a manual entry uses; every reference outlives the call. sound may be
// null.
struct ManualDetectionServices {
  DetectionIntake& intake;
  EventQueue& events;
  const AppSettings& settings;
  Logger& log;
  SoundPlayer* sound = nullptr;
};

// Records an accepted entry like a box detection (no repeat filter): stores it (list, incoming
// file, results link), asks for a counter refresh, beeps when detections beep, posts its
// detections-list item (source "Man.") when detections are listed, and logs it. Returns the
// record.
CKolResult InsertManualDetection(const ManualEntry& entry, const ManualDetectionServices& services);

// ---------------------------------------------------------------------------------------------
// Remove and restore.

enum class SelectionKind { kEmpty, kAllValid, kAllRemoved, kMixed };

// The valid flags of the selected detections, as the detections list shows them.
SelectionKind ClassifySelection(const std::vector<CKolResult>& selected);

struct RemoveRestoreMenu {
  bool shown = false;  // no menu for an empty selection
  bool removeEnabled = false;
  bool restoreEnabled = false;
};
RemoveRestoreMenu MenuForSelection(SelectionKind kind);

// The Yes/No question before removing (remove true) or restoring the selected detections: with
// the time and bib texts for one, with their number for several. Empty for no selection.
std::string RemoveRestoreQuestion(const std::vector<CKolResult>& selected, bool remove);

struct RemoveRestoreOutcome {
  // Only what changed counts: a detection already removed (restored) is not removed (restored)
  // again, nor is an id given twice.
  int itemsChanged = 0;         // detections-list items whose flag changed
  int recordsChanged = 0;       // recorded detections whose flag changed
  std::vector<int> unknownIds;  // ids found neither among the items nor in the recorded list
};

// Sets the valid flag (1 valid, 0 removed) of the detections with these record ids: of each
// detections-list item that carries one of them (items may be null: no list), and of the record
// with that id when it is still in the recorded list (after a reset only the item changes).
// Removed records stay recorded and in the incoming file.
RemoveRestoreOutcome ApplyRemoveRestore(CRecordedDetections& records,
                                        std::deque<CLogDetectionItem>* items,
                                        const std::vector<int>& ids, bool valid);

// ---------------------------------------------------------------------------------------------
// Forget all and the list reset.

// The question before forgetting everything, or none when no valid detection is recorded (then
// nothing is asked nor done). It is asked with the stop icon and No as the default answer.
std::optional<std::string> ForgetAllQuestion(int validCount);

struct ForgetAllSteps {
  // Asks the question with the stop icon, No being the default; true for Yes.
  std::function<bool(const std::string& question)> askStopDefaultNo;
  std::function<void()> resetDetectionList;
  // Empties the speech announcer's last announced text; may be empty (no announcer).
  std::function<void()> forgetLastAnnounced;
};
// The Forget button: the question when valid detections exist, the reset on Yes, and in every
// case the announcer's last text forgotten. True when the reset ran.
bool ForgetAllDetections(const CRecordedDetections& records, const ForgetAllSteps& steps);

// The parts of the window that the reset empties. Every callback may be empty.
struct ResetDetectionListSteps {
  // Empties the main window's detections list.
  std::function<void()> emptyWindowList;
  // Empties the last-detections list of each box. Box threads may be running: the callback must
  // do it safely for them (e.g. a request that each box thread honours before its next line).
  std::function<void()> clearBoxesLastDetections;
  std::function<void()> refreshBoxStatesAndCounter;
  // The path of the new incoming-detections file (log folder + "/Lapora-YYYYMMDD-HHMMSS.dat").
  // Called while m_recordsMutex is held: it must not use the recorded list.
  std::function<std::string()> newIncomingPath;
};

struct ResetDetectionListOutcome {
  int forgotten = 0;                 // valid detections the list held
  std::string incomingPath;          // the new incoming-detections file: the current path now
  std::int32_t lastForgottenId = 0;  // id of the last record forgotten, 0 when the list was empty
};

// Empties the recorded list and starts a new incoming-detections file. The count, the emptying
// and the switch of files happen under one hold of m_recordsMutex, so a detection that a box
// records meanwhile is either in the old list and file or the first of the new ones. A new path
// naming a file that already exists (two resets within one second) gets "-2", "-3"... before its
// extension so that each file holds one list, numbered from 1. The record ids go on.
ResetDetectionListOutcome ResetDetectionList(CRecordedDetections& records, Logger& log,
                                             SoundPlayer* sound,
                                             const ResetDetectionListSteps& steps);

}  // namespace lapora
