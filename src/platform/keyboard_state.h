// The toggle state of the Scroll Lock key, which switches the spoken announcements on.
// Main thread only (it talks to the X server through a short-lived connection).
#pragma once

namespace lapora {

// True when Scroll Lock is toggled on. The environment variable LAPORA_SPEECH decides first:
// "1" reads as on, "0" as off (machines without a keyboard of their own, tests). Otherwise
// the X server's "Scroll Lock" indicator when a display is reachable, else the keyboard LEDs
// the kernel shows; a machine with neither reads as off.
bool IsScrollLockOn();

}  // namespace lapora
