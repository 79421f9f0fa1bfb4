#!/usr/bin/env python3
"""A collector with a known limit, for quillon-probe's test: takes syslog
datagrams on a UDP port and forwards each to another UDP port, but only up
to RATE a second (a token bucket holding a tenth of a second's worth); the
rest it drops. Prints "listening on PORT" once ready.

  --duplicate          forward every datagram it passes twice
  --shift-stamps SEC   move the time in each delivery stamp SEC seconds
                       later, as a collector that rewrites it would

Usage: rate_relay.py RATE FORWARD-PORT [--duplicate] [--shift-stamps SEC]
"""
import argparse
import re
import socket
import time

parser = argparse.ArgumentParser()
parser.add_argument("rate", type=float)
parser.add_argument("forward", type=int)
parser.add_argument("--duplicate", action="store_true")
parser.add_argument("--shift-stamps", type=float, default=0)
args = parser.parse_args()

rate = args.rate
forward = ("127.0.0.1", args.forward)
burst = rate / 50
shift = int(args.shift_stamps * 1_000_000)
# The token's last field, or the SD element's t="...".
stamp_time = re.compile(rb'(quillon=[\w-]+:\d+:\d+:|\bt=")(\d+)')


def shifted(match):
    return match.group(1) + str(int(match.group(2)) + shift).encode()


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
        if shift:
            datagram = stamp_time.sub(shifted, datagram)
        outbound.sendto(datagram, forward)
        if args.duplicate:
            outbound.sendto(datagram, forward)
