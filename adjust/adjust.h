// The arithmetic at the heart of the tool: channel inversion and
// re-normalisation of tangent-space normals stored as red, green, blue bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

struct AdjustOptions {
    int32_t invertRed;    // only 1 counts as on
    int32_t invertGreen;
    int32_t invertBlue;
    int32_t renormalize;
    float scale;          // applied to X and Y before re-normalising
};

inline constexpr AdjustOptions defaultAdjustOptions{0, 0, 0, 0, 1.0f};

struct Vector3 {
    float x, y, z;
};

// How the re-normalisation reads and writes samples of `Sample` (uint8_t or
// uint16_t): a sample v stands for (v - c) x K, c the centre (128, or 32768
// at 16 bits) and K the float nearest 1 / (c - 1); a component t is written
// as the integer part of t x (c - 1) + c.
template <typename Sample>
struct SampleEncoding {
    static constexpr int32_t centre = (int32_t{static_cast<Sample>(~Sample{0})} + 1) / 2;
    static constexpr float unit = 1.0f / static_cast<float>(centre - 1);
    static constexpr double steps = centre - 1, middle = centre;
    static constexpr double top = static_cast<Sample>(~Sample{0});
};

// The component a sample's value stands for, rounded to float. `v` is a
// whole sample, or a value between samples (one read back through a
// transfer curve) as a double.
template <typename Sample, typename Value>
inline float decodeSample(Value v) {
    return static_cast<float>(v - static_cast<Value>(SampleEncoding<Sample>::centre)) * SampleEncoding<Sample>::unit;
}

// A component t written as a sample, as the re-normalisation writes one:
// the integer part of t x (c - 1) + c, clamped to the sample's range (0
// for NaN), for components that are not normalised here (floating-point
// files).
template <typename Sample>
inline Sample encodeComponent(double t) {
    const double v = t * SampleEncoding<Sample>::steps + SampleEncoding<Sample>::middle;
    if (!(v > 0.0)) return 0;
    if (v >= SampleEncoding<Sample>::top) return static_cast<Sample>(~Sample{0});
    return static_cast<Sample>(static_cast<int32_t>(v));
}

double squaredLength(Vector3 v);
double vectorLength(Vector3 v);
Vector3 normalized(Vector3 v);

// Inverts and re-normalises the pixels of an Image in place, at 8 or 16 bits
// a sample (the fourth sample of a pixel, padding or alpha, is left alone).
// Nothing happens while `adjustLocked` is set.
void adjustPixels(Image* image, const AdjustOptions& options);

// Adjusts `height` rows of `width` blue-green-red pixels, 3 bytes each, the
// rows `stride` bytes apart, in place and on the calling thread alone: each
// pixel gets the bytes adjustPixels gives it in red-green-blue order. For
// the streaming road, which adjusts the rows of BMP and Targa files as the
// files hold them.
void adjustBgrRows(uint8_t* rows, size_t width, size_t height, size_t stride, const AdjustOptions& options);

// The same for rows of red-green-blue pixels, with alpha after them when
// `channels` is 4 (left alone), as a PNG file holds them.
void adjustRgbRows(uint8_t* rows, size_t width, size_t height, size_t stride, size_t channels,
                   const AdjustOptions& options);

// Normalises `count` vectors (x[i], y[i], z[i]) as adjustPixels normalises
// the vectors it re-normalises and encodes them as it encodes them, into
// the first three samples of `count` pixels of `step` samples from `out`
// (the others are left alone). For vectors that are not read straight from
// samples: the check's repairs, which rebuild Z or undo a transfer first.
void renormalizeVectors(const double* x, const double* y, const double* z, size_t count, uint8_t* out, size_t step);
void renormalizeVectors(const double* x, const double* y, const double* z, size_t count, uint16_t* out, size_t step);

// Adjusts `count` pixels of 16-bit words (red, green, blue and, when
// `channels` is 4, alpha, left alone) in place on the calling thread, as
// adjustPixels adjusts a 16-bit picture.
void adjustWordPixels(uint16_t* words, size_t count, size_t channels, const AdjustOptions& options);
