// The window program: the Qt application object (made before start-up, so that start-up can
// ask its question in a message box), then the Station shown in the main window until it
// closes. Main thread only. Keeps Qt out of the program's main.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "station/station.h"

class QApplication;

namespace lapora {

class QtSession {
 public:
  QtSession(int& argc, char** argv);
  ~QtSession();
  QtSession(const QtSession&) = delete;
  QtSession& operator=(const QtSession&) = delete;

  // Shows the "already started" text; true when Ctrl was held as it was dismissed.
  bool AskStartRegardless(const std::string& text);
  void ShowError(const std::string& text);
  // Opens the main window over a new Station and runs until it closes. With a duration, the
  // closing sequence runs as with Ctrl held once it has passed. The commands the parts ask for
  // at start (--connect, --direct) are pressed by the Station once the window runs. Returns the
  // exit status.
  int Run(StationParts parts, std::optional<std::chrono::milliseconds> duration);

 private:
  std::unique_ptr<QApplication> m_app;
};

}  // namespace lapora
