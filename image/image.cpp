#include "image/image.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool startImage(Image* image, uint32_t width, uint32_t height, int sampleBits, bool alpha) {
    if (!image || !imageSizeAllowed(width, height) || (sampleBits != 8 && sampleBits != 16)) return false;
    resetImage(image);
    const uint32_t channels = alpha ? 4 : 3;
    const uint64_t rowBytes = uint64_t{width} * channels * static_cast<uint32_t>(sampleBits / 8);
    const uint64_t size = rowBytes * height;
    // The record's sizes are 32-bit: a row within int32_t, the whole within uint32_t.
    if (rowBytes > INT32_MAX || size > UINT32_MAX) return false;
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->bitsPerPixel = static_cast<int32_t>(channels) * sampleBits;
    image->sampleBits = sampleBits;
    image->hasAlpha = alpha ? 1 : 0;
    image->rowBytes = static_cast<int32_t>(rowBytes);
    image->dataSize = static_cast<uint32_t>(size);
    image->pixels = static_cast<uint8_t*>(platformAllocLarge(static_cast<size_t>(size)));
    if (!image->pixels) {
        resetImage(image);
        return false;
    }
    return true;
}

void releaseBitmap(Image* image) {
    if (image && image->bitmap) {
        platformDeleteBitmap(image->bitmap);
        image->bitmap = nullptr;
    }
}

void releasePixels(Image* image) {
    if (image && image->pixels) {
        platformFreeLarge(image->pixels);
        image->pixels = nullptr;
    }
}

void resetImage(Image* image) {
    if (!image) return;
    releaseBitmap(image);
    releasePixels(image);
    *image = Image{};
}

void moveImage(Image* source, Image* destination) {
    if (!source || !destination || source == destination) return;
    *destination = *source;
    *source = Image{};
}

bool flipRows(uint8_t* buffer, size_t rowStride, size_t rowCount) {
    if (!buffer || rowStride == 0 || rowCount == 0) return false;
    // Rows are swapped pairwise through one row of scratch, so flipping a large
    // picture costs no second picture's worth of memory.
    auto* scratch = static_cast<uint8_t*>(std::malloc(rowStride));
    if (!scratch) return false;
    uint8_t* top = buffer;
    uint8_t* bottom = buffer + (rowCount - 1) * rowStride;
    while (top < bottom) {
        std::memcpy(scratch, top, rowStride);
        std::memcpy(top, bottom, rowStride);
        std::memcpy(bottom, scratch, rowStride);
        top += rowStride;
        bottom -= rowStride;
    }
    std::free(scratch);
    return true;
}

BitmapHandle createBlankBitmap(int32_t width, int32_t height) {
    return platformCreateBitmap(width, height, true);
}

namespace {

void convertRow(const uint8_t* source, uint8_t* destination, size_t count, size_t step, bool bgr) {
    if (bgr)
        copyPixelsInOrder(source, step, destination, count);
    else
        copyPixelsSwapped(source, step, destination, count);
}

}  // namespace

namespace {

// A 16-bit picture's display bitmap: each sample reduced to 8 bits, alpha
// ignored.
bool buildDisplayBitmapFromWords(Image* image) {
    const size_t width = static_cast<uint32_t>(image->width);
    const size_t height = static_cast<uint32_t>(image->height);
    const size_t step = pixelBytes(*image) / 2;
    if (step == 0 || image->bottomUp || image->bgrOrder || image->rowPad ||
        uint64_t{width} * height * step * 2 > image->dataSize)
        return false;
    image->bitmap = platformCreateBitmap(image->width, image->height, false);
    BitmapInfo info;
    if (!image->bitmap || !platformQueryBitmap(image->bitmap, info) || !info.bits) return false;
    const size_t stride = displayStride(static_cast<uint32_t>(width));
    const auto* words = reinterpret_cast<const uint16_t*>(image->pixels);
    for (size_t r = 0; r < height; ++r) {
        const uint16_t* s = words + r * width * step;
        uint8_t* d = info.bits + (height - 1 - r) * stride;
        for (size_t c = 0; c < width; ++c, s += step, d += 3) {
            d[0] = reduceSample(s[2]);
            d[1] = reduceSample(s[1]);
            d[2] = reduceSample(s[0]);
        }
    }
    return true;
}

}  // namespace

