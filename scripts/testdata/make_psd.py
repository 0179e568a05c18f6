#!/usr/bin/env python3
"""Writes the reference picture as Photoshop files into tests/data/psd/.

One file per variant the PSD reader takes, raw and PackBits each:
  grey_*.psd     greyscale, the grey picture
  indexed_*.psd  indexed colour, the RGB picture through a 256-entry palette
  rgb_*.psd      RGB, the RGB picture
  rgba_*.psd     RGB with an alpha channel, the RGB picture
  cmyk_*.psd     CMYK: four planes whose truncated mean is the grey picture

Run from the repository root: python3 scripts/testdata/make_psd.py
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
import reference  # noqa: E402

W, H = reference.WIDTH, reference.HEIGHT
OUT = os.path.join('tests', 'data', 'psd')


def packbits(row):
    """PackBits: runs of 3 to 128 equal bytes, literal copies of the rest."""
    out = bytearray()
    i = 0
    while i < len(row):
        run = reference.run_length(row, i, 128)
        if run >= 3:
            out += bytes([257 - run, row[i]])
            i += run
            continue
        start = i
        while i < len(row) and i - start < 128:
            if i + 2 < len(row) and row[i] == row[i + 1] == row[i + 2]:
                break
            i += 1
        out += bytes([i - start - 1]) + bytes(row[start:i])
    return bytes(out)


def psd(mode, planes, colour_mode_data=b'', compression=0):
    """A whole file: header, three sections and the merged image data.

    planes holds one list of rows per channel."""
    out = bytearray(b'8BPS')
    out += struct.pack('>H6xHIIHH', 1, len(planes), H, W, 8, mode)
    out += struct.pack('>I', len(colour_mode_data)) + colour_mode_data
    # Image resources: one resolution block, which the reader skips.
    resource = b'8BIM' + struct.pack('>HHI', 0x03ED, 0, 16) + struct.pack('>IHHIHH', 72 << 16, 1, 1, 72 << 16, 1, 1)
    out += struct.pack('>I', len(resource)) + resource
    out += struct.pack('>I', 0)  # no layer and mask information
    out += struct.pack('>H', compression)
    rows = [bytes(row) for plane in planes for row in plane]
    if compression == 0:
        out += b''.join(rows)
    else:
        packed = [packbits(row) for row in rows]
        out += b''.join(struct.pack('>H', len(p)) for p in packed)
        out += b''.join(packed)
    return bytes(out)


def variants():
    rgb = reference.rows_rgb()
    grey = reference.rows_grey()
    red, green, blue = ([[p[c] for p in row] for row in rgb] for c in range(3))
    alpha = [[(x * 31 + y * 11) % 256 for x in range(W)] for y in range(H)]

    colours = sorted({p for row in rgb for p in row})
    index = {c: i for i, c in enumerate(colours)}
    # Unused entries are filled too, so that a wrong index shows.
    table = colours + [(i, 255 - i, i // 2) for i in range(len(colours), 256)]
    palette = bytes(c[0] for c in table) + bytes(c[1] for c in table) + bytes(c[2] for c in table)
    indices = [[index[p] for p in row] for row in rgb]

    # Cyan, magenta and yellow hold the grey level; black adds 0 to 3, which
    # the mean truncates away.
    k = [[min(255, grey[y][x] + (x + y) % 4) for x in range(W)] for y in range(H)]

    yield 'grey', 1, [grey], b''
    yield 'indexed', 2, [indices], palette
    yield 'rgb', 3, [red, green, blue], b''
    yield 'rgba', 3, [red, green, blue, alpha], b''
    yield 'cmyk', 4, [grey, grey, grey, k], b''


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, mode, planes, data in variants():
        for compression, suffix in ((0, 'raw'), (1, 'packbits')):
            with open(os.path.join(OUT, f'{name}_{suffix}.psd'), 'wb') as f:
                f.write(psd(mode, planes, data, compression))


if __name__ == '__main__':
    main()
