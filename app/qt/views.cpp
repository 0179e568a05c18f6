#include "app/qt/views.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

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

PreviewCanvas::PreviewCanvas(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

QRect PreviewCanvas::imageArea() const {
    if (!session || !session->image.bitmap || session->image.width <= 0 || session->image.height <= 0) return {};
    // The image's size in the screen's pixels, as the window is sized.
    const double ratio = devicePixelRatioF();
    const int width = std::max(1, static_cast<int>(session->image.width / ratio + 0.5));
    const int height = std::max(1, static_cast<int>(session->image.height / ratio + 0.5));
    const ViewRect placed = placeThumbnail(this->width(), this->height(), width, height);
    return {placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top};
}

void PreviewCanvas::setLit(bool lit) {
    if (lit == lit_) return;
    lit_ = lit;
    setCursor(lit ? Qt::CrossCursor : Qt::ArrowCursor);
    if (!lit) {
        // Nothing is kept for a view that is not shown.
        normals_ = DisplayNormals{};
        shaded_ = QImage();
    }
    shadedCurrent_ = false;
    update();
}

void PreviewCanvas::setConvention(GreenConvention convention) {
    if (convention == convention_) return;
    convention_ = convention;
    shadedCurrent_ = false;
    update();
}

void PreviewCanvas::forgetNormals() {
    normals_ = DisplayNormals{};
    shadedCurrent_ = false;
    update();
}

bool PreviewCanvas::shade(const QRect& area, QPointF& at) {
    const double ratio = devicePixelRatioF();
    const QSize whole(static_cast<int>(std::lround(area.width() * ratio)),
                      static_cast<int>(std::lround(area.height() * ratio)));
    // Only what the screens can show of the image: a picture larger than
    // the screen costs no more than the screen.
    QRect shown = area;
    if (const QScreen* display = screen()) {
        const QRect desktop = display->virtualGeometry();
        shown = area.intersected(QRect(mapFromGlobal(desktop.topLeft()), desktop.size()));
    }
    if (shown.isEmpty()) return false;
    shown.translate(-area.topLeft());
    const int left = static_cast<int>(std::floor(shown.left() * ratio));
    const int top = static_cast<int>(std::floor(shown.top() * ratio));
    const int right = std::min(whole.width(), static_cast<int>(std::ceil((shown.left() + shown.width()) * ratio)));
    const int bottom = std::min(whole.height(), static_cast<int>(std::ceil((shown.top() + shown.height()) * ratio)));
    const QRect part(left, top, right - left, bottom - top);
    if (normals_.whole != whole || normals_.part != part) {
        shadedCurrent_ = false;
        if (!decodeDisplayNormals(session->image, whole, part, normals_)) return false;
    }
    if (shaded_.size() != part.size()) {
        shaded_ = QImage(part.size(), QImage::Format_RGB32);
        shaded_.setDevicePixelRatio(ratio);
        shadedCurrent_ = false;
    }
    if (!shadedCurrent_) {
        shadeNormals(normals_, light_, convention_, shaded_);
        shadedCurrent_ = true;
    }
    at = QPointF(area.left() + left / ratio, area.top() + top / ratio);
    return true;
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = imageArea();
    if (area.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Black around the image, where the window is larger than it.
    const QRegion around = QRegion(rect()).subtracted(area);
    for (const QRect& part : around) painter.fillRect(part, Qt::black);
    QPointF at;
    if (lit_ && shade(area, at)) {
        painter.fillRect(area, Qt::black);  // what is off the screen
        painter.drawImage(at, shaded_);
        return;
    }
    drawDisplayBitmap(painter, session->image.bitmap, QRectF(area));
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!lit_) return;
    const QRect area = imageArea();
    if (area.isEmpty()) return;
    light_ = lightFromPointer(event->position(), QRectF(area));
    shadedCurrent_ = false;
    update();
}

PreviewWindow::PreviewWindow() : QWidget(nullptr, Qt::Window) {
    setWindowTitle(QStringLiteral("Preview"));
    setAttribute(Qt::WA_QuitOnClose, false);
    canvas_ = new PreviewCanvas(this);
    canvas_->setObjectName(QStringLiteral("picture"));
    bar_ = new QWidget(this);
    lit_ = new QCheckBox(QStringLiteral("&Lit"), bar_);
    lit_->setObjectName(QStringLiteral("lit"));
    lit_->setToolTip(QStringLiteral("Shade the map by a light that comes from the side of the mouse pointer"));
    green_ = new QComboBox(bar_);
    green_->setObjectName(QStringLiteral("litGreen"));
    green_->addItem(QString(), static_cast<int>(GreenConvention::unknown));
    green_->addItem(QStringLiteral("OpenGL (Y+)"), static_cast<int>(GreenConvention::openGl));
    green_->addItem(QStringLiteral("DirectX (Y-)"), static_cast<int>(GreenConvention::directX));
    green_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    green_->setToolTip(QStringLiteral("How the lit view reads green: read with the wrong convention, a map shows "
                                      "its bumps as dents"));
    green_->setEnabled(false);
    auto* barLayout = new QHBoxLayout(bar_);
    barLayout->setContentsMargins(6, 3, 6, 3);
    barLayout->addWidget(lit_);
    barLayout->addWidget(green_);
    barLayout->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(canvas_, 1);
    layout->addWidget(bar_);
    imageChanged(GreenConvention::unknown);
    connect(lit_, &QCheckBox::toggled, this, [this] { followChoices(); });
    connect(green_, &QComboBox::currentIndexChanged, this, [this] { followChoices(); });
}

void PreviewWindow::imageChanged(GreenConvention detected) {
    detected_ = detected;
    switch (detected) {
        case GreenConvention::openGl: green_->setItemText(0, QStringLiteral("As detected: OpenGL (Y+)")); break;
        case GreenConvention::directX: green_->setItemText(0, QStringLiteral("As detected: DirectX (Y-)")); break;
        case GreenConvention::unknown:
            green_->setItemText(0, QStringLiteral("Unclear: read as OpenGL (Y+)"));
            break;
    }
    canvas_->forgetNormals();
    followChoices();
}

void PreviewWindow::followChoices() {
    const auto chosen = static_cast<GreenConvention>(green_->currentData().toInt());
    canvas_->setConvention(chosen != GreenConvention::unknown ? chosen
                           : detected_ != GreenConvention::unknown ? detected_
                                                                    : GreenConvention::openGl);
    green_->setEnabled(lit_->isChecked());
    canvas_->setLit(lit_->isChecked());
}

QRect PreviewWindow::imageArea() const { return canvas_->imageArea().translated(canvas_->pos()); }

QSize PreviewWindow::imageSize() const {
    // At the image's size in the screen's pixels.
    const double ratio = devicePixelRatioF();
    return {static_cast<int>(session->image.width / ratio + 0.5), static_cast<int>(session->image.height / ratio + 0.5)};
}

// The picture area at the image's size, the bar under it, and never narrower
// than the bar needs.
QSize PreviewWindow::windowSizeFor(QSize image) const {
    return {std::max(image.width(), bar_->minimumSizeHint().width()), image.height() + bar_->sizeHint().height()};
}

void PreviewWindow::showImage() {
    if (!placed_) {
        move(0, 0);
        placed_ = true;
    }
    resize(windowSizeFor(imageSize()));
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
    update();
}

void PreviewWindow::fitToImage() {
    if (!isVisible() || !session || !session->loaded) return;
    if (isMinimized()) showNormal();
    resize(windowSizeFor(imageSize()));
    raise();
    update();
}
