#include <gtest/gtest.h>

#include <string>

#include "readers/pnm_reader.h"
#include "tests/unit/reader_test_support.h"
#include "tests/unit/reference_picture.h"

namespace {

using namespace readertest;

constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};

Rgb level(uint8_t v) { return {v, v, v}; }

// The picture a variant must show, told by its extension.
Rgb expectedVariantPixel(const std::filesystem::path& path, int x, int y) {
    const std::string extension = path.extension().string();
    if (extension == ".ppm") return reference::rgb(x, y);
    if (extension == ".pgm") return level(reference::grey(x, y));
    return reference::bit(x, y) ? black : white;
}

TEST(PnmVariants, EveryVariantShowsTheReferencePicture) {
    const auto files = dataFiles("pnm");
    // P1 to P6 plain and raw, maxvals 255, 1000 and 65535, comments.
    ASSERT_EQ(files.size(), 20u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        Loaded loaded;
        loadPath(path, loaded);
        ASSERT_TRUE(loaded.ok);
        // Raw files with a maxval above 255 keep 16 bits.
        const std::string name = path.filename().string();
        const bool words = name.find("_raw_") != std::string::npos && name.find("_255") == std::string::npos &&
                           path.extension() != ".pbm";
        expectFilled(loaded.image, reference::width, reference::height, words ? 48 : 32);
        for (int y = 0; y < reference::height; ++y)
            for (int x = 0; x < reference::width; ++x) {
                ASSERT_EQ(loaded.pixel(x, y), expectedVariantPixel(path, x, y)) << "at " << x << "," << y;
                if (!words) {
                    ASSERT_EQ(loaded.fourth(x, y), 255);
                }
            }
        expectBitmapShowsPixels(loaded);
    }
}

TEST(PnmVariants, EveryTruncationOfARawFileFails) {
    for (const char* name : {"p4_raw_1.pbm", "p5_raw_1000.pgm", "p6_raw_255.ppm", "p6_raw_255_comments.ppm"}) {
        SCOPED_TRACE(name);
        const auto path = dataDirectory("pnm") / name;
        expectEveryTruncationFails(fileBytes(path), path.extension().string().substr(1));
    }
}

TEST(PnmVariants, EveryTruncationOfAPlainHeaderFails) {
    // "P3\n7 5\n255\n" is 11 bytes; the raster needs a character a sample.
    const Bytes whole = fileBytes(dataDirectory("pnm") / "p3_plain_255.ppm");
    expectEveryTruncationFails(Bytes(whole.begin(), whole.begin() + 11 + 105), "ppm");
}

TEST(PnmState, SetUpClearsAndReleaseIsRepeatable) {
    PnmReaderState state;
    setUpPnmReader(&state);
    EXPECT_EQ(state.reader.bytes, nullptr);
    EXPECT_EQ(state.samples, nullptr);
    EXPECT_EQ(state.variant, 0);
    EXPECT_EQ(state.sampleCount, 0);
    releasePnmReader(&state);
    releasePnmReader(&state);
    EXPECT_EQ(state.samples, nullptr);
    EXPECT_EQ(state.reader.bytes, nullptr);
}

struct PixelCase {
    const char* name;
    Bytes file;
    const char* extension;
    int width;
    int height;
    std::vector<Rgb> pixels;  // top row first
    std::vector<uint16_t> words = {};  // the 16-bit samples, when the picture keeps 16 bits
    friend void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }
};

class PnmPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PnmPixels, DecodeToTheseBytes) {
    const PixelCase& c = GetParam();
    Loaded loaded;
    loadBytes(c.file, c.extension, loaded);
    ASSERT_TRUE(loaded.ok);
    expectFilled(loaded.image, c.width, c.height, c.words.empty() ? 32 : 48);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            EXPECT_EQ(loaded.pixel(x, y), c.pixels[static_cast<size_t>(y * c.width + x)]) << x << "," << y;
            if (c.words.empty()) {
                EXPECT_EQ(loaded.fourth(x, y), 255);
            }
        }
    if (!c.words.empty()) {
        const auto* words = reinterpret_cast<const uint16_t*>(loaded.image.pixels);
        EXPECT_EQ(std::vector<uint16_t>(words, words + c.words.size()), c.words);
    }
    expectBitmapShowsPixels(loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PnmPixels,
    ::testing::Values(
        // Scaling: round(v x 255 / maxval), halves rounded up.
        PixelCase{"PlainMaxvalFifteenIsScaled", textBytes("P2\n4 1\n15\n0 7 8 15\n"), "pgm", 4, 1,
                  {level(0), level(119), level(136), level(255)}},
        PixelCase{"RawMaxvalTwoRoundsHalfUp", ByteWriter().text("P5\n3 1\n2\n").u8(0).u8(1).u8(2).bytes, "pgm", 3,
                  1, {level(0), level(128), level(255)}},
        PixelCase{"RawMaxvalOneIsTwoLevels", ByteWriter().text("P5 2 1 1\n").u8(1).u8(0).bytes, "pgm", 2, 1,
                  {level(255), level(0)}},
        PixelCase{"RawMaxval256TakesTwoBytesMostSignificantFirst",
                  ByteWriter().text("P5\n3 1\n256\n").u8(1).u8(0).u8(0).u8(128).u8(0).u8(255).bytes, "pgm", 3, 1,
                  {level(255), level(128), level(254)},
                  // v x 65535 / 256 rounded to nearest: 65535, 32767.5 up to 32768, 65279.496 to 65279
                  {65535, 65535, 65535, 32768, 32768, 32768, 65279, 65279, 65279}},
        PixelCase{"RawMaxval65535", ByteWriter().text("P6\n1 1\n65535\n").u8(0x7F).u8(0xFF).u8(0x80).u8(0x00)
                                        .u8(0xFF).u8(0xFF).bytes,
                  "ppm", 1, 1, {{127, 128, 255}}, {0x7FFF, 0x8000, 0xFFFF}},
        PixelCase{"PlainMaxval65535", textBytes("P3 1 1 65535 32767 32768 257"), "ppm", 1, 1, {{127, 128, 1}}},
        // Header layout.
        PixelCase{"AnyWhiteSpaceSeparatesHeaderNumbers", ByteWriter().text("P5\t2\v\f1\r\n255\n").u8(9).u8(10)
                                                             .bytes,
                  "pgm", 2, 1, {level(9), level(10)}},
        PixelCase{"CommentsWhereverWhiteSpaceMayBe",
                  ByteWriter().text("P5#a\n2#b\n#c\n  1 #d\r255#e\n").u8(9).u8(10).bytes, "pgm", 2, 1,
                  {level(9), level(10)}},
        PixelCase{"CarriageReturnLineFeedShiftsTheRasterByOne",
                  ByteWriter().text("P5\r\n2 1\r\n255\r\n").u8(9).bytes, "pgm", 2, 1, {level(10), level(9)}},
        PixelCase{"RawRasterMayBeginWithWhiteSpaceBytes", ByteWriter().text("P5 2 1 255 ").text(" \n").bytes, "pgm",
                  2, 1, {level(32), level(10)}},
        PixelCase{"MagicDecidesNotTheExtension", ByteWriter().text("P6 1 1 255\n").u8(1).u8(2).u8(3).bytes, "pgm", 1,
                  1, {{1, 2, 3}}},
        // Rasters.
        PixelCase{"PlainBitmapCharactersArePixels", textBytes("P1\n5 2\n0101\n1 0 0\n1\n0\n0\n"), "pbm", 5, 2,
                  {white, black, white, black, black, white, white, black, white, white}},
        PixelCase{"PlainRasterEndingEarlyLeavesBlack", textBytes("P2 3 1 255 7      "), "pgm", 3, 1,
                  {level(7), black, black}},
        PixelCase{"PlainBitmapEndingEarlyLeavesWhite", textBytes("P1 3 1 1  "), "pbm", 3, 1, {black, white, white}},
        PixelCase{"PlainCommentsBetweenSamples", textBytes("P2 2 1 255\n1#x 9\n# 8\n2\n"), "pgm", 2, 1,
                  {level(1), level(2)}},
        PixelCase{"DataAfterTheLastSampleIsIgnored", textBytes("P2 1 1 255 5 junk 300 -1"), "pgm", 1, 1, {level(5)}},
        PixelCase{"RawBitmapRowsStartAtAByte",
                  // Width 10: two bytes a row, the low six bits of the second ignored.
                  ByteWriter().text("P4\n10 2\n").u8(0x80).u8(0x7F).u8(0x01).u8(0xC0).bytes, "pbm", 10, 2,
                  {black, white, white, white, white, white, white, white, white, black,
                   white, white, white, white, white, white, white, black, black, black}},
        PixelCase{"RawDataAfterTheRasterIsIgnored", ByteWriter().text("P5 1 1 255\n").u8(4).u8(5).bytes, "pgm", 1,
                  1, {level(4)}}),
    [](const auto& param) { return std::string(param.param.name); });

class PnmMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(PnmMalformed, FailsAndLeavesTheImageReset) {
    Loaded loaded;
    loadBytes(GetParam().file, "ppm", loaded);
    expectFailed(loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PnmMalformed,
    ::testing::Values(
        MalformedCase{"EmptyFile", {}},
        MalformedCase{"OneByte", textBytes("P")},
        MalformedCase{"MagicP7", textBytes("P7 1 1 255\nabc")},
        MalformedCase{"MagicP0", textBytes("P0 1 1 255\nabc")},
        MalformedCase{"LowerCaseMagic", textBytes("p6 1 1 255\nabc")},
        MalformedCase{"NoSize", textBytes("P6\n")},
        MalformedCase{"NoHeight", textBytes("P6 1 ")},
        MalformedCase{"NoMaxval", textBytes("P6 1 1\n")},
        MalformedCase{"WidthZero", textBytes("P6 0 1 255\nabc")},
        MalformedCase{"HeightZero", textBytes("P6 1 0 255\nabc")},
        MalformedCase{"NegativeWidth", textBytes("P6 -1 1 255\nabc")},
        MalformedCase{"TwoNegativeSizes", textBytes("P2 -1 -1 255\n0")},
        MalformedCase{"MaxvalZero", textBytes("P6 1 1 0\nabc")},
        MalformedCase{"Maxval65536", textBytes("P6 1 1 65536\nabcdef")},
        MalformedCase{"SizeNumberTooLarge", textBytes("P5 99999999999 1 255\nabc")},
        MalformedCase{"EnormousSize", textBytes("P5 100000 100000 255\nabc")},
        MalformedCase{"LargestSizeWithTooLittleData", textBytes("P4 16384 16384\nabc")},
        MalformedCase{"JunkAfterAHeaderNumber", textBytes("P5 1x 1 255\na")},
        MalformedCase{"CommentOnlyToTheEndOfTheFile", textBytes("P5 1 1 255#a")},
        MalformedCase{"RawGreymapOneByteShort", textBytes("P5 2 2 255\nabc")},
        MalformedCase{"RawPixmapOneByteShort", textBytes("P6 1 1 255\nab")},
        MalformedCase{"SixteenBitRasterOneByteShort", textBytes("P5 2 1 1000\nabc")},
        MalformedCase{"RawBitmapOneByteShort", textBytes("P4 9 2\nabc")},
        MalformedCase{"PlainRasterWithFewerCharactersThanSamples", textBytes("P2 3 2 255\n1 2")},
        MalformedCase{"RawSampleAboveMaxval", ByteWriter().text("P5 2 1 100\n").u8(100).u8(101).bytes},
        MalformedCase{"SixteenBitSampleAboveMaxval", ByteWriter().text("P5 1 1 1000\n").u8(0x03).u8(0xE9).bytes},
        MalformedCase{"PlainSampleAboveMaxval", textBytes("P2 2 1 15\n15 16\n")},
        MalformedCase{"PlainNegativeSample", textBytes("P2 2 1 255\n1 -1\n")},
        MalformedCase{"PlainJunkSample", textBytes("P2 2 1 255\n1 x\n")},
        MalformedCase{"PlainSampleWithJunkAfterIt", textBytes("P2 2 1 255\n1 2x\n")},
        MalformedCase{"PlainBitmapDigitTwo", textBytes("P1 2 1\n1 2\n")}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
