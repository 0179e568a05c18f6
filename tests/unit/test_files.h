// Temporary files for tests, and a small builder of BMP files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "image/image.h"

namespace testing_files {

using Bytes = std::vector<uint8_t>;

// A display bitmap of w x h whose pixels `paint(x, y, pixel)` fills, y
// counting memory rows (bottom row first); the row padding stays zero.
template <typename Paint>
BitmapHandle paintedBitmap(int32_t w, int32_t h, Paint paint) {
    BitmapHandle bitmap = createBlankBitmap(w, h);
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info)) return bitmap;
    const size_t stride = displayStride(static_cast<uint32_t>(w));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            paint(x, y, info.bits + static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x));
    return bitmap;
}

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        const auto base = std::filesystem::temp_directory_path();
        for (unsigned n = 0;; ++n) {
            path_ = base / ("quorvel-test-" + std::to_string(reinterpret_cast<uintptr_t>(this) & 0xFFFFFF) + "-" +
                            std::to_string(n));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline uint32_t get32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}
inline uint32_t get16(const Bytes& b, size_t at) { return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8); }

// An uncompressed 24-bit BMP of `rows` (top row first, red-green-blue
// triples). `height` is stored as given: positive for bottom-up files,
// negative for top-down ones; its magnitude must equal rows.size().
inline Bytes bmp24(const std::vector<std::vector<uint32_t>>& rows, int32_t width, int32_t height,
                   uint32_t infoSize = 40, bool lastRowPadded = true) {
    const size_t w = static_cast<size_t>(width < 0 ? -width : width);
    const size_t stride = (3 * w + 3) & ~size_t{3};
    Bytes pixels;
    const size_t count = rows.size();
    for (size_t i = 0; i < count; ++i) {
        const auto& row = rows[height > 0 ? count - 1 - i : i];
        for (uint32_t rgb : row) {
            pixels.push_back(static_cast<uint8_t>(rgb));        // blue
            pixels.push_back(static_cast<uint8_t>(rgb >> 8));   // green
            pixels.push_back(static_cast<uint8_t>(rgb >> 16));  // red
        }
        if (i + 1 < count || lastRowPadded) pixels.resize(pixels.size() + stride - 3 * w, 0);
    }
    Bytes file;
    const uint32_t offset = 14 + infoSize;
    put16(file, 0x4D42);                                          // "BM"
    put32(file, offset + static_cast<uint32_t>(pixels.size()));  // file size
    put16(file, 0);                                               // reserved
    put16(file, 0);                                               // reserved
    put32(file, offset);                                          // pixel data offset
    put32(file, infoSize);                                        // information header size
    put32(file, static_cast<uint32_t>(width));
    put32(file, static_cast<uint32_t>(height));
    put16(file, 1);   // planes
    put16(file, 24);  // bits per pixel
    put32(file, 0);   // no compression
    put32(file, static_cast<uint32_t>(pixels.size()));
    put32(file, 2835);  // 72 dpi as pixels per metre, both ways
    put32(file, 2835);
    put32(file, 0);  // colours used
    put32(file, 0);  // colours important
    file.resize(offset, 0);  // the rest of a longer information header
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

}  // namespace testing_files
