// The Open and Save commands through the real file dialogs.
#include <algorithm>
#include <cstring>
#include <string>

#include "harness.h"
#include "readers/readers.h"

namespace {

uint32_t gradient(int x, int y) {
    return (static_cast<uint32_t>(x * 4) << 16) | (static_cast<uint32_t>(y * 4) << 8) | 200u;
}
uint32_t orange(int, int) { return 0xFF8000; }

// A folder path of exactly `length` characters (with its final backslash)
// inside `base`, created on disk.
std::string folderOfLength(const std::string& base, size_t length) {
    std::string path = base;
    // Pieces of 100 characters with their backslash, then one that makes
    // up the rest (at least 2).
    while (length - path.size() > 101) {
        path += std::string(99, 'd') + "\\";
        CreateDirectoryA(path.c_str(), nullptr);
    }
    path += std::string(length - path.size() - 1, 'e') + "\\";
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

// A file name that makes `folder` + name exactly `length` characters.
std::string nameOfLength(const std::string& folder, size_t length) {
    return std::string(length - folder.size() - 4, 'f') + ".bmp";
}

void expectMessage(const SeenDialog& box, const char* text, const char* caption, HWND owner) {
    EXPECT_FALSE(box.fileDialog);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_TRUE(box.warningIcon);
    EXPECT_TRUE(box.okOnly);
    EXPECT_EQ(box.owner, owner);
}

TEST_F(MainDialogTest, OpenLoadsTheFileAndResetsTheOptions) {
    const std::string picture = work.file("gradient.bmp");
    writePicture(picture, 40, 30, gradient);
    // Options changed before the Open go back to their defaults.
    click(IDC_INVERT_RED);
    click(IDC_RENORMALIZE);
    setScaleText("3");
    click(IDC_APPLY);
    ASSERT_EQ(session->options.scale, 3.0f);

    const std::vector<SeenDialog> seen = openThroughDialog(picture);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].fileDialog);
    EXPECT_EQ(seen[0].caption, "Open File");
    EXPECT_EQ(seen[0].fileName, "Untitled");

    EXPECT_EQ(session->loaded, 1);
    EXPECT_STREQ(session->openPath, picture.c_str());
    EXPECT_STREQ(session->openDirectory, work.path.c_str());
    EXPECT_EQ(session->image.width, 40);
    EXPECT_EQ(session->image.height, 30);
    EXPECT_NE(session->thumbnail.bitmap, nullptr);
    for (int id : {IDC_INVERT_RED, IDC_INVERT_GREEN, IDC_INVERT_BLUE, IDC_RENORMALIZE}) EXPECT_FALSE(checked(id));
    EXPECT_EQ(scaleText(), "1.00000");
    EXPECT_FALSE(enabled(IDC_SCALE));
    EXPECT_FALSE(enabled(IDC_APPLY));
    // The image shows as read: pixel (0, 0) is (0, 0, 200).
    EXPECT_EQ(session->image.pixels[2], 200);
}

TEST_F(MainDialogTest, CancelledOpenChangesNothingButRefreshesTheControls) {
    const std::string before = session->openDirectory;
    click(IDC_RENORMALIZE);
    setScaleText("5");  // typed, never applied
    DialogAnswerer answerer(dialog);
    answerer.cancelFile();
    click(IDC_OPEN);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_TRUE(answerer.seen[0].fileDialog);
    EXPECT_EQ(session->loaded, 0);
    EXPECT_EQ(session->openDirectory, before);
    EXPECT_EQ(scaleText(), "1.00000");
}

