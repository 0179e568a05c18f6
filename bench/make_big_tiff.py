#!/usr/bin/env python3
"""Writes the benchmark normal map as uncompressed TIFF files: big_8.tif
(8-bit RGB, the pixels of big.png) and big_16.tif (the same normals encoded
in 16-bit samples, so that the low bytes carry real detail).

Usage: make_big_tiff.py OUTDIR
"""
import os
import struct
import sys

from big_normal_map import CELL, SIZE, encode, encode16, ripple, rivet

ROWS_PER_STRIP = 64


def cell_rows(pixel, code, bits):
    rows = []
    pack = struct.Struct('<3H' if bits == 16 else '3B')
    for y in range(CELL):
        cell_row = b''.join(pack.pack(*pixel(x, y, code)) for x in range(CELL))
        rows.append(cell_row * (SIZE // CELL))
    return rows


def write_tiff(path, bits):
    code = encode16 if bits == 16 else encode
    distinct = cell_rows(rivet, code, bits) + cell_rows(ripple, code, bits)
    order = [(y % CELL) + (CELL if y >= SIZE // 2 else 0) for y in range(SIZE)]
    row_bytes = SIZE * 3 * bits // 8
    strips = SIZE // ROWS_PER_STRIP
    data_at = 8
    directory_at = data_at + SIZE * row_bytes
    entries = [(256, 4, [SIZE]), (257, 4, [SIZE]), (258, 3, [bits] * 3), (259, 3, [1]), (262, 3, [2]),
               (273, 4, [data_at + s * ROWS_PER_STRIP * row_bytes for s in range(strips)]), (277, 3, [3]),
               (278, 3, [ROWS_PER_STRIP]), (279, 4, [ROWS_PER_STRIP * row_bytes] * strips)]
    values_at = directory_at + 2 + 12 * len(entries) + 4
    directory, values = bytearray(struct.pack('<H', len(entries))), bytearray()
    for tag, type_, items in entries:
        packed = struct.pack('<' + ('H' if type_ == 3 else 'I') * len(items), *items)
        directory += struct.pack('<HHI', tag, type_, len(items))
        if len(packed) <= 4:
            directory += packed.ljust(4, b'\0')
        else:
            directory += struct.pack('<I', values_at + len(values))
            values += packed
    directory += struct.pack('<I', 0)
    with open(path, 'wb') as f:
        f.write(b'II' + struct.pack('<HI', 42, directory_at))
        for index in order:
            f.write(distinct[index])
        f.write(directory + values)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    for bits in (8, 16):
        target = os.path.join(outdir, f'big_{bits}.tif')
        if not os.path.exists(target):
            write_tiff(target, bits)


if __name__ == '__main__':
    main()
