// The rules that turn a map's measurements into findings, each with its
// threshold beside it and the reason for it.
#include <algorithm>
#include <cmath>

#include "check/diagnose.h"

namespace {

// --- The layout ---------------------------------------------------------
// DXT5nm: red and blue carry nothing (one value, or blue a copy of green)
// while alpha varies. A channel "holds one value" when one value (for red
// and alpha, one 4-level bin) has this share of the pixels: a damaged
// channel is exactly constant, and even the flattest real maps spread Z over
// two or three values.
constexpr double constantShare = 0.95;

bool packedLayout(const Measurements& m) {
    return m.alpha && m.redModeShare >= constantShare &&
           (m.blueModeShare >= constantShare || m.blueLikeGreenShare >= constantShare) &&
           m.alphaModeShare < constantShare;
}

// --- The transfer -------------------------------------------------------
// A tangent-space map's X and Y centre on the flat normal: their medians lie
// near 128 when the samples are read through the right transfer. Real maps
// stay within 40 levels (a wall of bevels all facing one way reaches 37); a
// map run through the sRGB curve has its flat colour at 55 or 188, 60 levels
// and more away, and reading a right map through the wrong transfer moves
// it as far.
constexpr double centredWithin = 40.0;

bool centred(const Reading& reading) {
    return std::fabs(reading.medianX - 128.0) <= centredWithin && std::fabs(reading.medianY - 128.0) <= centredWithin;
}

// --- Z --------------------------------------------------------------------
// Z is missing when blue holds one value (any value, 255 included) where X
// and Y call for a Z that varies: more than this share of the pixels hold
// the common blue while their X and Y make a Z more than 4 levels away from
// it. A flat map's constant 255 is its Z (X and Y make 255 too); blue filled
// with 255 on a map with relief leaves every tilted pixel contradicted.
// Filling a map's blue changes how it looks only where it tilts the vector
// by more than a degree or two, which is where X and Y make Z at least 0.08
// away: such pixels are always contradicted, so the share is kept low.
constexpr double contradictedShare = 0.01;
// Z runs backwards on a map when most of its vectors point into the surface;
// real tangent-space maps have under 1% of pixels with negative Z.
constexpr double invertedShare = 0.75;
// An object-space map's normals face every way: a good share of them point
// away from the viewer, but not nearly all. Its vectors are unit, or (when
// they were all shortened alike) mostly within a quarter of their median
// length, which colours that are no vectors at all are not.
constexpr double objectSpaceShare = 0.10;
constexpr double consistentShare = 0.7;

// --- Lengths --------------------------------------------------------------
// Shortening every vector (painting the map towards grey, scaling it down)
// moves what an undamaged map keeps: its nearly flat vectors are unit
// length (blue near 255) in every map that was normalised, and in maps made
// by averaging without normalising (mip levels, box-shrunk libraries, whose
// median lengths run down to 0.75) their lengths spread while the longest
// vectors still reach unit length where the surface is smooth. So vectors
// are not normalized when the nearly flat ones are short (under 0.93) and
// either alike in length (90% of unit maps' lie within 6% of their median)
// or no vector of the map reaches 0.93 (the longest thousandth of them).
// A map with hardly any nearly flat vectors (under 1%) is judged by its
// median length: under 0.70 no map is left unshortened.
constexpr double shortFlat = 0.93;
constexpr double alikeShare = 0.7;
constexpr double enoughFlat = 0.01;
constexpr double shortLength = 0.70;

bool shortened(const Reading& r) {
    if (r.flatShare < enoughFlat) return r.medianLength < shortLength;
    return r.flatLength < shortFlat && (r.flatAlikeShare >= alikeShare || r.longestLength < shortFlat);
}

// --- Not a normal map -----------------------------------------------------
// Height and roughness maps are grey; albedo rises and falls in every
// channel together, where the channels of a normal map are nearly
// independent (up to 0.7 on real maps with fine grain).
constexpr double greyShare = 0.5;
constexpr double togetherCorrelation = 0.8;
// The vectors of a tangent-space map mostly stand up: Z is the largest
// component (or, with Z inverted, they lean by at most 60 degrees), or they
// are unit vectors (steep rock reliefs lean over).
constexpr double uprightShare = 0.5;
constexpr double unitShare = 0.5;
// Colour that follows a unit-vector law keeps X and Y inside the unit disc
// (real maps, damaged or not: 95% and more of their pixels), and carries
// vectors long enough to have a direction (the shortest real maps, shortened
// to 0.6 on top, keep a median length of 0.29). Photographs and drawings
// read as vectors spill out of the disc, or are short and grey.
// An object-space map turns long vectors (a map whose Z was clipped) out of
// the disc too, so it is let off with 80%.
constexpr double insideShare = 0.9;
constexpr double objectInsideShare = 0.8;
constexpr double shortestMedian = 0.25;

bool followsUnitLaw(const Reading& r, bool objectSpace) {
    return r.insideShare >= (objectSpace ? objectInsideShare : insideShare) && r.medianLength >= shortestMedian;
}

}  // namespace

