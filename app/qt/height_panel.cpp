#include "app/qt/height_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/view_geometry.h"

// The sunken box of the panel's thumbnail: the map fitted and centred on
// button face, as the main window's thumbnail box draws it.
class MapThumbnail : public QFrame {
public:
    MapThumbnail(const QImage& picture, QWidget* parent) : QFrame(parent), picture_(picture) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(1);
        setFixedSize(side + 2, side + 2);
    }
    static constexpr int side = 256;

protected:
    void paintEvent(QPaintEvent* event) override {
        {
            QPainter painter(this);
            const QRect box = contentsRect();
            painter.fillRect(box, palette().color(QPalette::Button));
            if (!picture_.isNull()) {
                const ViewRect placed = placeThumbnail(box.width(), box.height(), picture_.width(), picture_.height());
                painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
                painter.drawImage(QRect(box.left() + placed.left, box.top() + placed.top, placed.right - placed.left,
                                        placed.bottom - placed.top),
                                  picture_);
            }
        }
        QFrame::paintEvent(event);
    }

private:
    const QImage& picture_;
};

namespace {

constexpr int sliderSteps = 1000;

// The slider is logarithmic: position p stands for 0.1 x 500^(p / 1000).
double scaleAt(int position) {
    return smallestHeightScale *
           std::pow(largestHeightScale / smallestHeightScale, static_cast<double>(position) / sliderSteps);
}
int positionOf(double scale) {
    const double share = std::log(scale / smallestHeightScale) / std::log(largestHeightScale / smallestHeightScale);
    return static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * sliderSteps));
}

// `field` averaged over blocks of `factor` x `factor` heights (the last
// blocks of a row or column over what they hold).
bool reduceHeightField(const HeightField& field, uint32_t factor, HeightField* reduced) {
    const uint32_t width = (field.width + factor - 1) / factor, height = (field.height + factor - 1) / factor;
    if (!allocateHeightField(reduced, width, height, nullptr)) return false;
    reduced->fromSamples = field.fromSamples;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t right = std::min(field.width, (x + 1) * factor);
            const uint32_t bottom = std::min(field.height, (y + 1) * factor);
            double sum = 0.0;
            for (uint32_t v = y * factor; v < bottom; ++v)
                for (uint32_t u = x * factor; u < right; ++u) sum += field.values[size_t{v} * field.width + u];
            const double count = static_cast<double>(right - x * factor) * (bottom - y * factor);
            reduced->values[size_t{y} * width + x] = static_cast<float>(sum / count);
        }
    return true;
}

}  // namespace

