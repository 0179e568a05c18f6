#!/usr/bin/env python3
"""Writes TIFF files of every kind the TIFF reader takes, and the samples
each must load as.

Usage: make_tiff.py [OUTDIR]   (default: tests/data/tiff of the repository)

The files are written byte by byte here (zlib and struct only; LZW and
PackBits are encoded here), so that strips, tiles, planes, predictors and
byte orders are exactly as named and the expected samples are computed
independently of any TIFF library:
  <kind>_<layout>_<compression>[_pred][_mm].tif
    kind         grey8, grey16, greyalpha8, greyalpha16, rgb8, rgb16, rgba8,
                 rgba16 (unassociated alpha), premultiplied8/16 (associated
                 alpha), rgbextra8 (a fourth sample of unspecified data),
                 rgbaextra16 (alpha and then unspecified data), greyextra8,
                 reference (the reference picture of reference.py, 8-bit
                 RGB, which the other formats' test files also store)
    layout       strips (5 rows each), onestrip (no RowsPerStrip), tiles
                 (16 x 16, partly outside the picture), planar (strips, one
                 plane a sample), planartiles
    compression  none, lzw, deflate, packbits
    _pred        horizontal differencing (Predictor 2)
    _mm          big-endian (Motorola) byte order; little-endian otherwise
refused/float32.tif and refused/orientation3.tif are refused by the reader,
each with its reason. Each file's expected samples are in expected/<file name>.samples: four
little-endian 32-bit numbers (width, height, bits a sample, samples a
pixel: 3, or 4 with alpha), then the samples top row first, red, green,
blue (grey repeated) and alpha, bytes or little-endian 16-bit words; extra
samples other than alpha are left out, premultiplied colour is as stored.
With ImageMagick at hand, the expected samples of most files (see main) are
also checked against its decoding.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference  # noqa: E402

WIDTH = 19   # neither side a multiple of 16: tiles run past both edges,
HEIGHT = 13  # and the last strip of 5 rows holds 3
ROWS_PER_STRIP = 5
TILE = 16

# name: (colour samples, bits, ExtraSamples values)
KINDS = {
    'grey8': (1, 8, ()),
    'grey16': (1, 16, ()),
    'greyalpha8': (1, 8, (2,)),
    'greyalpha16': (1, 16, (2,)),
    'rgb8': (3, 8, ()),
    'rgb16': (3, 16, ()),
    'rgba8': (3, 8, (2,)),
    'rgba16': (3, 16, (2,)),
    'premultiplied8': (3, 8, (1,)),
    'premultiplied16': (3, 16, (1,)),
    'rgbextra8': (3, 8, (0,)),
    'rgbaextra16': (3, 16, (2, 0)),
    'greyextra8': (1, 8, (0,)),
    'reference': (3, 8, ()),
}

SOFTWARE = b'make_tiff.py\0'  # ASCII, NUL-terminated

COMPRESSION = {'none': 1, 'lzw': 5, 'deflate': 8, 'packbits': 32773}


class Picture:
    """The stored sample c of pixel (x, y): distinct neighbours, both ends of
    the range reached, 16-bit samples with unlike high and low bytes."""
    width, height = WIDTH, HEIGHT

    @staticmethod
    def sample(x, y, c, bits):
        top = (1 << bits) - 1
        if (x, y) == (0, 0):
            return 0
        if (x, y) == (WIDTH - 1, HEIGHT - 1):
            return top
        return (x * 7919 + y * 104729 + c * 31337 + x * y * 613 + x * x * y * 131) % (top + 1)


class ReferencePicture:
    width, height = reference.WIDTH, reference.HEIGHT

    @staticmethod
    def sample(x, y, c, bits):
        return reference.rgb(x, y)[c]


def picture_of(kind):
    return ReferencePicture if kind == 'reference' else Picture


def stored_samples(kind):
    colour, _, extras = KINDS[kind]
    return colour + len(extras)


def expected_samples(kind):
    colour, bits, extras = KINDS[kind]
    pic = picture_of(kind)
    alpha = next((colour + i for i, e in enumerate(extras) if e in (1, 2)), None)
    out = bytearray()
    for y in range(pic.height):
        for x in range(pic.width):
            values = [pic.sample(x, y, c, bits) for c in range(colour)]
            if colour == 1:
                values *= 3
            if alpha is not None:
                values.append(pic.sample(x, y, alpha, bits))
            for v in values:
                out += struct.pack('<H', v) if bits == 16 else bytes([v])
    channels = 4 if alpha is not None else 3
    return struct.pack('<4I', pic.width, pic.height, bits, channels) + bytes(out)


# ----------------------------------------------------------------- coding

def lzw(data):
    """TIFF's LZW: codes of 9 to 12 bits packed most significant bit first,
    a Clear code first, the code width growing one code early (as libtiff
    writes it), End of Information last."""
    out = bytearray()
    acc = nacc = 0

    def put(code, width):
        nonlocal acc, nacc
        acc = (acc << width) | code
        nacc += width
        while nacc >= 8:
            nacc -= 8
            out.append((acc >> nacc) & 0xFF)

    def fresh():
        return {bytes([i]): i for i in range(256)}

    table, next_code, width = fresh(), 258, 9
    put(256, width)
    w = b''
    for b in data:
        wc = w + bytes([b])
        if wc in table:
            w = wc
            continue
        put(table[w], width)
        table[wc] = next_code
        next_code += 1
        if next_code == 4094:
            put(256, width)
            table, next_code, width = fresh(), 258, 9
        elif next_code > (1 << width) - 1:
            width += 1
        w = bytes([b])
    if w:
        put(table[w], width)
        next_code += 1
        if next_code == 4094:
            put(256, width)
            width = 9
        elif next_code > (1 << width) - 1:
            width += 1
    put(257, width)
    if nacc:
        out.append((acc << (8 - nacc)) & 0xFF)
    return bytes(out)


def packbits(data):
    """Runs of two or more equal bytes as repeat packets, the rest as
    literal packets, each at most 128 bytes."""
    out = bytearray()
    i = 0
    while i < len(data):
        run = reference.run_length(data, i, 128)
        if run >= 2:
            out += bytes([(257 - run) & 0xFF, data[i]])
            i += run
            continue
        start = i
        while i < len(data) and i - start < 128 and (i + 1 >= len(data) or data[i + 1] != data[i]):
            i += 1
        if i == start:
            i += 1
        out += bytes([i - start - 1]) + data[start:i]
    return bytes(out)


def compress(data, compression):
    if compression == 'lzw':
        return lzw(data)
    if compression == 'deflate':
        return zlib.compress(data, 9)
    if compression == 'packbits':
        return packbits(data)
    return data


def unit_bytes(rows, bits, order, predict, step):
    """Rows of sample values as stored: each row differenced against the
    sample `step` places before it when predicting, then serialised."""
    out = bytearray()
    top = (1 << bits) - 1
    for row in rows:
        if predict:
            row = [row[i] if i < step else (row[i] - row[i - step]) & top for i in range(len(row))]
        for v in row:
            out += struct.pack(order + 'H', v) if bits == 16 else bytes([v])
    return bytes(out)


def units(kind, layout, compression, predict, order):
    """The strips or tiles of the picture, in the order of their offsets in
    the directory (plane by plane when planar)."""
    colour, bits, extras = KINDS[kind]
    pic = picture_of(kind)
    spp = stored_samples(kind)
    planar = layout.startswith('planar')
    tiled = layout.endswith('tiles')
    planes = [[c] for c in range(spp)] if planar else [list(range(spp))]
    found = []
    for plane in planes:
        step = len(plane)
        if tiled:
            for ty in range(0, pic.height, TILE):
                for tx in range(0, pic.width, TILE):
                    rows = []
                    for y in range(ty, ty + TILE):
                        row = []
                        for x in range(tx, tx + TILE):
                            for c in plane:
                                # Tile parts outside the picture hold noise.
                                inside = x < pic.width and y < pic.height
                                row.append(pic.sample(x, y, c, bits) if inside
                                           else (x * 41 + y * 17 + c) & ((1 << bits) - 1))
                        rows.append(row)
                    found.append(compress(unit_bytes(rows, bits, order, predict, step), compression))
        else:
            per = pic.height if layout == 'onestrip' else ROWS_PER_STRIP
            for top in range(0, pic.height, per):
                rows = [[pic.sample(x, y, c, bits) for x in range(pic.width) for c in plane]
                        for y in range(top, min(top + per, pic.height))]
                found.append(compress(unit_bytes(rows, bits, order, predict, step), compression))
    return found


def tiff(kind, layout, compression, predict=False, big_endian=False, retag=None, data=None):
    """The file; `retag` replaces entries ({tag: (type, values)}) and
    `data` the strips."""
    colour, bits, extras = KINDS[kind]
    pic = picture_of(kind)
    spp = stored_samples(kind)
    order = '>' if big_endian else '<'
    data = data or units(kind, layout, compression, predict, order)
    out = bytearray(b'MM' if big_endian else b'II') + struct.pack(order + 'HI', 42, 0)
    # The Software text, which the reader passes over, comes first, so that
    # whatever follows the strips is needed to read the picture.
    software_at = len(out)
    out += SOFTWARE + bytes(len(SOFTWARE) % 2)
    offsets = []
    for unit in data:
        offsets.append(len(out))
        out += unit
        if len(out) % 2:
            out.append(0)
    tiled = layout.endswith('tiles')
    entries = [
        (256, 4, [pic.width]),
        (257, 4, [pic.height]),
        (258, 3, [bits] * spp),
        (259, 3, [COMPRESSION[compression]]),
        (262, 3, [2 if colour == 3 else 1]),
        (277, 3, [spp]),
        (284, 3, [2 if layout.startswith('planar') else 1]),
        (305, 2, software_at),
        (339, 3, [1] * spp),
    ]
    if tiled:
        entries += [(322, 4, [TILE]), (323, 4, [TILE]), (324, 4, offsets), (325, 4, [len(u) for u in data])]
    else:
        entries += [(273, 4, offsets), (279, 4, [len(u) for u in data])]
        if layout != 'onestrip':
            entries.append((278, 3, [ROWS_PER_STRIP]))
    if predict:
        entries.append((317, 3, [2]))
    if extras:
        entries.append((338, 3, list(extras)))
    for tag, (type_, items) in (retag or {}).items():
        entries = [e for e in entries if e[0] != tag] + [(tag, type_, items)]
    entries.sort()
    # The directory follows the data; values longer than four bytes follow it.
    ifd = len(out)
    out[4:8] = struct.pack(order + 'I', ifd)
    values_at = ifd + 2 + 12 * len(entries) + 4
    directory = bytearray(struct.pack(order + 'H', len(entries)))
    values = bytearray()
    for tag, type_, items in entries:
        if tag == 305:
            directory += struct.pack(order + 'HHII', tag, type_, len(SOFTWARE), items)
            continue
        code = {1: 'B', 2: 'B', 3: 'H', 4: 'I'}[type_]
        packed = struct.pack(order + code * len(items), *items)
        directory += struct.pack(order + 'HHI', tag, type_, len(items))
        if len(packed) <= 4:
            directory += packed + bytes(4 - len(packed))
        else:
            directory += struct.pack(order + 'I', values_at + len(values))
            values += packed
            if len(values) % 2:
                values.append(0)
    directory += struct.pack(order + 'I', 0)  # no next directory
    return bytes(out + directory + values)


def variants():
    """(name, kind, layout, compression, predict, big_endian)."""
    main = ('grey8', 'grey16', 'greyalpha8', 'greyalpha16', 'rgb8', 'rgb16', 'rgba8', 'rgba16')
    for kind in main:
        for compression in COMPRESSION:
            yield kind, 'strips', compression, False, False
    for kind, compression in (('rgb8', 'lzw'), ('rgba16', 'deflate'), ('grey16', 'packbits')):
        for layout in ('tiles', 'planar', 'planartiles'):
            yield kind, layout, compression, compression != 'packbits', False
    for kind in ('grey8', 'rgb16', 'rgba8', 'greyalpha16'):
        for compression in ('lzw', 'deflate'):
            yield kind, 'strips', compression, True, False
    for kind in ('grey16', 'rgb16', 'rgba16', 'rgb8'):
        yield kind, 'strips', 'none', False, True
        yield kind, 'tiles', 'deflate', True, True
    for kind in ('premultiplied8', 'premultiplied16', 'rgbextra8', 'rgbaextra16', 'greyextra8'):
        yield kind, 'strips', 'deflate', False, False
    yield 'rgb8', 'onestrip', 'none', False, False
    yield 'rgba16', 'onestrip', 'lzw', True, True
    yield 'reference', 'strips', 'lzw', True, False


def refused_files():
    """Files of kinds the reader refuses with its reason, for quorvel-cli's
    messages: (name, bytes)."""
    floats = b''.join(struct.pack('<3f', x / WIDTH, y / HEIGHT, 1.0) for y in range(HEIGHT) for x in range(WIDTH))
    yield 'float32.tif', tiff('rgb8', 'onestrip', 'none', retag={258: (3, [32] * 3), 339: (3, [3] * 3)},
                              data=[floats])
    yield 'orientation3.tif', tiff('rgb8', 'strips', 'none', retag={274: (3, [3])})


def file_name(kind, layout, compression, predict, big_endian):
    return f'{kind}_{layout}_{compression}{"_pred" if predict else ""}{"_mm" if big_endian else ""}.tif'


def magick_samples(path, kind):
    """ImageMagick's samples of a file in the expected layout, or None."""
    colour, bits, extras = KINDS[kind]
    mode = 'rgba' if any(e in (1, 2) for e in extras) else 'rgb'
    result = subprocess.run(['convert', path, '-depth', str(bits), '-endian', 'LSB', f'{mode}:-'],
                            capture_output=True, check=False)
    return result.stdout if result.returncode == 0 else None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', '..', 'tests', 'data', 'tiff')
    os.makedirs(os.path.join(outdir, 'expected'), exist_ok=True)
    magick = shutil.which('convert') is not None
    checked = 0
    for kind, layout, compression, predict, big_endian in variants():
        name = file_name(kind, layout, compression, predict, big_endian)
        data = tiff(kind, layout, compression, predict, big_endian)
        expected = expected_samples(kind)
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(data)
        with open(os.path.join(outdir, 'expected', name + '.samples'), 'wb') as f:
            f.write(expected)
        # ImageMagick divides premultiplied colour by alpha and keeps
        # unspecified extra samples as alpha; 6.9 also misreads a compressed
        # picture that has no RowsPerStrip (libtiff reads it as written).
        # Those files are not checked.
        if magick and KINDS[kind][2] in ((), (2,)) and (layout != 'onestrip' or compression == 'none'):
            with tempfile.TemporaryDirectory() as scratch:
                path = os.path.join(scratch, name)
                with open(path, 'wb') as f:
                    f.write(data)
                seen = magick_samples(path, kind)
            if seen != expected[16:]:
                sys.exit(f'{name}: ImageMagick decodes other samples')
            checked += 1
    os.makedirs(os.path.join(outdir, 'refused'), exist_ok=True)
    for name, data in refused_files():
        with open(os.path.join(outdir, 'refused', name), 'wb') as f:
            f.write(data)
    print(f'{len(list(variants()))} TIFF files written to {outdir}'
          + (f', {checked} checked against ImageMagick' if magick else ''))


if __name__ == '__main__':
    main()
