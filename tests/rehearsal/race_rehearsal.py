"""A race rehearsed end to end through the real program, with faults, and a ledger at the end.

Four simulated boxes (three over TCP, one on a pseudo-terminal) run one race; the results
software is simulated too, and the export goes to a real FTP server. The operator's commands go
through the headless console. The faults come while the race runs: a box drops its connection
and refuses the next one for 5 s, a box stalls 20 s, the results software is killed for 10 s,
the FTP server is down for the first export, every line of a box is written in two pieces.

The ledger is computed from what the simulators say they sent (their data, send and session
logs) and received, never from the program's own code: the test applies the repeat filter and
the unknown-chip rule itself, and computes the export files from the recorded detections.

usage: race_rehearsal.py BUILD_DIR WORK_DIR
Exit code 0 when every line of the ledger holds. Stdlib only.
"""

import collections
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from rehearsal_ledger import (UNKNOWN_CHIP_ALARM, Child, Ledger, SentReads,  # noqa: E402
                              hundredths, incoming, now_us, read_log, received, write_chip_table)

RUNNERS = 40  # below the 50 bibs a box remembers for its repeat filter: none is ever pushed out
LAPS = 8
SPREAD_SECONDS = 9
LAP_SECONDS = 11
IGNORE_MS = 50  # the repeat filter's delay (the program's default)
EXPORT_GAP_TEXT = "00:00:05.00"
EXPORT_GAP = 500  # hundredths
MANUAL_BIB = "9001"
FTP_USER, FTP_PASSWORD = "race", "day"


def unknown_bib(bib):
    """Chips of these runners are left out of the chip table: unknown chips, discarded."""
    return bib % 13 == 0


FTP_SCRIPT = r"""import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
root, host, user, password = sys.argv[1:5]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
server = FTPServer((host, 21), FTPHandler)
print("serving", flush=True)
server.serve_forever()
"""


