// The picture codecs the system provides: PNG and JPEG decoding. On Windows
// they are the Windows Imaging Component; elsewhere libspng (over zlib, with
// libdeflate for the common PNG layouts) and libjpeg-turbo. The codecs only
// unpack bytes: a decoded picture is handed over in the form the file stores
// it, and the readers in readers/ apply the format's rules (rounding,
// palettes, what is refused), so that both back ends give the same pixels.
// PNG encoding is our own portable code (writers/png_encoder.h), which takes
// the PixelRows below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

// Receives a decoded picture one row at a time, top row first.
struct RowSink {
    void* context = nullptr;
    // Called once before any row with the picture's size and the samples of a
    // pixel; false stops the decoding (too large, no memory, not as expected).
    bool (*begin)(void* context, uint32_t width, uint32_t height, uint32_t channels) = nullptr;
    // Called for rows 0 .. height - 1 in order. `stored` holds the row as the
    // format stores it once unfiltered and deinterlaced.
    void (*row)(void* context, uint32_t y, const uint8_t* stored) = nullptr;
};

// Decodes the image data of a PNG file whose signature, IHDR and PLTE the
// reader has already read and checked. Rows come unfiltered and
// deinterlaced, every sample as stored: depths below 8 packed, first pixel
// in the highest bits; 16-bit samples as two bytes, most significant first;
// palette pictures as indices; alpha kept. `channels` is 1 (grey or index),
// 2 (grey, alpha), 3 (RGB) or 4 (RGBA). False on any fault in the image data
// (a CRC error, a zlib error, data that ends before the last row); nothing
// after the last row can make it fail (more IDAT chunks, the Adler-32
// checksum, a missing IEND), ancillary chunks are never inflated, and a
// PLTE longer than the bit depth can index is accepted as other decoders
// accept it.
bool platformDecodePng(std::span<const uint8_t> file, const RowSink& sink);

// Decodes a JPEG file (baseline or progressive, any subsampling, grey) as the
// library decodes by default: accurate integer transform, smooth chroma
// upsampling. Rows are 8-bit grey (1 channel) or red-green-blue (3). False
// when the file is corrupt or ends early.
bool platformDecodeJpeg(std::span<const uint8_t> file, const RowSink& sink);

// Receives an encoded file's bytes, in order; false stops the encoding.
struct ByteSink {
    void* context = nullptr;
    bool (*write)(void* context, const void* bytes, size_t size) = nullptr;
};

// A picture handed to an encoder: rows of interleaved samples, red-green-blue
// (and alpha) or, for 8-bit samples when `bgr` is set, blue-green-red (and
// alpha). `first` is the top row; `stride` is the distance in bytes from one
// row to the row below it, negative when memory runs bottom row first (a
// display bitmap).
struct PixelRows {
    const uint8_t* first = nullptr;
    ptrdiff_t stride = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 3;    // 3 (colour) or 4 (colour and alpha)
    uint32_t sampleBits = 8;  // 8, or 16 as native-endian words
    bool bgr = false;         // 8-bit samples only
};
