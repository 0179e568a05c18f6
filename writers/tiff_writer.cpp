// TIFF output: red-green-blue, or red-green-blue-alpha with unassociated
// alpha, 8 or 16 bits a sample, Deflate with the horizontal predictor,
// encoded by the system's codec (platform/codecs.h). The rows are taken from
// the Image in whatever layout it holds; only a change of depth, or alpha
// left out of a 16-bit picture, needs a converted copy of the picture.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/codecs.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

bool fillTiff(void* context, const ByteSink& out) {
    return platformEncodeTiff(*static_cast<const PixelRows*>(context), out);
}

// The display bitmap as rows: 8-bit red-green-blue of every picture.
bool bitmapRows(BitmapHandle bitmap, PixelRows& rows) {
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info) || !info.bits || info.bitsPerPixel != 24 || info.width <= 0 ||
        info.height == 0)
        return false;
    const auto width = static_cast<uint32_t>(info.width);
    const uint32_t height = info.height > 0 ? static_cast<uint32_t>(info.height) : 0u - static_cast<uint32_t>(info.height);
    const auto stride = static_cast<ptrdiff_t>(displayStride(width));
    rows.width = width;
    rows.height = height;
    rows.channels = 3;
    rows.sampleBits = 8;
    rows.bgr = true;
    // A positive height keeps the bottom row first in memory.
    rows.first = info.height > 0 ? info.bits + (height - 1) * stride : info.bits;
    rows.stride = info.height > 0 ? -stride : stride;
    return true;
}

// The Image's own pixels as rows, when its fields describe a whole picture
// lying in its buffer. An 8-bit picture of 32 bits without alpha comes as
// four channels, the fourth its padding byte.
bool imageRows(const Image& image, PixelRows& rows) {
    const size_t step = pixelBytes(image);
    if (!image.pixels || step == 0 || image.width <= 0 || image.height <= 0) return false;
    const auto width = static_cast<uint32_t>(image.width);
    const auto height = static_cast<uint32_t>(image.height);
    const int64_t rowBytes = int64_t{width} * static_cast<int64_t>(step);
    const int64_t stride = rowBytes + image.rowPad;
    // The last byte of every row must lie in the buffer, in either row order.
    if (image.rowBytes != rowBytes || stride < rowBytes || (height - 1) * stride + rowBytes > int64_t{image.dataSize})
        return false;
    rows.width = width;
    rows.height = height;
    rows.sampleBits = isSixteenBit(image) ? 16 : 8;
    rows.channels = static_cast<uint32_t>(step / (rows.sampleBits / 8));
    rows.bgr = rows.sampleBits == 8 && image.bgrOrder;
    rows.first = image.bottomUp ? image.pixels + (height - 1) * stride : image.pixels;
    rows.stride = static_cast<ptrdiff_t>(image.bottomUp ? -stride : stride);
    return true;
}

// A top-down red-green-blue(-alpha) copy of `source` with `channels`
// samples of `sampleBits` each: alpha dropped or kept, samples reduced or
// widened by the rules of image.h. The copy is malloc'ed into `owned`.
bool convertedRows(const PixelRows& source, uint32_t channels, uint32_t sampleBits, PixelRows& rows, void*& owned) {
    const size_t count = size_t{source.width} * source.height * channels;
    owned = std::malloc(count * (sampleBits / 8));
    if (!owned) return false;
    auto* bytes = static_cast<uint8_t*>(owned);
    auto* words = static_cast<uint16_t*>(owned);
    size_t at = 0;
    for (uint32_t y = 0; y < source.height; ++y) {
        const uint8_t* in = source.first + static_cast<ptrdiff_t>(y) * source.stride;
        for (uint32_t x = 0; x < source.width; ++x) {
            for (uint32_t c = 0; c < channels; ++c, ++at) {
                const uint32_t k = source.bgr && c < 3 ? 2 - c : c;
                if (source.sampleBits == 16) {
                    uint16_t v;
                    std::memcpy(&v, in + 2 * (size_t{x} * source.channels + k), 2);
                    if (sampleBits == 16)
                        words[at] = v;
                    else
                        bytes[at] = reduceSample(v);
                } else {
                    const uint8_t v = in[size_t{x} * source.channels + k];
                    if (sampleBits == 16)
                        words[at] = widenSample(v);
                    else
                        bytes[at] = v;
                }
            }
        }
    }
    rows = PixelRows{static_cast<const uint8_t*>(owned),
                     static_cast<ptrdiff_t>(size_t{source.width} * channels * (sampleBits / 8)),
                     source.width,
                     source.height,
                     channels,
                     sampleBits,
                     false};
    return true;
}

}  // namespace

bool writeTiff(const char* path, const Image& image, const SaveOptions& options, SaveReport* report) {
    errno = 0;
    if (!path || !*path) return false;
    const bool alpha = image.hasAlpha && options.keepAlpha;
    const int32_t depth = options.depth ? options.depth : (isSixteenBit(image) ? 16 : 8);
    if (depth != 8 && depth != 16) return false;
    SaveReport notes;
    notes.alphaDropped = image.hasAlpha && !alpha;
    notes.reduced = isSixteenBit(image) && depth == 8;

    PixelRows rows;
    void* owned = nullptr;
    bool ok = false;
    if (depth == 8 && !alpha) {
        // The display bitmap holds every picture reduced to 8-bit
        // red-green-blue by the same rules.
        ok = bitmapRows(image.bitmap, rows);
    } else {
        PixelRows own;
        ok = imageRows(image, own);
        if (ok && own.sampleBits == static_cast<uint32_t>(depth) && own.channels == (alpha ? 4u : 3u))
            rows = own;
        else
            ok = ok && convertedRows(own, alpha ? 4 : 3, static_cast<uint32_t>(depth), rows, owned);
    }
    if (!ok) {
        std::free(owned);
        return false;
    }
    ok = writeFileAtomically(path, fillTiff, &rows);
    const int reason = errno;
    std::free(owned);
    errno = reason;
    if (ok && report) *report = notes;
    return ok;
}

bool writeTiff(const char* path, BitmapHandle bitmap) {
    errno = 0;
    PixelRows rows;
    if (!path || !*path || !bitmapRows(bitmap, rows)) return false;
    return writeFileAtomically(path, fillTiff, &rows);
}
