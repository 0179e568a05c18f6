// ASTC through the system's library: every block size's levels decoded back
// and held to the uncompressed chain by angle, the normal-map layout of the
// decoded blocks, the .astc header's bytes, and hostile headers refused
// before anything is allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "cli/options.h"
#include "encode/astc_codec.h"
#include "encode/block_decode.h"
#include "encode/mip_chain.h"
#include "encode/texture_encoder.h"
#include "readers/readers.h"
#include "tests/unit/generated_normal_maps.h"
#include "tests/unit/test_files.h"
#include "writers/writers.h"

namespace {

using namespace testing_files;
using normalmaps::Layout;
using normalmaps::MapRecipe;
using normalmaps::Relief;

struct Map {
    Image image;
    explicit Map(const MapRecipe& recipe) : image(normalmaps::makeMap(recipe)) {}
    ~Map() { resetImage(&image); }
    uint32_t width() const { return static_cast<uint32_t>(image.width); }
    uint32_t height() const { return static_cast<uint32_t>(image.height); }
};

// Bricks and noise at sizes that are no multiple of any block side.
MapRecipe bricks(Layout layout = Layout::rgb24) {
    return {Relief::bricks, GreenConvention::openGl, 61, 45, 7, 1, layout};
}

std::vector<uint8_t> encodeChain(const Image& image, TextureFormat format, uint32_t levels,
                                 AstcQuality quality = AstcQuality::medium) {
    const uint32_t w = static_cast<uint32_t>(image.width), h = static_cast<uint32_t>(image.height);
    std::vector<uint8_t> out(static_cast<size_t>(textureBytes(format, w, h, mipLevelCount(w, h, levels))));
    TextureOptions options;
    options.format = format;
    options.maxLevels = levels;
    options.astcQuality = quality;
    EXPECT_TRUE(encodeTexture(image, options, out.data(), out.size()));
    return out;
}

// The angle in degrees between two normals stored as bytes v = c x 127 + 128.
double angleBetween(const uint8_t* a, const uint8_t* b) {
    double dot = 0, aa = 0, bb = 0;
    for (int k = 0; k < 3; ++k) {
        const double x = (a[k] - 128) / 127.0, y = (b[k] - 128) / 127.0;
        dot += x * y;
        aa += x * x;
        bb += y * y;
    }
    if (aa == 0 || bb == 0) return 0;
    return std::acos(std::clamp(dot / std::sqrt(aa * bb), -1.0, 1.0)) * 180 / std::numbers::pi;
}

// Mean angle errors in degrees against the uncompressed chain.
struct BlockCase {
    TextureFormat format;
    AstcBlock block;
    double topBound;    // the top level
    double levelBound;  // any level below it
};

// Measured with the medium preset on bricks() at 8 and 16 bits (the worse
// of the two), top level / worst level below: 4x4 0.48 / 1.29, 5x4 0.62 /
// 1.85, 5x5 0.83 / 2.96, 6x5 1.05 / 3.29, 6x6 1.11 / 4.85, 8x5 1.46 / 4.28,
// 8x6 1.44 / 4.61, 8x8 2.08 / 5.58. The levels below the top hold the
// bricks' edges in fewer texels, so each block holds more of them. The
// bounds are the measures and a quarter, for other builds of the library;
// a wrong swizzle, a level off by a row or blocks out of order cost tens of
// degrees.
const BlockCase blockCases[] = {
    {TextureFormat::astc4x4, {4, 4}, 0.6, 1.6},  {TextureFormat::astc5x4, {5, 4}, 0.8, 2.3},
    {TextureFormat::astc5x5, {5, 5}, 1.05, 3.7}, {TextureFormat::astc6x5, {6, 5}, 1.3, 4.1},
    {TextureFormat::astc6x6, {6, 6}, 1.4, 6.0},  {TextureFormat::astc8x5, {8, 5}, 1.8, 5.4},
    {TextureFormat::astc8x6, {8, 6}, 1.8, 5.8},  {TextureFormat::astc8x8, {8, 8}, 2.6, 7.0},
};

std::string nameOf(AstcBlock block) { return std::to_string(block.x) + "x" + std::to_string(block.y); }

TEST(AstcTexture, LevelBytesAreSixteenABlockRoundedUp) {
    for (const BlockCase& c : blockCases) {
        SCOPED_TRACE(nameOf(c.block));
        AstcBlock block;
        ASSERT_TRUE(astcBlockOf(c.format, block));
        EXPECT_EQ(block.x, c.block.x);
        EXPECT_EQ(block.y, c.block.y);
        EXPECT_EQ(textureLevelBytes(c.format, 1, 1), 16u);
        EXPECT_EQ(textureLevelBytes(c.format, c.block.x, c.block.y), 16u);
        EXPECT_EQ(textureLevelBytes(c.format, c.block.x + 1, c.block.y), 32u);
        EXPECT_EQ(textureLevelBytes(c.format, c.block.x, 2 * c.block.y + 1), 48u);
        EXPECT_EQ(textureLevelBytes(c.format, 61, 45),
                  uint64_t{16} * ((61 + c.block.x - 1) / c.block.x) * ((45 + c.block.y - 1) / c.block.y));
    }
    AstcBlock none;
    EXPECT_FALSE(astcBlockOf(TextureFormat::bc5, none));
}

TEST(AstcTexture, EveryLevelOfEveryBlockSizeDecodesCloseToTheUncompressedChain) {
    if (!platformHasAstc()) GTEST_SKIP() << "no ASTC library in this build";
    for (const Layout layout : {Layout::rgb24, Layout::rgb48}) {
        const Map map(bricks(layout));
        // The same chain uncompressed: the vectors each level should hold.
        const std::vector<uint8_t> reference = encodeChain(map.image, TextureFormat::bgra8, 0);
        const uint32_t levels = mipLevelCount(map.width(), map.height(), 0);
        for (const BlockCase& c : blockCases) {
            SCOPED_TRACE(nameOf(c.block) + (layout == Layout::rgb48 ? " 16-bit" : " 8-bit"));
            const std::vector<uint8_t> texture = encodeChain(map.image, c.format, 0);
            size_t at = 0, referenceAt = 0;
            for (uint32_t level = 0; level < levels; ++level) {
                const uint32_t w = mipSide(map.width(), level), h = mipSide(map.height(), level);
                const size_t bytes = static_cast<size_t>(textureLevelBytes(c.format, w, h));
                ASSERT_LE(at + bytes, texture.size());
                std::vector<uint8_t> rgba(size_t{4} * w * h), rgb(size_t{3} * w * h);
                ASSERT_TRUE(decodeAstcLevel({texture.data() + at, bytes}, c.block, w, h, rgba.data())) << level;
                astcNormalsToRgb(rgba.data(), size_t{w} * h, rgb.data());
                double sum = 0;
                for (size_t i = 0; i < size_t{w} * h; ++i) {
                    const uint8_t* bgra = reference.data() + referenceAt + 4 * i;
                    const uint8_t expected[3] = {bgra[2], bgra[1], bgra[0]};
                    sum += angleBetween(rgb.data() + 3 * i, expected);
                }
                const double mean = sum / (double{1} * w * h);
                EXPECT_LT(mean, level == 0 ? c.topBound : c.levelBound) << "level " << level;
                at += bytes;
                referenceAt += size_t{4} * w * h;
            }
            EXPECT_EQ(at, texture.size());
        }
    }
}

TEST(AstcTexture, DecodedBlocksHoldXInRedGreenAndBlueAndYInAlpha) {
    if (!platformHasAstc()) GTEST_SKIP() << "no ASTC library in this build";
    // Noise makes X and Y differ everywhere, so that a swapped or shared
    // channel shows.
    const Map map({Relief::noise, GreenConvention::openGl, 40, 36, 3, 1, Layout::rgb24, false, 3.0});
    for (const BlockCase& c : blockCases) {
        SCOPED_TRACE(nameOf(c.block));
        const std::vector<uint8_t> level = encodeChain(map.image, c.format, 1);
        std::vector<uint8_t> rgba(size_t{4} * map.width() * map.height());
        ASSERT_TRUE(decodeAstcLevel(level, c.block, map.width(), map.height(), rgba.data()));
        double xOff = 0, yOff = 0, crossed = 0;
        for (size_t i = 0; i < size_t{map.width()} * map.height(); ++i) {
            const uint8_t* p = rgba.data() + 4 * i;
            const uint8_t* source = map.image.pixels + 3 * i;
            ASSERT_EQ(p[0], p[1]) << "texel " << i;
            ASSERT_EQ(p[0], p[2]) << "texel " << i;
            xOff += std::abs(p[0] - source[0]);
            yOff += std::abs(p[3] - source[1]);
            crossed += std::abs(p[3] - source[0]);
        }
        const double n = double{1} * map.width() * map.height();
        // Red follows X and alpha Y within a few steps (the larger blocks
        // smooth the noise most); alpha is far from X.
        EXPECT_LT(xOff / n, 6.0);
        EXPECT_LT(yOff / n, 6.0);
        EXPECT_GT(crossed / n, 4 * std::max(xOff, yOff) / n) << "alpha follows X";
    }
}

TEST(AstcTexture, ASlowerPresetIsNoWorse) {
    if (!platformHasAstc()) GTEST_SKIP() << "no ASTC library in this build";
    const Map map(bricks());
    const AstcBlock block{6, 6};
    auto meanError = [&](AstcQuality quality) {
        const std::vector<uint8_t> level = encodeChain(map.image, TextureFormat::astc6x6, 1, quality);
        std::vector<uint8_t> rgba(size_t{4} * map.width() * map.height()), rgb(size_t{3} * map.width() * map.height());
        EXPECT_TRUE(decodeAstcLevel(level, block, map.width(), map.height(), rgba.data()));
        astcNormalsToRgb(rgba.data(), size_t{map.width()} * map.height(), rgb.data());
        double sum = 0;
        for (size_t i = 0; i < size_t{map.width()} * map.height(); ++i)
            sum += angleBetween(rgb.data() + 3 * i, map.image.pixels + 3 * i);
        return sum / (double{1} * map.width() * map.height());
    };
    const double fastest = meanError(AstcQuality::fastest), thorough = meanError(AstcQuality::thorough);
    EXPECT_LE(thorough, fastest * 1.02);
}

TEST(AstcTexture, RefusedWhereThereIsNoLibrary) {
    if (platformHasAstc()) GTEST_SKIP() << "this build has an ASTC library";
    const Map map(bricks());
    std::vector<uint8_t> out(static_cast<size_t>(textureBytes(TextureFormat::astc4x4, 61, 45, 1)));
    TextureOptions options;
    options.format = TextureFormat::astc4x4;
    options.maxLevels = 1;
    EXPECT_FALSE(encodeTexture(map.image, options, out.data(), out.size()));
}

// ------------------------------------------------------------ .astc files --

TEST(AstcFile, HeaderBytesAreMagicBlockAnd24BitSizes) {
    const struct {
        AstcFileHeader header;
        uint8_t bytes[16];
    } cases[] = {
        {{{4, 4}, 1, 1}, {0x13, 0xAB, 0xA1, 0x5C, 4, 4, 1, 1, 0, 0, 1, 0, 0, 1, 0, 0}},
        {{{8, 5}, 300, 7}, {0x13, 0xAB, 0xA1, 0x5C, 8, 5, 1, 0x2C, 0x01, 0, 7, 0, 0, 1, 0, 0}},
        {{{12, 12}, 0x123456, 0xFFFFFF}, {0x13, 0xAB, 0xA1, 0x5C, 12, 12, 1, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 1, 0, 0}},
    };
    for (const auto& c : cases) {
        uint8_t bytes[16];
        ASSERT_TRUE(putAstcFileHeader(c.header, bytes));
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 16), std::vector<uint8_t>(c.bytes, c.bytes + 16));
    }
    uint8_t bytes[16];
    EXPECT_FALSE(putAstcFileHeader({{4, 4}, 0x1000000, 1}, bytes));
    EXPECT_FALSE(putAstcFileHeader({{4, 4}, 0, 1}, bytes));
    EXPECT_FALSE(putAstcFileHeader({{3, 3}, 1, 1}, bytes));
}