class Rehearsal:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.data = os.path.join(work, "data")
        self.sims = os.path.join(work, "simulators")
        self.ftp_root = os.path.join(work, "ftp")
        for d in (self.data, self.sims, self.ftp_root):
            os.makedirs(d)
        self.children = []
        self.commands = []  # (unix µs, command)
        self.disconnects = []  # unix µs of the operator's disconnections of every box
        self.ledger = Ledger()
        # The program only speaks to FTP servers on the standard port: a loopback address of
        # our own keeps port 21 free of anyone else's. Binding it needs the privilege.
        self.ftp_host = "127.%d.%d.%d" % (random.randint(64, 250), random.randint(1, 250),
                                          random.randint(1, 250))
        self.ftp_possible = os.geteuid() == 0

    # ---- processes

    def spawn(self, name, args, **kwargs):
        child = Child(name, args, self.sims, **kwargs)
        self.children.append(child)
        return child

    def start_boxes(self):
        race = ["--race", "--runners", str(RUNNERS), "--chips-per-runner", "2",
                "--reads-per-crossing", "2", "--spread", str(SPREAD_SECONDS), "--laps", str(LAPS),
                "--lap-seconds", str(LAP_SECONDS), "--realtime", "--loop"]
        faults = {
            1: ["--split-writes"],  # every line arrives as two halves
            2: ["--drop-after", "300", "--drops", "1", "--refuse-seconds", "5"],
            3: ["--stall-after", "150", "--stall-seconds", "20"],
            4: [],
        }
        self.boxes = {}
        for n in range(1, 5):
            files = ["--data-file", self.sim_file(n, "data"), "--send-log",
                     self.sim_file(n, "send"), "--session-log", self.sim_file(n, "session")]
            transport = ["--pty"] if n == 4 else ["--tcp", "0"]
            extra = ["--chip-table", os.path.join(self.sims, "race-chips.txt")] if n == 1 else []
            self.boxes[n] = self.spawn("box%d" % n, [
                os.path.join(self.build, "tools/boxsim/boxsim"), *transport, "--device-id",
                str(56 + n), *race, *files, *faults[n], *extra])
        self.box_address = {}
        for n in range(1, 4):
            self.box_address[n] = self.boxes[n].wait_for(r"^listening on (\d+)").group(1)
        self.box_address[4] = self.boxes[4].wait_for(r"^pty (\S+)").group(1)
        self.boxes[1].wait_for(r"^chip table ")

    def sim_file(self, box, kind):
        return os.path.join(self.sims, "box%d-%s.txt" % (box, kind))

    def start_results(self, run):
        args = [os.path.join(self.build, "tools/resultsim/resultsim"), "--port",
                str(getattr(self, "results_port", 0)), "--bind", "127.0.0.1", "--quiet",
                "--generate", str(RUNNERS), "--detectors", "31,32,33,34", "--log",
                os.path.join(self.sims, "results-%d.log" % run)]
        child = self.spawn("results%d" % run, args)
        self.results_port = child.wait_for(r"^listening on (\d+)").group(1)
        return child

    def start_ftp(self):
        script = os.path.join(self.sims, "ftpd.py")
        with open(script, "w") as f:
            f.write(FTP_SCRIPT)
        self.ftp = self.spawn("ftp", ["/usr/bin/python3", script, self.ftp_root, self.ftp_host,
                                      FTP_USER, FTP_PASSWORD])
        self.ftp.wait_for(r"^serving")

    def write_settings(self):
        self.chips = write_chip_table(os.path.join(self.sims, "race-chips.txt"),
                                      os.path.join(self.data, "ChipTable.dtb"), unknown_bib)
        lines = ["[Settings]", "GVarnexIgnoreInputMsDelta=%d" % IGNORE_MS,
                 "GVarnexIgnoreUnknownTags=1", "[OstraBoxes]"]
        for n in range(1, 5):
            lines += ["BoxHost%d=%s" % (n - 1, "127.0.0.1" if n < 4 else self.box_address[n]),
                      "BoxPort%d=%s" % (n - 1, self.box_address[n] if n < 4 else "9600"),
                      "BoxIdDetector%d=%d" % (n - 1, 30 + n)]
        lines += ["[DirectConnection]", "Host=127.0.0.1", "Port=%s" % self.results_port,
                  "ReconnectSeconds=2",
                  "[ExportDetectionLines]", "Delta=" + EXPORT_GAP_TEXT,
                  "ExportPath=" + os.path.join(self.work, "export"), "GenericFilename=race",
                  "BFtpExport=1", "BZip=1", "DisplayDetectionType=0",
                  "FtpServersList=rehearsal"]
        with open(os.path.join(self.data, "Lapora.ini"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in lines))
        with open(os.path.join(self.data, "FtpServers.dat"), "w", newline="") as f:
            f.write("rehearsal\t%s\t%s\t%s\t/\r\n" % (self.ftp_host, FTP_USER, FTP_PASSWORD))

    def start_program(self):
        env = {"PATH": "/usr/bin:/bin", "HOME": self.work, "SDL_AUDIODRIVER": "dummy",
               "LAPORA_SPEECH": "0", "LANG": "C.UTF-8"}
        self.program = self.spawn("lapora", [
            os.path.join(self.build, "lapora"), "--headless", "--data-dir", self.data,
            "--direct"], stdin=subprocess.PIPE, env=env)
        self.statuses = 0

    def type(self, command, sync=True):
        """Types a command; with sync, waits until the console has handled it."""
        self.commands.append((now_us(), command))
        print("[%6.1f s] > %s" % (time.monotonic() - self.t0, command), flush=True)
        self.program.proc.stdin.write((command + "\n").encode())
        self.program.proc.stdin.flush()
        if sync and command != "quit":
            self.program.proc.stdin.write(b"status\n")
            self.program.proc.stdin.flush()
            self.statuses += 1
            self.program.wait_for(r"^counter: ", timeout=60, count=self.statuses)

    def boxes_button(self, connected):
        """Brings "Connect to boxes" to the wanted state, as the operator who looks at it."""
        self.type("status")
        states = re.findall(r"^connect to boxes: (\w+)", self.program.text(), re.M)
        if (states[-1] == "pressed") != connected:
            if not connected:
                self.disconnects.append(now_us())
            self.type("connect")

    def until(self, seconds):
        """Sleeps until that many seconds after the race's connection."""
        delay = self.t0 + seconds - time.monotonic()
        if delay > 0:
            time.sleep(delay)

    # ---- the race

    def run(self):
        self.start_boxes()
        results1 = self.start_results(1)
        self.write_settings()
        self.start_program()
        results1.wait_for(r"^client connected .* at (\d+)")
        # Box 2 refuses connections for its first 5 s too: connect once it takes them.
        self.boxes[2].wait_for(r"^accepting connections")
        self.t0 = time.monotonic()
        self.type("connect")
        self.until(3)
        self.manual_at = now_us()
        stamp = time.strftime("%H:%M:%S", time.localtime())
        self.type("insert %s %s.50 31" % (MANUAL_BIB, stamp))
        self.manual_id = int(self.program.wait_for(r"^inserted: id (\d+)").group(1))
        self.until(8)
        self.results_killed = now_us()
        print("[%6.1f s] results software killed" % (time.monotonic() - self.t0), flush=True)
        results1.stop(signal.SIGKILL)
        self.until(18)
        results2 = self.start_results(2)
        # Nobody presses anything: the program makes the direct connection again by itself.
        self.results_back = int(results2.wait_for(r"^client connected .* at (\d+)",
                                                  timeout=30).group(1))
        self.until(24)
        self.type("remove %d 3" % self.manual_id)
        self.type("restore 3")
        self.until(30)
        self.type("export")  # the FTP server is not up yet
        self.until(34)
        self.boxes_button(False)  # disconnect all
        self.until(38)
        self.type("box 1 connect")  # one box from its menu, the others still disconnected
        self.until(44)
        self.boxes_button(True)  # every box again
        self.until(50)
        self.boxes_button(False)  # disconnect all, and soon connect again
        self.until(53)
        self.boxes_button(True)
        if self.ftp_possible:
            self.start_ftp()
        # The end of the race: every box has sent everything.
        for n in range(1, 5):
            self.boxes[n].wait_for(r"^race done", timeout=max(10, self.t0 + 150 -
                                                              time.monotonic()))
        time.sleep(1.5)
        self.type("export-all")
        self.type("export")
        if self.ftp_possible:
            self.wait_for_upload()
        self.type("status")
        self.type("quit")
        code = self.program.proc.wait(60)
        if code != 0:
            raise RuntimeError("the program ended with %s" % code)
        for child in self.children:
            child.stop()

    def wait_for_upload(self):
        deadline = time.monotonic() + 30
        target = os.path.join(self.ftp_root, "race.zip")
        while time.monotonic() < deadline:
            log = read_log(self.data)
            if os.path.exists(target) and log.count("race.zip") >= 4:
                break
            time.sleep(0.2)
        time.sleep(1.0)  # let the worker write its last notification

    # ---- the ledger

    def build_ledger(self):
        sent = SentReads([(n, 30 + n, self.sim_file(n, "data"), self.sim_file(n, "send"),
                           self.sim_file(n, "session")) for n in range(1, 5)],
                         self.chips, IGNORE_MS, self.disconnects)
        records = incoming(self.data)
        self.ledger.reads(sent, records, {MANUAL_BIB: "31"}, "four", in_flight_limit=40)
        # Those recorded while the results software was away are sent once it is back; a kill
        # loses what its system had acknowledged and it had not read yet.
        got = received(os.path.join(self.sims, "results-%d.log" % run) for run in (1, 2))
        self.ledger.results(sent, records, got, {MANUAL_BIB: self.manual_at},
                            [(self.results_killed - 1_000_000, self.results_back + 1_000_000)],
                            caught_up=(10, "lost with the killed results software"))

        # The exports, from the recorded detections that were not removed.
        valid = [r for r in records if int(r[0]) != self.manual_id]
        self.ledger.check("removed by the operator (manual entry), id %d" % self.manual_id,
                          len(records) - len(valid), "line %d holds bib %s" % (
                              self.manual_id, records[self.manual_id - 1][2]),
                          records[self.manual_id - 1][2] == MANUAL_BIB)
        self.check_export_all(valid)
        self.check_export_files(valid)
        self.ledger.log(read_log(self.data), LOG_ALARMS)

    def check_export_all(self, valid):
        found = []
        for root, _, names in os.walk(self.work):
            found += [os.path.join(root, n) for n in names if n == "Lapora.kol"]
        lines = []
        if found:
            with open(found[0], "rb") as f:
                lines = [tuple(x.split("\t")) for x in f.read().decode("cp1252").splitlines()]
        want = [(str(i + 1),) + r[1:] for i, r in enumerate(valid)]
        self.ledger.check("export-all: every valid detection, in order", len(lines),
                          found[0] if found else "no Lapora.kol", lines == want)

    def check_export_files(self, valid):
        expected = {}
        by_detector = collections.defaultdict(lambda: collections.defaultdict(list))
        for r in valid:
            by_detector[r[1]][int(r[2])].append(r)
        for detector, runners in by_detector.items():
            for runner in runners.values():
                runner.sort(key=lambda r: hundredths(r[4]))
                kept = [runner[0]] + [b for a, b in zip(runner, runner[1:])
                                      if hundredths(b[4]) > hundredths(a[4]) + EXPORT_GAP]
                for n, r in enumerate(kept, 1):
                    expected.setdefault("race-%s-%d.kol" % (detector, n), []).append(r)
        for name, rows in expected.items():
            rows.sort(key=lambda r: (hundredths(r[4]), r[2]))
            expected[name] = [(str(i + 1),) + r[1:] for i, r in enumerate(rows)]
        archive = os.path.join(self.work, "export", "race.zip")
        files = {}
        if os.path.exists(archive):
            with zipfile.ZipFile(archive) as z:
                for name in z.namelist():
                    files[name] = [tuple(x.split("\t")) for x in
                                   z.read(name).decode("cp1252").splitlines()]
        same = sorted(files) == sorted(expected) and all(files[k] == expected[k] for k in files)
        self.ledger.check("export: files per detector and passage, as computed", len(files),
                          "%d lines; %d files computed" % (sum(map(len, files.values())),
                                                           len(expected)), same)
        if not self.ftp_possible:
            self.ledger.check("FTP: last export on the server", 0,
                              "not checked: port 21 needs root", True)
            return
        remote = os.path.join(self.ftp_root, "race.zip")
        whole = os.path.exists(remote) and open(remote, "rb").read() == open(archive, "rb").read()
        leftovers = [n for n in os.listdir(self.ftp_root) if n != "race.zip"]
        self.ledger.check("FTP: last export on the server, whole", 1 if whole else 0,
                          "leftovers: %s" % (leftovers or "none"), whole and not leftovers)


