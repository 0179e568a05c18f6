#include "writers/encoder_rows.h"

#include <cstring>

#include "image/rows.h"

namespace {

// Sample c (0 red .. 3 alpha) of pixel x in one row.
uint32_t sampleOf(const ImageRows& rows, const uint8_t* row, size_t x, size_t c) {
    const size_t k = c == 0 ? rows.red : c == 2 ? rows.blue : c;
    if (rows.sixteen) return reinterpret_cast<const uint16_t*>(row)[x * rows.channels() + k];
    return row[x * rows.step + k];
}

}  // namespace

EncoderRows::~EncoderRows() { platformFreeLarge(copy_); }

bool EncoderRows::prepare(const Image& image, uint32_t sampleBits, bool alpha) {
    ImageRows view;
    if (sampleBits != 8 && sampleBits != 16) return false;
    // Rows that overlap (a negative padding deeper than a row) are no
    // picture to write.
    if (!viewRows(image, view) || view.advance <= 0) return false;
    const uint32_t width = view.width, height = view.height;
    alpha = alpha && image.hasAlpha;
    const uint32_t channels = alpha ? 4 : 3;
    const uint32_t ownBits = view.sixteen ? 16 : 8;
    const uint32_t ownChannels = image.hasAlpha || view.channels() == 4 ? 4 : 3;
    rows_ = PixelRows{view.top, view.stride, width, height, channels, sampleBits, view.red == 2};
    // Padding bytes in a fourth place are no alpha: such pixels are copied.
    if (ownBits == sampleBits && ownChannels == channels && (channels == 3 || image.hasAlpha)) return true;

    const size_t rowBytes = size_t{width} * channels * (sampleBits / 8);
    copy_ = static_cast<uint8_t*>(platformAllocLarge(rowBytes * height));
    if (!copy_) return false;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = view.row(y);
        uint8_t* out = copy_ + rowBytes * y;
        for (size_t x = 0; x < width; ++x)
            for (size_t c = 0; c < channels; ++c) {
                const uint32_t v = sampleOf(view, in, x, c);
                if (sampleBits == 16)
                    reinterpret_cast<uint16_t*>(out)[x * channels + c] = static_cast<uint16_t>(ownBits == 16 ? v : widenSample(v));
                else
                    out[x * channels + c] = static_cast<uint8_t>(ownBits == 8 ? v : reduceSample(v));
            }
    }
    rows_ = PixelRows{copy_, static_cast<ptrdiff_t>(rowBytes), width, height, channels, sampleBits, false};
    return true;
}
