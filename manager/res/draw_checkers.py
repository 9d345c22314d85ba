#!/usr/bin/env python3
"""Draws the match icons of the manual PIN panel: CheckerTrue.png (a green
tick) and CheckerFalse.png (a red cross), 16 x 16 with soft edges.
Standard library only: python3 draw_checkers.py"""
import math
import struct
import zlib

SIZE = 16


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def draw(segments, colour, width):
    rows = []
    for y in range(SIZE):
        row = bytearray([0])  # filter type: none
        for x in range(SIZE):
            d = min(distance_to_segment(x + 0.5, y + 0.5, *s) for s in segments)
            alpha = max(0.0, min(1.0, width / 2 + 0.5 - d))
            row += bytes(colour) + bytes([int(round(alpha * 255))])
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
            + chunk(b"IEND", b""))


def main():
    tick = [(3.0, 8.5, 6.5, 12.0), (6.5, 12.0, 13.0, 4.0)]
    cross = [(4.0, 4.0, 12.0, 12.0), (12.0, 4.0, 4.0, 12.0)]
    with open("CheckerTrue.png", "wb") as f:
        f.write(png(draw(tick, (0x1E, 0x9E, 0x3A), 2.4)))
    with open("CheckerFalse.png", "wb") as f:
        f.write(png(draw(cross, (0xD0, 0x20, 0x20), 2.4)))


if __name__ == "__main__":
    main()
