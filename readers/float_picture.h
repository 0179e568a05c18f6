// Pictures of 32-bit floating-point samples: heights (and other data) stored
// as they are, in the file's own units, for the roads that want numbers
// rather than 8- or 16-bit samples (height to normal). Read from OpenEXR
// files (half or float channels) and from TIFF files whose samples are
// 32-bit IEEE floats.
#pragma once

#include <cstdint>
#include <span>

#include "readers/readers.h"

struct FloatPicture {
    float* samples = nullptr;  // owned (malloc): width x height x channels, top row first, interleaved
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;  // 1 (grey or one named channel), 3 (RGB) or 4 (RGBA)

    FloatPicture() = default;
    FloatPicture(const FloatPicture&) = delete;
    FloatPicture& operator=(const FloatPicture&) = delete;
    ~FloatPicture();
    void reset();
};
