#!/usr/bin/env python3
"""Writes the reference picture as BMP files of several layouts into
tests/data/bmp/, as seeds for the BMP fuzzer and samples for the unit tests.

  rgb24.bmp      24 bits, bottom-up, BITMAPINFOHEADER            (lossless)
  rgb32_topdown.bmp  32 bits blue-green-red-unused, top-down     (lossless)
  v5_rgba32.bmp  32 bits, BITMAPV5HEADER, bit-fields with alpha  (lossless)
  pal8.bmp       8-bit palette of the picture's 35 colours       (lossless)
  pal8_rle8.bmp  the same palette, RLE8: absolute and encoded runs (lossless)
  rgb565.bmp     16 bits, 5-6-5 bit-fields                       (nearest levels)

Usage: scripts/testdata/make_bmp_variants.py [output directory]
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reference import HEIGHT, WIDTH, rgb  # noqa: E402


def bmp(width, height, bits, pixel_rows, header=40, compression=0,
        palette=(), masks=(), colors_used=0):
    """A whole file. pixel_rows: the pixel data in file order, padded."""
    data = b"".join(pixel_rows)
    info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits,
                       compression, len(data), 2835, 2835, colors_used, 0)
    if header >= 56:
        info += struct.pack("<4I", *(list(masks) + [0] * 4)[:4])
    if header >= 108:
        info += b"BGRs" + bytes(36) + bytes(12)       # sRGB, end points, gamma
    if header >= 124:
        info += struct.pack("<4I", 4, 0, 0, 0)        # intent, profile, reserved
    assert len(info) == header
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    if header == 40 and compression == 3:
        table = struct.pack("<3I", *masks) + table
    offset = 14 + header + len(table)
    head = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return head + info + table + data


def pad(row):
    return row + bytes(-len(row) % 4)


def bottom_up():
    return range(HEIGHT - 1, -1, -1)


def nearest(value, bits):
    """The level of `bits` bits whose bit-replicated 8-bit value is nearest."""
    def widen(v):
        out, pos = 0, 8 - bits
        while pos > -bits:
            out |= v << pos if pos >= 0 else v >> -pos
            pos -= bits
        return out & 255
    return min(range(1 << bits), key=lambda v: abs(widen(v) - value))


def rle8(index_rows):
    """RLE8 of bottom-up rows: each row as an absolute run (padded to 16
    bits) of all but its last two pixels, then those two as encoded runs of
    one; end of line after each row but the last, then end of bitmap."""
    out = bytearray()
    for row in index_rows:
        literal = bytes(row[:-2])
        out += bytes((0, len(literal))) + literal + bytes(len(literal) % 2)
        out += bytes((1, row[-2], 1, row[-1]))
        out += bytes((0, 0))
    return bytes(out[:-2]) + bytes((0, 1))


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data", "bmp")
    os.makedirs(out_dir, exist_ok=True)
    files = {}

    files["rgb24.bmp"] = bmp(WIDTH, HEIGHT, 24, [
        pad(b"".join(bytes((b, g, r)) for r, g, b in (rgb(x, y) for x in range(WIDTH))))
        for y in bottom_up()])

    files["rgb32_topdown.bmp"] = bmp(WIDTH, -HEIGHT, 32, [
        b"".join(bytes((b, g, r, 0)) for r, g, b in (rgb(x, y) for x in range(WIDTH)))
        for y in range(HEIGHT)])

    # Red, green, blue, alpha in memory order; alpha varies and is dropped.
    files["v5_rgba32.bmp"] = bmp(WIDTH, HEIGHT, 32, [
        b"".join(bytes((*rgb(x, y), 255 - 7 * x)) for x in range(WIDTH))
        for y in bottom_up()], header=124, compression=3,
        masks=(0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000))

    # The palette lists the colours in a shuffled order, so that an index is
    # not the pixel's position.
    colours = sorted({rgb(x, y) for x in range(WIDTH) for y in range(HEIGHT)},
                     key=lambda c: (c[1], c[0], c[2]))
    assert len(colours) == WIDTH * HEIGHT
    index = {c: i for i, c in enumerate(colours)}
    rows = [[index[rgb(x, y)] for x in range(WIDTH)] for y in bottom_up()]
    files["pal8.bmp"] = bmp(WIDTH, HEIGHT, 8, [pad(bytes(r)) for r in rows],
                            palette=colours, colors_used=len(colours))
    files["pal8_rle8.bmp"] = bmp(WIDTH, HEIGHT, 8, [rle8(rows)],
                                 compression=1, palette=colours,
                                 colors_used=len(colours))

    files["rgb565.bmp"] = bmp(WIDTH, HEIGHT, 16, [
        pad(b"".join(struct.pack("<H", nearest(r, 5) << 11 | nearest(g, 6) << 5 | nearest(b, 5))
                     for r, g, b in (rgb(x, y) for x in range(WIDTH))))
        for y in bottom_up()], compression=3, masks=(0xF800, 0x07E0, 0x001F))

    for name, content in files.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(content)


if __name__ == "__main__":
    main()
