#include "platform/keyboard_state.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

#if __has_include(<X11/XKBlib.h>)
#include <X11/XKBlib.h>
#define LAPORA_HAVE_X11_HEADERS 1
#endif

namespace lapora {

namespace {

#ifdef LAPORA_HAVE_X11_HEADERS

// libX11 is loaded at run time, so that a headless build and a machine without X need no
// X library at all; it stays loaded once found (unloading Xlib is not safe).
struct X11Functions {
  decltype(&XOpenDisplay) openDisplay = nullptr;
  decltype(&XCloseDisplay) closeDisplay = nullptr;
  decltype(&XInternAtom) internAtom = nullptr;
  decltype(&XkbGetNamedIndicator) getNamedIndicator = nullptr;
  decltype(&XGetKeyboardControl) getKeyboardControl = nullptr;
};

const X11Functions* LoadX11() {
  static std::once_flag once;
  static X11Functions functions;
  static bool loaded = false;
  std::call_once(once, [] {
    void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) {
      return;
    }
    functions.openDisplay =
        reinterpret_cast<decltype(&XOpenDisplay)>(dlsym(library, "XOpenDisplay"));
    functions.closeDisplay =
        reinterpret_cast<decltype(&XCloseDisplay)>(dlsym(library, "XCloseDisplay"));
    functions.internAtom = reinterpret_cast<decltype(&XInternAtom)>(dlsym(library, "XInternAtom"));
    functions.getNamedIndicator =
        reinterpret_cast<decltype(&XkbGetNamedIndicator)>(dlsym(library, "XkbGetNamedIndicator"));
    functions.getKeyboardControl =
        reinterpret_cast<decltype(&XGetKeyboardControl)>(dlsym(library, "XGetKeyboardControl"));
    loaded = functions.openDisplay != nullptr && functions.closeDisplay != nullptr &&
             functions.internAtom != nullptr && functions.getNamedIndicator != nullptr &&
             functions.getKeyboardControl != nullptr;
  });
  return loaded ? &functions : nullptr;
}

// False when no X display answers; otherwise *on is the Scroll Lock indicator.
bool ReadX11ScrollLock(bool* on) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    return false;
  }
  const X11Functions* x11 = LoadX11();
  if (x11 == nullptr) {
    return false;
  }
  Display* connection = x11->openDisplay(nullptr);
  if (connection == nullptr) {
    return false;
  }
  bool state = false;
  Bool named = False;
  const Atom atom = x11->internAtom(connection, "Scroll Lock", True);
  int index = 0;
  if (atom != None && x11->getNamedIndicator(connection, atom, &index, &named, nullptr, nullptr)) {
    state = named != False;
  } else {
    // No XKB indicator of that name: the core protocol's LED 3 is Scroll Lock.
    XKeyboardState keyboard{};
    x11->getKeyboardControl(connection, &keyboard);
    state = (keyboard.led_mask & 0x4) != 0;
  }
  x11->closeDisplay(connection);
  *on = state;
  return true;
}

#else

bool ReadX11ScrollLock(bool*) {
  return false;
}

#endif

// The kernel's view of the keyboard LEDs (/sys/class/leds/inputN::scrolllock); false when
// there is no such LED.
bool ReadLedScrollLock(bool* on) {
  std::error_code error;
  std::filesystem::directory_iterator entries("/sys/class/leds", error);
  if (error) {
    return false;
  }
  bool found = false;
  bool anyOn = false;
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with("::scrolllock")) {
      continue;
    }
    std::ifstream brightness(entry.path() / "brightness");
    int value = 0;
    if (brightness >> value) {
      found = true;
      anyOn = anyOn || value > 0;
    }
  }
  if (found) {
    *on = anyOn;
  }
  return found;
}

}  // namespace

bool IsScrollLockOn() {
  if (const char* forced = std::getenv("LAPORA_SPEECH"); forced != nullptr) {
    const std::string_view value(forced);
    if (value == "1") {
      return true;
    }
    if (value == "0") {
      return false;
    }
  }
  bool on = false;
  if (ReadX11ScrollLock(&on)) {
    return on;
  }
  if (ReadLedScrollLock(&on)) {
    return on;
  }
  return false;
}

}  // namespace lapora
