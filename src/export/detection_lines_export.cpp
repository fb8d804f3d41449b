#include "export/detection_lines_export.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "detections/recorded_detections.h"
#include "export/ftp_jobs.h"
#include "export/ftp_servers.h"
#include "export/zip_packing.h"
#include "foundation/clock.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "platform/atomic_file.h"
#include "resources/messages_export_dialog.h"

namespace lapora {

namespace {

// The elements of one detector, in the order of the list.
CWorkResultList DetectorSubList(const CWorkResultList& detections, const std::string& label) {
  CWorkResultList sub;
  for (const CWorkResult* work : detections) {
    if (work->detectorLabel == label) {
      sub.push_back(work);
    }
  }
  return sub;
}

// The FTP step: the uploads of every created file to every selected server that is defined,
// file by file. The error text, or empty once launched.
std::string QueueUploads(const std::vector<std::string>& files, const ExportSettingsCopy& settings,
                         int* jobs) {
  std::vector<std::string> labels = SplitFtpServersList(settings.ftpServersList);
  if (labels.empty()) {
    return Tr(kMsgExportNoServerSelected);
  }
  if (settings.ftpServers.empty()) {
    return Tr(kMsgExportNoServerDefined);
  }
  if (!settings.queueFtpJob) {
    return Tr(kMsgExportNoServerDefined);
  }
  for (const std::string& file : files) {
    for (const std::string& label : labels) {
      const CFtpServer* server = FindFtpServer(settings.ftpServers, label);
      if (server == nullptr) {
        continue;  // a label no longer in the servers file
      }
      auto job = std::make_unique<CFtpJob>(settings.uploadTemplate);
      job->SetServer(*server);
      job->SetLocalPath(file);
      job->SetRemoteName(FileNameOfPath(file));
      settings.queueFtpJob(std::move(job));
      ++*jobs;
    }
  }
  // None of the selected labels is in the servers file: nothing was launched, and saying
  // "launched" would hide it.
  return *jobs > 0 ? std::string() : Tr(kMsgExportNoServerDefined);
}

std::string FinalMessage(const ExportOptions& options, const ExportOutcome& outcome) {
  std::string text = Tr(kMsgExportDone);
  for (const std::string& file : outcome.createdFiles) {
    text += "\n  " + file + "  ";
  }
  if (options.zip && !outcome.zipped) {
    text += StrF(Tr(kMsgExportZipFailed).c_str(), outcome.archivePath.c_str(), outcome.zipCode);
  }
  if (!outcome.failedFiles.empty()) {
    text += Tr(kMsgExportNotWritten);
    for (const std::string& file : outcome.failedFiles) {
      text += "\n  " + file + "  ";
    }
  }
  if (options.ftp) {
    text += outcome.ftpLaunched ? Tr(kMsgExportFtpLaunched)
                                : Tr(kMsgExportFtpLaunchError) + outcome.ftpError;
  }
  for (const std::string& warning : outcome.warnings) {
    text += "\n\n" + warning;
  }
  return text;
}

}  // namespace

int NormalizeDisplayType(int displayType) {
  return displayType == kDisplayClockTime || displayType == kDisplayPassageTime ? displayType
                                                                                : kDisplayLogica;
}

const char* DisplayTypeSuffix(int displayType) {
  return NormalizeDisplayType(displayType) == kDisplayLogica ? "-ljk.txt" : ".kol";
}

ExportSettings ReadExportSettings(const SettingsStore& store, const std::string& programFolder) {
  ExportSettings s;
  s.delta = store.ReadSettingText(kExportLinesSection, "Delta", "");
  s.exportPath = store.ReadSettingText(kExportLinesSection, "ExportPath", programFolder);
  s.genericFilename = store.ReadSettingText(kExportLinesSection, "GenericFilename", "export");
  s.ftpExport = store.ReadSettingBool(kExportLinesSection, "BFtpExport", false);
  s.zip = store.ReadSettingBool(kExportLinesSection, "BZip", false);
  s.displayType = store.ReadSettingInt(kExportLinesSection, "DisplayDetectionType", 0);
  s.ftpServersList = store.ReadSettingText(kExportLinesSection, "FtpServersList", "");
  s.exportPeriodMinutes = store.ReadSettingInt(kBackgroundExportSection, "ExportPeriodMinutes",
                                               kDefaultExportPeriodMinutes);
  s.backgroundExport = store.ReadSettingBool(kBackgroundExportSection, "BExport", false);
  return s;
}

void WriteExportSettings(SettingsStore& store, const ExportSettings& s) {
  (void)store.WriteSettingText(kExportLinesSection, "Delta", s.delta);
  (void)store.WriteSettingText(kExportLinesSection, "ExportPath", s.exportPath);
  (void)store.WriteSettingText(kExportLinesSection, "GenericFilename", s.genericFilename);
  (void)store.WriteSettingBool(kExportLinesSection, "BFtpExport", s.ftpExport);
  (void)store.WriteSettingInt(kExportLinesSection, "DisplayDetectionType", s.displayType);
  (void)store.WriteSettingBool(kExportLinesSection, "BZip", s.zip);
  (void)store.WriteSettingInt(kBackgroundExportSection, "ExportPeriodMinutes",
                              s.exportPeriodMinutes);
  (void)store.WriteSettingBool(kBackgroundExportSection, "BExport", s.backgroundExport);
}

int EffectiveExportPeriod(int storedMinutes) {
  return storedMinutes < 1 ? kDefaultExportPeriodMinutes : storedMinutes;
}

int ReadPeriodText(const std::string& text) {
  int value = 0;
  if (std::sscanf(text.c_str(), "%d", &value) != 1) {
    return kDefaultExportPeriodMinutes;
  }
  return EffectiveExportPeriod(value);
}

bool HandicapKeyHolds(const std::string& label) {
  return label.find_first_of("=\r\n") == std::string::npos &&
         (label.empty() || (label.back() != ' ' && label.back() != '\t'));
}

std::string HandicapKeyProblem(const std::string& label, const std::vector<std::string>& labels) {
  if (!HandicapKeyHolds(label)) {
    return StrF(Tr(kMsgExportHandicapNotStorable).c_str(), label.c_str());
  }
  for (const std::string& other : labels) {
    if (other != label && EqualsNoCase(other, label)) {
      return StrF(Tr(kMsgExportHandicapShared).c_str(), label.c_str(), other.c_str());
    }
  }
  return {};
}

namespace {

CChrono HandicapOfText(const std::string& text) {
  CChrono handicap;
  if (!handicap.ParseTimeHundredths(text)) {
    handicap.Clear();
  }
  return handicap;
}

// The error text of a background run from its outcome: empty when everything was written,
// packed and queued as asked.
std::string BackgroundRunError(const ExportOptions& options, const ExportOutcome& outcome) {
  std::vector<std::string> errors = outcome.errors;
  if (!outcome.failedFiles.empty()) {
    // The first file only: a count would make every run with one more passage a new error.
    errors.push_back(StrF(Tr(kMsgBackgroundNotWritten).c_str(), outcome.failedFiles[0].c_str()));
  }
  if (options.zip && !outcome.createdFiles.empty() && !outcome.zipped) {
    errors.push_back(
        StrF(Tr(kMsgBackgroundZipFailed).c_str(), outcome.archivePath.c_str(), outcome.zipCode));
  }
  if (options.ftp && !outcome.createdFiles.empty() && !outcome.ftpLaunched) {
    errors.push_back(StrF(Tr(kMsgBackgroundFtpNotLaunched).c_str(), outcome.ftpError.c_str()));
  }
  std::string text;
  for (const std::string& error : errors) {
    text += (text.empty() ? "" : " - ") + error;
  }
  return text;
}

}  // namespace

CChrono ReadDetectorHandicap(const SettingsStore& store, const std::string& label) {
  if (!HandicapKeyHolds(label)) {
    return CChrono();
  }
  return HandicapOfText(
      store.ReadSettingText(kExportLinesSection, kHandicapKeyPrefix + label, kNoHandicapText));
}

ExportSettingsCopy CopyExportSettings(const ExportEnvironment& env) {
  ExportSettingsCopy copy;
  copy.settingsText = env.store.ReadSettingsFileText();
  copy.ftpServersList = env.store.ReadSettingText(kExportLinesSection, "FtpServersList", "");
  std::string loadError;
  (void)LoadFtpServers(env.ftpServersPath, &copy.ftpServers, &loadError);
  copy.uploadTemplate = MakeFtpUploadJob(env.store);
  copy.queueFtpJob = env.queueFtpJob;
  copy.exportTurn = env.exportTurn;
  return copy;
}

CChrono CopiedDetectorHandicap(const ExportSettingsCopy& settings, const std::string& label) {
  if (!HandicapKeyHolds(label)) {
    return CChrono();
  }
  std::string text;
  if (!FindIniValue(settings.settingsText, kExportLinesSection, kHandicapKeyPrefix + label,
                    &text)) {
    text = kNoHandicapText;
  }
  if (text.size() > SettingsStore::kMaxText) {
    text.resize(SettingsStore::kMaxText);  // as a read from the store cuts it
  }
  return HandicapOfText(text);
}

bool WriteDetectorHandicap(SettingsStore& store, const std::string& label,
                           const CChrono& handicap) {
  return HandicapKeyHolds(label) &&
         store.WriteSettingText(kExportLinesSection, kHandicapKeyPrefix + label,
                                handicap.FormatHundredths());
}

std::vector<std::string> SplitFtpServersList(const std::string& list) {
  std::vector<std::string> labels;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t end = list.find('\\', at);
    if (end == std::string::npos) {
      end = list.size();
    }
    if (end > at) {
      labels.push_back(list.substr(at, end - at));
    }
    at = end + 1;
  }
  return labels;
}

