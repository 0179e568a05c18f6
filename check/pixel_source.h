// Reading any layout the Image record holds one row at a time, as 8-bit or
// 16-bit red, green, blue and alpha samples: the check's measurement and its
// repairs share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

namespace check {

struct PixelSource {
    const uint8_t* pixels = nullptr;
    int64_t rowAdvance = 0;  // bytes from one memory row to the next
    size_t step = 0;         // bytes a pixel
    size_t red = 0, green = 1, blue = 2, alpha = 3;  // sample index within a pixel
    bool sixteen = false;
    bool hasAlpha = false;
    bool bottomUp = false;
    int32_t width = 0;
    int32_t height = 0;

    // Memory row of picture row `row` (rows of the picture run top to bottom).
    const uint8_t* pictureRow(int32_t row) const {
        const int32_t memoryRow = bottomUp ? height - 1 - row : row;
        return pixels + memoryRow * rowAdvance;
    }
};

// Describes `image`; false when it holds no known layout or a row would lie
// outside the bytes it says may be read.
bool describePixels(const Image& image, PixelSource& source);

// One memory row as 8-bit samples, four a pixel (red, green, blue, alpha;
// alpha 255 when there is none). 16-bit samples are reduced to nearest.
void readRow8(const PixelSource& source, const uint8_t* row, uint8_t* rgba);

// One memory row as samples of the picture's own size (0..255 or 0..65535),
// four a pixel, as above (alpha 255 or 65535 when there is none).
void readRowFull(const PixelSource& source, const uint8_t* row, uint16_t* rgba);

}  // namespace check
