#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "adjust/adjust.h"

namespace {

using Rgb = std::array<uint8_t, 3>;

// A one-pixel 24-bit Image owning a copy of `pixel`.
struct OnePixel {
    Image image{};
    explicit OnePixel(Rgb pixel, int bitsPerPixel = 24) {
        const int bytes = bitsPerPixel / 8;
        image.pixels = static_cast<uint8_t*>(std::calloc(4, 1));
        std::memcpy(image.pixels, pixel.data(), 3);
        if (bytes == 4) image.pixels[3] = 0x5A;
        image.width = image.height = 1;
        image.bitsPerPixel = bitsPerPixel;
        image.rowBytes = bytes;
        image.dataSize = static_cast<uint32_t>(bytes);
    }
    ~OnePixel() { resetImage(&image); }
    Rgb rgb() const { return {image.pixels[0], image.pixels[1], image.pixels[2]}; }
};

AdjustOptions renormalizeAt(float scale) { return {0, 0, 0, 1, scale}; }

struct PixelCase {
    const char* name;
    Rgb in;
    AdjustOptions options;
    Rgb out;
};

class AdjustPixelTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(AdjustPixelTest, GivesExactBytes) {
    const PixelCase& c = GetParam();
    OnePixel p(c.in);
    adjustPixels(&p.image, c.options);
    EXPECT_EQ(p.rgb(), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, AdjustPixelTest,
    ::testing::Values(
        PixelCase{"CentreStays", {128, 128, 128}, renormalizeAt(1), {128, 128, 128}},
        PixelCase{"Black", {0, 0, 0}, renormalizeAt(1), {54, 54, 54}},
        PixelCase{"White", {255, 255, 255}, renormalizeAt(1), {201, 201, 201}},
        PixelCase{"MinusXEncodesAsOne", {0, 128, 128}, renormalizeAt(1), {1, 128, 128}},
        PixelCase{"MinusZEncodesAsOne", {128, 128, 0}, renormalizeAt(1), {128, 128, 1}},
        PixelCase{"UnitXStays", {255, 128, 128}, renormalizeAt(1), {255, 128, 128}},
        PixelCase{"UnitZStays", {128, 128, 255}, renormalizeAt(1), {128, 128, 255}},
        PixelCase{"Mixed", {200, 50, 255}, renormalizeAt(1), {183, 68, 225}},
        PixelCase{"ScaleTwo", {200, 50, 255}, renormalizeAt(2), {201, 47, 193}},
        PixelCase{"ScaleMinusOne", {200, 50, 255}, renormalizeAt(-1), {72, 187, 225}},
        PixelCase{"ScaleZeroKeepsZ", {200, 50, 255}, renormalizeAt(0), {128, 128, 255}},
        PixelCase{"ScaleZeroFlatBlue", {17, 240, 128}, renormalizeAt(0), {128, 128, 128}},
        PixelCase{"InvertGreen", {100, 150, 200}, {0, 1, 0, 0, 1}, {100, 105, 200}},
        PixelCase{"InvertRed", {10, 20, 30}, {1, 0, 0, 0, 1}, {245, 20, 30}},
        PixelCase{"InvertBlue", {10, 20, 30}, {0, 0, 1, 0, 1}, {10, 20, 225}},
        PixelCase{"InvertBeforeRenormalize", {100, 150, 200}, {1, 0, 0, 1, 1}, {170, 162, 242}},
        PixelCase{"ScaleIgnoredWithoutRenormalize", {200, 50, 255}, {0, 0, 0, 0, 7.5f}, {200, 50, 255}},
        PixelCase{"SwitchHoldingTwoIsOff", {10, 20, 30}, {2, 2, 2, 2, 1}, {10, 20, 30}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(AdjustPixels, ThirtyTwoBitImagesAreAdjustedAndKeepTheFourthByte) {
    OnePixel p({100, 150, 200}, 32);
    adjustPixels(&p.image, {1, 1, 0, 0, 1.0f});
    EXPECT_EQ(p.rgb(), (Rgb{155, 105, 200}));
    EXPECT_EQ(p.image.pixels[3], 0x5A);
}

TEST(AdjustPixels, LockedImageIsLeftAlone) {
    OnePixel p({100, 150, 200});
    p.image.adjustLocked = 1;
    adjustPixels(&p.image, {1, 1, 1, 1, 2.0f});
    EXPECT_EQ(p.rgb(), (Rgb{100, 150, 200}));
}

TEST(AdjustPixels, OtherDepthsAreLeftAlone) {
    OnePixel p({100, 150, 200});
    p.image.bitsPerPixel = 16;
    adjustPixels(&p.image, {1, 1, 1, 0, 1.0f});
    EXPECT_EQ(p.rgb(), (Rgb{100, 150, 200}));
}

TEST(AdjustPixels, WalkStopsAtTheFirstPixelPastDataSize) {
    // 2 x 2 pixels, but dataSize covers the first row and one byte more.
    Image image{};
    image.pixels = static_cast<uint8_t*>(std::malloc(12));
    for (int i = 0; i < 12; ++i) image.pixels[i] = static_cast<uint8_t>(10 * i);
    image.width = image.height = 2;
    image.bitsPerPixel = 24;
    image.rowBytes = 6;
    image.dataSize = 8;
    adjustPixels(&image, {1, 1, 1, 0, 1.0f});
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image.pixels[i], 255 - 10 * i) << i;
    for (int i = 6; i < 12; ++i) EXPECT_EQ(image.pixels[i], 10 * i) << i;
    resetImage(&image);
}

TEST(AdjustPixels, RowPaddingIsSkipped) {
    // 1 x 2 pixels with two padding bytes after each row.
    Image image{};
    const uint8_t bytes[10] = {1, 2, 3, 77, 77, 4, 5, 6, 88, 88};
    image.pixels = static_cast<uint8_t*>(std::malloc(sizeof bytes));
    std::memcpy(image.pixels, bytes, sizeof bytes);
    image.width = 1;
    image.height = 2;
    image.bitsPerPixel = 24;
    image.rowBytes = 3;
    image.rowPad = 2;
    image.dataSize = sizeof bytes;
    adjustPixels(&image, {1, 0, 0, 0, 1.0f});
    const uint8_t expected[10] = {254, 2, 3, 77, 77, 251, 5, 6, 88, 88};
    EXPECT_EQ(0, std::memcmp(image.pixels, expected, sizeof expected));
    resetImage(&image);
}

TEST(VectorMath, ZeroVectorNormalisesToZero) {
    const Vector3 n = normalized({0.0f, 0.0f, 0.0f});
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 0.0f);
    EXPECT_EQ(vectorLength({3.0f, 4.0f, 12.0f}), 13.0);
}

}  // namespace

namespace {

TEST(AdjustPixels, ThirtyTwoBitImagesAreRenormalisedToo) {
    OnePixel p({200, 50, 255}, 32);
    adjustPixels(&p.image, renormalizeAt(1));
    EXPECT_EQ(p.rgb(), (Rgb{183, 68, 225}));
    EXPECT_EQ(p.image.pixels[3], 0x5A);
}

TEST(AdjustPixels, LargePicturesGiveTheSameBytesAsRowByRow) {
    // Large enough to be shared out among threads; each row alone is not.
    constexpr int32_t width = 2048, height = 1100;
    const size_t rowBytes = 3 * width;
    Image big{};
    big.pixels = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    for (size_t i = 0; i < rowBytes * height; ++i) big.pixels[i] = static_cast<uint8_t>(i * 7 + i / 4099);
    big.width = width;
    big.height = height;
    big.bitsPerPixel = 24;
    big.rowBytes = static_cast<int32_t>(rowBytes);
    big.dataSize = static_cast<uint32_t>(rowBytes * height - 4);  // the last pixel is cut short
    std::vector<uint8_t> original(big.pixels, big.pixels + rowBytes * height);
    const AdjustOptions options{1, 0, 1, 1, 1.5f};
    adjustPixels(&big, options);
    for (int32_t row = 0; row < height; ++row) {
        Image one{};
        one.pixels = original.data() + static_cast<size_t>(row) * rowBytes;
        one.width = width;
        one.height = 1;
        one.bitsPerPixel = 24;
        one.rowBytes = static_cast<int32_t>(rowBytes);
        one.dataSize = static_cast<uint32_t>(row + 1 < height ? rowBytes : rowBytes - 4);
        adjustPixels(&one, options);
    }
    EXPECT_EQ(0, std::memcmp(big.pixels, original.data(), rowBytes * height));
    // The cut-short last pixel kept its bytes.
    EXPECT_EQ(big.pixels[rowBytes * height - 1], static_cast<uint8_t>((rowBytes * height - 1) * 7 + (rowBytes * height - 1) / 4099));
    resetImage(&big);
}

}  // namespace

namespace {

// Every red-green-blue triple once: 4096 x 4096 pixels, red-green-blue.
std::vector<uint8_t> everyTriple() {
    std::vector<uint8_t> pixels(size_t{3} << 24);
    for (uint32_t v = 0; v < (1u << 24); ++v) {
        pixels[3 * size_t{v}] = static_cast<uint8_t>(v >> 16);
        pixels[3 * size_t{v} + 1] = static_cast<uint8_t>(v >> 8);
        pixels[3 * size_t{v} + 2] = static_cast<uint8_t>(v);
    }
    return pixels;
}

struct BgrCase {
    const char* name;
    AdjustOptions options;
};
void PrintTo(const BgrCase& c, std::ostream* out) { *out << c.name; }

class AdjustBgrRows : public ::testing::TestWithParam<BgrCase> {};

// The streaming road adjusts blue-green-red rows as the files hold them; each
// pixel must get the bytes the whole-picture road gives it, for every input.
TEST_P(AdjustBgrRows, GiveEveryTripleTheBytesOfAdjustPixels) {
    constexpr size_t side = 4096, pad = 5, stride = 3 * side + pad;
    const AdjustOptions& options = GetParam().options;
    std::vector<uint8_t> rgb = everyTriple();
    // The same pixels blue first, each row followed by padding that must
    // stay as it is.
    std::vector<uint8_t> bgr(stride * side, 0xA5);
    for (size_t row = 0; row < side; ++row)
        for (size_t x = 0; x < side; ++x)
            for (size_t c = 0; c < 3; ++c) bgr[row * stride + 3 * x + c] = rgb[3 * (row * side + x) + 2 - c];

    Image image{};
    image.pixels = rgb.data();
    image.width = image.height = static_cast<int32_t>(side);
    image.bitsPerPixel = 24;
    image.rowBytes = static_cast<int32_t>(3 * side);
    image.dataSize = static_cast<uint32_t>(rgb.size());
    adjustPixels(&image, options);
    adjustBgrRows(bgr.data(), side, side, stride, options);

    size_t differing = 0, padChanged = 0;
    for (size_t row = 0; row < side; ++row) {
        const uint8_t* b = bgr.data() + row * stride;
        for (size_t x = 0; x < side; ++x) {
            const uint8_t* a = rgb.data() + 3 * (row * side + x);
            differing += a[0] != b[3 * x + 2] || a[1] != b[3 * x + 1] || a[2] != b[3 * x];
        }
        for (size_t i = 3 * side; i < stride; ++i) padChanged += b[i] != 0xA5;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(padChanged, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Options, AdjustBgrRows,
    ::testing::Values(BgrCase{"InvertGreen", {0, 1, 0, 0, 1.0f}}, BgrCase{"InvertRedAndBlue", {1, 0, 1, 0, 1.0f}},
                      BgrCase{"Renormalize", {0, 0, 0, 1, 1.0f}},
                      BgrCase{"InvertGreenRenormalizeScaleTwo", {0, 1, 0, 1, 2.0f}},
                      BgrCase{"InvertRedRenormalizeScaleMinus", {1, 0, 0, 1, -1.75f}},
                      BgrCase{"RenormalizeScaleZero", {0, 0, 1, 1, 0.0f}},
                      BgrCase{"RenormalizeScaleInfinite", {0, 0, 0, 1, std::numeric_limits<float>::infinity()}}),
    [](const auto& param) { return std::string(param.param.name); });

// The 8-bit rule written out a pixel at a time, in plain scalar code: every
// triple, inverted first where asked, must come out of the vector code (of
// whichever width the processor runs) with exactly these bytes.
Rgb renormalizedBytes(Rgb v, const AdjustOptions& o) {
    const float k = 1.0f / 127.0f;
    const int r = v[0] ^ (o.invertRed == 1 ? 255 : 0), g = v[1] ^ (o.invertGreen == 1 ? 255 : 0),
              b = v[2] ^ (o.invertBlue == 1 ? 255 : 0);
    const double c[3] = {static_cast<float>(r - 128) * k * o.scale, static_cast<float>(g - 128) * k * o.scale,
                         static_cast<float>(b - 128) * k};
    const double length = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    Rgb out{};
    for (size_t i = 0; i < 3; ++i) {
        const double t = length > 0 ? static_cast<float>(1.0 / static_cast<float>(length) * c[i]) : 0.0;
        out[i] = static_cast<uint8_t>(static_cast<int32_t>(t * 127.0 + 128.0));
    }
    return out;
}

class AdjustEveryTriple : public ::testing::TestWithParam<BgrCase> {};

TEST_P(AdjustEveryTriple, FollowsTheRuleWrittenOut) {
    const AdjustOptions& options = GetParam().options;
    std::vector<uint8_t> rgb = everyTriple();
    Image image{};
    image.pixels = rgb.data();
    image.width = image.height = 4096;
    image.bitsPerPixel = 24;
    image.rowBytes = 3 * 4096;
    image.dataSize = static_cast<uint32_t>(rgb.size());
    adjustPixels(&image, options);
    size_t differing = 0;
    for (uint32_t v = 0; v < (1u << 24); ++v) {
        const Rgb want = renormalizedBytes({static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}, options);
        differing += !std::equal(want.begin(), want.end(), rgb.begin() + 3 * static_cast<ptrdiff_t>(v));
    }
    EXPECT_EQ(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Options, AdjustEveryTriple,
    ::testing::Values(BgrCase{"Renormalize", {0, 0, 0, 1, 1.0f}}, BgrCase{"InvertGreenScaleTwo", {0, 1, 0, 1, 2.0f}},
                      BgrCase{"InvertRedAndBlueScaleMinus", {1, 0, 1, 1, -1.75f}},
                      BgrCase{"ScaleAThird", {0, 0, 0, 1, 0.3333f}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(AdjustBgrRowsEdges, NothingToDoLeavesTheBytes) {
    std::vector<uint8_t> row = {10, 20, 30, 40, 50, 60};
    const std::vector<uint8_t> before = row;
    adjustBgrRows(row.data(), 2, 1, 6, defaultAdjustOptions);
    adjustBgrRows(row.data(), 2, 0, 6, {1, 1, 1, 1, 2.0f});
    adjustBgrRows(row.data(), 3, 1, 6, {1, 1, 1, 1, 2.0f});  // a stride too short for the width
    EXPECT_EQ(row, before);
    adjustBgrRows(row.data(), 2, 1, 6, {1, 0, 0, 0, 1.0f});  // red is the third byte
    EXPECT_EQ(row, (std::vector<uint8_t>{10, 20, 225, 40, 50, 195}));
}

}  // namespace

// ------------------------------------------------------------------ 16 bits

// The 16-bit rule written out once more, a pixel at a time: components
// decoded as (v - 32768) x K16 (K16 the float nearest 1/32767) and scaled in
// float, the length in double rounded to float, each component q x c rounded
// to float, and the integer part of t x 32767 + 32768.
std::array<uint16_t, 3> renormalizedWords(std::array<uint16_t, 3> v, float scale) {
    const float k = 1.0f / 32767.0f;
    const double c[3] = {static_cast<float>(v[0] - 32768) * k * scale, static_cast<float>(v[1] - 32768) * k * scale,
                         static_cast<float>(v[2] - 32768) * k};
    const double length = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    std::array<uint16_t, 3> out{};
    for (int i = 0; i < 3; ++i) {
        const double t = length > 0 ? static_cast<float>(1.0 / static_cast<float>(length) * c[i]) : 0.0;
        out[static_cast<size_t>(i)] = static_cast<uint16_t>(static_cast<int32_t>(t * 32767.0 + 32768.0));
    }
    return out;
}

// A 16-bit picture of width x 3 pixels with alpha `alpha`.
struct WordPicture {
    Image image{};
    WordPicture(uint32_t width, bool alpha) { startImage(&image, width, 3, 16, alpha); }
    ~WordPicture() { resetImage(&image); }
    uint16_t* words() { return reinterpret_cast<uint16_t*>(image.pixels); }
};

TEST(AdjustSixteenBits, FixedPointsInversionAndAlpha) {
    struct Case {
        std::array<uint16_t, 3> in;
        AdjustOptions options;
        std::array<uint16_t, 3> out;
    };
    const Case cases[] = {
        {{32768, 32768, 65535}, renormalizeAt(1), {32768, 32768, 65535}},  // +Z stays
        {{1, 32768, 32768}, renormalizeAt(1), {1, 32768, 32768}},          // -1 encodes as 1
        {{65535, 32768, 32768}, renormalizeAt(1), {65535, 32768, 32768}},  // +1 as 65535
        {{32768, 32768, 32768}, renormalizeAt(1), {32768, 32768, 32768}},  // zero length
        {{0, 0, 0}, renormalizeAt(1), renormalizedWords({0, 0, 0}, 1)},
        {{100, 40000, 65535}, {0, 1, 0, 0, 1.0f}, {100, 25535, 65535}},  // 65535 - v
        {{100, 40000, 65535}, {1, 0, 1, 0, 1.0f}, {65435, 40000, 0}},
        // 128 x 257 is not the centre: an 8-bit flat pixel widened leans a little.
        {{128 * 257, 128 * 257, 65535}, renormalizeAt(1), renormalizedWords({32896, 32896, 65535}, 1)},
    };
    for (const Case& c : cases) {
        WordPicture p(1, true);
        for (int row = 0; row < 3; ++row) {
            std::copy(c.in.begin(), c.in.end(), p.words() + 4 * row);
            p.words()[4 * row + 3] = 0xA55A;
        }
        adjustPixels(&p.image, c.options);
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ((std::array<uint16_t, 3>{p.words()[4 * row], p.words()[4 * row + 1], p.words()[4 * row + 2]}),
                      c.out)
                << c.in[0] << "," << c.in[1] << "," << c.in[2];
            EXPECT_EQ(p.words()[4 * row + 3], 0xA55A);
        }
    }
    EXPECT_EQ(renormalizedWords({1, 32768, 32768}, 1)[0], 1);  // the reference agrees with the fixed points
}

TEST(AdjustSixteenBits, EveryPixelOfALargePictureFollowsTheRule) {
    // Wide enough to be shared out among threads, and spread over the range.
    WordPicture p(1 << 20, false);
    const size_t count = size_t{3} << 20;
    std::vector<uint16_t> in(3 * count);
    uint32_t state = 12345;
    for (uint16_t& v : in) v = static_cast<uint16_t>((state = state * 1664525u + 1013904223u) >> 16);
    for (const float scale : {1.0f, 2.0f}) {
        std::copy(in.begin(), in.end(), p.words());
        adjustPixels(&p.image, {0, 1, 0, 1, scale});
        for (size_t i = 0; i < count; i += 97) {
            const std::array<uint16_t, 3> want =
                renormalizedWords({in[3 * i], static_cast<uint16_t>(65535 - in[3 * i + 1]), in[3 * i + 2]}, scale);
            ASSERT_EQ((std::array<uint16_t, 3>{p.words()[3 * i], p.words()[3 * i + 1], p.words()[3 * i + 2]}), want)
                << "pixel " << i << " at scale " << scale;
        }
    }
}
