// --for ENGINE: what each engine takes for a tangent-space normal map (its
// green convention, container, payload and sample depth), set as if the
// options had been given. The README's "Engines" section gives each engine's
// own documentation for each choice.
#pragma once

#include <string>

#include "cli/options.h"

struct EnginePreset {
    const char* name;  // as --for names it
    GreenConvention convention;
    OutputFormat format;
    TextureFormat payload;  // DDS or KTX2
    int32_t depth;          // PNG: 16, or 0 to keep the input's depth
    const char* writes;     // what it writes, as messages say: "a BC5 DDS texture"
};

// enginePresetNamed and applyEnginePreset are declared in cli/options.h,
// whose parser calls them.
