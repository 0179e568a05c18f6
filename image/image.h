// The Image record: a pixel buffer that the readers fill and the adjustment
// changes, and the display bitmap built from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

struct Image {
    uint8_t* pixels;       // owned (malloc), or null
    BitmapHandle bitmap;   // owned display bitmap, or null
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel;  // 24 or 32 when filled, 0 when reset
    uint32_t dataSize;     // bytes of `pixels` that may be read
    int32_t rowBytes;      // width x bytes a pixel
    int32_t rowPad;        // bytes skipped after each row
    int32_t adjustLocked;  // non-zero keeps adjustPixels away
    int32_t bgrOrder;      // non-zero: blue, green, red
    int32_t bottomUp;      // non-zero: first row is the bottom of the picture
    int32_t reserved;
};

// The largest picture any reader accepts, in pixels. Every size product of a
// picture this size fits in 32 bits at 4 bytes a pixel, and every stride fits
// in a signed 32-bit value.
inline constexpr uint64_t maxImagePixels = uint64_t{1} << 28;

// True when a picture of width x height pixels may be allocated: both sides
// positive and the pixel count within maxImagePixels.
bool imageSizeAllowed(int64_t width, int64_t height);

// 3 x width rounded up to a multiple of 4: the stride of a display bitmap row.
constexpr size_t displayStride(uint32_t width) { return (size_t{3} * width + 3) & ~size_t{3}; }

void resetImage(Image* image);
void releaseBitmap(Image* image);
void releasePixels(Image* image);
void moveImage(Image* source, Image* destination);
bool flipRows(uint8_t* buffer, size_t rowStride, size_t rowCount);
BitmapHandle createBlankBitmap(int32_t width, int32_t height);
bool buildDisplayBitmap(Image* image);
bool pixelsFromBitmap(Image* image);
