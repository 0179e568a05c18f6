#!/usr/bin/env python3
"""Writes the 4096 x 4096 benchmark picture of bench/big_normal_map.py as DDS
files into OUTDIR:
big_dxt1.dds (DXT1 blocks) and big_rgba32.dds (uncompressed, 32 bits a pixel
with 8-bit alpha).

Usage: python3 bench/make_big_dds.py OUTDIR
"""
import functools
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
import big_normal_map  # noqa: E402

SIZE = big_normal_map.SIZE
CELL = big_normal_map.CELL
DISTINCT, ORDER = big_normal_map.picture_rows()


def header(flags, pitch, pf_flags, fourcc, bits, masks):
    out = b'DDS ' + struct.pack('<7I', 124, 0x1007 | flags, SIZE, SIZE, pitch, 0, 0) + bytes(44)
    out += struct.pack('<8I', 32, pf_flags, fourcc, bits, *masks)
    return out + struct.pack('<5I', 0x1000, 0, 0, 0, 0)


def to565(p):
    return ((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[2] >> 3)


def expand(c):
    return (((c >> 11) & 31) << 3, ((c >> 5) & 63) << 2, (c & 31) << 3)


@functools.lru_cache(maxsize=None)
def block(first_row, bx):
    """The DXT1 block whose top row is distinct row first_row, at block
    column bx: its brightest and darkest pixels as the two colours
    (four-colour mode), each pixel the nearest table colour."""
    rows = DISTINCT[first_row:first_row + 4]
    pixels = [[tuple(r[3 * (4 * bx + x):3 * (4 * bx + x) + 3]) for x in range(4)] for r in rows]
    flat = [p for r in pixels for p in r]
    c0, c1 = sorted((to565(max(flat, key=sum)), to565(min(flat, key=sum))), reverse=True)
    if c0 == c1:
        return struct.pack('<HH', c0, c1) + bytes(4)
    a, b = expand(c0), expand(c1)
    table = [a, b, tuple((2 * x + y) // 3 for x, y in zip(a, b)), tuple((x + 2 * y) // 3 for x, y in zip(a, b))]
    indices = bytearray()
    for r in pixels:
        bits = 0
        for x, p in enumerate(r):
            bits |= min(range(4), key=lambda i: sum((u - v) ** 2 for u, v in zip(table[i], p))) << (2 * x)
        indices.append(bits)
    return struct.pack('<HH', c0, c1) + bytes(indices)


def dxt1():
    # Cells are 256 pixels wide and rows of four stay within one cell row.
    data = bytearray()
    for by in range(SIZE // 4):
        first = ORDER[4 * by]
        data += b''.join(block(first, bx % (CELL // 4)) for bx in range(SIZE // 4))
    return header(0x80000, len(data), 0x4, int.from_bytes(b'DXT1', 'little'), 0, (0, 0, 0, 0)) + bytes(data)


@functools.lru_cache(maxsize=None)
def bgra(index):
    """Distinct row `index` as blue, green, red, alpha 255."""
    rgb = DISTINCT[index]
    out = bytearray(4 * SIZE)
    out[0::4], out[1::4], out[2::4] = rgb[2::3], rgb[1::3], rgb[0::3]
    out[3::4] = b'\xff' * SIZE
    return bytes(out)


def rgba32():
    data = b''.join(bgra(i) for i in ORDER)
    return header(0x8, 4 * SIZE, 0x41, 0, 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)) + data


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    for name, make in (('big_dxt1.dds', dxt1), ('big_rgba32.dds', rgba32)):
        with open(os.path.join(sys.argv[1], name), 'wb') as f:
            f.write(make())


if __name__ == '__main__':
    main()
