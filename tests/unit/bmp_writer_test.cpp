#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "image/image.h"
#include "readers/readers.h"
#include "tests/unit/test_files.h"
#include "writers/bmp_writer.h"

namespace {

using testing_files::Bytes;
using testing_files::get16;
using testing_files::get32;

// A display bitmap whose pixel bytes count up from 1 (padding left zero).
BitmapHandle countingBitmap(int32_t w, int32_t h) {
    uint8_t next = 1;
    return testing_files::paintedBitmap(w, h, [&next](int32_t, int32_t, uint8_t* p) {
        for (int i = 0; i < 3; ++i) p[i] = next++;
    });
}

TEST(WriteBmp, HeadersDescribeTheBitmapExactly) {
    struct Case {
        int32_t w, h;
        uint32_t stride, fileSize;
    };
    testing_files::TempDir dir;
    for (const Case c : {Case{1, 1, 4, 58}, Case{3, 2, 12, 78}, Case{4, 1, 12, 66}, Case{7, 5, 24, 174}}) {
        BitmapHandle bitmap = countingBitmap(c.w, c.h);
        const std::string path = dir.file("out.bmp");
        ASSERT_TRUE(writeBmp(path.c_str(), bitmap));
        const Bytes file = testing_files::readFile(path);
        ASSERT_EQ(file.size(), c.fileSize);
        EXPECT_EQ(get16(file, 0), 0x4D42u);
        EXPECT_EQ(get32(file, 2), c.fileSize);
        EXPECT_EQ(get32(file, 6), 0u);  // both reserved fields
        EXPECT_EQ(get32(file, 10), 54u);
        EXPECT_EQ(get32(file, 14), 40u);
        EXPECT_EQ(get32(file, 18), uint32_t(c.w));
        EXPECT_EQ(get32(file, 22), uint32_t(c.h));
        EXPECT_EQ(get16(file, 26), 1u);
        EXPECT_EQ(get16(file, 28), 24u);
        EXPECT_EQ(get32(file, 30), 0u);
        EXPECT_EQ(get32(file, 34), c.stride * uint32_t(c.h));
        EXPECT_EQ(get32(file, 38), 300u);
        EXPECT_EQ(get32(file, 42), 300u);
        EXPECT_EQ(get32(file, 46), 0u);
        EXPECT_EQ(get32(file, 50), 0u);
        BitmapInfo info;
        platformQueryBitmap(bitmap, info);
        EXPECT_EQ(Bytes(file.begin() + 54, file.end()), Bytes(info.bits, info.bits + c.stride * uint32_t(c.h)));
        platformDeleteBitmap(bitmap);
    }
}

TEST(WriteBmp, OnePixelIsBlueGreenRedAndOneZero) {
    testing_files::TempDir dir;
    BitmapHandle bitmap = countingBitmap(1, 1);
    ASSERT_TRUE(writeBmp(dir.file("one.bmp").c_str(), bitmap));
    const Bytes file = testing_files::readFile(dir.file("one.bmp"));
    EXPECT_EQ(Bytes(file.begin() + 54, file.end()), (Bytes{1, 2, 3, 0}));
    platformDeleteBitmap(bitmap);
}

TEST(WriteBmp, WrittenFilesAreRepeatableAndReadBackToTheSamePixels) {
    testing_files::TempDir dir;
    Image image{};
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    image.pixels = static_cast<uint8_t*>(std::malloc(pixels.size()));
    std::memcpy(image.pixels, pixels.data(), pixels.size());
    image.width = 3;
    image.height = 2;
    image.bitsPerPixel = 24;
    image.rowBytes = 9;
    image.dataSize = 18;
    ASSERT_TRUE(buildDisplayBitmap(&image));
    ASSERT_TRUE(writeBmp(dir.file("a.bmp").c_str(), image.bitmap));
    ASSERT_TRUE(writeBmp(dir.file("b.bmp").c_str(), image.bitmap));
    EXPECT_EQ(testing_files::readFile(dir.file("a.bmp")), testing_files::readFile(dir.file("b.bmp")));
    Image back{};
    ASSERT_TRUE(readImageFile(dir.file("a.bmp").c_str(), &back));
    EXPECT_EQ(Bytes(back.pixels, back.pixels + back.dataSize), pixels);
    resetImage(&back);
    resetImage(&image);
}

TEST(WriteBmp, BadArgumentsFailWithoutCreatingAFile) {
    testing_files::TempDir dir;
    BitmapHandle bitmap = countingBitmap(2, 2);
    EXPECT_FALSE(writeBmp("", bitmap));
    EXPECT_FALSE(writeBmp(nullptr, bitmap));
    EXPECT_FALSE(writeBmp(dir.file("none.bmp").c_str(), nullptr));
    EXPECT_FALSE(writeBmp(dir.file("no/such/dir/x.bmp").c_str(), bitmap));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    platformDeleteBitmap(bitmap);
}

TEST(WriteBmp, FailedSaveLeavesTheEarlierFileAndNoTemporaryFile) {
    testing_files::TempDir dir;
    BitmapHandle bitmap = countingBitmap(2, 2);
    // A target that cannot be replaced: a directory of that name.
    std::filesystem::create_directory(dir.file("taken.bmp"));
    EXPECT_FALSE(writeBmp(dir.file("taken.bmp").c_str(), bitmap));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.bmp")));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
    // Overwriting an existing file replaces it whole.
    testing_files::writeFile(dir.file("old.bmp"), Bytes(500, 0xEE));
    ASSERT_TRUE(writeBmp(dir.file("old.bmp").c_str(), bitmap));
    EXPECT_EQ(testing_files::readFile(dir.file("old.bmp")).size(), 54u + 16u);
    platformDeleteBitmap(bitmap);
}

}  // namespace
