// The thumbnail: a copy of a display bitmap that fits a 298 x 299 box,
// reduced by area averaging or enlarged by the platform's stretching copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

inline constexpr int32_t thumbnailBoxWidth = 298;
inline constexpr int32_t thumbnailBoxHeight = 299;

// The working copy of a bitmap's pixels: top row first, 3 bytes a pixel. The
// sizes are 32-bit so that any picture a reader can produce fits.
struct PixelGrid {
    uint32_t gridWidth;
    uint32_t gridHeight;
    size_t gridStride;  // 3 x gridWidth rounded up to a multiple of 4
    uint8_t* gridBits;  // owned (malloc), or null
};

// The size of the thumbnail of a width x height picture.
void thumbnailSize(int32_t width, int32_t height, int32_t& thumbWidth, int32_t& thumbHeight);

// A new display bitmap holding the thumbnail of `loaded`, or null.
BitmapHandle makeThumbnailBitmap(BitmapHandle loaded);

BitmapHandle downscaleBitmap(BitmapHandle source, int32_t targetWidth, int32_t targetHeight);
void stretchCopyBitmap(BitmapHandle source, BitmapHandle destination);
BitmapHandle createPlainBitmap(int32_t width, int32_t height);
void allocPixelGrid(uint32_t width, uint32_t height, PixelGrid* grid);
void releasePixelGrid(PixelGrid* grid);
void readBitmapBits(BitmapHandle bitmap, PixelGrid* grid);
void writeBitmapBits(const PixelGrid* grid, BitmapHandle bitmap);
void scaleBoxFilter(const PixelGrid* source, PixelGrid* target, uint32_t targetWidth, uint32_t targetHeight);
