// TIFF output: red-green-blue, or red-green-blue-alpha with unassociated
// alpha, 8 or 16 bits a sample, Deflate with the horizontal predictor,
// encoded by the system's codec (platform/codecs.h). writeImage hands over
// the rows (writers/encoder_rows.h); 8-bit red-green-blue comes straight
// from the display bitmap.
#include <cerrno>

#include "platform/codecs.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

bool fillTiff(void* context, const ByteSink& out) {
    return platformEncodeTiff(*static_cast<const PixelRows*>(context), out);
}

}  // namespace

bool writeTiffRows(const char* path, const PixelRows& rows) {
    errno = 0;
    if (!path || !*path || !rows.first) return false;
    PixelRows copy = rows;
    return writeFileAtomically(path, fillTiff, &copy);
}

bool writeTiff(const char* path, BitmapHandle bitmap) {
    errno = 0;
    BitmapInfo info;
    if (!path || !*path || !platformQueryBitmap(bitmap, info) || !info.bits || info.bitsPerPixel != 24 ||
        info.width <= 0 || info.height == 0)
        return false;
    const auto width = static_cast<uint32_t>(info.width);
    const uint32_t height = info.height > 0 ? static_cast<uint32_t>(info.height) : 0u - static_cast<uint32_t>(info.height);
    const auto stride = static_cast<ptrdiff_t>(displayStride(width));
    // A positive height keeps the bottom row first in memory.
    PixelRows rows{info.height > 0 ? info.bits + (height - 1) * stride : info.bits,
                   info.height > 0 ? -stride : stride,
                   width,
                   height,
                   3,
                   8,
                   true};
    return writeFileAtomically(path, fillTiff, &rows);
}
