// The rules the TIFF reader applies to the samples it reads, on one-row
// files built here byte by byte: packed and 12-bit samples widened,
// white-is-zero grey turned round, palettes looked up, associated alpha
// divided out, floating-point samples encoded as normals (and refused when
// they are not numbers), and the same pictures read as numbers by
// readFloatTiff. The expected samples are worked out by hand from the rules
// (readers/tiff_reader.cpp); nothing here uses libtiff.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "readers/float_picture.h"
#include "tests/unit/reader_test_support.h"
#include "tests/unit/tiff_test_support.h"

namespace {

using namespace readertest;
using namespace tifftest;

// How a one-row picture is stored.
struct Stored {
    uint32_t photometric = 1;
    uint32_t bits = 8;
    uint32_t samples = 1;
    bool floating = false;
    std::vector<uint32_t> extras;     // ExtraSamples values
    std::vector<uint32_t> colorMap;   // ColorMap values (3 x 2^bits), for palettes
    std::vector<uint32_t> values;     // every sample of the row, in order (float bits for floats)
};

// The row packed as TIFF stores it: 8, 16 and 32-bit samples little-endian,
// others one after the other from the highest bit, the row ending on a
// whole byte.
Bytes packedRow(const Stored& s) {
    Bytes row;
    if (s.bits % 8 == 0) {
        for (uint32_t v : s.values) putNumber(row, v, s.bits / 8, false);
        return row;
    }
    row.assign((s.values.size() * s.bits + 7) / 8, 0);
    for (size_t i = 0; i < s.values.size(); ++i)
        for (uint32_t b = 0; b < s.bits; ++b)
            if ((s.values[i] >> (s.bits - 1 - b)) & 1) {
                const size_t bit = i * s.bits + b;
                row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (0x80 >> (bit % 8)));
            }
    return row;
}

Bytes oneRowTiff(const Stored& s) {
    const auto width = static_cast<uint32_t>(s.values.size() / s.samples);
    std::vector<Entry> entries = {{256, 4, {width}},
                                  {257, 4, {1}},
                                  {258, 3, std::vector<uint32_t>(s.samples, s.bits)},
                                  {259, 3, {1}},
                                  {262, 3, {s.photometric}},
                                  {273, 4, {}},
                                  {277, 3, {s.samples}},
                                  {279, 4, {}},
                                  {339, 3, std::vector<uint32_t>(s.samples, s.floating ? 3u : 1u)}};
    if (!s.extras.empty()) entries.push_back({338, 3, s.extras});
    if (!s.colorMap.empty()) entries.push_back({320, 3, s.colorMap});
    return buildTiff(entries, {packedRow(s)});
}

uint32_t floatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

// Every sample of the loaded Image's row, in order.
std::vector<uint32_t> imageSamples(const Image& image) {
    std::vector<uint32_t> out;
    const size_t count = image.dataSize / (isSixteenBit(image) ? 2 : 1);
    for (size_t i = 0; i < count; ++i) {
        uint16_t v = image.pixels[i];
        if (isSixteenBit(image)) std::memcpy(&v, image.pixels + 2 * i, 2);
        out.push_back(v);
    }
    return out;
}

struct RuleCase {
    const char* name;
    Stored stored;
    int outBits;
    bool alpha;
    std::vector<uint32_t> expected;  // the Image's samples: red, green, blue (and alpha) a pixel
    friend void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }
};

class TiffRules : public ::testing::TestWithParam<RuleCase> {};

// Whether the system's codec decodes such a row (WIC decodes fewer kinds
// than libtiff; the reader then refuses the kind by name).
bool decodedHere(const Stored& s) {
    TiffLayout layout;
    layout.width = static_cast<uint32_t>(s.values.size() / s.samples);
    layout.height = 1;
    layout.samples = s.samples;
    layout.sampleBits = s.bits;
    layout.floatingPoint = s.floating;
    layout.colourSamples = s.photometric == 2 ? 3 : 1;
    for (size_t e = 0; e < s.extras.size() && layout.alphaSample < 0; ++e)
        if (s.extras[e] == 1 || s.extras[e] == 2) layout.alphaSample = static_cast<int32_t>(layout.colourSamples + e);
    layout.photometric = s.photometric;
    return platformTiffGap(layout) == TiffGap::none;
}

