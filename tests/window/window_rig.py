"""A real X server for driving the program as an operator does.

Xvfb on a display number it picks itself, with no window manager: nothing moves, decorates or
focuses windows, so what the X server reports is what the program did. Keys and clicks go through
the XTest extension (xdotool), and the windows are read back with xwininfo, the server's own view
of which top-level windows exist and are mapped. Stdlib only; one thread.
"""

import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import time

# Both languages the program can be built in: the titles and banners the rig looks for.
TEXTS = {
    "FR": {
        "main": "Détections Lapora",
        "config": "Configuration Lapora",
        "manual_entry": "Saisie manuelle de dossard",
        "start_banner": b"------------------------ Lancement Lapora version",
    },
    "EN": {
        "main": "Lapora Detections",
        "config": "Lapora Configuration",
        "manual_entry": "Manual bib number input",
        "start_banner": b"------------------------ Starting Lapora version",
    },
}
EXIT_BANNER = b"------------------------ Sortie Lapora"
OPERATOR_LOCALES = {"FR": "fr_FR.UTF-8", "EN": "en_US.UTF-8"}

SCREEN = "1280x800x24"

# The program's "Exit" button is the last one of the command column at the window's right edge,
# just above the bottom status line. Its centre, from the bottom-right corner of the main window
# (the column's width follows the font: these are Debian's default fonts). A click that misses it
# shows no exit question, and the callers say so.
EXIT_BUTTON_FROM_BOTTOM_RIGHT = (96, 55)
# Two buttons of the same column, from the window's top-right corner, where the column starts:
# "Connect to boxes", the second button, and the direct connection, the last of the upper group.
# The direct connection's place holds while the counter above it says that nothing is recorded
# yet (its text, hence its height, changes with the first detection).
CONNECT_BOXES_FROM_TOP_RIGHT = (96, 57)
DIRECT_FROM_TOP_RIGHT = (96, 419)

_LIBC = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def die_with_parent():
    # Runs in the child between fork and exec: the kernel kills it when the rig's process ends,
    # even by SIGKILL (a CTest timeout), so no X server or program outlives a run.
    _LIBC.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


def spawn(args, env, out_path, new_session=False):
    """Starts a child that dies with this process, its output into out_path."""
    with open(out_path, "wb") as out:
        return subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, preexec_fn=die_with_parent,
                                start_new_session=new_session)


def stop(process, group=False):
    """Ends a child (and its process group when asked): SIGTERM, then SIGKILL after 3 s."""
    if process is None or process.poll() is not None:
        return
    sender = (lambda sig: os.killpg(process.pid, sig)) if group else process.send_signal
    try:
        sender(signal.SIGTERM)
        process.wait(timeout=3)
    except subprocess.TimeoutExpired:
        sender(signal.SIGKILL)
        process.wait()
    except ProcessLookupError:
        pass


class RigError(Exception):
    """A step did not happen as expected; the text says what was seen."""


