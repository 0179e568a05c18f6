#include "adjust/scale_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

float parseScaleText(const char* text) {
    if (!text || !*text) return 1.0f;
    char field[128] = {};
    std::strncpy(field, text, sizeof field - 1);
    // Only decimal text counts: a hexadecimal prefix reads as its leading 0.
    const char* p = field;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) return 0.0f;
    const double value = std::strtod(field, nullptr);
    // A value that is not finite once narrowed must never reach an integer
    // conversion later: it counts as no number at all.
    // Magnitudes from 2^128 - 2^103 up round to infinity as floats.
    if (!std::isfinite(value) || std::fabs(value) >= 0x1.ffffffp127) return 0.0f;
    return static_cast<float>(value);
}