// A file the readers reject: the message, and the Session keeps working on
// the image that is shown; only the Open folder moves on.
TEST_F(MainDialogTest, RejectedFileKeepsTheShownImageAndItsPath) {
    const std::string good = work.file("good.bmp");
    writePicture(good, 8, 8, orange);
    openThroughDialog(good);
    ASSERT_EQ(session->loaded, 1);
    BitmapHandle shown = session->image.bitmap;

    WorkFolder other;
    const std::string bad = other.file("broken.bmp");
    writeFileBytes(bad, {'B', 'M', 1, 2, 3});
    DialogAnswerer answerer(dialog);
    answerer.chooseFile(bad);
    click(IDC_OPEN);
    ASSERT_EQ(answerer.seen.size(), 2u);
    expectMessage(answerer.seen[1], "Failed to load open file.", "Error", dialog);
    EXPECT_STREQ(session->openPath, good.c_str());
    EXPECT_STREQ(session->openDirectory, other.path.c_str());
    EXPECT_EQ(session->image.bitmap, shown);

    // The next adjustment works on the shown file.
    click(IDC_INVERT_BLUE);
    EXPECT_EQ(session->image.pixels[2], 255);  // blue 0 inverted
}

// A path that the dialog can hold but the 256-character path fields cannot.
TEST_F(MainDialogTest, OpenRefusesAPathLongerThanThePathFields) {
    const std::string before = session->openDirectory;
    const std::string folder = folderOfLength(work.path, 200);
    for (size_t length : {256u, 259u}) {
        const std::string path = folder + nameOfLength(folder, length);
        ASSERT_EQ(path.size(), length);
        writePicture(path, 4, 4, orange);
        DialogAnswerer answerer(dialog);
        answerer.chooseFile(path);
        click(IDC_OPEN);
        ASSERT_EQ(answerer.seen.size(), 2u) << length;
        expectMessage(answerer.seen[1], "There was an error opening the file.", "Error", dialog);
        EXPECT_EQ(session->loaded, 0);
        EXPECT_EQ(session->openDirectory, before);
    }
}

TEST_F(MainDialogTest, SaveWritesTheAdjustedImageUnderTheDefaultExtension) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 5, 3, gradient);
    openThroughDialog(picture);
    click(IDC_INVERT_GREEN);

    WorkFolder target;
    DialogAnswerer answerer(dialog);
    answerer.chooseFile(target.file("out"));
    click(IDC_SAVE);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].caption, "Save File");
    EXPECT_EQ(answerer.seen[0].fileName, "Untitled");

    const std::string saved = target.file("out.bmp");
    const std::vector<uint8_t> bytes = readFileBytes(saved);
    ASSERT_EQ(bytes.size(), 54u + 16u * 3u);
    // The first pixel of the bottom row: (0, 8, 200) with green inverted,
    // stored blue, green, red.
    EXPECT_EQ(bytes[54], 200);
    EXPECT_EQ(bytes[55], 255 - 8);
    EXPECT_EQ(bytes[56], 0);
    EXPECT_STREQ(session->savePath, saved.c_str());
    EXPECT_STREQ(session->saveDirectory, target.path.c_str());
}

// The display bitmap of `image` as top-down rows of 3 x width bytes.
std::vector<uint8_t> shownRows(const Image& image) {
    std::vector<uint8_t> rows(size_t{3} * image.width * image.height);
    EXPECT_TRUE(platformReadRowsTopDown(image.bitmap, rows.data(), image.width, image.height, size_t{3} * image.width));
    return rows;
}

