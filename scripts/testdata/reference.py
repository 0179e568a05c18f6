"""The reference picture that every test file variant stores.

7 x 5 pixels: an odd width, so that rows of 3-byte pixels need padding in
formats that pad, and a height that is not a multiple of 4. Every pixel is
distinct, the values reach both 0 and 255, and no row or column repeats, so
a swapped channel, a flipped row order or an off-by-one column shows.
"""

WIDTH = 7
HEIGHT = 5


def rgb(x, y):
    """Red, green, blue of the pixel at column x, row y (row 0 is the top)."""
    return ((x * 40 + y * 7) % 256 if (x, y) != (6, 4) else 255,
            (255 - y * 60 - x * 3) % 256,
            (x * 17 + y * 45 + 3) % 256 if (x, y) != (0, 0) else 0)


def run_length(values, i, longest):
    """How many values from index i on equal values[i]: at least 1, at most longest."""
    run = 1
    while i + run < len(values) and run < longest and values[i + run] == values[i]:
        run += 1
    return run


def grey(x, y):
    """A grey picture of the same size: distinct levels from 0 to 255."""
    return (x * 37 + y * 53) % 256 if (x, y) != (6, 4) else 255


def bit(x, y):
    """A two-level picture: 1 where the grey picture is dark."""
    return 1 if grey(x, y) < 128 else 0


def rows_rgb():
    return [[rgb(x, y) for x in range(WIDTH)] for y in range(HEIGHT)]


def rows_grey():
    return [[grey(x, y) for x in range(WIDTH)] for y in range(HEIGHT)]


def write_variants(folder, variants):
    """Writes (name, bytes) pairs into tests/data/FOLDER, or into the
    directory given as the first command-line argument."""
    import os
    import sys
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'tests', 'data', folder)
    os.makedirs(outdir, exist_ok=True)
    for name, data in variants:
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(data)
