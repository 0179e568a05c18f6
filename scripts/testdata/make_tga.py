#!/usr/bin/env python3
"""Writes the reference picture as every TGA variant the reader takes.

Usage: make_tga.py [OUTDIR]   (default: tests/data/tga of the repository)

Names: type<T>_<row order>_<depth>.tga for true-colour and greyscale files,
type<T>_<row order>_map<entry size>.tga for colour-mapped files with 8-bit
indices. 16-bit colours keep 5 bits a channel, so those variants show the
picture with each channel's low 3 bits cleared.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reference import WIDTH, HEIGHT, rows_rgb, rows_grey, write_variants, run_length  # noqa: E402


def colour_bytes(rgb, bits, x=0):
    """One colour as stored: 2 bytes (5 bits a channel), 3 (B, G, R) or 4 (B, G, R, A)."""
    r, g, b = rgb
    if bits in (15, 16):
        w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)
        if bits == 16:
            w |= 0x8000  # the attribute bit, which readers ignore
        return struct.pack('<H', w)
    if bits == 24:
        return bytes((b, g, r))
    return bytes((b, g, r, (x * 37) & 0xFF))  # alpha varies and is kept


def rle_encode(values):
    """Run-length packets over the whole pixel stream, crossing row ends."""
    out = bytearray()
    i = 0
    while i < len(values):
        run = run_length(values, i, 128)
        if run > 1:
            out.append(0x80 | (run - 1))
            out += values[i]
            i += run
            continue
        start = i
        while i < len(values) and i - start < 128 and (i + 1 >= len(values) or values[i + 1] != values[i]):
            i += 1
        out.append(i - start - 1)
        for v in values[start:i]:
            out += v
    return bytes(out)


def header(image_type, depth, top_down, id_length=0, map_type=0, map_length=0, map_bits=0):
    return struct.pack('<BBBHHBHHHHBB', id_length, map_type, image_type, 0, map_length, map_bits,
                       0, 0, WIDTH, HEIGHT, depth, 0x20 if top_down else 0x00)


def ordered(rows, top_down):
    return rows if top_down else rows[::-1]


def true_colour(image_type, depth, top_down):
    rows = ordered(rows_rgb(), top_down)
    values = [colour_bytes(p, depth, x) for row in rows for x, p in enumerate(row)]
    data = rle_encode(values) if image_type == 10 else b''.join(values)
    ident = b'Quorvel test picture'
    return header(image_type, depth, top_down, id_length=len(ident)) + ident + data


def greyscale(top_down):
    rows = ordered(rows_grey(), top_down)
    return header(3, 8, top_down) + bytes(v for row in rows for v in row)


def colour_mapped(image_type, map_bits, top_down, index_bytes=1):
    # Entries in an order unlike the picture's, so that an index mix-up shows.
    colours = sorted({p for row in rows_rgb() for p in row}, key=lambda c: (c[1], c[0], c[2]))
    lookup = {c: i for i, c in enumerate(colours)}
    colour_map = b''.join(colour_bytes(c, map_bits, i) for i, c in enumerate(colours))
    rows = ordered(rows_rgb(), top_down)
    values = [lookup[p].to_bytes(index_bytes, 'little') for row in rows for p in row]
    data = rle_encode(values) if image_type == 9 else b''.join(values)
    return header(image_type, 8 * index_bytes, top_down, map_type=1, map_length=len(colours),
                  map_bits=map_bits) + colour_map + data


def unused_colour_map():
    """True-colour data behind a colour map that the pixels do not use."""
    colour_map = bytes(range(4 * 3))
    data = b''.join(colour_bytes(p, 24) for row in rows_rgb() for p in row)
    return header(2, 24, True, map_type=1, map_length=4, map_bits=24) + colour_map + data


def variants():
    orders = (('top_down', True), ('bottom_up', False))
    for image_type in (2, 10):
        for depth in (16, 24, 32):
            for name, top in orders:
                yield f'type{image_type}_{name}_{depth}.tga', true_colour(image_type, depth, top)
    for image_type in (1, 9):
        for map_bits in (15, 16, 24, 32):
            for name, top in orders:
                yield f'type{image_type}_{name}_map{map_bits}.tga', colour_mapped(image_type, map_bits, top)
        yield f'type{image_type}_top_down_index16_map24.tga', colour_mapped(image_type, 24, True, 2)
    for name, top in orders:
        yield f'type3_{name}_8.tga', greyscale(top)
    yield 'type2_unused_colour_map_24.tga', unused_colour_map()


def main():
    write_variants('tga', variants())


if __name__ == '__main__':
    main()
