"""What DDS blocks and two-channel pixels decode to, computed here a second
time, straight from the format definitions, for the test files that
make_dds.py writes:

- bc1_colours, bc4_values: colour and single-channel tables (the reader's
  rules: colours widened by shifting, mixes truncated);
- bc7_decode: the BPTC definition (Khronos Data Format Specification, BC7),
  one block of 16 bytes to 16 RGBA texels;
- z8, z16: Z rebuilt from X and Y as re-normalisation encodes a component.
"""
import math
import struct


def f32(v):
    """The 32-bit float nearest v."""
    return struct.unpack('<f', struct.pack('<f', v))[0]


# Two-channel normals ----------------------------------------------------------

def z8(r, g):
    """x = (r - 128) * K (float products, K the float nearest 1/127);
    z = sqrt(1 - x^2 - y^2) in double, rounded to float; blue = int(z*127+128)."""
    k = f32(1 / 127)
    x, y = f32((r - 128) * k), f32((g - 128) * k)
    rest = 1.0 - x * x - y * y
    z = f32(math.sqrt(rest)) if rest > 0 else 0.0
    return int(z * 127.0 + 128.0)


def z16(r, g):
    k = f32(1 / 32767)
    x, y = f32((r - 32768) * k), f32((g - 32768) * k)
    rest = 1.0 - x * x - y * y
    z = f32(math.sqrt(rest)) if rest > 0 else 0.0
    return int(z * 32767.0 + 32768.0)


def signed8(v):
    """A SNORM byte as stored in the picture: v + 128, -128 included."""
    v = v - 256 if v >= 128 else v
    return v + 128


def signed16(v):
    v = v - 65536 if v >= 32768 else v
    return v + 32768


# BC1 to BC5 --------------------------------------------------------------------

def expand565(c):
    return (((c >> 11) & 31) << 3, ((c >> 5) & 63) << 2, (c & 31) << 3)


