#include "app/qt/views.h"

#include <QImage>
#include <QPainter>

#include "app/session.h"
#include "app/view_geometry.h"
#include "image/image.h"

void drawDisplayBitmap(QPainter& painter, BitmapHandle bitmap, const QRectF& target) {
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info) || !info.bits || info.bitsPerPixel != 24 || info.width <= 0 ||
        info.height == 0 || target.isEmpty())
        return;
    const int width = info.width;
    const int height = info.height < 0 ? -info.height : info.height;
    // A view of the bitmap's own memory; the rows are read in their stored
    // order and the painter turns a bottom-up bitmap the right way up.
    const QImage rows(info.bits, width, height, static_cast<qsizetype>(displayStride(static_cast<uint32_t>(width))),
                      QImage::Format_BGR888);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (info.height > 0) {
        painter.translate(target.left(), target.bottom());
        painter.scale(target.width() / width, -target.height() / height);
    } else {
        painter.translate(target.left(), target.top());
        painter.scale(target.width() / width, target.height() / height);
    }
    painter.drawImage(QPointF(0, 0), rows);
    painter.restore();
}

ThumbnailView::ThumbnailView(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ThumbnailView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        const QRect box = contentsRect();
        painter.fillRect(box, palette().color(QPalette::Button));
        BitmapInfo info;
        if (session && session->loaded == 1 && platformQueryBitmap(session->thumbnail.bitmap, info)) {
            const int bitmapHeight = info.height < 0 ? -info.height : info.height;
            const ViewRect placed = placeThumbnail(box.width(), box.height(), info.width, bitmapHeight);
            drawDisplayBitmap(painter, session->thumbnail.bitmap,
                              QRectF(box.left() + placed.left, box.top() + placed.top, placed.right - placed.left,
                                     placed.bottom - placed.top));
        }
    }
    QFrame::paintEvent(event);  // the sunken edge
}

PreviewWindow::PreviewWindow() : QWidget(nullptr, Qt::Window) {
    setWindowTitle(QStringLiteral("Preview"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_QuitOnClose, false);
}

QSize PreviewWindow::imageSize() const {
    // At the image's size in the screen's pixels.
    const double ratio = devicePixelRatioF();
    return {static_cast<int>(session->image.width / ratio + 0.5), static_cast<int>(session->image.height / ratio + 0.5)};
}

void PreviewWindow::showImage() {
    if (!placed_) {
        move(0, 0);
        placed_ = true;
    }
    resize(imageSize());
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
    update();
}

void PreviewWindow::fitToImage() {
    if (!isVisible() || !session || !session->loaded) return;
    if (isMinimized()) showNormal();
    resize(imageSize());
    raise();
    update();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!session || !session->image.bitmap) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    drawDisplayBitmap(painter, session->image.bitmap, QRectF(rect()));
}
