// Pictures of 32-bit floating-point samples: heights (and other data) stored
// as they are, in the file's own units, for the roads that want numbers
// rather than 8- or 16-bit samples (height to normal). Read from OpenEXR
// files (half or float channels) and from TIFF files whose samples are
// 32-bit IEEE floats.
#pragma once

#include <cstdint>
#include <span>

#include "readers/readers.h"

struct FloatPicture {
    float* samples = nullptr;  // owned (malloc): width x height x channels, top row first, interleaved
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;  // 1 (grey or one named channel), 3 (RGB) or 4 (RGBA)

    FloatPicture() = default;
    FloatPicture(const FloatPicture&) = delete;
    FloatPicture& operator=(const FloatPicture&) = delete;
    ~FloatPicture();
    void reset();
};

// OpenEXR: the first part of the file (scanline or tiled, level 0 of a tiled
// one), its data window, through the system's OpenEXR library (none on
// Windows, where every file fails as refusedKind). A part of one channel,
// whatever its name (Y, Z, height...), gives 1 channel; one of exactly R, G
// and B (and A) gives 3 (4). Half, float and unsigned integer channels are
// all read as floats, exactly; the samples are not checked (NaN and the
// infinities come through). `picture` is reset first. On failure
// `failure` says why: refusedKind naming the kind (deep data, other
// channels, subsampled channels), or damaged, with the library's reason in
// its text where it gave one.
bool readExr(std::span<const uint8_t> file, FloatPicture* picture, LoadFailure& failure);

// True when `path`'s extension names a file whose heights are read into a
// FloatPicture rather than an Image: .exr, .tif and .tiff, in any case.
bool isFloatPictureName(const char* path);

// Reads the whole file at `path` (as readImageFile reads it) and decodes it
// with the float reader its extension names (readExr for .exr, readFloatTiff
// for .tif and .tiff); `failure` says why a load failed, naming the format.
bool readFloatPictureFile(const char* path, FloatPicture* picture, LoadFailure& failure);

// Reads the first picture of a TIFF file as numbers: every picture that
// readTiff reads, by the same rules (palettes looked up, white-is-zero grey
// turned round, associated alpha divided out), but with floating-point
// samples (32-bit, or 16-bit halves) as stored, NaN included, and whole
// numbers as v / max (0 to 1). Grey gives 1 channel, grey with alpha 4
// (grey repeated), RGB and palettes 3, with alpha 4. On failure `picture`
// is reset and `failure` names a kind that is not read, as for readTiff.
bool readFloatTiff(std::span<const uint8_t> file, FloatPicture* picture, LoadFailure& failure);
