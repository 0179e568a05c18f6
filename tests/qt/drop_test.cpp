// Files dropped on the window and named on the command line open as the
// Open command opens them; anything that is not a picture gives the Open
// command's message and leaves the shown picture.
#include <QApplication>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "app/session.h"
#include "tests/qt/support.h"

namespace {

uint32_t orange(int, int) { return 0xFF8000; }
uint32_t blue(int, int) { return 0x0000FF; }

// Drags `urls` over the window and drops them; whether the window took the
// drag.
bool drop(QWidget* window, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint middle = window->rect().center();
    QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(middle), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &dropped);
    return true;
}

// The red, green and blue of the Session's image's top left pixel.
uint32_t firstPixel() {
    const Image& image = session->image;
    if (!image.pixels) return 0xFFFFFFFF;
    // The readers keep BMP rows as stored: bottom row first, blue first.
    const uint8_t* p = image.pixels + (image.bottomUp ? static_cast<size_t>(image.height - 1) *
                                                             static_cast<size_t>(image.rowBytes + image.rowPad)
                                                       : 0);
    const uint32_t first = image.bgrOrder ? p[2] : p[0], third = image.bgrOrder ? p[0] : p[2];
    return first << 16 | uint32_t{p[1]} << 8 | third;
}

}  // namespace

class DropTest : public QObject {
    Q_OBJECT
private slots:
    void aDroppedFileOpens() {
        WindowFixture fixture;
        writePicture(fixture.folder.file("dropped.bmp"), 3, 2, orange);
        QVERIFY(drop(fixture.window.get(), {QUrl::fromLocalFile(fixture.file("dropped.bmp"))}));
        QCOMPARE(session->loaded, 1);
        QCOMPARE(firstPixel(), 0xFF8000u);
        QCOMPARE(QString::fromLocal8Bit(session->openPath), fixture.file("dropped.bmp"));
        QVERIFY(fixture.dialogs.messages.empty());
        QVERIFY(fixture.dialogs.openRequests.empty());
        // Adjustments work on the dropped file.
        fixture.click("IDC_INVERT_RED");
        QCOMPARE(firstPixel(), 0x008000u);
    }

    void whatCannotBeOpenedGivesTheOpenMessage_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("a folder") << "folder.bmp";
        QTest::newRow("a file no reader takes") << "notes.bmp";
        QTest::newRow("a missing file") << "gone.bmp";
        QTest::newRow("an empty file") << "empty.tga";
    }
    void whatCannotBeOpenedGivesTheOpenMessage() {
        QFETCH(QString, name);
        WindowFixture fixture;
        std::filesystem::create_directory(fixture.folder.file("folder.bmp"));
        testing_files::writeFile(fixture.folder.file("notes.bmp"), {'h', 'e', 'l', 'l', 'o'});
        testing_files::writeFile(fixture.folder.file("empty.tga"), {});
        writePicture(fixture.folder.file("shown.bmp"), 3, 2, blue);
        fixture.openThroughDialog(fixture.file("shown.bmp"));
        QVERIFY(drop(fixture.window.get(), {QUrl::fromLocalFile(fixture.file(name.toStdString()))}));
        QCOMPARE(fixture.dialogs.messages.size(), size_t{1});
        QCOMPARE(fixture.dialogs.messages[0].text, QStringLiteral("Failed to load open file."));
        QCOMPARE(fixture.dialogs.messages[0].caption, QStringLiteral("Error"));
        QCOMPARE(firstPixel(), 0x0000FFu);
        QCOMPARE(QString::fromLocal8Bit(session->openPath), fixture.file("shown.bmp"));
    }

    void dragsWithoutALocalFileAreRefused() {
        WindowFixture fixture;
        QVERIFY(!drop(fixture.window.get(), {QUrl(QStringLiteral("https://quorvel.example.org/map.bmp"))}));
        QVERIFY(!drop(fixture.window.get(), {}));
        QVERIFY(fixture.dialogs.messages.empty());
    }

    // The command line's file is opened by openFile, relative names from the
    // current directory and kept whole, so that the file dialogs' changes of
    // directory do not lose it.
    void aRelativeNameIsKeptWhole() {
        WindowFixture fixture;
        writePicture(fixture.folder.file("relative.bmp"), 3, 2, orange);
        std::filesystem::current_path(fixture.folder.path());
        fixture.window->openFile(QStringLiteral("relative.bmp"));
        QCOMPARE(QString::fromLocal8Bit(session->openPath), fixture.file("relative.bmp"));
        std::filesystem::current_path("/");
        fixture.click("IDC_INVERT_GREEN");
        QCOMPARE(firstPixel(), 0xFF7F00u);
    }
};

QUORVEL_QT_TEST(DropTest);

#include "drop_test.moc"
