// The BC4 (and so BC5) and BC1 block encoders, judged by decoding what they
// write: exact where the format can be exact, never worse than the plain fit
// they start from, and close to the best block there is.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "encode/block_decode.h"
#include "encode/block_encoders.h"

namespace {

using Samples = std::array<float, 16>;

const float (&asArray(const Samples& s))[16] { return *reinterpret_cast<const float(*)[16]>(s.data()); }

// The squared error of a BC4 block as decoded against the samples.
double decodedError(const Samples& samples, const uint8_t* block) {
    uint8_t decoded[16];
    decodeBc4Channel(block, false, decoded, 4, 1);
    double sum = 0;
    for (int i = 0; i < 16; ++i) sum += (samples[i] - decoded[i]) * (samples[i] - decoded[i]);
    return sum;
}

// The squared error of endpoints e0, e1 with each sample at its nearest entry.
double pairError(const Samples& samples, int e0, int e1) {
    const uint8_t endpoints[2] = {static_cast<uint8_t>(e0), static_cast<uint8_t>(e1)};
    const auto palette = bc4Palette(endpoints, false);
    double sum = 0;
    for (float v : samples) {
        double least = 1e30;
        for (uint8_t p : palette) least = std::min(least, (v - p) * static_cast<double>(v - p));
        sum += least;
    }
    return sum;
}

// The least error any BC4 block can have, by trying every endpoint pair.
double bestPossibleError(const Samples& samples) {
    double best = 1e30;
    for (int e0 = 0; e0 < 256; ++e0)
        for (int e1 = 0; e1 < 256; ++e1) best = std::min(best, pairError(samples, e0, e1));
    return best;
}

struct GeneratedBlock {
    const char* name;
    std::function<float(int i, std::mt19937& random)> sample;
};

int below(std::mt19937& random, int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); }

const GeneratedBlock bc4Blocks[] = {
    {"ramp", [](int i, std::mt19937&) { return static_cast<float>(60 + 9 * i); }},
    {"gentle slope", [](int i, std::mt19937&) { return static_cast<float>(126 + (i % 4) + i / 4); }},
    {"noise in a narrow range", [](int, std::mt19937& r) { return static_cast<float>(120 + below(r, 12)); }},
    {"noise over the whole range", [](int, std::mt19937& r) { return static_cast<float>(below(r, 256)); }},
    {"a cluster with outliers at both ends",
     [](int i, std::mt19937& r) { return i == 3 ? 0.0f : i == 12 ? 255.0f : static_cast<float>(100 + below(r, 20)); }},
    {"16-bit samples", [](int, std::mt19937& r) { return static_cast<float>(30000 + below(r, 9000)) * 255.0f / 65535.0f; }},
    {"two clusters", [](int i, std::mt19937& r) { return static_cast<float>((i % 3 ? 40 : 210) + below(r, 6)); }},
};

TEST(Bc4Encoder, IsExactWhereTheFormatIs) {
    const Samples cases[] = {
        Samples{},                                                         // all 0
        [] { Samples s; s.fill(255.0f); return s; }(),                      // all 255
        [] { Samples s; s.fill(131.0f); return s; }(),                      // one value
        [] { Samples s; for (int i = 0; i < 16; ++i) s[i] = i % 2 ? 40.0f : 200.0f; return s; }(),  // two values
        // The endpoints and their first steps: (6 x 210 + 0) / 7 = 180, (210 + 6 x 0) / 7 = 30.
        [] { Samples s; for (int i = 0; i < 16; ++i) s[i] = std::array{210.0f, 0.0f, 180.0f, 30.0f}[i % 4]; return s; }(),
        // 0 and 255 with one value between: the six-value mode's fixed entries.
        [] { Samples s; for (int i = 0; i < 16; ++i) s[i] = std::array{0.0f, 255.0f, 97.0f}[i % 3]; return s; }(),
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        uint8_t block[8];
        encodeBc4Block(asArray(cases[n]), block);
        EXPECT_EQ(decodedError(cases[n], block), 0.0) << "case " << n;
    }
}

