#!/usr/bin/env python3
"""A collector that writes to a file which is rotated under it, for
quillon-probe's file follower: takes syslog datagrams on a UDP port and
writes each as a line to FILE; after every N lines it rotates, as logrotate
does: "rename" moves FILE to FILE.1 (and on) and writes a new FILE, keeping
the old one open a moment as a collector does until told to reopen;
"truncate" empties FILE in place (copytruncate). Prints "listening on PORT"
once ready.

Usage: rotating_writer.py PORT FILE N rename|truncate
"""
import os
import socket
import sys

port, path, every, mode = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]

inbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
inbound.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
inbound.bind(("127.0.0.1", port))
out = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
print("listening on", port, flush=True)

written = rotations = 0
while True:
    line = inbound.recv(65536).rstrip(b"\n") + b"\n"
    os.write(out, line)
    written += 1
    if written % every:
        continue
    rotations += 1
    if mode == "truncate":
        os.ftruncate(out, 0)
        continue
    os.rename(path, f"{path}.{rotations}")
    # Until it reopens, the collector still writes to the file moved away.
    os.write(out, inbound.recv(65536).rstrip(b"\n") + b"\n")
    written += 1
    os.close(out)
    out = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
