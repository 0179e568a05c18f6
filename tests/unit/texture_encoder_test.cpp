// The mip chain (level sizes, footprints, averaging and re-normalising) and
// the texture encoder that lays the levels out, read back with the blocks'
// own decoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "encode/block_decode.h"
#include "encode/mip_chain.h"
#include "encode/texture_encoder.h"
#include "tests/unit/generated_normal_maps.h"

namespace {

using Sizes = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(MipChain, LevelsHalveEachSideDownToOne) {
    const struct {
        uint32_t width, height, maxLevels;
        Sizes sizes;
    } cases[] = {
        {1, 1, 0, {{1, 1}}},
        {8, 8, 0, {{8, 8}, {4, 4}, {2, 2}, {1, 1}}},
        {5, 3, 0, {{5, 3}, {2, 1}, {1, 1}}},
        {7, 1, 0, {{7, 1}, {3, 1}, {1, 1}}},
        {1, 9, 0, {{1, 9}, {1, 4}, {1, 2}, {1, 1}}},
        {513, 512, 0, {{513, 512}, {256, 256}, {128, 128}, {64, 64}, {32, 32}, {16, 16}, {8, 8}, {4, 4}, {2, 2}, {1, 1}}},
        {9, 5, 2, {{9, 5}, {4, 2}}},
        {9, 5, 1, {{9, 5}}},
        {9, 5, 30, {{9, 5}, {4, 2}, {2, 1}, {1, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at most " + std::to_string(c.maxLevels));
        const uint32_t levels = mipLevelCount(c.width, c.height, c.maxLevels);
        Sizes sizes;
        for (uint32_t level = 0; level < levels; ++level)
            sizes.emplace_back(mipSide(c.width, level), mipSide(c.height, level));
        EXPECT_EQ(sizes, c.sizes);
    }
}

TEST(MipChain, FootprintsShareEachSourcePixelByTheAreaItCovers) {
    const struct {
        uint32_t source, destination;
        std::vector<std::pair<uint32_t, std::vector<double>>> taps;  // first pixel and weights, per destination pixel
    } cases[] = {
        {4, 2, {{0, {0.5, 0.5}}, {2, {0.5, 0.5}}}},
        {1, 1, {{0, {1.0}}}},
        {3, 1, {{0, {1 / 3.0, 1 / 3.0, 1 / 3.0}}}},
        // 2.5 source pixels a destination pixel.
        {5, 2, {{0, {0.4, 0.4, 0.2}}, {2, {0.2, 0.4, 0.4}}}},
        // 7/3 source pixels a destination pixel.
        {7, 3, {{0, {3 / 7.0, 3 / 7.0, 1 / 7.0}}, {2, {2 / 7.0, 3 / 7.0, 2 / 7.0}}, {4, {1 / 7.0, 3 / 7.0, 3 / 7.0}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.source) + " to " + std::to_string(c.destination));
        const std::vector<FootprintTaps> taps = footprintTaps(c.source, c.destination);
        ASSERT_EQ(taps.size(), c.taps.size());
        for (size_t i = 0; i < taps.size(); ++i) {
            EXPECT_EQ(taps[i].first, c.taps[i].first);
            ASSERT_EQ(taps[i].count, c.taps[i].second.size());
            for (uint32_t k = 0; k < taps[i].count; ++k) EXPECT_NEAR(taps[i].weight[k], c.taps[i].second[k], 1e-7);
        }
    }
    // Every destination pixel's shares add up to one, and the footprints
    // tile the source.
    for (uint32_t source = 1; source <= 41; ++source) {
        const uint32_t destination = std::max(1u, source / 2);
        double covered = 0;
        for (const FootprintTaps& tap : footprintTaps(source, destination)) {
            double sum = 0;
            for (uint32_t k = 0; k < tap.count; ++k) sum += tap.weight[k];
            EXPECT_NEAR(sum, 1.0, 1e-6) << source;
            covered += sum * source / destination;
        }
        EXPECT_NEAR(covered, source, 1e-4);
    }
}

TEST(MipChain, AnOddFootprintIsTheAreaWeightedAverage) {
    // A 5 x 5 level whose vector at (x, y) is (x, y, 1) shrinks to 2 x 2.
    VectorLevel top;
    top.width = top.height = 5;
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 5; ++x) top.xyz.insert(top.xyz.end(), {static_cast<float>(x), static_cast<float>(y), 1.0f});
    VectorLevel kept, unit;
    ASSERT_TRUE(makeNextLevel(rowsOf(top), true, 1, kept));
    ASSERT_TRUE(makeNextLevel(rowsOf(top), false, 2, unit));
    ASSERT_EQ(kept.width, 2u);
    ASSERT_EQ(kept.height, 2u);
    // Pixel (1, 0) covers columns 2.5 to 5 and rows 0 to 2.5: column 2 by
    // half, rows 0 and 1 whole and row 2 by half. x = (0.5 x 2 + 3 + 4) /
    // 2.5 = 3.2, y = (0 + 1 + 0.5 x 2) / 2.5 = 0.8.
    const float* pixel = kept.xyz.data() + 3;
    EXPECT_NEAR(pixel[0], 3.2f, 1e-5);
    EXPECT_NEAR(pixel[1], 0.8f, 1e-5);
    EXPECT_NEAR(pixel[2], 1.0f, 1e-6);
    const double length = std::sqrt(3.2 * 3.2 + 0.8 * 0.8 + 1.0);
    EXPECT_NEAR(unit.xyz[3], 3.2 / length, 1e-6);
    EXPECT_NEAR(unit.xyz[4], 0.8 / length, 1e-6);
    EXPECT_NEAR(unit.xyz[5], 1.0 / length, 1e-6);
}

// ------------------------------------------------------------- textures --

// An 8-bit red-green-blue picture, top row first.
struct Picture {
    Image image{};
    Picture(uint32_t width, uint32_t height, int sampleBits = 8) {
        EXPECT_TRUE(startImage(&image, width, height, sampleBits, false));
    }
    ~Picture() { resetImage(&image); }
    void set(uint32_t x, uint32_t y, uint32_t r, uint32_t g, uint32_t b) {
        const size_t at = (size_t{y} * static_cast<uint32_t>(image.width) + x) * 3;
        if (isSixteenBit(image)) {
            const uint16_t words[3] = {static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b)};
            std::memcpy(image.pixels + 2 * at, words, sizeof words);
        } else {
            image.pixels[at] = static_cast<uint8_t>(r);
            image.pixels[at + 1] = static_cast<uint8_t>(g);
            image.pixels[at + 2] = static_cast<uint8_t>(b);
        }
    }
};

std::vector<uint8_t> encode(const Image& image, TextureFormat format, uint32_t maxLevels = 0, bool keepLength = false) {
    const uint32_t levels = mipLevelCount(static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height), maxLevels);
    std::vector<uint8_t> out(static_cast<size_t>(textureBytes(format, static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height), levels)));
    EXPECT_TRUE(encodeTexture(image, {format, maxLevels, keepLength}, out.data(), out.size()));
    return out;
}

TEST(TextureEncoder, LevelsTakeTheBytesOfTheirBlocks) {
    const struct {
        TextureFormat format;
        uint64_t bytes;
    } cases[] = {
        // 5 x 3, 2 x 1, 1 x 1: 2 blocks, then 1 and 1.
        {TextureFormat::bc1, (2 + 1 + 1) * 8},
        {TextureFormat::bc3, (2 + 1 + 1) * 16},
        {TextureFormat::bc5, (2 + 1 + 1) * 16},
        {TextureFormat::bgra8, (15 + 2 + 1) * 4},
        {TextureFormat::bc4, (2 + 1 + 1) * 8},
        {TextureFormat::rg8, (15 + 2 + 1) * 2},
        {TextureFormat::rgba8, (15 + 2 + 1) * 4},
        {TextureFormat::rg16, (15 + 2 + 1) * 4},
        {TextureFormat::rgba16, (15 + 2 + 1) * 8},
        {TextureFormat::bc7, (2 + 1 + 1) * 16},
    };
    for (const auto& c : cases) EXPECT_EQ(textureBytes(c.format, 5, 3, 3), c.bytes);
}

// The top level is the picture's samples as they are (not re-normalised),
// whatever the Image's layout.
TEST(TextureEncoder, TheTopLevelIsThePictureAsGiven) {
    const uint8_t rgb[2][3][3] = {{{255, 255, 255}, {0, 10, 20}, {128, 128, 255}},
                                  {{200, 50, 255}, {1, 2, 3}, {90, 180, 70}}};
    std::vector<uint8_t> expected;  // blue, green, red, 255
    for (const auto& row : rgb)
        for (const auto& p : row) expected.insert(expected.end(), {p[2], p[1], p[0], 255});

    Picture topDown(3, 2);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x) topDown.set(x, y, rgb[y][x][0], rgb[y][x][1], rgb[y][x][2]);

