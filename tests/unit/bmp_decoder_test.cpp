// BMP variants through the platform's bitmap-file decoder: every depth, row
// order, compression and header kind must give the file's picture as a
// 24-bit, bottom-row-first, blue-green-red display bitmap, and the Image's
// pixels top row first in red, green, blue. Files are built here from bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/platform.h"
#include "readers/readers.h"

namespace {

namespace fs = std::filesystem;

// Outside Windows the loader is our own decoder, which refuses uncompressed
// pixel data that ends early and keeps what an RLE stream decoded before it
// was cut. The Windows loader is only held to what any loader must do.
#ifdef _WIN32
constexpr bool ownDecoder = false;
#else
constexpr bool ownDecoder = true;
#endif

using Rgb = std::array<uint8_t, 3>;
using Picture = std::vector<std::vector<Rgb>>;  // rows, top row first

constexpr Rgb black{0, 0, 0};

// The 3 x 2 picture most cases store: an odd width, so rows need padding.
const Picture threeByTwo = {
    {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}},
    {{100, 110, 120}, {130, 140, 150}, {160, 170, 180}},
};

// Little-endian bytes of a file under construction.
struct Bytes {
    std::vector<uint8_t> data;
    Bytes& u8(uint32_t v) {
        data.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Bytes& u16(uint32_t v) { return u8(v & 0xFF).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    Bytes& raw(const std::vector<uint8_t>& bytes) {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return *this;
    }
};

// What goes into a test file. Palette entries and colours are 0xRRGGBB.
struct BmpLayout {
    uint32_t headerSize = 40;
    int32_t width = 3;
    int32_t height = 2;
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> palette;
    std::vector<uint32_t> masks;  // red, green, blue[, alpha]; in or after the header
    std::vector<uint8_t> pixels;  // the pixel data exactly as stored
    int64_t dataOffset = -1;      // -1: right after the palette
};

std::vector<uint8_t> buildBmp(const BmpLayout& s) {
    const bool core = s.headerSize == 12;
    const bool masksAfterHeader = s.headerSize == 40 && !s.masks.empty();
    const uint32_t headersEnd = 14 + s.headerSize + (masksAfterHeader ? 4 * static_cast<uint32_t>(s.masks.size()) : 0);
    const uint32_t paletteEnd = headersEnd + static_cast<uint32_t>(s.palette.size()) * (core ? 3 : 4);
    const uint32_t dataOffset = s.dataOffset < 0 ? paletteEnd : static_cast<uint32_t>(s.dataOffset);
    Bytes b;
    b.u8('B').u8('M');                                                   // magic
    b.u32(paletteEnd + static_cast<uint32_t>(s.pixels.size()));          // file size
    b.u16(0).u16(0);                                                     // reserved
    b.u32(dataOffset);                                                   // offset of the pixel data
    b.u32(s.headerSize);                                                 // information header size
    if (core) {
        b.u16(static_cast<uint32_t>(s.width));                           // width, 16-bit
        b.u16(static_cast<uint32_t>(s.height));                          // height, 16-bit, bottom-up
        b.u16(s.planes);                                                 // planes
        b.u16(s.bitCount);                                               // bits per pixel
    } else {
        b.i32(s.width);                                                  // width
        b.i32(s.height);                                                 // height: negative means top-down
        b.u16(s.planes);                                                 // planes
        b.u16(s.bitCount);                                               // bits per pixel
        b.u32(s.compression);                                            // compression
        b.u32(static_cast<uint32_t>(s.pixels.size()));                   // image size
        b.i32(2835).i32(2835);                                           // pixels per metre, x and y
        b.u32(s.colorsUsed);                                             // colours used, 0 = all
        b.u32(0);                                                        // colours important
        if (s.headerSize >= 52)
            for (size_t i = 0; i < 3; ++i) b.u32(i < s.masks.size() ? s.masks[i] : 0);  // red, green, blue masks
        if (s.headerSize >= 56) b.u32(s.masks.size() > 3 ? s.masks[3] : 0);               // alpha mask
        if (s.headerSize >= 108) {
            b.u32(0x73524742);                                           // colour space "sRGB"
            for (int i = 0; i < 9; ++i) b.u32(0);                        // colour space end points
            b.u32(0).u32(0).u32(0);                                      // gamma red, green, blue
        }
        if (s.headerSize >= 124) b.u32(4).u32(0).u32(0).u32(0);         // intent, profile offset and size, reserved
        while (b.data.size() < 14 + s.headerSize) b.u8(0);               // rest of other header sizes
        if (masksAfterHeader)
            for (uint32_t m : s.masks) b.u32(m);                         // masks after a 40-byte header
    }
    for (uint32_t c : s.palette) {
        b.u8(c & 0xFF).u8((c >> 8) & 0xFF).u8(c >> 16);                  // blue, green, red
        if (!core) b.u8(0x5A);                                           // reserved (junk, never shown)
    }
    return b.raw(s.pixels).data;
}

Rgb colour(uint32_t rrggbb) {
    return {static_cast<uint8_t>(rrggbb >> 16), static_cast<uint8_t>(rrggbb >> 8), static_cast<uint8_t>(rrggbb)};
}
uint32_t packed(Rgb c) { return uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2]; }

// Owns an Image decoded from bytes by the dispatcher, under a ".bmp" name.
struct Loaded {
    Image image{};
    bool ok = false;
    explicit Loaded(const std::vector<uint8_t>& bytes) {
        LoadFailure failure;
        ok = decodeImage(bytes, "picture.bmp", &image, failure);
    }
    ~Loaded() { resetImage(&image); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    Rgb at(size_t x, size_t y) const {
        const uint8_t* p = image.pixels + (y * static_cast<size_t>(image.width) + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

// The Image's pixels and its display bitmap (every byte, padding included)
// show exactly `expected`.
void expectPicture(const Loaded& loaded, const Picture& expected) {
    ASSERT_TRUE(loaded.ok);
    const size_t h = expected.size(), w = expected[0].size();
    ASSERT_EQ(loaded.image.width, static_cast<int32_t>(w));
    ASSERT_EQ(loaded.image.height, static_cast<int32_t>(h));
    ASSERT_EQ(loaded.image.bitsPerPixel, 24);
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) EXPECT_EQ(loaded.at(x, y), expected[y][x]) << "pixel " << x << ", " << y;

    BitmapInfo info;
    ASSERT_TRUE(platformQueryBitmap(loaded.image.bitmap, info));
    ASSERT_NE(info.bits, nullptr);
    ASSERT_EQ(info.width, static_cast<int32_t>(w));
    ASSERT_EQ(info.height, static_cast<int32_t>(h));
    const size_t stride = displayStride(static_cast<uint32_t>(w));
    std::vector<uint8_t> want(stride * h, 0);
    for (size_t row = 0; row < h; ++row)  // memory row 0 is the bottom of the picture
        for (size_t x = 0; x < w; ++x) {
            const Rgb& c = expected[h - 1 - row][x];
            want[row * stride + 3 * x] = c[2];
            want[row * stride + 3 * x + 1] = c[1];
            want[row * stride + 3 * x + 2] = c[0];
        }
    const std::vector<uint8_t> got(info.bits, info.bits + stride * h);
    EXPECT_EQ(got, want);
}

// ---------------------------------------------------------------------------
// Variants that hold the same kind of picture.

struct VariantCase {
    const char* name;
    BmpLayout layout;
    Picture expected;
};
void PrintTo(const VariantCase& c, std::ostream* os) { *os << c.name; }

class BmpVariantTest : public ::testing::TestWithParam<VariantCase> {};

// Wine's bitmap loader reads two kinds of file its own way: 5-6-5 bit-fields
// with five bits of green, and 4-bit tables behind an OS/2 core header. What
// the Windows loader makes of a file is the platform's; there only the size
// is held to ours.
bool wineReadsDifferently(const std::string& name) {
    return !ownDecoder && (name.rfind("Rgb565", 0) == 0 || name == "Pal4Core");
}

TEST_P(BmpVariantTest, GivesThePicture) {
    const VariantCase& c = GetParam();
    Loaded loaded(buildBmp(c.layout));
    if (wineReadsDifferently(c.name)) {
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.image.width, static_cast<int32_t>(c.expected[0].size()));
        EXPECT_EQ(loaded.image.height, static_cast<int32_t>(c.expected.size()));
        return;
    }
    expectPicture(loaded, c.expected);
}

// A 256-entry palette whose every entry is distinct and not black.
std::vector<uint32_t> fullPalette() {
    std::vector<uint32_t> p;
    for (uint32_t i = 0; i < 256; ++i) p.push_back(packed({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                                            static_cast<uint8_t>(i ^ 0x5A)}));
    return p;
}
Rgb fullPaletteColour(uint32_t i) { return colour(fullPalette()[i]); }

// Rows of 24-bit pixels in file order (bottom-up unless topDown), each padded
// with junk that a loader must skip.
std::vector<uint8_t> rows24(const Picture& p, bool topDown) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < p.size(); ++i) {
        const auto& row = p[topDown ? i : p.size() - 1 - i];
        for (const Rgb& c : row) out.insert(out.end(), {c[2], c[1], c[0]});
        while (out.size() % 4) out.push_back(0xEE);
    }
    return out;
}

// Rows of 32-bit pixels, blue, green, red and a junk fourth byte.
std::vector<uint8_t> rows32(const Picture& p) {
    std::vector<uint8_t> out;
    for (size_t i = p.size(); i-- > 0;)
        for (const Rgb& c : p[i]) out.insert(out.end(), {c[2], c[1], c[0], 0xAB});
    return out;
}

// Rows of 32-bit pixels stored red, green, blue, alpha.
std::vector<uint8_t> rows32Rgba(const Picture& p) {
    std::vector<uint8_t> out;
    for (size_t i = p.size(); i-- > 0;)
        for (const Rgb& c : p[i]) out.insert(out.end(), {c[0], c[1], c[2], 0x80});
    return out;
}

// 16-bit pixels are given by their file value, bottom row first; rows of
// three pixels are padded with two junk bytes.
std::vector<uint8_t> rows16(const std::vector<std::vector<uint16_t>>& fileRows) {
    std::vector<uint8_t> out;
    for (const auto& row : fileRows) {
        for (uint16_t v : row) out.insert(out.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
        out.insert(out.end(), {0xEE, 0xEE});
    }
    return out;
}
constexpr uint16_t rgb555(uint32_t r, uint32_t g, uint32_t b) { return static_cast<uint16_t>(r << 10 | g << 5 | b); }
constexpr uint16_t rgb565(uint32_t r, uint32_t g, uint32_t b) { return static_cast<uint16_t>(r << 11 | g << 5 | b); }

// Six colours for the small palettes; none is black.
const std::vector<uint32_t> sixColours = {0xC81E3C, 0x14DC8C, 0x3264FA, 0xFAC832, 0x7F7F7F, 0x0A0B0C};
Rgb six(size_t i) { return colour(sixColours[i]); }

BmpLayout layout(uint16_t bitCount, std::vector<uint8_t> pixels) {
    BmpLayout s;
    s.bitCount = bitCount;
    s.pixels = std::move(pixels);
    return s;
}
BmpLayout with(BmpLayout s, auto change) {
    change(s);
    return s;
}

const std::vector<VariantCase> variantCases = {
    {"Rgb24BottomUp", layout(24, rows24(threeByTwo, false)), threeByTwo},
    {"Rgb24TopDown", with(layout(24, rows24(threeByTwo, true)), [](BmpLayout& s) { s.height = -2; }), threeByTwo},
    {"Rgb32", layout(32, rows32(threeByTwo)), threeByTwo},
    // Bit-fields with alpha after a 40-byte header, channels in another order.
    {"Rgba32Bitfields",
     with(layout(32, rows32Rgba(threeByTwo)),
          [](BmpLayout& s) {
              s.compression = 3;
              s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
          }),
     threeByTwo},
    {"Rgba32V5",
     with(layout(32, rows32Rgba(threeByTwo)),
          [](BmpLayout& s) {
              s.headerSize = 124;
              s.compression = 3;
              s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
          }),
     threeByTwo},
    {"Rgb24V4", with(layout(24, rows24(threeByTwo, false)), [](BmpLayout& s) { s.headerSize = 108; }), threeByTwo},
    {"Rgb24Core", with(layout(24, rows24(threeByTwo, false)), [](BmpLayout& s) { s.headerSize = 12; }), threeByTwo},
    // 2-10-10-10: each 10-bit channel gives its top 8 bits.
    {"Rgb30Bitfields",
     with(layout(32,
               [] {
                   Bytes b;  // bottom row, then top row; red in bits 20-29, green 10-19, blue 0-9
                   b.u32(0x3FF << 20 | 0x001 << 10 | 0x203).u32(0x0FF << 20 | 0x100 << 10 | 0x3FC).u32(0);
                   b.u32(0x004 << 20 | 0x3FB << 10 | 0x155).u32(0xC0000000u).u32(0x2AA << 20);
                   return b.data;
               }()),
          [](BmpLayout& s) {
              s.compression = 3;
              s.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
          }),
     Picture{{{1, 254, 85}, {0, 0, 0}, {170, 0, 0}}, {{255, 0, 128}, {63, 64, 255}, {0, 0, 0}}}},
    // 5-5-5: each 5-bit value v widens to (v << 3) | (v >> 2); the top bit is unused.
    {"Rgb555",
     layout(16, rows16({{rgb555(16, 16, 16), rgb555(21, 1, 31), rgb555(10, 21, 1)},
                      {static_cast<uint16_t>(0x8000 | rgb555(31, 0, 16)), rgb555(1, 10, 21), rgb555(0, 31, 0)}})),
     Picture{{{255, 0, 132}, {8, 82, 173}, {0, 255, 0}}, {{132, 132, 132}, {173, 8, 255}, {82, 173, 8}}}},
    // 5-6-5 bit-fields: a 6-bit green v widens to (v << 2) | (v >> 4).
    {"Rgb565Bitfields",
     with(layout(16, rows16({{rgb565(1, 45, 16), rgb565(21, 20, 10), rgb565(0, 0, 0)},
                           {rgb565(31, 63, 0), rgb565(0, 1, 31), rgb565(16, 32, 1)}})),
          [](BmpLayout& s) {
              s.compression = 3;
              s.masks = {0xF800, 0x07E0, 0x001F};
          }),
     Picture{{{255, 255, 0}, {0, 4, 255}, {132, 130, 8}}, {{8, 182, 132}, {173, 81, 82}, {0, 0, 0}}}},
    // The same 5-6-5 pixels with the masks inside a BITMAPV4HEADER.
    {"Rgb565V4",
     with(layout(16, rows16({{rgb565(1, 45, 16), rgb565(21, 20, 10), rgb565(0, 0, 0)},
                           {rgb565(31, 63, 0), rgb565(0, 1, 31), rgb565(16, 32, 1)}})),
          [](BmpLayout& s) {
              s.headerSize = 108;
              s.compression = 3;
              s.masks = {0xF800, 0x07E0, 0x001F, 0};
          }),
     Picture{{{255, 255, 0}, {0, 4, 255}, {132, 130, 8}}, {{8, 182, 132}, {173, 81, 82}, {0, 0, 0}}}},
    // 1 bit: top row 1 0 1, bottom row 0 1 1; unused bits and padding are junk.
    {"Pal1",
     with(layout(1, {0x7F, 0xEE, 0xEE, 0xEE, 0xBF, 0xEE, 0xEE, 0xEE}),
          [](BmpLayout& s) { s.palette = {sixColours[0], sixColours[1]}; }),
     Picture{{six(1), six(0), six(1)}, {six(0), six(1), six(1)}}},
    // 4 bits, six colours: top row 5 0 3, bottom row 1 4 2.
    {"Pal4",
     with(layout(4, {0x14, 0x2F, 0xEE, 0xEE, 0x50, 0x3F, 0xEE, 0xEE}),
          [](BmpLayout& s) {
              s.colorsUsed = 6;
              s.palette = sixColours;
          }),
     Picture{{six(5), six(0), six(3)}, {six(1), six(4), six(2)}}},
    // 4 bits with an OS/2 core header: sixteen 3-byte palette entries.
    {"Pal4Core",
     with(layout(4, {0x14, 0x2F, 0xEE, 0xEE, 0x50, 0x3F, 0xEE, 0xEE}),
          [](BmpLayout& s) {
              s.headerSize = 12;
              s.palette = sixColours;
              s.palette.resize(16, 0xFFFFFF);
          }),
     Picture{{six(5), six(0), six(3)}, {six(1), six(4), six(2)}}},
    // 8 bits, colour count 0 meaning all 256: top row 5 0 250, bottom 17 3 128.
    {"Pal8",
     with(layout(8, {17, 3, 128, 0xEE, 5, 0, 250, 0xEE}), [](BmpLayout& s) { s.palette = fullPalette(); }),
     Picture{{fullPaletteColour(5), fullPaletteColour(0), fullPaletteColour(250)},
             {fullPaletteColour(17), fullPaletteColour(3), fullPaletteColour(128)}}},
    // 8 bits, top-down, with a V5 header.
    {"Pal8TopDownV5",
     with(layout(8, {5, 0, 250, 0xEE, 17, 3, 128, 0xEE}),
          [](BmpLayout& s) {
              s.headerSize = 124;
              s.height = -2;
              s.palette = fullPalette();
          }),
     Picture{{fullPaletteColour(5), fullPaletteColour(0), fullPaletteColour(250)},
             {fullPaletteColour(17), fullPaletteColour(3), fullPaletteColour(128)}}},
    // Two colours declared: index 7 lies past them and shows black.
    {"Pal8IndexPastColours",
     with(layout(8, {1, 7, 0, 0xEE, 0, 1, 1, 0xEE}),
          [](BmpLayout& s) {
              s.colorsUsed = 2;
              s.palette = {sixColours[2], sixColours[3]};
          }),
     Picture{{six(2), six(3), six(3)}, {six(3), black, six(2)}}},
    // A data offset of 0: the pixels follow the palette.
    {"Pal8DataOffsetZero",
     with(layout(8, {17, 3, 128, 0xEE, 5, 0, 250, 0xEE}),
          [](BmpLayout& s) {
              s.palette = fullPalette();
              s.dataOffset = 0;
          }),
     Picture{{fullPaletteColour(5), fullPaletteColour(0), fullPaletteColour(250)},
             {fullPaletteColour(17), fullPaletteColour(3), fullPaletteColour(128)}}},
};

INSTANTIATE_TEST_SUITE_P(Variants, BmpVariantTest, ::testing::ValuesIn(variantCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A palette written shorter than its header declares (colour count 0 at 8
// bits means 256), with the data offset right after the entries written: the
// table stops at the pixels, and the missing entries are black. Windows reads
// the whole declared table, pixel bytes and all, so this is our own rule.
TEST(BmpPalette, TableStopsAtTheDataOffset) {
    if (!ownDecoder) GTEST_SKIP() << "the Windows loader reads the declared table";
    BmpLayout s = layout(8, {5, 7, 0, 0xEE, 1, 2, 3, 0xEE});
    s.palette = sixColours;  // six of 256 written
    Loaded loaded(buildBmp(s));
    expectPicture(loaded, {{six(1), six(2), six(3)}, {six(5), black, six(0)}});
}

// ---------------------------------------------------------------------------
// RLE: a 6 x 4 picture with an 8-colour palette (index 0 not black): pixels
// the stream never reaches show colour 0, as a zeroed index buffer gives.

const std::vector<uint32_t> eightColours = {0xC81E3C, 0x14DC8C, 0x3264FA, 0xFAC832,
                                            0x7F7F7F, 0x0A0B0C, 0x40E0D0, 0xFF00FF};
Rgb eight(size_t i) { return colour(eightColours[i]); }
const Rgb unreached = eight(0);

BmpLayout rleLayout(uint16_t bitCount, uint32_t compression, std::vector<uint8_t> stream, int32_t width = 6,
                int32_t height = 4) {
    BmpLayout s;
    s.width = width;
    s.height = height;
    s.bitCount = bitCount;
    s.compression = compression;
    s.colorsUsed = 8;
    s.palette = eightColours;
    s.pixels = std::move(stream);
    return s;
}

const std::vector<uint8_t> rle8Stream = {
    3, 1,                 // bottom row: three of index 1
    0, 3, 2, 3, 4, 0,     // absolute run of 2 3 4, padded to 16 bits
    0, 0,                 // end of line
    2, 5,                 // two of index 5
    0, 2, 1, 1,           // delta: one right, one up (to x 3 of the third row from the top)
    3, 6,                 // three of index 6
    0, 0,                 // end of line
    0, 4, 7, 0, 1, 2,     // top row: absolute run of 7 0 1 2
    0, 1,                 // end of bitmap: the top row's last two pixels are never reached
};
const Picture rle8Picture = {
    {eight(7), eight(0), eight(1), eight(2), unreached, unreached},
    {unreached, unreached, unreached, eight(6), eight(6), eight(6)},
    {eight(5), eight(5), unreached, unreached, unreached, unreached},
    {eight(1), eight(1), eight(1), eight(2), eight(3), eight(4)},
};

const std::vector<uint8_t> rle4Stream = {
    3, 0x11,              // bottom row: 1 1 1
    0, 3, 0x23, 0x40,     // absolute run of 2 3 4 (two bytes, already even)
    0, 0,                 // end of line
    3, 0x53,              // an encoded run alternates its nibbles: 5 3 5
    0, 2, 0, 1,           // delta: none right, one up (to x 3)
    3, 0x66,              // 6 6 6
    0, 0,                 // end of line
    0, 5, 0x70, 0x12, 0x60, 0,  // top row: absolute run of 7 0 1 2 6, padded to 16 bits
    0, 1,                 // end of bitmap
};
const Picture rle4Picture = {
    {eight(7), eight(0), eight(1), eight(2), eight(6), unreached},
    {unreached, unreached, unreached, eight(6), eight(6), eight(6)},
    {eight(5), eight(3), eight(5), unreached, unreached, unreached},
    {eight(1), eight(1), eight(1), eight(2), eight(3), eight(4)},
};

TEST(BmpRle, Rle8RunsDeltaAbsoluteAndEndOfLine) {
    Loaded loaded(buildBmp(rleLayout(8, 1, rle8Stream)));
    expectPicture(loaded, rle8Picture);
}

TEST(BmpRle, Rle4RunsDeltaAbsoluteAndEndOfLine) {
    Loaded loaded(buildBmp(rleLayout(4, 2, rle4Stream)));
    expectPicture(loaded, rle4Picture);
}

// A run longer than the row never spills into the next row: the loader
// either refuses the file or clips the run at the row's end.
TEST(BmpRle, RunPastTheRowEndStaysInItsRow) {
    const std::vector<uint8_t> stream = {5, 1, 0, 0, 2, 2, 0, 1};  // five of 1 in a row of 3; then 2 2
    Loaded loaded(buildBmp(rleLayout(8, 1, stream, 3, 2)));
    if (!loaded.ok && !ownDecoder) return;
    expectPicture(loaded, {{eight(2), eight(2), unreached}, {eight(1), eight(1), eight(1)}});
}

TEST(BmpRle, TopDownRleIsRefused) {
    Loaded rle8(buildBmp(with(rleLayout(8, 1, rle8Stream), [](BmpLayout& s) { s.height = -4; })));
    EXPECT_FALSE(rle8.ok);
    Loaded rle4(buildBmp(with(rleLayout(4, 2, rle4Stream), [](BmpLayout& s) { s.height = -4; })));
    EXPECT_FALSE(rle4.ok);
}

// ---------------------------------------------------------------------------
// Truncated files.

// Every shorter copy of an uncompressed file fails, except one that only
// lacks the last row's padding, which loads whole.
TEST(BmpTruncated, UncompressedEveryLength) {
    const auto pal8 = std::find_if(variantCases.begin(), variantCases.end(),
                                   [](const VariantCase& c) { return std::string(c.name) == "Pal8"; });
    ASSERT_NE(pal8, variantCases.end());
    const std::vector<uint8_t> full = buildBmp(pal8->layout);
    const Picture& picture = pal8->expected;
    for (size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE("length " + std::to_string(length));
        Loaded loaded(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)));
        if (length == full.size() - 1) {
            if (loaded.ok || ownDecoder) expectPicture(loaded, picture);
        } else if (ownDecoder) {
            EXPECT_FALSE(loaded.ok);
        } else if (loaded.ok && length >= 14 + 40) {
            EXPECT_EQ(loaded.image.width, 3);
            EXPECT_EQ(loaded.image.height, 2);
        }
    }
}

// A cut RLE stream shows what it decoded: every pixel is the full picture's
// or colour 0. Cut inside the headers or the palette, the file fails.
void checkRleTruncations(const BmpLayout& layout, const Picture& picture) {
    const std::vector<uint8_t> full = buildBmp(layout);
    const size_t dataOffset = full.size() - layout.pixels.size();
    for (size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE("length " + std::to_string(length));
        Loaded loaded(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)));
        if (length <= dataOffset) {
            if (ownDecoder) {
                EXPECT_FALSE(loaded.ok);
            }
            continue;
        }
        if (ownDecoder) {
            EXPECT_TRUE(loaded.ok);
        }
        if (!loaded.ok) continue;
        ASSERT_EQ(loaded.image.width, 6);
        ASSERT_EQ(loaded.image.height, 4);
        for (size_t y = 0; y < 4; ++y)
            for (size_t x = 0; x < 6; ++x) {
                const Rgb got = loaded.at(x, y);
                EXPECT_TRUE(got == picture[y][x] || got == unreached) << "pixel " << x << ", " << y;
            }
    }
    // Without only its end-of-bitmap the stream still gives the whole picture.
    Loaded withoutEnd(std::vector<uint8_t>(full.begin(), full.end() - 2));
    if (withoutEnd.ok || ownDecoder) expectPicture(withoutEnd, picture);
}

TEST(BmpTruncated, Rle8EveryLength) { checkRleTruncations(rleLayout(8, 1, rle8Stream), rle8Picture); }
TEST(BmpTruncated, Rle4EveryLength) { checkRleTruncations(rleLayout(4, 2, rle4Stream), rle4Picture); }

// ---------------------------------------------------------------------------
// Malformed and unsupported files: each fails.

struct BadCase {
    const char* name;
    std::vector<uint8_t> bytes;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

// Asked directly, because the reader's own 24-bit parser would take some of
// these files (it ignores the header size and the sign of the width).
class BmpRefusedTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BmpRefusedTest, Fails) {
    BitmapHandle bitmap = platformDecodeBitmap(GetParam().bytes);
    EXPECT_EQ(bitmap, nullptr);
    platformDeleteBitmap(bitmap);
}

std::vector<uint8_t> bytesOf(const BmpLayout& s) { return buildBmp(s); }
std::vector<uint8_t> prefix(std::vector<uint8_t> bytes, size_t length) {
    bytes.resize(length);
    return bytes;
}
// The file with its data offset pointing one byte past its end.
std::vector<uint8_t> offsetPastEnd(std::vector<uint8_t> bytes) {
    const auto offset = static_cast<uint32_t>(bytes.size() + 1);
    for (size_t i = 0; i < 4; ++i) bytes[10 + i] = static_cast<uint8_t>(offset >> (8 * i));
    return bytes;
}
std::vector<uint8_t> patched(std::vector<uint8_t> bytes, size_t offset, std::vector<uint8_t> replacement) {
    std::copy(replacement.begin(), replacement.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}
const BmpLayout good24 = layout(24, rows24(threeByTwo, false));
const BmpLayout good8 = with(layout(8, {17, 3, 128, 0, 5, 0, 250, 0}), [](BmpLayout& s) { s.palette = fullPalette(); });

const std::vector<BadCase> badCases = {
    {"Empty", {}},
    {"FileHeaderOnly", prefix(bytesOf(good24), 14)},
#ifndef _WIN32
    // Refused by our decoder; Wine's loader makes some picture of them.
    {"InformationHeaderCut", prefix(bytesOf(good24), 14 + 39)},
#endif
    {"BadMagic", patched(bytesOf(good24), 0, {'M', 'B'})},
    {"UnknownHeaderSize", patched(bytesOf(good24), 14, {20})},
    {"TwoPlanes", bytesOf(with(good24, [](BmpLayout& s) { s.planes = 2; }))},
    {"WidthZero", bytesOf(with(good24, [](BmpLayout& s) { s.width = 0; }))},
    {"WidthNegative", bytesOf(with(good24, [](BmpLayout& s) { s.width = -3; }))},
    {"HeightZero", bytesOf(with(good24, [](BmpLayout& s) { s.height = 0; }))},
#ifndef _WIN32
    {"UnknownCompression", bytesOf(with(good24, [](BmpLayout& s) { s.compression = 9; }))},
    {"Jpeg", bytesOf(with(good24, [](BmpLayout& s) { s.compression = 4; }))},
    {"Png", bytesOf(with(good24, [](BmpLayout& s) { s.compression = 5; }))},
    {"Rle8WithDepth24", bytesOf(with(good24, [](BmpLayout& s) { s.compression = 1; }))},
    {"NoncontiguousMask",
     bytesOf(with(layout(32, rows32(threeByTwo)),
                  [](BmpLayout& s) {
                      s.compression = 3;
                      s.masks = {0x00F0F000, 0x0000FF00, 0x000000FF};
                  }))},
#endif
    {"DataOffsetFarPastEnd", bytesOf(with(good24, [](BmpLayout& s) { s.dataOffset = 100000; }))},
    {"DataOffsetJustPastEnd", offsetPastEnd(bytesOf(good24))},
    {"Enormous8Bit", bytesOf(with(good8, [](BmpLayout& s) { s.width = s.height = 65535; }))},
    {"Enormous24BitSmallFile", bytesOf(with(good24, [](BmpLayout& s) { s.width = s.height = 16384; }))},
    {"EnormousCoreHeader", bytesOf(with(good24, [](BmpLayout& s) {
         s.headerSize = 12;
         s.width = s.height = 65535;
     }))},
    {"MostNegativeHeight", bytesOf(with(good24, [](BmpLayout& s) { s.height = INT32_MIN; }))},
    // 2^28 pixels of RLE from a 2-byte stream: too many pixels for the data.
    {"EnormousRle8", bytesOf(rleLayout(8, 1, {0, 1}, 16384, 16384))},
    {"EnormousRle4", bytesOf(rleLayout(4, 2, {0, 1}, 16384, 16384))},
    {"HugeRle8", bytesOf(rleLayout(8, 1, {0, 1}, 65535, 65535))},
#ifndef _WIN32
    // Our own bound, which the Windows loader need not share: 4096 pixels
    // from 2 bytes of RLE is more than any run can describe.
    {"SparseRle8", bytesOf(rleLayout(8, 1, {0, 1}, 64, 64))},
#endif
};

INSTANTIATE_TEST_SUITE_P(Malformed, BmpRefusedTest, ::testing::ValuesIn(badCases),
                         [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------
// The sample files: each loads, and those stored losslessly hold exactly the
// reference picture (scripts/testdata/reference.py).

Rgb referenceRgb(int x, int y) {
    const int r = (x == 6 && y == 4) ? 255 : (x * 40 + y * 7) % 256;
    const int g = ((255 - y * 60 - x * 3) % 256 + 256) % 256;
    const int b = (x == 0 && y == 0) ? 0 : (x * 17 + y * 45 + 3) % 256;
    return {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
}

std::vector<uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BmpSamples, EveryVariantHoldsTheReferencePicture) {
    const fs::path dir = fs::path(QUORVEL_TEST_DATA) / "bmp";
    ASSERT_TRUE(fs::is_directory(dir));
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        Loaded loaded(fileBytes(entry.path()));
        ASSERT_TRUE(loaded.ok);
        ASSERT_EQ(loaded.image.width, 7);
        ASSERT_EQ(loaded.image.height, 5);
        // 5-6-5 files keep 5 bits of red and blue and 6 of green: the stored
        // levels are the nearest, so a channel is off by at most half a step.
        const bool rgb565 = name.find("565") != std::string::npos;
        // (Wine's loader keeps five bits of green, so it may be off by a
        // step of those.)
        const std::array<int, 3> tolerance = !rgb565   ? std::array<int, 3>{0, 0, 0}
                                             : ownDecoder ? std::array<int, 3>{4, 2, 4}
                                                          : std::array<int, 3>{4, 8, 4};
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                const Rgb got = loaded.at(static_cast<size_t>(x), static_cast<size_t>(y));
                const Rgb want = referenceRgb(x, y);
                for (size_t c = 0; c < 3; ++c)
                    EXPECT_LE(std::abs(got[c] - want[c]), tolerance[c]) << "pixel " << x << ", " << y << " channel " << c;
            }
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

}  // namespace
