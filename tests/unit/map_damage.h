// The ways normal maps are damaged in practice, applied to an undamaged
// map, for the check's tests and its accuracy report in bench/. Each damage
// takes an 8-bit red-green-blue picture (24 bits, top row first) and gives a
// new one; the caller releases it with resetImage.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "check/diagnose.h"
#include "check/transfer.h"
#include "image/image.h"

namespace damage {

enum class Damage {
    none,
    blackFill,        // undamaged, with black padding round disc-shaped islands
    flatFill,         // the same with the flat normal as padding
    zZero,            // a two-channel export decoded with blue 0
    zFilled,          // blue filled with one value (128)
    zWhite,           // blue filled with 255, as a two-channel export whose Z was filled white
    zLight,           // blue filled with 240
    zInverted,        // blue inverted
    dxt5nmBlueZero,   // X in alpha, red 255, blue 0
    dxt5nmBlueGreen,  // X in alpha, red 255, blue a copy of green
    srgbDecoded,      // read as sRGB and converted to linear
    srgbEncoded,      // converted from linear to sRGB
    shortened,        // every vector scaled to 0.6 of its length (painted towards grey)
    shortened08,      // scaled to 0.8 (painted at 80% opacity over mid-grey, or scaled down)
    shortened09,      // scaled to 0.9
    objectSpace,      // the map wrapped round a sphere and its normals taken in object space
    greenFlipped,     // the other green convention
};

inline const char* damageName(Damage damage) {
    switch (damage) {
        case Damage::none: return "none";
        case Damage::blackFill: return "black fill";
        case Damage::flatFill: return "flat fill";
        case Damage::zZero: return "blue 0";
        case Damage::zFilled: return "blue 128";
        case Damage::zWhite: return "blue 255";
        case Damage::zLight: return "blue 240";
        case Damage::zInverted: return "blue inverted";
        case Damage::dxt5nmBlueZero: return "dxt5nm, blue 0";
        case Damage::dxt5nmBlueGreen: return "dxt5nm, blue=green";
        case Damage::srgbDecoded: return "srgb decoded";
        case Damage::srgbEncoded: return "srgb encoded";
        case Damage::shortened: return "shortened 0.6";
        case Damage::shortened08: return "shortened 0.8";
        case Damage::shortened09: return "shortened 0.9";
        case Damage::objectSpace: return "object space";
        case Damage::greenFlipped: return "green flipped";
    }
    return "";
}

// The finding a damage should raise (0: none).
inline uint32_t findingOf(Damage damage) {
    switch (damage) {
        case Damage::none:
        case Damage::blackFill:
        case Damage::flatFill: return 0;
        case Damage::zZero:
        case Damage::zFilled:
        case Damage::zWhite:
        case Damage::zLight: return findingZMissing;
        case Damage::zInverted: return findingZInverted;
        case Damage::dxt5nmBlueZero:
        case Damage::dxt5nmBlueGreen: return findingDxt5nm;
        case Damage::srgbDecoded: return findingSrgbDecoded;
        case Damage::srgbEncoded: return findingSrgbEncoded;
        case Damage::shortened:
        case Damage::shortened08:
        case Damage::shortened09: return findingNotNormalized;
        case Damage::objectSpace: return findingObjectSpace;
        case Damage::greenFlipped: return findingWrongConvention;
    }
    return 0;
}

inline uint8_t rounded(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// A sample run through the sRGB curve one way or the other, and rounded.
inline uint8_t decodedSample(int v) { return rounded(255.0 * check::srgbToLinear(v / 255.0)); }
inline uint8_t encodedSample(int v) { return rounded(255.0 * check::linearToSrgb(v / 255.0)); }
// A sample of a vector scaled to `factor` of its length about the middle.
inline uint8_t shortenedSample(int v, double factor) { return rounded(128 + factor * (v - 128)); }

// How much a shortening damage scales the vectors (1: none).
inline double shorteningOf(Damage damage) {
    return damage == Damage::shortened     ? 0.6
           : damage == Damage::shortened08 ? 0.8
           : damage == Damage::shortened09 ? 0.9
                                           : 1.0;
}

// A new top-down picture of the same size, 24 bits or (with alpha) 32.
inline Image blankLike(const Image& source, bool alpha) {
    Image image{};
    if (!startImage(&image, static_cast<uint32_t>(source.width), static_cast<uint32_t>(source.height), 8, alpha))
        std::abort();
    return image;
}

// Inside one of the disc-shaped islands that cover about half the picture.
inline bool onIsland(int32_t c, int32_t r, int32_t width, int32_t height) {
    const double cell = std::max(8, std::min(width, height) / 4);
    const double u = std::fmod(c + 0.5, cell) - cell / 2, v = std::fmod(r + 0.5, cell) - cell / 2;
    return std::hypot(u, v) < 0.42 * cell;
}

// `source` must be a top-down 24-bit red-green-blue picture.
inline Image applyDamage(const Image& source, Damage damage) {
    const bool packed = damage == Damage::dxt5nmBlueZero || damage == Damage::dxt5nmBlueGreen;
    Image out = blankLike(source, packed);
    const int32_t w = source.width, h = source.height;
    const size_t step = packed ? 4 : 3;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) {
            const uint8_t* p = source.pixels + (static_cast<size_t>(r) * static_cast<size_t>(w) + static_cast<size_t>(c)) * 3;
            uint8_t* q = out.pixels + (static_cast<size_t>(r) * static_cast<size_t>(w) + static_cast<size_t>(c)) * step;
            const int red = p[0], green = p[1], blue = p[2];
            uint8_t v[4] = {p[0], p[1], p[2], 255};
            switch (damage) {
                case Damage::none: break;
                case Damage::blackFill:
                case Damage::flatFill:
                    if (!onIsland(c, r, w, h)) {
                        const bool black = damage == Damage::blackFill;
                        v[0] = v[1] = black ? 0 : 128;
                        v[2] = black ? 0 : 255;
                    }
                    break;
                case Damage::zZero: v[2] = 0; break;
                case Damage::zFilled: v[2] = 128; break;
                case Damage::zWhite: v[2] = 255; break;
                case Damage::zLight: v[2] = 240; break;
                case Damage::zInverted: v[2] = static_cast<uint8_t>(255 - blue); break;
                case Damage::dxt5nmBlueZero:
                case Damage::dxt5nmBlueGreen:
                    v[0] = 255;
                    v[2] = damage == Damage::dxt5nmBlueZero ? 0 : p[1];
                    v[3] = p[0];
                    break;
                case Damage::srgbDecoded:
                    for (int k = 0; k < 3; ++k) v[k] = decodedSample(p[k]);
                    break;
                case Damage::srgbEncoded:
                    for (int k = 0; k < 3; ++k) v[k] = encodedSample(p[k]);
                    break;
                case Damage::shortened:
                case Damage::shortened08:
                case Damage::shortened09:
                    for (int k = 0; k < 3; ++k) v[k] = shortenedSample(p[k], shorteningOf(damage));
                    break;
                case Damage::objectSpace: {
                    // Longitude across, latitude down; the tangent runs east and
                    // the bitangent north, so the map's own X and Y are kept.
                    constexpr double pi = std::numbers::pi;
                    const double theta = 2 * pi * (c + 0.5) / w - pi, phi = pi / 2 - pi * (r + 0.5) / h;
                    const double n[3] = {std::cos(phi) * std::sin(theta), std::sin(phi), std::cos(phi) * std::cos(theta)};
                    const double t[3] = {std::cos(theta), 0, -std::sin(theta)};
                    const double b[3] = {-std::sin(phi) * std::sin(theta), std::cos(phi), -std::sin(phi) * std::cos(theta)};
                    const double x = (red - 128) / 127.0, y = (green - 128) / 127.0, z = (blue - 128) / 127.0;
                    for (int k = 0; k < 3; ++k) v[k] = rounded((x * t[k] + y * b[k] + z * n[k] + 1) * 127.5);
                    break;
                }
                case Damage::greenFlipped: v[1] = static_cast<uint8_t>(255 - green); break;
            }
            std::memcpy(q, v, step);
        }
    return out;
}

// For every sample, how many samples a damage sends to the same damaged
// value: more than one where it loses precision.
inline std::array<int, 256> sharedCounts(Damage damage) {
    auto apply = [damage](int s) {
        return damage == Damage::srgbDecoded   ? decodedSample(s)
               : damage == Damage::srgbEncoded ? encodedSample(s)
               : shorteningOf(damage) < 1  ? shortenedSample(s, shorteningOf(damage))
                                           : static_cast<uint8_t>(s);
    };
    std::array<int, 256> hits{}, shared{};
    for (int s = 0; s < 256; ++s) ++hits[apply(s)];
    for (int s = 0; s < 256; ++s) shared[s] = hits[apply(s)];
    return shared;
}

// True where the damage kept what the repair needs to give the pixel back
// as re-normalisation of the undamaged map gives it: for the sRGB damages,
// no sample of the pixel merged with more than one other (`shared` from
// sharedCounts), so each comes back within a level; for the damages that
// drop Z, a unit vector to begin with, within what 8-bit samples hold
// (re-normalisation of a shorter one moves X and Y, and Z was the only
// record of its length), and steep no more than half a level on X and Y
// moves the rebuilt Z by a level (Z at least (|X| + |Y|) / 2).
inline bool keptInformation(Damage damage, const uint8_t* rgb, const std::array<int, 256>& shared) {
    switch (damage) {
        case Damage::zZero:
        case Damage::zFilled:
        case Damage::zWhite:
        case Damage::zLight:
        case Damage::dxt5nmBlueZero:
        case Damage::dxt5nmBlueGreen: {
            const double x = (rgb[0] - 128) / 127.0, y = (rgb[1] - 128) / 127.0, z = (rgb[2] - 128) / 127.0;
            return std::fabs(x * x + y * y + z * z - 1) <= 0.03 && z >= (std::fabs(x) + std::fabs(y)) / 2;
        }
        case Damage::srgbDecoded:
        case Damage::srgbEncoded: return shared[rgb[0]] <= 2 && shared[rgb[1]] <= 2 && shared[rgb[2]] <= 2;
        default: return true;
    }
}

}  // namespace damage
