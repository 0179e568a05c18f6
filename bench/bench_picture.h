// The benchmark picture: a smooth tangent-space normal map (a field of
// bumps), as artists' maps look, rather than noise.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "image/image.h"

// At 8 bits a sample, or at 16 (the same surface, encoded finer).
inline bool makeBenchPicture(Image* image, int32_t width, int32_t height, int sampleBits = 8) {
    if (width <= 0 || height <= 0 ||
        !startImage(image, static_cast<uint32_t>(width), static_cast<uint32_t>(height), sampleBits, false))
        return false;
    auto* bytes = image->pixels;
    auto* words = reinterpret_cast<uint16_t*>(image->pixels);
    size_t i = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const double dx = 0.6 * std::sin(x * 0.013) * std::cos(y * 0.007);
            const double dy = 0.6 * std::cos(x * 0.011) * std::sin(y * 0.017);
            const double dz = std::sqrt(std::fmax(0.0, 1.0 - dx * dx - dy * dy));
            for (const double d : {dx, dy, dz}) {
                if (sampleBits == 16)
                    words[i++] = static_cast<uint16_t>(32768 + 32767 * d);
                else
                    bytes[i++] = static_cast<uint8_t>(128 + 127 * d);
            }
        }
    return true;
}