TEST(Bc4Encoder, IsNoWorseThanTheRangeAndCloseToTheBestBlock) {
    double encodedSum = 0, bestSum = 0;
    for (const GeneratedBlock& kind : bc4Blocks) {
        std::mt19937 random(7);
        for (int trial = 0; trial < 4; ++trial) {
            SCOPED_TRACE(std::string(kind.name) + " #" + std::to_string(trial));
            Samples samples;
            for (int i = 0; i < 16; ++i) samples[i] = kind.sample(i, random);
            uint8_t block[8];
            encodeBc4Block(asArray(samples), block);
            const double encoded = decodedError(samples, block);
            const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
            const int e0 = static_cast<int>(std::lround(*high)), e1 = static_cast<int>(std::lround(*low));
            EXPECT_LE(encoded, pairError(samples, e0, e1) + 1e-3);
            const double best = bestPossibleError(samples);
            // A local fit: within twice the best, and a level a sample
            // more where the best is tiny.
            EXPECT_LE(encoded, 2.0 * best + 16.0);
            encodedSum += encoded;
            bestSum += best;
        }
    }
    // Over all the blocks (full-range noise weighing most), within a
    // quarter of the best there is.
    EXPECT_LE(encodedSum, 1.25 * bestSum);
}

// ------------------------------------------------------------------ BC1 --

ColourBlock colourBlockOf(const std::function<std::array<float, 3>(int i)>& colour) {
    ColourBlock block;
    for (int i = 0; i < 16; ++i) {
        const auto c = colour(i);
        block.red[i] = c[0];
        block.green[i] = c[1];
        block.blue[i] = c[2];
    }
    return block;
}

double decodedColourError(const ColourBlock& block, const uint8_t* encoded) {
    uint8_t decoded[16][4];
    decodeBc1(encoded, decoded[0], 16, false, measuredWidening);
    double sum = 0;
    for (int i = 0; i < 16; ++i) {
        const float c[3] = {block.red[i], block.green[i], block.blue[i]};
        for (int k = 0; k < 3; ++k) sum += (c[k] - decoded[i][k]) * static_cast<double>(c[k] - decoded[i][k]);
    }
    return sum;
}

uint16_t colourEndpoint(const uint8_t* block, int which) {
    return static_cast<uint16_t>(block[2 * which] | (block[2 * which + 1] << 8));
}

// Four-colour mode, or one colour with every index 0: index 3 of a
// three-colour block (black, or transparent) is never used.
void expectFourColourMode(const uint8_t* block) {
    const uint16_t c0 = colourEndpoint(block, 0), c1 = colourEndpoint(block, 1);
    EXPECT_GE(c0, c1);
    if (c0 == c1) {
        for (int row = 0; row < 4; ++row) EXPECT_EQ(block[4 + row], 0) << "c0 == c1 with indices";
    }
}

int widen(int v, int bits) { return bits == 5 ? (v << 3) | (v >> 2) : (v << 2) | (v >> 4); }

// The least error of one colour in a block: per channel the best endpoint
// (index 0) or the best (2 c0 + c1) / 3 (index 2), the index shared by the
// channels.
double bestOneColourError(const std::array<int, 3>& colour) {
    constexpr int bits[3] = {5, 6, 5};
    double plain = 0, middle = 0;
    for (int k = 0; k < 3; ++k) {
        int bestPlain = 1 << 30, bestMiddle = 1 << 30;
        for (int a = 0; a < (1 << bits[k]); ++a) {
            const int d = widen(a, bits[k]) - colour[k];
            bestPlain = std::min(bestPlain, d * d);
            for (int b = 0; b < (1 << bits[k]); ++b) {
                const int m = (2 * widen(a, bits[k]) + widen(b, bits[k])) / 3 - colour[k];
                bestMiddle = std::min(bestMiddle, m * m);
            }
        }
        plain += bestPlain;
        middle += bestMiddle;
    }
    return 16 * std::min(plain, middle);
}

