"""The faces job on still pictures, through the real program."""
import os
import shutil
import struct
import unittest

from faces_support import KNOWN_FACES, FacesAssertions, ffmpeg, photo, sanitized, tool
from quorvane_test import temp_dir


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def photoshop(bgr, width, height):
    """An uncompressed 8-bit RGB Photoshop file: header, three empty
    sections, then one plane per channel."""
    planes = b"".join(bgr[c::3] for c in (2, 1, 0))
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, height, width, 8, 3)
    return header + struct.pack(">III", 0, 0, 0) + struct.pack(">H", 0) + planes


def targa(bgr, width, height, top_down):
    """An uncompressed 24-bit TGA, stored from the top row or from the bottom."""
    rows = [bgr[i * width * 3:(i + 1) * width * 3] for i in range(height)]
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 24,
                         0x20 if top_down else 0)
    return header + b"".join(rows if top_down else rows[::-1])


class FacesInPictures(FacesAssertions, unittest.TestCase):
    def test_one_face_around_the_known_face(self):
        for name, centre in KNOWN_FACES.items():
            with self.subTest(name):
                result, _ = self.succeed(photo(name))
                self.assertEqual(result["duration"], 0)
                self.assertEqual(result["every"], 0.5)
                self.assertEqual(len(result["samples"]), 1)
                sample = result["samples"][0]
                self.assertEqual(sample["t"], 0)
                self.assertEqual(len(sample["faces"]), 1, sample)
                self.assert_face_at(sample["faces"][0], centre)

    def test_no_face_in_pictures_without_faces(self):
        for name, size in (("chelsea.jpg", (451, 300)), ("coffee.jpg", (600, 400))):
            with self.subTest(name):
                result, _ = self.succeed(photo(name), "--every", "2")
                self.assertEqual((result["width"], result["height"]), size)
                self.assertEqual(result["samples"], [{"faces": [], "t": 0}])
                self.assertEqual(result["every"], 2)

    def test_every_picture_type_decodes(self):
        d = temp_dir(self)
        source = photo("astronaut.jpg")
        made = {
            "PHOTO.JPG": lambda p: shutil.copy(source, p),
            "a.png": lambda p: ffmpeg("-i", source, p),
            "a.bmp": lambda p: ffmpeg("-i", source, p),
            "a.tiff": lambda p: ffmpeg("-i", source, p),
            "a.gif": lambda p: ffmpeg("-i", source, p),
            "a.webp": lambda p: tool("cwebp", "-quiet", source, "-o", p),
            "a.heic": lambda p: tool("heif-enc", "-q", "90", source, "-o", p),
            "a.AVIF": lambda p: tool("heif-enc", "-A", "-q", "90", source, "-o", p),
            "a.jfif": lambda p: shutil.copy(source, p),
            "a.ppm": lambda p: ffmpeg("-i", source, p),
            "a.pnm": lambda p: ffmpeg("-i", source, "-f", "image2", "-c:v", "ppm", p),
            "a.pgm": lambda p: ffmpeg("-i", source, "-pix_fmt", "gray", p),
        }
        for name, make in made.items():
            with self.subTest(name):
                path = os.path.join(d, name)
                make(path)
                result, _ = self.succeed(path)
                self.assertEqual((result["width"], result["height"]), (512, 512))
                faces = result["samples"][0]["faces"]
                self.assertEqual(len(faces), 1, faces)
                self.assert_face_at(faces[0], KNOWN_FACES["astronaut.jpg"])

    def test_pictures_are_decoded_by_content_whatever_their_name(self):
        # Phone exports and renamed downloads: the name says one type, the
        # bytes another. Also the still types read by FFmpeg's decoders.
        d = temp_dir(self)
        # 256 px, so that the sanitizer pass stays short.
        source = os.path.join(d, "astronaut.png")
        ffmpeg("-i", photo("astronaut.jpg"), "-vf", "scale=256:256", source)
        raw = os.path.join(d, "astronaut.bgr")
        ffmpeg("-i", source, "-f", "rawvideo", "-pix_fmt", "bgr24", raw)
        with open(raw, "rb") as f:
            bgr = f.read()
        made = {
            "heic.jpg": lambda p: tool("heif-enc", "-q", "90", source, "-o", p),
            "avif.png": lambda p: tool("heif-enc", "-A", "-q", "90", source, "-o", p),
            "gif.png": lambda p: ffmpeg("-i", source, "-vf",
                                        "split[a][b];[a]palettegen[p];[b][p]paletteuse",
                                        "-f", "gif", p),
            "jpeg.heic": lambda p: ffmpeg("-i", source, "-f", "image2", "-c:v", "mjpeg", p),
            "png.jpg": lambda p: ffmpeg("-i", source, "-f", "image2", "-c:v", "png", p),
            "webp.jpeg": lambda p: tool("cwebp", "-quiet", source, "-o", p),
            "a.jp2": lambda p: ffmpeg("-i", source, "-c:v", "jpeg2000", p),
            "a.exr": lambda p: ffmpeg("-i", source, "-c:v", "exr", p),
            "a.psd": lambda p: write(p, photoshop(bgr, 256, 256)),
            "top.tga": lambda p: write(p, targa(bgr, 256, 256, top_down=True)),
            "bottom.tga": lambda p: write(p, targa(bgr, 256, 256, top_down=False)),
            "a.ico": lambda p: ffmpeg("-i", source, "-pix_fmt", "rgba", "-c:v", "png", "-f", "ico",
                                      p),
        }
        for name, make in made.items():
            with self.subTest(name):
                path = os.path.join(d, name)
                make(path)
                result, _ = self.succeed(path)
                self.assertEqual((result["width"], result["height"]), (256, 256))
                faces = result["samples"][0]["faces"]
                self.assertEqual(len(faces), 1, faces)
                self.assert_face_at(faces[0], KNOWN_FACES["astronaut.jpg"])

    @unittest.skipIf(sanitized(), "dlib on 2000-px pictures is too slow under a sanitizer")
    def test_no_cliff_in_face_size(self):
        # A face of about 40 px in a 1000 x 438 picture, then the same picture
        # a pixel wider and larger still: the face is found at every size.
        d = temp_dir(self)
        base = os.path.join(d, "base.png")
        ffmpeg("-i", photo("astronaut.jpg"), "-vf",
               "scale=228:228,setsar=1,pad=1000:438:600:120:color=gray", base)
        centre = ((600 + KNOWN_FACES["astronaut.jpg"][0] * 228) / 1000,
                  (120 + KNOWN_FACES["astronaut.jpg"][1] * 228) / 438)
        for width in (1000, 1001, 1500, 1999, 2000, 2001):
            with self.subTest(width=width):
                path = os.path.join(d, f"w{width}.png")
                ffmpeg("-i", base, "-vf", f"scale={width}:-1", path)
                result, _ = self.succeed(path)
                faces = result["samples"][0]["faces"]
                self.assertEqual(len(faces), 1, faces)
                self.assertAlmostEqual(faces[0]["x"] + faces[0]["w"] / 2, centre[0], delta=0.02)
                self.assertAlmostEqual(faces[0]["y"] + faces[0]["h"] / 2, centre[1], delta=0.04)

    def test_bitmap_anymap_decodes(self):
        # One bit per pixel leaves no face to find, but the picture is read.
        d = temp_dir(self)
        path = os.path.join(d, "a.pbm")
        ffmpeg("-i", photo("astronaut.jpg"), "-vf", "scale=200:100", "-pix_fmt", "monob", path)
        result, _ = self.succeed(path)
        self.assertEqual((result["width"], result["height"]), (200, 100))
        self.assertEqual(len(result["samples"]), 1)

    @unittest.skipIf(sanitized(), "dlib on a 4096-px picture is too slow under a sanitizer")
    def test_large_pictures_are_scaled_down_and_keep_their_fractions(self):
        # The astronaut inside larger canvases; the largest (12000 px) is read
        # at full size once and looked at scaled down to 4096 px.
        d = temp_dir(self)
        x, y = KNOWN_FACES["astronaut.jpg"]
        for name, side, canvas, at, orientation in (
                ("big.jpg", 2600, (5200, 3900), (1300, 650), None),
                ("turned.jpg", 2600, (5200, 3900), (1300, 650), 6),
                ("huge.png", 4000, (12000, 12000), (5000, 3000), None)):
            with self.subTest(name):
                path = os.path.join(d, name)
                vf = f"scale={side}:{side},pad={canvas[0]}:{canvas[1]}:{at[0]}:{at[1]}"
                if orientation:
                    vf += ",transpose=2"  # stored turned; code 6 shows it upright
                ffmpeg("-i", photo("astronaut.jpg"), "-vf", vf, path)
                if orientation:
                    tool("exiv2", "-M", f"set Exif.Image.Orientation Short {orientation}", path)
                result, _ = self.succeed(path)
                self.assertEqual((result["width"], result["height"]), canvas)
                faces = result["samples"][0]["faces"]
                self.assertEqual(len(faces), 1, faces)
                centre = ((at[0] + x * side) / canvas[0], (at[1] + y * side) / canvas[1])
                self.assert_face_at(faces[0], centre, tolerance=0.02)
                os.remove(path)

    def test_exif_orientation_gives_upright_size_and_boxes(self):
        # Stored turned a quarter counter-clockwise; code 6 shows it upright.
        d = temp_dir(self)
        for extension in ("jpg", "png", "tif", "webp"):
            with self.subTest(extension):
                path = os.path.join(d, "turned." + extension)
                stored = os.path.join(d, "stored.png")
                ffmpeg("-i", photo("grace_hopper.jpg"), "-vf", "transpose=2", stored)
                if extension == "webp":
                    tool("cwebp", "-quiet", stored, "-o", path)
                else:
                    ffmpeg("-i", stored, path)
                tool("exiv2", "-M", "set Exif.Image.Orientation Short 6", path)
                result, _ = self.succeed(path)
                self.assertEqual((result["width"], result["height"]), (512, 600))
                faces = result["samples"][0]["faces"]
                self.assertEqual(len(faces), 1, faces)
                self.assert_face_at(faces[0], KNOWN_FACES["grace_hopper.jpg"])

    def test_unusable_orientation_code_is_a_detector_failure(self):
        d = temp_dir(self)
        path = os.path.join(d, "odd.jpg")
        shutil.copy(photo("chelsea.jpg"), path)
        tool("exiv2", "-M", "set Exif.Image.Orientation Short 9", path)
        self.fail_with("Quorvane could not look for faces in that picture. "
                       "The picture's orientation code 9 is not one of 1 to 8.", path)

    def test_two_faces(self):
        d = temp_dir(self)
        path = os.path.join(d, "two.png")
        ffmpeg("-i", photo("astronaut.jpg"), "-i", photo("grace_hopper.jpg"), "-filter_complex",
               "[0]scale=600:600[a];[a][1]hstack", path)
        result, _ = self.succeed(path)
        self.assertEqual((result["width"], result["height"]), (1112, 600))
        faces = sorted(result["samples"][0]["faces"], key=lambda f: f["x"])
        self.assertEqual(len(faces), 2, faces)
        self.assertLess(faces[0]["x"] + faces[0]["w"], 600 / 1112)
        self.assertGreater(faces[1]["x"], 600 / 1112)

    def test_file_that_is_not_a_picture(self):
        d = temp_dir(self)
        for name, content in (("broken.jpg", b"not a picture at all\n"), ("empty.png", b""),
                              ("broken.heic", b"\x00" * 64), ("broken.gif", b"GIF89a")):
            with self.subTest(name):
                path = os.path.join(d, name)
                with open(path, "wb") as f:
                    f.write(content)
                self.fail_with("Quorvane could not open that picture.", path)

    def test_options_are_checked_for_pictures_too(self):
        self.fail_with("The number of frames to look at must be at least 1.",
                       photo("chelsea.jpg"), "--max", "0")
        result, text = self.succeed(photo("chelsea.jpg"), "--every", "0.25", "--max", "1")
        self.assertEqual(result["every"], 0.25)
        self.assertIn('"every":0.25,', text)


