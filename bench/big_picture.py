"""The 4096 x 4096 benchmark picture: a tangent-space normal map of domes on
gently rippled ground, red-green-blue. It is built from four 256 x 256 tiles
(domes of different sizes) laid in a shifting pattern, so that it is smooth
like a real normal map (runs where the ground is flat, slow gradients on the
domes) and quick to write from Python.
"""
import functools
import math

SIZE = 4096
TILE = 256


def encode(v):
    return max(0, min(255, int(round((v + 1.0) * 127.5))))


@functools.lru_cache(maxsize=None)
def tile(kind):
    """Rows of a tile as bytes of red, green, blue."""
    radius = 60 + 20 * kind
    rows = []
    for y in range(TILE):
        row = bytearray()
        for x in range(TILE):
            dx, dy = x - TILE / 2 + 0.5, y - TILE / 2 + 0.5
            # The ground: a slow ripple along x, flat along y.
            sx = 0.15 * math.sin(2 * math.pi * x / TILE * (kind + 1))
            sy = 0.0
            d = math.hypot(dx, dy)
            if d < radius:
                h = math.sqrt(radius * radius - d * d)
                sx, sy = dx / max(h, 1.0), dy / max(h, 1.0)
            length = math.sqrt(sx * sx + sy * sy + 1)
            row += bytes((encode(sx / length), encode(sy / length), encode(1 / length)))
        rows.append(bytes(row))
    return rows


@functools.lru_cache(maxsize=None)
def _row(band, ty):
    return b''.join(tile((i + band) % 4)[ty] for i in range(SIZE // TILE))


def row(y):
    """Row y (0 is the top) as SIZE pixels of red, green, blue."""
    return _row((y // TILE) % 4, y % TILE)
