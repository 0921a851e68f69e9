"""`quorvane mcp` with hostile and unusual peers, against a test host on a real
socket: JSON that common parsers refuse, lines over the 64 MiB limit, closed
or non-blocking standard descriptors, byte-order marks, cancelled requests,
ids of every JSON type, a client that leaves while the bridge waits, hosts
that are busy or not the user's own, and the launch of the application."""
import json
import os
import re
import select
import shutil
import signal
import socket
import stat
import subprocess
import threading
import time
import unittest

from bridge_peers import (BRIDGE, CLOSED, NOT_RUNNING, NOTICE, WAIT, Bridge, Host, HostCase,
                          error_reply, minimal_env, objects, short_temp_dir)

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


BOM = b"\xef\xbb\xbf"
# Undeliverable lines wait out the full polling (about 15 s).
SLOW = 180


def full_listener(path):
    """A host that listens and never accepts, its queue full: (listener,
    the connections that fill its queue)."""
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(0)
    fillers = []
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.connect(path)
        except BlockingIOError:
            s.close()
            return listener, fillers
        fillers.append(s)


def stop_process(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def write_script(path, body):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)


# A host run by another user (nobody): listens on argv[1], appends what it
# receives to argv[2].
FOREIGN_HOST = """
import os, socket, sys, threading
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o777)
listener.listen(16)
record = open(sys.argv[2], "ab", buffering=0)
def serve(conn):
    while True:
        data = conn.recv(65536)
        if not data:
            return
        record.write(data)
print("ready", flush=True)
while True:
    conn, _ = listener.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
"""


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


class ByteOrderMarkTest(HostileCase):
    def test_marked_lines_are_read_both_ways_and_passed_on_as_received(self):
        b = self.bridge()
        init = BOM + b'{"jsonrpc":"2.0","id":0,"method":"initialize","params":{"v":1}}'
        b.send(init + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(1), [init])
        answered = BOM + b'{"jsonrpc":"2.0","id":0,"result":{}}'
        conn.send(answered + b"\n")
        self.assertEqual(b.out.wait_lines(1), [answered])
        # 5 is answered by a marked reply, 6 stays open.
        requests = [BOM + b'{"jsonrpc":"2.0","id":%d,"method":"tools/list"}' % i for i in (5, 6)]
        b.send(b"\n".join(requests) + b"\n")
        self.assertEqual(conn.received.wait_lines(3)[1:], requests)
        reply = BOM + b'{"jsonrpc":"2.0","id":5,"result":{}}'
        conn.send(reply + b"\n")
        b.out.wait_lines(2)
        self.host.stop()
        out = b.out.wait_lines(3)
        self.assertEqual(out[:2], [answered, reply])
        self.assertEqual(own_errors(out[2:]), [(b"6", CLOSED)])

        # The marked initialize was kept: a restarted host gets it again.
        self.host = Host(self.path).start()
        b.request(7)
        new = self.host.connection(0)
        replay, forwarded = new.received.wait_lines(2)
        self.assertEqual(json.loads(replay), {"jsonrpc": "2.0", "id": "quorvane-bridge-2",
                                              "method": "initialize", "params": {"v": 1}})
        self.assertEqual(json.loads(forwarded)["id"], 7)
        # The host's marked reply to it is swallowed.
        new.send(BOM + b'{"jsonrpc":"2.0","id":"quorvane-bridge-2","result":{}}\n')
        new.send(b'{"jsonrpc":"2.0","id":7,"result":{}}\n')
        self.assertEqual(b.out.wait_lines(5)[3:], [NOTICE, b'{"jsonrpc":"2.0","id":7,"result":{}}'])
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), 5)


class NonBlockingTest(HostileCase):
    def test_non_blocking_input_and_output_are_waited_on_and_lines_stay_whole(self):
        in_r, in_w = os.pipe()
        out_r, out_w = os.pipe()
        self.addCleanup(os.close, out_r)
        os.set_blocking(in_r, False)
        os.set_blocking(out_w, False)
        b = Bridge(minimal_env(self.dir, QUORVANE_MCP_SOCKET=self.path), stdin=in_r, stdout=out_w)
        self.addCleanup(b.kill)
        os.close(in_r)
        os.close(out_w)
        # Nothing to read yet: the bridge waits instead of ending.
        time.sleep(0.5)
        self.assertIsNone(b.proc.poll())
        count = 40
        os.write(in_w, b"".join(b'{"jsonrpc":"2.0","id":%d,"method":"tools/list"}\n' % i
                                for i in range(count)))
        conn = self.host.connection(0)
        conn.received.wait_lines(count)
        # About 2 MB of replies against a 64 KiB pipe nobody reads for now.
        replies = [b'{"jsonrpc":"2.0","id":%d,"result":{"d":"%s"}}' % (i, bytes([97 + i % 26]) * 50000)
                   for i in range(count)]
        # Sent from another thread: the host blocks too until the client reads.
        threading.Thread(target=conn.send, args=(b"\n".join(replies) + b"\n",), daemon=True).start()
        time.sleep(1)
        data = bytearray()
        deadline = time.monotonic() + WAIT
        while data.count(b"\n") < count and time.monotonic() < deadline:
            select.select([out_r], [], [], 1)
            data += os.read(out_r, 4096)
        self.assertEqual(bytes(data).split(b"\n")[:-1], replies)
        os.close(in_w)
        self.assertEqual(b.proc.wait(WAIT), 0)


