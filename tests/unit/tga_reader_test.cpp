#include <gtest/gtest.h>

#include <string>

#include "tests/unit/reader_test_support.h"
#include "tests/unit/reference_picture.h"

namespace {

using namespace readertest;

struct TgaFields {
    uint32_t idLength = 0;
    uint32_t colourMapType = 0;
    uint32_t imageType = 2;
    uint32_t colourMapFirst = 0;
    uint32_t colourMapLength = 0;
    uint32_t colourMapEntrySize = 0;
    uint32_t width = 1;
    uint32_t height = 1;
    uint32_t pixelDepth = 24;
    uint32_t descriptor = 0x20;
};

// The 18-byte header, one field at a time.
ByteWriter tgaHeader(const TgaFields& f) {
    ByteWriter w;
    w.u8(f.idLength)             // ID length
        .u8(f.colourMapType)     // colour map type
        .u8(f.imageType)         // image type
        .u16(f.colourMapFirst)   // colour map first entry index
        .u16(f.colourMapLength)  // colour map length
        .u8(f.colourMapEntrySize)  // colour map entry size
        .u16(0)                  // X origin
        .u16(0)                  // Y origin
        .u16(f.width)            // image width
        .u16(f.height)           // image height
        .u8(f.pixelDepth)        // pixel depth
        .u8(f.descriptor);       // image descriptor: 0x20 = top row first
    return w;
}

TgaFields trueColour(uint32_t width, uint32_t height, uint32_t depth = 24, uint32_t type = 2) {
    TgaFields f;
    f.imageType = type;
    f.width = width;
    f.height = height;
    f.pixelDepth = depth;
    return f;
}

TgaFields colourMapped(uint32_t width, uint32_t height, uint32_t length, uint32_t type = 1) {
    TgaFields f;
    f.colourMapType = 1;
    f.imageType = type;
    f.colourMapLength = length;
    f.colourMapEntrySize = 24;
    f.width = width;
    f.height = height;
    f.pixelDepth = 8;
    return f;
}

Rgb fiveBits(Rgb c) {
    return {static_cast<uint8_t>(c[0] & 0xF8), static_cast<uint8_t>(c[1] & 0xF8), static_cast<uint8_t>(c[2] & 0xF8)};
}

// The picture a variant must show, told by its name.
Rgb expectedVariantPixel(const std::string& name, int x, int y) {
    if (name.rfind("type3_", 0) == 0) {
        const uint8_t g = reference::grey(x, y);
        return {g, g, g};
    }
    const bool fiveBitChannels = name.find("_16.") != std::string::npos || name.find("_map15.") != std::string::npos ||
                                 name.find("_map16.") != std::string::npos;
    return fiveBitChannels ? fiveBits(reference::rgb(x, y)) : reference::rgb(x, y);
}

TEST(TgaVariants, EveryVariantShowsTheReferencePicture) {
    const auto files = dataFiles("tga");
    // Types 2 and 10 at 16, 24, 32 bits and types 1 and 9 with four entry
    // sizes, both row orders; 16-bit indices; greyscale; an unused colour map.
    ASSERT_EQ(files.size(), 33u);
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        Loaded loaded;
        loadPath(path, loaded);
        ASSERT_TRUE(loaded.ok);
        // 32-bit true colour keeps its alpha, which the generator makes x * 37.
        const bool alpha = name.rfind("type1_", 0) != 0 && name.rfind("type9_", 0) != 0 &&
                           name.find("_32.tga") != std::string::npos;
        expectFilled(loaded.image, reference::width, reference::height, alpha ? 32 : 24);
        EXPECT_EQ(loaded.image.hasAlpha, alpha ? 1 : 0);
        for (int y = 0; y < reference::height; ++y)
            for (int x = 0; x < reference::width; ++x) {
                ASSERT_EQ(loaded.pixel(x, y), expectedVariantPixel(name, x, y)) << "at " << x << "," << y;
                if (alpha) {
                    ASSERT_EQ(loaded.fourth(x, y), (x * 37) & 0xFF) << "alpha at " << x << "," << y;
                }
            }
        expectBitmapShowsPixels(loaded);
    }
}

