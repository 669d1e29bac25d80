"""A name server for the tests, on a loopback address in the test's own network namespace: it
answers A queries for the names it is given and says no such name for any other, so that a test
sees which names a resolver asked for (a search domain appended, or not).

    fake_dns_server.py ADDRESS NAME=IPV4...

Prints "ready" once it listens and "query NAME TYPE" for each question.
"""
import socket
import struct
import sys

A, AAAA = 1, 28


def question(packet):
    """The name (without its final dot), type and end of the first question."""
    labels, at = [], 12
    while packet[at]:
        labels.append(packet[at + 1 : at + 1 + packet[at]].decode("ascii", "replace"))
        at += 1 + packet[at]
    kind = struct.unpack_from("!H", packet, at + 1)[0]
    return ".".join(labels).lower(), kind, at + 5


def answer(packet, names):
    name, kind, end = question(packet)
    print("query", name, kind, flush=True)
    known = name in names
    answers = b""
    if known and kind == A:
        # A pointer to the question's name, type A, class IN, 60 s, four bytes.
        answers = struct.pack("!HHHIH", 0xC00C, A, 1, 60, 4) + socket.inet_aton(names[name])
    flags = 0x8180 if known else 0x8183  # a response, recursion available; NXDOMAIN
    header = packet[:2] + struct.pack("!HHHHH", flags, 1, 1 if answers else 0, 0, 0)
    return header + packet[12:end] + answers


def main():
    address = sys.argv[1]
    names = dict(arg.lower().split("=", 1) for arg in sys.argv[2:])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, 53))
    print("ready", flush=True)
    while True:
        packet, client = s.recvfrom(512)
        if len(packet) > 12:
            s.sendto(answer(packet, names), client)


if __name__ == "__main__":
    main()
