// COstraBox: one box slot with its transport, its protocol state and its box thread (connect,
// learn the device id, read and act on lines until stopped or lost). Thread-safety: the
// transport is replaced, and the configuration changed, only on the main thread while no box
// thread runs; the box thread and the main thread share the flags (atomics), the device id
// (m_deviceIdMutex) and the transport (thread-safe for the calls each side makes).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "boxlink/box_health.h"
#include "boxlink/box_protocol.h"
#include "boxlink/com_box.h"
#include "detections/detection_intake.h"
#include "detections/intake_box.h"

namespace lapora {

struct AppSettings;
class Clock;
class EventQueue;
class Logger;
class SoundPlayer;

// What every box of the run shares: the quiet counters and the count of running box threads.
struct CBoxLinkShared {
  CBoxQuietCounters quietCounters;
  std::atomic<int> runningThreads{0};
};

// The objects a box works with; each must outlive the boxes. sound may be null.
struct BoxLinkServices {
  Logger& log;
  EventQueue& events;
  AppSettings& settings;
  Clock& clock;
  DetectionIntake& intake;
  CBoxLinkShared& shared;
  SoundPlayer* sound = nullptr;
};

class COstraBox : public IntakeBox {
 public:
  // A slot starts with a TCP transport, as configured later by the slot settings.
  COstraBox(BoxLinkServices& services, int number);
  COstraBox(const COstraBox&) = delete;
  COstraBox& operator=(const COstraBox&) = delete;
  // Stops a box thread still running (without handling events) and closes the transport.
  ~COstraBox() override;

  // IntakeBox.
  int BoxNumber() const override { return m_number; }
  std::string ConnectionName() const override;
  std::string DetectorLabel() const override;
  CLastBoxDetectionList& LastDetections() override { return m_lastDetections; }
  CBoxReadHistory* ReadHistory() override { return &m_readHistory; }

  // Main thread. Empties the last-detections list: at once when no box thread runs, otherwise
  // the box thread does it before it handles its next line (the list is that thread's own).
  void RequestClearLast();

  BoxLinkServices& Services() { return m_services; }

  // Main thread, while no box thread runs.
  void SetBoxNumber(int number) { m_number = number; }
  CComBox* Transport() const { return m_transport.get(); }
  void SetTransport(std::unique_ptr<CComBox> transport);
  // Makes the transport a serial one for a serial address and a TCP one otherwise (keeping
  // the current one when it is already of that kind), then stores the settings in it. A new
  // address or port names another box: the read history and a pending replay are forgotten.
  void ConfigureTransport(const std::string& detectorId, const std::string& address, int port);

  // Protocol state.
  std::string DeviceId() const;
  void SetDeviceId(const std::string& deviceId);
  // The sequence number for the next command, then advanced (9999 is followed by 0).
  int TakeCommandSequence();
  int CommandSequence() const { return m_commandSequence.load(); }
  std::atomic<bool>& DateShowPending() { return m_dateShowPending; }
  std::atomic<bool>& TimeShowPending() { return m_timeShowPending; }
  std::atomic<int>& PackState() { return m_packState; }

  // Box thread states.
  bool IsStopSet() const { return m_stop; }
  bool IsReadingPaused() const { return m_readingPaused; }
  bool IsThreadRunning() const { return m_threadRunning; }

  // Connects the transport, learns the device id, opens the four reader channels (not when a
  // stop came meanwhile). The box thread; a test may call it on its own thread while no box
  // thread runs. False when the connection failed.
  bool InitBox();
  // Waits for the first recognised line and keeps its device id, GBoxDiscoverySeconds at most
  // whatever arrives (a line that never ends included); the line itself is handled later by
  // the box thread like any other.
  bool DiscoverDeviceId();

