#!/usr/bin/env python3
"""Writes small OpenEXR files, uncompressed, as the format's public layout
("OpenEXR File Layout") gives them: the seeds of the OpenEXR fuzz target,
and the writer the map-making tests use for float heights.

Usage: make_exr.py [OUTDIR]   (default: tests/data/exr of the repository)

  scanline_float_y.exr   one float channel Y, 8 x 6
  scanline_half_rgb.exr  half channels B, G, R, 5 x 4
  tiled_float_z.exr      one float channel Z in tiles of 4 x 4, 9 x 7
  tiled_half_rgba.exr    half channels A, B, G, R in tiles of 3 x 2, 4 x 3
"""
import os
import struct
import sys

HALF, FLOAT = 1, 2


def half_bits(value):
    """The IEEE half of a float (struct's 'e')."""
    return struct.pack('<e', value)


def write_exr(path, w, h, channels, value, tile=None):
    """An uncompressed OpenEXR file of w x h: `channels` is a list of (name,
    HALF or FLOAT), written in name order as the format asks; value(x, y,
    name) gives each sample; `tile` (tw, th) makes it tiled, one level."""
    channels = sorted(channels)

    def attribute(name, kind, data):
        return name.encode() + b'\0' + kind.encode() + b'\0' + struct.pack('<i', len(data)) + data

    chlist = b''.join(name.encode() + b'\0' + struct.pack('<iB3xii', kind, 0, 1, 1) for name, kind in channels) + b'\0'
    box = struct.pack('<4i', 0, 0, w - 1, h - 1)
    header = (attribute('channels', 'chlist', chlist) + attribute('compression', 'compression', b'\0') +
              attribute('dataWindow', 'box2i', box) + attribute('displayWindow', 'box2i', box) +
              attribute('lineOrder', 'lineOrder', b'\0') +
              attribute('pixelAspectRatio', 'float', struct.pack('<f', 1)) +
              attribute('screenWindowCenter', 'v2f', struct.pack('<2f', 0, 0)) +
              attribute('screenWindowWidth', 'float', struct.pack('<f', 1)))
    if tile:
        header += attribute('tiles', 'tiledesc', struct.pack('<IIB', tile[0], tile[1], 0))
    header += b'\0'

    def samples(xs, y):
        # Each channel's samples of the row, one channel after another.
        out = b''
        for name, kind in channels:
            for x in xs:
                v = value(x, y, name)
                out += half_bits(v) if kind == HALF else struct.pack('<f', v)
        return out

    chunks = []
    if tile:
        tw, th = tile
        for ty in range((h + th - 1) // th):
            for tx in range((w + tw - 1) // tw):
                xs = range(tx * tw, min(w, tx * tw + tw))
                data = b''.join(samples(xs, y) for y in range(ty * th, min(h, ty * th + th)))
                chunks.append(struct.pack('<4ii', tx, ty, 0, 0, len(data)) + data)
    else:
        for y in range(h):
            data = samples(range(w), y)
            chunks.append(struct.pack('<ii', y, len(data)) + data)
    start = 8 + len(header) + 8 * len(chunks)
    offsets = b''
    for chunk in chunks:
        offsets += struct.pack('<Q', start)
        start += len(chunk)
    version = 2 | (0x200 if tile else 0)
    with open(path, 'wb') as f:
        f.write(struct.pack('<iI', 20000630, version) + header + offsets + b''.join(chunks))


def main(args):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = args[0] if args else os.path.join(root, 'tests', 'data', 'exr')
    os.makedirs(out, exist_ok=True)
    ramp = lambda x, y, name: 0.25 * x - 0.5 * y + ord(name[0]) % 7
    write_exr(os.path.join(out, 'scanline_float_y.exr'), 8, 6, [('Y', FLOAT)], ramp)
    write_exr(os.path.join(out, 'scanline_half_rgb.exr'), 5, 4, [('R', HALF), ('G', HALF), ('B', HALF)], ramp)
    write_exr(os.path.join(out, 'tiled_float_z.exr'), 9, 7, [('Z', FLOAT)], ramp, tile=(4, 4))
    write_exr(os.path.join(out, 'tiled_half_rgba.exr'), 4, 3, [('R', HALF), ('G', HALF), ('B', HALF), ('A', HALF)],
              ramp, tile=(3, 2))


if __name__ == '__main__':
    main(sys.argv[1:])
