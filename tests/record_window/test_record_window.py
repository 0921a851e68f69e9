"""record-window through the real binary on private Xvfb displays with real
X clients: window choice, events and stop triggers, the movie (ffprobe and
decoded frames), the click log (xdotool presses and quick clicks), covered,
resized and closed windows, a killed recorder, 16- and 30-bit displays."""
import json
import os
import select
import signal
import subprocess
import time
import unittest

from quorvane_test import CAPTURE, Xvfb, ffprobe, temp_dir

STARTED_KEYS = ["app", "event", "height", "id", "ok", "title", "width"]
STOPPED_KEYS = ["clicks", "event", "file", "ok"]
ANIMATION = "while :; do date +%s.%N; sleep 0.02; done"


def frame_at(movie, seconds, width, height, from_end=False):
    """The picture shown at `seconds` (from the end when `from_end`) as RGB
    bytes, or b"" when there is none."""
    seek = ["-sseof", f"-{seconds}"] if from_end else ["-ss", str(seconds)]
    out = subprocess.run(["ffmpeg", "-v", "error", *seek, "-i", movie, "-frames:v", "1",
                          "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    return out[:width * height * 3]


def last_frame(movie, width, height):
    """The movie's last picture as RGB bytes."""
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-"], capture_output=True, check=True).stdout
    size = width * height * 3
    return out[-size:] if len(out) >= size else b""


def pixel(picture, width, x, y):
    i = (y * width + x) * 3
    return tuple(picture[i:i + 3])


def mean_difference(a, b):
    return sum(abs(p - q) for p, q in zip(a, b)) / max(len(a), 1)


class Recorder:
    """One running record-window process whose output lines are read as they come."""

    def __init__(self, x, *args, cwd=None, stdin=subprocess.PIPE):
        self.proc = subprocess.Popen([CAPTURE, "record-window", *args], env=x.env, cwd=cwd,
                                     stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.buffer = b""

    def line(self, timeout=60):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no line from record-window; so far {self.buffer!r}")
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError(f"record-window ended; output {self.buffer!r}, "
                                         f"errors {self.proc.stderr.read()!r}")
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def rest(self, timeout=60):
        """Waits for the end, standard input left open; returns (exit status,
        remaining output lines)."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"record-window did not end; output {self.buffer!r}")
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    break
                self.buffer += chunk
        status = self.proc.wait(timeout=max(deadline - time.monotonic(), 1))
        text = self.buffer.decode()
        self.buffer = b""
        return status, [json.loads(l) for l in text.split("\n") if l]

    def stop(self):
        self.proc.stdin.write(b"\n")
        self.proc.stdin.flush()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for pipe in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if pipe:
                try:
                    pipe.close()
                except BrokenPipeError:
                    pass


class RecordWindow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = Xvfb(size="1280x1024x24").__enter__()
        x = cls.x
        x.spawn("xterm", "-T", "Animated Term", "-geometry", "80x24+40+30", "-e", ANIMATION)
        x.spawn("xlogo", "-title", "Plain Logo", "-geometry", "400x300+600+500")
        cls.term = x.wait_for_window("Animated Term", timeout=60)
        cls.logo = x.wait_for_window("Plain Logo", timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)

    def setUp(self):
        self.dir = temp_dir(self)
        self.movie = os.path.join(self.dir, "rec.mov")

    def recorder(self, *args, **kw):
        r = Recorder(self.x, *args, **kw)
        self.addCleanup(r.kill)
        return r

    def started(self, r):
        event = r.line()
        self.assertEqual(sorted(event), STARTED_KEYS, event)
        self.assertEqual(event["event"], "started")
        self.assertIs(event["ok"], True)
        return event

    def stopped(self, r, keys=STOPPED_KEYS):
        status, lines = r.rest()
        self.assertEqual(status, 0, lines)
        self.assertEqual(len(lines), 1, lines)
        self.assertEqual(sorted(lines[0]), keys, lines)
        self.assertEqual(lines[0]["event"], "stopped")
        return lines[0]

    def assert_movie(self, path, width, height, min_duration=0.0):
        info = ffprobe(path)
        self.assertIn("mov", info["format"]["format_name"])
        video = [s for s in info["streams"] if s["codec_type"] == "video"]
        self.assertEqual(len(video), 1, info)
        self.assertEqual(video[0]["codec_name"], "h264")
        self.assertEqual(video[0]["pix_fmt"], "yuv420p")
        self.assertEqual((video[0]["width"], video[0]["height"]), (width, height))
        duration = float(info["format"]["duration"])
        self.assertGreaterEqual(duration, min_duration)
        return duration

    # Window choice and messages

    def test_messages_before_recording(self):
        cases = [
            (["--app", "Term"], "usage: record-window --out <file> --app <name>"),
            (["--out", self.movie, "--app", "nothing like it"],
             "No window of nothing like it is open on screen. Open it first."),
            (["--out", self.movie], "No window of that app is open on screen. Open it first."),
            (["--out", self.movie, "--app", "XTerm", "--window-id", "12345"],
             "No window of XTerm is open on screen. Open it first."),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = self.recorder(*args)
                status, lines = r.rest()
                self.assertEqual(status, 1)
                self.assertEqual(lines, [{"error": message, "ok": False}])
        self.assertFalse(os.path.exists(self.movie))

    def test_unwritable_movie_is_a_start_failure(self):
        r = self.recorder("--out", os.path.join(self.dir, "missing", "a.mov"), "--app", "xterm")
        status, lines = r.rest()
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0]["error"].startswith("The recording could not start. "), lines)

    def test_full_disk_mid_recording_is_a_recording_failure(self):
        small = os.path.join(self.dir, "small")
        os.mkdir(small)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=300k", "tmpfs", small],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("a small file system cannot be mounted here")
        self.addCleanup(subprocess.run, ["umount", small])
        r = self.recorder("--out", os.path.join(small, "a.mov"), "--app", "Term", "--max", "30")
        self.started(r)
        status, lines = r.rest()
        self.assertEqual(status, 1)
        self.assertEqual(lines, [{"error": "The recording failed. No space left on device",
                                  "ok": False}])
        self.assertFalse(os.path.exists(os.path.join(small, "a.clicks.json")))

    def test_app_text_matches_without_case_and_window_id_wins(self):
        r = self.recorder("--out", self.movie, "--app", "xTERM")
        event = self.started(r)
        self.assertEqual((event["app"], event["title"], event["id"]),
                         ("XTerm", "Animated Term", self.term))
        r.proc.stdin.close()
        self.stopped(r)
        r = self.recorder("--out", self.movie, "--app", "xterm", "--window-id", str(self.logo))
        self.assertEqual(self.started(r)["id"], self.logo)
        r.proc.send_signal(signal.SIGINT)
        self.stopped(r)

    # Stop triggers and the movie

    def test_stop_by_a_line_gives_a_movie_of_the_reported_size(self):
        r = self.recorder("--out", self.movie, "--app", "Term")
        event = self.started(r)
        self.assertEqual((event["width"] % 2, event["height"] % 2), (0, 0))
        time.sleep(1.5)
        r.proc.stdin.write(b"stop\n")
        r.proc.stdin.flush()
        stopped = self.stopped(r)
        self.assertEqual(stopped["file"], self.movie)
        self.assertEqual(stopped["clicks"], os.path.join(self.dir, "rec.clicks.json"))
        self.assert_movie(self.movie, event["width"], event["height"], min_duration=1.4)

    def test_max_duration_sets_the_movie_length(self):
        r = self.recorder("--out", self.movie, "--app", "Logo", "--max", "2", "--fps", "10")
        event = self.started(r)
        self.stopped(r)
        # A still window still gives a movie as long as the recording.
        duration = self.assert_movie(self.movie, event["width"], event["height"])
        self.assertGreater(duration, 1.9)
        self.assertLess(duration, 6)

    def test_two_interrupts_give_one_stopped_event(self):
        r = self.recorder("--out", self.movie, "--app", "Term", "--max", "0.5")
        self.started(r)
        r.proc.send_signal(signal.SIGINT)
        r.proc.send_signal(signal.SIGINT)
        self.stopped(r)

    def test_input_ended_from_the_start_stops_at_once(self):
        with open(os.devnull, "rb") as empty:
            r = self.recorder("--out", self.movie, "--app", "Term", stdin=empty)
            status, lines = r.rest()
        self.assertEqual(status, 0)
        self.assertEqual(lines[-1]["event"], "stopped")
        self.assertEqual([l["event"] for l in lines[:-1]], ["started"] * (len(lines) - 1))

    def test_relative_movie_path_is_reported_unchanged(self):
        r = self.recorder("--out", "take.2.mov", "--app", "Term", "--max", "0.5", cwd=self.dir)
        self.started(r)
        stopped = self.stopped(r)
        self.assertEqual(stopped["file"], "take.2.mov")
        self.assertEqual(stopped["clicks"], os.path.join(self.dir, "take.2.clicks.json"))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "take.2.mov")))

    # The click log

    def test_clicks_inside_and_outside_the_window(self):
        r = self.recorder("--out", self.movie, "--app", "Logo", "--no-cursor")
        self.started(r)
        # xlogo is 400x300 inside a 1-pixel border at (600, 500).
        points = [(700, 575, 0.2475, 0.2467, True), (1000, 800, 0.9975, 0.9967, True),
                  (100, 100, 0.0, 0.0, False), (1200, 650, 1.0, 0.4967, False)]
        for px, py, *_ in points:
            self.x.run("xdotool", "mousemove", str(px), str(py), check=True)
            time.sleep(0.1)
            self.x.run("xdotool", "mousedown", "1", check=True)
            time.sleep(0.15)
            self.x.run("xdotool", "mouseup", "1", check=True)
            time.sleep(0.1)
        r.stop()
        stopped = self.stopped(r)
        with open(stopped["clicks"], "rb") as f:
            raw = f.read()
        self.assertFalse(raw.endswith(b"\n"))
        log = json.loads(raw)
        self.assertEqual(list(log), ["clicks", "pointer", "version", "window"])
        self.assertEqual(log["version"], 1)
        self.assertEqual(log["window"], {"height": 300, "width": 400, "x": 601, "y": 501})
        clicks = log["clicks"]
        self.assertEqual(len(clicks), len(points), clicks)
        for click, (_, _, fx, fy, inside) in zip(clicks, points):
            self.assertEqual(sorted(click), ["inside", "t", "x", "y"])
            self.assertAlmostEqual(click["x"], fx, places=4)
            self.assertAlmostEqual(click["y"], fy, places=4)
            self.assertIs(click["inside"], inside)
        times = [c["t"] for c in clicks]
        self.assertEqual(times, sorted(times))
        self.assertGreaterEqual(times[0], 0)
        self.assertTrue(all(sorted(p) == ["t", "x", "y"] for p in log["pointer"]))


    def test_quick_clicks_each_count(self):
        r = self.recorder("--out", self.movie, "--app", "Logo", "--no-cursor")
        self.started(r)
        # xdotool click presses and releases within a millisecond, well inside
        # one 60 Hz tick.
        points = [(650, 550), (800, 650), (990, 790)]
        for px, py in points:
            self.x.run("xdotool", "mousemove", str(px), str(py), "click", "1", check=True)
            time.sleep(0.2)
        self.x.run("xdotool", "click", "3", check=True)  # not the primary button
        time.sleep(0.2)
        r.stop()
        with open(self.stopped(r)["clicks"]) as f:
            clicks = json.load(f)["clicks"]
        self.assertEqual(len(clicks), len(points), clicks)
        for click, (px, py) in zip(clicks, points):
            self.assertAlmostEqual(click["x"], round((px - 601) / 400, 4), places=4)
            self.assertAlmostEqual(click["y"], round((py - 501) / 300, 4), places=4)
            self.assertIs(click["inside"], True)


class WindowsThatChange(unittest.TestCase):
    """Each test gets a fresh display: windows are covered, closed and killed here."""

    def setUp(self):
        self.x = Xvfb(size="1280x1024x24").__enter__()
        self.addCleanup(self.x.__exit__, None, None, None)
        self.dir = temp_dir(self)
        self.movie = os.path.join(self.dir, "rec.mov")

    def recorder(self, *args):
        r = Recorder(self.x, *args)
        self.addCleanup(r.kill)
        return r

    def test_covered_window_records_its_own_content(self):
        self.x.spawn("xlogo", "-title", "Red", "-bg", "red", "-fg", "red",
                     "-geometry", "300x200+100+100")
        red = self.x.wait_for_window("Red", timeout=60)
        self.x.spawn("xlogo", "-title", "Blue", "-bg", "blue", "-fg", "blue",
                     "-geometry", "500x400+50+50")
        self.x.wait_for_window("Blue", timeout=60)
        r = self.recorder("--out", self.movie, "--window-id", str(red), "--max", "1")
        Recorder.line(r)
        status, _ = r.rest()
        self.assertEqual(status, 0)
        pixel = subprocess.run(
            ["ffmpeg", "-v", "error", "-i", self.movie, "-vf", "scale=1:1", "-f", "rawvideo",
             "-pix_fmt", "rgb24", "-"], capture_output=True, check=True).stdout[-3:]
        # The last picture: the window's own red, though the blue one covers it.
        self.assertEqual(len(pixel), 3)
        red_level, green, blue = pixel
        self.assertGreater(red_level, 200, pixel)
        self.assertLess(blue, 60, pixel)

    def test_resized_window_keeps_its_proportions(self):
        self.x.spawn("xlogo", "-title", "Shrinking", "-bg", "red", "-fg", "red",
                     "-geometry", "400x300+10+10")
        window = self.x.wait_for_window("Shrinking", timeout=60)
        r = self.recorder("--out", self.movie, "--window-id", str(window), "--no-cursor")
        event = r.line()
        self.assertEqual((event["width"], event["height"]), (400, 300))
        time.sleep(0.5)
        # Half as wide, as tall: the picture keeps its shape between black bars.
        self.x.run("xdotool", "windowsize", str(window), "200", "300", check=True)
        time.sleep(1)
        r.stop()
        status, _ = r.rest()
        self.assertEqual(status, 0)
        last = last_frame(self.movie, 400, 300)
        self.assertEqual(len(last), 400 * 300 * 3)
        for x, red in [(20, False), (95, False), (110, True), (200, True), (290, True),
                       (305, False), (380, False)]:
            r_, g, b = pixel(last, 400, x, 150)
            if red:
                self.assertGreater(r_, 180, (x, r_, g, b))
                self.assertLess(g + b, 80, (x, r_, g, b))
            else:
                self.assertLess(r_ + g + b, 60, (x, r_, g, b))

    def test_killed_after_motion_and_stillness_keeps_all_but_the_last_second(self):
        # Counts for two seconds, then stands still.
        self.x.spawn("xterm", "-T", "Settling", "-geometry", "50x16+0+0", "-e",
                     "for i in $(seq 100); do date +%N; sleep 0.02; done; sleep 600")
        window = self.x.wait_for_window("Settling", timeout=60)
        r = self.recorder("--out", self.movie, "--window-id", str(window), "--no-cursor")
        event = r.line()
        started = time.monotonic()
        width, height = event["width"], event["height"]
        self.x.run("xdotool", "mousemove", "20", "20", "click", "1", check=True)
        time.sleep(6)
        r.proc.send_signal(signal.SIGKILL)
        r.proc.wait()
        recorded = time.monotonic() - started
        duration = float(ffprobe(self.movie)["format"]["duration"])
        self.assertGreater(duration, recorded - 1.2, (duration, recorded))
        self.assertLess(duration, recorded + 0.2, (duration, recorded))
        # The last picture is the window as it stands now, not as it moved.
        grab = subprocess.run(
            ["ffmpeg", "-v", "error", "-f", "x11grab", "-window_id", str(window),
             "-draw_mouse", "0", "-i", self.x.display, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
             "rgb24", "-"], env=self.x.env, capture_output=True, check=True).stdout
        last = last_frame(self.movie, width, height)
        early = frame_at(self.movie, 0.5, width, height)
        self.assertLess(mean_difference(last, grab), 4)
        self.assertGreater(mean_difference(early, grab), mean_difference(last, grab))
        # Near the end there is a picture to seek to.
        self.assertEqual(len(frame_at(self.movie, 0.3, width, height, from_end=True)),
                         width * height * 3)
        with open(os.path.join(self.dir, "rec.clicks.json")) as f:
            log = json.load(f)
        self.assertEqual(log["version"], 1)
        self.assertEqual(len(log["clicks"]), 1, log["clicks"])
        self.assertGreater(log["pointer"][-1]["t"], recorded - 2)

    def test_closed_window_ends_with_a_reason(self):
        client = self.x.spawn("xlogo", "-title", "Closing", "-geometry", "300x200+10+10")
        self.x.wait_for_window("Closing", timeout=60)
        r = self.recorder("--out", self.movie, "--app", "xlogo")
        event = r.line()
        self.assertEqual(event["event"], "started")
        time.sleep(0.5)
        client.kill()
        status, lines = r.rest()
        self.assertEqual(status, 0)
        self.assertEqual(len(lines), 1, lines)
        self.assertEqual(sorted(lines[0]), ["clicks", "event", "file", "ok", "reason"])
        self.assertEqual(lines[0]["reason"], "The recorded window was closed.")
        info = ffprobe(self.movie)
        self.assertEqual(info["streams"][0]["codec_name"], "h264")

    def test_killed_recorder_leaves_a_readable_movie(self):
        # On a loaded machine an xterm now and then never maps (it fails to get
        # its terminal); a second one keeps this test about the recorder.
        try:
            self.x.spawn("xterm", "-T", "Busy", "-geometry", "80x24+0+0", "-e", ANIMATION)
            self.x.wait_for_window("Busy", timeout=30)
        except AssertionError:
            self.x.spawn("xterm", "-T", "Busy", "-geometry", "80x24+0+0", "-e", ANIMATION)
            self.x.wait_for_window("Busy", timeout=60)
        r = self.recorder("--out", self.movie, "--app", "xterm")
        event = r.line()
        self.assertEqual(event["event"], "started")
        time.sleep(3)
        r.proc.send_signal(signal.SIGKILL)
        r.proc.wait()
        info = ffprobe(self.movie)
        video = info["streams"][0]
        self.assertEqual(video["codec_name"], "h264")
        self.assertEqual((video["width"], video["height"]), (event["width"], event["height"]))
        frames = subprocess.run(
            ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
             "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", self.movie],
            capture_output=True, text=True, check=True).stdout.strip()
        self.assertGreater(int(frames), 10)



class OtherDepths(unittest.TestCase):
    """16- and 30-bit displays record true colours; a stop right after the
    start still gives the window's picture."""

    def test_colours_at_each_depth(self):
        for depth in (16, 30):
            with self.subTest(depth=depth), Xvfb(size=f"800x600x{depth}") as x:
                d = temp_dir(self)
                movie = os.path.join(d, "rec.mov")
                x.spawn("xlogo", "-title", "Red", "-bg", "#ff0000", "-fg", "#ff0000",
                        "-geometry", "300x200+10+10")
                x.wait_for_window("Red", timeout=60)
                access = subprocess.run([CAPTURE, "screen-access"], env=x.env,
                                        capture_output=True, text=True)
                self.assertEqual(json.loads(access.stdout)["granted"], True)
                r = Recorder(x, "--out", movie, "--app", "xlogo", "--no-cursor")
                self.addCleanup(r.kill)
                self.assertEqual(r.line()["event"], "started")
                r.stop()  # before the capture thread took a picture of its own
                status, lines = r.rest()
                self.assertEqual(status, 0, lines)
                self.assertIs(lines[-1]["ok"], True)
                picture = last_frame(movie, 300, 200)
                self.assertEqual(len(picture), 300 * 200 * 3)
                red, green, blue = pixel(picture, 300, 150, 100)
                self.assertGreater(red, 240, (red, green, blue))
                self.assertLess(green + blue, 20, (red, green, blue))

    def test_colour_maps_are_refused_before_started_and_leave_no_movie(self):
        with Xvfb(size="800x600x8") as x:
            movie = os.path.join(temp_dir(self), "rec.mov")
            x.spawn("xlogo", "-title", "Mapped", "-geometry", "300x200+10+10")
            x.wait_for_window("Mapped", timeout=60)
            access = subprocess.run([CAPTURE, "screen-access"], env=x.env, capture_output=True,
                                    text=True)
            self.assertEqual(json.loads(access.stdout)["granted"], False)
            r = Recorder(x, "--out", movie, "--app", "xlogo")
            self.addCleanup(r.kill)
            status, lines = r.rest()
            self.assertEqual(status, 1, lines)
            self.assertEqual(len(lines), 1, lines)
            self.assertIs(lines[0]["ok"], False)
            self.assertFalse(os.path.exists(movie))

    def test_no_access_where_shared_memory_cannot_be_attached(self):
        with Xvfb(size="800x600x24") as x:
            # Another IPC namespace: the server cannot see this process's segments.
            r = subprocess.run(["unshare", "-i", CAPTURE, "screen-access"], env=x.env,
                               capture_output=True, text=True)
            if r.returncode != 0 and not r.stdout:
                self.skipTest("unshare -i is not allowed here")
            self.assertEqual(json.loads(r.stdout), {"granted": False, "ok": True})


if __name__ == "__main__":
    unittest.main()
