// The PNG and Targa writers, the choice of format by extension, and the
// atomic save that all writers share.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/session.h"
#include "image/image.h"
#include "readers/readers.h"
#include "tests/unit/test_files.h"
#include "writers/writers.h"

namespace {

using testing_files::Bytes;

// A display bitmap of distinct pixels; odd widths leave row padding.
BitmapHandle patternBitmap(int32_t w, int32_t h) {
    return testing_files::paintedBitmap(w, h, [](int32_t x, int32_t y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x * 31 + y);       // blue
        p[1] = static_cast<uint8_t>(y * 57 + 3);       // green
        p[2] = static_cast<uint8_t>(x * y * 13 + 200);  // red
    });
}

struct WriterCase {
    const char* extension;
    OutputFormat format;
};

class WriterRoundTrip : public ::testing::TestWithParam<WriterCase> {};

TEST_P(WriterRoundTrip, ReadingTheFileBackGivesTheBitmapsPixels) {
    testing_files::TempDir dir;
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{64, 2}, std::pair{7, 33}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        BitmapHandle bitmap = patternBitmap(w, h);
        const std::string path = dir.file(std::string("out.") + GetParam().extension);
        ASSERT_TRUE(writeImageFile(path.c_str(), bitmap, GetParam().format));
        Image back{};
        ASSERT_TRUE(readImageFile(path.c_str(), &back));
        BitmapInfo written, read;
        platformQueryBitmap(bitmap, written);
        platformQueryBitmap(back.bitmap, read);
        ASSERT_EQ(read.width, w);
        ASSERT_EQ(read.height, h);
        const size_t size = displayStride(static_cast<uint32_t>(w)) * static_cast<size_t>(h);
        EXPECT_EQ(Bytes(read.bits, read.bits + size), Bytes(written.bits, written.bits + size));
        resetImage(&back);
        platformDeleteBitmap(bitmap);
    }
}

TEST_P(WriterRoundTrip, AFailedSaveKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
    testing_files::TempDir dir;
    BitmapHandle bitmap = patternBitmap(3, 2);
    const std::string name = std::string("taken.") + GetParam().extension;
    // A target that cannot be replaced: a folder of that name.
    std::filesystem::create_directory(dir.file(name));
    EXPECT_FALSE(writeImageFile(dir.file(name).c_str(), bitmap, GetParam().format));
    EXPECT_NE(errno, 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(name)));
    // A folder that does not exist: the system's reason is kept.
    const std::string missing = dir.file("no/such/folder/x.") + GetParam().extension;
    EXPECT_FALSE(writeImageFile(missing.c_str(), bitmap, GetParam().format));
    EXPECT_EQ(errno, ENOENT);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
    platformDeleteBitmap(bitmap);
}

INSTANTIATE_TEST_SUITE_P(Formats, WriterRoundTrip,
                         ::testing::Values(WriterCase{"png", OutputFormat::png}, WriterCase{"tga", OutputFormat::tga},
                                           WriterCase{"bmp", OutputFormat::bmp}, WriterCase{"tif", OutputFormat::tif}),
                         [](const auto& param) { return std::string(param.param.extension); });

uint32_t big32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

TEST(WritePng, EightBitRgbWithOnlyCriticalChunks) {
    testing_files::TempDir dir;
    BitmapHandle bitmap = patternBitmap(9, 4);
    ASSERT_TRUE(writePng(dir.file("a.png").c_str(), bitmap));
    const Bytes file = testing_files::readFile(dir.file("a.png"));
    ASSERT_GT(file.size(), 33u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{137, 'P', 'N', 'G', 13, 10, 26, 10}));
    EXPECT_EQ(big32(file, 16), 9u);  // width
    EXPECT_EQ(big32(file, 20), 4u);  // height
    EXPECT_EQ(file[24], 8);          // bit depth
    EXPECT_EQ(file[25], 2);          // colour type: RGB
    EXPECT_EQ(file[28], 0);          // not interlaced
    // IHDR, one or more IDAT, IEND, and nothing else: the second letter of
    // each chunk type, a run of IDAT chunks counted once.
    std::string types;
    for (size_t at = 8; at + 12 <= file.size(); at += big32(file, at) + 12) {
        const std::string type(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               file.begin() + static_cast<std::ptrdiff_t>(at + 8));
        types += type == "IDAT" && types.ends_with("D") ? "" : type.substr(1, 1);
    }
    EXPECT_EQ(types, "HDE");
    platformDeleteBitmap(bitmap);
}

