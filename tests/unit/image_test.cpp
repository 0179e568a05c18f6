#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/image.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An Image owning a copy of `bytes` laid out as `width` x `height` pixels of
// `bitsPerPixel` bits, top row first, red-green-blue.
Image makeImage(const Bytes& bytes, int32_t width, int32_t height, int32_t bitsPerPixel = 24) {
    Image image{};
    image.pixels = static_cast<uint8_t*>(std::malloc(bytes.size()));
    std::memcpy(image.pixels, bytes.data(), bytes.size());
    image.width = width;
    image.height = height;
    image.bitsPerPixel = bitsPerPixel;
    image.rowBytes = width * bitsPerPixel / 8;
    image.dataSize = static_cast<uint32_t>(bytes.size());
    return image;
}

Bytes bitmapBytes(const Image& image) {
    BitmapInfo info;
    EXPECT_TRUE(platformQueryBitmap(image.bitmap, info));
    EXPECT_EQ(info.bitsPerPixel, 24);
    const size_t size = displayStride(static_cast<uint32_t>(info.width)) * static_cast<size_t>(info.height);
    return Bytes(info.bits, info.bits + size);
}

// Top-left red, top-right green, bottom-left blue, bottom-right white.
const Bytes twoByTwo = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

TEST(DisplayBitmap, StandsUprightInBlueGreenRedWithPaddedRows) {
    Image image = makeImage(twoByTwo, 2, 2);
    ASSERT_TRUE(buildDisplayBitmap(&image));
    // Memory row 0 is the bottom row: blue then white; row 1: red then green.
    const Bytes expected = {255, 0, 0, 255, 255, 255, 0, 0,  //
                            0, 0, 255, 0, 255, 0, 0, 0};
    EXPECT_EQ(bitmapBytes(image), expected);
    resetImage(&image);
}

TEST(DisplayBitmap, BottomUpPixelsGiveThePictureUpsideDown) {
    Image image = makeImage(twoByTwo, 2, 2);
    image.bottomUp = 1;
    ASSERT_TRUE(buildDisplayBitmap(&image));
    const Bytes expected = {0, 0, 255, 0, 255, 0, 0, 0,  //
                            255, 0, 0, 255, 255, 255, 0, 0};
    EXPECT_EQ(bitmapBytes(image), expected);
    resetImage(&image);
}

TEST(DisplayBitmap, BlueFirstPixelsAreCopiedInTheirOwnOrder) {
    Image image = makeImage({1, 2, 3}, 1, 1);
    image.bgrOrder = 1;
    ASSERT_TRUE(buildDisplayBitmap(&image));
    EXPECT_EQ(bitmapBytes(image), (Bytes{1, 2, 3, 0}));
    resetImage(&image);
}

TEST(DisplayBitmap, StrideRoundsUpToFourBytesAndPaddingStaysZero) {
    struct Case {
        int32_t width;
        size_t stride;
    };
    for (const Case c : {Case{1, 4}, Case{2, 8}, Case{3, 12}, Case{4, 12}, Case{5, 16}}) {
        Bytes pixels(static_cast<size_t>(c.width) * 3 * 2, 0xAB);
        Image image = makeImage(pixels, c.width, 2);
        ASSERT_TRUE(buildDisplayBitmap(&image));
        EXPECT_EQ(displayStride(static_cast<uint32_t>(c.width)), c.stride);
        const Bytes bits = bitmapBytes(image);
        ASSERT_EQ(bits.size(), c.stride * 2) << c.width;
        for (size_t row = 0; row < 2; ++row)
            for (size_t i = 0; i < c.stride; ++i)
                EXPECT_EQ(bits[row * c.stride + i], i < size_t(c.width) * 3 ? 0xAB : 0) << c.width << " " << i;
        resetImage(&image);
    }
}

TEST(DisplayBitmap, ThirtyTwoBitPixelsShowTheirFirstThreeBytes) {
    Image wide = makeImage({255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}, 2, 2, 32);
    Image narrow = makeImage(twoByTwo, 2, 2);
    ASSERT_TRUE(buildDisplayBitmap(&wide));
    ASSERT_TRUE(buildDisplayBitmap(&narrow));
    EXPECT_EQ(bitmapBytes(wide), bitmapBytes(narrow));
    resetImage(&wide);
    resetImage(&narrow);
}

TEST(DisplayBitmap, UnsupportedDepthFailsAndKeepsThePreviousBitmap) {
    Image image = makeImage(twoByTwo, 2, 2);
    ASSERT_TRUE(buildDisplayBitmap(&image));
    BitmapHandle before = image.bitmap;
    image.bitsPerPixel = 16;
    EXPECT_FALSE(buildDisplayBitmap(&image));
    EXPECT_EQ(image.bitmap, before);
    resetImage(&image);
}

