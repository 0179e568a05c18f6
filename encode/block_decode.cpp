// Block decoders after the S3TC, RGTC and BPTC definitions (the DirectX block
// compression documentation and the Khronos Data Format Specification).
#include "encode/block_decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

uint64_t le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint8_t* texel(uint8_t* out, size_t pitch, int i) { return out + static_cast<size_t>(i / 4) * pitch + 4 * (i % 4); }

// BC7 ----------------------------------------------------------------------

struct Bc7Mode {
    int subsets, partitionBits, rotationBits, selectorBits, colourBits, alphaBits, endpointPBits, sharedPBits,
        indexBits, secondaryIndexBits;
};

constexpr Bc7Mode bc7Modes[8] = {
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0}, {2, 6, 0, 0, 6, 0, 0, 1, 3, 0}, {3, 6, 0, 0, 5, 0, 0, 0, 2, 0},
    {2, 6, 0, 0, 7, 0, 1, 0, 2, 0}, {1, 0, 2, 1, 5, 6, 0, 0, 2, 3}, {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0}, {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
};

// The subset of each texel in the two-subset partitions, bit i for texel i
// (texels run right, then down).
constexpr uint16_t twoSubsets[64] = {
    0xCCCC, 0x8888, 0xEEEE, 0xECC8, 0xC880, 0xFEEC, 0xFEC8, 0xEC80, 0xC800, 0xFFEC, 0xFE80, 0xE800, 0xFFE8,
    0xFF00, 0xFFF0, 0xF000, 0xF710, 0x008E, 0x7100, 0x08CE, 0x008C, 0x7310, 0x3100, 0x8CCE, 0x088C, 0x3110,
    0x6666, 0x366C, 0x17E8, 0x0FF0, 0x718E, 0x399C, 0xAAAA, 0xF0F0, 0x5A5A, 0x33CC, 0x3C3C, 0x55AA, 0x9696,
    0xA55A, 0x73CE, 0x13C8, 0x324C, 0x3BDC, 0x6996, 0xC33C, 0x9966, 0x0660, 0x0272, 0x04E4, 0x4E40, 0x2720,
    0xC936, 0x936C, 0x39C6, 0x639C, 0x9336, 0x9CC6, 0x817E, 0xE718, 0xCCF0, 0x0FCC, 0x7744, 0xEE22,
};

// The three-subset partitions, two bits a texel from the low end.
constexpr uint32_t threeSubsets[64] = {
    0xAA685050, 0x6A5A5040, 0x5A5A4200, 0x5450A0A8, 0xA5A50000, 0xA0A05050, 0x5555A0A0, 0x5A5A5050,
    0xAA550000, 0xAA555500, 0xAAAA5500, 0x90909090, 0x94949494, 0xA4A4A4A4, 0xA9A59450, 0x2A0A4250,
    0xA5945040, 0x0A425054, 0xA5A5A500, 0x55A0A0A0, 0xA8A85454, 0x6A6A4040, 0xA4A45000, 0x1A1A0500,
    0x0050A4A4, 0xAAA59090, 0x14696914, 0x69691400, 0xA08585A0, 0xAA821414, 0x50A4A450, 0x6A5A0200,
    0xA9A58000, 0x5090A0A8, 0xA8A09050, 0x24242424, 0x00AA5500, 0x24924924, 0x24499224, 0x50A50A50,
    0x500AA550, 0xAAAA4444, 0x66660000, 0xA5A0A5A0, 0x50A050A0, 0x69286928, 0x44AAAA44, 0x66666600,
    0xAA444444, 0x54A854A8, 0x95809580, 0x96969600, 0xA85454A8, 0x80959580, 0xAA141414, 0x96960000,
    0xAAAA1414, 0xA05050A0, 0xA0A5A5A0, 0x96000000, 0x40804080, 0xA9A8A9A8, 0xAAAAAA44, 0x2A4A5254,
};

// Anchor texels: of the second subset of two, and of the second and third of
// three. The first subset's anchor is always texel 0.
constexpr uint8_t twoSubsetAnchors[64] = {
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 2,  8, 2,  2, 8,  8,  15, 2,  8, 2, 2,
    8,  8,  2,  2,  15, 15, 6,  8,  2,  8,  15, 15, 2,  8,  2,  2,  2,  15, 15, 6, 6, 2,  6,  8,  15, 15, 2, 2,
    15, 15, 15, 15, 15, 2,  2,  15,
};
constexpr uint8_t threeSubsetSecondAnchors[64] = {
    3,  3, 15, 15, 8,  3,  15, 15, 8, 8,  6,  6,  6,  5,  3,  3,  3,  3,  8, 15, 3, 3,
    6,  10, 5, 8,  8,  6,  8,  5,  15, 15, 8,  15, 3, 5,  6,  10, 8, 15, 15, 3, 15, 5,
    15, 15, 15, 15, 3, 15, 5,  5,  5,  8,  5,  10, 5,  10, 8,  13, 15, 12, 3, 3,
};
constexpr uint8_t threeSubsetThirdAnchors[64] = {
    15, 8,  8,  3,  15, 15, 3,  8,  15, 15, 15, 15, 15, 15, 15, 8,  15, 8,  15, 3,  15, 8,
    15, 8,  3,  15, 6,  10, 15, 15, 10, 8,  15, 3,  15, 10, 10, 8,  9,  10, 6,  15, 8,  15,
    3,  6,  6,  8,  15, 3,  15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 3,  15, 15, 8,
};