std::string JoinFtpServersList(const std::vector<std::string>& labels) {
  std::string list;
  for (const std::string& label : labels) {
    if (!list.empty()) {
      list += '\\';
    }
    list += label;
  }
  return list;
}

std::string FtpTargetText(const std::string& list) {
  if (list.empty()) {
    return Tr(kMsgExportNoFtpServer);
  }
  std::string text;
  for (char c : list) {
    if (c == '\\') {
      text += ", ";
    } else {
      text += c;
    }
  }
  return text;
}

std::string FtpTargetToolTip(const std::string& list) {
  return list.empty() ? Tr(kMsgExportNoFtpSettings)
                      : Tr(kMsgExportTransferTo) + FtpTargetText(list);
}

std::string SafeFileNamePart(const std::string& text) {
  std::string safe = text;
  std::replace(safe.begin(), safe.end(), '/', '_');
  std::replace(safe.begin(), safe.end(), '\\', '_');
  if (!safe.empty() && safe.find_first_not_of('.') == std::string::npos) {
    safe.assign(safe.size(), '_');
  }
  return safe;
}

std::string ExportTargetFolder(const std::string& folder, const std::string& genericName,
                               bool zip) {
  return zip ? folder + "/" + SafeFileNamePart(genericName) : folder;
}

std::vector<std::string> ExportNameParts(const std::vector<std::string>& labels) {
  std::vector<std::string> parts(labels.size());
  std::set<std::string> taken;  // lower case: a name taken in any letter case
  std::vector<std::size_t> later;
  // The labels that are names as they stand come first, so that none of them ever changes
  // because another label appeared.
  for (std::size_t i = 0; i < labels.size(); ++i) {
    std::string safe = SafeFileNamePart(labels[i]);
    if (safe == labels[i] && taken.insert(ToLowerAscii(safe)).second) {
      parts[i] = std::move(safe);
    } else {
      later.push_back(i);
    }
  }
  for (std::size_t i : later) {
    std::string safe = SafeFileNamePart(labels[i]);
    std::string part = safe;
    for (int n = 2; !taken.insert(ToLowerAscii(part)).second; ++n) {
      part = safe + "~" + std::to_string(n);
    }
    parts[i] = std::move(part);
  }
  return parts;
}

