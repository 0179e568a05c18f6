#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/apply_run.h"
#include "app/session.h"
#include "tests/unit/test_files.h"

namespace {

using testing_files::Bytes;

TEST(ComposeModuleDirectory, KeepsTheExecutablesFolderWithItsSeparator) {
    struct Case {
        const char* executable;
        char separator;
        const char* directory;
    };
    const Case cases[] = {
        {"C:\\Tools\\Maps\\app.exe", '\\', "C:\\Tools\\Maps\\"},
        {"C:\\app.exe", '\\', "C:\\"},
        {"\\\\server\\share\\dir\\app.exe", '\\', "\\\\server\\share\\dir\\"},
        {"C:\\\\Tools\\\\app.exe", '\\', "C:\\Tools\\"},
        {"/usr/local/bin/quorvel", '/', "/usr/local/bin/"},
        {"//host/x/app", '/', "/host/x/"},
        {"app.exe", '\\', ""},
    };
    for (const Case& c : cases) {
        char result[pathBufferSize];
        composeModuleDirectory(c.executable, "D:\\current", c.separator, result);
        EXPECT_STREQ(result, c.directory) << c.executable;
    }
}

TEST(ComposeModuleDirectory, FallsBackWhenThereIsNoPathOrNoRoomForTheFileName) {
    char result[pathBufferSize];
    composeModuleDirectory(nullptr, "D:\\work", '\\', result);
    EXPECT_STREQ(result, "D:\\work\\");
    composeModuleDirectory(nullptr, "/home/me/", '/', result);
    EXPECT_STREQ(result, "/home/me/");

    // 243 characters of directory still leave room for "Untitled.bmp".
    const std::string fits = "/" + std::string(241, 'd') + "/";
    composeModuleDirectory((fits + "app").c_str(), "/cwd", '/', result);
    EXPECT_STREQ(result, fits.c_str());
    // One more and the current directory stands in; when that is too long as
    // well, the empty directory (the current one, by relative paths) does.
    const std::string tooLong = "/" + std::string(242, 'd') + "/";
    composeModuleDirectory((tooLong + "app").c_str(), "/cwd", '/', result);
    EXPECT_STREQ(result, "/cwd/");
    composeModuleDirectory((tooLong + "app").c_str(), tooLong.c_str(), '/', result);
    EXPECT_STREQ(result, "");
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = session;
        std::memset(moduleDirectory, 0, sizeof moduleDirectory);
        std::strcpy(moduleDirectory, (dir_.path().string() + pathSeparator).c_str());
        session = createSession();
        ASSERT_NE(session, nullptr);
    }
    void TearDown() override {
        destroySession(session);
        session = saved_;
    }
    std::string writeBmp(const std::string& name, uint32_t rgb) {
        const std::string path = dir_.file(name);
        testing_files::writeFile(path, testing_files::bmp24({{rgb, rgb}}, 2, 1));
        return path;
    }
    Bytes shownPixels() const {
        return Bytes(session->image.pixels, session->image.pixels + session->image.dataSize);
    }
    testing_files::TempDir dir_;
    Session* saved_ = nullptr;
};

TEST_F(SessionTest, StartsFromTheModuleDirectoryDefaults) {
    const std::string untitled = std::string(moduleDirectory) + "Untitled.bmp";
    EXPECT_STREQ(session->openPath, untitled.c_str());
    EXPECT_STREQ(session->savePath, untitled.c_str());
    EXPECT_STREQ(session->openDirectory, moduleDirectory);
    EXPECT_STREQ(session->saveDirectory, moduleDirectory);
    EXPECT_EQ(session->loaded, 0);
    EXPECT_EQ(session->options.invertRed | session->options.invertGreen | session->options.invertBlue |
                  session->options.renormalize,
              0);
    EXPECT_EQ(session->options.scale, 1.0f);
    EXPECT_EQ(session->image.bitmap, nullptr);
}

