// OpenEXR reading: files of every storage the reader takes, written here
// through the OpenEXR library, read back to exactly the samples written;
// the kinds it refuses named; damaged and hostile headers refused before
// anything large is allocated, and nothing the library says reaching
// standard error. OpenEXR writing: one float channel "Y", ZIP, read back
// exactly. (Windows has no OpenEXR library: there every file is refused.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "readers/float_picture.h"
#include "tests/unit/test_files.h"
#include "writers/writers.h"

#ifndef _WIN32
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfTiledOutputFile.h>
#include <ImfTiledOutputPart.h>
#include <half.h>
#endif

namespace {

using testing_files::Bytes;

#ifndef _WIN32

// Sample c of pixel (x, y) as written: multiples of 1/4 from -5 to 5 for
// half channels (each exact in 16 bits), whole numbers for unsigned ones,
// and floats that use all their bits for float ones.
float writtenSample(Imf::PixelType type, int x, int y, int c) {
    switch (type) {
        case Imf::HALF: return static_cast<float>((x * 5 + y * 3 + c * 7) % 41 - 20) * 0.25f;
        case Imf::UINT: return static_cast<float>((x * 131 + y * 71 + c * 17) % 100000);
        default: return std::sin(static_cast<float>(x) * 0.37f + static_cast<float>(y) * 0.11f + static_cast<float>(c)) * 1000.0f;
    }
}

struct ExrCase {
    const char* name;
    Imf::PixelType type;
    std::vector<const char*> channels;  // as written; the picture's come R, G, B, A
    bool tiled;
    Imf::LevelMode levels;
    Imf::Compression compression;
    int left, top;  // the data window's corner
    int width, height;
    friend void PrintTo(const ExrCase& c, std::ostream* os) { *os << c.name; }
};

// The samples of every channel of `c`, one vector a channel, of the
// channel's own type, laid out over the data window.
struct ChannelData {
    std::vector<half> halves;
    std::vector<float> floats;
    std::vector<unsigned int> uints;
};

Imf::FrameBuffer frameFor(const ExrCase& c, const Imath::Box2i& window, std::vector<ChannelData>& data) {
    Imf::FrameBuffer frame;
    data.resize(c.channels.size());
    const size_t count = static_cast<size_t>(c.width) * static_cast<size_t>(c.height);
    for (size_t k = 0; k < c.channels.size(); ++k) {
        ChannelData& d = data[k];
        d.halves.resize(count);
        d.floats.resize(count);
        d.uints.resize(count);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(c.width) + static_cast<size_t>(x);
                const float v = writtenSample(c.type, x, y, static_cast<int>(k));
                d.halves[i] = half(v);
                d.floats[i] = v;
                d.uints[i] = static_cast<unsigned int>(v);
            }
        void* base = c.type == Imf::HALF ? static_cast<void*>(d.halves.data())
                     : c.type == Imf::UINT ? static_cast<void*>(d.uints.data())
                                           : static_cast<void*>(d.floats.data());
        const size_t size = c.type == Imf::HALF ? 2 : 4;
        frame.insert(c.channels[k], Imf::Slice::Make(c.type, base, window, size, size * static_cast<size_t>(c.width)));
    }
    return frame;
}

Imf::Header headerFor(const ExrCase& c) {
    const Imath::Box2i window(Imath::V2i(c.left, c.top), Imath::V2i(c.left + c.width - 1, c.top + c.height - 1));
    Imf::Header header(window, window);
    header.compression() = c.compression;
    for (const char* name : c.channels) header.channels().insert(name, Imf::Channel(c.type));
    if (c.tiled) header.setTileDescription(Imf::TileDescription(7, 5, c.levels));
    return header;
}

