// The main dialog: its template, its controls' states and enabling rules,
// the scale field, the keyboard, and its placement.
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

// Reads the dialog template resource 102 as the system stores it.
struct TemplateReader {
    const uint8_t* p;
    uint16_t word() {
        uint16_t v;
        std::memcpy(&v, p, 2);
        p += 2;
        return v;
    }
    uint32_t dword() { return word() | (uint32_t{word()} << 16); }
    int16_t coordinate() { return static_cast<int16_t>(word()); }
    // A string, or an ordinal written as "#n".
    std::string nameOrOrdinal() {
        uint16_t first = word();
        if (first == 0xFFFF) return "#" + std::to_string(word());
        std::string text;
        for (; first; first = word()) text.push_back(static_cast<char>(first));
        return text;
    }
    void alignToDword(const uint8_t* base) {
        while ((p - base) % 4) ++p;
    }
};

// A control class as the table names it; a template may also give the
// system classes by their ordinals.
std::string systemClass(const std::string& name) {
    if (name == "#128") return "BUTTON";
    if (name == "#129") return "EDIT";
    if (name == "#130") return "STATIC";
    return name;
}

struct ControlRow {
    int id;
    const char* className;
    const char* text;
    DWORD style;
    int x, y, w, h;
};

constexpr DWORD child = WS_CHILD | WS_VISIBLE;
const ControlRow expectedControls[] = {
    {IDC_OPEN, "BUTTON", "Open...", child | BS_PUSHBUTTON | WS_TABSTOP, 235, 10, 50, 14},
    {IDC_SAVE, "BUTTON", "Save...", child | BS_PUSHBUTTON | WS_TABSTOP, 235, 30, 50, 14},
    {IDCANCEL, "BUTTON", "Quit", child | BS_PUSHBUTTON | WS_TABSTOP, 235, 50, 50, 14},
    {IDC_PREVIEW, "BUTTON", "Preview", child | BS_PUSHBUTTON | WS_TABSTOP, 235, 70, 50, 14},
    {0xFFFF, "BUTTON", "Preview", child | BS_GROUPBOX, 5, 5, 220, 210},
    {IDC_THUMBNAIL, "STATIC", "", child | SS_OWNERDRAW | SS_SUNKEN, 15, 20, 200, 185},
    {0xFFFF, "BUTTON", "Color Options", child | BS_GROUPBOX, 5, 220, 105, 50},
    {IDC_INVERT_RED, "BUTTON", "Invert red channel", child | BS_AUTOCHECKBOX | WS_TABSTOP, 10, 235, 75, 8},
    {IDC_INVERT_GREEN, "BUTTON", "Invert green channel", child | BS_AUTOCHECKBOX | WS_TABSTOP, 10, 245, 85, 8},
    {IDC_INVERT_BLUE, "BUTTON", "Invert blue channel", child | BS_AUTOCHECKBOX | WS_TABSTOP, 10, 255, 80, 8},
    {0xFFFF, "BUTTON", "Misc Options", child | BS_GROUPBOX, 120, 220, 105, 50},
    {IDC_RENORMALIZE, "BUTTON", "Re-normalize map", child | BS_AUTOCHECKBOX | WS_TABSTOP, 130, 235, 75, 8},
    {0xFFFF, "STATIC", "scale:", child | SS_LEFT | WS_GROUP, 130, 251, 20, 8},
    {IDC_SCALE, "EDIT", "", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 155, 250, 45, 12},
    {IDC_APPLY, "BUTTON", "Apply", child | BS_PUSHBUTTON | WS_TABSTOP, 235, 250, 50, 14},
};

