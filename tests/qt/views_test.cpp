// The thumbnail box and the Preview window: what they show, pixel for pixel,
// and how the Preview window follows the image.
#include <QPainter>
#include <QTest>

#include "app/qt/views.h"
#include "app/session.h"
#include "image/image.h"
#include "tests/qt/support.h"

namespace {

uint32_t teal(int, int) { return 0x008080; }
uint32_t checker(int x, int y) { return ((x / 8 + y / 8) % 2) ? 0xFFFFFF : 0x2040C0; }
// Every row and column its own colour, so that a flipped or shifted row shows.
uint32_t ramp(int x, int y) { return static_cast<uint32_t>((x * 5) << 16 | (y * 7) << 8 | 0x40); }

QColor rgb(uint32_t value) { return QColor::fromRgb(value); }

class PreviewFixture : public WindowFixture {
public:
    void open(int width, int height, uint32_t (*colour)(int, int)) {
        const std::string name = "picture-" + std::to_string(width) + "x" + std::to_string(height) + ".bmp";
        writePicture(folder.file(name), width, height, colour);
        openThroughDialog(file(name));
    }
    PreviewWindow& openPreview() {
        click("IDC_PREVIEW");
        return window->preview();
    }
};

}  // namespace

class ViewsTest : public QObject {
    Q_OBJECT
private slots:
    void previewOpensAtTheTopLeftAtTheImagesSize() {
        PreviewFixture fixture;
        fixture.open(60, 40, ramp);
        PreviewWindow& preview = fixture.openPreview();
        QVERIFY(preview.isVisible());
        // The picture area at the image's size over the lit view's bar, which
        // is wider than this image: the image centred across, black beside it.
        const QRect area = preview.imageArea();
        QCOMPARE(area.size(), QSize(60, 40));
        QCOMPARE(area.top(), 0);
        QCOMPARE(preview.canvas().size(), QSize(preview.width(), 40));
        QCOMPARE(area.left(), (preview.width() - 60) / 2);
        QCOMPARE(preview.pos(), QPoint(0, 0));
        QCOMPARE(preview.windowTitle(), QStringLiteral("Preview"));
        QVERIFY(preview.isWindow());
        QCOMPARE(preview.parentWidget(), nullptr);
        // Pixel for pixel, the top row at the top.
        const QImage shown = preview.grab().toImage();
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x) QCOMPARE(shown.pixelColor(area.left() + x, y), rgb(ramp(x, y)));
        if (area.left() > 0) QCOMPARE(shown.pixelColor(area.left() - 1, 0), QColor(Qt::black));
    }

    void previewFollowsAdjustmentsAndNewImages() {
        PreviewFixture fixture;
        fixture.open(64, 48, checker);
        PreviewWindow& preview = fixture.openPreview();
        preview.resize(30, 20);
        fixture.click("IDC_INVERT_RED");
        QCOMPARE(preview.imageArea().size(), QSize(64, 48));
        QCOMPARE(shownPixel(&preview, preview.imageArea().left(), 0), rgb(0x2040C0 ^ 0xFF0000));
        fixture.open(25, 18, teal);
        QCOMPARE(preview.imageArea().size(), QSize(25, 18));
        QCOMPARE(shownPixel(&preview, preview.imageArea().right(), 17), rgb(0x008080));
    }

    void previewAgainRestoresAMinimisedWindow() {
        PreviewFixture fixture;
        fixture.open(32, 24, teal);
        PreviewWindow& preview = fixture.openPreview();
        preview.showMinimized();
        QVERIFY(preview.isMinimized());
        fixture.click("IDC_PREVIEW");
        QVERIFY(!preview.isMinimized());
        QVERIFY(preview.isVisible());
        QCOMPARE(preview.imageArea().size(), QSize(32, 24));
    }

    void aClosedPreviewStaysClosed() {
        PreviewFixture fixture;
        fixture.open(32, 24, teal);
        PreviewWindow& preview = fixture.openPreview();
        preview.close();
        fixture.click("IDC_INVERT_GREEN");
        fixture.click("IDC_RENORMALIZE");
        fixture.click("IDC_APPLY");
        QVERIFY(!preview.isVisible());
    }

    void closingTheWindowClosesThePreview() {
        PreviewFixture fixture;
        fixture.open(32, 24, teal);
        fixture.window->show();
        PreviewWindow& preview = fixture.openPreview();
        fixture.click("IDCANCEL");
        QVERIFY(!fixture.window->isVisible());
        QVERIFY(!preview.isVisible());
    }

    // The thumbnail of a 7 x 5 picture is 298 x 212: drawn at the full width,
    // centred down the 299 rows of the box, on button face.
    void theThumbnailIsDrawnFittedAndCentred() {
        PreviewFixture fixture;
        auto* box = fixture.control<ThumbnailView>("IDC_THUMBNAIL");
        const QColor face = box->palette().color(QPalette::Button);
        const QPoint origin = box->contentsRect().topLeft();
        QCOMPARE(shownPixel(box, origin.x() + 149, origin.y() + 150), face);
        fixture.open(7, 5, ramp);
        const QImage shown = box->grab().toImage();
        const auto at = [&](int x, int y) { return shown.pixelColor(origin.x() + x, origin.y() + y); };
        // The middle of each source pixel's cell, and the rows around.
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) QCOMPARE(at((2 * x + 1) * 298 / 14, 43 + (2 * y + 1) * 212 / 10), rgb(ramp(x, y)));
        QCOMPARE(at(0, 43), rgb(ramp(0, 0)));
        QCOMPARE(at(297, 254), rgb(ramp(6, 4)));
        QCOMPARE(at(0, 42), face);
        QCOMPARE(at(297, 255), face);
    }

    // A display bitmap drawn into a target of another size is stretched
    // over all of it, nearest pixel, top row at the top.
    void displayBitmapsAreDrawnUprightOverTheTarget_data() {
        QTest::addColumn<QRect>("target");
        QTest::newRow("same size") << QRect(0, 0, 4, 3);
        QTest::newRow("offset") << QRect(5, 2, 4, 3);
        QTest::newRow("twice") << QRect(1, 1, 8, 6);
        QTest::newRow("three times") << QRect(0, 0, 12, 9);
    }
    void displayBitmapsAreDrawnUprightOverTheTarget() {
        QFETCH(QRect, target);
        Image picture{};
        picture.width = 4;
        picture.height = 3;
        picture.bitsPerPixel = 24;
        picture.rowBytes = 12;
        picture.dataSize = 36;
        picture.pixels = static_cast<uint8_t*>(std::malloc(36));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint32_t c = ramp(x, y);
                uint8_t* p = picture.pixels + 3 * (y * 4 + x);
                p[0] = static_cast<uint8_t>(c >> 16);
                p[1] = static_cast<uint8_t>(c >> 8);
                p[2] = static_cast<uint8_t>(c);
            }
        QVERIFY(buildDisplayBitmap(&picture));
        QImage canvas(16, 12, QImage::Format_RGB32);
        canvas.fill(Qt::black);
        {
            QPainter painter(&canvas);
            drawDisplayBitmap(painter, picture.bitmap, QRectF(target));
        }
        resetImage(&picture);
        const int factor = target.width() / 4;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x) {
                const QPoint p(x, y);
                const QColor expected = target.contains(p)
                                            ? rgb(ramp((x - target.left()) / factor, (y - target.top()) / factor))
                                            : QColor(Qt::black);
                QCOMPARE(canvas.pixelColor(p), expected);
            }
    }

};

QUORVEL_QT_TEST(ViewsTest);

#include "views_test.moc"
