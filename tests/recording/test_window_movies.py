"""The guarantees of every window movie, through the real binary, for each
source: an X11 window on a private Xvfb display and a Wayland window on the
private headless desktop of tests/wayland (mutter, PipeWire, the portal).
- kill -9 of a window still from the start, and of one that moves and then
  stands still: the movie lasts until about a second before the kill,
  decodes to its end, and ends on the picture on screen then;
- a stopped movie at two frame rates: pictures on the frame grid at least
  one interval apart, the declared rate, clean timestamps, and the same
  length in FFmpeg and GStreamer;
- clicks while every rename of the side file is slowed (strace): each keeps
  its own time and place, the pointer samples have no holes, and none lies
  after the movie's end;
- a stop while the desktop portal does not answer still ends within a
  moment, with the movie and the side file."""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

from quorvane_test import Recorder, Xvfb, ffprobe, stop_processes, temp_dir

sys.path.insert(0, os.path.join(os.environ.get("QUORVANE_SOURCE_DIR", ""), "tests", "wayland"))
from wayland_rig import FRONTEND, WaylandRig  # noqa: E402

# The window's script: a line of text, then it waits for GO; from then on it
# prints for about two seconds (longer on a loaded machine), says so in
# GO.done and stands still again.
SCRIPT = ("printf 'Quorvane %s\\n'; touch '{ready}'; "
          "while [ ! -e '{go}' ]; do sleep 0.05; done; "
          "for i in $(seq 40); do date +%N; sleep 0.05; done; touch '{go}.done'; "
          "exec sleep 600")


class X11Source:
    name = "x11"

    def __init__(self):
        self.x = Xvfb(size="1280x1024x24").__enter__()
        self.env = self.x.env

    def window(self, label, ready, go):
        """Opens a window running SCRIPT; returns (record-window arguments,
        a function that closes it)."""
        client = self.x.spawn("xterm", "-T", label, "-geometry", "60x20+10+10", "-e", "sh", "-c",
                              SCRIPT.format(ready=ready, go=go))
        window = self.x.wait_for_window(label, timeout=60)
        self.x.wait_for(lambda: os.path.exists(ready), timeout=30)
        time.sleep(0.3)  # the first lines drawn
        return ["--window-id", str(window)], lambda: stop_processes([client])

    def close(self):
        self.x.__exit__(None, None, None)


class WaylandSource:
    name = "wayland"

    def __init__(self):
        self.rig = WaylandRig().__enter__()
        self.rig.answer("approve")
        self.env = self.rig.client_env()

    def window(self, label, ready, go):
        # The picker of the test back end takes the focused window: the newest.
        client = self.rig.spawn(["foot", "sh", "-c", SCRIPT.format(ready=ready, go=go)])
        deadline = time.monotonic() + 30
        while not os.path.exists(ready):
            if client.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("foot did not start")
            time.sleep(0.05)
        time.sleep(0.5)
        return ["--app", "foot"], lambda: stop_processes([client])

    def close(self):
        self.rig.__exit__(None, None, None)


def decode(movie, *seek, frames=None):
    one = ["-frames:v", str(frames)] if frames else []
    return subprocess.run(["ffmpeg", "-v", "error", *seek, "-i", movie, *one, "-f", "rawvideo",
                           "-pix_fmt", "gray", "-"], capture_output=True, check=True).stdout


def picture(movie, size, seek=None, from_end=None):
    """One gray picture: at `seek` seconds, `from_end` seconds before the end,
    or the last one; b"" when there is none."""
    if seek is not None:
        out = decode(movie, "-ss", str(seek), frames=1)
    elif from_end is not None:
        out = decode(movie, "-sseof", "-%s" % from_end, frames=1)
    else:
        out = decode(movie)
        return out[-size:] if len(out) >= size else b""
    return out[:size]


def difference(a, b):
    return sum(abs(p - q) for p, q in zip(a, b)) / max(len(a), 1)


