#!/usr/bin/env python3
"""A loopback NTP control (mode 6) server of the tests' own, answering as ntpd would or in one
of the ways a broken or hostile one might. Prints its port on the first line once it listens.

  fake_mode6_server.py BEHAVIOUR

good            system variables in three fragments sent out of order, each twice; two peers
lose            as good, but the middle fragment of each first response is lost
count-beyond    a fragment whose count runs past the datagram
offset-beyond   a fragment that ends beyond what a response may hold
endless         fragment after fragment, each with the more bit, at growing offsets
repeat          the same fragment with the more bit, again and again
disagree        two fragments that overlap with different bytes
trickle         the first fragment, then nothing
stranger        every response with another sequence number
error           an error response: administratively prohibited
hostile-text    variables with control characters, escapes and numbers out of range
"""
import socket
import struct
import sys

SYSTEM = (b'version="ntpd 4.2.8p15-fake", processor="x86_64", leap=00, stratum=2, '
          b'precision=-24, rootdelay=1.250, rootdisp=3.500, refid=192.0.2.1,\r\n'
          b'reftime=0x00000000.00000000, tc=6, offset=-1.500000, frequency=12.345, '
          b'sys_jitter=0.123, clk_jitter=0.050, "unknown"=1, novalue')
PEERS = {
    0x1001: (0x9614, b'srcadr=192.0.2.1, srcport=123, stratum=1, reach=0xff, '
                     b'offset=0.250, delay=0.500, jitter=0.030, rec=0x00000000.00000000'),
    0x1002: (0x9114, b'srcadr=192.0.2.2, srcport=123, stratum=3, reach=0x7f, '
                     b'offset=2300.125, delay=0.500, jitter=0.030'),
}
HOSTILE = (b'refid="\x1b[31mEVIL\x07", leap=7, stratum=99999999999999999999, '
           b'offset=1e400, rootdelay=nan, rootdisp=-1e300, frequency=abc, version="a\x00b"')


def fragment(request, offset, data, more, error=False, count=None, status=0):
    seq, assoc = struct.unpack("!H", request[2:4])[0], struct.unpack("!H", request[6:8])[0]
    opcode = request[1] & 0x1f
    flags = 0x80 | (0x40 if error else 0) | (0x20 if more else 0) | opcode
    header = struct.pack("!BBHHHHH", (0 << 6) | (2 << 3) | 6, flags, seq, status, assoc, offset,
                         len(data) if count is None else count)
    body = header + data
    return body + b"\0" * (-len(body) % 4)


def split(data, size):
    return [(i, data[i:i + size]) for i in range(0, max(len(data), 1), size)] or [(0, b"")]


def answer(behaviour, request, seen):
    opcode, assoc = request[1] & 0x1f, struct.unpack("!H", request[6:8])[0]
    key = (opcode, assoc)
    seen[key] = seen.get(key, 0) + 1
    if opcode == 1:
        data = b"".join(struct.pack("!HH", a, s) for a, (s, _) in PEERS.items())
    elif assoc in PEERS:
        data = PEERS[assoc][1]
    else:
        data = HOSTILE if behaviour == "hostile-text" else SYSTEM
    if behaviour == "error":
        return [fragment(request, 0, b"", False, error=True, status=7 << 8)]
    if behaviour == "stranger":
        # Half the sequence space away: the reader's next requests count up by one, and a
        # number one bit off the request's would be the very next one every other run.
        bad = bytearray(request)
        bad[2] ^= 0x80
        return [fragment(bytes(bad), 0, data, False)]
    if opcode == 2 and assoc == 0:
        if behaviour == "count-beyond":
            return [fragment(request, 0, data[:40], False, count=400)]
        if behaviour == "offset-beyond":
            return [fragment(request, 32760, data[:40], False)]
        if behaviour == "endless":
            return [fragment(request, i * 468, data[:1] * 468, True) for i in range(80)]
        if behaviour == "repeat":
            return [fragment(request, 0, data[:100], True) for _ in range(200)]
        if behaviour == "disagree":
            return [fragment(request, 0, data[:60], True), fragment(request, 40, b"X" * 40, False)]
        if behaviour == "trickle":
            return [fragment(request, 0, data[:100], True)]
    parts = split(data, 100)
    frags = [fragment(request, o, d, i + 1 < len(parts)) for i, (o, d) in enumerate(parts)]
    if behaviour == "lose" and seen[key] == 1 and len(frags) > 2:
        del frags[len(frags) // 2]
    if behaviour in ("good", "lose") and len(frags) > 1:
        frags = frags[::-1] + frags[:1]
    return frags


def main():
    behaviour = sys.argv[1]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print(sock.getsockname()[1], flush=True)
    seen = {}
    while True:
        request, peer = sock.recvfrom(512)
        if len(request) < 12 or request[0] & 7 != 6:
            continue
        for datagram in answer(behaviour, request, seen):
            sock.sendto(datagram, peer)


if __name__ == "__main__":
    main()
