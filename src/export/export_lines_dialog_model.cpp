#include "export/export_lines_dialog_model.h"

#include <utility>

#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_export_dialog.h"

namespace lapora {

namespace {

// Runs work as a job and waits for it as the caller asked; false when it was cancelled (then
// whatever the work left is not to be used).
bool RunJob(const Message& caption, bool cancellable, CProgressJob::Work work,
            const JobWait& wait) {
  CProgressJob job(Tr(caption), std::move(work), cancellable);
  job.Start();
  if (wait) {
    wait(job);
  }
  job.Join();
  return !job.Cancelled();
}

}  // namespace

CExportLinesDialogModel::CExportLinesDialogModel(CRecordedDetections& records,
                                                 ExportEnvironment env)
    : m_records(records), m_env(std::move(env)) {
  m_opened = ReadExportSettings(m_env.store, m_env.programFolder);
  m_displayType = NormalizeDisplayType(m_opened.displayType);
  m_ftpServersList = m_opened.ftpServersList;
}

bool CExportLinesDialogModel::TakeSnapshot(const JobWait& wait) {
  CWorkSnapshot snapshot;
  const bool taken = RunJob(
      kMsgExportSnapshotCaption, true,
      [&](CProgressJob& job) {
        (void)SnapshotForExport(m_records, snapshot, [&job](std::size_t done, std::size_t total) {
          const int walked = static_cast<int>(done);
          const int all = static_cast<int>(total);
          return job.Report(StrF(Tr(kMsgExportSnapshotProgress).c_str(), walked, all),
                            {walked, all});
        });
      },
      wait);
  if (!taken) {
    return false;
  }
  m_snapshot = std::move(snapshot);
  return true;
}

CExportLinesDialogModel::FilterResult CExportLinesDialogModel::Filter(const std::string& gapText,
                                                                      const JobWait& wait) {
  FilterResult result;
  CChrono gap;
  if (!gap.ParseTimeHundredths(gapText)) {
    result.warning = Tr(kMsgExportInvalidGap);
    return result;
  }
  // The handicaps as they stand now: the worker reads this copy, never the settings the window
  // may be writing.
  const ExportSettingsCopy settings = CopyExportSettings(m_env);
  std::vector<CStatLineEntry> rows;
  int files = 0;
  const bool done = RunJob(
      kMsgExportFilterCaption, true,
      [&](CProgressJob& job) {
        CWorkResultList all = ListOf(m_snapshot);
        std::vector<CStatLineEntry> lines = GroupByDetector(all);
        const int detectors = static_cast<int>(lines.size());
        int reached = 0;
        for (CStatLineEntry& line : lines) {
          if (!job.Report(StrF(Tr(kMsgExportFilterProgress).c_str(), reached + 1, detectors),
                          {reached, detectors})) {
            return;  // cancelled: what was computed is dropped
          }
          CWorkResultList sub;
          for (const CWorkResult* work : all) {
            if (work->detectorLabel == line.label) {
              sub.push_back(work);
            }
          }
          CWorkResultList kept;
          PassStatistics stats = ComputePassStatistics(sub, gap, kept);
          line.handicap = CopiedDetectorHandicap(settings, line.label);
          line.count = static_cast<std::int32_t>(kept.size());
          line.maxPasses = stats.maxPasses;
          files += stats.maxPasses;
          rows.push_back(std::move(line));
          ++reached;
        }
      },
      wait);
  if (!done) {
    result.cancelled = true;
    return result;
  }
  m_rows = std::move(rows);
  m_files = files;
  return result;
}

std::array<std::string, 6> CExportLinesDialogModel::RowColumns(std::size_t row) const {
  const CStatLineEntry& line = m_rows.at(row);
  std::string best;
  switch (m_displayType) {
    case kDisplayClockTime:
      best = line.bestTime.FormatHundredths();
      break;
    case kDisplayPassageTime:
      best = (line.bestTime - line.handicap).FormatHundredths();
      break;
    default:
      best = (line.bestTime - line.handicap).FormatCompact();
      break;
  }
  return {line.label,   std::to_string(line.maxPasses),  std::to_string(line.count), best,
          line.bestBib, line.handicap.FormatHundredths()};
}

std::string CExportLinesDialogModel::DataToExportText() const {
  if (m_files == 0) {
    return Tr(kMsgExportNoData);
  }
  const char* plural = m_files > 1 ? "s" : "";
  std::string text = StrF(Tr(kMsgExportFileCount).c_str(), m_files, plural, plural) + " - ";
  switch (m_displayType) {
    case kDisplayClockTime:
      return text + Tr(kMsgExportKindClock);
    case kDisplayPassageTime:
      return text + Tr(kMsgExportKindPassage);
    default:
      return text + Tr(kMsgExportKindLogica);
  }
}

HandicapRetiming CExportLinesDialogModel::RetimingFor(std::size_t row) const {
  const CStatLineEntry& line = m_rows.at(row);
  HandicapRetiming retiming;
  retiming.bib = line.bestBib;
  retiming.passNumber = 1;
  retiming.clockTime = line.bestTime;
  retiming.handicap = line.handicap;
  return retiming;
}

std::string CExportLinesDialogModel::SetHandicap(std::size_t row, const CChrono& handicap) {
  const std::string label = m_rows.at(row).label;
  std::vector<std::string> labels;
  for (const CStatLineEntry& line : m_rows) {
    labels.push_back(line.label);
  }
  std::string warning;
  if (HandicapKeyHolds(label) && !WriteDetectorHandicap(m_env.store, label, handicap)) {
    warning = StrF(Tr(kMsgExportHandicapNotWritten).c_str(), label.c_str(),
                   m_env.store.SettingsFile().c_str());
  } else {
    warning = HandicapKeyProblem(label, labels);
  }
  for (CStatLineEntry& line : m_rows) {
    if (EqualsNoCase(line.label, label)) {
      line.handicap = ReadDetectorHandicap(m_env.store, line.label);
    }
  }
  return warning;
}

std::string CExportLinesDialogModel::ResetHandicap(std::size_t row) {
  return SetHandicap(row, CChrono());
}

void CExportLinesDialogModel::SetFtpServers(const std::vector<std::string>& labels) {
  m_ftpServersList = JoinFtpServersList(labels);
  (void)m_env.store.WriteSettingText(kExportLinesSection, "FtpServersList", m_ftpServersList);
}

CExportLinesDialogModel::ExportNowResult CExportLinesDialogModel::ExportNow(
    const std::string& gapText, const std::string& folderText, const std::string& nameText,
    bool zip, bool ftp, const JobWait& wait) {
  ExportNowResult result;
  if (m_rows.empty()) {
    return result;
  }
  ExportOptions options;
  if (!options.minimumGap.ParseTimeHundredths(gapText)) {
    result.warning = Tr(kMsgExportInvalidGap);
    return result;
  }
  options.genericName = std::string(TrimBlanks(nameText));
  options.folder = std::string(TrimBlanks(folderText));
  if (options.genericName.empty()) {
    result.warning = Tr(kMsgExportNameMandatory);
    return result;
  }
  if (options.folder.empty()) {
    result.warning = Tr(kMsgExportFolderMandatory);
    return result;
  }
  if (ftp && m_ftpServersList.empty()) {
    result.warning = Tr(kMsgExportNoFtpSettings);
    return result;
  }
  options.displayType = m_displayType;
  options.zip = zip;
  options.ftp = ftp;
  options.silent = false;
  const ExportSettingsCopy settings = CopyExportSettings(m_env);
  (void)RunJob(
      kMsgExportNowCaption, false,
      [&](CProgressJob& job) {
        result.outcome = ExportDetectionLinesNow(ListOf(m_snapshot), options, settings, &job);
      },
      wait);
  result.ran = true;
  return result;
}

void CExportLinesDialogModel::Close(const ExportDialogFields& fields) {
  ExportSettings s;
  s.delta = fields.delta;
  s.exportPath = fields.exportPath;
  s.genericFilename = fields.genericFilename;
  s.ftpExport = fields.ftpExport;
  s.zip = fields.zip;
  s.displayType = NormalizeDisplayType(fields.displayType);
  s.exportPeriodMinutes = ReadPeriodText(fields.periodText);
  s.backgroundExport = fields.backgroundExport;
  WriteExportSettings(m_env.store, s);
  m_rows.clear();
  m_snapshot.clear();
  m_files = 0;
}

}  // namespace lapora
