"""Shared helpers for the process-level tests: where the built programs are,
running them, and a private Xvfb display."""
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

CAPTURE = os.environ.get("QUORVANE_CAPTURE", "")
BRIDGE = os.environ.get("QUORVANE_BRIDGE", "")
SOURCE_DIR = os.environ.get("QUORVANE_SOURCE_DIR", "")
BINARY_DIR = os.environ.get("QUORVANE_BINARY_DIR", "")


def fixture(*parts):
    return os.path.join(SOURCE_DIR, "tests", "fixtures", *parts)



def stop_processes(procs):
    """Ends the processes a test started, newest first: politely, then for good."""
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

class Result:
    def __init__(self, proc, stdout, stderr):
        self.returncode = proc.returncode
        self.stdout = stdout
        self.stderr = stderr

    @property
    def lines(self):
        return [line for line in self.stdout.split("\n") if line]

    def objects(self):
        return [json.loads(line) for line in self.lines]

    def object(self):
        objs = self.objects()
        assert len(objs) == 1, f"expected one line, got {self.stdout!r}"
        return objs[0]


def run_capture(*args, env=None, stdin_text="", timeout=60, argv0=None):
    """Runs quorvane-capture to completion and returns its Result."""
    cmd = [CAPTURE, *args]
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    out, err = proc.communicate(stdin_text.encode(), timeout=timeout)
    return Result(proc, out.decode("utf-8"), err.decode("utf-8", "replace"))


def clean_env(**extra):
    """A small environment like the one the host application gives its helpers."""
    env = {k: os.environ[k] for k in ("PATH", "HOME", "USER", "LANG") if k in os.environ}
    env.update({k: v for k, v in extra.items() if v is not None})
    return env


class Xvfb:
    """A private X display for one test class: `with Xvfb() as x: x.env`."""

    def __init__(self, size="1920x1080x24", window_manager=False):
        self.size = size
        self.window_manager = window_manager
        self.procs = []

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        server = subprocess.Popen(
            # -noreset: a short-lived client (xdotool) that leaves while the
            # first window's client is still connecting would otherwise reset
            # the server under it.
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size, "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as f:
            while not number.endswith(b"\n"):
                chunk = f.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.procs.append(server)
        self.display = ":" + number.decode().strip()
        self.env = clean_env(DISPLAY=self.display)
        if self.window_manager:
            self.spawn("openbox", "--sm-disable")
            self.wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.run(
                "xprop", "-root", "_NET_SUPPORTING_WM_CHECK"))
        return self

    def __exit__(self, *exc):
        stop_processes(self.procs)

    def spawn(self, *cmd):
        """Starts an X client on this display; it is ended with the display."""
        p = subprocess.Popen(list(cmd), env=self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def run(self, *cmd, check=False):
        r = subprocess.run(list(cmd), env=self.env, capture_output=True, text=True, check=check)
        return r.stdout

    def wait_for(self, condition, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.05)
        raise AssertionError("timed out waiting for the display")

    def wait_for_window(self, name, timeout=10.0):
        """Waits until a mapped window named `name` exists and returns its id."""
        found = []

        def look():
            out = self.run("xdotool", "search", "--onlyvisible", "--name", name).split()
            if out:
                found.append(int(out[0]))
            return bool(out)

        self.wait_for(look, timeout)
        return found[0]


def ffprobe(path):
    """ffprobe's view of a media file: {'format': …, 'streams': [...]}."""
    out = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format",
                          "-show_streams", path], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def temp_dir(test):
    """A temporary folder removed when `test` ends."""
    d = tempfile.mkdtemp(prefix="quorvane-test-")
    test.addCleanup(shutil.rmtree, d, True)
    return d


class Recorder:
    """One running record-window process whose lines are read as they come."""

    def __init__(self, env, *args, prefix=()):
        self.proc = subprocess.Popen([*prefix, CAPTURE, "record-window", *args], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.buffer = b""

    def line(self, timeout=40):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line from record-window; so far %r" % self.buffer)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError("record-window ended; output %r" % self.buffer)
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def stop(self):
        self.proc.stdin.write(b"\n")
        self.proc.stdin.flush()
        stopped = self.line()
        status = self.proc.wait(timeout=30)
        return status, stopped

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except BrokenPipeError:
                pass


# The start of a shell script run in a private mount namespace
# (`unshare -m`) with a folder $1: a fresh /dev on tmpfs holding only what
# programs need (null, zero, urandom, random, full, pts, shm, fd), the real
# /dev kept at $1/realdev. The test appends its own devices and command.
PRIVATE_DEV_SCRIPT = r"""
set -e
d=$1; shift
mkdir -p "$d/realdev"
mount --bind /dev "$d/realdev"
mount -t tmpfs -o mode=755 tmpfs /dev
for n in null zero urandom random full; do
  if [ -e "$d/realdev/$n" ]; then touch "/dev/$n"; mount --bind "$d/realdev/$n" "/dev/$n"; fi
done
for n in pts shm; do
  if [ -d "$d/realdev/$n" ]; then mkdir "/dev/$n"; mount --bind "$d/realdev/$n" "/dev/$n"; fi
done
ln -s /proc/self/fd /dev/fd
"""
