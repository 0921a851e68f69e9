"""The camera jobs through the real V4L2 code: the test camera (a preloaded
library playing V4L2 nodes) answers for /dev/video* in a private mount
namespace, so listing, streaming, conversion and the movie writer all run
for real. Needs root for the namespace; the recordings that wait on the
no-picture and stalled-camera checks run side by side to keep the time down."""
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import threading
import time
import unittest

from quorvane_test import CAPTURE, PRIVATE_DEV_SCRIPT, ffprobe, temp_dir

SHIM = os.environ.get("QUORVANE_TEST_CAMERA_SHIM", "")

# Inside the namespace: a fresh /dev holding only what programs need, the
# camera nodes as plain files, udev's stable names as links; then the
# command, with the test camera preloaded.
NAMESPACE_SCRIPT = PRIVATE_DEV_SCRIPT + r""". "$d/nodes.sh"
exec env LD_PRELOAD="$QUORVANE_TEST_CAMERA_SHIM" QUORVANE_TEST_CAMERAS="$d/cameras.conf" "$@"
"""

WIDTH, HEIGHT = 1280, 720
OUTSIDE = (255, 0, 255)
# Four bars across the centred square, left to right.
BARS = [(200, 40, 40), (40, 200, 40), (40, 40, 200), (200, 200, 40)]