    // 32-bit blue-green-red-padding, bottom row first, rows padded by 4 bytes.
    Image bottomUp{};
    std::vector<uint8_t> memory(2 * (3 * 4 + 4), 0xEE);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x) {
            uint8_t* p = memory.data() + (1 - y) * 16 + 4 * x;
            p[0] = rgb[y][x][2];
            p[1] = rgb[y][x][1];
            p[2] = rgb[y][x][0];
        }
    bottomUp.pixels = memory.data();
    bottomUp.width = 3;
    bottomUp.height = 2;
    bottomUp.bitsPerPixel = 32;
    bottomUp.rowBytes = 12;
    bottomUp.rowPad = 4;
    bottomUp.bgrOrder = 1;
    bottomUp.bottomUp = 1;
    bottomUp.dataSize = static_cast<uint32_t>(memory.size());

    // 16-bit samples reduce to the nearest 8-bit ones.
    Picture wide(3, 2, 16);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            wide.set(x, y, widenSample(rgb[y][x][0]) + (x ? 100 : 0), widenSample(rgb[y][x][1]) - (y ? 100 : 0),
                     widenSample(rgb[y][x][2]));

    EXPECT_EQ(encode(topDown.image, TextureFormat::bgra8, 1), expected);
    EXPECT_EQ(encode(bottomUp, TextureFormat::bgra8, 1), expected);
    EXPECT_EQ(encode(wide.image, TextureFormat::bgra8, 1), expected);
}

