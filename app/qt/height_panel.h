// The height-map panel of the Linux program (File > Open Height Map...): a
// height map held in memory, the options of height to normal
// (generate/height_to_normal.h) beside a thumbnail of the map they make, and
// the whole map made on OK.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include "generate/height_to_normal.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSlider;
class MapThumbnail;

// The height scales the panel offers; the slider is logarithmic over them.
inline constexpr double smallestHeightScale = 0.1;
inline constexpr double largestHeightScale = 50.0;

// A modal dialog (opened with QDialog::open) over the main window. The
// thumbnail is made again whenever an option changes, the height scale
// slider included while it is dragged. Heights larger than
// liveHeightSide on a side are reduced by area averaging for the thumbnail
// (the height scale divided by the reduction, so that the slopes stay the
// same); the whole map is made from the whole height only on OK, by the
// window (makeMap).
class HeightMapPanel : public QDialog {
public:
    // Takes `field` over. `name` is the file's name, for the caption;
    // `start` gives the options the controls start with.
    HeightMapPanel(HeightField field, const QString& name, const HeightToNormalOptions& start, QWidget* parent);
    ~HeightMapPanel() override;
    HeightMapPanel(const HeightMapPanel&) = delete;
    HeightMapPanel& operator=(const HeightMapPanel&) = delete;

    // The options the controls hold: a map of 16 bits a sample, no height in
    // alpha.
    HeightToNormalOptions options() const;
    // The map of the whole height with those options (`out` is made here).
    bool makeMap(Image* out, GenerateError* error) const;

    // The thumbnail as last made (null when making it failed), and the
    // factor the height was reduced by for it (1: the whole height).
    const QImage& thumbnail() const { return thumbnail_; }
    uint32_t reduction() const { return reduction_; }

    static constexpr uint32_t liveHeightSide = 512;

private:
    void remakeThumbnail();
    void scaleFromSlider(int position);
    void scaleFromSpinBox(double scale);

    HeightField field_;
    HeightField reduced_;  // empty when the thumbnail is made from field_
    uint32_t reduction_ = 1;
    QImage thumbnail_;
    bool sliderMoving_ = false;

    QComboBox* filter_ = nullptr;
    QSlider* scaleSlider_ = nullptr;
    QDoubleSpinBox* scale_ = nullptr;
    QCheckBox* wrap_ = nullptr;
    QComboBox* convention_ = nullptr;
    MapThumbnail* view_ = nullptr;
    QLabel* failure_ = nullptr;
};
