// The sRGB transfer function (IEC 61966-2-1) on samples scaled to 0..1.
#pragma once

#include <cmath>

namespace check {

// sRGB-encoded value to linear light.
inline double srgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// Linear light to its sRGB encoding.
inline double linearToSrgb(double v) {
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

}  // namespace check
