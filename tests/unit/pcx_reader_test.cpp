#include <gtest/gtest.h>

#include <string>

#include "tests/unit/reader_test_support.h"
#include "tests/unit/reference_picture.h"

namespace {

using namespace readertest;

struct PcxFields {
    uint32_t manufacturer = 10;
    uint32_t version = 5;
    uint32_t encoding = 1;
    uint32_t bitsPerPixel = 8;
    uint32_t xMin = 0;
    uint32_t yMin = 0;
    uint32_t xMax = 0;
    uint32_t yMax = 0;
    uint32_t planes = 3;
    uint32_t bytesPerLine = 2;
};

// The 128-byte header, one field at a time.
ByteWriter pcxHeader(const PcxFields& f) {
    ByteWriter w;
    w.u8(f.manufacturer)    // manufacturer: ZSoft
        .u8(f.version)      // version
        .u8(f.encoding)     // encoding: 1 = run-length
        .u8(f.bitsPerPixel) // bits per pixel per plane
        .u16(f.xMin)        // xmin
        .u16(f.yMin)        // ymin
        .u16(f.xMax)        // xmax
        .u16(f.yMax)        // ymax
        .u16(300)           // horizontal resolution
        .u16(300)           // vertical resolution
        .fill(48, 0)        // 16-colour palette
        .u8(0)              // reserved
        .u8(f.planes)       // colour planes
        .u16(f.bytesPerLine) // bytes per line per plane
        .u16(1)             // palette information
        .fill(58, 0);       // screen sizes and filler
    return w;
}

PcxFields planes(uint32_t count, uint32_t width, uint32_t height, uint32_t bytesPerLine) {
    PcxFields f;
    f.planes = count;
    f.xMax = width - 1;
    f.yMax = height - 1;
    f.bytesPerLine = bytesPerLine;
    return f;
}

// A palette whose entry i is (i, 255 - i, i ^ 0x55), after its marker byte.
Bytes markedPalette() {
    ByteWriter w;
    w.u8(12);
    for (uint32_t i = 0; i < 256; ++i) w.u8(i).u8(255 - i).u8(i ^ 0x55);
    return w.bytes;
}

Rgb paletteEntry(uint32_t i) {
    return {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i ^ 0x55)};
}

TEST(PcxVariants, EveryVariantShowsTheReferencePicture) {
    const auto files = dataFiles("pcx");
    ASSERT_EQ(files.size(), 4u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        Loaded loaded;
        loadPath(path, loaded);
        ASSERT_TRUE(loaded.ok);
        expectFilled(loaded.image, reference::width, reference::height, 32);
        for (int y = 0; y < reference::height; ++y)
            for (int x = 0; x < reference::width; ++x) {
                ASSERT_EQ(loaded.pixel(x, y), reference::rgb(x, y)) << "at " << x << "," << y;
                ASSERT_EQ(loaded.fourth(x, y), 255);
            }
        expectBitmapShowsPixels(loaded);
    }
}

TEST(PcxVariants, EveryTruncationOfAOnePlaneFileFails) {
    // No byte of its packed data is 12, so a shortened file never finds its
    // palette marker.
    expectEveryTruncationFails(fileBytes(dataDirectory("pcx") / "one_plane.pcx"), "pcx");
}

TEST(PcxVariants, ThreePlaneFileCutShortKeepsWhatItReachedAndZeroes) {
    const Bytes whole = fileBytes(dataDirectory("pcx") / "three_planes.pcx");
    expectEveryTruncationFails(Bytes(whole.begin(), whole.begin() + 129), "pcx");
    int loads = 0;
    for (size_t length = 129; length < whole.size(); ++length) {
        Loaded loaded;
        loadBytes(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)), "pcx", loaded);
        if (!loaded.ok) continue;  // cut between a run header and its value
        ++loads;
        expectFilled(loaded.image, reference::width, reference::height, 32);
        for (int y = 0; y < reference::height; ++y)
            for (int x = 0; x < reference::width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const uint8_t got = loaded.pixel(x, y)[static_cast<size_t>(c)];
                    ASSERT_TRUE(got == reference::rgb(x, y)[static_cast<size_t>(c)] || got == 0)
                        << "length " << length << " at " << x << "," << y;
                }
    }
    EXPECT_GT(loads, 0);
}

struct PixelCase {
    const char* name;
    Bytes file;
    int width;
    int height;
    std::vector<Rgb> pixels;  // top row first
    friend void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }
};

class PcxPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PcxPixels, DecodeToTheseBytes) {
    const PixelCase& c = GetParam();
    Loaded loaded;
    loadBytes(c.file, "pcx", loaded);
    ASSERT_TRUE(loaded.ok);
    expectFilled(loaded.image, c.width, c.height, 32);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            EXPECT_EQ(loaded.pixel(x, y), c.pixels[static_cast<size_t>(y * c.width + x)]) << x << "," << y;
            EXPECT_EQ(loaded.fourth(x, y), 255);
        }
    expectBitmapShowsPixels(loaded);
}

PcxFields withVersion(PcxFields f, uint32_t version) {
    f.version = version;
    return f;
}

PcxFields withEncoding(PcxFields f, uint32_t encoding) {
    f.encoding = encoding;
    return f;
}

PcxFields withOrigin(PcxFields f, uint32_t xMin, uint32_t yMin) {
    f.xMax += xMin - f.xMin;
    f.yMax += yMin - f.yMin;
    f.xMin = xMin;
    f.yMin = yMin;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PcxPixels,
    ::testing::Values(
        PixelCase{"ThreePlanesSkipLinePadding",
                  // 1 x 1, 2 bytes per line: red, pad, green, pad, blue, pad.
                  pcxHeader(planes(3, 1, 1, 2)).u8(10).u8(99).u8(20).u8(99).u8(30).u8(99).bytes, 1, 1,
                  {{10, 20, 30}}},
        PixelCase{"HighestVersionIsAccepted",
                  pcxHeader(withVersion(planes(3, 1, 1, 1), 255)).u8(1).u8(2).u8(3).bytes, 1, 1, {{1, 2, 3}}},
        PixelCase{"RunCrossesPlanesAndScanlines",
                  // 1 x 2, one byte a plane line: a run of 4 fills the first
                  // row and the red of the second; two literals follow.
                  pcxHeader(planes(3, 1, 2, 1)).u8(0xC4).u8(7).u8(8).u8(9).bytes, 1, 2,
                  {{7, 7, 7}, {7, 8, 9}}},
        PixelCase{"EmptyRunWritesNothing",
                  pcxHeader(planes(3, 1, 1, 1)).u8(0xC0).u8(77).u8(1).u8(2).u8(3).bytes, 1, 1, {{1, 2, 3}}},
        PixelCase{"EncodingByteIsIgnored",
                  pcxHeader(withEncoding(planes(3, 1, 1, 1), 0)).u8(0xC3).u8(200).bytes, 1, 1, {{200, 200, 200}}},
        PixelCase{"OriginIsSubtracted",
                  pcxHeader(withOrigin(planes(3, 2, 1, 2), 500, 70)).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).bytes, 2, 1,
                  {{1, 3, 5}, {2, 4, 6}}},
        PixelCase{"StreamEndingEarlyLeavesZeroes",
                  pcxHeader(planes(3, 2, 1, 2)).u8(1).u8(2).u8(3).bytes, 2, 1, {{1, 3, 0}, {2, 0, 0}}},
        PixelCase{"DataAfterThePictureIsIgnored",
                  pcxHeader(planes(3, 1, 1, 1)).u8(1).u8(2).u8(3).u8(0xC5).bytes, 1, 1, {{1, 2, 3}}},
        PixelCase{"OnePlaneIndicesTakePaletteEntries",
                  pcxHeader(planes(1, 3, 1, 4)).u8(0).u8(0xC1).u8(200).u8(0xC1).u8(255).u8(9).append(markedPalette())
                      .bytes,
                  3, 1, {paletteEntry(0), paletteEntry(200), paletteEntry(255)}},
        PixelCase{"OnePlaneOddWidthSkipsThePaddingIndex",
                  // 3 x 2 with 4 bytes per line: the fourth index of each line is padding.
                  pcxHeader(planes(1, 3, 2, 4)).u8(1).u8(2).u8(3).u8(99).u8(0xC3).u8(4).u8(98).append(markedPalette())
                      .bytes,
                  3, 2,
                  {paletteEntry(1), paletteEntry(2), paletteEntry(3), paletteEntry(4), paletteEntry(4),
                   paletteEntry(4)}},
        PixelCase{"OnePlaneLinesAreAtLeastTheWidth",
                  // Bytes per line 0: each line holds exactly the width.
                  pcxHeader(planes(1, 2, 2, 0)).u8(0xC3).u8(5).u8(6).append(markedPalette()).bytes, 2, 2,
                  {paletteEntry(5), paletteEntry(5), paletteEntry(5), paletteEntry(6)}},
        PixelCase{"OnePlaneRunContinuesIntoTheNextLine",
                  pcxHeader(planes(1, 2, 2, 2)).u8(0xC3).u8(7).u8(8).append(markedPalette()).bytes, 2, 2,
                  {paletteEntry(7), paletteEntry(7), paletteEntry(7), paletteEntry(8)}},
        PixelCase{"OnePlaneStreamEndingEarlyTakesEntryZero",
                  pcxHeader(planes(1, 3, 1, 4)).u8(9).u8(8).append(markedPalette()).bytes, 3, 1,
                  {paletteEntry(9), paletteEntry(8), paletteEntry(0)}}),
    [](const auto& param) { return std::string(param.param.name); });

class PcxMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(PcxMalformed, FailsAndLeavesTheImageReset) {
    Loaded loaded;
    loadBytes(GetParam().file, "pcx", loaded);
    expectFailed(loaded);
}

PcxFields withField(PcxFields f, uint32_t PcxFields::*field, uint32_t value) {
    f.*field = value;
    return f;
}

// A one-plane file whose stream is long enough to be believed: 1000 literal
// bytes, then the marker and the palette.
Bytes onePlaneWith(const PcxFields& f) { return pcxHeader(f).fill(1000, 1).append(markedPalette()).bytes; }

INSTANTIATE_TEST_SUITE_P(
    Cases, PcxMalformed,
    ::testing::Values(
        MalformedCase{"EmptyFile", {}},
        MalformedCase{"HeaderOnly", pcxHeader(planes(3, 1, 1, 1)).bytes},
        MalformedCase{"ShortHeader",
                      [] {
                          Bytes b = pcxHeader(planes(3, 1, 1, 1)).bytes;
                          b.pop_back();
                          return b;
                      }()},
        MalformedCase{"ManufacturerNotZSoft",
                      pcxHeader(withField(planes(3, 1, 1, 1), &PcxFields::manufacturer, 11)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"VersionFour", pcxHeader(withVersion(planes(3, 1, 1, 1), 4)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"OneBitAPlane",
                      pcxHeader(withField(planes(3, 1, 1, 1), &PcxFields::bitsPerPixel, 1)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"TwoPlanes", pcxHeader(planes(2, 1, 1, 1)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"FourPlanes", pcxHeader(planes(4, 1, 1, 1)).u8(1).u8(2).u8(3).u8(4).bytes},
        MalformedCase{"WidthZero",
                      pcxHeader(withField(planes(3, 1, 1, 1), &PcxFields::xMin, 1)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"WidthNegative",
                      pcxHeader(withField(planes(3, 1, 1, 1), &PcxFields::xMin, 9)).fill(30, 1).bytes},
        MalformedCase{"HeightNegative",
                      pcxHeader(withField(planes(3, 1, 1, 1), &PcxFields::yMin, 2)).fill(30, 1).bytes},
        MalformedCase{"OnePlaneHeightZero", onePlaneWith(withField(planes(1, 1, 1, 1), &PcxFields::yMin, 1))},
        MalformedCase{"ThreePlanesWiderThanTheirLines", pcxHeader(planes(3, 3, 1, 2)).fill(30, 1).bytes},
        MalformedCase{"ThreePlanesWithLinesOfZeroBytes", pcxHeader(planes(3, 1, 1, 0)).fill(30, 1).bytes},
        MalformedCase{"EnormousSize", pcxHeader(planes(3, 65535, 65535, 65535)).fill(3000, 0xFF).bytes},
        MalformedCase{"LargestSizeWithTooLittleData", pcxHeader(planes(3, 16384, 16384, 16384)).fill(3000, 0xFF)
                                                          .bytes},
        MalformedCase{"OnePlaneWithTooLittleData", onePlaneWith(planes(1, 200, 200, 200))},
        MalformedCase{"OnePlaneOf897Bytes", pcxHeader(planes(1, 1, 1, 1)).append(markedPalette()).bytes},
        MalformedCase{"OnePlaneMarkerNotTwelve",
                      [] {
                          Bytes b = onePlaneWith(planes(1, 2, 2, 2));
                          b[b.size() - 769] = 13;
                          return b;
                      }()},
        MalformedCase{"RunValueMissing", pcxHeader(planes(3, 1, 1, 1)).u8(1).u8(2).u8(0xC1).bytes},
        MalformedCase{"OnePlaneRunValueMissing",
                      pcxHeader(planes(1, 2, 1, 2)).u8(1).u8(0xC1).append(markedPalette()).bytes}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