def packets(movie):
    """(pts seconds, key) of each video packet, in order."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "packet=pts_time,flags", "-of", "csv=p=0", movie],
                         capture_output=True, text=True, check=True).stdout
    result = []
    for line in out.split():
        pts, flags = line.split(",")[:2]
        result.append((float(pts), "K" in flags))
    return result


def wait_for_file(path, timeout):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise AssertionError("%s never appeared" % path)
        time.sleep(0.05)


def gstreamer_duration(movie):
    out = subprocess.run(["gst-discoverer-1.0", movie], capture_output=True, text=True,
                         timeout=60).stdout
    m = re.search(r"Duration: (\d+):(\d+):([\d.]+)", out)
    if not m:
        raise AssertionError("gst-discoverer-1.0 gave no duration: %s" % out)
    return int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3))


class WindowMovies(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sources = [X11Source()]
        try:
            cls.sources.append(WaylandSource())
        except unittest.SkipTest as e:
            cls.wayland_missing = str(e)

    @classmethod
    def tearDownClass(cls):
        for source in cls.sources:
            source.close()

    def setUp(self):
        self.dir = temp_dir(self)
        self.count = 0

    def each_source(self):
        if len(self.sources) < 2:
            print("Wayland rows skipped: %s" % self.wayland_missing, file=sys.stderr)
        for source in self.sources:
            with self.subTest(source=source.name):
                yield source

    def record(self, source, label, moving, extra=()):
        """A window of SCRIPT (set moving from the start when `moving`) and a
        recorder on it; returns (recorder, started event, movie, go file)."""
        self.count += 1
        ready = os.path.join(self.dir, "ready%d" % self.count)
        go = os.path.join(self.dir, "go%d" % self.count)
        movie = os.path.join(self.dir, "%s%d.mov" % (source.name, self.count))
        args, close = source.window("%s %d" % (label, self.count), ready, go)
        self.addCleanup(close)
        recorder = Recorder(source.env, "--out", movie, "--no-cursor", *args, *extra)
        self.addCleanup(recorder.close)
        started = recorder.line()
        self.assertEqual(started["event"], "started", started)
        if moving:
            open(go, "w").close()
        self.go_file = go + ".done"
        return recorder, started, movie

    def test_killed_recorder_keeps_all_but_the_last_second_for_every_source(self):
        for source in self.each_source():
            for timeline in ("still from the start", "moving, then still"):
                with self.subTest(timeline=timeline):
                    moving = timeline != "still from the start"
                    recorder, started, movie = self.record(source, "Killed", moving)
                    began = time.monotonic()
                    if moving:
                        # Still for 2.5 s before the kill, however long the
                        # motion took.
                        wait_for_file(self.go_file, 60)
                        time.sleep(2.5)
                    else:
                        time.sleep(3.5)
                    recorder.proc.send_signal(signal.SIGKILL)
                    recorder.proc.wait()
                    recorded = time.monotonic() - began
                    width, height = started["width"], started["height"]
                    size = width * height

                    duration = float(ffprobe(movie)["format"]["duration"])
                    self.assertGreater(duration, recorded - 1.2, (duration, recorded))
                    self.assertLess(duration, recorded + 0.2, (duration, recorded))
                    # Decodes to its end without a complaint.
                    check = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-f", "null",
                                            "-"], capture_output=True, text=True)
                    self.assertEqual((check.returncode, check.stderr), (0, ""))
                    last_packet = packets(movie)[-1][0]
                    self.assertGreater(last_packet, duration - 0.2, (last_packet, duration))
                    # Near the end there is a picture to seek to: the last one.
                    last = picture(movie, size)
                    near_end = picture(movie, size, from_end=0.3)
                    self.assertEqual(len(last), size)
                    self.assertEqual(len(near_end), size)
                    self.assertLess(difference(last, near_end), 1)
                    first = picture(movie, size, seek=0)
                    if moving:
                        # The window as it stood at the kill, not as it moved.
                        self.assertGreater(difference(first, last), 1)
                        settled = picture(movie, size, seek=duration - 0.5)
                        self.assertLess(difference(settled, last), 1)
                    else:
                        self.assertLess(difference(first, last), 1)

    def test_stopped_movie_keeps_the_frame_grid_and_reads_alike_in_ffmpeg_and_gstreamer(self):
        for source in self.each_source():
            for fps in (10, 30):
                with self.subTest(fps=fps):
                    recorder, started, movie = self.record(source, "Rate", True,
                                                           ("--fps", str(fps)))
                    time.sleep(2.5)
                    self.assertEqual(recorder.stop()[1]["event"], "stopped")

                    info = ffprobe(movie)
                    video = [s for s in info["streams"] if s["codec_type"] == "video"][0]
                    self.assertEqual(video["r_frame_rate"], "%d/1" % fps)
                    times = [pts for pts, _ in packets(movie)]
                    self.assertGreater(len(times), 10)  # the window moved
                    for t in times:
                        self.assertAlmostEqual(t * fps, round(t * fps), delta=0.01)
                    gaps = [b - a for a, b in zip(times, times[1:])]
                    self.assertGreaterEqual(min(gaps), 1 / fps - 0.001, gaps)
                    keys = [pts for pts, key in packets(movie) if key]
                    self.assertLessEqual(max(b - a for a, b in zip(keys, keys[1:])), 0.75)
                    warnings = subprocess.run(["ffmpeg", "-v", "warning", "-i", movie, "-f",
                                               "null", "-"], capture_output=True, text=True)
                    self.assertEqual(warnings.stderr, "")

                    duration = float(info["format"]["duration"])
                    if shutil.which("gst-discoverer-1.0"):
                        self.assertAlmostEqual(gstreamer_duration(movie), duration,
                                               delta=1 / fps + 0.001)

    def test_clicks_keep_their_time_and_place_while_renames_are_slow(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        x11 = self.sources[0]
        x = x11.x
        x.spawn("xlogo", "-title", "Click Target", "-geometry", "400x300+100+100")
        window = x.wait_for_window("Click Target", timeout=60)
        movie = os.path.join(self.dir, "clicks.mov")
        recorder = Recorder(x11.env, "--out", movie, "--window-id", str(window))
        self.addCleanup(recorder.close)
        self.assertEqual(recorder.line()["event"], "started")
        # Every rename of the recorder, the side file's among them, takes 0.7 s.
        tracer = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-p",
                                   str(recorder.proc.pid), "-e", "trace=rename,renameat,renameat2",
                                   "-e", "inject=rename,renameat,renameat2:delay_enter=700000"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop_processes, [tracer])
        time.sleep(1.5)  # attached, and a rename or two slowed down
        pressed = []
        places = [(150, 130), (420, 350), (300, 200), (480, 370), (110, 390)]
        for px, py in places:
            x.run("xdotool", "mousemove", str(px), str(py), check=True)
            time.sleep(0.05)
            before = time.monotonic()
            x.run("xdotool", "mousedown", "1", check=True)
            pressed.append((before + time.monotonic()) / 2)
            time.sleep(0.1)
            x.run("xdotool", "mouseup", "1", check=True)
            time.sleep(0.25)
        _, stopped = recorder.stop()
        with open(stopped["clicks"]) as f:
            log = json.load(f)
        clicks = log["clicks"]
        self.assertEqual(len(clicks), len(places), clicks)
        for (px, py), click in zip(places, clicks):
            self.assertAlmostEqual(click["x"], (px - 100) / 400, delta=0.006, msg=clicks)
            self.assertAlmostEqual(click["y"], (py - 100) / 300, delta=0.006, msg=clicks)
            self.assertTrue(click["inside"])
        # Each keeps the time of its press: the gaps between them as pressed,
        # within one tick and the time xdotool takes to start.
        for i in range(1, len(clicks)):
            self.assertAlmostEqual(clicks[i]["t"] - clicks[0]["t"], pressed[i] - pressed[0],
                                   delta=0.04, msg=(clicks, pressed))
        # Pointer samples every tenth of a second, without holes or bursts.
        times = [p["t"] for p in log["pointer"]]
        gaps = [b - a for a, b in zip(times, times[1:])]
        self.assertLess(max(gaps), 0.2, gaps)
        self.assertGreater(min(gaps), 0.05, gaps)
        # Nothing after the movie's end.
        duration = float(ffprobe(movie)["format"]["duration"])
        self.assertLessEqual(times[-1], duration + 0.001, (times[-1], duration))

    def test_a_hung_portal_holds_the_stop_up_half_a_second_at_most(self):
        wayland = [s for s in self.sources if s.name == "wayland"]
        if not wayland:
            self.skipTest(self.wayland_missing)
        rig = wayland[0].rig
        recorder, started, movie = self.record(wayland[0], "Hung", True)
        time.sleep(1.5)
        # The portal stops answering: closing the session has to give up.
        portal = [p for p in rig.procs if p.args[0] == FRONTEND][0]
        portal.send_signal(signal.SIGSTOP)
        try:
            began = time.monotonic()
            _, stopped = recorder.stop()
            took = time.monotonic() - began
        finally:
            portal.send_signal(signal.SIGCONT)
        self.assertEqual(stopped["event"], "stopped")
        self.assertLess(took, 2.5, "a hung portal held the stop up")
        duration = float(ffprobe(movie)["format"]["duration"])
        self.assertGreater(duration, 1.2)
        with open(stopped["clicks"]) as f:
            pointer = json.load(f)["pointer"]
        self.assertLessEqual(pointer[-1]["t"], duration + 0.001)


if __name__ == "__main__":
    unittest.main(verbosity=2)
