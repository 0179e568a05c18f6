#!/usr/bin/env python3
"""Writes big.png (4096 x 4096, 8-bit RGB) as Pillow saves it by default.

Usage: make_big_png.py OUTDIR
"""
import os
import sys

from PIL import Image

from big_normal_map import SIZE, picture_rows


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    distinct, order = picture_rows()
    pixels = b''.join(distinct[index] for index in order)
    Image.frombytes('RGB', (SIZE, SIZE), pixels).save(os.path.join(outdir, 'big.png'))


if __name__ == '__main__':
    main()
