#include "tests/qt/support.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <clocale>
#include <cstring>
#include <filesystem>

#include "app/session.h"

void ScriptedDialogs::message(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon) {
    messages.push_back({text, caption, icon, owner});
}

std::optional<QString> ScriptedDialogs::next() {
    if (answers.empty()) {
        ++unplanned;
        return std::nullopt;
    }
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
}

std::optional<QString> ScriptedDialogs::openFileName(QWidget*, const FileRequest& request) {
    openRequests.push_back(request);
    return next();
}

std::optional<QString> ScriptedDialogs::saveFileName(QWidget*, const FileRequest& request) {
    saveRequests.push_back(request);
    return next();
}

void writePicture(const std::string& path, int width, int height, const PixelColour& colour) {
    std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rows[static_cast<size_t>(y)].push_back(colour(x, y));
    testing_files::writeFile(path, testing_files::bmp24(rows, width, height));
}

QString testData(const char* relative) {
    return QStringLiteral(QUORVEL_TEST_DATA "/") + QString::fromLatin1(relative);
}

QColor shownPixel(QWidget* widget, int x, int y) { return widget->grab().toImage().pixelColor(x, y); }

WindowFixture::WindowFixture() {
    savedDirectory_ = std::filesystem::current_path().string();
    savedSession_ = session;
    std::memset(moduleDirectory, 0, sizeof moduleDirectory);
    std::strcpy(moduleDirectory, (folder.path().string() + pathSeparator).c_str());
    session = createSession();
    window = std::make_unique<MainWindow>(dialogs);
}

WindowFixture::~WindowFixture() {
    window.reset();
    destroySession(session);
    session = savedSession_;
    std::filesystem::current_path(savedDirectory_);
}

void WindowFixture::click(const char* name) const {
    QWidget* widget = control<QWidget>(name);
    QVERIFY2(widget, name);
    QTest::mouseClick(widget, Qt::LeftButton);
}

bool WindowFixture::enabled(const char* name) const { return control<QWidget>(name)->isEnabled(); }
bool WindowFixture::checked(const char* name) const { return control<QAbstractButton>(name)->isChecked(); }
void WindowFixture::setScaleText(const QString& text) const { control<QLineEdit>("IDC_SCALE")->setText(text); }
QString WindowFixture::scaleText() const { return control<QLineEdit>("IDC_SCALE")->text(); }
QString WindowFixture::conventionText() const { return control<QLabel>("convention")->text(); }

void WindowFixture::openThroughDialog(const QString& path) {
    dialogs.choose(path);
    click("IDC_OPEN");
    QCOMPARE(dialogs.answers.size(), size_t{0});
}

void WindowFixture::saveThroughDialog(const QString& path) {
    dialogs.choose(path);
    click("IDC_SAVE");
    QCOMPARE(dialogs.answers.size(), size_t{0});
}

HeightMapPanel* WindowFixture::openHeightMap(const QString& path) {
    dialogs.choose(path);
    for (QAction* action : window->findChildren<QAction*>())
        if (action->text() == QLatin1String("Open &Height Map...")) action->trigger();
    // A panel closed before is still there until the event loop deletes it.
    for (HeightMapPanel* panel : window->findChildren<HeightMapPanel*>())
        if (panel->isVisible()) return panel;
    return nullptr;
}

namespace {

struct RegisteredTest {
    const char* name;
    std::function<std::unique_ptr<QObject>()> make;
};

std::vector<RegisteredTest>& registeredTests() {
    static std::vector<RegisteredTest> tests;
    return tests;
}

}  // namespace

TestRegistration::TestRegistration(const char* name, std::function<std::unique_ptr<QObject>()> make) {
    registeredTests().push_back({name, std::move(make)});
}

// Usage: quorvel_qt_tests [CLASS [QTest options...]]
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QStringList options{QString::fromLocal8Bit(argv[0])};
    for (int i = 2; i < argc; ++i) options.push_back(QString::fromLocal8Bit(argv[i]));
    int failed = 0, run = 0;
    for (const RegisteredTest& test : registeredTests()) {
        if (!only.isEmpty() && only != QLatin1String(test.name)) continue;
        ++run;
        const std::unique_ptr<QObject> object = test.make();
        failed += QTest::qExec(object.get(), options) != 0 ? 1 : 0;
    }
    if (run == 0) {
        std::fprintf(stderr, "no test class named %s\n", qPrintable(only));
        return 2;
    }
    return failed == 0 ? 0 : 1;
}
