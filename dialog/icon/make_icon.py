#!/usr/bin/env python3
"""Draws the dialog's window icon, a clock face at ten past ten, and writes it as a Windows
icon file with a 32x32 and a 16x16 image of 16 colours each (the standard VGA palette, with
an AND mask for the transparent corners). Run it again after changing the drawing:

    python3 dialog/icon/make_icon.py dialog/icon/brevun.ico
"""
import math
import struct
import sys

# The 16-colour palette every Windows display can show, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, SILVER, RED, WHITE = 0, 4, 8, 7, 9, 15
TRANSPARENT = None


def segment_distance(px, py, ax, ay, bx, by):
    """Distance of point p from the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def hand_end(c, length, minutes):
    """End of a hand that points at the given minute mark (0 = twelve o'clock)."""
    angle = math.radians(minutes * 6)
    return c + length * math.sin(angle), c - length * math.cos(angle)


def draw(size):
    c = (size - 1) / 2.0
    outer = size / 2.0
    big = size >= 32
    ring = outer - (2.2 if big else 1.7)
    if big:
        hour = hand_end(c, 0.42 * outer, 50)    # ten past ten
        minute = hand_end(c, 0.68 * outer, 10)
    else:
        # Too few pixels for slanted hands: three o'clock reads clearly at this size.
        hour = hand_end(c, 0.42 * outer, 15)
        minute = hand_end(c, 0.55 * outer, 0)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - c, y - c)
            if d > outer - 0.25:
                row.append(TRANSPARENT)
                continue
            if d > ring:
                row.append(NAVY)
                continue
            colour = WHITE
            # Hour marks: strong at 12, 3, 6 and 9, faint at the others on the large image.
            angle = (math.degrees(math.atan2(x - c, c - y)) + 360) % 360
            nearest = round(angle / 30) * 30
            off = abs(angle - nearest)
            if big and ring - 3.2 < d <= ring - 0.6:
                if nearest % 90 == 0 and off * math.pi / 180 * d < 1.0:
                    colour = BLACK
                elif nearest % 90 != 0 and off * math.pi / 180 * d < 0.6 and d > ring - 2.2:
                    colour = GREY
            if not big and ring - 1.6 < d <= ring - 0.4:
                if nearest % 90 == 0 and off * math.pi / 180 * d < 0.6:
                    colour = GREY
            width = 1.0 if big else 0.75
            if segment_distance(x, y, c, c, *hour) < width:
                colour = BLACK
            if segment_distance(x, y, c, c, *minute) < (width * 0.8 if big else width):
                colour = BLACK
            if big and d < 1.3:
                colour = RED
            row.append(colour)
        pixels.append(row)
    return pixels


def bmp_image(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor_rows = []
    and_rows = []
    for row in reversed(pixels):  # bottom-up
        nibbles = [0 if p is TRANSPARENT else p for p in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(data + b"\0" * (-len(data) % 4))
        bits = 0
        mask = bytearray()
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p is TRANSPARENT else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b"\0" * (-len(mask) % 4))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def icon_file(sizes):
    images = [bmp_image(draw(s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file([32, 16]))
