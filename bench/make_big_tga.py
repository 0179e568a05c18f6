#!/usr/bin/env python3
"""Writes big_raw.tga and big_rle.tga (24-bit, bottom row first, 4096 x 4096).

Usage: make_big_tga.py OUTDIR
"""
import os
import struct
import sys

from big_normal_map import SIZE, bgr, picture_rows


def header(image_type):
    return struct.pack('<BBBHHBHHHHBB', 0, 0, image_type, 0, 0, 0, 0, 0, SIZE, SIZE, 24, 0x00)


def rle_row(row):
    """Run-length packets over one row of 3-byte pixels (packets end with the row)."""
    pixels = [row[i:i + 3] for i in range(0, len(row), 3)]
    out = bytearray()
    i, n = 0, len(pixels)
    while i < n:
        run = 1
        while i + run < n and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out.append(0x80 | (run - 1))
            out += pixels[i]
            i += run
            continue
        start = i
        while i < n and i - start < 128 and (i + 1 >= n or pixels[i + 1] != pixels[i]):
            i += 1
        out.append(i - start - 1)
        out += b''.join(pixels[start:i])
    return bytes(out)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    distinct, order = picture_rows()
    stored = [bgr(row) for row in distinct]
    packed = [rle_row(row) for row in stored]
    with open(os.path.join(outdir, 'big_raw.tga'), 'wb') as f:
        f.write(header(2))
        for index in reversed(order):
            f.write(stored[index])
    with open(os.path.join(outdir, 'big_rle.tga'), 'wb') as f:
        f.write(header(10))
        for index in reversed(order):
            f.write(packed[index])


if __name__ == '__main__':
    main()
