"""record-window, screen-access and windows on a private Wayland desktop
(headless mutter, PipeWire, the real desktop-portal frontend with the test
back end of this folder): a foot window recorded through the picker, its
movie and click log, the stored choice restored without the picker, and
the refusals. Skips only when the rig's packages are not installed."""
import json
import os
import subprocess
import time
import unittest
import uuid

from quorvane_test import CAPTURE, Recorder, ffprobe, temp_dir
from wayland_rig import BACKEND_NAME, DEBIAN_PYTHON, WaylandRig, missing_packages

PERMISSION = ("Quorvane is not allowed to record the screen yet. Switch it on in System "
              "Settings, Privacy & Security, Screen & System Audio Recording, then reopen "
              "Quorvane.")


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

    def choices_path(self):
        return os.path.join(self.rig.state, "quorvane", "portal-choices.json")

    def stored_choices(self):
        """The stored tokens by --app text (None: the run without --app), and
        the texts newest first."""
        with open(self.choices_path()) as f:
            stored = json.load(f)
        self.assertEqual(stored["version"], 2)
        return {c.get("app"): c["token"] for c in stored["choices"]}

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
        token = self.stored_choices()["foot"]
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
        # window; before the pointer is seen, and once it has left the window,
        # samples sit at the window's edge (the one it left by); no clicks
        # without pointer devices.
        with open(stopped["clicks"]) as f:
            log = json.load(f)
        self.assertEqual(log["window"], {"height": height, "width": width, "x": 0, "y": 0})
        self.assertEqual(log["clicks"], [])
        positions = []
        for sample in log["pointer"]:
            p = (sample["x"], sample["y"])
            if not positions or positions[-1] != p:
                positions.append(p)
        self.assertEqual(len(positions), 4, positions)  # unknown, two places, gone
        self.assertEqual(positions[0], (0, 0))
        (x1, y1), (x2, y2) = positions[1], positions[2]
        self.assertAlmostEqual(x2 - x1, 70 / width, delta=0.0015)
        self.assertAlmostEqual(y2 - y1, 47 / height, delta=0.0015)
        x3, y3 = positions[3]
        self.assertTrue(x3 in (0, 1) or y3 in (0, 1), positions)

    def test_2_stored_choice_is_restored_without_the_picker(self):
        self.assertIn("foot", self.stored_choices(), "needs the first test's choice")
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
        uuid.UUID(self.stored_choices()["foot"])

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
                self.assertNotIn("nothing-" + answer, self.stored_choices())

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

    def test_6_the_desktop_stopping_the_cast_has_its_own_reason(self):
        out = os.path.join(temp_dir(self), "stopped.mov")
        recorder = self.record("--out", out, "--app", "stopping")
        self.assertEqual(recorder.line()["event"], "started")
        time.sleep(1)
        subprocess.run(["gdbus", "call", "--session", "--dest", BACKEND_NAME, "--object-path",
                        "/org/freedesktop/portal/desktop", "--method",
                        "org.quorvane.Test.StopCasts"],
                       env=self.rig.env, capture_output=True, check=True, timeout=30)
        stopped = recorder.line()
        self.assertEqual(recorder.proc.wait(timeout=30), 0)
        self.assertEqual(sorted(stopped), ["clicks", "event", "file", "ok", "reason"])
        self.assertEqual(stopped["reason"], "The system stopped the recording.")
        self.assertGreaterEqual(float(ffprobe(out)["format"]["duration"]), 0.5)

    def test_7_recordings_at_once_keep_each_others_choices(self):
        folder = temp_dir(self)
        apps = ["one", "two", "three"]
        recorders = [self.record("--out", os.path.join(folder, app + ".mov"), "--app", app)
                     for app in apps]
        for recorder in recorders:
            self.assertEqual(recorder.line(timeout=90)["event"], "started")
        for recorder in recorders:
            self.assertEqual(recorder.stop()[0], 0)
        choices = self.stored_choices()
        for app in apps + ["foot"]:
            uuid.UUID(choices[app])
        self.assertEqual(os.stat(self.choices_path()).st_mode & 0o777, 0o600)

    def test_8_nothing_is_asked_for_a_movie_that_cannot_be_written(self):
        seen = len(self.rig.backend_entries())
        out = os.path.join(temp_dir(self), "missing", "x.mov")
        self.assertEqual(
            self.one_line("--out", out, "--app", "unwritable"),
            (1, {"error": "The recording could not start. Quorvane cannot write the movie " +
                 out + ": No such file or directory", "ok": False}))
        self.assertEqual(self.rig.backend_entries()[seen:], [])
        self.assertNotIn("unwritable", self.stored_choices())

    def test_9_a_state_folder_that_cannot_be_written_never_stops_a_recording(self):
        blocker = os.path.join(temp_dir(self), "a-file")
        open(blocker, "w").close()
        out = os.path.join(temp_dir(self), "stateless.mov")
        recorder = Recorder(self.rig.client_env(XDG_STATE_HOME=os.path.join(blocker, "state")),
                            "--out", out, "--app", "stateless")
        self.addCleanup(recorder.close)
        self.assertEqual(recorder.line()["event"], "started")
        time.sleep(0.5)
        status, stopped = recorder.stop()
        self.assertEqual((status, stopped["event"]), (0, "stopped"))
        self.assertGreaterEqual(float(ffprobe(out)["format"]["duration"]), 0.3)


