// The detection-lines export: one file per detector and passage number from a snapshot of the
// recorded detections, in one of three time forms, optionally packed into one ZIP archive and
// queued for upload to FTP servers; its settings, the periodic background export, and the
// export of all recorded detections to one file. The settings are read on the window thread;
// the files are computed and written on an export's own thread (CExportRun) from a snapshot of
// the recorded detections and a copy of the settings (ExportSettingsCopy). Only the snapshots
// and ExportAllRecordedDetections touch shared data, under the records lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "export/detection_statistics.h"
#include "export/export_run.h"
#include "export/ftp_jobs.h"
#include "export/ftp_servers.h"
#include "foundation/chrono.h"
#include "foundation/progress_job.h"

namespace lapora {

class Clock;
class CRecordedDetections;
class Logger;
class SettingsStore;
class SoundPlayer;

inline constexpr char kExportLinesSection[] = "ExportDetectionLines";
inline constexpr char kBackgroundExportSection[] = "ExportDetectionLines.BackgroundExport";
// The detector handicap's key is this prefix followed by the detector label.
inline constexpr char kHandicapKeyPrefix[] = "Handicap-";
inline constexpr char kNoHandicapText[] = "00:00:00.00";
inline constexpr int kDefaultExportPeriodMinutes = 2;

// How the time of a detection is written (setting DisplayDetectionType).
enum ExportDisplayType : int {
  kDisplayClockTime = 0,    // as recorded, detection lines, ".kol"
  kDisplayPassageTime = 1,  // minus the handicap, detection lines, ".kol"
  kDisplayLogica = 2,       // minus the handicap, compact lines with headers, "-ljk.txt"
};
// 0 and 1 as they are, anything else 2 (as the radio buttons show a stored value).
int NormalizeDisplayType(int displayType);
const char* DisplayTypeSuffix(int displayType);

// The saved settings of the export ([ExportDetectionLines] and its background section).
struct ExportSettings {
  std::string delta;       // minimum gap as typed; empty by default (then no valid gap)
  std::string exportPath;  // default: the program folder
  std::string genericFilename = "export";
  bool ftpExport = false;
  bool zip = false;
  int displayType = kDisplayClockTime;
  std::string ftpServersList;                             // labels joined with "\"
  int exportPeriodMinutes = kDefaultExportPeriodMinutes;  // as stored
  bool backgroundExport = false;
};
ExportSettings ReadExportSettings(const SettingsStore& store, const std::string& programFolder);
// The keys written when the dialog closes (not the handicaps nor the FTP servers list, which are
// written when they change).
void WriteExportSettings(SettingsStore& store, const ExportSettings& settings);
// The period to use: the stored one, or 2 when it is below 1.
int EffectiveExportPeriod(int storedMinutes);
// The period edit read as "%d" reads it; unreadable or below 1 gives 2.
int ReadPeriodText(const std::string& text);

// The handicap of a detector: unset when missing or unreadable, or when its label cannot be a
// settings key.
CChrono ReadDetectorHandicap(const SettingsStore& store, const std::string& label);
// False when the label cannot be a settings key or the settings file could not be written.
bool WriteDetectorHandicap(SettingsStore& store, const std::string& label, const CChrono& handicap);
// Whether "Handicap-" + label can be a settings key of its own: a label holding "=" or a line
// break, or ending with a blank (keys are trimmed, so it would name another detector's key),
// cannot.
bool HandicapKeyHolds(const std::string& label);
// Why a detector's handicap is not its own in the settings, as a warning for the operator;
// empty when it is. labels: the other detectors shown or exported with it (settings keys ignore
// letter case, so "D1" and "d1" share one handicap).
std::string HandicapKeyProblem(const std::string& label, const std::vector<std::string>& labels);

// "\"-separated labels and back (empty parts are dropped).
std::vector<std::string> SplitFtpServersList(const std::string& list);
std::string JoinFtpServersList(const std::vector<std::string>& labels);
// The FTP target label: the labels joined with ", ", or the no-server text; and the FTP check
// box's tool tip.
std::string FtpTargetText(const std::string& list);
std::string FtpTargetToolTip(const std::string& list);

// A text used as one part of a file name: "/" and "\" become "_", and a text made of dots only
// ("." or "..") has its dots replaced too, so that no detector label or generic name can send a
// file outside its folder.
std::string SafeFileNamePart(const std::string& text);
// folder + "/" + name, or the export sub-folder folder + "/" + name when ZIP is on.
std::string ExportTargetFolder(const std::string& folder, const std::string& genericName, bool zip);
// The part of the export file names that stands for each detector, for labels in ascending
// order: SafeFileNamePart of the label, made distinct. Distinct labels that would give one name
// ("a/b" and "a_b", or "D1" and "d1" on a file system or FTP server that ignores letter case)
// would overwrite each other's files: a label that is a safe name as it stands keeps it, the
// others get "~2", "~3"... in label order when theirs is taken. The same labels always give the
// same names.
std::vector<std::string> ExportNameParts(const std::vector<std::string>& labels);
// target + "/" + name + "-" + labelPart + "-" + n + suffix (both parts made safe).
std::string ExportFileName(const std::string& targetFolder, const std::string& genericName,
                           const std::string& labelPart, int passage, int displayType);
// The export sub-folder followed by ".zip".
std::string ExportArchivePath(const std::string& folder, const std::string& genericName);

// Takes the upload jobs of the FTP step; the taker owns them. Called on the export's thread.
using FtpJobQueuer = std::function<void(std::unique_ptr<CFtpJob>)>;

// What an export works with besides its detections.
struct ExportEnvironment {
  SettingsStore& store;        // the export settings, the handicaps, [FtpSettings] of new jobs
  std::string programFolder;   // the default export folder
  std::string ftpServersPath;  // FtpServers.dat
  FtpJobQueuer queueFtpJob;    // empty: the FTP step cannot launch
  // Held by an export while it writes, packs and queues, so that two exports running at once
  // (the dialog's and the background one) take turns rather than write the same files
  // together. Null: none to take.
  std::mutex* exportTurn = nullptr;
};

// What an export reads from the settings besides its options: the detector handicaps, the FTP
// targets and servers, and the server settings of new upload jobs. Copied on the window thread
// before an export starts, so that an export running on its own thread never reads settings
// the window may be writing meanwhile.
struct ExportSettingsCopy {
  std::string settingsText;            // the settings file as it stood: the handicaps
  std::string ftpServersList;          // "\"-joined labels
  std::vector<CFtpServer> ftpServers;  // FtpServers.dat
  CFtpJob uploadTemplate;              // a new upload job, with the [FtpSettings] server
  FtpJobQueuer queueFtpJob;            // empty: the FTP step cannot launch
  std::mutex* exportTurn = nullptr;    // see ExportEnvironment
};
ExportSettingsCopy CopyExportSettings(const ExportEnvironment& env);
// The handicap of a detector as ReadDetectorHandicap would have read it when the copy was made.
CChrono CopiedDetectorHandicap(const ExportSettingsCopy& settings, const std::string& label);

struct ExportOptions {
  CChrono minimumGap;
  int displayType = kDisplayClockTime;
  std::string folder;
  std::string genericName;
  bool zip = false;
  bool ftp = false;
  bool silent = false;
};

struct ExportOutcome {
  // The files the export leaves for the operator: the archive alone once packed.
  std::vector<std::string> createdFiles;
  std::vector<std::string> failedFiles;  // export files that could not be written
  bool zipped = false;
  int zipCode = 0;  // of a failed ZIP step
  std::string archivePath;
  bool ftpLaunched = false;
  std::string ftpError;  // why the FTP step did not launch
  int ftpJobs = 0;       // upload jobs queued
  // Allocation failures of the statistics, to show as message boxes (unless silent).
  std::vector<std::string> errors;
  // Detectors whose handicap is not their own in the settings (passage and compact times only):
  // the export used what the settings give them. Also in the final message.
  std::vector<std::string> warnings;
  // The final message to show (information; a warning when failed); empty when silent or when
  // there was nothing to export.
  std::string message;
  bool failed = false;  // detections to export, but no file could be written
};

// Writes the export files of the detections, packs them, queues their uploads and composes the
// final message, with the handicaps and the FTP targets of the settings copy. Any thread; the
// job, when given, is told how far the export got (files written, detector n of m). The export
// never stops half way: a cancelled job is not heeded.
ExportOutcome ExportDetectionLinesNow(const CWorkResultList& detections,
                                      const ExportOptions& options,
                                      const ExportSettingsCopy& settings,
                                      CProgressJob* job = nullptr);
// The same with the settings as they stand now (copied first, on the calling thread).
ExportOutcome ExportDetectionLinesNow(const CWorkResultList& detections,
                                      const ExportOptions& options, const ExportEnvironment& env);

// A background export made ready on the window thread from the saved settings only.
struct BackgroundExportPlan {
  std::string error;  // why it cannot run (the rest is then not set)
  ExportOptions options;
  ExportSettingsCopy settings;
};
BackgroundExportPlan PlanBackgroundExport(const ExportEnvironment& env);
// The snapshot of every valid recorded detection for an export, on any thread, taken in slices
// beside the window and the box threads; taken again when the records were reset (emptied)
// meanwhile, and left empty if resets keep coming. progress is told after each slice; false
// (the walk was stopped by it) leaves the snapshot empty.
bool SnapshotForExport(CRecordedDetections& records, CWorkSnapshot& snapshot,
                       const SnapshotProgress& progress = {});
// One planned run, on any thread: its snapshot (SnapshotForExport), exported silently. The
// error text (empty: everything was written, packed and queued as asked); *outcome gets the
// export's outcome.
std::string RunPlannedExport(CRecordedDetections& records, const BackgroundExportPlan& plan,
                             ExportOutcome* outcome = nullptr);
// Planned and run at once, on the calling thread.
std::string RunBackgroundExport(CRecordedDetections& records, const ExportEnvironment& env,
                                ExportOutcome* outcome = nullptr);

// The one-second background step and the run it starts on a thread of its own: the last export
// time (absolute), the running export, and the last failure logged. Window thread only.
class CBackgroundExport {
 public:
  // What the window thread gives for one run: an error text when it cannot run, else the work
  // to run on the export's thread, which gives its error text (empty: it worked).
  struct Start {
    std::string error;
    std::function<std::string()> work;
  };

