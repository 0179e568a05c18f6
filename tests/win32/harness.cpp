#include "harness.h"

#include <cstdio>
#include <filesystem>

#include "image/image.h"
#include "writers/bmp_writer.h"

namespace {

// Once for the whole run, as the entry function does it.
class ProgramEnvironment : public testing::Environment {
public:
    void SetUp() override {
        instanceHandle = GetModuleHandleA(nullptr);
        findModuleDirectory();
        ASSERT_TRUE(registerPreviewClass());
    }
};
testing::Environment* const programEnvironment = testing::AddGlobalTestEnvironment(new ProgramEnvironment);

DialogAnswerer* activeAnswerer;

std::string windowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> threadWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> children(HWND window) {
    std::vector<HWND> list;
    EnumChildWindows(window, collectWindow, reinterpret_cast<LPARAM>(&list));
    return list;
}

constexpr int fileNameCombo = 0x47c;  // cmb13 of the explorer-style file dialogs
constexpr int fileNameEdit = 0x480;   // edt1 of the older ones
constexpr int fileTypeCombo = 0x470;  // cmb1, "files of type"

std::vector<std::string> comboItems(HWND combo) {
    std::vector<std::string> items;
    const auto count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        if (SendMessageA(combo, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text))
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

}  // namespace

void pumpMessages(HWND dialog) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog && IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

WorkFolder::WorkFolder() {
    static int count;
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    path = std::string(temp) + "quorvel-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++count) + "\\";
    std::filesystem::create_directories(path);
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void writePicture(const std::string& path, int width, int height, PixelColour colour) {
    Image image{};
    image.width = width;
    image.height = height;
    image.bitsPerPixel = 24;
    image.rowBytes = 3 * width;
    image.dataSize = static_cast<uint32_t>(3 * width * height);
    image.pixels = static_cast<uint8_t*>(std::malloc(image.dataSize));
    ASSERT_NE(image.pixels, nullptr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t rgb = colour(x, y);
            uint8_t* p = image.pixels + 3 * (y * width + x);
            p[0] = static_cast<uint8_t>(rgb >> 16);
            p[1] = static_cast<uint8_t>(rgb >> 8);
            p[2] = static_cast<uint8_t>(rgb);
        }
    ASSERT_TRUE(buildDisplayBitmap(&image));
    // Written under a short name first: the writer's temporary name beside
    // a very long path would not fit the system's path limit.
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string shortPath = std::string(temp) + "quorvel-win32-picture.bmp";
    ASSERT_TRUE(writeBmp(shortPath.c_str(), image.bitmap));
    resetImage(&image);
    ASSERT_TRUE(MoveFileExA(shortPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) << path;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t block[4096];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    return bytes;
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

DialogAnswerer::DialogAnswerer(HWND mainDialog) : mainDialog_(mainDialog) {
    activeAnswerer = this;
    timer_ = SetTimer(nullptr, 0, 20, tick);
}

DialogAnswerer::~DialogAnswerer() {
    KillTimer(nullptr, timer_);
    activeAnswerer = nullptr;
}

void DialogAnswerer::press(int button) { plans_.push_back({false, false, button, {}, -1}); }
void DialogAnswerer::chooseFile(const std::string& name, int fileType) {
    plans_.push_back({true, false, 0, name, fileType});
}
void DialogAnswerer::cancelFile() { plans_.push_back({true, true, 0, {}, -1}); }

void CALLBACK DialogAnswerer::tick(HWND, UINT, UINT_PTR, DWORD) {
    DialogAnswerer* self = activeAnswerer;
    if (!self) return;
    std::erase_if(self->answered_, [](HWND window) { return !IsWindow(window); });
    for (HWND window : threadWindows()) {
        if (window == self->mainDialog_ || !IsWindowVisible(window) || className(window) != "#32770") continue;
        if (std::find(self->answered_.begin(), self->answered_.end(), window) != self->answered_.end()) continue;
        self->answered_.push_back(window);
        self->answer(window);
    }
}

void DialogAnswerer::answer(HWND window) {
    SeenDialog dialog;
    dialog.caption = windowText(window);
    dialog.owner = GetWindow(window, GW_OWNER);
    HWND fileName = GetDlgItem(window, fileNameCombo);
    if (!fileName) fileName = GetDlgItem(window, fileNameEdit);
    const auto post = [window](int button) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    };
    if (fileName) {
        dialog.fileDialog = true;
        dialog.fileName = windowText(fileName);
        HWND types = GetDlgItem(window, fileTypeCombo);
        if (types) {
            dialog.fileTypes = comboItems(types);
            dialog.fileType = static_cast<int>(SendMessageA(types, CB_GETCURSEL, 0, 0));
        }
        seen.push_back(dialog);
        if (!plans_.empty() && plans_.front().file && !plans_.front().cancel) {
            if (types && plans_.front().fileType >= 0) {
                // As a user's choice: the selection, then the notifications
                // of a closed drop-down (Wine's dialog acts on the second).
                SendMessageA(types, CB_SETCURSEL, plans_.front().fileType, 0);
                for (int code : {CBN_SELCHANGE, CBN_SELENDOK})
                    SendMessageA(window, WM_COMMAND, MAKEWPARAM(fileTypeCombo, static_cast<WORD>(code)),
                                 reinterpret_cast<LPARAM>(types));
            }
            SetWindowTextA(fileName, plans_.front().name.c_str());
            plans_.pop_front();
            post(IDOK);
            return;
        }
        if (!plans_.empty() && plans_.front().file) plans_.pop_front();
        post(IDCANCEL);
        return;
    }
    dialog.text = windowText(GetDlgItem(window, 0xFFFF));
    const HICON warning = LoadIconA(nullptr, IDI_WARNING);
    int buttons = 0;
    for (HWND child : children(window)) {
        if (!IsWindowVisible(child)) continue;
        if (className(child) == "Button") ++buttons;
        if (className(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            dialog.warningIcon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == warning;
    }
    dialog.okOnly = buttons == 1 && GetDlgItem(window, IDOK) && IsWindowVisible(GetDlgItem(window, IDOK));
    seen.push_back(dialog);
    int button = IDOK;
    if (!plans_.empty() && !plans_.front().file) {
        button = plans_.front().button;
        plans_.pop_front();
    } else if (!GetDlgItem(window, IDOK) || !IsWindowVisible(GetDlgItem(window, IDOK))) {
        button = GetDlgItem(window, IDNO) ? IDNO : IDCANCEL;
    }
    post(button);
}

void MainDialogTest::SetUp() {
    session = createSession();
    ASSERT_NE(session, nullptr);
    dialog = CreateDialogParamA(instanceHandle, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    pump();
}

void MainDialogTest::TearDown() {
    destroyPreview();
    if (dialog) DestroyWindow(dialog);
    pumpMessages(nullptr);
    destroySession(session);
    session = nullptr;
}

void MainDialogTest::click(int id) {
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
    pump();
}

void MainDialogTest::setScaleText(const char* text) { SetDlgItemTextA(dialog, IDC_SCALE, text); }

std::string MainDialogTest::scaleText() const {
    char text[128] = {};
    GetDlgItemTextA(dialog, IDC_SCALE, text, sizeof text);
    return text;
}

std::vector<SeenDialog> MainDialogTest::openThroughDialog(const std::string& path) {
    DialogAnswerer answerer(dialog);
    answerer.chooseFile(path);
    click(IDC_OPEN);
    EXPECT_EQ(answerer.unanswered(), 0u) << "the Open dialog did not appear";
    return answerer.seen;
}

COLORREF clientPixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

std::vector<HWND> previewWindows() {
    std::vector<HWND> list;
    for (HWND window : threadWindows())
        if (className(window) == "PreviewClass") list.push_back(window);
    return list;
}
