// The one reading of how an Image's pixels lie in memory: the sample size,
// the channel order, the bytes a pixel, the row order and the distance from
// one row to the next. Everything that walks the pixels of an Image (the
// adjustment, the check, the detection, the texture encoder, the writers)
// takes the rows from here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

// How an Image's fields say its pixels lie, before anything is checked
// against the bytes it holds.
struct PixelLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    size_t step = 0;        // bytes a pixel: 3 or 4 (8-bit samples), 6 or 8 (16-bit)
    bool sixteen = false;   // samples are native-endian 16-bit words
    bool alpha = false;     // the fourth sample is alpha; without it a fourth byte is padding
    size_t red = 0;         // sample index of red within a pixel (green is 1, alpha 3)
    size_t blue = 2;        // and of blue
    bool bottomUp = false;  // memory holds the bottom row first
    int64_t advance = 0;    // bytes from one row in memory to the next, padding included (negative
                            // padding makes rows overlap, as the record allows)

    size_t sampleBytes() const { return sixteen ? 2 : 1; }
    size_t channels() const { return step / sampleBytes(); }  // samples a pixel, 3 or 4
    size_t rowLength() const { return size_t{width} * step; }  // bytes of a row's pixels
};

// Reads the layout off `image`. False when it holds no pixels, no known
// layout (pixelBytes is 0, or 16-bit samples in 24 or 32 bits a pixel) or
// no rows (a side of 0 or less). 16-bit samples
// are always red first; 8-bit ones follow bgrOrder.
bool describeLayout(const Image& image, PixelLayout& layout);

// The rows of an Image whose every row lies within its `dataSize` bytes.
// Rows are numbered from the top of the picture; `storedRow` numbers them in
// the order memory holds them, for walks whose sums must come out the same
// as they always did.
struct ImageRows : PixelLayout {
    uint8_t* top = nullptr;  // the top row
    ptrdiff_t stride = 0;    // bytes from a row to the one below it: negative when bottom-up
    uint8_t* memory = nullptr;  // the row memory holds first

    uint8_t* row(uint32_t y) const { return top + stride * static_cast<ptrdiff_t>(y); }
    uint8_t* storedRow(uint32_t i) const {
        return memory + static_cast<ptrdiff_t>(advance) * static_cast<ptrdiff_t>(i);
    }
};

// Describes `image` as rows. False when describeLayout fails or a row would
// lie before its pixels or past `dataSize`.
bool viewRows(const Image& image, ImageRows& rows);

// One row (as `row` or `storedRow` gives it) as 8-bit samples, four a pixel:
// red, green, blue, alpha (255 when there is none). 16-bit samples are
// reduced by reduceSample.
void readRow8(const ImageRows& rows, const uint8_t* row, uint8_t* rgba);

// One row as samples of the picture's own size (0..255 or 0..65535), four a
// pixel as above (alpha 255 or 65535 when there is none).
void readRowFull(const ImageRows& rows, const uint8_t* row, uint16_t* rgba);
