#!/usr/bin/python3
"""The program's command line and its start on a machine without sound, through the real binary.

  - --help lists every option the program accepts (read from its source, so a new option without
    a help line fails here) and names the manual beside the program; --version prints the version
    text; an unknown option gets the usage on stderr and status 2;
  - with no sound output (ALSA pointed at a device that does not exist, or an audio driver that
    does not exist) while both the voice and the sounds try to play, stderr holds one line that
    says sounds are off, the same line is in the log, and none of the audio library's own lines.

usage: program_test.py BUILD_DIR SOURCE_DIR
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

BUILD = SOURCE = None


def program():
    return os.path.join(BUILD, "lapora")


def run(args, env=None, stdin_text=None, timeout=60):
    return subprocess.run([program()] + args, input=(stdin_text or "").encode(), env=env,
                          capture_output=True, timeout=timeout)


def accepted_options():
    """The options main.cpp compares its arguments with."""
    with open(os.path.join(SOURCE, "src", "app", "main.cpp"), encoding="utf-8") as f:
        return sorted(set(re.findall(r'arg == "(-[-a-z]+)"', f.read())))


def version_text():
    with open(os.path.join(SOURCE, "src", "foundation", "version.h"), encoding="utf-8") as f:
        return re.search(r'kVersionText\[\] = "([^"]+)"', f.read()).group(1)


class CommandLine(unittest.TestCase):
    def test_help_lists_every_option_and_the_manual(self):
        options = accepted_options()
        self.assertGreaterEqual(len(options), 8, options)
        result = run(["--help"])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")
        text = result.stdout.decode("utf-8")
        # One line per option: the option starts it, after the indent.
        described = set(re.findall(r"^\s+(?:-h, )?(--[-a-z]+)", text, re.MULTILINE))
        for option in options:
            if option == "-h":
                self.assertIn("-h, --help", text)
                continue
            self.assertIn(option, described, text)
        last = text.rstrip("\n").splitlines()[-1]
        self.assertTrue(last.endswith(" " + os.path.join(BUILD, "Lapora.pdf")), last)

    def test_version_prints_the_version_text(self):
        result = run(["--version"])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode("utf-8"), "Lapora " + version_text() + "\n")
        self.assertEqual(result.stderr, b"")

    def test_unknown_option_shows_the_usage_on_stderr(self):
        with tempfile.TemporaryDirectory(prefix="lapora-cli-") as work:
            result = run(["--data-dir", work, "--colour"])
            self.assertEqual(result.returncode, 2)
            self.assertEqual(result.stdout, b"")
            errors = result.stderr.decode("utf-8")
            self.assertIn('"--colour"', errors)
            self.assertIn("--popfront", errors)
            self.assertFalse(os.path.exists(os.path.join(work, "Lapora.ini")))


class NoSoundOutput(unittest.TestCase):
    def run_without_sound(self, work, audio_env):
        env = {
            "PATH": "/usr/bin:/bin",
            "HOME": work,
            "LANG": "C.UTF-8",
            # The voice is made at opening: it tries the audio output first, then the sounds.
            "LAPORA_SPEECH": "1",
        }
        # A sanitizer build keeps its options.
        env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        env.update(audio_env)
        # Each clear plays the "done" sound.
        commands = "clear log\nclear detections\nclear results\nquit\n"
        return run(["--headless", "--data-dir", os.path.join(work, "data")], env, commands)

    def test_one_line_says_sounds_are_off(self):
        with tempfile.TemporaryDirectory(prefix="lapora-nosound-") as work:
            # ALSA's own configuration, with its default device nowhere: every open fails inside
            # the library, which would print its errors itself.
            alsa_conf = os.path.join(work, "asound.conf")
            with open(alsa_conf, "w") as f:
                f.write('pcm.!default "nowhere"\nctl.!default "nowhere"\n')
            cases = {
                "ALSA without a device": {"SDL_AUDIODRIVER": "alsa",
                                          "ALSA_CONFIG_PATH": alsa_conf},
                "no such audio driver": {"SDL_AUDIODRIVER": "nowhere"},
            }
            for name, audio_env in cases.items():
                with self.subTest(name):
                    result = self.run_without_sound(work, audio_env)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    errors = result.stderr.decode("utf-8").splitlines()
                    self.assertEqual(len(errors), 1, errors)
                    self.assertFalse(errors[0].startswith("ALSA lib"), errors)
                    # The operator sees it in the log too, once.
                    log = result.stdout.decode("utf-8")
                    self.assertEqual(log.count(errors[0]), 1, log)


def main():
    global BUILD, SOURCE
    if len(sys.argv) < 3:
        sys.exit("usage: program_test.py BUILD_DIR SOURCE_DIR")
    BUILD, SOURCE = (os.path.abspath(p) for p in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)


if __name__ == "__main__":
    main()
