"""record-window while the desktop changes the window under it: a window
manager that minimizes and restores (writing WM_STATE Normal before it maps),
a new border width, a window manager that starts mid-recording, desktop
switches under openbox, and windows their clients really withdraw. Runs the
real binary on private Xvfb displays with window-player, a small X client
that plays the window manager on command."""
import os
import subprocess
import time
import unittest

from quorvane_test import BINARY_DIR, Xvfb, ffprobe, temp_dir
from test_record_window import Recorder, frame_at, mean_difference

PLAYER = os.path.join(BINARY_DIR, "tests", "record_window", "window-player")
WIDTH, HEIGHT = 320, 240


class Player:
    """window-player on a display: its id, and its commands answered."""

    def __init__(self, x, title, manager=False):
        args = [PLAYER, title, str(WIDTH), str(HEIGHT)] + (["--manager"] if manager else [])
        self.proc = subprocess.Popen(args, env=x.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        x.procs.append(self.proc)
        self.id = int(self.proc.stdout.readline())

    def close(self):
        self.proc.stdin.close()
        self.proc.stdout.close()

    def do(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        self.assert_done()

    def assert_done(self):
        if self.proc.stdout.readline().strip() != "done":
            raise AssertionError("window-player did not answer")


class DesktopChanges(unittest.TestCase):
    def start(self, window_manager=False, player_manages=False):
        self.x = Xvfb(size="1024x768x24", window_manager=window_manager).__enter__()
        self.addCleanup(self.x.__exit__, None, None, None)
        self.dir = temp_dir(self)
        self.movie = os.path.join(self.dir, "rec.mov")
        self.player = Player(self.x, "Player", player_manages)
        self.addCleanup(self.player.close)
        try:
            self.x.wait_for_window("Player", timeout=5)
        except AssertionError:
            # openbox now and then drops a map request that comes while it
            # is still starting: ask again.
            self.player.do("map")
            self.x.wait_for_window("Player", timeout=60)

    def record(self):
        r = Recorder(self.x, "--out", self.movie, "--window-id", str(self.player.id),
                     "--no-cursor")
        self.addCleanup(r.kill)
        event = r.line()
        self.assertEqual(event["event"], "started", event)
        self.assertEqual((event["width"], event["height"]), (WIDTH, HEIGHT))
        return r

    def assert_went_on(self, r, recorded):
        """The recording ended by the stop asked for, and its last second still moves."""
        r.stop()
        status, lines = r.rest()
        self.assertEqual(status, 0, lines)
        self.assertEqual(len(lines), 1, lines)
        self.assertNotIn("reason", lines[0])
        duration = float(ffprobe(self.movie)["format"]["duration"])
        self.assertGreater(duration, recorded - 0.5, duration)
        near_end = frame_at(self.movie, 0.15, WIDTH, HEIGHT, from_end=True)
        before = frame_at(self.movie, 0.8, WIDTH, HEIGHT, from_end=True)
        self.assertEqual(len(near_end), WIDTH * HEIGHT * 3)
        self.assertEqual(len(before), WIDTH * HEIGHT * 3)
        self.assertGreater(mean_difference(near_end, before), 10)

    def test_minimize_then_normal_before_map_goes_on(self):
        self.start(player_manages=True)
        r = self.record()
        began = time.monotonic()
        for _ in range(2):
            time.sleep(0.4)
            self.player.do("iconify")
            time.sleep(1.3)
            # The window manager restores: the state first, the map after.
            self.player.do("normal")
            time.sleep(0.6)
            self.player.do("map")
        time.sleep(1.5)
        self.assert_went_on(r, time.monotonic() - began)

    def test_new_border_width_keeps_the_movie_moving(self):
        self.start()
        r = self.record()
        began = time.monotonic()
        time.sleep(0.5)
        self.player.do("border 7")
        time.sleep(1.5)
        self.assert_went_on(r, time.monotonic() - began)
        # The inside is recorded, without the border (black here).
        picture = frame_at(self.movie, 0.15, WIDTH, HEIGHT, from_end=True)
        corner = picture[:3]
        middle = picture[(HEIGHT // 2 * WIDTH + WIDTH // 2) * 3:][:3]
        self.assertLess(mean_difference(corner, middle), 12, (corner, middle))

    def test_window_manager_starting_mid_recording(self):
        self.start()
        r = self.record()
        began = time.monotonic()
        time.sleep(0.5)
        self.x.spawn("openbox", "--sm-disable")
        self.x.wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.x.run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK"), timeout=30)
        # Wait until openbox has taken the window into its frame.
        self.x.wait_for(lambda: "WM_STATE" in self.x.run(
            "xprop", "-id", str(self.player.id), "WM_STATE"), timeout=30)
        time.sleep(1.5)
        self.assert_went_on(r, time.monotonic() - began)

    def test_desktop_switches_and_minimizing_under_openbox(self):
        self.start(window_manager=True)
        r = self.record()
        began = time.monotonic()
        window = str(self.player.id)
        for _ in range(3):
            time.sleep(0.3)
            self.x.run("xdotool", "set_desktop", "1", check=True)
            time.sleep(1.3)
            self.x.run("xdotool", "set_desktop", "0", check=True)
        time.sleep(0.3)
        self.x.run("xdotool", "windowminimize", window, check=True)
        time.sleep(1.3)
        self.x.run("xdotool", "windowactivate", window, check=True)
        time.sleep(1.5)
        self.assert_went_on(r, time.monotonic() - began)

    def test_window_taken_away_by_its_client_ends_the_recording(self):
        # Without a window manager an unmap is the client's own; with one,
        # WM_STATE Withdrawn says so.
        for command, window_manager in [("unmap", False), ("withdraw", False),
                                        ("withdraw", True)]:
            with self.subTest(command=command, window_manager=window_manager):
                self.start(window_manager)
                r = self.record()
                time.sleep(0.5)
                if window_manager:
                    # A client withdraws by unmapping and telling the window
                    # manager, which then writes WM_STATE Withdrawn.
                    self.player.do("unmap")
                    self.x.wait_for(lambda: "Withdrawn" in self.x.run(
                        "xprop", "-id", str(self.player.id), "WM_STATE") or "not found" in
                        self.x.run("xprop", "-id", str(self.player.id), "WM_STATE"),
                        timeout=10)
                else:
                    self.player.do(command)
                status, lines = r.rest(timeout=20)
                self.assertEqual(status, 0, lines)
                self.assertEqual(len(lines), 1, lines)
                self.assertEqual(lines[0].get("reason"),
                                 "The recorded window is no longer on screen.")
                self.x.__exit__(None, None, None)


if __name__ == "__main__":
    unittest.main()
