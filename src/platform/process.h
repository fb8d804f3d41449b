// Process-wide set-up done once by the start-up sequence, before any other thread runs.
// Not thread-safe: call from the main thread only.
#pragma once

namespace lapora {

// Prepares the socket layer: a write to a socket whose peer has gone must return an error
// (EPIPE) instead of ending the process, so SIGPIPE is ignored. Returns false on failure.
[[nodiscard]] bool InitSocketLayer();

// Sets the locale of the time functions (strftime month names) to the user's locale.
// Returns false (and keeps the "C" locale) when the user's locale is not installed.
// Also pins the local time zone (see PinLocalTimeZone).
bool SetUserTimeLocale();

// Puts every locale category back to "C" except the time category, which follows the user.
// Toolkits apply the user's locale to all categories when they start; numbers sent to boxes and
// peers ("5.0", never "5,0") and numbers read back must not depend on the desktop's settings.
void KeepOnlyTimeLocaleOfUser();

// Makes the C library read the system time zone once instead of at every conversion, when TZ
// is not set. An explicit TZ is kept.
void PinLocalTimeZone();

}  // namespace lapora
