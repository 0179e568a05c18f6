// PNG and JPEG reading: the generated files of tests/data/png against the
// pixels the generator computed, and PNG files built here byte by byte for
// what must fail and what must still load. Nothing here uses zlib, so the
// same tests hold the Windows codecs to the same pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/unit/reader_test_support.h"

namespace {

using namespace readertest;

// ------------------------------------------------------------ data files

std::string expectedPixelsOf(const std::filesystem::path& file) {
    return (file.parent_path() / "expected" / (file.filename().string() + ".pixels")).string();
}

// True when the loaded pixels are the expected ones. On Windows JPEG comes
// from the Windows Imaging Component, which under Wine is IJG libjpeg 9: its
// colour conversion rounds differently and it upsamples chroma by a scaled
// DCT instead of libjpeg-turbo's triangle filter. Grey pictures decode
// alike, 4:4:4 colour within 1, and subsampled colour to the same picture
// but for its chroma: a mean difference of 7.3 on these files, where red and
// blue swapped give 42 and a row out of place 18.
bool samePixels(const std::string& name, const Bytes& expected, const uint8_t* pixels) {
#ifdef _WIN32
    const bool jpeg = name.rfind("jpeg_", 0) == 0;
    if (jpeg && name.find("grey") == std::string::npos) {
        uint64_t total = 0;
        int largest = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            const int difference = std::abs(int{expected[i]} - int{pixels[i]});
            total += static_cast<uint64_t>(difference);
            largest = std::max(largest, difference);
        }
        if (name.find("_444") != std::string::npos) return largest <= 1;
        return total <= 8 * expected.size();
    }
#endif
    (void)name;
    return std::equal(expected.begin(), expected.end(), pixels);
}

TEST(PngVariants, EveryFileLoadsToTheGeneratorsPixels) {
    const auto files = dataFiles("png");
    // 5 colour types x their depths x 2 interlacings (34), 20 of them again
    // with ancillary chunks, and 6 JPEG files.
    ASSERT_EQ(files.size(), 60u);
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        Loaded loaded;
        loadPath(path, loaded);
        ASSERT_TRUE(loaded.ok);
        const Bytes expected = fileBytes(expectedPixelsOf(path));
        // 16-bit samples stay 16 bits and colour types 4 and 6 keep alpha.
        const bool words = name.find("_d16_") != std::string::npos;
        const bool alpha = name.rfind("ct4_", 0) == 0 || name.rfind("ct6_", 0) == 0;
        const int bitsPerPixel = (alpha ? 4 : 3) * (words ? 16 : 8);
        expectFilled(loaded.image, loaded.image.width, loaded.image.height, bitsPerPixel);
        EXPECT_EQ(loaded.image.hasAlpha, alpha ? 1 : 0);
        ASSERT_EQ(expected.size(), loaded.image.dataSize);
        ASSERT_TRUE(samePixels(name, expected, loaded.image.pixels));
        expectBitmapShowsPixels(loaded);
    }
}

TEST(PngVariants, TruncatedJpegFilesFail) {
    // Every fifth length, and each of the last ten (the end of the entropy
    // data and the end-of-image marker).
    for (const char* name : {"jpeg_baseline_420.jpg", "jpeg_progressive_420.jpg"}) {
        SCOPED_TRACE(name);
        const Bytes file = fileBytes(dataDirectory("png") / name);
        for (size_t length = 0; length < file.size(); length += length + 10 < file.size() ? 5 : 1) {
            Loaded loaded;
            loadBytes(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), "jpg", loaded);
            ASSERT_FALSE(loaded.ok) << "truncated to " << length;
        }
    }
}

TEST(FormatNames, TheExtensionPicksTheName) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {{"a.bmp", "BMP"}, {"b.TGA", "Targa"}, {"c.pcx", "PCX"}, {"d.psd", "Photoshop"},
                 {"e.dds", "DDS"}, {"f.pgm", "Netpbm"}, {"g.Png", "PNG"}, {"h.jpg", "JPEG"},
                 {"i.JPEG", "JPEG"}, {"dir.png/file", nullptr}, {"j.gif", nullptr}, {"k", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const char* name = formatNameOf(c.path);
        if (!c.name)
            EXPECT_EQ(name, nullptr);
        else
            EXPECT_STREQ(name, c.name);
    }
}

