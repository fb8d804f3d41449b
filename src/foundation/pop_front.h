// Bringing the running instance's window in front of all windows, asked by another program:
// the instance that holds the instance lock listens on the socket "Lapora.sock" beside it and
// posts a PopFrontEvent for each request; `lapora --popfront` and a second start send one.
// PopFrontListener: main thread (its requests arrive on its own thread and are only posted).
#pragma once

#include <chrono>
#include <string>

#include "platform/local_socket.h"

namespace lapora {

class EventQueue;

class PopFrontListener {
 public:
  static constexpr char kSocketName[] = "Lapora.sock";
  static constexpr char kRequest[] = "popfront";
  static constexpr char kAnswer[] = "ok";

  explicit PopFrontListener(EventQueue& events) : m_events(events) {}

  // REQUIRES: this process holds the instance lock in lockFolder, so a socket found there is
  // a crashed run's leftover and is replaced. False (errorText says why) when requests cannot
  // be taken; the program runs on without them.
  [[nodiscard]] bool Start(const std::string& lockFolder, std::string* errorText);
  // Before the instance lock is released.
  void Stop() { m_server.Stop(); }

 private:
  EventQueue& m_events;
  LocalRequestServer m_server;
};

enum class PopFrontResult {
  kBroughtToFront,  // the running instance took the request
  kNoInstance,      // no instance listens in lockFolder
  kFailed,          // see the error text
};

// Asks the instance running with this lock folder to bring its window to the front, waiting
// at most timeout for its answer.
[[nodiscard]] PopFrontResult RequestPopFront(
    const std::string& lockFolder, std::string* errorText = nullptr,
    std::chrono::milliseconds timeout = std::chrono::seconds(3));

}  // namespace lapora
