#include "detections/detection_intake.h"

#include <array>
#include <climits>
#include <cstdio>
#include <string_view>
#include <utility>

#include "detections/piece_format.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_detections.h"

namespace lapora {

namespace {

// The build-language text of a catalogue entry, converted once: the intake formats several of
// them for every detection line.
template <const Message& M>
const std::string& Text() {
  static const std::string text = Tr(M);
  return text;
}

// The same, split for concatenation (texts formatted for every detection).
template <const Message& M>
const CPieceFormat& Pieces() {
  static const CPieceFormat format(Tr(M));
  return format;
}

constexpr std::size_t kMaxDetectionField = 255;
constexpr std::int32_t kSecondsPerDay = 24 * 3600;

// The three fields of "%[^_]_%[^,],%s", each of 1 to 255 characters. False when the text does
// not hold them or a field is longer (a truncated chip or date could be taken for another).
bool SplitDetectionText(std::string_view text, std::string_view* date, std::string_view* time,
                        std::string_view* chip) {
  std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) {
    text = text.substr(0, zero);
  }
  std::size_t underscore = text.find('_');
  if (underscore == std::string_view::npos || underscore == 0) {
    return false;
  }
  std::size_t comma = text.find(',', underscore + 1);
  if (comma == std::string_view::npos || comma == underscore + 1) {
    return false;
  }
  std::size_t chipStart = comma + 1;
  while (chipStart < text.size() && IsSpace(text[chipStart])) {
    ++chipStart;
  }
  std::size_t chipEnd = chipStart;
  while (chipEnd < text.size() && !IsSpace(text[chipEnd])) {
    ++chipEnd;
  }
  if (chipEnd == chipStart) {
    return false;
  }
  *date = text.substr(0, underscore);
  *time = text.substr(underscore + 1, comma - underscore - 1);
  *chip = text.substr(chipStart, chipEnd - chipStart);
  return date->size() <= kMaxDetectionField && time->size() <= kMaxDetectionField &&
         chip->size() <= kMaxDetectionField;
}

}  // namespace

std::string DetectionCounterText(int count) {
  if (count == 0) {
    return Tr(kMsgNoRecordedDetection);
  }
  const char* plural = count > 1 ? "s" : "";
  return StrF(Tr(kMsgDetectionCounter).c_str(), count, plural, plural);
}

std::string DetectionItemText(const CChrono& raceTime, const std::string& sourceName,
                              const std::string& bibText) {
  std::string text = raceTime.FormatWithDays();
  text.push_back('\t');
  text.append(sourceName);
  text.append("\t# ");
  text.append(Logger::Render(bibText));
  return text;
}

DetectionIntake::DetectionIntake(Logger& log, EventQueue& events, AppSettings& settings,
                                 SoundPlayer* sound, Clock& clock, CChipTable& chipTable,
                                 CRecordedDetections& records, DetectionPusher* pusher)
    : m_log(log),
      m_events(events),
      m_settings(settings),
      m_sound(sound),
      m_clock(clock),
      m_chipTable(chipTable),
      m_records(records),
      m_pusher(pusher) {}

DetectionIntake::~DetectionIntake() {
  m_records.RemoveReleaseSink(this);
}

std::string DetectionIntake::BoxLabel(const IntakeBox& box) {
  return Pieces<kMsgIntakeBoxLabel>().Format({box.BoxNumber(), box.ConnectionName()});
}

