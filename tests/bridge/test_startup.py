"""Start-up of `quorvane mcp`: the command line, where the socket is, the
launch of the application, and requests that cannot be delivered."""
import os
import shutil
import subprocess
import threading
import time
import unittest

from bridge_peers import (BRIDGE, NOT_RUNNING, Bridge, Host, error_reply, fake_launcher,
                          minimal_env, objects, short_temp_dir)

# Undeliverable lines wait out the full polling (about 15 s each).
SLOW = 180


def default_socket(home):
    return os.path.join(home, ".local/share/Quorvane/mcp.sock")


class StartupCase(unittest.TestCase):
    def setUp(self):
        self.dir = short_temp_dir()
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.marker = os.path.join(self.dir, "launched")
        self.path_with_launcher = fake_launcher(os.path.join(self.dir, "bin"), self.marker)

    def bridge(self, **env):
        b = Bridge(minimal_env(self.dir, path=self.path_with_launcher, **env))
        self.addCleanup(b.kill)
        return b

    def socket_path(self, length):
        path = os.path.join(self.dir, "")
        path += "s" * (length - len(path.encode()))
        self.assertEqual(len(path.encode()), length)
        return path


class CommandLineTest(StartupCase):
    def test_wrong_command_lines_fail_with_usage(self):
        for args in ([], ["MCP"], ["serve"], ["", "mcp"]):
            with self.subTest(args=args):
                proc = subprocess.run([BRIDGE, *args], input=b"{}\n", capture_output=True,
                                      env=minimal_env(self.dir), timeout=60)
                self.assertEqual(proc.returncode, 2)
                self.assertEqual(proc.stderr, b"Usage: quorvane mcp\n")
                self.assertEqual(proc.stdout, b"")

    def test_words_after_mcp_are_ignored(self):
        path = os.path.join(self.dir, "app.sock")
        host = Host(path).start()
        self.addCleanup(host.stop)
        b = Bridge(minimal_env(self.dir, QUORVANE_MCP_SOCKET=path), args=("mcp", "extra"))
        self.addCleanup(b.kill)
        b.request(1)
        host.connection(0).received.wait_lines(1)
        self.assertEqual(b.finish(), 0)

    def test_end_of_input_before_any_line_exits_zero_without_connecting(self):
        b = self.bridge()
        self.assertEqual(b.finish(), 0)
        self.assertFalse(os.path.exists(self.marker))


class LaunchTest(StartupCase):
    def test_first_initialize_launches_the_app_at_the_home_socket_without_replay(self):
        host = Host(default_socket(self.dir))
        self.addCleanup(host.stop)

        def start_when_launched():
            deadline = time.monotonic() + SLOW
            while not os.path.exists(self.marker) and time.monotonic() < deadline:
                time.sleep(0.05)
            host.start()

        threading.Thread(target=start_when_launched, daemon=True).start()
        # Only HOME and PATH tell the bridge where to look and what to run.
        b = self.bridge()
        init = b'{"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}'
        b.send(init + b"\n")
        conn = host.connection(0, timeout=SLOW)
        self.assertEqual(conn.received.wait_lines(1), [init])
        with open(self.marker) as f:
            self.assertEqual(f.read().split(), ["quorvane"])
        conn.send(b'{"jsonrpc":"2.0","id":1,"result":{}}\n')
        self.assertEqual(b.out.wait_lines(1), [b'{"jsonrpc":"2.0","id":1,"result":{}}'])
        done = b'{"jsonrpc":"2.0","method":"notifications/initialized"}'
        b.send(done + b"\n")
        self.assertEqual(conn.received.wait_lines(2), [init, done])
        self.assertEqual(b.finish(), 0)
        # Neither a notice nor the launcher's own output reached the client.
        self.assertEqual(b.out.lines(), [b'{"jsonrpc":"2.0","id":1,"result":{}}'])

    def test_a_103_byte_socket_path_is_used(self):
        path = self.socket_path(103)
        host = Host(path).start()
        self.addCleanup(host.stop)
        b = self.bridge(QUORVANE_MCP_SOCKET=path)
        b.request(1)
        host.connection(0).received.wait_lines(1)
        self.assertEqual(b.finish(), 0)
        self.assertFalse(os.path.exists(self.marker))


class UnreachableTest(StartupCase):
    def test_undeliverable_request_gets_one_error_and_notification_none(self):
        # Three bridges at once, each failing in its own way: a 104-byte
        # custom path (a host listens there, yet it is never tried), an empty
        # custom path, and the default path with nothing listening.
        long_path = self.socket_path(104)
        host = Host(long_path).start()
        self.addCleanup(host.stop)
        homes = {}
        cases = {"long": {"QUORVANE_MCP_SOCKET": long_path},
                 "empty": {"QUORVANE_MCP_SOCKET": ""},
                 "default": {}}
        bridges = {}
        for name, extra in cases.items():
            home = os.path.join(self.dir, name)
            os.makedirs(home)
            marker = os.path.join(home, "launched")
            homes[name] = marker
            env = minimal_env(home, path=fake_launcher(os.path.join(home, "bin"), marker), **extra)
            bridges[name] = Bridge(env)
            self.addCleanup(bridges[name].kill)
            bridges[name].send(b'{"jsonrpc":"2.0","method":"notifications/cancelled"}\n')
            bridges[name].request(7)
        for name, b in bridges.items():
            with self.subTest(case=name):
                self.assertEqual(objects(b.out.wait_lines(1, timeout=SLOW)),
                                 [error_reply(7, NOT_RUNNING)])
                self.assertEqual(b.finish(), 0)
                self.assertEqual(len(b.out.lines()), 1)
                self.assertEqual(os.path.exists(homes[name]), name == "default")
        self.assertEqual(host.connections, [])


if __name__ == "__main__":
    unittest.main()
