#!/usr/bin/env python3
"""A collector whose memory grows on purpose, for quillon-probe's soak and
its watched collector: takes syslog datagrams on a UDP port and forwards
each to another UDP port, keeping GROW kilobytes for each message it
forwards (0: steady). With --detach it forks twice and leaves its session
before it binds, as a daemon started without its foreground flag does.
Prints "listening on PORT" once ready (unless detached); --pid-file names
a file that gets the pid of the process that relays.

Usage: growing_relay.py PORT FORWARD-PORT [--grow KB] [--detach] [--pid-file FILE]
"""
import argparse
import os
import socket
import sys

parser = argparse.ArgumentParser()
parser.add_argument("port", type=int)
parser.add_argument("forward", type=int)
parser.add_argument("--grow", type=int, default=0)
parser.add_argument("--detach", action="store_true")
parser.add_argument("--pid-file")
args = parser.parse_args()

if args.detach:
    if os.fork():
        os._exit(0)
    os.setsid()
    if os.fork():
        os._exit(0)
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
if args.pid_file:
    with open(args.pid_file + ".new", "w") as f:
        f.write(str(os.getpid()))
    os.rename(args.pid_file + ".new", args.pid_file)

inbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
inbound.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
inbound.bind(("127.0.0.1", args.port))
outbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
if not args.detach:
    print("listening on", args.port, flush=True)

kept = []
while True:
    datagram = inbound.recv(65536)
    outbound.sendto(datagram, ("127.0.0.1", args.forward))
    if args.grow:
        # Written, not only reserved, so it is resident.
        kept.append(b"x" * (args.grow * 1024))
