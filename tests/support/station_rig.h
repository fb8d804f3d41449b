// The parts a Station works with in a test, real ones in a fresh temporary folder: settings,
// their file, events, log, recorded detections, chip table, a manual clock and a sound player
// that keeps what it was asked to play. Fixtures derive from it so that these parts are made
// before their front end and Station, and outlive them. For one test thread (the "main thread").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detections/chip_table.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "station/station.h"
#include "support/temp_dir.h"

namespace lapora::testing {

class RecordingSound : public SoundPlayer {
 public:
  bool PlaySoundResource(int soundId) override {
    played.push_back(soundId);
    return true;
  }
  std::vector<int> played;
};

struct StationRig {
  // The clock stands at clockStartMs (Unix milliseconds); the log is written to Lapora.log.
  explicit StationRig(std::int64_t clockStartMs = 0)
      : store(dir.File("Lapora.ini")), log(events), records(log), clock(clockStartMs) {
    log.SetLogFilePath(dir.File("Lapora.log"));
  }

  // The parts of a Station over this rig, with the temporary folder as program and data folder
  // and incomingFile in it as this run's incoming-detections file.
  StationParts Parts(const std::string& incomingFile = "Lapora-test.dat",
                     const std::string& versionText = "Version test") {
    return StationParts{settings,
                        store,
                        log,
                        events,
                        clock,
                        sound,
                        records,
                        chipTable,
                        dir.path(),
                        dir.path(),
                        dir.File(incomingFile),
                        versionText,
                        {}};
  }

  TempDir dir;
  AppSettings settings;
  SettingsStore store;
  EventQueue events;
  Logger log;
  CRecordedDetections records;
  CChipTable chipTable;
  ManualClock clock;
  RecordingSound sound;
};

}  // namespace lapora::testing
