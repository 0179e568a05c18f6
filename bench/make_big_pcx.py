#!/usr/bin/env python3
"""Writes big.pcx: three planes, 4096 x 4096, run-length encoded.

Usage: make_big_pcx.py OUTDIR
"""
import os
import struct
import sys

from big_normal_map import SIZE, picture_rows


def header():
    h = bytearray(128)
    struct.pack_into('<BBBBHHHHHH', h, 0, 10, 5, 1, 8, 0, 0, SIZE - 1, SIZE - 1, 72, 72)
    h[65] = 3
    struct.pack_into('<HH', h, 66, SIZE, 1)
    return bytes(h)


def rle_plane(values):
    out = bytearray()
    i, n = 0, len(values)
    while i < n:
        run = 1
        while i + run < n and run < 63 and values[i + run] == values[i]:
            run += 1
        if run > 1 or values[i] >= 0xC0:
            out += bytes((0xC0 | run, values[i]))
        else:
            out.append(values[i])
        i += run
    return bytes(out)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    distinct, order = picture_rows()
    packed = [b''.join(rle_plane(row[c::3]) for c in range(3)) for row in distinct]
    with open(os.path.join(outdir, 'big.pcx'), 'wb') as f:
        f.write(header())
        for index in order:
            f.write(packed[index])


if __name__ == '__main__':
    main()
