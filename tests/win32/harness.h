// What the tests of the real dialog share: a fixture that creates the main
// dialog from its template, an answerer for message boxes and file dialogs,
// and picture files to open.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/win32/quorvel_win32.h"

// Runs every message waiting for this thread through the dialog manager.
void pumpMessages(HWND dialog);

// A folder of its own for each test, removed afterwards; `path` ends in '\'.
struct WorkFolder {
    std::string path;
    WorkFolder();
    ~WorkFolder();
    std::string file(const std::string& name) const { return path + name; }
};

// Writes a 24-bit BMP file of a w x h picture whose pixel (x, y) is
// colour(x, y) as red-green-blue.
using PixelColour = uint32_t (*)(int x, int y);
void writePicture(const std::string& path, int width, int height, PixelColour colour);
std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A dialog of this thread that appeared while the answerer was running.
struct SeenDialog {
    std::string caption;
    std::string text;       // a message box's text
    std::string fileName;   // a file dialog's file-name field as it opened
    std::vector<std::string> fileTypes;  // a file dialog's "files of type" list
    int fileType = -1;      // the entry selected in it as the dialog opened
    HWND owner = nullptr;
    bool warningIcon = false;
    bool okOnly = false;    // a message box whose one button is OK
    bool fileDialog = false;
};

// Answers, in order, the dialogs that the code under test shows: a message
// box is closed with the planned button (OK when nothing is planned); a file
// dialog is given the planned file name and accepted, or cancelled. A thread
// timer does the work, so it runs inside the dialogs' own message loops.
class DialogAnswerer {
public:
    explicit DialogAnswerer(HWND mainDialog);
    ~DialogAnswerer();
    void press(int button);                      // for the next message box
    // For the next file dialog: `fileType` (an index, when not -1) is
    // selected in its "files of type" list before `name` is accepted.
    void chooseFile(const std::string& name, int fileType = -1);
    void cancelFile();
    std::vector<SeenDialog> seen;
    size_t unanswered() const { return plans_.size(); }

private:
    struct Plan {
        bool file;
        bool cancel;
        int button;
        std::string name;
        int fileType;
    };
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    void answer(HWND window);
    HWND mainDialog_;
    UINT_PTR timer_ = 0;
    std::deque<Plan> plans_;
    std::vector<HWND> answered_;
};

class MainDialogTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void click(int id);  // BM_CLICK on a control, then the messages it caused
    void pump() { pumpMessages(dialog); }
    void setScaleText(const char* text);
    std::string scaleText() const;
    bool checked(int id) const { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    bool enabled(int id) const { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }
    // Opens `path` through the Open command and its dialog.
    std::vector<SeenDialog> openThroughDialog(const std::string& path);
    HWND dialog = nullptr;
    WorkFolder work;
};

// The colour of a window's client pixel, as drawn.
COLORREF clientPixel(HWND window, int x, int y);

// The Preview windows of this thread.
std::vector<HWND> previewWindows();
