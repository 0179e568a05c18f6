#!/usr/bin/env python3
"""Writes OUTDIR/big_packbits.psd: the 4096 x 4096 benchmark picture of
bench/big_normal_map.py as a PackBits-compressed RGB Photoshop file.

Usage: python3 bench/make_big_psd.py OUTDIR
"""
import functools
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
import big_normal_map  # noqa: E402


@functools.lru_cache(maxsize=None)
def packbits(data):
    """PackBits as Photoshop writes it: runs of 2 to 128 equal bytes, copies
    of up to 128 bytes for the rest."""
    out = bytearray()
    i, n = 0, len(data)
    while i < n:
        run = 1
        while i + run < n and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 2:
            out += bytes((257 - run, data[i]))
            i += run
            continue
        start = i
        while i < n and i - start < 128 and not (i + 1 < n and data[i] == data[i + 1]):
            i += 1
        out += bytes((i - start - 1,)) + data[start:i]
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    size = big_normal_map.SIZE
    distinct, order = big_normal_map.picture_rows()
    rows = [packbits(distinct[i][c::3]) for c in range(3) for i in order]
    with open(os.path.join(sys.argv[1], 'big_packbits.psd'), 'wb') as f:
        f.write(b'8BPS' + struct.pack('>H6xHIIHH', 1, 3, size, size, 8, 3))
        f.write(struct.pack('>III', 0, 0, 0))  # colour mode data, image resources, layers
        f.write(struct.pack('>H', 1))
        f.write(b''.join(struct.pack('>H', len(r)) for r in rows))
        f.write(b''.join(rows))


if __name__ == '__main__':
    main()
