// What the tests of the Linux window share: dialogs answered from a script,
// a fixture that builds the window over a fresh Session, picture files, and
// the registration of the test classes with the one test program.
#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/height_panel.h"
#include "app/qt/main_window.h"
#include "app/qt/user_dialogs.h"
#include "app/session.h"
#include "tests/unit/test_files.h"

struct SeenMessage {
    QString text;
    QString caption;
    MessageIcon icon;
    QWidget* owner;
};

// Answers the file dialogs in order from a list of planned answers (a path,
// or nothing for Cancel) and records every request and message. A file
// dialog with nothing planned is cancelled and counted.
class ScriptedDialogs : public UserDialogs {
public:
    void message(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon) override;
    std::optional<QString> openFileName(QWidget* owner, const FileRequest& request) override;
    std::optional<QString> saveFileName(QWidget* owner, const FileRequest& request) override;

    void choose(const QString& path) { answers.push_back(path); }
    void cancel() { answers.push_back(QString()); }

    std::deque<QString> answers;  // a null string cancels
    std::vector<SeenMessage> messages;
    std::vector<FileRequest> openRequests;
    std::vector<FileRequest> saveRequests;
    int unplanned = 0;

private:
    std::optional<QString> next();
};

// Writes a 24-bit BMP file of a w x h picture whose pixel (x, y) is
// colour(x, y) as 0xRRGGBB.
using PixelColour = std::function<uint32_t(int x, int y)>;
void writePicture(const std::string& path, int width, int height, const PixelColour& colour);

// A file of the repository's tests/data.
QString testData(const char* relative);

// The colour a widget shows at (x, y), as it paints now.
QColor shownPixel(QWidget* widget, int x, int y);

// The main window over a fresh Session whose folders are a temporary
// directory of its own; the current directory is put back afterwards.
class WindowFixture {
public:
    WindowFixture();
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    template <typename Widget>
    Widget* control(const char* name) const {
        return window->findChild<Widget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    }
    void click(const char* name) const;  // a left click in the middle of the control
    bool enabled(const char* name) const;
    bool checked(const char* name) const;
    void setScaleText(const QString& text) const;
    QString scaleText() const;
    QString conventionText() const;

    // Opens `path` through the Open button and its dialog.
    void openThroughDialog(const QString& path);
    // Saves through the Save button and its dialog.
    void saveThroughDialog(const QString& path);
    // File > Open Height Map... with `path` chosen in its dialog: the panel
    // it opens, or null.
    HeightMapPanel* openHeightMap(const QString& path);

    QString file(const std::string& name) const { return QString::fromStdString(folder.file(name)); }

    testing_files::TempDir folder;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

private:
    std::string savedDirectory_;
    Session* savedSession_ = nullptr;
};

// Test classes register themselves with the test program, which runs them
// all, or the one named by its first argument.
struct TestRegistration {
    TestRegistration(const char* name, std::function<std::unique_ptr<QObject>()> make);
};
#define QUORVEL_QT_TEST(Class) \
    const TestRegistration registration##Class(#Class, [] { return std::unique_ptr<QObject>(new Class); })