// ------------------------------------------------------ files built here

uint32_t crc32Of(const Bytes& bytes, size_t from) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = from; i < bytes.size(); ++i) {
        c ^= bytes[i];
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

void putBig32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

Bytes chunk(const char* type, const Bytes& data) {
    Bytes b;
    putBig32(b, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    putBig32(b, crc32Of(Bytes(b.begin() + 4, b.end()), 0));
    return b;
}

Bytes ihdr(uint32_t width, uint32_t height, uint32_t depth, uint32_t colourType, uint32_t compression = 0,
           uint32_t filter = 0, uint32_t interlace = 0) {
    Bytes d;
    putBig32(d, width);
    putBig32(d, height);
    for (uint32_t v : {depth, colourType, compression, filter, interlace}) d.push_back(static_cast<uint8_t>(v));
    return chunk("IHDR", d);
}

// A zlib stream of stored (uncompressed) deflate blocks.
Bytes zlibStored(const Bytes& raw, bool goodAdler = true) {
    Bytes z = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - at, 65535);
        z.push_back(at + n == raw.size() ? 1 : 0);  // BFINAL, BTYPE 00
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at), raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(z, goodAdler ? (b << 16 | a) : ~(b << 16 | a));
    return z;
}

Bytes signature() { return {137, 'P', 'N', 'G', 13, 10, 26, 10}; }

Bytes png(std::initializer_list<Bytes> chunks) {
    Bytes b = signature();
    for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
    return b;
}

// A 2 x 2 RGB picture, each row with filter 0: 1 2 3 | 4 5 6 / 7 8 9 | 10 11 12.
const Bytes rgbRows = {0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12};
const std::vector<Rgb> rgbPixels = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
// The same as a palette picture of 4-bit indices 0 1 / 2 0 over three entries.
const Bytes paletteRows = {0, 0x01, 0, 0x20};
const Bytes threeEntries = {1, 2, 3, 4, 5, 6, 7, 8, 9};

Bytes iend() { return chunk("IEND", {}); }
Bytes rgbPng() { return png({ihdr(2, 2, 8, 2), chunk("IDAT", zlibStored(rgbRows)), iend()}); }

Bytes withByte(Bytes b, size_t at, uint8_t value) {
    b[at] = value;
    return b;
}

// Offsets in rgbPng(): IHDR's CRC at 29, IDAT's data from 41.
constexpr size_t ihdrCrc = 29, idatData = 41;
static_assert(idatData == 8 + 25 + 8);

class PngMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(PngMalformed, FailsAndLeavesTheImageReset) {
    Loaded loaded;
    loadBytes(GetParam().file, "png", loaded);
    expectFailed(loaded);
}

Bytes idatOf(const Bytes& rows) { return chunk("IDAT", zlibStored(rows)); }

