// Detection texts through the intake: the fuzz input is a control byte, a chip table (up to
// the first form feed) and detection texts, one per line, as boxes send them after "epc".
// Each text is parsed as the box thread parses it and, when accepted, recorded through the
// repeat filter into the recorded list of a box of its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/intake_box.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

struct IntakeRig {
  IntakeRig()
      : log(events),
        records(log),
        intake(log, events, settings, nullptr, SystemClock(), chipTable, records, nullptr) {
    log.SetPostingEnabled(true);
    settings.SetRaceDayDates({"20120513", TodayCompact(), "20120515", "99991231"});
  }
  ScratchFolder folder;
  EventQueue events;
  Logger log;
  AppSettings settings;
  CChipTable chipTable;
  CRecordedDetections records;
  DetectionIntake intake;
};

bool IsDecimal(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static IntakeRig rig;
  if (size < 1) {
    return 0;
  }
  const std::uint8_t control = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t split = rest.find('\f');
  std::string_view tableText =
      split == std::string_view::npos ? std::string_view() : rest.substr(0, split);
  std::string_view texts = split == std::string_view::npos ? rest : rest.substr(split + 1);

  static const std::string tablePath = rig.folder.File("ChipTable.dtb");
  WriteWholeFile(tablePath, tableText);
  (void)rig.chipTable.LoadChipTableFile(tablePath);
  static constexpr int kDelays[4] = {0, 1, 50, 1500};
  rig.settings.GVarnexIgnoreInputMsDelta = kDelays[control & 3];
  rig.settings.GVarnexIgnoreUnknownTags = (control & 4) != 0 ? 1 : 0;
  rig.settings.BAbsClock = (control & 8) != 0 ? 1 : 0;
  rig.settings.BLogDetections = (control & 16) != 0 ? 1 : 0;
  rig.log.SetLevel((control & 32) != 0 ? 100 : 0);

  CTemporaryIntakeBox box(0, "[file:0 31]", "31");
  BoxThreadCounters counters;
  std::size_t recorded = 0;
  std::size_t start = 0;
  while (start <= texts.size()) {
    std::size_t end = texts.find('\n', start);
    if (end == std::string_view::npos) {
      end = texts.size();
    }
    const std::string text(texts.substr(start, end - start));
    start = end + 1;

    std::string chip = "unchanged";
    std::string bib;
    std::string message;
    CChrono absTime(1, 1);
    CChrono raceTime(1, 1);
    if (rig.intake.ParseDetection(text, chip, bib, absTime, raceTime, message)) {
      Check(message.empty(), "an accepted text with a message");
      Check(!chip.empty() && chip.size() <= 255, "an accepted chip's length");
      std::int32_t number = 0;
      if (rig.chipTable.LookupChip(chip, &number)) {
        Check(bib == std::to_string(number), "a known chip not given its table's bib");
      } else {
        Check(bib == chip, "an unknown chip's bib is not the chip");
        Check(rig.chipTable.ChipTableCount() == 0 || rig.settings.GVarnexIgnoreUnknownTags == 0,
              "an unknown chip accepted while they are refused");
      }
      Check(IsDecimal(bib) || bib == chip, "a bib neither a number nor the chip");
      recorded +=
          static_cast<std::size_t>(rig.intake.RecordDetection(box, chip, bib, absTime, raceTime));
    } else {
      Check(!message.empty(), "a refused text without a message");
      // A malformed text leaves both times unset; an unknown chip is refused once they are read.
      std::int32_t number = 0;
      bool unknownChip = rig.settings.GVarnexIgnoreUnknownTags != 0 &&
                         rig.chipTable.ChipTableCount() > 0 &&
                         !rig.chipTable.LookupChip(chip, &number);
      Check(unknownChip || (!absTime.IsSet() && !raceTime.IsSet()),
            "a malformed text left times behind");
    }
    // The box thread's handling of the same text, counters and log texts included.
    rig.intake.HandleDetectionLine(box, "Box 0 [fuzz]", text, "0@epc@0@" + text, 0, counters);
    DrainEvents(rig.events, rig.log);
  }
  Check(rig.records.RecordCount() >= recorded, "a recorded detection is missing from the list");
  Check(counters.handled == counters.recorded + counters.ignored + counters.invalid,
        "every handled line is counted once");
  rig.records.ClearRecords();
  return 0;
}
