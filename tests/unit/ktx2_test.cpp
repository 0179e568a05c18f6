// KTX2 files: every payload, mip setting and supercompression written,
// held to the KTX file format (version 2.0) by ktx2_checker.h and read back level by
// level against the bytes and pixels of the DDS road; then one hostile file
// per rule the reader keeps, each made from a good file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "encode/mip_chain.h"
#include "platform/supercompression.h"
#include "readers/ktx2_format.h"
#include "readers/readers.h"
#include "tests/unit/generated_normal_maps.h"
#include "tests/unit/ktx2_checker.h"
#include "tests/unit/reader_test_support.h"
#include "tests/unit/test_files.h"
#include "writers/writers.h"

namespace {

using testing_files::Bytes;

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(Bytes& b, size_t at, uint64_t v) {
    put32(b, at, static_cast<uint32_t>(v));
    put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

enum class Pack { none, zstd, zlib };

struct WrittenCase {
    const ktx2::Payload* payload;
    uint32_t mips;
    bool keepLength;
    bool sixteen;  // a 16-bit picture
    Pack pack;
};

std::string nameOf(const WrittenCase& c) {
    static const char* packs[] = {"none", "zstd", "zlib"};
    return std::string(c.payload->name) + "_mips" + std::to_string(c.mips) + (c.keepLength ? "_keep" : "") +
           (c.sixteen ? "_16bit_" : "_8bit_") + packs[static_cast<int>(c.pack)];
}

std::vector<WrittenCase> writtenCases() {
    std::vector<WrittenCase> cases;
    for (const ktx2::Payload& payload : ktx2::payloads)
        for (uint32_t mips : {0u, 1u, 3u})
            for (Pack pack : {Pack::none, Pack::zstd, Pack::zlib}) {
                if (pack == Pack::zstd && !platformHasPacking(Packing::zstd)) continue;
                if (payload.model == ktx2::astc && !platformHasAstc()) continue;
                cases.push_back({&payload, mips, mips == 3, mips != 1, pack});
            }
    return cases;
}

Image mapOf(bool sixteen) {
    using normalmaps::Layout;
    return normalmaps::makeMap({normalmaps::Relief::bricks, GreenConvention::openGl, sixteen ? 23 : 37,
                                sixteen ? 13 : 21, 5, 0, sixteen ? Layout::rgb48 : Layout::rgb24});
}

// The DXGI format of each payload, for a DDS file of the same level.
uint32_t dxgiOf(TextureFormat format) {
    switch (format) {
        case TextureFormat::bc5: return 83;
        case TextureFormat::bc1: return 71;
        case TextureFormat::bc3: return 77;
        case TextureFormat::bc4: return 80;
        case TextureFormat::rg8: return 49;
        case TextureFormat::rgba8: return 28;
        case TextureFormat::rg16: return 35;
        case TextureFormat::rgba16: return 11;
        case TextureFormat::bgra8: return 87;
        case TextureFormat::bc7: return 98;
        default: break;  // ASTC: no DXGI format (astcOf)
    }
    return 0;
}

// A DDS file (DX10 header) of one level's bytes, for the DDS reader.
Bytes ddsOf(TextureFormat format, uint32_t width, uint32_t height, const std::vector<uint8_t>& level) {
    Bytes b(148, 0);
    std::memcpy(b.data(), "DDS ", 4);
    put32(b, 4, 124);
    put32(b, 8, 0x1 | 0x2 | 0x4 | 0x1000);
    put32(b, 12, height);
    put32(b, 16, width);
    put32(b, 76, 32);
    put32(b, 80, 0x4);
    std::memcpy(b.data() + 84, "DX10", 4);
    put32(b, 108, 0x1000);
    put32(b, 128, dxgiOf(format));
    put32(b, 132, 3);  // a 2D texture
    put32(b, 140, 1);  // one slice
    b.insert(b.end(), level.begin(), level.end());
    return b;
}

// An .astc file of one ASTC level, for the .astc reader.
Bytes astcOf(TextureFormat format, uint32_t width, uint32_t height, const std::vector<uint8_t>& level) {
    AstcBlock block;
    EXPECT_TRUE(astcBlockOf(format, block));
    uint8_t header[astcFileHeaderBytes];
    EXPECT_TRUE(putAstcFileHeader({block, width, height}, header));
    Bytes b(header, header + sizeof header);
    b.insert(b.end(), level.begin(), level.end());
    return b;
}

class Ktx2Written : public ::testing::TestWithParam<WrittenCase> {};

TEST_P(Ktx2Written, PassesTheCheckAndReadsBackAsTheDdsRoad) {
    const WrittenCase& c = GetParam();
    const ktx2::Payload& payload = *c.payload;
    Image map = mapOf(c.sixteen);
    SaveOptions options;
    options.ktxFormat = payload.texture;
    options.mips = c.mips;
    options.mipKeepLength = c.keepLength;
    options.ktxZstd = c.pack == Pack::zstd ? -1 : 0;
    options.ktxZlib = c.pack == Pack::zlib ? 6 : 0;
    testing_files::TempDir dir;
    const std::string path = dir.file("t.ktx2");
    ASSERT_TRUE(writeKtx2(path.c_str(), map, options));
    const Bytes file = testing_files::readFile(path);

    const ktx2check::Result r = ktx2check::check(file);
    for (const std::string& problem : r.problems) ADD_FAILURE() << problem;
    ASSERT_TRUE(r.problems.empty());
    EXPECT_EQ(r.vkFormat, payload.vkFormat);
    EXPECT_EQ(r.scheme, c.pack == Pack::none ? 0u : c.pack == Pack::zstd ? 2u : 3u);
    EXPECT_EQ(r.keyValues.at("KTXorientation"), "rd");
    EXPECT_EQ(r.keyValues.at("KTXwriter"), "Quorvel " QUORVEL_VERSION);

    // Each level is the bytes the texture encoder makes for the DDS writer.
    const uint32_t width = static_cast<uint32_t>(map.width), height = static_cast<uint32_t>(map.height);
    const uint32_t levels = mipLevelCount(width, height, c.mips);
    ASSERT_EQ(r.levelCount, levels);
    TextureOptions texture{payload.texture, c.mips, c.keepLength};
    std::vector<uint8_t> encoded(static_cast<size_t>(textureBytes(payload.texture, width, height, levels)));
    ASSERT_TRUE(encodeTexture(map, texture, encoded.data(), encoded.size()));
    size_t at = 0;
    for (uint32_t i = 0; i < levels; ++i) {
        const size_t length =
            static_cast<size_t>(textureLevelBytes(payload.texture, mipSide(width, i), mipSide(height, i)));
        EXPECT_TRUE(std::equal(r.levels[i].begin(), r.levels[i].end(), encoded.begin() + static_cast<long>(at),
                               encoded.begin() + static_cast<long>(at + length)))
            << "level " << i;
        at += length;
    }
    // Where the DDS writer writes the payload, its file holds the same levels.
    SaveOptions dds = options;
    dds.ddsFormat = payload.texture;
    if (writeDds(dir.file("t.dds").c_str(), map, dds)) {
        const Bytes ddsFile = testing_files::readFile(dir.file("t.dds"));
        std::vector<uint8_t> all;
        for (const auto& level : r.levels) all.insert(all.end(), level.begin(), level.end());
        const bool dx10 = std::memcmp(ddsFile.data() + 84, "DX10", 4) == 0;
        EXPECT_EQ(Bytes(ddsFile.begin() + (dx10 ? 148 : 128), ddsFile.end()), all);
    }

    // Every level read back gives the pixels the DDS reader gives for it;
    // the KTX2 reader's picture is the top level's.
    for (uint32_t i = 0; i < levels; ++i) {
        readertest::Loaded fromDds;
        const bool astc = payload.model == ktx2::astc;
        const uint32_t w = mipSide(width, i), h = mipSide(height, i);
        readertest::loadBytes(astc ? astcOf(payload.texture, w, h, r.levels[i]) : ddsOf(payload.texture, w, h, r.levels[i]),
                              astc ? "astc" : "dds", fromDds);
        ASSERT_TRUE(fromDds.ok) << "level " << i;
        if (i > 0) continue;
        readertest::Loaded fromKtx2;
        readertest::loadBytes(file, "ktx2", fromKtx2);
        ASSERT_TRUE(fromKtx2.ok) << describeLoadFailure(fromKtx2.failure, "test");
        ASSERT_EQ(fromKtx2.image.width, fromDds.image.width);
        ASSERT_EQ(fromKtx2.image.height, fromDds.image.height);
        ASSERT_EQ(fromKtx2.image.bitsPerPixel, fromDds.image.bitsPerPixel);
        ASSERT_EQ(fromKtx2.image.dataSize, fromDds.image.dataSize);
        EXPECT_EQ(std::memcmp(fromKtx2.image.pixels, fromDds.image.pixels, fromDds.image.dataSize), 0);
        EXPECT_EQ(isSixteenBit(fromKtx2.image), payload.read.sampleBits == 16);
    }
    resetImage(&map);
}

INSTANTIATE_TEST_SUITE_P(Payloads, Ktx2Written, ::testing::ValuesIn(writtenCases()),
                         [](const ::testing::TestParamInfo<WrittenCase>& p) { return nameOf(p.param); });

// A good file to spoil: BC5 of 37 x 21 with its six levels, as written.
Bytes goodFile(uint32_t mips, int zstd, int zlib) {
    Image map = mapOf(false);
    SaveOptions options;
    options.mips = mips;
    options.ktxZstd = zstd;
    options.ktxZlib = zlib;
    testing_files::TempDir dir;
    const std::string path = dir.file("good.ktx2");
    EXPECT_TRUE(writeKtx2(path.c_str(), map, options));
    resetImage(&map);
    return testing_files::readFile(path);
}

constexpr size_t entry(uint32_t level) { return 80 + 24 * size_t{level}; }
uint64_t levelOffset(const Bytes& b, uint32_t level) { return ktx2check::u64(b, entry(level)); }
uint64_t levelLength(const Bytes& b, uint32_t level) { return ktx2check::u64(b, entry(level) + 8); }
uint32_t dfdAt(const Bytes& b) { return ktx2check::u32(b, 48); }

struct HostileCase {
    const char* name;
    std::function<void(Bytes&)> spoil;
    const char* refusal;  // the kind named, or null: damaged
};

const HostileCase hostileCases[] = {
    {"levels_out_of_order",
     [](Bytes& b) {
         const uint64_t four = levelOffset(b, 4), five = levelOffset(b, 5);
         put64(b, entry(4), five), put64(b, entry(5), four);
     },
     nullptr},
    {"levels_overlapping", [](Bytes& b) { put64(b, entry(3), levelOffset(b, 2) + 16); }, nullptr},
    {"level_over_the_metadata", [](Bytes& b) { put64(b, entry(5), dfdAt(b)); }, nullptr},
    {"level_outside_the_file", [](Bytes& b) { put64(b, entry(0), b.size() - levelLength(b, 0) + 16); }, nullptr},
    {"level_length_overflowing",
     [](Bytes& b) {
         put64(b, entry(0), 0xFFFFFFFFFFFFFFF0u);
         put64(b, entry(0) + 8, 0x20);
     },
     nullptr},
    {"level_length_huge", [](Bytes& b) { put64(b, entry(1) + 8, 0xFFFFFFFFFFFFFFF0u); }, nullptr},
    {"level_length_short", [](Bytes& b) { put64(b, entry(0) + 8, levelLength(b, 0) - 16); }, nullptr},
    {"unpacked_length_wrong", [](Bytes& b) { put64(b, entry(2) + 16, levelLength(b, 2) + 16); }, nullptr},
    {"dfd_length_overflowing", [](Bytes& b) { put32(b, 52, 0xFFFFFFFFu); }, nullptr},
    {"kvd_outside_the_file", [](Bytes& b) { put32(b, 60, 0xFFFFFFF0u); }, nullptr},
    {"sgd_overflowing", [](Bytes& b) { put64(b, 64, 0xFFFFFFFFFFFFFFFFu), put64(b, 72, 2); }, nullptr},
    {"dfd_colour_model_bc1", [](Bytes& b) { b[dfdAt(b) + 12] = 128; }, nullptr},
    {"dfd_channel", [](Bytes& b) { b[dfdAt(b) + 4 + 24 + 16 + 3] = 2; }, nullptr},
    {"dfd_bit_offset", [](Bytes& b) { b[dfdAt(b) + 4 + 24 + 16] = 8; }, nullptr},
    {"dfd_bytes_plane", [](Bytes& b) { b[dfdAt(b) + 4 + 16] = 8; }, nullptr},
    {"dfd_total_size", [](Bytes& b) { put32(b, dfdAt(b), 40); }, nullptr},
    {"dfd_signed_samples", [](Bytes& b) { b[dfdAt(b) + 4 + 24 + 3] |= 0x40; }, nullptr},
    {"type_size", [](Bytes& b) { put32(b, 16, 2); }, nullptr},
    {"thousands_of_layers", [](Bytes& b) { put32(b, 32, 5000); }, nullptr},
    {"cube_map_array_of_thousands", [](Bytes& b) { put32(b, 32, 200), put32(b, 36, 6); }, nullptr},
    {"five_faces", [](Bytes& b) { put32(b, 36, 5); }, nullptr},
    {"more_levels_than_halvings", [](Bytes& b) { put32(b, 40, 7); }, nullptr},
    {"no_width", [](Bytes& b) { put32(b, 20, 0); }, nullptr},
    {"identifier", [](Bytes& b) { b[5] = '1'; }, nullptr},
    {"unknown_format", [](Bytes& b) { put32(b, 12, 999); }, "VkFormat 999"},
    {"astc", [](Bytes& b) { put32(b, 12, 183); }, "ASTC_12x12_UNORM_BLOCK (VkFormat 183)"},
    {"bc6h", [](Bytes& b) { put32(b, 12, 143); }, "BC6H_UFLOAT_BLOCK (VkFormat 143)"},
    {"basis_lz", [](Bytes& b) { put32(b, 44, 1); }, "Basis Universal (BasisLZ supercompression)"},
    {"uastc",
     [](Bytes& b) {
         put32(b, 12, 0);
         b[dfdAt(b) + 12] = 166;
     },
     "Basis Universal UASTC"},
    {"unknown_scheme", [](Bytes& b) { put32(b, 44, 7); }, "supercompression scheme 7"},
    {"three_dimensions", [](Bytes& b) { put32(b, 28, 4); }, "a 3D texture"},
};

class Ktx2Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Ktx2Hostile, IsRefused) {
    const HostileCase& c = GetParam();
    Bytes file = goodFile(0, 0, 0);
    readertest::Loaded good;
    readertest::loadBytes(file, "ktx2", good);
    ASSERT_TRUE(good.ok);
    c.spoil(file);
    readertest::Loaded loaded;
    readertest::loadBytes(file, "ktx2", loaded);
    readertest::expectFailed(loaded);
    if (c.refusal) {
        EXPECT_EQ(loaded.failure.problem, LoadProblem::refusedKind);
        EXPECT_STREQ(loaded.failure.text, c.refusal);
    } else {
        EXPECT_EQ(loaded.failure.problem, LoadProblem::damaged);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, Ktx2Hostile, ::testing::ValuesIn(hostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& p) { return std::string(p.param.name); });

TEST(Ktx2Hostile, EveryTruncationFails) {
    readertest::expectEveryTruncationFails(goodFile(0, 0, 0), "ktx2");
    readertest::expectEveryTruncationFails(goodFile(3, 0, 4), "ktx2");
}

// A one-level file whose level is replaced by `packed`, stated to unpack to
// the level's length.
Bytes withPackedLevel(const Bytes& good, const std::vector<uint8_t>& packed) {
    Bytes b(good.begin(), good.begin() + static_cast<long>(levelOffset(good, 0)));
    b.insert(b.end(), packed.begin(), packed.end());
    put64(b, entry(0) + 8, packed.size());
    return b;
}

struct PackedCase {
    const char* name;
    Packing packing;
    uint32_t scheme;
};

class Ktx2Packed : public ::testing::TestWithParam<PackedCase> {};

// Data that unpacks to more than the stated length (a bomb among them) or
// to less, or ends early, is refused; the exact length is read.
TEST_P(Ktx2Packed, UnpacksToExactlyTheStatedLength) {
    const PackedCase& c = GetParam();
    if (!platformHasPacking(c.packing)) GTEST_SKIP() << "this build has no " << c.name;
    const Bytes good = goodFile(1, c.packing == Packing::zstd ? 3 : 0, c.packing == Packing::zlib ? 6 : 0);
    ASSERT_EQ(ktx2check::u32(good, 44), c.scheme);
    const size_t length = static_cast<size_t>(ktx2check::u64(good, entry(0) + 16));
    readertest::Loaded loaded;
    readertest::loadBytes(good, "ktx2", loaded);
    ASSERT_TRUE(loaded.ok);

    const auto packedOf = [&](size_t size, uint8_t fill) {
        std::vector<uint8_t> data(size, fill), packed;
        EXPECT_TRUE(platformPack(c.packing, data, 1, packed));
        return packed;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> packed;
    } spoilt[] = {
        {"one byte more", packedOf(length + 1, 0x55)},
        {"one byte less", packedOf(length - 1, 0x55)},
        {"a bomb of 64 MiB", packedOf(size_t{64} << 20, 0)},
        {"cut short", [&] {
             std::vector<uint8_t> p = packedOf(length, 0x55);
             p.resize(p.size() - 3);
             return p;
         }()},
        {"not packed at all", std::vector<uint8_t>(length, 0x55)},
    };
    for (const auto& s : spoilt) {
        readertest::Loaded bad;
        readertest::loadBytes(withPackedLevel(good, s.packed), "ktx2", bad);
        EXPECT_FALSE(bad.ok) << s.what;
        EXPECT_EQ(bad.failure.problem, LoadProblem::damaged) << s.what;
    }
    readertest::Loaded exact;
    readertest::loadBytes(withPackedLevel(good, packedOf(length, 0x55)), "ktx2", exact);
    EXPECT_TRUE(exact.ok);
}

INSTANTIATE_TEST_SUITE_P(Schemes, Ktx2Packed,
                         ::testing::Values(PackedCase{"zstd", Packing::zstd, 2}, PackedCase{"zlib", Packing::zlib, 3}),
                         [](const ::testing::TestParamInfo<PackedCase>& p) { return std::string(p.param.name); });

}  // namespace

namespace {

// The sample files of tests/data/ktx2 (scripts/testdata/make_ktx2.sh) pass
// the check and read as 13 x 9 pictures, or, without zstd, are refused by
// name (as are ASTC files without an ASTC library).
TEST(Ktx2Samples, PassTheCheckAndRead) {
    const auto files = readertest::dataFiles("ktx2");
    ASSERT_EQ(files.size(), 3 * std::size(ktx2::payloads));
    for (const auto& path : files) {
        const Bytes file = readertest::fileBytes(path);
        const ktx2check::Result r = ktx2check::check(file);
        readertest::Loaded loaded;
        readertest::loadPath(path, loaded);
        if ((r.scheme == 2 && !platformHasPacking(Packing::zstd)) ||
            (r.vkFormat >= 157 && r.vkFormat <= 171 && !platformHasAstc())) {
            EXPECT_EQ(loaded.failure.problem, LoadProblem::refusedKind) << path;
            continue;
        }
        EXPECT_TRUE(r.problems.empty()) << path << ": " << (r.problems.empty() ? "" : r.problems.front());
        ASSERT_TRUE(loaded.ok) << path;
        EXPECT_EQ(loaded.image.width, 13);
        EXPECT_EQ(loaded.image.height, 9);
    }
}

}  // namespace