def pattern_ppm(width=WIDTH, height=HEIGHT):
    side = min(width, height)
    left = (width - side) // 2
    row = bytearray()
    for x in range(width):
        inside = left <= x < left + side
        row += bytes(BARS[(x - left) * 4 // side] if inside else OUTSIDE)
    return b"P6 %d %d 255\n" % (width, height) + bytes(row) * height


def can_make_namespaces():
    if os.geteuid() != 0 or not SHIM:
        return False
    r = subprocess.run(["unshare", "-m", "--propagation", "private", "true"],
                       capture_output=True)
    return r.returncode == 0


class TestCameras:
    """A set of test cameras for one run of the program."""

    def __init__(self, test):
        self.dir = temp_dir(test)
        self.cameras = []
        self.links = []
        self.kept_nodes = False  # nodes bind-mounted from files in self.dir
        self.ppm = os.path.join(self.dir, "pattern.ppm")
        with open(self.ppm, "wb") as f:
            f.write(pattern_ppm())

    def jpeg(self):
        path = os.path.join(self.dir, "pattern.jpg")
        if not os.path.exists(path):
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", self.ppm, "-pix_fmt", "yuvj422p",
                            "-q:v", "2", "-f", "mjpeg", path], check=True)
        return path

    def add(self, node="/dev/video0", fmt="YUYV", card=b"Test Camera", extra=(), link=None,
            sizes=((WIDTH, HEIGHT, 30),)):
        lines = [f"node {node}", f"card {card.hex()}"]
        for width, height, *rates in sizes:
            lines.append(f"format {fmt} {width} {height} " + " ".join(map(str, rates)))
        if fmt == "MJPEG":
            lines.append(f"jpeg {self.jpeg()}")
        else:
            lines.append(f"picture {fmt} {self.ppm}")
        lines += list(extra)
        self.cameras.append((node, lines))
        if link:
            self.links.append((link, node))
        return self

    def _write(self):
        with open(os.path.join(self.dir, "cameras.conf"), "w") as f:
            for _, lines in self.cameras:
                f.write("\n".join(lines) + "\n")
        with open(os.path.join(self.dir, "nodes.sh"), "w") as f:
            for node, _ in self.cameras:
                f.write(f"touch {node}\n")
                if self.kept_nodes:
                    kept = os.path.join(self.dir, "kept-" + os.path.basename(node))
                    f.write(f"touch {kept}; mount --bind {kept} {node}\n")
            if self.links:
                f.write("mkdir -p /dev/v4l/by-id\n")
            for name, node in self.links:
                f.write(f"ln -s ../../{os.path.basename(node)} /dev/v4l/by-id/{name}\n")

    def spawn(self, *args, prefix=(), env=None):
        self._write()
        env = dict(env or os.environ, QUORVANE_TEST_CAMERA_SHIM=SHIM)
        return subprocess.Popen(
            ["unshare", "-m", "--propagation", "private", "sh", "-c", NAMESPACE_SCRIPT, "sh",
             self.dir, *prefix, CAPTURE, *args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)

    def run(self, *args, timeout=30):
        p = self.spawn(*args)
        out, err = p.communicate(timeout=timeout)
        return p.returncode, out, err


class Recording:
    """One record-camera run: waits for `started`, then stops it after `seconds`
    (never, when None) and collects every line."""

    def __init__(self, cameras, *args, seconds=1.5, env=None):
        self.out = os.path.join(cameras.dir, "take.mov")
        self.began = time.monotonic()
        self.started_at = None  # when `started` arrived, on the same clock
        self.stopped_at = None  # when the stop line was sent
        self.proc = cameras.spawn("record-camera", "--out", self.out, "--size", "240", *args,
                                  env=env)
        self.seconds = seconds
        self.lines = []
        self.stderr = b""
        self.thread = threading.Thread(target=self._drive)
        self.thread.start()

    def _drive(self):
        p = self.proc
        stdout = b""
        stopped_at = None
        while True:
            ready, _, _ = select.select([p.stdout], [], [], 0.1)
            if ready:
                chunk = os.read(p.stdout.fileno(), 65536)
                if not chunk:
                    break
                stdout += chunk
                if self.started_at is None and b'"started"' in stdout:
                    self.started_at = time.monotonic()
                if stopped_at is None and b'"started"' in stdout and self.seconds is not None:
                    stopped_at = time.monotonic() + self.seconds
            if stopped_at is not None and time.monotonic() >= stopped_at:
                p.stdin.write(b"\n")
                p.stdin.flush()
                self.stopped_at = time.monotonic()
                stopped_at = float("inf")
        self.stderr = p.stderr.read()
        p.wait(30)
        self.ended_at = time.monotonic()
        self.lines = [line for line in stdout.decode("utf-8").split("\n") if line]

    def result(self, timeout=60):
        self.thread.join(timeout)
        if self.thread.is_alive():
            self.proc.kill()
            self.thread.join()
            raise AssertionError("the recording did not end")
        return self.proc.returncode, [json.loads(line) for line in self.lines]


def rgb_frame(movie, at, size=240):
    """One decoded picture as RGB rows, read the way the movie's tags say."""
    out = subprocess.run(
        ["ffmpeg", "-v", "error", "-ss", str(at), "-i", movie, "-frames:v", "1", "-vf",
         "scale=in_color_matrix=bt709:in_range=tv:out_range=pc,format=rgb24", "-f", "rawvideo",
         "-"], capture_output=True, check=True).stdout
    assert len(out) == size * size * 3, len(out)
    return out


def mean_colour(frame, x0, y0, side=8, size=240):
    total = [0, 0, 0]
    for y in range(y0, y0 + side):
        for x in range(x0, x0 + side):
            i = (y * size + x) * 3
            for c in range(3):
                total[c] += frame[i + c]
    return tuple(round(t / (side * side)) for t in total)


@unittest.skipUnless(can_make_namespaces(), "needs root, unshare and the test camera")
class Listing(unittest.TestCase):
    def test_lists_capture_nodes_with_stable_ids(self):
        cams = TestCameras(self)
        cams.add("/dev/video0", card=b"Integrated Camera: Integrated C",
                 link="usb-Acme_Integrated_Camera-video-index0")
        cams.add("/dev/video1", extra=["metadata"])  # the same camera's metadata node
        cams.add("/dev/video2", card=b"Second", extra=["bus usb-0000:00:14.0-2"])
        status, out, err = cams.run("cameras")
        self.assertEqual((status, err), (0, b""))
        self.assertEqual(json.loads(out), {"ok": True, "cameras": [
            {"id": "usb-Acme_Integrated_Camera-video-index0",
             "name": "Integrated Camera: Integrated C"},
            {"id": "usb-0000:00:14.0-2:Second", "name": "Second"},
        ]})

    def test_names_that_are_not_text_still_give_one_json_line(self):
        # A 32-byte card field cut inside a character, and bytes that are
        # not UTF-8 at all.
        cut = ("Caméra intégrée très lointaine").encode()[:31] + "é".encode()[:1]
        for card in [cut, b"Cam\xff\xfe era"]:
            with self.subTest(card=card):
                cams = TestCameras(self)
                cams.add(card=card)
                status, out, _ = cams.run("cameras")
                self.assertEqual(status, 0)
                self.assertEqual(out.count(b"\n"), 1)
                listing = json.loads(out.decode("utf-8"))
                self.assertTrue(listing["ok"])
                self.assertEqual(len(listing["cameras"]), 1)


@unittest.skipUnless(can_make_namespaces(), "needs root, unshare and the test camera")
class Recordings(unittest.TestCase):
    def check_movie(self, movie, expect_seconds):
        info = ffprobe(movie)
        video = [s for s in info["streams"] if s["codec_type"] == "video"][0]
        self.assertEqual((video["codec_name"], video["width"], video["height"]),
                         ("h264", 240, 240))
        self.assertEqual(video.get("color_space"), "bt709")
        self.assertEqual(video.get("color_range"), "tv")
        self.assertAlmostEqual(float(info["format"]["duration"]), expect_seconds, delta=0.25)

    def check_picture(self, movie, tolerance):
        frame = rgb_frame(movie, 0.2)
        # Mirrored: the pattern's left bar is now on the right.
        for i, bar in enumerate(reversed(BARS)):
            got = mean_colour(frame, 60 * i + 26, 116)
            for channel in range(3):
                self.assertLessEqual(abs(got[channel] - bar[channel]), tolerance,
                                     f"bar {i}: got {got}, wanted {bar}")

    def test_each_format_records_the_mirrored_square_in_true_colours(self):
        cases = [
            ("YUYV", [], 8),
            ("YUYV", ["pad 64"], 8),
            ("NV12", ["pad 64"], 8),
            ("YU12", ["pad 128"], 8),
            ("MJPEG", [], 12),
            ("MJPEG", ["oversize-every 3"], 12),  # claims more bytes than its buffer holds
        ]
        runs = []
        for fmt, extra, tolerance in cases:
            cams = TestCameras(self).add(fmt=fmt, extra=extra)
            runs.append((fmt, extra, tolerance, Recording(cams)))
        # The camera's rate: 30 a second when it offers it, else its own.
        rates = []
        for offered, most in [((60, 30), 32), ((15,), 16.5)]:
            cams = TestCameras(self).add(sizes=((WIDTH, HEIGHT, *offered),))
            rates.append((offered, most, Recording(cams, seconds=2)))
        for offered, most, run in rates:
            with self.subTest(rates=offered):
                status, objects = run.result()
                self.assertEqual(status, 0, objects)
                out = subprocess.run(
                    ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v",
                     "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", run.out],
                    capture_output=True, text=True, check=True).stdout
                per_second = int(out) / objects[-1]["seconds"]
                self.assertLessEqual(per_second, most)
                self.assertGreater(per_second, most / 3)  # a loaded machine takes fewer
        for fmt, extra, tolerance, run in runs:
            with self.subTest(format=fmt, extra=extra):
                status, objects = run.result()
                self.assertEqual(status, 0, objects)
                self.assertEqual(run.stderr, b"")
                self.assertEqual([o["event"] for o in objects], ["started", "stopped"])
                started, stopped = objects
                self.assertEqual((started["camera"], started["width"], started["mic"]),
                                 ("Test Camera", 240, False))
                self.assertNotIn("reason", stopped)
                self.assertGreater(stopped["seconds"], 1.0)
                self.check_movie(run.out, stopped["seconds"])
                self.check_picture(run.out, tolerance)

    def test_the_camera_ending_is_reported(self):
        DISCONNECTED = "The camera was disconnected."
        STALLED = "The camera stopped sending pictures."
        NO_PICTURE = ("The camera did not send a picture. Check that no other app is using it, "
                      "then try again.")
        BUSY = ("The camera recording could not start. The camera could not be opened. "
                "Another app may be using it.")
        DENIED = ("Quorvane is not allowed to use the camera. Allow it in System Settings, "
                  "Privacy & Security, Camera.")
        # (extra lines, stop after seconds, status, reason or error, seconds recorded)
        cases = [
            (["fail-after 20 ENODEV"], None, 0, DISCONNECTED, 0.667),
            (["fail-after 15 EIO"], None, 0, "The camera stopped working. Input/output error",
             0.5),
            (["stall-after 12"], None, 0, STALLED, 0.4),
            (["stall-after 0"], None, 1, NO_PICTURE, None),
            (["busy"], None, 1, BUSY, None),
            (["deny"], None, 1, DENIED, None),
        ]
        runs = []
        for extra, seconds, *_ in cases:
            cams = TestCameras(self).add(extra=extra)
            runs.append((cams, time.monotonic(), Recording(cams, seconds=seconds)))
        for (extra, _, status, message, recorded), (cams, began, run) in zip(cases, runs):
            with self.subTest(extra=extra):
                code, objects = run.result(timeout=60)
                took = time.monotonic() - began
                self.assertEqual(code, status, objects)
                self.assertEqual(run.stderr, b"")
                final = objects[-1]
                if status == 0:
                    self.assertEqual([o["event"] for o in objects], ["started", "stopped"])
                    self.assertEqual(final["reason"], message)
                    # Pictures come at 30 a second at most; a loaded machine
                    # takes them later, never sooner.
                    self.assertGreaterEqual(final["seconds"], recorded - 0.1)
                    self.assertLess(final["seconds"], recorded + 2)
                    self.check_movie(run.out, final["seconds"])
                else:
                    self.assertEqual(len(objects), 1)
                    self.assertEqual(final, {"ok": False, "error": message})
                    self.assertFalse(os.path.exists(run.out))
                if message == STALLED:
                    self.assertGreaterEqual(took, 5.0)
                if message == NO_PICTURE:
                    self.assertGreaterEqual(took, 10.0)

    def test_a_driver_clock_that_jumps_keeps_every_picture_and_the_true_length(self):
        # After one second the driver's times step back by 100 s, jump ahead
        # by an hour, or step back by half a second.
        runs = []
        for step in (-100, 3600, -0.5):
            cams = TestCameras(self).add(extra=[f"clock-step 30 {step}"])
            runs.append((step, Recording(cams, seconds=2.5)))
        for step, run in runs:
            with self.subTest(step=step):
                status, objects = run.result()
                self.assertEqual(status, 0, objects)
                self.assertEqual(run.stderr, b"")
                self.assertEqual([o["event"] for o in objects], ["started", "stopped"])
                stopped = objects[-1]
                self.assertNotIn("reason", stopped)
                # Stopped 2.5 s after `started`: a loaded machine stops later.
                self.assertGreater(stopped["seconds"], 2.3)
                self.assertLess(stopped["seconds"], 5)
                self.check_movie(run.out, stopped["seconds"])
                frames = int(subprocess.run(
                    ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v",
                     "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", run.out],
                    capture_output=True, text=True, check=True).stdout)
                # Pictures after the step are in the movie too.
                self.assertGreater(frames / stopped["seconds"], 10)
                # Seeking near the end finds a picture.
                rgb_frame(run.out, stopped["seconds"] - 0.3)

    def test_a_closed_standard_output_never_becomes_the_camera(self):
        # The camera node is a file kept outside the namespace: with standard
        # output closed at start, the lines must go nowhere rather than into
        # the device.
        cams = TestCameras(self).add()
        cams.kept_nodes = True
        out = os.path.join(cams.dir, "take.mov")
        p = cams.spawn("record-camera", "--out", out, "--size", "240", "--max", "1",
                       prefix=("sh", "-c", 'exec "$0" "$@" >&-'))
        # Standard input stays open: the recording ends at its maximum length.
        status = p.wait(timeout=60)
        err = p.stderr.read()
        p.stdin.close()
        p.stderr.close()
        self.assertEqual((status, err), (0, b""))
        self.assertEqual(os.path.getsize(os.path.join(cams.dir, "kept-video0")), 0)
        self.check_movie(out, 1.0)

    def test_a_camera_is_chosen_by_its_id(self):
        cams = TestCameras(self)
        cams.add("/dev/video0", card=b"First", link="usb-First-video-index0")
        cams.add("/dev/video2", card=b"Other", link="usb-Other-video-index0")
        status, objects = Recording(cams, "--camera", "usb-Other-video-index0",
                                    seconds=0.3).result()
        self.assertEqual(status, 0, objects)
        self.assertEqual(objects[0]["camera"], "Other")


