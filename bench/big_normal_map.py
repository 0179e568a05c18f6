"""The 4096 x 4096 benchmark picture: a normal map as artists make them.

The top half is a flat plate with a round rivet in every 256 x 256 cell (long
runs of the flat normal 128, 128, 255 between smoothly shaded domes); the
bottom half is a gentle ripple. Both repeat every 256 pixels, so a row is one
of 512 distinct cell rows tiled 16 times, and encoders can work per distinct
row. Used by the make_big_<format>.py scripts.
"""
import math

SIZE = 4096
CELL = 256


def encode(nx, ny, nz):
    length = math.sqrt(nx * nx + ny * ny + nz * nz)
    return tuple(min(255, max(0, int(round((c / length * 0.5 + 0.5) * 255)))) for c in (nx, ny, nz))


def encode16(nx, ny, nz):
    """The same normal in 16-bit samples."""
    length = math.sqrt(nx * nx + ny * ny + nz * nz)
    return tuple(min(65535, max(0, int(round((c / length * 0.5 + 0.5) * 65535)))) for c in (nx, ny, nz))


def rivet(x, y, code=encode):
    dx, dy, radius = x - CELL / 2 + 0.5, y - CELL / 2 + 0.5, 80.0
    r2 = dx * dx + dy * dy
    if r2 >= radius * radius:
        return code(0.0, 0.0, 1.0)
    return code(dx / radius, -dy / radius, math.sqrt(radius * radius - r2) / radius)


def ripple(x, y, code=encode):
    return code(-0.35 * math.sin(2 * math.pi * x / CELL), 0.25 * math.sin(4 * math.pi * y / CELL), 1.0)


def cell_rows(pixel):
    """The 256 rows of one cell, each as red-green-blue bytes of 4096 pixels."""
    rows = []
    for y in range(CELL):
        cell_row = bytes(c for x in range(CELL) for c in pixel(x, y))
        rows.append(cell_row * (SIZE // CELL))
    return rows


def picture_rows():
    """The distinct rows and, for each of the 4096 rows top to bottom, its index."""
    distinct = cell_rows(rivet) + cell_rows(ripple)
    order = [(y % CELL) + (CELL if y >= SIZE // 2 else 0) for y in range(SIZE)]
    return distinct, order


def bgr(row):
    out = bytearray(len(row))
    out[0::3], out[1::3], out[2::3] = row[2::3], row[1::3], row[0::3]
    return bytes(out)