  // log: where failures and the return to normal are logged, at level 0 (null: nowhere).
  explicit CBackgroundExport(Logger* log = nullptr);
  // Waits for a running export.
  ~CBackgroundExport();
  CBackgroundExport(const CBackgroundExport&) = delete;
  CBackgroundExport& operator=(const CBackgroundExport&) = delete;

  // The one-second step; it never waits for an export. An export that has ended is collected
  // first: the period counts from its end, and its failure (once per distinct error) or its
  // return to normal is logged. While an export runs, a run that falls due is skipped.
  // Otherwise, when the background export is on and a period has passed since the last run
  // (the first comes one period after it was switched on, or the program started with it on),
  // prepare() is called and its work started. True when prepare() was called.
  bool BackgroundExportTick(const SettingsStore& store, const Clock& clock,
                            const std::function<Start()>& prepare);
  // Waits for a running export and collects it; pump is called between short waits.
  void WaitForRun(const std::function<void()>& pump = {});

  // The export's thread is still at work (once it has ended, the next step collects it).
  bool IsRunning() const { return m_run != nullptr && !m_run->Done(); }
  const CChrono& LastExportTime() const { return m_lastExport; }
  int RunsStarted() const { return m_runsStarted; }
  // The thread the last run was started on (none before the first).
  std::thread::id LastRunThread() const { return m_lastRunThread; }

 private:
  void Collect();
  void Report(const std::string& error);

  Logger* m_log;
  CChrono m_lastExport;
  std::string m_lastError;  // of the last run, logged; empty when it worked
  std::unique_ptr<CExportRun> m_run;
  // Written by the run's thread before it ends, read once it has.
  std::string m_runError;
  std::int64_t m_runEndMs = 0;
  int m_runsStarted = 0;
  std::thread::id m_lastRunThread;
};

// Writes every valid recorded detection as detection lines (numbered from 1) to path, taking the
// records lock for a slice of records at a time (any thread); then logs the export and plays
// the "done" sound. False (and nothing done) when
// no valid detection is recorded or the file cannot be written.
bool ExportAllRecordedDetections(CRecordedDetections& records, const std::string& path, Logger& log,
                                 SoundPlayer* sound);

}  // namespace lapora
