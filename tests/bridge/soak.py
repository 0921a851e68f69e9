#!/usr/bin/env python3
"""Soak test of `quorvane mcp`, run on demand (not part of CTest):

    QUORVANE_BRIDGE=build/bridge/quorvane python3 tests/bridge/soak.py [requests] [restarts]

Sends 10,000 requests (64 in flight) while a host process is killed with
SIGKILL and restarted 20 times at random moments. Every request must get
exactly one answer, its reply or a -32000 error; nothing may be lost or
doubled, and the bridge must exit 0 at the end."""
import json
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

BRIDGE = os.environ.get("QUORVANE_BRIDGE", "build/bridge/quorvane")


def serve(path):
    """The host process: answers every request on every connection."""
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(16)

    def answer(conn):
        with conn, conn.makefile("rb") as lines:
            for line in lines:
                try:
                    msg = json.loads(line)
                except ValueError:
                    continue
                if isinstance(msg, dict) and "id" in msg and "method" in msg:
                    reply = {"jsonrpc": "2.0", "id": msg["id"], "result": {"ok": True}}
                    conn.sendall(json.dumps(reply).encode() + b"\n")

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

    def read_answers():
        for line in bridge.stdout:
            msg = json.loads(line)
            with cond:
                if "id" not in msg:
                    strays.append(msg)  # the tool list notice after a restart
                else:
                    answers.setdefault(msg["id"], []).append(msg)
                    if isinstance(msg["id"], int) and len(answers[msg["id"]]) == 1:
                        window.release()
                cond.notify_all()

    reader = threading.Thread(target=read_answers, daemon=True)
    reader.start()

    # The host is killed when the sender reaches each of `restarts` random
    # requests, and comes back after a random pause.
    kill_points = set(random.sample(range(1, total), restarts))
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
        bridge.stdin.write(json.dumps({"jsonrpc": "2.0", "id": i, "method": "tools/call"}).encode() + b"\n")
    with cond:
        cond.wait_for(lambda: all(i in answers for i in range(total)), timeout=600)
    kill_thread.join()
    bridge.stdin.close()
    status = bridge.wait(60)
    reader.join(10)
    host[0].kill()
    host[0].wait()
    shutil.rmtree(work, True)

    missing = [i for i in range(total) if i not in answers]
    doubled = [i for i, a in answers.items() if len(a) > 1]
    errors = sum(1 for i in range(total) if i in answers and "error" in answers[i][0])
    own = [i for i in answers if isinstance(i, str) and i.startswith("quorvane-bridge-")]
    print(f"requests {total}, restarts {restarts}, {time.monotonic() - started:.1f} s")
    print(f"answered {total - len(missing)}, replies {total - len(missing) - errors}, "
          f"errors {errors}, missing {len(missing)}, doubled {len(doubled)}, "
          f"replayed-initialize replies leaked {len(own)}, notices {len(strays)}, exit {status}")
    ok = not missing and not doubled and not own and status == 0
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--host":
        serve(sys.argv[2])
    else:
        sys.exit(main())
