#!/usr/bin/python3
"""The program in a real X server, run as an operator runs it on race day.

The offscreen Qt tests cannot see what a real X server does to windows (mapping, re-creating a
native window, input focus). This test starts the real program under Xvfb with no window manager,
sends real keys and clicks, and reads the windows back from the server:

  1. the configuration dialog opens by itself at start and is still on screen 10 s later (it once
     closed by itself when it stopped being kept on top, leaving the main window taking no input);
  2. Escape closes it;
  3. F12 in the main window opens the manual entry dialog; Escape closes it;
  4. a click on "Exit" asks the exit question; Escape answers No and the program keeps running;
  5. Ctrl+click on "Exit" ends the program at once, with no question, status 0;
  6. the log file holds the start banner and then the exit banner;
and before all that, a data folder that cannot be made stops the program at start with a message
box, and nothing else opens.

usage: window_smoke_test.py PROGRAM [--language FR|EN]
"""

import argparse
import errno
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import window_rig  # noqa: E402

# How long the configuration dialog must stay up: past the moment, 7.5 s after it opens, when it
# stops being kept on top, which is when it used to vanish.
CONFIG_STAYS_FROM_START = 10.0
CONFIG_STAYS_FROM_OPENING = 8.5


class Steps:
    """Names the step under way, so that a failure says where it happened."""

    def __init__(self):
        self.current = "setting up"
        self.started = time.monotonic()

    def begin(self, name):
        self.current = name
        print("[%5.1f s] %s" % (time.monotonic() - self.started, name), flush=True)


def refuse_blind(program, texts, work, env, x, steps):
    steps.begin("a data folder under a regular file: a message box, then the program ends")
    blocker = os.path.join(work, "a-file")
    with open(blocker, "wb") as f:
        f.write(b"x")
    data = os.path.join(blocker, "data")
    output = os.path.join(work, "refused.out")
    refused = window_rig.spawn([program, "--data-dir", data], env, output)
    try:
        box = x.wait_for("Lapora", 15, while_alive=refused)
        if x.viewable(texts["main"]) or x.viewable(texts["config"]):
            raise window_rig.RigError("the program went on behind the message box; windows: "
                                      + x.describe())
        x.key(box, "Return")
        try:
            status = refused.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise window_rig.RigError("the program still runs 10 s after the message box was "
                                      "answered; windows: " + x.describe())
        if status != 1:
            raise window_rig.RigError("exit status %d, not 1" % status)
        with open(output, "rb") as f:
            said = f.read().decode("utf-8", "replace")
        if data + ": " + os.strerror(errno.ENOTDIR) not in said:
            raise window_rig.RigError("the path and the reason are not in the program's output:\n"
                                      + said)
    finally:
        window_rig.stop(refused)


