// The 16 samples of a 4 x 4 block as vectors, for the block encoders'
// searches (encode/bc4_encoder.cpp, encode/colour_encoder.cpp), which
// measure a candidate block's error over all 16 samples at once.
//
// GCC's and Clang's vector extension: each search is written once for a
// vector width and built three times: 16 lanes for AVX-512, 8 for AVX2 and 4
// for every other processor, the widest the processor runs being chosen at
// the first call. The three give the same blocks: the lanes only change how
// many samples one instruction takes, and every sum is added in one order.
#pragma once

#include <cstdint>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define QUORVEL_WIDE_LANES 1
#endif
#define QUORVEL_INLINE inline __attribute__((always_inline))

namespace block_lanes {

template <int width>
struct Lanes {
    typedef float Floats __attribute__((vector_size(4 * width)));
    typedef int32_t Ints __attribute__((vector_size(4 * width)));
    static constexpr int parts = 16 / width;
};

// The 16 samples of a block (or any 16 numbers), in parts of `width` lanes.
template <int width>
struct Sixteen {
    typename Lanes<width>::Floats part[Lanes<width>::parts];
};
template <int width>
struct SixteenInts {
    typename Lanes<width>::Ints part[Lanes<width>::parts];
};

template <int width>
QUORVEL_INLINE Sixteen<width> load(const float (&values)[16]) {
    Sixteen<width> out;
    std::memcpy(out.part, values, sizeof out.part);
    return out;
}

// Lane by lane, keeps the smaller of `least` and `e`, and `k` as the index
// wherever `e` was smaller (ties keep the earlier index).
template <typename Floats, typename Ints>
QUORVEL_INLINE void keepCloser(Floats& least, Ints& index, const Floats& e, int32_t k) {
    const Ints closer = e < least;
    least = closer ? e : least;
    index = closer ? Ints{} + k : index;
}

// Vectors of 8, 4 and 2 floats, for adding lanes together.
typedef float Eight __attribute__((vector_size(32)));
typedef float Four __attribute__((vector_size(16)));
typedef float Two __attribute__((vector_size(8)));

// Half of a vector plus its other half.
template <typename Half, typename Whole>
QUORVEL_INLINE void fold(const Whole& whole, Half& out) {
    Half low, high;
    std::memcpy(&low, &whole, sizeof low);
    std::memcpy(&high, reinterpret_cast<const char*>(&whole) + sizeof low, sizeof high);
    out = low + high;
}

// The sum of the 16 numbers, added pairwise (number i to number i + 8, then
// i + 4, and so on), in the same order whatever the width.
template <int width>
QUORVEL_INLINE float total(const Sixteen<width>& x) {
    Four four;
    if constexpr (width == 16) {
        Eight eight;
        fold(x.part[0], eight);
        fold(eight, four);
    } else if constexpr (width == 8) {
        const Eight eight = x.part[0] + x.part[1];
        fold(eight, four);
    } else {
        four = (x.part[0] + x.part[2]) + (x.part[1] + x.part[3]);
    }
    Two two;
    fold(four, two);
    return two[0] + two[1];
}

// The nearest integer to a number from 0 to 255.
QUORVEL_INLINE int nearest(float x) { return static_cast<int>(x + 0.5f); }

template <int width>
QUORVEL_INLINE int32_t lane(const SixteenInts<width>& x, int i) {
    return x.part[i / width][i % width];
}

#ifdef QUORVEL_WIDE_LANES
// The lanes this processor runs: 16, 8 or 4.
inline int laneWidth() {
    static const int width = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return 16;
        if (__builtin_cpu_supports("avx2")) return 8;
        return 4;
    }();
    return width;
}
#endif

}  // namespace block_lanes
