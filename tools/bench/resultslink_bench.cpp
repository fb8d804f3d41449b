// The box link with the direct connection on: one box simulator (tools/boxsim) feeding one box
// thread, every recorded detection pushed to the results-software simulator (tools/resultsim)
// over loopback, whose answers the main thread drains. Prints the one-box lines/s with the link
// on, and at a steady 1 000 lines/s the delay from a line leaving the box simulator to its
// request reaching the results-software simulator.
//
// Usage: resultslink_bench [LINES_ONE_BOX] [LATENCY_LINES]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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
#include "resultslink/results_link.h"
#include "support/simulator_process.h"

namespace lapora {
namespace {

using bench::BoxSimArgs;
using bench::kBoxSim;

const std::string kResultSim = LAPORA_BINARY_DIR "/tools/resultsim/resultsim";

struct Run {
  explicit Run(const std::string& folder)
      : log(events),
        records(log),
        link(events, log, &records),
        intake(log, events, settings, nullptr, SystemClock(), chipTable, records, &link),
        services{log, events, settings, SystemClock(), intake, shared, nullptr} {
    log.SetPostingEnabled(true);
    log.SetLevel(50);
    settings.GVarnexIgnoreInputMsDelta = 0;  // every line recorded: nothing is a repeat
    settings.GVarnexBeepDetections = 0;
    records.OpenDetectionFile(folder + "/incoming.dat");
    link.SetCatchUp(true);  // as the program runs by default: requests made from the records
  }
  ~Run() { link.StopLink(); }
  // The main thread's share: take the posted events (log texts, link lines) off the queue.
  void Drain() {
    events.Dispatch([this](const Event& event) {
      if (std::holds_alternative<LinkLineEvent>(event)) {
        ++replies;
      }
    });
  }
  bool Connect(int port) {
    if (!link.StartLink("127.0.0.1", port, 1)) {
      return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!link.IsLinkConnected() && std::chrono::steady_clock::now() < deadline) {
      Drain();
      events.WaitForEvents(std::chrono::milliseconds(5));
    }
    return link.IsLinkConnected();
  }

