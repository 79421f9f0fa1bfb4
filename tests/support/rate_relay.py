#!/usr/bin/env python3
"""A collector with a known limit, for quillon-probe's test: takes syslog
datagrams on a UDP port and forwards each to another UDP port, but only up
to RATE a second (a token bucket holding a tenth of a second's worth); the
rest it drops. Prints "listening on PORT" once ready.

Usage: rate_relay.py RATE FORWARD-PORT
"""
import socket
import sys
import time

rate = float(sys.argv[1])
forward = ("127.0.0.1", int(sys.argv[2]))
burst = rate / 50

inbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
inbound.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
inbound.bind(("127.0.0.1", 0))
outbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
print("listening on", inbound.getsockname()[1], flush=True)

tokens = burst
last = time.monotonic()
while True:
    datagram = inbound.recv(65536)
    now = time.monotonic()
    tokens = min(burst, tokens + (now - last) * rate)
    last = now
    if tokens >= 1:
        tokens -= 1
        outbound.sendto(datagram, forward)
