// Shared by the reader tests: fixtures written to temporary files (the
// readers take only paths), the reference picture of tests/data, and checks
// of what a loaded Image holds.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "image/image.h"
#include "readers/readers.h"
#include "tests/unit/test_files.h"

namespace readertest {

using testing_files::Bytes;
using Rgb = std::array<uint8_t, 3>;

// The reference picture of scripts/testdata/reference.py: 7 x 5 pixels.
inline constexpr int referenceWidth = 7;
inline constexpr int referenceHeight = 5;

inline Rgb referenceRgb(int x, int y) {
    return {static_cast<uint8_t>(x == 6 && y == 4 ? 255 : (x * 40 + y * 7) % 256),
            static_cast<uint8_t>(((255 - y * 60 - x * 3) % 256 + 256) % 256),
            static_cast<uint8_t>(x == 0 && y == 0 ? 0 : (x * 17 + y * 45 + 3) % 256)};
}

inline uint8_t referenceGrey(int x, int y) {
    return static_cast<uint8_t>(x == 6 && y == 4 ? 255 : (x * 37 + y * 53) % 256);
}

// Names parameterised cases after their `name` field.
template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

inline std::string dataPath(const std::string& relative) { return std::string(QUORVEL_TEST_DATA) + "/" + relative; }

// An Image loaded through readImageFile and reset when the test ends.
struct Loaded {
    Image image{};
    bool ok = false;

    explicit Loaded(const std::string& path) { ok = readImageFile(path.c_str(), &image); }
    // Writes `bytes` to a temporary file and loads it with the reader of
    // `extension`.
    Loaded(const Bytes& bytes, const char* extension) {
        const testing_files::TempDir dir;
        const std::string path = dir.file(std::string("picture.") + extension);
        testing_files::writeFile(path, bytes);
        ok = readImageFile(path.c_str(), &image);
    }
    ~Loaded() { resetImage(&image); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    Rgb pixel(int x, int y) const {
        const uint8_t* p = image.pixels + (static_cast<size_t>(y) * static_cast<size_t>(image.width) + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

// A loaded 24-bit Image of the given size in the plain layout, whose display
// bitmap shows exactly its pixels (bottom row first, blue-green-red, rows
// padded with zeros).
inline void expectLoaded24(const Loaded& loaded, int width, int height) {
    ASSERT_TRUE(loaded.ok);
    const Image& image = loaded.image;
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.bitsPerPixel, 24);
    ASSERT_EQ(image.rowBytes, 3 * width);
    ASSERT_EQ(image.dataSize, static_cast<uint32_t>(3 * width * height));
    EXPECT_EQ(image.rowPad, 0);
    EXPECT_EQ(image.bottomUp, 0);
    EXPECT_EQ(image.bgrOrder, 0);
    EXPECT_EQ(image.adjustLocked, 0);
    ASSERT_NE(image.pixels, nullptr);
    BitmapInfo info;
    ASSERT_TRUE(platformQueryBitmap(image.bitmap, info));
    ASSERT_EQ(info.width, width);
    ASSERT_EQ(info.height, height);
    const size_t stride = displayStride(static_cast<uint32_t>(width));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = info.bits + static_cast<size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const Rgb p = loaded.pixel(x, y);
            ASSERT_EQ((Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]}), p) << "bitmap at " << x << "," << y;
        }
        for (size_t k = 3 * static_cast<size_t>(width); k < stride; ++k) ASSERT_EQ(row[k], 0);
    }
}

// Every pixel of a loaded picture against `expected(x, y)`.
template <typename Expected>
void expectPixels(const Loaded& loaded, int width, int height, Expected expected) {
    expectLoaded24(loaded, width, height);
    if (::testing::Test::HasFatalFailure()) return;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(loaded.pixel(x, y), expected(x, y)) << "pixel " << x << "," << y;
}

}  // namespace readertest
