// Normals to and from samples, with the arithmetic of re-normalisation
// (adjust/adjust.cpp, renormalizeBlock): a sample v stands for
// (v - centre) / (centre - 1), centre 128 at 8 bits and 32768 at 16; a unit
// vector is written by rounding each component to float and truncating
// t x (centre - 1) + centre.
#pragma once

#include <cmath>
#include <cstdint>

#include "image/image.h"

struct UnitNormal {
    double x, y, z;
};

// The sample layout of a plain Image: top row first, red-green-blue, rows
// unpadded. The readers give every picture this way.
// row view: image/ will describe every layout; until then others are refused.
inline bool plainLayout(const Image& image) {
    return image.pixels && image.width > 0 && image.height > 0 && pixelBytes(image) != 0 && !image.bgrOrder &&
           !image.bottomUp && image.rowPad == 0 &&
           image.rowBytes == image.width * static_cast<int32_t>(pixelBytes(image)) &&
           uint64_t{image.dataSize} >= uint64_t(uint32_t(image.rowBytes)) * uint32_t(image.height);
}

// Channels of a plain Image's pixel (3 or 4) and the largest sample value.
inline uint32_t pixelChannels(const Image& image) {
    return static_cast<uint32_t>(pixelBytes(image) / (isSixteenBit(image) ? 2 : 1));
}
inline uint32_t sampleMax(const Image& image) { return isSixteenBit(image) ? 65535u : 255u; }

// The component a sample stands for: (v - centre) / (centre - 1).
template <uint32_t sampleMaxValue>
inline double decodeComponent(uint32_t v) {
    constexpr int32_t centre = static_cast<int32_t>(sampleMaxValue / 2 + 1);
    return static_cast<double>(static_cast<int32_t>(v) - centre) / static_cast<double>(centre - 1);
}

// The samples re-normalisation writes for the direction of (x, y, z); a
// zero vector gives the centre in every channel.
template <uint32_t sampleMaxValue>
inline void encodeNormal(double x, double y, double z, uint32_t out[3]) {
    constexpr double centre = sampleMaxValue / 2 + 1, steps = centre - 1;
    const double length = std::sqrt(x * x + y * y + z * z);
    const bool positive = length > 0.0;
    const double q = 1.0 / (positive ? static_cast<double>(static_cast<float>(length)) : 1.0);
    const double nx = positive ? static_cast<double>(static_cast<float>(q * x)) : 0.0;
    const double ny = positive ? static_cast<double>(static_cast<float>(q * y)) : 0.0;
    const double nz = positive ? static_cast<double>(static_cast<float>(q * z)) : 0.0;
    // Truncation: a component of -1 encodes as 1.
    out[0] = static_cast<uint32_t>(static_cast<int32_t>(nx * steps + centre));
    out[1] = static_cast<uint32_t>(static_cast<int32_t>(ny * steps + centre));
    out[2] = static_cast<uint32_t>(static_cast<int32_t>(nz * steps + centre));
}
