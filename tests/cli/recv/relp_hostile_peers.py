#!/usr/bin/env python3
"""quillon-recv --listen relp against clients of Python's own: one that
sends and never reads its answers is paused and closed after
--idle-timeout with the receiver's memory bounded; sessions count against
--max-connections (the one idle longest makes room) and are closed when
quiet; junk, a frame out of turn or one over --max-frame ends its session,
counted; a well-behaved client gets its answers in order."""

import json
import os
import signal
import socket
import struct
import subprocess
import sys
import time

RECV = sys.argv[1]
# The never-reading client's messages, and what the receiver may grow by.
FLOOD = 3_000_000
GROWTH_LIMIT = 50 << 20
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


class Receiver:
    def __init__(self, *args):
        self.process = subprocess.Popen([RECV, "--listen", "relp", "--bind", "127.0.0.1", "--port", "0", "--json",
                                         *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.process.stderr.readline().decode()
        check(line.startswith("listening on relp 127.0.0.1:"), f"listening line {line!r}")
        self.port = int(line.rsplit(":", 1)[1])

    def peak_memory(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))

    def finish(self):
        self.process.send_signal(signal.SIGTERM)
        out, err = self.process.communicate(timeout=60)
        return json.loads(out.decode().strip().splitlines()[-1]), err.decode()


def frame(txnr, command, data=b""):
    return b"%d %s %d%s\n" % (txnr, command, len(data), b" " + data if data else b"")


OPEN = frame(1, b"open", b"relp_version=0\nrelp_software=test\ncommands=syslog")


def connect(port):
    connection = socket.create_connection(("127.0.0.1", port))
    connection.settimeout(10)
    return connection


def read_until(connection, end):
    got = b""
    while not got.endswith(end):
        chunk = connection.recv(65536)
        if not chunk:
            break
        got += chunk
    return got


def closed(connection, seconds):
    """Whether the receiver closed the connection, seen without reading."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        state = struct.unpack("B", connection.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1))[0]
        if state in (7, 8):  # TCP_CLOSE after a reset, TCP_CLOSE_WAIT after a FIN
            return True
        time.sleep(0.05)
    return False


def never_reading_client_is_paused_and_closed():
    receiver = Receiver("--idle-timeout", "2")
    before = receiver.peak_memory()
    client = connect(receiver.port)
    client.settimeout(5)
    sent, txnr = 0, 2
    message = b"<13>quillon hostile peer: never reads an answer"
    try:
        client.sendall(OPEN)
        while sent < FLOOD:
            client.sendall(b"".join(frame(txnr + i, b"syslog", message) for i in range(10000)))
            sent, txnr = sent + 10000, txnr + 10000
    except (socket.timeout, BrokenPipeError, ConnectionResetError):
        pass
    check(sent < FLOOD, f"the receiver read all {sent} messages of a client that takes no answer")
    check(closed(client, 30), "the paused session was not closed after --idle-timeout")
    grown = receiver.peak_memory() - before
    summary, err = receiver.finish()
    client.close()
    check(grown < GROWTH_LIMIT, f"the receiver grew by {grown >> 20} MiB for {sent} messages sent")
    check(summary.get("paused_sessions") == 1 and summary.get("idle_closed") == 1, f"summary {summary}")
    check(summary.get("acknowledged", 0) <= summary.get("messages", -1) < FLOOD, f"summary {summary}")
    print(f"never-reading client: {sent} messages sent, {summary.get('messages')} taken, "
          f"{summary.get('acknowledged')} answered, the receiver grew by {grown >> 10} KiB")


def sessions_are_limited_and_junk_ends_them():
    receiver = Receiver("--max-connections", "2", "--idle-timeout", "2", "--max-frame", "100")
    good = connect(receiver.port)
    good.sendall(OPEN)
    opened = read_until(good, b"\n")
    check(opened.startswith(b"1 rsp ") and b"200 OK\n" in opened and b"commands=syslog" in opened,
          f"open answered {opened!r}")
    good.sendall(b"".join(frame(n, b"syslog", b"<13>good %d" % n) for n in (2, 3, 4)) + frame(5, b"close"))
    answers = read_until(good, b"5 rsp 6 200 OK\n")
    check(answers == b"2 rsp 6 200 OK\n3 rsp 6 200 OK\n4 rsp 6 200 OK\n5 rsp 6 200 OK\n", f"answers {answers!r}")
    check(good.recv(100) == b"", "the session went on after its close")
    for junk in (b"hello\n", OPEN + frame(3, b"syslog", b"<13>out of turn"), OPEN + b"2 syslog 101 "):
        peer = connect(receiver.port)
        peer.sendall(junk)
        check(closed(peer, 10), f"{junk!r} did not end its session")
        peer.close()
    held = []
    for _ in range(3):
        held.append(connect(receiver.port))
        held[-1].sendall(OPEN)
        check(read_until(held[-1], b"\n").startswith(b"1 rsp "), "a session at --max-connections was not taken")
    check(closed(held[0], 10), "the session idle longest did not make room at --max-connections")
    for peer in held[1:]:
        check(read_until(peer, b"\n") == b"0 serverclose 0\n", "a quiet session was not told its end")
        check(peer.recv(100) == b"", "a quiet session was not closed after --idle-timeout")
    summary, err = receiver.finish()
    expected = {"messages": 3, "acknowledged": 3, "connections": 7, "idle_evicted": 1, "idle_closed": 2,
                "malformed_frames": 2, "oversize_frames": 1}
    check(all(summary.get(key) == value for key, value in expected.items()), f"summary {summary}")
    # A message skipped for its size fails the run.
    check(summary.get("exit_status") == 1, f"exit {summary.get('exit_status')}: {err}")


never_reading_client_is_paused_and_closed()
sessions_are_limited_and_junk_ends_them()
sys.exit(1 if failures else 0)
