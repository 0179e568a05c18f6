// Normal to height: the height field whose normals best match a normal map.
#pragma once

#include "generate/generate_options.h"
#include "generate/height_field.h"
#include "image/image.h"

struct NormalToHeightOptions {
    // The map's green convention: y of the normal up the picture (OpenGL) or
    // down (DirectX).
    GreenConvention convention = GreenConvention::openGl;
    // wrap: the map tiles and so does the height (a Fourier solve); clamp:
    // free edges, for maps that do not tile (a cosine-transform solve).
    EdgeRule edges = EdgeRule::wrap;
    // The height is the least-squares fit for this filter's slopes, so that
    // height to normal with the same filter gives the map back as closely as
    // a height can.
    DerivativeFilter filter = DerivativeFilter::central;
    // z is held at or above this (of a unit normal) before the slopes
    // -x / z and -y / z are taken: a normal tilted beyond about 78 degrees,
    // lying flat or pointing down gives a slope of at most 4.9. Such normals
    // are mostly damage (seams of baked islands, compression), and a least-
    // squares fit would otherwise spread their huge slopes over the
    // neighbourhood.
    double minimumZ = 0.2;
};

// The height, in texel widths, whose slopes under the chosen filter are
// closest in least squares over the whole picture to the map's slopes
// p = -x / z and q = -y / z, with the mean height 0. The Image of
// normals (any layout the row view takes) is read at 8 or 16 bits (alpha ignored). `field` is allocated here.
// Where the filter sees no slope at all (a checkerboard under central
// differences), a faint penalty on curvature picks the smoothest height.
bool heightFromNormals(const Image& normals, const NormalToHeightOptions& options, HeightField* field,
                       GenerateError* error);
