"""`quorvane mcp` with hostile and unusual peers, against a test host on a real
socket: JSON that common parsers refuse, lines over the 64 MiB limit, closed
standard descriptors, a client that leaves while the bridge waits, and the
launch of the application."""
import os
import re
import shutil
import socket
import stat
import subprocess
import time
import unittest

from bridge_peers import BRIDGE, CLOSED, WAIT, Bridge, Host, HostCase, minimal_env, short_temp_dir

TOO_LARGE = "That message is too large for Quorvane to pass on."
LIMIT = 64 << 20
# The bridge's own error replies, as it writes them: the id exactly as it was
# received.
ERROR = re.compile(rb'^\{"jsonrpc":"2\.0","id":(.*),"error":\{"code":-32000,"message":"(.*)"\}\}$')


def own_errors(lines):
    """(raw id, message) of each of the bridge's error replies among `lines`."""
    found = []
    for line in lines:
        m = ERROR.match(line)
        if m:
            found.append((m.group(1), m.group(2).decode()))
    return found


def request(raw_id, method=b"tools/call", params=b"{}", id_last=False):
    if id_last:
        return b'{"jsonrpc":"2.0","method":"%s","params":%s,"id":%s}' % (method, params, raw_id)
    return b'{"jsonrpc":"2.0","id":%s,"method":"%s","params":%s}' % (raw_id, method, params)


def deep(depth):
    return b"[" * depth + b"1" + b"]" * depth


class HostileCase(HostCase):

    def bridge(self, prefix=(), **env):
        b = Bridge(minimal_env(self.dir, QUORVANE_MCP_SOCKET=self.path, **env), prefix=prefix)
        self.addCleanup(b.kill)
        return b


class UnusualJsonTest(HostileCase):
    # (id as the client writes it, the same id as the host writes it back, or
    # None when the host never answers it). Every one is valid JSON.
    CASES = [
        (b"12345678901234567890123", b"12345678901234567890123"),
        (b"-98765432109876543210987654321", None),
        (b"1e400", b"10e399"),                    # the same number, spelt otherwise
        (b"-1.5E-400", None),
        (b'"\\ud800"', b'"\\ud800"'),
        (b'"\\udfff lone"', None),
        (b'"\\ud83d\\ude00"', '"\U0001F600"'.encode()),  # escaped and raw: one string
        (b"7.50", None),
        (b"31", b'"31"'),                         # number and string share a key
    ]

    def test_every_request_is_tracked_and_answered_exactly_once(self):
        b = self.bridge()
        lines = [request(raw) for raw, _ in self.CASES]
        # Deep nesting in the parameters, and as the id itself.
        lines.append(request(b"2000", params=deep(2000)))
        lines.append(request(deep(2000)))
        lines.append(request(b"2001", params=b'{"a":' * 3000 + b"1" + b"}" * 3000, id_last=True))
        b.send(b"\n".join(lines) + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(len(lines)), lines)

        replies = [b'{"jsonrpc":"2.0","id":%s,"result":{}}' % back
                   for _, back in self.CASES if back is not None]
        # A reply with an unusual id that matches nothing is forwarded too.
        replies.append(b'{"jsonrpc":"2.0","id":1e99999,"result":{"deep":%s}}' % deep(3000))
        conn.send(b"\n".join(replies) + b"\n")
        b.out.wait_lines(len(replies))
        conn.close()

        unanswered = [raw for raw, back in self.CASES if back is None] + [b"2000", deep(2000), b"2001"]
        out = b.out.wait_lines(len(replies) + len(unanswered))
        self.assertEqual(out[:len(replies)], replies)
        self.assertEqual(sorted(own_errors(out[len(replies):])),
                         sorted((raw, CLOSED) for raw in unanswered))
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), len(replies) + len(unanswered))

    def test_lines_that_break_the_grammar_are_relayed_and_never_answered(self):
        b = self.bridge()
        broken = [
            b'{"jsonrpc":"2.0","id":1,"method":"m"',          # cut short
            b'{"jsonrpc":"2.0","id":01,"method":"m"}',        # leading zero
            b'{"jsonrpc":"2.0","id":2,"method":"m"} extra',
            b'{"jsonrpc":"2.0","id":"\xed\xa0\x80","method":"m"}',  # a raw surrogate is not UTF-8
            b'{"jsonrpc":"2.0","id":3,"method":"m","p":' + b"[" * 2000 + b"]" * 1999 + b"}",
            b'{"jsonrpc":"2.0","id":4,"method":"m","p":NaN}',
        ]
        b.send(b"\n".join(broken) + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(len(broken)), broken)
        conn.close()
        # The next request goes to a new connection: nothing was left open.
        self.host.stop()
        self.host = Host(self.path).start()
        b.request(5)
        self.host.connection(0).send(b'{"jsonrpc":"2.0","id":5,"result":{}}\n')
        self.assertEqual(b.out.wait_lines(1), [b'{"jsonrpc":"2.0","id":5,"result":{}}'])
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), 1)


