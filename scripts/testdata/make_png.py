#!/usr/bin/env python3
"""Writes PNG files in every colour type, bit depth and interlacing, a few
JPEG files, and the 24-bit pixels each must load as.

Usage: make_png.py [OUTDIR]   (default: tests/data/png of the repository)

PNG files are written byte by byte here (zlib and struct only), so that every
combination exists and the expected pixels are computed independently of
any PNG library:
  ct<T>_d<D>_<plain|adam7>.png  colour type T (0, 2, 3, 4, 6) at each depth D
                                it allows, rows filtered with all five filters
  ..._extras.png                the same with ancillary chunks that must not
                                change a pixel: gAMA, cHRM, sRGB, iCCP, tEXt,
                                zTXt, tRNS, a suggested PLTE, image data split
                                into many IDAT chunks
JPEG files are written by Pillow (libjpeg-turbo), which also decodes them
for the expected pixels with the library's defaults (accurate integer
transform, smooth chroma upsampling):
  jpeg_<kind>.jpg / .jpeg
Each picture's expected pixels are in expected/<file name>.pixels, as the
reader holds them: top row first, red-green-blue, then alpha for colour
types 4 and 6; bytes, or 16-bit little-endian words for depth 16. With
Pillow at hand, the expected pixels of the PNG files up to 8 bits are also
checked against Pillow's decoding, and those of 16 bits against ImageMagick's.
"""
import os
import struct
import sys
import zlib

WIDTH = 11   # odd, not a multiple of 8: packed rows end mid-byte, and
HEIGHT = 9   # every Adam7 pass has a partial last row or column

DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def sample(x, y, c, depth):
    """The stored sample of channel c at (x, y): distinct neighbours, both
    ends of the range reached."""
    top = (1 << depth) - 1
    if (x, y) == (0, 0):
        return 0
    if (x, y) == (WIDTH - 1, HEIGHT - 1):
        return top
    return (x * 7919 + y * 104729 + c * 31337 + x * y * 613) % (top + 1)


def palette_size(depth):
    return {1: 2, 2: 3, 4: 13, 8: 200}[depth]


def palette(depth):
    return [((i * 53) % 256, (255 - i * 29) % 256, (i * i * 7 + 11) % 256) for i in range(palette_size(depth))]


def pixel_samples(ct, depth, x, y):
    if ct == 3:
        return [sample(x, y, 0, depth) % palette_size(depth)]
    return [sample(x, y, c, depth) for c in range(CHANNELS[ct])]


