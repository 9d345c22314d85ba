#!/usr/bin/env python3
"""Draws ajax-loader.gif, the please-wait animation of setup: eight dots on a
circle, the bright one going round, 32 x 32 on the dialog's grey (0x939393,
also the transparent colour). Standard library only: python3 draw_loader.py"""
import math
import struct

SIZE = 32
DOTS = 8
DELAY = 10  # hundredths of a second
BACKGROUND = (0x93, 0x93, 0x93)
MIN_CODE_SIZE = 4  # 16 colours


def palette():
    # 0: background; 1..8: the dots from brightest to faintest; the rest unused.
    colours = [BACKGROUND]
    for step in range(DOTS):
        level = 0xFF - step * (0xFF - 0xA0) // (DOTS - 1)
        colours.append((level, level, level))
    colours += [(0, 0, 0)] * (16 - len(colours))
    return colours


def frame(turn):
    pixels = bytearray(SIZE * SIZE)
    centre = (SIZE - 1) / 2
    for dot in range(DOTS):
        angle = 2 * math.pi * dot / DOTS - math.pi / 2
        cx = centre + 11 * math.cos(angle)
        cy = centre + 11 * math.sin(angle)
        shade = 1 + (turn - dot) % DOTS
        radius = 3.6 - 0.2 * (shade - 1)
        for y in range(SIZE):
            for x in range(SIZE):
                if math.hypot(x - cx, y - cy) <= radius:
                    pixels[y * SIZE + x] = shade
    return bytes(pixels)


def lzw(pixels):
    """Codes of a fixed width: a clear code comes back before the table
    would make the codes wider, so any decoder reads them the same."""
    clear = 1 << MIN_CODE_SIZE
    width = MIN_CODE_SIZE + 1
    codes = []
    for i, value in enumerate(pixels):
        if i % (clear - 4) == 0:
            codes.append(clear)
        codes.append(value)
    codes.append(clear + 1)
    bits, count, out = 0, 0, bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    blocks = bytearray([MIN_CODE_SIZE])
    for start in range(0, len(out), 255):
        chunk = out[start:start + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b"\x00")


def gif():
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", SIZE, SIZE, 0x80 | 0x30 | (MIN_CODE_SIZE - 1), 0, 0)
    for colour in palette():
        data += bytes(colour)
    # Loop for ever.
    data += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    for turn in range(DOTS):
        # Disposal 1 (leave in place), transparent index 0.
        data += b"\x21\xf9\x04" + bytes([(1 << 2) | 1]) + struct.pack("<H", DELAY) + b"\x00\x00"
        data += b"\x2c" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        data += lzw(frame(turn))
    return bytes(data + b"\x3b")


def main():
    import os
    import sys
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "ajax-loader.gif")
    with open(target, "wb") as out:
        out.write(gif())


if __name__ == "__main__":
    main()
