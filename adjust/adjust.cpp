#include "adjust/adjust.h"

#include <cmath>
#include <cstddef>

namespace {

// The 32-bit float nearest to 1/127: one step of a byte away from the centre.
constexpr double byteToUnit = static_cast<double>(1.0f / 127.0f);

double squared(double value) { return value * value; }

// Re-normalises one pixel whose (already inverted) bytes are p[0..2]. All
// arithmetic is double; values are rounded to float at the decoded and scaled
// components, the length and the normalised components.
inline void renormalizePixel(uint8_t* p, double scale) {
    const float x = static_cast<float>(static_cast<float>((p[0] - 128) * byteToUnit) * scale);
    const float y = static_cast<float>(static_cast<float>((p[1] - 128) * byteToUnit) * scale);
    const float z = static_cast<float>((p[2] - 128) * byteToUnit);
    const Vector3 n = normalized({x, y, z});
    // Truncation, then the low 8 bits: a component of -1 encodes as 1.
    p[0] = static_cast<uint8_t>(static_cast<int>(n.x * 127.0 + 128.0));
    p[1] = static_cast<uint8_t>(static_cast<int>(n.y * 127.0 + 128.0));
    p[2] = static_cast<uint8_t>(static_cast<int>(n.z * 127.0 + 128.0));
}

}  // namespace

double squaredLength(Vector3 v) { return squared(v.x) + squared(v.y) + squared(v.z); }

double vectorLength(Vector3 v) {
    const double s = squaredLength(v);
    return s == 0.0 ? 0.0 : std::sqrt(s);
}

Vector3 normalized(Vector3 v) {
    const double length = vectorLength(v);
    if (!(length > 0.0)) return {0.0f, 0.0f, 0.0f};
    const double q = 1.0 / static_cast<double>(static_cast<float>(length));
    return {static_cast<float>(q * v.x), static_cast<float>(q * v.y), static_cast<float>(q * v.z)};
}

void adjustPixels(Image* image, const AdjustOptions& options) {
    if (!image || !image->pixels || image->adjustLocked != 0) return;
    if (image->bitsPerPixel != 24 && image->bitsPerPixel != 32) return;
    const uint8_t invert[3] = {static_cast<uint8_t>(options.invertRed == 1 ? 0xFF : 0),
                               static_cast<uint8_t>(options.invertGreen == 1 ? 0xFF : 0),
                               static_cast<uint8_t>(options.invertBlue == 1 ? 0xFF : 0)};
    const bool renormalize = options.renormalize == 1;
    if (!renormalize && !invert[0] && !invert[1] && !invert[2]) return;
    const double scale = options.scale;
    const size_t step = image->bitsPerPixel == 24 ? 3 : 4;
    const size_t width = image->width > 0 ? static_cast<size_t>(image->width) : 0;
    const size_t height = image->height > 0 ? static_cast<size_t>(image->height) : 0;
    const size_t dataSize = image->dataSize;

    // The walk stops for good at the first pixel whose third byte would lie
    // at or past dataSize.
    int64_t offset = 0;
    const int64_t rowAdvance = static_cast<int64_t>(width * step) + image->rowPad;
    for (size_t row = 0; row < height; ++row, offset += rowAdvance) {
        if (offset < 0 || static_cast<uint64_t>(offset) + 2 >= dataSize) return;
        const size_t room = (dataSize - 3 - static_cast<size_t>(offset)) / step + 1;
        const size_t count = room < width ? room : width;
        uint8_t* p = image->pixels + offset;
        uint8_t* const end = p + count * step;
        if (renormalize) {
            for (; p != end; p += step) {
                p[0] ^= invert[0];  // 255 - v
                p[1] ^= invert[1];
                p[2] ^= invert[2];
                renormalizePixel(p, scale);
            }
        } else {
            for (; p != end; p += step) {
                p[0] ^= invert[0];
                p[1] ^= invert[1];
                p[2] ^= invert[2];
            }
        }
        if (count < width) return;
    }
}