TEST(DialogTemplate, IsThePlainTemplateAsTabled) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(base, nullptr);
    TemplateReader t{base};
    const DWORD style = t.dword();
    ASSERT_NE(style, 0xFFFF0001u) << "an extended template";
    EXPECT_EQ(style, DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT});
    EXPECT_EQ(t.dword(), 0u);  // extended style
    const uint16_t count = t.word();
    const int16_t x = t.coordinate(), y = t.coordinate(), w = t.coordinate(), h = t.coordinate();
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, 292);
    EXPECT_EQ(h, 277);
    EXPECT_EQ(t.nameOrOrdinal(), "");  // no menu
    EXPECT_EQ(t.nameOrOrdinal(), "");  // no class of its own
    EXPECT_EQ(t.nameOrOrdinal(), "Quorvel v1.01 - https://quorvel.example.org");
    EXPECT_EQ(t.word(), 8);
    EXPECT_EQ(t.nameOrOrdinal(), "MS Sans Serif");

    ASSERT_EQ(count, std::size(expectedControls));
    for (const ControlRow& row : expectedControls) {
        SCOPED_TRACE(row.text);
        t.alignToDword(base);
        EXPECT_EQ(t.dword(), row.style);
        EXPECT_EQ(t.dword(), 0u);
        const int16_t cx = t.coordinate(), cy = t.coordinate(), cw = t.coordinate(), ch = t.coordinate();
        EXPECT_EQ(cx, row.x);
        EXPECT_EQ(cy, row.y);
        EXPECT_EQ(cw, row.w);
        EXPECT_EQ(ch, row.h);
        EXPECT_EQ(t.word(), row.id);
        EXPECT_EQ(systemClass(t.nameOrOrdinal()), row.className);
        EXPECT_EQ(t.nameOrOrdinal(), row.text);
        const uint16_t extra = t.word();
        t.p += extra;
    }
}

TEST(Resources, CarryTheIconGroupAndVersion) {
    EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_QUORVEL), MAKEINTRESOURCEA(14)), nullptr);  // RT_GROUP_ICON
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageA(instanceHandle, MAKEINTRESOURCEA(IDI_QUORVEL), IMAGE_ICON, size,
                                                   size, 0));
        EXPECT_NE(icon, nullptr) << size;
        if (icon) DestroyIcon(icon);
    }
    HRSRC version = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
    ASSERT_NE(version, nullptr);
    const auto* block = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, version)));
    const DWORD size = SizeofResource(nullptr, version);
    // The fixed part: file version 1.0.1.0, then the strings in UTF-16.
    const auto contains = [&](const char* text) {
        std::u16string wide(text, text + std::strlen(text));
        const auto* begin = reinterpret_cast<const char16_t*>(block);
        return std::u16string_view(begin, size / 2).find(wide) != std::u16string_view::npos;
    };
    EXPECT_TRUE(contains("1, 0, 1, 0"));
    EXPECT_TRUE(contains("Quorvel"));
    VS_FIXEDFILEINFO fixed{};
    for (DWORD i = 0; i + sizeof fixed <= size; i += 4) {
        std::memcpy(&fixed, block + i, sizeof fixed);
        if (fixed.dwSignature == 0xFEEF04BD) break;
    }
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
}

TEST_F(MainDialogTest, StartsWithDefaultsAndOnlyScaleAndApplyDisabled) {
    for (int id : {IDC_INVERT_RED, IDC_INVERT_GREEN, IDC_INVERT_BLUE, IDC_RENORMALIZE}) EXPECT_FALSE(checked(id)) << id;
    EXPECT_EQ(scaleText(), "1.00000");
    for (int id : {IDC_OPEN, IDC_SAVE, IDCANCEL, IDC_PREVIEW, IDC_INVERT_RED, IDC_INVERT_GREEN, IDC_INVERT_BLUE,
                   IDC_RENORMALIZE})
        EXPECT_TRUE(enabled(id)) << id;
    EXPECT_FALSE(enabled(IDC_SCALE));
    EXPECT_FALSE(enabled(IDC_APPLY));
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_OPEN));
    char caption[128] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Quorvel v1.01 - https://quorvel.example.org");
}

TEST_F(MainDialogTest, IsCentredOnTheScreen) {
    RECT own{};
    GetWindowRect(dialog, &own);
    RECT screen{};
    GetWindowRect(GetDesktopWindow(), &screen);
    EXPECT_EQ(own.left, (screen.right - (own.right - own.left)) / 2);
    EXPECT_EQ(own.top, (screen.bottom - (own.bottom - own.top)) / 2);
}

