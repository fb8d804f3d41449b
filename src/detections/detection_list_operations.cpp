#include "detections/detection_list_operations.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_detections.h"
#include "resources/messages_listops.h"

namespace lapora {

namespace {

constexpr std::int32_t kSecondsPerDay = 24 * 3600;

std::string WithoutBlanks(const std::string& text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (!IsSpace(c)) {
      kept.push_back(c);
    }
  }
  return kept;
}

// A time of day as the operator types it: hours below 24, minutes and seconds below 60, at
// most two digits of hundredths. The time parser itself carries "25:00:00" over into the next
// day, which for a typed time would silently record 01:00:00 of the wrong day: adding days is
// what the correction list is for.
bool IsTimeOfDay(const std::string& text) {
  long h = -1;
  long m = -1;
  long sec = -1;
  long fraction = 0;
  int fractionStart = -1;
  int fractionEnd = -1;
  bool matched = std::sscanf(text.c_str(), "%ld:%ld:%ld.%n%ld%n", &h, &m, &sec, &fractionStart,
                             &fraction, &fractionEnd) == 4 ||
                 std::sscanf(text.c_str(), "%ld.%ld.%ld.%n%ld%n", &h, &m, &sec, &fractionStart,
                             &fraction, &fractionEnd) == 4;
  if (!matched) {
    fraction = 0;
    fractionStart = fractionEnd = 0;
    matched = std::sscanf(text.c_str(), "%ld.%ld.%ld", &h, &m, &sec) == 3 ||
              std::sscanf(text.c_str(), "%ld:%ld:%ld", &h, &m, &sec) == 3;
  }
  return matched && h >= 0 && h < 24 && m >= 0 && m < 60 && sec >= 0 && sec < 60 && fraction >= 0 &&
         fractionEnd - fractionStart <= 2;
}

ManualEntryCheckResult Refused(const Message& message, ManualEntryField field, bool empty) {
  ManualEntryCheckResult result;
  result.message = Tr(message);
  result.faultyField = field;
  result.emptyField = empty;
  return result;
}

}  // namespace

std::vector<std::string> ManualEntryDetectors(
    const std::vector<std::pair<std::string, std::string>>& labelAndHostOfBoxes) {
  std::vector<std::string> detectors;
  for (const auto& [label, host] : labelAndHostOfBoxes) {
    if (!label.empty() && !host.empty()) {
      detectors.push_back(label);
    }
  }
  return detectors;
}

ManualEntryDefaults MakeManualEntryDefaults(std::size_t detectorCount, int rememberedIndex,
                                            const std::array<std::string, 4>& raceDayDates,
                                            const Clock& clock) {
  ManualEntryDefaults defaults;
  defaults.timeText = CChrono(kChronoNow, clock).FormatClockHundredths();
  if (detectorCount > 0) {
    bool inRange =
        rememberedIndex >= 0 && static_cast<std::size_t>(rememberedIndex) < detectorCount;
    defaults.detectorIndex = inRange ? rememberedIndex : 0;
  }
  std::string today = TodayCompact(clock.NowUnix());
  for (int k = 0; k < kTimeCorrectionCount; ++k) {
    if (raceDayDates[static_cast<std::size_t>(k)] == today) {
      defaults.correctionIndex = k;
      break;
    }
  }
  return defaults;
}

