#!/usr/bin/env python3
"""Pictures for the map-making tests, and the samples of what quorvel-cli wrote.

  map_pictures.py ramp W H x|y STEP OUT.pgm   heights rising STEP a texel along x or down y
  map_pictures.py wave N OUT.pgm              a tiling 16-bit wave, N x N
  map_pictures.py domes N OUT.pgm             a tiling 16-bit field of 4 x 4 round domes, N x N
  map_pictures.py normal W H R G B OUT.bmp    a 24-bit map of one normal
  map_pictures.py exr-ramp W H STEP OUT.exr [X,Y,VALUE...]
                                              float heights rising STEP a texel along x, in an
                                              uncompressed OpenEXR file of one channel Y, with
                                              VALUE (nan, inf, -inf or a number) at (X, Y)
  map_pictures.py pixel FILE X Y              the samples at (X, Y) of a PNG, BMP or PGM, and the depth
  map_pictures.py compare A.png B.png         the largest difference of the two grey pictures,
                                              each scaled to its own range, over the full scale
  map_pictures.py largest A B                 the largest difference of two pictures' samples
"""
import os
import struct
import sys
import zlib
import math

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'testdata'))
from make_exr import FLOAT, write_exr  # noqa: E402


def pgm(path, w, h, maxval, value):
    size = 2 if maxval > 255 else 1
    data = bytearray()
    for y in range(h):
        for x in range(w):
            data += int(value(x, y)).to_bytes(size, 'big')
    open(path, 'wb').write(b'P5 %d %d %d\n' % (w, h, maxval) + bytes(data))


def bmp(path, w, h, rgb):
    stride = (3 * w + 3) & ~3
    row = bytes((rgb[2], rgb[1], rgb[0])) * w + b'\0' * (stride - 3 * w)
    data = row * h
    head = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    open(path, 'wb').write(head + info + data)


def read_png(path):
    """(width, height, bits, channels, rows of samples) of a non-interlaced PNG."""
    data = open(path, 'rb').read()
    pos, idat = 8, b''
    while pos < len(data):
        length, kind = struct.unpack_from('>I4s', data, pos)
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            w, h, bits, colour = struct.unpack_from('>IIBB', body)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    step = channels * bits // 8
    raw, rows, prior = zlib.decompress(idat), [], bytearray(w * step)
    for y in range(h):
        start = y * (w * step + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + w * step])
        for i in range(len(line)):
            a = line[i - step] if i >= step else 0
            b = prior[i]
            c = prior[i - step] if i >= step else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prior = line
        if bits == 16:
            rows.append([line[2 * i] << 8 | line[2 * i + 1] for i in range(w * channels)])
        else:
            rows.append(list(line))
    return w, h, bits, channels, rows


def read_bmp(path):
    data = open(path, 'rb').read()
    offset, = struct.unpack_from('<I', data, 10)
    w, h = struct.unpack_from('<ii', data, 18)
    stride = (3 * w + 3) & ~3
    rows = []
    for y in range(abs(h)):
        r = (h - 1 - y) if h > 0 else y
        line = data[offset + r * stride:offset + r * stride + 3 * w]
        rows.append([v for i in range(w) for v in (line[3 * i + 2], line[3 * i + 1], line[3 * i])])
    return w, abs(h), 8, 3, rows


def read_pgm(path):
    data = open(path, 'rb').read()
    magic, w, h, maxval, _ = data.split(None, 4)
    start = len(data) - int(w) * int(h) * (2 if int(maxval) > 255 else 1)
    size = 2 if int(maxval) > 255 else 1
    samples = [int.from_bytes(data[start + i * size:start + (i + 1) * size], 'big') for i in range(int(w) * int(h))]
    return int(w), int(h), 8 * size, 1, [samples[y * int(w):(y + 1) * int(w)] for y in range(int(h))]


def read(path):
    lower = path.lower()
    if lower.endswith('.bmp'):
        return read_bmp(path)
    return read_pgm(path) if lower.endswith('.pgm') else read_png(path)


def main(args):
    what = args[0]
    if what == 'ramp':
        w, h, axis, step, out = int(args[1]), int(args[2]), args[3], int(args[4]), args[5]
        pgm(out, w, h, 255, lambda x, y: step * (x if axis == 'x' else y))
    elif what == 'wave':
        n, out = int(args[1]), args[2]
        pgm(out, n, n, 65535, lambda x, y: 32767.5 + 30000 * math.sin(2 * math.pi * x / n) * math.cos(2 * math.pi * 2 * y / n))
    elif what == 'domes':
        n, out = int(args[1]), args[2]
        cell = n / 4

        def dome(x, y):
            u, v = (x + 0.5) % cell / cell - 0.5, (y + 0.5) % cell / cell - 0.5
            r = math.hypot(u, v) / 0.4
            return 60000 * math.sqrt(1 - r * r) if r < 1 else 0
        pgm(out, n, n, 65535, dome)
    elif what == 'normal':
        bmp(args[6], int(args[1]), int(args[2]), (int(args[3]), int(args[4]), int(args[5])))
    elif what == 'exr-ramp':
        w, h, step, out = int(args[1]), int(args[2]), float(args[3]), args[4]
        special = {}
        for item in args[5:]:
            x, y, v = item.split(',')
            special[int(x), int(y)] = float(v)
        write_exr(out, w, h, [('Y', FLOAT)], lambda x, y, _: special.get((x, y), step * x))
    elif what == 'pixel':
        w, h, bits, channels, rows = read(args[1])
        x, y = int(args[2]), int(args[3])
        print(' '.join(str(v) for v in rows[y][x * channels:(x + 1) * channels]), bits)
    elif what == 'compare':
        pictures = []
        for path in args[1:3]:
            w, h, bits, channels, rows = read(path)
            grey = [row[i * channels] for row in rows for i in range(w)]
            low, high = min(grey), max(grey)
            pictures.append([(v - low) / (high - low) for v in grey])
        print('%.4f' % max(abs(a - b) for a, b in zip(*pictures)))
    elif what == 'largest':
        a, b = read(args[1]), read(args[2])
        assert a[:4] == b[:4], 'the pictures differ in size, depth or channels'
        print(max(abs(u - v) for ra, rb in zip(a[4], b[4]) for u, v in zip(ra, rb)))


main(sys.argv[1:])