TEST_F(SessionTest, SuccessfulLoadAdoptsTheImageAndResetsTheOptions) {
    session->options = {1, 1, 0, 1, 3.0f};
    const std::string path = writeBmp("a.bmp", 0x112233);
    ASSERT_TRUE(loadOpenFile(path.c_str()));
    EXPECT_STREQ(session->openPath, path.c_str());
    EXPECT_EQ(session->loaded, 1);
    EXPECT_EQ(session->options.invertRed, 0);
    EXPECT_EQ(session->options.renormalize, 0);
    EXPECT_EQ(session->options.scale, 1.0f);
    EXPECT_EQ(shownPixels(), (Bytes{0x11, 0x22, 0x33, 0x11, 0x22, 0x33}));
    EXPECT_NE(session->thumbnail.bitmap, nullptr);
}

TEST_F(SessionTest, FailedLoadChangesNothingSoAdjustmentsKeepWorkingOnTheShownFile) {
    const std::string good = writeBmp("good.bmp", 0x112233);
    ASSERT_TRUE(loadOpenFile(good.c_str()));
    session->options.invertGreen = 1;
    BitmapHandle thumbnail = session->thumbnail.bitmap;
    testing_files::writeFile(dir_.file("bad.bmp"), Bytes{'n', 'o', 't'});
    EXPECT_FALSE(loadOpenFile(dir_.file("bad.bmp").c_str()));
    EXPECT_STREQ(session->openPath, good.c_str());
    EXPECT_EQ(session->options.invertGreen, 1);
    EXPECT_EQ(session->thumbnail.bitmap, thumbnail);
    EXPECT_EQ(applyAdjustments(), 1);
    EXPECT_EQ(shownPixels(), (Bytes{0x11, 0xDD, 0x33, 0x11, 0xDD, 0x33}));
    // A path too long for the path fields is refused the same way.
    const std::string tooLong(300, 'x');
    EXPECT_FALSE(loadOpenFile((tooLong + ".bmp").c_str()));
    EXPECT_STREQ(session->openPath, good.c_str());
}

TEST_F(SessionTest, ApplyRunsStartAgainFromTheFile) {
    const std::string path = writeBmp("a.bmp", 0x64961E);  // 100, 150, 30
    ASSERT_TRUE(loadOpenFile(path.c_str()));
    session->options.invertGreen = 1;
    ASSERT_EQ(applyAdjustments(), 1);
    ASSERT_EQ(applyAdjustments(), 1);  // twice is the same as once
    EXPECT_EQ(shownPixels(), (Bytes{100, 105, 30, 100, 105, 30}));
    session->options.invertGreen = 0;
    ASSERT_EQ(applyAdjustments(), 1);  // clearing the box gives the file back
    EXPECT_EQ(shownPixels(), (Bytes{100, 150, 30, 100, 150, 30}));
    // The display bitmap follows the adjusted pixels.
    session->options.invertRed = 1;
    ASSERT_EQ(applyAdjustments(), 1);
    BitmapInfo info;
    ASSERT_TRUE(platformQueryBitmap(session->image.bitmap, info));
    EXPECT_EQ(Bytes(info.bits, info.bits + 6), (Bytes{30, 150, 155, 30, 150, 155}));
}

