// The Image record: a pixel buffer that the readers fill and the adjustment
// changes, and the display bitmap built from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/basics.h"
#include "platform/platform.h"

struct Image {
    uint8_t* pixels;       // owned (malloc), or null
    BitmapHandle bitmap;   // owned display bitmap, or null
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel;  // 24, 32, 48 or 64 when filled, 0 when reset
    uint32_t dataSize;     // bytes of `pixels` that may be read
    int32_t rowBytes;      // width x bytes a pixel
    int32_t rowPad;        // bytes skipped after each row
    int32_t adjustLocked;  // non-zero keeps adjustPixels away
    int32_t bgrOrder;      // non-zero: blue, green, red
    int32_t bottomUp;      // non-zero: first row is the bottom of the picture
    int32_t reserved;
    int32_t sampleBits;  // 16: every sample a native-endian 16-bit word; 8 (or 0) bytes
    int32_t hasAlpha;    // non-zero: each pixel ends in an alpha sample
};

// The layouts an Image holds. 8-bit pictures are as they always were: 24 bits
// a pixel, or 32 where the fourth byte is padding (hasAlpha 0) or alpha
// (hasAlpha 1), in any row order, channel order and padding the fields give.
// 16-bit pictures (sampleBits 16) are red-green-blue or red-green-blue-alpha
// words, 48 or 64 bits a pixel, always top row first, in red-green-blue order
// and without row padding. Code that only knows 8-bit RGB checks
// isEightBitRgb first.
inline bool isSixteenBit(const Image& image) { return image.sampleBits == 16; }
inline bool isEightBitRgb(const Image& image) {
    return !isSixteenBit(image) && !image.hasAlpha && (image.bitsPerPixel == 24 || image.bitsPerPixel == 32);
}
// Bytes of one pixel, 0 for an Image that holds no known layout.
inline size_t pixelBytes(const Image& image) {
    switch (image.bitsPerPixel) {
        case 24: return 3;
        case 32: return 4;
        case 48: return isSixteenBit(image) ? 6 : 0;
        case 64: return isSixteenBit(image) ? 8 : 0;
        default: return 0;
    }
}

// A 16-bit sample reduced to 8 bits, rounded to nearest.
constexpr uint8_t reduceSample(uint32_t v) { return static_cast<uint8_t>((v * 255 + 32767) / 65535); }
// An 8-bit sample widened to 16 bits (255 becomes 65535).
constexpr uint16_t widenSample(uint32_t v) { return static_cast<uint16_t>(v * 257); }

// Sets `image` up (it is reset first) for a top-row-first, red-green-blue
// picture of width x height with samples of `sampleBits` (8 or 16) and an
// alpha sample when `alpha`, and allocates its pixels (content undefined).
// False when the size is not allowed or there is no memory.
bool startImage(Image* image, uint32_t width, uint32_t height, int sampleBits, bool alpha);

void resetImage(Image* image);
void releaseBitmap(Image* image);
void releasePixels(Image* image);
void moveImage(Image* source, Image* destination);
bool flipRows(uint8_t* buffer, size_t rowStride, size_t rowCount);
BitmapHandle createBlankBitmap(int32_t width, int32_t height);
bool buildDisplayBitmap(Image* image);
bool pixelsFromBitmap(Image* image);
