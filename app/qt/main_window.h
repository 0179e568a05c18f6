// The main window of the Linux program: the Windows dialog's controls in the
// template's places, each command a call on app/ followed by a redraw of what
// the Session then holds.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "adjust/adjust.h"
#include "detect/green_convention.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class PreviewWindow;
class ThumbnailView;
class UserDialogs;

// The line under the thumbnail for a detection result: "Looks like OpenGL
// (Y+), 93% sure", "Looks like DirectX (Y-), 88% sure" or "Green convention
// unclear: parts disagree" (with the reason, when there is one). The
// confidence is shown as a whole percentage, rounded.
QString conventionLine(const ConventionGuess& guess);
// What the check finds wrong with a map, to follow that line: "; Z missing,
// sRGB-decoded", or empty when nothing is (or when `guess` has already said
// that the picture is no normal map).
QString findingsPart(const Image& image, const ConventionGuess& guess);

class MainWindow : public QWidget {
public:
    explicit MainWindow(UserDialogs& dialogs);
    ~MainWindow() override;

    // Opens a file named outside the Open dialog (the command line, a drop):
    // on failure the shown picture stays and the Open command's message says
    // so.
    void openFile(const QString& path);

    PreviewWindow& preview() { return *preview_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void createActions();
    void centreOnScreen();

    // The window from the Session: option boxes, scale text, enabling.
    void syncControls();
    void readScale();
    // Shows the image as it now stands: the thumbnail, the convention line,
    // and the Preview window when it is open.
    void refreshViews();
    void showMessage(const char* text, const char* caption);

    // The commands, each the Windows dialog's sequence of steps.
    void onOpen();
    void onSave();
    void onPreview();
    void onApply();
    void onOptionBox(QCheckBox* box, int32_t AdjustOptions::*option, bool ticked);

    // Open and Save around their file dialogs (file_commands.cpp).
    bool chooseOpenFile(std::string& chosen);
    int saveCurrentImage();

    UserDialogs& dialogs_;
    QPushButton* open_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* quit_ = nullptr;
    QPushButton* showPreview_ = nullptr;
    QPushButton* apply_ = nullptr;
    QCheckBox* invertRed_ = nullptr;
    QCheckBox* invertGreen_ = nullptr;
    QCheckBox* invertBlue_ = nullptr;
    QCheckBox* renormalize_ = nullptr;
    QLineEdit* scale_ = nullptr;
    ThumbnailView* thumbnail_ = nullptr;
    QLabel* convention_ = nullptr;
    PreviewWindow* preview_ = nullptr;
};
