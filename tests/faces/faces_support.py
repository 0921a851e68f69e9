"""Helpers shared by the faces process tests: running the job, the known face
positions of the fixture photographs, and making derived fixtures."""
import json
import os
import subprocess

from quorvane_test import BINARY_DIR, fixture, run_capture

# Upright face centres (fractions) of the fixture photographs.
KNOWN_FACES = {
    "astronaut.jpg": (0.43, 0.24),
    "grace_hopper.jpg": (0.535, 0.39),
}


def photo(name):
    return fixture("faces", name)


def run_faces(*args, timeout=300):
    return run_capture("faces", *args, timeout=timeout)


def sanitized():
    """Whether this build runs under a sanitizer: dlib is then far too slow
    for large pictures, and memory figures mean nothing."""
    try:
        with open(os.path.join(BINARY_DIR, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("QUORVANE_SANITIZE:"):
                    return line.split("=", 1)[1].strip() not in ("", "OFF")
    except OSError:
        pass
    return False


def tool(*cmd):
    subprocess.run(list(cmd), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def ffmpeg(*args):
    tool("ffmpeg", "-v", "error", "-y", *args)


class FacesAssertions:
    """Mixed into unittest.TestCase classes."""

    def succeed(self, *args):
        r = run_faces(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        self.assertEqual(len(r.lines), 1, r.stdout)
        result = json.loads(r.lines[0])
        self.assertNotIn("ok", result)
        self.assertEqual(sorted(result), ["duration", "every", "height", "samples", "width"])
        return result, r.stdout

    def fail_with(self, line, *args):
        r = run_faces(*args)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "")
        self.assertEqual(r.stderr, line + "\n")

    def assert_face_at(self, face, centre, tolerance=0.06):
        cx, cy = face["x"] + face["w"] / 2, face["y"] + face["h"] / 2
        self.assertAlmostEqual(cx, centre[0], delta=tolerance, msg=face)
        self.assertAlmostEqual(cy, centre[1], delta=tolerance, msg=face)
        self.assertTrue(0.05 < face["w"] < 0.5 and 0.05 < face["h"] < 0.5, face)
        self.assertTrue(0.7 < face["confidence"] <= 1, face)
        self.assertLessEqual(face["x"] + face["w"], 1)
        self.assertLessEqual(face["y"] + face["h"], 1)
