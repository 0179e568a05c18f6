#!/usr/bin/env python3
"""Writes small .astc files with quorvel-cli: the seeds of the ASTC fuzz
target. Each is a generated normal map (a dome over a ripple, as a PPM
file) saved by quorvel-cli as an .astc file of one block size.

Usage: make_astc.py QUORVEL_CLI [OUTDIR]   (default: tests/data/astc)

  dome_4x4.astc  13 x 9 in 4x4 blocks
  dome_5x5.astc  1 x 1 in 5x5 blocks
  dome_6x5.astc  17 x 11 in 6x5 blocks
  dome_8x8.astc  20 x 20 in 8x8 blocks
"""
import math
import os
import subprocess
import sys
import tempfile

SEEDS = [("4x4", 13, 9), ("5x5", 1, 1), ("6x5", 17, 11), ("8x8", 20, 20)]


def normal_map_ppm(path, w, h):
    """A dome over a ripple: each normal from the height's slopes, stored
    as c x 127.5 + 127.5."""
    def height(x, y):
        u, v = (x + 0.5) / w - 0.5, (y + 0.5) / h - 0.5
        return 0.3 * math.exp(-8 * (u * u + v * v)) + 0.02 * math.sin(20 * u)

    pixels = bytearray()
    for y in range(h):
        for x in range(w):
            dx = (height(x + 1, y) - height(x - 1, y)) * w / 2
            dy = (height(x, y + 1) - height(x, y - 1)) * h / 2
            n = (-dx, dy, 1.0)
            length = math.sqrt(sum(c * c for c in n))
            pixels += bytes(max(0, min(255, round((c / length + 1) * 127.5))) for c in n)
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(pixels))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    cli = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "..", "tests", "data", "astc")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        for block, w, h in SEEDS:
            source = os.path.join(work, "dome_%dx%d.ppm" % (w, h))
            normal_map_ppm(source, w, h)
            target = os.path.join(out, "dome_%s.astc" % block)
            subprocess.run([cli, "--astc", block, "--astc-quality", "fast", source, target], check=True)


if __name__ == "__main__":
    main()
