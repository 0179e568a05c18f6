#!/usr/bin/env python3
"""Writes the reference picture as DirectDraw Surface files into tests/data/dds/.

Uncompressed layouts, each holding the RGB picture:
  argb8888.dds         32 bits, 8-bit alpha, red in the third byte
  xrgb8888.dds         32 bits, no alpha mask
  abgr8888.dds         32 bits, red in the lowest byte (masks in another order)
  rgb888.dds           24 bits
  rgb888_linear.dds    24 bits, data size given as a linear size
  rgb888_mipmaps.dds   24 bits, followed by two smaller mipmap levels
  a1r5g5b5.dds, a4r4g4b4.dds, r5g6b5.dds
                       16 bits: the RGB picture cut to the top bits of each
                       channel (v >> 3, v >> 4, v >> 2)
Block-compressed, 7 x 5 pixels in 2 x 2 blocks, the edge pixels dropped:
  dxt1.dds, dxt3.dds, dxt5.dds
                       the same colour blocks (two with c0 > c1, two with
                       c0 <= c1) with different alpha data
  dxt_expected.dds     what those blocks decode to in DXT1 (three colours
                       and index 3 cyan where c0 <= c1), as 24-bit uncompressed
  dxt_alpha_expected.dds
                       what they decode to in DXT3 and DXT5, whose colour
                       blocks always have four colours

Run from the repository root: python3 scripts/testdata/make_dds.py
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
import reference  # noqa: E402

W, H = reference.WIDTH, reference.HEIGHT
OUT = os.path.join('tests', 'data', 'dds')

CAPS, HEIGHT, WIDTH, PITCH, PIXELFORMAT, MIPMAPCOUNT, LINEARSIZE = 0x1, 0x2, 0x4, 0x8, 0x1000, 0x20000, 0x80000
ALPHAPIXELS, FOURCC, RGB = 0x1, 0x4, 0x40


def header(width, height, flags, pitch, fourcc=0, bits=0, masks=(0, 0, 0, 0), mipmaps=0):
    """The 128-byte header: signature, surface description, pixel format."""
    r, g, b, a = masks
    pf_flags = FOURCC if fourcc else RGB | (ALPHAPIXELS if a else 0)
    out = b'DDS ' + struct.pack('<7I', 124, CAPS | HEIGHT | WIDTH | PIXELFORMAT | flags, height, width, pitch, 0,
                                mipmaps)
    out += bytes(44)
    out += struct.pack('<8I', 32, pf_flags, fourcc, bits, r, g, b, a)
    out += struct.pack('<5I', 0x1000 | (0x400008 if mipmaps else 0), 0, 0, 0, 0)
    assert len(out) == 128
    return out


def pack_pixel(pixel, masks, alpha, nbytes):
    """Places each channel's top bits where its mask lies."""
    value = 0
    for v, mask in zip(tuple(pixel) + (alpha,), masks):
        if not mask:
            continue
        shift = (mask & -mask).bit_length() - 1
        width = bin(mask).count('1')
        value |= (v >> (8 - width)) << shift
    return value.to_bytes(nbytes, 'little')


def uncompressed(rows, masks, bits, flags=PITCH, mipmaps=0):
    nbytes = bits // 8
    height, width = len(rows), len(rows[0])
    data = b''.join(pack_pixel(p, masks, (x * 29 + y * 13) % 256, nbytes)
                    for y, row in enumerate(rows) for x, p in enumerate(row))
    pitch = len(data) if flags & LINEARSIZE else width * nbytes
    return header(width, height, flags, pitch, bits=bits, masks=masks, mipmaps=mipmaps) + data


# Colour blocks -------------------------------------------------------------

def expand(c):
    """565 to 8 bits by shifting, low bits zero, as the reader does."""
    return (((c >> 11) & 31) << 3, ((c >> 5) & 63) << 2, (c & 31) << 3)