TEST_F(MainDialogTest, RenormalizeEnablesScaleAndApplyAndApplyReadsTheField) {
    click(IDC_RENORMALIZE);
    EXPECT_EQ(session->options.renormalize, 1);
    EXPECT_TRUE(enabled(IDC_SCALE));
    EXPECT_TRUE(enabled(IDC_APPLY));

    const struct {
        const char* typed;
        float scale;
        const char* shown;
    } cases[] = {
        {"2", 2.0f, "2.00000"},     {"", 1.0f, "1.00000"},        {"abc", 0.0f, "0.00000"},
        {"-1.5", -1.5f, "-1.50000"}, {" 0.25x", 0.25f, "0.25000"}, {"0x10", 0.0f, "0.00000"},
    };
    for (const auto& c : cases) {
        setScaleText(c.typed);
        click(IDC_APPLY);
        EXPECT_EQ(session->options.scale, c.scale) << '"' << c.typed << '"';
        EXPECT_EQ(scaleText(), c.shown) << '"' << c.typed << '"';
    }

    click(IDC_RENORMALIZE);
    EXPECT_EQ(session->options.renormalize, 0);
    EXPECT_FALSE(enabled(IDC_SCALE));
    EXPECT_FALSE(enabled(IDC_APPLY));
}

TEST_F(MainDialogTest, CheckBoxesSetTheirOptionAndLeaveTheScaleField) {
    const struct {
        int id;
        int32_t AdjustOptions::*option;
    } boxes[] = {
        {IDC_INVERT_RED, &AdjustOptions::invertRed},
        {IDC_INVERT_GREEN, &AdjustOptions::invertGreen},
        {IDC_INVERT_BLUE, &AdjustOptions::invertBlue},
    };
    click(IDC_RENORMALIZE);
    setScaleText("7");  // typed, not applied
    for (const auto& box : boxes) {
        click(box.id);
        EXPECT_EQ(session->options.*box.option, 1) << box.id;
        EXPECT_TRUE(checked(box.id));
        click(box.id);
        EXPECT_EQ(session->options.*box.option, 0) << box.id;
    }
    EXPECT_EQ(scaleText(), "7");
    EXPECT_EQ(session->options.scale, 1.0f);
}

// Before any Open the boxes re-run the adjustment on the default path, whose
// file does not exist: nothing changes and nothing is shown.
TEST_F(MainDialogTest, CheckBoxBeforeAnyOpenChangesNothingOnScreen) {
    DialogAnswerer answerer(dialog);
    click(IDC_INVERT_GREEN);
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_EQ(session->loaded, 0);
    EXPECT_EQ(session->image.bitmap, nullptr);
}

TEST_F(MainDialogTest, PreviewAndSaveBeforeLoadingWarn) {
    DialogAnswerer answerer(dialog);
    click(IDC_PREVIEW);
    click(IDC_SAVE);
    ASSERT_EQ(answerer.seen.size(), 2u);
    const char* texts[] = {"Nothing loaded.  Try opening a file first.", "Nothing loaded."};
    for (size_t i = 0; i < 2; ++i) {
        const SeenDialog& box = answerer.seen[i];
        EXPECT_FALSE(box.fileDialog);
        EXPECT_EQ(box.text, texts[i]);
        EXPECT_EQ(box.caption, "Warning");
        EXPECT_TRUE(box.warningIcon);
        EXPECT_TRUE(box.okOnly);
        EXPECT_EQ(box.owner, dialog);
    }
    EXPECT_TRUE(previewWindows().empty());
    EXPECT_EQ(previewOpen, 0);
    // The thumbnail area is plain button face.
    HWND thumbnail = GetDlgItem(dialog, IDC_THUMBNAIL);
    RECT client{};
    GetClientRect(thumbnail, &client);
    EXPECT_EQ(clientPixel(thumbnail, client.right / 2, client.bottom / 2), GetSysColor(COLOR_BTNFACE));
}

using Step = void (*)(HWND dialog);

// The steps of a modal run, one a timer tick: everything a step posts is
// handled before the next tick comes.
std::vector<Step> pendingSteps;

