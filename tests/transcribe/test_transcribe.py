"""The transcribe job through the real binary, on real synthetic speech."""
import difflib
import json
import os
import shutil
import subprocess
import unittest
import wave

from quorvane_test import clean_env, run_capture, temp_dir

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"

SENTENCES = [
    "the quick brown fox jumps over the lazy dog",
    "open the window and let the fresh air into the room",
    "the weather today is sunny with a light breeze from the west",
]


def speak(text, path, voice="slt"):
    """Synthesises `text` to a WAV file; returns the spoken span (seconds)
    from flite's own segment timings."""
    out = subprocess.run(["flite", "-voice", voice, "-psdur", "-t", text, "-o", path],
                         capture_output=True, text=True, check=True).stdout.split()
    segments = [(name, float(end)) for name, end in (s.rsplit(":", 1) for s in out)]
    first = segments[0][1] if segments[0][0] == "pau" else 0.0
    last = segments[-2][1] if segments[-1][0] == "pau" else segments[-1][1]
    return first, last


def frames_and_rate(path):
    with wave.open(path) as w:
        return w.getnframes(), w.getframerate()


def sh(*cmd):
    subprocess.run(list(cmd), check=True, capture_output=True)


def found_share(reference, words):
    """How much of the reference text was recognised, in order (0…1)."""
    ref = reference.lower().split()
    hyp = [w["text"].lower() for w in words]
    m = difflib.SequenceMatcher(a=ref, b=hyp, autojunk=False)
    return sum(b.size for b in m.get_matching_blocks()) / len(ref)


class TranscribeCase(unittest.TestCase):
    def transcribe(self, *args, env=None):
        """Runs the job, checks the one-line contract and returns the object."""
        r = run_capture("transcribe", *args, env=env if env is not None else clean_env(),
                        timeout=300)
        self.assertEqual(r.stderr, "")
        self.assertEqual(len(r.lines), 1, r.stdout)
        self.assertTrue(r.stdout.endswith("\n"))
        obj = r.object()
        self.assertEqual(r.returncode, 0 if obj.get("ok") else 1, r.stdout)
        return obj

    def assert_transcript(self, obj):
        self.assertEqual(sorted(obj), ["duration", "locale", "ok", "words"], obj)
        self.assertIs(obj["ok"], True)
        for w in obj["words"]:
            self.assertEqual(sorted(w), ["end", "start", "text"])
            self.assertEqual(w["text"], w["text"].strip())
            self.assertTrue(w["text"])
            self.assertNotRegex(w["text"], r"^(<.*>|\[.*\]|\+.*\+)$|\(\d+\)$")
            self.assertLessEqual(w["start"], w["end"])


