// The TIFF files this program writes, decided once for both encoders (libtiff
// in platform/portable/, the Windows Imaging Component in platform/win32/):
// which pictures they take, and the tags and strips of the file one makes.
// Tag values are the numbers TIFF 6.0 gives them.
#pragma once

#include <cstddef>
#include <cstdint>

struct PixelRows;

struct TiffEncoding {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 0;      // 1 (grey), 3 (red, green, blue) or 4 (and alpha)
    uint16_t bitsPerSample = 0;        // 8, 16 or 32 (floats), every sample alike
    uint16_t sampleFormat = 1;         // SampleFormat: unsigned integers, or 3: IEEE floats
    uint16_t photometric = 2;          // PhotometricInterpretation: RGB, or 1: grey, black is zero
    uint16_t planarConfiguration = 1;  // the samples of a pixel together
    uint16_t orientation = 1;          // top row first, left column first
    uint16_t compression = 8;          // Deflate, zlib format (Adobe's code)
    uint16_t predictor = 2;            // horizontal differencing, or 3 (floats): floating point
    uint16_t extraSamples = 0;         // samples after the colour: 1 with alpha
    uint16_t extraSampleKind = 2;      // ExtraSamples: unassociated alpha
    uint32_t rowsPerStrip = 0;         // about a megabyte of samples a strip
    uint32_t strips = 0;
    size_t rowBytes = 0;               // the samples of one row
    int deflateLevel = 0;              // 7 for 8-bit samples, 6 for wider ones
};

// The file that `rows` makes. False, leaving `encoding` alone, when `rows`
// is no picture the encoders take: no rows, a width or height of 0 or
// beyond the image limits, other than 1, 3 or 4 channels, samples other
// than 8 or 16 bits (or 32-bit floats of one channel), a row of 2 GiB or
// more (Windows' codec counts a row's bytes in 31 bits), or rows that
// overlap (a stride shorter than a row, when there is more than one).
bool tiffEncodingFor(const PixelRows& rows, TiffEncoding& encoding);