INSTANTIATE_TEST_SUITE_P(
    Cases, PngMalformed,
    ::testing::Values(
        MalformedCase{"BadSignature", withByte(rgbPng(), 1, 'p')},
        MalformedCase{"IhdrCrc", withByte(rgbPng(), ihdrCrc, 0)},
        MalformedCase{"IdatCrc", [] { Bytes b = rgbPng(); b[b.size() - 13] ^= 1; return b; }()},
        MalformedCase{"PlteCrc", [] {
                          Bytes plte = chunk("PLTE", threeEntries);
                          plte.back() ^= 1;
                          return png({ihdr(2, 2, 4, 3), plte, idatOf(paletteRows), iend()});
                      }()},
        MalformedCase{"NoIhdr", png({idatOf(rgbRows), iend()})},
        MalformedCase{"IhdrOneByteShort", png({chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0}),
                                               idatOf(rgbRows), iend()})},
        MalformedCase{"ZeroWidth", png({ihdr(0, 2, 8, 2), idatOf(rgbRows), iend()})},
        MalformedCase{"ZeroHeight", png({ihdr(2, 0, 8, 2), idatOf(rgbRows), iend()})},
        MalformedCase{"WidthPastTheFormatsLimit", png({ihdr(0x80000000u, 1, 8, 2), idatOf(rgbRows), iend()})},
        MalformedCase{"GreyDepth3", png({ihdr(2, 2, 3, 0), idatOf(rgbRows), iend()})},
        MalformedCase{"RgbDepth4", png({ihdr(2, 2, 4, 2), idatOf(rgbRows), iend()})},
        MalformedCase{"PaletteDepth16", png({ihdr(2, 2, 16, 3), chunk("PLTE", threeEntries), idatOf(rgbRows), iend()})},
        MalformedCase{"GreyAlphaDepth4", png({ihdr(2, 2, 4, 4), idatOf(rgbRows), iend()})},
        MalformedCase{"ColourType5", png({ihdr(2, 2, 8, 5), idatOf(rgbRows), iend()})},
        MalformedCase{"CompressionMethod1", png({ihdr(2, 2, 8, 2, 1), idatOf(rgbRows), iend()})},
        MalformedCase{"FilterMethod1", png({ihdr(2, 2, 8, 2, 0, 1), idatOf(rgbRows), iend()})},
        MalformedCase{"InterlaceMethod2", png({ihdr(2, 2, 8, 2, 0, 0, 2), idatOf(rgbRows), iend()})},
        MalformedCase{"PaletteMissing", png({ihdr(2, 2, 4, 3), idatOf(paletteRows), iend()})},
        MalformedCase{"IndexPastThePalette", png({ihdr(2, 2, 4, 3), chunk("PLTE", {1, 2, 3, 4, 5, 6}),
                                                  idatOf(paletteRows), iend()})},
        MalformedCase{"PaletteNotWholeEntries", png({ihdr(2, 2, 4, 3), chunk("PLTE", {1, 2, 3, 4, 5, 6, 7}),
                                                     idatOf(paletteRows), iend()})},
        MalformedCase{"EmptyPalette", png({ihdr(2, 2, 4, 3), chunk("PLTE", {}), idatOf(paletteRows), iend()})},
        MalformedCase{"TwoPalettes", png({ihdr(2, 2, 4, 3), chunk("PLTE", threeEntries), chunk("PLTE", threeEntries),
                                          idatOf(paletteRows), iend()})},
        MalformedCase{"UnknownCriticalChunk", png({ihdr(2, 2, 8, 2), chunk("QUUX", {1}), idatOf(rgbRows), iend()})},
        MalformedCase{"NoImageData", png({ihdr(2, 2, 8, 2), iend()})},
        MalformedCase{"ZlibHeaderCheck",
                      png({ihdr(2, 2, 8, 2), chunk("IDAT", withByte(zlibStored(rgbRows), 1, 0x02)), iend()})},
        MalformedCase{"DeflateBlockType3",
                      png({ihdr(2, 2, 8, 2), chunk("IDAT", withByte(zlibStored(rgbRows), 2, 0x07)), iend()})},
        MalformedCase{"FilterType5", png({ihdr(2, 2, 8, 2), idatOf(withByte(rgbRows, 7, 5)), iend()})},
        MalformedCase{"DataEndsBeforeTheLastRow",
                      png({ihdr(2, 2, 8, 2), idatOf(Bytes(rgbRows.begin(), rgbRows.end() - 1)), iend()})},
        MalformedCase{"FileEndsInsideTheImageData", [] {
                          const Bytes b = rgbPng();
                          return Bytes(b.begin(), b.begin() + idatData + 12);
                      }()},
        // 2^28 + 1 pixels: refused before any picture-sized allocation.
        MalformedCase{"TooManyPixels", png({ihdr(16385, 16384, 8, 2), idatOf(rgbRows), iend()})},
        // 2^28 pixels are allowed, but 20 bytes of deflate data cannot hold
        // them: refused before anything is inflated or allocated.
        MalformedCase{"HugePictureFromTinyData", png({ihdr(16384, 16384, 8, 2), idatOf(rgbRows), iend()})}),
    caseName<MalformedCase>);

TEST(PngMalformed, EveryTruncationOfTheImageDataFails) {
    // Cuts up to the last byte of the rows; what follows is the checksum.
    const Bytes file = rgbPng();
    const size_t rowsEnd = file.size() - 12 - 4 - 4;
    for (size_t length = 0; length < rowsEnd; ++length) {
        Loaded loaded;
        loadBytes(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), "png", loaded);
        ASSERT_FALSE(loaded.ok) << "truncated to " << length;
    }
}