TEST(DisplayBitmap, ShortBufferStopsBeforeDataSizeAndLeavesTheRowsFilledSoFar) {
    // Two rows declared, but dataSize ends inside the first pixel of row 2.
    Image image = makeImage(twoByTwo, 2, 2);
    image.dataSize = 8;
    EXPECT_FALSE(buildDisplayBitmap(&image));
    ASSERT_NE(image.bitmap, nullptr);
    // Pixel row 0 went to memory row 0; nothing else was written.
    const Bytes expected = {0, 0, 255, 0, 255, 0, 0, 0,  //
                            0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bitmapBytes(image), expected);
    resetImage(&image);
}

TEST(DisplayBitmap, RowPaddingInPixelsIsSkipped) {
    Image image = makeImage({1, 2, 3, 9, 4, 5, 6, 9}, 1, 2);
    image.rowPad = 1;
    ASSERT_TRUE(buildDisplayBitmap(&image));
    EXPECT_EQ(bitmapBytes(image), (Bytes{6, 5, 4, 0, 3, 2, 1, 0}));
    resetImage(&image);
}

TEST(PixelsFromBitmap, GivesBackTheRedGreenBluePixelsTopRowFirst) {
    Image source = makeImage(twoByTwo, 2, 2);
    ASSERT_TRUE(buildDisplayBitmap(&source));
    Image copy{};
    copy.bitmap = source.bitmap;
    source.bitmap = nullptr;
    ASSERT_TRUE(pixelsFromBitmap(&copy));
    EXPECT_EQ(Bytes(copy.pixels, copy.pixels + copy.dataSize), twoByTwo);
    EXPECT_EQ(copy.width, 2);
    EXPECT_EQ(copy.height, 2);
    EXPECT_EQ(copy.rowBytes, 6);
    EXPECT_EQ(copy.bitsPerPixel, 24);
    resetImage(&copy);
    resetImage(&source);
}

TEST(PixelsFromBitmap, RefusesAnImageThatAlreadyHasPixels) {
    Image image = makeImage(twoByTwo, 2, 2);
    ASSERT_TRUE(buildDisplayBitmap(&image));
    uint8_t* before = image.pixels;
    EXPECT_FALSE(pixelsFromBitmap(&image));
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.pixels[0], 255);
    resetImage(&image);
}

TEST(ImageRecord, ResetIsSafeToRepeatAndMoveLeavesTheSourceEmpty) {
    Image image = makeImage(twoByTwo, 2, 2);
    ASSERT_TRUE(buildDisplayBitmap(&image));
    Image target{};
    moveImage(&image, &target);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.bitmap, nullptr);
    EXPECT_EQ(image.width, 0);
    EXPECT_NE(target.pixels, nullptr);
    EXPECT_EQ(target.width, 2);
    resetImage(&target);
    resetImage(&target);
    EXPECT_EQ(target.bitmap, nullptr);
    EXPECT_EQ(target.dataSize, 0u);
}

TEST(FlipRows, ReversesRowOrder) {
    struct Case {
        Bytes in;
        size_t stride, rows;
        Bytes out;
    };
    const Case cases[] = {
        {{1, 2, 3}, 3, 1, {1, 2, 3}},
        {{1, 2, 3, 4}, 2, 2, {3, 4, 1, 2}},
        {{1, 2, 3, 4, 5, 6}, 2, 3, {5, 6, 3, 4, 1, 2}},
        {{1, 2, 3, 4, 5, 6, 7, 8}, 1, 8, {8, 7, 6, 5, 4, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        Bytes buffer = c.in;
        EXPECT_TRUE(flipRows(buffer.data(), c.stride, c.rows));
        EXPECT_EQ(buffer, c.out);
    }
    uint8_t one = 7;
    EXPECT_FALSE(flipRows(nullptr, 1, 1));
    EXPECT_FALSE(flipRows(&one, 0, 1));
    EXPECT_FALSE(flipRows(&one, 1, 0));
    EXPECT_EQ(one, 7);
}

TEST(ImageSizeAllowed, BoundsBothSidesAndThePixelCount) {
    EXPECT_TRUE(imageSizeAllowed(1, 1));
    EXPECT_TRUE(imageSizeAllowed(16384, 16384));
    EXPECT_TRUE(imageSizeAllowed(int64_t{1} << 28, 1));
    EXPECT_FALSE(imageSizeAllowed((int64_t{1} << 28) + 1, 1));
    EXPECT_FALSE(imageSizeAllowed(16385, 16384));
    EXPECT_FALSE(imageSizeAllowed(0, 5));
    EXPECT_FALSE(imageSizeAllowed(5, -1));
    EXPECT_FALSE(imageSizeAllowed(int64_t{1} << 40, int64_t{1} << 40));
}

}  // namespace
