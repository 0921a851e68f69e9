"""record-window, screen-access and windows on a private Wayland desktop
(headless mutter, PipeWire, the real desktop-portal frontend with the test
back end of this folder): a foot window recorded through the picker, its
movie and click log, the stored choice restored without the picker, and
the refusals. Skips only when the rig's packages are not installed."""
import json
import os
import select
import subprocess
import time
import unittest
import uuid

from quorvane_test import CAPTURE, ffprobe, temp_dir
from wayland_rig import WaylandRig

PERMISSION = ("Quorvane is not allowed to record the screen yet. Switch it on in System "
              "Settings, Privacy & Security, Screen & System Audio Recording, then reopen "
              "Quorvane.")


class Recorder:
    """One running record-window process whose lines are read as they come."""

    def __init__(self, env, *args):
        self.proc = subprocess.Popen([CAPTURE, "record-window", *args], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.buffer = b""

    def line(self, timeout=40):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line from record-window; so far %r" % self.buffer)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError("record-window ended; output %r" % self.buffer)
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def stop(self):
        self.proc.stdin.write(b"\n")
        self.proc.stdin.flush()
        stopped = self.line()
        status = self.proc.wait(timeout=30)
        return status, stopped

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except BrokenPipeError:
                pass


def gray_picture(movie, at, width, height):
    """The movie's picture at `at` seconds as rows of 8-bit gray values."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-ss", str(at), "-i", movie, "-frames:v", "1",
                          "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                         capture_output=True, check=True).stdout
    assert len(raw) == width * height, "decoded %d bytes" % len(raw)
    return [raw[y * width:(y + 1) * width] for y in range(height)]


class WaylandDesktop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rig = WaylandRig().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.rig.__exit__(None, None, None)

    def setUp(self):
        self.rig.answer("approve")

    def record(self, *args):
        recorder = Recorder(self.rig.client_env(), *args)
        self.addCleanup(recorder.close)
        return recorder

    def one_line(self, *args):
        """Runs record-window with its standard input kept open until it ends
        by itself; returns (exit status, its one line)."""
        recorder = self.record(*args)
        line = recorder.line()
        return recorder.proc.wait(timeout=30), line

    def stored_choices(self):
        path = os.path.join(self.rig.state, "quorvane", "portal-choices.json")
        with open(path) as f:
            return json.load(f)

    def test_1_picker_choice_is_recorded_with_pointer_samples(self):
        out = os.path.join(temp_dir(self), "foot.mov")
        pointer = self.rig.pointer()
        pointer.to(3, 3)  # off the window, which mutter centres
        seen = len(self.rig.backend_entries())
        recorder = self.record("--out", out, "--app", "foot")
        started = recorder.line()
        width, height = started["width"], started["height"]
        self.assertEqual(started, {"app": "", "event": "started", "height": height, "id": 0,
                                   "ok": True, "title": "", "width": width})
        self.assertTrue(width >= 240 and height >= 160 and width % 2 == 0 and height % 2 == 0,
                        started)
        self.assertLess(width, 1280, "the movie is the window, not the monitor")

        # The centre of the monitor lies on the centred window; then 70 and 47
        # pixels further; then off the window again.
        time.sleep(0.5)
        for x, y in ((640, 360), (710, 407), (3, 3)):
            pointer.to(x, y)
            time.sleep(0.6)
        status, stopped = recorder.stop()
        self.assertEqual(status, 0)
        self.assertEqual(sorted(stopped), ["clicks", "event", "file", "ok"])
        self.assertEqual(stopped["file"], out)

        picker = self.rig.backend_entries()[seen:]
        self.assertEqual(picker[0], {"picker": True, "types": 2, "cursor": 4, "persist": 2})
        token = self.stored_choices()["apps"]["foot"]
        uuid.UUID(token)

        # The movie: the window's size, and a frame for each change of the
        # terminal (it prints ten lines a second) rather than a fixed rate.
        info = ffprobe(out)
        video = [s for s in info["streams"] if s["codec_type"] == "video"][0]
        self.assertEqual((video["width"], video["height"]), (width, height))
        frames = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams",
                                 "v:0", "-show_entries", "stream=nb_read_frames", "-of",
                                 "csv=p=0", out], capture_output=True, text=True, check=True)
        count = int(frames.stdout.strip())
        self.assertGreaterEqual(count, 10)
        self.assertLess(count, 30 * 3 * 2)

        # The picture is the terminal: a dark background with light text at
        # its top-left, where the lines are printed.
        rows = gray_picture(out, 1.0, width, height)
        dark = sum(v < 60 for row in rows for v in row) / (width * height)
        self.assertGreater(dark, 0.8, "mostly the terminal's dark background")
        text = sum(v > 150 for row in rows[:40] for v in row[:150])
        self.assertGreater(text, 50, "light text in the top-left corner")

        # The click log: positions from the stream's cursor metadata over the
        # window, the last position repeated once the pointer left it, and no
        # clicks (a screen cast carries no buttons).
        with open(stopped["clicks"]) as f:
            log = json.load(f)
        self.assertEqual(log["window"], {"height": height, "width": width, "x": 0, "y": 0})
        self.assertEqual(log["clicks"], [])
        positions = []
        for sample in log["pointer"]:
            p = (sample["x"], sample["y"])
            if not positions or positions[-1] != p:
                positions.append(p)
        self.assertEqual(len(positions), 3, positions)  # unknown (0, 0), then two places
        (x1, y1), (x2, y2) = positions[1], positions[2]
        self.assertAlmostEqual(x2 - x1, 70 / width, delta=0.0015)
        self.assertAlmostEqual(y2 - y1, 47 / height, delta=0.0015)
        self.assertEqual((log["pointer"][-1]["x"], log["pointer"][-1]["y"]), (x2, y2))

    def test_2_stored_choice_is_restored_without_the_picker(self):
        self.assertIn("foot", self.stored_choices()["apps"], "needs the first test's choice")
        self.rig.answer("cancel")  # a picker now would refuse
        seen = len(self.rig.backend_entries())
        out = os.path.join(temp_dir(self), "again.mov")
        recorder = self.record("--out", out, "--app", "foot", "--no-cursor")
        started = recorder.line()
        self.assertEqual((started["event"], started["id"]), ("started", 0))
        time.sleep(1)
        status, stopped = recorder.stop()
        self.assertEqual(status, 0)
        self.assertEqual(self.rig.backend_entries()[seen:], [{"restored": "focused"}])
        self.assertEqual(ffprobe(out)["streams"][0]["width"], started["width"])
        uuid.UUID(self.stored_choices()["apps"]["foot"])

    def test_3_cancelled_or_refused_picker_gives_the_permission_message(self):
        for answer in ("cancel", "fail"):
            with self.subTest(answer=answer):
                self.rig.answer(answer)
                out = os.path.join(temp_dir(self), "none.mov")
                begun = time.monotonic()
                status, line = self.one_line("--out", out, "--app", "nothing-" + answer)
                self.assertEqual((status, line), (1, {"error": PERMISSION, "ok": False}))
                self.assertLess(time.monotonic() - begun, 30)
                self.assertFalse(os.path.exists(out))
                self.assertNotIn("nothing-" + answer, self.stored_choices()["apps"])

    def test_4_screen_access_windows_and_window_ids_on_wayland(self):
        env = self.rig.client_env()
        seen = len(self.rig.backend_entries())
        access = subprocess.run([CAPTURE, "screen-access"], env=env, capture_output=True,
                                timeout=60)
        self.assertEqual(json.loads(access.stdout), {"granted": True, "ok": True})
        # No XWayland here: no window X11 could list.
        windows = subprocess.run([CAPTURE, "windows"], env=env, capture_output=True, timeout=60)
        self.assertEqual((windows.returncode, json.loads(windows.stdout)),
                         (0, {"ok": True, "windows": []}))
        # --window-id names X11 windows only: no picker for it.
        out = os.path.join(temp_dir(self), "x.mov")
        self.assertEqual(self.one_line("--out", out, "--window-id", "7", "--app", "foot"),
                         (1, {"error": "No window of foot is open on screen. Open it first.",
                              "ok": False}))
        self.assertEqual(self.rig.backend_entries()[seen:], [])

        # Without a Wayland session type the portal is not consulted at all.
        plain = subprocess.run([CAPTURE, "screen-access"], capture_output=True, timeout=60,
                               env=dict(env, XDG_SESSION_TYPE="tty"))
        self.assertEqual(json.loads(plain.stdout), {"granted": False, "ok": True})

    def test_5_closing_the_window_ends_the_recording_by_itself(self):
        # A second terminal takes the focus, so the picker's choice is it.
        ready = os.path.join(temp_dir(self), "ready")
        terminal = self.rig.spawn(["foot", "sh", "-c", "touch %s; exec sleep 60" % ready])
        self.rig.wait_for(lambda: os.path.exists(ready), "the second terminal")
        time.sleep(0.5)
        out = os.path.join(temp_dir(self), "closed.mov")
        recorder = self.record("--out", out, "--app", "closing")
        self.assertEqual(recorder.line()["event"], "started")
        time.sleep(1)
        terminal.terminate()
        stopped = recorder.line()
        self.assertEqual(recorder.proc.wait(timeout=30), 0)
        self.assertEqual(sorted(stopped), ["clicks", "event", "file", "ok", "reason"])
        self.assertEqual(stopped["reason"], "The recorded window was closed.")
        self.assertGreaterEqual(float(ffprobe(out)["format"]["duration"]), 0.5)


if __name__ == "__main__":
    unittest.main()