// Files that load to the 2 x 2 picture despite trouble after the last row,
// chunks never read, or data that other decoders also accept.
struct ToleratedCase {
    const char* name;
    Bytes file;
    friend void PrintTo(const ToleratedCase& c, std::ostream* os) { *os << c.name; }
};

class PngTolerated : public ::testing::TestWithParam<ToleratedCase> {};

TEST_P(PngTolerated, LoadsTheSamePicture) {
    Loaded loaded;
    loadBytes(GetParam().file, "png", loaded);
    expectPicture(loaded, 2, 2, [](int x, int y) { return rgbPixels[static_cast<size_t>(2 * y + x)]; });
}

Bytes rowsThenMore(size_t extra) {
    Bytes rows = rgbRows;
    rows.insert(rows.end(), extra, 0xAB);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngTolerated,
    ::testing::Values(
        ToleratedCase{"MissingIend", png({ihdr(2, 2, 8, 2), idatOf(rgbRows)})},
        ToleratedCase{"BadAdlerChecksum", png({ihdr(2, 2, 8, 2), chunk("IDAT", zlibStored(rgbRows, false)), iend()})},
        ToleratedCase{"MoreImageDataAfterTheStream",
                     png({ihdr(2, 2, 8, 2), idatOf(rgbRows), chunk("IDAT", {1, 2, 3, 4}), iend()})},
        // 200 000 bytes more than the picture in the stream: never inflated.
        ToleratedCase{"StreamLongerThanThePicture", png({ihdr(2, 2, 8, 2), idatOf(rowsThenMore(200000)), iend()})},
        ToleratedCase{"BytesAfterIend", [] { Bytes b = rgbPng(); b.insert(b.end(), 100, 0xEE); return b; }()},
        ToleratedCase{"AncillaryChunkWithABadCrc", [] {
                         Bytes text = chunk("tEXt", {'a', 0, 'b'});
                         text.back() ^= 1;
                         return png({ihdr(2, 2, 8, 2), text, idatOf(rgbRows), iend()});
                     }()},
        // Outside palette pictures a PLTE is a suggestion; a grey one is ignored.
        ToleratedCase{"SuggestedPalette",
                     png({ihdr(2, 2, 8, 2), chunk("PLTE", threeEntries), idatOf(rgbRows), iend()})},
        ToleratedCase{"PalettePicture", png({ihdr(2, 2, 4, 3), chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
                                            idatOf({0, 0x01, 0, 0x23}), iend()})},
        // Entries past what 2 bits can index are never used.
        ToleratedCase{"PaletteLongerThanTheDepthCanIndex",
                      png({ihdr(2, 2, 2, 3), chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 99, 99, 99}),
                           idatOf({0, 0x10, 0, 0xB0}), iend()})},
        ToleratedCase{"ImageDataSplitAcrossChunks", [] {
                         const Bytes z = zlibStored(rgbRows);
                         Bytes b = png({ihdr(2, 2, 8, 2)});
                         for (size_t i = 0; i < z.size(); i += 3) {
                             const Bytes piece(z.begin() + static_cast<std::ptrdiff_t>(i),
                                               z.begin() + static_cast<std::ptrdiff_t>(std::min(i + 3, z.size())));
                             const Bytes c = chunk("IDAT", piece);
                             b.insert(b.end(), c.begin(), c.end());
                         }
                         const Bytes end = iend();
                         b.insert(b.end(), end.begin(), end.end());
                         return b;
                     }()}),
    caseName<ToleratedCase>);

// One pixel, interlaced: only the first of the seven passes holds a row (the
// PNG suite's s01i3p01, a palette picture of depth 1).
TEST(PngInterlaced, OnePixelWithSixEmptyPassesLoads) {
    for (const uint32_t colourType : {0u, 3u}) {
        Loaded loaded;
        loadBytes(png({ihdr(1, 1, 1, colourType, 0, 0, 1), chunk("PLTE", {0, 0, 255, 9, 9, 9}),
                       idatOf({0, 0x80}), iend()}),
                  "png", loaded);
        expectPicture(loaded, 1, 1, [&](int, int) { return colourType == 3 ? Rgb{9, 9, 9} : Rgb{255, 255, 255}; });
    }
}

}  // namespace