class LineLimitTest(HostileCase):
    def big(self, size, raw_id=b"1", id_last=False, method=b"tools/call", reply=False):
        """A message of exactly `size` bytes (line feed not counted)."""
        if reply:
            head, tail = b'{"jsonrpc":"2.0","id":%s,"result":{"d":"' % raw_id, b'"}}'
        elif raw_id is None:
            head, tail = b'{"jsonrpc":"2.0","method":"%s","params":{"d":"' % method, b'"}}'
        elif id_last:
            head = b'{"jsonrpc":"2.0","method":"%s","params":{"d":"' % method
            tail = b'"},"id":%s}' % raw_id
        else:
            head, tail = b'{"jsonrpc":"2.0","id":%s,"method":"%s","params":{"d":"' % (raw_id, method), b'"}}'
        return head + b"x" * (size - len(head) - len(tail)) + tail

    def test_client_lines_over_the_limit_are_refused_and_the_next_line_passes(self):
        b = self.bridge()
        b.request(0)
        conn = self.host.connection(0)
        conn.received.wait_lines(1)
        at_limit = self.big(LIMIT, b"10")
        after = b'{"jsonrpc":"2.0","id":11,"method":"tools/list"}'
        b.send(self.big(LIMIT + 1, b"20") + b"\n")               # id at the start
        b.send(self.big(LIMIT + 5000, b'"\\ud800"', id_last=True) + b"\n")  # id at the end
        b.send(self.big(LIMIT + 1, None) + b"\n")                # a notification: dropped
        b.send(self.big(3 * LIMIT, b"21", method=b"initialize") + b"\n")
        # Broken, but its start shows a request: answered all the same.
        b.send(self.big(LIMIT + 2, b"22")[:-1] + b"\n")
        b.send(b'{"jsonrpc":"2.0","params":"' + b"y" * LIMIT + b"\n")  # shows no id: dropped
        b.send(at_limit + b"\n" + after + b"\n")
        # Only the line at the limit and the one after it reach the host.
        received = conn.received.wait_lines(3)
        self.assertEqual(len(received[1]), LIMIT)
        self.assertTrue(received[1] == at_limit)
        self.assertEqual(received[2], after)
        errors = own_errors(b.out.wait_lines(4))
        self.assertEqual(sorted(errors), sorted([(b"20", TOO_LARGE), (b'"\\ud800"', TOO_LARGE),
                                                 (b"21", TOO_LARGE), (b"22", TOO_LARGE)]))
        # None of them was left open either: closing answers only 0, 10, 11.
        conn.close()
        closed = own_errors(b.out.wait_lines(7)[4:])
        self.assertEqual(sorted(closed), sorted([(b"0", CLOSED), (b"10", CLOSED), (b"11", CLOSED)]))
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), 7)

    def test_a_host_reply_over_the_limit_answers_its_request_once(self):
        b = self.bridge()
        for i in (1, 2, 3, 4):
            b.request(i)
        b.request("quorvane-bridge-x")
        conn = self.host.connection(0)
        conn.received.wait_lines(5)
        small = b'{"jsonrpc":"2.0","id":2,"result":{}}'
        conn.send(self.big(LIMIT + 1, b"1", reply=True) + b"\n")
        conn.send(self.big(LIMIT + 2, b"4", reply=True)[:-1] + b"\n")  # broken after its start
        conn.send(self.big(2 * LIMIT, b"99", reply=True) + b"\n")   # answers nothing: dropped
        conn.send(self.big(LIMIT + 1, b'"quorvane-bridge-x"', reply=True) + b"\n")
        conn.send(self.big(LIMIT + 1, b"3", method=b"sampling/createMessage") + b"\n")  # a host request
        conn.send(small + b"\n")
        out = b.out.wait_lines(3)
        self.assertEqual(own_errors(out[:2]), [(b"1", TOO_LARGE), (b"4", TOO_LARGE)])
        self.assertEqual(out[2], small)
        conn.close()
        closed = own_errors(b.out.wait_lines(5)[3:])
        self.assertEqual(sorted(closed), sorted([(b"3", CLOSED), (b'"quorvane-bridge-x"', CLOSED)]))
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), 5)


