#!/usr/bin/env python3
"""Draws the control program's two image strips as 24-bit bitmaps, 16 x 14 cells on a
white (transparent) background, one pixel row of white below:

  checks.bmp  48 x 15: empty check box, box with a grey tick, box with a black tick
  status.bmp  96 x 15: empty, grey, blue, green, orange and red ball

    tools/bitmaps/make_bitmaps.py ctl/res
"""
import struct
import sys

WHITE = (255, 255, 255)
CELL_W, CELL_H, STRIP_H = 16, 14, 15


def write_bmp(path, pixels, width, height):
    row_bytes = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(width):
            r, g, b = pixels[y][x]
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def blank(width):
    return [[WHITE for _ in range(width)] for _ in range(STRIP_H)]


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def ball(pixels, x0, colour):
    """A shaded ball of radius 5.5 centred in the cell; darker rim, lighter highlight."""
    cx, cy, r = x0 + 7.5, 6.5, 5.6
    for y in range(CELL_H):
        for x in range(x0, x0 + CELL_W):
            dx, dy = x - cx, y - cy
            d2 = dx * dx + dy * dy
            if d2 > r * r:
                continue
            rim = (d2 ** 0.5) / r
            shade = mix(colour, (0, 0, 0), 0.45 * rim ** 3)
            hx, hy = x - (cx - 2), y - (cy - 2)
            glow = max(0.0, 1.0 - (hx * hx + hy * hy) / 7.0)
            pixels[y][x] = mix(shade, WHITE, 0.65 * glow)


def check_box(pixels, x0, tick):
    frame = (64, 64, 64)
    for i in range(1, 13):  # 12 x 12 box at (x0 + 2, 1)
        pixels[1][x0 + 1 + i] = frame
        pixels[12][x0 + 1 + i] = frame
        pixels[i][x0 + 2] = frame
        pixels[i][x0 + 13] = frame
    for y in range(2, 12):
        for x in range(x0 + 3, x0 + 13):
            pixels[y][x] = (254, 254, 254)  # near white: inside the box is not transparent
    if tick is None:
        return
    points = [(4, 6), (5, 7), (6, 8), (7, 7), (8, 6), (9, 5), (10, 4), (11, 3)]
    for x, y in points:
        for dy in (0, 1, 2):
            pixels[y + dy][x0 + x] = tick


def main(folder):
    checks = blank(3 * CELL_W)
    check_box(checks, 0, None)
    check_box(checks, CELL_W, (160, 160, 160))
    check_box(checks, 2 * CELL_W, (0, 0, 0))
    write_bmp(f"{folder}/checks.bmp", checks, 3 * CELL_W, STRIP_H)

    status = blank(6 * CELL_W)
    colours = [None, (150, 150, 150), (30, 90, 230), (20, 180, 40), (250, 140, 0), (220, 20, 20)]
    for i, colour in enumerate(colours):
        if colour:
            ball(status, i * CELL_W, colour)
    write_bmp(f"{folder}/status.bmp", status, 6 * CELL_W, STRIP_H)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