class CancelledRequestTest(HostileCase):
    def test_a_cancelled_request_gets_no_answer_when_the_host_quits(self):
        b = self.bridge()
        for id_ in (1, 2, "3"):
            b.request(id_)
        cancels = [
            b'{"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1,"reason":"x"}}',
            # A number cancels the string id of the same text: they are one entry.
            BOM + b'{"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":3}}',
        ]
        b.send(b"\n".join(cancels) + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(5)[3:], cancels)
        conn.close()
        self.assertEqual(own_errors(b.out.wait_lines(1)), [(b"2", CLOSED)])
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), 1)


class IdTypesTest(HostileCase):
    def test_a_string_id_shares_no_entry_with_a_null_boolean_or_array_of_its_text(self):
        b = self.bridge()
        ids = [b'"null"', b'"true"', b'"[1,2]"', b'"7"']
        b.send(b"".join(request(raw) + b"\n" for raw in ids))
        conn = self.host.connection(0)
        conn.received.wait_lines(len(ids))
        # A parse error (id null) and replies to ids nobody sent; only the
        # number 7 answers the string "7".
        replies = [b'{"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}}',
                   b'{"jsonrpc":"2.0","id":true,"result":{}}',
                   b'{"jsonrpc":"2.0","id":[1,2],"result":{}}',
                   b'{"jsonrpc":"2.0","id":7,"result":{}}']
        conn.send(b"\n".join(replies) + b"\n")
        self.assertEqual(b.out.wait_lines(len(replies)), replies)
        conn.close()
        out = b.out.wait_lines(len(replies) + 3)
        self.assertEqual(sorted(own_errors(out[len(replies):])),
                         sorted((raw, CLOSED) for raw in ids[:3]))
        self.assertEqual(b.finish(), 0)
        self.assertEqual(len(b.out.lines()), len(replies) + 3)


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
        busy = os.path.join(self.dir, "busy.sock")
        listener, fillers = full_listener(busy)
        for s in [listener, *fillers]:
            self.addCleanup(s.close)
        cases = {
            "polling": minimal_env(self.dir, QUORVANE_MCP_SOCKET=os.path.join(self.dir, "none")),
            "launcher": minimal_env(self.dir, path=self.launcher(f'touch "{marker}"\nexec sleep 20\n')),
            # Listening, never accepting, its queue full.
            "full queue": minimal_env(self.dir, QUORVANE_MCP_SOCKET=busy),
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

    def test_the_launcher_and_the_application_get_no_descriptor_of_the_bridge(self):
        # The launcher leaves the application running, as gtk-launch does.
        pidfile = os.path.join(self.dir, "app.pid")
        path = self.launcher(f'sleep 120 &\necho $! > "{pidfile}.new"\nmv "{pidfile}.new" "{pidfile}"\n')
        host = Host(os.path.join(self.dir, ".local/share/Quorvane/mcp.sock"))
        self.addCleanup(host.stop)
        # A descriptor the client handed over without close-on-exec.
        inherited_r, inherited_w = os.pipe()
        self.addCleanup(os.close, inherited_r)
        b = Bridge(minimal_env(self.dir, path=path), pass_fds=(inherited_w,))
        self.addCleanup(b.kill)
        os.close(inherited_w)
        b.request(1)
        deadline = time.monotonic() + WAIT
        while not os.path.exists(pidfile) and time.monotonic() < deadline:
            time.sleep(0.05)
        with open(pidfile) as f:
            app = int(f.read())
        self.addCleanup(stop_process, app)
        host.start()
        host.connection(0).received.wait_lines(1)
        fds = {int(fd): os.readlink(f"/proc/{app}/fd/{fd}") for fd in os.listdir(f"/proc/{app}/fd")}
        self.assertEqual([fds.get(fd) for fd in (0, 1, 2)], ["/dev/null"] * 3, fds)
        self.assertEqual([t for t in fds.values() if t.startswith(("pipe:", "socket:"))], [], fds)
        # With the bridge gone, the client sees the end of its pipes at once,
        # though the application lives on.
        started = time.monotonic()
        self.assertEqual(b.finish(timeout=10), 0)
        self.assertEqual(select.select([inherited_r], [], [], 10)[0], [inherited_r])
        self.assertEqual(os.read(inherited_r, 1), b"")
        self.assertLess(time.monotonic() - started, 10)
        os.kill(app, 0)  # still running

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


class UnreachableHostTest(unittest.TestCase):
    """Hosts the bridge cannot or must not talk to, side by side: each
    request gets the not-running error once the polling (about 15 s) is over,
    and nothing reaches a host of another user or runs from the working
    folder."""

    def setUp(self):
        self.dir = short_temp_dir()
        self.addCleanup(shutil.rmtree, self.dir, True)
        os.chmod(self.dir, 0o755)  # reachable by the other user's host

    def foreign_host(self):
        """A host of the user nobody in a shared sticky folder: (its socket,
        the file that records what it receives)."""
        shared = os.path.join(self.dir, "shared")
        os.mkdir(shared)
        os.chmod(shared, 0o1777)
        path, record = os.path.join(shared, "app.sock"), os.path.join(shared, "received")
        proc = subprocess.Popen(["/usr/bin/python3", "-c", FOREIGN_HOST, path, record],
                                stdout=subprocess.PIPE, user=65534, group=65534)
        self.addCleanup(proc.wait)
        self.addCleanup(proc.kill)
        self.assertEqual(proc.stdout.readline(), b"ready\n")
        proc.stdout.close()
        # It does take connections and records them.
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            probe.connect(path)
            probe.sendall(b"probe\n")
        return path, record

    def test_busy_foreign_and_working_folder_hosts_are_never_used(self):
        cases = {}

        def home(name):
            folder = os.path.join(self.dir, name.replace(" ", "-").replace("'", "").replace("=", ""))
            os.makedirs(folder, exist_ok=True)
            return folder

        busy = os.path.join(self.dir, "busy.sock")
        listener, fillers = full_listener(busy)
        for s in [listener, *fillers]:
            self.addCleanup(s.close)
        cases["full queue"] = {"env": minimal_env(home("full queue"), QUORVANE_MCP_SOCKET=busy)}

        # A launcher in the working folder, which PATH names in a relative way.
        for value in (".", "", ":/nonexistent", "bin"):
            name = f"PATH='{value}'"
            work = home(name)
            write_script(os.path.join(work, "gtk-launch"), f'touch "{work}/launched"\n')
            write_script(os.path.join(work, "bin", "gtk-launch"), f'touch "{work}/launched"\n')
            env = minimal_env(work)
            env["PATH"] = value
            cases[name] = {"env": env, "cwd": work, "never": os.path.join(work, "launched")}

        record = None
        if os.geteuid() == 0:
            foreign, record = self.foreign_host()
            cases["another user's socket"] = {
                "env": minimal_env(home("foreign"), QUORVANE_MCP_SOCKET=foreign)}
            linked = home("linked")
            os.makedirs(os.path.join(linked, ".local/share/Quorvane"))
            os.symlink(foreign, os.path.join(linked, ".local/share/Quorvane/mcp.sock"))
            # The launcher is found and run; the socket is still refused.
            write_script(os.path.join(linked, "bin", "gtk-launch"), f'touch "{linked}/launched"\n')
            cases["a link to another user's socket"] = {
                "env": minimal_env(linked, path=os.path.join(linked, "bin") + ":/usr/bin:/bin"),
                "launched": os.path.join(linked, "launched")}

        started = time.monotonic()
        bridges = {}
        for name, case in cases.items():
            b = Bridge(case["env"], cwd=case.get("cwd"))
            self.addCleanup(b.kill)
            # A marked request is answered like any other.
            b.send(BOM + b'{"jsonrpc":"2.0","id":1,"method":"tools/list"}\n')
            bridges[name] = b
        for name, b in bridges.items():
            with self.subTest(case=name):
                self.assertEqual(objects(b.out.wait_lines(1, timeout=SLOW)),
                                 [error_reply(1, NOT_RUNNING)])
                if name == "full queue":
                    # It polled all along rather than giving up at once.
                    self.assertGreater(time.monotonic() - started, 14)
                self.assertEqual(b.finish(), 0)
                self.assertEqual(len(b.out.lines()), 1)
                if "never" in cases[name]:
                    self.assertFalse(os.path.exists(cases[name]["never"]))
                if "launched" in cases[name]:
                    self.assertTrue(os.path.exists(cases[name]["launched"]))
        if record:
            with open(record, "rb") as f:
                self.assertEqual(f.read(), b"probe\n")


if __name__ == "__main__":
    unittest.main()