void writeExr(const std::string& path, const ExrCase& c) {
    const Imf::Header header = headerFor(c);
    std::vector<ChannelData> data;
    const Imf::FrameBuffer frame = frameFor(c, header.dataWindow(), data);
    if (!c.tiled) {
        Imf::OutputFile out(path.c_str(), header);
        out.setFrameBuffer(frame);
        out.writePixels(c.height);
        return;
    }
    Imf::TiledOutputFile out(path.c_str(), header);
    out.setFrameBuffer(frame);
    // Every level from the same samples: each lies within level 0's window.
    for (int ly = 0; ly < out.numYLevels(); ++ly)
        for (int lx = 0; lx < out.numXLevels(); ++lx)
            if (c.levels == Imf::RIPMAP_LEVELS || lx == ly)
                out.writeTiles(0, out.numXTiles(lx) - 1, 0, out.numYTiles(ly) - 1, lx, ly);
}

const ExrCase exrCases[] = {
    {"FloatY", Imf::FLOAT, {"Y"}, false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 37, 23},
    {"HalfHeight", Imf::HALF, {"height"}, false, Imf::ONE_LEVEL, Imf::PIZ_COMPRESSION, 0, 0, 40, 33},
    {"UintZ", Imf::UINT, {"Z"}, false, Imf::ONE_LEVEL, Imf::RLE_COMPRESSION, 0, 0, 9, 4},
    {"FloatRgbNone", Imf::FLOAT, {"R", "G", "B"}, false, Imf::ONE_LEVEL, Imf::NO_COMPRESSION, 0, 0, 5, 3},
    {"HalfRgbaZips", Imf::HALF, {"R", "G", "B", "A"}, false, Imf::ONE_LEVEL, Imf::ZIPS_COMPRESSION, 0, 0, 17, 19},
    {"HalfRgbPxr24", Imf::HALF, {"B", "G", "R"}, false, Imf::ONE_LEVEL, Imf::PXR24_COMPRESSION, 0, 0, 20, 18},
    {"FloatYTiled", Imf::FLOAT, {"Y"}, true, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 30, 12},
    {"HalfRgbTiledMipmaps", Imf::HALF, {"R", "G", "B"}, true, Imf::MIPMAP_LEVELS, Imf::PIZ_COMPRESSION, 0, 0, 23, 17},
    {"FloatYTiledRipmaps", Imf::FLOAT, {"Y"}, true, Imf::RIPMAP_LEVELS, Imf::NO_COMPRESSION, 0, 0, 15, 8},
    {"FloatYOffsetWindow", Imf::FLOAT, {"Y"}, false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, -7, 12, 11, 20},
    {"OnePixel", Imf::FLOAT, {"Y"}, false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 3, -2, 1, 1},
    {"OneRowTiled", Imf::HALF, {"Y"}, true, Imf::ONE_LEVEL, Imf::RLE_COMPRESSION, 0, 0, 64, 1},
};

class ExrRead : public ::testing::TestWithParam<ExrCase> {};

TEST_P(ExrRead, ReadsBackExactlyTheSamplesWritten) {
    const ExrCase& c = GetParam();
    testing_files::TempDir dir;
    const std::string path = dir.file("picture.exr");
    writeExr(path, c);
    FloatPicture picture;
    LoadFailure failure;
    ASSERT_TRUE(readFloatPictureFile(path.c_str(), &picture, failure)) << describeLoadFailure(failure, "test");
    ASSERT_EQ(picture.width, static_cast<uint32_t>(c.width));
    ASSERT_EQ(picture.height, static_cast<uint32_t>(c.height));
    ASSERT_EQ(picture.channels, c.channels.size());
    // The channel each of the picture's comes from: R, G, B, A in that order.
    std::vector<int> source;
    for (const char* wanted : {"R", "G", "B", "A"})
        for (size_t k = 0; k < c.channels.size(); ++k)
            if (std::strcmp(c.channels[k], wanted) == 0) source.push_back(static_cast<int>(k));
    if (c.channels.size() == 1) source = {0};
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            for (uint32_t k = 0; k < picture.channels; ++k) {
                const size_t i = (static_cast<size_t>(y) * picture.width + static_cast<size_t>(x)) * picture.channels + k;
                ASSERT_EQ(picture.samples[i], writtenSample(c.type, x, y, source[k])) << x << "," << y << " channel " << k;
            }
}

