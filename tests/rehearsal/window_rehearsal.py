"""A short race rehearsed through the real window, driven by real keys and clicks, with a ledger.

The program runs in its own X server (Xvfb, no window manager) with two simulated boxes over TCP
and the simulated results software. The operator's part goes through XTest as on race day: the
configuration dialog that opens at start is left up past the moment it stops being kept on top,
then cancelled; a click starts the direct connection; "Connect to boxes" is clicked to connect,
clicked again to disconnect every box (a question, answered Yes with Return); while the boxes are
disconnected F12 opens the manual entry, where a bib is typed and the second detector chosen; a
third click connects the boxes again; Ctrl+click on "Exit" ends the program.

The ledger is the headless rehearsal's: every read recorded exactly once or discarded by the
rules the test applies itself, the manual entry recorded once, the incoming lines numbered in
order, every detection recorded while the direct connection was up received exactly once.

usage: window_rehearsal.py BUILD_DIR WORK_DIR [--language FR|EN]
Exit code 0 when every step happened and every line of the ledger holds. Stdlib only.
"""

import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "window"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import window_rig  # noqa: E402
from rehearsal_ledger import (UNKNOWN_CHIP_ALARM, Child, Ledger, SentReads, incoming,  # noqa: E402
                              hundredths, now_us, read_log, received,
                              write_chip_table)

RUNNERS = 20  # below the 50 bibs a box remembers for its repeat filter
LAPS = 3
SPREAD_SECONDS = 5
LAP_SECONDS = 7
IGNORE_MS = 50  # the repeat filter's delay (the program's default)
MANUAL_BIB = "9002"
DETECTORS = {1: "31", 2: "32"}
MANUAL_DETECTOR = "32"  # the second of the manual entry's list, chosen with the Down key
# Past the moment, 7.5 s after it opens, when the configuration dialog stops being kept on top.
CONFIG_STAYS_FROM_OPENING = 8.5


def unknown_bib(bib):
    """Chips of these runners are left out of the chip table: unknown chips, discarded."""
    return bib % 13 == 0


