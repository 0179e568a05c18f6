// The 4 x 4 blocks of block-compressed textures (BC1 to BC5 and BC7, the S3TC,
// RGTC and BPTC formats), decoded by pure functions from a block's bytes to
// its sixteen texels, and the Z of a two-channel normal rebuilt from X and Y.
// This is the one place blocks are decoded: the DDS reader reads with it, and
// the block encoders measure their error with it. The two differ in one
// choice only, how a BC1 colour's 5:6:5 components widen (Widen565), and each
// names the one it makes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

// How the 5-bit red and blue and the 6-bit green of a BC1 colour (and of the
// colour half of BC2 and BC3) widen to 8 bits. The format leaves the widening
// to the decoder; the two rules below give the same value for 0 and differ
// by up to 7 levels at the top.
enum class Widen565 {
    // Shifted up, the low bits zero: 5-bit 31 becomes 248, 6-bit 63 becomes
    // 252, and white is never quite white. The DDS reader shows BC1, BC2 and
    // BC3 colours this way, as it always has.
    zeroLowBits,
    // The top bits repeated below (r << 3 | r >> 2, g << 2 | g >> 4): 31 and
    // 63 both become 255. This is how graphics hardware and the common
    // decoders show the blocks, so the encoders measure their error this way.
    repeatTopBits,
};

// A 5-bit and a 6-bit component widened to 8 bits by `rule`.
constexpr uint32_t widen5(uint32_t v, Widen565 rule) {
    return rule == Widen565::zeroLowBits ? v << 3 : (v << 3) | (v >> 2);
}
constexpr uint32_t widen6(uint32_t v, Widen565 rule) {
    return rule == Widen565::zeroLowBits ? v << 2 : (v << 2) | (v >> 4);
}

// Every decoder writes four rows of four texels from `out`, `pitch` bytes from
// the start of one row to the next. The RGBA decoders write 4 bytes a texel:
// red, green, blue, alpha.

// A BC1 colour block (8 bytes). The two stored colours are widened by `rule`
// and the mixes truncate: (2 x c0 + c1) / 3, (c0 + 2 x c1) / 3, or in a block
// with c0 <= c1 (c0 + c1) / 2 and, for index 3, transparent black (0, 0, 0, 0).
// `alwaysFour` gives every block the four-colour table, as the colour half of
// BC2 and BC3 blocks has. Alpha is 255 wherever it is not 0.
void decodeBc1(const uint8_t* block, uint8_t* out, size_t pitch, bool alwaysFour, Widen565 rule);

// The four colours of a BC1 colour block as decodeBc1 gives them, each packed
// as red | green << 8 | blue << 16 | alpha << 24; texel i of the block takes
// entry (block[4 + i / 4] >> (2 * (i % 4))) & 3. Inline: readers call it for
// every block.
inline std::array<uint32_t, 4> bc1Palette(const uint8_t* block, bool alwaysFour, Widen565 rule) {
    const uint32_t c0 = block[0] | (uint32_t{block[1]} << 8), c1 = block[2] | (uint32_t{block[3]} << 8);
    const uint32_t r0 = widen5(c0 >> 11, rule), g0 = widen6((c0 >> 5) & 63, rule), b0 = widen5(c0 & 31, rule);
    const uint32_t r1 = widen5(c1 >> 11, rule), g1 = widen6((c1 >> 5) & 63, rule), b1 = widen5(c1 & 31, rule);
    const auto pack = [](uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | (g << 8) | (b << 16) | (a << 24); };
    if (c0 > c1 || alwaysFour)
        return {pack(r0, g0, b0, 255), pack(r1, g1, b1, 255),
                pack((2 * r0 + r1) / 3, (2 * g0 + g1) / 3, (2 * b0 + b1) / 3, 255),   // (2 c0 + c1) / 3
                pack((r0 + 2 * r1) / 3, (g0 + 2 * g1) / 3, (b0 + 2 * b1) / 3, 255)};  // (c0 + 2 c1) / 3
    return {pack(r0, g0, b0, 255), pack(r1, g1, b1, 255),
            pack((r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2, 255), 0};  // (c0 + c1) / 2, transparent black
}

// A BC2 block (16 bytes): explicit 4-bit alphas, widened as v x 17, then a
// four-colour BC1 block widened by `rule`.
void decodeBc2(const uint8_t* block, uint8_t* out, size_t pitch, Widen565 rule);

// A BC3 block (16 bytes): a BC4 block of alpha, then a four-colour BC1 block
// widened by `rule`.
void decodeBc3(const uint8_t* block, uint8_t* out, size_t pitch, Widen565 rule);

// The eight values of a BC4 block (its first two bytes, the endpoints e0 and
// e1), index 0 to 7. The interpolated values take the integer part of the
// exact mix: ((7 - i) x e0 + i x e1) / 7 for i = 1..6 with e0 > e1, else
// ((5 - i) x e0 + i x e1) / 5 for i = 1..4 and then the extremes (0 and
// 255). A signed block's values are -127..127 (a stored -128 is -1 too, as
// -127 is), truncated towards zero, and given as v + 128. Inline: the BC4
// encoder measures every endpoint pair it tries with it.
inline std::array<uint8_t, 8> bc4Palette(const uint8_t* block, bool isSigned) {
    // -128 and -127 both stand for -1.
    const int lowest = isSigned ? -127 : 0, highest = isSigned ? 127 : 255;
    const int e0 = isSigned ? std::max(static_cast<int>(static_cast<int8_t>(block[0])), -127) : block[0];
    const int e1 = isSigned ? std::max(static_cast<int>(static_cast<int8_t>(block[1])), -127) : block[1];
    int values[8] = {e0, e1};
    if (e0 > e1) {
        for (int i = 1; i < 7; ++i) values[i + 1] = ((7 - i) * e0 + i * e1) / 7;
    } else {
        for (int i = 1; i < 5; ++i) values[i + 1] = ((5 - i) * e0 + i * e1) / 5;
        values[6] = lowest;
        values[7] = highest;
    }
    const int offset = isSigned ? 128 : 0;
    std::array<uint8_t, 8> palette{};
    for (size_t i = 0; i < 8; ++i) palette[i] = static_cast<uint8_t>(values[i] + offset);
    return palette;
}

// One BC4 channel (8 bytes) into every `step`-th byte of each row, each texel
// its bc4Palette value.
void decodeBc4Channel(const uint8_t* block, bool isSigned, uint8_t* out, size_t pitch, size_t step);

// A BC7 block (16 bytes), every one of the eight modes, exact to the bit. A
// block whose first byte is 0 holds no mode (reserved) and decodes to
// transparent black.
void decodeBc7(const uint8_t* block, uint8_t* out, size_t pitch);

// Two-channel normal maps (BC5, R8G8, R16G16) store X and Y; Z is rebuilt as
// re-normalisation reads and writes a component. At 8 bits: x = (r - 128) x K
// and y likewise, with K the float nearest 1/127 and each product a float;
// z = sqrt(1 - x^2 - y^2) in double precision (0 where that is negative),
// rounded to a float; blue is the integer part of z x 127 + 128. At 16 bits
// the same with 32768, the float nearest 1/32767, and z x 32767 + 32768.
uint8_t rebuiltZ8(uint8_t red, uint8_t green);
uint16_t rebuiltZ16(uint16_t red, uint16_t green);