ManualEntryCheckResult ManualEntryCheck(const ManualEntryInput& input,
                                        const std::vector<std::string>& detectors,
                                        const Clock& clock) {
  int bib = 0;
  std::size_t bibEnd = 0;
  if (!ScanInt(input.bibText, &bibEnd, &bib, IntOverflow::kRefuse) || bib <= 0) {
    return Refused(kMsgInvalidBib, ManualEntryField::kBib, true);
  }
  CChrono time;
  std::string timeText = WithoutBlanks(input.timeText);
  if (!IsTimeOfDay(timeText) || !time.ParseTimeHundredths(timeText)) {
    return Refused(kMsgInvalidManualTime, ManualEntryField::kTime, false);
  }
  if (input.detectorIndex < 0 ||
      static_cast<std::size_t>(input.detectorIndex) >= detectors.size()) {
    return Refused(kMsgNoDetectorId, ManualEntryField::kDetector, false);
  }
  time.ToAbsoluteToday(clock.NowUnix());

  ManualEntryCheckResult result;
  result.accepted = true;
  result.entry.bibNumber = bib;
  result.entry.bibText = std::to_string(bib);
  result.entry.detectorLabel = detectors[static_cast<std::size_t>(input.detectorIndex)];
  result.entry.detectorIndex = input.detectorIndex;
  int correction = input.correctionIndex;
  result.entry.correctionIndex =
      correction >= 0 && correction < kTimeCorrectionCount ? correction : 0;
  result.entry.absTime = time;
  return result;
}

CChrono ManualEntryRaceTime(const ManualEntry& entry) {
  CChrono raceTime = entry.absTime;
  raceTime.ToTimeOfDay();
  if (entry.correctionIndex > 0) {
    raceTime = raceTime + CChrono(entry.correctionIndex * kSecondsPerDay, 0);
  }
  return raceTime;
}

CKolResult InsertManualDetection(const ManualEntry& entry,
                                 const ManualDetectionServices& services) {
  CChrono raceTime = ManualEntryRaceTime(entry);
  // Shown (and counted in the window) once its line is in the incoming file.
  RecordRelease release;
  release.refresh = true;
  if (services.settings.BLogDetections != 0) {
    release.showItem = true;
    release.itemText = DetectionItemText(raceTime, kManualSourceName, entry.bibText);
  }
  CKolResult record = services.intake.StoreDetection(entry.bibText, entry.detectorLabel,
                                                     entry.absTime, raceTime, std::move(release));
  if (services.settings.GVarnexBeepDetections != 0 && services.sound != nullptr) {
    (void)services.sound->PlaySoundResource(kSoundDetection);
  }
  services.log.PostLog(0, StrF(Tr(kMsgAddedManualDetection).c_str(), entry.detectorLabel.c_str(),
                               raceTime.FormatHundredths().c_str(), entry.bibNumber));
  return record;
}

SelectionKind ClassifySelection(const std::vector<CKolResult>& selected) {
  if (selected.empty()) {
    return SelectionKind::kEmpty;
  }
  bool anyValid = false;
  bool anyRemoved = false;
  for (const CKolResult& record : selected) {
    (record.valid != 0 ? anyValid : anyRemoved) = true;
  }
  if (anyValid && anyRemoved) {
    return SelectionKind::kMixed;
  }
  return anyValid ? SelectionKind::kAllValid : SelectionKind::kAllRemoved;
}

RemoveRestoreMenu MenuForSelection(SelectionKind kind) {
  RemoveRestoreMenu menu;
  if (kind == SelectionKind::kEmpty) {
    return menu;
  }
  menu.shown = true;
  menu.removeEnabled = kind != SelectionKind::kAllRemoved;
  menu.restoreEnabled = kind != SelectionKind::kAllValid;
  return menu;
}

std::string RemoveRestoreQuestion(const std::vector<CKolResult>& selected, bool remove) {
  if (selected.empty()) {
    return {};
  }
  if (selected.size() == 1) {
    return StrF(Tr(remove ? kMsgRemoveOne : kMsgRestoreOne).c_str(),
                selected.front().timeText.c_str(), selected.front().bibText.c_str());
  }
  return StrF(Tr(remove ? kMsgRemoveSeveral : kMsgRestoreSeveral).c_str(),
              static_cast<int>(selected.size()));
}