// Cases that Wine's TIFF decoder (8.0), which the Windows build is tested
// with, refuses although WIC's formats hold them: 2-bit grey, grey with
// alpha of 16 bits or white-is-zero, more than one extra sample.
bool refusedByWine(const std::string& name) {
#ifdef _WIN32
    return name == "Grey2" || name == "WhiteIsZeroWithAlpha" || name == "AlphaAfterOtherData" || name == "GreyAlpha16";
#else
    (void)name;
    return false;
#endif
}

TEST_P(TiffRules, GiveTheSamplesWorkedOutByHand) {
    const RuleCase& c = GetParam();
    Loaded loaded;
    loadBytes(oneRowTiff(c.stored), "tif", loaded);
    if (!decodedHere(c.stored)) {
        expectFailed(loaded);
        EXPECT_EQ(loaded.failure.problem, LoadProblem::refusedKind);
        return;
    }
    if (refusedByWine(c.name)) {
        expectFailed(loaded);
        return;
    }
    ASSERT_TRUE(loaded.ok) << loaded.failure.text;
    EXPECT_EQ(loaded.image.sampleBits, c.outBits);
    EXPECT_EQ(loaded.image.hasAlpha, c.alpha ? 1 : 0);
    EXPECT_EQ(imageSamples(loaded.image), c.expected);
    expectBitmapShowsPixels(loaded);
}

// Grey repeated three times a pixel.
std::vector<uint32_t> grey(std::initializer_list<uint32_t> levels) {
    std::vector<uint32_t> out;
    for (uint32_t v : levels) out.insert(out.end(), {v, v, v});
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Widening, TiffRules,
    ::testing::Values(
        // round(v x 255 / max) at 8 bits and fewer, exact for 1, 2 and 4 bits.
        RuleCase{"Grey1", {1, 1, 1, false, {}, {}, {0, 1, 1, 0, 1}}, 8, false, grey({0, 255, 255, 0, 255})},
        RuleCase{"Grey2", {1, 2, 1, false, {}, {}, {0, 1, 2, 3}}, 8, false, grey({0, 85, 170, 255})},
        RuleCase{"Grey3", {1, 3, 1, false, {}, {}, {0, 3, 4, 7}}, 8, false, grey({0, 109, 146, 255})},
        RuleCase{"Grey4", {1, 4, 1, false, {}, {}, {0, 1, 7, 8, 15}}, 8, false, grey({0, 17, 119, 136, 255})},
        RuleCase{"Grey5", {1, 5, 1, false, {}, {}, {0, 1, 16, 31}}, 8, false, grey({0, 8, 132, 255})},
        RuleCase{"Grey8", {1, 8, 1, false, {}, {}, {0, 1, 128, 255}}, 8, false, grey({0, 1, 128, 255})},
        // round(v x 65535 / max) from 9 to 16 bits.
        RuleCase{"Grey10", {1, 10, 1, false, {}, {}, {0, 1, 512, 1023}}, 16, false, grey({0, 64, 32800, 65535})},
        RuleCase{"Grey12", {1, 12, 1, false, {}, {}, {0, 1, 2047, 2048, 4095}}, 16, false,
                 grey({0, 16, 32759, 32776, 65535})},
        RuleCase{"Grey16", {1, 16, 1, false, {}, {}, {0, 1, 32768, 65535}}, 16, false, grey({0, 1, 32768, 65535})},
        // Colour and alpha alike, packed across byte boundaries.
        RuleCase{"Rgba12", {2, 12, 4, false, {2}, {}, {4095, 0, 1, 2048, 7, 4094, 2047, 0}}, 16, true,
                 {65535, 0, 16, 32776, 112, 65519, 32759, 0}},
        RuleCase{"Rgb4", {2, 4, 3, false, {}, {}, {15, 0, 1, 8, 7, 14}}, 8, false, {255, 0, 17, 136, 119, 238}},
        // White-is-zero grey turned round, then widened.
        RuleCase{"WhiteIsZero1", {0, 1, 1, false, {}, {}, {0, 1, 0}}, 8, false, grey({255, 0, 255})},
        RuleCase{"WhiteIsZero4", {0, 4, 1, false, {}, {}, {0, 15, 5}}, 8, false, grey({255, 0, 170})},
        RuleCase{"WhiteIsZero8", {0, 8, 1, false, {}, {}, {0, 10, 255}}, 8, false, grey({255, 245, 0})},
        RuleCase{"WhiteIsZero16", {0, 16, 1, false, {}, {}, {0, 1000, 65535}}, 16, false, grey({65535, 64535, 0})},
        // Alpha is not turned round with the grey.
        RuleCase{"WhiteIsZeroWithAlpha", {0, 8, 2, false, {2}, {}, {0, 0, 200, 255}}, 8, true,
                 {255, 255, 255, 0, 55, 55, 55, 255}}),
    [](const auto& param) { return std::string(param.param.name); });

