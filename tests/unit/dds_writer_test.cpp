// DDS files as the writer lays them out: the header fields of every format
// and header kind, the levels that follow, the atomic save, and the files
// read back by the program's own reader where it reads them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/session.h"
#include "encode/mip_chain.h"
#include "image/rows.h"
#include "readers/readers.h"
#include "tests/unit/generated_normal_maps.h"
#include "tests/unit/test_files.h"
#include "writers/writers.h"

namespace {

using testing_files::Bytes;
using testing_files::get32;

constexpr uint32_t fourCc(const char (&code)[5]) {
    return uint32_t{static_cast<uint8_t>(code[0])} | (uint32_t{static_cast<uint8_t>(code[1])} << 8) |
           (uint32_t{static_cast<uint8_t>(code[2])} << 16) | (uint32_t{static_cast<uint8_t>(code[3])} << 24);
}

struct HeaderCase {
    const char* name;
    TextureFormat format;
    bool dx10;
    uint32_t fourCc;      // the pixel format's FourCC (DX10 for the extension)
    uint32_t dxgiFormat;  // 0 without the extension
    uint32_t pitchOrLinearSize;
    uint32_t pixelFormatFlags;
    uint32_t bitCount;
};

// A 9 x 5 picture: blocks of 3 x 2 at the top level, four levels.
const HeaderCase headerCases[] = {
    {"bc5", TextureFormat::bc5, false, fourCc("ATI2"), 0, 3 * 2 * 16, 0x4, 0},
    {"bc1", TextureFormat::bc1, false, fourCc("DXT1"), 0, 3 * 2 * 8, 0x4, 0},
    {"bc3", TextureFormat::bc3, false, fourCc("DXT5"), 0, 3 * 2 * 16, 0x4, 0},
    {"bgra8", TextureFormat::bgra8, false, 0, 0, 9 * 4, 0x41, 32},
    {"bc5_dx10", TextureFormat::bc5, true, fourCc("DX10"), 83, 3 * 2 * 16, 0x4, 0},
    {"bc1_dx10", TextureFormat::bc1, true, fourCc("DX10"), 71, 3 * 2 * 8, 0x4, 0},
    {"bc3_dx10", TextureFormat::bc3, true, fourCc("DX10"), 77, 3 * 2 * 16, 0x4, 0},
    {"bgra8_dx10", TextureFormat::bgra8, true, fourCc("DX10"), 87, 9 * 4, 0x4, 0},
    {"bc7_dx10", TextureFormat::bc7, true, fourCc("DX10"), 98, 3 * 2 * 16, 0x4, 0},
};

class DdsHeader : public ::testing::TestWithParam<HeaderCase> {};

Image mapOf(int32_t width, int32_t height) {
    return normalmaps::makeMap({normalmaps::Relief::bricks, GreenConvention::openGl, width, height, 9, 0});
}

TEST_P(DdsHeader, FieldsAreThoseDirectXReadersExpect) {
    const HeaderCase& c = GetParam();
    testing_files::TempDir dir;
    Image map = mapOf(9, 5);
    for (uint32_t mips : {0u, 1u, 2u}) {
        SCOPED_TRACE("mips " + std::to_string(mips));
        SaveOptions options;
        options.ddsFormat = c.format;
        options.ddsDx10 = c.dx10;
        options.mips = mips;
        const std::string path = dir.file("out.dds");
        ASSERT_TRUE(writeDds(path.c_str(), map, options));
        const Bytes file = testing_files::readFile(path);
        const uint32_t levels = mips ? mips : 4;
        const size_t headerSize = c.dx10 ? 148 : 128;
        ASSERT_EQ(file.size(), headerSize + textureBytes(c.format, 9, 5, levels));
        EXPECT_EQ(get32(file, 0), fourCc("DDS "));
        EXPECT_EQ(get32(file, 4), 124u);  // dwSize
        // CAPS, HEIGHT, WIDTH, PIXELFORMAT, MIPMAPCOUNT, and LINEARSIZE or PITCH.
        EXPECT_EQ(get32(file, 8), 0x1007u | 0x20000u | (c.format == TextureFormat::bgra8 ? 0x8u : 0x80000u));
        EXPECT_EQ(get32(file, 12), 5u);
        EXPECT_EQ(get32(file, 16), 9u);
        EXPECT_EQ(get32(file, 20), c.pitchOrLinearSize);
        EXPECT_EQ(get32(file, 28), levels);
        EXPECT_EQ(get32(file, 76), 32u);  // pixel format size
        EXPECT_EQ(get32(file, 80), c.pixelFormatFlags);
        EXPECT_EQ(get32(file, 84), c.fourCc);
        EXPECT_EQ(get32(file, 88), c.bitCount);
        const uint32_t masks[4] = {get32(file, 92), get32(file, 96), get32(file, 100), get32(file, 104)};
        if (c.bitCount) {
            EXPECT_EQ(masks[0], 0x00FF0000u);
            EXPECT_EQ(masks[1], 0x0000FF00u);
            EXPECT_EQ(masks[2], 0x000000FFu);
            EXPECT_EQ(masks[3], 0xFF000000u);
        }
        // TEXTURE, and COMPLEX and MIPMAP when there are levels below.
        EXPECT_EQ(get32(file, 108), levels > 1 ? 0x401008u : 0x1000u);
        if (c.dx10) {
            EXPECT_EQ(get32(file, 128), c.dxgiFormat);
            EXPECT_EQ(get32(file, 132), 3u);  // a 2D texture
            EXPECT_EQ(get32(file, 136), 0u);  // not a cube
            EXPECT_EQ(get32(file, 140), 1u);  // one slice
        }
        // The levels follow the header as the texture encoder lays them out.
        Bytes levelsBytes(static_cast<size_t>(textureBytes(c.format, 9, 5, levels)));
        ASSERT_TRUE(encodeTexture(map, {c.format, mips, false}, levelsBytes.data(), levelsBytes.size()));
        EXPECT_TRUE(std::equal(levelsBytes.begin(), levelsBytes.end(), file.begin() + static_cast<ptrdiff_t>(headerSize)));
    }
    resetImage(&map);
}

INSTANTIATE_TEST_SUITE_P(Formats, DdsHeader, ::testing::ValuesIn(headerCases),
                         [](const auto& param) { return std::string(param.param.name); });

// The reader of this program takes the legacy DXT1, DXT5 and 32-bit files.
TEST(DdsWriter, OwnReaderReadsTheLegacyFormatsTopLevel) {
    testing_files::TempDir dir;
    Image map = mapOf(13, 7);
    const struct {
        TextureFormat format;
        int tolerance;  // the reader widens 5:6:5 by shifting alone: up to 7 levels below the usual widening
    } cases[] = {{TextureFormat::bgra8, 0}, {TextureFormat::bc1, 24}, {TextureFormat::bc3, 24}};
    for (const auto& c : cases) {
        SaveOptions options;
        options.ddsFormat = c.format;
        const std::string path = dir.file("legacy.dds");
        ASSERT_TRUE(writeDds(path.c_str(), map, options));
        Image back{};
        ASSERT_TRUE(readImageFile(path.c_str(), &back)) << static_cast<int>(c.format);
        ASSERT_EQ(back.width, 13);
        ASSERT_EQ(back.height, 7);
        // BC3 and the 32-bit layout read back with their alpha, all 255.
        const size_t step = c.format == TextureFormat::bc1 ? 3 : 4;
        ASSERT_EQ(back.bitsPerPixel, static_cast<int32_t>(8 * step));
        int worst = 0;
        for (size_t i = 0; i < size_t{13} * 7; ++i) {
            for (size_t k = 0; k < 3; ++k)
                worst = std::max(worst, std::abs(back.pixels[step * i + k] - map.pixels[3 * i + k]));
            if (step == 4) {
                ASSERT_EQ(back.pixels[4 * i + 3], 255);
            }
        }
        EXPECT_LE(worst, c.tolerance) << static_cast<int>(c.format);
        resetImage(&back);
    }
    resetImage(&map);
}

// BC7 has no FourCC: its files have the DX10 header whatever ddsDx10 says,
// keep the picture's alpha, and read back with this program's reader.
TEST(DdsWriter, Bc7FilesHaveTheDx10HeaderAndReadBackWithTheirAlpha) {
    testing_files::TempDir dir;
    for (const auto layout : {normalmaps::Layout::rgba32, normalmaps::Layout::rgba64, normalmaps::Layout::rgb24}) {
        SCOPED_TRACE(static_cast<int>(layout));
        Image map = normalmaps::makeMap({normalmaps::Relief::rivets, GreenConvention::openGl, 22, 13, 4, 0, layout});
        ImageRows rows;
        ASSERT_TRUE(viewRows(map, rows));
        std::vector<uint8_t> rgba(size_t{4} * 22 * 13);
        for (uint32_t y = 0; y < 13; ++y) readRow8(rows, rows.row(y), rgba.data() + size_t{4} * 22 * y);
        // Alpha as a smooth height, which BC7 keeps within a few levels.
        for (size_t i = 0; i < size_t{22} * 13; ++i) {
            if (layout == normalmaps::Layout::rgb24) break;
            const uint32_t height = static_cast<uint32_t>(40 + 8 * (i % 22) + 3 * (i / 22));
            rgba[4 * i + 3] = static_cast<uint8_t>(height);
            if (isSixteenBit(map)) {
                const uint16_t word = widenSample(height);
                std::memcpy(map.pixels + 8 * i + 6, &word, 2);
            } else {
                map.pixels[4 * i + 3] = static_cast<uint8_t>(height);
            }
        }
        for (const int fast : {0, 1}) {
            SaveOptions options;
            options.ddsFormat = TextureFormat::bc7;
            options.bc7Fast = fast;
            const std::string path = dir.file("bc7.dds");
            ASSERT_TRUE(writeDds(path.c_str(), map, options));
            const Bytes file = testing_files::readFile(path);
            ASSERT_EQ(file.size(), 148 + textureBytes(TextureFormat::bc7, 22, 13, 5));
            EXPECT_EQ(get32(file, 84), fourCc("DX10"));
            EXPECT_EQ(get32(file, 128), 98u);
            Image back{};
            ASSERT_TRUE(readImageFile(path.c_str(), &back));
            ImageRows backRows;
            ASSERT_TRUE(viewRows(back, backRows));
            ASSERT_EQ(back.width, 22);
            ASSERT_EQ(back.height, 13);
            ASSERT_TRUE(back.hasAlpha);
            double squares[4] = {};
            std::vector<uint8_t> row(size_t{4} * 22);
            for (uint32_t y = 0; y < 13; ++y) {
                readRow8(backRows, backRows.row(y), row.data());
                for (size_t i = 0; i < row.size(); ++i) {
                    const double d = row[i] - rgba[size_t{4} * 22 * y + i];
                    squares[i % 4] += d * d;
                }
            }
            // Measured: at most 1.9 levels RMS in a colour channel and 2.1 in
            // alpha, a ramp of 33 levels a block across the domes (0 without
            // alpha: 255 stays 255).
            for (int k = 0; k < 3; ++k) EXPECT_LE(std::sqrt(squares[k] / (22 * 13)), 2.5) << k << " fast " << fast;
            if (layout == normalmaps::Layout::rgb24) {
                EXPECT_EQ(squares[3], 0.0);
            } else {
                EXPECT_LE(std::sqrt(squares[3] / (22 * 13)), 2.6) << "fast " << fast;
            }
            resetImage(&back);
        }
        resetImage(&map);
    }
}

TEST(DdsWriter, AFailedSaveKeepsTheEarlierFile) {
    testing_files::TempDir dir;
    Image map = mapOf(4, 4);
    std::filesystem::create_directory(dir.file("taken.dds"));
    EXPECT_FALSE(writeDds(dir.file("taken.dds").c_str(), map, SaveOptions{}));
    EXPECT_NE(errno, 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.dds")));
    EXPECT_FALSE(writeDds(dir.file("no/such/folder/x.dds").c_str(), map, SaveOptions{}));
    EXPECT_EQ(errno, ENOENT);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
    resetImage(&map);
}

TEST(DdsWriter, WriteImageTakesEveryLayoutAndSaysWhatItLeftOut) {
    testing_files::TempDir dir;
    Image wide{};
    ASSERT_TRUE(startImage(&wide, 6, 3, 16, true));
    for (size_t i = 0; i < size_t{6} * 3 * 4; ++i) {
        const uint16_t word = static_cast<uint16_t>(i * 2741);
        std::memcpy(wide.pixels + 2 * i, &word, 2);
    }
    for (const auto& [format, reduced] : {std::pair{TextureFormat::bc5, 0}, std::pair{TextureFormat::bgra8, 1}}) {
        SaveOptions options;
        options.ddsFormat = format;
        SaveReport report;
        const std::string path = dir.file("wide.dds");
        ASSERT_TRUE(writeImage(path.c_str(), wide, OutputFormat::dds, options, &report));
        EXPECT_EQ(report.alphaDropped, 1);
        EXPECT_EQ(report.reduced, reduced);
        EXPECT_EQ(testing_files::readFile(path).size(), 128 + textureBytes(format, 6, 3, 3));
    }
    resetImage(&wide);
}

TEST(DdsWriter, TheSessionSavesDdsByTheExtension) {
    testing_files::TempDir dir;
    Session* saved = session;
    session = createSession();
    ASSERT_NE(session, nullptr);
    Image map = mapOf(8, 8);
    ASSERT_TRUE(buildDisplayBitmap(&map));
    adoptImage(&map);
    const std::string path = dir.file("saved.DDS");
    ASSERT_TRUE(saveImageTo(path.c_str()));
    const Bytes file = testing_files::readFile(path);
    ASSERT_EQ(file.size(), 128 + textureBytes(TextureFormat::bc5, 8, 8, 4));
    EXPECT_EQ(get32(file, 84), fourCc("ATI2"));
    EXPECT_STREQ(session->savePath, path.c_str());
    destroySession(session);
    session = saved;
}

}  // namespace
