#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <array>
#include <vector>

#include "app/session.h"
#include "image/image.h"
#include "image/thumbnail.h"
#include "tests/unit/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A top-down grid of grey pixels from `levels` (row by row).
PixelGrid greyGrid(uint32_t width, uint32_t height, const std::vector<uint8_t>& levels) {
    PixelGrid grid{};
    allocPixelGrid(width, height, &grid);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            std::memset(grid.gridBits + y * grid.gridStride + 3 * x, levels[y * width + x], 3);
    return grid;
}

std::vector<uint8_t> reduceGrey(uint32_t sw, uint32_t sh, const std::vector<uint8_t>& levels, uint32_t tw,
                                uint32_t th) {
    PixelGrid source = greyGrid(sw, sh, levels);
    PixelGrid target{};
    scaleBoxFilter(&source, &target, tw, th);
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < th; ++y)
        for (uint32_t x = 0; x < tw; ++x) {
            const uint8_t* p = target.gridBits + y * target.gridStride + 3 * x;
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
            out.push_back(p[0]);
        }
    releasePixelGrid(&source);
    releasePixelGrid(&target);
    return out;
}

TEST(ScaleBoxFilter, AveragesByCoveredArea) {
    // Diagonal black and white: 127.5, rounded half up.
    EXPECT_EQ(reduceGrey(2, 2, {0, 255, 255, 0}, 1, 1), (std::vector<uint8_t>{128}));
    // Rows 0, 90, 180 / 30, 120, 210 / 60, 150, 240 reduced to 2 x 2.
    EXPECT_EQ(reduceGrey(3, 3, {0, 90, 180, 30, 120, 210, 60, 150, 240}, 2, 2),
              (std::vector<uint8_t>{40, 160, 80, 200}));
    // A column and a row reduced on one side only.
    EXPECT_EQ(reduceGrey(4, 2, {10, 20, 30, 40, 50, 60, 70, 80}, 2, 1), (std::vector<uint8_t>{35, 55}));
}

TEST(ScaleBoxFilter, UniformColourStaysUniform) {
    for (auto [sw, sh, tw, th] : {std::array<uint32_t, 4>{7, 5, 3, 2}, {300, 300, 298, 298},
                                  {1024, 17, 298, 4}, {640, 480, 298, 223}}) {
        const std::vector<uint8_t> levels(size_t{sw} * sh, 77);
        const auto out = reduceGrey(sw, sh, levels, tw, th);
        for (uint8_t v : out) ASSERT_EQ(v, 77) << sw << "x" << sh;
    }
}

TEST(ScaleBoxFilter, WidePicturesBeyondSixteenBitsReduceSoundly) {
    // A row of 3 bytes a pixel wider than 65535 bytes, and a tall picture
    // whose height plus the thumbnail's overflows 16 bits.
    const auto wide = reduceGrey(30000, 2, std::vector<uint8_t>(60000, 200), 298, 1);
    EXPECT_EQ(wide, std::vector<uint8_t>(298, 200));
    const auto tall = reduceGrey(2, 70000, std::vector<uint8_t>(140000, 9), 1, 299);
    EXPECT_EQ(tall, std::vector<uint8_t>(299, 9));
}

TEST(ThumbnailSize, FitsTheBoxOf298By299) {
    struct Case {
        int32_t w, h, tw, th;
    };
    const Case cases[] = {{1024, 1024, 298, 298}, {2048, 1024, 298, 149}, {512, 1024, 149, 299},
                          {640, 480, 298, 223},   {300, 300, 298, 298},   {298, 299, 298, 299},
                          {256, 256, 298, 298},   {100, 100, 298, 298},   {1, 1, 298, 298},
                          {10000, 1, 298, 0}};
    for (const Case& c : cases) {
        int32_t tw = -1, th = -1;
        thumbnailSize(c.w, c.h, tw, th);
        EXPECT_EQ(tw, c.tw) << c.w << "x" << c.h;
        EXPECT_EQ(th, c.th) << c.w << "x" << c.h;
    }
}

// A filled display bitmap of one colour.
BitmapHandle solidBitmap(int32_t w, int32_t h, uint8_t blue, uint8_t green, uint8_t red) {
    return testing_files::paintedBitmap(w, h, [=](int32_t, int32_t, uint8_t* p) {
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    });
}

TEST(MakeThumbnailBitmap, ReducesOrStretchesToTheThumbnailSize) {
    struct Case {
        int32_t w, h, tw, th;
    };
    for (const Case c : {Case{640, 480, 298, 223}, Case{298, 299, 298, 299}, Case{1, 1, 298, 298},
                         Case{100, 50, 298, 149}}) {
        BitmapHandle source = solidBitmap(c.w, c.h, 10, 20, 30);
        BitmapHandle thumb = makeThumbnailBitmap(source);
        BitmapInfo info;
        ASSERT_TRUE(platformQueryBitmap(thumb, info));
        EXPECT_EQ(info.width, c.tw);
        EXPECT_EQ(info.height, c.th);
        // Every pixel of a one-colour picture keeps that colour.
        const size_t stride = displayStride(static_cast<uint32_t>(info.width));
        for (int32_t y = 0; y < info.height; ++y)
            for (int32_t x = 0; x < info.width; ++x) {
                const uint8_t* p = info.bits + static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x);
                ASSERT_TRUE(p[0] == 10 && p[1] == 20 && p[2] == 30) << c.w << " " << x << "," << y;
            }
        platformDeleteBitmap(thumb);
        platformDeleteBitmap(source);
    }
    BitmapHandle line = solidBitmap(10000, 1, 1, 2, 3);
    EXPECT_EQ(makeThumbnailBitmap(line), nullptr);
    platformDeleteBitmap(line);
}

TEST(MakeThumbnailBitmap, KeepsThePictureUpright) {
    // 600 x 600, top half white, bottom half black: the thumbnail's top row
    // (the last memory row) is white and its bottom row black.
    BitmapHandle source = solidBitmap(600, 600, 0, 0, 0);
    BitmapInfo info;
    platformQueryBitmap(source, info);
    std::memset(info.bits + displayStride(600) * 300, 255, displayStride(600) * 300);
    BitmapHandle thumb = makeThumbnailBitmap(source);
    BitmapInfo t;
    ASSERT_TRUE(platformQueryBitmap(thumb, t));
    ASSERT_EQ(t.height, 298);
    EXPECT_EQ(t.bits[0], 0);
    EXPECT_EQ(t.bits[displayStride(298) * 297], 255);
    platformDeleteBitmap(thumb);
    platformDeleteBitmap(source);
}

TEST(BuildThumbnail, RebuildingGivesIdenticalBitmapsAndReplacesTheOldOne) {
    Session* saved = session;
    session = createSession();
    EXPECT_EQ(buildThumbnail(), 0);  // nothing loaded
    session->image.bitmap = solidBitmap(640, 480, 1, 2, 3);
    ASSERT_EQ(buildThumbnail(), 1);
    BitmapInfo first;
    ASSERT_TRUE(platformQueryBitmap(session->thumbnail.bitmap, first));
    const Bytes firstBytes(first.bits, first.bits + displayStride(298) * 223);
    ASSERT_EQ(buildThumbnail(), 1);
    BitmapInfo second;
    ASSERT_TRUE(platformQueryBitmap(session->thumbnail.bitmap, second));
    EXPECT_EQ(Bytes(second.bits, second.bits + displayStride(298) * 223), firstBytes);
    EXPECT_EQ(session->thumbnail.width, 0);  // only the bitmap is set
    destroySession(session);
    session = saved;
}

}  // namespace
