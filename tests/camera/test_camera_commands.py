"""The camera jobs as the host application runs them, on a machine without
a camera: listing, and every refusal that comes before recording."""
import os
import unittest

from quorvane_test import run_capture, temp_dir

USAGE = "usage: record-camera --out <file> [--size 720] [--mic]"
MAX = "--max must be a number of seconds."
NO_CAMERA = "No camera was found. Connect one and try again."
NOT_CONNECTED = "That camera is not connected. Pick another one."


def has_cameras():
    return any(name.startswith("video") for name in os.listdir("/dev"))


class Cameras(unittest.TestCase):
    def test_lists_no_camera(self):
        if has_cameras():
            self.skipTest("this machine has a camera")
        r = run_capture("cameras")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stdout, '{"cameras":[],"ok":true}\n')


class RecordCameraRefusals(unittest.TestCase):
    def test_each_refusal_is_one_error_object(self):
        d = temp_dir(self)
        out = os.path.join(d, "take.mov")
        cases = [
            ([], USAGE),
            (["--size", "300"], USAGE),
            (["--mic", "--out"], USAGE),
            (["--out", out, "--max", "inf"], MAX),
            (["--out", out, "--max", "nan"], MAX),
            (["--out", out, "--max", "ten"], MAX),
            (["--out", out, "--max", ""], MAX),
            (["--out", out, "--camera", "usb-Nothing_Here-video-index0"], NOT_CONNECTED),
            (["--out", out, "--camera", "usb-Nothing_Here-video-index0", "--max", "x"], MAX),
        ]
        if not has_cameras():
            cases += [
                (["--out", out], NO_CAMERA),
                (["--out", out, "--mic", "--size", "5000", "--max", "0"], NO_CAMERA),
            ]
        for args, message in cases:
            with self.subTest(args=args):
                r = run_capture("record-camera", *args, timeout=30)
                self.assertEqual(r.returncode, 1)
                self.assertEqual(r.object(), {"ok": False, "error": message})
                self.assertEqual(r.stderr, "")

    def test_unknown_camera_touches_no_file(self):
        d = temp_dir(self)
        out = os.path.join(d, "take.mov")
        with open(out, "w") as f:
            f.write("an earlier take")
        r = run_capture("record-camera", "--out", out, "--camera", "no-such-camera", "--mic")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.object(), {"ok": False, "error": NOT_CONNECTED})
        with open(out) as f:
            self.assertEqual(f.read(), "an earlier take")
        self.assertEqual(os.listdir(d), ["take.mov"])


if __name__ == "__main__":
    unittest.main()
