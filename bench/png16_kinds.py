"""16-bit PNG files of one smooth map, each written with one row filter.

usage: png16_kinds.py DIR [gentle | PICTURE]

Makes a 256 x 256 map of smooth bumps (with `gentle`, of a few broad
slopes only) and enlarges it 16 times (Catmull-Rom, ImageMagick) to
4096 x 4096, or takes PICTURE's pixels at 16 bits, and writes two kinds of it, each with every row filtered None,
Sub, Up, Average and Paeth (zlib level 6):
  DIR/full-FILTER.png     the map at 16 bits: every sample keeps its
                          precision (an enlarged map has several times the
                          information of its 8-bit reduction);
  DIR/widened-FILTER.png  the map rounded to 8 bits and widened again
                          (v * 257), as 8-bit maps saved at 16 bits are.
"""
import struct
import subprocess
import sys
import zlib

import numpy as np

SMALL, SIDE = 256, 4096
FILTERS = ("none", "sub", "up", "average", "paeth")


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png16(samples, filter_type):
    """A 16-bit RGB PNG of `samples` (height x width x 3, uint16), every row
    filtered with `filter_type` (0 to 4: None, Sub, Up, Average, Paeth)."""
    height, width, _ = samples.shape
    rows = samples.astype(">u2").view(np.uint8).reshape(height, width * 6).astype(np.int16)
    bpp = 6
    up = np.vstack([np.zeros((1, rows.shape[1]), np.int16), rows[:-1]])
    left = np.hstack([np.zeros((height, bpp), np.int16), rows[:, :-bpp]])
    up_left = np.hstack([np.zeros((height, bpp), np.int16), up[:, :-bpp]])
    if filter_type == 0:
        prediction = np.zeros_like(rows)
    elif filter_type == 1:
        prediction = left
    elif filter_type == 2:
        prediction = up
    elif filter_type == 3:
        prediction = (left + up) // 2
    else:
        p = left + up - up_left
        pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
        prediction = np.where((pa <= pb) & (pa <= pc), left, np.where(pb <= pc, up, up_left))
    residues = ((rows - prediction) & 255).astype(np.uint8)
    data = np.hstack([np.full((height, 1), filter_type, np.uint8), residues]).tobytes()
    header = struct.pack(">IIBBBBB", width, height, 16, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(data, 6)) +
            chunk(b"IEND", b""))


def small_map(gentle):
    """Smooth bumps of several sizes on a tiling height field, as normals;
    `gentle` keeps the broadest."""
    rng = np.random.default_rng(21)
    y, x = np.mgrid[0:SMALL, 0:SMALL] / SMALL * 2 * np.pi
    height = np.zeros((SMALL, SMALL))
    for _ in range(24):
        fx, fy = rng.integers(1, 3 if gentle else 12, 2)
        height += rng.normal() / (fx + fy) * np.sin(fx * x + fy * y + rng.uniform(0, 2 * np.pi))
    dx = (np.roll(height, -1, 1) - np.roll(height, 1, 1)) * SMALL / 64
    dy = (np.roll(height, -1, 0) - np.roll(height, 1, 0)) * SMALL / 64
    n = np.dstack([-dx, -dy, np.ones_like(dx)])
    n /= np.linalg.norm(n, axis=2, keepdims=True)
    return np.round((n * 0.5 + 0.5) * 65535).astype(np.uint16)


def main():
    out = sys.argv[1]
    if len(sys.argv) > 2 and sys.argv[2] != "gentle":
        source, steps = None, [sys.argv[2]]
        width = int(subprocess.run(["identify", "-format", "%w", sys.argv[2]], capture_output=True, check=True).stdout)
    else:
        source, steps = png16(small_map(len(sys.argv) > 2), 0), ["png:-", "-filter", "Catrom", "-resize", f"{SIDE}x{SIDE}"]
        width = SIDE
    pixels = subprocess.run(["convert", *steps, "-depth", "16", "-endian", "MSB", "rgb:-"], input=source,
                            capture_output=True, check=True).stdout
    full = np.frombuffer(pixels, ">u2").reshape(-1, width, 3).astype(np.uint16)
    widened = (np.round(full / 257.0).astype(np.uint16) * 257).astype(np.uint16)
    for kind, samples in (("full", full), ("widened", widened)):
        for number, name in enumerate(FILTERS):
            with open(f"{out}/{kind}-{name}.png", "wb") as f:
                f.write(png16(samples, number))


if __name__ == "__main__":
    main()
