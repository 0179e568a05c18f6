#!/usr/bin/env python3
"""Writes TIFF files of every kind the TIFF reader takes, and the samples
each must load as.

Usage: make_tiff.py [OUTDIR]   (default: tests/data/tiff of the repository)

The files are written byte by byte here (zlib and struct only; LZW and
PackBits are encoded here), so that strips, tiles, planes, predictors and
byte orders are exactly as named and the expected samples are computed
independently of any TIFF library:
  <kind>_<layout>_<compression>[_pred][_mm][_lsb][_big].tif
    kind         grey8, grey16, greyalpha8, greyalpha16, rgb8, rgb16, rgba8,
                 rgba16 (unassociated alpha), premultiplied8/16 (associated
                 alpha), rgbextra8 (a fourth sample of unspecified data),
                 rgbaextra16 (alpha and then unspecified data), greyextra8,
                 reference (the reference picture of reference.py, 8-bit
                 RGB, which the other formats' test files also store);
                 grey1, grey2, grey4, grey12, rgba12 (packed samples),
                 whiteiszero8/16 (PhotometricInterpretation 0), palette2
                 (8-bit colours widened as v x 256), palette4 (16-bit
                 colours), palette8 (8-bit colours widened as v x 257),
                 float32, floatalpha32, float16 (IEEE samples, -1.2 to 1.2)
    layout       strips (5 rows each), onestrip (no RowsPerStrip), tiles
                 (16 x 16, partly outside the picture), planar (strips, one
                 plane a sample), planartiles
    compression  none, lzw, deflate, packbits
    _pred        horizontal differencing (Predictor 2)
    _mm          big-endian (Motorola) byte order; little-endian otherwise
    _lsb         the bits of every byte of data reversed (FillOrder 2)
    _big         the BigTIFF layout (8-byte offsets, LONG8 strip offsets)
refused/cmyk.tif and refused/orientation3.tif are refused by the reader,
each with its reason. Each file's expected samples are in expected/<file name>.samples: four
little-endian 32-bit numbers (width, height, bits a sample, samples a
pixel: 3, or 4 with alpha), then the samples top row first, red, green,
blue (grey repeated) and alpha, bytes or little-endian 16-bit words; extra
samples other than alpha are left out. The reader's rules, computed here
from the stored samples: 1- to 8-bit samples widened to 8 bits and 9- to
15-bit ones to 16 as round(v x top / max); white-is-zero grey turned round
(max - v) first; palette colours looked up, 8-bit when the ColorMap holds
widened 8-bit colours; premultiplied colour divided out, round(c x max /
a) clamped, left as stored where alpha is 0; floating-point samples t
encoded as the integer part of t x 32767 + 32768, clamped to 0..65535,
alpha as round(a x 65535) clamped.
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
    'grey1': (1, 1, ()),
    'grey2': (1, 2, ()),
    'grey4': (1, 4, ()),
    'grey12': (1, 12, ()),
    'rgba12': (3, 12, (2,)),
    'whiteiszero8': (1, 8, ()),
    'whiteiszero16': (1, 16, ()),
    'palette2': (1, 2, ()),
    'palette4': (1, 4, ()),
    'palette8': (1, 8, ()),
    'float32': (3, 32, ()),
    'floatalpha32': (3, 32, (2,)),
    'float16': (3, 16, ()),
}

FLOATS = ('float32', 'floatalpha32', 'float16')
WHITE_IS_ZERO = ('whiteiszero8', 'whiteiszero16')
# How each palette stores its colours: (red, green, blue) of index i.
PALETTES = {
    'palette2': lambda i: tuple(v * 256 for v in ((i * 85) % 256, 255 - i * 60, (i * 37 + 9) % 256)),
    'palette4': lambda i: ((i * 4099 + 17) % 65536, (i * 13001 + 3) % 65536, 65535 - i * 977),
    'palette8': lambda i: tuple(v * 257 for v in ((i * 37) % 256, (i * 91 + 7) % 256, 255 - i)),
}
EIGHT_BIT_PALETTES = ('palette2', 'palette8')

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


def float_value(x, y, c):
    """A floating-point sample: -1.2 to 1.2 (so that clamping shows), -1, 0
    and 1 exactly at three pixels; alpha (c = 3) -0.1 to 1.1."""
    exact = {(1, 0): -1.0, (2, 0): 0.0, (3, 0): 1.0}
    if c < 3 and (x, y) in exact:
        return exact[(x, y)]
    t = Picture.sample(x, y, c, 16) / 65535.0
    return t * 1.2 - 0.1 if c == 3 else t * 2.4 - 1.2


def stored_value(kind, x, y, c):
    """Sample c of pixel (x, y) as stored: a whole number (the bits of a
    float for floating-point kinds)."""
    bits = KINDS[kind][1]
    if kind in FLOATS:
        t = float_value(x, y, c)
        code = 'If' if bits == 32 else 'He'
        return struct.unpack('<' + code[0], struct.pack('<' + code[1], t))[0]
    return picture_of(kind).sample(x, y, c, bits)


def as_float(stored, bits):
    code = 'If' if bits == 32 else 'He'
    return struct.unpack('<' + code[1], struct.pack('<' + code[0], stored))[0]


def encode_normal(t):
    """The 16-bit road's encoding: the integer part of t x 32767 + 32768, clamped."""
    v = t * 32767.0 + 32768.0
    return 0 if v <= 0 else 65535 if v >= 65535 else int(v)


