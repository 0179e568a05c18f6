// The two views of the Session's image: the thumbnail box of the main window
// and the full-size Preview window. Both draw what the Session holds at the
// moment they paint; only the Preview's lit view keeps something of its own,
// the normals it decodes once per picture.
#pragma once

#include <QFrame>
#include <QImage>
#include <QSize>
#include <QWidget>

#include "app/qt/lit_view.h"
#include "detect/green_convention.h"
#include "platform/platform.h"

class QCheckBox;
class QComboBox;
class QPainter;

// Draws all of a display bitmap (24-bit, bottom row first, blue-green-red,
// rows padded to 4 bytes) over `target`, nearest pixel, straight from the
// bitmap's memory. Nothing is drawn for a null bitmap or one without
// addressable 24-bit memory.
void drawDisplayBitmap(QPainter& painter, BitmapHandle bitmap, const QRectF& target);

// The sunken box in the "Preview" group: button face, and the Session's
// thumbnail fitted and centred in it once something has loaded.
class ThumbnailView : public QFrame {
public:
    explicit ThumbnailView(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The picture area of the Preview window: the Session's image fitted and
// centred (at its own size when the area is), black around it; or, in the
// lit view, the map shaded by a light that comes from the pointer's side.
class PreviewCanvas : public QWidget {
public:
    explicit PreviewCanvas(QWidget* parent);
    // Where the image is drawn.
    QRect imageArea() const;
    void setLit(bool lit);
    // How the lit view reads green (unknown: as OpenGL).
    void setConvention(GreenConvention convention);
    // The picture changed: its normals are decoded again when next shown lit.
    void forgetNormals();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // The lit picture of the part of the image drawn at `area` that is on
    // the screen, shaded again when the light moved, and where it goes;
    // false when none of the image is on the screen or it cannot be read
    // as normals.
    bool shade(const QRect& area, QPointF& at);

    bool lit_ = false;
    GreenConvention convention_ = GreenConvention::openGl;
    LightDirection light_ = defaultLight();
    DisplayNormals normals_;  // at the display pixels of the image area on the screen
    QImage shaded_;
    bool shadedCurrent_ = false;
};

// The top-level "Preview" window: the Session's image over the picture area,
// which is sized to the image, and under it a bar with the lit view's
// controls.
class PreviewWindow : public QWidget {
public:
    PreviewWindow();
    // Shows the window (at the screen's top left the first time), restored
    // when minimised, at the image's size, in front.
    void showImage();
    // Sets an open window back to the image's size and repaints it; a closed
    // window stays closed.
    void fitToImage();
    // The Session's image changed (a load, an adjustment, a made map);
    // `detected` is its green convention as the convention line tells it,
    // which the lit view follows unless told otherwise.
    void imageChanged(GreenConvention detected);

    PreviewCanvas& canvas() { return *canvas_; }
    // Where the image is drawn, in the window.
    QRect imageArea() const;

private:
    QSize imageSize() const;
    QSize windowSizeFor(QSize image) const;
    void followChoices();

    PreviewCanvas* canvas_ = nullptr;
    QWidget* bar_ = nullptr;
    QCheckBox* lit_ = nullptr;
    QComboBox* green_ = nullptr;
    GreenConvention detected_ = GreenConvention::unknown;
    bool placed_ = false;
};
