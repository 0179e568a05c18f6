// The arithmetic at the heart of the tool: channel inversion and
// re-normalisation of tangent-space normals stored as red, green, blue bytes.
#pragma once

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