// x = (v - 128) / 127 for each sample, as the re-normalisation decodes.
std::array<double, 3> decoded(const uint8_t* bgra) {
    return {(bgra[2] - 128) / 127.0, (bgra[1] - 128) / 127.0, (bgra[0] - 128) / 127.0};
}

TEST(TextureEncoder, EachLevelIsTheAverageOfTheOneAboveReNormalised) {
    // Four pixels: +X, +Z, -X (0 decodes as -128/127), and a tilted one.
    const uint8_t samples[4][3] = {{255, 128, 128}, {128, 128, 255}, {0, 128, 128}, {200, 60, 220}};
    Picture picture(2, 2);
    for (int i = 0; i < 4; ++i) picture.set(i % 2, i / 2, samples[i][0], samples[i][1], samples[i][2]);
    double sum[3] = {};
    for (const auto& s : samples)
        for (int k = 0; k < 3; ++k) sum[k] += (s[k] - 128) / 127.0 / 4;
    const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    auto stored = [](double c) { return static_cast<int>(c * 127 + 128); };

    const std::vector<uint8_t> unit = encode(picture.image, TextureFormat::bgra8);
    ASSERT_EQ(unit.size(), (4u + 1u) * 4);
    const uint8_t* level1 = unit.data() + 16;
    EXPECT_NEAR(level1[2], stored(sum[0] / length), 1);
    EXPECT_NEAR(level1[1], stored(sum[1] / length), 1);
    EXPECT_NEAR(level1[0], stored(sum[2] / length), 1);

    const std::vector<uint8_t> kept = encode(picture.image, TextureFormat::bgra8, 0, true);
    EXPECT_NEAR(kept[16 + 2], stored(sum[0]), 1);
    EXPECT_NEAR(kept[16 + 1], stored(sum[1]), 1);
    EXPECT_NEAR(kept[16 + 0], stored(sum[2]), 1);

    // BC5 stores X and Y of unit vectors whatever keepLength says: its
    // one-pixel level is one exact value a channel.
    const std::vector<uint8_t> bc5 = encode(picture.image, TextureFormat::bc5, 0, true);
    uint8_t red[16], green[16];
    decodeBc4Channel(bc5.data() + 16, false, red, 4, 1);
    decodeBc4Channel(bc5.data() + 24, false, green, 4, 1);
    EXPECT_EQ(red[0], level1[2]);
    EXPECT_EQ(green[0], level1[1]);
}

