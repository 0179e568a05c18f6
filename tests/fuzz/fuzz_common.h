// Shared by the fuzz targets: write the input to a file with the reader's
// extension, load it through the dispatch, and check what a successful load
// promises, not just that nothing crashed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image.h"
#include "readers/readers.h"

namespace fuzzing {

inline std::string inputPath(const char* extension) {
    static const std::string path = [&] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/quorvel-fuzz-" + std::to_string(::getpid()) + "." +
               extension;
    }();
    return path;
}

[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// A loaded Image must have the size it declares, a consistent buffer, and a
// display bitmap that shows exactly its pixels.
inline void checkLoadedImage(const Image& image) {
    if (!image.pixels || !image.bitmap) broken("pixels and bitmap present");
    // 8-bit pictures of 24 or 32 bits, 16-bit ones of 48 or 64; alpha takes
    // the fourth sample.
    const size_t bytes = pixelBytes(image);
    if (bytes == 0) broken("a known layout");
    if (image.hasAlpha && bytes != (isSixteenBit(image) ? 8u : 4u)) broken("alpha as the fourth sample");
    if (!imageSizeAllowed(image.width, image.height)) broken("size within limits");
    if (image.rowBytes != static_cast<int32_t>(bytes * static_cast<size_t>(image.width))) broken("rowBytes");
    if (image.dataSize != static_cast<uint64_t>(image.rowBytes) * static_cast<uint64_t>(image.height))
        broken("dataSize");
    if (image.rowPad || image.bgrOrder || image.bottomUp || image.adjustLocked || image.reserved)
        broken("plain layout");
    BitmapInfo info;
    if (!platformQueryBitmap(image.bitmap, info) || !info.bits) broken("bitmap queryable");
    if (info.width != image.width || info.height != image.height || info.bitsPerPixel != 24)
        broken("bitmap size");
    const size_t w = static_cast<size_t>(image.width), h = static_cast<size_t>(image.height);
    const size_t stride = displayStride(static_cast<uint32_t>(w));
    // Sample c of the pixel at p, as the bitmap shows it.
    auto shown = [&](const uint8_t* p, size_t c) -> uint8_t {
        if (!isSixteenBit(image)) return p[c];
        uint16_t v;
        std::memcpy(&v, p + 2 * c, 2);
        return reduceSample(v);
    };
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* p = image.pixels + y * w * bytes;
        const uint8_t* d = info.bits + (h - 1 - y) * stride;
        for (size_t x = 0; x < w; ++x, p += bytes, d += 3)
            if (d[0] != shown(p, 2) || d[1] != shown(p, 1) || d[2] != shown(p, 0)) broken("bitmap shows the pixels");
        for (size_t k = 0; k < stride - 3 * w; ++k)
            if (d[k] != 0) broken("bitmap padding zero");
    }
}

inline int fuzzReader(const char* extension, const uint8_t* data, size_t size) {
    const std::string& path = inputPath(extension);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
    Image image{};
    if (readImageFile(path.c_str(), &image)) checkLoadedImage(image);
    resetImage(&image);
    return 0;
}

}  // namespace fuzzing
