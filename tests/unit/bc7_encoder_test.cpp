// The BC7 block encoder, judged by decoding what it writes with decodeBc7:
// each mode it writes is chosen where it is the best block and comes back
// as built, opaque blocks stay opaque, and the default quality is never
// worse than the fast one.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "encode/bc7_encoder.h"
#include "encode/bc7_layout.h"
#include "encode/block_decode.h"

namespace {

// A colour on the scale 0..255.
struct Rgba {
    int r, g, b, a;
};

// What a 6-bit endpoint (5 bits and a p-bit) and an 8-bit one decode to.
int six(int v) { return bc7Widen(static_cast<uint32_t>(v), 6); }
int seven(int v) { return bc7Widen(static_cast<uint32_t>(v), 7); }

// The colour at index k of 2^bits between two decoded endpoints.
Rgba mixed(Rgba e0, Rgba e1, int bits, int k) {
    const int w = bc7Weight(bits, static_cast<uint32_t>(k));
    return {bc7Mix(e0.r, e1.r, w), bc7Mix(e0.g, e1.g, w), bc7Mix(e0.b, e1.b, w), bc7Mix(e0.a, e1.a, w)};
}

struct ModeCase {
    const char* name;
    int mode;            // the mode the block is built for
    float largestError;  // of the weighted squared error, summed over the block
    std::function<Rgba(int texel)> colour;
};

// Subset of texel i in partition 13 (top half 0, bottom half 1).
bool bottom(int i) { return i >= 8; }

const ModeCase modeCases[] = {
    // Sixteen opaque colours on one line: mode 6's sixteen entries between
    // odd endpoints (p-bits 1, so that alpha is 255).
    {"ModeSixOneLineOfSixteen", 6, 0.0f,
     [](int i) { return mixed({19, 201, 67, 255}, {243, 35, 195, 255}, 4, i); }},
    // Two opaque lines of eight colours: mode 1's 3-bit indices (6-bit
    // endpoints and a shared p-bit: the widened 7-bit values with equal
    // low bits).
    {"ModeOneTwoLinesOfEight", 1, 0.0f,
     [](int i) {
         return bottom(i) ? mixed({seven(10), seven(80), seven(120), 255}, {seven(90), seven(4), seven(30), 255}, 3, i - 8)
                          : mixed({seven(3), seven(41), seven(15), 255}, {seven(111), seven(121), seven(63), 255}, 3, i);
     }},
    // Two opaque lines of four colours whose endpoints need all 8 bits (an
    // odd and an even endpoint in one subset): mode 3's 7 bits and a p-bit
    // for each endpoint.
    {"ModeThreeTwoLinesOfFourExactEndpoints", 3, 0.0f,
     [](int i) {
         return bottom(i) ? mixed({201, 31, 65, 255}, {16, 230, 110, 255}, 2, (i - 8) % 4)
                          : mixed({5, 101, 251, 255}, {140, 190, 2, 255}, 2, i % 4);
     }},
    // Colour along the rows and alpha down the columns, independent: mode
    // 5's two index sets, 7-bit colour and 8-bit alpha endpoints.
    {"ModeFiveColourAndAlphaApart", 5, 0.0f,
     [](int i) {
         const Rgba c = mixed({seven(20), seven(100), seven(60), 0}, {seven(110), seven(10), seven(126), 0}, 2, i % 4);
         const Rgba a = mixed({0, 0, 0, 37}, {0, 0, 0, 222}, 2, i / 4);
         return Rgba{c.r, c.g, c.b, a.a};
     }},
    // Four colours and eight alphas, independent: mode 4's 3-bit alpha
    // indices (5-bit colour and 6-bit alpha endpoints).
    {"ModeFourEightAlphas", 4, 0.0f,
     [](int i) {
         const auto five = [](int v) { return static_cast<int>(bc7Widen(static_cast<uint32_t>(v), 5)); };
         const Rgba c = mixed({five(3), five(28), five(12), 0}, {five(30), five(2), five(25), 0}, 2, i % 4);
         const Rgba a = mixed({0, 0, 0, six(5)}, {0, 0, 0, six(60)}, 3, 2 * (i / 4) + i % 2);
         return Rgba{c.r, c.g, c.b, a.a};
     }},
    // Eight colours and four alphas, independent: mode 4 with the index
    // selector set, the colour taking the 3-bit indices.
    {"ModeFourEightColours", 4, 0.0f,
     [](int i) {
         const auto five = [](int v) { return static_cast<int>(bc7Widen(static_cast<uint32_t>(v), 5)); };
         const Rgba c = mixed({five(2), five(27), five(9), 0}, {five(29), five(4), five(30), 0}, 3, 2 * (i / 4) + i % 2);
         const Rgba a = mixed({0, 0, 0, six(7)}, {0, 0, 0, six(58)}, 2, i % 4);
         return Rgba{c.r, c.g, c.b, a.a};
     }},
    // Two RGBA lines, alpha moving with colour in each: mode 7 (each
    // endpoint's four channels share a p-bit, so all odd or all even).
    {"ModeSevenTwoRgbaLines", 7, 0.0f,
     [](int i) {
         return bottom(i) ? mixed({six(10), six(50), six(20), six(60)}, {six(41), six(5), six(61), six(9)}, 2, (i - 8) % 4)
                          : mixed({six(63), six(33), six(1), six(3)}, {six(8), six(60), six(40), six(50)}, 2, i % 4);
     }},
};

class Bc7ModeTest : public testing::TestWithParam<ModeCase> {};

TEST_P(Bc7ModeTest, BuiltBlockIsWrittenInItsModeAndComesBack) {
    const ModeCase& c = GetParam();
    RgbaBlock block;
    for (int i = 0; i < 16; ++i) {
        const Rgba colour = c.colour(i);
        block.red[i] = static_cast<float>(colour.r);
        block.green[i] = static_cast<float>(colour.g);
        block.blue[i] = static_cast<float>(colour.b);
        block.alpha[i] = static_cast<float>(colour.a);
    }
    uint8_t encoded[16];
    encodeBc7Block(block, Bc7Quality::normal, encoded);
    ASSERT_NE(encoded[0], 0);
    EXPECT_EQ(std::countr_zero(encoded[0]), c.mode);
    uint8_t decoded[16][4];
    decodeBc7(encoded, decoded[0], 16);
    float error = 0.0f;
    for (int i = 0; i < 16; ++i) {
        const Rgba colour = c.colour(i);
        const int want[4] = {colour.r, colour.g, colour.b, colour.a};
        for (int k = 0; k < 4; ++k) {
            const float d = static_cast<float>(want[k] - decoded[i][k]);
            error += bc7ChannelWeights[k] * d * d;
        }
    }
    EXPECT_LE(error, c.largestError);
    EXPECT_FLOAT_EQ(error, bc7BlockError(block, encoded));
}

INSTANTIATE_TEST_SUITE_P(Modes, Bc7ModeTest, testing::ValuesIn(modeCases),
                         [](const testing::TestParamInfo<ModeCase>& row) { return std::string(row.param.name); });

// Random blocks of several kinds, for the properties every block keeps.
struct RandomKind {
    const char* name;
    bool alpha;
    std::function<float(int texel, int channel, std::mt19937& random)> sample;
};

float uniform(std::mt19937& random, float low, float high) {
    return low + (high - low) * static_cast<float>(random() % 10000) / 9999.0f;
}

const RandomKind randomKinds[] = {
    {"OpaqueNoise", false, [](int, int, std::mt19937& r) { return uniform(r, 0.0f, 255.0f); }},
    {"OpaqueSixteenBitFractions", false, [](int, int, std::mt19937& r) { return uniform(r, 90.0f, 170.0f); }},
    {"OpaqueGentleSlope",
     false, [](int i, int c, std::mt19937& r) { return 128.0f + static_cast<float>((c + 1) * (i % 4 + i / 4)) + uniform(r, 0, 2); }},
    {"AlphaNoise", true, [](int, int, std::mt19937& r) { return uniform(r, 0.0f, 255.0f); }},
    {"AlphaSmoothHeight", true,
     [](int i, int c, std::mt19937& r) {
         return c == 3 ? 100.0f + 6.0f * static_cast<float>(i % 4) + 3.0f * static_cast<float>(i / 4) : uniform(r, 100, 160);
     }},
};

class Bc7RandomTest : public testing::TestWithParam<RandomKind> {};

TEST_P(Bc7RandomTest, OpaqueStaysOpaqueAndDefaultIsNeverWorseThanFast) {
    const RandomKind& kind = GetParam();
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        RgbaBlock block;
        for (int i = 0; i < 16; ++i) {
            block.red[i] = kind.sample(i, 0, random);
            block.green[i] = kind.sample(i, 1, random);
            block.blue[i] = kind.sample(i, 2, random);
            block.alpha[i] = kind.alpha ? kind.sample(i, 3, random) : 255.0f;
        }
        uint8_t normal[16], fast[16];
        encodeBc7Block(block, Bc7Quality::normal, normal);
        encodeBc7Block(block, Bc7Quality::fast, fast);
        EXPECT_LE(bc7BlockError(block, normal), bc7BlockError(block, fast)) << round;
        uint8_t decoded[16][4];
        decodeBc7(normal, decoded[0], 16);
        for (int i = 0; i < 16 && !kind.alpha; ++i) ASSERT_EQ(decoded[i][3], 255) << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Bc7RandomTest, testing::ValuesIn(randomKinds),
                         [](const testing::TestParamInfo<RandomKind>& row) { return std::string(row.param.name); });

TEST(Bc7Encoder, OneColourComesBackWithinALevel) {
    for (int v = 0; v < 256; v += 5) {
        RgbaBlock block;
        for (int i = 0; i < 16; ++i) {
            block.red[i] = static_cast<float>(v);
            block.green[i] = static_cast<float>(255 - v);
            block.blue[i] = static_cast<float>((v * 7) % 256);
            block.alpha[i] = v % 2 ? 255.0f : static_cast<float>(v / 2);
        }
        uint8_t encoded[16], decoded[16][4];
        encodeBc7Block(block, Bc7Quality::normal, encoded);
        decodeBc7(encoded, decoded[0], 16);
        for (int i = 0; i < 16; ++i) {
            EXPECT_NEAR(decoded[i][0], block.red[i], 1.0f) << v;
            EXPECT_NEAR(decoded[i][1], block.green[i], 1.0f) << v;
            EXPECT_NEAR(decoded[i][2], block.blue[i], 1.0f) << v;
            EXPECT_NEAR(decoded[i][3], block.alpha[i], 1.0f) << v;
        }
    }
}

}  // namespace