  EventQueue events;
  Logger log;
  AppSettings settings;
  CChipTable chipTable;
  CRecordedDetections records;
  CResultsLink link;
  CBoxLinkShared shared;
  DetectionIntake intake;
  BoxLinkServices services;
  std::size_t replies = 0;
};

std::unique_ptr<testing::SimulatorProcess> StartResultSim(const std::string& receiveLog) {
  std::vector<std::string> args = {"--port",  "0",          "--bind", "127.0.0.1",
                                   "--quiet", "--generate", "1000"};
  if (!receiveLog.empty()) {
    args.insert(args.end(), {"--log", receiveLog});
  }
  return std::make_unique<testing::SimulatorProcess>(kResultSim, args);
}

int PortOf(testing::SimulatorProcess& sim) {
  std::string port = sim.WaitEvent("listening on ");
  return port.empty() ? 0 : std::atoi(port.c_str());
}

// One box of `lines` lines with the link on; returns lines/s from the first record to the last.
// batched: the main thread drains the queue every millisecond, as the front ends do (they are
// woken once per batch); otherwise it waits on the queue and wakes for each event, as the
// box-link benchmark's loop does.
double Throughput(const std::string& folder, long long lines, bool batched) {
  Run run(folder);
  auto results = StartResultSim("");
  if (!run.Connect(PortOf(*results))) {
    std::fprintf(stderr, "the direct connection did not come up\n");
    return 0;
  }
  testing::SimulatorProcess sim(kBoxSim, BoxSimArgs(lines, "", ""));
  const int port = PortOf(sim);
  COstraBox box(run.services, 1);
  box.ConfigureTransport("31", "127.0.0.1", port);
  box.StartBoxThread();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  std::chrono::steady_clock::time_point first{};
  while (run.records.RecordCount() < static_cast<std::size_t>(lines) &&
         std::chrono::steady_clock::now() < deadline) {
    if (first == std::chrono::steady_clock::time_point{} && run.records.RecordCount() > 0) {
      first = std::chrono::steady_clock::now();
    }
    run.Drain();
    if (batched) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      run.events.WaitForEvents(std::chrono::milliseconds(2));
    }
  }
  auto last = std::chrono::steady_clock::now();
  std::size_t recorded = run.records.RecordCount();
  bool stillConnected = run.link.IsLinkConnected();
  box.StopBoxThread([&] { run.Drain(); });
  double seconds = std::chrono::duration<double>(last - first).count();
  std::printf("  %s: %zu of %lld lines recorded in %.2f s, link %s, %zu replies drained\n",
              batched ? "batched drain" : "drain per event", recorded, lines, seconds,
              stillConnected ? "still connected" : "LOST", run.replies);
  return seconds > 0 ? static_cast<double>(recorded) / seconds : 0;
}

// At a steady 1 000 lines/s: from the box simulator's send stamp of each line to the results
// simulator's receive stamp of its request (both CLOCK_REALTIME, in µs). Returns the 99th
// percentile in ms.
double LatencyP99(const std::string& folder, long long lines, double* median) {
  Run run(folder);
  const std::string receiveLog = folder + "/received.log";
  auto results = StartResultSim(receiveLog);
  if (!run.Connect(PortOf(*results))) {
    std::fprintf(stderr, "the direct connection did not come up\n");
    return -1;
  }
  const std::string sendLog = folder + "/send.log";
  testing::SimulatorProcess sim(kBoxSim, BoxSimArgs(lines, "1000", sendLog));
  COstraBox box(run.services, 1);
  box.ConfigureTransport("31", "127.0.0.1", PortOf(sim));
  box.StartBoxThread();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (run.records.RecordCount() < static_cast<std::size_t>(lines) &&
         std::chrono::steady_clock::now() < deadline) {
    run.Drain();
    run.events.WaitForEvents(std::chrono::milliseconds(2));
  }
  // Let the last requests reach the simulator's log.
  auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < settle) {
    run.Drain();
    run.events.WaitForEvents(std::chrono::milliseconds(10));
  }
  box.StopBoxThread([&] { run.Drain(); });
  sim.WaitEvent("done:", std::chrono::seconds(2));
  std::vector<std::int64_t> sent = bench::ReadStamps(sendLog);
  std::vector<std::int64_t> received = bench::ReadStamps(receiveLog, "AddKolClock(");
  std::optional<bench::Delays> delays = bench::DelaysBetween(sent, received);
  if (!delays) {
    return -1;
  }
  *median = delays->median;
  std::printf("  %zu lines timed (%zu sent, %zu received by the results software)\n", delays->count,
              sent.size(), received.size());
  return delays->p99;
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  lapora::PinLocalTimeZone();  // as the program does at start-up
  long long oneBox = argc > 1 ? std::atoll(argv[1]) : 1000000;
  long long latencyLines = argc > 2 ? std::atoll(argv[2]) : 10000;
  std::string folder = lapora::bench::MakeBenchFolder("lapora-linkbench");
  if (folder.empty()) {
    return 1;
  }
  std::printf("box link with the direct connection on, over loopback TCP\n");
  double perEvent = lapora::Throughput(folder, oneBox, false);
  std::printf("one box, link on, main loop as in boxlink_bench: %.0f lines/s recorded\n", perEvent);
  double batched = lapora::Throughput(folder, oneBox, true);
  std::printf(
      "one box, link on, batched drain as in the front ends: %.0f lines/s recorded "
      "(target >= 80000)\n",
      batched);
  double median = 0;
  double p99 = lapora::LatencyP99(folder, latencyLines, &median);
  std::printf(
      "at 1000 lines/s, box send to results software receive: median %.2f ms, 99%% "
      "within %.2f ms (target <= 5 ms)\n",
      median, p99);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
