// The main dialog: each message and each control goes to a named handler,
// which runs the command's steps in order over the Session.
#include <cstdio>

#include "app/apply_run.h"
#include "app/win32/quorvel_win32.h"

HINSTANCE instanceHandle;

void showMessage(const char* text, const char* caption) {
    MessageBoxA(GetFocus(), text, caption, MB_OK | MB_ICONWARNING);
}

int syncControls(HWND dialog) {
    if (!dialog || !session) return 0;
    const AdjustOptions& options = session->options;
    char scaleText[128];
    std::snprintf(scaleText, sizeof scaleText, "%.5f", static_cast<double>(options.scale));
    SetDlgItemTextA(dialog, IDC_SCALE, scaleText);
    const auto state = [](int32_t option) { return option == 1 ? BST_CHECKED : BST_UNCHECKED; };
    CheckDlgButton(dialog, IDC_INVERT_RED, state(options.invertRed));
    CheckDlgButton(dialog, IDC_INVERT_GREEN, state(options.invertGreen));
    CheckDlgButton(dialog, IDC_INVERT_BLUE, state(options.invertBlue));
    CheckDlgButton(dialog, IDC_RENORMALIZE, state(options.renormalize));
    EnableWindow(GetDlgItem(dialog, IDC_SCALE), options.renormalize == 1);
    EnableWindow(GetDlgItem(dialog, IDC_APPLY), options.renormalize == 1);
    return 1;
}

int readScale(HWND dialog) {
    if (!session) return 1;
    char text[128] = {};
    GetDlgItemTextA(dialog, IDC_SCALE, text, sizeof text);
    session->options.scale = parseScaleText(text);
    return 1;
}

BOOL centreWindow(HWND window, HWND reference) {
    if (!window || !reference) return FALSE;
    RECT own{}, ref{};
    GetWindowRect(window, &own);
    GetWindowRect(reference, &ref);
    const int w = own.right - own.left, h = own.bottom - own.top;
    const int W = ref.right - ref.left, H = ref.bottom - ref.top;
    HDC dc = GetDC(window);
    const int screenWidth = GetDeviceCaps(dc, HORZRES);
    const int screenHeight = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(window, dc);
    // Centred over the reference, but never off the screen's left or top
    // edge, and off its right or bottom edge only when it is too big.
    const auto place = [](int start, int span, int size, int screen) {
        const int at = start + (span - size) / 2;
        if (at < 0) return 0;
        return at + size > screen ? screen - size : at;
    };
    return SetWindowPos(window, nullptr, place(ref.left, W, w, screenWidth), place(ref.top, H, h, screenHeight), 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER);
}

namespace {

// The option that each check box mirrors.
int32_t* optionOf(int id) {
    AdjustOptions& options = session->options;
    switch (id) {
        case IDC_INVERT_RED: return &options.invertRed;
        case IDC_INVERT_GREEN: return &options.invertGreen;
        case IDC_INVERT_BLUE: return &options.invertBlue;
        case IDC_RENORMALIZE: return &options.renormalize;
        default: return nullptr;
    }
}

// Shows the image as it now stands: the thumbnail, and the Preview window
// when it is open.
void refreshViews(HWND dialog) {
    paintThumbnail(dialog);
    fitPreviewToImage();
}

INT_PTR onQuit(HWND dialog, WPARAM wParam) {
    EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return TRUE;
}

INT_PTR onOpen(HWND dialog, WPARAM) {
    char chosen[openNameBufferSize] = {};
    if (chooseOpenFile(dialog, chosen) && !loadOpenFile(chosen)) showMessage("Failed to load open file.", "Error");
    syncControls(dialog);
    refreshViews(dialog);
    return TRUE;
}

INT_PTR onSave(HWND dialog, WPARAM) {
    syncControls(dialog);
    buildThumbnail();
    refreshViews(dialog);
    saveCurrentImage(dialog);
    return TRUE;
}

INT_PTR onPreview(HWND dialog, WPARAM) {
    syncControls(dialog);
    buildThumbnail();
    paintThumbnail(dialog);
    showPreview();
    return TRUE;
}

INT_PTR onApply(HWND dialog, WPARAM) {
    readScale(dialog);
    syncControls(dialog);
    applyAdjustments();
    refreshViews(dialog);
    return TRUE;
}

// A click on one of the four option boxes: the option follows the box, and
// the image is adjusted again at once.
INT_PTR onOptionBox(HWND dialog, WPARAM wParam) {
    const int id = LOWORD(wParam);
    const bool ticked = (SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) & BST_CHECKED) != 0;
    *optionOf(id) = ticked ? 1 : 0;
    if (id == IDC_RENORMALIZE) {
        EnableWindow(GetDlgItem(dialog, IDC_SCALE), ticked);
        EnableWindow(GetDlgItem(dialog, IDC_APPLY), ticked);
    }
    applyAdjustments();
    refreshViews(dialog);
    return FALSE;
}

struct CommandEntry {
    int id;
    INT_PTR (*handler)(HWND dialog, WPARAM wParam);
};

constexpr CommandEntry commands[] = {
    {IDCANCEL, onQuit},
    {IDC_OPEN, onOpen},
    {IDC_SAVE, onSave},
    {IDC_PREVIEW, onPreview},
    {IDC_APPLY, onApply},
    {IDC_INVERT_RED, onOptionBox},
    {IDC_INVERT_GREEN, onOptionBox},
    {IDC_INVERT_BLUE, onOptionBox},
    {IDC_RENORMALIZE, onOptionBox},
};

INT_PTR onCommand(HWND dialog, WPARAM wParam) {
    // Only the control's id counts, not the notification code. Command 1
    // (the Enter key) and the scale field's notifications do nothing.
    const int id = LOWORD(wParam);
    if (!session && id != IDCANCEL) return FALSE;
    for (const CommandEntry& entry : commands)
        if (entry.id == id) return entry.handler(dialog, wParam);
    return FALSE;
}

INT_PTR onInitDialog(HWND dialog) {
    syncControls(dialog);
    centreWindow(dialog, GetDesktopWindow());
    return TRUE;  // the focus goes to the first tab stop, "Open..."
}

INT_PTR onDrawItem(HWND dialog, WPARAM wParam, LPARAM lParam) {
    if (wParam != IDC_THUMBNAIL || lParam == 0) return FALSE;
    paintThumbnail(dialog);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: return onInitDialog(dialog);
        case WM_DRAWITEM: return onDrawItem(dialog, wParam, lParam);
        case WM_COMMAND: return onCommand(dialog, wParam);
        default: return FALSE;
    }
}
