// The detection intake: a box's detection text parsed, translated through the chip table,
// filtered for repeats, recorded and written to the incoming-detections file; once its line is
// in the file, offered to the results link and shown; plus the per-line handling of the box
// thread with its counters. Thread-safe: any number of threads may run the intake at once, each
// with its own box and counters (a box's last-detections list belongs to one thread at a time).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "detections/chip_table.h"
#include "detections/detection_pusher.h"
#include "detections/intake_box.h"
#include "detections/recorded_detections.h"
#include "foundation/chrono.h"
#include "foundation/kol_result.h"

namespace lapora {

struct AppSettings;
class Clock;
class EventQueue;
class Logger;
class SoundPlayer;

// Counters of one box thread for one connection; the mean handling time is reported every
// kMeanTimeEvery lines.
struct BoxThreadCounters {
  static constexpr int kMeanTimeEvery = 200;
  int handled = 0;
  int recorded = 0;
  int ignored = 0;
  int invalid = 0;
  std::uint64_t windowSumMs = 0;
  std::uint32_t windowCount = 0;
  void Reset() { *this = BoxThreadCounters{}; }
};

// The counter text of the main window: "No recorded detection" for 0, else "%d detections
// recorded" (build language).
std::string DetectionCounterText(int count);

// The detections-list item text: FormatWithDays of the race time, a tab, the source name, a tab,
// "# " and the bib text with carriage returns and line feeds shown as <CR> and <LF>.
std::string DetectionItemText(const CChrono& raceTime, const std::string& sourceName,
                              const std::string& bibText);

class DetectionIntake final : public RecordReleaseSink {
 public:
  // sound and pusher may be null (no audio; no results link). Every reference must outlive the
  // intake.
  DetectionIntake(Logger& log, EventQueue& events, AppSettings& settings, SoundPlayer* sound,
                  Clock& clock, CChipTable& chipTable, CRecordedDetections& records,
                  DetectionPusher* pusher);
  // Waits for a release that runs, and drops those still waiting for their line.
  ~DetectionIntake();
  DetectionIntake(const DetectionIntake&) = delete;
  DetectionIntake& operator=(const DetectionIntake&) = delete;

  // Connects the results link (or disconnects it with null). Any thread.
  void SetPusher(DetectionPusher* pusher) { m_pusher.store(pusher); }
  DetectionPusher* Pusher() const { return m_pusher.load(); }

  // "date_time,chip": the chip, its bib text, the box's absolute time and the race time of day
  // (day-corrected by the race-day dates). False with *message set when the text is malformed or
  // the chip is unknown while unknown chips are discarded; an unknown chip still leaves the chip
  // and the absolute time filled.
  [[nodiscard]] bool ParseDetection(const std::string& text, std::string& chip, std::string& bib,
                                    CChrono& absTime, CChrono& raceTime, std::string& message);
  // Repeat filter, log line, and for a kept detection: store and sound, then, once its line is
  // in the file, refresh request and detections-list item. 1 recorded, 0 ignored.
  int RecordDetection(IntakeBox& box, const std::string& chip, const std::string& bib,
                      const CChrono& absTime, const CChrono& raceTime);
  // Appends the record (kind marker from BAbsClock, written to the incoming-detections file)
  // and returns it; once its line is in the file the record is offered to the results link,
  // then the release's refresh and item (if asked) are posted to the window.
  CKolResult StoreDetection(const std::string& bib, const std::string& detectorLabel,
                            const CChrono& absTime, const CChrono& raceTime,
                            RecordRelease release = {});

  // RecordReleaseSink: a record whose line is in the file goes to the results link and the
  // window. Called by the file's writer thread, or by the recording thread.
  void ReleaseRecord(const CKolResult& record, const RecordRelease& release) override;

  // The box thread's handling of one detection line read at readTickMs (Clock::TickMs): parse,
  // record, count, and every 200 lines post the mean handling time. logPrefix is the box
  // thread's log prefix, payload the detection text, rawLine the whole line as read. A box with
  // a read history gets every read remembered there; while it replays the reads asked for
  // after a loss, a read it delivered before is counted and not recorded again.
  void HandleDetectionLine(IntakeBox& box, const std::string& logPrefix, const std::string& payload,
                           const std::string& rawLine, std::uint64_t readTickMs,
                           BoxThreadCounters& counters);

  // The box label of the intake's log lines: "Box %d %s" with number and connection name.
  static std::string BoxLabel(const IntakeBox& box);

 private:
  Logger& m_log;
  EventQueue& m_events;
  AppSettings& m_settings;
  SoundPlayer* m_sound;
  Clock& m_clock;
  CChipTable& m_chipTable;
  CRecordedDetections& m_records;
  std::atomic<DetectionPusher*> m_pusher;
};

}  // namespace lapora
