#!/usr/bin/env python3
"""Writes big.png (4096 x 4096, 8-bit RGB) as Pillow saves it by default, or
as ImageMagick does where Pillow is missing.

Usage: make_big_png.py OUTDIR
"""
import os
import subprocess
import sys

from big_normal_map import SIZE, picture_rows


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    distinct, order = picture_rows()
    pixels = b''.join(distinct[index] for index in order)
    target = os.path.join(outdir, 'big.png')
    try:
        from PIL import Image
    except ImportError:
        header = b'P6\n%d %d\n255\n' % (SIZE, SIZE)
        subprocess.run(['convert', 'ppm:-', target], input=header + pixels, check=True)
        return
    Image.frombytes('RGB', (SIZE, SIZE), pixels).save(target)


if __name__ == '__main__':
    main()