// A palette of 2-bit indices: red, green and blue of the four entries,
// each times `scale`, with `last` as the blue of entry 3.
std::vector<uint32_t> colorMap(uint32_t scale, uint32_t last) {
    const uint32_t r[4] = {0, 10, 200, 255}, g[4] = {255, 20, 100, 1}, b[4] = {7, 30, 0, 128};
    std::vector<uint32_t> map;
    for (const uint32_t* c : {r, g, b})
        for (int i = 0; i < 4; ++i) map.push_back(c[i] * scale);
    map.back() = last;
    return map;
}

INSTANTIATE_TEST_SUITE_P(
    Palettes, TiffRules,
    ::testing::Values(
        // 8-bit colours widened as v x 257 give 8-bit colours again.
        RuleCase{"Times257", {3, 2, 1, false, {}, colorMap(257, 128 * 257), {3, 0, 2, 1}}, 8, false,
                 {255, 1, 128, 0, 255, 7, 200, 100, 0, 10, 20, 30}},
        // Widened as v x 256 (as Pillow writes them).
        RuleCase{"Times256", {3, 2, 1, false, {}, colorMap(256, 128 * 256), {3, 1}}, 8, false,
                 {255, 1, 128, 10, 20, 30}},
        // Old files store 8-bit colours as they are.
        RuleCase{"Unwidened", {3, 2, 1, false, {}, colorMap(1, 128), {2, 3}}, 8, false, {200, 100, 0, 255, 1, 128}},
        // One colour that no 8-bit colour widens to: every colour kept at 16 bits.
        RuleCase{"SixteenBitColours", {3, 2, 1, false, {}, colorMap(257, 12345), {3, 0}}, 16, false,
                 {255 * 257, 1 * 257, 12345, 0, 255 * 257, 7 * 257}},
        RuleCase{"EightBitIndices", {3, 8, 1, false, {}, [] {
                                         std::vector<uint32_t> map(768);
                                         // Green and blue 50 and 100 above red (mod 256).
                                         for (uint32_t i = 0; i < 768; ++i)
                                             map[i] = ((i * 7 + i / 256 * 50) % 256) * 257;
                                         return map;
                                     }(), {0, 255, 17}},
                 8, false, {0, 50, 100, 249, 43, 93, 119, 169, 219}}),
    [](const auto& param) { return std::string(param.param.name); });

