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
#include "generate/height_to_normal.h"

class HeightMapPanel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
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

    // Where the dialog template's client area starts: under the menu bar (0
    // when the desktop shows the menus in a bar of its own).
    int clientTop() const { return clientTop_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createMenus();
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
    void onOpenHeightMap();
    void onSave();
    void onPreview();
    void onApply();
    void onOptionBox(QCheckBox* box, int32_t AdjustOptions::*option, bool ticked);
    // OK in the height-map panel: the map made of the whole height becomes
    // the shown picture, made from `heightFile`.
    void adoptHeightMap(const HeightMapPanel& panel, const std::string& heightFile);

    // Open and Save around their file dialogs (file_commands.cpp); the Open
    // dialog with `title` as its caption.
    bool chooseOpenFile(std::string& chosen, const QString& title);
    int saveCurrentImage();

    UserDialogs& dialogs_;
    QMenuBar* menuBar_ = nullptr;
    int clientTop_ = 0;
    // What the height-map panel starts with: the options last made a map
    // with.
    HeightToNormalOptions heightOptions_;
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