class Speech(TranscribeCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = temp_dir_for_class(cls)
        cls.clips = []
        for i, text in enumerate(SENTENCES):
            path = os.path.join(cls.dir, f"s{i}.wav")
            cls.clips.append((text, path, speak(text, path)))

    def test_words_are_found_inside_the_spoken_span(self):
        for text, path, (first, last) in self.clips:
            with self.subTest(text=text):
                obj = self.transcribe(path)
                self.assert_transcript(obj)
                self.assertEqual(obj["locale"], "en-US")
                frames, rate = frames_and_rate(path)
                self.assertEqual(obj["duration"], frames / rate)
                self.assertGreaterEqual(found_share(text, obj["words"]), 0.6, obj["words"])
                for w in obj["words"]:
                    self.assertGreaterEqual(w["start"], first - 0.1, w)
                    self.assertLessEqual(w["end"], last + 0.1, w)
                starts = [w["start"] for w in obj["words"]]
                self.assertEqual(starts, sorted(starts))

    def test_a_silent_gap_does_not_shift_later_words(self):
        (text_a, a, _), (text_b, b, (b_first, b_last)) = self.clips[0], self.clips[1]
        joined = os.path.join(self.dir, "joined.wav")
        gap = 6.0
        padded = os.path.join(self.dir, "padded.wav")
        sh("sox", a, padded, "pad", "0", str(gap))
        sh("sox", padded, b, joined)
        frames_a, rate = frames_and_rate(a)
        offset = frames_a / rate + gap

        alone = self.transcribe(b)["words"]
        whole = self.transcribe(joined)
        self.assert_transcript(whole)
        frames, rate = frames_and_rate(joined)
        self.assertEqual(whole["duration"], frames / rate)
        later = [w for w in whole["words"] if w["start"] >= offset - 0.2]
        earlier = [w for w in whole["words"] if w["start"] < offset - 0.2]
        self.assertGreaterEqual(found_share(text_a, earlier), 0.6, earlier)
        self.assertGreaterEqual(found_share(text_b, later), 0.6, later)
        for w in earlier:
            self.assertLessEqual(w["end"], frames_a / rate + 0.1, w)
        # The second sentence's words sit where they sit in the sentence alone, moved by the offset.
        matcher = difflib.SequenceMatcher(a=[w["text"] for w in alone],
                                          b=[w["text"] for w in later], autojunk=False)
        pairs = [(alone[blk.a + k], later[blk.b + k])
                 for blk in matcher.get_matching_blocks() for k in range(blk.size)]
        self.assertGreaterEqual(len(pairs), 0.7 * len(alone))
        for solo, moved in pairs:
            self.assertAlmostEqual(moved["start"], solo["start"] + offset, delta=0.1)
            self.assertAlmostEqual(moved["end"], solo["end"] + offset, delta=0.1)
        for w in later:
            self.assertGreaterEqual(w["start"], offset + b_first - 0.1, w)
            self.assertLessEqual(w["end"], offset + b_last + 0.1, w)

    def test_one_core_gives_the_transcript_of_every_core(self):
        joined = os.path.join(self.dir, "three.wav")
        pause = os.path.join(self.dir, "pause.wav")
        sh("sox", "-n", "-r", "16000", "-c", "1", "-b", "16", pause, "trim", "0", "0.8")
        sh("sox", *[p for _, path, _ in self.clips for p in (path, pause)] * 2, joined)
        every = subprocess.run([os.environ["QUORVANE_CAPTURE"], "transcribe", joined],
                               capture_output=True, timeout=300, env=clean_env())
        one = subprocess.run(["taskset", "-c", "0", os.environ["QUORVANE_CAPTURE"], "transcribe",
                              joined], capture_output=True, timeout=300, env=clean_env())
        self.assertEqual(every.returncode, 0, every.stdout)
        self.assertGreater(len(json.loads(every.stdout)["words"]), 30)
        self.assertEqual(one.stdout, every.stdout)

    def test_formats_and_a_movie_sound_track(self):
        text, src, _ = self.clips[2]
        frames, rate = frames_and_rate(src)
        length = frames / rate
        stereo = os.path.join(self.dir, "stereo48k.wav")
        sh("sox", src, "-r", "48000", "-c", "2", stereo)
        exact = {"stereo48k.wav": None}
        for name, codec in [("x.flac", []), ("x.aiff", []), ("x.caf", ["-c:a", "pcm_s16le"]),
                            ("x.mp3", []), ("x.m4a", ["-c:a", "aac"]), ("x.opus", []),
                            ("x.mkv", ["-c:a", "libvorbis"])]:
            sh("ffmpeg", "-v", "error", "-y", "-i", src, *codec, os.path.join(self.dir, name))
            if name in ("x.flac", "x.aiff", "x.caf", "x.m4a"):
                exact[name] = None
        movie = os.path.join(self.dir, "movie.mov")
        sh("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=30",
           "-i", src, "-map", "0:v", "-map", "1:a", "-shortest", "-c:v", "libx264",
           "-preset", "ultrafast", "-c:a", "aac", "-ar", "48000", movie)
        names = ["stereo48k.wav", "x.flac", "x.aiff", "x.caf", "x.mp3", "x.m4a", "x.opus",
                 "x.mkv", "movie.mov"]
        for name in names:
            with self.subTest(name=name):
                obj = self.transcribe(os.path.join(self.dir, name))
                self.assert_transcript(obj)
                self.assertGreaterEqual(found_share(text, obj["words"]), 0.6, obj["words"])
                if name in exact:
                    self.assertAlmostEqual(obj["duration"], length, delta=1e-9)
                else:
                    self.assertAlmostEqual(obj["duration"], length, delta=0.1)


def paired(reference, words):
    """The words of `words` that match `reference`'s in order, as pairs."""
    m = difflib.SequenceMatcher(a=[w["text"] for w in reference], b=[w["text"] for w in words],
                                autojunk=False)
    return [(reference[blk.a + k], words[blk.b + k])
            for blk in m.get_matching_blocks() for k in range(blk.size)]


class Timeline(TranscribeCase):
    """Word times are positions on the file's own timeline: a sound track that
    starts late in a movie moves its words, and trimmed encoder priming does
    not."""

    @classmethod
    def setUpClass(cls):
        cls.dir = temp_dir_for_class(cls)
        parts = []
        for i, text in enumerate(SENTENCES[:2]):
            part = os.path.join(cls.dir, f"p{i}.wav")
            speak(text, part)
            parts.append(part)
        cls.wav = os.path.join(cls.dir, "speech.wav")
        sh("sox", *parts, cls.wav)

    def movie(self, name, *audio):
        """A movie with a picture track from 0 and the speech as its sound."""
        path = os.path.join(self.dir, name)
        sh("ffmpeg", "-v", "error", "-y", "-f", "lavfi",
           "-i", "testsrc=size=160x120:rate=10:duration=9", *audio,
           "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", path)
        return path

    def test_word_starts_agree_once_each_files_offset_is_taken_off(self):
        d = self.dir
        m4a = os.path.join(d, "speech.m4a")
        sh("ffmpeg", "-v", "error", "-y", "-i", self.wav, "-c:a", "aac", m4a)
        mp3 = os.path.join(d, "speech.mp3")
        sh("ffmpeg", "-v", "error", "-y", "-i", self.wav, mp3)
        late_m4a = os.path.join(d, "late.m4a")
        sh("ffmpeg", "-v", "error", "-y", "-itsoffset", "1.936", "-i", self.wav, "-c:a", "aac",
           late_m4a)
        # (name, file, where the speech starts, silence added to the sound itself)
        cases = [
            ("m4a", m4a, 0.0, 0.0),
            ("mp3 (declared encoder delay)", mp3, 0.0, 0.0),
            ("mp4, sound track offset by its edit list",
             self.movie("late.mp4", "-itsoffset", "1.936", "-i", self.wav,
                        "-map", "0:v", "-map", "1:a"), 1.936, 0.0),
            ("mp4, sound delayed in the track",
             self.movie("adelay.mp4", "-i", self.wav, "-filter_complex", "[1:a]adelay=1936[a]",
                        "-map", "0:v", "-map", "[a]"), 1.936, 1.936),
            ("m4a whose only track starts late", late_m4a, 1.936, 0.0),
        ]
        reference = self.transcribe(self.wav)
        self.assertGreaterEqual(found_share(" ".join(SENTENCES[:2]), reference["words"]), 0.6)
        for name, path, offset, added in cases:
            with self.subTest(name=name):
                obj = self.transcribe(path)
                self.assert_transcript(obj)
                pairs = paired(reference["words"], obj["words"])
                self.assertGreaterEqual(len(pairs), 0.8 * len(reference["words"]), obj["words"])
                # A lossy codec may move a single word's boundary by a frame
                # or more; the place of the sound moves them all.
                shifts = sorted(word["start"] - offset - ref["start"] for ref, word in pairs)
                self.assertLessEqual(abs(shifts[len(shifts) // 2]), 0.02, shifts)
                close = [d for d in shifts if abs(d) <= 0.02]
                self.assertGreaterEqual(len(close), 0.8 * len(shifts), shifts)
                # The length stays the sound's own, whatever its place.
                self.assertAlmostEqual(obj["duration"], reference["duration"] + added,
                                       delta=0.07)


    def test_words_after_a_timestamp_gap_keep_their_place(self):
        # The sound's timestamps jump 2.5 s between the two sentences, as
        # after a dropout in a recording; the samples themselves run on.
        frames, rate = frames_and_rate(os.path.join(self.dir, "p0.wav"))
        cut, jump = frames / rate, 2.5
        reference = self.transcribe(self.wav)
        for name, codec in (("gap.mkv", ["-c:a", "libvorbis"]), ("gap.webm", ["-c:a", "libopus"]),
                            ("gap.ts", ["-c:a", "aac"])):
            with self.subTest(name=name):
                path = os.path.join(self.dir, name)
                sh("ffmpeg", "-v", "error", "-y", "-i", self.wav, "-af",
                   f"asetpts='if(gte(T,{cut:.3f}),PTS+{jump}/TB,PTS)'", *codec, path)
                obj = self.transcribe(path)
                self.assert_transcript(obj)
                pairs = paired(reference["words"], obj["words"])
                self.assertGreaterEqual(len(pairs), 0.8 * len(reference["words"]), obj["words"])
                for ref, word in pairs:
                    moved = jump if ref["start"] >= cut else 0
                    self.assertAlmostEqual(word["start"], ref["start"] + moved, delta=0.1,
                                           msg=(ref, word))
                # AAC in a transport stream declares no encoder priming: its
                # length holds about a tenth of a second more.
                self.assertAlmostEqual(obj["duration"], reference["duration"] + jump, delta=0.15)


class Silence(TranscribeCase):
    def test_silence_only_gives_no_words_and_the_exact_length(self):
        d = temp_dir(self)
        cases = [
            ("zero.wav", ["-r", "44100", "-c", "1"], ["trim", "0", "3.5"], 3.5),
            ("hiss.wav", ["-r", "22050", "-c", "2"],
             ["synth", "1.5", "whitenoise", "vol", "0.0005"], 1.5),
            ("empty.wav", ["-r", "16000", "-c", "1"], ["trim", "0", "0"], 0),
        ]
        for name, fmt, effect, length in cases:
            with self.subTest(name=name):
                path = os.path.join(d, name)
                sh("sox", "-n", *fmt, "-b", "16", path, *effect)
                frames, rate = frames_and_rate(path)
                self.assertEqual(frames / rate, length)
                obj = self.transcribe(path)
                self.assertEqual(obj, {"ok": True, "locale": "en-US", "duration": length,
                                       "words": []})


class Locales(TranscribeCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = temp_dir_for_class(cls)
        cls.clip = os.path.join(cls.dir, "hello.wav")
        speak(SENTENCES[0], cls.clip)

    def test_locale_choice_and_silent_fall_back(self):
        cases = [
            (["en-US"], {}),
            (["fr-FR"], {}),
            (["en"], {}),
            (["en_US"], {}),
            (["not a locale!"], {}),
            (["en-US", "third", "fourth"], {}),
            ([], {"LANG": "fr_FR.UTF-8"}),
            ([], {"LANG": "en_GB.UTF-8", "LC_ALL": "en_US.UTF-8"}),
            ([], {"LANG": "C"}),
            ([], {}),
        ]
        for args, env in cases:
            with self.subTest(args=args, env=env):
                e = clean_env()
                e.pop("LANG", None)
                e.update(env)
                obj = self.transcribe(self.clip, *args, env=e)
                self.assert_transcript(obj)
                self.assertEqual(obj["locale"], "en-US")
                self.assertGreaterEqual(found_share(SENTENCES[0], obj["words"]), 0.6)


class Failures(TranscribeCase):
    def test_usage_comes_first(self):
        r = run_capture("transcribe")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, '{"error":"usage: transcribe <audio file> [locale]","ok":false}\n')
        self.assertEqual(r.stderr, "")

    def test_unreadable_files_fail_with_the_readers_description(self):
        d = temp_dir(self)
        text = os.path.join(d, "notes.txt")
        with open(text, "w") as f:
            f.write("not audio at all\n" * 10)
        silent_movie = os.path.join(d, "silent.mp4")
        sh("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=duration=1:size=64x64:rate=10",
           "-c:v", "libx264", "-preset", "ultrafast", silent_movie)
        truncated = os.path.join(d, "cut.mp3")
        sh("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=2", truncated)
        with open(truncated, "r+b") as f:
            f.truncate(0)
        cases = [
            (os.path.join(d, "missing.wav"),
             "The audio file " + os.path.join(d, "missing.wav")
             + " could not be opened: No such file or directory."),
            (d, None),
            (text, None),
            (silent_movie, "The file " + silent_movie + " holds no sound."),
            (truncated, None),
        ]
        for path, message in cases:
            with self.subTest(path=path):
                for extra in ([], ["fr-FR"]):
                    obj = self.transcribe(path, *extra)
                    self.assertIs(obj["ok"], False)
                    self.assertEqual(sorted(obj), ["error", "ok"])
                    if message:
                        self.assertEqual(obj["error"], message)
                    else:
                        self.assertTrue(obj["error"].startswith("The audio file " + path), obj)

    def test_names_that_are_not_utf8_still_get_their_error_line(self):
        d = temp_dir(self)
        path = os.fsencode(d) + b"/caf\xe9.wav"
        r = subprocess.run([os.environ["QUORVANE_CAPTURE"], "transcribe", path, b"fr-\xffFR"],
                           capture_output=True, timeout=300, env=clean_env())
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"")
        obj = json.loads(r.stdout.decode("utf-8"))
        self.assertEqual(obj, {"ok": False, "error": "The audio file " + d
                               + "/caf\ufffd.wav could not be opened: No such file or directory."})

    def test_relative_paths_are_read_from_the_working_directory(self):
        d = temp_dir(self)
        speak("hello world", os.path.join(d, "hi.wav"))
        r = subprocess.run([os.environ["QUORVANE_CAPTURE"], "transcribe", "hi.wav"], cwd=d,
                           capture_output=True, text=True, timeout=300, env=clean_env())
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn('"ok":true', r.stdout)


@unittest.skipUnless(os.path.isdir(LIBRIVOX), "pocketsphinx-testdata is not installed")
class Recordings(TranscribeCase):
    def test_read_speech_is_mostly_found(self):
        refs = {}
        with open(os.path.join(LIBRIVOX, "transcription")) as f:
            for line in f:
                words, _, name = line.strip().rpartition(" (")
                refs[name.rstrip(")")] = words.replace("<s>", "").replace("</s>", "").strip()
        total = found = 0
        for name, text in sorted(refs.items()):
            obj = self.transcribe(os.path.join(LIBRIVOX, name + ".wav"))
            self.assert_transcript(obj)
            frames, rate = frames_and_rate(os.path.join(LIBRIVOX, name + ".wav"))
            self.assertEqual(obj["duration"], frames / rate)
            n = len(text.split())
            total += n
            found += found_share(text, obj["words"]) * n
        self.assertGreaterEqual(found / total, 0.6)


def word_error_rate(reference, hypothesis):
    """Word-level edit distance over the reference's length."""
    ref, hyp = reference.lower().split(), hypothesis.lower().split()
    row = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        prev, row[0] = row[0], i
        for j, h in enumerate(hyp, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (r != h))
    return row[-1] / len(ref)


class SteadyBackground(TranscribeCase):
    TEXT = ("the quick brown fox jumps over the lazy dog while the children play in the garden "
            "and the old man reads his newspaper near the window")

    def test_words_over_a_hum_reach_the_end(self):
        # Speech stands only a few dB above this hum, which never pauses.
        d = temp_dir_for_class(type(self))
        speech = os.path.join(d, "speech.wav")
        hum = os.path.join(d, "hum.wav")
        mixed = os.path.join(d, "mixed.wav")
        _, last = speak(self.TEXT, speech)
        frames, rate = frames_and_rate(speech)
        sh("sox", "-n", "-r", str(rate), "-c", "1", hum, "synth", str(frames / rate),
           "sine", "120", "sine", "240", "remix", "1-2", "vol", "0.3")
        sh("sox", "-m", speech, hum, mixed)
        obj = self.transcribe(mixed, "en-US")
        self.assert_transcript(obj)
        words = obj["words"]
        self.assertTrue(words)
        self.assertEqual(words[-1]["text"], "window", words)
        self.assertGreater(words[-1]["end"], last - 0.3)
        ours = word_error_rate(self.TEXT, " ".join(w["text"] for w in words))
        self.assertLess(ours, 0.25, words)
        # The stock decoder with the same model, where it is installed.
        peer = shutil.which("pocketsphinx_continuous")
        if peer:
            model = "/usr/share/pocketsphinx/model/en-us"
            out = subprocess.run([peer, "-infile", mixed, "-hmm", model + "/en-us",
                                  "-lm", model + "/en-us.lm.bin",
                                  "-dict", model + "/cmudict-en-us.dict", "-logfn", "/dev/null"],
                                 capture_output=True, text=True, timeout=120).stdout
            self.assertLessEqual(ours, word_error_rate(self.TEXT, " ".join(out.split())) + 0.05)


def temp_dir_for_class(cls):
    import shutil
    import tempfile
    d = tempfile.mkdtemp(prefix="quorvane-test-")
    cls.addClassCleanup(shutil.rmtree, d, True)
    return d


if __name__ == "__main__":
    unittest.main()
