#include "detect/green_convention.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "tests/unit/generated_normal_maps.h"

namespace {

using namespace normalmaps;
constexpr GreenConvention gl = GreenConvention::openGl;
constexpr GreenConvention dx = GreenConvention::directX;
constexpr GreenConvention unknown = GreenConvention::unknown;

// An Image made by a recipe, released on destruction.
struct Map {
    Image image;
    explicit Map(const MapRecipe& recipe) : image(makeMap(recipe)) {}
    Map(const Map&) = delete;
    Map& operator=(const Map&) = delete;
    ~Map() { resetImage(&image); }
};

struct DetectCase {
    const char* name;
    MapRecipe recipe;
    GreenConvention want;
};

void PrintTo(const DetectCase& c, std::ostream* os) { *os << c.name; }

class DetectTest : public ::testing::TestWithParam<DetectCase> {};

// Every map is told as it was made, with confidence, and its green-inverted
// copy as the other convention; what cannot be told is unknown both ways.
TEST_P(DetectTest, ToldAsMadeAndFlippedByGreenInversion) {
    const DetectCase& c = GetParam();
    Map map(c.recipe);
    const ConventionGuess guess = detectGreenConvention(map.image);
    EXPECT_EQ(guess.convention, c.want) << "confidence " << guess.confidence;
    if (c.want != unknown) {
        EXPECT_GE(guess.confidence, 0.5f);
    }
    EXPECT_GE(guess.confidence, 0.0f);
    EXPECT_LE(guess.confidence, 1.0f);
    invertGreen(map.image);
    const ConventionGuess flipped = detectGreenConvention(map.image);
    EXPECT_EQ(flipped.convention, opposite(c.want)) << "confidence " << flipped.confidence;
}

MapRecipe recipe(Relief relief, GreenConvention convention, int32_t width, int32_t height, uint32_t seed,
                 int pieces = 1) {
    return {relief, convention, width, height, seed, pieces};
}

MapRecipe withLayout(MapRecipe r, Layout layout) {
    r.layout = layout;
    return r;
}

MapRecipe faint(MapRecipe r, double amplitude, int grain) {
    r.amplitude = amplitude;
    r.grain = grain;
    return r;
}

MapRecipe mirrored(MapRecipe r) {
    r.mirrored = true;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    GeneratedMaps, DetectTest,
    ::testing::Values(DetectCase{"noise_opengl", recipe(Relief::noise, gl, 256, 256, 1), gl},
                      DetectCase{"noise_directx", recipe(Relief::noise, dx, 256, 256, 2), dx},
                      DetectCase{"bricks_islands_opengl", recipe(Relief::bricks, gl, 256, 256, 3, 3), gl},
                      DetectCase{"bricks_directx", recipe(Relief::bricks, dx, 256, 192, 4), dx},
                      DetectCase{"rivets_islands_directx", recipe(Relief::rivets, dx, 192, 128, 5, 2), dx},
                      DetectCase{"strokes_opengl", recipe(Relief::strokes, gl, 160, 256, 6), gl},
                      DetectCase{"strokes_islands_directx", recipe(Relief::strokes, dx, 256, 256, 7, 3), dx},
                      DetectCase{"cones_islands_opengl", recipe(Relief::cones, gl, 256, 256, 8, 2), gl},
                      DetectCase{"cones_directx", recipe(Relief::cones, dx, 200, 200, 9), dx},
                      DetectCase{"bottom_up_bgra_opengl",
                                 withLayout(recipe(Relief::noise, gl, 128, 96, 10), Layout::bgra32BottomUp), gl},
                      DetectCase{"bottom_up_bgra_directx",
                                 withLayout(recipe(Relief::rivets, dx, 128, 128, 11), Layout::bgra32BottomUp), dx},
                      // 16-bit samples are read as they are; alpha (noise here) is not read.
                      DetectCase{"sixteen_bit_noise_opengl",
                                 withLayout(recipe(Relief::noise, gl, 128, 128, 22), Layout::rgb48), gl},
                      DetectCase{"sixteen_bit_alpha_bricks_islands_directx",
                                 withLayout(recipe(Relief::bricks, dx, 192, 160, 23, 2), Layout::rgba64), dx},
                      DetectCase{"eight_bit_alpha_cones_directx",
                                 withLayout(recipe(Relief::cones, dx, 160, 160, 24), Layout::rgba32), dx},
                      DetectCase{"faint_grainy_rivets_opengl", faint(recipe(Relief::rivets, gl, 256, 256, 12), 0.2, 3),
                                 gl},
                      DetectCase{"faint_noise_directx", faint(recipe(Relief::noise, dx, 256, 256, 13), 0.05, 0), dx},
                      // Large enough to be shared out among threads.
                      DetectCase{"large_noise_opengl", recipe(Relief::noise, gl, 1600, 1400, 14), gl},

                      DetectCase{"planks", recipe(Relief::planks, gl, 256, 256, 15), unknown},
                      DetectCase{"planks_islands", recipe(Relief::planks, dx, 256, 256, 16, 3), unknown},
                      DetectCase{"stripes_islands", recipe(Relief::stripes, gl, 256, 256, 17, 3), unknown},
                      DetectCase{"flat", recipe(Relief::flat, gl, 64, 64, 18), unknown},
                      DetectCase{"photo", recipe(Relief::photo, gl, 256, 256, 19), unknown},
                      DetectCase{"greyscale_height", recipe(Relief::greyscale, gl, 256, 256, 20), unknown},
                      DetectCase{"mirrored_half_pasted", mirrored(recipe(Relief::noise, gl, 256, 256, 21)), unknown}),
    [](const ::testing::TestParamInfo<DetectCase>& row) { return std::string(row.param.name); });

struct ReasonCase {
    const char* name;
    MapRecipe recipe;
    UnknownReason reason;
    const char* text;
};

void PrintTo(const ReasonCase& c, std::ostream* os) { *os << c.name; }

class UnknownReasonTest : public ::testing::TestWithParam<ReasonCase> {};

// An unknown answer says why, in the words --detect prints, with the
// confidence of the stronger reading below the threshold (none at all for a
// flat picture or one that is no normal map).
TEST_P(UnknownReasonTest, SaysWhy) {
    const ReasonCase& c = GetParam();
    Map map(c.recipe);
    const ConventionGuess guess = detectGreenConvention(map.image);
    EXPECT_EQ(guess.convention, unknown);
    EXPECT_EQ(guess.reason, c.reason);
    EXPECT_EQ(unknownReasonText(guess), c.text);
    EXPECT_LT(guess.confidence, 0.1f);
    if (c.reason == UnknownReason::flat || c.reason == UnknownReason::notNormalMap) {
        EXPECT_EQ(guess.confidence, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, UnknownReasonTest,
    ::testing::Values(ReasonCase{"flat", recipe(Relief::flat, gl, 96, 64, 50), UnknownReason::flat, "flat"},
                      ReasonCase{"height_map", recipe(Relief::greyscale, gl, 128, 128, 51), UnknownReason::notNormalMap,
                                 "not a normal map: 0% unit-length normals"},
                      ReasonCase{"planks_islands", recipe(Relief::planks, dx, 256, 256, 52, 3),
                                 UnknownReason::tooLittleRelief, "too little relief"},
                      ReasonCase{"mirrored_half_pasted", mirrored(recipe(Relief::cones, gl, 256, 128, 53)),
                                 UnknownReason::partsDisagree, "parts disagree"}),
    [](const ::testing::TestParamInfo<ReasonCase>& row) { return std::string(row.param.name); });

// A told answer has no reason.
TEST(DetectGreenConvention, ToldAnswerHasNoReason) {
    Map map(recipe(Relief::rivets, gl, 128, 128, 54));
    const ConventionGuess guess = detectGreenConvention(map.image);
    ASSERT_EQ(guess.convention, gl);
    EXPECT_EQ(guess.reason, UnknownReason::none);
    EXPECT_EQ(unknownReasonText(guess), "");
}

// Relief so faint that 8-bit rounding all but erases it is told from its
// 16-bit samples (and read the other way with green inverted).
TEST(DetectGreenConvention, FaintReliefIsToldAtSixteenBits) {
    MapRecipe faintCones = faint(recipe(Relief::cones, gl, 256, 256, 55), 0.01, 0);
    Map eightBit(faintCones);
    EXPECT_EQ(detectGreenConvention(eightBit.image).convention, unknown);
    Map sixteenBit(withLayout(faintCones, Layout::rgb48));
    EXPECT_EQ(detectGreenConvention(sixteenBit.image).convention, gl);
    invertGreen(sixteenBit.image);
    EXPECT_EQ(detectGreenConvention(sixteenBit.image).convention, dx);
}

// The picture with every pixel repeated into 2 x 2 and, when `oddEdges`, a
// last row and column of noise.
Image doubled(const Image& small, bool oddEdges) {
    const size_t step = pixelBytes(small);
    Image big = small;
    big.width = 2 * small.width + (oddEdges ? 1 : 0);
    big.height = 2 * small.height + (oddEdges ? 1 : 0);
    big.rowBytes = static_cast<int32_t>(step) * big.width;
    big.dataSize = static_cast<uint32_t>(static_cast<size_t>(big.rowBytes) * static_cast<size_t>(big.height));
    big.pixels = static_cast<uint8_t*>(std::malloc(big.dataSize));
    for (size_t at = 0; at < big.dataSize; ++at) big.pixels[at] = static_cast<uint8_t>(hash(at, 7, 8));
    for (int32_t r = 0; r < 2 * small.height; ++r)
        for (int32_t c = 0; c < 2 * small.width; ++c)
            std::memcpy(big.pixels + static_cast<size_t>(r) * static_cast<size_t>(big.rowBytes) + c * step,
                        small.pixels + static_cast<size_t>(r / 2) * static_cast<size_t>(small.rowBytes) + c / 2 * step,
                        step);
    return big;
}

// A picture more than 2048 pixels on its shorter side is read through its
// 2 x 2 averages (an odd last row and column left out): one made of doubled
// pixels reads exactly as the picture it was made from.
TEST(DetectGreenConvention, LargePicturesAreReadThroughTheirAverages) {
    for (const Layout layout : {Layout::bgra32BottomUp, Layout::rgba64}) {
        Map small(withLayout(recipe(Relief::noise, dx, 1030, 1025, 60), layout));
        const ConventionGuess want = detectGreenConvention(small.image);
        ASSERT_EQ(want.convention, dx);
        Image big = doubled(small.image, layout == Layout::rgba64);
        const ConventionGuess got = detectGreenConvention(big);
        std::free(big.pixels);
        EXPECT_EQ(got.convention, want.convention);
        EXPECT_EQ(got.confidence, want.confidence);
        EXPECT_EQ(got.score, want.score);
        EXPECT_EQ(got.agreement, want.agreement);
        EXPECT_EQ(got.normalShare, want.normalShare);
    }
}

// Only the relation of red and green is seen: inverting red reads as the
// other convention, inverting both as the same.
TEST(DetectGreenConvention, RedInversionReadsAsTheOtherConvention) {
    Map map(recipe(Relief::cones, gl, 256, 256, 30));
    for (size_t at = 0; at < map.image.dataSize; at += 3)
        map.image.pixels[at] = static_cast<uint8_t>(255 - map.image.pixels[at]);
    EXPECT_EQ(detectGreenConvention(map.image).convention, dx);
    invertGreen(map.image);
    EXPECT_EQ(detectGreenConvention(map.image).convention, gl);
}

// Padding after each row is skipped: the same answer as without it.
TEST(DetectGreenConvention, RowPaddingIsSkipped) {
    Map map(recipe(Relief::strokes, dx, 130, 100, 31));
    const ConventionGuess plain = detectGreenConvention(map.image);
    const size_t rowBytes = static_cast<size_t>(map.image.rowBytes), pad = 5;
    Image padded = map.image;
    padded.rowPad = static_cast<int32_t>(pad);
    padded.dataSize = static_cast<uint32_t>((rowBytes + pad) * 100 - pad);  // the last row has no padding
    padded.pixels = static_cast<uint8_t*>(std::malloc(padded.dataSize));
    for (size_t r = 0; r < 100; ++r) {
        uint8_t* row = padded.pixels + r * (rowBytes + pad);
        std::memcpy(row, map.image.pixels + r * rowBytes, rowBytes);
        if (r < 99) std::memset(row + rowBytes, 0x11, pad);
    }
    const ConventionGuess guess = detectGreenConvention(padded);
    std::free(padded.pixels);
    EXPECT_EQ(guess.convention, dx);
    EXPECT_EQ(guess.convention, plain.convention);
    EXPECT_FLOAT_EQ(guess.confidence, plain.confidence);
}

struct RecordCase {
    const char* name;
    std::function<void(Image&)> spoil;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class DetectRecordTest : public ::testing::TestWithParam<RecordCase> {};

// Records that cannot be analysed give "unknown" without reading a byte
// outside the buffer (the sanitizer build checks that).
TEST_P(DetectRecordTest, GivesUnknown) {
    Map map(recipe(Relief::noise, gl, 64, 64, 40));
    ASSERT_EQ(detectGreenConvention(map.image).convention, gl);
    Image spoiled = map.image;
    GetParam().spoil(spoiled);
    const ConventionGuess guess = detectGreenConvention(spoiled);
    EXPECT_EQ(guess.convention, unknown);
    EXPECT_EQ(guess.confidence, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(BadRecords, DetectRecordTest,
                         ::testing::Values(RecordCase{"no_pixels", [](Image& i) { i.pixels = nullptr; }},
                                           RecordCase{"sixteen_bits_a_pixel", [](Image& i) { i.bitsPerPixel = 16; }},
                                           RecordCase{"sixteen_bit_samples_in_24_bits",
                                                      [](Image& i) { i.sampleBits = 16; }},
                                           RecordCase{"one_byte_short", [](Image& i) { i.dataSize -= 1; }},
                                           RecordCase{"padding_past_the_end", [](Image& i) { i.rowPad = 3; }},
                                           RecordCase{"negative_padding", [](Image& i) { i.rowPad = -3; }},
                                           RecordCase{"too_narrow", [](Image& i) { i.width = 3; }},
                                           RecordCase{"too_low", [](Image& i) { i.height = 3; }},
                                           RecordCase{"negative_width", [](Image& i) { i.width = -64; }}),
                         [](const ::testing::TestParamInfo<RecordCase>& row) { return std::string(row.param.name); });

}  // namespace
