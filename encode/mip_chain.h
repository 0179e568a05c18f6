// The mip chain of a normal map. Each level halves the one above (each side
// max(1, floor(side / 2))); a pixel of the level below is the area-weighted
// average of the vectors its footprint covers in the level above (a plain
// 2 x 2 average where the sides are even), re-normalised to unit length, or
// kept at the averaged length when asked.
//
// The top level is the picture's own samples, decoded as the
// re-normalisation decodes them (x = (v - 128) / 127 in float, or
// (v - 32768) / 32767 for 16-bit samples). Every level below is kept as
// float vectors, and the next one is made from those, so rounding to
// samples (which the re-normalisation's encoding does by truncation)
// happens once per level for the file and never piles up down the chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// The side of level `level` (0 the top) of a side of `side` pixels.
constexpr uint32_t mipSide(uint32_t side, uint32_t level) {
    const uint32_t halved = level >= 32 ? 0 : side >> level;
    return halved ? halved : 1;
}

// Levels down to 1 x 1, or at most `maxLevels` of them (0: no limit).
uint32_t mipLevelCount(uint32_t width, uint32_t height, uint32_t maxLevels);

// The source pixels one destination pixel covers along one axis, and the
// share of its footprint each covers (the shares add up to 1).
struct FootprintTaps {
    uint32_t first = 0;
    uint32_t count = 0;
    float weight[4] = {};
};

// The taps of every destination pixel when `sourceSide` pixels shrink to
// `destinationSide` (sourceSide / destinationSide is at most 3: the sides
// of consecutive levels). Destination pixel i covers [i s / d, (i + 1) s / d)
// of the source, and the weight of source pixel j is its overlap with that
// interval divided by s / d, computed exactly in integers.
std::vector<FootprintTaps> footprintTaps(uint32_t sourceSide, uint32_t destinationSide);

// The rows of a level as vectors: fills 3 x width floats (x, y, z of each
// pixel) with row `y`, counted from the top.
struct VectorRows {
    const void* context = nullptr;
    void (*row)(const void* context, uint32_t y, float* xyz) = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};

// An allocator whose new elements are left uninitialised: a level's rows
// are written whole by the thread that makes them, so its pages are touched
// once, by the threads, and not first filled with zeros by one of them.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using LevelFloats = std::vector<float, UninitialisedAllocator<float>>;

// A level below the top: its vectors, row after row, 3 floats a pixel.
struct VectorLevel {
    uint32_t width = 0;
    uint32_t height = 0;
    LevelFloats xyz;
};

// The rows of `level` as VectorRows (the level must outlive them).
VectorRows rowsOf(const VectorLevel& level);

// Makes the level below `above` in `below`, sharing the rows out among
// `workers` threads. False when there is no memory for it.
bool makeNextLevel(const VectorRows& above, bool keepLength, unsigned workers, VectorLevel& below);

// A single channel (alpha) of a level: its samples as floats, row after
// row, on the picture's own scale.
struct ScalarLevel {
    uint32_t width = 0;
    uint32_t height = 0;
    LevelFloats values;
};

// Makes the level below `above` in `below` as makeNextLevel does, each
// sample the area-weighted average of the samples its footprint covers
// (nothing is re-normalised). False when there is no memory for it.
bool makeNextScalarLevel(const ScalarLevel& above, unsigned workers, ScalarLevel& below);

// A vector scaled to unit length as the re-normalisation scales it (the
// zero vector stays zero).
void normalizeVector(float (&xyz)[3]);

// A component stored as a sample, as the re-normalisation stores it: the
// integer part of c x 127 + 128 (8 bits) or c x 32767 + 32768 (16 bits),
// held to the sample's range.
uint16_t encodeComponent(float c, int sampleBits);
// encodeComponent over `count` components.
void encodeComponents(const float* components, size_t count, int sampleBits, uint16_t* samples);
