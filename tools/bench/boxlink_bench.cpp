// End-to-end speed of the box link: box simulators (tools/boxsim) over loopback TCP, one box
// thread per box, every detection line classified, parsed, recorded and written to the
// incoming-detections file, while the main thread drains the events. Prints lines/s for one
// box and for four, and the delay from a line leaving the simulator to its record being in the
// file, at a steady 1 000 lines/s.
//
// Usage: boxlink_bench [LINES_ONE_BOX] [LINES_PER_BOX_OF_FOUR] [LATENCY_LINES]
#include <time.h>

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

// Stamps every stored record (called right after its file line was written and flushed).
class StampingPusher : public DetectionPusher {
 public:
  void PushDetection(const CKolResult&) override {
    std::lock_guard lock(m_mutex);
    m_stamps.push_back(RealMicros());
  }
  std::vector<std::int64_t> Stamps() {
    std::lock_guard lock(m_mutex);
    return m_stamps;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::int64_t> m_stamps;
};

// stamped: every stored record is stamped (the latency run); the throughput runs have no
// pusher, as the program has while the direct connection is off.
struct Run {
  Run(const std::string& folder, bool stamped)
      : log(events),
        records(log),
        intake(log, events, settings, nullptr, SystemClock(), chipTable, records,
               stamped ? &pusher : nullptr),
        services{log, events, settings, SystemClock(), intake, shared, nullptr} {
    log.SetPostingEnabled(true);
    log.SetLevel(50);
    settings.GVarnexIgnoreInputMsDelta = 0;  // every line recorded: nothing is a repeat
    settings.GVarnexBeepDetections = 0;
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

// Runs `boxes` simulators of `perBox` lines each; returns lines/s from the first record to the
// last one.
double Throughput(const std::string& folder, int boxes, long long perBox) {
  Run run(folder, false);
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
  while (run.records.RecordCount() < total && std::chrono::steady_clock::now() < deadline) {
    if (first == std::chrono::steady_clock::time_point{} && run.records.RecordCount() > 0) {
      first = std::chrono::steady_clock::now();
    }
    run.DrainAndPause();
  }
  auto last = std::chrono::steady_clock::now();
  if (first == std::chrono::steady_clock::time_point{}) {
    first = started;
  }
  std::size_t recorded = run.records.RecordCount();
  for (auto& slot : slots) {
    slot->StopBoxThread([&] { run.Drain(); });
  }
  double seconds = std::chrono::duration<double>(last - first).count();
  std::printf("  %d box(es): %zu of %zu lines recorded in %.2f s\n", boxes, recorded, total,
              seconds);
  return seconds > 0 ? static_cast<double>(recorded) / seconds : 0;
}

// A steady 1 000 lines/s: the delay from the simulator's send stamp of each line to the stamp
// of its stored record. Returns the 99th percentile in ms.
double LatencyP99(const std::string& folder, long long lines, double* median) {
  Run run(folder, true);
  std::string sendLog = folder + "/send.log";
  testing::SimulatorProcess sim(kBoxSim, BoxSimArgs(lines, "1000", sendLog));
  std::string port = sim.WaitEvent("listening on ");
  COstraBox box(run.services, 1);
  box.ConfigureTransport("31", "127.0.0.1", std::stoi(port));
  box.StartBoxThread();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (run.records.RecordCount() < static_cast<std::size_t>(lines) &&
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
  std::printf("box link, end to end over loopback TCP\n");
  double one = lapora::Throughput(folder, 1, oneBox);
  std::printf("one box: %.0f lines/s recorded (target >= 100000)\n", one);
  double four = lapora::Throughput(folder, 4, perBoxOfFour);
  std::printf("four boxes: %.0f lines/s recorded in total (target >= 200000)\n", four);
  double median = 0;
  double p99 = lapora::LatencyP99(folder, latencyLines, &median);
  std::printf("at 1000 lines/s: median %.2f ms, 99%% within %.2f ms (target <= 5 ms)\n", median,
              p99);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