class XServer:
    """Xvfb on a free display, no window manager, no TCP; ended by close()."""

    def __init__(self, work_dir):
        missing = [tool for tool in ("Xvfb", "xdotool", "xwininfo") if not shutil.which(tool)]
        if missing:
            raise RigError("missing " + ", ".join(missing) + " (run scripts/install-deps)")
        read_end, write_end = os.pipe()
        # -displayfd: the server takes the first free display number and writes it to the pipe
        # once it accepts connections, so parallel runs never race for a number.
        args = ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp",
                "-noreset"]
        with open(os.path.join(work_dir, "xvfb.out"), "wb") as out:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=subprocess.STDOUT, pass_fds=(write_end,),
                                            preexec_fn=die_with_parent)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            # The server closes its end after writing the number; an end without a number is a
            # failed start.
            if select.select([pipe], [], [], 15)[0]:
                number = pipe.read().strip()
        if not number.isdigit():
            self.close()
            raise RigError("Xvfb did not start; its output is in " + out.name)
        self.display = ":" + number.decode()

    def close(self):
        stop(self.process)

    def env(self):
        """The environment for the X tools: only the display changes."""
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("WAYLAND_DISPLAY", None)
        # xwininfo prints titles in the locale's encoding: ask for UTF-8.
        env["LC_ALL"] = "C.UTF-8"
        return env

    def program_env(self, home, language):
        """The program's environment: this display through Qt's X11 plugin, silent sound, a home
        and runtime folder of its own under `home`, and the operators' locale when this machine
        has it (the log's month names follow it), C.UTF-8 otherwise, which every Debian has."""
        env = self.env()
        locale = OPERATOR_LOCALES[language]
        if not _has_locale(locale):
            locale = "C.UTF-8"
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "SDL_AUDIODRIVER": "dummy",
            "LANG": locale,
            "LC_ALL": locale,
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": os.path.join(home, "runtime"),
        })
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        return env

    def _run(self, args):
        try:
            return subprocess.run(args, env=self.env(), stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=10)
        except subprocess.TimeoutExpired:
            raise RigError(" ".join(args) + " did not answer within 10 s")

    def windows(self):
        """The named top-level windows, as (id, title) pairs, mapped or not."""
        result = self._run(["xwininfo", "-root", "-tree"])
        text = result.stdout.decode("utf-8", "replace")
        return [(int(m.group(1), 16), m.group(2))
                for m in re.finditer(r'^\s*(0x[0-9a-f]+) "(.*)": \(', text, re.MULTILINE)]

    def _info(self, window):
        result = self._run(["xwininfo", "-id", hex(window)])
        return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else ""

    def is_viewable(self, window):
        """True when the window exists and is mapped with all its parents (on screen)."""
        return "Map State: IsViewable" in self._info(window)

    def viewable(self, title):
        """The ids of the viewable top-level windows with exactly this title."""
        return [w for w, name in self.windows() if name == title and self.is_viewable(w)]

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        info = self._info(window)
        values = {}
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            match = re.search(r"^\s*" + key + r":\s*(-?\d+)", info, re.MULTILINE)
            if match is None:
                raise RigError("no geometry for window " + hex(window))
            values[key] = int(match.group(1))
        return tuple(values[k] for k in ("Absolute upper-left X", "Absolute upper-left Y",
                                         "Width", "Height"))

    def wait_for(self, title, timeout, other_than=(), while_alive=None):
        """The id of a viewable window with this title (and not one of `other_than`) once one
        shows, within `timeout` seconds; RigError otherwise, or as soon as `while_alive` ends."""
        deadline = time.monotonic() + timeout
        while True:
            found = [w for w in self.viewable(title) if w not in other_than]
            if found:
                return found[0]
            if while_alive is not None and while_alive.poll() is not None:
                raise RigError("the program ended (status %d) while waiting for \"%s\""
                               % (while_alive.returncode, title))
            if time.monotonic() > deadline:
                raise RigError("no window \"%s\" on screen after %.0f s; windows: %s"
                               % (title, timeout, self.describe()))
            time.sleep(0.1)

    def wait_gone(self, window, what, timeout):
        """Waits until the window is no longer on screen (unmapped or destroyed)."""
        deadline = time.monotonic() + timeout
        while self.is_viewable(window):
            if time.monotonic() > deadline:
                raise RigError("%s still on screen after %.0f s" % (what, timeout))
            time.sleep(0.1)

    def describe(self):
        """The named top-level windows and their map state, for failure messages."""
        parts = []
        for window, title in self.windows():
            state = "viewable" if self.is_viewable(window) else "not viewable"
            parts.append("%s \"%s\" (%s)" % (hex(window), title, state))
        return "; ".join(parts) or "none"

    def focus(self, window):
        # With no window manager nobody gives a new window the keyboard; XTest keys go to the
        # window that has the X input focus, so the rig sets it (XSetInputFocus) before typing.
        self._xdotool(["windowfocus", "--sync", str(window)])

    def key(self, window, name):
        """Focuses the window, then presses and releases one key through XTest."""
        self.focus(window)
        self._xdotool(["key", name])

    def type_text(self, window, text):
        """Focuses the window, then types the text key by key through XTest."""
        self.focus(window)
        self._xdotool(["type", "--delay", "30", text])

    def click(self, x, y, ctrl=False):
        """A real left click at (x, y) on the screen, with Ctrl held down when asked."""
        # No --sync: it waits for the pointer to move, forever when it is already there. The
        # server handles the XTest events in order, so the click lands where the pointer went.
        args = ["mousemove", str(x), str(y), "click", "1"]
        if ctrl:
            args = ["keydown", "ctrl"] + args + ["keyup", "ctrl"]
        self._xdotool(args)

    def exit_button(self, main_window):
        """Screen position of the "Exit" button of the main window."""
        x, y, width, height = self.geometry(main_window)
        dx, dy = EXIT_BUTTON_FROM_BOTTOM_RIGHT
        return x + width - dx, y + height - dy

    def top_right_button(self, main_window, offset):
        """Screen position of a button given by its offset from the top-right corner."""
        x, y, width, _ = self.geometry(main_window)
        return x + width - offset[0], y + offset[1]

    def screenshot(self, path):
        """The whole screen into a PNG file."""
        result = self._run(["import", "-window", "root", path])
        if result.returncode != 0:
            raise RigError("import failed: " + result.stderr.decode("utf-8", "replace"))

    def _xdotool(self, args):
        result = self._run(["xdotool"] + args)
        if result.returncode != 0:
            raise RigError("xdotool %s failed: %s"
                           % (" ".join(args), result.stderr.decode("utf-8", "replace").strip()))


def _has_locale(name):
    try:
        listed = subprocess.run(["locale", "-a"], capture_output=True, timeout=10).stdout
    except (OSError, subprocess.TimeoutExpired):
        return False

    def canonical(text):
        return text.lower().replace("-", "")

    return canonical(name) in {canonical(n) for n in listed.decode("ascii", "replace").split()}