INSTANTIATE_TEST_SUITE_P(
    AssociatedAlpha, TiffRules,
    ::testing::Values(
        // round(c x 255 / a), clamped to 255; colour left as stored where alpha is 0.
        RuleCase{"Rgba8",
                 {2, 8, 4, false, {1},
                  {}, {0, 0, 0, 0, 10, 20, 30, 0, 100, 50, 0, 200, 200, 255, 1, 100, 1, 2, 3, 3, 255, 128, 7, 255}},
                 8, true, {0, 0, 0, 0, 10, 20, 30, 0, 128, 64, 0, 200, 255, 255, 3, 100, 85, 170, 255, 3,
                           255, 128, 7, 255}},
        // The same samples marked unassociated are kept as stored.
        RuleCase{"Rgba8Unassociated", {2, 8, 4, false, {2}, {}, {100, 50, 0, 200, 1, 2, 3, 3}}, 8, true,
                 {100, 50, 0, 200, 1, 2, 3, 3}},
        RuleCase{"Rgba16",
                 {2, 16, 4, false, {1}, {}, {1000, 0, 65535, 3000, 1, 2, 3, 65535, 40000, 5, 6, 0}},
                 16, true, {21845, 0, 65535, 3000, 1, 2, 3, 65535, 40000, 5, 6, 0}},
        RuleCase{"GreyAlpha8", {1, 8, 2, false, {1}, {}, {50, 100, 0, 0}}, 8, true, {128, 128, 128, 100, 0, 0, 0, 0}},
        // Divided at the stored depth (4095), then widened.
        RuleCase{"Rgba12", {2, 12, 4, false, {1}, {}, {1000, 2000, 0, 2048}}, 16, true, {32007, 63999, 0, 32776}},
        // The first alpha counts; an unspecified extra sample before it is dropped.
        RuleCase{"AlphaAfterOtherData", {2, 8, 5, false, {0, 1}, {}, {10, 20, 30, 99, 51}}, 8, true,
                 {50, 100, 150, 51}}),
    [](const auto& param) { return std::string(param.param.name); });

std::vector<uint32_t> floats(std::initializer_list<float> values) {
    std::vector<uint32_t> out;
    for (float f : values) out.push_back(floatBits(f));
    return out;
}

