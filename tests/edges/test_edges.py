"""Hostile inputs at the edges of every job, through the real binary: names
with colons and protocol prefixes, text that is not UTF-8, names with control
characters, pipes, folders, sockets and standard output named as media, a
standard output that fails, stop signals early and mid-recording, too little
memory.

Every case checks three things: one final line (valid JSON on standard
output; for faces, one line on standard error), the exit status, and that
nothing was written but --out and its side file."""
import json
import os
import select
import signal
import socket
import subprocess
import time
import unittest

from quorvane_test import CAPTURE, Xvfb, clean_env, ffprobe, temp_dir

SANITIZED = bool(os.environ.get("QUORVANE_SANITIZE"))
REPLACEMENT = "\ufffd"


def files_in(folder):
    found = set()
    for root, _, names in os.walk(os.fsencode(folder)):
        for name in names:
            found.add(os.path.relpath(os.path.join(root, name), os.fsencode(folder)))
    return found


class Run:
    """One finished run: status, standard output and error as bytes."""

    def __init__(self, status, out, err):
        self.status, self.out, self.err = status, out, err

    def lines(self):
        return [json.loads(line.decode("utf-8")) for line in self.out.split(b"\n") if line]


def start(args, cwd, env=None, stdout=subprocess.PIPE, stdin=subprocess.PIPE, preexec=None):
    """Starts quorvane-capture in `cwd`; arguments may be bytes (not UTF-8)."""
    proc = subprocess.Popen([os.fsencode(CAPTURE), *[os.fsencode(a) if isinstance(a, str) else a
                                                     for a in args]],
                            cwd=cwd, env=env or clean_env(), stdin=stdin, stdout=stdout,
                            stderr=subprocess.PIPE, preexec_fn=preexec)
    if isinstance(stdout, int) and stdout >= 0:
        os.close(stdout)  # the child holds its own copy
    return proc