std::string ExportFileName(const std::string& targetFolder, const std::string& genericName,
                           const std::string& labelPart, int passage, int displayType) {
  return StrF("%s/%s-%s-%d%s", targetFolder.c_str(), SafeFileNamePart(genericName).c_str(),
              SafeFileNamePart(labelPart).c_str(), passage, DisplayTypeSuffix(displayType));
}

std::string ExportArchivePath(const std::string& folder, const std::string& genericName) {
  return ExportTargetFolder(folder, genericName, true) + ".zip";
}

ExportOutcome ExportDetectionLinesNow(const CWorkResultList& detections,
                                      const ExportOptions& options, const ExportEnvironment& env) {
  return ExportDetectionLinesNow(detections, options, CopyExportSettings(env));
}

ExportOutcome ExportDetectionLinesNow(const CWorkResultList& detections,
                                      const ExportOptions& options,
                                      const ExportSettingsCopy& settings, CProgressJob* job) {
  std::unique_lock<std::mutex> turn;
  if (settings.exportTurn != nullptr) {
    turn = std::unique_lock(*settings.exportTurn);
  }
  ExportOutcome outcome;
  const int displayType = NormalizeDisplayType(options.displayType);
  const std::string target = ExportTargetFolder(options.folder, options.genericName, options.zip);
  if (options.zip) {
    (void)MakePath(target);  // a failure shows as files that cannot be written
  }
  std::vector<std::string> written;
  std::string error;
  std::vector<CStatLineEntry> lines = GroupByDetector(detections, &error);
  if (!error.empty()) {
    outcome.errors.push_back(error);
  }
  const int detectors = static_cast<int>(lines.size());
  int detectorsDone = 0;
  int filesWritten = 0;
  auto report = [&] {
    if (job != nullptr) {
      (void)job->Report(
          StrF(Tr(kMsgExportProgress).c_str(), filesWritten,
               std::min(detectorsDone + 1, std::max(detectors, 1)), std::max(detectors, 1)),
          {detectorsDone, detectors});
    }
  };
  report();
  std::vector<std::string> labels;
  for (const CStatLineEntry& line : lines) {
    labels.push_back(line.label);
  }
  const std::vector<std::string> nameParts = ExportNameParts(labels);
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const CStatLineEntry& line = lines[index];
    CWorkResultList kept;
    error.clear();
    PassStatistics stats = ComputePassStatistics(DetectorSubList(detections, line.label),
                                                 options.minimumGap, kept, &error);
    if (!error.empty()) {
      outcome.errors.push_back(error);
    }
    const CChrono handicap = CopiedDetectorHandicap(settings, line.label);
    if (displayType != kDisplayClockTime) {
      std::string problem = HandicapKeyProblem(line.label, labels);
      if (!problem.empty()) {
        outcome.warnings.push_back(std::move(problem));
      }
    }
    error.clear();
    std::vector<CWorkResultList> passages = ExtractPassages(kept, &error);
    if (!error.empty()) {
      outcome.errors.push_back(error);
    }
    // Without memory for the split, the files are still written, empty.
    passages.resize(static_cast<std::size_t>(stats.maxPasses));
    for (int n = 1; n <= stats.maxPasses; ++n) {
      const CWorkResultList& passage = passages[static_cast<std::size_t>(n) - 1];
      std::string name =
          ExportFileName(target, options.genericName, nameParts[index], n, displayType);
      bool ok =
          displayType == kDisplayClockTime
              ? WriteDetectionLines(name, passage, false)
              : WriteShiftedDetectionLines(name, passage, handicap, displayType == kDisplayLogica);
      (ok ? written : outcome.failedFiles).push_back(name);
      if (ok) {
        ++filesWritten;
        report();
      }
    }
    ++detectorsDone;
    report();
  }
  if (written.empty()) {
    if (!outcome.failedFiles.empty()) {
      outcome.failed = true;
      if (!options.silent) {
        outcome.message = StrF(Tr(kMsgExportNothingWritten).c_str(), target.c_str());
      }
    }
    return outcome;
  }
  outcome.createdFiles = written;
  if (options.zip) {
    outcome.archivePath = ExportArchivePath(options.folder, options.genericName);
    outcome.zipCode = ZipFiles(written, outcome.archivePath);
    if (outcome.zipCode == kZipOk) {
      outcome.zipped = true;
      outcome.createdFiles = {outcome.archivePath};
      // Only what this export wrote goes: the sub-folder may be a folder of the operator's
      // that happens to bear the generic name. It is removed once empty.
      for (const std::string& file : written) {
        std::remove(file.c_str());
      }
      (void)rmdir(target.c_str());
    }
  }
  if (options.ftp) {
    outcome.ftpError = QueueUploads(outcome.createdFiles, settings, &outcome.ftpJobs);
    outcome.ftpLaunched = outcome.ftpError.empty();
  }
  if (!options.silent) {
    outcome.message = FinalMessage(options, outcome);
  }
  return outcome;
}

