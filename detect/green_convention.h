// Telling a tangent-space normal map's green convention from its pixels:
// OpenGL (Y+, green up) or DirectX (Y-, green down).
#pragma once

#include <string>

#include "image/image.h"

enum class GreenConvention { unknown, openGl, directX };

// Why a convention could not be told.
enum class UnknownReason {
    none,             // told, or the record could not be analysed
    flat,             // no relief at all
    notNormalMap,     // too few pixels look like normals (photographs, albedo, height maps)
    tooLittleRelief,  // the vote is too faint or too even to decide
    partsDisagree,    // parts of the picture read as different conventions
};

struct ConventionGuess {
    GreenConvention convention = GreenConvention::unknown;
    float confidence = 0.0f;  // 0 .. 1; for unknown, that of the stronger reading
    UnknownReason reason = UnknownReason::none;
    // What the answer was made of.
    float normalShare = 0.0f;  // share of the pixels that look like normals, 0 .. 1
    float score = 0.0f;        // net vote over the whole vote: +1 all OpenGL, -1 all DirectX
    float agreement = 0.0f;    // share of the parts' votes on the winning side, 0.5 .. 1
    float relief = 0.0f;       // vote weight per voting pixel, each cell counted at most 0.05
};

// Analyses a loaded Image: 8-bit pixels of 24 or 32 bits in any row order and
// channel order its fields describe, or 16-bit RGB or RGBA pixels, read at
// their full precision; alpha is ignored. Safe to call from several threads
// on different Images.
ConventionGuess detectGreenConvention(const Image& image);

// Why an unknown guess is unknown, in words for a person ("flat", "not a
// normal map: 8% unit-length normals", "too little relief", "parts
// disagree"); empty for a guess that is told or had no reason.
std::string unknownReasonText(const ConventionGuess& guess);
