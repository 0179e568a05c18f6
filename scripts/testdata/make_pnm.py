#!/usr/bin/env python3
"""Writes the reference picture as every Netpbm variant the reader takes.

Usage: make_pnm.py [OUTDIR]   (default: tests/data/pnm of the repository)

The colour picture goes into pixmaps (.ppm), the grey one into greymaps
(.pgm) and the two-level one into bitmaps (.pbm). Names: p<magic digit>_
<plain|raw>_<maxval>[_<what is unusual>].<ext>. A maxval above 255 stores
each level v as round(v x maxval / 255), which scales back to v exactly.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reference import WIDTH, HEIGHT, rows_rgb, rows_grey, bit, write_variants  # noqa: E402


def stored(v, maxval):
    return (v * maxval + 127) // 255


def samples(rows, maxval):
    return [stored(c, maxval) for row in rows for p in row for c in (p if isinstance(p, tuple) else (p,))]


def raw_raster(values, maxval):
    width = 2 if maxval > 255 else 1
    return b''.join(v.to_bytes(width, 'big') for v in values)


def plain_raster(values, per_line):
    lines = [' '.join(str(v) for v in values[i:i + per_line]) for i in range(0, len(values), per_line)]
    return ('\n'.join(lines) + '\n').encode()


def bits():
    return [[bit(x, y) for x in range(WIDTH)] for y in range(HEIGHT)]


def packed_bits():
    out = bytearray()
    for row in bits():
        for start in range(0, WIDTH, 8):
            byte = 0
            for k, b in enumerate(row[start:start + 8]):
                byte |= b << (7 - k)
            out.append(byte)
    return bytes(out)


def variants():
    size = f'{WIDTH} {HEIGHT}'
    colour, grey = rows_rgb(), rows_grey()
    for maxval in (255, 1000, 65535):
        c, g = samples(colour, maxval), samples(grey, maxval)
        yield f'p3_plain_{maxval}.ppm', f'P3\n{size}\n{maxval}\n'.encode() + plain_raster(c, 3 * WIDTH)
        yield f'p6_raw_{maxval}.ppm', f'P6\n{size}\n{maxval}\n'.encode() + raw_raster(c, maxval)
        yield f'p2_plain_{maxval}.pgm', f'P2\n{size}\n{maxval}\n'.encode() + plain_raster(g, WIDTH)
        yield f'p5_raw_{maxval}.pgm', f'P5\n{size}\n{maxval}\n'.encode() + raw_raster(g, maxval)

    c, g = samples(colour, 255), samples(grey, 255)
    # Header oddities: comments between and inside the fields, one line or
    # several, CR LF line ends, a comment right before the raster.
    yield 'p6_raw_255_comments.ppm', (b'P6 # made by hand\r\n# a whole comment line\r\n' + size.encode() +
                                     b'\t255#the last comment ends the header\n' + raw_raster(c, 255))
    yield 'p5_raw_255_one_line.pgm', f'P5 {size} 255 '.encode() + raw_raster(g, 255)
    yield 'p2_plain_255_comments.pgm', (b'P2\n#c\n7#c\n#c\n5\n255\n# the raster\n' +
                                       plain_raster(g, 5).replace(b'\n', b' # mid-raster comment\n'))
    # The whole raster on one line of far more than 255 characters.
    yield 'p3_plain_255_one_line.ppm', f'P3\n{size}\n255\n'.encode() + plain_raster(c, len(c))

    b = [v for row in bits() for v in row]
    yield 'p1_plain_1.pbm', f'P1\n{size}\n'.encode() + plain_raster(b, WIDTH)
    yield 'p1_plain_1_packed.pbm', f'P1\n{size}\n'.encode() + ''.join(str(v) for v in b).encode() + b'\n'
    yield 'p4_raw_1.pbm', f'P4\n{size}\n'.encode() + packed_bits()
    yield 'p4_raw_1_comments.pbm', f'P4 # bits\n{WIDTH}\n# height next\n{HEIGHT}\r'.encode() + packed_bits()


def main():
    write_variants('pnm', variants())


if __name__ == '__main__':
    main()