BackgroundExportPlan PlanBackgroundExport(const ExportEnvironment& env) {
  BackgroundExportPlan plan;
  ExportSettings saved = ReadExportSettings(env.store, env.programFolder);
  ExportOptions& options = plan.options;
  if (!options.minimumGap.ParseTimeHundredths(saved.delta)) {
    plan.error = StrF(Tr(kMsgBackgroundInvalidGap).c_str(), saved.delta.c_str());
    return plan;
  }
  options.folder = std::string(TrimBlanks(saved.exportPath));
  options.genericName = std::string(TrimBlanks(saved.genericFilename));
  if (options.folder.empty()) {
    plan.error = Tr(kMsgBackgroundNoFolder);
    return plan;
  }
  if (options.genericName.empty()) {
    plan.error = Tr(kMsgBackgroundNoName);
    return plan;
  }
  options.ftp = saved.ftpExport;
  options.zip = saved.zip;
  options.displayType = saved.displayType;
  options.silent = true;
  if (options.ftp && saved.ftpServersList.empty()) {
    plan.error = Tr(kMsgBackgroundNoFtpServer);
    return plan;
  }
  plan.settings = CopyExportSettings(env);
  return plan;
}

bool SnapshotForExport(CRecordedDetections& records, CWorkSnapshot& snapshot,
                       const SnapshotProgress& progress) {
  bool stopped = false;
  auto walked = [&](std::size_t done, std::size_t total) {
    stopped = progress && !progress(done, total);
    return !stopped;
  };
  // A reset (the operator emptied the list) during the walk: the new list is taken instead.
  // Nothing is exported if resets keep coming, and that is no failure of the export.
  constexpr int kSnapshotAttempts = 5;
  for (int attempt = 1; attempt <= kSnapshotAttempts && !stopped; ++attempt) {
    if (SnapshotDetectionsInSlices(records, "", snapshot, kSnapshotSlice, walked)) {
      return true;
    }
  }
  return !stopped;
}

