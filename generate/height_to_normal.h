// Height to normal: a tangent-space normal map from a height field.
#pragma once

#include "generate/generate_options.h"
#include "generate/height_field.h"
#include "image/image.h"

struct HeightToNormalOptions {
    // S: white (height 1) stands S texel widths above black; a float height
    // of one unit stands S texel widths high. The slope is S times the
    // difference of heights over one texel. Any finite value (0 gives a flat
    // map, a negative value turns the relief inside out).
    double heightScale = 1.0;
    DerivativeFilter filter = DerivativeFilter::sobel;
    EdgeRule edges = EdgeRule::wrap;
    // OpenGL: y of the normal points up the picture (a height rising towards
    // the top row gives green below the centre); DirectX: down.
    GreenConvention convention = GreenConvention::openGl;
    int outputBits = 16;  // 8 or 16 bits a sample
    // Alpha holds the height: a picture's sample scaled to the output depth,
    // or a float field's range mapped to 0 .. the largest sample.
    bool heightToAlpha = false;
};

// The normal at each texel is the unit vector of (-S dh/dx, -S dh/dy, 1),
// x to the right and y up (OpenGL) or down (DirectX) the picture, written as
// re-normalisation writes a unit vector. `out` is made here (startImage).
// Refuses a field with a NaN or infinite height (notFinite).
bool normalsFromHeight(const HeightField& field, const HeightToNormalOptions& options, Image* out,
                       GenerateError* error);

// The same from a picture's heights (heightFieldFromImage).
bool normalsFromHeightImage(const Image& image, HeightChannel channel, const HeightToNormalOptions& options,
                            Image* out, GenerateError* error);

// The derivative filter's slope kernel: `across` differentiates (applied to
// h[x - radius] .. h[x + radius]), `along` smooths in the other direction,
// and the sum of both divided by `divisor` is the slope. A ramp rising by 1
// a texel gives exactly 1.
struct DerivativeKernel {
    int radius;
    double across[5];
    double along[5];
    double divisor;
};
DerivativeKernel derivativeKernel(DerivativeFilter filter);
