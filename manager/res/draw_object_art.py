#!/usr/bin/env python3
"""Draws the certificate manager's tree icons: Image4 (a certificate, a sheet
with a seal) and Image5 (a key on its own). Standard library only:
python3 draw_object_art.py"""
from draw_window_art import png, box, segment, disc, coverage


def certificate(x, y):
    sheet = box(x, y, 1.5, 2.5, 14.5, 12.5)
    inner = box(x, y, 2.5, 3.5, 13.5, 11.5)
    lines = min(segment(x, y, 4, 5.5, 12, 5.5), segment(x, y, 4, 7.5, 9, 7.5)) - 0.5
    seal = disc(x, y, 11, 10.5, 2.6)
    ribbon = min(segment(x, y, 10, 12, 9, 15), segment(x, y, 12, 12, 13, 15)) - 0.7
    if coverage(seal) > 0 or coverage(ribbon) > 0:
        k = max(coverage(seal), coverage(ribbon))
        return (0.80, 0.15, 0.15, max(k, coverage(sheet)))
    if coverage(lines) > 0 and coverage(inner) > 0:
        return (0.35, 0.45, 0.60, 1.0)
    if coverage(inner) > 0:
        return (0.98, 0.97, 0.92, coverage(sheet))
    return (0.30, 0.38, 0.50, coverage(sheet))


def key(x, y):
    bow = max(disc(x, y, 5, 8, 3.6), -disc(x, y, 5, 8, 1.3))
    blade = min(segment(x, y, 8, 8, 15, 8), segment(x, y, 12.5, 8, 12.5, 11), segment(x, y, 14.5, 8, 14.5, 10.5)) - 0.9
    a = max(coverage(bow), coverage(blade))
    return (0.85, 0.62, 0.10, a)


def main():
    for name, pixel in (("Image4", certificate), ("Image5", key)):
        with open(name + ".png", "wb") as f:
            f.write(png(16, 16, pixel))


if __name__ == "__main__":
    main()