std::string RunPlannedExport(CRecordedDetections& records, const BackgroundExportPlan& plan,
                             ExportOutcome* outcome) {
  if (!plan.error.empty()) {
    return plan.error;
  }
  CWorkSnapshot snapshot;
  (void)SnapshotForExport(records, snapshot);
  ExportOutcome result = ExportDetectionLinesNow(ListOf(snapshot), plan.options, plan.settings);
  std::string error = BackgroundRunError(plan.options, result);
  if (outcome != nullptr) {
    *outcome = std::move(result);
  }
  return error;
}

std::string RunBackgroundExport(CRecordedDetections& records, const ExportEnvironment& env,
                                ExportOutcome* outcome) {
  return RunPlannedExport(records, PlanBackgroundExport(env), outcome);
}

CBackgroundExport::CBackgroundExport(Logger* log) : m_log(log) {}

CBackgroundExport::~CBackgroundExport() {
  m_run.reset();  // waits for it
}

bool CBackgroundExport::BackgroundExportTick(const SettingsStore& store, const Clock& clock,
                                             const std::function<Start()>& prepare) {
  if (m_run != nullptr) {
    if (!m_run->Done()) {
      return false;  // a run that falls due meanwhile is skipped
    }
    Collect();
  }
  if (!store.ReadSettingBool(kBackgroundExportSection, "BExport", false)) {
    // Switched off: when it is switched on again, the first run comes one period later.
    m_lastExport.Clear();
    return false;
  }
  CChrono now;
  now.SetNow(clock.NowUnixMs());
  if (!m_lastExport.IsSet()) {
    m_lastExport = now;
    return false;
  }
  int period = EffectiveExportPeriod(store.ReadSettingInt(
      kBackgroundExportSection, "ExportPeriodMinutes", kDefaultExportPeriodMinutes));
  // The period in whole minutes, whatever its size (a text "0:%d:0.00" would not read beyond
  // the minutes a time of day can have).
  CChrono interval(static_cast<std::int32_t>(std::min(period, 35791394) * 60), 0);
  if (!(now > m_lastExport + interval)) {
    return false;
  }
  m_lastExport = now;
  Start start = prepare ? prepare() : Start{};
  if (!start.work) {
    Report(start.error);
    return true;
  }
  ++m_runsStarted;
  const Clock* endClock = &clock;
  m_run = std::make_unique<CExportRun>([this, work = std::move(start.work), endClock] {
    m_runError = work();
    m_runEndMs = endClock->NowUnixMs();
  });
  m_lastRunThread = m_run->ThreadId();
  return true;
}