bool DetectionIntake::ParseDetection(const std::string& text, std::string& chip, std::string& bib,
                                     CChrono& absTime, CChrono& raceTime, std::string& message) {
  message.clear();
  absTime.Clear();
  raceTime.Clear();

  std::string_view dateField;
  std::string_view timeField;
  std::string_view chipField;
  if (!SplitDetectionText(text, &dateField, &timeField, &chipField)) {
    message = StrF(Text<kMsgInvalidDetectionFormat>().c_str(), text.c_str());
    return false;
  }
  chip.assign(chipField);

  // Any text giving three integers once its dashes are blanks is a date.
  char dashless[kMaxDetectionField + 1];
  for (std::size_t i = 0; i < dateField.size(); ++i) {
    dashless[i] = dateField[i] == '-' ? ' ' : dateField[i];
  }
  dashless[dateField.size()] = '\0';
  std::string_view dateText(dashless, dateField.size());
  int year = 0;
  int month = 0;
  int day = 0;
  std::size_t pos = 0;
  if (!ScanInt(dateText, &pos, &year, IntOverflow::kSaturate) ||
      !ScanInt(dateText, &pos, &month, IntOverflow::kSaturate) ||
      !ScanInt(dateText, &pos, &day, IntOverflow::kSaturate)) {
    message = StrF(Text<kMsgInvalidDateFormat>().c_str(), dashless);
    return false;
  }
  char compact[48];
  if (year >= 0 && year <= 9999 && month >= 0 && month <= 99 && day >= 0 && day <= 99) {
    // The usual case, without a printf call per detection.
    compact[0] = static_cast<char>('0' + year / 1000);
    compact[1] = static_cast<char>('0' + year / 100 % 10);
    compact[2] = static_cast<char>('0' + year / 10 % 10);
    compact[3] = static_cast<char>('0' + year % 10);
    compact[4] = static_cast<char>('0' + month / 10);
    compact[5] = static_cast<char>('0' + month % 10);
    compact[6] = static_cast<char>('0' + day / 10);
    compact[7] = static_cast<char>('0' + day % 10);
    compact[8] = '\0';
  } else {
    std::snprintf(compact, sizeof compact, "%04d%02d%02d", year, month, day);
  }
  std::string_view compactDate(compact);

  // A time in neither accepted form leaves the time unset; the detection still goes on.
  static_cast<void>(absTime.ParseBoxDateTime(compactDate, timeField));
  static_cast<void>(raceTime.ParseTimeMillis(timeField));

  // Multi-day races: the race time of day grows by 24 h per race day.
  std::array<std::string, 4> raceDays = m_settings.RaceDayDates();
  bool dayFound = false;
  for (std::int32_t k = 0; k < static_cast<std::int32_t>(raceDays.size()); ++k) {
    if (raceDays[static_cast<std::size_t>(k)] == compactDate) {
      if (k > 0) {
        raceTime = raceTime + CChrono(k * kSecondsPerDay, 0);
      }
      dayFound = true;
      break;
    }
  }
  if (!dayFound) {
    m_log.PostLog(0, StrF(Text<kMsgDatesIncompatible>().c_str(), compact));
  }

  bib = chip;
  if (m_chipTable.ChipTableCount() > 0) {
    std::int32_t number = 0;
    if (m_chipTable.LookupChip(chip, &number)) {
      bib = std::to_string(static_cast<unsigned>(number));
    } else if (m_settings.GVarnexIgnoreUnknownTags != 0) {
      message = StrF(Text<kMsgUnknownChip>().c_str(), chip.c_str());
      return false;
    }
  }
  return true;
}

int DetectionIntake::RecordDetection(IntakeBox& box, const std::string& chip,
                                     const std::string& bib, const CChrono& absTime,
                                     const CChrono& raceTime) {
  bool keep = true;
  int delayMs = m_settings.GVarnexIgnoreInputMsDelta;
  CLastBoxDetectionList& last = box.LastDetections();
  if (delayMs >= 1) {
    if (const CBoxDetection* previous = last.FindLast(bib)) {
      if (absTime == previous->absTime) {
        keep = false;
      } else if (absTime > previous->absTime) {
        keep = !absTime.IsWithinAfter(previous->absTime, delayMs);
      }
    }
  }

  const std::string connection = box.ConnectionName();
  const std::string label = Pieces<kMsgIntakeBoxLabel>().Format({box.BoxNumber(), connection});
  m_log.PostLog(
      0, Pieces<kMsgDetectionRecved>().Format({label, raceTime.FormatHundredths(), bib, chip}));
  // Every read renews the time, kept or not: a bib read without pause stays ignored.
  last.RememberLast(bib, absTime);

  if (!keep) {
    m_log.PostLog(75, Pieces<kMsgDetectionIgnored>().Format({label}));
    return 0;
  }
  RecordRelease release;
  release.refresh = true;
  if (m_settings.BLogDetections != 0) {
    release.showItem = true;
    release.itemText = DetectionItemText(raceTime, connection, bib);
  }
  (void)StoreDetection(bib, box.DetectorLabel(), absTime, raceTime, std::move(release));
  if (m_settings.GVarnexBeepDetections != 0 && m_sound != nullptr) {
    m_sound->PlaySoundResource(kSoundDetection);
  }
  return 1;
}

