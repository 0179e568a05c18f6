// The Preview's lit view: a normal map shaded by a directional light, Lambert
// over a little ambient, from normals decoded once at the resolution they are
// shown at, so that moving the light costs one pass of dot products.
#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <cstdint>
#include <vector>

#include "detect/green_convention.h"
#include "image/image.h"

class QImage;

// A light's direction, a unit vector towards the light: x to the right of
// the screen, y up it, z out of it towards the viewer.
struct LightDirection {
    float x = 0.0f;
    float y = 0.0f;
    float z = 1.0f;
};

// The light a pointer at `pointer` gives over a picture drawn at `area`: it
// comes from the pointer's side of the picture's middle, straight from the
// front at the middle and lower towards the edges (about 30 degrees above the
// surface at an edge's middle).
LightDirection lightFromPointer(QPointF pointer, const QRectF& area);

// The light the lit view starts with: from the top left.
LightDirection defaultLight();

// The unit normals of a picture drawn at width x height display pixels,
// each the nearest pixel of the picture (as a stretched drawing shows it),
// for the display pixels of `part` only (the part of the drawing on the
// screen). Decoded as re-normalisation decodes samples: red x, green y in
// the picture's own convention, blue z; a blue at or below the middle (Z
// missing) is rebuilt from x and y. Each normal is kept in four bytes, x, y
// and z as signed 1/127ths and one unused.
struct DisplayNormals {
    QSize whole;  // the drawing's display pixels
    QRect part;   // the display pixels decoded, within `whole`
    std::vector<int8_t> xyz;  // 4 a pixel of `part`, top row first
};

// False (and `normals` emptied) when the image holds no pixels the row view
// reads, or `part` holds no pixel of `whole`.
bool decodeDisplayNormals(const Image& image, QSize whole, QRect part, DisplayNormals& normals);

// Shades `normals` into `target` (32-bit, the size of their part, allocated
// by the caller) in grey: ambient + (1 - ambient) x max(0, n . light), with the
// green read as `convention` says (OpenGL: green up the screen; DirectX:
// down; unknown is read as OpenGL).
inline constexpr float litAmbient = 0.12f;
void shadeNormals(const DisplayNormals& normals, LightDirection light, GreenConvention convention, QImage& target);
