// Tangent-space normal maps made from height fields, as a baker writes them,
// for the green-convention tests and the accuracy report in bench/.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "detect/green_convention.h"
#include "image/image.h"

namespace normalmaps {

enum class Relief {
    noise,     // value noise, three octaves
    bricks,    // bevelled bricks in offset rows
    rivets,    // domes on a grid
    strokes,   // lettering-like strokes at every angle
    cones,     // cones at random places
    planks,    // bevelled planks and grain, all along one axis
    stripes,   // a wave along one axis
    flat,      // nothing
    photo,     // not a normal map: smooth noise in every channel
    greyscale  // not a normal map: a height map
};

enum class Layout {
    rgb24,           // 8-bit red, green, blue, top row first
    bgra32BottomUp,  // 8-bit blue, green, red and a padding byte, bottom row first
    rgba32,          // 8-bit red, green, blue and alpha (noise), top row first
    rgb48,           // 16-bit red, green, blue
    rgba64           // 16-bit red, green, blue and alpha (noise)
};

struct MapRecipe {
    Relief relief;
    GreenConvention convention;  // openGl or directX
    int32_t width;
    int32_t height;
    uint32_t seed;
    int pieces;  // >1: the picture is pieces x pieces islands, each turned by its own multiple of 90 degrees
    Layout layout = Layout::rgb24;
    bool mirrored = false;   // the right half is the left half flipped and pasted, bytes unchanged
    double amplitude = 1.0;  // scales the heights
    int grain = 0;           // each byte moved by up to this much at random, as lossy compression does
};

inline uint32_t hash(int64_t i, int64_t j, uint32_t seed) {
    uint64_t h = static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(j) * 0xC2B2AE3D27D4EB4Full ^
                 seed * 0x165667B19E3779F9ull;
    h ^= h >> 31;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

inline double unit(int64_t i, int64_t j, uint32_t seed) { return hash(i, j, seed) / 4294967296.0; }

// Smoothly interpolated lattice noise in [0, 1).
inline double valueNoise(double u, double v, double cell, uint32_t seed) {
    const double x = u / cell, y = v / cell;
    const double fx = std::floor(x), fy = std::floor(y);
    const auto i = static_cast<int64_t>(fx), j = static_cast<int64_t>(fy);
    const double tx = x - fx, ty = y - fy;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const double top = unit(i, j, seed) + sx * (unit(i + 1, j, seed) - unit(i, j, seed));
    const double bottom = unit(i, j + 1, seed) + sx * (unit(i + 1, j + 1, seed) - unit(i, j + 1, seed));
    return top + sy * (bottom - top);
}

inline double bevel(double distance, double width) { return std::min(distance, width); }

// Distance from (u, v) to the nearest point of a grid of features `cell`
// apart, each feature jittered within its cell.
inline double nearestFeature(double u, double v, double cell, uint32_t seed, double jitter) {
    const auto ci = static_cast<int64_t>(std::floor(u / cell)), cj = static_cast<int64_t>(std::floor(v / cell));
    double best = 1e9;
    for (int64_t j = cj - 1; j <= cj + 1; ++j)
        for (int64_t i = ci - 1; i <= ci + 1; ++i) {
            const double fx = (static_cast<double>(i) + 0.5 + jitter * (unit(i, j, seed) - 0.5)) * cell;
            const double fy = (static_cast<double>(j) + 0.5 + jitter * (unit(i, j, seed + 7) - 0.5)) * cell;
            best = std::min(best, std::hypot(u - fx, v - fy));
        }
    return best;
}

// The height (in pixels) of a relief at a point; u right, v down.
inline double height(Relief relief, double u, double v, uint32_t seed) {
    switch (relief) {
        case Relief::noise:
            return 20 * valueNoise(u, v, 48, seed) + 8 * valueNoise(u, v, 17, seed + 1) +
                   3 * valueNoise(u, v, 6, seed + 2);
        case Relief::bricks: {
            const double row = std::floor(v / 32);
            const double shifted = u + (std::fmod(row, 2.0) != 0.0 ? 32 : 0) + 13 * (seed % 5);
            const double du = std::fmod(shifted, 64.0), dv = v - row * 32;
            const double edge = std::min({du, 64 - du, dv, 32 - dv});
            return bevel(edge, 5) + 1.5 * valueNoise(u, v, 9, seed);
        }
        case Relief::rivets: {
            const double d = nearestFeature(u, v, 40, seed, 0.3) / 14;
            return d < 1 ? 9 * (1 - d * d) * (1 - d * d) : 0;
        }
        case Relief::strokes: {
            // Each cell of a grid holds a short stroke through its centre.
            double top = 0;
            const auto ci = static_cast<int64_t>(std::floor(u / 24)), cj = static_cast<int64_t>(std::floor(v / 24));
            for (int64_t j = cj - 1; j <= cj + 1; ++j)
                for (int64_t i = ci - 1; i <= ci + 1; ++i) {
                    const double angle = 6.2832 * unit(i, j, seed);
                    const double cx = (static_cast<double>(i) + 0.5) * 24, cy = (static_cast<double>(j) + 0.5) * 24;
                    const double ax = std::cos(angle), ay = std::sin(angle);
                    const double along = std::clamp((u - cx) * ax + (v - cy) * ay, -10.0, 10.0);
                    const double d = std::hypot(u - cx - along * ax, v - cy - along * ay);
                    top = std::max(top, 4 * (1 - std::clamp(d / 4, 0.0, 1.0)));
                }
            return top;
        }
        case Relief::cones:
            return 0.7 * std::max(0.0, 30 - nearestFeature(u, v, 70, seed, 0.6));
        case Relief::planks: {
            const double dv = std::fmod(v + 5 * (seed % 7), 40.0);
            return bevel(std::min(dv, 40 - dv), 4) + 2 * valueNoise(0, v, 7, seed);
        }
        case Relief::stripes:
            return 4 * std::sin(u / (6.0 + seed % 5));
        case Relief::flat:
        case Relief::photo:
        case Relief::greyscale:
            break;
    }
    return 0;
}

inline uint8_t encode(double component) {
    return static_cast<uint8_t>(std::clamp(std::lround((component + 1) * 127.5), 0L, 255L));
}

inline uint16_t encodeWide(double component) {
    return static_cast<uint16_t>(std::clamp(std::lround((component + 1) * 32767.5), 0L, 65535L));
}

// An Image as the readers leave one, filled by the recipe. The caller
// releases it with resetImage.
inline Image makeMap(const MapRecipe& recipe) {
    const int32_t w = recipe.width, h = recipe.height;
    const bool wide = recipe.layout == Layout::rgb48 || recipe.layout == Layout::rgba64;
    const bool alpha = recipe.layout == Layout::rgba32 || recipe.layout == Layout::rgba64;
    Image image{};
    if (wide || alpha) {
        if (!startImage(&image, static_cast<uint32_t>(w), static_cast<uint32_t>(h), wide ? 16 : 8, alpha))
            std::abort();
    } else {
        const size_t step = recipe.layout == Layout::rgb24 ? 3 : 4;
        image.width = w;
        image.height = h;
        image.bitsPerPixel = static_cast<int32_t>(8 * step);
        image.rowBytes = static_cast<int32_t>(step) * w;
        image.bgrOrder = recipe.layout == Layout::bgra32BottomUp;
        image.bottomUp = recipe.layout == Layout::bgra32BottomUp;
        image.dataSize = static_cast<uint32_t>(step * static_cast<size_t>(w) * static_cast<size_t>(h));
        image.pixels = static_cast<uint8_t*>(std::malloc(image.dataSize));
        if (!image.pixels) std::abort();
    }
    const size_t step = pixelBytes(image);
    const int pieces = std::max(1, recipe.pieces);
    const double green = recipe.convention == GreenConvention::directX ? -1 : 1;
    const int grain = wide ? 257 * recipe.grain : recipe.grain;
    const int top = wide ? 65535 : 255;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) {
            // The island this pixel lies in: its own turn and place in the height field.
            const int pi = c * pieces / w, pj = r * pieces / h;
            const int turn = pieces > 1 ? static_cast<int>(hash(pi, pj, recipe.seed + 99) % 4) : 0;
            const double cx = (pi + 0.5) * w / pieces, cy = (pj + 0.5) * h / pieces;
            const double ox = 1000.0 * pi + 37, oy = 1000.0 * pj + 11;
            auto at = [&](double x, double y) {
                double u = x - cx, v = y - cy;
                for (int k = 0; k < turn; ++k) std::swap(u, v), v = -v;
                return height(recipe.relief, u + ox, v + oy, recipe.seed);
            };
            int rgb[3];
            if (recipe.relief == Relief::photo) {
                for (int k = 0; k < 3; ++k)
                    rgb[k] = static_cast<uint8_t>(255 * valueNoise(c, r, 20, recipe.seed + static_cast<uint32_t>(k)));
            } else if (recipe.relief == Relief::greyscale) {
                rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(255 * valueNoise(c, r, 30, recipe.seed));
            } else {
                const double dhdc = (at(c + 1, r) - at(c - 1, r)) / 2, dhdr = (at(c, r + 1) - at(c, r - 1)) / 2;
                // OpenGL: green is the normal's component towards the top, -dh/dup = +dh/drow.
                const double nx = -dhdc * recipe.amplitude, ny = green * dhdr * recipe.amplitude,
                             length = std::sqrt(nx * nx + ny * ny + 1);
                const double n[3] = {nx / length, ny / length, 1 / length};
                for (int k = 0; k < 3; ++k) rgb[k] = wide ? encodeWide(n[k]) : encode(n[k]);
            }
            if (wide && (recipe.relief == Relief::photo || recipe.relief == Relief::greyscale))
                for (int& v : rgb) v = widenSample(static_cast<uint32_t>(v));
            for (int k = 0; recipe.grain > 0 && k < 3; ++k) {
                const int moved =
                    rgb[k] +
                    static_cast<int>(hash(c, r, recipe.seed * 3 + static_cast<uint32_t>(k)) %
                                     static_cast<uint32_t>(2 * grain + 1)) -
                    grain;
                rgb[k] = std::clamp(moved, 0, top);
            }
            // Alpha is noise, to show that it is not read.
            const int noise = static_cast<int>(hash(c, r, recipe.seed + 5) % static_cast<uint32_t>(top + 1));
            const int32_t memoryRow = image.bottomUp ? h - 1 - r : r;
            uint8_t* p = image.pixels +
                         (static_cast<size_t>(memoryRow) * static_cast<size_t>(w) + static_cast<size_t>(c)) * step;
            if (wide) {
                const uint16_t words[4] = {static_cast<uint16_t>(rgb[0]), static_cast<uint16_t>(rgb[1]),
                                           static_cast<uint16_t>(rgb[2]), static_cast<uint16_t>(noise)};
                std::memcpy(p, words, step);
            } else {
                p[0] = static_cast<uint8_t>(rgb[image.bgrOrder ? 2 : 0]);
                p[1] = static_cast<uint8_t>(rgb[1]);
                p[2] = static_cast<uint8_t>(rgb[image.bgrOrder ? 0 : 2]);
                if (step == 4) p[3] = alpha ? static_cast<uint8_t>(noise) : 255;
            }
        }
    if (recipe.mirrored)
        for (size_t r = 0; r < static_cast<size_t>(h); ++r) {
            uint8_t* row = image.pixels + r * step * static_cast<size_t>(w);
            for (size_t c = static_cast<size_t>(w) / 2; c < static_cast<size_t>(w); ++c)
                std::copy_n(row + (static_cast<size_t>(w) - 1 - c) * step, step, row + c * step);
        }
    return image;
}

// Inverts the green sample of every pixel, at 8 or 16 bits.
inline void invertGreen(Image& image) {
    const size_t step = pixelBytes(image);
    for (size_t at = 0; at + step <= image.dataSize; at += step) {
        if (isSixteenBit(image)) {
            uint16_t word;
            std::memcpy(&word, image.pixels + at + 2, 2);
            word = static_cast<uint16_t>(65535 - word);
            std::memcpy(image.pixels + at + 2, &word, 2);
        } else {
            image.pixels[at + 1] = static_cast<uint8_t>(255 - image.pixels[at + 1]);
        }
    }
}

inline GreenConvention opposite(GreenConvention convention) {
    return convention == GreenConvention::openGl    ? GreenConvention::directX
           : convention == GreenConvention::directX ? GreenConvention::openGl
                                                    : GreenConvention::unknown;
}

// What the recipe's map should be told as.
inline GreenConvention expected(const MapRecipe& recipe) {
    if (recipe.mirrored) return GreenConvention::unknown;
    switch (recipe.relief) {
        case Relief::planks:
        case Relief::stripes:
        case Relief::flat:
        case Relief::photo:
        case Relief::greyscale:
            return GreenConvention::unknown;
        default:
            return recipe.convention;
    }
}

}  // namespace normalmaps
