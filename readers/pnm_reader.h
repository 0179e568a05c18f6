// The Netpbm reader (P1 to P6) and its working record.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "platform/basics.h"

struct PnmReaderState {
    ByteReader reader;    // over the file's bytes, which the state only borrows
    int32_t variant;      // 1 to 6, the digit of the magic
    int32_t width;
    int32_t height;
    int32_t maxval;       // 1 for the bitmaps
    int32_t sampleCount;  // bytes in `samples`
    // A plain raster's samples, one byte each scaled to 0..255 (0 or 1 a pixel
    // for the bitmap); owned (malloc). Raw rasters go straight from the file
    // into the pixels and leave it null.
    uint8_t* samples;
};

// Clears the whole record.
void setUpPnmReader(PnmReaderState* state);
// Frees the samples; safe to repeat.
void releasePnmReader(PnmReaderState* state);
// The reader itself is readPnm in readers/readers.h.
