// PNG output of a display bitmap: 8-bit red-green-blue (colour type 2), no
// ancillary chunks, through the portable encoder (writers/png_encoder.h).
#include <cerrno>

#include "image/image.h"
#include "writers/atomic_file.h"
#include "writers/png_encoder.h"
#include "writers/writers.h"

namespace {

bool fillPng(void* context, const ByteSink& out) { return encodePng(*static_cast<const PixelRows*>(context), out); }

}  // namespace

bool writePng(const char* path, BitmapHandle bitmap) {
    errno = 0;
    BitmapInfo info{};
    if (!path || !*path || !platformQueryBitmap(bitmap, info) || !info.bits || info.bitsPerPixel != 24 ||
        info.width <= 0 || info.height == 0)
        return false;
    const auto width = static_cast<uint32_t>(info.width);
    const bool bottomUp = info.height > 0;
    const uint32_t height = bottomUp ? static_cast<uint32_t>(info.height) : 0u - static_cast<uint32_t>(info.height);
    const auto stride = static_cast<ptrdiff_t>(displayStride(width));
    // A bottom-up bitmap's top row is its last row in memory.
    PixelRows rows;
    rows.first = bottomUp ? info.bits + (static_cast<ptrdiff_t>(height) - 1) * stride : info.bits;
    rows.stride = bottomUp ? -stride : stride;
    rows.width = width;
    rows.height = height;
    rows.channels = 3;
    rows.sampleBits = 8;
    rows.bgr = true;
    return writeFileAtomically(path, fillPng, &rows);
}

bool writePngRows(const char* path, const PixelRows& rows) {
    errno = 0;
    if (!path || !*path) return false;
    return writeFileAtomically(path, fillPng, const_cast<PixelRows*>(&rows));
}
