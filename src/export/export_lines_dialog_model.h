// What the detection-lines export dialog does, without its widgets: the snapshot taken when it
// opens, the rows of "Filtrer", their texts in the current display type, the "Données à
// exporter :" text, the detector handicaps, the FTP targets, the checks of "Exporter
// maintenant" and the writes of "Fermer". The Qt dialog and the console only show fields and
// call these. Main thread only; the snapshot, the rows and the export are computed on a worker
// (a CProgressJob) while the caller waits as it chooses (JobWait): the window goes on meanwhile.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/detection_lines_export.h"
#include "export/detection_statistics.h"
#include "export/handicap_retiming.h"
#include "foundation/progress_job.h"

namespace lapora {

class CRecordedDetections;

// How the caller waits for a started job: called once on the calling thread, it returns once
// the job's work has returned (showing its progress and offering its Cancel, handling events
// meanwhile). Empty: a plain wait.
using JobWait = std::function<void(CProgressJob& job)>;

// The fields of the dialog as the operator left them.
struct ExportDialogFields {
  std::string delta;
  std::string exportPath;
  std::string genericFilename;
  bool ftpExport = false;
  bool zip = false;
  int displayType = kDisplayClockTime;
  std::string periodText;  // the period edit, read with "%d"
  bool backgroundExport = false;
};

class CExportLinesDialogModel {
 public:
  // Reads the settings. records must outlive the model.
  CExportLinesDialogModel(CRecordedDetections& records, ExportEnvironment env);

  // The snapshot of the valid recorded detections (all detectors) that the dialog works on until
  // it closes, taken when it opens: on a worker, in slices beside the box threads, while the
  // caller waits with `wait`. False when it was cancelled (the dialog then does not open).
  bool TakeSnapshot(const JobWait& wait = {});

  // The settings read at opening: what the controls start with.
  const ExportSettings& Opened() const { return m_opened; }
  const ExportEnvironment& Environment() const { return m_env; }
  const CWorkSnapshot& Snapshot() const { return m_snapshot; }

  struct FilterResult {
    std::string warning;     // the gap cannot be read: shown, and the rows are kept
    bool cancelled = false;  // the operator cancelled it: the rows are kept
    bool Done() const { return warning.empty() && !cancelled; }
  };
  // "Filtrer": the rows are computed on a worker while the caller waits with `wait`, then
  // replace the rows.
  FilterResult Filter(const std::string& gapText, const JobWait& wait = {});
  // The rows, in label order, each with its kept count, maxPasses and handicap.
  const std::vector<CStatLineEntry>& Rows() const { return m_rows; }
  int FileCount() const { return m_files; }
  // The radio buttons and "Exporter maintenant" are usable only with rows.
  bool HasRows() const { return !m_rows.empty(); }

  int DisplayType() const { return m_displayType; }
  void SetDisplayType(int displayType) { m_displayType = NormalizeDisplayType(displayType); }
  // Label, maxPasses, count, best time in the display type, best bib, handicap.
  std::array<std::string, 6> RowColumns(std::size_t row) const;
  // "aucune", or "5 fichiers de détections - Temps de passages" and the like.
  std::string DataToExportText() const;

  // The re-timing of a row's handicap from its best passage (passage number 1).
  HandicapRetiming RetimingFor(std::size_t row) const;
  // Stores a row's new handicap at once ("Handicap-" + label); the rows then show what the
  // settings hold, which the exports will use. The warning to show when the handicap is not the
  // detector's own (its label cannot be a key, the file could not be written, or another row's
  // label differs only in letter case); empty otherwise.
  [[nodiscard]] std::string SetHandicap(std::size_t row, const CChrono& handicap);
  [[nodiscard]] std::string ResetHandicap(std::size_t row);

  // The FTP targets: "\"-joined labels, written at once when they change.
  const std::string& FtpServersList() const { return m_ftpServersList; }
  std::vector<std::string> FtpServerLabels() const { return SplitFtpServersList(m_ftpServersList); }
  void SetFtpServers(const std::vector<std::string>& labels);
  std::string FtpTargetLabel() const { return FtpTargetText(m_ftpServersList); }
  std::string FtpToolTip() const { return FtpTargetToolTip(m_ftpServersList); }
  // Switching FTP on with no target opens the server picker at once.
  bool NeedsServerPicker(bool ftpSwitchedOn) const {
    return ftpSwitchedOn && m_ftpServersList.empty();
  }

  struct ExportNowResult {
    bool ran = false;       // false: nothing to export, or a check failed
    std::string warning;    // the check that failed (exclamation icon)
    ExportOutcome outcome;  // when it ran
  };
  // "Exporter maintenant" with the fields as shown: the checks in order (rows, gap, name,
  // folder, FTP targets), then the export of the snapshot, not silent, on a worker while the
  // caller waits with `wait`. The job cannot be cancelled: files are not left half exported.
  ExportNowResult ExportNow(const std::string& gapText, const std::string& folderText,
                            const std::string& nameText, bool zip, bool ftp,
                            const JobWait& wait = {});

  // "Fermer": writes the fields (the period read with "%d": unreadable or below 1 gives 2).
  void Close(const ExportDialogFields& fields);

 private:
  CRecordedDetections& m_records;
  ExportEnvironment m_env;
  ExportSettings m_opened;
  CWorkSnapshot m_snapshot;
  std::vector<CStatLineEntry> m_rows;
  int m_files = 0;
  int m_displayType = kDisplayClockTime;
  std::string m_ftpServersList;
};

}  // namespace lapora
