// Speed of the detection intake: one detection line from text to recorded detection (with a
// 100 000-entry chip table and the incoming-detections file written and synced by its writer
// threads), chip lookups and chip table loads at that size, and the look-up of a replayed read
// in the history of a box that delivered a million.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "detections/box_read_history.h"
#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/process.h"

namespace lapora {
namespace {

constexpr int kTableSize = 100000;

std::string ChipOf(int i) {
  return StrF("E20034120000%012X", static_cast<unsigned>(i) * 2654435761u);
}

// A folder of the benchmark's own, removed at the end.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lapora-bench-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    m_path = made != nullptr ? made : ".";
  }
  ~BenchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

std::string WriteTableFile(const BenchDir& dir) {
  std::string path = dir.File("ChipTable.dtb");
  std::string content;
  content.reserve(static_cast<std::size_t>(kTableSize) * 32);
  for (int i = 1; i <= kTableSize; ++i) {
    content.append(StrF("%d %s\r\n", i, ChipOf(i).c_str()));
  }
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  return path;
}

void BM_IntakeLine(benchmark::State& state) {
  BenchDir dir;
  EventQueue events;
  Logger log(events);
  log.SetPostingEnabled(true);
  AppSettings settings;
  settings.SetRaceDayDates({"20120513", "20120514", "", ""});
  settings.GVarnexBeepDetections = 0;
  ManualClock clock;
  CChipTable chips;
  if (!chips.LoadChipTableFile(WriteTableFile(dir))) {
    state.SkipWithError("chip table not loaded");
    return;
  }
  CRecordedDetections records(log);
  records.OpenDetectionFile(dir.File("incoming.dat"));
  DetectionIntake intake(log, events, settings, nullptr, clock, chips, records, nullptr);
  CTemporaryIntakeBox box(1, "[127.0.0.1:10000 FIN]", "FIN");

  // Lines of 4096 runners, 1 s apart, day 0 and day 1; every 16th line repeats the previous
  // runner 10 ms later, which the filter ignores.
  std::mt19937 random(7);
  std::vector<std::string> lines;
  int runner = 1;
  for (int i = 0; i < 4096; ++i) {
    int second = 36000 + i;
    int ms = 0;
    if (i % 16 == 15) {
      second -= 1;  // the previous runner again, 10 ms after its read
      ms = 10;
    } else {
      runner = static_cast<int>(random() % kTableSize) + 1;
    }
    lines.push_back(StrF("2012-05-%d_%02d:%02d:%02d.%03d,%s", second % 2 == 0 ? 13 : 14,
                         second / 3600, second / 60 % 60, second % 60, ms, ChipOf(runner).c_str()));
  }
  BoxThreadCounters counters;
  std::size_t n = 0;
  auto discard = [](const Event&) {};
  for (auto _ : state) {
    const std::string& line = lines[n % lines.size()];
    intake.HandleDetectionLine(box, "Box 1 [127.0.0.1:10000 FIN]", line, line, clock.TickMs(),
                               counters);
    ++n;
    // The main thread's share: handling the posted texts and items; the list is emptied now
    // and then so that memory stays bounded over millions of lines. The writer threads' share:
    // every line in the file (synced), waited for every 1024 lines.
    if (n % 1024 == 0) {
      (void)records.FlushDetectionFile();
      events.Dispatch(discard);
    }
    if (n % 200000 == 0) {
      records.ClearRecords();
    }
  }
  events.Dispatch(discard);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["recorded"] = counters.recorded;
  state.counters["ignored"] = counters.ignored;
  state.counters["invalid"] = counters.invalid;
}
BENCHMARK(BM_IntakeLine)->MinTime(2.0);

void BM_LookupChip(benchmark::State& state) {
  CChipTable chips;
  for (int i = 1; i <= kTableSize; ++i) {
    chips.AddChipEntry(ChipOf(i), i);
  }
  std::mt19937 random(11);
  std::vector<std::string> probes;
  for (int i = 0; i < 8192; ++i) {
    // Three in four known chips, looked up in lower case; one in four unknown.
    std::string chip = ChipOf(static_cast<int>(random() % kTableSize) + 1);
    if (i % 4 == 3) {
      chip.back() = 'Z';
    }
    probes.push_back(ToLowerAscii(chip));
  }
  std::size_t n = 0;
  std::int64_t found = 0;
  for (auto _ : state) {
    std::int32_t bib = 0;
    found += chips.LookupChip(probes[n++ & 8191], &bib) ? 1 : 0;
    benchmark::DoNotOptimize(bib);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_LookupChip);

void BM_LoadChipTable(benchmark::State& state) {
  BenchDir dir;
  std::string path = WriteTableFile(dir);
  CChipTable chips;
  for (auto _ : state) {
    if (!chips.LoadChipTableFile(path) || chips.ChipTableCount() != kTableSize) {
      state.SkipWithError("load failed");
      break;
    }
  }
}
BENCHMARK(BM_LoadChipTable)->Unit(benchmark::kMillisecond);

// After a lost connection every replayed read is looked up in its box's history: here a box
// that delivered 1 000 000 reads (10 000 chips read 100 times, a minute apart), half of the
// looked-up reads delivered, half missed. bytes_per_read: the history's heap per read.
void BM_ReplayedReadLookup(benchmark::State& state) {
  constexpr int kChips = 10000;
  constexpr int kPasses = 100;
  const std::int32_t start = 1336900000;
  std::size_t heapBefore = mallinfo2().uordblks;
  auto history = std::make_unique<CBoxReadHistory>();
  std::vector<std::string> chips;
  for (int c = 1; c <= kChips; ++c) {
    chips.push_back(ChipOf(c));
  }
  for (int pass = 0; pass < kPasses; ++pass) {
    for (int c = 0; c < kChips; ++c) {
      history->Remember(chips[static_cast<std::size_t>(c)],
                        CChrono(start + pass * 60 + c % 60, static_cast<std::uint16_t>(c % 1000)));
    }
  }
  std::size_t heapAfter = mallinfo2().uordblks;
  std::mt19937 random(11);
  std::int64_t found = 0;
  for (auto _ : state) {
    int c = static_cast<int>(random() % kChips);
    int pass = static_cast<int>(random() % kPasses);
    // Odd draws ask for a millisecond no read has: a missed read.
    auto millis = static_cast<std::uint16_t>(c % 1000 + (random() & 1));
    found += history->Contains(chips[static_cast<std::size_t>(c)],
                               CChrono(start + pass * 60 + c % 60, millis))
                 ? 1
                 : 0;
  }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["reads"] = static_cast<double>(history->Count());
  state.counters["bytes_per_read"] =
      static_cast<double>(heapAfter - heapBefore) / static_cast<double>(history->Count());
}
BENCHMARK(BM_ReplayedReadLookup);

// Four box threads recording at once: the cost of sharing the recorded-detections lock.
void BM_StoreDetectionFourThreads(benchmark::State& state) {
  static EventQueue* events = nullptr;
  static Logger* log = nullptr;
  static CRecordedDetections* records = nullptr;
  static BenchDir* dir = nullptr;
  if (state.thread_index() == 0) {
    dir = new BenchDir();
    events = new EventQueue();
    log = new Logger(*events);
    records = new CRecordedDetections(*log);
    records->OpenDetectionFile(dir->File("incoming.dat"));
  }
  std::string label = StrF("D%d", state.thread_index());
  CChrono raceTime(37425, 120);
  std::int64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        records->AddDetectionRecord(label, "1234", CChrono(), raceTime, 0, true));
    if (state.thread_index() == 0 && ++n % 65536 == 0) {
      (void)records->FlushDetectionFile();
      records->ClearRecords();
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  if (state.thread_index() == 0) {
    delete records;
    delete log;
    delete events;
    delete dir;
  }
}
BENCHMARK(BM_StoreDetectionFourThreads)->Threads(4)->UseRealTime();

}  // namespace
}  // namespace lapora

namespace {
// The program pins the time zone at start-up; the benchmark measures that configuration.
const bool kZonePinned = [] {
  lapora::PinLocalTimeZone();
  return true;
}();
}  // namespace
