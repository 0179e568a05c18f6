// The display bitmap of the portable platform: an owned block of memory in
// the display layout (24-bit, bottom row first, blue-green-red, rows padded
// to a multiple of 4 bytes).
#pragma once

#include <cstdint>

struct PlatformBitmap {
    int32_t width;
    int32_t height;
    uint8_t* bits;  // displayStride(width) x height bytes, zeroed at creation
};
