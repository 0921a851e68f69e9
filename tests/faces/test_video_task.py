"""The video path's task thread and main run loop, kept small enough to run
under ThreadSanitizer: one short video, a success and a failure."""
import os
import unittest

from faces_support import FacesAssertions, ffmpeg, photo
from quorvane_test import temp_dir


class VideoTask(FacesAssertions, unittest.TestCase):
    def test_short_video_and_sound_only_file(self):
        d = temp_dir(self)
        video = os.path.join(d, "small.mp4")
        ffmpeg("-loop", "1", "-i", photo("grace_hopper.jpg"), "-t", "1", "-vf",
               "scale=256:300,format=yuv420p", "-r", "10", "-c:v", "libx264", "-preset", "ultrafast", video)
        result, _ = self.succeed(video)
        self.assertEqual((result["width"], result["height"]), (256, 300))
        self.assertEqual([s["t"] for s in result["samples"]], [0, 0.5])
        for sample in result["samples"]:
            self.assertEqual(len(sample["faces"]), 1, sample)

        sound = os.path.join(d, "sound.m4a")
        ffmpeg("-f", "lavfi", "-i", "sine=d=1", sound)
        self.fail_with("That file has no picture to look at.", sound)


if __name__ == "__main__":
    unittest.main()