class DesktopsWithoutWindowCasts(unittest.TestCase):
    """A Wayland session without XWayland whose session bus has no portal, or
    one that casts monitors only: the portal's own sentences, not the
    permission message."""

    def setUp(self):
        if missing_packages():
            self.skipTest("needs " + ", ".join(missing_packages()))
        self.dir = temp_dir(self)
        self.config = os.path.join(self.dir, "bus.conf")
        with open(self.config, "w") as f:
            # A bus that starts no service on demand.
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration '
                    '1.0//EN" "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                    "<busconfig><type>session</type><listen>unix:tmpdir=%s</listen>"
                    '<policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                    '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n'
                    % self.dir)

    def run_on_bus(self, portal_script, *args):
        """Runs quorvane-capture on a private session bus, with `portal_script`
        (Python, or "") serving first; returns (exit status, its one line)."""
        out = os.path.join(self.dir, "x.mov")
        script = ""
        if portal_script:
            path = os.path.join(self.dir, "portal.py")
            with open(path, "w") as f:
                f.write(portal_script)
            script = ("%s %s & until gdbus call --session --dest org.freedesktop.DBus "
                      "--object-path /org/freedesktop/DBus --method "
                      "org.freedesktop.DBus.NameHasOwner org.freedesktop.portal.Desktop "
                      "| grep -q true; do sleep 0.05; done; " % (DEBIAN_PYTHON, path))
        env = {"PATH": os.environ["PATH"], "HOME": self.dir, "XDG_SESSION_TYPE": "wayland",
               "WAYLAND_DISPLAY": "wayland-none", "XDG_STATE_HOME": self.dir}
        command = script + " ".join("'%s'" % a for a in (CAPTURE, *args))
        if args[0] == "record-window":
            # Standard input stays open and silent (a FIFO opened both ways):
            # an ending input would stop the recording before it failed.
            fifo = os.path.join(self.dir, "input")
            if not os.path.exists(fifo):
                os.mkfifo(fifo)
            command += " --out '%s' --app foot 0<>'%s'" % (out, fifo)
        r = subprocess.run(["dbus-run-session", "--config-file=" + self.config, "--",
                            "sh", "-c", command], env=env, capture_output=True, timeout=60)
        lines = r.stdout.decode().splitlines()
        self.assertEqual(len(lines), 1, (lines, r.stderr))
        return r.returncode, json.loads(lines[0])

    def test_sentences_of_each_job(self):
        monitors_only = """
import dbus, dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
class Portal(dbus.service.Object):
    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"AvailableSourceTypes": dbus.UInt32(1), "AvailableCursorModes": dbus.UInt32(1)}
Portal(bus, "/org/freedesktop/portal/desktop")
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
GLib.MainLoop().run()
"""
        for script, sentence in [("", "The desktop portal does not answer."),
                                 (monitors_only, "The desktop portal cannot record single "
                                                 "windows.")]:
            with self.subTest(sentence=sentence):
                self.assertEqual(self.run_on_bus(script, "windows"),
                                 (1, {"error": sentence, "ok": False}))
                self.assertEqual(self.run_on_bus(script, "record-window"),
                                 (1, {"error": "The recording could not start. " + sentence,
                                      "ok": False}))
                self.assertEqual(self.run_on_bus(script, "screen-access"),
                                 (0, {"granted": False, "ok": True}))


if __name__ == "__main__":
    unittest.main()