TEST_F(MainDialogTest, FileDialogsOfferTheFormatsTheProgramReadsAndWrites) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 4, 4, orange);
    const std::vector<SeenDialog> opened = openThroughDialog(picture);
    ASSERT_EQ(opened.size(), 1u);
    const std::vector<std::string> openTypes = {
        "Supported files (*.bmp,*.tga,*.pcx,*.psd,*.dds,*.ppm,*.pgm,*.pbm,*.png,*.jpg,*.jpeg,*.tif,*.tiff)",
        "Bitmap files (*.bmp)",
        "Targa files (*.tga)",
        "PCX files (*.pcx)",
        "Photoshop files (*.psd)",
        "DDS files (*.dds)",
        "Portable Pixel Format files (*.ppm)",
        "Portable Grayscale Format files (*.pgm)",
        "Portable Bitmap Format files (*.pbm)",
        "PNG files (*.png)",
        "JPEG files (*.jpg,*.jpeg)",
        "TIFF files (*.tif,*.tiff)",
        "All files (*.*)"};
    EXPECT_EQ(opened[0].fileTypes, openTypes);
    EXPECT_EQ(opened[0].fileType, 0);

    DialogAnswerer answerer(dialog);
    answerer.cancelFile();
    click(IDC_SAVE);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].fileTypes,
              (std::vector<std::string>{"Bitmap files (*.bmp)", "PNG files (*.png)", "Targa files (*.tga)",
                                        "TIFF files (*.tif)", "DDS files (*.dds)"}));
    EXPECT_EQ(answerer.seen[0].fileType, 0);
}

// Saving through the dialog writes the format the saved name's extension
// names, and BMP for any other; a name typed without one takes the chosen
// type's. Each file is read back to the pixels shown.
TEST_F(MainDialogTest, SaveWritesTheFormatOfTheExtension) {
    struct Case {
        const char* typed;
        int fileType;  // -1: the dialog's own (BMP)
        const char* savedAs;
        const char* readAs;  // the same bytes under this name read back as the format
        std::vector<uint8_t> start;
    };
    const std::vector<uint8_t> pngStart = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    // A Targa header: no image ID, no colour map, type 2 (true colour).
    const std::vector<uint8_t> tgaStart = {0, 0, 2};
    // A little-endian TIFF header.
    const std::vector<uint8_t> tifStart = {'I', 'I', 42, 0};
    const Case cases[] = {
        {"out.png", -1, "out.png", "check.png", pngStart},
        {"OUT2.PNG", -1, "OUT2.PNG", "check.png", pngStart},
        {"out.tga", -1, "out.tga", "check.tga", tgaStart},
        {"typed", 1, "typed.png", "check.png", pngStart},
        {"typed", 2, "typed.tga", "check.tga", tgaStart},
        {"out.tiff", -1, "out.tiff", "check.tif", tifStart},
        {"typed", 3, "typed.tif", "check.tif", tifStart},
        {"typed", 0, "typed.bmp", "check.bmp", {'B', 'M'}},
        {"other.txt", 1, "other.txt", "check.bmp", {'B', 'M'}},
    };
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 7, 5, gradient);  // odd sizes: padded BMP rows
    openThroughDialog(picture);
    click(IDC_INVERT_GREEN);
    const std::vector<uint8_t> shown = shownRows(session->image);

    for (const Case& c : cases) {
        WorkFolder target;
        DialogAnswerer answerer(dialog);
        answerer.chooseFile(target.file(c.typed), c.fileType);
        click(IDC_SAVE);
        ASSERT_EQ(answerer.seen.size(), 1u) << c.typed;
        const std::string saved = target.file(c.savedAs);
        const std::vector<uint8_t> bytes = readFileBytes(saved);
        ASSERT_GE(bytes.size(), c.start.size()) << saved;
        EXPECT_TRUE(std::equal(c.start.begin(), c.start.end(), bytes.begin())) << saved;
        EXPECT_STREQ(session->savePath, saved.c_str());

        const std::string check = target.file(c.readAs);
        writeFileBytes(check, bytes);
        Image back{};
        ASSERT_TRUE(readImageFile(check.c_str(), &back)) << saved;
        EXPECT_EQ(back.width, 7);
        EXPECT_EQ(back.height, 5);
        EXPECT_EQ(shownRows(back), shown) << saved;
        resetImage(&back);
    }
}

