// TIFF reading: the generated files of tests/data/tiff against the samples
// the generator computed, and files built here byte by byte for what must be
// refused, with or without a reason. Nothing here uses libtiff, so the same
// tests hold the Windows codec to the same samples.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/reader_test_support.h"
#include "tests/unit/tiff_test_support.h"

namespace {

using namespace readertest;
using namespace tifftest;

// ------------------------------------------------------------ data files

struct ExpectedSamples {
    uint32_t width = 0, height = 0, bits = 0, channels = 0;
    Bytes samples;  // bytes, or little-endian words
};

ExpectedSamples expectedSamplesOf(const std::filesystem::path& file) {
    const Bytes b = fileBytes(file.parent_path() / "expected" / (file.filename().string() + ".samples"));
    ExpectedSamples e;
    if (b.size() < 16) return e;
    e.width = testing_files::get32(b, 0);
    e.height = testing_files::get32(b, 4);
    e.bits = testing_files::get32(b, 8);
    e.channels = testing_files::get32(b, 12);
    e.samples.assign(b.begin() + 16, b.end());
    return e;
}

// Sample i of the Image's pixels, whatever its depth.
uint32_t sampleAt(const Image& image, size_t i) {
    if (!isSixteenBit(image)) return image.pixels[i];
    uint16_t v;
    std::memcpy(&v, image.pixels + 2 * i, 2);
    return v;
}

uint32_t expectedAt(const ExpectedSamples& e, size_t i) {
    return e.bits == 16 ? uint32_t{e.samples[2 * i]} | uint32_t{e.samples[2 * i + 1]} << 8 : e.samples[i];
}

// How the platform's codec reads a data file. WIC reads no BigTIFF, no
// 12-bit samples and no halves (the reader refuses them by name). Wine's
// TIFF decoder (8.0, over libtiff), which the Windows build is tested with,
// falls short of the Windows Imaging Component: it hands 16-bit samples of
// big-endian files in the file's byte order instead of as native words
// (before the reader divides premultiplied colour, which then comes out
// unlike any expectation), and refuses 16-bit grey with alpha, 2-bit grey,
// floats of big-endian files, planar pictures of more than one sample and
// pictures of more than one extra sample.
enum class Decoded { asGenerated, refused, wordsSwapped, loadsOnly };

Decoded decodedOnThisPlatform(const std::string& name) {
#ifdef _WIN32
    const auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    const bool planar = name.find("_planar") != std::string::npos && !startsWith("grey");
    const bool bigEndian = name.find("_mm") != std::string::npos;
    if (startsWith("greyalpha16_") || startsWith("rgbaextra16_") || planar || name.find("12_") != std::string::npos ||
        name.ends_with("_big.tif") || startsWith("float16_") || startsWith("grey2_") ||
        (startsWith("float") && bigEndian))
        return Decoded::refused;
    if (startsWith("premultiplied16_") && bigEndian) return Decoded::loadsOnly;
    if (name.find("16_") != std::string::npos && bigEndian) return Decoded::wordsSwapped;
#else
    (void)name;
#endif
    return Decoded::asGenerated;
}

// One data file against its expected samples (a failed assertion ends only
// this file's check).
void checkDataFile(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    Loaded loaded;
    loadPath(path, loaded);
    const Decoded decoded = decodedOnThisPlatform(name);
    if (decoded == Decoded::refused) {
        expectFailed(loaded);
        return;
    }
    ASSERT_TRUE(loaded.ok) << loaded.failure.text;
    if (decoded == Decoded::loadsOnly) return;
    ExpectedSamples e = expectedSamplesOf(path);
    if (decoded == Decoded::wordsSwapped)
        for (size_t i = 0; i + 1 < e.samples.size(); i += 2) std::swap(e.samples[i], e.samples[i + 1]);
    const Image& image = loaded.image;
    ASSERT_EQ(image.width, static_cast<int32_t>(e.width));
    ASSERT_EQ(image.height, static_cast<int32_t>(e.height));
    EXPECT_EQ(image.sampleBits, static_cast<int32_t>(e.bits));
    EXPECT_EQ(image.hasAlpha, e.channels == 4 ? 1 : 0);
    ASSERT_EQ(image.bitsPerPixel, static_cast<int32_t>(e.bits * e.channels));
    EXPECT_EQ(image.rowPad, 0);
    EXPECT_EQ(image.bottomUp, 0);
    EXPECT_EQ(image.bgrOrder, 0);
    const size_t count = size_t{e.width} * e.height * e.channels;
    ASSERT_EQ(image.dataSize, count * (e.bits / 8));
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(sampleAt(image, i), expectedAt(e, i)) << "sample " << i % e.channels << " of pixel " << i / e.channels;
    // The display bitmap shows the colour samples, 16-bit ones reduced.
    BitmapInfo info;
    ASSERT_TRUE(platformQueryBitmap(image.bitmap, info));
    const size_t stride = displayStride(e.width);
    for (uint32_t y = 0; y < e.height; ++y)
        for (uint32_t x = 0; x < e.width; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                const uint32_t v = expectedAt(e, (size_t{y} * e.width + x) * e.channels + c);
                const uint8_t shown = info.bits[(e.height - 1 - y) * stride + 3 * x + 2 - c];
                ASSERT_EQ(shown, e.bits == 16 ? reduceSample(v) : v) << "bitmap at " << x << "," << y;
            }
}

TEST(TiffVariants, EveryFileLoadsToTheGeneratorsSamples) {
    const auto files = dataFiles("tiff");
    // 8 kinds x 4 compressions in strips, 9 in tiles and planes, 8 with the
    // predictor, 8 big-endian, 5 with premultiplied or extra samples, 2 in
    // one strip, the reference picture, and 24 of the kinds other programs
    // write: packed, white-is-zero, palette and floating-point samples,
    // reversed bits and BigTIFF (make_tiff.py).
    ASSERT_EQ(files.size(), 89u);
    for (const auto& path : files) checkDataFile(path);
}

TEST(TiffVariants, TruncatedCompressedFilesFail) {
    // Every seventh length through the strips, and every length of the
    // directory and its values at the end; packed, floating-point, palette
    // and BigTIFF files too.
    for (const char* name : {"rgb16_strips_lzw_pred.tif", "rgba16_tiles_deflate_pred.tif", "grey16_planar_packbits.tif",
                             "grey12_tiles_lzw_mm.tif", "floatalpha32_planar_lzw.tif", "palette4_strips_packbits.tif",
                             "rgb8_strips_deflate_pred_big.tif"}) {
        SCOPED_TRACE(name);
        const Bytes file = fileBytes(dataDirectory("tiff") / name);
        const bool bigEndian = file.at(0) == 'M', bigTiff = file.at(bigEndian ? 3 : 2) == 43;
        // (BigTIFF: the low half of an 8-byte offset; these files are small.)
        const size_t at = bigTiff ? (bigEndian ? 12 : 8) : 4;
        const size_t directory = bigEndian ? size_t{file.at(at)} << 24 | size_t{file.at(at + 1)} << 16 |
                                                 size_t{file.at(at + 2)} << 8 | file.at(at + 3)
                                           : testing_files::get32(file, at);
        for (size_t length = 0; length < file.size(); length += length < directory ? 7 : 1) {
            Loaded loaded;
            loadBytes(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), "tif", loaded);
            ASSERT_FALSE(loaded.ok) << "truncated to " << length << " of " << file.size();
        }
    }
}