// A small .astc file as writeAstc writes it.
Bytes writtenFile(const TempDir& dir, TextureFormat format, const MapRecipe& recipe) {
    const Map map(recipe);
    SaveOptions options;
    options.astcFormat = format;
    options.astcQuality = AstcQuality::fastest;
    const std::string path = dir.file("map.astc");
    EXPECT_TRUE(writeAstc(path.c_str(), map.image, options));
    return readFile(path);
}

TEST(AstcFile, WrittenFilesReadBackAsXYAndRebuiltZ) {
    if (!platformHasAstc()) GTEST_SKIP() << "no ASTC library in this build";
    TempDir dir;
    const MapRecipe recipe = bricks();
    const Map map(recipe);
    for (const BlockCase& c : blockCases) {
        SCOPED_TRACE(nameOf(c.block));
        const Bytes file = writtenFile(dir, c.format, recipe);
        ASSERT_EQ(file.size(), 16 + textureLevelBytes(c.format, 61, 45));
        EXPECT_EQ(file[4], c.block.x);
        EXPECT_EQ(file[5], c.block.y);
        Image image{};
        LoadFailure failure;
        ASSERT_TRUE(decodeImage(file, "map.astc", &image, failure)) << describeLoadFailure(failure, "test");
        ASSERT_EQ(image.width, 61);
        ASSERT_EQ(image.height, 45);
        ASSERT_EQ(image.bitsPerPixel, 24);
        // The reader's pixels are the level decoded, alpha as green, Z rebuilt.
        std::vector<uint8_t> rgba(size_t{4} * 61 * 45);
        ASSERT_TRUE(decodeAstcLevel({file.data() + 16, file.size() - 16}, c.block, 61, 45, rgba.data()));
        double sum = 0;
        for (size_t i = 0; i < size_t{61} * 45; ++i) {
            const uint8_t* p = image.pixels + 3 * i;
            ASSERT_EQ(p[0], rgba[4 * i]);
            ASSERT_EQ(p[1], rgba[4 * i + 3]);
            ASSERT_EQ(p[2], rebuiltZ8(p[0], p[1]));
            sum += angleBetween(p, map.image.pixels + 3 * i);
        }
        EXPECT_LT(sum / (61 * 45), 2 * c.topBound);  // the fastest preset, against the source
        resetImage(&image);
    }
}

