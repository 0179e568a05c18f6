// The benchmark picture: a smooth tangent-space normal map (a field of
// bumps), as artists' maps look, rather than noise.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "image/image.h"

inline bool makeBenchPicture(Image* image, int32_t width, int32_t height) {
    const size_t size = size_t{3} * static_cast<size_t>(width) * static_cast<size_t>(height);
    *image = Image{};
    image->pixels = static_cast<uint8_t*>(std::malloc(size));
    if (!image->pixels) return false;
    image->width = width;
    image->height = height;
    image->bitsPerPixel = 24;
    image->rowBytes = 3 * width;
    image->dataSize = static_cast<uint32_t>(size);
    uint8_t* p = image->pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x, p += 3) {
            const double dx = 0.6 * std::sin(x * 0.013) * std::cos(y * 0.007);
            const double dy = 0.6 * std::cos(x * 0.011) * std::sin(y * 0.017);
            const double dz = std::sqrt(std::fmax(0.0, 1.0 - dx * dx - dy * dy));
            p[0] = static_cast<uint8_t>(128 + 127 * dx);
            p[1] = static_cast<uint8_t>(128 + 127 * dy);
            p[2] = static_cast<uint8_t>(128 + 127 * dz);
        }
    return true;
}
