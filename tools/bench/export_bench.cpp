// Speed of the detection-lines export at race scale: DETECTORS detectors, RUNNERS runners and
// PASSAGES passages each (1 000 000 recorded detections by default), about 3 min between two
// passages of a runner and a minimum gap of 1 min. Times the export to one file per detector
// and passage number (snapshot included, clock-time form, no archive, no upload) beside the
// export of all recorded detections to one file, each run RUNS times, and prints the best and
// the median of each and their ratio.
//
// Usage: export_bench [RUNNERS] [PASSAGES] [DETECTORS] [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "detections/recorded_detections.h"
#include "export/detection_lines_export.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"

namespace lapora {
namespace {

struct Timing {
  double best = 0;    // s
  double median = 0;  // s
};

Timing TimeRuns(int runs, const std::function<bool()>& run) {
  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    if (!run()) {
      std::fprintf(stderr, "run %d failed\n", i + 1);
      std::exit(1);
    }
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  return {seconds.front(), seconds[seconds.size() / 2]};
}

// Records in the order a race brings them: passage by passage, each runner's passages spread
// over 2 min of a 3 min lap, the detectors of one runner a few hundredths apart.
void Record(CRecordedDetections& records, int runners, int passages, int detectors) {
  for (int p = 0; p < passages; ++p) {
    for (int r = 1; r <= runners; ++r) {
      int spread = (r * 7919) % 12000;  // hundredths
      for (int d = 1; d <= detectors; ++d) {
        int hundredths = 8 * 360000 + p * 18000 + spread + d * 3;
        CChrono race(hundredths / 100, static_cast<std::uint16_t>((hundredths % 100) * 10));
        records.AddDetectionRecord(StrF("D%d", d), std::to_string(r), CChrono(), race, 0, false);
      }
    }
  }
}

int Main(int argc, char** argv) {
  int runners = argc > 1 ? std::atoi(argv[1]) : 5000;
  int passages = argc > 2 ? std::atoi(argv[2]) : 50;
  int detectors = argc > 3 ? std::atoi(argv[3]) : 4;
  int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  std::string folder = bench::MakeBenchFolder("lapora-export-bench");
  if (folder.empty()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  EventQueue events;
  Logger log{events};
  CRecordedDetections records{log};
  Record(records, runners, passages, detectors);
  SettingsStore store{folder + "/Lapora.ini"};
  ExportEnvironment env{store, folder, folder + "/FtpServers.dat", {}};
  ExportOptions options;
  options.minimumGap = CChrono(60, 0);
  options.folder = folder;
  options.genericName = "export";
  options.silent = true;
  std::size_t files = 0;
  Timing lines = TimeRuns(runs, [&] {
    CWorkSnapshot snapshot;
    SnapshotDetections(records, "", snapshot);
    ExportOutcome outcome = ExportDetectionLinesNow(ListOf(snapshot), options, env);
    files = outcome.createdFiles.size();
    return outcome.failedFiles.empty() && outcome.errors.empty();
  });
  Timing all = TimeRuns(runs, [&] {
    return ExportAllRecordedDetections(records, folder + "/all.kol", log, nullptr);
  });
  std::printf("%zu detections, %zu files\n", records.RecordCount(), files);
  std::printf("export (one file per detector and passage): best %.2f s, median %.2f s\n",
              lines.best, lines.median);
  std::printf("export all (one file):                      best %.2f s, median %.2f s\n", all.best,
              all.median);
  std::printf("ratio of the medians: %.1f\n", lines.median / all.median);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  return lapora::Main(argc, argv);
}