class SilentSoundServer:
    """A sound server that has hung: its socket accepts every connection and
    never answers."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "pulse-native")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(self.path)
        self.sock.listen(16)
        self.held = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                self.held.append(self.sock.accept()[0])
            except OSError:
                return

    def close(self):
        self.sock.close()
        for conn in self.held:
            conn.close()


class PulseServer:
    """A real PulseAudio server of our own with one silent sink, whose monitor
    is the default microphone."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "pulse-real")
        runtime = os.path.join(folder, "pulse-runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=runtime)
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--log-target=stderr", "--log-level=error", "-L",
             f"module-native-protocol-unix socket={self.path} auth-anonymous=1", "-L",
             "module-null-sink sink_name=quiet"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.path):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("the test sound server did not start")
            time.sleep(0.05)

    def close(self):
        self.proc.send_signal(signal.SIGCONT)
        self.proc.terminate()
        self.proc.wait(10)


def sound_env(path):
    return dict(os.environ, PULSE_SERVER="unix:" + path)


def stream_types(movie):
    return sorted(s["codec_type"] for s in ffprobe(movie)["streams"])


@unittest.skipUnless(can_make_namespaces(), "needs root, unshare and the test camera")
class SoundServers(unittest.TestCase):
    def test_a_sound_server_that_never_answers_means_a_silent_movie(self):
        folder = temp_dir(self)
        server = SilentSoundServer(folder)
        self.addCleanup(server.close)
        run = Recording(TestCameras(self).add(), "--mic", seconds=1, env=sound_env(server.path))
        # A stop signal during the microphone's set-up acts at once.
        cams = TestCameras(self).add()
        p = cams.spawn("record-camera", "--out", os.path.join(cams.dir, "take.mov"), "--mic",
                       env=sound_env(server.path))
        self.addCleanup(lambda: p.poll() is None and p.kill())
        time.sleep(0.5)
        signalled = time.monotonic()
        p.send_signal(signal.SIGTERM)
        out, err = p.communicate(timeout=30)
        took = time.monotonic() - signalled
        self.assertEqual((p.returncode, err), (1, b""))
        self.assertEqual(json.loads(out), {
            "ok": False, "error": "The recording stopped before the camera sent a picture."})
        self.assertLess(took, 1.5)

        status, objects = run.result()
        self.assertEqual(status, 0, objects)
        self.assertEqual(run.stderr, b"")
        self.assertEqual([o["event"] for o in objects], ["started", "stopped"])
        self.assertIs(objects[0]["mic"], False)
        # The opening waits about 2 s for the server (more on a loaded machine).
        self.assertLess(run.started_at - run.began, 6)
        self.assertLess(run.ended_at - run.stopped_at, 3)
        self.assertEqual(stream_types(run.out), ["video"])

    @unittest.skipUnless(shutil.which("pulseaudio"), "needs pulseaudio")
    def test_a_sound_server_that_stops_answering_ends_only_the_sound(self):
        folder = temp_dir(self)
        server = PulseServer(folder)
        self.addCleanup(server.close)
        run = Recording(TestCameras(self).add(), "--mic", seconds=2.5, env=sound_env(server.path))
        deadline = time.monotonic() + 30
        while run.started_at is None and run.thread.is_alive() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(1)
        server.proc.send_signal(signal.SIGSTOP)  # stopped, as a hung server
        status, objects = run.result()
        server.proc.send_signal(signal.SIGCONT)
        self.assertEqual(status, 0, objects)
        self.assertEqual(run.stderr, b"")
        self.assertEqual([o["event"] for o in objects], ["started", "stopped"])
        self.assertIs(objects[0]["mic"], True)
        # The stop waits at most half a second for the sound.
        self.assertLess(run.ended_at - run.stopped_at, 2.5)
        stopped = objects[-1]
        self.assertGreater(stopped["seconds"], 2.3)
        video = [s for s in ffprobe(run.out)["streams"] if s["codec_type"] == "video"][0]
        self.assertAlmostEqual(float(video["duration"]), stopped["seconds"], delta=0.25)
        self.assertEqual(stream_types(run.out), ["audio", "video"])


if __name__ == "__main__":
    unittest.main()