CKolResult DetectionIntake::StoreDetection(const std::string& bib, const std::string& detectorLabel,
                                           const CChrono& absTime, const CChrono& raceTime,
                                           RecordRelease release) {
  // Every stored detection is offered to the results link, once it is on the disk.
  release.sink = this;
  return m_records.AddDetectionRecord(detectorLabel, bib, absTime, raceTime, m_settings.BAbsClock,
                                      true, std::move(release));
}

void DetectionIntake::ReleaseRecord(const CKolResult& record, const RecordRelease& release) {
  if (DetectionPusher* pusher = m_pusher.load()) {
    pusher->PushDetection(record);
  }
  // The refresh request and the list item go out as one batch: one lock on the event queue
  // instead of two.
  Event batch[2];
  std::size_t count = 0;
  if (release.refresh) {
    batch[count++] = RefreshRequestEvent{};
  }
  if (release.showItem) {
    batch[count++] = DetectionItemEvent{CLogDetectionItem{release.itemText, record}};
  }
  if (count > 0) {
    m_events.PostBatch(batch, count);
  }
}

void DetectionIntake::HandleDetectionLine(IntakeBox& box, const std::string& logPrefix,
                                          const std::string& payload, const std::string& rawLine,
                                          std::uint64_t readTickMs, BoxThreadCounters& counters) {
  ++counters.handled;
  CBoxReadHistory* history = box.ReadHistory();
  const bool replayed = history != nullptr && history->InReplay();
  std::string chip;
  std::string bib;
  std::string message;
  CChrono absTime;
  CChrono raceTime;
  const bool parsed = ParseDetection(payload, chip, bib, absTime, raceTime, message);
  // A read is known by its chip and box date-time, whether the chip table knows the chip or not.
  const bool identified = history != nullptr && !chip.empty() && absTime.IsSet();
  if (replayed && identified && history->Contains(chip, absTime)) {
    // Delivered before the connection was lost: neither recorded nor reported twice. The
    // repeat filter still hears of it, so that a missed read right behind it stays a repeat.
    if (parsed) {
      CLastBoxDetectionList& last = box.LastDetections();
      const CBoxDetection* previous = last.FindLast(bib);
      if (previous == nullptr || previous->absTime < absTime) {
        last.RememberLast(bib, absTime);
      }
    }
    ++counters.ignored;
    history->CountReplayed(false);
  } else if (parsed) {
    const bool recorded = RecordDetection(box, chip, bib, absTime, raceTime) == 1;
    if (recorded) {
      ++counters.recorded;
    } else {
      ++counters.ignored;
    }
    if (identified) {
      history->Remember(chip, absTime);
      if (recorded) {
        history->NoteRecorded(absTime);
      }
    }
    if (replayed) {
      history->CountReplayed(recorded);
    }
  } else {
    ++counters.invalid;
    if (identified) {
      history->Remember(chip, absTime);
    }
    if (replayed) {
      history->CountReplayed(false);
    }
    if (!message.empty()) {
      m_log.PostLog(0,
                    StrF(Text<kMsgPrefixedMessage>().c_str(), logPrefix.c_str(), message.c_str()));
    } else {
      m_log.PostLog(0,
                    StrF(Text<kMsgInvalidDetection>().c_str(), logPrefix.c_str(), rawLine.c_str()));
    }
  }

  std::uint64_t now = m_clock.TickMs();
  counters.windowSumMs += now > readTickMs ? now - readTickMs : 0;
  ++counters.windowCount;
  if (counters.handled % BoxThreadCounters::kMeanTimeEvery == 0) {
    m_log.PostLog(0, StrF(Text<kMsgMeanTime>().c_str(), static_cast<int>(counters.windowCount),
                          static_cast<int>(counters.windowSumMs / counters.windowCount),
                          counters.ignored, counters.invalid));
    counters.windowSumMs = 0;
    counters.windowCount = 0;
  }
}

}  // namespace lapora
