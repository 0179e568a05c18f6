// File > Open Height Map... and the Preview's lit view: the panel's map
// against the library's, its thumbnail, Save and Apply on its result, and the
// relief the lit view shows in each green convention.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/qt/views.h"
#include "generate/height_to_normal.h"
#include "readers/readers.h"
#include "tests/qt/support.h"

namespace {

uint32_t grey(double height) {
    const auto v = static_cast<uint32_t>(std::lround(std::clamp(height, 0.0, 1.0) * 255.0));
    return v * 0x010101u;
}
// A cone in the middle of a 64 x 64 picture, 24 texels in radius.
uint32_t cone(int x, int y) { return grey(1.0 - std::hypot(x - 31.5, y - 31.5) / 24.0); }
// Something with slopes every way and no symmetry.
uint32_t hills(int x, int y) { return grey(0.5 + 0.3 * std::sin(x * 0.5) * std::cos(y * 0.3) + 0.01 * x); }

std::vector<uint8_t> pixelsOf(const Image& image) { return {image.pixels, image.pixels + image.dataSize}; }

// The map the library makes of a height file with `options`.
std::vector<uint8_t> libraryMap(const QString& heightFile, const HeightToNormalOptions& options) {
    Image height{}, map{};
    std::vector<uint8_t> pixels;
    if (readImageFile(qPrintable(heightFile), &height) &&
        normalsFromHeightImage(height, HeightChannel::automatic, options, &map, nullptr))
        pixels = pixelsOf(map);
    resetImage(&height);
    resetImage(&map);
    return pixels;
}

class HeightFixture : public WindowFixture {
public:
    QString write(const char* name, int width, int height, uint32_t (*colour)(int, int)) {
        writePicture(folder.file(name), width, height, colour);
        return file(name);
    }
    static void press(HeightMapPanel* panel, QDialogButtonBox::StandardButton which) {
        QTest::mouseClick(panel->findChild<QDialogButtonBox*>()->button(which), Qt::LeftButton);
    }
};

// The grey the Preview's picture shows at (x, y) of the image.
int shownGrey(PreviewWindow& preview, int x, int y) {
    const QRect area = preview.imageArea();
    return qGray(preview.grab().toImage().pixel(area.left() + x, area.top() + y));
}

}  // namespace

class HeightMapTest : public QObject {
    Q_OBJECT
private slots:
    void thePanelMakesTheLibrarysMap() {
        HeightFixture fixture;
        const QString height = fixture.write("hills.bmp", 23, 17, hills);
        HeightMapPanel* panel = fixture.openHeightMap(height);
        QVERIFY(panel);
        QCOMPARE(fixture.dialogs.openRequests.back().title, QStringLiteral("Open Height Map"));
        QVERIFY(panel->isModal());
        // The defaults are the command line's.
        const HeightToNormalOptions defaults = panel->options();
        QCOMPARE(defaults.filter, DerivativeFilter::sobel);
        QCOMPARE(defaults.heightScale, 1.0);
        QCOMPARE(defaults.edges, EdgeRule::wrap);
        QCOMPARE(defaults.convention, GreenConvention::openGl);
        panel->findChild<QComboBox*>(QStringLiteral("filter"))->setCurrentText(QStringLiteral("scharr"));
        panel->findChild<QDoubleSpinBox*>(QStringLiteral("heightScale"))->setValue(3.5);
        panel->findChild<QCheckBox*>(QStringLiteral("wrap"))->setChecked(false);
        panel->findChild<QComboBox*>(QStringLiteral("convention"))->setCurrentIndex(1);
        HeightFixture::press(panel, QDialogButtonBox::Ok);
        HeightToNormalOptions chosen;
        chosen.filter = DerivativeFilter::scharr;
        chosen.heightScale = 3.5;
        chosen.edges = EdgeRule::clamp;
        chosen.convention = GreenConvention::directX;
        QCOMPARE(pixelsOf(session->image), libraryMap(height, chosen));
        QVERIFY(isSixteenBit(session->image));
        QVERIFY(fixture.dialogs.messages.empty());
        QVERIFY(fixture.conventionText().startsWith(QStringLiteral("Looks like DirectX")));
    }