// A map made in the program is shown as a loaded file is, and Apply starts
// again from it as it was made, not from the file it was made from; the
// next Open lets it go.
TEST_F(SessionTest, ApplyRunsStartAgainFromAMadeMap) {
    const std::string height = writeBmp("height.bmp", 0x808080);
    session->options.invertRed = 1;
    Image map{};
    ASSERT_TRUE(startImage(&map, 2, 1, 8, false));
    const Bytes made{100, 150, 30, 100, 150, 30};
    std::memcpy(map.pixels, made.data(), made.size());
    ASSERT_TRUE(adoptMadeMap(&map, height.c_str()));
    EXPECT_EQ(map.pixels, nullptr);
    EXPECT_STREQ(session->openPath, height.c_str());
    EXPECT_EQ(session->loaded, 1);
    EXPECT_EQ(session->options.invertRed, 0);
    EXPECT_NE(session->image.bitmap, nullptr);
    EXPECT_NE(session->thumbnail.bitmap, nullptr);
    EXPECT_EQ(shownPixels(), made);
    session->options.invertGreen = 1;
    ASSERT_EQ(applyAdjustments(), 1);
    ASSERT_EQ(applyAdjustments(), 1);
    EXPECT_EQ(shownPixels(), (Bytes{100, 105, 30, 100, 105, 30}));
    session->options.invertGreen = 0;
    ASSERT_EQ(applyAdjustments(), 1);
    EXPECT_EQ(shownPixels(), made);
    ASSERT_TRUE(loadOpenFile(height.c_str()));
    EXPECT_EQ(session->made.pixels, nullptr);
    ASSERT_EQ(applyAdjustments(), 1);
    EXPECT_EQ(shownPixels(), (Bytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x80}));
}

TEST_F(SessionTest, ApplyRunOnAMissingFileKeepsWhatIsShown) {
    EXPECT_EQ(applyAdjustments(), 0);  // the default Untitled.bmp does not exist
    EXPECT_EQ(session->loaded, 0);
    const std::string path = writeBmp("a.bmp", 0x010203);
    ASSERT_TRUE(loadOpenFile(path.c_str()));
    std::filesystem::remove(path);
    session->options.invertRed = 1;
    EXPECT_EQ(applyAdjustments(), 0);
    EXPECT_EQ(shownPixels(), (Bytes{1, 2, 3, 1, 2, 3}));
    // Before any Open, an existing Untitled.bmp beside the executable loads.
    destroySession(session);
    session = createSession();
    writeBmp("Untitled.bmp", 0x0A0B0C);
    EXPECT_EQ(applyAdjustments(), 1);
    EXPECT_EQ(session->loaded, 1);
}

TEST_F(SessionTest, SaveRemembersThePathAndTheFolderOnlyWhenItWrote) {
    ASSERT_TRUE(loadOpenFile(writeBmp("a.bmp", 0x010203).c_str()));
    const std::string before = session->saveDirectory;
    EXPECT_FALSE(saveImageTo(dir_.file("no/such/dir/out.bmp").c_str()));
    EXPECT_STREQ(session->saveDirectory, before.c_str());
    const std::string out = dir_.file("out.bmp");
    ASSERT_TRUE(saveImageTo(out.c_str()));
    EXPECT_STREQ(session->savePath, out.c_str());
    const std::string current = std::filesystem::current_path().string();
    EXPECT_EQ(std::string(session->saveDirectory).rfind(current, 0), 0u);
    EXPECT_EQ(session->saveDirectory[std::strlen(session->saveDirectory) - 1], pathSeparator);
}

TEST(ParseScaleText, ReadsLikeTheScaleField) {
    struct Case {
        const char* text;
        float scale;
    };
    const Case cases[] = {
        {"", 1.0f},        {"2", 2.0f},        {"  -0.5x", -0.5f}, {"abc", 0.0f},    {"1e-3", 0.001f},
        {"inf", 0.0f},     {"-INF", 0.0f},     {"nan", 0.0f},      {"1e999", 0.0f},  {"1e39", 0.0f},
        {"-1e39", 0.0f},   {"0x10", 0.0f},     {"3.4e38", 3.4e38f}, {"+.25", 0.25f}, {"\t7", 7.0f},
    };
    for (const Case& c : cases) EXPECT_EQ(parseScaleText(c.text), c.scale) << '"' << c.text << '"';
    // The field holds 127 characters: a digit after them is never read.
    const std::string longText = std::string(127, '0') + "5";
    EXPECT_EQ(parseScaleText(longText.c_str()), 0.0f);
}

}  // namespace
