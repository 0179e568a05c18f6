// Shared by the reader tests: fixtures written to temporary files and loaded
// through the dispatch, and checks of what a loaded Image holds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image.h"
#include "readers/readers.h"
#include "tests/unit/test_files.h"

namespace readertest {

using testing_files::Bytes;
using Rgb = std::array<uint8_t, 3>;

// Builds a fixture byte by byte; multi-byte values little-endian.
struct ByteWriter {
    Bytes bytes;
    ByteWriter& u8(uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    ByteWriter& u16(uint32_t v) { return u8(v & 0xFF).u8(v >> 8); }
    ByteWriter& fill(size_t count, uint8_t v) {
        bytes.insert(bytes.end(), count, v);
        return *this;
    }
    ByteWriter& text(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    ByteWriter& append(const Bytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

inline Bytes textBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes fileBytes(const std::filesystem::path& path) { return testing_files::readFile(path.string()); }

inline std::filesystem::path dataDirectory(const char* format) {
    return std::filesystem::path(QUORVEL_TEST_DATA) / format;
}

// The data files of one format, sorted by name.
inline std::vector<std::filesystem::path> dataFiles(const char* format) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dataDirectory(format)))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// An Image loaded through the readers' seam, released on destruction, and
// the reason when the load failed.
struct Loaded {
    Image image{};
    bool ok = false;
    LoadFailure failure;
    Loaded() = default;
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded() { resetImage(&image); }

    // The pixel as the display shows it (16-bit samples reduced).
    Rgb pixel(int x, int y) const {
        const size_t step = pixelBytes(image);
        const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * step;
        if (isSixteenBit(image)) {
            const auto* w = reinterpret_cast<const uint16_t*>(image.pixels + at);
            return {reduceSample(w[0]), reduceSample(w[1]), reduceSample(w[2])};
        }
        const uint8_t* p = image.pixels + at;
        return {p[0], p[1], p[2]};
    }
    uint8_t fourth(int x, int y) const {
        return image.pixels[(static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 4 + 3];
    }
};

// Decodes `bytes` as a file with the given extension into `loaded`.
inline void loadBytes(const Bytes& bytes, const std::string& extension, Loaded& loaded) {
    loaded.ok = decodeImage(bytes, ("picture." + extension).c_str(), &loaded.image, loaded.failure);
}

inline void loadPath(const std::filesystem::path& path, Loaded& loaded) {
    loaded.ok = readImageFile(path.string().c_str(), &loaded.image, &loaded.failure);
}

// The fields every successful load of a width x height picture promises.
inline void expectFilled(const Image& image, int width, int height, int bitsPerPixel) {
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(image.bitsPerPixel, bitsPerPixel);
    EXPECT_EQ(image.rowBytes, width * bitsPerPixel / 8);
    EXPECT_EQ(image.dataSize, static_cast<uint32_t>(width * height * bitsPerPixel / 8));
    EXPECT_EQ(image.rowPad, 0);
    EXPECT_EQ(image.bottomUp, 0);
    EXPECT_EQ(image.bgrOrder, 0);
    EXPECT_EQ(image.adjustLocked, 0);
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_NE(image.bitmap, nullptr);
}

// The display bitmap must show the pixels: bottom row first, blue-green-red.
inline void expectBitmapShowsPixels(const Loaded& loaded) {
    BitmapInfo info;
    ASSERT_TRUE(platformQueryBitmap(loaded.image.bitmap, info));
    ASSERT_NE(info.bits, nullptr);
    const int w = loaded.image.width, h = loaded.image.height;
    const size_t stride = displayStride(static_cast<uint32_t>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* d = info.bits + static_cast<size_t>(h - 1 - y) * stride + static_cast<size_t>(x) * 3;
            const Rgb p = loaded.pixel(x, y);
            ASSERT_EQ((Rgb{d[2], d[1], d[0]}), p) << "bitmap at " << x << "," << y;
        }
}

// A loaded 24-bit picture of width x height whose pixels are expected(x, y),
// and whose display bitmap shows them.
// (32 bits when it keeps alpha)
template <typename Expected>
void expectPicture(const Loaded& loaded, int width, int height, Expected expected, int bitsPerPixel = 24) {
    ASSERT_TRUE(loaded.ok);
    expectFilled(loaded.image, width, height, bitsPerPixel);
    ASSERT_EQ(loaded.image.width, width);
    ASSERT_EQ(loaded.image.height, height);
    ASSERT_EQ(loaded.image.bitsPerPixel, bitsPerPixel);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(loaded.pixel(x, y), expected(x, y)) << "at " << x << "," << y;
    expectBitmapShowsPixels(loaded);
}

// Names parameterised cases after their `name` field.
template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// A file that must not load, named for the test's output.
struct MalformedCase {
    const char* name;
    Bytes file;
    friend void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }
};

// A failed load leaves the Image reset.
inline void expectFailed(const Loaded& loaded) {
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.image.pixels, nullptr);
    EXPECT_EQ(loaded.image.bitmap, nullptr);
    EXPECT_EQ(loaded.image.width, 0);
    EXPECT_EQ(loaded.image.dataSize, 0u);
}

// Every shortening of `bytes` to `from` .. size-1 bytes fails to load.
inline void expectEveryTruncationFails(const Bytes& bytes, const std::string& extension, size_t from = 0) {
    for (size_t length = from; length < bytes.size(); ++length) {
        Loaded loaded;
        loadBytes(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)), extension, loaded);
        ASSERT_FALSE(loaded.ok) << "truncated to " << length << " of " << bytes.size() << " bytes";
        EXPECT_EQ(loaded.image.pixels, nullptr);
    }
}

}  // namespace readertest
