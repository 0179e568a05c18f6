// Mending a normal map: repairs that write a new picture undoing each
// finding, and the whole check of one map.
#pragma once

#include <cstdint>

#include "check/diagnose.h"
#include "detect/green_convention.h"
#include "image/image.h"

// How a repaired picture is written.
struct RepairOptions {
    bool flipGreen = false;   // convert to the other green convention
    bool keepAlpha = true;    // keep the alpha samples the picture has
    bool eightBit = false;    // write 8-bit samples whatever the input holds
    bool renormalize = true;  // false: the vectors as the repairs leave them
};

// Writes the repaired map into `output` (reset first): the DXT5nm layout
// unpacked, the transfer undone, Z rebuilt or un-inverted, green inverted
// when asked, and every vector re-normalised (unless asked not to) and
// encoded as the adjustment encodes it. The result is a top-row-first red-green-blue(-alpha) picture
// with the input's sample size (or 8 bits), without a display bitmap. False
// when the input cannot be read or there is no memory.
bool repairMap(const Image& input, const Diagnosis& diagnosis, const RepairOptions& options, Image* output);

// Everything --check says about one map.
struct CheckResult {
    Measurements measurements;
    Diagnosis diagnosis;
    ConventionGuess convention;  // told on the repaired map
    uint32_t findings = 0;       // the diagnosis's, and the convention's against `expected`
};

// Measures, diagnoses and tells the green convention (on the repaired map
// when repairs change the vectors). With `expected` known, a convention
// that differs is wrong-convention and one that cannot be told
// convention-unknown; neither is looked for on a map that is no tangent-space
// normal map.
CheckResult checkMap(const Image& image, GreenConvention expected);
