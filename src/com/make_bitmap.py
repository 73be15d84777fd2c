#!/usr/bin/env python3
"""Writes quorvane.bmp, the control's toolbox picture (32 x 28 pixels, 256 colours): a page with a
folded corner and a "Q" on it. Run it again after changing the drawing; the output is checked in."""
import pathlib
import struct

W, H = 32, 28
BACK, PAGE, EDGE, INK = range(4)
COLOURS = [(192, 192, 192), (255, 255, 255), (64, 64, 64), (0, 64, 160)]  # red, green, blue

px = [[BACK] * W for _ in range(H)]
for y in range(2, H - 2):
    for x in range(6, W - 6):
        px[y][x] = EDGE if x in (6, W - 7) or y in (2, H - 3) else PAGE
for y in range(2, 7):
    for x in range(W - 11 + (y - 2), W - 6):
        px[y][x] = EDGE if x == W - 11 + (y - 2) else BACK
for y in range(7, 22):
    for x in range(9, 23):
        r2 = (2 * x - 31) ** 2 + (2 * y - 28) ** 2
        if 100 <= r2 <= 196:
            px[y][x] = INK
for i in range(4):
    px[18 + i][17 + i] = px[18 + i][18 + i] = INK

palette = b"".join(bytes((b, g, r, 0)) for r, g, b in COLOURS) + bytes(4 * (256 - len(COLOURS)))
pixels = b"".join(bytes(row) for row in reversed(px))  # rows bottom-up; 32 bytes, already 4-aligned
offset = 14 + 40 + len(palette)
data = (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
        + struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(pixels), 3780, 3780, 256, 0)
        + palette + pixels)
pathlib.Path(__file__).with_name("quorvane.bmp").write_bytes(data)
