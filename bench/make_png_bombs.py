#!/usr/bin/env python3
"""Writes the decompression bombs of the PNG benchmarks into OUTDIR: files of
about 2 MB whose image data inflates to about 2 GiB.

  bomb_bad_filter.png  16384 x 16384 RGBA, 16 bits (2 GiB of rows), every
                       byte of the stream 5: no row has a filter type that
                       exists. Refused at the first row.
  bomb_cut.png         the same picture of zeros, the stream cut 64 KiB
                       before its end: refused once the data runs out.
  bomb_long.png        4096 x 4096 RGB (48 MB of rows) whose stream goes on
                       to 2 GiB of zeros: the picture loads, the rest is
                       never inflated.

Usage: make_png_bombs.py OUTDIR
"""
import os
import struct
import sys
import zlib

GIB = 1 << 30


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def stream_of(byte, total):
    z = zlib.compressobj(9)
    block = bytes([byte]) * (16 << 20)
    out = [z.compress(block) for _ in range(total // len(block))]
    out.append(z.compress(bytes([byte]) * (total % len(block))))
    out.append(z.flush())
    return b''.join(out)


def png(width, height, depth, colour_type, data):
    ihdr = struct.pack('>IIBBBBB', width, height, depth, colour_type, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', data) + chunk(b'IEND', b'')


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    rows = 16384 * (1 + 16384 * 8)
    files = {
        'bomb_bad_filter.png': lambda: png(16384, 16384, 16, 6, stream_of(5, rows)),
        'bomb_cut.png': lambda: png(16384, 16384, 16, 6, stream_of(0, rows)[:-65536]),
        'bomb_long.png': lambda: png(4096, 4096, 8, 2, stream_of(0, 2 * GIB)),
    }
    for name, make in files.items():
        target = os.path.join(outdir, name)
        if not os.path.exists(target):
            with open(target, 'wb') as f:
                f.write(make())


if __name__ == '__main__':
    main()
