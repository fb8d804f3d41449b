// Opens a document or a folder with the desktop's default application (xdg-open), detached:
// the caller never waits for the application, which may run as long as the operator reads.
// Thread-safe; no state.
#pragma once

#include <string>

namespace lapora {

// Starts the desktop's opener on path and returns once it runs. False with the reason in
// *error when it cannot be started (not installed, not runnable). The opener's own failure
// to find a viewer is not seen here: it runs on after this returns.
[[nodiscard]] bool OpenWithDefaultApplication(const std::string& path, std::string* error);

// The opener's full path as found on PATH (the value given), empty when there is none.
std::string FindOpener(const std::string& searchPath);

}  // namespace lapora