// A header with one field changed, or a file cut short or made longer.
struct Damage {
    const char* name;
    void (*apply)(Bytes& file);
    const char* reason;  // what the message must say
};

void set24(Bytes& f, size_t at, uint32_t v) {
    for (int i = 0; i < 3; ++i) f[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

const Damage damages[] = {
    {"wrong magic", [](Bytes& f) { f[3] = 0x5D; }, "magic 0x5CA1AB13"},
    {"zero width", [](Bytes& f) { set24(f, 7, 0); }, "zero or beyond"},
    {"zero height", [](Bytes& f) { set24(f, 10, 0); }, "zero or beyond"},
    {"huge sides", [](Bytes& f) { set24(f, 7, 0xFFFFFF), set24(f, 10, 0xFFFFFF); }, "zero or beyond"},
    {"huge width", [](Bytes& f) { set24(f, 7, 0xFFFFFF); }, "ends before its blocks"},
    {"depth 0", [](Bytes& f) { set24(f, 13, 0); }, "3D picture"},
    {"depth 2", [](Bytes& f) { set24(f, 13, 2); }, "3D picture"},
    {"block 0x0", [](Bytes& f) { f[4] = f[5] = 0; }, "block size"},
    {"block 13x13", [](Bytes& f) { f[4] = f[5] = 13; }, "block size"},
    {"block 3x3", [](Bytes& f) { f[4] = f[5] = 3; }, "block size"},
    {"block 4x12", [](Bytes& f) { f[5] = 12; }, "block size"},
    {"block z 2", [](Bytes& f) { f[6] = 2; }, "block size"},
    {"one byte short", [](Bytes& f) { f.pop_back(); }, "ends before its blocks"},
    {"header only", [](Bytes& f) { f.resize(16); }, "ends before its blocks"},
    {"half a header", [](Bytes& f) { f.resize(9); }, "inside its 16-byte header"},
    {"empty", [](Bytes& f) { f.clear(); }, "inside its 16-byte header"},
    {"a byte more", [](Bytes& f) { f.push_back(0); }, "more bytes than its blocks"},
};

TEST(AstcFile, HostileHeadersAreRefusedWithTheirReason) {
    // A file of 9 x 6 texels in 4x4 blocks: 3 x 2 blocks of zeros (the
    // header is checked before the blocks are looked at).
    Bytes valid(16 + 6 * 16, 0);
    uint8_t header[16];
    ASSERT_TRUE(putAstcFileHeader({{4, 4}, 9, 6}, header));
    std::memcpy(valid.data(), header, 16);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        Bytes file = valid;
        damage.apply(file);
        Image image{};
        LoadFailure failure;
        EXPECT_FALSE(decodeImage(file, "bad.astc", &image, failure));
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(failure.problem, LoadProblem::damaged);
        const std::string message = describeLoadFailure(failure, "quorvel-cli");
        EXPECT_NE(message.find("not an ASTC file"), std::string::npos) << message;
        EXPECT_NE(message.find(damage.reason), std::string::npos) << message;
    }
    // Every cut of the file fails too.
    for (size_t length = 0; length < valid.size(); ++length) {
        Image image{};
        LoadFailure failure;
        EXPECT_FALSE(decodeImage({valid.data(), length}, "bad.astc", &image, failure)) << length;
    }
}

TEST(AstcFile, ReadOrRefusedAsTheBuildAllows) {
    Bytes file(16 + 16, 0);
    uint8_t header[16];
    ASSERT_TRUE(putAstcFileHeader({{4, 4}, 4, 4}, header));
    std::memcpy(file.data(), header, 16);
    // A void-extent block of one colour (the ASTC format's constant block:
    // 0x1FC in its low 9 bits, LDR, extents all ones), then red 0xFFFF,
    // green 0x8000, blue 0 and alpha 0xFFFF as 16-bit values.
    const uint8_t constant[16] = {0xFC, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(file.data() + 16, constant, 16);
    Image image{};
    LoadFailure failure;
    const bool read = decodeImage(file, "red.astc", &image, failure);
    if (!platformHasAstc()) {
        EXPECT_FALSE(read);
        EXPECT_EQ(failure.problem, LoadProblem::refusedKind);
        EXPECT_NE(describeLoadFailure(failure, "quorvel-cli").find("no ASTC decoder"), std::string::npos);
        return;
    }
    ASSERT_TRUE(read) << describeLoadFailure(failure, "test");
    // X is red (255), Y alpha (255), and Z is rebuilt from them.
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(image.pixels[3 * i], 255);
        EXPECT_EQ(image.pixels[3 * i + 1], 255);
        EXPECT_EQ(image.pixels[3 * i + 2], rebuiltZ8(255, 255));
    }
    resetImage(&image);
}

// ------------------------------------------------------------ quorvel-cli --

TEST(AstcOptions, GoWithAstcOutputsWhereTheBuildHasTheLibrary) {
    const struct {
        std::vector<const char*> words;
        const char* withLibrary;  // the usage error where there is a library, or null: taken
    } cases[] = {
        {{"in.png", "out.astc"}, nullptr},
        {{"--astc", "8x6", "--astc-quality", "thorough", "in.png", "out.ASTC"}, nullptr},
        {{"--format", "astc", "--astc", "5x5", "--out-dir", "out", "in"}, nullptr},
        {{"--astc", "6x6", "in.png", "out.dds"}, "--astc goes with an .astc OUTPUT"},
        {{"--astc", "6x6", "--out-dir", "out", "in"}, "--astc goes with --format astc"},
        {{"--astc-quality", "fast", "in.png", "out.dds"}, "--astc-quality goes with an .astc or .ktx2 OUTPUT"},
        {{"--mips", "3", "in.png", "out.astc"}, "an .astc file holds one level"},
        {{"--thumbnail", "t.astc", "in.png", "out.png"}, "THUMB must end in"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> words = c.words;
        words.insert(words.begin(), "quorvel-cli");
        Arguments args;
        std::string error;
        const ParseResult result = parseArguments(static_cast<int>(words.size()), words.data(), args, error);
        SCOPED_TRACE(std::string(c.words[0]) + " ... " + c.words.back());
        const bool astcOutput = std::string(c.words.back()).ends_with(".astc") ||
                                std::string(c.words.back()).ends_with(".ASTC") || c.words[0] == std::string("--format");
        if (c.withLibrary) {
            EXPECT_EQ(result, ParseResult::usage);
            EXPECT_NE(error.find(c.withLibrary), std::string::npos) << error;
        } else if (platformHasAstc()) {
            EXPECT_EQ(result, ParseResult::run) << error;
        } else {
            EXPECT_TRUE(astcOutput);
            EXPECT_EQ(result, ParseResult::usage);
            EXPECT_NE(error.find("this build has no ASTC encoder"), std::string::npos) << error;
        }
    }
}

}  // namespace
