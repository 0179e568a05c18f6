// The two views of the image: the full-size Preview window and the dialog's
// thumbnail control.
#include "app/win32/quorvel_win32.h"

#include "app/view_geometry.h"

HWND previewWindow;
int previewOpen;

namespace {

constexpr char previewClassName[] = "PreviewClass";
constexpr DWORD previewStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD previewExStyle = WS_EX_WINDOWEDGE;

HBITMAP imageBitmap() { return session ? reinterpret_cast<HBITMAP>(session->image.bitmap) : nullptr; }

// The outer size of a Preview window whose client area holds the image.
SIZE previewOuterSize() {
    RECT frame{0, 0, session->image.width, session->image.height};
    AdjustWindowRectEx(&frame, previewStyle, FALSE, previewExStyle);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// The open window, restored, at the image's size, in front, repainted.
void raisePreview(SIZE size) {
    if (IsIconic(previewWindow)) ShowWindow(previewWindow, SW_RESTORE);
    SetWindowPos(previewWindow, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    SetForegroundWindow(previewWindow);
    repaintPreview();
}

// Copies all of `bitmap` onto `target`'s rectangle of `dc` through a memory
// context compatible with `compatible`. The bitmap's size is asked for at
// every paint, so only its own pixels are ever read, whatever image it is.
void drawBitmap(HDC dc, HDC compatible, HBITMAP bitmap, const RECT& target) {
    BITMAP size{};
    if (!GetObjectA(bitmap, sizeof size, &size)) return;
    HDC memory = CreateCompatibleDC(compatible);
    if (!memory) return;
    HGDIOBJ previous = SelectObject(memory, bitmap);
    StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, memory, 0, 0,
               size.bmWidth, size.bmHeight, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void fillButtonFace(HDC dc, const RECT& area) {
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    if (!brush) return;
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

}  // namespace

int registerPreviewClass() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC | CS_DBLCLKS;
    windowClass.lpfnWndProc = previewWindowProc;
    windowClass.hInstance = instanceHandle;
    windowClass.hIcon = LoadIconA(instanceHandle, MAKEINTRESOURCEA(IDI_QUORVEL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = previewClassName;
    return RegisterClassExA(&windowClass) != 0;
}

int showPreview() {
    if (!session || !session->loaded) {
        showMessage("Nothing loaded.  Try opening a file first.", "Warning");
        return 0;
    }
    const SIZE size = previewOuterSize();
    if (previewOpen == 1) {
        raisePreview(size);
        return 1;
    }
    previewWindow = CreateWindowExA(previewExStyle, previewClassName, "Preview", previewStyle, 0, 0, size.cx, size.cy,
                                    nullptr, nullptr, instanceHandle, nullptr);
    if (!previewWindow) return 0;
    previewOpen = 1;
    // Black until the window's own paint draws the image over it.
    HDC dc = GetDC(previewWindow);
    if (dc) {
        RECT client{};
        GetClientRect(previewWindow, &client);
        HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
        if (black) {
            FillRect(dc, &client, black);
            DeleteObject(black);
        }
        ReleaseDC(previewWindow, dc);
    }
    return 1;
}

void fitPreviewToImage() {
    if (!session || !session->loaded) return;
    const SIZE size = previewOuterSize();
    if (previewOpen == 1) raisePreview(size);
}

void repaintPreview() {
    if (previewOpen != 1 || !previewWindow) return;
    InvalidateRect(previewWindow, nullptr, FALSE);
    UpdateWindow(previewWindow);
}

void destroyPreview() {
    if (previewOpen == 1 && previewWindow) {
        DestroyWindow(previewWindow);
        previewWindow = nullptr;
    }
    previewOpen = 0;
}

LRESULT CALLBACK previewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return 0;
        case WM_DESTROY:
            previewOpen = 0;
            return 0;
        case WM_SIZE:
            paintPreview(window);
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_PAINT:
            // Painted through the window's own context, then marked valid.
            paintPreview(window);
            ValidateRect(window, nullptr);
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

void paintPreview(HWND window) {
    if (!window || IsIconic(window)) return;
    RECT client{};
    GetClientRect(window, &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    HBITMAP bitmap = imageBitmap();
    if (!bitmap) return;
    HDC dc = GetDC(window);
    if (!dc) return;
    drawBitmap(dc, nullptr, bitmap, client);
    ReleaseDC(window, dc);
}

RECT thumbnailPlacement(int W, int H, int bw, int bh) {
    const ViewRect placed = placeThumbnail(W, H, bw, bh);
    return {placed.left, placed.top, placed.right, placed.bottom};
}

void paintThumbnail(HWND dialog) {
    if (!session || !dialog) return;
    HWND control = GetDlgItem(dialog, IDC_THUMBNAIL);
    if (!control) return;
    HDC dc = GetDC(control);
    if (!dc) return;
    RECT client{};
    GetClientRect(control, &client);
    fillButtonFace(dc, client);
    HBITMAP thumbnail = reinterpret_cast<HBITMAP>(session->thumbnail.bitmap);
    BITMAP size{};
    if (session->loaded == 1 && thumbnail && GetObjectA(thumbnail, sizeof size, &size))
        drawBitmap(dc, dc, thumbnail, thumbnailPlacement(client.right, client.bottom, size.bmWidth, size.bmHeight));
    ReleaseDC(control, dc);
}
