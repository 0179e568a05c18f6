// TIFF writing: pictures of every depth, alpha and layout an Image holds,
// saved with each choice of SaveOptions, read back to the same samples (or
// their reduction or widening), and the written directory checked.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image.h"
#include "readers/readers.h"
#include "tests/unit/test_files.h"
#include "tests/unit/tiff_test_support.h"
#include "writers/writers.h"

#ifndef _WIN32
#include <tiffio.h>
#endif

namespace {

using testing_files::Bytes;

// Sample c of pixel (x, y) of a test picture of `bits` a sample.
uint32_t pictureSample(uint32_t x, uint32_t y, uint32_t c, int bits) {
    const uint32_t v = x * 7919u + y * 104729u + c * 31337u + x * y * 613u;
    return bits == 16 ? v % 65536 : v % 256;
}

enum class Layout {
    plain,           // top row first, red-green-blue, no padding
    bottomUpBgr,     // 8 bits: bottom row first, blue-green-red, 2 bytes of row padding
    paddedFourBytes  // 8 bits: 32 bits a pixel without alpha, the fourth byte padding
};

// An Image of w x h in the layout, with its display bitmap built.
bool makePicture(Image* image, uint32_t w, uint32_t h, int bits, bool alpha, Layout layout) {
    if (bits == 16 || layout == Layout::plain) {
        if (!startImage(image, w, h, bits, alpha)) return false;
        const uint32_t channels = alpha ? 4 : 3;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t c = 0; c < channels; ++c) {
                    const size_t i = (size_t{y} * w + x) * channels + c;
                    const uint32_t v = pictureSample(x, y, c, bits);
                    if (bits == 16) {
                        const auto word = static_cast<uint16_t>(v);
                        std::memcpy(image->pixels + 2 * i, &word, 2);
                    } else {
                        image->pixels[i] = static_cast<uint8_t>(v);
                    }
                }
        return buildDisplayBitmap(image);
    }
    const uint32_t step = layout == Layout::bottomUpBgr && !alpha ? 3 : 4;
    const int32_t pad = layout == Layout::bottomUpBgr ? 2 : 0;
    const size_t stride = size_t{w} * step + static_cast<size_t>(pad);
    resetImage(image);
    image->width = static_cast<int32_t>(w);
    image->height = static_cast<int32_t>(h);
    image->bitsPerPixel = static_cast<int32_t>(8 * step);
    image->sampleBits = 8;
    image->hasAlpha = alpha ? 1 : 0;
    image->rowBytes = static_cast<int32_t>(w * step);
    image->rowPad = pad;
    image->bgrOrder = layout == Layout::bottomUpBgr;
    image->bottomUp = layout == Layout::bottomUpBgr;
    image->dataSize = static_cast<uint32_t>(stride * h);
    image->pixels = static_cast<uint8_t*>(std::calloc(image->dataSize, 1));
    if (!image->pixels) return false;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = image->pixels + (image->bottomUp ? h - 1 - y : y) * stride;
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < step; ++c) {
                const uint32_t at = image->bgrOrder && c < 3 ? 2 - c : c;
                row[x * step + at] = static_cast<uint8_t>(c < 3 || alpha ? pictureSample(x, y, c, 8) : 0xEE);
            }
    }
    return buildDisplayBitmap(image);
}

struct WriteCase {
    const char* name;
    int bits;
    bool alpha;
    Layout layout;
    SaveOptions options;
    int writtenBits;
    uint32_t writtenChannels;
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
};

// The sample written for sample c of (x, y): the picture's own, reduced or
// widened by the rules of image.h.
uint32_t writtenSample(const WriteCase& c, uint32_t x, uint32_t y, uint32_t channel) {
    const uint32_t v = pictureSample(x, y, channel, c.bits);
    if (c.bits == c.writtenBits) return v;
    return c.writtenBits == 8 ? reduceSample(v) : widenSample(v);
}

uint32_t sampleOf(const Image& image, size_t i) {
    if (!isSixteenBit(image)) return image.pixels[i];
    uint16_t v;
    std::memcpy(&v, image.pixels + 2 * i, 2);
    return v;
}

class TiffWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(TiffWrite, ReadsBackToTheWrittenSamplesWithItsDirectory) {
    const WriteCase& c = GetParam();
    testing_files::TempDir dir;
    // One strip; several strips, the last one short.
    for (const auto& [w, h] : {std::pair{1u, 1u}, std::pair{37u, 23u}, std::pair{301u, 250u}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        Image picture{};
        ASSERT_TRUE(makePicture(&picture, w, h, c.bits, c.alpha, c.layout));
        const std::string path = dir.file("out.tif");
        SaveReport report{-1, -1};
        ASSERT_TRUE(writeImage(path.c_str(), picture, OutputFormat::tif, c.options, &report));
        // TIFF holds 16 bits and alpha: what is left out, the options asked for.
        EXPECT_EQ(report.alphaDropped, 0);
        EXPECT_EQ(report.reduced, 0);
        resetImage(&picture);

        const Bytes file = testing_files::readFile(path);
        auto tags = tifftest::readTags(file);
#ifdef _WIN32
        // The Windows Imaging Component compresses with Deflate when asked,
        // without a predictor; Wine's encoder (8.0) writes uncompressed
        // strips whatever it is asked.
        EXPECT_TRUE(tags[259] == std::vector<uint32_t>{8} || tags[259] == std::vector<uint32_t>{1});
#else
        EXPECT_EQ(tags[259], std::vector<uint32_t>{8});  // Deflate
        EXPECT_EQ(tags[317], std::vector<uint32_t>{2});  // horizontal differencing
#endif
        EXPECT_EQ(tags[262], std::vector<uint32_t>{2});  // RGB
        EXPECT_EQ(tags[277], std::vector<uint32_t>{c.writtenChannels});
        EXPECT_EQ(tags[258], std::vector<uint32_t>(c.writtenChannels, static_cast<uint32_t>(c.writtenBits)));
        if (c.writtenChannels == 4)
            EXPECT_EQ(tags[338], std::vector<uint32_t>{2});  // unassociated alpha
        else
            EXPECT_EQ(tags.count(338), 0u);

        Image back{};
        ASSERT_TRUE(readImageFile(path.c_str(), &back));
        ASSERT_EQ(back.width, static_cast<int32_t>(w));
        ASSERT_EQ(back.height, static_cast<int32_t>(h));
        ASSERT_EQ(back.sampleBits, c.writtenBits);
        ASSERT_EQ(back.hasAlpha, c.writtenChannels == 4 ? 1 : 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t k = 0; k < c.writtenChannels; ++k)
                    ASSERT_EQ(sampleOf(back, (size_t{y} * w + x) * c.writtenChannels + k), writtenSample(c, x, y, k))
                        << "sample " << k << " at " << x << "," << y;
        resetImage(&back);
    }
}

constexpr SaveOptions keep{1, 0};
constexpr SaveOptions dropAlpha{0, 0};
constexpr SaveOptions depth8{1, 8};
constexpr SaveOptions depth16{1, 16};

INSTANTIATE_TEST_SUITE_P(
    Pictures, TiffWrite,
    ::testing::Values(WriteCase{"Rgb8", 8, false, Layout::plain, keep, 8, 3},
                      WriteCase{"Rgb8BottomUpBgrPadded", 8, false, Layout::bottomUpBgr, keep, 8, 3},
                      WriteCase{"Rgb8FourBytesAPixel", 8, false, Layout::paddedFourBytes, keep, 8, 3},
                      WriteCase{"Rgba8", 8, true, Layout::plain, keep, 8, 4},
                      WriteCase{"Rgba8BottomUpBgrPadded", 8, true, Layout::bottomUpBgr, keep, 8, 4},
                      WriteCase{"Rgba8AlphaDropped", 8, true, Layout::plain, dropAlpha, 8, 3},
                      WriteCase{"Rgb16", 16, false, Layout::plain, keep, 16, 3},
                      WriteCase{"Rgba16", 16, true, Layout::plain, keep, 16, 4},
                      WriteCase{"Rgba16AlphaDropped", 16, true, Layout::plain, dropAlpha, 16, 3},
                      WriteCase{"Rgb16ReducedTo8", 16, false, Layout::plain, depth8, 8, 3},
                      WriteCase{"Rgba16ReducedTo8", 16, true, Layout::plain, depth8, 8, 4},
                      WriteCase{"Rgb8WidenedTo16", 8, false, Layout::plain, depth16, 16, 3},
                      WriteCase{"Rgb8FourBytesAPixelWidenedTo16", 8, false, Layout::paddedFourBytes, depth16, 16, 3},
                      WriteCase{"Rgba8BottomUpBgrWidenedTo16", 8, true, Layout::bottomUpBgr, depth16, 16, 4},
                      WriteCase{"Rgba16AlphaDroppedReducedTo8", 16, true, Layout::plain, SaveOptions{0, 8}, 8, 3}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TiffWrite, LargePicturesReadBackToTheirSamples) {
    // Pictures of several megabytes, whose strips are compressed two at a
    // time.
    testing_files::TempDir dir;
    const std::string path = dir.file("large.tif");
    for (const auto& [bits, alpha] : {std::pair{16, true}, std::pair{8, false}}) {
        SCOPED_TRACE(bits);
        const uint32_t w = 1100, h = 1300;
        Image picture{};
        ASSERT_TRUE(makePicture(&picture, w, h, bits, alpha, Layout::plain));
        ASSERT_TRUE(writeImage(path.c_str(), picture, OutputFormat::tif, keep));
        Image back{};
        ASSERT_TRUE(readImageFile(path.c_str(), &back));
        ASSERT_EQ(back.dataSize, picture.dataSize);
        EXPECT_EQ(std::memcmp(back.pixels, picture.pixels, picture.dataSize), 0);
#ifndef _WIN32
        // (The Windows Imaging Component lays out its own strips.)
        EXPECT_GT(tifftest::readTags(testing_files::readFile(path))[273].size(), 2u);
#endif
        resetImage(&back);
        resetImage(&picture);
    }
}

// Grey rows (the heights --to-height writes): 8 and 16 bits read back by our
// reader as grey, 32-bit floats read back exactly by libtiff where it is
// the codec; every one a grey picture of one sample. Wine's TIFF encoder
// (8.0), which the Windows build is tested with, takes 8-bit grey only
// (the Windows Imaging Component also takes 16bppGray and
// 32bppGrayFloat): there the others are refused and nothing is written.
TEST(TiffWrite, GreyRowsAreOneSampleBlackIsZero) {
    testing_files::TempDir dir;
    const std::string path = dir.file("grey.tif");
    const uint32_t w = 301, h = 250;
    for (const uint32_t bits : {8u, 16u, 32u}) {
        SCOPED_TRACE(bits);
        std::filesystem::remove(path);
        std::vector<uint8_t> memory(size_t{w} * h * (bits / 8));
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t x = i % w, y = i / w;
            if (bits == 32) {
                const float v = static_cast<float>(x) * 0.37f - static_cast<float>(y * y) * 1e-3f;
                std::memcpy(memory.data() + 4 * size_t{i}, &v, 4);
            } else if (bits == 16) {
                const auto v = static_cast<uint16_t>(pictureSample(x, y, 0, 16));
                std::memcpy(memory.data() + 2 * size_t{i}, &v, 2);
            } else {
                memory[i] = static_cast<uint8_t>(pictureSample(x, y, 0, 8));
            }
        }
        PixelRows rows;
        rows.first = memory.data();
        rows.stride = static_cast<ptrdiff_t>(size_t{w} * (bits / 8));
        rows.width = w;
        rows.height = h;
        rows.channels = 1;
        rows.sampleBits = bits;
        rows.floats = bits == 32;
#ifdef _WIN32
        if (bits != 8) {
            EXPECT_FALSE(writeTiffRows(path.c_str(), rows));
            EXPECT_FALSE(std::filesystem::exists(path));
            continue;
        }
#endif
        ASSERT_TRUE(writeTiffRows(path.c_str(), rows));
        auto tags = tifftest::readTags(testing_files::readFile(path));
        EXPECT_EQ(tags[262], std::vector<uint32_t>{1});  // BlackIsZero
        EXPECT_EQ(tags[277], std::vector<uint32_t>{1});
        EXPECT_EQ(tags[258], std::vector<uint32_t>{bits});
        if (bits == 32)
            EXPECT_EQ(tags[339], std::vector<uint32_t>{3});  // IEEE floats
        else
            EXPECT_EQ(tags.count(339), 0u);  // unsigned integers, as without the tag
        if (bits != 32) {
            Image back{};
            ASSERT_TRUE(readImageFile(path.c_str(), &back));
            ASSERT_EQ(back.sampleBits, static_cast<int32_t>(bits));
            for (uint32_t i = 0; i < w * h; ++i)
                for (uint32_t c = 0; c < 3; ++c)
                    ASSERT_EQ(sampleOf(back, size_t{i} * 3 + c), pictureSample(i % w, i / w, 0, static_cast<int>(bits)));
            resetImage(&back);
            continue;
        }
#ifndef _WIN32
        EXPECT_EQ(tags[317], std::vector<uint32_t>{3});  // the floating-point predictor
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tiff, nullptr);
        std::vector<uint8_t> back(memory.size());
        for (uint32_t y = 0; y < h; ++y)
            ASSERT_EQ(TIFFReadScanline(tiff, back.data() + size_t{y} * w * 4, y, 0), 1);
        TIFFClose(tiff);
        EXPECT_TRUE(back == memory) << "libtiff reads back other floats";
#endif
    }
}

TEST(TiffWrite, APictureItsRecordDoesNotHoldIsNotWrittenAndHarmsNoFile) {
    testing_files::TempDir dir;
    const std::string path = dir.file("kept.tif");
    testing_files::writeFile(path, {1, 2, 3});
    Image picture{};
    ASSERT_TRUE(makePicture(&picture, 5, 4, 16, true, Layout::plain));
    picture.dataSize -= 1;  // the last sample's byte outside the buffer
    EXPECT_FALSE(writeImage(path.c_str(), picture, OutputFormat::tif, keep));
    EXPECT_FALSE(writeImage(path.c_str(), picture, OutputFormat::tif, depth8));
    EXPECT_EQ(testing_files::readFile(path), (Bytes{1, 2, 3}));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
    resetImage(&picture);
}

}  // namespace
