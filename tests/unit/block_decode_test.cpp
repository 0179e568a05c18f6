// Hand-computed blocks through the block decoders, and Z rebuilt from X and Y.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "encode/block_decode.h"

namespace {

using Texels = std::array<uint8_t, 64>;

// A BC4 block: endpoints, then 3-bit indices from the low bits.
std::array<uint8_t, 8> bc4Block(uint8_t e0, uint8_t e1, const std::array<int, 16>& indices) {
    uint64_t bits = 0;
    for (size_t i = 0; i < 16; ++i) bits |= uint64_t(indices[i]) << (3 * i);
    std::array<uint8_t, 8> block = {e0, e1};
    for (size_t i = 0; i < 6; ++i) block[2 + i] = static_cast<uint8_t>(bits >> (8 * i));
    return block;
}

constexpr std::array<int, 16> everyIndexTwice = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7};

struct Bc4Case {
    const char* name;
    uint8_t e0, e1;
    bool isSigned;
    std::array<uint8_t, 8> values;  // index 0 to 7, as written
};

class Bc4Test : public ::testing::TestWithParam<Bc4Case> {};

TEST_P(Bc4Test, EveryIndexGivesItsValue) {
    const Bc4Case& c = GetParam();
    const auto block = bc4Block(c.e0, c.e1, everyIndexTwice);
    // Written into the second byte of 3-byte steps, rows 12 bytes apart; the
    // bytes between are left alone.
    std::vector<uint8_t> out(48, 0xEE);
    decodeBc4Channel(block.data(), c.isSigned, out.data() + 1, 12, 3);
    for (size_t i = 0; i < 16; ++i) {
        const size_t at = (i / 4) * 12 + (i % 4) * 3;
        EXPECT_EQ(out[at + 1], c.values[static_cast<size_t>(everyIndexTwice[i])]) << "texel " << i;
        EXPECT_EQ(out[at], 0xEE);
        EXPECT_EQ(out[at + 2], 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Bc4Test,
    ::testing::Values(
        // (6 x 200 + 13) / 7 = 173.3, (5 x 200 + 2 x 13) / 7 = 146.6: integer parts.
        Bc4Case{"EightValues", 200, 13, false, {200, 13, 173, 146, 119, 93, 66, 39}},
        // (4 x 13 + 200) / 5 = 50.4 ... and the extremes 0 and 255.
        Bc4Case{"SixValues", 13, 200, false, {13, 200, 50, 87, 125, 162, 0, 255}},
        Bc4Case{"EqualEndpointsAreSixValues", 90, 90, false, {90, 90, 90, 90, 90, 90, 0, 255}},
        // -128 reads as -127: (4 x -127 + 127) / 5 = -76.2 gives -76 (52 stored) ...
        Bc4Case{"SignedSixValues", 0x80, 0x7F, true, {1, 255, 52, 103, 153, 204, 1, 255}},
        // 127 > -127: (6 x 127 - 127) / 7 = 90.7 gives 90 (218) ... towards zero both ways.
        Bc4Case{"SignedEightValues", 0x7F, 0x81, true, {255, 1, 218, 182, 146, 110, 74, 38}},
        // -128 and -127 are the same -1: six values.
        Bc4Case{"SignedMinusOneTwice", 0x81, 0x80, true, {1, 1, 1, 1, 1, 1, 1, 255}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Bc1, ThreeColourBlocksGiveTransparentBlackForIndexThree) {
    // c0 = pure blue < c1 = yellow; rows of indices 0 1 2 3.
    const uint8_t block[8] = {0x1F, 0x00, 0xE0, 0xFF, 0xE4, 0xE4, 0xE4, 0xE4};
    Texels out{};
    decodeBc1(block, out.data(), 16, false, Widen565::zeroLowBits);
    const std::array<std::array<uint8_t, 4>, 4> three = {{{0, 0, 248, 255}, {248, 252, 0, 255}, {124, 126, 124, 255}, {0, 0, 0, 0}}};
    const std::array<std::array<uint8_t, 4>, 4> four = {{{0, 0, 248, 255}, {248, 252, 0, 255}, {82, 84, 165, 255}, {165, 168, 82, 255}}};
    for (size_t i = 0; i < 16; ++i)
        for (size_t c = 0; c < 4; ++c) EXPECT_EQ(out[4 * i + c], three[i % 4][c]) << i;
    decodeBc1(block, out.data(), 16, true, Widen565::zeroLowBits);
    for (size_t i = 0; i < 16; ++i)
        for (size_t c = 0; c < 4; ++c) EXPECT_EQ(out[4 * i + c], four[i % 4][c]) << i;
}

// The two ways a 5:6:5 endpoint widens, on blocks whose rows of indices are
// 0 1 2 3: the DDS reader's (low bits zero) and the encoders' (top bits
// repeated) give different colours for the same bytes.
struct WideningCase {
    const char* name;
    uint16_t c0, c1;
    Widen565 rule;
    std::array<std::array<uint8_t, 3>, 4> colours;  // index 0 to 3
};

class Bc1WideningTest : public ::testing::TestWithParam<WideningCase> {};

TEST_P(Bc1WideningTest, EndpointsAndMixesFollowTheRule) {
    const WideningCase& c = GetParam();
    const uint8_t block[8] = {static_cast<uint8_t>(c.c0), static_cast<uint8_t>(c.c0 >> 8), static_cast<uint8_t>(c.c1),
                              static_cast<uint8_t>(c.c1 >> 8), 0xE4, 0xE4, 0xE4, 0xE4};
    Texels out{};
    decodeBc1(block, out.data(), 16, false, c.rule);
    for (size_t i = 0; i < 16; ++i) {
        const auto& want = c.colours[i % 4];
        EXPECT_EQ((std::array<uint8_t, 4>{out[4 * i], out[4 * i + 1], out[4 * i + 2], out[4 * i + 3]}),
                  (std::array<uint8_t, 4>{want[0], want[1], want[2], 255}))
            << "texel " << i;
    }
    // The palette the reader places whole rows with agrees.
    const auto palette = bc1Palette(block, false, c.rule);
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(palette[k], c.colours[k][0] | (uint32_t{c.colours[k][1]} << 8) | (uint32_t{c.colours[k][2]} << 16) |
                                  (uint32_t{255} << 24))
            << "entry " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Bc1WideningTest,
    ::testing::Values(
        // White (31, 63, 31) and black: 248 and 252 shifted, 255 repeated;
        // the mixes (2 x 248 + 0) / 3 = 165.3 and so on, truncated.
        WideningCase{"WhiteLowBitsZero", 0xFFFF, 0x0000, Widen565::zeroLowBits,
                     {{{248, 252, 248}, {0, 0, 0}, {165, 168, 165}, {82, 84, 82}}}},
        WideningCase{"WhiteTopBitsRepeated", 0xFFFF, 0x0000, Widen565::repeatTopBits,
                     {{{255, 255, 255}, {0, 0, 0}, {170, 170, 170}, {85, 85, 85}}}},
        // (16, 32, 1): 10000b becomes 128 or 132, 100000b 128 or 130, 00001b 8 either way.
        WideningCase{"MiddleLowBitsZero", 0x8401, 0x0000, Widen565::zeroLowBits,
                     {{{128, 128, 8}, {0, 0, 0}, {85, 85, 5}, {42, 42, 2}}}},
        WideningCase{"MiddleTopBitsRepeated", 0x8401, 0x0000, Widen565::repeatTopBits,
                     {{{132, 130, 8}, {0, 0, 0}, {88, 86, 5}, {44, 43, 2}}}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Bc2, AlphaNibblesWidenBySeventeen) {
    uint8_t block[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};  // texel i has alpha i
    Texels out{};
    decodeBc2(block, out.data(), 16, Widen565::zeroLowBits);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(out[4 * i + 3], i * 17) << i;
}

// BC7 ------------------------------------------------------------------------

// Packs fields lowest bit first into a block.
struct BlockBits {
    std::array<uint8_t, 16> bytes{};
    size_t position = 0;
    BlockBits& put(uint32_t value, size_t count) {
        for (size_t i = 0; i < count; ++i, ++position)
            if ((value >> i) & 1) bytes[position / 8] = static_cast<uint8_t>(bytes[position / 8] | (1u << (position % 8)));
        return *this;
    }
};

TEST(Bc7, ReservedModeIsTransparentBlack) {
    std::array<uint8_t, 16> block;
    block.fill(0xFF);
    block[0] = 0;
    Texels out;
    out.fill(0x77);
    decodeBc7(block.data(), out.data(), 16);
    for (uint8_t v : out) EXPECT_EQ(v, 0);
}

TEST(Bc7, ModeSixInterpolatesWithItsSixteenWeights) {
    // Mode 6: endpoints 0 and 127 in every channel, P-bits 0 and 1, so 0 and
    // 255; texel i takes index i (4 bits, the anchor texel 0 three bits).
    BlockBits b;
    b.put(1u << 6, 7);
    for (int channel = 0; channel < 4; ++channel) b.put(0, 7).put(127, 7);
    b.put(0, 1).put(1, 1);
    b.put(0, 3);
    for (uint32_t i = 1; i < 16; ++i) b.put(i, 4);
    ASSERT_EQ(b.position, 128u);
    Texels out{};
    decodeBc7(b.bytes.data(), out.data(), 16);
    const int weights[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};
    for (size_t i = 0; i < 16; ++i)
        for (size_t c = 0; c < 4; ++c) EXPECT_EQ(out[4 * i + c], (weights[i] * 255 + 32) >> 6) << i;  // e.g. 30: 120
}

TEST(Bc7, ModeFourRotationAndIndexSelection) {
    // Mode 4, rotation 1 (alpha and red swap), selector 1 (colour takes the
    // 3-bit indices). Colour endpoints 0 and 31 (5 bits: 0 and 255), alpha 63
    // and 0 (6 bits: 255 and 0). 2-bit indices all 3, 3-bit indices all 7
    // (texel 0: one bit less each).
    BlockBits b;
    b.put(1u << 4, 5).put(1, 2).put(1, 1);
    for (int channel = 0; channel < 3; ++channel) b.put(0, 5).put(31, 5);
    b.put(63, 6).put(0, 6);
    b.put(1, 1);
    for (int i = 1; i < 16; ++i) b.put(3, 2);
    b.put(3, 2);
    for (int i = 1; i < 16; ++i) b.put(7, 3);
    ASSERT_EQ(b.position, 128u);
    Texels out{};
    decodeBc7(b.bytes.data(), out.data(), 16);
    // Texel 0: colour index 3 of 8 (weight 27): (27 x 255 + 32) >> 6 = 108;
    // alpha index 1 of 4 (weight 21): (43 x 255 + 32) >> 6 = 171.
    // Others: colour 255, alpha 0. Then red and alpha swap.
    EXPECT_EQ((std::array<uint8_t, 4>{out[0], out[1], out[2], out[3]}), (std::array<uint8_t, 4>{171, 108, 108, 108}));
    for (size_t i = 1; i < 16; ++i)
        EXPECT_EQ((std::array<uint8_t, 4>{out[4 * i], out[4 * i + 1], out[4 * i + 2], out[4 * i + 3]}),
                  (std::array<uint8_t, 4>{0, 255, 255, 255}))
            << i;
}

// Z from X and Y ---------------------------------------------------------------

struct ZCase {
    const char* name;
    uint32_t red, green, blue;
};

class RebuiltZ8Test : public ::testing::TestWithParam<ZCase> {};
TEST_P(RebuiltZ8Test, GivesBlue) {
    const ZCase& c = GetParam();
    EXPECT_EQ(rebuiltZ8(static_cast<uint8_t>(c.red), static_cast<uint8_t>(c.green)), c.blue);
    EXPECT_EQ(rebuiltZ8(static_cast<uint8_t>(c.green), static_cast<uint8_t>(c.red)), c.blue);
}
INSTANTIATE_TEST_SUITE_P(
    Values, RebuiltZ8Test,
    ::testing::Values(ZCase{"Flat", 128, 128, 255},
                      // x = 64/127: z = sqrt(1 - 0.25396) = 0.86374, x 127 + 128 = 237.7.
                      ZCase{"HalfTilt", 192, 128, 237},
                      // x = y = -64/127: z = sqrt(0.49208) = 0.70148: 217.09.
                      ZCase{"BothTilted", 64, 64, 217},
                      // Longer than 1: Z is 0, which encodes as 128.
                      ZCase{"OutsideTheCircle", 255, 255, 128}, ZCase{"Lowest", 0, 128, 128}),
    [](const auto& param) { return std::string(param.param.name); });

class RebuiltZ16Test : public ::testing::TestWithParam<ZCase> {};
TEST_P(RebuiltZ16Test, GivesBlue) {
    const ZCase& c = GetParam();
    EXPECT_EQ(rebuiltZ16(static_cast<uint16_t>(c.red), static_cast<uint16_t>(c.green)), c.blue);
}
INSTANTIATE_TEST_SUITE_P(
    Values, RebuiltZ16Test,
    ::testing::Values(ZCase{"Flat", 32768, 32768, 65535},
                      // x = 16384/32767: z = sqrt(0.749985) = 0.866017, x 32767 + 32768 = 61144.8.
                      ZCase{"HalfTilt", 49152, 32768, 61144}, ZCase{"OutsideTheCircle", 65535, 65535, 32768},
                      ZCase{"Lowest", 0, 32768, 32768}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