// Interpolation weights out of 64 for indices of 2, 3 and 4 bits.
constexpr uint8_t weights2[4] = {0, 21, 43, 64};
constexpr uint8_t weights3[8] = {0, 9, 18, 27, 37, 46, 55, 64};
constexpr uint8_t weights4[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};

int weight(int bits, uint32_t index) {
    return bits == 2 ? weights2[index] : bits == 3 ? weights3[index] : weights4[index];
}

// The 128 bits of a block read from the lowest bit up.
class BitReader {
public:
    explicit BitReader(const uint8_t* block) : low_(le64(block)), high_(le64(block + 8)) {}
    uint32_t take(int count) {
        if (count == 0) return 0;
        uint64_t v;
        if (position_ >= 64) {
            v = high_ >> (position_ - 64);
        } else {
            v = low_ >> position_;
            if (position_ > 0 && position_ + count > 64) v |= high_ << (64 - position_);
        }
        position_ += count;
        return static_cast<uint32_t>(v & ((uint64_t{1} << count) - 1));
    }

private:
    uint64_t low_, high_;
    int position_ = 0;
};

// A value of `bits` bits (4 to 8) widened to 8 by repeating its top bits below it.
uint8_t widen(uint32_t v, int bits) { return static_cast<uint8_t>((v << (8 - bits)) | (v >> (2 * bits - 8))); }

uint8_t mix(int e0, int e1, int w) { return static_cast<uint8_t>(((64 - w) * e0 + w * e1 + 32) >> 6); }

}  // namespace

void decodeBc1(const uint8_t* block, uint8_t* out, size_t pitch, bool alwaysFour, Widen565 rule) {
    const std::array<uint32_t, 4> palette = bc1Palette(block, alwaysFour, rule);
    for (int i = 0; i < 16; ++i) {
        const uint32_t colour = palette[(block[4 + i / 4] >> (2 * (i % 4))) & 3];
        uint8_t* t = texel(out, pitch, i);
        for (int c = 0; c < 4; ++c) t[c] = static_cast<uint8_t>(colour >> (8 * c));
    }
}

void decodeBc2(const uint8_t* block, uint8_t* out, size_t pitch, Widen565 rule) {
    decodeBc1(block + 8, out, pitch, true, rule);
    const uint64_t alphas = le64(block);
    for (int i = 0; i < 16; ++i) texel(out, pitch, i)[3] = static_cast<uint8_t>(((alphas >> (4 * i)) & 15) * 17);
}

void decodeBc3(const uint8_t* block, uint8_t* out, size_t pitch, Widen565 rule) {
    decodeBc1(block + 8, out, pitch, true, rule);
    decodeBc4Channel(block, false, out + 3, pitch, 4);
}

void decodeBc4Channel(const uint8_t* block, bool isSigned, uint8_t* out, size_t pitch, size_t step) {
    const std::array<uint8_t, 8> table = bc4Palette(block, isSigned);
    const uint64_t indices = le64(block) >> 16;
    for (size_t i = 0; i < 16; ++i) out[(i / 4) * pitch + (i % 4) * step] = table[(indices >> (3 * i)) & 7];
}

