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
import io
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
import zipfile

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


def now_us():
    return int(time.time() * 1_000_000)


class Child:
    """A child process whose standard output goes to a file that the test reads as it grows."""

    def __init__(self, name, args, work, stdin=None, env=None):
        self.name = name
        self.out_path = os.path.join(work, name + ".out")
        self.out = open(self.out_path, "wb")
        self.proc = subprocess.Popen(args, stdin=stdin, stdout=self.out, stderr=subprocess.STDOUT,
                                     env=env, start_new_session=True)

    def text(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_for(self, pattern, timeout=20.0, count=1):
        """The match of the count-th line matching the pattern, waiting for it."""
        deadline = time.monotonic() + timeout
        while True:
            found = list(re.finditer(pattern, self.text(), re.M))
            if len(found) >= count:
                return found[count - 1]
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise RuntimeError("%s: no %r; its output ends with:\n%s" %
                                   (self.name, pattern, self.text()[-3000:]))
            time.sleep(0.05)

    def stop(self, sig=signal.SIGTERM, timeout=10.0):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()


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
        self.ledger = []  # (check, count, detail, ok)
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
        # The chip table leaves some runners out: their reads are unknown chips.
        table = []
        with open(os.path.join(self.sims, "race-chips.txt")) as f:
            for line in f:
                bib, chip = line.split()
                if not unknown_bib(int(bib)):
                    table.append("%s %s\r\n" % (bib, chip))
                    self.chips[chip.upper()] = bib
        with open(os.path.join(self.data, "ChipTable.dtb"), "w", newline="") as f:
            f.write("".join(table))
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
        self.chips = {}
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
        self.type("direct on")  # a lost direct connection waits for the operator
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
            log = self.read_log()
            if os.path.exists(target) and log.count("race.zip") >= 4:
                break
            time.sleep(0.2)
        time.sleep(1.0)  # let the worker write its last notification

    def read_log(self):
        path = os.path.join(self.data, "logfiles", "Lapora.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("cp1252", "replace")

    # ---- the ledger

    def check(self, what, count, detail, ok):
        self.ledger.append((what, count, detail, ok))

    def sent_reads(self, n):
        """[(send µs, session index, detection text)] of box n, in sending order."""
        with open(self.sim_file(n, "data")) as f:
            texts = [line.rstrip("\n") for line in f if line.strip()]
        with open(self.sim_file(n, "send")) as f:
            stamps = [int(line.split(" ", 1)[0]) for line in f if line.strip()]
        sessions = []  # (connected at reads, ended at reads, end µs, end reason)
        with open(self.sim_file(n, "session")) as f:
            for line in f:
                stamp, what, count, rest = (line.rstrip("\n").split(" ", 3) + [""])[:4]
                if what == "connected":
                    sessions.append([int(count), None, None, None])
                elif sessions:
                    sessions[-1][1:] = [int(count), int(stamp), rest]
        reads = []
        for i, text in enumerate(texts):
            index = next((k for k, s in enumerate(sessions)
                          if s[0] <= i and (s[1] is None or i < s[1])), -1)
            reads.append((stamps[i] if i < len(stamps) else 0, index, text))
        return reads, sessions

    def expected_records(self):
        """Per box: the reads the program must record, and those it must discard."""
        expected = []  # (detector, bib, time text, send µs, box, in flight at a disconnect)
        self.discarded_repeats = 0
        self.discarded_unknown = 0
        self.total_reads = 0
        for n in range(1, 5):
            reads, sessions = self.sent_reads(n)
            self.total_reads += len(reads)
            last = {}
            session = None
            for stamp, index, text in reads:
                if index != session:
                    last = {}  # every new connection starts with an empty memory
                    session = index
                day, rest = text.split("_", 1)
                clock, chip = rest.split(",", 1)
                bib = self.chips.get(chip.upper())
                if bib is None:
                    self.discarded_unknown += 1
                    continue
                h, m, s = clock.split(":")
                absolute = (day, (int(h) * 3600 + int(m) * 60) * 1000 + round(float(s) * 1000))
                previous = last.get(bib)
                last[bib] = absolute
                if previous is not None and previous[0] == absolute[0] and \
                        0 <= absolute[1] - previous[1] < IGNORE_MS:
                    self.discarded_repeats += 1
                    continue
                millis = absolute[1]
                time_text = "%02d:%02d:%02d.%02d" % (millis // 3600000, millis // 60000 % 60,
                                                     millis // 1000 % 60, millis % 1000 // 10)
                ended = sessions[index][2] if index >= 0 else None
                in_flight = ended is not None and any(
                    d - 500_000 <= stamp and ended - 3_000_000 <= d <= ended
                    for d in self.disconnects)
                expected.append((str(30 + n), bib, time_text, stamp, n, in_flight))
        return expected

    def incoming(self):
        records = []
        folder = os.path.join(self.data, "logfiles")
        for name in sorted(os.listdir(folder)):
            if name.endswith(".dat"):
                with open(os.path.join(folder, name), "rb") as f:
                    for line in f.read().decode("cp1252").splitlines():
                        if line:
                            records.append(tuple(line.split("\t")))
        return records

    def received(self):
        got = collections.Counter()
        for run in (1, 2):
            with open(os.path.join(self.sims, "results-%d.log" % run), "rb") as f:
                for line in f.read().decode("cp1252").splitlines():
                    m = re.match(r"\d+ AddKolClock\(1\\t([^\\]*)\\t([^\\]*)\\t1\\t([^)]*)\)",
                                 line)
                    if m:
                        got[m.groups()] += 1
        return got

    def build_ledger(self):
        expected = self.expected_records()
        records = self.incoming()
        recorded = collections.Counter((r[1], r[2], r[4]) for r in records)
        keys = collections.Counter((e[0], e[1], e[2]) for e in expected)

        # 1. Every read: recorded exactly once, or discarded by the rules.
        once = sum(1 for e in expected if recorded[e[:3]] == 1)
        twice = [e for e in expected if recorded[e[:3]] > 1]
        in_flight = [e for e in expected if recorded[e[:3]] == 0 and e[5]]
        lost = [e for e in expected if recorded[e[:3]] == 0 and not e[5]]
        self.check("reads sent by the four boxes", self.total_reads, "", True)
        self.check("  discarded: repeat within %d ms at the same box" % IGNORE_MS,
                   self.discarded_repeats, "computed by the test", True)
        self.check("  discarded: unknown chip", self.discarded_unknown, "computed by the test",
                   True)
        self.check("  recorded exactly once", once, "", True)
        self.check("  in flight when the operator disconnected", len(in_flight),
                   "not read; no gap recovery yet", len(in_flight) <= 40)
        self.check("  LOST (sent, never recorded)", len(lost), self.sample(lost), not lost)
        self.check("  recorded more than once", len(twice), self.sample(twice), not twice)
        manual = [r for r in records if r[2] == MANUAL_BIB]
        phantom = [r for r in records if keys[(r[1], r[2], r[4])] == 0 and r[2] != MANUAL_BIB]
        self.check("manual entries recorded", len(manual), "typed once", len(manual) == 1)
        self.check("recorded, never sent by a box", len(phantom), self.sample(phantom),
                   not phantom)
        numbers = [int(r[0]) for r in records]
        self.check("incoming-file lines numbered 1..N in order", len(numbers), "",
                   numbers == list(range(1, len(numbers) + 1)))

        # 2. The results software: every recorded detection exactly once, except those recorded
        # while the direct connection was down (no catch-up yet).
        got = self.received()
        manual_at = {MANUAL_BIB: self.manual_at}
        stamps = {e[:3]: e[3] for e in expected}
        down_from, down_to = self.results_killed - 1_000_000, self.results_back + 1_000_000
        sent_once, down, missing, dup = 0, [], [], []
        for r in records:
            key = (r[1], r[2], r[4])
            stamp = stamps.get(key, manual_at.get(r[2], 0))
            if got[key] == 1:
                sent_once += 1
            elif got[key] > 1:
                dup.append(r)
            elif down_from <= stamp <= down_to:
                down.append(r)
            else:
                missing.append(r)
        stray = [k for k in got if recorded[k] == 0]
        self.check("results software: received exactly once", sent_once, "", True)
        self.check("  recorded while the direct connection was down", len(down),
                   "not sent, no catch-up yet", True)
        self.check("  recorded, connection up, NOT received", len(missing), self.sample(missing),
                   not missing)
        self.check("  received more than once", len(dup), self.sample(dup), not dup)
        self.check("  received, never recorded", len(stray), self.sample(stray), not stray)

        # 3. The exports, from the recorded detections that were not removed.
        valid = [r for r in records if int(r[0]) != self.manual_id]
        self.check("removed by the operator (manual entry), id %d" % self.manual_id,
                   len(records) - len(valid), "line %d holds bib %s" % (
                       self.manual_id, records[self.manual_id - 1][2]),
                   records[self.manual_id - 1][2] == MANUAL_BIB)
        self.check_export_all(valid)
        self.check_export_files(valid)
        self.check_log()

    def check_export_all(self, valid):
        found = []
        for root, _, names in os.walk(self.work):
            found += [os.path.join(root, n) for n in names if n == "Lapora.kol"]
        lines = []
        if found:
            with open(found[0], "rb") as f:
                lines = [tuple(x.split("\t")) for x in f.read().decode("cp1252").splitlines()]
        want = [(str(i + 1),) + r[1:] for i, r in enumerate(valid)]
        self.check("export-all: every valid detection, in order", len(lines),
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
        self.check("export: files per detector and passage, as computed", len(files),
                   "%d lines; %d files computed" % (sum(map(len, files.values())), len(expected)),
                   same)
        if not self.ftp_possible:
            self.check("FTP: last export on the server", 0, "not checked: port 21 needs root",
                       True)
            return
        remote = os.path.join(self.ftp_root, "race.zip")
        whole = os.path.exists(remote) and open(remote, "rb").read() == open(archive, "rb").read()
        leftovers = [n for n in os.listdir(self.ftp_root) if n != "race.zip"]
        self.check("FTP: last export on the server, whole", 1 if whole else 0,
                   "leftovers: %s" % (leftovers or "none"), whole and not leftovers)

    def check_log(self):
        allowed = collections.Counter({reason: 0 for reason, _ in LOG_ALARMS})
        unexpected = []
        for line in self.read_log().splitlines():
            if "##" not in line:
                continue
            reason = next((k for k, p in LOG_ALARMS if re.search(p, line)), None)
            if reason:
                allowed[reason] += 1
            else:
                unexpected.append(line)
        for reason, count in sorted(allowed.items()):
            self.check("log: '##' line, " + reason, count, "expected from the faults", count > 0)
        self.check("log: unexpected '##' lines", len(unexpected), self.sample(unexpected),
                   not unexpected)

    @staticmethod
    def sample(items):
        return "; ".join(str(x) for x in list(items)[:3])

    def print_ledger(self):
        width = max(len(x[0]) for x in self.ledger)
        print("\nRace rehearsal ledger")
        print("%-*s  %7s  %-4s  %s" % (width, "check", "count", "", "detail"))
        print("-" * (width + 40))
        for what, count, detail, ok in self.ledger:
            print("%-*s  %7d  %-4s  %s" % (width, what, count, "ok" if ok else "FAIL", detail))
        return all(x[3] for x in self.ledger)


# The alarms the faults of the rehearsal cause, each with the text that tells it.
# Both build languages. Box 2 is the only box whose connection fails.
LOG_ALARMS = [
    ("unknown chip discarded", r"## (Puce inconnue|Unknown chip) \["),
    ("results software lost (killed)",
     r"######## (Perte de connexion directe|Direct connection to .* lost)"),
    ("box 2 dropped its connection",
     r"## \S* ?(Boîtier|Box) 2 .*: (Erreur de réception boîtier|Box reception failed)$"),
    ("box 2 refused the reconnection",
     r"## (Boîtier|Box) 2 .*: (Erreur de connexion sur|Cannot connect on) .*: Unable to Connect$"),
]


def hundredths(text):
    h, m, s = text.split(":")
    return (int(h) * 3600 + int(m) * 60) * 100 + round(float(s) * 100)


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
    ok = rehearsal.print_ledger()
    print("\nrehearsal took %.0f s; files in %s" % (time.monotonic() - started, work))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
