// The arithmetic at the heart of the tool: channel inversion and
// re-normalisation of tangent-space normals stored as red, green, blue bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

struct AdjustOptions {
    int32_t invertRed;    // only 1 counts as on
    int32_t invertGreen;
    int32_t invertBlue;
    int32_t renormalize;
    float scale;          // applied to X and Y before re-normalising
};

inline constexpr AdjustOptions defaultAdjustOptions{0, 0, 0, 0, 1.0f};

struct Vector3 {
    float x, y, z;
};

double squaredLength(Vector3 v);
double vectorLength(Vector3 v);
Vector3 normalized(Vector3 v);

// Inverts and re-normalises the pixels of an Image in place, at 8 or 16 bits
// a sample (the fourth sample of a pixel, padding or alpha, is left alone).
// Nothing happens while `adjustLocked` is set.
void adjustPixels(Image* image, const AdjustOptions& options);

// Adjusts `height` rows of `width` blue-green-red pixels, 3 bytes each, the
// rows `stride` bytes apart, in place and on the calling thread alone: each
// pixel gets the bytes adjustPixels gives it in red-green-blue order. For
// the streaming road, which adjusts the rows of BMP and Targa files as the
// files hold them.
void adjustBgrRows(uint8_t* rows, size_t width, size_t height, size_t stride, const AdjustOptions& options);

// The same for rows of red-green-blue pixels, with alpha after them when
// `channels` is 4 (left alone), as a PNG file holds them.
void adjustRgbRows(uint8_t* rows, size_t width, size_t height, size_t stride, size_t channels,
                   const AdjustOptions& options);

// Adjusts `count` pixels of 16-bit words (red, green, blue and, when
// `channels` is 4, alpha, left alone) in place on the calling thread, as
// adjustPixels adjusts a 16-bit picture.
void adjustWordPixels(uint16_t* words, size_t count, size_t channels, const AdjustOptions& options);