def bc1_colours(c0, c1, always_four):
    """The four RGBA entries; index 3 of a three-colour block is None."""
    a, b = expand565(c0), expand565(c1)
    if c0 > c1 or always_four:
        return [a + (255,), b + (255,), tuple((2 * x + y) // 3 for x, y in zip(a, b)) + (255,),
                tuple((x + 2 * y) // 3 for x, y in zip(a, b)) + (255,)]
    return [a + (255,), b + (255,), tuple((x + y) // 2 for x, y in zip(a, b)) + (255,), None]


def bc4_values(e0, e1, signed):
    """The eight values of a BC4 block as stored in the picture (signed ones
    offset by 128): the integer part of each mix, towards zero."""
    if signed:
        e0, e1 = (max(e - 256 if e >= 128 else e, -127) for e in (e0, e1))
    if e0 > e1:
        mixes = [int(((7 - i) * e0 + i * e1) / 7) for i in range(1, 7)]
    else:
        mixes = [int(((5 - i) * e0 + i * e1) / 5) for i in range(1, 5)] + ([-127, 127] if signed else [0, 255])
    values = [e0, e1] + mixes
    return [v + 128 for v in values] if signed else values


def bc4_decode(block, signed):
    table = bc4_values(block[0], block[1], signed)
    bits = int.from_bytes(block[2:8], 'little')
    return [table[(bits >> (3 * i)) & 7] for i in range(16)]


# BC7 ---------------------------------------------------------------------------

# subsets, partition bits, rotation bits, index selection bits, colour bits,
# alpha bits, endpoint P-bits, shared P-bits, index bits, secondary index bits
BC7_MODES = [
    (3, 4, 0, 0, 4, 0, 1, 0, 3, 0),
    (2, 6, 0, 0, 6, 0, 0, 1, 3, 0),
    (3, 6, 0, 0, 5, 0, 0, 0, 2, 0),
    (2, 6, 0, 0, 7, 0, 1, 0, 2, 0),
    (1, 0, 2, 1, 5, 6, 0, 0, 2, 3),
    (1, 0, 2, 0, 7, 8, 0, 0, 2, 2),
    (1, 0, 0, 0, 7, 7, 1, 0, 4, 0),
    (2, 6, 0, 0, 5, 5, 1, 0, 2, 0),
]

# Subset of each texel (right, then down) of each partition.
PARTITIONS2 = [
    '0011001100110011', '0001000100010001', '0111011101110111', '0001001100110111',
    '0000000100010011', '0011011101111111', '0001001101111111', '0000000100110111',
    '0000000000010011', '0011011111111111', '0000000101111111', '0000000000010111',
    '0001011111111111', '0000000011111111', '0000111111111111', '0000000000001111',
    '0000100011101111', '0111000100000000', '0000000010001110', '0111001100010000',
    '0011000100000000', '0000100011001110', '0000000010001100', '0111001100110001',
    '0011000100010000', '0000100010001100', '0110011001100110', '0011011001101100',
    '0001011111101000', '0000111111110000', '0111000110001110', '0011100110011100',
    '0101010101010101', '0000111100001111', '0101101001011010', '0011001111001100',
    '0011110000111100', '0101010110101010', '0110100101101001', '0101101010100101',
    '0111001111001110', '0001001111001000', '0011001001001100', '0011101111011100',
    '0110100110010110', '0011110011000011', '0110011010011001', '0000011001100000',
    '0100111001000000', '0010011100100000', '0000001001110010', '0000010011100100',
    '0110110010010011', '0011011011001001', '0110001110011100', '0011100111000110',
    '0110110011001001', '0110001100111001', '0111111010000001', '0001100011100111',
    '0000111100110011', '0011001111110000', '0010001011101110', '0100010001110111',
]
PARTITIONS3 = [
    '0011001102212222', '0001001122112221', '0000200122112211', '0222002200110111',
    '0000000011221122', '0011001100220022', '0022002211111111', '0011001122112211',
    '0000000011112222', '0000111111112222', '0000111122222222', '0012001200120012',
    '0112011201120112', '0122012201220122', '0011011211221222', '0011200122002220',
    '0001001101121122', '0111001120012200', '0000112211221122', '0022002200221111',
    '0111011102220222', '0001000122212221', '0000001101220122', '0000110022102210',
    '0122012200110000', '0012001211222222', '0110122112210110', '0000011012211221',
    '0022110211020022', '0110011020022222', '0011012201220011', '0000200022112221',
    '0000000211221222', '0222002200120011', '0011001200220222', '0120012001200120',
    '0000111122220000', '0120120120120120', '0120201212010120', '0011220011220011',
    '0011112222000011', '0101010122222222', '0000000021212121', '0022112200221122',
    '0022001100220011', '0220122102201221', '0101222222220101', '0000212121212121',
    '0101010101012222', '0222011102220111', '0002111200021112', '0000211221122112',
    '0222011101110222', '0002111211120002', '0110011001102222', '0000000021122112',
    '0110011022222222', '0022001100110022', '0022112211220022', '0000000000002112',
    '0002000100020001', '0222122202221222', '0101222222222222', '0111201122012220',
]
ANCHOR2 = [15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
           15, 2, 8, 2, 2, 8, 8, 15, 2, 8, 2, 2, 8, 8, 2, 2,
           15, 15, 6, 8, 2, 8, 15, 15, 2, 8, 2, 2, 2, 15, 15, 6,
           6, 2, 6, 8, 15, 15, 2, 2, 15, 15, 15, 15, 15, 2, 2, 15]
ANCHOR3_SECOND = [3, 3, 15, 15, 8, 3, 15, 15, 8, 8, 6, 6, 6, 5, 3, 3,
                  3, 3, 8, 15, 3, 3, 6, 10, 5, 8, 8, 6, 8, 5, 15, 15,
                  8, 15, 3, 5, 6, 10, 8, 15, 15, 3, 15, 5, 15, 15, 15, 15,
                  3, 15, 5, 5, 5, 8, 5, 10, 5, 10, 8, 13, 15, 12, 3, 3]
ANCHOR3_THIRD = [15, 8, 8, 3, 15, 15, 3, 8, 15, 15, 15, 15, 15, 15, 15, 8,
                 15, 8, 15, 3, 15, 8, 15, 8, 3, 15, 6, 10, 15, 15, 10, 8,
                 15, 3, 15, 10, 10, 8, 9, 10, 6, 15, 8, 15, 3, 6, 6, 8,
                 15, 3, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 3, 15, 15, 8]
WEIGHTS = {2: [0, 21, 43, 64], 3: [0, 9, 18, 27, 37, 46, 55, 64],
           4: [0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64]}


def bc7_layout(mode, partition):
    """The subset of every texel and the anchor texels."""
    subsets = BC7_MODES[mode][0]
    if subsets == 1:
        return [0] * 16, {0}
    if subsets == 2:
        return [int(c) for c in PARTITIONS2[partition]], {0, ANCHOR2[partition]}
    return [int(c) for c in PARTITIONS3[partition]], {0, ANCHOR3_SECOND[partition], ANCHOR3_THIRD[partition]}


def bc7_decode(block):
    value = int.from_bytes(block, 'little')
    if value & 0xFF == 0:
        return [(0, 0, 0, 0)] * 16  # reserved: no mode
    mode = (value & -value).bit_length() - 1
    ns, pb, rb, isb, cb, ab, epb, spb, ib, ib2 = BC7_MODES[mode]
    position = mode + 1

    def take(n):
        nonlocal position
        v = (value >> position) & ((1 << n) - 1)
        position += n
        return v

    partition, rotation, selector = take(pb), take(rb), take(isb)
    ends = [[[0] * 4 for _ in range(2)] for _ in range(ns)]
    for c in range(3):
        for s in range(ns):
            for e in range(2):
                ends[s][e][c] = take(cb)
    for s in range(ns):
        for e in range(2):
            ends[s][e][3] = take(ab)
    channels = 4 if ab else 3
    pbit = 1 if epb or spb else 0
    if pbit:
        for s in range(ns):
            shared = take(1) if spb else None
            for e in range(2):
                p = take(1) if epb else shared
                for c in range(channels):
                    ends[s][e][c] = ends[s][e][c] << 1 | p

    def widen(v, bits):
        v <<= 8 - bits
        return v | v >> bits

    for s in range(ns):
        for e in range(2):
            ends[s][e] = [widen(ends[s][e][c], cb + pbit) for c in range(3)] + \
                         [widen(ends[s][e][3], ab + pbit) if ab else 255]
    subset_of, anchors = bc7_layout(mode, partition)
    primary = [take(ib - (i in anchors)) for i in range(16)]
    secondary = [take(ib2 - (i == 0)) for i in range(16)] if ib2 else None
    texels = []
    for i in range(16):
        e0, e1 = ends[subset_of[i]]
        if secondary is None:
            ci, cbits, ai, abits = primary[i], ib, primary[i], ib
        elif selector:
            ci, cbits, ai, abits = secondary[i], ib2, primary[i], ib
        else:
            ci, cbits, ai, abits = primary[i], ib, secondary[i], ib2
        wc, wa = WEIGHTS[cbits][ci], WEIGHTS[abits][ai]
        t = [((64 - wc) * e0[c] + wc * e1[c] + 32) >> 6 for c in range(3)]
        t.append(((64 - wa) * e0[3] + wa * e1[3] + 32) >> 6)
        if rotation:
            t[3], t[rotation - 1] = t[rotation - 1], t[3]
        texels.append(tuple(t))
    return texels


def bc7_encode_fields(mode, partition=0, rotation=0, selector=0, endpoints=None, pbits=None, primary=None,
                      secondary=None):
    """A BC7 block from its fields, packed in the order the definition gives.
    endpoints[s][e] holds (r, g, b[, a]) at the mode's stored widths; pbits
    lists the P-bits in stored order; index lists hold 16 values each, anchor
    indices below half their range."""
    ns, pb, rb, isb, cb, ab, epb, spb, ib, ib2 = BC7_MODES[mode]
    fields = [(1 << mode, mode + 1), (partition, pb), (rotation, rb), (selector, isb)]
    for c in range(3):
        fields += [(endpoints[s][e][c], cb) for s in range(ns) for e in range(2)]
    if ab:
        fields += [(endpoints[s][e][3], ab) for s in range(ns) for e in range(2)]
    fields += [(p, 1) for p in (pbits or [])]
    _, anchors = bc7_layout(mode, partition)
    fields += [(primary[i], ib - (i in anchors)) for i in range(16)]
    if ib2:
        fields += [(secondary[i], ib2 - (i == 0)) for i in range(16)]
    value, position = 0, 0
    for v, n in fields:
        assert 0 <= v < (1 << n) or n == 0 and v == 0, (v, n)
        value |= v << position
        position += n
    assert position == 128, position
    return value.to_bytes(16, 'little')
