#!/usr/bin/env python3
"""Draws the main window's artwork: the six action-button icons in their
normal (Def) and hover (Sel) colours, the slot-tree icons and the About
dialog's background. Standard library only: python3 draw_window_art.py"""
import math
import struct
import zlib


def png(width, height, pixel):
    """pixel(x, y) -> (r, g, b, a) with floats 0..1."""
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            r, g, b, a = pixel(x + 0.5, y + 0.5)
            row += bytes(int(round(max(0.0, min(1.0, c)) * 255)) for c in (r, g, b, a))
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def box(px, py, x0, y0, x1, y1):
    """Signed distance to an axis-aligned rectangle (negative inside)."""
    dx = max(x0 - px, 0.0, px - x1)
    dy = max(y0 - py, 0.0, py - y1)
    if dx == 0.0 and dy == 0.0:
        return -min(px - x0, x1 - px, py - y0, y1 - py)
    return math.hypot(dx, dy)


def ring(px, py, cx, cy, r):
    return abs(math.hypot(px - cx, py - cy) - r)


def disc(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def coverage(d):
    return max(0.0, min(1.0, 0.5 - d))


# Each glyph gives (distance to its filled shape, distance to its strokes)
# at a point of a 32 x 32 box; negative or small distances are drawn.
def card_glyph(x, y):
    body = box(x, y, 4, 8, 28, 24)
    chip = box(x, y, 8, 12, 15, 19)
    # The chip is cut out of the card with a thin gap around it.
    filled = min(max(body, -(chip - 1.2)), chip)
    lines = min(segment(x, y, 18, 14, 25, 14), segment(x, y, 18, 18, 23, 18)) - 1.0
    return filled, lines


def key_glyph(x, y):
    bow = max(disc(x, y, 10, 16, 6), -disc(x, y, 10, 16, 2.2))
    blade = min(segment(x, y, 15, 16, 28, 16), segment(x, y, 24, 16, 24, 21), segment(x, y, 28, 16, 28, 20))
    return bow, blade - 1.4


def pin_glyph(x, y):
    dots = min(disc(x, y, 8, 20, 2.3), disc(x, y, 14, 20, 2.3), disc(x, y, 20, 20, 2.3))
    frame = abs(box(x, y, 3, 15, 25, 25))
    pencil = segment(x, y, 18, 12, 28, 2)
    return dots, min(frame, pencil) - 1.0


def tag_glyph(x, y):
    body = box(x, y, 4, 9, 22, 23)
    point = min(segment(x, y, 22, 9, 28, 16), segment(x, y, 28, 16, 22, 23))
    letter = min(segment(x, y, 8, 13, 17, 13), segment(x, y, 12.5, 13, 12.5, 20))
    return body, min(point, letter) - 1.2


def shield_glyph(x, y):
    if y < 16:
        body = box(x, y, 7, 4, 25, 16)
    else:
        # Tapers from the full width at y = 16 to a point at y = 29.
        body = abs(x - 16) - 9 * max(0.0, 1 - (y - 16) / 13.0) if y < 29 else 1.0
    return body, segment(x, y, 16, 7, 16, 24) - 1.2


def padlock_glyph(x, y):
    body = box(x, y, 6, 15, 24, 28)
    shackle = ring(x, y, 21, 11, 6) if y < 11 else segment(x, y, 27, 11, 27, 13)
    return body, min(shackle, segment(x, y, 15, 11, 15, 15)) - 1.3


GLYPHS = {
    "InitializeToken": card_glyph,
    "LogIn": key_glyph,
    "ChangePIN": pin_glyph,
    "RenameToken": tag_glyph,
    "ChangeSOPIN": shield_glyph,
    "UnlockPIN": padlock_glyph,
}

NORMAL = (0.20, 0.33, 0.55)
HOVER = (0.90, 0.45, 0.10)


def icon(glyph, colour):
    def pixel(x, y):
        filled, stroked = glyph(x, y)
        inner = coverage(filled)
        line = coverage(stroked)
        a = max(inner, line)
        # Strokes over a fill read as a lighter detail.
        mix = line * inner
        r, g, b = colour
        return (r + (1 - r) * 0.7 * mix, g + (1 - g) * 0.7 * mix, b + (1 - b) * 0.7 * mix, a)
    return pixel


def tree_icon(state):
    colours = {"Card": (0.15, 0.55, 0.25), "NoCard": (0.55, 0.55, 0.55), "Unknown": (0.80, 0.20, 0.15)}
    colour = colours[state]

    def pixel(x, y):
        reader = box(x, y, 1, 9, 15, 15)
        slot = box(x, y, 3, 11, 13, 12.5)
        a = coverage(reader)
        if state == "Card":
            card_d = box(x, y, 4, 1, 12, 11)
            if coverage(card_d) > a:
                return (0.95, 0.80, 0.20, coverage(card_d))
        if state == "Unknown":
            mark = min(segment(x, y, 8, 2, 8, 5.5), disc(x, y, 8, 7.5, 0.6)) - 0.9
            if coverage(mark) > 0:
                return (*colour, coverage(mark))
        if coverage(slot) > 0 and a > 0:
            return (0.1, 0.1, 0.1, a)
        return (*colour, a)
    return pixel


def about_background(width, height):
    def pixel(x, y):
        t = y / height
        r, g, b = 0.93 - 0.10 * t, 0.95 - 0.08 * t, 0.98 - 0.04 * t
        # A band on the left holding the emblem.
        if x < 96:
            r, g, b = 0.20, 0.33, 0.55
            emblem = max(disc(x, y, 48, 70, 28), -disc(x, y, 48, 70, 20))
            chip = box(x, y, 38, 60, 58, 80)
            if coverage(emblem) > 0 or coverage(chip) > 0:
                k = max(coverage(emblem), coverage(chip))
                r, g, b = r + (0.95 - r) * k, g + (0.80 - g) * k, b + (0.30 - b) * k
        return (r, g, b, 1.0)
    return pixel


def main():
    outputs = {}
    for name, glyph in GLYPHS.items():
        outputs["Btn%sDef" % name] = png(32, 32, icon(glyph, NORMAL))
        outputs["Btn%sSel" % name] = png(32, 32, icon(glyph, HOVER))
    outputs["TreeSlotCard"] = png(16, 16, tree_icon("Card"))
    outputs["TreeSlotNoCard"] = png(16, 16, tree_icon("NoCard"))
    outputs["TreeSlotUnknown"] = png(16, 16, tree_icon("Unknown"))
    outputs["DlgAboutBackground"] = png(420, 240, about_background(420, 240))
    for name, data in outputs.items():
        with open(name + ".png", "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