INSTANTIATE_TEST_SUITE_P(Storages, ExrRead, ::testing::ValuesIn(exrCases),
                         [](const auto& param) { return std::string(param.param.name); });

// The files of tests/data/exr, written byte by byte by
// scripts/testdata/make_exr.py: x / 4 - y / 2 and a number a channel.
TEST(ExrRead, ReadsFilesWrittenWithoutTheLibrary) {
    const struct {
        const char* file;
        uint32_t width, height;
        std::vector<char> channels;
    } files[] = {{"scanline_float_y.exr", 8, 6, {'Y'}},
                 {"scanline_half_rgb.exr", 5, 4, {'R', 'G', 'B'}},
                 {"tiled_float_z.exr", 9, 7, {'Z'}},
                 {"tiled_half_rgba.exr", 4, 3, {'R', 'G', 'B', 'A'}}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const std::string path = std::string(QUORVEL_TEST_DATA) + "/exr/" + f.file;
        FloatPicture picture;
        LoadFailure failure;
        ASSERT_TRUE(readFloatPictureFile(path.c_str(), &picture, failure)) << describeLoadFailure(failure, "test");
        ASSERT_EQ(picture.width, f.width);
        ASSERT_EQ(picture.height, f.height);
        ASSERT_EQ(picture.channels, f.channels.size());
        for (uint32_t i = 0; i < f.width * f.height * picture.channels; ++i) {
            const uint32_t pixel = i / picture.channels, x = pixel % f.width, y = pixel / f.width;
            const float expected = 0.25f * static_cast<float>(x) - 0.5f * static_cast<float>(y) +
                                   static_cast<float>(f.channels[i % picture.channels] % 7);
            ASSERT_EQ(picture.samples[i], expected) << x << "," << y;
        }
    }
}

TEST(ExrRead, ReadsTheFirstPartOfAMultiPartFile) {
    testing_files::TempDir dir;
    const std::string path = dir.file("parts.exr");
    const ExrCase first{"", Imf::FLOAT, {"Y"}, false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 6, 5};
    const ExrCase second{"", Imf::HALF, {"R", "G", "B"}, true, Imf::ONE_LEVEL, Imf::PIZ_COMPRESSION, 0, 0, 9, 9};
    Imf::Header headers[] = {headerFor(first), headerFor(second)};
    headers[0].setName("height");
    headers[0].setType(Imf::SCANLINEIMAGE);
    headers[1].setName("colour");
    headers[1].displayWindow() = headers[0].displayWindow();  // shared by every part
    headers[1].setType(Imf::TILEDIMAGE);
    {
        Imf::MultiPartOutputFile out(path.c_str(), headers, 2);
        std::vector<ChannelData> data[2];
        Imf::OutputPart part0(out, 0);
        part0.setFrameBuffer(frameFor(first, headers[0].dataWindow(), data[0]));
        part0.writePixels(first.height);
        Imf::TiledOutputPart part1(out, 1);
        part1.setFrameBuffer(frameFor(second, headers[1].dataWindow(), data[1]));
        part1.writeTiles(0, part1.numXTiles() - 1, 0, part1.numYTiles() - 1);
    }
    FloatPicture picture;
    LoadFailure failure;
    ASSERT_TRUE(readFloatPictureFile(path.c_str(), &picture, failure)) << describeLoadFailure(failure, "test");
    ASSERT_EQ(picture.channels, 1u);
    ASSERT_EQ(picture.width, 6u);
    EXPECT_EQ(picture.samples[5 * 6 - 1], writtenSample(Imf::FLOAT, 5, 4, 0));
}

// A scanline file of one half channel, for the damage below (its chunks
// compress, so that damage to one breaks the deflate stream).
Bytes smallFile(const ExrCase& c = {"", Imf::HALF, {"Y"}, false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 24, 20}) {
    testing_files::TempDir dir;
    writeExr(dir.file("small.exr"), c);
    return testing_files::readFile(dir.file("small.exr"));
}

