// The typed event queue between worker threads and the main thread. Any thread posts;
// only the main thread dispatches, one event at a time and in posting order (a handler may
// dispatch again, e.g. while waiting for a box thread to end; order is still kept).
// Send() posts and waits until the event was handled (the FTP worker's notifications).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "foundation/kol_result.h"

namespace lapora {

// A text posted to the log (level 0..100; higher is more verbose).
struct LogLineEvent {
  int level = 0;
  std::string text;
};
// An alert whose text must also be shown in a message box.
struct AlertEvent {
  std::string text;
};
// One non-empty line received from the results software.
struct LinkLineEvent {
  std::string line;
};
// Results-software link state: 1 connecting, 2 connected, 3 not connected.
struct LinkStateEvent {
  int state = 0;
};
// A box's state may have changed; failed is 1 when its reception failed.
struct BoxStatusEvent {
  int box = 0;
  int failed = 0;
};
// A box thread started by "connect all boxes" (round number `round`) has finished initialising
// its box: initialised when the box was connected and its channels opened.
struct BoxInitDoneEvent {
  int box = 0;
  int round = 0;
  bool initialised = false;
};
// A box stopped answering its keep-alive.
struct BoxPingErrorEvent {
  int box = 0;
};
// An FTP upload job changed state (1 started, 3 done, 6 error).
struct FtpJobStatusEvent {
  int status = 0;
  std::string remoteName;
  std::string errorText;
};
// A recorded detection for the detections list.
struct DetectionItemEvent {
  CLogDetectionItem item;
};
// A worker asks the main thread to refresh the box states and the detection counter.
struct RefreshRequestEvent {};
// Another program (`lapora --popfront`, a second start) asks for the window in front of all.
struct PopFrontEvent {};

using Event = std::variant<LogLineEvent, AlertEvent, LinkLineEvent, LinkStateEvent, BoxStatusEvent,
                           BoxInitDoneEvent, BoxPingErrorEvent, FtpJobStatusEvent,
                           DetectionItemEvent, RefreshRequestEvent, PopFrontEvent>;

class EventQueue {
 public:
  using Handler = std::function<void(const Event&)>;

  EventQueue() = default;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;
  ~EventQueue();

  // Any thread. Dropped once the queue is closed. A refresh request is dropped while another
  // one is still pending: the pending one will show the state at its handling time.
  void Post(Event event);
  // Any thread: posts count events in order under one lock (a box thread posts the log line,
  // the refresh and the list item of a detection at once; four box threads contend less).
  void PostBatch(Event* events, std::size_t count);
  // Any thread but the dispatching one: posts, then waits until the event was handled or
  // the queue was closed. Returns true when it was handled.
  bool Send(Event event);

  // Main thread. Handles pending events one by one, at most maxEvents, and returns how many
  // were handled. Events posted while dispatching are handled in the same call.
  std::size_t Dispatch(const Handler& handler, std::size_t maxEvents = SIZE_MAX);
  // Main thread. Waits until an event is pending, the queue is closed or the time-out ends.
  bool WaitForEvents(std::chrono::milliseconds timeout);
  std::size_t PendingCount() const;

  // Called on the posting thread each time the queue goes from empty to non-empty, so that a
  // front end can wake its loop (e.g. a queued call into the Qt thread). Set before workers run.
  void SetWakeCallback(std::function<void()> wake);

  // Stops accepting events, drops the pending ones and releases every waiting Send.
  void Close();
  bool IsClosed() const;

 private:
  // REQUIRES: m_mutex is held. False when the event is dropped.
  bool PushLocked(Event&& event);

  struct Pending {
    Event event;
    std::shared_ptr<bool> handled;  // set by Send; guarded by m_mutex
  };

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Pending> m_pending;
  std::function<void()> m_wake;
  bool m_closed = false;
  bool m_refreshPending = false;  // a RefreshRequestEvent is in m_pending
};

}  // namespace lapora