void CBackgroundExport::WaitForRun(const std::function<void()>& pump) {
  if (m_run == nullptr) {
    return;
  }
  m_run->WaitWithPump(pump);
  Collect();
}

void CBackgroundExport::Collect() {
  m_run.reset();  // joins: what the run wrote is seen from here on
  // The next period counts from the end of this run, not from its start: a run longer than
  // the period is not followed by another at once.
  m_lastExport.SetNow(m_runEndMs);
  Report(m_runError);
}

void CBackgroundExport::Report(const std::string& error) {
  if (m_log == nullptr) {
    m_lastError = error;
    return;
  }
  if (!error.empty()) {
    if (error != m_lastError) {
      m_log->PostLog(0, StrF(Tr(kMsgBackgroundExportFailed).c_str(), error.c_str()));
    }
  } else if (!m_lastError.empty()) {
    m_log->PostLog(0, Tr(kMsgBackgroundExportWorks));
  }
  m_lastError = error;
}

bool ExportAllRecordedDetections(CRecordedDetections& records, const std::string& path, Logger& log,
                                 SoundPlayer* sound) {
  // Slice by slice, straight from the records: the lock is held while a slice's lines are made,
  // never while they are written, so that the box threads and the window never wait long for
  // it; and no work copy of the records doubles the memory. The records there when the walk
  // starts are written; a reset during the walk (none can come while the operator's command
  // runs) gives up, leaving the old file.
  if (records.CountValidRecords() == 0) {
    return false;
  }
  std::size_t total = 0;
  std::size_t next = 0;
  std::int32_t lastId = 0;  // of the record before `next`
  int number = 0;
  bool reset = false;
  bool done = WriteFileInPieces(
      path,
      [&](const PieceWriter& write) {
        std::string text;
        do {
          text.clear();
          records.WithLock([&](CRecordedDetections::Locked& locked) {
            const std::vector<CKolResult>& list = locked.Records();
            if (next == 0) {
              total = list.size();
            } else if (list.size() < next || list[next - 1].id != lastId) {
              reset = true;
              return;
            }
            const std::size_t end = std::min(total, next + kSnapshotSlice);
            for (; next < end; ++next) {
              if (list[next].valid != 0) {
                text += FormatDetectionLine(++number, list[next]);
              }
            }
            if (next > 0) {
              lastId = list[next - 1].id;
            }
          });
          if (reset || !write(text)) {
            return false;
          }
        } while (next < total);
        return true;
      },
      nullptr, FileRights::kKeep, FileDurability::kWhole);
  if (!done || reset) {
    log.PostLog(0, StrF(Tr(kMsgExportAllFailed).c_str(), path.c_str()));
    return false;
  }
  log.PostLog(0, StrF(Tr(kMsgExportAllDone).c_str(), path.c_str()));
  if (sound != nullptr) {
    (void)sound->PlaySoundResource(kSoundDone);
  }
  return true;
}

}  // namespace lapora