TEST(TextureEncoder, EveryLevelHoldsUnitVectors) {
    Image map = normalmaps::makeMap({normalmaps::Relief::noise, GreenConvention::openGl, 37, 23, 5, 0});
    const std::vector<uint8_t> texture = encode(map, TextureFormat::bgra8);
    size_t at = 0;
    for (uint32_t level = 0; level < mipLevelCount(37, 23, 0); ++level) {
        const uint32_t w = mipSide(37, level), h = mipSide(23, level);
        for (uint32_t i = 0; i < w * h; ++i, at += 4) {
            if (level == 0) continue;  // the picture as given
            const auto v = decoded(texture.data() + at);
            const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            // Each component is cut down by less than one level.
            EXPECT_NEAR(length, 1.0, std::sqrt(3.0) / 127) << "level " << level << " pixel " << i;
        }
    }
    EXPECT_EQ(at, texture.size());
    resetImage(&map);
}

TEST(TextureEncoder, Bc5AndBc1LevelsStayCloseToTheirSamples) {
    Image map = normalmaps::makeMap({normalmaps::Relief::rivets, GreenConvention::openGl, 30, 18, 3, 0});
    const std::vector<uint8_t> reference = encode(map, TextureFormat::bgra8);
    const std::vector<uint8_t> bc5 = encode(map, TextureFormat::bc5), bc1 = encode(map, TextureFormat::bc1);
    size_t pixelAt = 0, bc5At = 0, bc1At = 0;
    double bc5Squares = 0, bc1Squares = 0, count = 0;
    for (uint32_t level = 0; level < mipLevelCount(30, 18, 0); ++level) {
        const uint32_t w = mipSide(30, level), h = mipSide(18, level);
        for (uint32_t by = 0; by < (h + 3) / 4; ++by)
            for (uint32_t bx = 0; bx < (w + 3) / 4; ++bx, bc5At += 16, bc1At += 8) {
                uint8_t red[16], green[16], colours[16][4];
                decodeBc4Channel(bc5.data() + bc5At, false, red, 4, 1);
                decodeBc4Channel(bc5.data() + bc5At + 8, false, green, 4, 1);
                decodeBc1(bc1.data() + bc1At, colours[0], 16, false, Widen565::repeatTopBits);
                for (uint32_t i = 0; i < 16; ++i) {
                    // Edge blocks repeat the last row and column.
                    const uint32_t x = std::min(4 * bx + i % 4, w - 1), y = std::min(4 * by + i / 4, h - 1);
                    const uint8_t* p = reference.data() + pixelAt + 4 * (size_t{y} * w + x);
                    EXPECT_NEAR(red[i], p[2], 6) << "level " << level;
                    EXPECT_NEAR(green[i], p[1], 6) << "level " << level;
                    for (int k = 0; k < 3; ++k) {
                        bc1Squares += (colours[i][k] - p[2 - k]) * (colours[i][k] - p[2 - k]);
                    }
                    bc5Squares += (red[i] - p[2]) * (red[i] - p[2]) + (green[i] - p[1]) * (green[i] - p[1]);
                    count += 1;
                }
            }
        pixelAt += size_t{4} * w * h;
    }
    EXPECT_EQ(bc5At, bc5.size());
    EXPECT_EQ(bc1At, bc1.size());
    EXPECT_LE(std::sqrt(bc5Squares / (2 * count)), 1.5);
    EXPECT_LE(std::sqrt(bc1Squares / (3 * count)), 4.0);
    resetImage(&map);
}

