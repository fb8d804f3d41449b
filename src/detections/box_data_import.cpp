#include "detections/box_data_import.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <unordered_set>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/intake_box.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/kol_result.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "foundation/temp_files.h"
#include "foundation/text.h"
#include "platform/http_client.h"
#include "resources/messages_download.h"
#include "resources/messages_import.h"

namespace lapora {

namespace {

constexpr std::int32_t kSecondsPerDay = 24 * 3600;
constexpr int kProgressLinesEvery = 100;
constexpr int kCommandProgressEvery = 10;
constexpr std::size_t kUnknownChipsShown = 4;

const char* Plural(int count) {
  return count > 1 ? "s" : "";
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// The time of day of a box time, from the fields the absolute time is read from: "H:M:S.f" as
// ParseTimeMillis reads it, else the compact "HHMMSS.f" (two digits each, as ParseBoxDateTime
// takes them) read the same way. False, *timeOfDay unchanged, for any other text.
bool ParseBoxTimeOfDay(std::string_view time, CChrono* timeOfDay) {
  CChrono value;
  if (!value.ParseTimeMillis(time)) {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int fraction = 0;
    if (std::sscanf(std::string(time).c_str(), "%2d%2d%2d.%d", &hours, &minutes, &seconds,
                    &fraction) != 4 ||
        !value.ParseTimeMillis(StrF("%d:%d:%d.%d", hours, minutes, seconds, fraction))) {
      return false;
    }
  }
  *timeOfDay = value;
  return true;
}

// "date_time" into the two times; false with *reason.
bool ParseDateTimeText(const std::string& dateTime, CChrono* absTime, CChrono* timeOfDay,
                       std::string* reason) {
  std::vector<std::string_view> parts = SplitBoxDataFields(dateTime, '_');
  if (parts.size() != 2) {
    *reason = StrF(Tr(kMsgImportInvalidChrono).c_str(), dateTime.c_str());
    return false;
  }
  std::string date(parts[0]);
  std::replace(date.begin(), date.end(), '-', ' ');
  int year = 0;
  int month = 0;
  int day = 0;
  std::size_t pos = 0;
  if (!ScanInt(date, &pos, &year, IntOverflow::kSaturate) ||
      !ScanInt(date, &pos, &month, IntOverflow::kSaturate) ||
      !ScanInt(date, &pos, &day, IntOverflow::kSaturate)) {
    *reason = StrF(Tr(kMsgImportInvalidDate).c_str(), date.c_str());
    return false;
  }
  std::string compact = StrF("%04d%02d%02d", year, month, day);
  CChrono absolute;
  CChrono ofDay;
  // A time that cannot be read would give an unset instant, counted as a day of its own and
  // sorted after every range: refuse the line instead.
  if (!absolute.ParseBoxDateTime(compact, parts[1])) {
    *reason = StrF(Tr(kMsgImportInvalidChrono).c_str(), dateTime.c_str());
    return false;
  }
  static_cast<void>(ParseBoxTimeOfDay(parts[1], &ofDay));
  *absTime = absolute;
  *timeOfDay = ofDay;
  return true;
}

// The delay as a normalised duration, as the live repeat filter compares it.
struct DayStatistics {
  bool any = false;
  std::string day;
  CChrono first;
  CChrono last;
  int count = 0;
};

void Info(const ImportScanCallbacks& callbacks, const std::string& text) {
  if (callbacks.info) {
    callbacks.info(text);
  }
}

void DaySummary(const ImportScanCallbacks& callbacks, const DayStatistics& stats) {
  if (stats.any) {
    Info(callbacks, StrF(Tr(kMsgImportDaySummary).c_str(), stats.day.c_str(),
                         stats.first.FormatSeconds().c_str(), stats.last.FormatSeconds().c_str(),
                         stats.count));
  }
}

// A real calendar day whose midnight the time values can hold.
bool IsUsableDate(int year, int month, int day) {
  static constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) {
    return false;
  }
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int days = month == 2 && leap ? 29 : kDaysInMonth[month - 1];
  CChrono midnight;
  return day <= days && midnight.ParseDateTime(StrF("%04d%02d%02d", year, month, day), "000000", 0);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

CBoxDataLineReader::CBoxDataLineReader(std::FILE* file)
    : m_file(file), m_block(std::make_unique<char[]>(kBlock)) {}

bool CBoxDataLineReader::Next(std::string* line, bool* tooLong) {
  // Room for the longest line and the carriage return before its line feed.
  constexpr std::size_t kKept = kBoxDataMaxLine + 1;
  line->clear();
  line->reserve(kKept);
  bool any = false;
  bool overflow = false;
  for (;;) {
    if (m_pos == m_end) {
      if (m_atEnd) {
        break;
      }
      m_pos = 0;
      m_end = std::fread(m_block.get(), 1, kBlock, m_file);
      m_bytesRead += m_end;
      if (m_end == 0) {
        m_atEnd = true;
        break;
      }
    }
    any = true;
    const char* start = m_block.get() + m_pos;
    std::size_t available = m_end - m_pos;
    const char* newline = static_cast<const char*>(std::memchr(start, '\n', available));
    std::size_t length = newline != nullptr ? static_cast<std::size_t>(newline - start) : available;
    std::size_t room = kKept - line->size();
    if (length > room) {
      overflow = true;
    }
    line->append(start, std::min(length, room));
    m_pos += length;
    if (newline != nullptr) {
      ++m_pos;
      break;
    }
  }
  if (!any) {
    return false;
  }
  if (!overflow && !line->empty() && line->back() == '\r') {
    line->pop_back();
  }
  *tooLong = overflow || line->size() > kBoxDataMaxLine;
  if (*tooLong) {
    line->resize(kBoxDataMaxLine);
  }
  return true;
}

std::string BoxDataLineEcho(std::string_view line) {
  if (line.size() <= kBoxDataEchoMax) {
    return std::string(line);
  }
  return std::string(line.substr(0, kBoxDataEchoMax - 3)) + "...";
}

std::vector<std::string_view> SplitBoxDataFields(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t next = text.find(separator, start);
    if (next == std::string_view::npos) {
      fields.push_back(text.substr(start));
      return fields;
    }
    fields.push_back(text.substr(start, next - start));
    start = next + 1;
  }
  return fields;
}

bool ParseBoxDataLine(std::string_view line, std::string* chip, CChrono* absTime,
                      CChrono* timeOfDay, std::string* reason) {
  if (line.size() > kBoxDataMaxLine) {
    *reason = StrF(Tr(kMsgImportLineTooLong).c_str(), static_cast<int>(kBoxDataMaxLine));
    return false;
  }
  std::vector<std::string_view> fields = SplitBoxDataFields(line, ',');
  std::string chipText;
  std::string dateTime;
  switch (fields.size()) {
    case 6:
      chipText.assign(fields[3]);
      dateTime.assign(fields[4]);
      dateTime.push_back('_');
      dateTime.append(fields[5]);
      break;
    case 4:
      chipText.assign(fields[0]);
      dateTime.assign(fields[1]);
      std::replace(dateTime.begin(), dateTime.end(), ' ', '_');
      break;
    case 3: {
      std::size_t colon = fields[0].find(':');
      if (colon == std::string_view::npos) {
        *reason = Tr(kMsgImportF2NoColon);
        return false;
      }
      if (!StartsWith(fields[1], "port=")) {
        *reason = Tr(kMsgImportF2NoPort);
        return false;
      }
      if (!StartsWith(fields[2], "rssi=")) {
        *reason = Tr(kMsgImportF2NoRssi);
        return false;
      }
      chipText.assign(fields[0].substr(0, colon));
      dateTime.assign(fields[0].substr(colon + 1));
      break;
    }
    case 1: {
      std::vector<std::string_view> parts = SplitBoxDataFields(line, ';');
      if (parts.size() != 9) {
        *reason = Tr(kMsgImportUnknownFormat);
        return false;
      }
      if (!StartsWith(parts[7], "rssi=")) {
        *reason = Tr(kMsgImportF3NoRssi);
        return false;
      }
      if (!StartsWith(parts[8], "port=")) {
        *reason = Tr(kMsgImportF3NoPort);
        return false;
      }
      chipText.assign(parts[1]);
      dateTime.assign(parts[3]);
      dateTime.push_back('_');
      dateTime.append(parts[4]);
      break;
    }
    default:
      *reason = Tr(kMsgImportUnknownFormat);
      return false;
  }
  if (chipText.empty()) {
    // A detection of no chip cannot be given a bib: the line is not one the box writes.
    *reason = Tr(kMsgImportUnknownFormat);
    return false;
  }
  CChrono absolute;
  CChrono ofDay;
  if (!ParseDateTimeText(dateTime, &absolute, &ofDay, reason)) {
    return false;
  }
  *chip = std::move(chipText);
  *absTime = absolute;
  *timeOfDay = ofDay;
  return true;
}

std::string ImportScanCaption() {
  return Tr(kMsgImportScanCaption);
}

bool PurgeRepeatedDetections(std::vector<CDetection>& found, int delayMs) {
  std::vector<std::size_t> order;
  try {
    order.resize(found.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    int byChip = found[a].chip.compare(found[b].chip);
    if (byChip != 0) {
      return byChip < 0;
    }
    return found[a].absTime < found[b].absTime;
  });
  std::vector<CDetection> kept;
  kept.reserve(found.size());
  const CDetection* previous = nullptr;
  for (std::size_t index : order) {
    CDetection& current = found[index];
    bool keep = true;
    if (delayMs > 0 && previous != nullptr && previous->chip == current.chip) {
      if (current.absTime == previous->absTime) {
        keep = false;
      } else if (current.absTime > previous->absTime &&
                 current.absTime.IsWithinAfter(previous->absTime, delayMs)) {
        keep = false;
      }
    }
    // The previous element is the one just visited, kept or not: a chain of close reads
    // collapses to its first.
    previous = &current;
    if (keep) {
      kept.push_back(current);
    }
  }
  found = std::move(kept);
  return true;
}

bool SortDetectionsByTime(std::vector<CDetection>& found) {
  try {
    std::stable_sort(found.begin(), found.end(), [](const CDetection& a, const CDetection& b) {
      return a.absTime < b.absTime;
    });
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

ImportScanResult ScanBoxDataFile(const std::string& path, const ImportScanOptions& options,
                                 const CChipTable& chipTable, const ImportScanCallbacks& callbacks,
                                 SoundPlayer* sound) {
  ImportScanResult result;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (file == nullptr) {
    return result;
  }
  result.opened = true;
  Info(callbacks, StrF(Tr(kMsgImportScanStart).c_str(), path.c_str()));

  const bool tableInUse = chipTable.ChipTableCount() > 0;
  std::unordered_set<std::string> unknownSeen;
  DayStatistics stats;
  int found = 0;
  std::string line;
  bool tooLong = false;
  CBoxDataLineReader reader(file.get());
  while (reader.Next(&line, &tooLong)) {
    ++result.lines;
    if (result.lines % kProgressLinesEvery == 0 || (found > 0 && found % 100 == 0)) {
      if (callbacks.progress &&
          !callbacks.progress(StrF(Tr(kMsgImportScanProgress).c_str(), result.lines, found,
                                   Plural(found), Plural(found)))) {
        result.cancelled = true;
        break;
      }
    }
    std::string chip;
    CChrono absTime;
    CChrono timeOfDay;
    std::string reason;
    if (tooLong) {
      reason = StrF(Tr(kMsgImportLineTooLong).c_str(), static_cast<int>(kBoxDataMaxLine));
    }
    if (tooLong || !ParseBoxDataLine(line, &chip, &absTime, &timeOfDay, &reason)) {
      if (options.showAbnormal) {
        Info(callbacks, StrF(Tr(kMsgImportInvalidLine).c_str(), reason.c_str(),
                             BoxDataLineEcho(line).c_str()));
      }
      continue;
    }
    std::string bib = chip;
    bool known = true;
    if (tableInUse) {
      std::int32_t number = 0;
      if (chipTable.LookupChip(chip, &number)) {
        bib = StrF("%d", static_cast<int>(number));
      } else {
        known = false;
        if (unknownSeen.insert(chip).second) {
          result.unknownChips.push_back(chip);
        }
      }
    }

    std::string day = absTime.FormatLongDate();
    if (!stats.any || day != stats.day) {
      DaySummary(callbacks, stats);
      stats.any = true;
      stats.day = day;
      stats.first = timeOfDay;
      stats.last = timeOfDay;
      stats.count = 1;
      Info(callbacks,
           StrF(Tr(kMsgImportDayFirst).c_str(), day.c_str(), timeOfDay.FormatSeconds().c_str()));
    } else {
      ++stats.count;
      stats.last = timeOfDay;
    }

    if (absTime < options.start || absTime > options.end) {
      continue;
    }
    if (!known && options.ignoreUnknownTags) {
      if (options.showAbnormal) {
        Info(callbacks, StrF(Tr(kMsgImportUnknownChip).c_str(), chip.c_str()));
      }
      ++result.rejectedUnknown;
      continue;
    }
    result.found.emplace_back(timeOfDay, absTime, std::move(chip), std::move(bib));
    ++found;
  }
  DaySummary(callbacks, stats);
  file.reset();

  if (result.rejectedUnknown > 0) {
    const char* s = Plural(result.rejectedUnknown);
    Info(callbacks, StrF(Tr(kMsgImportRejectedUnknown).c_str(), result.rejectedUnknown, s, s));
  }
  if (found > 0) {
    const char* s = Plural(found);
    Info(callbacks, StrF(Tr(kMsgImportSuitableFound).c_str(), found, s, s, s));
  } else {
    Info(callbacks, Tr(kMsgImportNoneFound));
  }
  result.beforePurge = found;
  Info(callbacks, StrF(Tr(kMsgImportBeforePurge).c_str(), found));
  if (!PurgeRepeatedDetections(result.found, options.ignoreDelayMs)) {
    if (callbacks.alert) {
      callbacks.alert(Tr(kMsgImportSortError2));
    }
  } else if (!SortDetectionsByTime(result.found)) {
    if (callbacks.alert) {
      callbacks.alert(Tr(kMsgImportSortError1));
    }
  }
  Info(callbacks, StrF(Tr(kMsgImportAfterPurge).c_str(), static_cast<int>(result.found.size()),
                       options.ignoreDelayMs));

  if (!result.unknownChips.empty()) {
    if (sound != nullptr) {
      sound->PlaySoundResource(kSoundWarning);
    }
    std::string list;
    for (std::size_t i = 0; i < result.unknownChips.size() && i < kUnknownChipsShown; ++i) {
      list += "  ";
      list += result.unknownChips[i];
    }
    if (result.unknownChips.size() > kUnknownChipsShown) {
      list += "  ...";
    }
    int count = static_cast<int>(result.unknownChips.size());
    const char* s = Plural(count);
    // The French text makes two words agree, the English one only its noun.
    Info(callbacks, BuildLanguage() == Language::kEnglish
                        ? StrF(Tr(kMsgImportChipsNotFound).c_str(), count, s, list.c_str())
                        : StrF(Tr(kMsgImportChipsNotFound).c_str(), count, s, s, list.c_str()));
  }
  Info(callbacks, Tr(kMsgImportScanDone));
  return result;
}

// ---------------------------------------------------------------------------------------------
// Search.

ImportSearchCheck CheckImportSearch(const ImportSearchInput& input,
                                    const std::array<std::string, 4>& raceDayDates) {
  ImportSearchCheck check;
  check.dateText = StrF("%02d/%02d/%04d", input.day, input.month, input.year);
  CChrono startTime;
  if (!startTime.ParseTimeHundredths(input.startText)) {
    check.message = Tr(kMsgImportStartInvalid);
    check.faultyField = ImportField::kStartTime;
    return check;
  }
  CChrono endTime;
  if (!endTime.ParseTimeHundredths(input.endText)) {
    check.message = Tr(kMsgImportEndInvalid);
    check.faultyField = ImportField::kEndTime;
    return check;
  }
  if (!IsUsableDate(input.year, input.month, input.day)) {
    check.message = StrF(Tr(kMsgImportDateInvalid).c_str(), check.dateText.c_str());
    check.faultyField = ImportField::kDate;
    return check;
  }
  std::string compact = StrF("%04d%02d%02d", input.year, input.month, input.day);
  for (std::size_t k = 0; k < raceDayDates.size(); ++k) {
    if (raceDayDates[k] == compact) {
      check.correctionIndex = static_cast<int>(k);
      break;
    }
  }
  auto withoutColons = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ':'), text.end());
    return text;
  };
  if (!check.start.ParseDateTime(compact, withoutColons(startTime.FormatSeconds()), 0)) {
    check.message = Tr(kMsgImportStartInvalid);
    check.faultyField = ImportField::kStartTime;
    return check;
  }
  if (!check.end.ParseDateTime(compact, withoutColons(endTime.FormatSeconds()), 0)) {
    check.message = Tr(kMsgImportEndInvalid);
    check.faultyField = ImportField::kEndTime;
    return check;
  }
  check.ok = true;
  return check;
}

ImportSearchOutcome RunImportSearch(const ImportSearchInput& input,
                                    const ImportSearchServices& services) {
  ImportSearchOutcome outcome;
  outcome.check = CheckImportSearch(input, services.settings.RaceDayDates());
  if (!outcome.check.ok) {
    return outcome;
  }
  std::string path = input.fileField;
  std::string tempPath;
  if (StartsWith(path, "http")) {
    if (services.tempFiles != nullptr) {
      tempPath = services.tempFiles->MakeTempFileName("csv", "data");
    }
    std::string error;
    auto download = services.download;
    if (!download) {
      const ImportScanCallbacks& callbacks = services.callbacks;
      download = [&callbacks](const std::string& url, const std::string& target,
                              std::string* failure) {
        HttpOptions http;
        if (callbacks.progress) {
          http.keepGoing = [&callbacks, &url](std::int64_t received) {
            return callbacks.progress(StrF(Tr(kMsgDownloadProgress).c_str(), url.c_str(),
                                           static_cast<int>(received / 1024)));
          };
        }
        return GetInternetFile(url, target, failure, http);
      };
    }
    if (tempPath.empty() || !download(input.fileField, tempPath, &error)) {
      if (!error.empty()) {
        Info(services.callbacks, error);
      }
      std::error_code ignored;
      if (!tempPath.empty()) {
        std::filesystem::remove(tempPath, ignored);
      }
      tempPath.clear();
    }
    path = tempPath;
  }
  std::error_code code;
  if (path.empty() || !std::filesystem::is_regular_file(path, code)) {
    outcome.check.ok = false;
    outcome.check.message = StrF(Tr(kMsgImportFileMissing).c_str(), input.fileField.c_str());
    outcome.check.faultyField = ImportField::kFile;
    return outcome;
  }

  CChrono startOfDay = outcome.check.start;
  startOfDay.ToTimeOfDay();
  CChrono endOfDay = outcome.check.end;
  endOfDay.ToTimeOfDay();
  outcome.headers[0] = StrF(Tr(kMsgImportHeaderFile).c_str(), input.fileField.c_str());
  outcome.headers[1] =
      StrF(Tr(kMsgImportHeaderRange).c_str(), outcome.check.start.FormatLongDate().c_str(),
           startOfDay.FormatSeconds().c_str(), endOfDay.FormatSeconds().c_str());
  Info(services.callbacks, outcome.headers[0]);
  Info(services.callbacks, outcome.headers[1]);

  ImportScanOptions options;
  options.start = outcome.check.start;
  options.end = outcome.check.end;
  options.showAbnormal = input.showAbnormal;
  options.ignoreDelayMs = services.settings.GVarnexIgnoreInputMsDelta;
  options.ignoreUnknownTags = services.settings.GVarnexIgnoreUnknownTags != 0;
  outcome.scan =
      ScanBoxDataFile(path, options, services.chipTable, services.callbacks, services.sound);
  if (!tempPath.empty()) {
    std::error_code ignored;
    std::filesystem::remove(tempPath, ignored);
  }
  return outcome;
}

// ---------------------------------------------------------------------------------------------
// Dialog lists.

std::vector<std::string> ImportBoxIdEntries() {
  std::vector<std::string> entries;
  entries.emplace_back("31     CLASSIC");
  for (int id = 10; id <= 30; ++id) {
    entries.push_back(StrF("%d     ", id));
  }
  return entries;
}

std::string ImportBoxIdOfEntry(const std::string& entry) {
  std::size_t start = 0;
  while (start < entry.size() && IsSpace(entry[start])) {
    ++start;
  }
  std::size_t end = start;
  while (end < entry.size() && !IsSpace(entry[end])) {
    ++end;
  }
  return entry.substr(start, end - start);
}

std::string ImportBoxIdDisplay(const std::string& entry,
                               const std::vector<std::string>& announced) {
  if (announced.empty()) {
    return entry;
  }
  std::string id = ImportBoxIdOfEntry(entry);
  if (std::find(announced.begin(), announced.end(), id) != announced.end()) {
    return entry;
  }
  return entry + " (?)";
}

// ---------------------------------------------------------------------------------------------
// Getting the current data of a connected box.

std::string BoxCurrentDataUrl(const std::string& host) {
  return "http://" + host + "/currentData.csv";
}

PackWaitResult WaitForBoxPack(const PackWaitSteps& steps) {
  if (steps.packState == nullptr) {
    return PackWaitResult::kNotSent;
  }
  std::atomic<int>& state = *steps.packState;
  state = steps.running;
  if (!steps.send || !steps.send()) {
    state = steps.idle;
    return PackWaitResult::kNotSent;
  }
  for (int pumps = 0; state == steps.running; ++pumps) {
    if (steps.connected && !steps.connected()) {
      state = steps.idle;
      return PackWaitResult::kLost;
    }
    if (pumps >= steps.maxPumps) {
      state = steps.idle;
      return PackWaitResult::kTimedOut;
    }
    if (steps.pumpAndSleep) {
      steps.pumpAndSleep();
    }
  }
  if (state == steps.failed) {
    return PackWaitResult::kFailed;
  }
  state = steps.idle;
  return PackWaitResult::kSucceeded;
}

// ---------------------------------------------------------------------------------------------
// Closing actions.

std::string ImportActionQuestion(ImportAction action) {
  switch (action) {
    case ImportAction::kImport:
      return Tr(kMsgImportMergeQuestion);
    case ImportAction::kReplay:
      return Tr(kMsgImportReplayQuestion);
    default:
      return {};
  }
}

std::string ImportOutputPath(const std::string& text) {
  std::string tail = text.size() >= 4 ? text.substr(text.size() - 4) : text;
  for (char& c : tail) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return tail == ".KOL" ? text : text + ".kol";
}

ImportSaveCheck CheckImportSave(const std::string& outputText) {
  ImportSaveCheck check;
  if (outputText.empty()) {
    check.message = Tr(kMsgImportNoOutput);
    return check;
  }
  check.ok = true;
  check.path = ImportOutputPath(outputText);
  std::error_code code;
  check.exists = std::filesystem::exists(check.path, code);
  if (check.exists) {
    check.overwriteQuestion = StrF(Tr(kMsgImportOverwrite).c_str(), check.path.c_str());
  }
  return check;
}

bool RemoveImportOutput(const std::string& path, std::string* message) {
  std::error_code code;
  std::filesystem::remove(path, code);
  if (code) {
    *message = StrF(Tr(kMsgImportRemoveFailed).c_str(), path.c_str(), code.message().c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Import command.

std::string ImportCommandCaption(ImportAction action) {
  switch (action) {
    case ImportAction::kReplay:
      return Tr(kMsgImportCaptionReplay);
    case ImportAction::kSave:
      return Tr(kMsgImportCaptionSave);
    default:
      return Tr(kMsgImportCaptionImport);
  }
}

ImportCommandOutcome RunImportCommand(ImportRequest& request,
                                      const ImportCommandServices& services) {
  ImportCommandOutcome outcome;
  const ImportAction action = request.action;
  if (action == ImportAction::kNone) {
    return outcome;
  }
  Logger& log = services.log;
  for (const std::string& header : request.headers) {
    log.PostLog(0, "+++ " + header);
  }
  const int total = static_cast<int>(request.found.size());
  const Message& announce = action == ImportAction::kReplay ? kMsgImportToReplay
                            : action == ImportAction::kSave ? kMsgImportToSave
                                                            : kMsgImportToImport;
  log.PostLog(0, StrF(Tr(announce).c_str(), total, request.boxId.c_str()));
  const int k = std::clamp(request.correctionIndex, 0, 3);
  if (k > 0) {
    log.PostLog(0, StrF(Tr(kMsgImportHoursAdded).c_str(), k * 24));
  }

  CTemporaryIntakeBox box =
      request.attached
          ? CTemporaryIntakeBox(request.attached->number, request.attached->connectionName,
                                request.attached->detectorLabel)
          : CTemporaryIntakeBox(0, StrF("[file:0 %s]", request.boxId.c_str()), request.boxId);

  std::unique_ptr<std::FILE, FileCloser> output;
  if (action == ImportAction::kSave) {
    // Text mode on the original system: the detection lines carry CR LF themselves.
    output.reset(std::fopen(request.outputPath.c_str(), "ab"));
    if (output == nullptr) {
      outcome.errorMessage = StrF(Tr(kMsgImportCreateError).c_str(), request.outputPath.c_str());
      log.PostLog(0, outcome.errorMessage);
      outcome.failed = true;
      return outcome;
    }
  }

  const Message& progressText = action == ImportAction::kReplay ? kMsgImportProgressReplay
                                : action == ImportAction::kSave ? kMsgImportProgressSave
                                                                : kMsgImportProgressImport;
  const int absClock = services.settings.BAbsClock;
  for (const CDetection& detection : request.found) {
    CChrono raceTime = detection.timeOfDay;
    if (k > 0) {
      raceTime = raceTime + CChrono(k * kSecondsPerDay, 0);
    }
    if (action == ImportAction::kReplay) {
      outcome.recorded += services.intake.RecordDetection(box, detection.chip, detection.bib,
                                                          detection.absTime, raceTime);
    } else if (action == ImportAction::kImport) {
      static_cast<void>(services.records.AddDetectionRecord(
          request.boxId, detection.bib, detection.absTime, raceTime, absClock, false));
      ++outcome.recorded;
    } else {
      // The line marked as an absolute-clock line carries the absolute time text, as every
      // other writer of detection lines does.
      CKolResult record;
      record.bibText = detection.bib;
      record.detectorLabel = request.boxId;
      record.kindMarker = absClock != 0 ? 1 : 0;
      record.timeText = DetectionTimeText(detection.absTime, raceTime, record.kindMarker);
      std::string line = FormatDetectionLine(outcome.done + 1, record);
      if (std::fwrite(line.data(), 1, line.size(), output.get()) != line.size()) {
        outcome.errorMessage = StrF(Tr(kMsgImportWriteError).c_str(), request.outputPath.c_str());
        log.PostLog(0, outcome.errorMessage);
        outcome.failed = true;
        break;
      }
      ++outcome.recorded;
    }
    ++outcome.done;
    if (outcome.done % kCommandProgressEvery == 0 && services.progress) {
      const char* s = Plural(outcome.done);
      if (!services.progress(StrF(Tr(progressText).c_str(), outcome.done, total, s, s))) {
        outcome.cancelled = true;
        break;
      }
    }
  }
  // What was handled leaves the list; after a cancel the rest stays for another command.
  request.found.erase(request.found.begin(), request.found.begin() + outcome.done);

  if (output != nullptr) {
    bool closed = std::fclose(output.release()) == 0;
    if (!closed && !outcome.failed) {
      outcome.errorMessage = StrF(Tr(kMsgImportWriteError).c_str(), request.outputPath.c_str());
      log.PostLog(0, outcome.errorMessage);
      outcome.failed = true;
    }
  }
  if (outcome.cancelled && !outcome.failed) {
    const char* s = Plural(outcome.done);
    log.PostLog(0, StrF(Tr(kMsgImportCancelled).c_str(), outcome.done, total, s, s));
  } else if (!outcome.failed) {
    const Message& done = action == ImportAction::kReplay ? kMsgImportDoneReplay
                          : action == ImportAction::kSave ? kMsgImportDoneSave
                                                          : kMsgImportDoneImport;
    log.PostLog(0, StrF(Tr(done).c_str(), request.outputPath.c_str()));
  }
  return outcome;
}

}  // namespace lapora
