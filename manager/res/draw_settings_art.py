#!/usr/bin/env python3
"""Draws the settings dialog's category bitmaps: a gear (GENERAL), a card
with a spark (INITIALIZATION) and a page of lines (LOGGING PREFERENCE), each
grey when idle (Def) and blue when its category is selected (Sel).
Standard library only: python3 draw_settings_art.py"""
import math

from draw_window_art import box, coverage, disc, png, segment

IDLE = (0.45, 0.48, 0.52)
SELECTED = (0.10, 0.40, 0.75)


def gear_glyph(x, y):
    cx, cy = 16, 16
    angle = math.atan2(y - cy, x - cx)
    # Eight teeth: the outer radius steps between 11 and 14.
    teeth = 12.5 + 1.5 * (1 if math.cos(8 * angle) > 0 else -1)
    body = math.hypot(x - cx, y - cy) - teeth
    return max(body, -disc(x, y, cx, cy, 5))


def card_glyph(x, y):
    card = box(x, y, 4, 9, 24, 25) - 2
    chip = box(x, y, 8, 14, 13, 19)
    outline = max(card, -(box(x, y, 6, 11, 22, 23) - 1))
    spark = min(segment(x, y, 26, 4, 26, 14), segment(x, y, 21, 9, 31, 9),
                segment(x, y, 23, 6, 29, 12), segment(x, y, 29, 6, 23, 12)) - 1.2
    return min(outline, chip, spark)


def log_glyph(x, y):
    page = box(x, y, 7, 4, 25, 28) - 1
    inner = box(x, y, 9, 6, 23, 26)
    lines = min(segment(x, y, 11, 10 + 5 * i, 21 - (4 if i == 3 else 0), 10 + 5 * i) for i in range(4)) - 1
    return min(max(page, -inner), lines)


def category_icon(glyph, colour):
    def pixel(x, y):
        k = coverage(glyph(x, y))
        return (colour[0], colour[1], colour[2], k)
    return pixel


def main():
    for name, glyph in (("General", gear_glyph), ("Initialization", card_glyph), ("Logging", log_glyph)):
        for suffix, colour in (("Def", IDLE), ("Sel", SELECTED)):
            with open("Cat%s%s.png" % (name, suffix), "wb") as f:
                f.write(png(32, 32, category_icon(glyph, colour)))


if __name__ == "__main__":
    main()
