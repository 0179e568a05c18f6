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

The DX10 header (DXGI format after the FourCC DX10) and the newer FourCCs:
  dx10_bc1, dx10_bc2, dx10_bc3
                       the DXT1, DXT3 and DXT5 blocks above (BC1, BC2, BC3)
  dx10_bc4_unorm, dx10_bc4_snorm, dx10_bc5_unorm, dx10_bc5_snorm
                       7 x 5 in 2 x 2 blocks of both BC4 modes, SNORM
                       endpoints of -128 among them
  dx10_bc7             11 x 10 in 3 x 3 blocks: one of each mode and one
                       reserved block (first byte 0)
  dx10_bc7_random      128 x 64: random blocks, 64 of every mode, each
                       partition of a mode once, decoded here and checked
                       against Pillow's decoder
  dx10_rgba8, dx10_bgra8, dx10_bgrx8, dx10_rg8_unorm, dx10_rg8_snorm,
  dx10_rg16_unorm, dx10_rg16_snorm, dx10_rgba16, dx10_rgb10a2
                       pixel formats, 7 x 5
  dx10_cube_array      R8G8B8A8 cube map array of two cubes: the first face
                       of the first cube is read
  ati1, bc4u, bc4s, ati2, bc5u, bc5s, dxt2, dxt4
                       the BC4, BC5, DXT3 and DXT5 data under legacy FourCCs
Refused (unread formats, named in the message):
  dx10_bc6h_uf16, dx10_r16g16b16a16_float, a16b16g16r16f (D3DFMT 113)

expected/NAME.pam holds what NAME.dds decodes to (PAM: RGB or RGB_ALPHA, 8 or
16 bits a sample), computed here with block_reference.py: two-channel
formats with Z rebuilt in blue, BC4 as grey, signed values v + 128.

Run from the repository root: python3 scripts/testdata/make_dds.py
"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
import block_reference as ref  # noqa: E402
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


# The DX10 header and the newer formats ---------------------------------------

DDS_DIMENSION_TEXTURE2D, DDS_RESOURCE_MISC_TEXTURECUBE = 3, 0x4


def dx10(width, height, dxgi, data, array_size=1, misc=0):
    """The legacy header with FourCC DX10, then DXGI format, resource
    dimension, misc flag, array size and misc flags 2."""
    return (header(width, height, LINEARSIZE, len(data), fourcc=fourcc('DX10')) +
            struct.pack('<5I', dxgi, DDS_DIMENSION_TEXTURE2D, misc, array_size, 0) + data)


def fourcc(code):
    return int.from_bytes(code.encode(), 'little')


def legacy(width, height, code, data):
    return header(width, height, LINEARSIZE, len(data), fourcc=fourcc(code) if isinstance(code, str) else code) + data


def pam(rows, bits):
    """The expected picture: rows of RGB or RGBA tuples."""
    depth = len(rows[0][0])
    out = ('P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n' %
           (len(rows[0]), len(rows), depth, (1 << bits) - 1, 'RGB_ALPHA' if depth == 4 else 'RGB')).encode()
    fmt = '>%d%s' % (depth, 'B' if bits == 8 else 'H')
    return out + b''.join(struct.pack(fmt, *p) for row in rows for p in row)


