#include "writers/pixel_source.h"

#include <cstring>

namespace {

// Sample c (0 red .. 3 alpha) of pixel x in one row of `image`.
uint32_t sampleOf(const Image& image, const uint8_t* row, size_t x, size_t c) {
    if (isSixteenBit(image)) return reinterpret_cast<const uint16_t*>(row)[x * (pixelBytes(image) / 2) + c];
    const size_t k = image.bgrOrder && c < 3 ? 2 - c : c;
    return row[x * pixelBytes(image) + k];
}

}  // namespace

PixelSource::~PixelSource() { platformFreeLarge(copy_); }

bool PixelSource::prepare(const Image& image, uint32_t sampleBits, bool alpha) {
    const size_t step = pixelBytes(image);
    if (!image.pixels || step == 0 || image.width <= 0 || image.height <= 0 || (sampleBits != 8 && sampleBits != 16))
        return false;
    alpha = alpha && image.hasAlpha;
    const auto width = static_cast<uint32_t>(image.width), height = static_cast<uint32_t>(image.height);
    const int64_t advance = int64_t{width} * static_cast<int64_t>(step) + image.rowPad;
    // Every row must lie within the bytes the record says may be read.
    const int64_t first = image.bottomUp ? (int64_t{height} - 1) * advance : 0;
    const int64_t last = image.bottomUp ? 0 : (int64_t{height} - 1) * advance;
    if (advance <= 0 || last + int64_t{width} * static_cast<int64_t>(step) > int64_t{image.dataSize}) return false;

    const uint32_t channels = alpha ? 4 : 3;
    const uint32_t ownBits = isSixteenBit(image) ? 16 : 8;
    const uint32_t ownChannels = image.hasAlpha || step == 4 || step == 8 ? 4 : 3;
    // Every offset lies within dataSize, a 32-bit size: it fits a ptrdiff_t.
    const auto stride = static_cast<ptrdiff_t>(image.bottomUp ? -advance : advance);
    rows_ = PixelRows{image.pixels + static_cast<ptrdiff_t>(first), stride, width, height, channels, sampleBits,
                      image.bgrOrder != 0};
    // Padding bytes in a fourth place are no alpha: such pixels are copied.
    if (ownBits == sampleBits && ownChannels == channels && (channels == 3 || image.hasAlpha)) return true;

    const size_t rowBytes = size_t{width} * channels * (sampleBits / 8);
    copy_ = static_cast<uint8_t*>(platformAllocLarge(rowBytes * height));
    if (!copy_) return false;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = rows_.first + stride * static_cast<ptrdiff_t>(y);
        uint8_t* out = copy_ + rowBytes * y;
        for (size_t x = 0; x < width; ++x)
            for (size_t c = 0; c < channels; ++c) {
                const uint32_t v = sampleOf(image, in, x, c);
                if (sampleBits == 16)
                    reinterpret_cast<uint16_t*>(out)[x * channels + c] = static_cast<uint16_t>(ownBits == 16 ? v : widenSample(v));
                else
                    out[x * channels + c] = static_cast<uint8_t>(ownBits == 8 ? v : reduceSample(v));
            }
    }
    rows_ = PixelRows{copy_, static_cast<ptrdiff_t>(rowBytes), width, height, channels, sampleBits, false};
    return true;
}
