// The Preview window and the dialog's thumbnail.
#include "harness.h"

#include "image/image.h"

namespace {

uint32_t teal(int, int) { return 0x008080; }
uint32_t checker(int x, int y) { return ((x / 8 + y / 8) % 2) ? 0xFFFFFF : 0x2040C0; }

SIZE clientSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

class PreviewTest : public MainDialogTest {
protected:
    void open(int width, int height, PixelColour colour) {
        const std::string path = work.file("picture-" + std::to_string(width) + "x" + std::to_string(height) + ".bmp");
        writePicture(path, width, height, colour);
        openThroughDialog(path);
        ASSERT_EQ(session->image.width, width);
    }
    HWND openPreview() {
        click(IDC_PREVIEW);
        const std::vector<HWND> windows = previewWindows();
        EXPECT_EQ(windows.size(), 1u);
        EXPECT_EQ(previewOpen, 1);
        return windows.empty() ? nullptr : windows[0];
    }
};

TEST_F(PreviewTest, OpensAtTheTopLeftWithTheImagesClientSize) {
    open(512, 512, checker);
    HWND preview = openPreview();
    ASSERT_EQ(preview, previewWindow);
    const SIZE size = clientSize(preview);
    EXPECT_EQ(size.cx, 512);
    EXPECT_EQ(size.cy, 512);
    RECT outer{};
    GetWindowRect(preview, &outer);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    char caption[32] = {};
    GetWindowTextA(preview, caption, sizeof caption);
    EXPECT_STREQ(caption, "Preview");
    const LONG style = GetWindowLongA(preview, GWL_STYLE);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetWindow(preview, GW_OWNER), nullptr);
    pump();
    // Pixel for pixel: (0, 0) is blue-ish, (8, 0) white.
    EXPECT_EQ(clientPixel(preview, 0, 0), RGB(0x20, 0x40, 0xC0));
    EXPECT_EQ(clientPixel(preview, 8, 0), RGB(255, 255, 255));
    EXPECT_EQ(clientPixel(preview, 511, 511), RGB(0x20, 0x40, 0xC0));
}

TEST_F(PreviewTest, AnOptionClickSetsAResizedWindowBackToTheImage) {
    open(320, 240, teal);
    HWND preview = openPreview();
    SetWindowPos(preview, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    pump();
    EXPECT_NE(clientSize(preview).cx, 320);
    click(IDC_INVERT_RED);
    EXPECT_EQ(clientSize(preview).cx, 320);
    EXPECT_EQ(clientSize(preview).cy, 240);
}

TEST_F(PreviewTest, PreviewAgainRestoresAMinimisedWindowWithoutASecond) {
    open(320, 240, teal);
    HWND preview = openPreview();
    ShowWindow(preview, SW_MINIMIZE);
    pump();
    ASSERT_TRUE(IsIconic(preview));
    click(IDC_PREVIEW);
    EXPECT_FALSE(IsIconic(preview));
    EXPECT_EQ(previewWindows().size(), 1u);
    EXPECT_EQ(clientSize(preview).cx, 320);
    EXPECT_EQ(clientSize(preview).cy, 240);
}

TEST_F(PreviewTest, AClosedWindowStaysClosedWhenOptionsChange) {
    open(320, 240, teal);
    HWND preview = openPreview();
    SendMessageA(preview, WM_CLOSE, 0, 0);
    pump();
    EXPECT_EQ(previewOpen, 0);
    click(IDC_INVERT_GREEN);
    click(IDC_APPLY);
    EXPECT_TRUE(previewWindows().empty());
    EXPECT_EQ(previewOpen, 0);
}

// A new image under an open window: the window takes the new size and the
// paint reads only the new, smaller bitmap.
TEST_F(PreviewTest, FollowsANewImageOfAnotherSize) {
    open(400, 300, checker);
    HWND preview = openPreview();
    open(250, 180, teal);
    EXPECT_EQ(previewWindows().size(), 1u);
    EXPECT_EQ(clientSize(preview).cx, 250);
    EXPECT_EQ(clientSize(preview).cy, 180);
    pump();
    EXPECT_EQ(clientPixel(preview, 249, 179), RGB(0, 0x80, 0x80));
}

TEST_F(PreviewTest, DestroyPreviewClosesTheWindow) {
    open(16, 16, teal);
    HWND preview = openPreview();
    destroyPreview();
    EXPECT_FALSE(IsWindow(preview));
    EXPECT_EQ(previewOpen, 0);
    EXPECT_EQ(previewWindow, nullptr);
    destroyPreview();  // nothing left to do
    EXPECT_EQ(previewOpen, 0);
}

TEST(ThumbnailPlacement, FitsCentredKeepingProportions) {
    const struct {
        int W, H, bw, bh;
        RECT drawn;
    } cases[] = {
        {300, 300, 100, 50, {0, 75, 300, 225}},  // s = 3
        {300, 300, 150, 100, {0, 50, 300, 250}},
        // 300 / 298 as a float lies below the double: the height's factor
        // wins and the picture comes out one pixel short.
        {300, 300, 298, 298, {0, 0, 299, 299}},
        {298, 298, 298, 299, {0, 0, 297, 298}},
        {300, 298, 149, 299, {76, 0, 224, 298}},  // (300 - 148) / 2
        {300, 300, 3, 7, {86, 0, 214, 300}},
        {301, 300, 1, 1, {0, 0, 300, 300}},  // (301 - 300) / 2 rounds down
        {10, 10, 0, 5, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const RECT r = thumbnailPlacement(c.W, c.H, c.bw, c.bh);
        EXPECT_EQ(r.left, c.drawn.left) << c.bw << " x " << c.bh << " in " << c.W << " x " << c.H;
        EXPECT_EQ(r.top, c.drawn.top) << c.bw << " x " << c.bh << " in " << c.W << " x " << c.H;
        EXPECT_EQ(r.right, c.drawn.right) << c.bw << " x " << c.bh << " in " << c.W << " x " << c.H;
        EXPECT_EQ(r.bottom, c.drawn.bottom) << c.bw << " x " << c.bh << " in " << c.W << " x " << c.H;
    }
}

// The design's example in the real control: a 100 x 50 thumbnail in a
// 300 x 300 client area is drawn as 300 x 150 at (0, 75).
TEST_F(MainDialogTest, ThumbnailIsDrawnCentredOnButtonFace) {
    HWND control = GetDlgItem(dialog, IDC_THUMBNAIL);
    RECT window{}, client{};
    GetWindowRect(control, &window);
    GetClientRect(control, &client);
    const int frameX = (window.right - window.left) - client.right;
    const int frameY = (window.bottom - window.top) - client.bottom;
    SetWindowPos(control, nullptr, 0, 0, 300 + frameX, 300 + frameY, SWP_NOMOVE | SWP_NOZORDER);
    pump();
    GetClientRect(control, &client);
    ASSERT_EQ(client.right, 300);
    ASSERT_EQ(client.bottom, 300);

    Image picture{};
    picture.bitmap = createBlankBitmap(100, 50);  // black
    session->thumbnail.bitmap = picture.bitmap;
    session->loaded = 1;
    paintThumbnail(dialog);
    const COLORREF face = GetSysColor(COLOR_BTNFACE), black = RGB(0, 0, 0);
    const struct {
        int x, y;
        COLORREF colour;
    } probes[] = {{0, 74, face}, {0, 75, black}, {299, 75, black}, {150, 224, black}, {299, 225, face}, {150, 0, face}};
    for (const auto& p : probes) EXPECT_EQ(clientPixel(control, p.x, p.y), p.colour) << p.x << ", " << p.y;
}

}  // namespace
