"""Clicks on the Wayland desktop: record-window on the private headless
mutter with test input devices (FIFOs under /dev/input that a preloaded
library makes answer as a mouse, a touchpad and keyboards, in a private
mount namespace). Presses and taps are written at known times while
mutter's pointer sits at known places. Needs root for the namespace."""
import json
import os
import struct
import subprocess
import time
import unittest

from quorvane_test import PRIVATE_DEV_SCRIPT, Recorder, temp_dir
from wayland_rig import WaylandRig, missing_packages

SHIM = os.environ.get("QUORVANE_TEST_INPUT_SHIM", "")

# Inside the namespace: a fresh /dev holding what programs need and the
# test's folder of device nodes as /dev/input; its device facts as
# /sys/class/input.
NAMESPACE_SCRIPT = PRIVATE_DEV_SCRIPT + r"""mkdir /dev/input
mount --bind "$d/input" /dev/input
mount --bind "$d/sys" /sys/class/input
exec env LD_PRELOAD="$QUORVANE_TEST_INPUT_SHIM" "$@"
"""

EV_SYN, EV_KEY = 0, 1
BTN_LEFT, BTN_RIGHT, BTN_TOOL_FINGER, BTN_TOUCH = 0x110, 0x111, 0x145, 0x14A
KEY_A = 30

# Capability masks as the kernel publishes them (hex words, most significant
# first): ev, key, rel, abs, properties.
DEVICES = {
    "mouse": ("17", "70000 0 0 0 0", "103", "0", "0"),
    "touchpad": ("b", "2420 10000 0 0 0 0", "0", "3", "5"),
    "keyboard": ("120013", "fffffffffffffffe", "0", "0", "0"),
    # A keyboard with a pointer of its own (one device): keys other than
    # pointer buttons keep it closed.
    "keyboard-mouse": ("17", "70000 0 0 0 fffffffffffffffe", "3", "0", "0"),
}


def can_make_namespaces():
    if not SHIM or os.geteuid() != 0:
        return False
    r = subprocess.run(["unshare", "-m", "--propagation", "private", "true"],
                       capture_output=True)
    return r.returncode == 0


class InputDevices:
    """The test's /dev/input (FIFOs kept open for writing) and its facts."""

    def __init__(self, folder):
        self.dir = folder
        self.input = os.path.join(folder, "input")
        self.sys = os.path.join(folder, "sys")
        self.staging = os.path.join(folder, "staging")
        for d in (self.input, self.sys, self.staging):
            os.makedirs(d)
        self.writers = {}
        self.log = os.path.join(folder, "opened.log")

    def add(self, node, kind):
        """Describes the device, then moves its node in, as udev would."""
        device = os.path.join(self.sys, node, "device")
        os.makedirs(os.path.join(device, "capabilities"))
        ev, key, rel, absolute, properties = DEVICES[kind]
        for name, value in (("ev", ev), ("key", key), ("rel", rel), ("abs", absolute)):
            with open(os.path.join(device, "capabilities", name), "w") as f:
                f.write(value + "\n")
        with open(os.path.join(device, "properties"), "w") as f:
            f.write(properties + "\n")
        with open(os.path.join(device, "name"), "w") as f:
            f.write("Test " + kind + "\n")
        staged = os.path.join(self.staging, node)
        os.mkfifo(staged, 0o660)
        self.writers[node] = os.open(staged, os.O_RDWR | os.O_NONBLOCK)
        os.rename(staged, os.path.join(self.input, node))

    def remove(self, node):
        """The device unplugged: its node goes and its events end."""
        os.unlink(os.path.join(self.input, node))
        os.close(self.writers.pop(node))

    def send(self, node, *events):
        """Writes (type, code, value) events and a report, stamped now on
        CLOCK_MONOTONIC; returns that time."""
        now = time.clock_gettime(time.CLOCK_MONOTONIC)
        sec, usec = int(now), int((now - int(now)) * 1e6)
        data = b"".join(struct.pack("qqHHi", sec, usec, t, c, v)
                        for t, c, v in (*events, (EV_SYN, 0, 0)))
        os.write(self.writers[node], data)
        return now

    def opened(self):
        try:
            with open(self.log) as f:
                return sorted({line.strip() for line in f if line.strip()})
        except FileNotFoundError:
            return []

    def close(self):
        for fd in self.writers.values():
            os.close(fd)
        self.writers.clear()


