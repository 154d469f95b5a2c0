#!/usr/bin/env python3
"""Writes data/2.bmp: the calm background of the 1000 x 700 main window (24-bit BMP).

A soft sky fading to a pale horizon, a gently sloping meadow below it and a faint grid, so the
chart, the gauge and the text boxes painted over it stay readable.
"""
import math
import struct
import sys

WIDTH, HEIGHT = 1000, 700
HORIZON = 470


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def pixel(x, y):
    # The meadow's edge rises slightly to the right and undulates softly.
    edge = HORIZON - 0.03 * x + 6 * math.sin(x / 90.0)
    if y < edge:
        t = y / edge
        colour = lerp((168, 203, 234), (232, 241, 246), t ** 1.4)
    else:
        t = (y - edge) / (HEIGHT - edge)
        colour = lerp((196, 222, 170), (142, 184, 120), t)
    if x % 50 == 0 or y % 50 == 0:
        colour = tuple(min(255, c + 10) for c in colour)
    return colour


def main(path):
    row_size = (WIDTH * 3 + 3) // 4 * 4
    rows = []
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(row_size - len(row))
        rows.append(bytes(row))
    image = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/2.bmp")
