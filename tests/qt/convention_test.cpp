// The line under the thumbnail with the map's detected green convention.
#include <QTest>
#include <cmath>
#include <limits>

#include "app/session.h"
#include "tests/qt/support.h"

namespace {

// A hemisphere bulging out of a flat map, as a baker writes it with green
// pointing up (OpenGL) or down (DirectX).
uint32_t sphere(int x, int y, bool greenUp) {
    const double nx = (x - 31.5) / 28.0, ny = (31.5 - y) / 28.0 * (greenUp ? 1 : -1);
    const double d = nx * nx + ny * ny;
    const auto byte = [](double v) { return static_cast<uint32_t>(std::lround(v * 127.5 + 127.5)); };
    if (d >= 1) return 0x8080FF;
    return byte(nx) << 16 | byte(ny) << 8 | byte(std::sqrt(1 - d));
}

}  // namespace

class ConventionTest : public QObject {
    Q_OBJECT
private slots:
    void lineForAGuess_data() {
        QTest::addColumn<int>("convention");
        QTest::addColumn<float>("confidence");
        QTest::addColumn<int>("reason");
        QTest::addColumn<QString>("line");
        const int gl = static_cast<int>(GreenConvention::openGl), dx = static_cast<int>(GreenConvention::directX);
        const int unknown = static_cast<int>(GreenConvention::unknown);
        const int none = static_cast<int>(UnknownReason::none);
        QTest::newRow("OpenGL") << gl << 0.93f << none << "Looks like OpenGL (Y+), 93% sure";
        QTest::newRow("DirectX") << dx << 0.88f << none << "Looks like DirectX (Y-), 88% sure";
        QTest::newRow("half rounds up") << dx << 0.875f << none << "Looks like DirectX (Y-), 88% sure";
        QTest::newRow("just below half") << gl << 0.6049f << none << "Looks like OpenGL (Y+), 60% sure";
        QTest::newRow("certain") << gl << 1.0f << none << "Looks like OpenGL (Y+), 100% sure";
        QTest::newRow("beyond certain") << dx << 7.0f << none << "Looks like DirectX (Y-), 100% sure";
        QTest::newRow("below nothing") << gl << -0.5f << none << "Looks like OpenGL (Y+), 0% sure";
        QTest::newRow("not a number") << gl << std::numeric_limits<float>::quiet_NaN() << none
                                      << "Looks like OpenGL (Y+), 0% sure";
        QTest::newRow("unknown without a reason") << unknown << 0.9f << none << "Green convention unclear";
        QTest::newRow("flat") << unknown << 0.0f << static_cast<int>(UnknownReason::flat)
                              << "Green convention unclear: flat";
        QTest::newRow("parts disagree") << unknown << 0.04f << static_cast<int>(UnknownReason::partsDisagree)
                                        << "Green convention unclear: parts disagree";
        QTest::newRow("too little relief") << unknown << 0.06f << static_cast<int>(UnknownReason::tooLittleRelief)
                                           << "Green convention unclear: too little relief";
        QTest::newRow("not a normal map") << unknown << 0.0f << static_cast<int>(UnknownReason::notNormalMap)
                                          << "Green convention unclear: not a normal map: 8% unit-length normals";
    }
    void lineForAGuess() {
        QFETCH(int, convention);
        QFETCH(float, confidence);
        QFETCH(int, reason);
        QFETCH(QString, line);
        ConventionGuess guess{static_cast<GreenConvention>(convention), confidence,
                              static_cast<UnknownReason>(reason)};
        guess.normalShare = 0.085f;
        QCOMPARE(conventionLine(guess), line);
    }

    // The line follows every load and adjustment, and a failed load keeps it.
    void theWindowShowsTheLineOfTheShownImage() {
        WindowFixture fixture;
        writePicture(fixture.folder.file("gl.bmp"), 64, 64, [](int x, int y) { return sphere(x, y, true); });
        writePicture(fixture.folder.file("dx.bmp"), 64, 64, [](int x, int y) { return sphere(x, y, false); });
        writePicture(fixture.folder.file("flat.bmp"), 64, 64, [](int, int) { return 0x8080FFu; });
        const auto sure = [](const QString& line, const char* start) {
            return line.startsWith(QLatin1String(start)) && line.endsWith(QLatin1String("% sure"));
        };
        fixture.openThroughDialog(fixture.file("gl.bmp"));
        QVERIFY2(sure(fixture.conventionText(), "Looks like OpenGL (Y+), "), qPrintable(fixture.conventionText()));
        fixture.click("IDC_INVERT_GREEN");
        QVERIFY2(sure(fixture.conventionText(), "Looks like DirectX (Y-), "), qPrintable(fixture.conventionText()));
        fixture.openThroughDialog(fixture.file("dx.bmp"));
        QVERIFY2(sure(fixture.conventionText(), "Looks like DirectX (Y-), "), qPrintable(fixture.conventionText()));
        fixture.openThroughDialog(fixture.file("missing.bmp"));
        QVERIFY2(sure(fixture.conventionText(), "Looks like DirectX (Y-), "), qPrintable(fixture.conventionText()));
        fixture.openThroughDialog(fixture.file("flat.bmp"));
        QCOMPARE(fixture.conventionText(), QStringLiteral("Green convention unclear: flat"));
    }

    // What the check finds follows the convention, after every load.
    void theLineNamesWhatIsWrong() {
        WindowFixture fixture;
        writePicture(fixture.folder.file("blue0.bmp"), 64, 64, [](int x, int y) { return sphere(x, y, true) & ~0xFFu; });
        writePicture(fixture.folder.file("grey.bmp"), 64, 64, [](int x, int y) { return (x + y) * 0x010101u; });
        fixture.openThroughDialog(fixture.file("blue0.bmp"));
        QVERIFY2(fixture.conventionText().endsWith(QLatin1String("; Z missing")), qPrintable(fixture.conventionText()));
        fixture.openThroughDialog(fixture.file("grey.bmp"));
        // Said once, by the convention's reason.
        QCOMPARE(fixture.conventionText(), QStringLiteral("Green convention unclear: not a normal map: 0% unit-length normals"));
    }
};

QUORVEL_QT_TEST(ConventionTest);

#include "convention_test.moc"