class CommandLine(FacesAssertions, unittest.TestCase):
    USAGE = "usage: faces <video or image> [--every <seconds>] [--max <frames>]"

    def test_usage(self):
        self.fail_with(self.USAGE)
        self.fail_with(self.USAGE, "--every", "1", photo("chelsea.jpg"))

    def test_bad_interval_and_frame_limit(self):
        path = photo("chelsea.jpg")
        for every in ("0", "-1", "inf", "nan", "-0"):
            with self.subTest(every=every):
                self.fail_with("The time between looks must be more than 0 seconds.",
                               path, "--every", every, "--max", "0")
        for limit in ("0", "-5"):
            with self.subTest(limit=limit):
                self.fail_with("The number of frames to look at must be at least 1.", path, "--max", limit)
        for args in (("--every", "abc"), ("--max", "abc"), ("--max",), ("--every",)):
            with self.subTest(args=args):
                result, _ = self.succeed(path, *args)
                self.assertEqual(result["every"], 0.5)

    def test_missing_file_names_the_path_as_typed(self):
        for path in ("no/such/clip.mov", "/tmp/quorvane-missing-clip.mov", "missing.jpg"):
            with self.subTest(path):
                self.fail_with(f"There is no file at {path}.", path)


if __name__ == "__main__":
    unittest.main()