void decodeBc7(const uint8_t* block, uint8_t* out, size_t pitch) {
    if (block[0] == 0) {
        for (int y = 0; y < 4; ++y) std::memset(out + static_cast<size_t>(y) * pitch, 0, 16);
        return;
    }
    const int modeNumber = std::countr_zero(block[0]);
    const Bc7Mode& mode = bc7Modes[modeNumber];
    BitReader bits(block);
    bits.take(modeNumber + 1);
    const uint32_t partition = bits.take(mode.partitionBits);
    const uint32_t rotation = bits.take(mode.rotationBits);
    const uint32_t selector = bits.take(mode.selectorBits);

    // Endpoints by subset, endpoint and channel, as stored: channel by
    // channel, each subset's two endpoints in turn.
    uint32_t endpoints[3][2][4] = {};
    for (int c = 0; c < 3; ++c)
        for (int s = 0; s < mode.subsets; ++s)
            for (int e = 0; e < 2; ++e) endpoints[s][e][c] = bits.take(mode.colourBits);
    if (mode.alphaBits)
        for (int s = 0; s < mode.subsets; ++s)
            for (int e = 0; e < 2; ++e) endpoints[s][e][3] = bits.take(mode.alphaBits);
    const int channels = mode.alphaBits ? 4 : 3;
    if (mode.endpointPBits || mode.sharedPBits) {
        for (int s = 0; s < mode.subsets; ++s) {
            const uint32_t shared = mode.sharedPBits ? bits.take(1) : 0;
            for (int e = 0; e < 2; ++e) {
                const uint32_t p = mode.endpointPBits ? bits.take(1) : shared;
                for (int c = 0; c < channels; ++c) endpoints[s][e][c] = (endpoints[s][e][c] << 1) | p;
            }
        }
    }
    const int pBit = (mode.endpointPBits || mode.sharedPBits) ? 1 : 0;
    uint8_t colours[3][2][4];
    for (int s = 0; s < mode.subsets; ++s)
        for (int e = 0; e < 2; ++e) {
            for (int c = 0; c < 3; ++c) colours[s][e][c] = widen(endpoints[s][e][c], mode.colourBits + pBit);
            colours[s][e][3] = mode.alphaBits ? widen(endpoints[s][e][3], mode.alphaBits + pBit) : 255;
        }

    int subsetOf[16] = {};
    bool anchor[16] = {true};
    if (mode.subsets == 2) {
        for (int i = 0; i < 16; ++i) subsetOf[i] = (twoSubsets[partition] >> i) & 1;
        anchor[twoSubsetAnchors[partition]] = true;
    } else if (mode.subsets == 3) {
        for (int i = 0; i < 16; ++i) subsetOf[i] = static_cast<int>((threeSubsets[partition] >> (2 * i)) & 3);
        anchor[threeSubsetSecondAnchors[partition]] = true;
        anchor[threeSubsetThirdAnchors[partition]] = true;
    }
    // An anchor's index has its top bit left out: it is always 0.
    uint32_t primary[16], secondary[16] = {};
    for (int i = 0; i < 16; ++i) primary[i] = bits.take(mode.indexBits - (anchor[i] ? 1 : 0));
    if (mode.secondaryIndexBits)
        for (int i = 0; i < 16; ++i) secondary[i] = bits.take(mode.secondaryIndexBits - (i == 0 ? 1 : 0));

    // With two index sets, the selector bit gives colour the second set and
    // alpha the first; without it (or with 0) it is the other way round.
    const bool swapSets = selector != 0;
    const uint32_t* colourIndices = swapSets ? secondary : primary;
    const uint32_t* alphaIndices = mode.secondaryIndexBits && !swapSets ? secondary : primary;
    const int colourIndexBits = swapSets ? mode.secondaryIndexBits : mode.indexBits;
    const int alphaIndexBits = mode.secondaryIndexBits && !swapSets ? mode.secondaryIndexBits : mode.indexBits;
    for (int i = 0; i < 16; ++i) {
        const uint8_t(&ends)[2][4] = colours[subsetOf[i]];
        const int wc = weight(colourIndexBits, colourIndices[i]);
        const int wa = weight(alphaIndexBits, alphaIndices[i]);
        uint8_t* t = texel(out, pitch, i);
        for (int c = 0; c < 3; ++c) t[c] = mix(ends[0][c], ends[1][c], wc);
        t[3] = mix(ends[0][3], ends[1][3], wa);
        if (rotation) std::swap(t[3], t[rotation - 1]);
    }
}

namespace {

// Z of a two-channel sample pair; `centre` is 128 or 32768.
template <typename Sample, int32_t centre>
Sample rebuiltZ(Sample red, Sample green) {
    constexpr float unit = 1.0f / static_cast<float>(centre - 1);
    const double x = static_cast<float>(red - centre) * unit;
    const double y = static_cast<float>(green - centre) * unit;
    const double rest = 1.0 - x * x - y * y;
    const double z = rest > 0.0 ? static_cast<double>(static_cast<float>(std::sqrt(rest))) : 0.0;
    return static_cast<Sample>(static_cast<int32_t>(z * (centre - 1) + centre));
}

}  // namespace

uint8_t rebuiltZ8(uint8_t red, uint8_t green) { return rebuiltZ<uint8_t, 128>(red, green); }
uint16_t rebuiltZ16(uint16_t red, uint16_t green) { return rebuiltZ<uint16_t, 32768>(red, green); }