def expected_samples(ct, depth, x, y):
    """The rules: 16 bits stay 16 bits, packed grey scales to 0..255, palettes
    expand, grey repeats, the alpha of colour types 4 and 6 is kept."""
    s = pixel_samples(ct, depth, x, y)
    if ct == 3:
        return palette(depth)[s[0]]
    if depth < 8:
        s = [v * 255 // ((1 << depth) - 1) for v in s]
    colour = (s[0], s[0], s[0]) if ct in (0, 4) else tuple(s[:3])
    return colour + (s[-1],) if ct in (4, 6) else colour


def pack_row(ct, depth, xs, y):
    values = [v for x in xs for v in pixel_samples(ct, depth, x, y)]
    if depth == 16:
        return b''.join(struct.pack('>H', v) for v in values)
    if depth == 8:
        return bytes(values)
    out = bytearray()
    per_byte = 8 // depth
    for i in range(0, len(values), per_byte):
        byte = 0
        for k, v in enumerate(values[i:i + per_byte]):
            byte |= v << (8 - depth * (k + 1))
        out.append(byte)
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def filter_row(kind, row, prev, bpp):
    out = bytearray([kind])
    for i, v in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prev[i]
        c = prev[i - bpp] if i >= bpp else 0
        pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out.append((v - pred) % 256)
    return bytes(out)


ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def image_data(ct, depth, interlaced):
    bpp = max(1, depth * CHANNELS[ct] // 8)
    passes = ADAM7 if interlaced else ((0, 0, 1, 1),)
    raw = bytearray()
    row_count = 0
    for x0, y0, dx, dy in passes:
        xs = list(range(x0, WIDTH, dx))
        if not xs:
            continue
        prev = None
        for y in range(y0, HEIGHT, dy):
            row = pack_row(ct, depth, xs, y)
            prev = prev or bytes(len(row))
            raw += filter_row(row_count % 5, row, prev, bpp)
            prev = row
            row_count += 1
    return zlib.compress(bytes(raw), 9)


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def png(ct, depth, interlaced, extras=False):
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', WIDTH, HEIGHT, depth, ct, 0, 0,
                                                              1 if interlaced else 0))
    if extras:
        out += chunk(b'gAMA', struct.pack('>I', 100000))  # gamma 1.0: applied, it would move every mid-tone
        out += chunk(b'cHRM', struct.pack('>8I', 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
        out += chunk(b'sRGB', b'\x00')
        out += chunk(b'iCCP', b'profile\x00\x00' + zlib.compress(b'not a real profile' * 50))
        out += chunk(b'tEXt', b'Comment\x00made for the tests')
        out += chunk(b'zTXt', b'Comment\x00\x00' + zlib.compress(b'compressed text'))
        if ct in (2, 6):
            out += chunk(b'PLTE', bytes([9, 9, 9, 200, 100, 50]))  # a suggestion, unused
    if ct == 3:
        out += chunk(b'PLTE', b''.join(bytes(c) for c in palette(depth)))
    if extras and ct in (0, 2, 3):
        # Pixel (1, 0) made transparent, or the first two palette entries.
        trns = bytes([0, 128]) if ct == 3 else b''.join(struct.pack('>H', v) for v in pixel_samples(ct, depth, 1, 0))
        out += chunk(b'tRNS', trns)
    data = image_data(ct, depth, interlaced)
    if extras:
        for i in range(0, len(data), 7):
            out += chunk(b'IDAT', data[i:i + 7])
        out += chunk(b'tEXt', b'Note\x00after the image data')
    else:
        out += chunk(b'IDAT', data)
    return out + chunk(b'IEND', b'')


def expected_png(ct, depth):
    values = [v for y in range(HEIGHT) for x in range(WIDTH) for v in expected_samples(ct, depth, x, y)]
    return struct.pack(f'<{len(values)}H', *values) if depth == 16 else bytes(values)


def png_variants():
    for ct, depths in DEPTHS.items():
        for depth in depths:
            for interlaced in (False, True):
                name = f'ct{ct}_d{depth}_{"adam7" if interlaced else "plain"}'
                yield name + '.png', png(ct, depth, interlaced), expected_png(ct, depth)
                if depth in (8, 16) or ct == 3:
                    yield name + '_extras.png', png(ct, depth, interlaced, extras=True), expected_png(ct, depth)


def jpeg_variants():
    """Baseline 4:2:0 and 4:4:4, progressive, 4:2:2, grey, at sizes that leave
    partial blocks."""
    from PIL import Image
    import io
    w, h = 37, 21
    colour = Image.new('RGB', (w, h))
    colour.putdata([((x * 7 + y * 3) % 256, (200 - x * 5 + y * 4) % 256, (x * y * 3 + 40) % 256)
                    for y in range(h) for x in range(w)])
    kinds = (('baseline_420', colour, dict(subsampling=2), 'jpg'),
             ('baseline_444', colour, dict(subsampling=0), 'jpg'),
             ('baseline_422', colour, dict(subsampling=1), 'jpeg'),
             ('progressive_420', colour, dict(subsampling=2, progressive=True), 'jpg'),
             ('grey', colour.convert('L'), {}, 'jpg'),
             ('progressive_grey', colour.convert('L'), dict(progressive=True), 'jpeg'))
    for kind, picture, options, extension in kinds:
        buffer = io.BytesIO()
        picture.save(buffer, 'JPEG', quality=85, **options)
        data = buffer.getvalue()
        decoded = Image.open(io.BytesIO(data)).convert('RGB')
        yield f'jpeg_{kind}.{extension}', data, decoded.tobytes()


def has_alpha(name):
    return name.startswith(('ct4_', 'ct6_'))


def sixteen_bit_samples(path, alpha):
    """ImageMagick's 16-bit samples of a file as little-endian words; None
    without ImageMagick."""
    import shutil
    import subprocess
    if not shutil.which('convert'):
        return None
    raw = subprocess.run(['convert', path, '-endian', 'MSB', '-depth', '16', 'rgba:-' if alpha else 'rgb:-'],
                         check=True, capture_output=True).stdout
    return b''.join(struct.pack('<H', v) for (v,) in struct.iter_unpack('>H', raw))


def cross_check(outdir):
    """Pillow must see the expected pixels in every PNG file up to 8 bits;
    ImageMagick's 16-bit samples must round to those of the 16-bit files."""
    from PIL import Image
    checked = 0
    for name in sorted(os.listdir(outdir)):
        if not name.endswith('.png'):
            continue
        path = os.path.join(outdir, name)
        if '_d16_' in name:
            samples = sixteen_bit_samples(path, has_alpha(name))
            if samples is None:
                continue
        else:
            with Image.open(path) as picture:
                rgba = picture.convert('RGBA')
                samples = rgba.tobytes() if has_alpha(name) else rgba.convert('RGB').tobytes()
        with open(os.path.join(outdir, 'expected', name + '.pixels'), 'rb') as f:
            if f.read() != samples:
                sys.exit(f'{name}: another decoder sees other pixels than expected')
        checked += 1
    print(f'{checked} PNG files agree with Pillow (up to 8 bits) and ImageMagick (16 bits)')


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'tests', 'data', 'png')
    os.makedirs(os.path.join(outdir, 'expected'), exist_ok=True)
    variants = list(png_variants())
    try:
        variants += list(jpeg_variants())
        pillow = True
    except ImportError:
        print('Pillow not found: JPEG files and the cross-check skipped')
        pillow = False
    for name, data, expected in variants:
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(data)
        with open(os.path.join(outdir, 'expected', name + '.pixels'), 'wb') as f:
            f.write(expected)
    if pillow:
        cross_check(outdir)


if __name__ == '__main__':
    main()