TEST(WriteTga, UncompressedTrueColourBottomRowFirst) {
    testing_files::TempDir dir;
    BitmapHandle bitmap = patternBitmap(5, 3);
    ASSERT_TRUE(writeTga(dir.file("a.tga").c_str(), bitmap));
    const Bytes file = testing_files::readFile(dir.file("a.tga"));
    ASSERT_EQ(file.size(), 18u + 5 * 3 * 3);
    // ID length, colour map type, image type 2, five bytes of an unused
    // colour map, origin 0,0, width 5, height 3, 24 bits, descriptor 0.
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18),
              (Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 24, 0}));
    BitmapInfo info;
    platformQueryBitmap(bitmap, info);
    for (size_t row = 0; row < 3; ++row)  // the bitmap's rows, bottom first, less their padding
        EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(18 + row * 15),
                        file.begin() + static_cast<std::ptrdiff_t>(33 + row * 15)),
                  Bytes(info.bits + row * 16, info.bits + row * 16 + 15));
    platformDeleteBitmap(bitmap);
}

TEST(OutputFormats, TheExtensionPicksTheFormat) {
    const struct {
        const char* path;
        bool known;
        OutputFormat format;
    } cases[] = {{"a.bmp", true, OutputFormat::bmp}, {"b.PNG", true, OutputFormat::png},
                 {"dir/c.Tga", true, OutputFormat::tga}, {"d.jpg", false, {}}, {"e", false, {}},
                 {"f.pngx", false, {}}, {"g.pn", false, {}}, {"h.png/i", false, {}}, {"j.tga.bak", false, {}},
                 {"k.tif", true, OutputFormat::tif}, {"l.TIFF", true, OutputFormat::tif},
                 {"m.Tiff", true, OutputFormat::tif}, {"n.tiffs", false, {}}, {"o.ti", false, {}},
                 {"p.bmpx", false, {}}, {"q.DdS", true, OutputFormat::dds}, {"r.exr", false, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        OutputFormat format = OutputFormat::bmp;
        EXPECT_EQ(outputFormatOf(c.path, format), c.known);
        if (c.known) {
            EXPECT_EQ(format, c.format);
        }
    }
}

TEST(OutputFormats, HeightsGoToPngTiffOrOpenExr) {
    const struct {
        const char* path;
        bool known;
        OutputFormat format;
    } cases[] = {{"a.png", true, OutputFormat::png}, {"b.TIFF", true, OutputFormat::tif},
                 {"c.tif", true, OutputFormat::tif}, {"d.EXR", true, OutputFormat::exr},
                 {"e.bmp", false, {}},                {"f.dds", false, {}},
                 {"g.exrs", false, {}},               {"h.exr/i", false, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        OutputFormat format = OutputFormat::bmp;
        EXPECT_EQ(heightFormatOf(c.path, format), c.known);
        EXPECT_EQ(format, c.known ? c.format : OutputFormat::bmp);
    }
}

TEST(SaveImageTo, WritesTheFormatOfTheExtensionAndBmpForAnyOther) {
    testing_files::TempDir dir;
    Session* saved = session;
    session = createSession();
    ASSERT_NE(session, nullptr);
    session->image.bitmap = patternBitmap(3, 2);
    const struct {
        const char* name;
        Bytes start;
    } cases[] = {{"a.tga", {0, 0, 2}}, {"b.png", {137, 'P', 'N'}}, {"c.bmp", {'B', 'M'}}, {"d.jpg", {'B', 'M'}},
                 {"e", {'B', 'M'}},      {"f.tif", {'I', 'I', 42, 0}}, {"g.tiff", {'I', 'I', 42, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(saveImageTo(dir.file(c.name).c_str()));
        const Bytes file = testing_files::readFile(dir.file(c.name));
        ASSERT_GE(file.size(), c.start.size());
        EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(c.start.size())), c.start);
    }
    destroySession(session);
    session = saved;
}

TEST(SaveImageTo, TiffKeepsSixteenBitsAndAlpha) {
    testing_files::TempDir dir;
    Session* saved = session;
    session = createSession();
    ASSERT_NE(session, nullptr);
    // 2 x 1, red-green-blue-alpha words.
    ASSERT_TRUE(startImage(&session->image, 2, 1, 16, true));
    const uint16_t samples[8] = {0x0102, 0xFFFF, 0x8000, 0x1234, 0, 0x7FFF, 0xFEDC, 0xABCD};
    std::memcpy(session->image.pixels, samples, sizeof samples);
    ASSERT_TRUE(buildDisplayBitmap(&session->image));
    const std::string path = dir.file("deep.tif");
    ASSERT_TRUE(saveImageTo(path.c_str()));
    Image back{};
    ASSERT_TRUE(readImageFile(path.c_str(), &back));
    EXPECT_EQ(back.sampleBits, 16);
    EXPECT_EQ(back.hasAlpha, 1);
    ASSERT_EQ(back.dataSize, sizeof samples);
    EXPECT_EQ(std::memcmp(back.pixels, samples, sizeof samples), 0);
    resetImage(&back);
    destroySession(session);
    session = saved;
}

}  // namespace

// ------------------------------------------------- 16 bits and alpha kept

// A picture whose every sample differs: `sampleBits` deep, with alpha or not.
void paintSamples(Image& image, uint32_t w, uint32_t h, int sampleBits, bool alpha) {
    ASSERT_TRUE(startImage(&image, w, h, sampleBits, alpha));
    const size_t count = size_t{w} * h * (alpha ? 4 : 3);
    for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint32_t>(i * 2654435761u >> 7);
        if (sampleBits == 16)
            reinterpret_cast<uint16_t*>(image.pixels)[i] = static_cast<uint16_t>(v);
        else
            image.pixels[i] = static_cast<uint8_t>(v);
    }
    ASSERT_TRUE(buildDisplayBitmap(&image));
}

