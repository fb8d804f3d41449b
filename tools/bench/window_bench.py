#!/usr/bin/python3
"""The window thread's stalls at race scale, seen through the X server (make bench).

Runs the real program (a release build) in Xvfb with no window manager, with four simulated
boxes declared in its settings. "Connect to boxes" is clicked as an operator does; each box sends
a backlog of WINDOW_BENCH_DETECTIONS / 4 reads as fast as the program takes them, then keeps
sending WINDOW_BENCH_RATE reads a second. Once the backlog is recorded, the operator's steps are
driven with real keys and clicks while the flow goes on, and window_stall_probe pings the main
window (_NET_WM_PING, answered by the window thread's event processing, also inside a modal
dialog's loop) every 15 ms. For each step the table gives the longest time a ping waited for its
answer (the longest stall of the window thread during that step) and the 99th percentile.

Every step proves that it happened, or the bench fails: a dialog or question on screen, a line in
the program's log, an export file, the results simulator's connection. Remove and restore run
while the boxes are disconnected (the list stands still, so both hit the same line), each proved
by an "Export all" whose file lacks exactly the removed detection, then has it again.

usage: window_bench.py BUILD_DIR      (BUILD_DIR holds lapora, tools/boxsim/boxsim,
                                       tools/resultsim/resultsim and
                                       tools/bench/window_stall_probe)
Knobs (environment): WINDOW_BENCH_DETECTIONS (default 1000000), WINDOW_BENCH_RATE (reads a second
per box once the backlog is in, default 25), WINDOW_BENCH_IDLE_SECONDS (default 10),
WINDOW_BENCH_STEPS (comma-separated step names to run, default all), WINDOW_BENCH_KEEP (a folder
to keep the run's files in), WINDOW_BENCH_SHOTS (a folder: a screenshot after each step).
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, os.path.join(root, "tests", "window"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import window_rig  # noqa: E402

LANGUAGE = "FR"
TEXTS = window_rig.TEXTS[LANGUAGE]
IMPORT_TITLE = "Import de détections Varnex"
EXPORT_TITLE = "Export des lignes de détections"

# The command column, from the main window's top-right corner (Debian's default fonts).
CONFIG_FROM_TOP_RIGHT = (96, 20)
CONNECT_FROM_TOP_RIGHT = window_rig.CONNECT_BOXES_FROM_TOP_RIGHT
FORGET_FROM_TOP_RIGHT = (96, 108)
EXPORT_ALL_FROM_TOP_RIGHT = (96, 159)
IMPORT_FROM_TOP_RIGHT = (96, 375)
DIRECT_FROM_TOP_RIGHT = window_rig.DIRECT_FROM_TOP_RIGHT
BACKGROUND_FROM_TOP_RIGHT = (96, 540)
DETECTION_LINE_FROM_TOP_LEFT = (150, 60)
# The export dialog's controls, from its top-left corner (its size is fixed).
FILTER_FROM_TOP_LEFT = (546, 185)
NAME_FROM_TOP_LEFT = (313, 77)
EXPORT_NOW_FROM_TOP_LEFT = (528, 383)
EXPORT_NOW_NAME = "maintenant"

# Log lines that prove a step (French build; the log file is Windows-1252).
LOG_MANUAL = "+++ Ajout manuel d'une détection"
LOG_EXPORT_ALL = "+ Export des détections effectué dans le fichier ["
LOG_DISCONNECT = ": Déconnexion demandée"
LOG_CONNECTED = "+ Connexion aux boîtiers terminée : 4 sur 4"
LOG_RESET = "+ Remise à zéro de la liste des détections effectuée."
LOG_EXIT = "------------------------ Sortie Lapora"

STEPS = ["idle", "config", "manual", "export-all", "export-dialog", "filter", "export-now",
         "background-export", "import-dialog", "disconnect", "remove", "restore", "connect",
         "direct", "forget", "close"]


class Bench:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.detections = int(os.environ.get("WINDOW_BENCH_DETECTIONS", "1000000"))
        self.rate = int(os.environ.get("WINDOW_BENCH_RATE", "25"))
        self.idle = float(os.environ.get("WINDOW_BENCH_IDLE_SECONDS", "10"))
        wanted = os.environ.get("WINDOW_BENCH_STEPS", "")
        self.steps = [s for s in wanted.split(",") if s] or STEPS
        self.x = None
        self.sims = []
        self.lapora = None
        self.probe = None
        self.main = None
        self.rows = []
        self.data = os.path.join(work, "data")
        self.export = os.path.join(work, "export")
        self.export_all_file = os.path.join(work, "all.kol")
        self.log_path = os.path.join(self.data, "logfiles", "Lapora.log")
        self.shots = os.environ.get("WINDOW_BENCH_SHOTS")
        self.results = None
        self.results_out = os.path.join(work, "resultsim.out")
        self.results_port = 0
        self.started = time.monotonic()

    def say(self, text):
        print("[%6.1f s] %s" % (time.monotonic() - self.started, text), flush=True)

    # --- set-up -------------------------------------------------------------------------------
    def start_boxes(self):
        per_box = self.detections // 4
        runners = 5000
        # Enough laps for the backlog and an hour of flow.
        laps = per_box // runners + 2 + (self.rate * 3600) // runners
        ports = []
        for box in range(4):
            args = [os.path.join(self.build, "tools", "boxsim", "boxsim"), "--tcp", "0", "--race",
                    "--runners", str(runners), "--laps", str(laps), "--rate", str(self.rate),
                    "--loop", "--start-delay-ms", "0",
                    "--chip-table", os.path.join(self.work, "chips%d.dtb" % box)]
            if per_box > 0:
                args += ["--burst", str(per_box)]
            sim = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, preexec_fn=window_rig.die_with_parent)
            self.sims.append(sim)
            while True:
                line = sim.stdout.readline().decode()
                if not line:
                    raise window_rig.RigError("boxsim ended before listening")
                if line.startswith("listening on "):
                    ports.append(int(line.split()[2]))
                    break
        # The four simulators generate the same runners: one chip table serves them all.
        while not os.path.exists(os.path.join(self.work, "chips0.dtb")):
            time.sleep(0.05)
        shutil.copy(os.path.join(self.work, "chips0.dtb"), os.path.join(self.data,
                                                                          "ChipTable.dtb"))
        return ports

    def start_results(self):
        """The results software's simulator, for the direct connection; its events (connection,
        each request, the end of the connection) go to a file the direct step reads."""
        self.results = window_rig.spawn(
            [os.path.join(self.build, "tools", "resultsim", "resultsim"), "--port", "0",
             "--generate", "5000"], None, self.results_out)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            match = re.search(r"^listening on (\d+)", self.results_text(), re.MULTILINE)
            if match:
                self.results_port = int(match.group(1))
                return
            time.sleep(0.05)
        raise window_rig.RigError("resultsim did not listen")

    def results_text(self):
        with open(self.results_out, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def write_settings(self, ports):
        lines = ["[OstraBoxes]"]
        for box, port in enumerate(ports):
            lines += ["BoxHost%d=127.0.0.1" % box, "BoxPort%d=%d" % (box, port),
                      "BoxIdDetector%d=%d" % (box, 31 + box)]
        lines += ["[ExportDetectionLines]", "Delta=00:00:30", "ExportPath=" + self.export,
                  "GenericFilename=bench",
                  "[ExportDetectionLines.BackgroundExport]", "ExportPeriodMinutes=1", "BExport=1",
                  "[DirectConnection]", "Host=127.0.0.1", "Port=%d" % self.results_port,
                  "[Settings]", "GVarnexExportFile=" + self.export_all_file]
        with open(os.path.join(self.data, "Lapora.ini"), "w") as f:
            f.write("\r\n".join(lines) + "\r\n")

    def recorded(self):
        """Lines in this run's incoming-detections files (what the program has recorded)."""
        total = 0
        for path in glob.glob(os.path.join(self.data, "logfiles", "Lapora-*.dat")):
            offset, count = self.counted.get(path, (0, 0))
            with open(path, "rb") as f:
                f.seek(offset)
                chunk = f.read()
            count += chunk.count(b"\n")
            offset += len(chunk)
            self.counted[path] = (offset, count)
            total += count
        return total

    # --- the probe ------------------------------------------------------------------------------
    def report(self, label):
        self.probe.stdin.write("report %s\n" % label)
        self.probe.stdin.flush()
        while True:
            line = self.probe.stdout.readline()
            if not line:
                raise window_rig.RigError("the probe ended")
            if line.startswith("report "):
                fields = dict(f.split("=", 1) for f in line.split()[2:])
                return fields

    def step(self, name, action):
        if name not in self.steps:
            return
        self.say(name)
        self.report("before-" + name)
        action()
        fields = self.report(name)
        self.shot(name)
        self.rows.append((name, float(fields["max_ms"]), float(fields["p99_ms"]),
                          int(fields["pings"])))
        self.say("  longest stall %s ms, p99 %s ms" % (fields["max_ms"], fields["p99_ms"]))

    # --- operator's moves ----------------------------------------------------------------------
    def at(self, offset):
        return self.x.top_right_button(self.main, offset)

    def click(self, offset):
        self.x.click(*self.at(offset))

    def dialog_window(self, title, timeout=30):
        return self.x.wait_for(title, timeout, other_than=(self.main,), while_alive=self.lapora)

    def question(self, timeout=30):
        """The question box (it carries the main window's title)."""
        return self.dialog_window(TEXTS["main"], timeout)

    def settle(self, seconds=1.0):
        time.sleep(seconds)

    def run(self):
        x = self.x = window_rig.XServer(self.work)
        os.makedirs(self.data)
        os.makedirs(self.export)
        home = os.path.join(self.work, "home")
        os.makedirs(home)
        ports = self.start_boxes()
        self.start_results()
        self.write_settings(ports)
        env = x.program_env(home, LANGUAGE)
        self.lapora = window_rig.spawn([os.path.join(self.build, "lapora"), "--data-dir",
                                        self.data], env, os.path.join(self.work, "lapora.out"))
        self.main = x.wait_for(TEXTS["main"], 20, while_alive=self.lapora)
        config = x.wait_for(TEXTS["config"], 10, while_alive=self.lapora)
        x.key(config, "Escape")
        x.wait_gone(config, "the configuration dialog", 5)
        self.probe = subprocess.Popen(
            [os.path.join(self.build, "tools", "bench", "window_stall_probe"), "--interval-ms",
             "15", hex(self.main)], env=x.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            text=True, preexec_fn=window_rig.die_with_parent)
        if not self.probe.stdout.readline().startswith("probing"):
            raise window_rig.RigError("the probe did not start")

        self.say("Connect to boxes: %d detections from 4 boxes" % self.detections)
        self.report("start")
        self.click(CONNECT_FROM_TOP_RIGHT)
        self.counted = {}
        loading = time.monotonic()
        last = -1
        while True:
            count = self.recorded()
            if count >= self.detections:
                break
            if self.lapora.poll() is not None:
                raise window_rig.RigError("the program ended while loading")
            if time.monotonic() - loading > 1800:
                raise window_rig.RigError("only %d detections after 30 min" % count)
            if count // 100000 != last // 100000:
                self.say("  %d recorded" % count)
            last = count
            time.sleep(1)
        load_seconds = time.monotonic() - loading
        fields = self.report("loading")
        self.say("%d detections recorded in %.0f s (%.0f a second); longest stall while "
                 "loading %s ms" % (count, load_seconds, count / load_seconds, fields["max_ms"]))
        self.rows.append(("(loading %d in %.0f s)" % (count, load_seconds),
                          float(fields["max_ms"]), float(fields["p99_ms"]), int(fields["pings"])))
        # The window catches up with the backlog's list items and log lines before the steps
        # begin: until two seconds pass with no stall over 50 ms (at most a minute).
        catching = time.monotonic()
        longest = 0.0
        while time.monotonic() - catching < 60:
            time.sleep(2)
            fields = self.report("catch-up")
            if float(fields["max_ms"]) <= 50:
                break
            longest = max(longest, float(fields["max_ms"]))
        self.rows.append(("(catch-up: %.0f s)" % (time.monotonic() - catching), longest, 0.0, 0))

        self.step("idle", lambda: time.sleep(self.idle))
        self.step("config", self.config)
        self.step("manual", self.manual)
        self.step("export-all", self.export_all)
        self.step("export-dialog", self.export_dialog)
        self.step("filter", self.filter)
        self.step("export-now", self.export_now)
        if self.export_window is not None:
            x.key(self.export_window, "Escape")
            x.wait_gone(self.export_window, "the export dialog", 30)
        self.step("background-export", self.background_export)
        self.step("import-dialog", self.import_dialog)
        self.step("disconnect", self.disconnect)
        self.step("remove", self.remove)
        self.step("restore", self.restore)
        self.step("connect", self.connect)
        self.step("direct", self.direct)
        self.step("forget", self.forget)
        self.step("close", self.close)
        self.print_table()

    export_window = None
    closing = None
    removed = None

    # --- proofs ---------------------------------------------------------------------------------
    def log_mark(self):
        return os.path.getsize(self.log_path)

    def log_since(self, mark):
        with open(self.log_path, "rb") as f:
            f.seek(mark)
            return f.read().decode("cp1252", "replace")

    def wait_log(self, mark, text, what, count=1, timeout=30):
        """Waits until the log holds `count` lines with `text` after `mark`; fails loudly."""
        deadline = time.monotonic() + timeout
        while True:
            seen = self.log_since(mark).count(text)
            if seen >= count:
                return
            if time.monotonic() > deadline:
                raise window_rig.RigError("%s did not happen: %d of %d log lines \"%s\" after "
                                          "%.0f s" % (what, seen, count, text, timeout))
            time.sleep(0.1)

    def exports(self, prefix):
        """{path: mtime} of the export folder's files whose name starts with prefix."""
        return {p: os.path.getmtime(p) for p in glob.glob(os.path.join(self.export, prefix + "*"))}

    def shot(self, name):
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
            self.x.screenshot(os.path.join(self.shots, name + ".png"))

    def dialog_image(self, window, path):
        x, y, width, height = self.x.geometry(window)
        self.x.screenshot(path)
        subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                        "+repage", path], check=True)

    # --- operator's moves (each proves it happened) -------------------------------------------
    def escape(self, window, what):
        """Lets a dialog settle, closes it with Escape and waits until it is gone."""
        self.settle()
        self.x.key(window, "Escape")
        self.x.wait_gone(window, what, 30)
        self.settle()

    def config(self):
        self.click(CONFIG_FROM_TOP_RIGHT)
        self.escape(self.x.wait_for(TEXTS["config"], 30, while_alive=self.lapora),
                    "the configuration dialog")

    def manual(self):
        mark = self.log_mark()
        self.x.key(self.main, "F12")
        window = self.dialog_window(TEXTS["manual_entry"])
        self.x.type_text(window, "123")
        self.x.key(window, "Return")
        self.x.wait_gone(window, "the manual entry dialog", 30)
        self.wait_log(mark, LOG_MANUAL, "the manual entry")
        self.settle()

    def menu_entry(self, what):
        """Right click on the list's second line, the menu's first entry offered, then Yes (the
        menu's keys skip a greyed entry: Down takes remove, or restore once the line is
        removed)."""
        x, y, _, _ = self.x.geometry(self.main)
        self.x.focus(self.main)
        self.x._xdotool(["mousemove", str(x + DETECTION_LINE_FROM_TOP_LEFT[0]),
                         str(y + DETECTION_LINE_FROM_TOP_LEFT[1]), "click", "3"])
        time.sleep(0.5)
        self.x._xdotool(["key", "Down", "Return"])
        try:
            question = self.question(10)
        except window_rig.RigError:
            raise window_rig.RigError("%s: no question (the menu entry was not offered)" % what)
        self.x.key(question, "Return")  # Yes
        self.x.wait_gone(question, "the %s question" % what, 30)

    def recorded_lines(self):
        """Every detection recorded in this run's incoming files, without its number."""
        lines = []
        for path in sorted(glob.glob(os.path.join(self.data, "logfiles", "Lapora-*.dat"))):
            with open(path, "rb") as f:
                lines += [line.split(b"\t", 1)[1] for line in f.read().splitlines() if line]
        return lines

    def export_all_lines(self):
        with open(self.export_all_file, "rb") as f:
            return [line.split(b"\t", 1)[1] for line in f.read().splitlines() if line]

    def missing_from_export_all(self):
        """Export all (as the operator clicks it), then what it left out of the recorded
        detections. The boxes are disconnected: nothing is recorded meanwhile."""
        mark = self.log_mark()
        self.click(EXPORT_ALL_FROM_TOP_RIGHT)
        self.wait_log(mark, LOG_EXPORT_ALL, "export all")
        left = {}
        for line in self.export_all_lines():
            left[line] = left.get(line, 0) + 1
        missing = []
        for line in self.recorded_lines():
            if left.get(line, 0) > 0:
                left[line] -= 1
            else:
                missing.append(line)
        return missing

    def remove(self):
        self.menu_entry("remove")
        self.settle()
        self.removed = self.missing_from_export_all()
        if len(self.removed) != 1:
            raise window_rig.RigError("remove: %d detections missing from export all, not 1"
                                      % len(self.removed))

    def restore(self):
        self.menu_entry("restore")
        self.settle()
        missing = self.missing_from_export_all()
        if missing:
            raise window_rig.RigError("restore: %d detections still missing from export all"
                                      % len(missing))

    def export_all(self):
        mark = self.log_mark()
        self.click(EXPORT_ALL_FROM_TOP_RIGHT)
        self.wait_log(mark, LOG_EXPORT_ALL, "export all")
        self.settle(2)

    def export_dialog(self):
        position = self.at(BACKGROUND_FROM_TOP_RIGHT)
        self.x._xdotool(["mousemove", str(position[0]), str(position[1]), "click", "3"])
        time.sleep(0.5)
        self.x._xdotool(["key", "Down", "Return"])
        self.export_window = self.dialog_window(EXPORT_TITLE)
        self.settle(2)

    def dialog_at(self, offset):
        x, y, _, _ = self.x.geometry(self.export_window)
        return x + offset[0], y + offset[1]

    def filter(self):
        # The dialog opens with no rows; "Filtrer" fills them: its face changes.
        before = os.path.join(self.work, "filter-before.png")
        after = os.path.join(self.work, "filter-after.png")
        self.dialog_image(self.export_window, before)
        self.x.click(*self.dialog_at(FILTER_FROM_TOP_LEFT))
        self.settle(4)
        self.dialog_image(self.export_window, after)
        result = subprocess.run(["compare", "-metric", "AE", before, after, "null:"],
                                capture_output=True, text=True)
        changed = float((result.stderr.strip() or "0").split()[0])
        if changed < 1000:
            raise window_rig.RigError("filter: the export dialog did not change (%d pixels)"
                                      % changed)

    def export_now(self):
        # Under a name of its own, so that its files cannot be the background export's.
        self.x.click(*self.dialog_at(NAME_FROM_TOP_LEFT))
        self.x._xdotool(["key", "ctrl+a"])
        self.x._xdotool(["type", EXPORT_NOW_NAME])
        self.x.click(*self.dialog_at(EXPORT_NOW_FROM_TOP_LEFT))
        # It ends with a message over the dialog. Its progress dialog carries the same title:
        # the message is the window over the dialog once the files stopped changing.
        deadline = time.monotonic() + 120
        files, stable_since, message = None, time.monotonic(), None
        while message is None:
            now_files = self.exports(EXPORT_NOW_NAME)
            if now_files != files:
                files, stable_since = now_files, time.monotonic()
            over = [w for w in self.x.viewable(EXPORT_TITLE) if w != self.export_window]
            if files and over and time.monotonic() - stable_since > 1.5:
                message = over[0]
            elif time.monotonic() > deadline:
                raise window_rig.RigError("export now: no files and message after 120 s; "
                                          "windows: %s" % self.x.describe())
            else:
                time.sleep(0.1)
        self.shot("export-now-message")
        self.x.key(message, "Return")
        self.x.wait_gone(message, "the export message", 30)
        self.settle(2)

    def newest_export(self):
        times = self.exports("").values()
        return max(times) if times else 0.0

    def background_export(self):
        # The next run of the background export (period: one minute), then a few seconds for
        # it to end.
        before = self.newest_export()
        deadline = time.monotonic() + 150
        while self.newest_export() == before:
            if time.monotonic() > deadline:
                raise window_rig.RigError("background export: no file written in 150 s")
            time.sleep(0.2)
        self.settle(5)

    def import_dialog(self):
        self.click(IMPORT_FROM_TOP_RIGHT)
        self.escape(self.dialog_window(IMPORT_TITLE), "the import dialog")

    def disconnect(self):
        mark = self.log_mark()
        self.click(CONNECT_FROM_TOP_RIGHT)
        try:
            question = self.question(5)
            self.x.key(question, "Return")
            self.x.wait_gone(question, "the disconnect question", 30)
        except window_rig.RigError:
            pass  # no question asked
        self.wait_log(mark, LOG_DISCONNECT, "disconnect", count=4)
        self.settle(2)

    def connect(self):
        mark = self.log_mark()
        self.click(CONNECT_FROM_TOP_RIGHT)
        self.wait_log(mark, LOG_CONNECTED, "connect", timeout=60)
        self.settle(2)

    def direct(self):
        # On: the simulator sees a connection and requests; off: the connection ends.
        before = self.results_text()
        self.click(DIRECT_FROM_TOP_RIGHT)
        deadline = time.monotonic() + 30
        while "client connected" not in self.results_text()[len(before):]:
            if time.monotonic() > deadline:
                raise window_rig.RigError("direct: the results software saw no connection")
            time.sleep(0.1)
        self.settle(3)
        on = self.results_text()
        self.click(DIRECT_FROM_TOP_RIGHT)
        deadline = time.monotonic() + 30
        while not re.search(r"^(closed|client left|client error)", self.results_text()[len(on):],
                            re.MULTILINE):
            if time.monotonic() > deadline:
                raise window_rig.RigError("direct: the connection did not end when released")
            time.sleep(0.1)
        self.settle(2)

    def forget(self):
        mark = self.log_mark()
        self.click(FORGET_FROM_TOP_RIGHT)
        question = self.question(10)
        # The question's default is No: Tab to Yes is not needed, "y" is its accelerator in
        # neither language, so the left button is taken with the arrow keys.
        self.x.key(question, "Left")
        self.x.key(question, "Return")
        self.x.wait_gone(question, "the forget question", 30)
        self.wait_log(mark, LOG_RESET, "forget")
        self.settle(3)

    def close(self):
        # The window's end and the process's end are timed apart: what the operator sees is the
        # window; a process still freeing memory after that only matters to a restart.
        mark = self.log_mark()
        self.x.click(*self.x.exit_button(self.main), ctrl=True)
        clicked = time.monotonic()
        deadline = clicked + 60
        while self.x.is_viewable(self.main):
            if time.monotonic() > deadline:
                raise window_rig.RigError("the window still shows 60 s after Ctrl+click on Exit")
            time.sleep(0.02)
        hidden = time.monotonic()
        try:
            self.lapora.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise window_rig.RigError("the program still runs 60 s after Ctrl+click on Exit")
        ended = time.monotonic()
        self.wait_log(mark, LOG_EXIT, "close", timeout=1)
        self.say("  window gone %.2f s after the click, process ended %.2f s after that"
                 % (hidden - clicked, ended - hidden))
        self.closing = (hidden - clicked, ended - hidden)

    def print_table(self):
        print()
        print("%-28s %18s %10s %8s" % ("step", "longest stall ms", "p99 ms", "pings"))
        for name, longest, p99, pings in self.rows:
            flag = "  > 50 ms" if longest > 50 else ""
            print("%-28s %18.0f %10.0f %8d%s" % (name, longest, p99, pings, flag))
        if self.closing is not None:
            print("close: window gone %.2f s after the click; process ended %.2f s later"
                  % self.closing)
        sys.stdout.flush()

    def stop(self):
        if self.probe is not None:
            try:
                self.probe.stdin.close()
            except OSError:
                pass
            window_rig.stop(self.probe)
        window_rig.stop(self.lapora)
        for sim in self.sims:
            window_rig.stop(sim)
        window_rig.stop(self.results)
        if self.x is not None:
            self.x.close()


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: window_bench.py BUILD_DIR")
    build = os.path.abspath(sys.argv[1])
    if not os.path.exists(os.path.join(build, "tools", "bench", "window_stall_probe")):
        print("window bench: no window_stall_probe (libxcb1-dev missing?); skipped")
        return 0
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("window bench: terminated"))
    keep = os.environ.get("WINDOW_BENCH_KEEP")
    work = keep or tempfile.mkdtemp(prefix="lapora-window-bench-")
    os.makedirs(work, exist_ok=True)
    bench = Bench(build, work)
    try:
        bench.run()
    except window_rig.RigError as error:
        print("window bench FAILED: %s" % error, flush=True)
        bench.print_table()
        return 1
    finally:
        bench.stop()
        if not keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
