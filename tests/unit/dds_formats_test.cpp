// The DX10 header, the newer FourCCs and the formats they bring: each
// generated file (scripts/testdata/make_dds.py) against the picture the
// generator computed for it, and the files that are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/unit/reader_test_support.h"

namespace {

using readertest::Bytes;
using readertest::Loaded;

// A PAM picture (the expected pictures are PAM files): samples big-endian.
struct Pam {
    int width = 0, height = 0, depth = 0, maxval = 0;
    std::vector<uint32_t> samples;
};

bool readPam(const std::filesystem::path& path, Pam& pam) {
    const Bytes bytes = readertest::fileBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find("ENDHDR\n");
    if (text.rfind("P7\n", 0) != 0 || end == std::string::npos) return false;
    std::istringstream header(text.substr(3, end - 3));
    for (std::string key; header >> key;) {
        if (key == "WIDTH") header >> pam.width;
        else if (key == "HEIGHT") header >> pam.height;
        else if (key == "DEPTH") header >> pam.depth;
        else if (key == "MAXVAL") header >> pam.maxval;
        else header >> key;  // TUPLTYPE
    }
    const size_t count = static_cast<size_t>(pam.width) * static_cast<size_t>(pam.height) * static_cast<size_t>(pam.depth);
    const size_t width = pam.maxval > 255 ? 2 : 1;
    size_t at = end + 7;
    if (bytes.size() != at + count * width) return false;
    for (size_t i = 0; i < count; ++i, at += width)
        pam.samples.push_back(width == 2 ? (uint32_t{bytes[at]} << 8) | bytes[at + 1] : bytes[at]);
    return true;
}

// Sample i of a loaded picture, 8 or 16 bits.
uint32_t sampleAt(const Image& image, size_t i) {
    if (!isSixteenBit(image)) return image.pixels[i];
    uint16_t word;
    std::memcpy(&word, image.pixels + 2 * i, 2);
    return word;
}

// The loaded picture holds exactly the expected samples, with the depth and
// alpha they have, and the display bitmap shows its colour (16-bit samples
// reduced).
void expectSamples(const Loaded& loaded, const Pam& expected) {
    ASSERT_TRUE(loaded.ok);
    const Image& image = loaded.image;
    ASSERT_EQ(image.width, expected.width);
    ASSERT_EQ(image.height, expected.height);
    ASSERT_EQ(image.sampleBits, expected.maxval > 255 ? 16 : 8);
    ASSERT_EQ(image.hasAlpha, expected.depth == 4 ? 1 : 0);
    ASSERT_EQ(image.bitsPerPixel, expected.depth * image.sampleBits);
    EXPECT_EQ(image.bottomUp, 0);
    EXPECT_EQ(image.rowPad, 0);
    EXPECT_EQ(image.bgrOrder, 0);
    ASSERT_EQ(image.dataSize, expected.samples.size() * static_cast<size_t>(image.sampleBits / 8));
    for (size_t i = 0; i < expected.samples.size(); ++i) {
        const size_t pixel = i / static_cast<size_t>(expected.depth);
        ASSERT_EQ(sampleAt(image, i), expected.samples[i])
            << "pixel " << pixel % static_cast<size_t>(expected.width) << ","
            << pixel / static_cast<size_t>(expected.width) << " sample " << i % static_cast<size_t>(expected.depth);
    }
    BitmapInfo info;
    ASSERT_TRUE(platformQueryBitmap(image.bitmap, info));
    const size_t w = static_cast<size_t>(image.width), h = static_cast<size_t>(image.height);
    const size_t depth = static_cast<size_t>(expected.depth);
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x)
            for (size_t c = 0; c < 3; ++c) {
                const uint32_t v = sampleAt(image, (y * w + x) * depth + c);
                const uint8_t shown = info.bits[(h - 1 - y) * displayStride(static_cast<uint32_t>(w)) + 3 * x + 2 - c];
                ASSERT_EQ(shown, isSixteenBit(image) ? reduceSample(v) : v) << "bitmap at " << x << "," << y;
            }
}

std::filesystem::path ddsFile(const std::string& name) { return readertest::dataDirectory("dds") / (name + ".dds"); }

