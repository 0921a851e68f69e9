"""The faces job on videos, through the real program."""
import json
import os
import subprocess
import unittest

from faces_support import KNOWN_FACES, FacesAssertions, ffmpeg, photo, sanitized
from quorvane_test import CAPTURE, temp_dir

PAD = "scale=512:512,setsar=1,pad=1280:720:384:104,format=yuv420p"
# Where the astronaut's face lands inside the padded 1280×720 picture.
PADDED_FACE = ((384 + KNOWN_FACES["astronaut.jpg"][0] * 512) / 1280,
               (104 + KNOWN_FACES["astronaut.jpg"][1] * 512) / 720)


def still_video(path, picture, seconds, vf=PAD, audio=True, extra=()):
    args = ["-loop", "1", "-i", picture]
    if audio:
        args += ["-f", "lavfi", "-i", f"sine=d={seconds}"]
    args += ["-t", str(seconds), "-vf", vf, "-r", "30", "-c:v", "libx264", "-preset", "ultrafast", *extra]
    if audio:
        args += ["-c:a", "aac", "-shortest"]
    ffmpeg(*args, path)


class FacesInVideos(FacesAssertions, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = temp_dir(cls._cleanups_holder())
        cls.ten = os.path.join(cls.dir, "ten.mp4")
        still_video(cls.ten, photo("astronaut.jpg"), 10)

    @classmethod
    def _cleanups_holder(cls):
        holder = unittest.TestCase()
        cls._holder = holder
        return holder

    @classmethod
    def tearDownClass(cls):
        cls._holder.doCleanups()

    def test_ten_seconds_every_half_second(self):
        result, _ = self.succeed(self.ten)
        self.assertEqual(result["duration"], 10)
        self.assertEqual((result["width"], result["height"]), (1280, 720))
        self.assertEqual(result["every"], 0.5)
        self.assertEqual([s["t"] for s in result["samples"]], [i / 2 for i in range(20)])
        for sample in result["samples"]:
            self.assertEqual(len(sample["faces"]), 1, sample)
            self.assert_face_at(sample["faces"][0], PADDED_FACE, tolerance=0.03)

        result, _ = self.succeed(self.ten, "--max", "3")
        self.assertEqual([s["t"] for s in result["samples"]], [0, 0.5, 1])

    def test_tenth_of_a_second_steps_are_written_exactly(self):
        path = os.path.join(self.dir, "one.mp4")
        still_video(path, photo("chelsea.jpg"), 1, vf="scale=320:240,format=yuv420p", audio=False)
        result, text = self.succeed(path, "--every", "0.1")
        self.assertEqual(len(result["samples"]), 10)
        self.assertIn('"t":0.3}', text)
        self.assertIn('"t":0.7}', text)
        self.assertNotIn("0000000", text)
        self.assertIn('"every":0.1,', text)

    def test_short_video_gives_one_sample(self):
        path = os.path.join(self.dir, "short.mp4")
        still_video(path, photo("chelsea.jpg"), 0.3, vf="scale=320:240,format=yuv420p", audio=False)
        result, _ = self.succeed(path)
        self.assertEqual([s["t"] for s in result["samples"]], [0])
        self.assertAlmostEqual(result["duration"], 0.3, delta=0.05)

    def test_pictures_are_taken_at_exact_times(self):
        # One second each: face, cat, face, cat, face, cat; key frames only
        # every 1.5 s, with B-frames, so the nearest key frame is often wrong.
        path = os.path.join(self.dir, "alternating.mp4")
        args = []
        for i in range(6):
            args += ["-loop", "1", "-t", "1", "-i", photo("astronaut.jpg" if i % 2 == 0 else "chelsea.jpg")]
        chains = ";".join(f"[{i}]{PAD},fps=30[v{i}]" for i in range(6))
        ffmpeg(*args, "-filter_complex", chains + ";" + "".join(f"[v{i}]" for i in range(6)) +
               "concat=n=6:v=1:a=0", "-c:v", "libx264", "-preset", "ultrafast", "-g", "45", "-bf", "2", path)
        for every in ("0.5", "1.25", "0.75"):
            with self.subTest(every=every):
                result, _ = self.succeed(path, "--every", every)
                times = [s["t"] for s in result["samples"]]
                step = float(every)
                self.assertEqual(times, [round(i * step, 3) for i in range(len(times))])
                self.assertGreater(len(times), int(5.9 / step))
                for sample in result["samples"]:
                    expected = 1 if int(sample["t"]) % 2 == 0 else 0
                    self.assertEqual(len(sample["faces"]), expected, sample)

    def test_turned_video_reports_upright_size_and_boxes(self):
        # Stored turned a quarter counter-clockwise; the display matrix turns it back.
        stored = os.path.join(self.dir, "stored.mp4")
        path = os.path.join(self.dir, "turned.mp4")
        still_video(stored, photo("grace_hopper.jpg"), 2, vf="transpose=2,format=yuv420p", audio=False)
        ffmpeg("-i", stored, "-c", "copy", "-metadata:s:v:0", "rotate=270", path)
        result, _ = self.succeed(path, "--every", "1")
        self.assertEqual((result["width"], result["height"]), (512, 600))
        self.assertEqual(len(result["samples"]), 2)
        for sample in result["samples"]:
            self.assertEqual(len(sample["faces"]), 1, sample)
            self.assert_face_at(sample["faces"][0], KNOWN_FACES["grace_hopper.jpg"])

    def test_large_frames_are_scaled_but_fractions_hold(self):
        path = os.path.join(self.dir, "large.mp4")
        still_video(path, photo("astronaut.jpg"), 1,
                    vf="scale=1024:1024,pad=2560:1440:768:208,format=yuv420p", audio=False)
        result, _ = self.succeed(path, "--every", "1")
        self.assertEqual((result["width"], result["height"]), (2560, 1440))
        faces = result["samples"][0]["faces"]
        self.assertEqual(len(faces), 1, faces)
        self.assert_face_at(faces[0], PADDED_FACE, tolerance=0.03)

    def test_small_face_in_720p_video(self):
        # The astronaut's face is 90 px of her 512: scaled to 312, about 55 px,
        # which the frame's own size would miss.
        path = os.path.join(self.dir, "small-face.mp4")
        still_video(path, photo("astronaut.jpg"), 1,
                    vf="scale=312:312,setsar=1,pad=1280:720:700:300,format=yuv420p", audio=False)
        result, _ = self.succeed(path)
        self.assertEqual(len(result["samples"]), 2)
        centre = ((700 + KNOWN_FACES["astronaut.jpg"][0] * 312) / 1280,
                  (300 + KNOWN_FACES["astronaut.jpg"][1] * 312) / 720)
        for sample in result["samples"]:
            self.assertEqual(len(sample["faces"]), 1, sample)
            face = sample["faces"][0]
            self.assertAlmostEqual(face["x"] + face["w"] / 2, centre[0], delta=0.02)
            self.assertAlmostEqual(face["y"] + face["h"] / 2, centre[1], delta=0.03)
            self.assertAlmostEqual(face["h"] * 720, 55, delta=12)

    @unittest.skipIf(sanitized(), "dlib on 4K pictures is too slow under a sanitizer")
    def test_small_face_in_4k_video(self):
        # A face of about 70 px in a 3840 x 2160 picture: scaled down to
        # 1280 px it would be 23 px, too small to find.
        path = os.path.join(self.dir, "small-face-4k.mp4")
        still_video(path, photo("astronaut.jpg"), 1,
                    vf="scale=398:398,setsar=1,pad=3840:2160:2000:1200,format=yuv420p", audio=False)
        result, _ = self.succeed(path, "--every", "1")
        self.assertEqual((result["width"], result["height"]), (3840, 2160))
        faces = result["samples"][0]["faces"]
        self.assertEqual(len(faces), 1, faces)
        self.assertAlmostEqual(faces[0]["x"] + faces[0]["w"] / 2,
                               (2000 + KNOWN_FACES["astronaut.jpg"][0] * 398) / 3840, delta=0.01)
        self.assertAlmostEqual(faces[0]["h"] * 2160, 70, delta=20)

    def test_one_worker_and_every_worker_give_the_same_result(self):
        # A face now and then between changing and still stretches, so that
        # workers finish out of order and some pictures take the last faces.
        path = os.path.join(self.dir, "mixed.mp4")
        args = []
        pictures = ["astronaut.jpg", "chelsea.jpg", "grace_hopper.jpg", "astronaut.jpg"]
        for name in pictures:
            args += ["-loop", "1", "-t", "1.5", "-i", photo(name)]
        chains = ";".join(f"[{i}]{PAD},fps=30[v{i}]" for i in range(len(pictures)))
        ffmpeg(*args, "-f", "lavfi", "-i", "testsrc2=s=320x180:r=30:d=6", "-filter_complex",
               chains + ";" + "".join(f"[v{i}]" for i in range(len(pictures))) +
               f"concat=n={len(pictures)}:v=1:a=0[s];[s][{len(pictures)}]overlay=x='if(lt(t,3),mod(t*200,960),0)':y=540",
               "-c:v", "libx264", "-preset", "ultrafast", path)
        outputs = []
        for prefix in ([], ["taskset", "-c", "0"]):
            r = subprocess.run([*prefix, CAPTURE, "faces", path, "--every", "0.25"],
                               capture_output=True, text=True, timeout=600)
            self.assertEqual((r.returncode, r.stderr), (0, ""))
            outputs.append(r.stdout)
        self.assertEqual(outputs[0], outputs[1])
        samples = json.loads(outputs[0])["samples"]
        self.assertIn(len(samples), (24, 25))  # six seconds, give or take a frame
        with_face = [s["t"] for s in samples if s["faces"]]
        # The cat shows from 1.5 s to 3 s (give or take a frame at the joins).
        self.assertTrue(all(not 1.6 < t < 2.9 for t in with_face), with_face)
        self.assertGreaterEqual(len(with_face), 15, samples)

    def test_sound_only_file(self):
        path = os.path.join(self.dir, "sound.m4a")
        ffmpeg("-f", "lavfi", "-i", "sine=d=2", path)
        self.fail_with("That file has no picture to look at.", path)

    def test_file_that_is_not_a_video(self):
        path = os.path.join(self.dir, "notes.mov")
        with open(path, "w") as f:
            f.write("just some words\n")
        self.fail_with("Quorvane could not open that video. "
                       "The file is damaged or of a kind Quorvane cannot read", path)


class FrameExactness(FacesAssertions, unittest.TestCase):
    """Which picture is examined at a time: frames alternate between a face
    and a cat, so a picture one frame early or late shows the wrong one."""

    FPS = 30
    FRAMES = 90

    @classmethod
    def setUpClass(cls):
        cls.dir = temp_dir_for(cls)
        face = os.path.join(cls.dir, "face.png")
        cat = os.path.join(cls.dir, "cat.png")
        ffmpeg("-i", photo("astronaut.jpg"), "-vf", "scale=320:320", face)
        ffmpeg("-i", photo("chelsea.jpg"), "-vf", "scale=320:320,setsar=1", cat)
        for i in range(cls.FRAMES):
            os.symlink(face if i % 2 == 0 else cat, os.path.join(cls.dir, f"f{i:03d}.png"))
        frames = ["-framerate", str(cls.FPS), "-i", os.path.join(cls.dir, "f%03d.png")]
        cls.videos = {
            # Time bases of one frame: AVI, and MP4 whose time scale is the frame rate.
            "mjpeg.avi": ["-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p"],
            "timescale.mp4": ["-c:v", "libx264", "-preset", "ultrafast", "-g", "10",
                              "-pix_fmt", "yuv420p", "-video_track_timescale", str(cls.FPS)],
            # Open groups with a deep B-frame pyramid: a key frame found for a
            # time is often shown after it.
            "pyramid.mp4": ["-c:v", "libx265", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                            "-x265-params", "keyint=12:min-keyint=12:bframes=8:b-pyramid=1:"
                            "open-gop=1:b-adapt=0:rc-lookahead=20:pools=none:frame-threads=1:"
                            "log-level=error"],
        }
        for name, codec in cls.videos.items():
            ffmpeg(*frames, *codec, os.path.join(cls.dir, name))

    def test_the_picture_on_screen_at_each_time(self):
        # 0.05 s is a frame and a half: every other time falls in the second
        # half of a frame. 0.37 s and 0.39 s make the walk seek (to key frames
        # shown after some of the times), and 0.299 s ends within the last frame.
        # Under a sanitizer dlib is slow: the seeking and last-frame intervals only.
        intervals = ("0.37", "0.299") if sanitized() else ("0.05", "0.37", "0.39", "0.299")
        for name in self.videos:
            for every in intervals:
                with self.subTest(video=name, every=every):
                    result, _ = self.succeed(os.path.join(self.dir, name), "--every", every)
                    self.assertEqual(result["duration"], 3)
                    times = [s["t"] for s in result["samples"]]
                    tried = [round(i * float(every), 3) for i in range(100)
                             if i * float(every) < 3]
                    self.assertEqual(times, tried)
                    wrong = []
                    for sample in result["samples"]:
                        frame = round(sample["t"] * 600) * self.FPS // 600
                        if len(sample["faces"]) != (1 if frame % 2 == 0 else 0):
                            wrong.append(sample["t"])
                    self.assertEqual(wrong, [])


def temp_dir_for(cls):
    import shutil
    import tempfile
    d = tempfile.mkdtemp(prefix="quorvane-test-")
    cls.addClassCleanup(shutil.rmtree, d, True)
    return d


if __name__ == "__main__":
    unittest.main()
