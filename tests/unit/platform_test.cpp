// The platform seam: these cases run on both implementations (the portable one
// natively, the Windows one under Wine), which must agree byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "image/image.h"
#include "platform/platform.h"
#include "readers/readers.h"

namespace {

struct BitmapOwner {
    BitmapHandle handle;
    explicit BitmapOwner(BitmapHandle h) : handle(h) {}
    ~BitmapOwner() { platformDeleteBitmap(handle); }
    BitmapOwner(const BitmapOwner&) = delete;
    BitmapOwner& operator=(const BitmapOwner&) = delete;
};

BitmapInfo query(BitmapHandle bitmap) {
    BitmapInfo info;
    EXPECT_TRUE(platformQueryBitmap(bitmap, info));
    return info;
}

// Byte `i` of the pixel at column x, row y from the top of a display bitmap.
uint8_t* pixelAt(const BitmapInfo& info, int32_t x, int32_t y) {
    return info.bits + displayStride(static_cast<uint32_t>(info.width)) * static_cast<size_t>(info.height - 1 - y) +
           size_t{3} * static_cast<size_t>(x);
}

// Each pixel of the source tells where it came from: blue and green hold the
// low bytes of x and y, red their high nibbles.
void codePixels(const BitmapInfo& info) {
    for (int32_t y = 0; y < info.height; ++y)
        for (int32_t x = 0; x < info.width; ++x) {
            uint8_t* p = pixelAt(info, x, y);
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(((x >> 8) & 15) | ((y >> 8) << 4));
        }
}
int32_t sourceColumn(const uint8_t* p) { return p[0] | ((p[2] & 15) << 8); }
int32_t sourceRow(const uint8_t* p) { return p[1] | ((p[2] >> 4) << 8); }

TEST(PlatformBitmap, NewBitmapIsBlackBottomUp24Bit) {
    BitmapOwner bitmap(platformCreateBitmap(5, 3, true));
    ASSERT_NE(bitmap.handle, nullptr);
    const BitmapInfo info = query(bitmap.handle);
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.bitsPerPixel, 24);
    ASSERT_NE(info.bits, nullptr);
    for (size_t i = 0; i < 16 * 3; ++i) ASSERT_EQ(info.bits[i], 0) << "byte " << i;
}

TEST(PlatformBitmap, RefusesEmptySizes) {
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {-1, 4}, {4, -1}}) {
        BitmapOwner bitmap(platformCreateBitmap(w, h, true));
        EXPECT_EQ(bitmap.handle, nullptr) << w << " x " << h;
    }
    BitmapInfo info;
    EXPECT_FALSE(platformQueryBitmap(nullptr, info));
}

// Rows move between a bitmap and a top-row-first grid of any stride; the
// grid must have the bitmap's size.
TEST(PlatformBitmap, RowTransfersFlipAndKeepTheGridsStride) {
    BitmapOwner bitmap(platformCreateBitmap(3, 2, true));
    ASSERT_NE(bitmap.handle, nullptr);
    const BitmapInfo info = query(bitmap.handle);
    for (size_t stride : {size_t{12}, size_t{9}, size_t{20}}) {
        std::vector<uint8_t> grid(stride * 2, 0xEE);
        for (size_t i = 0; i < 9; ++i) {
            grid[i] = static_cast<uint8_t>(i + 1);             // top row
            grid[stride + i] = static_cast<uint8_t>(i + 101);  // bottom row
        }
        ASSERT_TRUE(platformWriteRowsTopDown(bitmap.handle, grid.data(), 3, 2, stride)) << stride;
        // Memory row 0 is the bottom of the picture.
        EXPECT_EQ(info.bits[0], 101);
        EXPECT_EQ(info.bits[8], 109);
        EXPECT_EQ(info.bits[12], 1);
        EXPECT_EQ(info.bits[20], 9);

        std::vector<uint8_t> back(stride * 2, 0xEE);
        ASSERT_TRUE(platformReadRowsTopDown(bitmap.handle, back.data(), 3, 2, stride)) << stride;
        for (size_t r = 0; r < 2; ++r)
            EXPECT_EQ(0, std::memcmp(back.data() + r * stride, grid.data() + r * stride, 9)) << stride;
    }
    std::vector<uint8_t> grid(64);
    EXPECT_FALSE(platformReadRowsTopDown(bitmap.handle, grid.data(), 3, 3, 12));
    EXPECT_FALSE(platformWriteRowsTopDown(bitmap.handle, grid.data(), 2, 2, 8));
    EXPECT_FALSE(platformReadRowsTopDown(bitmap.handle, grid.data(), 3, 2, 8));
}

