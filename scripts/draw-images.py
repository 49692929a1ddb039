#!/usr/bin/env python3
"""Draws the six 24x24 tool-bar bitmaps into image/ (24-bit BMP, no deps)."""
import os
import struct

SIZE = 24
BG = (0xF0, 0xF0, 0xF0)


def canvas():
    return [[BG] * SIZE for _ in range(SIZE)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(SIZE, y1 + 1)):
        for x in range(max(0, x0), min(SIZE, x1 + 1)):
            img[y][x] = colour


def line(img, x0, y0, x1, y1, colour, width=2):
    steps = max(abs(x1 - x0), abs(y1 - y0)) or 1
    for i in range(steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        rect(img, x, y, x + width - 1, y + width - 1, colour)


def cylinder(img, colour):
    """A database drum, the shape every user reads as 'server'."""
    rect(img, 4, 5, 15, 18, colour)
    rect(img, 5, 3, 14, 4, colour)
    rect(img, 5, 19, 14, 20, colour)
    rect(img, 5, 8, 14, 8, BG)
    rect(img, 5, 13, 14, 13, BG)


def document(img):
    rect(img, 4, 2, 17, 21, (0x40, 0x40, 0x40))
    rect(img, 5, 3, 16, 20, (0xFF, 0xFF, 0xFF))
    for y in (6, 9, 12, 15):
        rect(img, 7, y, 14, y, (0x90, 0x90, 0xB0))


def save(name, img):
    row_bytes = SIZE * 3
    pad = (4 - row_bytes % 4) % 4
    pixels = b"".join(
        b"".join(bytes((b, g, r)) for (r, g, b) in img[y]) + b"\0" * pad
        for y in range(SIZE - 1, -1, -1)
    )
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    out = os.path.join(os.path.dirname(__file__), "..", "image", name)
    with open(out, "wb") as f:
        f.write(header + info + pixels)


def main():
    green, red, blue = (0x20, 0x90, 0x30), (0xC0, 0x20, 0x20), (0x30, 0x60, 0xB0)

    img = canvas(); cylinder(img, blue); line(img, 14, 11, 20, 11, green, 3); line(img, 17, 8, 20, 11, green); line(img, 17, 14, 20, 11, green)
    save("connect.bmp", img)
    img = canvas(); cylinder(img, blue); line(img, 15, 14, 21, 20, red); line(img, 15, 20, 21, 14, red)
    save("disconnect.bmp", img)
    img = canvas(); document(img); rect(img, 15, 12, 22, 14, green); rect(img, 17, 10, 19, 16, green)
    save("newtab.bmp", img)
    img = canvas(); document(img); rect(img, 15, 12, 22, 14, red)
    save("closetab.bmp", img)
    img = canvas(); document(img); line(img, 8, 20, 20, 6, (0xB0, 0x70, 0x20), 3); rect(img, 5, 17, 10, 21, (0xE0, 0xC0, 0x40))
    save("clear.bmp", img)
    img = canvas()
    for i in range(0, 9):
        rect(img, 7 + i, 4 + i, 7 + i, 20 - i, green)
    save("exec.bmp", img)


if __name__ == "__main__":
    main()
