#include "image/rows.h"

#include <algorithm>
#include <cstring>

bool describeLayout(const Image& image, PixelLayout& layout) {
    layout = PixelLayout{};
    const size_t step = pixelBytes(image);
    if (!image.pixels || step == 0 || image.width <= 0 || image.height <= 0) return false;
    // 16-bit samples come 48 or 64 bits a pixel; 24 or 32 bits cannot hold them.
    if (isSixteenBit(image) && step < 6) return false;
    layout.width = static_cast<uint32_t>(image.width);
    layout.height = static_cast<uint32_t>(image.height);
    layout.step = step;
    layout.sixteen = isSixteenBit(image);
    layout.alpha = image.hasAlpha != 0 && (step == 4 || step == 8);
    // 16-bit pictures are always red-green-blue; 8-bit ones follow bgrOrder.
    if (!layout.sixteen && image.bgrOrder) layout.red = 2, layout.blue = 0;
    layout.bottomUp = image.bottomUp != 0;
    layout.advance = int64_t{image.width} * static_cast<int64_t>(step) + image.rowPad;
    return true;
}

bool viewRows(const Image& image, ImageRows& rows) {
    rows = ImageRows{};
    PixelLayout layout;
    if (!describeLayout(image, layout)) return false;
    // Memory row i starts at i x advance; every one must lie within the bytes
    // the record says may be read.
    const int64_t last = (int64_t{layout.height} - 1) * layout.advance;
    if (std::min<int64_t>(0, last) < 0 ||
        std::max<int64_t>(0, last) + static_cast<int64_t>(layout.rowLength()) > int64_t{image.dataSize})
        return false;
    static_cast<PixelLayout&>(rows) = layout;
    rows.memory = image.pixels;
    // Every offset lies within dataSize, a 32-bit size: it fits a ptrdiff_t.
    rows.top = image.pixels + (layout.bottomUp ? static_cast<ptrdiff_t>(last) : 0);
    rows.stride = static_cast<ptrdiff_t>(layout.bottomUp ? -layout.advance : layout.advance);
    return true;
}

namespace {

template <size_t step, size_t red, size_t blue, bool alpha>
void readRow8As(const uint8_t* __restrict row, uint32_t width, uint8_t* __restrict rgba) {
    for (uint32_t c = 0; c < width; ++c, row += step, rgba += 4) {
        rgba[0] = row[red];
        rgba[1] = row[1];
        rgba[2] = row[blue];
        rgba[3] = alpha ? row[3] : 255;
    }
}

uint16_t word(const uint8_t* p) {
    uint16_t value;
    std::memcpy(&value, p, 2);
    return value;
}

}  // namespace

void readRow8(const ImageRows& rows, const uint8_t* row, uint8_t* rgba) {
    const uint32_t width = rows.width;
    if (rows.sixteen) {
        for (uint32_t c = 0; c < width; ++c, row += rows.step, rgba += 4) {
            rgba[0] = reduceSample(word(row));
            rgba[1] = reduceSample(word(row + 2));
            rgba[2] = reduceSample(word(row + 4));
            rgba[3] = rows.alpha ? reduceSample(word(row + 6)) : 255;
        }
        return;
    }
    const bool swapped = rows.red == 2;
    if (rows.step == 3) {
        if (swapped) readRow8As<3, 2, 0, false>(row, width, rgba);
        else readRow8As<3, 0, 2, false>(row, width, rgba);
    } else if (rows.alpha) {
        if (swapped) readRow8As<4, 2, 0, true>(row, width, rgba);
        else readRow8As<4, 0, 2, true>(row, width, rgba);
    } else {
        if (swapped) readRow8As<4, 2, 0, false>(row, width, rgba);
        else readRow8As<4, 0, 2, false>(row, width, rgba);
    }
}

void readRowFull(const ImageRows& rows, const uint8_t* row, uint16_t* rgba) {
    const uint32_t width = rows.width;
    for (uint32_t c = 0; c < width; ++c, row += rows.step, rgba += 4) {
        if (rows.sixteen) {
            rgba[0] = word(row);
            rgba[1] = word(row + 2);
            rgba[2] = word(row + 4);
            rgba[3] = rows.alpha ? word(row + 6) : 65535;
        } else {
            rgba[0] = row[rows.red];
            rgba[1] = row[1];
            rgba[2] = row[rows.blue];
            rgba[3] = rows.alpha ? row[3] : 255;
        }
    }
}