// The stretching copy picks the source pixel under the centre of each
// destination pixel; a centre exactly on a border takes the upper or left
// pixel, as GDI's StretchBlt does.
struct StretchCase {
    int32_t sw, sh, dw, dh;
    std::vector<std::pair<int32_t, int32_t>> columns;  // destination column, source column
    std::vector<std::pair<int32_t, int32_t>> rows;     // destination row, source row (from the top)
};

TEST(PlatformStretchCopy, PicksTheSourcePixelUnderEachCentre) {
    const StretchCase cases[] = {
        {7, 5, 10, 9,
         {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 3}, {5, 3}, {6, 4}, {7, 5}, {8, 5}, {9, 6}},
         {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 3}, {6, 3}, {7, 4}, {8, 4}}},
        {3, 2, 298, 298, {{0, 0}, {98, 0}, {99, 1}, {198, 1}, {199, 2}, {297, 2}}, {{0, 0}, {148, 0}, {149, 1}, {297, 1}}},
        // Ties: the centres of column and row 74 and 223 fall on borders.
        {256, 256, 298, 298, {{73, 63}, {74, 63}, {75, 64}, {223, 191}, {297, 255}}, {{74, 63}, {223, 191}}},
        {100, 100, 298, 298, {{74, 24}, {223, 74}, {297, 99}}, {{74, 24}, {223, 74}, {297, 99}}},
        {200, 150, 298, 223, {{74, 49}, {223, 149}}, {{111, 74}, {222, 149}}},
        {1, 1, 298, 298, {{0, 0}, {297, 0}}, {{0, 0}, {297, 0}}},
    };
    for (const StretchCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << " x " << c.sh << " to " << c.dw << " x " << c.dh);
        BitmapOwner source(platformCreateBitmap(c.sw, c.sh, true));
        BitmapOwner destination(platformCreateBitmap(c.dw, c.dh, true));
        ASSERT_NE(source.handle, nullptr);
        ASSERT_NE(destination.handle, nullptr);
        codePixels(query(source.handle));
        platformStretchCopy(source.handle, destination.handle);
        const BitmapInfo out = query(destination.handle);
        for (auto [x, sx] : c.columns)
            for (int32_t y = 0; y < c.dh; y += c.dh - 1) EXPECT_EQ(sourceColumn(pixelAt(out, x, y)), sx) << "column " << x;
        for (auto [y, sy] : c.rows) EXPECT_EQ(sourceRow(pixelAt(out, c.dw - 1, y)), sy) << "row " << y;
    }
}

TEST(PlatformStretchCopy, OneToOneCopiesEveryPixel) {
    BitmapOwner source(platformCreateBitmap(298, 299, true));
    BitmapOwner destination(platformCreateBitmap(298, 299, true));
    ASSERT_NE(source.handle, nullptr);
    ASSERT_NE(destination.handle, nullptr);
    const BitmapInfo in = query(source.handle);
    codePixels(in);
    platformStretchCopy(source.handle, destination.handle);
    EXPECT_EQ(0, std::memcmp(in.bits, query(destination.handle).bits, displayStride(298) * 299));
}

// A temporary file removed when the test ends.
struct TemporaryFile {
    std::string path;
    TemporaryFile(const char* name, const std::vector<uint8_t>& bytes)
        : path((std::filesystem::temp_directory_path() / name).string()) {
        FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (!file) return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
    }
    ~TemporaryFile() { std::remove(path.c_str()); }
};

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// A 24-bit BMP file of a 2 x 2 picture with the given height field, followed
// by `pixels` (rows in file order, padded).
std::vector<uint8_t> bmpFile(int32_t heightField, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> bytes(54);
    const uint32_t offset = 54;
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 2, static_cast<uint32_t>(offset + pixels.size()));  // file size
    put32(bytes, 10, offset);                                         // pixel data offset
    put32(bytes, 14, 40);                                             // information header size
    put32(bytes, 18, 2);                                              // width
    put32(bytes, 22, static_cast<uint32_t>(heightField));
    bytes[26] = 1;                                                    // planes
    bytes[28] = 24;                                                   // bits per pixel
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

