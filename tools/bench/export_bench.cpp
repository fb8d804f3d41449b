// Speed of the detection-lines export at race scale: DETECTORS detectors, RUNNERS runners and
// PASSAGES passages each (1 000 000 recorded detections by default), about 3 min between two
// passages of a runner and a minimum gap of 1 min. Times background export runs as the program
// makes them, on an export thread, to one file per detector and passage number (snapshot
// included, clock-time form, no archive, no upload), with the longest wait for the records lock
// of a thread beside them (the window's counter refresh); the snapshot alone; and the export of
// all recorded detections to one file; the export dialog's opening and "Filtrer", each on a
// worker, with the window thread's own share of them. Each is run RUNS times; prints the best and
// the median of each, the ratio of the two exports, and the resident size of the process (VmRSS,
// and its peak VmHWM) once the detections are recorded, after the exports and after the export of
// all.
//
// With STUCK_READS, a chip left on detector 1's mat is also read every 7 s, STUCK_READS times,
// and the minimum gap is 6 s: every one of its reads is a passage of its own, so the export
// writes hundreds of files.
//
// Usage: export_bench [RUNNERS] [PASSAGES] [DETECTORS] [RUNS] [STUCK_READS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "detections/recorded_detections.h"
#include "export/detection_lines_export.h"
#include "export/export_lines_dialog_model.h"
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

// The window thread's share of work done on a worker while it waits: its own stretches of work
// between Begin, the wait and End (worst of the runs kept).
class WindowShare {
 public:
  void Begin() { m_begin = m_mark = std::chrono::steady_clock::now(); }
  // The wait of the window thread: the stretch before it is its own, the wait is not.
  JobWait Wait() {
    return [this](CProgressJob& job) {
      Stretch();
      while (!job.WaitFinished(std::chrono::milliseconds(5))) {
      }
      m_mark = std::chrono::steady_clock::now();
    };
  }
  void End() {
    Stretch();
    totalMs = Ms(std::chrono::steady_clock::now() - m_begin);
  }
  void Keep(const WindowShare& run) {
    longestMs = std::max(longestMs, run.longestMs);
    ownMs = std::max(ownMs, run.ownMs);
    totalMs = std::max(totalMs, run.totalMs);
  }

  double longestMs = 0;
  double ownMs = 0;
  double totalMs = 0;

 private:
  static double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  }
  void Stretch() {
    double ms = Ms(std::chrono::steady_clock::now() - m_mark);
    longestMs = std::max(longestMs, ms);
    ownMs += ms;
  }
  std::chrono::steady_clock::time_point m_begin;
  std::chrono::steady_clock::time_point m_mark;
};

// VmRSS and VmHWM of /proc/self/status, in MB (0 when not found).
struct Resident {
  double now = 0;
  double peak = 0;
};

Resident ReadResident() {
  Resident resident;
  std::ifstream status("/proc/self/status");
  std::string key;
  long long kb = 0;
  std::string unit;
  while (status >> key) {
    if (key == "VmRSS:" || key == "VmHWM:") {
      status >> kb >> unit;
      (key == "VmRSS:" ? resident.now : resident.peak) = static_cast<double>(kb) / 1024.0;
    } else {
      std::getline(status, unit);
    }
  }
  return resident;
}

