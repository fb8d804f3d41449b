#!/usr/bin/python3
"""The Debian packages made from this build, unpacked and run as installed.

CPack makes lapora_<version>_amd64.deb and lapora-tools_<version>_amd64.deb from the build tree
(every target built first, as `make build` does). Each is checked for its control fields and its
files, then unpacked with dpkg-deb into a scratch root, and the program is run from there:

  - --help names the manual under the package's own share/lapora folder, and it is there;
  - headless, the "manual" command hands that very file to the desktop's opener (a stand-in
    xdg-open first on PATH records what it was given), and the run closes normally;
  - the simulators of lapora-tools run.

usage: package_test.py BUILD_DIR WORK_DIR
"""

import gzip
import os
import shutil
import stat
import subprocess
import sys
import time
import unittest

BUILD = WORK = None
VERSION = None
ROOT = None


def read_version():
    with open(os.path.join(BUILD, "CPackConfig.cmake"), encoding="utf-8") as f:
        for line in f:
            if line.startswith('set(CPACK_PACKAGE_VERSION "'):
                return line.split('"')[1]
    raise RuntimeError("no CPACK_PACKAGE_VERSION in CPackConfig.cmake")


def deb(name):
    return os.path.join(WORK, "out", "%s_%s_amd64.deb" % (name, VERSION))


def control(path, field):
    result = subprocess.run(["dpkg-deb", "-f", path, field], capture_output=True, check=True)
    return result.stdout.decode("utf-8").strip()


def contents(path):
    result = subprocess.run(["dpkg-deb", "-c", path], capture_output=True, check=True)
    names = set()
    for line in result.stdout.decode("utf-8").splitlines():
        name = line.split()[-1]
        if not name.endswith("/"):
            names.add(name[1:])  # "./usr/bin/x" -> "/usr/bin/x"
    return names


def setUpModule():
    global VERSION, ROOT
    VERSION = read_version()
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    # gzip: quicker to make than xz, and the test unpacks at once.
    result = subprocess.run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                             "-B", os.path.join(WORK, "out"),
                             "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=gzip"],
                            capture_output=True, timeout=300)
    if result.returncode != 0:
        raise RuntimeError("cpack failed:\n" + result.stdout.decode() + result.stderr.decode())
    ROOT = os.path.join(WORK, "root")
    for name in ("lapora", "lapora-tools"):
        subprocess.run(["dpkg-deb", "-x", deb(name), ROOT], check=True)


class ProgramPackage(unittest.TestCase):
    def test_control_fields(self):
        self.assertEqual(control(deb("lapora"), "Package"), "lapora")
        self.assertEqual(control(deb("lapora"), "Version"), VERSION)
        self.assertEqual(control(deb("lapora"), "Architecture"), "amd64")
        # Computed from the binary: the libraries it is linked with.
        depends = control(deb("lapora"), "Depends")
        for library in ("libc6", "libsdl2-2.0-0", "libespeak-ng1", "libcurl4", "libminizip1"):
            self.assertIn(library, depends)
        self.assertIn("xdg-utils", control(deb("lapora"), "Recommends"))
        self.assertEqual(control(deb("lapora-tools"), "Package"), "lapora-tools")

    def test_files(self):
        files = contents(deb("lapora"))
        self.assertEqual(files, {
            "/usr/bin/lapora",
            "/usr/share/lapora/Lapora.pdf",
            "/usr/share/applications/lapora.desktop",
            "/usr/share/icons/hicolor/32x32/apps/lapora.png",
            "/usr/share/man/man1/lapora.1.gz",
        })
        self.assertEqual(contents(deb("lapora-tools")),
                         {"/usr/bin/boxsim", "/usr/bin/resultsim", "/usr/bin/detserver"})
        with open(os.path.join(ROOT, "usr/share/lapora/Lapora.pdf"), "rb") as f:
            self.assertEqual(f.read(5), b"%PDF-")
        with gzip.open(os.path.join(ROOT, "usr/share/man/man1/lapora.1.gz"), "rt") as f:
            page = f.read()
        self.assertTrue(page.startswith(".TH LAPORA 1"), page[:40])
        for option in ("headless", "data\\-dir", "connect", "direct", "duration", "popfront",
                       "help", "version"):
            self.assertIn("\\-\\-" + option, page)
        with open(os.path.join(ROOT, "usr/share/applications/lapora.desktop")) as f:
            entry = f.read()
        self.assertIn("\nExec=lapora\n", entry)
        self.assertIn("\nIcon=lapora\n", entry)

    def test_installed_program_finds_its_manual(self):
        program = os.path.join(ROOT, "usr/bin/lapora")
        manual = os.path.join(ROOT, "usr/share/lapora/Lapora.pdf")
        result = subprocess.run([program, "--help"], capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.decode("utf-8").rstrip().endswith(" " + manual),
                        result.stdout)

        # A stand-in for the desktop's opener: it writes down what it was asked to open.
        opener_folder = os.path.join(WORK, "opener")
        os.makedirs(opener_folder, exist_ok=True)
        opened = os.path.join(WORK, "opened.txt")
        opener = os.path.join(opener_folder, "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" > "%s.part" && mv "%s.part" "%s"\n'
                    % (opened, opened, opened))
        os.chmod(opener, os.stat(opener).st_mode | stat.S_IXUSR)

        env = {"PATH": opener_folder + ":/usr/bin:/bin", "HOME": WORK, "LANG": "C.UTF-8",
               "SDL_AUDIODRIVER": "dummy", "LAPORA_SPEECH": "0"}
        result = subprocess.run([program, "--headless", "--data-dir", os.path.join(WORK, "data")],
                                input=b"manual\nquit\n", env=env, capture_output=True,
                                timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stderr, b"")
        # The opener runs detached: it may finish after the program.
        deadline = time.monotonic() + 20
        while not os.path.exists(opened) and time.monotonic() < deadline:
            time.sleep(0.05)
        with open(opened) as f:
            self.assertEqual(f.read(), manual + "\n")
        # The user's files went to the data folder, none beside the program.
        self.assertTrue(os.path.exists(os.path.join(WORK, "data", "Lapora.ini")))
        self.assertEqual(sorted(os.listdir(os.path.join(ROOT, "usr/share/lapora"))),
                         ["Lapora.pdf"])

    def test_simulators_run(self):
        # Each starts (its libraries load: a missing one is status 127) and lists its options.
        for tool in ("boxsim", "resultsim", "detserver"):
            result = subprocess.run([os.path.join(ROOT, "usr/bin", tool), "--help"],
                                    capture_output=True, timeout=30)
            output = (result.stdout + result.stderr).decode("utf-8", "replace")
            self.assertIn(result.returncode, (0, 2), tool + ": " + output)
            self.assertIn("--", output, tool)


def main():
    global BUILD, WORK
    if len(sys.argv) < 3:
        sys.exit("usage: package_test.py BUILD_DIR WORK_DIR")
    BUILD, WORK = (os.path.abspath(p) for p in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)


if __name__ == "__main__":
    main()