// Where the value of the attribute `name` starts (its size is the 4 bytes
// before it).
size_t valueAt(const Bytes& file, const std::string& name) {
    const std::string key = name + '\0';
    const auto at = std::search(file.begin() + 8, file.end(), key.begin(), key.end());
    if (at == file.end()) return 0;
    size_t p = static_cast<size_t>(at - file.begin()) + key.size();
    while (file[p] != 0) ++p;  // the type's name
    return p + 1 + 4;
}

void put32At(Bytes& file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

struct Damage {
    const char* name;
    void (*apply)(Bytes&);
    LoadProblem problem;
    const char* text;  // in the failure's text, or empty
};

const Damage damages[] = {
    {"NotAnExrFile", [](Bytes& f) { f[0] = 'x'; }, LoadProblem::damaged, ""},
    {"UnknownFlag", [](Bytes& f) { f[6] |= 0x40; }, LoadProblem::damaged, ""},
    {"DeepData", [](Bytes& f) { f[5] |= 0x08; }, LoadProblem::refusedKind, "deep data"},
    {"HugeDataWindow",
     [](Bytes& f) {
         const size_t at = valueAt(f, "dataWindow");
         put32At(f, at + 8, 0x7FFFFFF0);
         put32At(f, at + 12, 0x7FFFFFF0);
     },
     LoadProblem::damaged, ""},
    // A window of 16384 x 16384 within the limits, in a file of 2 KB: its
    // offset table cannot be in the file.
    {"WindowBeyondTheFile",
     [](Bytes& f) {
         const size_t at = valueAt(f, "dataWindow");
         put32At(f, at + 8, 16383);
         put32At(f, at + 12, 16383);
     },
     LoadProblem::damaged, ""},
    // Past its offsets, a picture of 65536 x 16 in 2 KB is beyond what ZIP
    // can pack into it.
    {"PictureBeyondItsCompression", [](Bytes& f) { put32At(f, valueAt(f, "dataWindow") + 8, 65535); },
     LoadProblem::damaged, ""},
    {"EmptyDataWindow", [](Bytes& f) { put32At(f, valueAt(f, "dataWindow") + 8, 0xFFFFFFFF); }, LoadProblem::damaged,
     ""},
    {"AttributePastTheEnd", [](Bytes& f) { put32At(f, valueAt(f, "pixelAspectRatio") - 4, 0x7FFFFFFF); },
     LoadProblem::damaged, ""},
    {"UnknownCompression", [](Bytes& f) { f[valueAt(f, "compression")] = 42; }, LoadProblem::damaged, ""},
    {"SubsampledChannel", [](Bytes& f) { put32At(f, valueAt(f, "channels") + 2 + 8, 2); }, LoadProblem::refusedKind,
     "subsampled channels"},
    {"DamagedChunk",
     [](Bytes& f) {
         for (size_t i = f.size() - 40; i < f.size(); ++i) f[i] ^= 0x5A;
     },
     LoadProblem::damaged, "*"},
};

class ExrDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ExrDamage, IsRefusedWithItsReasonAndNothingOnStandardError) {
    const Damage& d = GetParam();
    Bytes file = smallFile();
    d.apply(file);
    testing_files::TempDir dir;
    testing_files::writeFile(dir.file("bad.exr"), file);
    FloatPicture picture;
    LoadFailure failure;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(readFloatPictureFile(dir.file("bad.exr").c_str(), &picture, failure));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(picture.samples, nullptr);
    EXPECT_EQ(failure.problem, d.problem);
    EXPECT_STREQ(failure.formatName, "OpenEXR");
    if (std::string(d.text) == "*")
        EXPECT_NE(failure.text[0], '\0') << "the library's reason is kept";
    else
        EXPECT_EQ(std::string(failure.text), d.text);
}

INSTANTIATE_TEST_SUITE_P(Files, ExrDamage, ::testing::ValuesIn(damages),
                         [](const auto& param) { return std::string(param.param.name); });

