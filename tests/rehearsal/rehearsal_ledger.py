"""What the rehearsals share: their simulator processes and the ledger of every read.

The ledger is computed from what the simulators say they sent (their data, send and session
logs) and received, never from the program's own code: the test applies the repeat filter and
the unknown-chip rule itself. Stdlib only.
"""

import collections
import os
import re
import signal
import subprocess
import time


def now_us():
    return int(time.time() * 1_000_000)


class Child:
    """A child process whose standard output goes to a file that the test reads as it grows."""

    def __init__(self, name, args, work, stdin=None, env=None, preexec_fn=None):
        self.name = name
        self.out_path = os.path.join(work, name + ".out")
        self.out = open(self.out_path, "wb")
        self.proc = subprocess.Popen(args, stdin=stdin, stdout=self.out, stderr=subprocess.STDOUT,
                                     env=env, start_new_session=True, preexec_fn=preexec_fn)

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


def write_chip_table(generated, target, unknown_bib):
    """Copies the table a box generated into the program's chip table, leaving out the runners
    for whom unknown_bib(bib) holds: their reads are unknown chips. Returns {CHIP: bib}."""
    chips = {}
    table = []
    with open(generated) as f:
        for line in f:
            bib, chip = line.split()
            if not unknown_bib(int(bib)):
                table.append("%s %s\r\n" % (bib, chip))
                chips[chip.upper()] = bib
    with open(target, "w", newline="") as f:
        f.write("".join(table))
    return chips


def sent_reads(data_file, send_log, session_log):
    """What one box sent: [(send µs, session index, detection text)] in sending order, and its
    sessions as [connected at reads, ended at reads, end µs, end reason]."""
    with open(data_file) as f:
        texts = [line.rstrip("\n") for line in f if line.strip()]
    with open(send_log) as f:
        stamps = [int(line.split(" ", 1)[0]) for line in f if line.strip()]
    sessions = []
    with open(session_log) as f:
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


