// Laying a detail normal map over a base normal map.
#pragma once

#include "generate/generate_options.h"
#include "image/image.h"

struct UnitNormal {
    double x, y, z;
};

struct BlendOptions {
    BlendMode mode = BlendMode::rnm;
    // K: the detail's slopes x / z and y / z are multiplied by K before the
    // blend (0 leaves the base alone, 2 doubles the detail's relief).
    double strength = 1.0;
    // The detail's y negated as it is read: a detail of the other green
    // convention laid over the base in the base's.
    bool invertDetailGreen = false;
};

// The blend of unit normals t (base) and u (detail, strength already
// applied), not yet normalised:
//   rnm:      t' = t + (0, 0, 1), u' = (-ux, -uy, uz), r = t' (t' . u') / t'z - u'
//   whiteout: (tx + ux, ty + uy, tz uz)
//   udn:      (tx + ux, ty + uy, tz)
//   linear:   t + u
UnitNormal blendNormals(UnitNormal base, UnitNormal detail, BlendMode mode);

// Lays `detail` over `base` in place: both Images of normals in the same
// convention (or the detail's green inverted by the options), in any layout
// the row view takes, at 8 or 16 bits each. A detail smaller than the base
// tiles across it (a larger one is cut). Each result is written as re-normalisation writes a unit vector at
// the base's depth; the base's alpha stays.
bool blendDetail(Image* base, const Image& detail, const BlendOptions& options, GenerateError* error);
