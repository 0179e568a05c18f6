// The commands of the window through the Session: enabling rules, the scale
// field, Open and Apply with the pixels they give, Save in every format, the
// keyboard, and the messages of each failure through the dialog seam.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <cstring>
#include <filesystem>

#include "app/session.h"
#include "image/image.h"
#include "readers/readers.h"
#include "tests/qt/support.h"
#include "tests/unit/reference_picture.h"

namespace {

using testing_files::Bytes;

const char* const optionBoxes[] = {"IDC_INVERT_RED", "IDC_INVERT_GREEN", "IDC_INVERT_BLUE", "IDC_RENORMALIZE"};

// The display bitmap of the Session's image, top row first, as 0xRRGGBB.
std::vector<uint32_t> shownImage() {
    const Image& image = session->image;
    const size_t stride = displayStride(static_cast<uint32_t>(image.width));
    std::vector<uint8_t> grid(stride * static_cast<size_t>(image.height));
    if (!platformReadRowsTopDown(image.bitmap, grid.data(), static_cast<uint32_t>(image.width),
                                 static_cast<uint32_t>(image.height), stride))
        return {};
    std::vector<uint32_t> pixels;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = grid.data() + static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x);
            pixels.push_back(uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
        }
    return pixels;
}

std::vector<uint32_t> referencePixels() {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < reference::height; ++y)
        for (int x = 0; x < reference::width; ++x) {
            const reference::Rgb c = reference::rgb(x, y);
            pixels.push_back(uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2]);
        }
    return pixels;
}

// The pixels of a file as the program's readers read it.
std::vector<uint32_t> filePixels(const QString& path) {
    Session* kept = session;
    Session* reader = createSession();
    session = reader;
    std::vector<uint32_t> pixels;
    if (loadOpenFile(QFile::encodeName(path).constData())) pixels = shownImage();
    destroySession(reader);
    session = kept;
    return pixels;
}

Bytes fileBytes(const QString& path) { return testing_files::readFile(path.toStdString()); }

// A path in a folder of the fixture's that is too long for the Session's
// path fields; the folder is made, the file is not.
std::string tooLongPath(const WindowFixture& fixture) {
    const std::string folder = fixture.folder.file(std::string(120, 'd'));
    std::filesystem::create_directory(folder);
    return folder + "/" + std::string(pathBufferSize - 120, 'n') + ".bmp";
}

// One line of tests/data/cli/cases.txt: a name and quorvel-cli's options.
struct CliCase {
    QString name;
    QStringList options;
};