TEST(TgaVariants, EveryTruncationFails) {
    for (const char* name : {"type1_bottom_up_map16.tga", "type2_top_down_32.tga", "type3_bottom_up_8.tga",
                             "type9_top_down_map24.tga", "type10_bottom_up_24.tga", "type10_top_down_16.tga"}) {
        SCOPED_TRACE(name);
        expectEveryTruncationFails(fileBytes(dataDirectory("tga") / name), "tga");
    }
}

struct PixelCase {
    const char* name;
    Bytes file;
    int width;
    int height;
    std::vector<Rgb> pixels;  // top row first
    std::vector<uint8_t> alpha = {};  // when the picture keeps alpha
    friend void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }
};

class TgaPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(TgaPixels, DecodeToTheseBytes) {
    const PixelCase& c = GetParam();
    Loaded loaded;
    loadBytes(c.file, "tga", loaded);
    ASSERT_TRUE(loaded.ok);
    expectFilled(loaded.image, c.width, c.height, c.alpha.empty() ? 24 : 32);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const auto k = static_cast<size_t>(y * c.width + x);
            EXPECT_EQ(loaded.pixel(x, y), c.pixels[k]) << x << "," << y;
            if (!c.alpha.empty()) {
                EXPECT_EQ(loaded.fourth(x, y), c.alpha[k]) << x << "," << y;
            }
        }
    expectBitmapShowsPixels(loaded);
}

TgaFields withDescriptor(TgaFields f, uint32_t descriptor) {
    f.descriptor = descriptor;
    return f;
}

TgaFields withId(TgaFields f, uint32_t idLength) {
    f.idLength = idLength;
    return f;
}

TgaFields withFirstEntry(TgaFields f, uint32_t first) {
    f.colourMapFirst = first;
    return f;
}

