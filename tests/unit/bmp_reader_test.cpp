#include <gtest/gtest.h>

#include "readers/bmp_reader.h"
#include "readers/readers.h"
#include "tests/unit/test_files.h"

namespace {

using testing_files::Bytes;
using Rows = std::vector<std::vector<uint32_t>>;

// 3 x 2: an odd width, so every row carries 3 padding bytes.
const Rows picture = {{0xFF0000, 0x00FF00, 0x0000FF}, {0x102030, 0xFFFFFF, 0x000000}};
const Bytes picturePixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 16, 32, 48, 255, 255, 255, 0, 0, 0};

// Runs the own parser on `file`.
bool parse(const Bytes& file, Image& image) { return parseBmp(file, &image); }

Bytes pixelsOf(const Image& image) { return Bytes(image.pixels, image.pixels + image.dataSize); }

TEST(ParseBmp, BottomUpAndTopDownFilesGiveTheSameImage) {
    for (int32_t height : {2, -2}) {
        Image image{};
        ASSERT_TRUE(parse(testing_files::bmp24(picture, 3, height), image)) << height;
        EXPECT_EQ(image.width, 3);
        EXPECT_EQ(image.height, 2);
        EXPECT_EQ(image.bitsPerPixel, 24);
        EXPECT_EQ(image.rowBytes, 9);
        EXPECT_EQ(image.dataSize, 18u);
        EXPECT_EQ(image.bottomUp, 0);
        EXPECT_EQ(pixelsOf(image), picturePixels) << height;
        resetImage(&image);
    }
}

TEST(ParseBmp, AcceptsNegativeWidthsLongHeadersAndAMissingLastPadding) {
    struct Case {
        const char* name;
        Bytes file;
    };
    Bytes negativeWidth = testing_files::bmp24(picture, 3, 2);
    const Case cases[] = {
        {"width -3", testing_files::bmp24(picture, -3, 2)},
        {"124-byte header", testing_files::bmp24(picture, 3, 2, 124)},
        {"no padding after the last row", testing_files::bmp24(picture, 3, -2, 40, false)},
    };
    for (const Case& c : cases) {
        Image image{};
        ASSERT_TRUE(parse(c.file, image)) << c.name;
        EXPECT_EQ(pixelsOf(image), picturePixels) << c.name;
        resetImage(&image);
    }
}

TEST(ParseBmp, RefusesWhatItDoesNotRead) {
    const Bytes good = testing_files::bmp24(picture, 3, 2);
    auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        return file;
    };
    struct Case {
        const char* name;
        Bytes file;
    };
    Bytes oneShort = testing_files::bmp24(picture, 3, -2, 40, false);
    oneShort.pop_back();
    oneShort[2] = static_cast<uint8_t>(oneShort.size());
    Bytes longer = good;
    longer.push_back(0);
    const Case cases[] = {
        {"magic", with(0, {'B', 'N'})},
        {"file size one less", with(2, {static_cast<uint8_t>(good.size() - 1)})},
        {"file size one more", with(2, {static_cast<uint8_t>(good.size() + 1)})},
        {"a byte after the declared size", longer},
        {"planes", with(26, {2})},
        {"depth 32", with(28, {32})},
        {"compressed", with(30, {1})},
        {"width 0", with(18, {0, 0, 0, 0})},
        {"height 0", with(22, {0, 0, 0, 0})},
        {"data offset past the end", with(10, {0xF0, 0xFF, 0, 0})},
        {"last pixel one byte short", oneShort},
        {"enormous size in a small file", with(18, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0})},
        {"empty file", Bytes{}},
    };
    for (const Case& c : cases) {
        Image image{};
        EXPECT_FALSE(parse(c.file, image)) << c.name;
        EXPECT_EQ(image.pixels, nullptr) << c.name;
        EXPECT_EQ(image.bitmap, nullptr) << c.name;
    }
}

TEST(ParseBmp, EveryTruncationFails) {
    const Bytes good = testing_files::bmp24(picture, 3, 2);
    for (size_t length = 0; length < good.size(); ++length) {
        Bytes file(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        Image image{};
        EXPECT_FALSE(parse(file, image)) << length;
    }
}

TEST(ReadBmp, LoadsThroughThePlatformPathToTheSamePixels) {
    testing_files::TempDir dir;
    for (int32_t height : {2, -2}) {
        testing_files::writeFile(dir.file("p.bmp"), testing_files::bmp24(picture, 3, height));
        Image image{};
        ASSERT_TRUE(readImageFile(dir.file("p.bmp").c_str(), &image)) << height;
        EXPECT_EQ(pixelsOf(image), picturePixels) << height;
        resetImage(&image);
    }
}

TEST(ReadBmp, RefusesMissingFilesAndImagesThatAlreadyHavePixels) {
    testing_files::TempDir dir;
    Image image{};
    EXPECT_FALSE(readImageFile(dir.file("missing.bmp").c_str(), &image));
    testing_files::writeFile(dir.file("p.bmp"), testing_files::bmp24(picture, 3, 2));
    ASSERT_TRUE(readImageFile(dir.file("p.bmp").c_str(), &image));
    uint8_t* before = image.pixels;
    LoadFailure failure;
    EXPECT_FALSE(readBmp(testing_files::bmp24(picture, 3, 2), &image, failure));
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(pixelsOf(image), picturePixels);
    resetImage(&image);
}

TEST(Ensure24BitBitmap, KeepsAnUprightDisplayBitmap) {
    BitmapHandle bitmap = createBlankBitmap(2, 2);
    EXPECT_EQ(ensure24BitBitmap(bitmap), bitmap);
    platformDeleteBitmap(bitmap);
    EXPECT_EQ(ensure24BitBitmap(nullptr), nullptr);
}

}  // namespace