// A picture with alpha, its alpha replaced by a smooth height.
void smoothAlpha(Image& image) {
    const bool wide = isSixteenBit(image);
    const size_t step = pixelBytes(image);
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const double h = 0.5 + 0.4 * std::sin(x / 5.0) * std::cos(y / 7.0);
            uint8_t* p = image.pixels + (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * step;
            if (wide) {
                const uint16_t word = static_cast<uint16_t>(h * 65535);
                std::memcpy(p + 6, &word, 2);
            } else {
                p[3] = static_cast<uint8_t>(h * 255);
            }
        }
}

TEST(TextureEncoder, KeptAlphaIsAveragedDownTheChainAndOtherwiseFull) {
    Image picture{};
    ASSERT_TRUE(startImage(&picture, 4, 2, 8, true));
    const uint8_t alphas[8] = {0, 10, 200, 255, 7, 30, 100, 99};
    for (size_t i = 0; i < 8; ++i) {
        picture.pixels[4 * i] = picture.pixels[4 * i + 1] = 128;
        picture.pixels[4 * i + 2] = 255;
        picture.pixels[4 * i + 3] = alphas[i];
    }
    const uint32_t levels = 3;  // 4 x 2, 2 x 1, 1 x 1
    std::vector<uint8_t> kept(static_cast<size_t>(textureBytes(TextureFormat::bgra8, 4, 2, levels)));
    TextureOptions options{TextureFormat::bgra8, 0, false};
    options.keepAlpha = true;
    ASSERT_TRUE(encodeTexture(picture, options, kept.data(), kept.size()));
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(kept[4 * i + 3], alphas[i]) << i;
    // Level 1: (0 + 10 + 7 + 30) / 4 = 11.75 and (200 + 255 + 100 + 99) / 4 = 163.5, rounded.
    EXPECT_EQ(kept[32 + 3], 12);
    EXPECT_EQ(kept[36 + 3], 164);
    // Level 2 averages the unrounded level 1: (11.75 + 163.5) / 2 = 87.625.
    EXPECT_EQ(kept[40 + 3], 88);
    ASSERT_EQ(kept.size(), 44u);

    const std::vector<uint8_t> dropped = encode(picture, TextureFormat::bgra8);
    for (size_t i = 0; i < dropped.size(); i += 4) EXPECT_EQ(dropped[i + 3], 255) << i;
    for (size_t i = 0; i < dropped.size(); i += 4) EXPECT_EQ(dropped[i + 2], kept[i + 2]) << i;
    resetImage(&picture);
}

struct Bc7MapCase {
    const char* name;
    normalmaps::MapRecipe recipe;
    bool smoothHeight;      // alpha replaced by a smooth height (else as the recipe leaves it)
    double meanDegrees;     // most mean angle between decoded and reference normals, all levels
    double worstDegrees;    // most angle at any pixel
    double alphaRms;        // most RMS alpha error, in levels of 255
};

// Bounds measured once (the figures in the comments, over every level) with
// about a quarter more allowed, so that a change that loses precision in a
// mode or a level shows. The small generated maps are harder than real ones
// at the same size: their levels below the top pack whole domes and bricks
// into a block, which is where the worst pixels are.
const Bc7MapCase bc7Maps[] = {
    // Smooth domes: 0.91 mean, 10.5 worst (level 2).
    {"SmoothRivets", {normalmaps::Relief::rivets, GreenConvention::openGl, 64, 40, 3, 0}, false, 1.15, 13.0, 0.0},
    // Noisy: an 8-bit grain of 6 levels on every sample: 1.25 mean, 9.7 worst.
    {"NoisyBricks", {normalmaps::Relief::bricks, GreenConvention::openGl, 61, 37, 5, 0, normalmaps::Layout::rgb24, false, 1.0, 6},
     false, 1.6, 12.5, 0.0},
    // Three octaves of noise with a smooth height in alpha, 8 and 16 bits:
    // 2.8 and 3.1 mean, 24 and 20 worst, alpha 3.9 and 4.3 levels.
    {"HeightInAlpha", {normalmaps::Relief::noise, GreenConvention::openGl, 48, 48, 7, 0, normalmaps::Layout::rgba32}, true,
     3.5, 30.0, 4.9},
    {"HeightInAlphaSixteenBit", {normalmaps::Relief::noise, GreenConvention::directX, 45, 30, 8, 0, normalmaps::Layout::rgba64},
     true, 3.9, 25.0, 5.4},
    // The generated maps' own alpha: 1.37 mean, 4.7 worst, alpha 3.8.
    {"MapsOwnAlpha", {normalmaps::Relief::stripes, GreenConvention::openGl, 32, 32, 9, 0, normalmaps::Layout::rgba32}, false,
     1.7, 6.0, 4.8},
};

