// End-to-end speed of the box link: box simulators (tools/boxsim) over loopback TCP, one box
// thread per box, every detection line classified, parsed, recorded and written to the
// incoming-detections file, while the main thread drains the events. A line counts once its
// record is released: its line is in the file (synced with fdatasync when syncing). Prints
// lines/s for one box and for four, and the delay from a line leaving the simulator to its
// record's release, at a steady 1 000 lines/s; with the sync on (GSyncDetections=1) and off.
//
// Usage: boxlink_bench [LINES_ONE_BOX] [LINES_PER_BOX_OF_FOUR] [LATENCY_LINES]
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "boxlink/ostra_box.h"
#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "platform/process.h"
#include "support/simulator_process.h"

namespace lapora {
namespace {

using bench::BoxSimArgs;
using bench::kBoxSim;

std::int64_t RealMicros() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Counts the released records and, when stamping, stamps each (called once its line is in
// the file).
class StampingPusher : public DetectionPusher {
 public:
  explicit StampingPusher(bool stamping) : m_stamping(stamping) {}
  void PushDetection(const CKolResult&) override {
    m_released.fetch_add(1, std::memory_order_relaxed);
    if (m_stamping) {
      std::lock_guard lock(m_mutex);
      m_stamps.push_back(RealMicros());
    }
  }
  std::size_t Released() const { return m_released.load(std::memory_order_relaxed); }
  std::vector<std::int64_t> Stamps() {
    std::lock_guard lock(m_mutex);
    return m_stamps;
  }

 private:
  const bool m_stamping;
  std::atomic<std::size_t> m_released{0};
  std::mutex m_mutex;
  std::vector<std::int64_t> m_stamps;
};

// stamped: every released record is stamped (the latency run). sync: GSyncDetections.
struct Run {
  Run(const std::string& folder, bool stamped, bool sync)
      : log(events),
        records(log),
        pusher(stamped),
        intake(log, events, settings, nullptr, SystemClock(), chipTable, records, &pusher),
        services{log, events, settings, SystemClock(), intake, shared, nullptr} {
    log.SetPostingEnabled(true);
    log.SetLevel(50);
    settings.GVarnexIgnoreInputMsDelta = 0;  // every line recorded: nothing is a repeat
    settings.GVarnexBeepDetections = 0;
    records.SetSyncLines(sync);
    std::filesystem::remove(folder + "/incoming.dat");
    records.OpenDetectionFile(folder + "/incoming.dat");
  }
  // The main thread drains in batches, as a window's event loop does: it is woken by the
  // queue's callback, not by every post.
  void Drain() {
    events.Dispatch([](const Event&) {});
  }
  void DrainAndPause() {
    Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  EventQueue events;
  Logger log;
  AppSettings settings;
  CChipTable chipTable;
  CRecordedDetections records;
  StampingPusher pusher;
  CBoxLinkShared shared;
  DetectionIntake intake;
  BoxLinkServices services;
};

// Runs `boxes` simulators of `perBox` lines each; returns lines/s from the first release to the
// last one.
double Throughput(const std::string& folder, int boxes, long long perBox, bool sync) {
  Run run(folder, false, sync);
  std::vector<std::unique_ptr<testing::SimulatorProcess>> sims;
  std::vector<std::unique_ptr<COstraBox>> slots;
  for (int i = 0; i < boxes; ++i) {
    sims.push_back(
        std::make_unique<testing::SimulatorProcess>(kBoxSim, BoxSimArgs(perBox, "", "")));
    std::string port = sims.back()->WaitEvent("listening on ");
    if (port.empty()) {
      std::fprintf(stderr, "boxsim did not start\n");
      return 0;
    }
    slots.push_back(std::make_unique<COstraBox>(run.services, i + 1));
    slots.back()->ConfigureTransport(std::to_string(31 + i), "127.0.0.1", std::stoi(port));
  }
  for (auto& slot : slots) {
    slot->StartBoxThread();
  }
  auto started = std::chrono::steady_clock::now();
  const std::size_t total = static_cast<std::size_t>(perBox) * boxes;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  std::chrono::steady_clock::time_point first{};
  while (run.pusher.Released() < total && std::chrono::steady_clock::now() < deadline) {
    if (first == std::chrono::steady_clock::time_point{} && run.pusher.Released() > 0) {
      first = std::chrono::steady_clock::now();
    }
    run.DrainAndPause();
  }
  auto last = std::chrono::steady_clock::now();
  if (first == std::chrono::steady_clock::time_point{}) {
    first = started;
  }
  std::size_t recorded = run.pusher.Released();
  for (auto& slot : slots) {
    slot->StopBoxThread([&] { run.Drain(); });
  }
  double seconds = std::chrono::duration<double>(last - first).count();
  std::printf("  %d box(es), sync %s: %zu of %zu lines in the file in %.2f s\n", boxes,
              sync ? "on" : "off", recorded, total, seconds);
  return seconds > 0 ? static_cast<double>(recorded) / seconds : 0;
}

// A steady 1 000 lines/s: the delay from the simulator's send stamp of each line to the stamp
// of its stored record. Returns the 99th percentile in ms.
double LatencyP99(const std::string& folder, long long lines, bool sync, double* median) {
  Run run(folder, true, sync);
  std::string sendLog = folder + "/send.log";
  std::filesystem::remove(sendLog);  // the simulator appends: one run's stamps only
  testing::SimulatorProcess sim(kBoxSim, BoxSimArgs(lines, "1000", sendLog));
  std::string port = sim.WaitEvent("listening on ");
  COstraBox box(run.services, 1);
  box.ConfigureTransport("31", "127.0.0.1", std::stoi(port));
  box.StartBoxThread();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (run.pusher.Released() < static_cast<std::size_t>(lines) &&
         std::chrono::steady_clock::now() < deadline) {
    run.DrainAndPause();
  }
  box.StopBoxThread([&] { run.Drain(); });
  sim.WaitEvent("done:", std::chrono::seconds(2));
  std::vector<std::int64_t> sent = bench::ReadStamps(sendLog);
  std::vector<std::int64_t> stored = run.pusher.Stamps();
  std::optional<bench::Delays> delays = bench::DelaysBetween(sent, stored);
  if (!delays) {
    return -1;
  }
  *median = delays->median;
  std::printf("  %zu lines timed (%zu sent, %zu stored)\n", delays->count, sent.size(),
              stored.size());
  return delays->p99;
}

// For reading the figures above, the disk without group commit: one line appended and
// fdatasync'ed every millisecond from one thread, each line waiting for its own sync; returns
// the 99th percentile of a write and its sync, in ms.
double RawSyncP99(const std::string& folder, int lines, double* median) {
  std::string path = folder + "/raw-sync.dat";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    return -1;
  }
  const char line[] = "12\t31\t123\t1\t10:23:45.12\t1\r\n";
  std::vector<std::int64_t> starts;
  std::vector<std::int64_t> ends;
  auto next = std::chrono::steady_clock::now();
  for (int i = 0; i < lines; ++i) {
    next += std::chrono::milliseconds(1);
    std::this_thread::sleep_until(next);
    starts.push_back(RealMicros());
    if (write(fd, line, sizeof line - 1) < 0 || fdatasync(fd) != 0) {
      close(fd);
      return -1;
    }
    ends.push_back(RealMicros());
  }
  close(fd);
  std::optional<bench::Delays> delays = bench::DelaysBetween(starts, ends);
  *median = delays ? delays->median : -1;
  return delays ? delays->p99 : -1;
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  lapora::PinLocalTimeZone();  // as the program does at start-up
  long long oneBox = argc > 1 ? std::atoll(argv[1]) : 1000000;
  long long perBoxOfFour = argc > 2 ? std::atoll(argv[2]) : 250000;
  long long latencyLines = argc > 3 ? std::atoll(argv[3]) : 10000;
  std::string folder = lapora::bench::MakeBenchFolder("lapora-boxbench");
  if (folder.empty()) {
    return 1;
  }
  std::printf("box link, end to end over loopback TCP, into the incoming-detections file\n");
  for (bool sync : {true, false}) {
    const char* mode = sync ? "sync on" : "sync off";
    double one = lapora::Throughput(folder, 1, oneBox, sync);
    std::printf("%s, one box: %.0f lines/s in the file (target %s)\n", mode, one,
                sync ? ">= 50000" : ">= 100000");
    double four = lapora::Throughput(folder, 4, perBoxOfFour, sync);
    std::printf("%s, four boxes: %.0f lines/s in the file in total (target >= 200000)\n", mode,
                four);
    double median = 0;
    double p99 = lapora::LatencyP99(folder, latencyLines, sync, &median);
    std::printf(
        "%s, at 1000 lines/s: box write to in the file: median %.2f ms, 99%% within %.2f "
        "ms (target <= 5 ms)\n",
        mode, median, p99);
  }
  double rawMedian = 0;
  double rawP99 = lapora::RawSyncP99(folder, 3000, &rawMedian);
  std::printf(
      "for reference, this disk without group commit (one line, one fdatasync, every ms): "
      "median %.2f ms, 99%% within %.2f ms\n",
      rawMedian, rawP99);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