TgaFields withUnusedMap(TgaFields f, uint32_t length, uint32_t entrySize) {
    f.colourMapType = 1;
    f.colourMapLength = length;
    f.colourMapEntrySize = entrySize;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TgaPixels,
    ::testing::Values(
        PixelCase{"SixteenBitsWidenByAShiftAndIgnoreBitFifteen",
                  tgaHeader(trueColour(4, 1, 16)).u16(0x7FFF).u16(0x8000).u16(0x7C00).u16(0x0421).bytes, 4, 1,
                  {{248, 248, 248}, {0, 0, 0}, {248, 0, 0}, {8, 8, 8}}},
        PixelCase{"ThirtyTwoBitsKeepAlpha",
                  tgaHeader(trueColour(2, 1, 32)).u8(10).u8(20).u8(30).u8(0).u8(1).u8(2).u8(3).u8(255).bytes, 2,
                  1, {{30, 20, 10}, {3, 2, 1}}, {0, 255}},
        PixelCase{"BottomRowFirstIsTurnedUpright",
                  tgaHeader(withDescriptor(trueColour(1, 3), 0x00)).u8(1).u8(1).u8(1).u8(2).u8(2).u8(2)
                      .u8(3).u8(3).u8(3).bytes,
                  1, 3, {{3, 3, 3}, {2, 2, 2}, {1, 1, 1}}},
        PixelCase{"RightToLeftBitHasNoEffect",
                  tgaHeader(withDescriptor(trueColour(2, 1), 0x30)).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).bytes, 2,
                  1, {{3, 2, 1}, {6, 5, 4}}},
        PixelCase{"RunPacketCrossesARowEnd",
                  // 3 x 2: raw packet of 2, run of 3, raw packet of 1.
                  tgaHeader(trueColour(3, 2, 24, 10)).u8(0x01).u8(1).u8(1).u8(1).u8(2).u8(2).u8(2)
                      .u8(0x82).u8(9).u8(8).u8(7).u8(0x00).u8(4).u8(5).u8(6).bytes,
                  3, 2, {{1, 1, 1}, {2, 2, 2}, {7, 8, 9}, {7, 8, 9}, {7, 8, 9}, {6, 5, 4}}},
        PixelCase{"RunLengthBottomRowFirst",
                  // 2 x 2 stored bottom row first: a run of 3 then a raw pixel.
                  tgaHeader(withDescriptor(trueColour(2, 2, 24, 10), 0x00)).u8(0x82).u8(1).u8(2).u8(3)
                      .u8(0x00).u8(4).u8(5).u8(6).bytes,
                  2, 2, {{3, 2, 1}, {6, 5, 4}, {3, 2, 1}, {3, 2, 1}}},
        PixelCase{"ImageIdOf255BytesIsSkipped",
                  tgaHeader(withId(trueColour(1, 1), 255)).fill(255, 0xEE).u8(1).u8(2).u8(3).bytes, 1, 1,
                  {{3, 2, 1}}},
        PixelCase{"BytesAfterTheLastPixelAreIgnored",
                  tgaHeader(trueColour(1, 1)).u8(1).u8(2).u8(3).text("TRUEVISION-XFILE.").u8(0).bytes, 1, 1,
                  {{3, 2, 1}}},
        PixelCase{"GreyscaleGivesEqualChannels", tgaHeader(trueColour(3, 1, 8, 3)).u8(0).u8(127).u8(255).bytes,
                  3, 1, {{0, 0, 0}, {127, 127, 127}, {255, 255, 255}}},
        PixelCase{"ColourMapIndicesPickStoredEntries",
                  tgaHeader(colourMapped(3, 1, 2)).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).u8(1).u8(0).u8(1).bytes,
                  3, 1, {{6, 5, 4}, {3, 2, 1}, {6, 5, 4}}},
        PixelCase{"ColourMapFirstEntryIndexDoesNotShiftIndices",
                  tgaHeader(withFirstEntry(colourMapped(1, 1, 1), 16)).u8(1).u8(2).u8(3).u8(0).bytes, 1, 1,
                  {{3, 2, 1}}},
        PixelCase{"FifteenBitColourMapEntries",
                  [] {
                      TgaFields f = colourMapped(2, 1, 2);
                      f.colourMapEntrySize = 15;
                      return tgaHeader(f).u16(0x001F).u16(0x03E0).u8(0).u8(1).bytes;
                  }(),
                  2, 1, {{0, 0, 248}, {0, 248, 0}}},
        PixelCase{"SixteenBitIndices",
                  [] {
                      TgaFields f = colourMapped(2, 1, 258);
                      f.pixelDepth = 16;
                      return tgaHeader(f).fill(256 * 3, 0).u8(7).u8(8).u8(9).u8(1).u8(2).u8(3).u16(257).u16(256)
                          .bytes;
                  }(),
                  2, 1, {{3, 2, 1}, {9, 8, 7}}},
        PixelCase{"RunLengthColourMapped",
                  tgaHeader(colourMapped(3, 1, 2, 9)).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).u8(0x81).u8(1).u8(0x00)
                      .u8(0).bytes,
                  3, 1, {{6, 5, 4}, {6, 5, 4}, {3, 2, 1}}},
        PixelCase{"TrueColourStepsOverADeclaredColourMap",
                  // Three 15-bit entries (6 bytes) before the pixel.
                  tgaHeader(withUnusedMap(trueColour(1, 1), 3, 15)).fill(6, 0xAA).u8(1).u8(2).u8(3).bytes, 1, 1,
                  {{3, 2, 1}}},
        PixelCase{"GreyscaleStepsOverADeclaredColourMap",
                  tgaHeader(withUnusedMap(trueColour(1, 1, 8, 3), 2, 32)).fill(8, 0xAA).u8(77).bytes, 1, 1,
                  {{77, 77, 77}}}),
    [](const auto& param) { return std::string(param.param.name); });

class TgaMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(TgaMalformed, FailsAndLeavesTheImageReset) {
    Loaded loaded;
    loadBytes(GetParam().file, "tga", loaded);
    expectFailed(loaded);
}

TgaFields withType(TgaFields f, uint32_t type) {
    f.imageType = type;
    return f;
}