class Bc7Maps : public testing::TestWithParam<Bc7MapCase> {};

double degreesBetween(const uint8_t* rgb, const uint8_t* bgra) {
    double dot = 0, la = 0, lb = 0;
    for (int k = 0; k < 3; ++k) {
        const double u = (rgb[k] - 128) / 127.0, v = (bgra[2 - k] - 128) / 127.0;
        dot += u * v;
        la += u * u;
        lb += v * v;
    }
    const double c = la > 0 && lb > 0 ? dot / std::sqrt(la * lb) : 1.0;
    return std::acos(std::clamp(c, -1.0, 1.0)) * 57.29577951308232;  // degrees a radian
}

// Every level of a BC7 texture decodes close to the uncompressed texture of
// the same options, normals by angle and alpha by level.
TEST_P(Bc7Maps, EveryLevelDecodesCloseToTheUncompressedLevel) {
    const Bc7MapCase& c = GetParam();
    Image map = normalmaps::makeMap(c.recipe);
    if (c.smoothHeight) smoothAlpha(map);
    const uint32_t width = static_cast<uint32_t>(map.width), height = static_cast<uint32_t>(map.height);
    const uint32_t levels = mipLevelCount(width, height, 0);
    TextureOptions options{TextureFormat::bgra8, 0, false};
    options.keepAlpha = true;
    std::vector<uint8_t> reference(static_cast<size_t>(textureBytes(TextureFormat::bgra8, width, height, levels)));
    ASSERT_TRUE(encodeTexture(map, options, reference.data(), reference.size()));
    options.format = TextureFormat::bc7;
    std::vector<uint8_t> bc7(static_cast<size_t>(textureBytes(TextureFormat::bc7, width, height, levels)));
    ASSERT_TRUE(encodeTexture(map, options, bc7.data(), bc7.size()));
    size_t pixelAt = 0, blockAt = 0;
    double angles = 0, worst = 0, alphaSquares = 0, count = 0;
    for (uint32_t level = 0; level < levels; ++level) {
        const uint32_t w = mipSide(width, level), h = mipSide(height, level);
        for (uint32_t by = 0; by < (h + 3) / 4; ++by)
            for (uint32_t bx = 0; bx < (w + 3) / 4; ++bx, blockAt += 16) {
                uint8_t texels[16][4];
                decodeBc7(bc7.data() + blockAt, texels[0], 16);
                for (uint32_t i = 0; i < 16; ++i) {
                    const uint32_t x = 4 * bx + i % 4, y = 4 * by + i / 4;
                    if (x >= w || y >= h) continue;
                    const uint8_t* p = reference.data() + pixelAt + 4 * (size_t{y} * w + x);
                    const double angle = degreesBetween(texels[i], p);
                    angles += angle;
                    worst = std::max(worst, angle);
                    alphaSquares += (texels[i][3] - p[3]) * (texels[i][3] - p[3]);
                    count += 1;
                }
            }
        pixelAt += size_t{4} * w * h;
    }
    EXPECT_EQ(blockAt, bc7.size());
    EXPECT_EQ(pixelAt, reference.size());
    EXPECT_LE(angles / count, c.meanDegrees);
    EXPECT_LE(worst, c.worstDegrees);
    EXPECT_LE(std::sqrt(alphaSquares / count), c.alphaRms);
    resetImage(&map);
}

