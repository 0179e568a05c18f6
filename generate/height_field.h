// Height fields: a grid of float heights, read from a picture's samples or
// handed over as floats, and written back as a grey picture.
#pragma once

#include <cstdint>
#include <functional>

#include "generate/generate_options.h"
#include "image/image.h"
#include "image/rows.h"
#include "readers/float_picture.h"

// Hands every row of `rows` to `work(y, rgba)` as samples of the picture's
// own size, four a pixel (image/rows.h, readRowFull), spread over the cores
// in bands of at least `minPerBand` rows. False when a band has no memory
// for its row.
bool readRowsInBands(const ImageRows& rows, uint32_t minPerBand,
                     const std::function<void(uint32_t y, const uint16_t* rgba)>& work);

// width x height heights, top row first, rows unpadded. 0 stands lowest.
// From a picture's samples a height is v / 255 or v / 65535 (0 .. 1); float
// heights are taken as they are. `values` is owned when this module
// allocated it (release with releaseHeightField), otherwise borrowed.
struct HeightField {
    float* values = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    bool fromSamples = false;  // values are samples / largest sample, 0 .. 1
};

// Allocates an uninitialised field of width x height (released first).
bool allocateHeightField(HeightField* field, uint32_t width, uint32_t height, GenerateError* error);
void releaseHeightField(HeightField* field);

// The heights of an Image (any layout the row view takes; 8 or 16 bits,
// with or without alpha) in the channel asked for. With
// HeightChannel::automatic a picture whose red, green and blue agree at every
// pixel is read as grey, any other as luma.
bool heightFieldFromImage(const Image& image, HeightChannel channel, HeightField* field, GenerateError* error);

// The heights of a FloatPicture (from any float reader), as they are, in
// the file's own units (fromSamples false): the one channel of a grey
// picture whatever the channel asked for (but alpha, which it has not);
// of a colour one the channel asked for, with HeightChannel::automatic
// green where red, green and blue agree at every pixel and luma
// otherwise. The heights are not checked (see findNonFinite).
bool heightFieldFromFloatPicture(const FloatPicture& picture, HeightChannel channel, HeightField* field,
                                 GenerateError* error);

// False (notFinite, emptyPicture) unless the field has pixels and every
// height is a finite number.
bool checkHeightField(const HeightField& field, GenerateError* error);

// How many heights are NaN or infinite, and where the first is (top row
// first, left to right), for the message that refuses them.
struct NonFiniteHeights {
    uint64_t count = 0;
    uint32_t x = 0, y = 0;
};
NonFiniteHeights findNonFinite(const HeightField& field);

struct HeightRange {
    float low = 0.0f;
    float high = 0.0f;
};
// The lowest and highest heights of a non-empty field.
HeightRange heightRange(const HeightField& field);

// The field as 16-bit grey samples, one a pixel (width x height, top row
// first, unpadded) in `out`. With heightScale 0 the lowest height is 0 and
// the highest 65535 (all 0 when the field is flat); with heightScale S > 0
// (a field in texel widths, read back by height to normal with the same
// S) the lowest is 0 and each S texel widths above it one step of 65535,
// higher heights 65535.
bool heightToGreySamples(const HeightField& field, double heightScale, uint16_t* out, GenerateError* error);

// Makes each height h of a field in texel widths (h - lowest) / S, in
// place: float heights that height to normal reads back with the same
// heightScale S (> 0).
bool heightAboveLowest(HeightField* field, double heightScale, GenerateError* error);