void CALLBACK runNextStep(HWND, UINT, UINT_PTR id, DWORD) {
    HWND found = FindWindowA("#32770", "Quorvel v1.01 - https://quorvel.example.org");
    if (!found || !IsWindowVisible(found)) return;
    if (pendingSteps.empty()) {
        KillTimer(nullptr, id);
        return;
    }
    const Step step = pendingSteps.front();
    pendingSteps.erase(pendingSteps.begin());
    step(found);
}

// Runs the dialog modally, as the program does, with `steps` played into its
// loop once it is up; gives the dialog's result.
INT_PTR runModal(std::vector<Step> steps) {
    pendingSteps = std::move(steps);
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, runNextStep);
    const INT_PTR result =
        DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_MAIN), GetDesktopWindow(), mainDialogProc, 0);
    KillTimer(nullptr, timer);
    return result;
}

// Posts a key press to the window that has the focus.
void pressKey(UINT key) {
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

class ModalDialogTest : public testing::Test {
protected:
    void SetUp() override { session = createSession(); }
    void TearDown() override {
        destroySession(session);
        session = nullptr;
    }
};

TEST_F(ModalDialogTest, EscapeCloseBoxAndQuitEndTheDialogWithTwo) {
    const Step endings[] = {
        [](HWND) { pressKey(VK_ESCAPE); },
        [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
        [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); },
    };
    for (Step ending : endings) EXPECT_EQ(runModal({ending}), IDCANCEL);
}

// Enter in the scale field and on a check box sends command 1, which does
// nothing: the scale is not applied and the box is not toggled.
std::string fieldAfterEnter;

TEST_F(ModalDialogTest, EnterDoesNothing) {
    const INT_PTR result = runModal({
        [](HWND dialog) {
            SendDlgItemMessageA(dialog, IDC_RENORMALIZE, BM_CLICK, 0, 0);
            SetDlgItemTextA(dialog, IDC_SCALE, "3");
            SetFocus(GetDlgItem(dialog, IDC_SCALE));
            pressKey(VK_RETURN);
        },
        [](HWND dialog) {
            char text[32] = {};
            GetDlgItemTextA(dialog, IDC_SCALE, text, sizeof text);
            fieldAfterEnter = text;
            SetFocus(GetDlgItem(dialog, IDC_INVERT_RED));
            pressKey(VK_RETURN);
        },
        [](HWND) { pressKey(VK_ESCAPE); },
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(fieldAfterEnter, "3");
    EXPECT_EQ(session->options.scale, 1.0f);
    EXPECT_EQ(session->options.renormalize, 1);
    EXPECT_EQ(session->options.invertRed, 0);
}

TEST(CentreWindow, CentresOverTheReferenceAndKeepsOnScreen) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const auto popup = [](int x, int y, int w, int h) {
        return CreateWindowExA(0, "STATIC", "", WS_POPUP, x, y, w, h, nullptr, nullptr, nullptr, nullptr);
    };
    const struct {
        RECT reference;  // left, top, width, height
        int w, h;
        int x, y;
    } cases[] = {
        {{100, 100, 401, 301}, 200, 100, 200, 200},  // (401 - 200) / 2 truncates
        {{-300, -200, 100, 100}, 200, 100, 0, 0},
        {{screenWidth - 50, screenHeight - 40, 100, 80}, 200, 100, screenWidth - 200, screenHeight - 100},
    };
    for (const auto& c : cases) {
        HWND reference = popup(c.reference.left, c.reference.top, c.reference.right, c.reference.bottom);
        HWND window = popup(5, 5, c.w, c.h);
        ASSERT_TRUE(centreWindow(window, reference));
        RECT placed{};
        GetWindowRect(window, &placed);
        EXPECT_EQ(placed.left, c.x);
        EXPECT_EQ(placed.top, c.y);
        EXPECT_EQ(placed.right - placed.left, c.w);
        DestroyWindow(window);
        DestroyWindow(reference);
    }
    EXPECT_FALSE(centreWindow(nullptr, GetDesktopWindow()));
    EXPECT_FALSE(centreWindow(GetDesktopWindow(), nullptr));
}

TEST(SyncControls, RefusesAMissingDialog) { EXPECT_EQ(syncControls(nullptr), 0); }

}  // namespace