@unittest.skipIf(missing_packages(), "the Wayland rig's packages are missing")
@unittest.skipUnless(can_make_namespaces(), "needs root, unshare and the test input devices")
class WaylandClicks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rig = WaylandRig().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.rig.__exit__(None, None, None)

    def record(self, devices, *args, **env):
        env = self.rig.client_env(QUORVANE_TEST_INPUT_SHIM=SHIM,
                                  QUORVANE_TEST_INPUT_LOG=devices.log, **env)
        recorder = Recorder(env, *args,
                            prefix=["unshare", "-m", "--propagation", "private", "sh", "-c",
                                    NAMESPACE_SCRIPT, "sh", devices.dir])
        self.addCleanup(recorder.close)
        return recorder

    def test_presses_taps_and_devices_that_come_and_go(self):
        self.rig.answer("approve")
        folder = temp_dir(self)
        devices = InputDevices(folder)
        self.addCleanup(devices.close)
        devices.add("event0", "mouse")
        devices.add("event1", "touchpad")
        devices.add("event2", "keyboard")
        devices.add("event3", "keyboard-mouse")
        pointer = self.rig.pointer()
        pointer.to(3, 3)

        out = os.path.join(folder, "clicks.mov")
        recorder = self.record(devices, "--out", out)
        started = recorder.line()
        self.assertEqual(started["event"], "started", started)
        width, height = started["width"], started["height"]
        time.sleep(0.5)

        # A mouse press held a tenth of a second over the window's centre.
        pointer.to(640, 360)
        time.sleep(0.3)
        pressed = [devices.send("event0", (EV_KEY, BTN_LEFT, 1))]
        time.sleep(0.1)
        devices.send("event0", (EV_KEY, BTN_LEFT, 0))
        # Keys typed and a keyboard's own pointer buttons are never read.
        devices.send("event2", (EV_KEY, KEY_A, 1))
        devices.send("event3", (EV_KEY, BTN_LEFT, 1))
        devices.send("event0", (EV_KEY, BTN_RIGHT, 1))
        devices.send("event0", (EV_KEY, BTN_RIGHT, 0))

        # A touchpad tap 70 and 47 pixels further on; a long touch is no tap.
        pointer.to(710, 407)
        time.sleep(0.3)
        # A tap is a press once the finger lifts.
        devices.send("event1", (EV_KEY, BTN_TOOL_FINGER, 1), (EV_KEY, BTN_TOUCH, 1))
        time.sleep(0.05)
        pressed.append(
            devices.send("event1", (EV_KEY, BTN_TOUCH, 0), (EV_KEY, BTN_TOOL_FINGER, 0)))
        time.sleep(0.3)
        devices.send("event1", (EV_KEY, BTN_TOOL_FINGER, 1), (EV_KEY, BTN_TOUCH, 1))
        time.sleep(0.5)
        devices.send("event1", (EV_KEY, BTN_TOUCH, 0), (EV_KEY, BTN_TOOL_FINGER, 0))

        # The mouse unplugged mid-recording; the pad's button held a second;
        # then a mouse plugged in, pressed.
        devices.remove("event0")
        pointer.to(600, 330)
        time.sleep(0.3)
        pressed.append(devices.send("event1", (EV_KEY, BTN_LEFT, 1)))
        time.sleep(1.0)
        devices.send("event1", (EV_KEY, BTN_LEFT, 0))
        devices.add("event4", "mouse")
        pointer.to(680, 380)
        time.sleep(0.3)
        pressed.append(devices.send("event4", (EV_KEY, BTN_LEFT, 1)))
        time.sleep(0.1)
        devices.send("event4", (EV_KEY, BTN_LEFT, 0))
        time.sleep(0.3)
        # A press off the window (the stream then tells no position): not
        # inside, never at a place over the window.
        pointer.to(3, 3)
        time.sleep(0.3)
        devices.send("event4", (EV_KEY, BTN_LEFT, 1))
        time.sleep(0.1)
        devices.send("event4", (EV_KEY, BTN_LEFT, 0))
        time.sleep(0.3)

        status, stopped = recorder.stop()
        self.assertEqual(status, 0, stopped)
        self.assertEqual(sorted(stopped), ["clicks", "event", "file", "ok"])
        with open(stopped["clicks"]) as f:
            log = json.load(f)
        clicks = log["clicks"]
        self.assertEqual(len(clicks), 5, clicks)
        outside = clicks.pop()
        self.assertFalse(outside["inside"], outside)
        self.assertTrue(outside["x"] in (0, 1) or outside["y"] in (0, 1), outside)

        # Each click at its tick: the gaps between them are the presses'
        # gaps, within two ticks.
        for i in range(1, 4):
            self.assertAlmostEqual(clicks[i]["t"] - clicks[0]["t"], pressed[i] - pressed[0],
                                   delta=0.04, msg=clicks)
        # Places from the stream's cursor metadata, relative to the first.
        self.assertEqual([c["inside"] for c in clicks], [True] * 4, clicks)
        for click, (x, y) in zip(clicks[1:], ((710, 407), (600, 330), (680, 380))):
            self.assertAlmostEqual(click["x"] - clicks[0]["x"], (x - 640) / width, delta=0.0015)
            self.assertAlmostEqual(click["y"] - clicks[0]["y"], (y - 360) / height, delta=0.0015)

        self.assertEqual(devices.opened(), ["/dev/input/event0", "/dev/input/event1",
                                            "/dev/input/event4"])

    def test_a_left_handed_desktop_clicks_with_the_right_button(self):
        self.rig.answer("approve")
        folder = temp_dir(self)
        settings = os.path.join(folder, "config", "glib-2.0", "settings")
        os.makedirs(settings)
        with open(os.path.join(settings, "keyfile"), "w") as f:
            f.write("[org/gnome/desktop/peripherals/mouse]\nleft-handed=true\n")
        devices = InputDevices(folder)
        self.addCleanup(devices.close)
        devices.add("event0", "mouse")
        devices.add("event1", "touchpad")
        self.rig.pointer().to(640, 360)

        recorder = self.record(devices, "--out", os.path.join(folder, "left.mov"),
                               GSETTINGS_BACKEND="keyfile",
                               XDG_CONFIG_HOME=os.path.join(folder, "config"))
        self.assertEqual(recorder.line()["event"], "started")
        time.sleep(0.3)
        pressed = []
        for button in (BTN_LEFT, BTN_RIGHT):
            pressed.append(devices.send("event0", (EV_KEY, button, 1)))
            time.sleep(0.1)
            devices.send("event0", (EV_KEY, button, 0))
            time.sleep(0.3)
        # The touchpad follows the mouse; a tap is a press either way.
        devices.send("event1", (EV_KEY, BTN_TOOL_FINGER, 1), (EV_KEY, BTN_TOUCH, 1))
        time.sleep(0.05)
        pressed.append(
            devices.send("event1", (EV_KEY, BTN_TOUCH, 0), (EV_KEY, BTN_TOOL_FINGER, 0)))
        time.sleep(0.3)
        status, stopped = recorder.stop()
        self.assertEqual(status, 0, stopped)
        with open(stopped["clicks"]) as f:
            clicks = json.load(f)["clicks"]
        self.assertEqual(len(clicks), 2, clicks)
        # The right button's press and the tap, not the left button's.
        self.assertAlmostEqual(clicks[1]["t"] - clicks[0]["t"], pressed[2] - pressed[1],
                               delta=0.04)


if __name__ == "__main__":
    unittest.main()