// The offset table and the chunks it points to: a file whose table has a
// hole, whose chunks are out of place or whose stored chunk is shorter than
// its samples is refused before the library reads it (the library would
// search the file for chunks, or read past a short one).
TEST(ExrRead, RefusesOffsetTablesAndChunksThatDoNotAgree) {
    const ExrCase files[] = {
        {"", Imf::HALF, {"Y"}, false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 24, 20},
        {"", Imf::FLOAT, {"Z"}, true, Imf::ONE_LEVEL, Imf::NO_COMPRESSION, 0, 0, 9, 6},
        {"", Imf::HALF, {"R", "G", "B"}, true, Imf::MIPMAP_LEVELS, Imf::NO_COMPRESSION, 0, 0, 9, 6},
    };
    const auto read64 = [](const Bytes& f, size_t at) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | f[at + static_cast<size_t>(i)];
        return v;
    };
    for (const ExrCase& c : files) {
        const Bytes good = smallFile(c);
        // The table starts where its first entry points just past it, to
        // the chunk that follows the table (as the library writes them).
        size_t table = 8;
        const auto pointsPastTable = [&](size_t at) {
            const uint64_t to = read64(good, at);
            return to > at && (to - at) % 8 == 0 && (to - at) / 8 >= 2 && (to - at) / 8 <= 16;
        };
        while (!pointsPastTable(table)) ++table;
        const auto entry = [&](size_t i) { return table + 8 * i; };
        const size_t first = static_cast<size_t>(read64(good, table));
        const size_t sizeAt = first + (c.tiled ? 16 : 4);
        const std::vector<std::pair<const char*, void (*)(Bytes&, size_t, size_t)>> tableDamages = {
            {"hole", [](Bytes& f, size_t t, size_t) { std::fill_n(f.begin() + static_cast<long>(t) + 8, 8, 0); }},
            {"swapped", [](Bytes& f, size_t t, size_t) {
                 std::swap_ranges(f.begin() + static_cast<long>(t), f.begin() + static_cast<long>(t) + 8,
                                  f.begin() + static_cast<long>(t) + 8);
             }},
            {"short", [](Bytes& f, size_t, size_t size) { f[size] = static_cast<uint8_t>(f[size] - 2); }},
        };
        FloatPicture picture;
        LoadFailure failure;
        ASSERT_TRUE(readExr(good, &picture, failure)) << c.channels[0];
        ASSERT_GT(read64(good, entry(1)), first);
        for (const auto& [name, apply] : tableDamages) {
            if (std::string(name) == "short" && c.compression != Imf::NO_COMPRESSION) continue;
            Bytes bad = good;
            apply(bad, table, sizeAt);
            LoadFailure refused;
            EXPECT_FALSE(readExr(bad, &picture, refused)) << name << " " << c.channels[0];
        }
    }
}

TEST(ExrRead, RefusesChannelSetsItDoesNotReadNamingThem) {
    const std::vector<std::vector<const char*>> sets = {{"A", "Y"}, {"R", "G"}, {"R", "G", "B", "Z"}, {"X", "Y", "Z"}};
    const char* texts[] = {"2 channels (A, Y)", "2 channels (G, R)", "4 channels (B, G, R, Z)", "3 channels (X, Y, Z)"};
    for (size_t i = 0; i < sets.size(); ++i) {
        const Bytes file = smallFile({"", Imf::HALF, sets[i], false, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 4, 4});
        FloatPicture picture;
        LoadFailure failure;
        EXPECT_FALSE(readExr(file, &picture, failure));
        EXPECT_EQ(failure.problem, LoadProblem::refusedKind);
        EXPECT_STREQ(failure.text, texts[i]);
    }
}