TEST(ColourEncoder, OneColourTakesTheBestBlockThereIs) {
    const std::array<int, 3> colours[] = {{0, 0, 0}, {255, 255, 255}, {128, 128, 255}, {1, 2, 3}, {130, 77, 201}, {127, 129, 250}};
    for (const auto& colour : colours) {
        SCOPED_TRACE(std::to_string(colour[0]) + "," + std::to_string(colour[1]) + "," + std::to_string(colour[2]));
        const ColourBlock block = colourBlockOf([&](int) {
            return std::array{static_cast<float>(colour[0]), static_cast<float>(colour[1]), static_cast<float>(colour[2])};
        });
        uint8_t encoded[8];
        encodeColourBlock(block, encoded);
        expectFourColourMode(encoded);
        EXPECT_EQ(decodedColourError(block, encoded), bestOneColourError(colour));
    }
}

TEST(ColourEncoder, IsExactForTheFourColoursOfA565Pair) {
    // Endpoints (20, 40, 10) and (3, 50, 28) in 5:6:5, widened and
    // interpolated as the decoders do.
    const int first[3] = {widen(20, 5), widen(40, 6), widen(10, 5)};
    const int second[3] = {widen(3, 5), widen(50, 6), widen(28, 5)};
    const ColourBlock block = colourBlockOf([&](int i) {
        std::array<float, 3> c;
        for (int k = 0; k < 3; ++k) {
            const int levels[4] = {first[k], second[k], (2 * first[k] + second[k]) / 3, (first[k] + 2 * second[k]) / 3};
            c[k] = static_cast<float>(levels[(i * 7) % 4]);
        }
        return c;
    });
    uint8_t encoded[8];
    encodeColourBlock(block, encoded);
    expectFourColourMode(encoded);
    EXPECT_EQ(decodedColourError(block, encoded), 0.0);
}

// The corners of the colours' bounding box as endpoints (each of the four
// diagonals), rounded to 5:6:5: a plain fit the encoder must never lose to.
double boundingBoxError(const ColourBlock& block) {
    const float* channel[3] = {block.red, block.green, block.blue};
    float low[3], high[3];
    for (int k = 0; k < 3; ++k) {
        low[k] = *std::min_element(channel[k], channel[k] + 16);
        high[k] = *std::max_element(channel[k], channel[k] + 16);
    }
    constexpr int top[3] = {31, 63, 31};
    double best = 1e30;
    for (int flip = 0; flip < 4; ++flip) {
        // Flip green (bit 0) and blue (bit 1) against red.
        int a[3], b[3];
        for (int k = 0; k < 3; ++k) {
            const bool swapped = k > 0 && (flip >> (k - 1)) & 1;
            a[k] = static_cast<int>(std::lround((swapped ? high[k] : low[k]) * static_cast<float>(top[k]) / 255.0f));
            b[k] = static_cast<int>(std::lround((swapped ? low[k] : high[k]) * static_cast<float>(top[k]) / 255.0f));
        }
        uint8_t encoded[8] = {};
        const uint16_t c0 = static_cast<uint16_t>((a[0] << 11) | (a[1] << 5) | a[2]);
        const uint16_t c1 = static_cast<uint16_t>((b[0] << 11) | (b[1] << 5) | b[2]);
        encoded[0] = static_cast<uint8_t>(c0);
        encoded[1] = static_cast<uint8_t>(c0 >> 8);
        encoded[2] = static_cast<uint8_t>(c1);
        encoded[3] = static_cast<uint8_t>(c1 >> 8);
        // The four colours, read off as the first pixel of blocks whose
        // first index is 0, 1, 2 and 3.
        uint8_t colours[4][3];
        for (int index = 0; index < 4; ++index) {
            encoded[4] = static_cast<uint8_t>(index);
            uint8_t pixels[16][4];
            decodeBc1(encoded, pixels[0], 16, true, measuredWidening);
            std::copy(pixels[0], pixels[0] + 3, colours[index]);
        }
        double sum = 0;
        for (int i = 0; i < 16; ++i) {
            double least = 1e30;
            for (const auto& c : colours) {
                double e = 0;
                for (int k = 0; k < 3; ++k) e += (channel[k][i] - c[k]) * static_cast<double>(channel[k][i] - c[k]);
                least = std::min(least, e);
            }
            sum += least;
        }
        best = std::min(best, sum);
    }
    return best;
}

struct ColourCase {
    const char* name;
    std::function<std::array<float, 3>(int i, std::mt19937& random)> colour;
    double rmsBound;  // per channel, in levels
};

