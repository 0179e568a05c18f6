#include "check/pixel_source.h"

#include <cstring>

namespace check {

bool describePixels(const Image& image, PixelSource& source) {
    source = PixelSource{};
    const size_t step = pixelBytes(image);
    if (!image.pixels || step == 0 || image.width <= 0 || image.height <= 0 || image.rowPad < 0) return false;
    if (image.sampleBits != 0 && image.sampleBits != 8 && image.sampleBits != 16) return false;
    source.pixels = image.pixels;
    source.step = step;
    source.sixteen = isSixteenBit(image);
    source.hasAlpha = image.hasAlpha != 0 && (step == 4 || step == 8);
    source.bottomUp = image.bottomUp != 0;
    source.width = image.width;
    source.height = image.height;
    source.rowAdvance = int64_t{image.width} * static_cast<int64_t>(step) + image.rowPad;
    // 16-bit pictures are always red-green-blue; 8-bit ones follow bgrOrder.
    if (!source.sixteen && image.bgrOrder) source.red = 2, source.blue = 0;
    const int64_t lastRowEnd =
        (int64_t{image.height} - 1) * source.rowAdvance + int64_t{image.width} * static_cast<int64_t>(step);
    return lastRowEnd <= int64_t{image.dataSize};
}

namespace {

template <size_t step, size_t red, size_t blue, bool alpha>
void readRow8As(const uint8_t* __restrict row, int32_t width, uint8_t* __restrict rgba) {
    for (int32_t c = 0; c < width; ++c, row += step, rgba += 4) {
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

void readRow8(const PixelSource& source, const uint8_t* row, uint8_t* rgba) {
    const int32_t width = source.width;
    if (source.sixteen) {
        for (int32_t c = 0; c < width; ++c, row += source.step, rgba += 4) {
            rgba[0] = reduceSample(word(row));
            rgba[1] = reduceSample(word(row + 2));
            rgba[2] = reduceSample(word(row + 4));
            rgba[3] = source.hasAlpha ? reduceSample(word(row + 6)) : 255;
        }
        return;
    }
    const bool swapped = source.red == 2;
    if (source.step == 3) {
        if (swapped) readRow8As<3, 2, 0, false>(row, width, rgba);
        else readRow8As<3, 0, 2, false>(row, width, rgba);
    } else if (source.hasAlpha) {
        if (swapped) readRow8As<4, 2, 0, true>(row, width, rgba);
        else readRow8As<4, 0, 2, true>(row, width, rgba);
    } else {
        if (swapped) readRow8As<4, 2, 0, false>(row, width, rgba);
        else readRow8As<4, 0, 2, false>(row, width, rgba);
    }
}

void readRowFull(const PixelSource& source, const uint8_t* row, uint16_t* rgba) {
    const int32_t width = source.width;
    for (int32_t c = 0; c < width; ++c, row += source.step, rgba += 4) {
        if (source.sixteen) {
            rgba[0] = word(row);
            rgba[1] = word(row + 2);
            rgba[2] = word(row + 4);
            rgba[3] = source.hasAlpha ? word(row + 6) : 65535;
        } else {
            rgba[0] = row[source.red];
            rgba[1] = row[1];
            rgba[2] = row[source.blue];
            rgba[3] = source.hasAlpha ? row[3] : 255;
        }
    }
}

}  // namespace check
