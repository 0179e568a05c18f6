// The two views of the Session's image: the thumbnail box of the main window
// and the full-size Preview window. Both draw what the Session holds at the
// moment they paint; neither keeps a picture of its own.
#pragma once

#include <QFrame>
#include <QSize>
#include <QWidget>

#include "platform/platform.h"

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

// The top-level "Preview" window: the Session's image over the whole client
// area, which is sized to the image.
class PreviewWindow : public QWidget {
public:
    PreviewWindow();
    // Shows the window (at the screen's top left the first time), restored
    // when minimised, at the image's size, in front.
    void showImage();
    // Sets an open window back to the image's size and repaints it; a closed
    // window stays closed.
    void fitToImage();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize imageSize() const;
    bool placed_ = false;
};