TEST(TiffVariants, BothExtensionsReadTiff) {
    const Bytes file = fileBytes(dataDirectory("tiff") / "rgb8_strips_none.tif");
    for (const char* extension : {"tif", "tiff", "TIF", "Tiff"}) {
        SCOPED_TRACE(extension);
        Loaded loaded;
        loadBytes(file, extension, loaded);
        EXPECT_TRUE(loaded.ok);
        EXPECT_STREQ(formatNameOf((std::string("a.") + extension).c_str()), "TIFF");
    }
}

// ------------------------------------------------------ files built here

// The base of every built case: 4 x 3 RGB, 8 bits, two uncompressed strips.
Bytes base(const Mutation& mutate = {}) { return tinyRgbTiff(mutate); }

TEST(TiffBuilt, TheBaseFileLoads) {
    Loaded loaded;
    loadBytes(base(), "tif", loaded);
    expectPicture(loaded, 4, 3, [](int x, int y) { return tinyRgbPixel(x, y); });
}

TEST(TiffBuilt, BigEndianGreyWithAlphaKeepsItsAlpha) {
    // 2 x 2 grey and alpha, 16 bits, Motorola order, one strip.
    const Bytes data = {0x12, 0x34, 0xFF, 0xFE, 0x00, 0x00, 0xAB, 0xCD, 0xFF, 0xFF, 0x00, 0x01, 0x80, 0x00, 0x7F, 0xFF};
    const Bytes file = buildTiff({{256, 3, {2}},
                                  {257, 3, {2}},
                                  {258, 3, {16, 16}},
                                  {259, 3, {1}},
                                  {262, 3, {1}},
                                  {273, 4, {}},
                                  {277, 3, {2}},
                                  {279, 4, {}},
                                  {338, 3, {2}}},
                                 {data}, true);
    Loaded loaded;
    loadBytes(file, "tif", loaded);
#ifdef _WIN32
    // Wine's decoder refuses 16-bit grey with alpha (see decodedOnThisPlatform).
    expectFailed(loaded);
    return;
#endif
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.image.sampleBits, 16);
    ASSERT_EQ(loaded.image.hasAlpha, 1);
    const uint16_t expected[] = {0x1234, 0x1234, 0x1234, 0xFFFE, 0x0000, 0x0000, 0x0000, 0xABCD,
                                 0xFFFF, 0xFFFF, 0xFFFF, 0x0001, 0x8000, 0x8000, 0x8000, 0x7FFF};
    ASSERT_EQ(loaded.image.dataSize, sizeof expected);
    EXPECT_EQ(std::memcmp(loaded.image.pixels, expected, sizeof expected), 0);
}

