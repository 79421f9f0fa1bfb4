#!/usr/bin/env python3
"""Collectors with a known limit, for quillon-probe's tests and for trying it
by hand. Each takes syslog messages on a loopback port and forwards them to
FORWARD-PORT on 127.0.0.1, where the probe receives, and prints
"listening on PORT" once it listens.

  udp-bucket RATE FORWARD-PORT   UDP in and out; forwards up to RATE a second
                                 (a token bucket holding a fiftieth of a
                                 second's worth) and drops the rest
  tcp-capped RATE FORWARD-PORT   TCP in and out, one message a line; reads
                                 at most RATE messages a second and drops
                                 nothing, so a faster sender is held back
  delay MS FORWARD-PORT          UDP in and out; forwards every datagram MS
                                 milliseconds after it came

  --port PORT            listen on this port (default: one the system picks)
  --listen-after SECONDS start listening only after this long
"""
import argparse
import collections
import selectors
import socket
import time


def udp_socket(port):
    inbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    inbound.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    inbound.bind(("127.0.0.1", port))
    return inbound


def announce(sock):
    print("listening on", sock.getsockname()[1], flush=True)


def udp_bucket(rate, forward, port):
    inbound = udp_socket(port)
    outbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    announce(inbound)
    burst = max(1.0, rate / 50)
    tokens, last = burst, time.monotonic()
    while True:
        datagram = inbound.recv(65536)
        now = time.monotonic()
        tokens = min(burst, tokens + (now - last) * rate)
        last = now
        if tokens >= 1:
            tokens -= 1
            outbound.sendto(datagram, forward)


def delay(ms, forward, port):
    inbound = udp_socket(port)
    inbound.setblocking(False)
    outbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    announce(inbound)
    waiting = collections.deque()
    poller = selectors.DefaultSelector()
    poller.register(inbound, selectors.EVENT_READ)
    while True:
        timeout = max(0.0, waiting[0][0] - time.monotonic()) if waiting else None
        if poller.select(timeout):
            try:
                while True:
                    waiting.append((time.monotonic() + ms / 1000, inbound.recv(65536)))
            except BlockingIOError:
                pass
        now = time.monotonic()
        while waiting and waiting[0][0] <= now:
            outbound.sendto(waiting.popleft()[1], forward)


def tcp_capped(rate, forward, port):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    # Made at the first message: the probe listens only once it runs.
    outbound = None
    announce(listener)
    poller = selectors.DefaultSelector()
    poller.register(listener, selectors.EVENT_READ)
    # Per connection: bytes read and not yet forwarded, and whether it ended.
    # A connection is read only as far as there are tokens to spend, so what
    # is not taken waits in the sender's buffers.
    pending = {}
    burst = max(1.0, rate / 50)
    tokens, last = burst, time.monotonic()
    while True:
        if poller.select(0.005):
            connection, _ = listener.accept()
            pending[connection] = [b"", False]
        now = time.monotonic()
        tokens = min(burst, tokens + (now - last) * rate)
        last = now
        for connection, entry in list(pending.items()):
            want = int(tokens)
            while not entry[1] and entry[0].count(b"\n") < want:
                try:
                    chunk = connection.recv(max(4096, want * 256), socket.MSG_DONTWAIT)
                except BlockingIOError:
                    break
                entry[0] += chunk
                entry[1] = not chunk
            cut, lines = 0, 0
            while lines < want and (end := entry[0].find(b"\n", cut)) >= 0:
                cut, lines = end + 1, lines + 1
            if lines:
                outbound = forward_stream(outbound, forward, entry[0][:cut])
                entry[0] = entry[0][cut:]
                tokens -= lines
            if entry[1] and b"\n" not in entry[0]:
                connection.close()
                del pending[connection]


def forward_stream(outbound, forward, data):
    """Sends data on outbound, made again when the receiver went away (a
    probe that ended); returns the connection to use next."""
    for _ in range(2):
        try:
            if not outbound:
                outbound = socket.create_connection(forward)
                outbound.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            outbound.sendall(data)
            return outbound
        except OSError:
            outbound = None
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["udp-bucket", "tcp-capped", "delay"])
    parser.add_argument("limit", type=float)
    parser.add_argument("forward_port", type=int)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--listen-after", type=float, default=0)
    args = parser.parse_args()
    time.sleep(args.listen_after)
    forward = ("127.0.0.1", args.forward_port)
    {"udp-bucket": udp_bucket, "tcp-capped": tcp_capped, "delay": delay}[args.kind](args.limit, forward, args.port)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