Pam expectedFor(const std::string& name) {
    Pam pam;
    EXPECT_TRUE(readPam(readertest::dataDirectory("dds") / "expected" / (name + ".pam"), pam)) << name;
    return pam;
}

// Every generated file -----------------------------------------------------

struct FileCase {
    const char* name;
};

class DdsGeneratedFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(DdsGeneratedFileTest, DecodesToThePictureTheGeneratorComputed) {
    const std::string name = GetParam().name;
    const Pam expected = expectedFor(name);
    Loaded loaded;
    readertest::loadPath(ddsFile(name), loaded);
    expectSamples(loaded, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DdsGeneratedFileTest,
    ::testing::Values(
        // DX10 header: block formats (BC7: every mode and a reserved block;
        // random blocks of every mode on which Pillow agrees).
        FileCase{"dx10_bc1"}, FileCase{"dx10_bc2"}, FileCase{"dx10_bc3"}, FileCase{"dx10_bc4_unorm"},
        FileCase{"dx10_bc4_snorm"}, FileCase{"dx10_bc5_unorm"}, FileCase{"dx10_bc5_snorm"}, FileCase{"dx10_bc7"},
        FileCase{"dx10_bc7_random"},
        // DX10 header: pixel formats, and the first face of a cube map array.
        FileCase{"dx10_rgba8"}, FileCase{"dx10_bgra8"}, FileCase{"dx10_bgrx8"}, FileCase{"dx10_rg8_unorm"},
        FileCase{"dx10_rg8_snorm"}, FileCase{"dx10_rg16_unorm"}, FileCase{"dx10_rg16_snorm"},
        FileCase{"dx10_rgba16"}, FileCase{"dx10_rgb10a2"}, FileCase{"dx10_cube_array"},
        // Legacy FourCCs, and the files with alpha that were read before.
        FileCase{"ati1"}, FileCase{"bc4u"}, FileCase{"bc4s"}, FileCase{"ati2"}, FileCase{"bc5u"}, FileCase{"bc5s"},
        FileCase{"dxt2"}, FileCase{"dxt3"}, FileCase{"dxt4"}, FileCase{"dxt5"}, FileCase{"argb8888"},
        FileCase{"abgr8888"}, FileCase{"a1r5g5b5"}, FileCase{"a4r4g4b4"}),
    readertest::caseName<FileCase>);

// Typeless and sRGB formats are read as their UNORM kin -----------------------

struct KinCase {
    const char* name;
    std::vector<uint32_t> dxgi;  // formats read as the file's own
};

class DdsDxgiKinTest : public ::testing::TestWithParam<KinCase> {};

TEST_P(DdsDxgiKinTest, ReadAsTheFilesOwnFormat) {
    const KinCase& c = GetParam();
    const Pam expected = expectedFor(c.name);
    Bytes bytes = readertest::fileBytes(ddsFile(c.name));
    for (uint32_t dxgi : c.dxgi) {
        SCOPED_TRACE(dxgi);
        for (int i = 0; i < 4; ++i) bytes[128 + static_cast<size_t>(i)] = static_cast<uint8_t>(dxgi >> (8 * i));
        Loaded loaded;
        readertest::loadBytes(bytes, "dds", loaded);
        expectSamples(loaded, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DdsDxgiKinTest,
    ::testing::Values(KinCase{"dx10_bc1", {70, 72}}, KinCase{"dx10_bc2", {73, 75}}, KinCase{"dx10_bc3", {76, 78}},
                      KinCase{"dx10_bc4_unorm", {79}}, KinCase{"dx10_bc5_unorm", {82}},
                      KinCase{"dx10_bc7", {97, 99}}, KinCase{"dx10_rgba8", {27, 29}},
                      KinCase{"dx10_bgra8", {90, 91}}, KinCase{"dx10_bgrx8", {92, 93}},
                      KinCase{"dx10_rg8_unorm", {48}}, KinCase{"dx10_rg16_unorm", {33}},
                      KinCase{"dx10_rgba16", {9}}, KinCase{"dx10_rgb10a2", {23}}),
    readertest::caseName<KinCase>);

// Refused files --------------------------------------------------------------

Bytes withField(Bytes bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}
Bytes shortened(Bytes bytes, size_t by) {
    bytes.resize(bytes.size() - by);
    return bytes;
}
Bytes generated(const char* name) { return readertest::fileBytes(ddsFile(name)); }

struct RefusalCase {
    const char* name;
    Bytes file;
    const char* kind;  // what the message names, or null for a damaged file
    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
};

class DdsRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(DdsRefusalTest, FailsAndNamesTheFormatItDoesNotRead) {
    const RefusalCase& c = GetParam();
    Loaded loaded;
    readertest::loadBytes(c.file, "dds", loaded);
    readertest::expectFailed(loaded);
    EXPECT_EQ(loaded.failure.problem, c.kind ? LoadProblem::refusedKind : LoadProblem::damaged);
    if (c.kind) {
        EXPECT_STREQ(loaded.failure.text, c.kind);
    }
}

constexpr size_t extensionAt = 128;  // DXGI format, dimension, misc flag, array size, misc flags 2

INSTANTIATE_TEST_SUITE_P(
    Files, DdsRefusalTest,
    ::testing::Values(
        RefusalCase{"Bc6h", generated("dx10_bc6h_uf16"), "BC6H_UF16 (DXGI 95)"},
        RefusalCase{"Bc6hSigned", withField(generated("dx10_bc6h_uf16"), extensionAt, 96), "BC6H_SF16 (DXGI 96)"},
        RefusalCase{"HalfFloat", generated("dx10_r16g16b16a16_float"), "R16G16B16A16_FLOAT (DXGI 10)"},
        RefusalCase{"Float", withField(generated("dx10_rg16_unorm"), extensionAt, 34), "R16G16_FLOAT (DXGI 34)"},
        RefusalCase{"SignedRgba16", withField(generated("dx10_rgba16"), extensionAt, 13), "R16G16B16A16_SNORM (DXGI 13)"},
        RefusalCase{"UnknownDxgi", withField(generated("dx10_rgba8"), extensionAt, 200), "DXGI format 200"},
        RefusalCase{"LegacyHalfFloat", generated("a16b16g16r16f"), "A16B16G16R16F (D3DFMT 113)"},
        RefusalCase{"UnknownFourCc", withField(generated("ati2"), 84, 0x42475852), "FourCC RXGB"},
        // Damaged: the last block or pixel short, the extension cut, no
        // slices, a dimension that is not a texture, sides too large.
        RefusalCase{"Bc7LastBlockShort", shortened(generated("dx10_bc7"), 1), nullptr},
        RefusalCase{"Bc5LastBlockShort", shortened(generated("ati2"), 1), nullptr},
        RefusalCase{"Rg16LastPixelShort", shortened(generated("dx10_rg16_snorm"), 1), nullptr},
        RefusalCase{"Rgb10a2LastPixelShort", shortened(generated("dx10_rgb10a2"), 3), nullptr},
        RefusalCase{"ExtensionCut", shortened(generated("dx10_bc6h_uf16"), 64 + 8), nullptr},
        RefusalCase{"ArraySizeZero", withField(generated("dx10_rgba8"), extensionAt + 12, 0), nullptr},
        RefusalCase{"BufferDimension", withField(generated("dx10_rgba8"), extensionAt + 4, 1), nullptr},
        RefusalCase{"UnknownDimension", withField(generated("dx10_rgba8"), extensionAt + 4, 5), nullptr},
        RefusalCase{"HugeBc7", withField(withField(generated("dx10_bc7"), 12, 0x10000), 16, 0x10000), nullptr},
        RefusalCase{"TooManyPixels", withField(withField(generated("dx10_rgba16"), 12, 0x4000), 16, 0x4001), nullptr},
        RefusalCase{"ZeroWidth", withField(generated("dx10_bc5_unorm"), 16, 0), nullptr}),
    readertest::caseName<RefusalCase>);

TEST(DdsTruncation, EveryTruncationOfTheNewHeadersFails) {
    for (const char* name : {"dx10_bc7", "dx10_rg16_unorm", "bc5s"}) {
        SCOPED_TRACE(name);
        readertest::expectEveryTruncationFails(generated(name), "dds");
    }
}

}  // namespace
