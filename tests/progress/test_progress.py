"""The progress line of the long jobs through the real binary: drawn when
standard error is a terminal (a pseudo-terminal here), at most ten times a
second, erased before the result and before a stop signal ends the job;
nothing extra when it is a pipe or a file."""
import json
import os
import pty
import re
import select
import signal
import subprocess
import time
import unittest

from quorvane_test import CAPTURE, clean_env, run_capture, temp_dir

SENTENCES = [
    "the quick brown fox jumps over the lazy dog",
    "open the window and let the fresh air into the room",
    "the weather today is sunny with a light breeze from the west",
]

DRAW = re.compile(r"\r(\d+)%(?: \u00b7 about (\d+:)?\d+:\d\d left)?\x1b\[K")
ERASE = "\r\x1b[K"


def sh(*cmd):
    subprocess.run(list(cmd), check=True, capture_output=True)


def on_terminal(*args, timeout=600):
    """Runs quorvane-capture with standard output and standard error on one
    pseudo-terminal, as a person at a terminal would; returns the exit status,
    everything the terminal received and the run's wall time."""
    master, slave = pty.openpty()
    start = time.monotonic()
    proc = subprocess.Popen([CAPTURE, *args], stdin=subprocess.DEVNULL, stdout=slave,
                            stderr=slave, env=clean_env(TERM="xterm"))
    os.close(slave)
    received = b""
    deadline = start + timeout
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 1.0)
        if not ready:
            if proc.poll() is not None:
                break
            continue
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: every writer has closed the terminal
            break
        if not chunk:
            break
        received += chunk
    proc.wait(timeout=10)
    os.close(master)
    # The terminal turns each line feed into a carriage return and a line feed.
    return proc.returncode, received.decode("utf-8"), time.monotonic() - start


class ProgressCase(unittest.TestCase):
    def check_terminal_run(self, args, expected_result):
        status, text, wall = on_terminal(*args)
        self.assertEqual(status, 0, text)
        # The result comes last, on a line of its own, after the line was erased.
        self.assertTrue(text.endswith("\r\n"), repr(text[-200:]))
        head, erase, result = text[:-2].rpartition(ERASE)
        self.assertEqual(erase, ERASE, repr(text[-200:]))
        self.assertEqual(json.loads(result), expected_result)
        self.assertNotIn("\n", head)
        # Before it, only progress drawings, each replacing the one before.
        draws = list(DRAW.finditer(head))
        self.assertEqual("".join(m.group(0) for m in draws), head, repr(head[:300]))
        self.assertGreaterEqual(len(draws), 2, repr(head))
        shares = [int(m.group(1)) for m in draws]
        self.assertEqual(shares, sorted(shares))
        self.assertLessEqual(shares[-1], 100)
        self.assertLessEqual(len(draws), 10 * wall + 1, (len(draws), wall))
        return draws


