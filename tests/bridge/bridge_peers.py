"""The two peers of the bridge in process tests: the client side (the real
`quorvane mcp` process, driven through its standard input and output) and a
test host application listening on a real Unix-domain socket."""
import json
import os
import shutil
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest

BRIDGE = os.environ.get("QUORVANE_BRIDGE", "")
WAIT = 60.0  # generous: the machine may be loaded, and a delivery may poll 15 s

NOT_RUNNING = ("Quorvane is not running and could not be started. "
               "Open Quorvane, then try again.")
CLOSED = "Quorvane was closed before it could answer. Try again: it will reopen."
NOTICE = b'{"jsonrpc":"2.0","method":"notifications/tools/list_changed"}'


class LineCollector:
    """Collects a byte stream and splits it into lines as it arrives."""

    def __init__(self):
        self.data = bytearray()
        self.count = 0  # line feeds so far, counted as chunks come
        self.ended = False
        self.cond = threading.Condition()

    def feed(self, chunk):
        with self.cond:
            if chunk:
                self.data += chunk
                self.count += chunk.count(b"\n")
            else:
                self.ended = True
            self.cond.notify_all()

    def lines(self):
        with self.cond:
            return bytes(self.data).split(b"\n")[:-1]

    def wait_for(self, predicate, what, timeout=WAIT):
        deadline = time.monotonic() + timeout
        with self.cond:
            while not predicate():
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"timed out waiting for {what}; have {bytes(self.data)[-2000:]!r}")
                self.cond.wait(left)

    def wait_lines(self, count, timeout=WAIT):
        self.wait_for(lambda: self.count >= count, f"{count} lines", timeout)
        return self.lines()

    def wait_end(self, timeout=WAIT):
        self.wait_for(lambda: self.ended, "end of stream", timeout)
        return self.lines()


def pump(read, collector):
    while True:
        try:
            chunk = read(1 << 20)
        except OSError:
            chunk = b""
        collector.feed(chunk)
        if not chunk:
            return


class Connection:
    """One accepted connection of the test host."""

    def __init__(self, sock):
        self.sock = sock
        self.received = LineCollector()
        threading.Thread(target=pump, args=(sock.recv, self.received), daemon=True).start()

    def send(self, data):
        self.sock.sendall(data)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


class Host:
    """A test host application: listens on `path`, keeps every connection."""

    def __init__(self, path):
        self.path = path
        self.connections = []
        self.cond = threading.Condition()
        self.listener = None

    def start(self):
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        self.listener.listen(16)
        threading.Thread(target=self._accept, args=(self.listener,), daemon=True).start()
        return self

    def _accept(self, listener):
        while True:
            try:
                sock, _ = listener.accept()
            except OSError:
                return
            with self.cond:
                self.connections.append(Connection(sock))
                self.cond.notify_all()

    def connection(self, index, timeout=WAIT):
        deadline = time.monotonic() + timeout
        with self.cond:
            while len(self.connections) <= index:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no connection #{index + 1} to the host")
                self.cond.wait(left)
            return self.connections[index]

    def stop(self):
        """Quits: stops listening, removes the socket, closes every connection."""
        if self.listener:
            self.listener.shutdown(socket.SHUT_RDWR)
            self.listener.close()
            self.listener = None
            os.unlink(self.path)
        with self.cond:
            for c in self.connections:
                c.close()


class Bridge:
    """A running `quorvane mcp` process. Standard input and output are pipes
    of this object unless descriptors are given for them."""

    def __init__(self, env, args=("mcp",), prefix=(), cwd=None, pass_fds=(),
                 stdin=subprocess.PIPE, stdout=subprocess.PIPE):
        self.proc = subprocess.Popen([*prefix, BRIDGE, *args], stdin=stdin,
                                     stdout=stdout, stderr=subprocess.PIPE,
                                     env=env, bufsize=0, cwd=cwd, pass_fds=pass_fds)
        self.out = LineCollector()
        self.err = LineCollector()
        if self.proc.stdout:
            threading.Thread(target=pump, args=(self.proc.stdout.read, self.out), daemon=True).start()
        else:
            self.out.feed(b"")
        threading.Thread(target=pump, args=(self.proc.stderr.read, self.err), daemon=True).start()

    def send(self, data):
        self.proc.stdin.write(data)

    def request(self, id_, method="tools/list", **extra):
        self.send(json.dumps({"jsonrpc": "2.0", "id": id_, "method": method, **extra}).encode() + b"\n")

    def finish(self, timeout=WAIT):
        """Closes standard input; returns the exit status once it has ended."""
        try:
            if self.proc.stdin:
                self.proc.stdin.close()
        except BrokenPipeError:
            pass
        status = self.proc.wait(timeout)
        self.out.wait_end(timeout)
        self.err.wait_end(timeout)
        text = bytes(self.err.data).decode("utf-8", "replace")
        assert "Sanitizer" not in text, text
        return status

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for pipe in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                if pipe:
                    pipe.close()
            except OSError:
                pass


def objects(lines):
    return [json.loads(line) for line in lines]


def error_reply(id_, message):
    return {"jsonrpc": "2.0", "id": id_, "error": {"code": -32000, "message": message}}


def minimal_env(home, path=None, **extra):
    """The small environment MCP clients give their servers."""
    env = {"HOME": home, "PATH": path or os.environ.get("PATH", "/usr/bin:/bin"),
           "USER": os.environ.get("USER", "user"), "LOGNAME": "user", "SHELL": "/bin/sh",
           "TERM": "dumb"}
    # Sanitizer settings of the build under test, if any.
    for key, value in os.environ.items():
        if key.endswith("SAN_OPTIONS"):
            env[key] = value
    env.update(extra)
    return env


def fake_launcher(bindir, marker):
    """A `gtk-launch` first on PATH that records its arguments in `marker` and
    writes to its standard output, which must not reach the client."""
    os.makedirs(bindir, exist_ok=True)
    script = os.path.join(bindir, "gtk-launch")
    with open(script, "w") as f:
        f.write(f'#!/bin/sh\necho "$@" > "{marker}"\necho "launcher noise"\n')
    os.chmod(script, os.stat(script).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return bindir + ":" + os.environ.get("PATH", "/usr/bin:/bin")


def short_temp_dir():
    # Socket paths must stay short: a fixed, small prefix under /tmp.
    return tempfile.mkdtemp(prefix="qb", dir="/tmp")


class HostCase(unittest.TestCase):
    """A test with a fresh test host listening in a short private folder."""

    def setUp(self):
        self.dir = short_temp_dir()
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.path = os.path.join(self.dir, "app.sock")
        self.host = Host(self.path).start()
        self.addCleanup(lambda: self.host.stop())