bool buildDisplayBitmap(Image* image) {
    if (!image || !image->pixels || pixelBytes(*image) == 0) return false;
    releaseBitmap(image);
    if (image->width < 0 || image->height < 0) return false;
    if (isSixteenBit(*image)) return buildDisplayBitmapFromWords(image);
    // Every pixel byte is written below (or cleared, should the pixels run
    // out), so the bitmap need not be cleared first; its padding starts zero.
    image->bitmap = platformCreateBitmap(image->width, image->height, false);
    BitmapInfo info;
    if (!image->bitmap || !platformQueryBitmap(image->bitmap, info) || !info.bits) return false;

    const size_t width = static_cast<uint32_t>(image->width);
    const size_t height = static_cast<uint32_t>(image->height);
    const size_t stride = displayStride(static_cast<uint32_t>(width));
    const size_t step = image->bitsPerPixel == 24 ? 3 : 4;
    const bool upright = image->bottomUp == 0;
    const size_t dataSize = image->dataSize;
    // The source offset advances by the pixel step and then the row padding;
    // a negative padding steps back, as the record allows.
    const int64_t rowAdvance = static_cast<int64_t>(width * step) + image->rowPad;

    // Pixel row r lands in memory row r, or in memory row height-1-r when the
    // pixels are top row first, so the picture stands upright in one pass.
    int64_t s = 0;
    for (size_t r = 0; r < height; ++r, s += rowAdvance) {
        uint8_t* d = info.bits + (upright ? height - 1 - r : r) * stride;
        // Pixels of this row whose three bytes lie below dataSize.
        size_t whole = 0;
        if (s >= 0 && static_cast<uint64_t>(s) + 2 < dataSize)
            whole = (dataSize - 3 - static_cast<size_t>(s)) / step + 1;
        if (s < 0 || whole < width) {
            const size_t done = s < 0 ? 0 : whole;
            convertRow(image->pixels + (s < 0 ? 0 : s), d, done, step, image->bgrOrder != 0);
            // The pixels the walk never reached stay black, and the partial
            // bitmap is left as a bottom-to-top fill would have left it.
            std::memset(d + 3 * done, 0, 3 * (width - done));
            for (size_t rest = r + 1; rest < height; ++rest)
                std::memset(info.bits + (upright ? height - 1 - rest : rest) * stride, 0, 3 * width);
            if (upright) flipRows(info.bits, stride, height);
            return false;
        }
        convertRow(image->pixels + s, d, width, step, image->bgrOrder != 0);
    }
    return true;
}

bool pixelsFromBitmap(Image* image) {
    if (!image || !image->bitmap || image->pixels) return false;
    BitmapInfo info;
    if (!platformQueryBitmap(image->bitmap, info) || info.width < 0 || info.height < 0) return false;
    const size_t w = static_cast<uint32_t>(info.width);
    const size_t h = static_cast<uint32_t>(info.height);
    if (!imageSizeAllowed(info.width, info.height)) return false;
    const size_t rowBytes = 3 * w;
    image->pixels = static_cast<uint8_t*>(platformAllocLarge(rowBytes * h));
    if (!image->pixels || !info.bits) return false;
    const size_t stride = displayStride(static_cast<uint32_t>(w));
    // Memory row 0 of the bitmap is the bottom of the picture: it becomes the
    // last pixel row, so the pixels come out top row first without a flip.
    for (size_t r = 0; r < h; ++r)
        convertRow(info.bits + r * stride, image->pixels + (h - 1 - r) * rowBytes, w, 3, false);
    image->width = info.width;
    image->height = info.height;
    image->rowBytes = static_cast<int32_t>(rowBytes);
    image->dataSize = static_cast<uint32_t>(rowBytes * h);
    image->bitsPerPixel = 24;
    image->bottomUp = 0;
    image->adjustLocked = 0;
    image->bgrOrder = 0;
    image->reserved = 0;
    image->sampleBits = 8;
    image->hasAlpha = 0;
    return true;
}