def stopped_on_terminal(args, sig, timeout=300):
    """Runs quorvane-capture on a pseudo-terminal, sends `sig` once a
    progress line is drawn; returns the exit status and what the terminal
    received."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([CAPTURE, *args], stdin=subprocess.DEVNULL, stdout=slave,
                            stderr=slave, env=clean_env(TERM="xterm"))
    os.close(slave)
    received = b""
    sent = False
    deadline = time.monotonic() + timeout
    try:
        while time.monotonic() < deadline:
            if not sent and DRAW.search(received.decode("utf-8", "replace")):
                proc.send_signal(sig)
                sent = True
            ready, _, _ = select.select([master], [], [], 1.0)
            if not ready:
                if proc.poll() is not None:
                    break
                continue
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO: every writer has closed the terminal
                break
            if not chunk:
                break
            received += chunk
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.wait(timeout=10)
        os.close(master)
    assert sent, received
    return proc.returncode, received.decode("utf-8")


class ProgressStopCase(ProgressCase):
    def check_stop_signal_erases(self, args, sig):
        status, text = stopped_on_terminal(args, sig)
        self.assertEqual(status, -sig, repr(text[-200:]))
        # Progress drawings only, the last one erased: nothing is left on the line.
        self.assertTrue(text.endswith(ERASE), repr(text[-200:]))
        head = text[:-len(ERASE)]
        draws = list(DRAW.finditer(head))
        self.assertGreaterEqual(len(draws), 1)
        self.assertEqual("".join(m.group(0) for m in draws), head, repr(head[:300]))


class Transcribe(ProgressStopCase):
    @classmethod
    def setUpClass(cls):
        import shutil
        import tempfile
        cls.dir = tempfile.mkdtemp(prefix="quorvane-test-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        parts = []
        for i, text in enumerate(SENTENCES):
            part = os.path.join(cls.dir, f"s{i}.wav")
            sh("flite", "-voice", "slt", "-t", text, "-o", part)
            parts.append(part)
            pause = os.path.join(cls.dir, f"pause{i}.wav")
            sh("sox", "-n", "-r", "16000", "-c", "1", "-b", "16", pause, "trim", "0", "0.8")
            parts.append(pause)
        cls.clip = os.path.join(cls.dir, "long.wav")
        sh("sox", *(parts * 5), cls.clip)  # about a minute of speech

    def test_a_terminal_sees_progress_then_the_transcript(self):
        plain = run_capture("transcribe", self.clip, env=clean_env(), timeout=600)
        self.assertEqual(plain.stderr, "")
        draws = self.check_terminal_run(["transcribe", self.clip], plain.object())
        self.assertTrue(any(m.group(0).find("left") >= 0 for m in draws), draws)

    def test_standard_error_in_a_file_gets_nothing(self):
        path = os.path.join(temp_dir(self), "errors.txt")
        with open(path, "w") as err:
            r = subprocess.run([CAPTURE, "transcribe", self.clip], stdout=subprocess.PIPE,
                               stderr=err, env=clean_env(TERM="xterm"), timeout=600)
        self.assertEqual(r.returncode, 0)
        self.assertIn('"ok":true', r.stdout.decode())
        self.assertEqual(os.path.getsize(path), 0)

    def test_a_stop_signal_erases_the_line(self):
        self.check_stop_signal_erases(["transcribe", self.clip], signal.SIGTERM)

    def test_a_failure_on_a_terminal_is_its_line_alone(self):
        status, text, _ = on_terminal("transcribe", os.path.join(self.dir, "missing.wav"))
        self.assertEqual(status, 1)
        self.assertEqual(json.loads(text.replace(ERASE, ""))["ok"], False)
        self.assertIsNone(DRAW.search(text))


class Faces(ProgressStopCase):
    @classmethod
    def setUpClass(cls):
        import shutil
        import tempfile
        cls.dir = tempfile.mkdtemp(prefix="quorvane-test-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        cls.video = os.path.join(cls.dir, "pattern.mp4")
        sh("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=10:duration=30",
           "-c:v", "libx264", "-preset", "ultrafast", cls.video)

    def test_a_terminal_sees_progress_then_the_result(self):
        args = ["faces", self.video, "--every", "0.1"]
        plain = run_capture(*args, env=clean_env(), timeout=600)
        self.assertEqual(plain.stderr, "")
        self.check_terminal_run(args, plain.object())

    def test_a_stop_signal_erases_the_line(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                self.check_stop_signal_erases(["faces", self.video, "--every", "0.05"], sig)

    def test_standard_error_in_a_file_or_a_pipe_gets_nothing(self):
        path = os.path.join(temp_dir(self), "errors.txt")
        with open(path, "w") as err:
            r = subprocess.run([CAPTURE, "faces", self.video, "--every", "0.2"],
                               stdout=subprocess.PIPE, stderr=err, env=clean_env(TERM="xterm"),
                               timeout=600)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(os.path.getsize(path), 0)
        piped = run_capture("faces", self.video, "--every", "0.2", env=clean_env(TERM="xterm"),
                            timeout=600)
        self.assertEqual(piped.stderr, "")
        self.assertEqual(piped.stdout, r.stdout.decode())


if __name__ == "__main__":
    unittest.main()
