#!/usr/bin/env python3
"""Draws the token manager's application icon (a token with its chip and a
key ring) in the desktop's icon sizes, with the window artwork's helpers,
and the same token as the tray icon NRVLogo2 embedded in the manager.
Standard library only: python3 draw_app_icon.py"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "manager", "res"))
from draw_window_art import box, coverage, disc, png, ring  # noqa: E402

SIZES = (16, 24, 32, 48, 64, 128, 256)
# Tray hosts scale the icon to their panel (22 to 32 pixels).
TRAY_SIZE = 32
BODY = (0.13, 0.25, 0.47)
EDGE = (0.07, 0.14, 0.29)
CHIP = (0.93, 0.72, 0.25)
CHIP_LINE = (0.62, 0.45, 0.10)


def pixel_at(size):
    scale = size / 64.0

    def pixel(x, y):
        # Everything is drawn on a 64 x 64 grid.
        gx, gy = x / scale, y / scale
        aa = 1.0 / scale
        body = box(gx, gy, 10, 18, 58, 50) - 4
        hole = ring(gx, gy, 16, 34, 4.5) - 1.6
        chip = box(gx, gy, 30, 26, 48, 42) - 2
        chip_line = min(abs(gx - 39), abs(gy - 34)) - 0.6
        colour, alpha = (0.0, 0.0, 0.0), 0.0
        a = coverage(body / aa)
        if a > 0:
            edge = coverage((-body - 1.5) / aa)
            colour = tuple(e + (b - e) * edge for b, e in zip(BODY, EDGE))
            alpha = a
        a = coverage(hole / aa)
        if a > 0:
            colour = tuple(c + (h - c) * a for c, h in zip(colour, (0.85, 0.88, 0.92)))
        a = coverage(chip / aa)
        if a > 0:
            inside = chip < 0 and chip_line < 0 and size >= 32
            target = CHIP_LINE if inside else CHIP
            colour = tuple(c + (t - c) * a for c, t in zip(colour, target))
        if disc(gx, gy, 16, 34, 2.6) < 0:
            alpha = 0.0
        return colour + (alpha,)

    return pixel


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    for size in SIZES:
        with open(os.path.join(out, "pavix-manager-%d.png" % size), "wb") as f:
            f.write(png(size, size, pixel_at(size)))
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "manager", "res")
    with open(os.path.join(res, "NRVLogo2.png"), "wb") as f:
        f.write(png(TRAY_SIZE, TRAY_SIZE, pixel_at(TRAY_SIZE)))


if __name__ == "__main__":
    main()
