"""The message relay of `quorvane mcp` against a test host on a real socket:
framing, the handshake replay after restarts, and the bridge's error replies."""
import fcntl
import json
import os
import socket
import struct
import termios
import threading
import time
import unittest

from bridge_peers import (CLOSED, NOTICE, WAIT, Bridge, Host, HostCase, error_reply, minimal_env,
                          objects)


class RelayCase(HostCase):
    def setUp(self):
        super().setUp()
        self.bridge = Bridge(minimal_env(self.dir, QUORVANE_MCP_SOCKET=self.path))
        self.addCleanup(self.bridge.kill)

    def restart_host(self):
        self.host.stop()
        self.host = Host(self.path).start()

    def finish(self):
        self.assertEqual(self.bridge.finish(), 0)


class FramingTest(RelayCase):
    def test_lines_pass_byte_for_byte_both_ways_and_empty_lines_vanish(self):
        big = b'{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"data":"' + b"x" * (1 << 20) + b'"}}'
        client_lines = [
            b'{ "jsonrpc" : "2.0", "id" : 1, "method" : "tools/list", "params" : {"x": 1.50, "s": "\\u00e9 \\/ \xc3\xa9"} }',
            b"not json at all",
            b'[{"jsonrpc":"2.0","id":5,"method":"a"}]',
            b"{}",
            big,
        ]
        self.bridge.send(b"\n\n" + b"\n\n".join(client_lines) + b"\n\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(len(client_lines)), client_lines)

        host_lines = [
            b'{"jsonrpc":"2.0", "id":1, "result":{"tools":[]}}',
            b"\xff not json",
            b'{"jsonrpc":"2.0","id":"s1","method":"sampling/createMessage"}',
            b'{"jsonrpc":"2.0","id":3,"result":{"data":"' + b"y" * (3 << 20) + b'"}}',
        ]
        conn.send(b"\n" + b"\n\n".join(host_lines) + b"\n")
        self.assertEqual(self.bridge.out.wait_lines(len(host_lines)), host_lines)
        self.finish()
        self.assertEqual(self.bridge.out.lines(), host_lines)

    def test_a_line_split_across_reads_is_handled_once_complete(self):
        first = b'{"jsonrpc":"2.0","id":1,"method":"ping"}'
        second = b'{"jsonrpc":"2.0","id":2,"method":"tools/list"}'
        self.bridge.send(first + b"\n" + second[:10])
        conn = self.host.connection(0)
        # The first line arriving proves the half line was read and held back.
        self.assertEqual(conn.received.wait_lines(1), [first])
        self.bridge.send(second[10:] + b"\n")
        self.assertEqual(conn.received.wait_lines(2), [first, second])

        reply = b'{"jsonrpc":"2.0","id":1,"result":{}}'
        conn.send(reply + b"\n" + reply[:7])
        self.assertEqual(self.bridge.out.wait_lines(1), [reply])
        conn.send(reply[7:] + b"\n")
        self.assertEqual(self.bridge.out.wait_lines(2), [reply, reply])
        self.finish()

    def test_unterminated_last_line_is_never_delivered(self):
        first = b'{"jsonrpc":"2.0","method":"notifications/initialized"}'
        self.bridge.send(first + b'\n{"jsonrpc":"2.0","id":9,"method":"tools/list"}')
        conn = self.host.connection(0)
        conn.received.wait_lines(1)
        self.finish()
        self.assertEqual(conn.received.wait_end(), [first])
        self.assertEqual(bytes(conn.received.data), first + b"\n")
        self.assertEqual(self.bridge.out.lines(), [])


INITIALIZE = (b'{"jsonrpc": "2.0", "id": 0, "method": "initialize", "params": '
              b'{"protocolVersion": "2025-06-18", "capabilities": {"roots": {}}, '
              b'"clientInfo": {"name": "t\\u00e9st", "version": 1.50}}, "extra": [1, 2e0]}')
INITIALIZED = b'{"jsonrpc":"2.0","method":"notifications/initialized"}'


class HandshakeTest(RelayCase):
    def test_restart_replays_initialize_initialized_notice_then_the_line(self):
        self.bridge.send(INITIALIZE + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(1), [INITIALIZE])
        conn.send(b'{"jsonrpc":"2.0","id":0,"result":{"capabilities":{}}}\n')
        self.bridge.out.wait_lines(1)
        self.bridge.send(INITIALIZED + b"\n")
        conn.received.wait_lines(2)

        for connection_number in (2, 3):
            self.restart_host()
            line = json.dumps({"jsonrpc": "2.0", "id": connection_number, "method": "tools/list"}).encode()
            self.bridge.send(line + b"\n")
            new = self.host.connection(0)
            replay, initialized, forwarded = new.received.wait_lines(3)
            expected = json.loads(INITIALIZE)
            expected["id"] = f"quorvane-bridge-{connection_number}"
            self.assertEqual(json.loads(replay), expected)
            # Every other member reaches the host as the client wrote it.
            for member in (b'"version":1.50', b'"name":"t\\u00e9st"', b'"extra":[1,2e0]'):
                self.assertIn(member, replay)
            self.assertEqual(initialized, INITIALIZED)
            self.assertEqual(forwarded, line)

            # The reply to the replayed initialize is swallowed.
            new.send(b'{"jsonrpc":"2.0","id":"quorvane-bridge-%d","result":{}}\n' % connection_number)
            new.send(b'{"jsonrpc":"2.0","id":%d,"result":{"tools":[]}}\n' % connection_number)
            count = 1 + 2 * (connection_number - 1)
            tail = self.bridge.out.wait_lines(count)[-2:]
            self.assertEqual(tail, [NOTICE, b'{"jsonrpc":"2.0","id":%d,"result":{"tools":[]}}' % connection_number])
        self.finish()
        self.assertEqual(len(self.bridge.out.lines()), 5)

    def test_no_replay_before_initialize_and_a_new_initialize_is_sent_instead(self):
        first = b'{"jsonrpc":"2.0","id":1,"method":"ping"}'
        self.bridge.send(first + b"\n")
        self.host.connection(0).received.wait_lines(1)
        self.restart_host()

        second = b'{"jsonrpc":"2.0","id":2,"method":"ping"}'
        self.bridge.send(second + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(1), [second])
        self.bridge.send(INITIALIZE + b"\n")
        self.assertEqual(conn.received.wait_lines(2), [second, INITIALIZE])
        self.restart_host()

        # The reconnection caused by an initialize sends only that initialize.
        again = INITIALIZE.replace(b'"id": 0', b'"id": 10')
        self.bridge.send(again + b"\n")
        conn = self.host.connection(0)
        self.assertEqual(conn.received.wait_lines(1), [again])
        conn.send(b'{"jsonrpc":"2.0","id":10,"result":{}}\n')
        # Requests 1, 2 and 0 were left open by the restarts; nothing else
        # (no tool list notice) reaches the client.
        reply = b'{"jsonrpc":"2.0","id":10,"result":{}}'
        self.bridge.out.wait_lines(4)
        self.finish()
        out = self.bridge.out.lines()
        self.assertIn(reply, out)
        out.remove(reply)
        self.assertEqual(sorted(o["id"] for o in objects(out)), [0, 1, 2])
        self.assertNotIn(NOTICE, out)


class UnansweredTest(RelayCase):
    def test_each_request_left_open_gets_one_error_when_the_host_goes(self):
        sent = [
            (7, "tools/list"), ("7", "tools/list"),    # share one entry: one reply clears both
            ("a", "tools/call"), (8, "tools/call"),
            ("quorvane-bridge-x", "tools/call"),        # its reply looks like a replay's and is dropped
            (None, "tools/list"), ({"k": [1]}, "ping"), (2.5, "ping"),
        ]
        for id_, method in sent:
            self.bridge.request(id_, method)
        self.bridge.send(b'{"jsonrpc":"2.0","method":"notifications/progress"}\n')
        self.bridge.send(b'{"jsonrpc":"2.0","id":"from-host","result":{}}\n')  # a client reply
        conn = self.host.connection(0)
        conn.received.wait_lines(len(sent) + 2)

        conn.send(b'{"jsonrpc":"2.0","id":"quorvane-bridge-x","result":{}}\n')
        conn.send(b'{"jsonrpc":"2.0","id":"a","method":"roots/list"}\n')  # a host request: "a" stays open
        conn.send(b'{"jsonrpc":"2.0","id":7,"result":{}}\n')
        conn.send(b'{"jsonrpc":"2.0","id":8,"error":{"code":1,"message":"no"}}\n')
        forwarded = self.bridge.out.wait_lines(3)
        self.assertEqual(forwarded[0], b'{"jsonrpc":"2.0","id":"a","method":"roots/list"}')

        conn.close()
        expected = [error_reply(i, CLOSED) for i in ("a", "quorvane-bridge-x", None, {"k": [1]}, 2.5)]
        errors = objects(self.bridge.out.wait_lines(3 + len(expected))[3:])
        key = lambda o: json.dumps(o, sort_keys=True)
        self.assertEqual(sorted(errors, key=key), sorted(expected, key=key))

        # A later request on a new connection is answered normally; nothing
        # more arrives for the old ones.
        self.restart_host()
        self.bridge.request(20)
        self.host.connection(0).send(b'{"jsonrpc":"2.0","id":20,"result":{}}\n')
        self.bridge.out.wait_lines(3 + len(expected) + 1)
        self.finish()
        self.assertEqual(len(self.bridge.out.lines()), 3 + len(expected) + 1)


class ConcurrencyTest(RelayCase):
    def test_replies_flow_while_a_large_request_is_being_written(self):
        # A host that answers before reading on: while the bridge is blocked
        # writing a large request to it, the host writes a small reply and a
        # large one. The reader must forward both without waiting for the
        # writer, or neither side can move again.
        self.host.stop()
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(self.path)
        listener.listen(1)
        self.addCleanup(listener.close)
        big_reply = b'{"jsonrpc":"2.0","id":2,"result":{"data":"' + b"r" * (8 << 20) + b'"}}'
        big_request = b'{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"d":"' + b"q" * (8 << 20) + b'"}}'
        received = []

        def host():
            conn, _ = listener.accept()
            with conn:
                data = b""
                while data.count(b"\n") < 2:
                    data += conn.recv(65536)
                # Wait until the bridge is in the middle of the large request.
                deadline = time.monotonic() + WAIT
                while time.monotonic() < deadline:
                    queued = struct.unpack("i", fcntl.ioctl(conn, termios.FIONREAD, b"\0" * 4))[0]
                    if queued >= 64 << 10:
                        break
                    time.sleep(0.01)
                conn.sendall(b'{"jsonrpc":"2.0","id":1,"result":{}}\n' + big_reply + b"\n")
                while data.count(b"\n") < 3:
                    chunk = conn.recv(1 << 20)
                    if not chunk:
                        break
                    data += chunk
                received.append(data)

        serving = threading.Thread(target=host, daemon=True)
        serving.start()
        self.bridge.request(1)
        self.bridge.request(2)
        writer = threading.Thread(target=self.bridge.send, args=(big_request + b"\n",), daemon=True)
        writer.start()
        out = self.bridge.out.wait_lines(2)[:2]
        self.assertEqual(out, [b'{"jsonrpc":"2.0","id":1,"result":{}}', big_reply])
        serving.join(WAIT)
        writer.join(WAIT)
        self.assertEqual(received[0].split(b"\n")[2], big_request)
        self.finish()

    def test_requests_on_a_connection_given_up_after_a_failed_write_are_answered_when_it_ends(self):
        self.bridge.request(1)
        first = self.host.connection(0)
        first.received.wait_lines(1)
        # The host stops reading: the next write fails, although the
        # connection has not ended yet.
        first.sock.shutdown(socket.SHUT_RD)
        # Three lines in one read, written together: they all go to the new
        # connection, in order.
        lines = [b'{"jsonrpc":"2.0","id":2,"method":"tools/list"}',
                 b'{"jsonrpc":"2.0","method":"notifications/progress"}',
                 b'{"jsonrpc":"2.0","id":3,"method":"tools/list"}']
        self.bridge.send(b"\n".join(lines) + b"\n")
        second = self.host.connection(1)
        self.assertEqual(second.received.wait_lines(3), lines)
        # When the given-up connection ends, its open request is answered at
        # once, while the new connection is still up.
        first.close()
        self.assertEqual(objects(self.bridge.out.wait_lines(1)), [error_reply(1, CLOSED)])
        second.send(b'{"jsonrpc":"2.0","id":2,"result":{}}\n')
        self.assertEqual(self.bridge.out.wait_lines(2)[1], b'{"jsonrpc":"2.0","id":2,"result":{}}')
        second.close()
        self.assertEqual(objects(self.bridge.out.wait_lines(3)[2:]), [error_reply(3, CLOSED)])
        self.finish()
        self.assertEqual(len(self.bridge.out.lines()), 3)


if __name__ == "__main__":
    unittest.main()
