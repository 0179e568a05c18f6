// Block decoders after the S3TC, RGTC and BPTC definitions (the DirectX block
// compression documentation and the Khronos Data Format Specification).
#include "encode/block_decode.h"

#include "encode/bc7_layout.h"

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
            for (int c = 0; c < 3; ++c) colours[s][e][c] = bc7Widen(endpoints[s][e][c], mode.colourBits + pBit);
            colours[s][e][3] = mode.alphaBits ? bc7Widen(endpoints[s][e][3], mode.alphaBits + pBit) : 255;
        }

    int subsetOf[16] = {};
    bool anchor[16] = {true};
    if (mode.subsets == 2) {
        for (int i = 0; i < 16; ++i) subsetOf[i] = (bc7TwoSubsets[partition] >> i) & 1;
        anchor[bc7TwoSubsetAnchors[partition]] = true;
    } else if (mode.subsets == 3) {
        for (int i = 0; i < 16; ++i) subsetOf[i] = static_cast<int>((bc7ThreeSubsets[partition] >> (2 * i)) & 3);
        anchor[bc7ThreeSubsetSecondAnchors[partition]] = true;
        anchor[bc7ThreeSubsetThirdAnchors[partition]] = true;
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
        const int wc = bc7Weight(colourIndexBits, colourIndices[i]);
        const int wa = bc7Weight(alphaIndexBits, alphaIndices[i]);
        uint8_t* t = texel(out, pitch, i);
        for (int c = 0; c < 3; ++c) t[c] = bc7Mix(ends[0][c], ends[1][c], wc);
        t[3] = bc7Mix(ends[0][3], ends[1][3], wa);
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