class SentReads:
    """The reads of every box, sorted by the rules into those the program must record and those
    it must discard.

    boxes: [(box number, detector, data file, send log, session log)]; disconnects: unix µs of
    the operator's disconnections of every box, which may cut off reads already written.
    """

    def __init__(self, boxes, chips, ignore_ms, disconnects):
        self.expected = []  # (detector, bib, time text, send µs, box, in flight at a disconnect)
        self.total = 0
        self.by_connection = collections.Counter()  # reads per connection index, all boxes
        self.repeats = 0
        self.unknown = 0
        for n, detector, data_file, send_log, session_log in boxes:
            reads, sessions = sent_reads(data_file, send_log, session_log)
            self.total += len(reads)
            last = {}
            session = None
            for stamp, index, text in reads:
                self.by_connection[index] += 1
                if index != session:
                    last = {}  # every new connection starts with an empty memory
                    session = index
                day, rest = text.split("_", 1)
                clock, chip = rest.split(",", 1)
                bib = chips.get(chip.upper())
                if bib is None:
                    self.unknown += 1
                    continue
                h, m, s = clock.split(":")
                absolute = (day, (int(h) * 3600 + int(m) * 60) * 1000 + round(float(s) * 1000))
                previous = last.get(bib)
                last[bib] = absolute
                if previous is not None and previous[0] == absolute[0] and \
                        0 <= absolute[1] - previous[1] < ignore_ms:
                    self.repeats += 1
                    continue
                millis = absolute[1]
                time_text = "%02d:%02d:%02d.%02d" % (millis // 3600000, millis // 60000 % 60,
                                                     millis // 1000 % 60, millis % 1000 // 10)
                ended = sessions[index][2] if index >= 0 else None
                in_flight = ended is not None and any(
                    d - 500_000 <= stamp and ended - 3_000_000 <= d <= ended for d in disconnects)
                self.expected.append((str(detector), bib, time_text, stamp, n, in_flight))


def incoming(data_dir):
    """The records of the incoming files, in file order, as tuples of their fields."""
    records = []
    folder = os.path.join(data_dir, "logfiles")
    for name in sorted(os.listdir(folder)):
        if name.endswith(".dat"):
            with open(os.path.join(folder, name), "rb") as f:
                for line in f.read().decode("cp1252").splitlines():
                    if line:
                        records.append(tuple(line.split("\t")))
    return records


def received(logs):
    """Counter of (detector, bib, time) the results software received, over its receive logs."""
    got = collections.Counter()
    for path in logs:
        with open(path, "rb") as f:
            for line in f.read().decode("cp1252").splitlines():
                m = re.match(r"\d+ AddKolClock\(1\\t([^\\]*)\\t([^\\]*)\\t1\\t([^)]*)\)", line)
                if m:
                    got[m.groups()] += 1
    return got


def read_log(data_dir):
    path = os.path.join(data_dir, "logfiles", "Lapora.log")
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode("cp1252", "replace")


def record_key(record):
    return (record[1], record[2], record[4])


def hundredths(text):
    h, m, s = text.split(":")
    return (int(h) * 3600 + int(m) * 60) * 100 + round(float(s) * 100)


class Ledger:
    """Rows of (check, count, detail, ok), printed as a table at the end of a run."""

    def __init__(self):
        self.rows = []

    def check(self, what, count, detail, ok):
        self.rows.append((what, count, detail, ok))

    @staticmethod
    def sample(items):
        return "; ".join(str(x) for x in list(items)[:3])

    def reads(self, sent, records, manual, box_count, in_flight_limit):
        """Every read recorded exactly once or discarded by the rules; the manual entries
        ({bib: detector}) recorded once each; the incoming lines numbered in order."""
        recorded = collections.Counter(record_key(r) for r in records)
        keys = collections.Counter(e[:3] for e in sent.expected)
        once = sum(1 for e in sent.expected if recorded[e[:3]] == 1)
        twice = [e for e in sent.expected if recorded[e[:3]] > 1]
        in_flight = [e for e in sent.expected if recorded[e[:3]] == 0 and e[5]]
        lost = [e for e in sent.expected if recorded[e[:3]] == 0 and not e[5]]
        self.check("reads sent by the %s boxes" % box_count, sent.total, "", sent.total > 0)
        self.check("  discarded: repeat at the same box", sent.repeats, "computed by the test",
                   True)
        self.check("  discarded: unknown chip", sent.unknown, "computed by the test", True)
        self.check("  recorded exactly once", once, "", once > 0)
        self.check("  in flight when the operator disconnected", len(in_flight),
                   "not read; no gap recovery yet", len(in_flight) <= in_flight_limit)
        self.check("  LOST (sent, never recorded)", len(lost), self.sample(lost), not lost)
        self.check("  recorded more than once", len(twice), self.sample(twice), not twice)
        for bib, detector in sorted(manual.items()):
            found = [r for r in records if r[2] == bib]
            self.check("manual entry %s recorded" % bib, len(found),
                       "detector %s" % ", ".join(r[1] for r in found) if found else "",
                       len(found) == 1 and found[0][1] == detector)
        phantom = [r for r in records if keys[record_key(r)] == 0 and r[2] not in manual]
        self.check("recorded, never sent by a box", len(phantom), self.sample(phantom),
                   not phantom)
        numbers = [int(r[0]) for r in records]
        self.check("incoming-file lines numbered 1..N in order", len(numbers), "",
                   numbers == list(range(1, len(numbers) + 1)))

    def results(self, sent, records, got, manual_at, down, caught_up=None):
        """Every recorded detection received exactly once by the results software, except those
        recorded while its connection was down (down: [(from µs, to µs)]), which are not sent.
        With caught_up = (limit, detail) the program sends those too once the connection is
        back: at most `limit` of them may be missing, for the reason given in detail.
        manual_at: {bib: µs} of the manual entries."""
        recorded = collections.Counter(record_key(r) for r in records)
        stamps = {e[:3]: e[3] for e in sent.expected}
        sent_once, late, missed, missing, dup = 0, 0, [], [], []
        for r in records:
            key = record_key(r)
            stamp = stamps.get(key, manual_at.get(r[2], 0))
            while_down = any(start <= stamp <= end for start, end in down)
            if got[key] == 1:
                sent_once += 1
                late += 1 if while_down else 0
            elif got[key] > 1:
                dup.append(r)
            elif while_down:
                missed.append(r)
            else:
                missing.append(r)
        stray = [k for k in got if recorded[k] == 0]
        self.check("results software: received exactly once", sent_once, "", sent_once > 0)
        if caught_up is None:
            self.check("  recorded while the direct connection was down", len(missed),
                       "not sent", True)
        else:
            limit, detail = caught_up
            self.check("  of them recorded while it was away", late, "sent once it was back",
                       late > 0)
            self.check("  recorded while it was away, NOT received", len(missed), detail,
                       len(missed) <= limit)
        self.check("  recorded, connection up, NOT received", len(missing), self.sample(missing),
                   not missing)
        self.check("  received more than once", len(dup), self.sample(dup), not dup)
        self.check("  received, never recorded", len(stray), self.sample(stray), not stray)

    def log(self, text, alarms):
        """Every '##' line of the log is one of the alarms [(reason, pattern)], each seen."""
        allowed = collections.Counter({reason: 0 for reason, _ in alarms})
        unexpected = []
        for line in text.splitlines():
            if "##" not in line:
                continue
            reason = next((k for k, p in alarms if re.search(p, line)), None)
            if reason:
                allowed[reason] += 1
            else:
                unexpected.append(line)
        for reason, count in sorted(allowed.items()):
            self.check("log: '##' line, " + reason, count, "expected from the faults", count > 0)
        self.check("log: unexpected '##' lines", len(unexpected), self.sample(unexpected),
                   not unexpected)

    def print_table(self, title):
        """Prints the table; True when every row holds."""
        width = max(len(x[0]) for x in self.rows)
        print("\n" + title)
        print("%-*s  %7s  %-4s  %s" % (width, "check", "count", "", "detail"))
        print("-" * (width + 40))
        for what, count, detail, ok in self.rows:
            print("%-*s  %7d  %-4s  %s" % (width, what, count, "ok" if ok else "FAIL", detail))
        return all(x[3] for x in self.rows)


# The alarm of a read whose chip is not in the chip table, in both build languages.
UNKNOWN_CHIP_ALARM = ("unknown chip discarded", r"## (Puce inconnue|Unknown chip) \[")
