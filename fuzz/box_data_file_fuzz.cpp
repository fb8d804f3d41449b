// Box data files: the fuzz input is a control byte and the file. Every line is parsed in its
// four forms, then the whole file is scanned as the import dialog scans it (day summaries,
// unknown chips, the time range, the purge of repeats and the sort), and the outcome is
// checked against what each line gave.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "detections/box_data_import.h"
#include "detections/chip_table.h"
#include "foundation/chrono.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

struct DataRig {
  DataRig() {
    (void)table.AddChipEntry("E2003412000000000000007B", 123);
    (void)table.AddChipEntry("E20034120000000000000001", 1);
  }
  ScratchFolder folder;
  CChipTable table;
  CChipTable emptyTable;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static DataRig rig;
  static const std::string path = rig.folder.File("data.csv");
  if (size < 1) {
    return 0;
  }
  const std::uint8_t control = data[0];
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  WriteWholeFile(path, content);

  // Line by line, as the scan cuts them (line feed, then one carriage return before it).
  int parsedLines = 0;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    std::string_view line =
        content.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? content.size() : end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    std::string chip = "unchanged";
    CChrono absTime(5, 5);
    CChrono timeOfDay(5, 5);
    std::string reason;
    if (ParseBoxDataLine(line, &chip, &absTime, &timeOfDay, &reason)) {
      ++parsedLines;
      Check(line.size() <= kBoxDataMaxLine, "an overlong line was read");
    } else {
      Check(!reason.empty(), "a refused line without a reason");
      Check(chip == "unchanged" && absTime == CChrono(5, 5) && timeOfDay == CChrono(5, 5),
            "a refused line changed the outputs");
    }
  }

  ImportScanOptions options;
  if ((control & 1) != 0) {
    options.start = CChrono(INT32_MIN, 0);
    options.end = CChrono(INT32_MAX, 999);
  } else {
    // 2012-05-13 in local time, the day of the seeds, from 10:00 to 11:00.
    CChrono from;
    CChrono to;
    (void)from.ParseBoxDateTime("20120513", "10:00:00.000");
    (void)to.ParseBoxDateTime("20120513", "11:00:00.000");
    options.start = from;
    options.end = to;
  }
  static constexpr int kDelays[4] = {0, 50, 1000, 60000};
  options.ignoreDelayMs = kDelays[(control >> 1) & 3];
  options.showAbnormal = (control & 8) != 0;
  options.ignoreUnknownTags = (control & 16) != 0;
  const CChipTable& table = (control & 32) != 0 ? rig.table : rig.emptyTable;

  int infoLines = 0;
  ImportScanCallbacks callbacks;
  callbacks.info = [&](const std::string&) { ++infoLines; };
  callbacks.progress = [](const std::string&) { return true; };
  ImportScanResult result = ScanBoxDataFile(path, options, table, callbacks, nullptr);
  Check(result.opened, "the scan could not open its file");
  Check(result.beforePurge >= static_cast<int>(result.found.size()), "the purge added detections");
  Check(result.beforePurge + result.rejectedUnknown <= parsedLines,
        "more detections than readable lines");
  std::map<std::string, CChrono> lastOfChip;
  for (std::size_t i = 0; i < result.found.size(); ++i) {
    const CDetection& found = result.found[i];
    Check(!(found.absTime < options.start) && !(found.absTime > options.end),
          "a detection outside the range");
    if (i > 0) {
      Check(!(found.absTime < result.found[i - 1].absTime), "the detections are not in time order");
    }
    std::int32_t bib = 0;
    if (table.LookupChip(found.chip, &bib)) {
      Check(found.bib == std::to_string(bib), "a known chip without its bib");
    } else {
      Check(found.bib == found.chip, "an unknown chip's bib is not the chip");
    }
    // Kept reads of one chip are at least the delay apart.
    auto previous = lastOfChip.find(found.chip);
    if (options.ignoreDelayMs > 0 && previous != lastOfChip.end() && found.absTime.IsSet() &&
        previous->second.IsSet()) {
      // Reads decades apart are apart, though their difference does not fit in a CChrono;
      // closer ones are compared as CChrono values (their milliseconds may be raw, over 999).
      const std::int64_t gapSeconds =
          static_cast<std::int64_t>(found.absTime.Seconds()) - previous->second.Seconds();
      if (gapSeconds <= options.ignoreDelayMs / 1000 + 1) {
        CChrono delay(options.ignoreDelayMs / 1000,
                      static_cast<std::uint16_t>(options.ignoreDelayMs % 1000));
        Check(!(found.absTime - previous->second < delay), "two reads closer than the delay kept");
      }
    }
    lastOfChip[found.chip] = found.absTime;
  }
  return 0;
}
