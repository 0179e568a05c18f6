// The readers' public seam: decodeImage on bytes in memory, readImageFile on
// a path, and the reason a failed load carries, down to the message text
// quorvel-cli prints.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "readers/readers.h"
#include "tests/unit/test_files.h"

namespace {

using testing_files::Bytes;

Bytes dataFile(const std::string& relative) {
    return testing_files::readFile((std::filesystem::path(QUORVEL_TEST_DATA) / relative).string());
}

// One small file of every format, under a name with the reader's extension.
struct FormatCase {
    const char* file;  // under tests/data
    const char* name;
    const char* format;
    size_t cut = 0;  // bytes kept of the damaged copy; 0: half of them
};

const FormatCase formatCases[] = {
    {"bmp/rgb24.bmp", "a.bmp", "BMP"},
    {"tga/type3_top_down_8.tga", "a.TGA", "Targa"},
    // A PCX stream that ends early leaves the rest of the picture black:
    // only a cut header is damage.
    {"pcx/three_planes.pcx", "dir/a.pcx", "PCX", 64},
    {"psd/grey_raw.psd", "a.psd", "Photoshop"},
    {"pnm/p4_raw_1.pbm", "a.pbm", "Netpbm"},
    {"dds/dxt1.dds", "a.dds", "DDS"},
    {"png/ct0_d1_plain.png", "a.png", "PNG"},
    {"png/jpeg_grey.jpg", "a.jpg", "JPEG"},
    {"tiff/reference_strips_lzw_pred.tif", "a.tiff", "TIFF"},
};

class DecodeImageTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DecodeImageTest, DecodesTheWholeFileAndRefusesACutCopy) {
    const FormatCase& c = GetParam();
    const Bytes file = dataFile(c.file);
    ASSERT_GT(file.size(), 8u);
    Image image{};
    LoadFailure failure;
    ASSERT_TRUE(decodeImage(file, c.name, &image, failure));
    EXPECT_EQ(failure.problem, LoadProblem::none);
    EXPECT_GT(image.width, 0);
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_NE(image.bitmap, nullptr);
    resetImage(&image);

    const size_t kept = c.cut ? c.cut : file.size() / 2;
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(kept));
    EXPECT_FALSE(decodeImage(cut, c.name, &image, failure));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(failure.problem, LoadProblem::damaged);
    EXPECT_STREQ(failure.formatName, c.format);
    EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"),
              std::string("not a ") + c.format + " file that quorvel-cli can read (damaged, or a kind it does not read)");
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, DecodeImageTest, ::testing::ValuesIn(formatCases),
                         [](const auto& param) { return std::string(param.param.format); });

TEST(DecodeImage, NamesTheKindItRefuses) {
    const struct {
        const char* file;
        const char* name;
        const char* kind;
        const char* message;
    } cases[] = {
        {"dds/dx10_bc6h_uf16.dds", "a.dds", "BC6H_UF16 (DXGI 95)",
         "a DDS file of BC6H_UF16 (DXGI 95), which quorvel-cli does not read"},
        {"tiff/refused/cmyk.tif", "a.tif", "CMYK colour", "a TIFF file of CMYK colour, which quorvel-cli does not read"},
    };
    for (const auto& c : cases) {
        Image image{};
        LoadFailure failure;
        EXPECT_FALSE(decodeImage(dataFile(c.file), c.name, &image, failure)) << c.file;
        EXPECT_EQ(failure.problem, LoadProblem::refusedKind) << c.file;
        EXPECT_STREQ(failure.text, c.kind);
        EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"), c.message);
    }
}

TEST(DecodeImage, RefusesNamesWithoutAReaderWhateverTheBytes) {
    const Bytes bmp = dataFile("bmp/rgb24.bmp");
    const struct {
        const char* name;
        const char* text;
        const char* kind;  // in the message
    } cases[] = {
        {"a.xyz", ".xyz", ".xyz files"},
        {"dir.bmp/a", "", "files without an extension"},
        {"a.", ".", ". files"},
        {"a.bmp.gz", ".gz", ".gz files"},
    };
    for (const auto& c : cases) {
        Image image{};
        LoadFailure failure;
        EXPECT_FALSE(decodeImage(bmp, c.name, &image, failure)) << c.name;
        EXPECT_EQ(failure.problem, LoadProblem::unknownExtension) << c.name;
        EXPECT_STREQ(failure.text, c.text);
        EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"),
                  std::string("quorvel-cli does not read ") + c.kind +
                      " (it reads BMP, TGA, PCX, PSD, DDS, PPM, PGM, PBM, PNG, JPEG and TIFF)");
    }
}

TEST(DescribeLoadFailure, CutsAKindAt95Characters) {
    LoadFailure failure;
    failure.problem = LoadProblem::refusedKind;
    failure.formatName = "TIFF";
    std::memset(failure.text, 'k', 120);
    EXPECT_EQ(describeLoadFailure(failure, "p"), "a TIFF file of " + std::string(95, 'k') + ", which p does not read");
}

// The path road: what stops it before the bytes are read, and a file that
// goes all the way.
TEST(LoadImageFile, SaysWhyAPathCouldNotBeLoaded) {
    testing_files::TempDir dir;
    testing_files::writeFile(dir.file("good.bmp"), dataFile("bmp/rgb24.bmp"));
    testing_files::writeFile(dir.file("empty.tga"), {});
    testing_files::writeFile(dir.file("notes.txt"), {'h', 'i'});
    std::filesystem::create_directory(dir.path() / "folder.png");

    Image image{};
    LoadFailure failure;
    ASSERT_TRUE(readImageFile(dir.file("good.bmp").c_str(), &image, &failure));
    EXPECT_EQ(image.width, 7);  // the reference picture, 7 x 5
    resetImage(&image);

    EXPECT_FALSE(readImageFile(dir.file("missing.png").c_str(), &image, &failure));
    EXPECT_EQ(failure.problem, LoadProblem::cannotOpen);
    EXPECT_EQ(failure.systemError, ENOENT);
    EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"), std::strerror(ENOENT));

    EXPECT_FALSE(readImageFile(dir.file("folder.png").c_str(), &image, &failure));
#ifdef _WIN32
    EXPECT_EQ(failure.problem, LoadProblem::cannotOpen);  // Windows does not open folders as files
#else
    EXPECT_EQ(failure.problem, LoadProblem::notRegularFile);
    EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"), "not a regular file");
#endif

    EXPECT_FALSE(readImageFile(dir.file("notes.txt").c_str(), &image, &failure));
    EXPECT_EQ(failure.problem, LoadProblem::unknownExtension);
    EXPECT_STREQ(failure.text, ".txt");

    EXPECT_FALSE(readImageFile(dir.file("empty.tga").c_str(), &image, &failure));
    EXPECT_EQ(failure.problem, LoadProblem::damaged);
    EXPECT_STREQ(failure.formatName, "Targa");
    EXPECT_EQ(image.pixels, nullptr);
}

}  // namespace
