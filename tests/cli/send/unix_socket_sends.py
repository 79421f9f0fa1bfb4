#!/usr/bin/env python3
"""quillon-send to Unix sockets of Python's own: the bytes arrive exactly,
one message per datagram or framed on a stream, and a refused or full
datagram socket is counted and named."""

import json
import os
import socket
import subprocess
import sys
import tempfile
import threading

SEND = sys.argv[1]
# Raw bytes, a NUL and a line break inside: nothing may be added or changed.
PAYLOAD = bytes.fromhex("3c31333e7465737420000aff7a")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def send(*args):
    run = subprocess.run([SEND, *args, "--json"], capture_output=True, timeout=60)
    summary = json.loads(run.stdout.decode().strip().splitlines()[-1]) if run.stdout.strip() else {}
    return run.returncode, summary, run.stderr.decode()


def hex_run(transport, path, count, *more):
    return send("--transport", transport, "--socket", path, "--message", "HEX=" + PAYLOAD.hex(),
                "--rate", "1000", "--count", str(count), *more)


def datagrams_arrive_exactly(folder):
    path = os.path.join(folder, "dgram.sock")
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as receiver:
        receiver.bind(path)
        code, summary, err = hex_run("unix-dgram", path, 5)
        check(code == 0, f"unix-dgram run exit {code}: {err}")
        check(summary.get("transport") == "unix-dgram" and summary.get("socket") == path, f"summary {summary}")
        receiver.settimeout(5)
        got = [receiver.recv(65536) for _ in range(5)]
        check(got == [PAYLOAD] * 5, f"datagrams {got}")
        receiver.setblocking(False)
        try:
            extra = receiver.recv(65536)
            check(False, f"a sixth datagram {extra!r}")
        except BlockingIOError:
            pass


def stream_arrives_framed(folder):
    for framing, expected in ((None, PAYLOAD + b"\n"),
                              ("octet-count", str(len(PAYLOAD)).encode() + b" " + PAYLOAD)):
        path = os.path.join(folder, f"stream-{framing}.sock")
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as listener:
            listener.bind(path)
            listener.listen()
            received = bytearray()

            def read():
                connection, _ = listener.accept()
                with connection:
                    while chunk := connection.recv(65536):
                        received.extend(chunk)

            reader = threading.Thread(target=read)
            reader.start()
            code, summary, err = hex_run("unix-stream", path, 4, *(("--framing", framing) if framing else ()))
            reader.join(10)
            check(code == 0, f"unix-stream {framing} exit {code}: {err}")
            check(summary.get("framing") == (framing or "lf"), f"framing {summary.get('framing')}")
            check(bytes(received) == expected * 4, f"stream {framing}: {bytes(received)!r}")


def refusals_are_counted(folder):
    stale = os.path.join(folder, "stale.sock")
    dead = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    dead.bind(stale)
    dead.close()  # the file stays, nothing listens on it
    for path, reason in ((os.path.join(folder, "none.sock"), "No such file or directory"),
                         (stale, "Connection refused")):
        code, summary, err = hex_run("unix-dgram", path, 3)
        check(code == 1, f"refused run exit {code}")
        check(summary.get("sent") == 3 and summary.get("refused") == 3, f"refused summary {summary}")
        check(err.count(reason) >= 1 and path in err, f"refusal not named: {err}")


def full_socket_is_reported(folder):
    path = os.path.join(folder, "full.sock")
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as receiver:
        receiver.bind(path)  # never read: its queue fills
        code, summary, err = send("--transport", "unix-dgram", "--socket", path, "--unlimited", "--count", "2000")
        check(code == 1, f"full run exit {code}")
        sent, failed = summary.get("sent", 0), summary.get("failed", 0)
        # As over UDP: the batch the full socket held up for a second fails,
        # and a batch of which nothing goes ends the run.
        check(sent > 0 and failed > 0 and sent + failed <= 2000, f"full summary {summary}")
        check("Resource temporarily unavailable" in err, f"full not named: {err}")
        queued = 0
        receiver.setblocking(False)
        try:
            while receiver.recv(65536):
                queued += 1
        except BlockingIOError:
            pass
        check(queued == sent, f"{queued} datagrams queued, {sent} counted sent")


with tempfile.TemporaryDirectory() as folder:
    datagrams_arrive_exactly(folder)
    stream_arrives_framed(folder)
    refusals_are_counted(folder)
    full_socket_is_reported(folder)
sys.exit(1 if failures else 0)