def closed_pipe():
    """The writing end of a pipe whose reader has already gone."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    return write_end


def finish_with_stdin_open(proc, timeout=120):
    """Waits for the end without closing standard input (which would stop a
    recording)."""
    out, err = b"", b""
    deadline = time.monotonic() + timeout
    streams = [s for s in (proc.stdout, proc.stderr) if s]
    while streams:
        left = deadline - time.monotonic()
        if left <= 0:
            raise AssertionError(f"no end; output so far {out!r}")
        ready, _, _ = select.select(streams, [], [], left)
        for stream in ready:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                streams.remove(stream)
            elif stream is proc.stdout:
                out += chunk
            else:
                err += chunk
    status = proc.wait(max(deadline - time.monotonic(), 1))
    return Run(status, out, err)


def finish(proc, timeout=120):
    out, err = proc.communicate(timeout=timeout)
    return Run(proc.returncode, out or b"", err)


class Edges(unittest.TestCase):
    """Shared checks."""

    def folder(self):
        return temp_dir(self)

    def assert_final_line(self, run, status, ok=None, error_part=None):
        """Every line is valid JSON; the last one ends the job."""
        lines = run.lines()
        self.assertGreaterEqual(len(lines), 1, (run.out, run.err))
        self.assertTrue(run.out.endswith(b"\n"))
        final = lines[-1]
        self.assertEqual(run.status, status, (lines, run.err))
        if ok is not None:
            self.assertIs(final["ok"], ok, final)
        if error_part is not None:
            self.assertIn(error_part, final["error"])
        return final

    def assert_faces_failure(self, run, part=None):
        self.assertEqual(run.status, 1, (run.out, run.err))
        self.assertEqual(run.out, b"")
        self.assertTrue(run.err.endswith(b"\n"), run.err)
        text = run.err.decode("utf-8")  # valid text
        self.assertEqual(text.count("\n"), 1, text)
        if part:
            self.assertIn(part, text)
        return text

    def assert_only(self, folder, before, *names):
        written = files_in(folder) - before
        self.assertLessEqual(written, {os.fsencode(n) for n in names}, written)


class Shell(Edges):
    def test_unknown_words_that_are_not_utf8(self):
        for word, shown in [(b"\xff\xfe", REPLACEMENT * 2), (b"caf\xe9", "caf" + REPLACEMENT),
                            (b"\xe2\x82", REPLACEMENT), (b"\xc0\xaf", REPLACEMENT * 2)]:
            with self.subTest(word=word):
                d = self.folder()
                run = finish(start([word], d))
                final = self.assert_final_line(run, 0, ok=False)
                self.assertEqual(final["error"], "unknown command " + shown)
                self.assertEqual(files_in(d), set())

    def test_a_standard_output_that_fails_ends_with_status_one(self):
        cases = [["hardware"], ["version"], ["nonsense"], ["transcribe"], ["screen-access"],
                 ["windows"], ["cameras"], ["record-window"], ["record-camera", "--size"]]
        for args in cases:
            with self.subTest(args=args, stdout="/dev/full"):
                d = self.folder()
                with open("/dev/full", "wb") as full:
                    run = finish(start(args, d, stdout=full))
                self.assertEqual(run.status, 1, run.err)
                self.assertEqual(files_in(d), set())
            with self.subTest(args=args, stdout="closed pipe"):
                d = self.folder()
                run = finish(start(args, d, stdout=closed_pipe()))
                self.assertEqual(run.status, 1, run.err)
                self.assertEqual(files_in(d), set())

    def test_closed_standard_descriptors_are_never_taken_by_files(self):
        # Standard output (or all three) closed at start: the files the job
        # opens must not become standard output and receive its line.
        for args in (["hardware"], ["version"], ["cameras"]):
            for closed in ((1,), (0, 1, 2)):
                with self.subTest(args=args, closed=closed):
                    d = self.folder()
                    proc = start(args, d, stdout=None, stdin=None,
                                 preexec=lambda closed=closed: [os.close(fd) for fd in closed])
                    _, err = proc.communicate(timeout=60)
                    self.assertEqual((proc.returncode, err), (0, b""))
                    self.assertEqual(files_in(d), set())


class Transcribe(Edges):
    def speech(self, folder, name):
        path = os.path.join(os.fsencode(folder), os.fsencode(name))
        subprocess.run([b"flite", b"-voice", b"slt", b"-t", b"hello world", b"-o", path],
                       check=True, capture_output=True)
        return path

    def test_names_with_colons_are_files(self):
        d = self.folder()
        self.speech(d, "take:1.wav")
        before = files_in(d)
        run = finish(start(["transcribe", "take:1.wav"], d))
        final = self.assert_final_line(run, 0)
        self.assertIn("words", final)
        self.assert_only(d, before)

    def test_protocol_prefixes_are_names_of_missing_files(self):
        d = self.folder()
        self.speech(d, "a.wav")
        before = files_in(d)
        for name in ["pipe:0", "file:a.wav", "concat:a.wav|a.wav", "http://127.0.0.1:1/a.wav",
                     "subfile,,start,0,end,0,,:a.wav", "data:audio/wav;base64,AAAA"]:
            with self.subTest(name=name):
                started = time.monotonic()
                # Standard input holds sound: pipe:0 must not read it.
                proc = start(["transcribe", name], d)
                with open(os.path.join(d, "a.wav"), "rb") as sound:
                    proc.stdin.write(sound.read())
                proc.stdin.close()
                proc.stdin = None
                run = finish(proc)
                final = self.assert_final_line(run, 1, ok=False)
                self.assertIn(name, final["error"])
                self.assertLess(time.monotonic() - started, 60)
                self.assert_only(d, before)

    def test_names_and_locales_that_are_not_utf8(self):
        d = self.folder()
        self.speech(d, "a.wav")
        before = files_in(d)
        for args in [["transcribe", b"gone\xff.wav"], ["transcribe", b"a.wav", b"\xff\xfe"],
                     ["transcribe", b"gone\xe9.wav", b"fr_\xff"]]:
            with self.subTest(args=args):
                run = finish(start(args, d))
                self.assertIn(run.status, (0, 1))
                final = self.assert_final_line(run, run.status)
                if run.status == 1:
                    self.assertIs(final["ok"], False)
                self.assert_only(d, before)


class Faces(Edges):
    def picture(self, folder, name, size="64x48", color="gray"):
        path = os.path.join(os.fsencode(folder), os.fsencode(name))
        subprocess.run([b"ffmpeg", b"-v", b"error", b"-f", b"lavfi", b"-i",
                        f"color=c={color}:s={size}".encode(), b"-frames:v", b"1",
                        b"-f", b"image2", b"-update", b"1", path],
                       check=True, capture_output=True)
        return path

    def video(self, folder, name):
        path = os.path.join(os.fsencode(folder), os.fsencode(name))
        subprocess.run([b"ffmpeg", b"-v", b"error", b"-f", b"lavfi", b"-i",
                        b"testsrc=s=160x120:d=1:r=10", b"-pix_fmt", b"yuv420p", b"-f", b"mp4",
                        path], check=True, capture_output=True)
        return path

    def test_names_with_colons_are_files(self):
        d = self.folder()
        self.picture(d, "take:1.gif")
        self.picture(d, "take:2.png")
        self.video(d, "take:3.mp4")
        before = files_in(d)
        for name in ["take:1.gif", "take:2.png", "take:3.mp4"]:
            with self.subTest(name=name):
                run = finish(start(["faces", name], d))
                self.assertEqual(run.status, 0, run.err)
                self.assertEqual(run.err, b"")
                lines = run.lines()
                self.assertEqual(len(lines), 1)
                self.assertNotIn("ok", lines[0])
                self.assert_only(d, before)

    def test_protocol_prefixes_are_names_of_missing_files(self):
        d = self.folder()
        self.video(d, "a.mp4")
        self.picture(d, "b.gif")
        before = files_in(d)
        for name in ["pipe:0", "file:a.mp4", "concat:a.mp4|a.mp4", "http://127.0.0.1:1/a.mp4",
                     "file:b.gif"]:
            with self.subTest(name=name):
                run = finish(start(["faces", name], d))
                self.assert_faces_failure(run, name)
                self.assert_only(d, before)

    def test_a_video_whose_name_hides_a_protocol_stays_a_file(self):
        # "concat:a.mp4" is a real file here: it must be read as that file.
        d = self.folder()
        self.video(d, "concat:a.mp4")
        before = files_in(d)
        run = finish(start(["faces", "concat:a.mp4", "--every", "0.5"], d))
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(len(run.lines()[0]["samples"]), 2)
        self.assert_only(d, before)

    def test_names_that_are_not_utf8(self):
        d = self.folder()
        self.picture(d, b"caf\xe9.png")
        before = files_in(d)
        run = finish(start(["faces", b"gone\xff.png"], d))
        text = self.assert_faces_failure(run)
        self.assertIn("gone" + REPLACEMENT + ".png", text)
        run = finish(start(["faces", b"caf\xe9.png"], d))
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(len(run.lines()), 1)
        self.assert_only(d, before)

    def test_a_failure_for_a_name_with_control_characters_is_one_line(self):
        d = self.folder()
        for name, shown in [("no\nsuch.jpg", "no\\nsuch.jpg"),
                            ("a\r\x1b[2Jb.mp4", "a\\r\\x1B[2Jb.mp4")]:
            with self.subTest(name=name):
                run = finish(start(["faces", name], d))
                text = self.assert_faces_failure(run)
                self.assertEqual(text, f"There is no file at {shown}.\n")

    def test_a_standard_output_that_fails(self):
        d = self.folder()
        self.picture(d, "a.png")
        with open("/dev/full", "wb") as full:
            run = finish(start(["faces", "a.png"], d, stdout=full))
        self.assertEqual(run.status, 1)

    @unittest.skipIf(SANITIZED, "the sanitizers reserve more address space than the limit")
    def test_a_huge_picture_with_too_little_memory_ends_with_its_line(self):
        d = self.folder()
        self.picture(d, "huge.png", size="12000x12000")
        before = files_in(d)

        def limit():
            import resource
            resource.setrlimit(resource.RLIMIT_AS, (900_000 * 1024, 900_000 * 1024))

        run = finish(start(["faces", "huge.png"], d, preexec=limit))
        # Either the faces are found within the limit or the job says why not.
        if run.status != 0:
            text = self.assert_faces_failure(run)
            if text.startswith("Quorvane could not look for faces in that file."):
                self.assertIn("There was not enough memory.", text)
        else:
            self.assertEqual(len(run.lines()), 1)
        self.assert_only(d, before)


class RecordCamera(Edges):
    """This machine may have no camera: every case still ends with one line."""

    def test_stop_signals_right_after_the_start(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                d = self.folder()
                proc = start(["record-camera", "--out", "rec.mov"], d)
                time.sleep(0.02)
                proc.send_signal(sig)
                run = finish_with_stdin_open(proc)
                final = self.assert_final_line(run, run.status)
                self.assertEqual(len(run.lines()), 1 if not final["ok"] else len(run.lines()))
                self.assertEqual(run.status, 0 if final["ok"] else 1)
                self.assert_only(d, set(), "rec.mov")

    def test_outs_that_are_not_utf8_or_look_like_urls(self):
        for out in [b"rec\xff.mov", b"take:1.mov", b"pipe:1", b"http://127.0.0.1:1/x.mov"]:
            with self.subTest(out=out):
                d = self.folder()
                proc = start(["record-camera", "--out", out], d)
                time.sleep(0.5)
                proc.stdin.close()
                proc.stdin = None
                run = finish(proc)
                final = self.assert_final_line(run, run.status)
                self.assertEqual(run.status, 0 if final["ok"] else 1)
                self.assertNotIn(b"ftyp", run.out)  # no movie between the lines
                self.assert_only(d, set(), out.decode("utf-8", "surrogateescape"))


STOPPED_KEYS = ["clicks", "event", "file", "ok"]


class RecordWindow(Edges):
    @classmethod
    def setUpClass(cls):
        cls.x = Xvfb(size="1024x768x24").__enter__()
        cls.x.spawn("xlogo", "-title", "Edge Logo", "-geometry", "400x300+40+30")
        cls.x.wait_for_window("Edge Logo", timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)

    def record(self, d, out, *extra, stdout=subprocess.PIPE):
        proc = start(["record-window", "--out", out, "--app", "xlogo", "--fps", "10", *extra], d,
                     env=self.x.env, stdout=stdout)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def wait_started(self, proc, timeout=60):
        buffer = b""
        deadline = time.monotonic() + timeout
        while b"\n" not in buffer:
            left = deadline - time.monotonic()
            self.assertGreater(left, 0, buffer)
            ready, _, _ = select.select([proc.stdout], [], [], left)
            if ready:
                chunk = os.read(proc.stdout.fileno(), 4096)
                if not chunk:
                    self.fail(f"ended before started: {buffer!r} {proc.stderr.read()!r}")
                buffer += chunk
        line, rest = buffer.split(b"\n", 1)
        started = json.loads(line)
        self.assertEqual(started["event"], "started", started)
        return rest

    def stop_and_finish(self, proc, rest=b"", sig=None):
        if sig is None:
            proc.stdin.write(b"\n")
            proc.stdin.flush()
            run = finish(proc)
        else:
            proc.send_signal(sig)
            run = finish_with_stdin_open(proc)
        run.out = rest + run.out
        return run

    def assert_stopped(self, run, d, out):
        final = self.assert_final_line(run, 0, ok=True)
        self.assertEqual(len(run.lines()), 1, run.lines())
        self.assertEqual(sorted(final), STOPPED_KEYS)
        self.assertEqual(final["event"], "stopped")
        movie = os.path.join(os.fsencode(d), out)
        self.assertIn("mov", ffprobe(movie)["format"]["format_name"])
        side = os.path.splitext(out)[0] + b".clicks.json"
        self.assertTrue(os.path.exists(os.path.join(os.fsencode(d), side)))
        self.assert_only(d, set(), out, side)
        return final

    def test_outs_with_colons_and_protocol_prefixes_are_files(self):
        for out in ["take:1.mov", "pipe:1", "file:rec.mov", "concat:rec.mov", "sub/take:2.mov"]:
            with self.subTest(out=out):
                d = self.folder()
                os.mkdir(os.path.join(d, "sub"))
                proc = self.record(d, out)
                rest = self.wait_started(proc)
                time.sleep(0.5)
                run = self.stop_and_finish(proc, rest)
                self.assertNotIn(b"ftyp", run.out)  # standard output holds only lines
                final = self.assert_stopped(run, d, out.encode())
                self.assertEqual(final["file"], out)

    def test_a_network_address_is_a_missing_folder(self):
        d = self.folder()
        proc = self.record(d, "http://127.0.0.1:1/x.mov")
        run = finish_with_stdin_open(proc)
        final = self.assert_final_line(run, 1, ok=False)
        self.assertTrue(final["error"].startswith("The recording could not start. "), final)
        self.assertEqual(files_in(d), set())

    def test_an_out_that_is_not_utf8(self):
        d = self.folder()
        proc = self.record(d, b"rec\xff.mov")
        rest = self.wait_started(proc)
        time.sleep(0.3)
        run = self.stop_and_finish(proc, rest)
        final = self.assert_stopped(run, d, b"rec\xff.mov")
        self.assertEqual(final["file"], "rec" + REPLACEMENT + ".mov")
        self.assertTrue(final["clicks"].endswith("/rec" + REPLACEMENT + ".clicks.json"), final)

    def test_an_app_that_is_not_utf8(self):
        d = self.folder()
        proc = start(["record-window", "--out", "rec.mov", "--app", b"x\xfflogo"], d,
                     env=self.x.env)
        run = finish_with_stdin_open(proc)
        final = self.assert_final_line(run, 1, ok=False)
        self.assertEqual(final["error"],
                         "No window of x" + REPLACEMENT + "logo is open on screen. Open it first.")
        self.assertEqual(files_in(d), set())

    def test_stop_signals_mid_recording(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                d = self.folder()
                proc = self.record(d, "rec.mov")
                rest = self.wait_started(proc)
                time.sleep(0.5)
                run = self.stop_and_finish(proc, rest, sig)
                self.assert_stopped(run, d, b"rec.mov")

    def test_stop_signals_right_after_the_start(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                d = self.folder()
                proc = self.record(d, "rec.mov")
                time.sleep(0.02)
                proc.send_signal(sig)
                run = finish_with_stdin_open(proc)
                final = self.assert_final_line(run, 0, ok=True)
                self.assertEqual(final["event"], "stopped")
                self.assertLessEqual(len(run.lines()), 2)
                self.assert_only(d, set(), "rec.mov", "rec.clicks.json")

    def test_a_started_event_that_cannot_be_written(self):
        for how in ("closed pipe", "/dev/full"):
            with self.subTest(stdout=how):
                d = self.folder()
                if how == "/dev/full":
                    with open("/dev/full", "wb") as full:
                        proc = self.record(d, "rec.mov", stdout=full)
                else:
                    write_end = closed_pipe()
                    proc = self.record(d, "rec.mov", stdout=write_end)
                # Nobody stops it: the failed started event does.
                status = proc.wait(60)
                self.assertEqual(status, 1, proc.stderr.read())
                movie = os.path.join(d, "rec.mov")
                self.assertIn("mov", ffprobe(movie)["format"]["format_name"])
                self.assert_only(d, set(), "rec.mov", "rec.clicks.json")


class NotPlainFiles(Edges):
    """A pipe, a folder, a socket or standard output named as the media a job
    reads or writes: refused at once with the job's own failure, nothing left
    behind. A pipe would otherwise keep a decoder or the movie writer waiting
    forever."""

    KINDS = ("fifo", "directory", "socket", "/dev/stdout")
    # (arguments, name of the path, the end of the failure)
    JOBS = {
        "faces picture": (["faces", "{}"], "x.jpg",
                          "Quorvane could not open that picture. That is not a file."),
        "faces video": (["faces", "{}"], "x.mp4",
                        "Quorvane could not open that video. That is not a file."),
        "transcribe": (["transcribe", "{}"], "x.wav",
                       "The audio file x.wav could not be opened. That is not a file."),
        "record-window --out": (["record-window", "--out", "{}", "--app", "xlogo"], "x.mov",
                                "The recording could not start. Quorvane cannot write the "
                                "movie x.mov. That is not a file."),
        "record-camera --out": (["record-camera", "--out", "{}"], "x.mov",
                                "The video file could not be written. That is not a file."),
    }

    @classmethod
    def setUpClass(cls):
        cls.x = Xvfb(size="1024x768x24").__enter__()
        cls.x.spawn("xlogo", "-title", "Plain Logo", "-geometry", "300x200+40+30")
        cls.x.wait_for_window("Plain Logo", timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)

    def make(self, d, kind, name):
        path = os.path.join(d, name)
        if kind == "fifo":
            os.mkfifo(path)
        elif kind == "directory":
            os.mkdir(path)
        elif kind == "socket":
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listener.bind(path)
            listener.listen(1)
            self.addCleanup(listener.close)
        else:
            os.symlink(kind, path)  # the job's own standard output, a pipe

    def run_job(self, args, d, **kwargs):
        proc = start(args, d, env=self.x.env, **kwargs)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        started = time.monotonic()
        # Standard input stays open: its end would stop a recording.
        run = finish_with_stdin_open(proc, timeout=30)
        self.assertLess(time.monotonic() - started, 20)
        return run

    def test_each_kind_is_refused_by_each_job_at_once(self):
        for kind in self.KINDS:
            for job, (args, name, failure) in self.JOBS.items():
                with self.subTest(kind=kind, job=job):
                    d = self.folder()
                    self.make(d, kind, name)
                    before = files_in(d)
                    run = self.run_job([a.format(name) for a in args], d)
                    if job.startswith("faces"):
                        self.assertEqual(self.assert_faces_failure(run), failure + "\n")
                    else:
                        final = self.assert_final_line(run, 1, ok=False)
                        self.assertEqual(len(run.lines()), 1, run.lines())
                        self.assertEqual(final["error"], failure)
                        self.assertEqual(run.err, b"")
                    # No movie, no side file.
                    self.assertEqual(files_in(d), before)

    def test_outs_that_name_standard_output_or_nothing(self):
        d = self.folder()
        # Standard output in a plain file: the movie would go into it.
        with open(os.path.join(d, "log.txt"), "wb") as log:
            run = self.run_job(["record-window", "--out", "/dev/stdout", "--app", "xlogo"], d,
                               stdout=os.dup(log.fileno()))
        with open(os.path.join(d, "log.txt"), "rb") as log:
            run.out = log.read()
        final = self.assert_final_line(run, 1, ok=False)
        self.assertEqual(len(run.lines()), 1, run.out[:200])
        self.assertEqual(final["error"], "The recording could not start. Quorvane cannot write "
                         "the movie /dev/stdout. Quorvane uses that file for its own input or "
                         "output.")
        # An empty name is a wrong command line.
        run = self.run_job(["record-window", "--out", "", "--app", "xlogo"], d)
        final = self.assert_final_line(run, 1, ok=False)
        self.assertEqual(final["error"], "usage: record-window --out <file> --app <name>")
        self.assertEqual(files_in(d), {b"log.txt"})


if __name__ == "__main__":
    unittest.main()
