// The TIFF both encoders write: which pictures are taken, and the tags and
// strips decided for those that are.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/codecs.h"
#include "platform/tiff_encoding.h"

namespace {

const uint8_t pixel[8] = {};

// Rows of `width` x `height` pixels, packed, top row first.
PixelRows rowsOf(uint32_t width, uint32_t height, uint32_t channels, uint32_t bits, bool floats = false) {
    PixelRows rows;
    rows.floats = floats;
    rows.first = pixel;
    rows.stride = static_cast<ptrdiff_t>(size_t{width} * channels * (bits / 8));
    rows.width = width;
    rows.height = height;
    rows.channels = channels;
    rows.sampleBits = bits;
    return rows;
}

struct RefusedCase {
    const char* name;
    PixelRows rows;
};

class TiffEncodingRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(TiffEncodingRefuses, LeavesTheEncodingAlone) {
    TiffEncoding encoding;
    encoding.rowsPerStrip = 77;
    EXPECT_FALSE(tiffEncodingFor(GetParam().rows, encoding));
    EXPECT_EQ(encoding.rowsPerStrip, 77u);
}

PixelRows without(PixelRows rows) {
    rows.first = nullptr;
    return rows;
}

PixelRows withStride(PixelRows rows, ptrdiff_t stride) {
    rows.stride = stride;
    return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, TiffEncodingRefuses,
    ::testing::Values(RefusedCase{"NoRows", without(rowsOf(4, 4, 3, 8))},
                      RefusedCase{"WidthZero", rowsOf(0, 4, 3, 8)},
                      RefusedCase{"HeightZero", rowsOf(4, 0, 3, 8)},
                      RefusedCase{"TwoChannels", rowsOf(4, 4, 2, 8)},
                      RefusedCase{"FiveChannels", rowsOf(4, 4, 5, 8)},
                      RefusedCase{"TwelveBits", rowsOf(4, 4, 3, 12)},
                      RefusedCase{"ThirtyTwoBits", rowsOf(4, 4, 3, 32)},
                      RefusedCase{"ColourFloats", rowsOf(4, 4, 3, 32, true)},
                      RefusedCase{"SixteenBitFloats", rowsOf(4, 4, 1, 16, true)},
                      RefusedCase{"ThirtyTwoBitGreyIntegers", rowsOf(4, 4, 1, 32)},
                      // 2^28 pixels is the image limit.
                      RefusedCase{"BeyondTheImageLimit", rowsOf(1u << 15, (1u << 13) + 1, 3, 8)},
                      // 2^28 pixels of 8 bytes: a row of 2 GiB.
                      RefusedCase{"RowOfTwoGigabytes", rowsOf(1u << 28, 1, 4, 16)},
                      RefusedCase{"RowsOverlap", withStride(rowsOf(4, 2, 3, 8), 11)},
                      RefusedCase{"RowsOverlapBottomUp", withStride(rowsOf(4, 2, 3, 8), -11)}),
    [](const auto& param) { return std::string(param.param.name); });

struct TakenCase {
    const char* name;
    PixelRows rows;
    uint32_t rowsPerStrip, strips;
    size_t rowBytes;
    uint16_t extraSamples;
    int deflateLevel;
    uint16_t photometric = 2;   // RGB
    uint16_t sampleFormat = 1;  // unsigned integers
    uint16_t predictor = 2;     // horizontal differencing
};

class TiffEncodingTakes : public ::testing::TestWithParam<TakenCase> {};

TEST_P(TiffEncodingTakes, DecidesTheFile) {
    const TakenCase& c = GetParam();
    TiffEncoding e;
    ASSERT_TRUE(tiffEncodingFor(c.rows, e));
    EXPECT_EQ(e.width, c.rows.width);
    EXPECT_EQ(e.height, c.rows.height);
    EXPECT_EQ(e.samplesPerPixel, c.rows.channels);
    EXPECT_EQ(e.bitsPerSample, c.rows.sampleBits);
    EXPECT_EQ(e.rowsPerStrip, c.rowsPerStrip);
    EXPECT_EQ(e.strips, c.strips);
    EXPECT_EQ(e.rowBytes, c.rowBytes);
    EXPECT_EQ(e.extraSamples, c.extraSamples);
    EXPECT_EQ(e.deflateLevel, c.deflateLevel);
    EXPECT_EQ(e.photometric, c.photometric);
    EXPECT_EQ(e.sampleFormat, c.sampleFormat);
    EXPECT_EQ(e.predictor, c.predictor);
    // Every file alike: contiguous, top row first, Deflate, alpha
    // unassociated.
    EXPECT_EQ(e.planarConfiguration, 1);
    EXPECT_EQ(e.orientation, 1);
    EXPECT_EQ(e.compression, 8);
    EXPECT_EQ(e.extraSampleKind, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, TiffEncodingTakes,
    ::testing::Values(
        // 1 MiB / 3000 bytes = 349 rows a strip; 3000 rows in 9 strips.
        TakenCase{"ColourEightBits", rowsOf(1000, 3000, 3, 8), 349, 9, 3000, 0, 7},
        // A picture smaller than a strip is one strip of its own rows.
        TakenCase{"AlphaSixteenBits", rowsOf(10, 5, 4, 16), 5, 1, 80, 1, 6},
        // A row longer than a strip still gets a strip of its own.
        TakenCase{"RowsLongerThanAStrip", rowsOf(200000, 3, 3, 16), 1, 3, 1200000, 0, 6},
        TakenCase{"OneRowAnyStride", withStride(rowsOf(4, 1, 3, 8), 0), 1, 1, 12, 0, 7},
        TakenCase{"BottomUp", withStride(rowsOf(4, 2, 3, 8), -12), 2, 1, 12, 0, 7},
        // Grey: BlackIsZero; floats with the floating-point predictor.
        TakenCase{"GreyEightBits", rowsOf(6, 3, 1, 8), 3, 1, 6, 0, 7, 1},
        TakenCase{"GreySixteenBits", rowsOf(1000, 700, 1, 16), 524, 2, 2000, 0, 6, 1},
        TakenCase{"GreyFloats", rowsOf(1000, 700, 1, 32, true), 262, 3, 4000, 0, 6, 1, 3, 3}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