RemoveRestoreOutcome ApplyRemoveRestore(CRecordedDetections& records,
                                        std::deque<CLogDetectionItem>* items,
                                        const std::vector<int>& ids, bool valid) {
  RemoveRestoreOutcome outcome;
  const int flag = valid ? 1 : 0;
  std::unordered_set<int> wanted(ids.begin(), ids.end());
  std::unordered_set<int> seenInItems;
  if (items != nullptr) {
    for (CLogDetectionItem& item : *items) {
      if (wanted.count(item.record.id) != 0) {
        seenInItems.insert(item.record.id);
        if (item.record.valid != flag) {
          item.record.valid = flag;
          ++outcome.itemsChanged;
        }
      }
    }
  }
  // One hold of the lock for the whole selection: box threads wait once, not once per id.
  std::vector<int> notRecorded = records.WithLock([&](CRecordedDetections::Locked& locked) {
    std::vector<int> missing;
    std::unordered_set<int> done;
    for (int id : ids) {
      if (!done.insert(id).second) {
        continue;
      }
      std::optional<CKolResult> record = locked.FindRecord(id);
      if (!record) {
        missing.push_back(id);
      } else if (record->valid != flag) {
        (void)locked.SetValid(id, flag);
        ++outcome.recordsChanged;
      }
    }
    return missing;
  });
  for (int id : notRecorded) {
    if (seenInItems.count(id) == 0) {
      outcome.unknownIds.push_back(id);
    }
  }
  return outcome;
}

std::optional<std::string> ForgetAllQuestion(int validCount) {
  if (validCount == 0) {
    return std::nullopt;
  }
  return Tr(kMsgForgetAllQuestion);
}

bool ForgetAllDetections(const CRecordedDetections& records, const ForgetAllSteps& steps) {
  bool reset = false;
  if (std::optional<std::string> question = ForgetAllQuestion(records.CountValidRecords())) {
    if (steps.askStopDefaultNo && steps.askStopDefaultNo(*question)) {
      if (steps.resetDetectionList) {
        steps.resetDetectionList();
      }
      reset = true;
    }
  }
  if (steps.forgetLastAnnounced) {
    steps.forgetLastAnnounced();
  }
  return reset;
}

ResetDetectionListOutcome ResetDetectionList(CRecordedDetections& records, Logger& log,
                                             SoundPlayer* sound,
                                             const ResetDetectionListSteps& steps) {
  ResetDetectionListOutcome outcome;
  // Count, clear and switch files with no detection in between: a box recording meanwhile
  // waits for the lock and lands, as line 1, in the new file.
  records.WithLock([&](CRecordedDetections::Locked& locked) {
    outcome.forgotten = locked.CountValidRecords();
    if (!locked.Records().empty()) {
      outcome.lastForgottenId = locked.Records().back().id;
    }
    locked.ClearRecords();
    log.PostLog(
        0, StrF(Tr(kMsgResetDone).c_str(), outcome.forgotten, outcome.forgotten > 1 ? "s" : ""));
    locked.CloseDetectionFile();
    std::string path = steps.newIncomingPath ? steps.newIncomingPath() : locked.DetectionFilePath();
    // The files of this run may not be on the disk yet (the writer thread makes them).
    outcome.incomingPath = FreshFilePath(path, locked.DetectionFilePaths());
    locked.OpenDetectionFile(outcome.incomingPath);
  });
  if (steps.emptyWindowList) {
    steps.emptyWindowList();
  }
  if (steps.clearBoxesLastDetections) {
    steps.clearBoxesLastDetections();
  }
  if (steps.refreshBoxStatesAndCounter) {
    steps.refreshBoxStatesAndCounter();
  }
  if (sound != nullptr) {
    (void)sound->PlaySoundResource(kSoundDone);
  }
  log.WriteLog("\n");
  log.PostLog(0, StrF(Tr(kMsgIncomingDetectionsSaved).c_str(), outcome.incomingPath.c_str()));
  return outcome;
}

}  // namespace lapora
