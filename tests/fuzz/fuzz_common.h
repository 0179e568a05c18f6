// Shared by the fuzz targets: hand the input to the dispatcher under a name
// with the reader's extension, and check what a successful load promises,
// not just that nothing crashed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "image/image.h"
#include "readers/readers.h"

namespace fuzzing {

[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Sample c of pixel i: a byte, or a 16-bit word reduced as the display does.
inline uint8_t shownSample(const Image& image, size_t i, size_t c) {
    const size_t bytes = static_cast<size_t>(image.bitsPerPixel / 8);
    if (!isSixteenBit(image)) return image.pixels[i * bytes + c];
    uint16_t word;
    std::memcpy(&word, image.pixels + i * bytes + 2 * c, 2);
    return reduceSample(word);
}

// A loaded Image must have the size it declares, a consistent buffer, and a
// display bitmap that shows exactly its pixels.
inline void checkLoadedImage(const Image& image) {
    if (!image.pixels || !image.bitmap) broken("pixels and bitmap present");
    if (isSixteenBit(image) ? image.bitsPerPixel != (image.hasAlpha ? 64 : 48)
                            : image.bitsPerPixel != 24 && image.bitsPerPixel != 32)
        broken("24 or 32 bits a pixel, or 48 or 64 with 16-bit samples");
    if (image.hasAlpha && image.bitsPerPixel != 32 && image.bitsPerPixel != 64) broken("alpha in a 4-sample pixel");
    if (!imageSizeAllowed(image.width, image.height)) broken("size within limits");
    const size_t bytes = static_cast<size_t>(image.bitsPerPixel / 8);
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
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* d = info.bits + (h - 1 - y) * stride;
        for (size_t x = 0; x < w; ++x, d += 3)
            if (d[0] != shownSample(image, y * w + x, 2) || d[1] != shownSample(image, y * w + x, 1) ||
                d[2] != shownSample(image, y * w + x, 0))
                broken("bitmap shows the pixels");
        for (size_t k = 0; k < stride - 3 * w; ++k)
            if (d[k] != 0) broken("bitmap padding zero");
    }
}

// A failed load must say why: a reader that takes the extension refused the
// bytes, as damaged or for their kind (which it names).
inline void checkFailure(const LoadFailure& failure) {
    if (!failure.formatName) broken("a failure names the format");
    if (failure.problem == LoadProblem::refusedKind ? failure.text[0] == '\0'
                                                    : failure.problem != LoadProblem::damaged)
        broken("a failure is damage or a named kind");
}

inline int fuzzReader(const char* extension, const uint8_t* data, size_t size) {
    const std::string name = std::string("input.") + extension;
    Image image{};
    LoadFailure failure;
    if (decodeImage(std::span<const uint8_t>(data, size), name.c_str(), &image, failure))
        checkLoadedImage(image);
    else
        checkFailure(failure);
    resetImage(&image);
    return 0;
}

}  // namespace fuzzing