class DescriptorTest(HostileCase):
    def shell(self, redirections):
        # The bridge started with some of its standard descriptors closed.
        return ("/bin/sh", "-c", f'exec "$0" "$@" {redirections}')

    def test_replies_never_go_back_into_the_socket_with_stdout_closed(self):
        for index, closed in enumerate((">&-", ">&- 2>&-")):
            with self.subTest(closed=closed):
                b = self.bridge(prefix=self.shell(closed))
                b.request(1)
                conn = self.host.connection(index)
                conn.received.wait_lines(1)
                for fd in (1, 2) if "2>" in closed else (1,):
                    self.assertEqual(os.readlink(f"/proc/{b.proc.pid}/fd/{fd}"), "/dev/null")
                conn.send(b'{"jsonrpc":"2.0","id":1,"result":{}}\n' * 50)
                b.request(2)
                conn.received.wait_lines(2)
                time.sleep(0.5)
                # The host got the two requests and nothing of its own replies.
                self.assertEqual(len(conn.received.lines()), 2)
                self.assertEqual(b.finish(), 0)
                conn.close()

    def test_closed_stdin_ends_at_once_and_closed_stderr_still_reports_usage(self):
        proc = subprocess.run(["/bin/sh", "-c", 'exec "$0" mcp <&-', BRIDGE], capture_output=True,
                              env=minimal_env(self.dir, QUORVANE_MCP_SOCKET=self.path), timeout=WAIT)
        self.assertEqual((proc.returncode, proc.stdout), (0, b""))
        proc = subprocess.run(["/bin/sh", "-c", 'exec "$0" serve 2>&- <&- >&-', BRIDGE],
                              capture_output=True, env=minimal_env(self.dir), timeout=WAIT)
        self.assertEqual(proc.returncode, 2)
        self.assertEqual(self.host.connections, [])


class ClientLeavesTest(unittest.TestCase):
    """Standard input ends while the bridge waits for the host application."""

    def setUp(self):
        self.dir = short_temp_dir()
        self.addCleanup(shutil.rmtree, self.dir, True)

    def launcher(self, body):
        bindir = os.path.join(self.dir, "bin")
        os.makedirs(bindir, exist_ok=True)
        script = os.path.join(bindir, "gtk-launch")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(script, os.stat(script).st_mode | stat.S_IXUSR)
        return bindir + ":" + os.environ.get("PATH", "/usr/bin:/bin")

    def test_end_of_input_during_the_wait_ends_the_bridge_without_a_word(self):
        # While polling for a socket that never comes, and while a launcher
        # that never ends is waited for. The polling alone would last 15 s.
        marker = os.path.join(self.dir, "launched")
        cases = {
            "polling": minimal_env(self.dir, QUORVANE_MCP_SOCKET=os.path.join(self.dir, "none")),
            "launcher": minimal_env(self.dir, path=self.launcher(f'touch "{marker}"\nexec sleep 20\n')),
        }
        for name, env in cases.items():
            with self.subTest(case=name):
                b = Bridge(env)
                self.addCleanup(b.kill)
                b.request(1)
                b.request(2)
                if name == "launcher":
                    deadline = time.monotonic() + WAIT
                    while not os.path.exists(marker) and time.monotonic() < deadline:
                        time.sleep(0.05)
                time.sleep(0.5)
                started = time.monotonic()
                b.proc.stdin.close()
                self.assertEqual(b.proc.wait(WAIT), 0)
                self.assertLess(time.monotonic() - started, 8, "the wait went on")
                self.assertEqual(b.out.wait_end(), [])

    def test_the_application_starts_with_default_signals_and_the_launcher_is_not_waited_for_long(self):
        signals = os.path.join(self.dir, "signals")
        host = Host(os.path.join(self.dir, ".local/share/Quorvane/mcp.sock"))
        self.addCleanup(host.stop)
        # A launcher that starts the application, then lingers for a minute.
        path = self.launcher(f'grep -E "^Sig(Ign|Blk)" /proc/self/status > "{signals}"\n'
                             "exec sleep 60\n")
        b = Bridge(minimal_env(self.dir, path=path))
        self.addCleanup(b.kill)
        b.request(1)
        deadline = time.monotonic() + WAIT
        while not os.path.exists(signals) and time.monotonic() < deadline:
            time.sleep(0.05)
        host.start()
        # Delivered long before the launcher ends.
        host.connection(0, timeout=40).received.wait_lines(1)
        with open(signals) as f:
            status = dict(line.split(":") for line in f.read().split("\n") if line)
        # glibc's posix_spawn leaves its two internal signals (32 and 33,
        # below SIGRTMIN) ignored; every glibc program sets its own handlers
        # for them. No other signal may be ignored: SIGPIPE least of all.
        internal = (1 << 31) | (1 << 32)
        self.assertEqual(int(status["SigIgn"], 16) & ~internal, 0, status)
        self.assertEqual(int(status["SigBlk"], 16), 0, status)
        self.assertEqual(b.finish(), 0)


if __name__ == "__main__":
    unittest.main()
