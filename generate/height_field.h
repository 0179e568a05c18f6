// Height fields: a grid of float heights, read from a picture's samples or
// handed over as floats, and written back as a grey picture.
#pragma once

#include <cstdint>
#include <functional>

#include "generate/generate_options.h"
#include "image/image.h"
#include "image/rows.h"

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

// False (notFinite, emptyPicture) unless the field has pixels and every
// height is a finite number.
bool checkHeightField(const HeightField& field, GenerateError* error);

struct HeightRange {
    float low = 0.0f;
    float high = 0.0f;
};
// The lowest and highest heights of a non-empty field.
HeightRange heightRange(const HeightField& field);

// A 16-bit grey picture (red = green = blue) of the field, the lowest height
// black and the highest white (all black when the field is flat).
bool heightToGreyImage(const HeightField& field, Image* out, GenerateError* error);

// A 16-bit grey picture of a field in texel widths, as height to normal
// reads it back with the same heightScale: the lowest height black, and one
// step of white per heightScale texel widths above it; higher is white.
bool heightToScaledGreyImage(const HeightField& field, double heightScale, Image* out, GenerateError* error);
