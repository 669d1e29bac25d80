"""A fake NTS-protected NTP server for the tests: it takes the NTP port that a real key
establishment names and answers every request as if it were ours to answer -- our unique
identifier and origin timestamp echoed, its clock 1000 s ahead -- but without the server's key.

    fake_ntp_server.py forged|unauthenticated|silent ADDRESS PORT

forged: the reply carries an NTS authenticator of random bytes; unauthenticated: none at all;
silent: no reply. Prints "ready" once it listens and one line per request, with the cookie it
carried in hexadecimal.
"""
import os
import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800
AHEAD = 1000
UNIQUE_IDENTIFIER = 0x0104
COOKIE = 0x0204
AUTHENTICATOR = 0x0404


def fields(packet):
    """The (type, body) of each extension field after the 48-byte header."""
    at = 48
    while at + 4 <= len(packet):
        kind, length = struct.unpack_from("!HH", packet, at)
        if length < 16 or at + length > len(packet):
            break
        yield kind, packet[at + 4 : at + length]
        at += length


def field(kind, body):
    return struct.pack("!HH", kind, 4 + len(body)) + body


def timestamp(seconds):
    return struct.pack("!II", int(seconds + NTP_EPOCH) & 0xFFFFFFFF, int(seconds % 1 * 2**32))


def reply(request, mode):
    now = time.time() + AHEAD
    # Leap 0, version 4, mode 4; stratum 1 from "GPS"; the origin is the request's transmit.
    header = struct.pack("!BBbb", 0x24, 1, 4, -20) + bytes(8) + b"GPS\0"
    header += timestamp(now) + request[40:48] + timestamp(now) + timestamp(now)
    uid = [body for kind, body in fields(request) if kind == UNIQUE_IDENTIFIER]
    packet = header + b"".join(field(UNIQUE_IDENTIFIER, body) for body in uid)
    if mode == "forged":
        nonce, ciphertext = os.urandom(16), os.urandom(16 + 104)
        packet += field(AUTHENTICATOR, struct.pack("!HH", 16, len(ciphertext)) + nonce + ciphertext)
    return packet


def main():
    mode, address, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, port))
    print("ready", flush=True)
    while True:
        request, client = s.recvfrom(2048)
        if len(request) < 48:
            continue
        cookie = b"".join(body for kind, body in fields(request) if kind == COOKIE)
        if mode != "silent":
            s.sendto(reply(request, mode), client)
        print("answered" if mode != "silent" else "ignored", len(request), "bytes from", client,
              "cookie", cookie.hex(), flush=True)


if __name__ == "__main__":
    main()
