#!/usr/bin/env python3
"""quillon-send --transport relp into RELP servers of Python's own that
answer some messages, none, or one with an error: every message sent ends
acknowledged or of unknown fate, the two add up to what was sent, and any
unknown fate fails the run."""

import json
import socket
import subprocess
import sys
import threading

SEND = sys.argv[1]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def frames(connection):
    """The client's frames as (txnr, command), read as they come."""
    buffer = b""
    while True:
        while b"\n" in buffer:
            header = buffer.split(b" ", 3)
            if len(header) < 3:
                break
            txnr, command = header[0], header[1]
            length = header[2][:len(header[2]) - len(header[2].lstrip(b"0123456789"))]
            start = len(txnr) + len(command) + len(length) + 2
            end = start + (int(length) + 1 if int(length) else 0)
            if len(buffer) <= end:
                break
            buffer = buffer[end + 1:]
            yield int(txnr), command
        chunk = connection.recv(65536)
        if not chunk:
            return
        buffer += chunk


class Server:
    """Answers the open, then each message with what answer(n) gives for
    the n-th (None: nothing), and the close when close is set."""

    def __init__(self, answer, close=True):
        self.answer, self.close = answer, close
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            connection, _ = self.listener.accept()
            threading.Thread(target=self.serve, args=(connection,), daemon=True).start()

    def serve(self, connection):
        def say(txnr, text):
            connection.sendall(b"%d rsp %d %s\n" % (txnr, len(text), text))

        messages = 0
        with connection:
            for txnr, command in frames(connection):
                if command == b"open":
                    say(txnr, b"200 OK\nrelp_version=0\nrelp_software=test\ncommands=syslog\n")
                elif command == b"syslog":
                    messages += 1
                    text = self.answer(messages)
                    if text:
                        say(txnr, text)
                elif command == b"close" and self.close:
                    say(txnr, b"200 OK")


def send(port, count, *more):
    run = subprocess.run([SEND, "--transport", "relp", "--port", str(port), "--unlimited", "--count", str(count),
                          "--connect-timeout", "1", "--json", *more], capture_output=True, timeout=120)
    lines = run.stdout.decode().strip().splitlines()
    return run.returncode, json.loads(lines[-1]) if lines else {}, run.stderr.decode()


def adds_up(name, code, summary, acknowledged, err):
    sent, unknown = summary.get("sent", -1), summary.get("unknown_fate", -1)
    check(summary.get("acknowledged") == acknowledged, f"{name}: {summary.get('acknowledged')} acknowledged")
    check(sent > 0 and summary.get("acknowledged", -1) + unknown == sent, f"{name}: {summary}")
    check(code == (1 if unknown > 0 else 0), f"{name}: exit {code} with {unknown} of unknown fate: {err}")


everything = Server(lambda n: b"200 OK")
code, summary, err = send(everything.port, 500)
adds_up("all answered", code, summary, 500, err)
check(summary.get("sent") == 500, f"all answered: {summary}")

# Every message within the window: none waited for an answer before the close.
silent = Server(lambda n: None, close=False)
for count, window in ((100, ()), (1000, ("--relp-window", "2000"))):
    code, summary, err = send(silent.port, count, *window)
    adds_up(f"none of {count} answered", code, summary, 0, err)
    check(summary.get("unknown_fate") == count, f"none of {count} answered: {summary}")

# In words, a run nothing was acknowledged of says so first.
run = subprocess.run([SEND, "--transport", "relp", "--port", str(silent.port), "--unlimited", "--count", "100",
                      "--connect-timeout", "1"], capture_output=True, timeout=120)
words = run.stdout.decode()
check(run.returncode == 1 and words.startswith("no message was acknowledged: 100 messages sent"),
      f"none answered, in words: exit {run.returncode}: {words!r}")

some = Server(lambda n: b"200 OK" if n <= 40 else None, close=False)
code, summary, err = send(some.port, 100)
adds_up("40 of 100 answered", code, summary, 40, err)

# The refused one is of unknown fate; librelp may read no answer after the
# error (those that follow are unknown too) or, when they came first, read them.
rejecting = Server(lambda n: b"500 refused" if n == 5 else b"200 OK")
code, summary, err = send(rejecting.port, 100)
acknowledged = summary.get("acknowledged", -1)
adds_up("the fifth refused", code, summary, acknowledged if 4 <= acknowledged <= 99 else 4, err)

sys.exit(1 if failures else 0)