TgaFields withMapType(TgaFields f, uint32_t mapType) {
    f.colourMapType = mapType;
    return f;
}

TgaFields withEntrySize(TgaFields f, uint32_t bits) {
    f.colourMapEntrySize = bits;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TgaMalformed,
    ::testing::Values(
        MalformedCase{"EmptyFile", {}},
        MalformedCase{"SeventeenBytes", Bytes(17, 0)},
        MalformedCase{"ColourMapTypeTwo", tgaHeader(withMapType(trueColour(1, 1), 2)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"ImageTypeZero", tgaHeader(withType(trueColour(1, 1), 0)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"RunLengthGreyscaleType11", tgaHeader(trueColour(1, 1, 8, 11)).u8(0).u8(1).bytes},
        MalformedCase{"ImageTypeFour", tgaHeader(withType(trueColour(1, 1), 4)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"PixelDepthFifteen", tgaHeader(trueColour(1, 1, 15)).u16(0).bytes},
        MalformedCase{"PixelDepthTwelve", tgaHeader(trueColour(1, 1, 12)).u16(0).bytes},
        MalformedCase{"TrueColourOfEightBits", tgaHeader(trueColour(2, 1, 8)).u8(1).u8(2).bytes},
        MalformedCase{"RunLengthTrueColourOfEightBits", tgaHeader(trueColour(2, 1, 8, 10)).u8(0x81).u8(1).bytes},
        MalformedCase{"GreyscaleOfSixteenBits", tgaHeader(trueColour(1, 1, 16, 3)).u16(0xFFFF).bytes},
        MalformedCase{"WidthZero", tgaHeader(trueColour(0, 1)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"HeightZero", tgaHeader(trueColour(1, 0)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"EnormousSize", tgaHeader(trueColour(65535, 65535)).fill(300, 1).bytes},
        MalformedCase{"LargestSizeWithTooLittleData", tgaHeader(trueColour(16384, 16384, 24, 10)).fill(4096, 0xFF)
                                                          .bytes},
        MalformedCase{"ColourMapLengthZero", tgaHeader(colourMapped(1, 1, 0)).u8(0).bytes},
        MalformedCase{"ColourMapEntrySizeEight",
                      tgaHeader(withEntrySize(colourMapped(1, 1, 1), 8)).u8(1).u8(0).bytes},
        MalformedCase{"ColourMapPastTheEnd", tgaHeader(colourMapped(1, 1, 2)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"IndexEqualToTheColourMapLength",
                      tgaHeader(colourMapped(2, 1, 2)).fill(6, 9).u8(0).u8(2).bytes},
        MalformedCase{"RunIndexPastTheColourMap",
                      tgaHeader(colourMapped(2, 1, 1, 9)).u8(1).u8(2).u8(3).u8(0x81).u8(1).bytes},
        MalformedCase{"IdPastTheEnd", tgaHeader(withId(trueColour(1, 1), 200)).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"DataEndsBeforeTheLastPixel", tgaHeader(trueColour(2, 1)).u8(1).u8(2).u8(3).u8(4).bytes},
        MalformedCase{"LastPacketOneBeyondTheImage",
                      tgaHeader(trueColour(2, 1, 24, 10)).u8(0x82).u8(1).u8(2).u8(3).bytes},
        MalformedCase{"RawPacketBeyondTheImage",
                      tgaHeader(trueColour(1, 1, 24, 10)).u8(0x01).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).bytes},
        MalformedCase{"PacketHeaderMissing",
                      tgaHeader(trueColour(2, 1, 24, 10)).u8(0x80).u8(1).u8(2).u8(3).u8(0x80).bytes},
        MalformedCase{"RunValueCutShort", tgaHeader(trueColour(1, 1, 24, 10)).u8(0x80).u8(1).u8(2).bytes},
        MalformedCase{"DeclaredColourMapHidesThePixels",
                      tgaHeader(withUnusedMap(trueColour(1, 1), 1, 24)).u8(1).u8(2).u8(3).bytes}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
