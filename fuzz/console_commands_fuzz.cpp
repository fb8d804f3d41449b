// The headless console's commands: the fuzz input is what the operator types (one command a
// line) and, after a form feed, the box data file that "import" reads. Each input runs a fresh
// Station in a folder of its own behind the real console front end, which parses and carries
// out every line as typed. What could reach outside that folder is kept inside: the import's
// file and output names are replaced by files in the folder, no box slot is configured and the
// results software's port is invalid, so nothing connects anywhere.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_front_end.h"
#include "detections/chip_table.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "fuzz_support.h"
#include "station/station.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

class SilentSound : public SoundPlayer {
 public:
  bool PlaySoundResource(int) override { return true; }
};

constexpr char kSettings[] =
    "[Settings]\r\n"
    "SleepMilliAfterLeadingStart=0\r\n"
    "SleepMilliAfterLeadingStop=0\r\n"
    "SleepMilliAfterSetTime=0\r\n"
    "GBoxDiscoverySeconds=1\r\n"
    "GSyncDetections=0\r\n";

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
    std::size_t end = text.find_first_of(" \t", at);
    words.emplace_back(text.substr(at, end == std::string_view::npos ? text.npos : end - at));
    at = end;
  }
  return words;
}

// The line with the import's file and output names replaced by files of the run's folder.
std::string Confined(const std::string& typed, const std::string& folder) {
  std::string line(TrimSpace(Utf8ToCp1252(typed)));
  if (line.rfind("import ", 0) != 0) {
    return typed;
  }
  std::vector<std::string> words = Words(std::string_view(line).substr(7));
  if (words.empty()) {
    return typed;
  }
  words[0] = folder + "/data.csv";
  if (words.size() >= 7) {
    bool kol = words[6].size() >= 4 && EqualsNoCase(words[6].substr(words[6].size() - 4), ".kol");
    words[6] = folder + (kol ? "/saved.kol" : "/saved");
  }
  std::string confined = "import";
  for (const std::string& word : words) {
    confined += " " + word;
  }
  return confined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder scratch;
  static std::FILE* out = std::fopen("/dev/null", "wb");
  const std::string folder = scratch.File("run");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directory(folder, ignored);

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t feed = input.find('\f');
  const std::string_view typed = input.substr(0, feed);
  WriteWholeFile(folder + "/data.csv",
                 feed == std::string_view::npos ? std::string_view() : input.substr(feed + 1));
  WriteWholeFile(folder + "/Lapora.ini", kSettings);

  AppSettings settings;
  settings.Port = 0;  // "direct on" is refused before any connection
  settings.GSyncDetections = 0;
  settings.GVarnexBeepDetections = 0;
  settings.GVarnexExportFile = folder + "/Lapora.kol";
  settings.SetRaceDayDates({"20260613", "20260614", "20260615", "20260616"});
  SettingsStore store(folder + "/Lapora.ini");
  EventQueue events;
  Logger log(events);
  log.SetLogFilePath(folder + "/Lapora.log");
  CRecordedDetections records(log);
  CChipTable chipTable;
  ManualClock clock(1781000000000);
  SilentSound sound;
  {
    ConsoleFrontEnd console(events, -1, out);
    Station station(StationParts{settings,
                                 store,
                                 log,
                                 events,
                                 clock,
                                 sound,
                                 records,
                                 chipTable,
                                 folder,
                                 folder,
                                 folder + "/Lapora-fuzz.dat",
                                 "Version fuzz",
                                 {}},
                    console);
    console.Attach(station);
    station.Open();
    std::size_t start = 0;
    while (start < typed.size() && station.IsOpen()) {
      std::size_t end = typed.find('\n', start);
      std::string line(
          typed.substr(start, end == std::string_view::npos ? typed.npos : end - start));
      start = end == std::string_view::npos ? typed.size() : end + 1;
      console.RunCommand(Confined(line, folder));
      station.DrainEvents(SIZE_MAX);
    }
    if (station.IsOpen()) {
      console.RunCommand("quit");
    }
    Check(!station.IsOpen(), "the station does not close on quit");
  }
  return 0;
}
