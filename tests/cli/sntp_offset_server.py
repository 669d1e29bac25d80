#!/usr/bin/env python3
"""A loopback SNTP server whose clock runs OFFSET seconds from this machine's, or one that
never answers (--silent). Prints its port on the first line once it listens."""
import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800


def ntp_time(t):
    secs = int(t)
    return ((secs + NTP_EPOCH) & 0xFFFFFFFF) << 32 | int((t - secs) * (1 << 32))


def main():
    offset = float(sys.argv[1]) if len(sys.argv) > 1 else 0.0
    silent = "--silent" in sys.argv
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print(sock.getsockname()[1], flush=True)
    while True:
        data, peer = sock.recvfrom(512)
        if silent or len(data) < 48:
            continue
        now = time.time() + offset
        origin = data[40:48]
        reply = struct.pack("!BBbbII4sQ", (0 << 6) | (4 << 3) | 4, 2, 6, -20, 0, 0, b"TEST",
                            ntp_time(now)) + origin + struct.pack("!QQ", ntp_time(now),
                                                                   ntp_time(time.time() + offset))
        sock.sendto(reply, peer)


if __name__ == "__main__":
    main()