float f(int v) { return static_cast<float>(v); }

const ColourCase colourCases[] = {
    {"a normal map's gentle slope",
     [](int i, std::mt19937&) { return std::array{120.0f + f(i), 140.0f - f(i) / 2.0f, 250.0f - f(i % 4)}; }, 2.5},
    {"steep normals",
     // A ramp of 210 levels in red: four colours leave about 70 / sqrt(12)
     // in red, spread here over three channels.
     [](int i, std::mt19937&) { return std::array{20.0f + f(14 * i), 128.0f, 140.0f + 6.0f * f(i % 5)}; }, 12.0},
    {"noise", [](int, std::mt19937& r) {
         return std::array{static_cast<float>(below(r, 256)), static_cast<float>(below(r, 256)), static_cast<float>(below(r, 256))};
     }, 60.0},
    {"16-bit samples", [](int i, std::mt19937& r) {
         return std::array{(30000.0f + f(500 * i)) * 255.0f / 65535.0f, static_cast<float>(below(r, 65536)) * 255.0f / 65535.0f / 8 + 100,
                           250.5f};
     }, 6.0},
};

TEST(ColourEncoder, IsNoWorseThanTheBoundingBoxAndStaysInFourColourMode) {
    for (const ColourCase& c : colourCases) {
        std::mt19937 random(11);
        for (int trial = 0; trial < 6; ++trial) {
            SCOPED_TRACE(std::string(c.name) + " #" + std::to_string(trial));
            const ColourBlock block = colourBlockOf([&](int i) { return c.colour(i, random); });
            uint8_t encoded[8];
            encodeColourBlock(block, encoded);
            expectFourColourMode(encoded);
            const double error = decodedColourError(block, encoded);
            EXPECT_LE(error, boundingBoxError(block) + 1e-3);
            EXPECT_LE(std::sqrt(error / 48), c.rmsBound);
        }
    }
}

// The error measure the encoders report: blocks as graphics hardware shows
// them (endpoints widened by repeating their top bits), fractions kept.
struct MeasureCase {
    const char* name;
    bool colour;                   // a BC1 colour block, else a BC4 block (of the first sample)
    std::array<float, 3> sample;   // every pixel's
    std::array<uint8_t, 8> block;
    float error;
};

class BlockErrorTest : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(BlockErrorTest, MeasuresTheBlockAsDecoded) {
    const MeasureCase& c = GetParam();
    if (c.colour) {
        const ColourBlock colours = colourBlockOf([&](int) { return c.sample; });
        EXPECT_FLOAT_EQ(colourBlockError(colours, c.block.data()), c.error);
    } else {
        Samples samples;
        samples.fill(c.sample[0]);
        EXPECT_FLOAT_EQ(bc4BlockError(asArray(samples), c.block.data()), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BlockErrorTest,
    ::testing::Values(
        // c0 white, every index 0: 255 (with the low bits zero it would be
        // 248, 252, 248, an error of 16 x (49 + 9 + 49)).
        MeasureCase{"Bc1WhiteIsWhite", true, {255, 255, 255}, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0.0f},
        // c0 = (16, 32, 1), 132, 130, 8; c1 black; every index 2, two thirds
        // of c0: 88, 86, 5 (with the low bits zero 85, 85, 5).
        MeasureCase{"Bc1MiddleColour", true, {88, 86, 5}, {0x01, 0x84, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}, 0.0f},
        MeasureCase{"Bc1FractionsKept", true, {88.5f, 86, 5}, {0x01, 0x84, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}, 16 * 0.25f},
        // e0 = 200, e1 = 13, every index 2: (6 x 200 + 13) / 7 = 173.3 is 173.
        MeasureCase{"Bc4MiddleEntryTruncates", false, {173.5f, 0, 0}, {200, 13, 0x92, 0x24, 0x49, 0x92, 0x24, 0x49},
                    16 * 0.25f}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Bc3AlphaBlock, DecodesTo255Everywhere) {
    uint8_t block[8];
    opaqueAlphaBlock(block);
    uint8_t values[16];
    decodeBc4Channel(block, false, values, 4, 1);
    for (uint8_t v : values) EXPECT_EQ(v, 255);
}

}  // namespace
