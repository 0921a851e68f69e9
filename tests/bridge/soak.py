#!/usr/bin/env python3
"""Soak test of `quorvane mcp`, run on demand (not part of CTest):

    QUORVANE_BRIDGE=build/bridge/quorvane python3 tests/bridge/soak.py [requests] [restarts]

Sends 10,000 requests (64 in flight) while a host process is killed with
SIGKILL and restarted 20 times at random moments. Hostile lines are mixed in:
ids that common parsers refuse (integers beyond 64 bits, 1e400, lone
surrogates), parameters nested 2000 deep, requests over the 64 MiB line
limit, and host replies over it. Every request must get exactly one answer,
its reply or a -32000 error; nothing may be lost or doubled, and the bridge
must exit 0 at the end."""
import json
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

BRIDGE = os.environ.get("QUORVANE_BRIDGE", "build/bridge/quorvane")
LIMIT = 64 << 20
TOO_LARGE = "That message is too large for Quorvane to pass on."
# Requests are written with the id first, so the host can echo it as written.
REQUEST_ID = re.compile(rb'^\{"jsonrpc":"2\.0","id":(.*?),"method":"([^"]*)"')


def raw_id(i):
    """The id of request i as the client writes it: mostly plain, sometimes
    of a kind that common JSON parsers refuse."""
    kind = i % 10
    if kind == 3:
        return b"%d" % (10 ** 25 + i)  # beyond 64 bits
    if kind == 5:
        return b"%de400" % i  # beyond any double
    if kind == 7:
        return b'"\\ud800-%d"' % i  # a lone surrogate
    return b"%d" % i


def key(value):
    """One id as read back from the bridge's output (numbers kept as text)."""
    return value if isinstance(value, str) else ("n", value[1])


def parse(line):
    return json.loads(line, parse_int=lambda t: ("n", t), parse_float=lambda t: ("n", t))


def serve(path):
    """The host process: answers every request on every connection."""
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(16)

    def answer(conn):
        with conn, conn.makefile("rb") as lines:
            for line in lines:
                m = REQUEST_ID.match(line)
                if not m:
                    continue
                if m.group(2) == b"big/reply":  # a reply over the line limit
                    head = b'{"jsonrpc":"2.0","id":%s,"result":{"d":"' % m.group(1)
                    conn.sendall(head + b"r" * LIMIT + b'"}}\n')
                else:
                    conn.sendall(b'{"jsonrpc":"2.0","id":%s,"result":{"ok":true}}\n' % m.group(1))

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=answer, args=(conn,), daemon=True).start()


def main():
    total = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
    restarts = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    work = tempfile.mkdtemp(prefix="qsoak", dir="/tmp")
    path = os.path.join(work, "app.sock")
    host = [None]

    def start_host():
        if os.path.exists(path):
            os.unlink(path)
        host[0] = subprocess.Popen([sys.executable, __file__, "--host", path])

    start_host()
    bridge = subprocess.Popen([BRIDGE, "mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              env={**os.environ, "QUORVANE_MCP_SOCKET": path}, bufsize=0)
    answers = {}
    strays = []
    cond = threading.Condition()
    window = threading.Semaphore(64)

    keys = {}  # request number -> the key of its id in `answers`

    def read_answers():
        for line in bridge.stdout:
            msg = parse(line)
            with cond:
                if "id" not in msg:
                    strays.append(msg)  # the tool list notice after a restart
                else:
                    k = key(msg["id"])
                    answers.setdefault(k, []).append(msg)
                    if k != "init" and len(answers[k]) == 1:
                        window.release()
                cond.notify_all()

    reader = threading.Thread(target=read_answers, daemon=True)
    reader.start()

    # The host is killed when the sender reaches each of `restarts` random
    # requests, and comes back after a random pause.
    kill_points = set(random.sample(range(1, total), restarts))
    # A few requests over the limit, a few whose replies are, and some with
    # parameters nested deep.
    spots = random.sample(range(1, total), 12)
    too_long, big_replies, deep = set(spots[:4]), set(spots[4:7]), set(spots[7:])
    kills = threading.Semaphore(0)

    def killer():
        for _ in range(restarts):
            kills.acquire()
            time.sleep(random.uniform(0.0, 0.05))
            host[0].kill()
            host[0].wait()
            time.sleep(random.uniform(0.0, 0.8))
            start_host()

    started = time.monotonic()
    bridge.stdin.write(b'{"jsonrpc":"2.0","id":"init","method":"initialize","params":{}}\n')
    bridge.stdin.write(b'{"jsonrpc":"2.0","method":"notifications/initialized"}\n')
    kill_thread = threading.Thread(target=killer)
    kill_thread.start()
    for i in range(total):
        window.acquire()
        if i in kill_points:
            kills.release()
        rid = raw_id(i)
        keys[i] = key(parse(b'{"id":%s}' % rid)["id"])
        method = b"big/reply" if i in big_replies else b"tools/call"
        params = b"{}"
        if i in too_long:
            params = b'{"d":"' + b"x" * LIMIT + b'"}'
        elif i in deep:
            params = b"[" * 2000 + b"]" * 2000
        bridge.stdin.write(b'{"jsonrpc":"2.0","id":%s,"method":"%s","params":%s}\n' % (rid, method, params))
    with cond:
        cond.wait_for(lambda: all(keys[i] in answers for i in range(total)), timeout=600)
    kill_thread.join()
    bridge.stdin.close()
    status = bridge.wait(60)
    reader.join(10)
    host[0].kill()
    host[0].wait()
    shutil.rmtree(work, True)

    missing = [i for i in range(total) if keys[i] not in answers]
    doubled = [k for k, a in answers.items() if len(a) > 1]
    errors = sum(1 for i in range(total) if keys[i] in answers and "error" in answers[keys[i]][0])
    large = [i for i in range(total) if keys[i] in answers and
             answers[keys[i]][0].get("error", {}).get("message") == TOO_LARGE]
    own = [k for k in answers if isinstance(k, str) and k.startswith("quorvane-bridge-")]
    # Over-limit requests must be refused; an over-limit reply becomes the
    # same error unless its host was killed before it was sent.
    wrong = [i for i in too_long if i not in large] + [i for i in large if i not in too_long | big_replies]
    hostile = sum(1 for i in range(total) if i % 10 in (3, 5, 7))
    print(f"requests {total} ({hostile} with hostile ids, {len(deep)} nested 2000 deep, "
          f"{len(too_long)} over the limit, {len(big_replies)} with replies over it), "
          f"restarts {restarts}, {time.monotonic() - started:.1f} s")
    print(f"answered {total - len(missing)}, replies {total - len(missing) - errors}, "
          f"errors {errors} (too large {len(large)}), missing {len(missing)}, doubled {len(doubled)}, "
          f"replayed-initialize replies leaked {len(own)}, notices {len(strays)}, exit {status}")
    ok = not missing and not doubled and not own and not wrong and status == 0
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--host":
        serve(sys.argv[2])
    else:
        sys.exit(main())
