"""A private GNOME-like Wayland desktop for process tests: a session bus,
PipeWire and WirePlumber, a headless mutter with one 1280x720 monitor, a
foot terminal, and the real desktop-portal frontend served by the test
back end of this folder (portal_backend.py), which approves without a
picker. Everything lives in one temporary folder (bus, runtime folder,
home) and is ended, by pid, when the rig closes."""
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from quorvane_test import stop_processes

HERE = os.path.dirname(os.path.abspath(__file__))
DEBIAN_PYTHON = "/usr/bin/python3"  # the one with python3-gi and python3-dbus
FRONTEND = "/usr/libexec/xdg-desktop-portal"
DESKTOP = "quorvanetest"
BACKEND_NAME = "org.freedesktop.impl.portal.desktop." + DESKTOP
PROGRAMS = ["dbus-daemon", "dbus-send", "pipewire", "wireplumber", "mutter", "foot"]


def missing_packages():
    """What the rig lacks on this machine, in words; empty when complete."""
    missing = [p for p in PROGRAMS if shutil.which(p) is None]
    if not os.access(FRONTEND, os.X_OK):
        missing.append("xdg-desktop-portal")
    if not os.access(DEBIAN_PYTHON, os.X_OK) or subprocess.run(
            [DEBIAN_PYTHON, "-c", "import gi, dbus; from gi.repository import GLib"],
            capture_output=True).returncode != 0:
        missing.append("python3-gi/python3-dbus")
    return missing


class WaylandRig:
    def __init__(self):
        self.procs = []

    # --- start ------------------------------------------------------------
    def __enter__(self):
        missing = missing_packages()
        if missing:
            raise unittest.SkipTest("the Wayland rig needs " + ", ".join(missing))
        self.dir = tempfile.mkdtemp(prefix="quorvane-wayland-")
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        self.runtime = os.path.join(self.dir, "run")
        os.mkdir(self.runtime, 0o700)
        self.home = os.path.join(self.dir, "home")
        os.mkdir(self.home, 0o700)
        self.state = os.path.join(self.dir, "state")
        self.backend_log = os.path.join(self.dir, "backend.jsonl")
        self.answer_file = os.path.join(self.dir, "answer")
        self.display = "wayland-quorvane"
        base = {k: os.environ[k] for k in ("PATH", "LANG") if k in os.environ}
        # Services the bus starts on demand (the permission store) inherit
        # this environment: they keep their files in the rig's home.
        base.update(HOME=self.home, XDG_RUNTIME_DIR=self.runtime,
                    XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                    XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                    XDG_CACHE_HOME=os.path.join(self.home, ".cache"))
        self.env = dict(base)

        read_fd, write_fd = os.pipe()
        self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                    "--address=unix:path=" + os.path.join(self.runtime, "bus"),
                    "--print-address=%d" % write_fd], pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            address = f.readline().strip()
        if not address:
            raise RuntimeError("the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

        self.spawn(["pipewire"])
        self.wait_for(lambda: os.path.exists(os.path.join(self.runtime, "pipewire-0")),
                      "pipewire")
        self.spawn(["wireplumber"])
        self.spawn(["mutter", "--headless", "--virtual-monitor", "1280x720", "--no-x11",
                    "--wayland-display", self.display])
        self.wait_for(lambda: os.path.exists(os.path.join(self.runtime, self.display)), "mutter")
        self.wait_for(lambda: self.has_name("org.gnome.Mutter.ScreenCast"), "mutter's screen cast")
        self.env["WAYLAND_DISPLAY"] = self.display

        # The terminal prints the time ten times a second, so its window keeps
        # changing; it writes a file once its shell runs, after the window is up.
        ready = os.path.join(self.dir, "foot-ready")
        self.spawn(["foot", "sh", "-c",
                    "touch %s; while :; do date +%%s.%%N; sleep 0.1; done" % ready])
        self.wait_for(lambda: os.path.exists(ready), "foot")

        self.backend = self.spawn([DEBIAN_PYTHON, os.path.join(HERE, "portal_backend.py"),
                                   "--name", BACKEND_NAME, "--log", self.backend_log,
                                   "--answer-file", self.answer_file],
                                  stdout=subprocess.PIPE)
        if self.backend.stdout.readline().strip() != b"ready":
            raise RuntimeError("the test portal back end did not start")

        portals = os.path.join(self.dir, "portals")
        os.mkdir(portals)
        with open(os.path.join(portals, DESKTOP + ".portal"), "w") as f:
            f.write("[portal]\nDBusName=%s\nInterfaces=org.freedesktop.impl.portal.ScreenCast\n"
                    "UseIn=%s\n" % (BACKEND_NAME, DESKTOP))
        self.spawn([FRONTEND, "--replace"],
                   env=dict(self.env, XDG_CURRENT_DESKTOP=DESKTOP, XDG_DESKTOP_PORTAL_DIR=portals))
        self.wait_for(lambda: self.has_name("org.freedesktop.portal.Desktop"), "the portal")
        # Let the terminal settle on screen before anything records it.
        time.sleep(0.5)

    # --- helpers ----------------------------------------------------------
    def spawn(self, cmd, env=None, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
              pass_fds=()):
        p = subprocess.Popen(cmd, env=env or self.env, stdin=stdin, stdout=stdout,
                             stderr=subprocess.DEVNULL, pass_fds=pass_fds)
        self.procs.append(p)
        return p

    def has_name(self, name):
        r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                            "string:" + name], env=self.env, capture_output=True, text=True)
        return "boolean true" in r.stdout

    def wait_for(self, condition, what, timeout=30.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            for p in self.procs:
                if p.poll() is not None:
                    raise RuntimeError("%s ended while waiting for %s" % (p.args[0], what))
            time.sleep(0.05)
        raise RuntimeError("timed out waiting for " + what)

    def client_env(self, **extra):
        """The environment of a program on this desktop (no X display)."""
        env = dict(self.env, XDG_SESSION_TYPE="wayland", XDG_STATE_HOME=self.state)
        env.update(extra)
        return env

    def answer(self, word):
        """What the picker answers from now on: approve, cancel or fail."""
        with open(self.answer_file, "w") as f:
            f.write(word + "\n")

    def backend_entries(self):
        try:
            with open(self.backend_log) as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def pointer(self):
        """A helper that moves mutter's pointer: .to(x, y) in desktop pixels."""
        return Pointer(self)

    # --- stop -------------------------------------------------------------
    def __exit__(self, *exc):
        stop_processes(self.procs)
        for p in self.procs:
            for pipe in (p.stdin, p.stdout):
                if pipe:
                    pipe.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class Pointer:
    def __init__(self, rig):
        self.proc = rig.spawn([DEBIAN_PYTHON, os.path.join(HERE, "pointer.py")],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if self.proc.stdout.readline().strip() != b"ready":
            raise RuntimeError("the pointer helper did not start")

    def to(self, x, y):
        self.proc.stdin.write(("to %d %d\n" % (x, y)).encode())
        self.proc.stdin.flush()
        if self.proc.stdout.readline().strip() != b"ok":
            raise RuntimeError("the pointer helper did not move the pointer")