Mutation setEntry(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
    return [=](TiffParts& parts) { putEntry(parts.entries, {tag, type, values}); };
}

Mutation setEntries(std::vector<Entry> entries) {
    return [=](TiffParts& parts) {
        for (const Entry& e : entries) putEntry(parts.entries, e);
    };
}

Mutation dropEntry(uint16_t tag) {
    return [=](TiffParts& parts) { std::erase_if(parts.entries, [&](const Entry& e) { return e.tag == tag; }); };
}

// Compressed with `scheme`, the strips filled with `byte`.
Mutation compressedStrips(uint32_t scheme, uint8_t byte) {
    return [=](TiffParts& parts) {
        putEntry(parts.entries, {259, 3, {scheme}});
        for (Bytes& strip : parts.strips) std::fill(strip.begin(), strip.end(), byte);
    };
}

// The finished file changed by `edit`.
Bytes edited(Bytes file, const std::function<void(Bytes&)>& edit) {
    edit(file);
    return file;
}

Bytes withByte(Bytes file, size_t at, uint8_t value) {
    file.at(at) = value;
    return file;
}

struct RefusedCase {
    const char* name;
    Bytes file;
    const char* kind;  // the kind the failure names; empty when the file is simply damaged
    friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class TiffRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(TiffRefused, FailsLeavingTheImageResetAndIsNamedWhenOfAKindNotRead) {
    Loaded loaded;
    loadBytes(GetParam().file, "tif", loaded);
    expectFailed(loaded);
    const bool named = *GetParam().kind != '\0';
    EXPECT_EQ(loaded.failure.problem, named ? LoadProblem::refusedKind : LoadProblem::damaged);
    EXPECT_STREQ(loaded.failure.formatName, "TIFF");
    EXPECT_STREQ(named ? loaded.failure.text : "", GetParam().kind);
}

// The strip offsets of the base file start at 8: the first strip holds
// two rows of 12 bytes, the second one row.
INSTANTIATE_TEST_SUITE_P(
    Malformed, TiffRefused,
    ::testing::Values(
        // The header and the directory.
        RefusedCase{"Empty", {}, ""},
        RefusedCase{"ByteOrderUnknown", withByte(base(), 1, 'M'), ""},
        RefusedCase{"MagicNot42", withByte(base(), 2, 41), ""},
        // A BigTIFF header says its offsets are 8 bytes long.
        RefusedCase{"BigTiffWithoutItsOffsetSize", withByte(base(), 2, 43), ""},
        RefusedCase{"DirectoryPastTheEnd", edited(base(), [](Bytes& b) { putLittle32(b, 4, 0x7FFFFFF0); }), ""},
        RefusedCase{"DirectoryInTheHeader", edited(base(), [](Bytes& b) { putLittle32(b, 4, 2); }), ""},
        RefusedCase{"DirectoryCutShort", edited(base(), [](Bytes& b) { b.resize(directoryOffset(b) + 20); }), ""},
        RefusedCase{"NoEntries", edited(base(), [](Bytes& b) { b[directoryOffset(b)] = b[directoryOffset(b) + 1] = 0; }), ""},
        RefusedCase{"ValuesPastTheEnd", base(setEntries({{258, 3, {8, 8, 8}, 0x7FFFFF00}})), ""},
        RefusedCase{"ValuesRunOverTheEnd", base(setEntries({{273, 4, {8, 32}, 0xFFFFFFFCu}})), ""},
        RefusedCase{"TagTwice", base([](TiffParts& p) { p.entries.push_back({256, 3, {4}}); }), ""},
        RefusedCase{"WidthAsARational", base(setEntry(256, 5, {4, 1})), ""},
        RefusedCase{"WidthMissing", base(dropEntry(256)), ""},
        RefusedCase{"ZeroWidth", base(setEntry(256, 4, {0})), ""},
        RefusedCase{"ZeroHeight", base(setEntry(257, 4, {0})), ""},
        RefusedCase{"LargerThanAnyPicture", base(setEntries({{256, 4, {70000}}, {257, 4, {70000}}})),
                    "70000 x 70000 pixels (more than 2^28)"},
        RefusedCase{"PhotometricMissing", base(dropEntry(262)), ""},
        RefusedCase{"RgbOfTwoSamples", base(setEntries({{277, 3, {2}}, {258, 3, {8, 8}}})), ""},
        RefusedCase{"MoreExtraSamplesThanSamples", base(setEntry(338, 3, {2})), ""},
        RefusedCase{"PlanarConfiguration3", base(setEntry(284, 3, {3})), ""},
        // Strips and tiles.
        RefusedCase{"StripPastTheEnd", base(setEntry(273, 4, {8, 0x7FFFFF00})), ""},
        RefusedCase{"StripCountPastTheEnd", base(setEntry(279, 4, {24, 0x10000})), ""},
        RefusedCase{"StripEndWraps", base(setEntries({{273, 4, {8, 0xFFFFFFF0u}}, {279, 4, {24, 0x20}}})), ""},
        RefusedCase{"StripShorterThanItsRows", base(setEntry(279, 4, {23, 12})), ""},
        RefusedCase{"FewerStripsThanRows", base(setEntries({{273, 4, {8}}, {279, 4, {24}}})), ""},
        RefusedCase{"StripByteCountsMissing", base(dropEntry(279)), ""},
        RefusedCase{"StripOffsetsMissing", base(dropEntry(273)), ""},
        RefusedCase{"RowsPerStripZero", base(setEntry(278, 3, {0})), ""},
        // A 16384 x 16384 picture from a few dozen bytes: too little data
        // at Deflate's best ratio, refused before the picture is allocated.
        RefusedCase{"DeflateDataTooShortForThePicture",
                    base(setEntries({{256, 4, {16384}},
                                     {257, 4, {16384}},
                                     {259, 3, {8}},
                                     {278, 4, {16384}},
                                     {273, 4, {8}},
                                     {279, 4, {36}}})),
                    ""},
        // Zstandard's best ratio (2^15) does not reach it either.
        RefusedCase{"ZstandardDataTooShortForThePicture",
                    base(setEntries({{256, 4, {16384}},
                                     {257, 4, {16384}},
                                     {259, 3, {50000}},
                                     {278, 4, {16384}},
                                     {273, 4, {8}},
                                     {279, 4, {36}}})),
                    ""},
        RefusedCase{"TileWidthZero",
                    base(setEntries({{322, 4, {0}}, {323, 4, {16}}, {324, 4, {8}}, {325, 4, {36}}})), ""},
        RefusedCase{"TileFarLargerThanThePicture",
                    base(setEntries({{322, 4, {65536}}, {323, 4, {65536}}, {324, 4, {8}}, {325, 4, {36}}})), ""},
        RefusedCase{"TileSidesOfFourBillion",
                    base(setEntries({{322, 4, {0xFFFFFFF0u}}, {323, 4, {0xFFFFFFF0u}}, {324, 4, {8}}, {325, 4, {36}}})),
                    ""},
        RefusedCase{"TileByteCountsMissing", base(setEntries({{322, 4, {16}}, {323, 4, {16}}, {324, 4, {8}}})), ""},
        // Data that the codec cannot decode.
        RefusedCase{"LzwCodesPastTheTable", base(compressedStrips(5, 0xFF)), ""},
        RefusedCase{"DeflateWithoutAZlibHeader", base(compressedStrips(8, 0xFF)), ""},
        RefusedCase{"PackBitsDataEndsEarly", base(compressedStrips(32773, 0x00)), ""},
        // Kinds that are not read, each with its reason.
        RefusedCase{"DoubleSamples", base(setEntries({{258, 3, {64, 64, 64}}, {339, 3, {3, 3, 3}}})),
                    "64-bit floating-point samples"},
        RefusedCase{"FloatSamplesTooShortForTheirStrips",
                    base(setEntries({{258, 3, {32, 32, 32}}, {339, 3, {3, 3, 3}}})), ""},
        RefusedCase{"FloatPalette", base(setEntries({{258, 3, {32, 32, 32}}, {339, 3, {3, 3, 3}}, {262, 3, {3}}})),
                    "floating-point samples of PhotometricInterpretation 3"},
        RefusedCase{"SignedSamples", base(setEntry(339, 3, {2, 2, 2})), "signed integer samples"},
        RefusedCase{"UndefinedSampleFormat", base(setEntry(339, 3, {4, 4, 4})), "samples of SampleFormat 4"},
        RefusedCase{"ThirtyTwoBitIntegers", base(setEntry(258, 3, {32, 32, 32})), "32-bit samples"},
        RefusedCase{"SamplesOfTwoSizes", base(setEntry(258, 3, {8, 8, 16})), "samples of different kinds or sizes"},
        RefusedCase{"NineSamples", base(setEntries({{277, 3, {9}}, {258, 3, std::vector<uint32_t>(9, 8)}})),
                    "9 samples a pixel"},
        RefusedCase{"OrientationBottomLeft", base(setEntry(274, 3, {4})), "Orientation 4 (rows not stored top row first, left to right)"},
        RefusedCase{"OrientationLeftTop", base(setEntry(274, 3, {5})), "Orientation 5 (rows not stored top row first, left to right)"},
        RefusedCase{"PaletteWithoutItsColorMap", base(setEntry(262, 3, {3})), ""},
        RefusedCase{"PaletteColorMapTooShort",
                    base(setEntries({{262, 3, {3}}, {320, 3, std::vector<uint32_t>(767, 0)}})), ""},
        RefusedCase{"PaletteOf16BitIndices", base(setEntries({{262, 3, {3}}, {258, 3, {16, 16, 16}}})),
                    "palette colour of 16-bit indices"},
        RefusedCase{"Cmyk", base(setEntry(262, 3, {5})), "CMYK colour"},
        RefusedCase{"CieLab", base(setEntry(262, 3, {8})), "CIE L*a*b* colour"},
        RefusedCase{"IccLab", base(setEntry(262, 3, {9})), "CIE L*a*b* colour"},
        RefusedCase{"TransparencyMask", base(setEntry(262, 3, {4})), "a transparency mask"},
        RefusedCase{"LogLuv", base(setEntry(262, 3, {32845})), "SGI LogLuv colour"},
        RefusedCase{"YCbCrOf16BitSamples", base(setEntries({{262, 3, {6}}, {258, 3, {16, 16, 16}}})),
                    "YCbCr colour other than 3 samples of 8 bits"},
        RefusedCase{"YCbCrInPlanes", base(setEntries({{262, 3, {6}}, {284, 3, {2}}})),
                    "YCbCr colour in separate planes"},
        RefusedCase{"YCbCrSubsampledThreeWays", base(setEntries({{262, 3, {6}}, {530, 3, {3, 3}}})), ""},
        RefusedCase{"PhotometricUnknown", base(setEntry(262, 3, {99})), "PhotometricInterpretation 99"},
        // Bytes that are no JPEG data.
        RefusedCase{"JpegCompressionOfRawBytes", base(setEntry(259, 3, {7})), ""},
        RefusedCase{"JbigCompression", base(setEntry(259, 3, {34661})), "JBIG compression"},
        RefusedCase{"UnknownCompression", base(setEntry(259, 3, {99})), "Compression 99"},
        RefusedCase{"FloatingPointPredictorOfIntegers", base(setEntries({{259, 3, {8}}, {317, 3, {3}}})),
                    "Predictor 3 with integer samples"},
        RefusedCase{"HorizontalPredictorOf12BitSamples",
                    base(setEntries({{259, 3, {5}}, {317, 3, {2}}, {258, 3, {12, 12, 12}}})),
                    "Predictor 2 with 12-bit samples"},
        RefusedCase{"UnknownPredictor", base(setEntries({{259, 3, {5}}, {317, 3, {4}}})), "Predictor 4"},
        RefusedCase{"FillOrder3", base(setEntry(266, 3, {3})), ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TiffBuilt, AFileThatLoadsOrIsMissingHasNoKindNotRead) {
    Loaded good;
    loadBytes(base(), "tif", good);
    EXPECT_TRUE(good.ok);
    EXPECT_EQ(good.failure.problem, LoadProblem::none);
    testing_files::TempDir dir;
    Loaded missing;
    loadPath(dir.file("missing.tif"), missing);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.failure.problem, LoadProblem::cannotOpen);
}

TEST(TiffBuilt, EveryTruncationFails) { expectEveryTruncationFails(base(), "tif"); }

}  // namespace
