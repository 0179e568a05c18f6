// The main window's layout: the controls of the Windows dialog template
// (resources/quorvel.rc, dialog 102) in dialog units, and their conversion
// to pixels as Windows makes it for the template's font.
#pragma once

#include <QRect>

enum class ControlKind { pushButton, groupBox, thumbnail, checkBox, label, edit };

struct DialogControl {
    // The control's identifier in resources/resource.h, or its text for the
    // controls that the template gives no identifier; the widget's object
    // name.
    const char* name;
    ControlKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
};

// In the template's order, which is also the tab order. The last row, the
// line with the detected green convention under the thumbnail, is the Linux
// window's own.
inline constexpr DialogControl dialogControls[] = {
    {"IDC_OPEN", ControlKind::pushButton, "Open...", 235, 10, 50, 14},
    {"IDC_SAVE", ControlKind::pushButton, "Save...", 235, 30, 50, 14},
    {"IDCANCEL", ControlKind::pushButton, "Quit", 235, 50, 50, 14},
    {"IDC_PREVIEW", ControlKind::pushButton, "Preview", 235, 70, 50, 14},
    {"Preview", ControlKind::groupBox, "Preview", 5, 5, 220, 210},
    {"IDC_THUMBNAIL", ControlKind::thumbnail, "", 15, 20, 200, 185},
    {"Color Options", ControlKind::groupBox, "Color Options", 5, 220, 105, 50},
    {"IDC_INVERT_RED", ControlKind::checkBox, "Invert red channel", 10, 235, 75, 8},
    {"IDC_INVERT_GREEN", ControlKind::checkBox, "Invert green channel", 10, 245, 85, 8},
    {"IDC_INVERT_BLUE", ControlKind::checkBox, "Invert blue channel", 10, 255, 80, 8},
    {"Misc Options", ControlKind::groupBox, "Misc Options", 120, 220, 105, 50},
    {"IDC_RENORMALIZE", ControlKind::checkBox, "Re-normalize map", 130, 235, 75, 8},
    {"scale:", ControlKind::label, "scale:", 130, 251, 20, 8},
    {"IDC_SCALE", ControlKind::edit, "", 155, 250, 45, 12},
    {"IDC_APPLY", ControlKind::pushButton, "Apply", 235, 250, 50, 14},
    {"convention", ControlKind::label, "", 15, 206, 200, 8},
};

// The template's client area.
inline constexpr int dialogWidthUnits = 292;
inline constexpr int dialogHeightUnits = 277;

// The template's font, 8-point MS Sans Serif, has dialog base units of 6 x 13
// pixels at 96 dots per inch: a horizontal unit is a quarter of the first, a
// vertical one an eighth of the second.
inline constexpr int baseUnitWidth = 6;
inline constexpr int baseUnitHeight = 13;

// A rectangle in dialog units as pixels at `dpi` dots per inch. Position and
// size are converted separately and rounded half away from zero, as Windows
// does when it creates a dialog's controls, so at 96 dpi the thumbnail of
// 200 x 185 units becomes 300 x 301 pixels.
QRect dialogUnitsToPixels(const QRect& units, double dpi);

// The point size of the window's font: the size at which the usual Linux
// interface fonts give the template's base unit width.
inline constexpr double dialogFontPoints = 7.5;
