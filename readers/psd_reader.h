// The Photoshop reader and its working record.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "platform/basics.h"

// The state of one read. A zeroed record is empty: no planes, a black
// palette, every number 0.
struct PsdReaderState {
    ByteReader reader;      // over the file's bytes, which the state only borrows
    int32_t colorMode;      // from the header: 1 grey, 2 indexed, 3 RGB, others averaged
    uint32_t width;
    uint32_t height;
    int32_t depth;          // bits a channel (8 whenever set)
    uint32_t planeSize;     // bytes in one plane: depth / 8 x width x height
    int32_t channelCount;   // entries of `planes`
    uint8_t** planes;       // owned table of planes, each `planeSize` bytes, top row first; one block
    uint8_t palette[256][3];  // red, green, blue of each index; black unless the file gives one
};

void setUpPsdReader(PsdReaderState* state);
// Frees the planes; safe to repeat.
void releasePsdReader(PsdReaderState* state);

// Replaces the planes with `channelCount` planes of depth / 8 x width x
// height bytes, one after another in one block. Their content is undefined
// until a decoder fills them; pixels are composed only from planes whose
// every byte was decoded. Fails on a channel count below 1, a zero plane
// size, planes whose total size does not fit in 32 bits, or a failed
// allocation; what was made stays in the state for releasePsdPlanes.
bool makePsdPlanes(PsdReaderState* state, int32_t colorMode, int32_t depth, uint32_t width, uint32_t height,
                   int32_t channelCount);
// Frees the planes and zeroes every field after the ByteReader, palette included.
void releasePsdPlanes(PsdReaderState* state);

// The reader itself is readPsd in readers/readers.h.
