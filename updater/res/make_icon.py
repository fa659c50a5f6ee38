#!/usr/bin/env python3
"""Draws the updater's program icon: one 48 x 48, 32-bit image.

A rounded blue tile with a white downward arrow over a bar, with soft edges
from 4x4 supersampling. Deterministic, so the build output is reproducible.
"""
import struct
import sys

SIZE = 48
SUB = 4


def coverage(px, py):
    """Colour (b, g, r, a) of one sample point in icon coordinates."""
    # Rounded square tile, 2 px margin, corner radius 9.
    lo, hi, r = 2.0, 46.0, 9.0
    cx = min(max(px, lo + r), hi - r)
    cy = min(max(py, lo + r), hi - r)
    if (px - cx) ** 2 + (py - cy) ** 2 > r * r or not (lo <= px <= hi and lo <= py <= hi):
        return None
    white = (255, 255, 255, 255)
    # Arrow shaft, arrow head, and the bar it points at.
    if 20.0 <= px <= 28.0 and 9.0 <= py <= 25.0:
        return white
    if 12.0 <= py <= 33.0 and py >= 25.0 and abs(px - 24.0) <= (33.0 - py):
        return white
    if 12.0 <= px <= 36.0 and 36.0 <= py <= 40.0:
        return white
    # Vertical gradient from light to deeper blue.
    t = (py - lo) / (hi - lo)
    return (int(230 - 40 * t), int(140 - 50 * t), int(40 - 20 * t), 255)


def pixels():
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SUB):
                for sx in range(SUB):
                    c = coverage(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB)
                    if c:
                        for i in range(3):
                            acc[i] += c[i] * c[3]
                        acc[3] += c[3]
            n = SUB * SUB
            a = acc[3] / n
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                # Straight (not premultiplied) alpha, as icons store it.
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) + (int(round(a)),))
        rows.append(row)
    return rows


def main(path):
    rows = pixels()
    xor = b"".join(struct.pack("4B", *p) for row in reversed(rows) for p in row)
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