TEST(ExrRead, EveryCutOfAFileIsRefused) {
    // (The last tile ends the file: lower mip levels would not be needed.)
    const Bytes file = smallFile({"", Imf::HALF, {"R", "G", "B"}, true, Imf::ONE_LEVEL, Imf::ZIP_COMPRESSION, 0, 0, 9, 9});
    testing::internal::CaptureStderr();
    for (size_t kept = 0; kept < file.size(); ++kept) {
        FloatPicture picture;
        LoadFailure failure;
        ASSERT_FALSE(readExr(std::span<const uint8_t>(file.data(), kept), &picture, failure)) << kept << " bytes";
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ExrRead, TheMessageNamesTheFormatAndTheLibrarysReason) {
    LoadFailure failure;
    failure.problem = LoadProblem::damaged;
    failure.formatName = "OpenEXR";
    EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"),
              "not an OpenEXR file that quorvel-cli can read (damaged, or a kind it does not read)");
    std::snprintf(failure.text, sizeof failure.text, "%s", "Data decompression (zlib) failed.");
    EXPECT_EQ(describeLoadFailure(failure, "quorvel-cli"),
              "not an OpenEXR file that quorvel-cli can read: Data decompression (zlib) failed.");
}

TEST(ExrWrite, OneFloatChannelYWithZipReadsBackExactly) {
    testing_files::TempDir dir;
    const std::string path = dir.file("heights.exr");
    for (const auto& [w, h] : {std::pair{1u, 1u}, std::pair{37u, 1u}, std::pair{300u, 41u}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        // Rows padded by 3 floats, as any stride may be.
        const size_t stride = w + 3;
        std::vector<float> memory(stride * h, -1.0f);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) memory[y * stride + x] = writtenSample(Imf::FLOAT, static_cast<int>(x), static_cast<int>(y), 2);
        PixelRows rows;
        rows.first = reinterpret_cast<const uint8_t*>(memory.data());
        rows.stride = static_cast<ptrdiff_t>(stride * sizeof(float));
        rows.width = w;
        rows.height = h;
        rows.channels = 1;
        rows.sampleBits = 32;
        rows.floats = true;
        ASSERT_TRUE(writeExrRows(path.c_str(), rows));
        Imf::InputFile file(path.c_str());
        EXPECT_EQ(file.header().compression(), Imf::ZIP_COMPRESSION);
        const Imf::ChannelList& channels = file.header().channels();
        ASSERT_NE(channels.findChannel("Y"), nullptr);
        EXPECT_EQ(channels.findChannel("Y")->type, Imf::FLOAT);
        EXPECT_TRUE(++channels.begin() == channels.end()) << "one channel only";
        FloatPicture back;
        LoadFailure failure;
        ASSERT_TRUE(readFloatPictureFile(path.c_str(), &back, failure));
        ASSERT_EQ(back.width, w);
        ASSERT_EQ(back.height, h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(back.samples[y * w + x], memory[y * stride + x]);
    }
    // Rows that are not one channel of floats are refused, and a failed
    // save leaves nothing behind.
    const float one = 1.0f;
    PixelRows grey;
    grey.first = reinterpret_cast<const uint8_t*>(&one);
    grey.stride = 4;
    grey.width = grey.height = grey.channels = 1;
    grey.sampleBits = 32;
    EXPECT_FALSE(writeExrRows(dir.file("integers.exr").c_str(), grey));
    grey.floats = true;
    EXPECT_FALSE(writeExrRows(dir.file("no/such/folder.exr").c_str(), grey));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir.file("integers.exr")));
}

#else

TEST(ExrRead, WindowsRefusesEveryFileAsAKind) {
    const Bytes file = {0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0, 0};
    FloatPicture picture;
    LoadFailure failure;
    EXPECT_FALSE(readExr(file, &picture, failure));
    EXPECT_FALSE(platformHasOpenExr());
    const float one = 1.0f;
    PixelRows rows;
    rows.first = reinterpret_cast<const uint8_t*>(&one);
    rows.stride = 4;
    rows.width = rows.height = rows.channels = 1;
    rows.sampleBits = 32;
    rows.floats = true;
    testing_files::TempDir dir;
    EXPECT_FALSE(writeExrRows(dir.file("heights.exr").c_str(), rows));
    EXPECT_FALSE(std::filesystem::exists(dir.file("heights.exr")));
}

#endif

}  // namespace
