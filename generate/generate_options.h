// The choices the map makers take (derivative filter, edge rule, blend mode,
// height channel), each with a table of names that a command line can parse
// and list in its help, and the reasons a map maker refuses its input.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "detect/green_convention.h"

// Derivative kernels, each normalised so that a ramp rising by 1 a texel has
// a slope of exactly 1.
enum class DerivativeFilter {
    central,  // (h[x+1] - h[x-1]) / 2
    sobel,    // [-1 0 1] across, [1 2 1] along, / 8
    scharr,   // [-1 0 1] across, [3 10 3] along, / 32
    prewitt,  // [-1 0 1] across, [1 1 1] along, / 6
    sobel5,   // [-1 -2 0 2 1] across, [1 4 6 4 1] along, / 128
};

// What lies beyond the picture's edges.
enum class EdgeRule {
    wrap,   // the picture tiles: an edge reads across the opposite edge
    clamp,  // the edge rows and columns are repeated
};

// How a detail map is laid over a base map.
enum class BlendMode {
    rnm,       // reoriented normal mapping: the detail rotated onto the base normal
    whiteout,  // slopes added (x and y summed), z multiplied
    udn,       // x and y summed, the base's z kept
    linear,    // the two normals summed
};

// Which samples of a picture give the height.
enum class HeightChannel {
    automatic,  // grey when red, green and blue agree everywhere, luma otherwise
    red,
    green,
    blue,
    alpha,
    luma,  // 0.2126 R + 0.7152 G + 0.0722 B
};

// Why a map maker refused (none when it did not).
enum class GenerateError {
    none,
    unsupportedLayout,   // an Image whose rows the row view refuses (image/rows.h)
    noAlpha,             // the alpha channel asked for a picture without one
    notFinite,           // a height is NaN or infinite
    emptyPicture,        // no pixels
    unknownConvention,   // the green convention must be OpenGL or DirectX
    badOption,           // an option out of its range (a scale that is not finite, ...)
    tooLarge,            // the picture exceeds what an Image may hold
    noMemory,
};

// One line for a person: "a height sample is not a finite number", ...
const char* generateErrorText(GenerateError error);

template <class Value>
struct NamedChoice {
    std::string_view name;  // as typed on a command line
    Value value;
    std::string_view help;  // a few words for --help
};

inline constexpr NamedChoice<DerivativeFilter> derivativeFilterNames[] = {
    {"central", DerivativeFilter::central, "central difference, (h[x+1] - h[x-1]) / 2"},
    {"sobel", DerivativeFilter::sobel, "3 x 3 Sobel (default)"},
    {"scharr", DerivativeFilter::scharr, "3 x 3 Scharr, weights 3 10 3"},
    {"prewitt", DerivativeFilter::prewitt, "3 x 3 Prewitt"},
    {"sobel5", DerivativeFilter::sobel5, "5 x 5 Sobel, smoothest"},
};

inline constexpr NamedChoice<EdgeRule> edgeRuleNames[] = {
    {"wrap", EdgeRule::wrap, "the picture tiles (default)"},
    {"clamp", EdgeRule::clamp, "edges repeated; for pictures that do not tile"},
};

inline constexpr NamedChoice<BlendMode> blendModeNames[] = {
    {"rnm", BlendMode::rnm, "reoriented normal mapping (default)"},
    {"whiteout", BlendMode::whiteout, "slopes added, z multiplied"},
    {"udn", BlendMode::udn, "x and y added, the base's z kept"},
    {"linear", BlendMode::linear, "normals added and normalised"},
};

inline constexpr NamedChoice<HeightChannel> heightChannelNames[] = {
    {"auto", HeightChannel::automatic, "grey, or luma of a colour picture (default)"},
    {"r", HeightChannel::red, "red"},
    {"g", HeightChannel::green, "green"},
    {"b", HeightChannel::blue, "blue"},
    {"a", HeightChannel::alpha, "alpha"},
    {"luma", HeightChannel::luma, "0.2126 R + 0.7152 G + 0.0722 B"},
};

inline constexpr NamedChoice<GreenConvention> conventionNames[] = {
    {"opengl", GreenConvention::openGl, "green up, Y+ (default)"},
    {"directx", GreenConvention::directX, "green down, Y-"},
};

// The value named `name` in `table`; false (and `value` untouched) when no
// entry has that name.
template <class Value>
constexpr bool parseChoice(std::span<const NamedChoice<Value>> table, std::string_view name, Value* value) {
    for (const NamedChoice<Value>& entry : table)
        if (entry.name == name) {
            *value = entry.value;
            return true;
        }
    return false;
}

// The name of `value` in `table`, or an empty view.
template <class Value>
constexpr std::string_view choiceName(std::span<const NamedChoice<Value>> table, Value value) {
    for (const NamedChoice<Value>& entry : table)
        if (entry.value == value) return entry.name;
    return {};
}