Diagnosis diagnose(const Measurements& m) {
    Diagnosis d;
    if (!m.valid || m.measured <= 0) {
        d.findings = findingNotANormalMap;
        return d;
    }
    d.packed = packedLayout(m);
    const bool blueConstant = m.blueModeShare >= constantShare;
    const Reading* readings = d.packed ? m.packed : m.reading;

    // The transfer: linear unless another one alone centres X and Y.
    if (!centred(readings[static_cast<int>(Transfer::linear)])) {
        for (Transfer t : {Transfer::decoded, Transfer::encoded}) {
            if (centred(readings[static_cast<int>(t)])) {
                d.transfer = t;
                break;
            }
        }
    }
    const Reading& r = readings[static_cast<int>(d.transfer)];

    if (d.packed) {
        d.findings |= findingDxt5nm;
        d.zMissing = true;
    } else if (blueConstant && r.contradictedShare >= contradictedShare) {
        d.findings |= findingZMissing;
        d.zMissing = true;
    }
    if (d.transfer == Transfer::decoded) d.findings |= findingSrgbDecoded;
    if (d.transfer == Transfer::encoded) d.findings |= findingSrgbEncoded;

    // Is it a tangent-space normal map, read the way the rules settle on?
    // Colour that follows no unit-vector law is no map whichever way it is
    // read, before any other finding.
    bool tangentLike = false, objectSpace = false;
    if (d.zMissing) {
        // Most X and Y pairs must lie in the unit disc for Z to be rebuilt.
        tangentLike = r.insideShare >= insideShare;
    } else if (!followsUnitLaw(r, r.negativeZShare >= objectSpaceShare && r.negativeZShare < invertedShare)) {
        tangentLike = false;
    } else if (r.negativeZShare >= invertedShare) {
        // Albedo is mostly dark in blue too: only centred or unit vectors
        // that stand up once Z is turned round are a map with Z inverted.
        const bool unit = r.unitShare >= unitShare;
        d.zInverted = (centred(r) || unit) && (r.invertedFacingShare >= uprightShare || unit);
        tangentLike = d.zInverted;
        if (d.zInverted) d.findings |= findingZInverted;
    } else if (r.negativeZShare >= objectSpaceShare) {
        objectSpace = r.unitShare >= unitShare || (centred(r) && r.consistentShare >= consistentShare);
    } else {
        // Z stands up nearly everywhere: centred X and Y, or the vectors
        // mostly upright or unit, make a tangent-space map.
        tangentLike = centred(r) || r.uprightShare >= uprightShare || r.unitShare >= unitShare;
    }
    if (!d.zMissing && shortened(r)) d.findings |= findingNotNormalized;

    const bool paletteOfAPicture =
        !d.zMissing && (m.greyShare >= greyShare || m.channelCorrelation >= togetherCorrelation);
    if (paletteOfAPicture || !(tangentLike || objectSpace)) {
        d = Diagnosis{};
        d.findings = findingNotANormalMap;
    } else if (objectSpace) {
        d = Diagnosis{};
        d.findings = findingObjectSpace;
    }
    return d;
}

const char* findingName(Finding finding) {
    switch (finding) {
        case findingZMissing: return "z-missing";
        case findingZInverted: return "z-inverted";
        case findingDxt5nm: return "dxt5nm";
        case findingSrgbDecoded: return "srgb-decoded";
        case findingSrgbEncoded: return "srgb-encoded";
        case findingNotNormalized: return "not-normalized";
        case findingObjectSpace: return "object-space";
        case findingNotANormalMap: return "not-a-normal-map";
        case findingWrongConvention: return "wrong-convention";
        case findingConventionUnknown: return "convention-unknown";
    }
    return "unknown";
}

namespace {

const char* findingSaid(Finding finding) {
    switch (finding) {
        case findingZMissing: return "Z missing";
        case findingZInverted: return "Z inverted";
        case findingDxt5nm: return "DXT5nm layout";
        case findingSrgbDecoded: return "sRGB-decoded";
        case findingSrgbEncoded: return "sRGB-encoded";
        case findingNotNormalized: return "not normalised";
        case findingObjectSpace: return "object space";
        case findingNotANormalMap: return "not a normal map";
        case findingWrongConvention: return "wrong convention";
        case findingConventionUnknown: return "convention unknown";
    }
    return "";
}

template <typename Name>
std::string joined(uint32_t findings, Name name) {
    std::string text;
    for (int k = 0; k < findingCount; ++k) {
        const auto finding = static_cast<Finding>(1u << k);
        if (!(findings & finding)) continue;
        if (!text.empty()) text += ", ";
        text += name(finding);
    }
    return text;
}

}  // namespace

std::string findingWords(uint32_t findings) { return joined(findings, findingName); }
std::string findingPhrase(uint32_t findings) { return joined(findings, findingSaid); }