def run(program, language, work, steps):
    texts = window_rig.TEXTS[language]
    steps.begin("start Xvfb (no window manager)")
    x = window_rig.XServer(work)
    lapora = None
    try:
        data = os.path.join(work, "data")
        os.makedirs(data)
        # An empty settings file: every key takes its default (no box, no direct connection).
        open(os.path.join(data, "Lapora.ini"), "wb").close()
        home = os.path.join(work, "home")
        os.makedirs(home)
        output = os.path.join(work, "lapora.out")

        env = x.program_env(home, language)
        refuse_blind(program, texts, work, env, x, steps)

        steps.begin("start the program on %s (%s); main window and configuration dialog open"
                    % (x.display, env["LC_ALL"]))
        started = time.monotonic()
        lapora = window_rig.spawn([program, "--data-dir", data], env, output)
        main = x.wait_for(texts["main"], 15, while_alive=lapora)
        config = x.wait_for(texts["config"], 10, while_alive=lapora)
        opened = time.monotonic()

        steps.begin("configuration dialog still on screen 10 s after start")
        until = max(started + CONFIG_STAYS_FROM_START, opened + CONFIG_STAYS_FROM_OPENING)
        while time.monotonic() < until:
            if lapora.poll() is not None:
                raise window_rig.RigError("the program ended (status %d)" % lapora.returncode)
            if not x.is_viewable(config):
                raise window_rig.RigError(
                    "the configuration dialog closed by itself %.1f s after start; windows: %s"
                    % (time.monotonic() - started, x.describe()))
            time.sleep(0.1)

        steps.begin("Escape closes the configuration dialog")
        x.key(config, "Escape")
        x.wait_gone(config, "the configuration dialog", 5)
        if not x.is_viewable(main):
            raise window_rig.RigError("the main window went with it; windows: " + x.describe())

        steps.begin("F12 in the main window opens \"%s\"" % texts["manual_entry"])
        x.key(main, "F12")
        entry = x.wait_for(texts["manual_entry"], 5, while_alive=lapora)

        steps.begin("Escape closes the manual entry dialog")
        x.key(entry, "Escape")
        x.wait_gone(entry, "the manual entry dialog", 5)

        steps.begin("a click on Exit asks the exit question")
        button = x.exit_button(main)
        x.click(*button)
        try:
            # The question box carries the main window's title.
            question = x.wait_for(texts["main"], 5, other_than=(main,), while_alive=lapora)
        except window_rig.RigError as error:
            raise window_rig.RigError("no exit question after a click at %d,%d, where the Exit "
                                      "button should be (has the window's layout changed?): %s"
                                      % (button + (error,)))

        steps.begin("Escape answers No: the program keeps running")
        x.key(question, "Escape")
        x.wait_gone(question, "the exit question", 5)
        time.sleep(0.5)
        if lapora.poll() is not None or not x.is_viewable(main):
            raise window_rig.RigError("the program did not stay open; windows: " + x.describe())

        steps.begin("Ctrl+click on Exit ends the program with no question")
        x.click(*button, ctrl=True)
        deadline = time.monotonic() + 15
        while lapora.poll() is None:
            asked = [w for w in x.viewable(texts["main"]) if w != main]
            if asked:
                raise window_rig.RigError("a question was asked although Ctrl was held")
            if time.monotonic() > deadline:
                raise window_rig.RigError("the program still runs 15 s after Ctrl+click on "
                                          "Exit; windows: " + x.describe())
            time.sleep(0.1)
        if lapora.returncode != 0:
            raise window_rig.RigError("exit status %d, not 0" % lapora.returncode)

        steps.begin("the log file holds the start and exit banners")
        log_path = os.path.join(data, "logfiles", "Lapora.log")
        try:
            with open(log_path, "rb") as f:
                log = f.read()
        except OSError as error:
            raise window_rig.RigError("cannot read %s: %s" % (log_path, error))
        start = log.find(texts["start_banner"])
        end = log.find(window_rig.EXIT_BANNER)
        if start < 0 or end < 0 or end < start:
            raise window_rig.RigError("expected the start banner then the exit banner in %s; it "
                                      "holds:\n%s" % (log_path, log.decode("cp1252", "replace")))
    finally:
        window_rig.stop(lapora)
        x.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--language", choices=sorted(window_rig.TEXTS), default="FR")
    args = parser.parse_args()

    steps = Steps()
    # CTest ends a test that runs too long with a signal: leave through the clean-up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(
        "window smoke test: terminated at step \"%s\"" % steps.current))
    with tempfile.TemporaryDirectory(prefix="lapora-window-") as work:
        try:
            run(args.program, args.language, work, steps)
        except window_rig.RigError as error:
            print("FAILED at step \"%s\": %s" % (steps.current, error), flush=True)
            output = os.path.join(work, "lapora.out")
            if os.path.exists(output):
                with open(output, "rb") as f:
                    print("program output:\n" + f.read().decode("utf-8", "replace"))
            return 1
    print("passed in %.1f s" % (time.monotonic() - steps.started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
