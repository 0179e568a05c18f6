#include <gtest/gtest.h>

#include <cstring>

#include "readers/readers.h"
#include "tests/unit/test_files.h"

namespace {

using testing_files::Bytes;

TEST(ExtractFileName, TakesTheLastComponentAfterEitherSeparator) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"C:\\images\\normal.BMP", "normal.BMP"}, {"C:/images/normal.pgm", "normal.pgm"},
        {"a/b\\c", "c"},                          {"normal.tga", "normal.tga"},
        {"dir\\\\name.psd\\\\", "name.psd"},      {"/x", "x"},
    };
    for (const Case& c : cases) {
        char name[nameBufferSize] = {};
        ASSERT_TRUE(extractFileName(name, c.path)) << c.path;
        EXPECT_STREQ(name, c.name);
    }
}

TEST(ExtractFileName, EdgeCases) {
    char name[nameBufferSize] = "unchanged";
    EXPECT_TRUE(extractFileName(name, "\\\\//"));  // separators only
    EXPECT_STREQ(name, "unchanged");
    EXPECT_FALSE(extractFileName(name, ""));
    EXPECT_FALSE(extractFileName(name, nullptr));
    EXPECT_FALSE(extractFileName(nullptr, "a.bmp"));
    const std::string tooLong = "dir/" + std::string(300, 'n') + ".bmp";
    EXPECT_FALSE(extractFileName(name, tooLong.c_str()));
}

// Decodes a valid BMP under `name` and reports whether the dispatcher took it.
bool loadsAsBmp(const std::string& name) {
    Image image{};
    LoadFailure failure;
    const bool ok = decodeImage(testing_files::bmp24({{0x123456}}, 1, 1), name.c_str(), &image, failure);
    resetImage(&image);
    return ok;
}

TEST(DecodeImage, ChoosesTheReaderByTheExtensionAfterTheLastDot) {
    struct Case {
        const char* name;
        bool loads;
    };
    const Case cases[] = {
        {"normal.bmp", true},       {"normal.BMP", true},       {"normal.Bmp", true},
        {".bmp", true},             {"normal.tga.bmp", true},   {"my.maps/normal", false},
        {"normal.", false},         {"normal.jpg", false},      {"normal.bmp ", false},
        {"normal.bmpx", false},     {"normal", false},          {"normal.bmp.tga", false},
    };
    for (const Case& c : cases) EXPECT_EQ(loadsAsBmp(c.name), c.loads) << c.name;
}

TEST(LoadImageFile, MissingArgumentsFail) {
    Image image{};
    LoadFailure failure;
    EXPECT_FALSE(readImageFile(nullptr, &image, &failure));
    EXPECT_FALSE(readImageFile("a.bmp", nullptr, &failure));
    EXPECT_FALSE(decodeImage({}, nullptr, &image, failure));
}

}  // namespace
