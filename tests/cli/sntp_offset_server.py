#!/usr/bin/env python3
"""A loopback time server whose clock runs OFFSET seconds (fractions allowed) from this
machine's. Prints its port on the first line once it listens.

  sntp_offset_server.py OFFSET [--silent] [--kiss CODE] [--unsynchronised] [--ipv6]
                               [--time-protocol] [--port N] [--address A] [--also-address B]
                               [--leap N] [--root-dispersion SECONDS] [--lose N]
                               [--rate-limit SECONDS]

SNTP over UDP by default; --time-protocol serves RFC 868 over TCP instead. --silent takes
requests and never answers, --kiss answers with a kiss-o'-death (stratum 0, CODE as the
reference id), --unsynchronised with leap indicator 3, --leap with leap indicator N (1: a
second inserted at the end of the day, 2: deleted), --root-dispersion claims that much
dispersion from its reference, --lose drops the first N requests, --rate-limit answers a
request that comes within SECONDS of the client's previous one with the kiss code RATE. --ipv6 listens on ::1,
--address on A (another loopback address in a network namespace of a test's own), and
--also-address on B as well: one server on two addresses, as a dual-stack host is. Its
reference timestamp is the moment it started, as a server's is the last time its clock was
set."""
import selectors
import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800
# Linux's SO_TIMESTAMPNS (also its control message type), which not every Python names.
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)


def ntp_time(t):
    secs = int(t // 1)
    return ((secs + NTP_EPOCH) & 0xFFFFFFFF) << 32 | int((t - secs) * (1 << 32))


def option(name, default=None):
    if name in sys.argv:
        return sys.argv[sys.argv.index(name) + 1]
    return default


def short_format(seconds):
    return int(seconds * 65536) & 0xFFFFFFFF


def serve_sntp(socks, offset, silent, kiss, unsynchronised, leap_indicator, dispersion, lose,
               rate_limit):
    # The kernel's own time of receipt: on a busy machine this process may run a while after
    # the datagram arrived, and a receive timestamp taken then would skew the offset a client
    # computes by half that delay.
    waiting = selectors.DefaultSelector()
    for sock in socks:
        sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        waiting.register(sock, selectors.EVENT_READ)
    reference = ntp_time(time.time() + offset)
    last_request = {}
    while True:
        sock = waiting.select()[0][0].fileobj
        data, ancillary, _, peer = sock.recvmsg(512, 1024)
        if silent or len(data) < 48:
            continue
        previous = last_request.get(peer[0])
        last_request[peer[0]] = time.monotonic()
        if lose > 0:
            lose -= 1
            continue
        too_soon = previous is not None and last_request[peer[0]] - previous < rate_limit
        received = time.time()
        for level, kind, payload in ancillary:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                seconds, nanoseconds = struct.unpack("qq", payload[:16])
                received = seconds + nanoseconds / 1e9
        received += offset
        origin = data[40:48]
        leap = 3 if unsynchronised else leap_indicator
        code = kiss or ("RATE" if too_soon else None)
        stratum = 0 if code else 2
        refid = code.encode("ascii")[:4].ljust(4, b"\0") if code else b"TEST"
        header = struct.pack("!BBbbII4sQ", (leap << 6) | (4 << 3) | 4, stratum, 6, -20, 0,
                             short_format(dispersion), refid, reference)
        reply = header + origin + struct.pack("!QQ", ntp_time(received),
                                              ntp_time(time.time() + offset))
        sock.sendto(reply, peer)


def serve_time_protocol(sock, offset):
    sock.listen(16)
    while True:
        conn, _ = sock.accept()
        with conn:
            conn.sendall(struct.pack("!I", (int((time.time() + offset) // 1) + NTP_EPOCH)
                                     & 0xFFFFFFFF))


def main():
    offset = float(sys.argv[1]) if len(sys.argv) > 1 and not sys.argv[1].startswith("--") else 0.0
    ipv6 = "--ipv6" in sys.argv or ":" in option("--address", "")
    family = socket.AF_INET6 if ipv6 else socket.AF_INET
    address = option("--address", "::1" if ipv6 else "127.0.0.1")
    tcp = "--time-protocol" in sys.argv
    sock = socket.socket(family, socket.SOCK_STREAM if tcp else socket.SOCK_DGRAM)
    if tcp:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, int(option("--port", "0"))))
    socks = [sock]
    also = option("--also-address")
    if also:
        second = socket.socket(socket.AF_INET6 if ":" in also else socket.AF_INET,
                               socket.SOCK_DGRAM)
        second.bind((also, sock.getsockname()[1]))
        socks.append(second)
    print(sock.getsockname()[1], flush=True)
    if tcp:
        serve_time_protocol(sock, offset)
    else:
        serve_sntp(socks, offset, "--silent" in sys.argv, option("--kiss"),
                   "--unsynchronised" in sys.argv, int(option("--leap", "0")),
                   float(option("--root-dispersion", "0")), int(option("--lose", "0")),
                   float(option("--rate-limit", "0")))


if __name__ == "__main__":
    main()
