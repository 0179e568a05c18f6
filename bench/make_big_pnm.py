#!/usr/bin/env python3
"""Writes big_raw.ppm: a raw pixmap, maxval 255, 4096 x 4096.

Usage: make_big_pnm.py OUTDIR
"""
import os
import sys

from big_normal_map import SIZE, picture_rows


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    distinct, order = picture_rows()
    with open(os.path.join(outdir, 'big_raw.ppm'), 'wb') as f:
        f.write(f'P6\n{SIZE} {SIZE}\n255\n'.encode())
        for index in order:
            f.write(distinct[index])


if __name__ == '__main__':
    main()
