// Telling a tangent-space normal map's green convention from its pixels:
// OpenGL (Y+, green up) or DirectX (Y-, green down).
#pragma once

#include "image/image.h"

enum class GreenConvention { unknown, openGl, directX };

struct ConventionGuess {
    GreenConvention convention = GreenConvention::unknown;
    float confidence = 0.0f;  // 0 .. 1
};

// Analyses a loaded Image (24 or 32 bits, any row order and channel order
// its fields describe). Safe to call from several threads on different
// Images.
ConventionGuess detectGreenConvention(const Image& image);