def widened(v, top, out_top):
    return v if top == out_top else (2 * v * out_top + top) // (2 * top)


def output_bits(kind):
    bits = KINDS[kind][1]
    if kind in FLOATS:
        return 16
    if kind in PALETTES:
        return 8 if kind in EIGHT_BIT_PALETTES else 16
    return 8 if bits <= 8 else 16


def expected_pixel(kind, x, y, alpha, associated):
    """Red, green, blue (and alpha) as the reader must give them."""
    colour, bits, _ = KINDS[kind]
    out_top = (1 << output_bits(kind)) - 1
    if kind in FLOATS:
        values = [as_float(stored_value(kind, x, y, c), bits) for c in range(colour)]
        a = as_float(stored_value(kind, x, y, alpha), bits) if alpha is not None else None
        return [encode_normal(t) for t in values] + ([] if a is None else [int(min(max(a, 0.0), 1.0) * 65535 + 0.5)])
    top = (1 << bits) - 1
    stored = [stored_value(kind, x, y, c) for c in range(colour)]
    if kind in PALETTES:
        values = list(PALETTES[kind](stored[0]))
        colour_top = 65535
        if kind in EIGHT_BIT_PALETTES:
            divisor = 256 if kind == 'palette2' else 257
            values, colour_top = [v // divisor for v in values], 255
    else:
        values = [top - v if kind in WHITE_IS_ZERO else v for v in stored] * (3 if colour == 1 else 1)
        colour_top = top
    a = stored_value(kind, x, y, alpha) if alpha is not None else None
    if associated and a:
        values = [min(colour_top, (2 * v * top + a) // (2 * a)) for v in values]
    values = [widened(v, colour_top, out_top) for v in values]
    return values + ([] if a is None else [widened(a, top, out_top)])


def expected_samples(kind):
    colour, _, extras = KINDS[kind]
    pic = picture_of(kind)
    alpha = next((colour + i for i, e in enumerate(extras) if e in (1, 2)), None)
    associated = alpha is not None and extras[alpha - colour] == 1
    bits = output_bits(kind)
    out = bytearray()
    for y in range(pic.height):
        for x in range(pic.width):
            for v in expected_pixel(kind, x, y, alpha, associated):
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
    sample `step` places before it when predicting, then serialised; packed
    samples first in the highest bits, each row ending on a whole byte."""
    out = bytearray()
    top = (1 << bits) - 1
    for row in rows:
        if predict:
            row = [row[i] if i < step else (row[i] - row[i - step]) & top for i in range(len(row))]
        if bits in (8, 16, 32):
            code = {8: 'B', 16: 'H', 32: 'I'}[bits]
            out += struct.pack(order + code * len(row), *row)
            continue
        acc = nacc = 0
        for v in row:
            acc, nacc = (acc << bits) | v, nacc + bits
        pad = -nacc % 8
        out += ((acc << pad)).to_bytes((nacc + pad) // 8, 'big')
    return bytes(out)


def reversed_bits(data):
    """Every byte's bits in the other order (FillOrder 2)."""
    return bytes(int(f'{b:08b}'[::-1], 2) for b in data)


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
                                row.append(stored_value(kind, x, y, c) if inside
                                           else (x * 41 + y * 17 + c) & ((1 << bits) - 1))
                        rows.append(row)
                    found.append(compress(unit_bytes(rows, bits, order, predict, step), compression))
        else:
            per = pic.height if layout == 'onestrip' else ROWS_PER_STRIP
            for top in range(0, pic.height, per):
                rows = [[stored_value(kind, x, y, c) for x in range(pic.width) for c in plane]
                        for y in range(top, min(top + per, pic.height))]
                found.append(compress(unit_bytes(rows, bits, order, predict, step), compression))
    return found


def tiff(kind, layout, compression, predict=False, big_endian=False, retag=None, data=None, lsb=False, big=False):
    """The file; `retag` replaces entries ({tag: (type, values)}) and
    `data` the strips; `lsb` reverses the bits of every byte of data
    (FillOrder 2), `big` writes the BigTIFF layout."""
    colour, bits, extras = KINDS[kind]
    pic = picture_of(kind)
    spp = stored_samples(kind)
    order = '>' if big_endian else '<'
    data = data or units(kind, layout, compression, predict, order)
    if lsb:
        data = [reversed_bits(unit) for unit in data]
    offset_code, offset_size = ('Q', 8) if big else ('I', 4)
    out = bytearray(b'MM' if big_endian else b'II')
    out += struct.pack(order + 'HHHQ', 43, 8, 0, 0) if big else struct.pack(order + 'HI', 42, 0)
    header = len(out)
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
    photometric = 0 if kind in WHITE_IS_ZERO else 3 if kind in PALETTES else 2 if colour == 3 else 1
    offsets_type = 16 if big else 4  # LONG8 in BigTIFF files
    entries = [
        (256, 4, [pic.width]),
        (257, 4, [pic.height]),
        (258, 3, [bits] * spp),
        (259, 3, [COMPRESSION[compression]]),
        (262, 3, [photometric]),
        (277, 3, [spp]),
        (284, 3, [2 if layout.startswith('planar') else 1]),
        (305, 2, software_at),
        (339, 3, [3 if kind in FLOATS else 1] * spp),
    ]
    if tiled:
        entries += [(322, 4, [TILE]), (323, 4, [TILE]), (324, offsets_type, offsets),
                    (325, 4, [len(u) for u in data])]
    else:
        entries += [(273, offsets_type, offsets), (279, 4, [len(u) for u in data])]
        if layout != 'onestrip':
            entries.append((278, 3, [ROWS_PER_STRIP]))
    if predict:
        entries.append((317, 3, [2]))
    if extras:
        entries.append((338, 3, list(extras)))
    if lsb:
        entries.append((266, 3, [2]))
    if kind in PALETTES:
        table = [PALETTES[kind](i) for i in range(1 << bits)]
        entries.append((320, 3, [table[i][c] for c in range(3) for i in range(1 << bits)]))
    for tag, (type_, items) in (retag or {}).items():
        entries = [e for e in entries if e[0] != tag] + [(tag, type_, items)]
    entries.sort()
    # The directory follows the data; values longer than its value field follow it.
    ifd = len(out)
    out[header - offset_size:header] = struct.pack(order + offset_code, ifd)
    entry_size = 20 if big else 12
    values_at = ifd + offset_size + entry_size * len(entries) + offset_size if big else ifd + 2 + 12 * len(entries) + 4
    directory = bytearray(struct.pack(order + ('Q' if big else 'H'), len(entries)))
    values = bytearray()
    for tag, type_, items in entries:
        if tag == 305:
            directory += struct.pack(order + 'HH' + offset_code * 2, tag, type_, len(SOFTWARE), items)
            continue
        code = {1: 'B', 2: 'B', 3: 'H', 4: 'I', 16: 'Q'}[type_]
        packed = struct.pack(order + code * len(items), *items)
        directory += struct.pack(order + 'HH' + offset_code, tag, type_, len(items))
        if len(packed) <= offset_size:
            directory += packed + bytes(offset_size - len(packed))
        else:
            directory += struct.pack(order + offset_code, values_at + len(values))
            values += packed
            if len(values) % 2:
                values.append(0)
    directory += struct.pack(order + offset_code, 0)  # no next directory
    return bytes(out + directory + values)


def variants():
    """(kind, layout, compression, predict, big_endian, lsb, big)."""
    main = ('grey8', 'grey16', 'greyalpha8', 'greyalpha16', 'rgb8', 'rgb16', 'rgba8', 'rgba16')
    for kind in main:
        for compression in COMPRESSION:
            yield kind, 'strips', compression, False, False, False, False
    for kind, compression in (('rgb8', 'lzw'), ('rgba16', 'deflate'), ('grey16', 'packbits')):
        for layout in ('tiles', 'planar', 'planartiles'):
            yield kind, layout, compression, compression != 'packbits', False, False, False
    for kind in ('grey8', 'rgb16', 'rgba8', 'greyalpha16'):
        for compression in ('lzw', 'deflate'):
            yield kind, 'strips', compression, True, False, False, False
    for kind in ('grey16', 'rgb16', 'rgba16', 'rgb8'):
        yield kind, 'strips', 'none', False, True, False, False
        yield kind, 'tiles', 'deflate', True, True, False, False
    for kind in ('premultiplied8', 'premultiplied16', 'rgbextra8', 'rgbaextra16', 'greyextra8'):
        yield kind, 'strips', 'deflate', False, False, False, False
    yield 'rgb8', 'onestrip', 'none', False, False, False, False
    yield 'rgba16', 'onestrip', 'lzw', True, True, False, False
    yield 'reference', 'strips', 'lzw', True, False, False, False
    # Kinds that other programs write: packed samples, white-is-zero grey,
    # palettes, floating point, reversed bits and BigTIFF.
    for kind in ('grey1', 'grey2', 'grey4', 'grey12'):
        yield kind, 'strips', 'none', False, False, False, False
        yield kind, 'tiles', 'lzw', False, True, False, False
    yield 'rgba12', 'strips', 'deflate', False, True, False, False
    yield 'rgba12', 'planartiles', 'packbits', False, False, False, False
    yield 'whiteiszero8', 'strips', 'none', False, False, False, False
    yield 'whiteiszero16', 'strips', 'deflate', True, True, False, False
    for kind in PALETTES:
        yield kind, 'strips', 'packbits', False, False, False, False
    yield 'float32', 'strips', 'none', False, False, False, False
    yield 'float32', 'tiles', 'deflate', False, True, False, False
    yield 'floatalpha32', 'planar', 'lzw', False, False, False, False
    yield 'float16', 'strips', 'none', False, True, False, False
    yield 'premultiplied16', 'tiles', 'lzw', True, True, False, False
    yield 'grey4', 'strips', 'packbits', False, False, True, False
    yield 'rgb16', 'strips', 'lzw', True, True, True, False
    yield 'rgb8', 'strips', 'deflate', True, False, False, True
    yield 'rgba16', 'planartiles', 'none', False, True, False, True


def refused_files():
    """Files of kinds the reader refuses with its reason, for quorvel-cli's
    messages: (name, bytes)."""
    yield 'cmyk.tif', tiff('rgba8', 'strips', 'none', retag={262: (3, [5]), 338: (3, [0])})
    yield 'orientation3.tif', tiff('rgb8', 'strips', 'none', retag={274: (3, [3])})


def file_name(kind, layout, compression, predict, big_endian, lsb, big):
    return (f'{kind}_{layout}_{compression}{"_pred" if predict else ""}{"_mm" if big_endian else ""}'
            f'{"_lsb" if lsb else ""}{"_big" if big else ""}.tif')


def magick_samples(path, kind):
    """ImageMagick's samples of a file in the expected layout, or None."""
    extras = KINDS[kind][2]
    mode = 'rgba' if any(e in (1, 2) for e in extras) else 'rgb'
    result = subprocess.run(['convert', path, '-depth', str(output_bits(kind)), '-endian', 'LSB', f'{mode}:-'],
                            capture_output=True, check=False)
    return result.stdout if result.returncode == 0 else None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', '..', 'tests', 'data', 'tiff')
    os.makedirs(os.path.join(outdir, 'expected'), exist_ok=True)
    magick = shutil.which('convert') is not None
    checked = 0
    for kind, layout, compression, predict, big_endian, lsb, big in variants():
        name = file_name(kind, layout, compression, predict, big_endian, lsb, big)
        data = tiff(kind, layout, compression, predict, big_endian, lsb=lsb, big=big)
        expected = expected_samples(kind)
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(data)
        with open(os.path.join(outdir, 'expected', name + '.samples'), 'wb') as f:
            f.write(expected)
        # ImageMagick divides premultiplied colour by alpha (by its own
        # rounding) and keeps unspecified extra samples as alpha; 6.9 also
        # misreads a compressed picture that has no RowsPerStrip (libtiff
        # reads it as written), scales floating-point samples from 0..1 and
        # reduces palette colours by its own rule. Those files are not checked.
        if magick and KINDS[kind][2] in ((), (2,)) and (layout != 'onestrip' or compression == 'none') and \
                kind not in FLOATS and kind not in EIGHT_BIT_PALETTES:
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
