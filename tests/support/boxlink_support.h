// Test support for the box link: the services a box needs (log, events, settings, intake),
// an event pump that keeps every log text, a sound player that records what it was asked to
// play. For one test thread (the "main thread").
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "boxlink/ostra_box.h"
#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "support/loopback_peer.h"

namespace lapora::testing {

using namespace std::chrono_literals;

// The detection text of a read of `chip` today at 10:23:45.120, as a box sends it.
inline std::string TodayDetection(const std::string& chip) {
  std::string today = TodayCompact();
  return today.substr(0, 4) + "-" + today.substr(4, 2) + "-" + today.substr(6, 2) +
         "_10:23:45.120," + chip;
}

class RecordingSoundPlayer : public SoundPlayer {
 public:
  bool PlaySoundResource(int soundId) override {
    std::lock_guard lock(m_mutex);
    m_played.push_back(soundId);
    return true;
  }
  int Count(int soundId) const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (int id : m_played) {
      n += id == soundId ? 1 : 0;
    }
    return n;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<int> m_played;
};

// The machine's clocks with a tick the test can move forward: a wait measured on the tick (a
// box's discovery, its silence) ends when the test says, however slow the machine is.
class SteppedClock : public Clock {
 public:
  std::int64_t NowUnixMs() const override { return SystemClock().NowUnixMs(); }
  std::uint64_t TickMs() const override { return SystemClock().TickMs() + m_stepMs.load(); }
  void StepForward(std::chrono::milliseconds step) {
    m_stepMs += static_cast<std::uint64_t>(step.count());
  }

 private:
  std::atomic<std::uint64_t> m_stepMs{0};
};

struct LoggedText {
  int level;
  std::string text;
};

// Everything a COstraBox works with, real parts only.
class BoxLinkHarness {
 public:
  BoxLinkHarness()
      : log(events),
        records(log),
        intake(log, events, settings, &sound, SystemClock(), chipTable, records, nullptr),
        services{log, events, settings, clock, intake, shared, &sound} {
    log.SetPostingEnabled(true);
    log.SetLevel(100);
    settings.GBoxReconnectSeconds = 30;
    settings.GVarnexBeepDetections = 0;
  }

  // Handles the pending events like the main thread does; box status events go to onStatus,
  // the reports of "connect all boxes" to onInitDone.
  void Pump() {
    events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        logs.push_back({line->level, line->text});
      } else if (const auto* status = std::get_if<BoxStatusEvent>(&event)) {
        ++statusEvents;
        if (status->failed == 1) {
          ++failedStatusEvents;
        }
        if (onStatus) {
          onStatus(status->box, status->failed);
        }
      } else if (const auto* done = std::get_if<BoxInitDoneEvent>(&event)) {
        if (onInitDone) {
          onInitDone(done->box, done->round, done->initialised);
        }
      } else if (std::holds_alternative<DetectionItemEvent>(event)) {
        ++detectionItems;
      }
    });
  }

  // Pumps until the condition holds or the deadline passes.
  bool PumpUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds deadline = 20000ms) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      Pump();
      if (condition()) {
        return true;
      }
      if (std::chrono::steady_clock::now() > end) {
        return false;
      }
      events.WaitForEvents(5ms);
    }
  }

  int CountLogs(const std::string& part) const {
    int n = 0;
    for (const LoggedText& entry : logs) {
      n += entry.text.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
  }
  bool HasLog(const std::string& part) const { return CountLogs(part) > 0; }
  // The index of the first text holding part, or -1.
  int IndexOf(const std::string& part) const {
    for (std::size_t i = 0; i < logs.size(); ++i) {
      if (logs[i].text.find(part) != std::string::npos) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  bool WaitForLog(const std::string& part, std::chrono::milliseconds deadline = 20000ms) {
    return PumpUntil([&] { return HasLog(part); }, deadline);
  }
  std::string AllLogs() const {
    std::string all;
    for (const LoggedText& entry : logs) {
      all += std::to_string(entry.level) + " " + entry.text + "\n";
    }
    return all;
  }

  SteppedClock clock;
  EventQueue events;
  Logger log;
  AppSettings settings;
  CChipTable chipTable;
  CRecordedDetections records;
  RecordingSoundPlayer sound;
  CBoxLinkShared shared;
  DetectionIntake intake;
  BoxLinkServices services;
  std::vector<LoggedText> logs;
  std::function<void(int, int)> onStatus;
  std::function<void(int, int, bool)> onInitDone;
  int statusEvents = 0;
  int failedStatusEvents = 0;
  int detectionItems = 0;
};

}  // namespace lapora::testing