def to565(p):
    return ((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[2] >> 3)


def table(c0, c1, always_four=False):
    a, b = expand(c0), expand(c1)
    if c0 > c1 or always_four:
        return [a, b, tuple((2 * x + y) // 3 for x, y in zip(a, b)), tuple((x + 2 * y) // 3 for x, y in zip(a, b))]
    return [a, b, tuple((x + y) // 2 for x, y in zip(a, b)), (0, 255, 255)]


def colour_block(bx, by, rows):
    """One block of the RGB picture: the brightest and darkest pixels as c0
    and c1, each pixel the nearest table colour. Blocks on one diagonal use
    four colours, the others three (c0 <= c1) and index 3 once."""
    inside = [(x, y) for y in range(4 * by, min(4 * by + 4, H)) for x in range(4 * bx, min(4 * bx + 4, W))]
    pixels = [rows[y][x] for x, y in inside]
    hi, lo = to565(max(pixels, key=sum)), to565(min(pixels, key=sum))
    four = (bx + by) % 2 == 0
    c0, c1 = (max(hi, lo), min(hi, lo)) if four else (min(hi, lo), max(hi, lo))
    colours = table(c0, c1)
    usable = range(4) if four else range(3)
    indices = [[3] * 4 for _ in range(4)]  # pixels outside the picture
    for x, y in inside:
        p = rows[y][x]
        indices[y - 4 * by][x - 4 * bx] = min(usable, key=lambda i: sum((u - v) ** 2 for u, v in zip(colours[i], p)))
    if not four:
        indices[0][0] = 3  # the fourth colour shows at the block's first pixel
    data = struct.pack('<HH', c0, c1) + bytes(sum(i << (2 * x) for x, i in enumerate(r)) for r in indices)
    decoded = {(x, y): colours[indices[y - 4 * by][x - 4 * bx]] for x, y in inside}
    four_colours = table(c0, c1, always_four=True)
    decoded_with_alpha = {(x, y): four_colours[indices[y - 4 * by][x - 4 * bx]] for x, y in inside}
    return data, decoded, decoded_with_alpha


def dxt3_alpha(bx, by):
    return bytes((bx * 16 + by * 64 + i * 17) % 256 for i in range(8))


def dxt5_alpha(bx, by):
    # Alternates the two alpha modes: alpha0 > alpha1 and alpha0 <= alpha1.
    a0, a1 = (200, 40) if (bx + by) % 2 == 0 else (40, 200)
    return bytes([a0, a1]) + bytes((bx * 37 + by * 91 + i * 45) % 256 for i in range(6))


def compressed():
    rows = reference.rows_rgb()
    blocks = {}
    decoded = {}
    decoded_with_alpha = {}
    for by in range((H + 3) // 4):
        for bx in range((W + 3) // 4):
            data, pixels, pixels_with_alpha = colour_block(bx, by, rows)
            blocks[bx, by] = data
            decoded.update(pixels)
            decoded_with_alpha.update(pixels_with_alpha)
    order = [(bx, by) for by in range((H + 3) // 4) for bx in range((W + 3) // 4)]
    files = {}
    for name, alpha in (('dxt1', None), ('dxt3', dxt3_alpha), ('dxt5', dxt5_alpha)):
        data = b''.join((alpha(*k) if alpha else b'') + blocks[k] for k in order)
        files[name] = header(W, H, LINEARSIZE, len(data), fourcc=int.from_bytes(name.upper().encode(), 'little')) + data
    expected = [[decoded[x, y] for x in range(W)] for y in range(H)]
    files['dxt_expected'] = uncompressed(expected, (0xFF0000, 0xFF00, 0xFF, 0), 24)
    expected = [[decoded_with_alpha[x, y] for x in range(W)] for y in range(H)]
    files['dxt_alpha_expected'] = uncompressed(expected, (0xFF0000, 0xFF00, 0xFF, 0), 24)
    return files


def mipmapped(rows):
    """The 24-bit picture followed by a 3 x 2 and a 1 x 1 level."""
    main = uncompressed(rows, (0xFF0000, 0xFF00, 0xFF, 0), 24, mipmaps=3)
    return main + bytes(3 * 2 * 3) + bytes([1, 2, 3])


def main():
    os.makedirs(OUT, exist_ok=True)
    rows = reference.rows_rgb()
    files = {
        'argb8888': uncompressed(rows, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), 32),
        'xrgb8888': uncompressed(rows, (0xFF0000, 0xFF00, 0xFF, 0), 32),
        'abgr8888': uncompressed(rows, (0xFF, 0xFF00, 0xFF0000, 0xFF000000), 32),
        'rgb888': uncompressed(rows, (0xFF0000, 0xFF00, 0xFF, 0), 24),
        'rgb888_linear': uncompressed(rows, (0xFF0000, 0xFF00, 0xFF, 0), 24, flags=LINEARSIZE),
        'rgb888_mipmaps': mipmapped(rows),
        'a1r5g5b5': uncompressed(rows, (0x7C00, 0x3E0, 0x1F, 0x8000), 16),
        'a4r4g4b4': uncompressed(rows, (0xF00, 0xF0, 0xF, 0xF000), 16),
        'r5g6b5': uncompressed(rows, (0xF800, 0x7E0, 0x1F, 0), 16),
    }
    files.update(compressed())
    for name, data in files.items():
        with open(os.path.join(OUT, name + '.dds'), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