class WindowRehearsal:
    def __init__(self, build, work, language):
        self.build = build
        self.work = work
        self.texts = window_rig.TEXTS[language]
        self.language = language
        self.data = os.path.join(work, "data")
        self.sims = os.path.join(work, "simulators")
        self.home = os.path.join(work, "home")
        for d in (self.data, self.sims, self.home):
            os.makedirs(d)
        self.children = []
        self.x = None
        self.disconnects = []
        self.ledger = Ledger()
        self.started = time.monotonic()
        self.step = "setting up"

    def begin(self, step):
        self.step = step
        print("[%5.1f s] %s" % (time.monotonic() - self.started, step), flush=True)

    def spawn(self, name, args, env=None):
        child = Child(name, args, self.sims, env=env, preexec_fn=window_rig.die_with_parent)
        self.children.append(child)
        return child

    def sim_file(self, box, kind):
        return os.path.join(self.sims, "box%d-%s.txt" % (box, kind))

    def close(self):
        for child in self.children:
            child.stop(signal.SIGKILL, timeout=5)
        if self.x is not None:
            self.x.close()

    # ---- the simulators and the program

    def start_simulators(self):
        self.begin("two boxes and the results software")
        self.boxes = {}
        for n in DETECTORS:
            extra = ["--chip-table", os.path.join(self.sims, "race-chips.txt")] if n == 1 else []
            self.boxes[n] = self.spawn("box%d" % n, [
                os.path.join(self.build, "tools/boxsim/boxsim"), "--tcp", "0", "--bind",
                "127.0.0.1", "--device-id", str(56 + n), "--race", "--runners", str(RUNNERS),
                "--chips-per-runner", "2", "--reads-per-crossing", "2", "--spread",
                str(SPREAD_SECONDS), "--laps", str(LAPS), "--lap-seconds", str(LAP_SECONDS),
                "--realtime", "--loop", "--data-file", self.sim_file(n, "data"), "--send-log",
                self.sim_file(n, "send"), "--session-log", self.sim_file(n, "session"), *extra])
        self.box_port = {n: box.wait_for(r"^listening on (\d+)").group(1)
                         for n, box in self.boxes.items()}
        self.boxes[1].wait_for(r"^chip table ")
        self.results = self.spawn("results", [
            os.path.join(self.build, "tools/resultsim/resultsim"), "--port", "0", "--bind",
            "127.0.0.1", "--quiet", "--generate", str(RUNNERS), "--detectors",
            ",".join(DETECTORS.values()), "--log", os.path.join(self.sims, "results.log")])
        self.results_port = self.results.wait_for(r"^listening on (\d+)").group(1)

    def write_settings(self):
        self.chips = write_chip_table(os.path.join(self.sims, "race-chips.txt"),
                                      os.path.join(self.data, "ChipTable.dtb"), unknown_bib)
        lines = ["[Settings]", "GVarnexIgnoreInputMsDelta=%d" % IGNORE_MS,
                 "GVarnexIgnoreUnknownTags=1", "[OstraBoxes]"]
        for n, detector in DETECTORS.items():
            lines += ["BoxHost%d=127.0.0.1" % (n - 1), "BoxPort%d=%s" % (n - 1, self.box_port[n]),
                      "BoxIdDetector%d=%s" % (n - 1, detector)]
        lines += ["[DirectConnection]", "Host=127.0.0.1", "Port=%s" % self.results_port,
                  "ReconnectSeconds=2"]
        with open(os.path.join(self.data, "Lapora.ini"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in lines))

    def recorded_lines(self):
        try:
            return incoming(self.data)
        except OSError:
            return []

    def wait(self, what, condition, timeout):
        """Waits for condition() while the program runs; RigError after timeout seconds."""
        deadline = time.monotonic() + timeout
        while not condition():
            if self.lapora.proc.poll() is not None:
                raise window_rig.RigError("the program ended (status %d) while waiting for %s"
                                          % (self.lapora.proc.returncode, what))
            if time.monotonic() > deadline:
                raise window_rig.RigError("no %s after %.0f s; windows: %s"
                                          % (what, timeout, self.x.describe()))
            time.sleep(0.05)

    def box_events(self, pattern):
        """How many lines matching the pattern every box printed, the smallest count."""
        return min(len(re.findall(pattern, box.text(), re.M)) for box in self.boxes.values())

    # ---- the operator

    def run(self):
        self.start_simulators()
        self.begin("start Xvfb (no window manager)")
        self.x = x = window_rig.XServer(self.work)
        self.write_settings()
        env = x.program_env(self.home, self.language)
        env["LAPORA_SPEECH"] = "0"
        self.begin("start the program on %s; main window and configuration dialog open"
                   % x.display)
        self.lapora = self.spawn("lapora", [os.path.join(self.build, "lapora"), "--data-dir",
                                            self.data], env=env)
        main = x.wait_for(self.texts["main"], 15, while_alive=self.lapora.proc)
        config = x.wait_for(self.texts["config"], 10, while_alive=self.lapora.proc)
        opened = time.monotonic()

        self.begin("the configuration dialog is kept %.1f s, then cancelled with Escape"
                   % CONFIG_STAYS_FROM_OPENING)
        while time.monotonic() < opened + CONFIG_STAYS_FROM_OPENING:
            if not x.is_viewable(config):
                raise window_rig.RigError("the configuration dialog closed by itself %.1f s "
                                          "after it opened; windows: %s"
                                          % (time.monotonic() - opened, x.describe()))
            time.sleep(0.1)
        x.key(config, "Escape")
        x.wait_gone(config, "the configuration dialog", 5)

        self.begin("a click on the direct connection: the results software is connected")
        where = x.top_right_button(main, window_rig.DIRECT_FROM_TOP_RIGHT)
        x.click(*where)
        try:
            self.results.wait_for(r"^client connected", timeout=10)
        except RuntimeError as error:
            raise window_rig.RigError("no connection after a click at %d,%d, where the direct "
                                      "connection's button should be: %s" % (where + (error,)))
        self.direct_up = now_us()

        connect = x.top_right_button(main, window_rig.CONNECT_BOXES_FROM_TOP_RIGHT)
        self.begin("a click on \"Connect to boxes\": both boxes connect, reads are recorded")
        x.click(*connect)
        self.wait("connection of both boxes after a click at %d,%d, where \"Connect to boxes\" "
                  "should be" % connect,
                  lambda: self.box_events(r"^connected from") >= 1, 10)
        self.wait("detection in the incoming file", lambda: len(self.recorded_lines()) > 0, 15)
        time.sleep(5)

        self.begin("a second click: the disconnect-all question, Return answers Yes")
        self.disconnects.append(now_us())
        x.click(*connect)
        question = x.wait_for(self.texts["main"], 5, other_than=(main,),
                              while_alive=self.lapora.proc)
        x.key(question, "Return")
        x.wait_gone(question, "the disconnect-all question", 5)
        self.wait("disconnection of both boxes", lambda: self.box_events(r"^disconnected") >= 1,
                  10)
        time.sleep(1)

        # While every box is disconnected: the entry reopens the closed incoming file.
        self.begin("F12, a typed bib, the second detector, Return: a manual entry")
        x.key(main, "F12")
        entry = x.wait_for(self.texts["manual_entry"], 5, while_alive=self.lapora.proc)
        # The bib has the focus and the time field holds the time of the opening.
        x.type_text(entry, MANUAL_BIB)
        x.key(entry, "Tab")
        x.key(entry, "Down")
        self.manual_at = now_us()
        x.key(entry, "Return")
        x.wait_gone(entry, "the manual entry dialog", 5)

        self.begin("a third click: both boxes connect again")
        self.before_reconnection = len(self.recorded_lines())
        x.click(*connect)
        self.wait("second connection of both boxes",
                  lambda: self.box_events(r"^connected from") >= 2, 10)
        self.wait("reads of the second connection in the incoming file",
                  lambda: len(self.recorded_lines()) > self.before_reconnection + 1, 15)

        self.begin("the end of the race: every box sent everything")
        for box in self.boxes.values():
            box.wait_for(r"^race done", timeout=40)
        time.sleep(1.5)

        self.begin("Ctrl+click on Exit: the program ends with status 0")
        x.click(*x.exit_button(main), ctrl=True)
        try:
            status = self.lapora.proc.wait(15)
        except subprocess.TimeoutExpired:
            raise window_rig.RigError("the program still runs 15 s after Ctrl+click on Exit; "
                                      "windows: " + x.describe())
        if status != 0:
            raise window_rig.RigError("exit status %d, not 0" % status)

    # ---- the ledger

    def build_ledger(self):
        sent = SentReads([(n, DETECTORS[n], self.sim_file(n, "data"), self.sim_file(n, "send"),
                           self.sim_file(n, "session")) for n in DETECTORS],
                         self.chips, IGNORE_MS, self.disconnects)
        records = incoming(self.data)
        self.ledger.reads(sent, records, {MANUAL_BIB: MANUAL_DETECTOR}, "two", in_flight_limit=10)
        # The race goes on while the boxes are disconnected: its reads come with the second
        # connection, which only a reopened incoming file records.
        after = sum(n for index, n in sent.by_connection.items() if index >= 1)
        self.ledger.check("reads sent after the operator connected again", after,
                          "per connection: %s" % dict(sorted(sent.by_connection.items())),
                          after > 0)
        manual = [r for r in records if r[2] == MANUAL_BIB]
        typed = time.localtime(self.manual_at / 1e6)
        typed = ((typed.tm_hour * 60 + typed.tm_min) * 60 + typed.tm_sec) * 100
        off = [abs(hundredths(r[4]) - typed) for r in manual]
        self.ledger.check("manual entry: its time is the dialog's opening", len(manual),
                          "times %s" % ", ".join(r[4] for r in manual),
                          bool(off) and max(off) <= 500)
        got = received([os.path.join(self.sims, "results.log")])
        self.ledger.results(sent, records, got, {MANUAL_BIB: self.manual_at},
                            [(0, self.direct_up)])
        log = read_log(self.data)
        self.ledger.log(log, [UNKNOWN_CHIP_ALARM])
        # The window writes a turn's log lines in one go: each recorded read still has its line
        # (every read is logged, the ones the repeat filter drops too).
        logged = collections.Counter(re.findall(
            r"\[[^\]]* (\d+)\] : (?:Détection reçue|Detection recved): (\S+) (?:pour|for) #(\S+) ",
            log))
        recorded = collections.Counter((r[1], r[4], r[2]) for r in records if r[2] != MANUAL_BIB)
        missing = recorded - logged
        self.ledger.check("log: recorded reads without their log line", sum(missing.values()),
                          "%d recorded, %d logged %s" % (sum(recorded.values()),
                                                         sum(logged.values()),
                                                         self.ledger.sample(missing)),
                          not missing and sum(recorded.values()) > 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("work")
    parser.add_argument("--language", choices=sorted(window_rig.TEXTS), default="FR")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    rehearsal = WindowRehearsal(args.build, args.work, args.language)
    # CTest ends a test that runs too long with a signal: leave through the clean-up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(
        "window rehearsal: terminated at step \"%s\"" % rehearsal.step))
    try:
        rehearsal.run()
    except (window_rig.RigError, RuntimeError) as error:
        print("FAILED at step \"%s\": %s" % (rehearsal.step, error), flush=True)
        program = os.path.join(args.work, "simulators", "lapora.out")
        if os.path.exists(program):
            with open(program, "rb") as f:
                print("program output:\n" + f.read().decode("utf-8", "replace")[-3000:])
        return 1
    finally:
        rehearsal.close()
    rehearsal.build_ledger()
    ok = rehearsal.ledger.print_table("Window rehearsal ledger")
    print("\nwindow rehearsal took %.0f s; files in %s"
          % (time.monotonic() - rehearsal.started, args.work))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
