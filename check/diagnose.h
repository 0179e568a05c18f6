// The findings about a normal map, and the rules that draw them from its
// measurements.
#pragma once

#include <cstdint>
#include <string>

#include "check/measure.h"

// The findings, each a fixed word (findingName). They are bits of a set.
enum Finding : uint32_t {
    findingZMissing = 1u << 0,         // blue holds one value, not Z
    findingZInverted = 1u << 1,        // blue is 255 - Z
    findingDxt5nm = 1u << 2,           // X in alpha, Y in green, red and blue filler
    findingSrgbDecoded = 1u << 3,      // read as sRGB and converted to linear (128 became 55)
    findingSrgbEncoded = 1u << 4,      // converted from linear to sRGB (128 became 188)
    findingNotNormalized = 1u << 5,    // vectors clearly shorter than unit
    findingObjectSpace = 1u << 6,      // normals point every way: an object-space map
    findingNotANormalMap = 1u << 7,    // a photograph, albedo, height or roughness map
    findingWrongConvention = 1u << 8,  // green runs the other way than expected
    findingConventionUnknown = 1u << 9,
};
inline constexpr int findingCount = 10;

// "z-missing", "srgb-decoded", ...; the bit must be one of the findings.
const char* findingName(Finding finding);
// The findings of a set as words joined by ", " in the order above.
std::string findingWords(uint32_t findings);
// The findings as the desktop program says them: "Z missing, sRGB-decoded".
std::string findingPhrase(uint32_t findings);
// Findings that the repairs cannot mend: the file is not written by --fix.
inline constexpr uint32_t unfixableFindings = findingObjectSpace | findingNotANormalMap;

// The reading of a map the rules settle on, and what it says is wrong.
struct Diagnosis {
    uint32_t findings = 0;  // without the two convention findings
    Transfer transfer = Transfer::linear;
    bool packed = false;     // DXT5nm: X from alpha
    bool zMissing = false;   // Z rebuilt from X and Y
    bool zInverted = false;
};

Diagnosis diagnose(const Measurements& measurements);
