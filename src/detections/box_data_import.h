// The import of box data files: the line parser of the four line forms, the scan of a file over
// a day and a time span with its information lines, the purge of repeats, the checks of the
// import dialog, and the import command that replays, adds or saves the found detections.
// The search and the command may run on any one thread at a time (a worker, so that the window
// stays free); their callbacks run on that thread. The recorded list, the chip table and the
// intake lock for themselves.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/chrono.h"

namespace lapora {

struct AppSettings;
class CChipTable;
class CRecordedDetections;
class DetectionIntake;
class Logger;
class SettingsStore;
class SoundPlayer;
class TempFiles;

// One detection found in a box data file.
class CDetection {
 public:
  CDetection() = default;
  CDetection(const CChrono& timeOfDay, const CChrono& absTime, std::string chip, std::string bib)
      : timeOfDay(timeOfDay), absTime(absTime), chip(std::move(chip)), bib(std::move(bib)) {}
  CDetection(const CDetection&) = default;
  CDetection(CDetection&&) = default;
  CDetection& operator=(const CDetection&) = default;
  CDetection& operator=(CDetection&&) = default;
  virtual ~CDetection() = default;

  CChrono timeOfDay;  // race time of day, before the time correction
  CChrono absTime;    // absolute date and time
  std::string chip;
  std::string bib;  // the table's bib written with "%d", else the chip
};

// Longest line piece of a box data file; a longer line is refused whole.
inline constexpr std::size_t kBoxDataMaxLine = 511;
// Longest echo of a refused line in the information lines.
inline constexpr std::size_t kBoxDataEchoMax = 200;

// Reads the lines of a box data file as the bytes arrive, keeping no more of a line than the
// longest line allowed: a file without line ends costs one block and one line of memory, never
// its size. The file stays the caller's; one thread at a time.
class CBoxDataLineReader {
 public:
  explicit CBoxDataLineReader(std::FILE* file);
  // The next line without its line end (LF or CR LF); false at the end of the file. *tooLong
  // tells a line of more than kBoxDataMaxLine characters, of which *line holds the first
  // kBoxDataMaxLine.
  bool Next(std::string* line, bool* tooLong);
  // Bytes read from the file so far.
  std::uint64_t BytesRead() const { return m_bytesRead; }

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  std::FILE* m_file;
  std::unique_ptr<char[]> m_block;
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
  bool m_atEnd = false;
  std::uint64_t m_bytesRead = 0;
};

// A refused line as the information lines show it: at most kBoxDataEchoMax characters, the
// last three "..." when it was cut.
std::string BoxDataLineEcho(std::string_view line);

// Splits at every separator: consecutive separators give empty fields, a separator at the very
// end adds no empty last field, an empty text gives no field.
std::vector<std::string_view> SplitBoxDataFields(std::string_view text, char separator);

// One line of a box data file (line end already removed) in one of its four forms: chip,
// absolute time and time of day, both read from the same date and time fields (time "H:M:S.f"
// or "HHMMSS.f"). False with *reason (build language) when the line is refused, an empty chip
// included; the outputs are then unchanged.
[[nodiscard]] bool ParseBoxDataLine(std::string_view line, std::string* chip, CChrono* absTime,
                                    CChrono* timeOfDay, std::string* reason);

// What a scan reports as it goes. Every callback may be empty.
struct ImportScanCallbacks {
  // An information line for the dialog's list.
  std::function<void(const std::string& text)> info;
  // The progress text; false when the operator cancelled.
  std::function<bool(const std::string& text)> progress;
  // A serious error for a message box.
  std::function<void(const std::string& text)> alert;
};

struct ImportScanOptions {
  CChrono start;  // absolute, inclusive
  CChrono end;    // absolute, inclusive
  bool showAbnormal = false;
  int ignoreDelayMs = 50;          // GVarnexIgnoreInputMsDelta
  bool ignoreUnknownTags = false;  // GVarnexIgnoreUnknownTags
};

struct ImportScanResult {
  bool opened = false;
  bool cancelled = false;
  int lines = 0;
  int rejectedUnknown = 0;
  int beforePurge = 0;
  std::vector<std::string> unknownChips;  // in order of first appearance
  std::vector<CDetection> found;          // purged, in time order
};

// The progress dialog's caption while a file is scanned.
std::string ImportScanCaption();

// Reads the file line by line and keeps the detections of the range; the information lines go
// to callbacks.info, sound 140 is played when chips were not in the table (sound may be null).
ImportScanResult ScanBoxDataFile(const std::string& path, const ImportScanOptions& options,
                                 const CChipTable& chipTable, const ImportScanCallbacks& callbacks,
                                 SoundPlayer* sound);

// Removes repeats: sorted by chip then absolute time, an element whose chip equals the previous
// element's and whose time equals it or follows it by less than the delay goes (the previous
// element is the one just visited, kept or not). delayMs <= 0 keeps everything. False (nothing
// changed) when the sorting memory cannot be had.
bool PurgeRepeatedDetections(std::vector<CDetection>& found, int delayMs);
// Orders by absolute time (equal times keep their order). False when memory cannot be had.
bool SortDetectionsByTime(std::vector<CDetection>& found);

// ---------------------------------------------------------------------------------------------
// Search.

enum class ImportField { kNone, kFile, kDate, kStartTime, kEndTime, kOutput };

struct ImportSearchInput {
  int year = 0;
  int month = 0;
  int day = 0;
  std::string startText;
  std::string endText;
  std::string fileField;  // a path, or a URL starting with "http"
  bool showAbnormal = false;
};

// The checks of the Search button before the file is read: the two times, then the date (a real
// calendar day that the time values can hold).
struct ImportSearchCheck {
  bool ok = false;
  std::string message;  // the warning when refused
  ImportField faultyField = ImportField::kNone;
  std::string dateText;     // "%02d/%02d/%04d", remembered even when a time is refused
  int correctionIndex = 0;  // index of the date among race days 0 to 3, 0 when none
  CChrono start;            // absolute
  CChrono end;              // absolute
};
ImportSearchCheck CheckImportSearch(const ImportSearchInput& input,
                                    const std::array<std::string, 4>& raceDayDates);

// What a search uses; every reference outlives the call.
struct ImportSearchServices {
  const CChipTable& chipTable;
  const AppSettings& settings;
  TempFiles* tempFiles = nullptr;  // for downloads; null: URLs cannot be read
  // Downloads url into path; false with *error on failure (then no file is left). Empty:
  // GetInternetFile, reporting the bytes received through callbacks.progress, which can stop
  // it.
  std::function<bool(const std::string& url, const std::string& path, std::string* error)>
      download{};
  SoundPlayer* sound = nullptr;
  ImportScanCallbacks callbacks{};
};

struct ImportSearchOutcome {
  ImportSearchCheck check;  // ok false: the warning to show, nothing was read
  std::array<std::string, 2> headers;
  ImportScanResult scan;
};

// The Search button: checks, download of a URL into a temporary file (removed afterwards), the
// two header lines (shown through callbacks.info) and the scan.
ImportSearchOutcome RunImportSearch(const ImportSearchInput& input,
                                    const ImportSearchServices& services);

// ---------------------------------------------------------------------------------------------
// Dialog lists.

// The 22 entries of the box id list: "31     CLASSIC", then "10     " to "30     ".
std::vector<std::string> ImportBoxIdEntries();
// The box id of an entry: its first word.
std::string ImportBoxIdOfEntry(const std::string& entry);
// The entry as shown: " (?)" appended when the results software announced its detector ids
// (announced not empty) and this id is not among them.
std::string ImportBoxIdDisplay(const std::string& entry, const std::vector<std::string>& announced);

// What the dialog remembers from one opening to the next (owned by the caller): the date
// "%02d/%02d/%04d", the two time texts, and the folders last used by the two file choosers
// (the "ImportDetections" keys "CurrentParseDir" and "CurrentSaveDir").
struct ImportDialogMemory {
  std::string dateText;
  std::string startText;
  std::string endText;
  std::string parseDir;
  std::string saveDir;
};

// ---------------------------------------------------------------------------------------------
// Getting the current data of a connected box.

// The box a replay goes through: its number, connection name and detector label.
struct ImportBoxIdentity {
  int number = 0;
  std::string connectionName;
  std::string detectorLabel;
};

// The outcome of asking a box to pack its data.
struct ImportBoxFetch {
  bool ok = false;        // false: the file field shows "Failure"
  std::string url;        // "http://" + host + "/currentData.csv"
  ImportBoxIdentity box;  // attached to the import
};

// The URL of a box's current data.
std::string BoxCurrentDataUrl(const std::string& host);

enum class PackWaitResult { kSucceeded, kFailed, kNotSent, kTimedOut, kLost };

struct PackWaitSteps {
  // The box's pack state (written by its box thread when the replies come).
  std::atomic<int>* packState = nullptr;
  int running = 1;
  int failed = 3;
  int idle = 0;
  // Sends "packDataSection" with an empty parameter; false when it could not be sent.
  std::function<bool()> send{};
  // Handles pending events and sleeps about 10 ms.
  std::function<void()> pumpAndSleep{};
  // False once the box is no longer connected (the reply will never come).
  std::function<bool()> connected{};
  // Pumps at most this many times (a box that never answers must not hang the dialog).
  int maxPumps = 6000;
};

// Marks the pack state as running before the command goes, so that an acknowledgement still on
// its way cannot end the wait early, then waits while it stays running. On success the state is
// set back to idle.
PackWaitResult WaitForBoxPack(const PackWaitSteps& steps);

// What the import dialog uses; every reference and pointer outlives the dialog.
struct ImportDialogSetup {
  const CChipTable& chipTable;
  const AppSettings& settings;
  ImportDialogMemory& memory;
  TempFiles* tempFiles = nullptr;  // null: URLs cannot be read
  SoundPlayer* sound = nullptr;
  // The detector ids the results software announced (empty: none announced).
  std::vector<std::string> announcedIds{};
  // Whether box 1 to 4 is connected now (empty: none is).
  std::function<bool(int box)> boxConnected{};
  // Has box 1 to 4 pack its current data and waits for the result (see WaitForBoxPack).
  std::function<ImportBoxFetch(int box)> fetchFromBox{};
  // Downloads a URL into a file; empty: GetInternetFile (cancellable from the progress).
  std::function<bool(const std::string& url, const std::string& path, std::string* error)>
      download{};
  // The settings file, for the detection server's address and the download dialog's keys;
  // null: the two detection-server entries of the source menu are disabled.
  SettingsStore* store = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Closing actions.

enum class ImportAction { kNone, kReplay, kImport, kSave };

// The Yes/No question of Replay and Simple import (empty for the others).
std::string ImportActionQuestion(ImportAction action);

struct ImportSaveCheck {
  bool ok = false;
  std::string message;  // the warning when refused
  std::string path;     // the output path with ".kol" added when needed
  bool exists = false;  // the file exists: ask overwriteQuestion, and on Yes RemoveImportOutput
  std::string overwriteQuestion;
};
// ".kol" is appended when the last four characters, in upper case, are not ".KOL".
std::string ImportOutputPath(const std::string& text);
ImportSaveCheck CheckImportSave(const std::string& outputText);
// Deletes the output file the operator agreed to replace; false with *message when it stays.
bool RemoveImportOutput(const std::string& path, std::string* message);

// ---------------------------------------------------------------------------------------------
// Import command.

// The dialog's results.
struct ImportRequest {
  ImportAction action = ImportAction::kNone;
  std::vector<CDetection> found;  // consumed by the command
  std::array<std::string, 2> headers;
  std::string boxId;
  int correctionIndex = 0;                    // k: k * 24 hours added
  std::optional<ImportBoxIdentity> attached;  // the box the file came from, if any
  std::string outputPath;                     // save only
};

// What the command uses; every reference outlives the call and may be used from the thread
// that runs the command (the logger, the intake, the records and the sound player are
// thread-safe; the settings are read once at the start). The callback may be empty.
struct ImportCommandServices {
  Logger& log;
  DetectionIntake& intake;
  CRecordedDetections& records;
  const AppSettings& settings;
  // Progress text; false when the operator cancelled.
  std::function<bool(const std::string& text)> progress{};
};

struct ImportCommandOutcome {
  int done = 0;      // detections handled
  int recorded = 0;  // replay: kept by the repeat filter; import: added; save: lines written
  bool cancelled = false;
  bool failed = false;       // the output file could not be made or written
  std::string errorMessage;  // failed: the text of the message box the caller shows
};

// The progress dialog's caption of an action.
std::string ImportCommandCaption(ImportAction action);

// Runs the action closing the dialog (nothing for kNone). Replay goes through the intake as a live
// detection would, into a box of its own that has the attached box's identity (or number 0, host
// "file", port 0 and the box id as detector label), so that no box thread's last-detections list is
// shared. Import adds records without writing the incoming file; save appends detection lines to
// the output file. A cancel stops between two detections: what was handled stays recorded (or
// written, whole lines), the rest stays in request.found, and the log says how far it went. The
// caller refreshes the counter, shows errorMessage and plays the end sound (134), whatever the
// action.
ImportCommandOutcome RunImportCommand(ImportRequest& request,
                                      const ImportCommandServices& services);

}  // namespace lapora
