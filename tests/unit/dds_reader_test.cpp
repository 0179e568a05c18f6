#include <gtest/gtest.h>

#include <string>

#include "tests/unit/reader_test_support.h"
#include "tests/unit/reference_picture.h"

namespace {

using readertest::Bytes;
using readertest::Loaded;
using readertest::Rgb;
using testing_files::put16;
using testing_files::put32;

constexpr uint32_t linearSizeFlag = 0x80000;
constexpr uint32_t usualFlags = 0x1007;  // caps, height, width, pixel format

constexpr uint32_t code(const char (&c)[5]) {
    return uint32_t(uint8_t(c[0])) | uint32_t(uint8_t(c[1])) << 8 | uint32_t(uint8_t(c[2])) << 16 |
           uint32_t(uint8_t(c[3])) << 24;
}

struct Masks {
    uint32_t red, green, blue, alpha;
};
constexpr Masks argb8888{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
constexpr Masks xrgb8888{0xFF0000, 0xFF00, 0xFF, 0};
constexpr Masks rgb565{0xF800, 0x7E0, 0x1F, 0};

struct DdsFile {
    const char* signature = "DDS ";
    uint32_t flags = usualFlags | 0x8;  // pitch given: rows are read one by one
    uint32_t height = 1;
    uint32_t width = 1;
    uint32_t fourCc = 0;
    uint32_t bitCount = 32;
    Masks masks = argb8888;
    Bytes data;

    Bytes bytes() const {
        Bytes out(signature, signature + 4);  // signature
        put32(out, 124);                       // header size
        put32(out, flags);                     // flags
        put32(out, height);                    // height
        put32(out, width);                     // width
        put32(out, 0);                         // pitch or linear size (not examined)
        put32(out, 0);                         // depth
        put32(out, 0);                         // mipmap count
        out.insert(out.end(), 44, 0);         // reserved
        put32(out, 32);                        // pixel format size
        put32(out, fourCc ? 0x4 : 0x41);       // pixel format flags
        put32(out, fourCc);                    // FourCC
        put32(out, bitCount);                  // RGB bit count
        put32(out, masks.red);                 // red mask
        put32(out, masks.green);               // green mask
        put32(out, masks.blue);                // blue mask
        put32(out, masks.alpha);               // alpha mask
        out.insert(out.end(), 20, 0);         // capabilities and reserved
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

DdsFile compressedFile(uint32_t fourCc, uint32_t width, uint32_t height, const Bytes& blocks) {
    DdsFile f;
    f.flags = usualFlags | linearSizeFlag;
    f.fourCc = fourCc;
    f.bitCount = 0;
    f.masks = {};
    f.width = width;
    f.height = height;
    f.data = blocks;
    return f;
}

// A colour block: c0, c1 and one index byte per row, 2 bits a pixel from the low bits.
Bytes colourBlock(uint16_t c0, uint16_t c1, std::array<uint8_t, 4> rows) {
    Bytes out;
    put16(out, c0);
    put16(out, c1);
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

int indexAt(const std::array<uint8_t, 4>& rows, int x, int y) { return (rows[y] >> (2 * x)) & 3; }

// A loaded picture of width x height whose colour is expected(x, y): 24 bits
// a pixel, or 32 with an alpha sample when `alpha` (the alpha values are
// checked against the generated files in dds_formats_test.cpp).
template <typename Expected>
void expectColours(const Loaded& loaded, int width, int height, bool alpha, Expected expected) {
    if (!alpha) return readertest::expectPicture(loaded, width, height, expected);
    ASSERT_TRUE(loaded.ok);
    readertest::expectFilled(loaded.image, width, height, 32);
    EXPECT_EQ(loaded.image.hasAlpha, 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(loaded.pixel(x, y), expected(x, y)) << "at " << x << "," << y;
    readertest::expectBitmapShowsPixels(loaded);
}

bool hasAlphaBlock(uint32_t fourCc) { return fourCc != code("DXT1"); }

// The reference picture in every variant.

struct VariantCase {
    const char* name;
    int keptBits[3];  // top bits of red, green and blue stored; 8 for lossless
    bool alpha;       // the masks give an alpha channel, which is kept
};

// A channel cut to its top `bits` and widened back as the 16-bit layouts do.
uint8_t widened(uint8_t v, int bits) {
    const uint32_t top = v >> (8 - bits);
    switch (bits) {
    case 4: return static_cast<uint8_t>(top * 17);
    case 5: return static_cast<uint8_t>(top * 255 / 31);
    case 6: return static_cast<uint8_t>(top * 255 / 63);
    default: return v;
    }
}

class DdsVariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(DdsVariantTest, DecodesToTheReferencePicture) {
    const VariantCase& c = GetParam();
    Loaded loaded;
    readertest::loadPath(readertest::dataDirectory("dds") / (std::string(c.name) + ".dds"), loaded);
    expectColours(loaded, reference::width, reference::height, c.alpha, [&](int x, int y) {
        const Rgb p = reference::rgb(x, y);
        return Rgb{widened(p[0], c.keptBits[0]), widened(p[1], c.keptBits[1]), widened(p[2], c.keptBits[2])};
    });
}

INSTANTIATE_TEST_SUITE_P(Files, DdsVariantTest,
                         ::testing::Values(VariantCase{"argb8888", {8, 8, 8}, true}, VariantCase{"xrgb8888", {8, 8, 8}, false},
                                           VariantCase{"abgr8888", {8, 8, 8}, true},
                                           VariantCase{"rgb888", {8, 8, 8}, false},
                                           VariantCase{"rgb888_linear", {8, 8, 8}, false},
                                           VariantCase{"rgb888_mipmaps", {8, 8, 8}, false},
                                           VariantCase{"a1r5g5b5", {5, 5, 5}, true},
                                           VariantCase{"a4r4g4b4", {4, 4, 4}, true},
                                           VariantCase{"r5g6b5", {5, 6, 5}, false}),
                         readertest::caseName<VariantCase>);

TEST(DdsVariants, CompressedFilesDecodeToTheirExpectedPicture) {
    // DXT1 has three-colour blocks; DXT3 and DXT5 decode the same colour
    // blocks with four colours each, and keep their alpha.
    for (const auto& [name, reference] : {std::pair{"dxt1", "dxt_expected.dds"}, std::pair{"dxt3", "dxt_alpha_expected.dds"},
                                          std::pair{"dxt5", "dxt_alpha_expected.dds"}}) {
        SCOPED_TRACE(name);
        Loaded expected;
        readertest::loadPath(readertest::dataDirectory("dds") / reference, expected);
        ASSERT_TRUE(expected.ok);
        Loaded loaded;
        readertest::loadPath(readertest::dataDirectory("dds") / (std::string(name) + ".dds"), loaded);
        expectColours(loaded, reference::width, reference::height, std::string(name) != "dxt1",
                      [&](int x, int y) { return expected.pixel(x, y); });
    }
}

// Hand-computed colour blocks.

struct BlockCase {
    const char* name;
    uint16_t c0, c1;
    Rgb colours[4];           // DXT1
    Rgb fourColourTable[4];   // DXT3 and DXT5: always four colours
};

class DdsBlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(DdsBlockTest, EveryIndexGivesItsTableColourInEachFormat) {
    const BlockCase& c = GetParam();
    const std::array<uint8_t, 4> rows = {0xE4, 0x1B, 0x00, 0xFF};  // 0 1 2 3 / 3 2 1 0 / 0 0 0 0 / 3 3 3 3
    const Bytes colour = colourBlock(c.c0, c.c1, rows);
    // Alpha data of every kind leaves the colour alone: DXT3 explicit alpha,
    // DXT5 interpolated alpha in both modes (alpha0 > alpha1 and alpha0 <= alpha1).
    const Bytes explicitAlpha = {0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    const Bytes eightAlphas = {200, 10, 0x88, 0x46, 0x2C, 0xFA, 0x05, 0x91};
    const Bytes sixAlphas = {10, 200, 0x88, 0x46, 0x2C, 0xFA, 0x05, 0x91};
    const struct {
        uint32_t fourCc;
        Bytes alpha;
    } formats[] = {{code("DXT1"), {}}, {code("DXT3"), explicitAlpha}, {code("DXT5"), eightAlphas},
                   {code("DXT5"), sixAlphas}};
    for (const auto& format : formats) {
        Bytes block = format.alpha;
        block.insert(block.end(), colour.begin(), colour.end());
        Loaded loaded;
        readertest::loadBytes(compressedFile(format.fourCc, 4, 4, block).bytes(), "dds", loaded);
        const Rgb* table = format.fourCc == code("DXT1") ? c.colours : c.fourColourTable;
        expectColours(loaded, 4, 4, hasAlphaBlock(format.fourCc), [&](int x, int y) { return table[indexAt(rows, x, y)]; });
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, DdsBlockTest,
    ::testing::Values(
        // c0 > c1: two thirds mixes. Full red is 248 and full green 252.
        BlockCase{"FourColours", 0xFFE0, 0x001F, {{248, 252, 0}, {0, 0, 248}, {165, 168, 82}, {82, 84, 165}},
                  {{248, 252, 0}, {0, 0, 248}, {165, 168, 82}, {82, 84, 165}}},
        // (2 x 8 + 0) / 3 = 5 and (8 + 0) / 3 = 2: each mix truncates.
        BlockCase{"FourColoursTruncate", 0x0821, 0x0000, {{8, 4, 8}, {0, 0, 0}, {5, 2, 5}, {2, 1, 2}},
                  {{8, 4, 8}, {0, 0, 0}, {5, 2, 5}, {2, 1, 2}}},
        // c0 < c1: in DXT1 the half mix and cyan for index 3; in DXT3 and
        // DXT5 still the two-thirds mixes, (2 x 0 + 248) / 3 = 82 and so on.
        BlockCase{"ThreeColours", 0x001F, 0xFFE0, {{0, 0, 248}, {248, 252, 0}, {124, 126, 124}, {0, 255, 255}},
                  {{0, 0, 248}, {248, 252, 0}, {82, 84, 165}, {165, 168, 82}}},
        BlockCase{"EqualColoursAreThreeColourMode",
                  0x8410,
                  0x8410,
                  {{128, 128, 128}, {128, 128, 128}, {128, 128, 128}, {0, 255, 255}},
                  {{128, 128, 128}, {128, 128, 128}, {128, 128, 128}, {128, 128, 128}}}),
    readertest::caseName<BlockCase>);

// Where blocks land.

Rgb solid(int i) { return {static_cast<uint8_t>(i * 64), static_cast<uint8_t>(252 - i * 32), 8}; }
uint16_t solid565(int i) { return static_cast<uint16_t>((i * 8) << 11 | (63 - i * 8) << 5 | 1); }

// Blocks of one colour each (index 0 everywhere), block i coloured solid(i).
Bytes solidBlocks(uint32_t fourCc, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        if (fourCc != code("DXT1")) out.insert(out.end(), 8, 0xFF);
        const Bytes block = colourBlock(solid565(i), 0, {0, 0, 0, 0});
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

struct PlacementCase {
    const char* name;
    uint32_t width, height;
    int blocksAcross, blocksDown;
};

class DdsPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(DdsPlacementTest, BlocksGoLeftToRightThenDownAndEdgePixelsAreDropped) {
    const PlacementCase& c = GetParam();
    for (uint32_t fourCc : {code("DXT1"), code("DXT5")}) {
        const Bytes blocks = solidBlocks(fourCc, c.blocksAcross * c.blocksDown);
        Loaded loaded;
        readertest::loadBytes(compressedFile(fourCc, c.width, c.height, blocks).bytes(), "dds", loaded);
        expectColours(loaded, int(c.width), int(c.height), hasAlphaBlock(fourCc),
                      [&](int x, int y) { return solid((y / 4) * c.blocksAcross + x / 4); });
        // One byte fewer than the blocks need fails.
        Loaded shortened;
        const Bytes shorter(blocks.begin(), blocks.end() - 1);
        readertest::loadBytes(compressedFile(fourCc, c.width, c.height, shorter).bytes(), "dds", shortened);
        readertest::expectFailed(shortened);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DdsPlacementTest,
                         ::testing::Values(PlacementCase{"OneBlock", 4, 4, 1, 1},
                                           PlacementCase{"SideBySide", 8, 4, 2, 1},
                                           PlacementCase{"OneAboveTheOther", 4, 8, 1, 2},
                                           PlacementCase{"SevenByFive", 7, 5, 2, 2},
                                           PlacementCase{"NineByTwo", 9, 2, 3, 1},
                                           PlacementCase{"TwoByTwo", 2, 2, 1, 1},
                                           PlacementCase{"OnePixel", 1, 1, 1, 1}),
                         readertest::caseName<PlacementCase>);

TEST(DdsPlacement, AnEdgeBlockKeepsItsInsidePixelsByIndex) {
    // 2 x 3: one block; the pixels keep indices of rows 0 to 2, columns 0 and 1.
    const std::array<uint8_t, 4> rows = {0xE4, 0x1B, 0x4E, 0xFF};
    Loaded loaded;
    readertest::loadBytes(compressedFile(code("DXT1"), 2, 3, colourBlock(0xFFE0, 0x001F, rows)).bytes(), "dds", loaded);
    const Rgb colours[4] = {{248, 252, 0}, {0, 0, 248}, {165, 168, 82}, {82, 84, 165}};
    readertest::expectPicture(loaded, 2, 3, [&](int x, int y) { return colours[indexAt(rows, x, y)]; });
}

// Uncompressed layouts.

struct PixelCase {
    const char* name;
    uint32_t bitCount;
    Masks masks;
    Bytes data;  // two pixels
    Rgb first, second;
    std::array<int, 2> alpha = {-1, -1};  // the alpha of each pixel, when the masks give one
};

class DdsPixelTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(DdsPixelTest, GivesExactBytes) {
    const PixelCase& c = GetParam();
    DdsFile f;
    f.width = 2;
    f.bitCount = c.bitCount;
    f.masks = c.masks;
    f.data = c.data;
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "dds", loaded);
    expectColours(loaded, 2, 1, c.alpha[0] >= 0, [&](int x, int) { return x ? c.second : c.first; });
    if (c.alpha[0] >= 0) {
        EXPECT_EQ(loaded.fourth(0, 0), c.alpha[0]);
        EXPECT_EQ(loaded.fourth(1, 0), c.alpha[1]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DdsPixelTest,
    ::testing::Values(
        PixelCase{"Argb8888", 32, argb8888, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1}, {7, 6, 5}, {4, 8}},
        PixelCase{"Xrgb8888ReadsFourBytes", 32, xrgb8888, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1}, {7, 6, 5}},
        PixelCase{"Rgb888ReadsThreeBytes", 24, xrgb8888, {1, 2, 3, 4, 5, 6}, {3, 2, 1}, {6, 5, 4}},
        // Red in the lowest byte: the masks say where each channel lies.
        PixelCase{"Abgr8888", 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3}, {5, 6, 7},
                  {4, 8}},
        PixelCase{"Bgr888", 24, {0xFF, 0xFF00, 0xFF0000, 0}, {1, 2, 3, 4, 5, 6}, {1, 2, 3}, {4, 5, 6}},
        // All red bits give 255; 5-bit 16 gives 131 and 6-bit 32 gives 129.
        PixelCase{"Rgb565Full", 16, rgb565, {0x00, 0xF8, 0xFF, 0x07}, {255, 0, 0}, {0, 255, 255}},
        PixelCase{"Rgb565Halves", 16, rgb565, {0x00, 0x80, 0x10, 0x04}, {131, 0, 0}, {0, 129, 131}},
        PixelCase{"Bgr565", 16, {0x1F, 0x7E0, 0xF800, 0}, {0x00, 0xF8, 0x01, 0x00}, {0, 0, 255}, {8, 0, 0}},
        // The alpha bit widens to 0 or 255, the alpha nibble by 17.
        PixelCase{"Argb1555", 16, {0x7C00, 0x3E0, 0x1F, 0x8000}, {0x00, 0xC0, 0x1F, 0x02}, {131, 0, 0}, {0, 131, 255},
                  {255, 0}},
        PixelCase{"Argb4444", 16, {0xF00, 0xF0, 0xF, 0xF000}, {0x23, 0xA1, 0x00, 0x78}, {17, 34, 51}, {136, 0, 0},
                  {170, 119}}),
    readertest::caseName<PixelCase>);

TEST(DdsUncompressed, RowsLinearDataAndBitCountZeroReadTheSame) {
    DdsFile f;
    f.width = 2;
    f.height = 2;
    f.masks = xrgb8888;
    f.bitCount = 24;
    f.data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const auto expected = [](int x, int y) {
        const uint8_t b = static_cast<uint8_t>(6 * y + 3 * x + 1);
        return Rgb{uint8_t(b + 2), uint8_t(b + 1), b};
    };
    Loaded rows;
    readertest::loadBytes(f.bytes(), "dds", rows);
    readertest::expectPicture(rows, 2, 2, expected);
    f.flags = usualFlags | linearSizeFlag;
    Loaded linear;
    readertest::loadBytes(f.bytes(), "dds", linear);
    readertest::expectPicture(linear, 2, 2, expected);
    f.flags = usualFlags;
    f.bitCount = 0;  // not 32, so 3 bytes a pixel; read in one piece
    Loaded noBitCount;
    readertest::loadBytes(f.bytes(), "dds", noBitCount);
    readertest::expectPicture(noBitCount, 2, 2, expected);
}

TEST(DdsUncompressed, DataAfterTheFirstSurfaceIsIgnored) {
    DdsFile f;
    f.data = {1, 2, 3, 4, 9, 9, 9, 9, 9, 9, 9};
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "dds", loaded);
    expectColours(loaded, 1, 1, true, [](int, int) { return Rgb{3, 2, 1}; });
}

// Malformed files.

DdsFile validRows() {
    DdsFile f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 16;
    f.masks = rgb565;
    f.data = Bytes(12, 0x5A);
    return f;
}

DdsFile validLinear() {
    DdsFile f = validRows();
    f.flags = usualFlags | linearSizeFlag;
    f.bitCount = 24;
    f.masks = xrgb8888;
    f.data = Bytes(18, 0xA5);
    return f;
}

TEST(DdsMalformed, EveryTruncationOfAValidFileFails) {
    const DdsFile files[] = {validRows(), validLinear(),
                             compressedFile(code("DXT1"), 5, 5, solidBlocks(code("DXT1"), 4)),
                             compressedFile(code("DXT5"), 4, 4, solidBlocks(code("DXT5"), 1))};
    for (const DdsFile& f : files) {
        const Bytes whole = f.bytes();
        Loaded loaded;
        readertest::loadBytes(whole, "dds", loaded);
        ASSERT_TRUE(loaded.ok);
        readertest::expectEveryTruncationFails(whole, "dds");
    }
}

struct MalformedCase {
    const char* name;
    void (*spoil)(DdsFile&);
};

class DdsMalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(DdsMalformedTest, Fails) {
    DdsFile f = validRows();
    GetParam().spoil(f);
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "dds", loaded);
    readertest::expectFailed(loaded);
}

void compress(DdsFile& f, const char (&c)[5]) { f = compressedFile(code(c), 4, 4, Bytes(16, 0)); }

INSTANTIATE_TEST_SUITE_P(
    Headers, DdsMalformedTest,
    ::testing::Values(
        MalformedCase{"Signature", [](DdsFile& f) { f.signature = "DDS\t"; }},
        MalformedCase{"HeaderOnly", [](DdsFile& f) { f.data.clear(); }},
        MalformedCase{"UnknownFourCc", [](DdsFile& f) { compress(f, "ATI3"); }},
        MalformedCase{"Dx10WithoutItsExtension", [](DdsFile& f) { compress(f, "DX10"); f.data.resize(12); }},
        MalformedCase{"ZeroWidth", [](DdsFile& f) { f.width = 0; }},
        MalformedCase{"ZeroHeight", [](DdsFile& f) { f.height = 0; }},
        MalformedCase{"ZeroSizedDxt", [](DdsFile& f) { compress(f, "DXT1"); f.width = 0; }},
        MalformedCase{"TooManyPixels", [](DdsFile& f) { f.width = 0x4001; f.height = 0x4000; }},
        // 4 x width x height would wrap round to 0.
        MalformedCase{"SizeWraps", [](DdsFile& f) { f.width = 0x8000; f.height = 0x8000; }},
        MalformedCase{"HugeSides", [](DdsFile& f) { f.width = f.height = 0xFFFFFFFF; }},
        MalformedCase{"HugeDxt", [](DdsFile& f) { compress(f, "DXT5"); f.width = f.height = 0x10000; }},
        MalformedCase{"DxtDataShort", [](DdsFile& f) { compress(f, "DXT1"); f.width = 12; }},
        MalformedCase{"LinearDataShort",
                      [](DdsFile& f) { f.flags |= linearSizeFlag; f.data.pop_back(); }},
        MalformedCase{"RowsShort", [](DdsFile& f) { f.data.pop_back(); }},
        // Rows of 3 x 40 / 8 bytes would not fit in 4 bytes a pixel.
        MalformedCase{"RowBitCountAbove32", [](DdsFile& f) { f.bitCount = 40; f.data.resize(64); }},
        // 3 x 2 / 8 is 0.
        MalformedCase{"RowLengthZero", [](DdsFile& f) { f.bitCount = 2; }},
        // Rows of 2 bytes a pixel cannot supply 4-byte pixels.
        MalformedCase{"RowsShorterThanTheLayout",
                      [](DdsFile& f) { f.masks = argb8888; f.data.resize(24); }},
        MalformedCase{"Rgb555WithoutAlpha", [](DdsFile& f) { f.masks = {0x7C00, 0x3E0, 0x1F, 0}; }},
        MalformedCase{"Rgb444WithoutAlpha", [](DdsFile& f) { f.masks = {0xF00, 0xF0, 0xF, 0}; }},
        MalformedCase{"LuminanceOnly", [](DdsFile& f) { f.masks = {0xFF, 0, 0, 0}; }},
        MalformedCase{"Alpha8With565", [](DdsFile& f) { f.masks = {0xF800, 0x7E0, 0x1F, 0xFF0000}; }},
        MalformedCase{"Alpha1With565", [](DdsFile& f) { f.masks = {0xF800, 0x7E0, 0x1F, 0x10000}; }},
        MalformedCase{"Alpha2", [](DdsFile& f) { f.masks = {0xFF0000, 0xFF00, 0xFF, 0x3000000}; }},
        MalformedCase{"NoMasks", [](DdsFile& f) { f.masks = {}; }}),
    readertest::caseName<MalformedCase>);

}  // namespace