std::vector<CliCase> cliCases() {
    QFile file(testData("cli/cases.txt"));
    std::vector<CliCase> cases;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return cases;
    while (!file.atEnd()) {
        QStringList fields = QString::fromLatin1(file.readLine()).chopped(1).split(QLatin1Char('|'));
        if (fields.size() < 2) continue;
        fields.removeLast();  // the closing bar's empty field
        cases.push_back({fields.takeFirst(), fields});
    }
    return cases;
}

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithDefaultsAndOnlyScaleAndApplyDisabled() {
        WindowFixture fixture;
        for (const char* box : optionBoxes) QVERIFY2(!fixture.checked(box), box);
        QCOMPARE(fixture.scaleText(), QStringLiteral("1.00000"));
        for (const char* name :
             {"IDC_OPEN", "IDC_SAVE", "IDCANCEL", "IDC_PREVIEW", "IDC_INVERT_RED", "IDC_INVERT_GREEN",
              "IDC_INVERT_BLUE", "IDC_RENORMALIZE"})
            QVERIFY2(fixture.enabled(name), name);
        QVERIFY(!fixture.enabled("IDC_SCALE"));
        QVERIFY(!fixture.enabled("IDC_APPLY"));
        QCOMPARE(fixture.window->focusWidget(), fixture.control<QWidget>("IDC_OPEN"));
        QCOMPARE(fixture.conventionText(), QString());
    }

    void renormalizeEnablesScaleAndApply() {
        WindowFixture fixture;
        fixture.click("IDC_RENORMALIZE");
        QCOMPARE(session->options.renormalize, 1);
        // Before any Open a box re-reads the default path, which does not
        // exist: nothing loads and nothing is said.
        QCOMPARE(session->loaded, 0);
        QVERIFY(fixture.dialogs.messages.empty());
        QVERIFY(fixture.enabled("IDC_SCALE"));
        QVERIFY(fixture.enabled("IDC_APPLY"));
        fixture.click("IDC_RENORMALIZE");
        QCOMPARE(session->options.renormalize, 0);
        QVERIFY(!fixture.enabled("IDC_SCALE"));
        QVERIFY(!fixture.enabled("IDC_APPLY"));
        // A disabled Apply does nothing: the typed scale is not read.
        fixture.setScaleText(QStringLiteral("3"));
        fixture.click("IDC_APPLY");
        QCOMPARE(session->options.scale, 1.0f);
    }

    void applyReadsTheScaleField_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QString>("shown");
        QTest::newRow("whole") << "2" << 2.0f << "2.00000";
        QTest::newRow("empty") << "" << 1.0f << "1.00000";
        QTest::newRow("not a number") << "abc" << 0.0f << "0.00000";
        QTest::newRow("negative") << "-1.5" << -1.5f << "-1.50000";
        QTest::newRow("leading blank, trailing junk") << " 0.25x" << 0.25f << "0.25000";
        QTest::newRow("hexadecimal") << "0x10" << 0.0f << "0.00000";
        QTest::newRow("too large for a float") << "1e39" << 0.0f << "0.00000";
    }
    void applyReadsTheScaleField() {
        QFETCH(QString, typed);
        QFETCH(float, scale);
        QFETCH(QString, shown);
        WindowFixture fixture;
        fixture.click("IDC_RENORMALIZE");
        fixture.setScaleText(typed);
        fixture.click("IDC_APPLY");
        QCOMPARE(session->options.scale, scale);
        QCOMPARE(fixture.scaleText(), shown);
    }

    // Each adjustment of quorvel-cli's end-to-end table, made with the
    // window's boxes, field and Apply button and saved through its Save
    // dialog, gives the same bytes as the table's expected file.
    void adjustmentsSaveTheExpectedBytes() {
        const std::vector<CliCase> cases = cliCases();
        QVERIFY(cases.size() >= 8);
        for (const CliCase& c : cases) {
            WindowFixture fixture;
            fixture.openThroughDialog(testData("cli/reference.bmp"));
            QStringList options = c.options;
            std::optional<QString> scale;
            while (!options.isEmpty()) {
                const QString option = options.takeFirst();
                if (option == QLatin1String("--scale")) {
                    scale = options.takeFirst();
                    continue;
                }
                const QString box = QStringLiteral("IDC_") + option.mid(2).toUpper().replace(QLatin1Char('-'), '_');
                fixture.click(qPrintable(box));
            }
            if (scale) {
                fixture.setScaleText(*scale);
                fixture.click("IDC_APPLY");
            }
            const QString saved = fixture.file("saved.bmp");
            fixture.saveThroughDialog(saved);
            QVERIFY2(fixture.dialogs.messages.empty(), qPrintable(c.name));
            QVERIFY2(fileBytes(saved) == fileBytes(testData(qPrintable("cli/expected_" + c.name + ".bmp"))),
                     qPrintable(c.name));
        }
    }

    // Every adjustment starts again from the file: a box ticked twice gives
    // the file's own pixels back.
    void adjustmentsNeverPileUp() {
        WindowFixture fixture;
        fixture.openThroughDialog(testData("cli/reference.bmp"));
        QCOMPARE(shownImage(), referencePixels());
        fixture.click("IDC_INVERT_GREEN");
        std::vector<uint32_t> inverted = referencePixels();
        for (uint32_t& pixel : inverted) pixel ^= 0x00FF00;
        QCOMPARE(shownImage(), inverted);
        fixture.click("IDC_INVERT_GREEN");
        QCOMPARE(shownImage(), referencePixels());
    }

    void openingEveryFormatShowsTheReferencePicture_data() {
        QTest::addColumn<QString>("file");
        for (const char* file : {"bmp/rgb24.bmp", "bmp/pal8_rle8.bmp", "tga/type2_top_down_24.tga",
                                 "tga/type10_bottom_up_32.tga", "pcx/three_planes.pcx", "psd/rgb_packbits.psd",
                                 "dds/rgb888.dds", "pnm/p6_raw_255.ppm", "tiff/reference_strips_lzw_pred.tif"})
            QTest::newRow(file) << testData(file);
    }
    void openingEveryFormatShowsTheReferencePicture() {
        QFETCH(QString, file);
        WindowFixture fixture;
        fixture.openThroughDialog(file);
        QVERIFY(fixture.dialogs.messages.empty());
        QCOMPARE(shownImage(), referencePixels());
        QCOMPARE(QString::fromLocal8Bit(session->openPath), file);
    }

    void theOpenDialogOffersEveryFormatFromTheRememberedFolder() {
        WindowFixture fixture;
        fixture.openThroughDialog(testData("tga/type2_top_down_24.tga"));
        fixture.dialogs.cancel();
        fixture.click("IDC_OPEN");
        QCOMPARE(fixture.dialogs.openRequests.size(), size_t{2});
        const FileRequest& first = fixture.dialogs.openRequests[0];
        QCOMPARE(first.title, QStringLiteral("Open File"));
        QCOMPARE(first.directory, fixture.file(""));
        QCOMPARE(first.initialName, QStringLiteral("Untitled"));
        QCOMPARE(first.filters.front(), QStringLiteral("Supported files (*.bmp *.tga *.pcx *.psd *.dds *.ktx2 *.ppm "
                                                       "*.pgm *.pbm *.png *.jpg *.jpeg *.tif *.tiff)"));
        for (const char* type : {"Bitmap files (*.bmp)", "Targa files (*.tga)", "PCX files (*.pcx)",
                                 "Photoshop files (*.psd)", "DDS files (*.dds)", "KTX2 files (*.ktx2)", "PNG files (*.png)",
                                 "JPEG files (*.jpg *.jpeg)", "Portable Pixel Format files (*.ppm)",
                                 "TIFF files (*.tif *.tiff)"})
            QVERIFY2(first.filters.contains(QString::fromLatin1(type)), type);
        QCOMPARE(first.filters.back(), QStringLiteral("All files (*)"));
        // The second dialog opens where the first file was chosen.
        QCOMPARE(fixture.dialogs.openRequests[1].directory, testData("tga/"));
        // Cancel keeps what is shown.
        QCOMPARE(shownImage(), referencePixels());
    }

    void savingWritesTheFormatOfTheExtension_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("bmp") << "saved.bmp" << QByteArray("BM");
        QTest::newRow("png") << "saved.png" << QByteArray("\x89PNG\r\n\x1a\n");
        // Targa: no image ID, no colour map, uncompressed true colour.
        QTest::newRow("tga") << "saved.tga" << QByteArray("\0\0\x02", 3);
        // TIFF: little-endian, 42.
        QTest::newRow("tif") << "saved.tif" << QByteArray("II*\0", 4);
        QTest::newRow("tiff") << "saved.tiff" << QByteArray("II*\0", 4);
    }
    void savingWritesTheFormatOfTheExtension() {
        QFETCH(QString, name);
        QFETCH(QByteArray, start);
        WindowFixture fixture;
        fixture.openThroughDialog(testData("cli/reference.bmp"));
        const QString saved = fixture.file(name.toStdString());
        fixture.saveThroughDialog(saved);
        QVERIFY(fixture.dialogs.messages.empty());
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(start.size()), start);
        QCOMPARE(filePixels(saved), referencePixels());
        QCOMPARE(QString::fromLocal8Bit(session->savePath), saved);
    }

    // A DDS texture (BC5 with its mip chain) of the picture shown.
    void savingADdsNameWritesATexture() {
        WindowFixture fixture;
        fixture.openThroughDialog(testData("cli/reference.bmp"));
        const QString saved = fixture.file("saved.dds");
        fixture.saveThroughDialog(saved);
        QVERIFY(fixture.dialogs.messages.empty());
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 128);
        QCOMPARE(bytes.left(4), QByteArray("DDS "));
        QCOMPARE(bytes.mid(84, 4), QByteArray("ATI2"));
        QCOMPARE(QString::fromLocal8Bit(session->savePath), saved);
    }

    void theSaveDialogOffersTheWrittenFormatsBmpFirst() {
        WindowFixture fixture;
        fixture.openThroughDialog(testData("cli/reference.bmp"));
        fixture.dialogs.cancel();
        fixture.click("IDC_SAVE");
        QCOMPARE(fixture.dialogs.saveRequests.size(), size_t{1});
        const FileRequest& request = fixture.dialogs.saveRequests[0];
        QCOMPARE(request.title, QStringLiteral("Save File"));
        QCOMPARE(request.initialName, QStringLiteral("Untitled"));
        QCOMPARE(request.directory, fixture.file(""));
        QCOMPARE(request.filters, (QStringList{QStringLiteral("Bitmap files (*.bmp)"), QStringLiteral("PNG files (*.png)"),
                                               QStringLiteral("Targa files (*.tga)"), QStringLiteral("TIFF files (*.tif)"),
                                               QStringLiteral("DDS files (*.dds)"), QStringLiteral("KTX2 files (*.ktx2)")}));
        QCOMPARE(request.suffixes, (QStringList{QStringLiteral("bmp"), QStringLiteral("png"), QStringLiteral("tga"),
                                                QStringLiteral("tif"), QStringLiteral("dds"), QStringLiteral("ktx2")}));
        QVERIFY(fixture.dialogs.messages.empty());
    }

    void theMessagesOfTheWindowsProgram_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Preview before loading") << 0 << "Nothing loaded.  Try opening a file first." << "Warning";
        QTest::newRow("Save before loading") << 1 << "Nothing loaded." << "Warning";
        QTest::newRow("a file no reader takes") << 2 << "Failed to load open file." << "Error";
        QTest::newRow("a path too long to keep") << 3 << "There was an error opening the file." << "Error";
        QTest::newRow("a save path too long to keep") << 4 << "There was an error saving the file." << "Error";
        QTest::newRow("a save into a missing folder") << 5 << "There was an error writing the file." << "Warning";
    }
    void theMessagesOfTheWindowsProgram() {
        QFETCH(int, step);
        QFETCH(QString, text);
        QFETCH(QString, caption);
        WindowFixture fixture;
        const QString longName = QString::fromStdString(tooLongPath(fixture));
        if (step >= 2) fixture.openThroughDialog(testData("cli/reference.bmp"));
        switch (step) {
            case 0: fixture.click("IDC_PREVIEW"); break;
            case 1: fixture.click("IDC_SAVE"); break;
            case 2:
                testing_files::writeFile(fixture.folder.file("junk.bmp"), Bytes(100, 0x42));
                fixture.openThroughDialog(fixture.file("junk.bmp"));
                break;
            case 3: fixture.openThroughDialog(longName); break;
            case 4: fixture.saveThroughDialog(longName); break;
            case 5: fixture.saveThroughDialog(fixture.file("missing/saved.bmp")); break;
        }
        QCOMPARE(fixture.dialogs.messages.size(), size_t{1});
        const SeenMessage& seen = fixture.dialogs.messages[0];
        QCOMPARE(seen.text, text);
        QCOMPARE(seen.caption, caption);
        QCOMPARE(seen.icon, MessageIcon::warning);
        QCOMPARE(seen.owner, fixture.window.get());
        // Whatever failed, the shown picture and the file it came from stay.
        if (step >= 2) {
            QCOMPARE(shownImage(), referencePixels());
            QCOMPARE(QString::fromLocal8Bit(session->openPath), testData("cli/reference.bmp"));
        }
    }

    // A save that cannot be made leaves what was at the target as it was:
    // an existing file under a name too long for the path fields, and a
    // folder where the file would go.
    void aFailedSaveKeepsTheOldFile() {
        WindowFixture fixture;
        fixture.openThroughDialog(testData("cli/reference.bmp"));
        const std::string longName = tooLongPath(fixture);
        const Bytes old(64, 0x17);
        testing_files::writeFile(longName, old);
        fixture.saveThroughDialog(QString::fromStdString(longName));
        QCOMPARE(testing_files::readFile(longName), old);

        const QString folderTarget = fixture.file("taken.bmp");
        std::filesystem::create_directory(folderTarget.toStdString());
        testing_files::writeFile(fixture.folder.file("taken.bmp/inside"), old);
        fixture.saveThroughDialog(folderTarget);
        QCOMPARE(testing_files::readFile(fixture.folder.file("taken.bmp/inside")), old);
        QCOMPARE(fixture.dialogs.messages.size(), size_t{2});
        QCOMPARE(fixture.dialogs.messages[1].text, QStringLiteral("There was an error writing the file."));
        // Nothing else is left in the folder: no temporary file.
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(fixture.folder.path())) ++entries;
        QCOMPARE(entries, size_t{2});
    }

    // The keyboard, with the focus where the window starts it ("Open...") or
    // on a check box. Enter presses a focused push button, as in a Windows
    // dialog, and does nothing elsewhere.
    void keys_data() {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("openDialogs");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("closes");
        const QString open = QStringLiteral("IDC_OPEN"), box = QStringLiteral("IDC_INVERT_RED");
        QTest::newRow("Ctrl+O opens") << QKeySequence(Qt::CTRL | Qt::Key_O) << box << 1 << 0 << false;
        QTest::newRow("Ctrl+Shift+O opens a height map")
            << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O) << box << 1 << 0 << false;
        QTest::newRow("Ctrl+S saves") << QKeySequence(Qt::CTRL | Qt::Key_S) << open << 0 << 1 << false;
        QTest::newRow("Ctrl+Q quits") << QKeySequence(Qt::CTRL | Qt::Key_Q) << open << 0 << 0 << true;
        QTest::newRow("Escape quits") << QKeySequence(Qt::Key_Escape) << box << 0 << 0 << true;
        QTest::newRow("Enter on Open") << QKeySequence(Qt::Key_Return) << open << 1 << 0 << false;
        QTest::newRow("Enter on a box") << QKeySequence(Qt::Key_Return) << box << 0 << 0 << false;
    }
    void keys() {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, focus);
        QFETCH(int, openDialogs);
        QFETCH(int, messages);
        QFETCH(bool, closes);
        WindowFixture fixture;
        fixture.window->show();
        QApplication::setActiveWindow(fixture.window.get());
        QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
        QWidget* focused = fixture.control<QWidget>(qPrintable(focus));
        focused->setFocus();
        fixture.dialogs.cancel();
        QTest::keySequence(focused, keys);
        QCOMPARE(static_cast<int>(fixture.dialogs.openRequests.size()), openDialogs);
        QCOMPARE(static_cast<int>(fixture.dialogs.messages.size()), messages);
        QCOMPARE(fixture.window->isVisible(), !closes);
        QVERIFY(!fixture.checked("IDC_INVERT_RED"));
    }

    // Enter in the scale field applies nothing.
    void enterInTheScaleFieldDoesNothing() {
        WindowFixture fixture;
        fixture.window->show();
        QApplication::setActiveWindow(fixture.window.get());
        QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
        fixture.click("IDC_RENORMALIZE");
        auto* field = fixture.control<QLineEdit>("IDC_SCALE");
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("3"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(fixture.scaleText(), QStringLiteral("3"));
        QCOMPARE(session->options.scale, 1.0f);
        QVERIFY(fixture.window->isVisible());
    }
};

QUORVEL_QT_TEST(CommandsTest);

#include "commands_test.moc"