  // Main thread. Starts the box thread; false when one still runs for this box or while a
  // StopBoxThread of this box is under way (a stop wins over any restart it meets).
  bool StartBoxThread();
  // Main thread. Starts the box thread of "connect all boxes": it runs InitBox once, posts a
  // BoxInitDoneEvent with this round number, then reads the box when it was initialised and
  // ends otherwise (no reconnection attempts). False as StartBoxThread.
  bool StartConnectAllThread(int round);
  enum class StopKind {
    kFinal,    // the operator's (or the closing's): the box stays stopped until started again
    kCleanup,  // the end of a box found lost, by whoever may then start it again
  };
  // Main thread. Stops the box thread and returns once it has ended, calling pump (which
  // handles pending events: the box thread's own reports included) while it waits. pump may
  // re-enter StopBoxThread for the same box; both calls return when the thread has ended.
  // Threads cannot be started for this box meanwhile, so the wait is only ever for the thread
  // that this stop stopped.
  void StopBoxThread(const std::function<void()>& pump, StopKind kind = StopKind::kFinal);
  // Main thread. A final stop was asked since the box thread was last started: a loss
  // reported meanwhile must not start it again.
  bool IsStopWanted() const { return m_stopWanted; }

  // The connection was lost (not ended by a stop): the next connection asks the box, when
  // BAutoRecover is set, to replay the reads it stored from shortly before the last recorded
  // one. A final stop takes the request back. Any thread.
  void NoteConnectionLost() {
    m_lostSinceConnection = true;
    m_replayAfterLoss = true;
  }

  // The figures the operator sees of this box; written by its box thread, read anywhere.
  CBoxHealth& Health() { return m_health; }
  const CBoxHealth& Health() const { return m_health; }

  // The box thread's log prefix: "Box %d %s" (English) or "[%d] Boîtier %d %s" (French, with
  // the calling thread's number), with the box number and the transport's label.
  std::string BoxThreadLogPrefix() const;

 private:
  struct DiscoveredLine {
    BoxMessageKind kind;
    std::string line;
    std::string payload;
    std::uint64_t readTickMs;
  };

  // connectRound: 0 for a thread that connects (or reconnects) by itself, else the round of
  // "connect all boxes" that started it.
  bool StartThread(int connectRound);
  void BoxThread(int connectRound);
  // The connect-all start: InitBox once and report it; false when the thread must end.
  bool InitialiseForRound(const std::string& prefix, int round);
  // The connection phase; false when the thread must end without reading.
  bool ConnectPhase(const std::string& prefix);
  void ReadingLoop(const std::string& prefix);
  // Box thread, on a connection that follows a loss: sends rewindData for what was missed.
  void AskForMissedReads(const std::string& prefix);
  // Box thread: a line of any kind arrived at tickMs (it ends a silence).
  void NoteLineArrived(std::uint64_t tickMs, const std::string& prefix);
  // Box thread, while nothing is waiting: reports a silence that passed the limit.
  void CheckSilence(const std::string& prefix);
  // Pauses, waking early when the stop flag is set.
  void PauseMs(int milliseconds);
  bool OnOwnThread() const;
  void TakeDiscoveredLine(const std::string& prefix);
  // Box thread: honours a RequestClearLast made since the last line.
  void ClearLastIfRequested();

  BoxLinkServices& m_services;
  int m_number;
  std::unique_ptr<CComBox> m_transport;

  mutable std::mutex m_deviceIdMutex;  // guards m_deviceId
  std::string m_deviceId;
  std::atomic<int> m_commandSequence{0};
  std::atomic<bool> m_dateShowPending{false};
  std::atomic<bool> m_timeShowPending{false};
  std::atomic<int> m_packState{kPackStateUnknown};

  CLastBoxDetectionList m_lastDetections;  // box thread only (main thread while none runs)
  CBoxReadHistory m_readHistory;           // box thread only (main thread while none runs)
  std::atomic<bool> m_replayAfterLoss{false};
  std::atomic<bool> m_clearLastRequested{false};
  // A loss since the last connection: the next one is a reconnection. A final stop forgets it.
  std::atomic<bool> m_lostSinceConnection{false};
  CBoxHealth m_health;
  BoxThreadCounters m_counters;  // box thread only

  std::mutex m_discoveredMutex;  // guards m_discovered
  std::optional<DiscoveredLine> m_discovered;

  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_readingPaused{false};
  std::atomic<bool> m_threadRunning{false};
  std::mutex m_threadStateMutex;  // pairs with m_threadStateChanged (stop, thread end)
  std::condition_variable m_threadStateChanged;
  std::thread m_thread;  // main thread only
  // Main thread only: StopBoxThread calls under way (nested ones included), and a final stop
  // asked since the last start.
  int m_stopDepth = 0;
  bool m_stopWanted = false;
};

}  // namespace lapora
