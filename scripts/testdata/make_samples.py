#!/usr/bin/env python3
"""Writes the sample normal map and the end-to-end fixtures of quorvel-cli.

samples/sphere_normals.bmp   a 256 x 256 tangent-space normal map of a dome
tests/data/cli/reference.bmp the 7 x 5 reference picture, 24-bit bottom-up
tests/data/cli/expected_*.bmp what quorvel-cli must write for given options,
                             computed here independently of the program's
                             own code, with 32-bit float rounding emulated.

Run from the repository root: python3 scripts/testdata/make_samples.py
"""
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
import reference  # noqa: E402


def f32(value):
    """Rounds a Python float (a double) to the nearest 32-bit float."""
    return struct.unpack('<f', struct.pack('<f', value))[0]


BYTE_TO_UNIT = f32(1.0 / 127.0)


def adjust(pixel, invert=(False, False, False), renormalize=False, scale=1.0):
    """One pixel's adjustment: inversion first, then re-normalisation."""
    r, g, b = (255 - v if inv else v for v, inv in zip(pixel, invert))
    if not renormalize:
        return (r, g, b)
    scale = f32(scale)
    x = f32(f32((r - 128) * BYTE_TO_UNIT) * scale)
    y = f32(f32((g - 128) * BYTE_TO_UNIT) * scale)
    z = f32((b - 128) * BYTE_TO_UNIT)
    squared = x * x + y * y + z * z
    length = 0.0 if squared == 0 else math.sqrt(squared)
    if length > 0:
        q = 1.0 / f32(length)
        n = (f32(q * x), f32(q * y), f32(q * z))
    else:
        n = (0.0, 0.0, 0.0)
    return tuple(int(t * 127.0 + 128.0) & 0xFF for t in n)


def bmp24(rows):
    """An uncompressed 24-bit BMP, bottom row first, 300 pixels per metre."""
    height, width = len(rows), len(rows[0])
    stride = (3 * width + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(data), 300, 300, 0, 0)
    return header + info + bytes(data)


def sphere_normals(size=256):
    """A dome rising from a flat plane: normals (0, 0, 1) outside it."""
    rows = []
    radius = size * 0.42
    for y in range(size):
        row = []
        for x in range(size):
            dx = (x + 0.5 - size / 2) / radius
            dy = (size / 2 - y - 0.5) / radius
            d2 = dx * dx + dy * dy
            nx, ny, nz = (dx, dy, math.sqrt(1 - d2)) if d2 < 1 else (0.0, 0.0, 1.0)
            row.append(tuple(max(0, min(255, round(128 + 127 * c))) for c in (nx, ny, nz)))
        rows.append(row)
    return rows


# Option sets of the end-to-end checks: file suffix, command-line options,
# and the adjustment they mean.
CASES = [
    ('invert_green', ['--invert-green'], dict(invert=(False, True, False))),
    ('invert_red_blue', ['--invert-red', '--invert-blue'], dict(invert=(True, False, True))),
    ('renormalize', ['--renormalize'], dict(renormalize=True)),
    ('renormalize_scale2', ['--renormalize', '--scale', '2'], dict(renormalize=True, scale=2.0)),
    ('invert_green_renormalize_scale_minus_half', ['--invert-green', '--renormalize', '--scale', ' -0.5x'],
     dict(invert=(False, True, False), renormalize=True, scale=-0.5)),
    ('renormalize_scale_not_a_number', ['--renormalize', '--scale', 'abc'], dict(renormalize=True, scale=0.0)),
    ('renormalize_scale_overflow', ['--renormalize', '--scale', '1e39'], dict(renormalize=True, scale=0.0)),
    ('renormalize_scale_empty', ['--renormalize', '--scale', ''], dict(renormalize=True, scale=1.0)),
]


def spread_rows(size=64):
    """Many byte combinations at once, for a broad check of the arithmetic."""
    return [[((x * 4 + 1) % 256, (y * 4 + 2) % 256, (x * y + 7 * x) % 256) for x in range(size)]
            for y in range(size)]


# The spread picture goes through the re-normalisation at these scales.
SPREAD_SCALES = [('1', 1.0), ('2', 2.0), ('0.3', 0.3), ('-1.75', -1.75)]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def main():
    write('samples/sphere_normals.bmp', bmp24(sphere_normals()))
    rows = reference.rows_rgb()
    write('tests/data/cli/reference.bmp', bmp24(rows))
    with open('tests/data/cli/cases.txt', 'w') as listing:
        for name, options, meaning in CASES:
            adjusted = [[adjust(p, **meaning) for p in row] for row in rows]
            write(f'tests/data/cli/expected_{name}.bmp', bmp24(adjusted))
            listing.write('|'.join([name] + options) + '|\n')
    spread = spread_rows()
    write('tests/data/cli/spread.bmp', bmp24(spread))
    with open('tests/data/cli/spread_cases.txt', 'w') as listing:
        for text, scale in SPREAD_SCALES:
            adjusted = [[adjust(p, renormalize=True, scale=scale) for p in row] for row in spread]
            write(f'tests/data/cli/expected_spread_scale_{text}.bmp', bmp24(adjusted))
            listing.write(text + '\n')


if __name__ == '__main__':
    main()