HeightMapPanel::HeightMapPanel(HeightField field, const QString& name, const HeightToNormalOptions& start,
                               QWidget* parent)
    : QDialog(parent), field_(field) {
    setObjectName(QStringLiteral("heightMapPanel"));
    setWindowTitle(QStringLiteral("Height Map - %1").arg(name));
    setAttribute(Qt::WA_DeleteOnClose);

    const uint32_t longest = std::max(field_.width, field_.height);
    if (longest > liveHeightSide) {
        reduction_ = (longest + liveHeightSide - 1) / liveHeightSide;
        if (!reduceHeightField(field_, reduction_, &reduced_)) reduction_ = 1;  // the whole height, slower
    }

    view_ = new MapThumbnail(thumbnail_, this);
    view_->setObjectName(QStringLiteral("thumbnail"));
    auto* size = new QLabel(QStringLiteral("%1 x %2 heights").arg(field_.width).arg(field_.height), this);
    size->setAlignment(Qt::AlignCenter);
    failure_ = new QLabel(this);
    failure_->setWordWrap(true);
    failure_->hide();

    filter_ = new QComboBox(this);
    filter_->setObjectName(QStringLiteral("filter"));
    for (const NamedChoice<DerivativeFilter>& choice : derivativeFilterNames) {
        filter_->addItem(QString::fromLatin1(choice.name.data(), static_cast<qsizetype>(choice.name.size())),
                         static_cast<int>(choice.value));
        filter_->setItemData(filter_->count() - 1,
                             QString::fromLatin1(choice.help.data(), static_cast<qsizetype>(choice.help.size())),
                             Qt::ToolTipRole);
    }
    filter_->setCurrentIndex(filter_->findData(static_cast<int>(start.filter)));
    filter_->setToolTip(QStringLiteral("How the slopes are taken from the heights"));

    scaleSlider_ = new QSlider(Qt::Horizontal, this);
    scaleSlider_->setObjectName(QStringLiteral("heightScaleSlider"));
    scaleSlider_->setRange(0, sliderSteps);
    scaleSlider_->setPageStep(sliderSteps / 10);
    scaleSlider_->setMinimumWidth(160);
    scale_ = new QDoubleSpinBox(this);
    scale_->setObjectName(QStringLiteral("heightScale"));
    scale_->setRange(smallestHeightScale, largestHeightScale);
    scale_->setDecimals(2);
    scale_->setStepType(QAbstractSpinBox::AdaptiveDecimalStepType);
    scale_->setValue(std::clamp(start.heightScale, smallestHeightScale, largestHeightScale));
    scaleSlider_->setValue(positionOf(scale_->value()));
    const QString scaleTip = QStringLiteral("How many texel widths white stands above black");
    scaleSlider_->setToolTip(scaleTip);
    scale_->setToolTip(scaleTip);
    auto* scaleRow = new QHBoxLayout;
    scaleRow->addWidget(scaleSlider_, 1);
    scaleRow->addWidget(scale_);

    wrap_ = new QCheckBox(QStringLiteral("&Wrap around the edges"), this);
    wrap_->setObjectName(QStringLiteral("wrap"));
    wrap_->setChecked(start.edges == EdgeRule::wrap);
    wrap_->setToolTip(QStringLiteral("For a height that tiles; cleared, the edge rows and columns are repeated"));

    convention_ = new QComboBox(this);
    convention_->setObjectName(QStringLiteral("convention"));
    convention_->addItem(QStringLiteral("OpenGL (Y+)"), static_cast<int>(GreenConvention::openGl));
    convention_->addItem(QStringLiteral("DirectX (Y-)"), static_cast<int>(GreenConvention::directX));
    convention_->setCurrentIndex(start.convention == GreenConvention::directX ? 1 : 0);
    convention_->setToolTip(QStringLiteral("Which way green points in the map made"));

    // Alt and the underlined letter reach the field beside each label.
    const auto label = [this](const char* text, QWidget* buddy) {
        auto* made = new QLabel(QString::fromLatin1(text), this);
        made->setBuddy(buddy);
        return made;
    };
    auto* form = new QFormLayout;
    form->addRow(label("&Filter:", filter_), filter_);
    form->addRow(label("Height &scale:", scale_), scaleRow);
    form->addRow(QString(), wrap_);
    form->addRow(label("&Green:", convention_), convention_);

    auto* left = new QVBoxLayout;
    left->addWidget(view_);
    left->addWidget(size);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addLayout(form);
    right->addWidget(failure_);
    right->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addSpacing(8);
    top->addLayout(right, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(filter_, &QComboBox::currentIndexChanged, this, [this] { remakeThumbnail(); });
    connect(scaleSlider_, &QSlider::valueChanged, this, [this](int position) { scaleFromSlider(position); });
    connect(scale_, &QDoubleSpinBox::valueChanged, this, [this](double scale) { scaleFromSpinBox(scale); });
    connect(wrap_, &QCheckBox::toggled, this, [this] { remakeThumbnail(); });
    connect(convention_, &QComboBox::currentIndexChanged, this, [this] { remakeThumbnail(); });
    remakeThumbnail();
}

HeightMapPanel::~HeightMapPanel() {
    releaseHeightField(&reduced_);
    releaseHeightField(&field_);
}

HeightToNormalOptions HeightMapPanel::options() const {
    HeightToNormalOptions options;
    options.heightScale = scale_->value();
    options.filter = static_cast<DerivativeFilter>(filter_->currentData().toInt());
    options.edges = wrap_->isChecked() ? EdgeRule::wrap : EdgeRule::clamp;
    options.convention = static_cast<GreenConvention>(convention_->currentData().toInt());
    options.outputBits = 16;
    options.heightToAlpha = false;
    return options;
}

bool HeightMapPanel::makeMap(Image* out, GenerateError* error) const {
    return normalsFromHeight(field_, options(), out, error);
}

// The slider moves the spin box, which makes the thumbnail; the spin box
// moves the slider, but not back while the slider is moving it (the spin
// box rounds to its decimals).
void HeightMapPanel::scaleFromSlider(int position) {
    sliderMoving_ = true;
    scale_->setValue(scaleAt(position));
    sliderMoving_ = false;
}

void HeightMapPanel::scaleFromSpinBox(double scale) {
    if (!sliderMoving_) {
        const QSignalBlocker quiet(scaleSlider_);
        scaleSlider_->setValue(positionOf(scale));
    }
    remakeThumbnail();
}

void HeightMapPanel::remakeThumbnail() {
    HeightToNormalOptions live = options();
    live.outputBits = 8;
    live.heightScale /= reduction_;
    Image map{};
    GenerateError error = GenerateError::none;
    const HeightField& field = reduction_ > 1 ? reduced_ : field_;
    if (normalsFromHeight(field, live, &map, &error)) {
        thumbnail_ = QImage(map.pixels, map.width, map.height, map.rowBytes, QImage::Format_RGB888).copy();
        failure_->hide();
    } else {
        thumbnail_ = QImage();
        failure_->setText(QStringLiteral("No normal map can be made of it: %1.")
                              .arg(QString::fromLatin1(generateErrorText(error))));
        failure_->show();
    }
    resetImage(&map);
    view_->update();
}