# The alarms the faults of the rehearsal cause, each with the text that tells it.
# Both build languages. Box 2 is the only box whose connection fails; box 3 stalls long enough
# to be reported silent.
LOG_ALARMS = [
    UNKNOWN_CHIP_ALARM,
    ("results software lost (killed)",
     r"######## (Perte de connexion directe|Direct connection to .* lost)"),
    ("box 2 dropped its connection",
     r"## \S* ?(Boîtier|Box) 2 .*: (Erreur de réception boîtier|Box reception failed)$"),
    ("box 2 refused the reconnection",
     r"## (Boîtier|Box) 2 .*: (Erreur de connexion sur|Cannot connect on) .*: Unable to Connect$"),
    ("box 3 silent during its stall",
     r"## \S* ?(Boîtier|Box) 3 .*: (Aucune donnée du boîtier depuis|No data from the box for) "),
]


def main():
    build, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    rehearsal = Rehearsal(build, work)
    started = time.monotonic()
    try:
        rehearsal.run()
    finally:
        for child in rehearsal.children:
            child.stop(signal.SIGKILL, timeout=5)
    rehearsal.build_ledger()
    ok = rehearsal.ledger.print_table("Race rehearsal ledger")
    print("\nrehearsal took %.0f s; files in %s" % (time.monotonic() - started, work))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