// The DDS choice writes a texture (BC5 with its mip chain), by a typed
// extension or by the chosen type.
TEST_F(MainDialogTest, SaveWritesADdsTexture) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 7, 5, gradient);
    openThroughDialog(picture);
    const struct {
        const char* typed;
        int fileType;
        const char* savedAs;
    } cases[] = {{"out.dds", -1, "out.dds"}, {"typed", 4, "typed.dds"}};  // the fifth type, after TIFF
    for (const auto& c : cases) {
        WorkFolder target;
        DialogAnswerer answerer(dialog);
        answerer.chooseFile(target.file(c.typed), c.fileType);
        click(IDC_SAVE);
        ASSERT_EQ(answerer.seen.size(), 1u) << c.typed;
        const std::string saved = target.file(c.savedAs);
        const std::vector<uint8_t> bytes = readFileBytes(saved);
        // The header, then 2 x 2 + 1 + 1 BC5 blocks (7 x 5, 3 x 2, 1 x 1).
        ASSERT_EQ(bytes.size(), 128u + 6 * 16) << saved;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 4, "DDS "));
        EXPECT_TRUE(std::equal(bytes.begin() + 84, bytes.begin() + 88, "ATI2"));
        EXPECT_STREQ(session->savePath, saved.c_str());
    }
}

// A PNG file, as this program writes it, opens through the Open dialog.
TEST_F(MainDialogTest, OpenReadsAPngFile) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 6, 3, gradient);
    openThroughDialog(picture);
    const std::vector<uint8_t> shown = shownRows(session->image);
    const std::string png = work.file("saved.png");
    ASSERT_TRUE(saveImageTo(png.c_str()));

    click(IDC_INVERT_RED);
    openThroughDialog(png);
    EXPECT_STREQ(session->openPath, png.c_str());
    EXPECT_FALSE(checked(IDC_INVERT_RED));
    EXPECT_EQ(shownRows(session->image), shown);
}

TEST_F(MainDialogTest, SavingOverAnExistingFileAsksFirst) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 4, 4, orange);
    openThroughDialog(picture);
    const std::string existing = work.file("existing.bmp");
    writeFileBytes(existing, {1, 2, 3});

    DialogAnswerer answerer(dialog);
    answerer.chooseFile(existing);
    answerer.press(IDYES);
    click(IDC_SAVE);
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_FALSE(answerer.seen[1].fileDialog);  // the replace question
    EXPECT_EQ(readFileBytes(existing), readFileBytes(picture));
}

// The file can't be replaced while another handle holds it without
// sharing: the message, and the old file stays whole.
TEST_F(MainDialogTest, FailedWriteWarnsAndKeepsTheOldFile) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 4, 4, orange);
    openThroughDialog(picture);
    const std::string saveDirectory = session->saveDirectory;
    const std::string locked = work.file("locked.bmp");
    writeFileBytes(locked, {7, 7, 7});
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);

    DialogAnswerer answerer(dialog);
    answerer.chooseFile(locked);
    answerer.press(IDYES);
    click(IDC_SAVE);
    CloseHandle(hold);
    ASSERT_EQ(answerer.seen.size(), 3u);
    expectMessage(answerer.seen[2], "There was an error writing the file.", "Warning", dialog);
    EXPECT_EQ(readFileBytes(locked), (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_EQ(session->saveDirectory, saveDirectory);
}

TEST_F(MainDialogTest, SaveRefusesAPathLongerThanItsBuffer) {
    const std::string picture = work.file("in.bmp");
    writePicture(picture, 4, 4, orange);
    openThroughDialog(picture);
    const std::string savePath = session->savePath;
    const std::string folder = folderOfLength(work.path, 200);
    const std::string path = folder + nameOfLength(folder, 257);
    DialogAnswerer answerer(dialog);
    answerer.chooseFile(path);
    click(IDC_SAVE);
    ASSERT_EQ(answerer.seen.size(), 2u);
    expectMessage(answerer.seen[1], "There was an error saving the file.", "Error", dialog);
    EXPECT_EQ(session->savePath, savePath);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
