#!/usr/bin/env python3
"""A loopback SNTP server that loses LOSE requests, answers the next with this machine's time,
loses LOSE again and so on, as a link that drops datagrams would. Prints its port on the first
line once it listens; appends the arrival time of each request to LOG."""
import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800


def ntp_time(t):
    secs = int(t)
    return ((secs + NTP_EPOCH) & 0xFFFFFFFF) << 32 | int((t - secs) * (1 << 32))


def main():
    lose = int(sys.argv[1])
    log = sys.argv[2]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print(sock.getsockname()[1], flush=True)
    seen = 0
    while True:
        data, peer = sock.recvfrom(512)
        with open(log, "a") as f:
            f.write("%.3f\n" % time.monotonic())
        seen += 1
        if seen % (lose + 1) != 0 or len(data) < 48:
            continue
        now = time.time()
        reply = struct.pack("!BBbbII4sQ", (4 << 3) | 4, 2, 6, -20, 0, 0, b"TEST", ntp_time(now))
        reply += data[40:48] + struct.pack("!QQ", ntp_time(now), ntp_time(time.time()))
        sock.sendto(reply, peer)


if __name__ == "__main__":
    main()