    void theThumbnailFollowsTheSlider() {
        HeightFixture fixture;
        HeightMapPanel* panel = fixture.openHeightMap(fixture.write("hills.bmp", 40, 30, hills));
        QVERIFY(panel);
        QCOMPARE(panel->reduction(), 1u);
        const QImage before = panel->thumbnail();
        QCOMPARE(before.size(), QSize(40, 30));
        auto* slider = panel->findChild<QSlider*>(QStringLiteral("heightScaleSlider"));
        slider->setSliderDown(true);  // being dragged
        slider->setValue(slider->value() + 200);
        const double scale = panel->findChild<QDoubleSpinBox*>(QStringLiteral("heightScale"))->value();
        QVERIFY(scale > 3.0);
        QVERIFY(panel->thumbnail() != before);
        slider->setSliderDown(false);
        // Cancel leaves the window as it was.
        HeightFixture::press(panel, QDialogButtonBox::Cancel);
        QCOMPARE(session->loaded, 0);
        // A large height is reduced for the thumbnail.
        panel = fixture.openHeightMap(fixture.write("wide.bmp", 1100, 9, hills));
        QVERIFY(panel);
        QCOMPARE(panel->reduction(), 3u);
        QCOMPARE(panel->thumbnail().size(), QSize(367, 3));
        HeightFixture::press(panel, QDialogButtonBox::Cancel);
    }

    void theMapMadeIsSavedAndAdjustedAsAnyMap() {
        HeightFixture fixture;
        const QString height = fixture.write("hills.bmp", 21, 13, hills);
        HeightFixture::press(fixture.openHeightMap(height), QDialogButtonBox::Ok);
        const std::vector<uint8_t> made = libraryMap(height, HeightToNormalOptions{});
        const QString saved = fixture.file("normals.png");
        fixture.saveThroughDialog(saved);
        Image back{};
        QVERIFY(readImageFile(qPrintable(saved), &back));
        QCOMPARE(pixelsOf(back), made);
        resetImage(&back);
        // Apply starts from the map made, not from the height file.
        fixture.click("IDC_INVERT_GREEN");
        std::vector<uint8_t> inverted = made;
        auto* words = reinterpret_cast<uint16_t*>(inverted.data());
        for (size_t i = 1; i < inverted.size() / 2; i += 3) words[i] = static_cast<uint16_t>(65535 - words[i]);
        QCOMPARE(pixelsOf(session->image), inverted);
        fixture.click("IDC_INVERT_GREEN");
        QCOMPARE(pixelsOf(session->image), made);
    }

    void aHeightMapThatFailsToLoadKeepsTheShownPicture() {
        HeightFixture fixture;
        const QString shown = fixture.write("shown.bmp", 4, 4, hills);
        fixture.openThroughDialog(shown);
        const std::vector<uint8_t> before = pixelsOf(session->image);
        testing_files::writeFile(fixture.folder.file("broken.png"), {'n', 'o', 't'});
        QCOMPARE(fixture.openHeightMap(fixture.file("broken.png")), nullptr);
        QCOMPARE(fixture.dialogs.messages.size(), size_t{1});
        QCOMPARE(fixture.dialogs.messages[0].text, QStringLiteral("Failed to load open file."));
        QCOMPARE(fixture.dialogs.messages[0].caption, QStringLiteral("Error"));
        QCOMPARE(pixelsOf(session->image), before);
    }

    // An OpenGL map of a cone lit from the top: its upper flank faces the
    // light. Read as DirectX the cone is a pit, its lower flank lit.
    void theLitViewShowsTheReliefInTheMapsConvention() {
        HeightFixture fixture;
        HeightMapPanel* panel = fixture.openHeightMap(fixture.write("cone.bmp", 64, 64, cone));
        QVERIFY(panel);
        panel->findChild<QDoubleSpinBox*>(QStringLiteral("heightScale"))->setValue(10.0);
        HeightFixture::press(panel, QDialogButtonBox::Ok);
        fixture.click("IDC_PREVIEW");
        PreviewWindow& preview = fixture.window->preview();
        preview.findChild<QCheckBox*>(QStringLiteral("lit"))->setChecked(true);
        const QRect area = preview.imageArea();
        QMouseEvent top(QEvent::MouseMove, QPointF(area.left() + area.width() / 2.0, area.top()), QPointF(), Qt::NoButton, Qt::NoButton,
                        Qt::NoModifier);
        QApplication::sendEvent(&preview.canvas(), &top);
        const int upper = shownGrey(preview, 32, 20), lower = shownGrey(preview, 32, 43);
        QVERIFY2(upper > lower + 60, qPrintable(QStringLiteral("%1 %2").arg(upper).arg(lower)));
        auto* green = preview.findChild<QComboBox*>(QStringLiteral("litGreen"));
        green->setCurrentIndex(green->findText(QStringLiteral("DirectX (Y-)")));
        // The same greys the other way round (within the encoding's rounding).
        QVERIFY(std::abs(shownGrey(preview, 32, 20) - lower) <= 1);
        QVERIFY(std::abs(shownGrey(preview, 32, 43) - upper) <= 1);
        // Off, the map's own colours again.
        preview.findChild<QCheckBox*>(QStringLiteral("lit"))->setChecked(false);
        const QColor map = preview.grab().toImage().pixelColor(area.left() + 32, area.top() + 20);
        QVERIFY(map.green() > map.red());
    }
};

QUORVEL_QT_TEST(HeightMapTest);

#include "height_map_test.moc"