def from_blocks(width, height, texels_of_block):
    """A picture from the 16 texels of each block (texels_of_block(bx, by)),
    edge texels outside the picture dropped."""
    rows = [[None] * width for _ in range(height)]
    for by in range((height + 3) // 4):
        for bx in range((width + 3) // 4):
            texels = texels_of_block(bx, by)
            for i, t in enumerate(texels):
                x, y = 4 * bx + i % 4, 4 * by + i // 4
                if x < width and y < height:
                    rows[y][x] = t
    return rows


def block_order(width, height):
    return [(bx, by) for by in range((height + 3) // 4) for bx in range((width + 3) // 4)]


def bc4_block(e0, e1, seed):
    indices = [(seed * 5 + i * 3) % 8 for i in range(16)]
    return bytes([e0, e1]) + sum(v << (3 * i) for i, v in enumerate(indices)).to_bytes(6, 'little')


# Endpoint pairs of each block: both modes (e0 > e1 and e0 <= e1, for signed
# blocks as signed bytes), and -128 (0x80) which reads as -127.
BC4_PAIRS = [(200, 13), (13, 200), (0x80, 0x7F), (0x7F, 0x81)]
BC5_SECOND_PAIRS = [(40, 230), (250, 3), (0x81, 0x80), (0x90, 0x20)]


def bc4_bc5_files():
    blocks4 = {k: bc4_block(*BC4_PAIRS[n], n) for n, k in enumerate(block_order(W, H))}
    blocks5 = {k: blocks4[k] + bc4_block(*BC5_SECOND_PAIRS[n], n + 3) for n, k in enumerate(block_order(W, H))}
    files = {}
    for signed, suffix in ((False, 'unorm'), (True, 'snorm')):
        grey = from_blocks(W, H, lambda bx, by: [(v, v, v) for v in ref.bc4_decode(blocks4[bx, by], signed)])

        def xy(bx, by):
            reds = ref.bc4_decode(blocks5[bx, by][:8], signed)
            greens = ref.bc4_decode(blocks5[bx, by][8:], signed)
            return [(r, g, ref.z8(r, g)) for r, g in zip(reds, greens)]

        normals = from_blocks(W, H, xy)
        data4 = b''.join(blocks4[k] for k in block_order(W, H))
        data5 = b''.join(blocks5[k] for k in block_order(W, H))
        files['dx10_bc4_' + suffix] = (dx10(W, H, 81 if signed else 80, data4), pam(grey, 8))
        files['dx10_bc5_' + suffix] = (dx10(W, H, 84 if signed else 83, data5), pam(normals, 8))
        for code in (('BC4S',) if signed else ('ATI1', 'BC4U')):
            files[code.lower()] = (legacy(W, H, code, data4), pam(grey, 8))
        for code in (('BC5S',) if signed else ('ATI2', 'BC5U')):
            files[code.lower()] = (legacy(W, H, code, data5), pam(normals, 8))
    return files


def bc123_files():
    """DX10 BC1 to BC3 and DXT2/DXT4 from the DXT blocks, and what the DXT3
    and DXT5 files decode to with their alpha."""
    rows = reference.rows_rgb()
    order = block_order(W, H)
    colour = {k: colour_block(*k, rows)[0] for k in order}

    def decoded(alpha, always_four):
        def texels(bx, by):
            block = colour[bx, by]
            c0, c1 = struct.unpack('<HH', block[:4])
            table = ref.bc1_colours(c0, c1, always_four)
            indices = [(block[4 + i // 4] >> (2 * (i % 4))) & 3 for i in range(16)]
            out = [table[i][:3] if table[i] else (0, 255, 255) for i in indices]
            if alpha is None:
                return out
            data = alpha(bx, by)
            if alpha is dxt3_alpha:
                alphas = [((int.from_bytes(data, 'little') >> (4 * i)) & 15) * 17 for i in range(16)]
            else:
                alphas = ref.bc4_decode(data, False)
            return [c + (a,) for c, a in zip(out, alphas)]
        return from_blocks(W, H, texels)

    files = {}
    for name, dxgi, alpha, codes in (('bc1', 71, None, ()), ('bc2', 74, dxt3_alpha, ('dxt2', 'dxt3')),
                                     ('bc3', 77, dxt5_alpha, ('dxt4', 'dxt5'))):
        data = b''.join((alpha(*k) if alpha else b'') + colour[k] for k in order)
        expected = pam(decoded(alpha, alpha is not None), 8)
        files['dx10_' + name] = (dx10(W, H, dxgi, data), expected)
        for code in codes:
            files[code] = (legacy(W, H, code.upper(), data), expected)
    return files


# BC7: one block of each mode with chosen fields, and random blocks.

def bc7_chosen_blocks():
    """Blocks of modes 0 to 7 whose fields exercise partitions, anchors,
    P-bits, rotations and index selection, then a reserved block."""
    def ramp(n, bits, anchors=()):
        top = 1 << bits
        return [((i * 5 + n) % top) & ((top >> 1) - 1 if i in anchors else top - 1) for i in range(16)]

    blocks = []
    for mode in range(8):
        ns, pb, rb, isb, cb, ab, epb, spb, ib, ib2 = ref.BC7_MODES[mode]
        partition = (mode * 13 + 5) % (1 << pb) if pb else 0
        _, anchors = ref.bc7_layout(mode, partition)
        channels = 4 if ab else 3
        endpoints = [[[((s * 7 + e * 11 + c * 5 + mode) * 37) % (1 << (cb if c < 3 else ab)) for c in range(channels)]
                      for e in range(2)] for s in range(ns)]
        pbits = [(i + mode) % 2 for i in range(2 * ns if epb else ns if spb else 0)]
        blocks.append(ref.bc7_encode_fields(
            mode, partition, rotation=(mode - 3) if rb else 0, selector=1 if isb else 0, endpoints=endpoints,
            pbits=pbits, primary=ramp(mode, ib, anchors), secondary=ramp(mode + 1, ib2, {0}) if ib2 else None))
    blocks.append(bytes([0]) + bytes(range(1, 16)))  # reserved: mode bits all zero
    return blocks


def bc7_random_blocks(count):
    """Random blocks of every mode (a fixed seed): random bits above the mode,
    the partition number running through every partition of the mode."""
    rng = random.Random(7)
    blocks = []
    for n in range(count):
        mode = n % 8
        partition_bits = ref.BC7_MODES[mode][1]
        partition = (n // 8) % (1 << partition_bits) if partition_bits else 0
        value = (rng.getrandbits(128) << (mode + 1 + partition_bits) | partition << (mode + 1) | 1 << mode)
        blocks.append((value & ((1 << 128) - 1)).to_bytes(16, 'little'))
    return blocks


def pillow_bc7(width, height, data):
    """Pillow's decode of a DX10 BC7 file, or None where Pillow is missing."""
    try:
        import io
        from PIL import Image
    except ImportError:
        return None
    with Image.open(io.BytesIO(dx10(width, height, 98, data))) as im:
        im.load()
        pixels = list(im.convert('RGBA').getdata())
    return [pixels[y * width:(y + 1) * width] for y in range(height)]


def bc7_files():
    files = {}
    for name, width, height, blocks in (('dx10_bc7', 11, 10, bc7_chosen_blocks()),
                                        ('dx10_bc7_random', 128, 64, bc7_random_blocks(512))):
        order = block_order(width, height)
        data = b''.join(blocks)
        rows = from_blocks(width, height, lambda bx, by: ref.bc7_decode(blocks[order.index((bx, by))]))
        peer = pillow_bc7(width, height, data)
        if peer is None:
            print('note: Pillow is not installed; %s not checked against it' % name, file=sys.stderr)
        elif name == 'dx10_bc7_random' and peer != rows:
            sys.exit('%s: Pillow decodes the blocks differently' % name)
        files[name] = (dx10(width, height, 98, data), pam(rows, 8))
    return files


# Pixel formats.

def two_channel_values(top):
    """X and Y of each pixel: the centre, both ends, values beside the centre
    and beside the ends first, then a spread."""
    special = [(top // 2 + 1, top // 2 + 1), (0, 0), (top, top), (0, top), (top // 2 + 1, 0), (1, 1),
               (top // 2, top // 2 + 2), (top // 2 + 1, top), (top, top // 2), (2, top - 1)]
    rng = random.Random(top)
    values = special + [(rng.randrange(top + 1), rng.randrange(top + 1)) for _ in range(W * H - len(special))]
    return [values[y * W:(y + 1) * W] for y in range(H)]


def pixel_files():
    rows = reference.rows_rgb()
    alpha = [[(x * 29 + y * 13) % 256 for x in range(W)] for y in range(H)]
    rgba = [[rows[y][x] + (alpha[y][x],) for x in range(W)] for y in range(H)]
    flat = [p for row in rgba for p in row]
    files = {
        'dx10_rgba8': (dx10(W, H, 28, b''.join(bytes(p) for p in flat)), pam(rgba, 8)),
        'dx10_bgra8': (dx10(W, H, 87, b''.join(bytes((b, g, r, a)) for r, g, b, a in flat)), pam(rgba, 8)),
        'dx10_bgrx8': (dx10(W, H, 88, b''.join(bytes((b, g, r, 0x5A)) for r, g, b, _ in flat)), pam(rows, 8)),
    }
    # A cube map array of two cubes: the first face of the first cube, then
    # eleven more faces that must not show.
    data = b''.join(bytes(p) for p in flat) + bytes([0xEE]) * (4 * W * H * 11)
    files['dx10_cube_array'] = (dx10(W, H, 28, data, array_size=2, misc=DDS_RESOURCE_MISC_TEXTURECUBE), pam(rgba, 8))

    xy8 = two_channel_values(255)
    for signed, suffix, dxgi in ((False, 'unorm', 49), (True, 'snorm', 51)):
        stored = [[tuple(ref.signed8(v) if signed else v for v in p) for p in row] for row in xy8]
        expected = [[(r, g, ref.z8(r, g)) for r, g in row] for row in stored]
        data = b''.join(bytes(p) for row in xy8 for p in row)
        files['dx10_rg8_' + suffix] = (dx10(W, H, dxgi, data), pam(expected, 8))
    xy16 = two_channel_values(65535)
    for signed, suffix, dxgi in ((False, 'unorm', 35), (True, 'snorm', 37)):
        stored = [[tuple(ref.signed16(v) if signed else v for v in p) for p in row] for row in xy16]
        expected = [[(r, g, ref.z16(r, g)) for r, g in row] for row in stored]
        data = b''.join(struct.pack('<2H', *p) for row in xy16 for p in row)
        files['dx10_rg16_' + suffix] = (dx10(W, H, dxgi, data), pam(expected, 16))

    words = [[tuple((v << 8) | ((x * 31 + y * 17 + c * 7) % 256) for c, v in enumerate(rgba[y][x]))
              for x in range(W)] for y in range(H)]
    data = b''.join(struct.pack('<4H', *p) for row in words for p in row)
    files['dx10_rgba16'] = (dx10(W, H, 11, data), pam(words, 16))

    # 10-bit channels: the 8-bit picture with two more low bits; the 2-bit alpha
    # runs through all four values. Widened by repeating the top bits.
    tens = [[tuple((v << 2) | ((x + y + c) % 4) for c, v in enumerate(rows[y][x])) + ((x + 2 * y) % 4,)
             for x in range(W)] for y in range(H)]
    data = b''.join(struct.pack('<I', r | g << 10 | b << 20 | a << 30) for row in tens for r, g, b, a in row)
    expected = [[tuple((v << 6) | (v >> 4) for v in p[:3]) + (p[3] * 0x5555,) for p in row] for row in tens]
    files['dx10_rgb10a2'] = (dx10(W, H, 24, data), pam(expected, 16))
    return files


def refused_files():
    return {
        'dx10_bc6h_uf16': dx10(W, H, 95, bytes(16 * 4)),
        'dx10_r16g16b16a16_float': dx10(W, H, 10, bytes(8 * W * H)),
        'a16b16g16r16f': legacy(W, H, 113, bytes(8 * W * H)),
    }


def legacy_alpha_expected():
    """What the uncompressed files with an alpha mask decode to: the alpha
    sample cut to the mask's bits and widened like the colour channels."""
    rows = reference.rows_rgb()
    files = {}
    for name, keep, bits in (('argb8888', 8, 8), ('abgr8888', 8, 8), ('a1r5g5b5', 5, 1), ('a4r4g4b4', 4, 4)):
        def widen(v, n):
            top = v >> (8 - n)
            return {1: top * 255, 4: top * 17, 5: top * 255 // 31, 8: top}[n]
        files[name] = pam([[tuple(widen(v, keep) for v in rows[y][x]) + (widen((x * 29 + y * 13) % 256, bits),)
                            for x in range(W)] for y in range(H)], 8)
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
    files.update(refused_files())
    expected = legacy_alpha_expected()
    for more in (bc123_files(), bc4_bc5_files(), bc7_files(), pixel_files()):
        for name, (data, picture) in more.items():
            files[name] = data
            expected[name] = picture
    for name, data in files.items():
        with open(os.path.join(OUT, name + '.dds'), 'wb') as f:
            f.write(data)
    os.makedirs(os.path.join(OUT, 'expected'), exist_ok=True)
    for name, data in expected.items():
        with open(os.path.join(OUT, 'expected', name + '.pam'), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