constexpr float infinity = std::numeric_limits<float>::infinity();
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    FloatingPoint, TiffRules,
    ::testing::Values(
        // The integer part of t x 32767 + 32768, clamped.
        RuleCase{"Rgb32",
                 {2, 32, 3, true, {}, {},
                  floats({-1.0f, 0.0f, 1.0f, 0.5f, -0.5f, 1e-9f, -1.5f, 2.0f, -1e-9f, infinity, -infinity, 0.25f})},
                 16, false, {1, 32768, 65535, 49151, 16384, 32768, 0, 65535, 32767, 65535, 0, 40959}},
        RuleCase{"Grey32", {1, 32, 1, true, {}, {}, floats({-0.25f, 0.999f})}, 16, false, grey({24576, 65502})},
        // Alpha 0..1 gives round(a x 65535), clamped.
        RuleCase{"Rgba32", {2, 32, 4, true, {2}, {}, floats({0, 0, 0, 0.5f, 0, 0, 0, 1.5f, 0, 0, 0, -0.25f})}, 16,
                 true, {32768, 32768, 32768, 32768, 32768, 32768, 32768, 65535, 32768, 32768, 32768, 0}},
        // Premultiplied normals divided by alpha first.
        RuleCase{"Rgba32Associated", {2, 32, 4, true, {1}, {}, floats({0.25f, -0.25f, 0.5f, 0.5f, 0.1f, 0, 0, 0})}, 16,
                 true, {49151, 16384, 65535, 32768, 36044, 32768, 32768, 0}},
        // Halves: 0x3C00 is 1, 0xB800 -0.5, 0x3555 0.33325195, 0x7C00 infinity,
        // 0x0001 the smallest subnormal, 0xFC00 minus infinity.
        RuleCase{"Rgb16", {2, 16, 3, true, {}, {}, {0x3C00, 0xB800, 0x3555, 0x7C00, 0x0001, 0xFC00}}, 16, false,
                 {65535, 16384, 43687, 65535, 32768, 0}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TiffFloatingPoint, ANotANumberRefusesTheFileWithItsReason) {
    for (const Stored& s : {Stored{2, 32, 3, true, {}, {}, floats({0, 0, 0, 0, notANumber, 0})},
                            Stored{2, 32, 4, true, {2}, {}, floats({0, 0, 0, notANumber})},
                            Stored{1, 16, 1, true, {}, {}, {0x3C00, 0x7E00}}}) {
        Loaded loaded;
        loadBytes(oneRowTiff(s), "tif", loaded);
        expectFailed(loaded);
        EXPECT_EQ(loaded.failure.problem, LoadProblem::refusedKind);
        // (Where the codec reads no such samples, the failure names them instead.)
        if (decodedHere(s)) {
            EXPECT_STREQ(loaded.failure.text, "floating-point samples that are not numbers (NaN)");
        }
    }
}

// ------------------------------------------------------------ readFloatTiff

struct FloatCase {
    const char* name;
    Stored stored;
    uint32_t channels;
    std::vector<float> expected;
    friend void PrintTo(const FloatCase& c, std::ostream* os) { *os << c.name; }
};

class TiffAsNumbers : public ::testing::TestWithParam<FloatCase> {};

TEST_P(TiffAsNumbers, GiveTheValuesWorkedOutByHand) {
    const FloatCase& c = GetParam();
    const Bytes file = oneRowTiff(c.stored);
    FloatPicture picture;
    LoadFailure failure;
    if (!decodedHere(c.stored) || refusedByWine(c.name)) {
        EXPECT_FALSE(readFloatTiff(file, &picture, failure));
        EXPECT_EQ(failure.problem, decodedHere(c.stored) ? LoadProblem::none : LoadProblem::refusedKind);
        return;
    }
    ASSERT_TRUE(readFloatTiff(file, &picture, failure)) << failure.text;
    ASSERT_EQ(picture.height, 1u);
    ASSERT_EQ(picture.channels, c.channels);
    ASSERT_EQ(size_t{picture.width} * picture.channels, c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i) {
        if (std::isnan(c.expected[i]))
            EXPECT_TRUE(std::isnan(picture.samples[i])) << "sample " << i;
        else
            EXPECT_EQ(picture.samples[i], c.expected[i]) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, TiffAsNumbers,
    ::testing::Values(
        // Floating-point samples as stored, beyond -1..1 and NaN too.
        FloatCase{"Rgb32", {2, 32, 3, true, {}, {}, floats({-7.5f, 0.0f, 1e6f, notANumber, -0.0f, 2.0f})}, 3,
                  {-7.5f, 0.0f, 1e6f, notANumber, -0.0f, 2.0f}},
        FloatCase{"Grey32", {1, 32, 1, true, {}, {}, floats({123.25f, -4.0f})}, 1, {123.25f, -4.0f}},
        FloatCase{"Rgb16Halves", {2, 16, 3, true, {}, {}, {0x3C00, 0xB800, 0x0001}}, 3, {1.0f, -0.5f, 0x1p-24f}},
        FloatCase{"Rgba32Associated", {2, 32, 4, true, {1}, {}, floats({3.0f, -1.0f, 0.5f, 0.5f, 2.0f, 1.0f, 0, 0})},
                  4, {6.0f, -2.0f, 1.0f, 0.5f, 2.0f, 1.0f, 0.0f, 0.0f}},
        // Whole numbers as v / max.
        FloatCase{"Grey8", {1, 8, 1, false, {}, {}, {0, 51, 255}}, 1, {0.0f, 0.2f, 1.0f}},
        FloatCase{"GreyAlpha16", {1, 16, 2, false, {2}, {}, {65535, 0}}, 4, {1.0f, 1.0f, 1.0f, 0.0f}},
        FloatCase{"WhiteIsZero4", {0, 4, 1, false, {}, {}, {0, 15, 3}}, 1, {1.0f, 0.0f, 0.8f}},
        FloatCase{"Palette", {3, 2, 1, false, {}, colorMap(257, 128 * 257), {1}}, 3,
                  {10 / 255.0f, 20 / 255.0f, 30 / 255.0f}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TiffAsNumbers, KindsNotReadAreRefusedWithTheirReason) {
    // A CMYK picture of 8-bit samples.
    Stored cmyk{5, 8, 4, false, {}, {}, {1, 2, 3, 4}};
    FloatPicture picture;
    LoadFailure failure;
    EXPECT_FALSE(readFloatTiff(oneRowTiff(cmyk), &picture, failure));
    EXPECT_EQ(picture.samples, nullptr);
    EXPECT_EQ(failure.problem, LoadProblem::refusedKind);
    EXPECT_STREQ(failure.text, "CMYK colour");
    LoadFailure damaged;
    EXPECT_FALSE(readFloatTiff(Bytes{'I', 'I', 42, 0}, &picture, damaged));
    EXPECT_EQ(damaged.problem, LoadProblem::none);
}

}  // namespace