void PrintResident(const char* when, const Resident& resident) {
  std::printf("resident %-30s %6.0f MB, peak %6.0f MB\n", when, resident.now, resident.peak);
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

// The stuck chip: bib 999999 read every 7 s on detector 1 from the start of the race.
void RecordStuckChip(CRecordedDetections& records, int reads) {
  for (int i = 0; i < reads; ++i) {
    int hundredths = 8 * 360000 + i * 700;
    CChrono race(hundredths / 100, static_cast<std::uint16_t>((hundredths % 100) * 10));
    records.AddDetectionRecord("D1", "999999", CChrono(), race, 0, false);
  }
}

int Main(int argc, char** argv) {
  int runners = argc > 1 ? std::atoi(argv[1]) : 5000;
  int passages = argc > 2 ? std::atoi(argv[2]) : 50;
  int detectors = argc > 3 ? std::atoi(argv[3]) : 4;
  int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  int stuckReads = argc > 5 ? std::max(0, std::atoi(argv[5])) : 0;
  std::string folder = bench::MakeBenchFolder("lapora-export-bench");
  if (folder.empty()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  EventQueue events;
  Logger log{events};
  CRecordedDetections records{log};
  Record(records, runners, passages, detectors);
  RecordStuckChip(records, stuckReads);
  const Resident recorded = ReadResident();
  // The background export's settings: a minimum gap of 1 min (6 s with a stuck chip), the
  // clock-time form, no archive, no upload.
  SettingsStore store{folder + "/Lapora.ini"};
  store.WriteSettingText(kExportLinesSection, "Delta", stuckReads > 0 ? "00:00:06" : "00:01:00");
  store.WriteSettingText(kExportLinesSection, "ExportPath", folder);
  store.WriteSettingText(kExportLinesSection, "GenericFilename", "export");
  ExportEnvironment env{store, folder, folder + "/FtpServers.dat", {}};
  BackgroundExportPlan plan = PlanBackgroundExport(env);
  if (!plan.error.empty()) {
    std::fprintf(stderr, "%s\n", plan.error.c_str());
    return 1;
  }
  std::size_t files = 0;
  // Background runs as the program makes them, each on an export thread (the snapshot in
  // slices, then the files), beside a window thread that reads the recorded count under the
  // records lock every millisecond: its longest wait.
  double longestWaitMs = 0;
  Timing lines = TimeRuns(runs, [&] {
    ExportOutcome outcome;
    std::string error;
    CExportRun run([&] { error = RunPlannedExport(records, plan, &outcome); });
    while (!run.WaitFor(std::chrono::milliseconds(1))) {
      auto start = std::chrono::steady_clock::now();
      (void)records.CountValidRecords();
      longestWaitMs = std::max(longestWaitMs, std::chrono::duration<double, std::milli>(
                                                  std::chrono::steady_clock::now() - start)
                                                  .count());
    }
    files = outcome.createdFiles.size();
    return error.empty();
  });
  const Resident afterExport = ReadResident();
  // The export dialog as the window runs it: opening (its snapshot) and "Filtrer", each on a
  // worker while the window thread waits for it (there, under the progress dialog, handling its
  // events). What counts is the window thread's own work outside those waits: its longest
  // stretch, and the time the work took in all.
  const std::string gap = stuckReads > 0 ? "00:00:06" : "00:01:00";
  WindowShare openShare;
  WindowShare filterShare;
  Timing dialog = TimeRuns(runs, [&] {
    WindowShare open;
    WindowShare filter;
    open.Begin();
    CExportLinesDialogModel model(records, env);
    bool ok = model.TakeSnapshot(open.Wait());
    open.End();
    filter.Begin();
    ok = ok && model.Filter(gap, filter.Wait()).Done() && model.HasRows();
    filter.End();
    openShare.Keep(open);
    filterShare.Keep(filter);
    return ok;
  });
  Timing snapshotOnly = TimeRuns(runs, [&] {
    CWorkSnapshot snapshot;
    return SnapshotDetectionsInSlices(records, "", snapshot) &&
           snapshot.size() == records.RecordCount();
  });
  Timing all = TimeRuns(runs, [&] {
    return ExportAllRecordedDetections(records, folder + "/all.kol", log, nullptr);
  });
  std::printf("%zu detections, %zu files\n", records.RecordCount(), files);
  std::printf("export (one file per detector and passage): best %.2f s, median %.2f s\n",
              lines.best, lines.median);
  std::printf("export all (one file):                      best %.2f s, median %.2f s\n", all.best,
              all.median);
  std::printf("snapshot alone, in slices:                  best %.0f ms, median %.0f ms\n",
              snapshotOnly.best * 1000, snapshotOnly.median * 1000);
  std::printf("longest wait for the records lock beside the export runs: %.1f ms\n", longestWaitMs);
  std::printf("export dialog, opening and \"Filtrer\":              best %.0f ms, median %.0f ms\n",
              dialog.best * 1000, dialog.median * 1000);
  std::printf("  window thread's own work, opening:  longest %.1f ms, in all %.1f ms of %.0f ms\n",
              openShare.longestMs, openShare.ownMs, openShare.totalMs);
  std::printf("  window thread's own work, Filtrer:  longest %.1f ms, in all %.1f ms of %.0f ms\n",
              filterShare.longestMs, filterShare.ownMs, filterShare.totalMs);
  std::printf("ratio of the medians: %.1f\n", lines.median / all.median);
  PrintResident("with the detections recorded:", recorded);
  PrintResident("after the export:", afterExport);
  PrintResident("after export all:", ReadResident());
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  return lapora::Main(argc, argv);
}
