#!/usr/bin/env python3
"""Writes the reference picture as every PCX variant the reader takes.

Usage: make_pcx.py [OUTDIR]   (default: tests/data/pcx of the repository)

The picture's width is odd, so every scanline plane carries one padding
byte (bytes per line 8 for 7 pixels), as ZSoft's writers store it.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reference import WIDTH, HEIGHT, rows_rgb, write_variants, run_length  # noqa: E402

BYTES_PER_LINE = WIDTH + (WIDTH & 1)


def header(planes, x_min=0, y_min=0):
    h = bytearray(128)
    struct.pack_into('<BBBBHHHHHH', h, 0, 10, 5, 1, 8, x_min, y_min,
                     x_min + WIDTH - 1, y_min + HEIGHT - 1, 300, 300)
    h[65] = planes
    struct.pack_into('<HH', h, 66, BYTES_PER_LINE, 1)
    return bytes(h)


def rle_line(values):
    """One scanline plane: runs of up to 63; a lone byte of 0xC0 or more is a run of 1."""
    out = bytearray()
    i = 0
    while i < len(values):
        run = run_length(values, i, 63)
        if run > 1 or values[i] >= 0xC0:
            out += bytes((0xC0 | run, values[i]))
        else:
            out.append(values[i])
        i += run
    return bytes(out)


def pad(line, fill=0):
    return list(line) + [fill] * (BYTES_PER_LINE - len(line))


def three_planes(x_min=0, y_min=0):
    data = bytearray()
    for row in rows_rgb():
        for channel in range(3):
            data += rle_line(pad([p[channel] for p in row]))
    return header(3, x_min, y_min) + bytes(data)


def one_plane():
    # Entries in an order unlike the picture's, so that an index mix-up shows;
    # the unused entries are filled with a colour the picture lacks.
    colours = sorted({p for row in rows_rgb() for p in row}, key=lambda c: (c[2], c[1], c[0]))
    lookup = {c: i + 200 for i, c in enumerate(colours)}  # indices from 200 need run headers
    palette = bytearray(bytes((1, 2, 3)) * 256)
    for c, i in lookup.items():
        palette[3 * (i % 256):3 * (i % 256) + 3] = bytes(c)
    data = bytearray()
    for row in rows_rgb():
        data += rle_line(pad([lookup[p] % 256 for p in row], fill=lookup[row[-1]] % 256))
    return header(1) + bytes(data) + bytes((12,)) + bytes(palette)


def variants():
    yield 'one_plane.pcx', one_plane()
    yield 'three_planes.pcx', three_planes()
    yield 'three_planes_offset_origin.pcx', three_planes(x_min=100, y_min=40)
    # A palette after a three-plane image is data after the image: ignored.
    yield 'three_planes_palette_appended.pcx', three_planes() + bytes((12,)) + bytes(768)


def main():
    write_variants('pcx', variants())


if __name__ == '__main__':
    main()
