#include "app/qt/dialog_layout.h"

#include <cmath>

namespace {

// value x base / divisor, rounded half away from zero.
int scaleUnits(int value, double base, int divisor) {
    const double exact = value * base / divisor;
    return static_cast<int>(exact < 0 ? -std::floor(-exact + 0.5) : std::floor(exact + 0.5));
}

}  // namespace

QRect dialogUnitsToPixels(const QRect& units, double dpi) {
    const double across = baseUnitWidth * dpi / 96.0;
    const double down = baseUnitHeight * dpi / 96.0;
    return {scaleUnits(units.x(), across, 4), scaleUnits(units.y(), down, 8), scaleUnits(units.width(), across, 4),
            scaleUnits(units.height(), down, 8)};
}