struct KeptCase {
    const char* extension;
    int sampleBits;
    bool alpha;
    SaveOptions options;
    int readSampleBits;  // what the file holds
    bool readAlpha;
};

class KeepsSamples : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeepsSamples, ReadingBackGivesTheSamplesTheOptionsKeep) {
    const KeptCase& c = GetParam();
    testing_files::TempDir dir;
    for (const auto& [w, h] : {std::pair{1u, 1u}, std::pair{7u, 5u}, std::pair{300u, 2u}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        Image image{}, back{};
        paintSamples(image, w, h, c.sampleBits, c.alpha);
        const std::string path = dir.file(std::string("out.") + c.extension);
        OutputFormat format;
        ASSERT_TRUE(outputFormatOf(path.c_str(), format));
        ASSERT_TRUE(writeImage(path.c_str(), image, format, c.options));
        ASSERT_TRUE(readImageFile(path.c_str(), &back));
        ASSERT_EQ(back.sampleBits == 16 ? 16 : 8, c.readSampleBits);
        ASSERT_EQ(back.hasAlpha, c.readAlpha ? 1 : 0);
        const size_t from = c.alpha ? 4 : 3, to = c.readAlpha ? 4 : 3;
        for (size_t p = 0; p < size_t{w} * h; ++p)
            for (size_t k = 0; k < to; ++k) {
                const size_t i = p * from + k, j = p * to + k;
                const uint32_t v = c.sampleBits == 16 ? reinterpret_cast<uint16_t*>(image.pixels)[i] : image.pixels[i];
                const uint32_t want = c.sampleBits == c.readSampleBits ? v
                                      : c.readSampleBits == 8        ? reduceSample(v)
                                                                     : widenSample(v);
                const uint32_t got = c.readSampleBits == 16 ? reinterpret_cast<uint16_t*>(back.pixels)[j] : back.pixels[j];
                ASSERT_EQ(got, want) << "pixel " << p << " sample " << k;
            }
        resetImage(&image);
        resetImage(&back);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, KeepsSamples,
    ::testing::Values(KeptCase{"png", 16, false, {}, 16, false}, KeptCase{"png", 16, true, {}, 16, true},
                      KeptCase{"png", 8, true, {}, 8, true}, KeptCase{"tga", 8, true, {}, 8, true},
                      KeptCase{"tga", 16, true, {}, 8, true}, KeptCase{"bmp", 16, true, {}, 8, false},
                      KeptCase{"png", 16, true, {0, 8}, 8, false}, KeptCase{"png", 8, false, {1, 16}, 16, false},
                      KeptCase{"tga", 8, true, {0, 0}, 8, false}),
    [](const ::testing::TestParamInfo<KeptCase>& param) {
        const KeptCase& c = param.param;
        return std::string(c.extension) + std::to_string(c.sampleBits) + (c.alpha ? "Alpha" : "") + "To" +
               std::to_string(c.readSampleBits) + (c.readAlpha ? "Alpha" : "");
    });