INSTANTIATE_TEST_SUITE_P(Maps, Bc7Maps, testing::ValuesIn(bc7Maps),
                         [](const testing::TestParamInfo<Bc7MapCase>& row) { return std::string(row.param.name); });

TEST(TextureEncoder, RefusesWhatItCannotEncode) {
    Picture picture(4, 4);
    std::vector<uint8_t> out(static_cast<size_t>(textureBytes(TextureFormat::bc5, 4, 4, 3)));
    EXPECT_FALSE(encodeTexture(picture.image, {TextureFormat::bc5, 0, false}, out.data(), out.size() - 1));
    Image empty{};
    EXPECT_FALSE(encodeTexture(empty, {TextureFormat::bc5, 0, false}, out.data(), out.size()));
    // Rows that would reach past the pixels.
    Image shortRows = picture.image;
    shortRows.dataSize -= 1;
    EXPECT_FALSE(encodeTexture(shortRows, {TextureFormat::bc5, 0, false}, out.data(), out.size()));
}

}  // namespace

namespace {

// The plain layouts hold the top level's samples in the order red, green
// (blue, alpha), least significant byte first: 8-bit pictures widened
// (v x 257) for 16-bit layouts, 16-bit ones reduced for 8-bit layouts.
TEST(TextureEncoder, PlainLayoutsHoldTheSamples) {
    const uint16_t rgb[2][3] = {{0, 10, 255}, {200, 128, 3}};
    const struct {
        TextureFormat format;
        int channels, bytes;  // samples a pixel; bytes a sample
    } cases[] = {
        {TextureFormat::rg8, 2, 1},
        {TextureFormat::rgba8, 4, 1},
        {TextureFormat::rg16, 2, 2},
        {TextureFormat::rgba16, 4, 2},
    };
    for (int bits : {8, 16}) {
        Picture picture(2, 1, bits);
        // 16-bit samples a little off their widened value, which reducing drops.
        const auto wide = [](uint32_t v) { return v == 255 ? 65532u : v * 257 + 3; };
        const auto sample = [&](uint16_t v) { return bits == 16 ? static_cast<uint16_t>(wide(v)) : v; };
        for (uint32_t x = 0; x < 2; ++x) picture.set(x, 0, sample(rgb[x][0]), sample(rgb[x][1]), sample(rgb[x][2]));
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(bits) + "-bit picture, " + std::to_string(c.channels) + " x " +
                         std::to_string(c.bytes));
            std::vector<uint8_t> expected;
            for (const auto& pixel : rgb)
                for (int k = 0; k < c.channels; ++k) {
                    // Alpha is opaque.
                    const uint32_t v8 = k == 3 ? 255 : pixel[k];
                    const uint32_t v16 = k == 3 ? 65535 : bits == 16 ? wide(v8) : v8 * 257;
                    if (c.bytes == 1) expected.push_back(static_cast<uint8_t>(v8));
                    else expected.insert(expected.end(), {static_cast<uint8_t>(v16), static_cast<uint8_t>(v16 >> 8)});
                }
            EXPECT_EQ(encode(picture.image, c.format, 1), expected);
        }
    }
}

// BC4 holds the picture's red; its lower levels are plain averages, not
// the re-normalised vectors of a normal map.
TEST(TextureEncoder, Bc4HoldsRedAndAveragesItsLevels) {
    Picture picture(2, 1);
    picture.set(0, 0, 40, 40, 40);
    picture.set(1, 0, 120, 0, 255);
    const std::vector<uint8_t> texture = encode(picture.image, TextureFormat::bc4);
    ASSERT_EQ(texture.size(), 16u);
    uint8_t top[16], below[16];
    decodeBc4Channel(texture.data(), false, top, 4, 1);
    decodeBc4Channel(texture.data() + 8, false, below, 4, 1);
    EXPECT_NEAR(top[0], 40, 1);
    EXPECT_NEAR(top[1], 120, 1);
    // (40 + 120) / 2; re-normalised as a grey vector it would be about 54.
    EXPECT_NEAR(below[0], 80, 1);
}

}  // namespace
