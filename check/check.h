// Checking a normal map for the well-known ways it goes wrong, and mending
// what can be mended. One pass over the pixels fills a plain record of
// measurements (measureMap); small named rules turn the record into findings
// (diagnose); repairs write a new picture that undoes each finding
// (repairMap).
#pragma once

#include <cstdint>
#include <string>

#include "detect/green_convention.h"
#include "image/image.h"

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

// The ways a map's samples may have been run through the sRGB curve.
enum class Transfer { linear, decoded, encoded };
inline constexpr int transferCount = 3;

// What the vectors look like when the samples are read back through one
// transfer (the damage undone), over the pixels that are not fill.
struct Reading {
    double medianX = 0;         // median red and green sample, back on the 0..255 scale
    double medianY = 0;
    double unitShare = 0;       // squared length within 0.1 of 1
    double meanLength = 0;
    double medianLength = 0;
    double consistentShare = 0; // lengths within a quarter of the median length
    double negativeZShare = 0;  // blue below the middle
    double uprightShare = 0;    // Z positive and at least as large as |X| and |Y|
    double invertedUprightShare = 0;  // the same with Z read the other way
    double rebuiltGap = 0;      // mean |Z - sqrt(1 - X^2 - Y^2)|
    double insideShare = 0;     // X^2 + Y^2 at most 1.1: Z can be rebuilt
};

// The record one pass over a picture fills.
struct Measurements {
    bool valid = false;  // false: the Image holds no layout that can be read
    int sampleBits = 8;
    bool alpha = false;
    int64_t pixels = 0;
    int64_t sampled = 0;    // pixels looked at: all, or a regular grid of a million or more
    int64_t fill = 0;       // of those, padding: flat runs of a colour that is no normal, black or grey
    int64_t measured = 0;   // pixels the shares below are over (all pixels when nearly all are fill)
    double greyShare = 0;   // red, green and blue within 3 levels of each other
    double channelCorrelation = 0;  // the smaller of corr(red, green) and corr(green, blue)
    double redModeShare = 0;    // share of the commonest 4-level bin of red
    double blueModeShare = 0;   // share of the commonest blue value
    double alphaModeShare = 0;  // share of the commonest 4-level bin of alpha
    double blueLikeGreenShare = 0;  // blue within 2 levels of green
    Reading reading[transferCount];  // red, green, blue read through each transfer
    Reading packed[transferCount];   // alpha as X, green as Y, Z rebuilt
};

// One pass over any layout the Image record holds (8-bit 24 or 32 bits in
// any row and channel order, 16-bit RGB and RGBA). Large pictures are shared
// out among the cores by bands of rows. Safe from several threads on
// different Images.
Measurements measureMap(const Image& image);

// The reading of a map the rules settle on, and what it says is wrong.
struct Diagnosis {
    uint32_t findings = 0;  // without the two convention findings
    Transfer transfer = Transfer::linear;
    bool packed = false;     // DXT5nm: X from alpha
    bool zMissing = false;   // Z rebuilt from X and Y
    bool zInverted = false;
};

Diagnosis diagnose(const Measurements& measurements);

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
