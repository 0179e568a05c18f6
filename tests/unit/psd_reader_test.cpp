#include <gtest/gtest.h>

#include <string>

#include "readers/psd_reader.h"
#include "tests/unit/reader_test_support.h"
#include "tests/unit/reference_picture.h"

namespace {

using readertest::Bytes;
using readertest::Loaded;
using readertest::Rgb;

void be16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
void be32(Bytes& out, uint32_t v) {
    be16(out, v >> 16);
    be16(out, v & 0xFFFF);
}

struct PsdFile {
    const char* signature = "8BPS";
    uint32_t version = 1;
    uint32_t channels = 1;
    uint32_t height = 1;
    uint32_t width = 1;
    uint32_t depth = 8;
    uint32_t mode = 1;
    Bytes modeData;
    int64_t modeDataLength = -1;  // -1: the size of modeData
    uint32_t compression = 0;
    Bytes data;  // everything after the compression field

    Bytes bytes() const {
        Bytes out(signature, signature + 4);  // signature
        be16(out, version);                   // version
        out.insert(out.end(), 6, 0);          // reserved
        be16(out, channels);                  // channels
        be32(out, height);                    // height
        be32(out, width);                     // width
        be16(out, depth);                     // bits a channel
        be16(out, mode);                      // colour mode
        // colour mode data
        be32(out, static_cast<uint32_t>(modeDataLength < 0 ? int64_t(modeData.size()) : modeDataLength));
        out.insert(out.end(), modeData.begin(), modeData.end());
        be32(out, 4);  // image resources: 4 bytes that are skipped
        out.insert(out.end(), {'8', 'B', 'I', 'M'});
        be32(out, 0);  // no layer and mask information
        be16(out, compression);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

// PackBits data: `rows` byte counts (their values do not matter) and the stream.
Bytes packed(uint32_t rows, const Bytes& stream) {
    Bytes out;
    for (uint32_t r = 0; r < rows; ++r) be16(out, 0x7777);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

Rgb grey(uint8_t v) { return {v, v, v}; }

// The reference picture in every variant.

struct VariantCase {
    const char* name;
    bool colour;  // the RGB picture, otherwise the grey one
};

class PsdVariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(PsdVariantTest, DecodesToTheReferencePicture) {
    const VariantCase& c = GetParam();
    Loaded loaded;
    readertest::loadPath(readertest::dataDirectory("psd") / (std::string(c.name) + ".psd"), loaded);
    // An RGB file's fourth plane is its alpha.
    const bool alpha = std::string(c.name).rfind("rgba", 0) == 0;
    readertest::expectPicture(
        loaded, reference::width, reference::height,
        [&](int x, int y) { return c.colour ? reference::rgb(x, y) : grey(reference::grey(x, y)); }, alpha ? 32 : 24);
}

INSTANTIATE_TEST_SUITE_P(Files, PsdVariantTest,
                         ::testing::Values(VariantCase{"grey_raw", false}, VariantCase{"grey_packbits", false},
                                           VariantCase{"indexed_raw", true}, VariantCase{"indexed_packbits", true},
                                           VariantCase{"rgb_raw", true}, VariantCase{"rgb_packbits", true},
                                           VariantCase{"rgba_raw", true}, VariantCase{"rgba_packbits", true},
                                           VariantCase{"cmyk_raw", false}, VariantCase{"cmyk_packbits", false}),
                         readertest::caseName<VariantCase>);

// Sixteen bits a channel: big-endian samples kept as 16-bit words, raw or
// in packed rows of bytes, the fourth plane of an RGB file as alpha.
struct WideCase {
    const char* name;
    uint32_t mode, channels, compression;
};

class PsdSixteenBits : public ::testing::TestWithParam<WideCase> {};

TEST_P(PsdSixteenBits, KeepEverySample) {
    const WideCase& c = GetParam();
    PsdFile f;
    f.mode = c.mode;
    f.channels = c.channels;
    f.depth = 16;
    f.width = 3;
    f.compression = c.compression;
    auto sample = [](uint32_t plane, uint32_t x) { return static_cast<uint16_t>(0x1234 * (plane + 1) + 0x0F0F * x); };
    Bytes planes;
    for (uint32_t p = 0; p < c.channels; ++p)
        for (uint32_t x = 0; x < 3; ++x) be16(planes, sample(p, x));
    if (c.compression == 0) {
        f.data = planes;
    } else {
        Bytes stream;  // one literal run a plane row of 6 bytes
        for (size_t at = 0; at < planes.size(); at += 6) {
            stream.push_back(5);
            stream.insert(stream.end(), planes.begin() + static_cast<std::ptrdiff_t>(at),
                          planes.begin() + static_cast<std::ptrdiff_t>(at + 6));
        }
        f.data = packed(c.channels, stream);
    }
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    const bool alpha = c.mode == 3 && c.channels >= 4;
    readertest::expectFilled(loaded.image, 3, 1, alpha ? 64 : 48);
    const auto* words = reinterpret_cast<const uint16_t*>(loaded.image.pixels);
    for (uint32_t x = 0; x < 3; ++x)
        for (uint32_t k = 0; k < (alpha ? 4u : 3u); ++k)
            EXPECT_EQ(words[x * (alpha ? 4 : 3) + k], sample(c.mode == 1 ? 0 : k, x)) << "pixel " << x << " sample " << k;
}

INSTANTIATE_TEST_SUITE_P(Cases, PsdSixteenBits,
                         ::testing::Values(WideCase{"GreyRaw", 1, 1, 0}, WideCase{"GreyPacked", 1, 1, 1},
                                           WideCase{"RgbRaw", 3, 3, 0}, WideCase{"RgbPacked", 3, 3, 1},
                                           WideCase{"RgbaRaw", 3, 4, 0}, WideCase{"RgbaPacked", 3, 4, 1}),
                         readertest::caseName<WideCase>);

// Colour modes.

TEST(PsdColourModes, RgbTakesTheFirstThreePlanesAndTheFourthAsAlpha) {
    PsdFile f;
    f.mode = 3;
    f.channels = 5;
    f.width = 2;
    f.data = {10, 11, 20, 21, 30, 31, 99, 98, 7, 7};  // red, green, blue, alpha, a spot colour
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    readertest::expectPicture(
        loaded, 2, 1, [](int x, int) { return Rgb{uint8_t(10 + x), uint8_t(20 + x), uint8_t(30 + x)}; }, 32);
    EXPECT_EQ(loaded.image.hasAlpha, 1);
    EXPECT_EQ(loaded.fourth(0, 0), 99);
    EXPECT_EQ(loaded.fourth(1, 0), 98);
}

TEST(PsdColourModes, RgbWithFewerThanThreePlanesHasZeroForTheMissingComponents) {
    PsdFile f;
    f.mode = 3;
    f.channels = 2;
    f.width = 2;
    f.data = {10, 11, 20, 21};
    Loaded two;
    readertest::loadBytes(f.bytes(), "psd", two);
    readertest::expectPicture(two, 2, 1, [](int x, int) { return Rgb{uint8_t(10 + x), uint8_t(20 + x), 0}; });
    f.channels = 1;
    f.data = {10, 11};
    Loaded one;
    readertest::loadBytes(f.bytes(), "psd", one);
    readertest::expectPicture(one, 2, 1, [](int x, int) { return Rgb{uint8_t(10 + x), 0, 0}; });
}

TEST(PsdColourModes, GreyscaleUsesTheFirstPlaneOnly) {
    PsdFile f;
    f.channels = 3;
    f.width = 2;
    f.data = {7, 200, 1, 2, 3, 4};
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    readertest::expectPicture(loaded, 2, 1, [](int x, int) { return grey(x ? 200 : 7); });
}

Bytes rampPalette() {
    Bytes palette(768);
    for (int i = 0; i < 256; ++i) {
        palette[i] = static_cast<uint8_t>(i);             // red
        palette[256 + i] = static_cast<uint8_t>(255 - i);  // green
        palette[512 + i] = static_cast<uint8_t>(i / 2);   // blue
    }
    return palette;
}

TEST(PsdColourModes, IndexedReadsThePaletteByComponentUpToIndex255) {
    PsdFile f;
    f.mode = 2;
    f.width = 3;
    f.modeData = rampPalette();
    f.data = {0, 100, 255};
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    const Rgb expected[] = {{0, 255, 0}, {100, 155, 50}, {255, 0, 127}};
    readertest::expectPicture(loaded, 3, 1, [&](int x, int) { return expected[x]; });
}

TEST(PsdColourModes, IndexedWithoutAPaletteOfExactly768BytesIsBlack) {
    for (size_t length : {0u, 767u, 769u}) {
        PsdFile f;
        f.mode = 2;
        f.width = 2;
        f.modeData = rampPalette();
        f.modeData.resize(length, 9);
        f.data = {1, 255};
        Loaded loaded;
        readertest::loadBytes(f.bytes(), "psd", loaded);
        readertest::expectPicture(loaded, 2, 1, [](int, int) { return Rgb{0, 0, 0}; });
    }
}

struct AverageCase {
    const char* name;
    uint32_t mode;
    Bytes samples;  // one pixel: one sample per channel
    uint8_t grey;
};

class PsdAverageTest : public ::testing::TestWithParam<AverageCase> {};

TEST_P(PsdAverageTest, OtherModesBecomeTheTruncatedMeanOfAllChannels) {
    const AverageCase& c = GetParam();
    PsdFile f;
    f.mode = c.mode;
    f.channels = static_cast<uint32_t>(c.samples.size());
    f.data = c.samples;
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    readertest::expectPicture(loaded, 1, 1, [&](int, int) { return grey(c.grey); });
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PsdAverageTest,
    ::testing::Values(AverageCase{"CmykWhite", 4, {255, 255, 255, 255}, 255},
                      AverageCase{"CmykTruncates", 4, {1, 1, 1, 0}, 0},
                      AverageCase{"CmykMixed", 4, {10, 20, 30, 43}, 25},
                      AverageCase{"BitmapModeOneChannel", 0, {77}, 77},
                      AverageCase{"LabThreeWhite", 9, {255, 255, 255}, 255},
                      AverageCase{"TwoChannelsHalf", 8, {1, 0}, 0},
                      // 1/25 as a float lies just below 0.04.
                      AverageCase{"TwentyFiveWhiteChannels", 4, Bytes(25, 255), 254}),
    readertest::caseName<AverageCase>);

// PackBits.

TEST(PsdPackBits, RunsAndCopiesCrossRowsAndPlanes) {
    // 2 x 2, RGB: 12 samples. A run of 5 fills red and the first green
    // sample; a no-op; a copy of 3; a run of 3 and a copy of 1 fill blue,
    // and the copy after that is never read.
    PsdFile f;
    f.mode = 3;
    f.channels = 3;
    f.width = 2;
    f.height = 2;
    f.compression = 1;
    f.data = packed(6, {0xFC, 9, 0x80, 0x02, 1, 2, 3, 0xFE, 4, 0x00, 5, 0x00, 6});
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    // red 9 9 9 9; green 9 1 2 3; blue 4 4 4 5
    const Rgb expected[] = {{9, 9, 4}, {9, 1, 4}, {9, 2, 4}, {9, 3, 5}};
    readertest::expectPicture(loaded, 2, 2, [&](int x, int y) { return expected[2 * y + x]; });
}

TEST(PsdPackBits, LongStreamsOfEveryPacketLengthDecodeExactly) {
    // 100 x 10 RGB: 3000 samples from runs of 2 to 128 and copies of 1 to
    // 128 bytes in turn, the last one cut where the planes end.
    PsdFile f;
    f.mode = 3;
    f.channels = 3;
    f.width = 100;
    f.height = 10;
    f.compression = 1;
    Bytes stream, samples;
    for (int i = 0; samples.size() < 3000; ++i) {
        const int length = i % 2 ? 2 + (i * 37) % 127 : 1 + (i * 53) % 128;
        if (i % 2) {
            stream.insert(stream.end(), {uint8_t(257 - length), uint8_t(i)});
            samples.insert(samples.end(), size_t(length), uint8_t(i));
        } else {
            stream.push_back(uint8_t(length - 1));
            for (int j = 0; j < length; ++j) stream.push_back(uint8_t(i * 7 + j * 3));
            samples.insert(samples.end(), stream.end() - length, stream.end());
        }
    }
    f.data = packed(30, stream);
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    readertest::expectPicture(loaded, 100, 10, [&](int x, int y) {
        const size_t k = size_t(y) * 100 + size_t(x);
        return Rgb{samples[k], samples[1000 + k], samples[2000 + k]};
    });
}

TEST(PsdPackBits, ARunOrCopyPastTheLastPlaneIsCutAndDecodingEnds) {
    PsdFile f;
    f.width = 3;
    f.compression = 1;
    // A run of 128 for 3 samples; nothing after it is read.
    f.data = packed(1, {0x81, 42});
    Loaded run;
    readertest::loadBytes(f.bytes(), "psd", run);
    readertest::expectPicture(run, 3, 1, [](int, int) { return grey(42); });
    // A copy of 128 whose bytes beyond the third are missing.
    f.data = packed(1, {0x7F, 5, 6, 7});
    Loaded copy;
    readertest::loadBytes(f.bytes(), "psd", copy);
    readertest::expectPicture(copy, 3, 1, [](int x, int) { return grey(uint8_t(5 + x)); });
}

TEST(PsdPackBits, DataAtTheBestPossibleCompressionLoads) {
    // 256 samples in two runs of 128: 2 bytes of counts and 4 of runs.
    PsdFile f;
    f.width = 256;
    f.compression = 1;
    f.data = packed(1, {0x81, 1, 0x81, 2});
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    readertest::expectPicture(loaded, 256, 1, [](int x, int) { return grey(x < 128 ? 1 : 2); });
}

// Malformed files.

PsdFile validRaw() {
    PsdFile f;
    f.mode = 3;
    f.channels = 3;
    f.width = 2;
    f.height = 2;
    f.data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    return f;
}

PsdFile validPackBits() {
    PsdFile f = validRaw();
    f.compression = 1;
    f.data = packed(6, {0x0B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    return f;
}

PsdFile validIndexed() {
    PsdFile f;
    f.mode = 2;
    f.width = 2;
    f.modeData = rampPalette();
    f.compression = 1;
    f.data = packed(1, {0xFF, 3});
    return f;
}

TEST(PsdMalformed, EveryTruncationOfAValidFileFails) {
    for (const PsdFile& f : {validRaw(), validPackBits(), validIndexed()}) {
        const Bytes whole = f.bytes();
        Loaded loaded;
        readertest::loadBytes(whole, "psd", loaded);
        ASSERT_TRUE(loaded.ok);
        readertest::expectEveryTruncationFails(whole, "psd");
    }
}

struct MalformedCase {
    const char* name;
    void (*spoil)(PsdFile&);
};

class PsdMalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(PsdMalformedTest, Fails) {
    PsdFile f = validRaw();
    GetParam().spoil(f);
    Loaded loaded;
    readertest::loadBytes(f.bytes(), "psd", loaded);
    readertest::expectFailed(loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PsdMalformedTest,
    ::testing::Values(
        MalformedCase{"Signature", [](PsdFile& f) { f.signature = "8BPB"; }},
        MalformedCase{"Version2", [](PsdFile& f) { f.version = 2; }},
        MalformedCase{"Version0", [](PsdFile& f) { f.version = 0; }},
        MalformedCase{"NoChannels", [](PsdFile& f) { f.channels = 0; }},
        MalformedCase{"Depth16Indexed", [](PsdFile& f) { f.depth = 16; f.mode = 2; f.data = {0, 0}; }},
        MalformedCase{"Depth32", [](PsdFile& f) { f.depth = 32; f.data = {0, 0, 0, 0}; }},
        MalformedCase{"Depth1", [](PsdFile& f) { f.depth = 1; }},
        MalformedCase{"ZeroWidth", [](PsdFile& f) { f.width = 0; }},
        MalformedCase{"ZeroHeight", [](PsdFile& f) { f.height = 0; }},
        MalformedCase{"Compression2", [](PsdFile& f) { f.compression = 2; }},
        MalformedCase{"Compression3", [](PsdFile& f) { f.compression = 3; }},
        // Larger than 2^28 pixels, though the plane fits in 32 bits.
        MalformedCase{"TooManyPixels", [](PsdFile& f) { f.width = 0x4001; f.height = 0x4000; }},
        // width x height x channels is 2^32: it would wrap to 0.
        MalformedCase{"SampleCountWraps",
                      [](PsdFile& f) { f.width = 0x4000; f.height = 0x4000; f.channels = 16; f.compression = 1; }},
        MalformedCase{"HugeSides", [](PsdFile& f) { f.width = 0xFFFFFFFF; f.height = 0xFFFFFFFF; }},
        // Raw data one byte short of the picture.
        MalformedCase{"RawDataShort", [](PsdFile& f) { f.data.pop_back(); }},
        // 256 x 256 samples cannot be packed into fewer than 1024 bytes.
        MalformedCase{"PackedDataCannotFit",
                      [](PsdFile& f) {
                          f.width = f.height = 256;
                          f.channels = 1;
                          f.compression = 1;
                          f.data = packed(256, Bytes(1022, 0x81));
                      }},
        // A copy that asks for more bytes than the file has.
        MalformedCase{"CopyPastTheEnd",
                      [](PsdFile& f) {
                          f.compression = 1;
                          f.data = packed(6, {0x0B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
                      }},
        // A run header as the last byte, without its value.
        MalformedCase{"RunWithoutValue",
                      [](PsdFile& f) {
                          f.compression = 1;
                          f.data = packed(6, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0xF5});
                      }},
        // A section length that takes the cursor past the end of the file.
        MalformedCase{"ModeDataPastTheEnd", [](PsdFile& f) { f.modeData.assign(3, 0); f.data.clear(); }},
        MalformedCase{"ModeDataLengthHuge",
                      [](PsdFile& f) {
                          f.modeDataLength = 0xFFFFFFF0;  // wraps round to the header
                      }}),
    readertest::caseName<MalformedCase>);

// The working record.

TEST(PsdReaderState, PlanesAreMadeOneAfterAnotherAndReleasedWithThePalette) {
    PsdReaderState state;
    setUpPsdReader(&state);
    state.palette[255][2] = 7;
    ASSERT_TRUE(makePsdPlanes(&state, 3, 8, 3, 2, 2));
    EXPECT_EQ(state.planeSize, 6u);
    EXPECT_EQ(state.channelCount, 2);
    EXPECT_EQ(state.colorMode, 3);
    EXPECT_EQ(state.palette[255][2], 0);  // making planes starts from a clean record
    EXPECT_EQ(state.planes[1], state.planes[0] + 6);
    state.palette[1][1] = 5;
    releasePsdPlanes(&state);
    EXPECT_EQ(state.planes, nullptr);
    EXPECT_EQ(state.planeSize, 0u);
    EXPECT_EQ(state.palette[1][1], 0);
    releasePsdReader(&state);
    releasePsdReader(&state);  // releasing twice does nothing
}

TEST(PsdReaderState, MakingPlanesRefusesEmptyAndWrappingSizes) {
    PsdReaderState state;
    setUpPsdReader(&state);
    EXPECT_FALSE(makePsdPlanes(&state, 3, 8, 2, 2, 0));
    EXPECT_FALSE(makePsdPlanes(&state, 3, 8, 0, 2, 1));
    EXPECT_FALSE(makePsdPlanes(&state, 3, 8, 0x10000, 0x10000, 1));
    releasePsdReader(&state);
    EXPECT_EQ(state.planes, nullptr);
}

}  // namespace