// The picture: top row red, green; bottom row blue, white (red-green-blue).
const std::vector<uint8_t> expectedPixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

TEST(PlatformBitmapFile, LoadsBothRowOrdersUpright) {
    // Blue, green, red in the file; rows padded to 8 bytes.
    const std::vector<uint8_t> topRow24 = {0, 0, 255, 0, 255, 0, 0, 0};
    const std::vector<uint8_t> bottomRow24 = {255, 0, 0, 255, 255, 255, 0, 0};
    std::vector<uint8_t> bottomUp24 = bottomRow24, topDown24 = topRow24;
    bottomUp24.insert(bottomUp24.end(), topRow24.begin(), topRow24.end());
    topDown24.insert(topDown24.end(), bottomRow24.begin(), bottomRow24.end());

    const struct {
        const char* name;
        std::vector<uint8_t> file;
    } files[] = {
        {"quorvel-platform-bottom-up-24.bmp", bmpFile(2, bottomUp24)},
        {"quorvel-platform-top-down-24.bmp", bmpFile(-2, topDown24)},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        TemporaryFile file(f.name, f.file);
        Image image{};
        ASSERT_TRUE(readImageFile(file.path.c_str(), &image));
        EXPECT_EQ(image.width, 2);
        EXPECT_EQ(image.height, 2);
        EXPECT_EQ(image.bitsPerPixel, 24);
        ASSERT_EQ(image.dataSize, expectedPixels.size());
        EXPECT_EQ(std::vector<uint8_t>(image.pixels, image.pixels + image.dataSize), expectedPixels);
        const BitmapInfo info = query(image.bitmap);
        EXPECT_EQ(info.height, 2) << "display bitmaps are bottom row first";
        EXPECT_EQ(info.bitsPerPixel, 24);
        resetImage(&image);
    }
}

TEST(PlatformFiles, FileExistsTellsAMissingFileApart) {
    const std::string path = (std::filesystem::temp_directory_path() / "quorvel-platform-missing.bmp").string();
    std::remove(path.c_str());
    EXPECT_FALSE(platformFileExists(path.c_str()));
    TemporaryFile present("quorvel-platform-present.bmp", {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
    EXPECT_TRUE(platformFileExists(present.path.c_str()));
}

TEST(PlatformBitmapFile, RefusesBytesThatAreNotABitmap) {
    const std::vector<uint8_t> notABitmap = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'};
    EXPECT_EQ(platformDecodeBitmap(notABitmap), nullptr);
    EXPECT_EQ(platformDecodeBitmap({}), nullptr);
}

TEST(PlatformFiles, ReplaceFileOverwritesTheTarget) {
    TemporaryFile source("quorvel-platform-source.tmp", {1, 2, 3});
    TemporaryFile target("quorvel-platform-target.tmp", {9});
    ASSERT_TRUE(platformReplaceFile(source.path.c_str(), target.path.c_str()));
    EXPECT_FALSE(platformFileExists(source.path.c_str()));
    FILE* file = std::fopen(target.path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    uint8_t bytes[4] = {};
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, file), 3u);
    std::fclose(file);
    EXPECT_EQ(bytes[2], 3);
}

TEST(PlatformPaths, ExecutableAndCurrentDirectoryFitOrReportZero) {
    char path[512] = {};
    const size_t length = platformExecutablePath(path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(path), length);
    EXPECT_NE(std::strchr(path, pathSeparator), nullptr);
    char tiny[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(platformExecutablePath(tiny, sizeof tiny), 0u);
    EXPECT_EQ(tiny[0], '\0');

    char current[512] = {};
    ASSERT_GT(platformCurrentDirectory(current, sizeof current), 0u);
    EXPECT_EQ(platformCurrentDirectory(tiny, 2), 0u);
    EXPECT_TRUE(platformSetCurrentDirectory(current));
}

}  // namespace
