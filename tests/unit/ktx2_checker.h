// A KTX 2.0 file held to the KTX File Format Specification (version 2.0) and the Khronos Data
// Format Specification, written from them and apart from the program's
// reader and writer: the header, the index's offsets and lengths, the
// alignment of every section and level, the data format descriptor against
// what the Vulkan format says, the key/value data's order and termination,
// and the levels' order. Hands back each level unpacked (level 0 first), as
// libzstd and zlib unpack them, so that a test compares them byte by byte.
#pragma once

#include <zlib.h>
#if __has_include(<zstd.h>) && !defined(_WIN32)
#include <zstd.h>
#define QUORVEL_TEST_ZSTD 1
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <numeric>
#include <span>
#include <string>
#include <vector>

namespace ktx2check {

struct Expected {
    uint32_t vkFormat;
    uint32_t typeSize;
    uint8_t model;  // KHR_DF_MODEL_...
    uint32_t blockWidth, blockHeight, blockBytes;
    // Channel id, bit offset, bit length, sampleUpper of each sample.
    std::vector<std::array<uint32_t, 4>> samples;
};

// The Vulkan formats the program writes, as Khronos's data format document
// describes each.
inline const std::vector<Expected>& expectations() {
    static const std::vector<Expected> table = {
        {131, 1, 128, 4, 4, 8, {{0, 0, 64, 0xFFFFFFFFu}}},                        // BC1_RGB_UNORM_BLOCK
        {137, 1, 130, 4, 4, 16, {{15, 0, 64, 0xFFFFFFFFu}, {0, 64, 64, 0xFFFFFFFFu}}},  // BC3_UNORM_BLOCK
        {139, 1, 131, 4, 4, 8, {{0, 0, 64, 0xFFFFFFFFu}}},                        // BC4_UNORM_BLOCK
        {141, 1, 132, 4, 4, 16, {{0, 0, 64, 0xFFFFFFFFu}, {1, 64, 64, 0xFFFFFFFFu}}},  // BC5_UNORM_BLOCK
        {16, 1, 1, 1, 1, 2, {{0, 0, 8, 255}, {1, 8, 8, 255}}},                    // R8G8_UNORM
        {37, 1, 1, 1, 1, 4, {{0, 0, 8, 255}, {1, 8, 8, 255}, {2, 16, 8, 255}, {15, 24, 8, 255}}},  // R8G8B8A8_UNORM
        {77, 2, 1, 1, 1, 4, {{0, 0, 16, 65535}, {1, 16, 16, 65535}}},             // R16G16_UNORM
        {91, 2, 1, 1, 1, 8,                                                        // R16G16B16A16_UNORM
         {{0, 0, 16, 65535}, {1, 16, 16, 65535}, {2, 32, 16, 65535}, {15, 48, 16, 65535}}},
        {145, 1, 134, 4, 4, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // BC7_UNORM_BLOCK
        {157, 1, 162, 4, 4, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_4x4_UNORM_BLOCK
        {159, 1, 162, 5, 4, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_5x4_UNORM_BLOCK
        {161, 1, 162, 5, 5, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_5x5_UNORM_BLOCK
        {163, 1, 162, 6, 5, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_6x5_UNORM_BLOCK
        {165, 1, 162, 6, 6, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_6x6_UNORM_BLOCK
        {167, 1, 162, 8, 5, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_8x5_UNORM_BLOCK
        {169, 1, 162, 8, 6, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_8x6_UNORM_BLOCK
        {171, 1, 162, 8, 8, 16, {{0, 0, 128, 0xFFFFFFFFu}}},  // ASTC_8x8_UNORM_BLOCK
    };
    return table;
}

struct Result {
    std::vector<std::string> problems;
    uint32_t vkFormat = 0, width = 0, height = 0, levelCount = 0, scheme = 0;
    std::map<std::string, std::string> keyValues;
    std::vector<std::vector<uint8_t>> levels;  // unpacked, level 0 first
};

inline uint32_t u32(std::span<const uint8_t> f, size_t at) {
    return uint32_t{f[at]} | (uint32_t{f[at + 1]} << 8) | (uint32_t{f[at + 2]} << 16) | (uint32_t{f[at + 3]} << 24);
}
inline uint64_t u64(std::span<const uint8_t> f, size_t at) { return u32(f, at) | (uint64_t{u32(f, at + 4)} << 32); }

inline bool unpack(uint32_t scheme, std::span<const uint8_t> packed, std::vector<uint8_t>& out) {
    if (scheme == 3) {
        uLongf length = static_cast<uLongf>(out.size());
        return uncompress(out.data(), &length, packed.data(), static_cast<uLong>(packed.size())) == Z_OK &&
               length == out.size();
    }
#ifdef QUORVEL_TEST_ZSTD
    if (scheme == 2) {
        const size_t length = ZSTD_decompress(out.data(), out.size(), packed.data(), packed.size());
        return !ZSTD_isError(length) && length == out.size();
    }
#endif
    return false;
}

inline Result check(std::span<const uint8_t> f) {
    Result r;
    auto fail = [&](const std::string& what) { r.problems.push_back(what); };
    static const uint8_t id[12] = {0xAB, 0x4B, 0x54, 0x58, 0x20, 0x32, 0x30, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
    if (f.size() < 80 || std::memcmp(f.data(), id, 12) != 0) return fail("no KTX 2.0 identifier"), r;
    r.vkFormat = u32(f, 12);
    const uint32_t typeSize = u32(f, 16);
    r.width = u32(f, 20), r.height = u32(f, 24);
    const uint32_t depth = u32(f, 28), layers = u32(f, 32), faces = u32(f, 36);
    r.levelCount = u32(f, 40), r.scheme = u32(f, 44);
    const uint32_t dfdOffset = u32(f, 48), dfdLength = u32(f, 52), kvdOffset = u32(f, 56), kvdLength = u32(f, 60);
    const uint64_t sgdOffset = u64(f, 64), sgdLength = u64(f, 72);

    const Expected* e = nullptr;
    for (const Expected& x : expectations())
        if (x.vkFormat == r.vkFormat) e = &x;
    if (!e) return fail("vkFormat " + std::to_string(r.vkFormat) + " is none the program writes"), r;
    if (typeSize != e->typeSize) fail("typeSize");
    if (r.width == 0 || r.height == 0 || depth != 0 || layers != 0 || faces != 1) fail("not a plain 2D texture");
    uint32_t full = 0;
    for (uint32_t side = std::max(r.width, r.height); side; side >>= 1) ++full;
    if (r.levelCount == 0 || r.levelCount > full) fail("levelCount");
    if (r.scheme != 0 && r.scheme != 2 && r.scheme != 3) fail("supercompressionScheme");
    if (!r.problems.empty()) return r;

    // The index: the descriptor right after the level index, the key/value
    // data right after the descriptor, no global data for these schemes.
    const uint64_t indexEnd = 80 + 24ull * r.levelCount;
    if (dfdOffset != indexEnd || dfdOffset % 4) fail("dfdByteOffset");
    if (uint64_t{dfdOffset} + dfdLength > f.size() || dfdLength < 28) return fail("dfdByteLength"), r;
    if (kvdLength && (kvdOffset != dfdOffset + dfdLength || kvdOffset % 4 || uint64_t{kvdOffset} + kvdLength > f.size()))
        return fail("kvdByteOffset"), r;
    if (sgdOffset != 0 || sgdLength != 0) fail("global data for a scheme that has none");

    // The data format descriptor: one basic block.
    const uint32_t blockSize = 24 + 16 * static_cast<uint32_t>(e->samples.size());
    if (u32(f, dfdOffset) != dfdLength || dfdLength != 4 + blockSize) return fail("dfdTotalSize"), r;
    const size_t b = size_t{dfdOffset} + 4;
    if (u32(f, b) != 0) fail("vendorId or descriptorType");
    if ((u32(f, b + 4) & 0xFFFF) != 2 || (u32(f, b + 4) >> 16) != blockSize) fail("versionNumber or descriptorBlockSize");
    if (f[b + 8] != e->model) fail("colorModel");
    if (f[b + 9] != 0) fail("colorPrimaries: not unspecified");
    if (f[b + 10] != 1) fail("transferFunction: not linear");
    if (f[b + 11] != 0) fail("flags");
    if (f[b + 12] != e->blockWidth - 1 || f[b + 13] != e->blockHeight - 1 || f[b + 14] || f[b + 15])
        fail("texelBlockDimension");
    if (f[b + 16] != e->blockBytes || u32(f, b + 17) != 0 || f[b + 21] || f[b + 22] || f[b + 23]) fail("bytesPlane");
    for (size_t i = 0; i < e->samples.size(); ++i) {
        const size_t s = b + 24 + 16 * i;
        const auto& x = e->samples[i];
        const uint32_t word = u32(f, s);
        if ((word & 0xFFFF) != x[1] || ((word >> 16) & 0xFF) != x[2] - 1 || (word >> 24) != x[0])
            fail("sample " + std::to_string(i) + ": channel or bits");
        if (u32(f, s + 4) != 0 || u32(f, s + 8) != 0 || u32(f, s + 12) != x[3])
            fail("sample " + std::to_string(i) + ": position, lower or upper");
    }

    // The key/value data: sorted keys, each key and value NUL-terminated,
    // each entry padded with zeros to 4 bytes.
    std::string previous;
    for (size_t at = kvdOffset, end = size_t{kvdOffset} + kvdLength; at < end;) {
        if (at + 4 > end) return fail("key/value entry cut short"), r;
        const uint32_t length = u32(f, at);
        if (length < 2 || at + 4 + length > end) return fail("keyAndValueByteLength"), r;
        const auto* entry = reinterpret_cast<const char*>(f.data() + at + 4);
        const size_t keyLength = strnlen(entry, length);
        if (keyLength == 0 || keyLength == length) return fail("key not NUL-terminated"), r;
        if (entry[length - 1] != '\0') fail("value not NUL-terminated");
        const std::string key(entry, keyLength);
        if (!previous.empty() && key <= previous) fail("keys out of order: " + key);
        previous = key;
        r.keyValues[key] = std::string(entry + keyLength + 1, std::strlen(entry + keyLength + 1));
        const size_t padded = (4 + size_t{length} + 3) / 4 * 4;
        for (size_t p = at + 4 + length; p < at + padded; ++p)
            if (p >= end || f[p] != 0) return fail("valuePadding"), r;
        at += padded;
    }

    // The levels: smallest first, each at the next aligned offset, the last
    // (level 0) ending the file.
    const uint64_t alignment = r.scheme == 0 ? std::lcm(uint64_t{e->blockBytes}, uint64_t{4}) : 1;
    uint64_t position = kvdLength ? uint64_t{kvdOffset} + kvdLength : uint64_t{dfdOffset} + dfdLength;
    r.levels.resize(r.levelCount);
    for (uint32_t i = r.levelCount; i-- > 0;) {
        const size_t entry = 80 + size_t{24} * i;
        const uint64_t offset = u64(f, entry), length = u64(f, entry + 8), unpacked = u64(f, entry + 16);
        const uint64_t w = std::max(1u, r.width >> i), h = std::max(1u, r.height >> i);
        const uint64_t expected =
            (w + e->blockWidth - 1) / e->blockWidth * ((h + e->blockHeight - 1) / e->blockHeight) * e->blockBytes;
        const uint64_t next = (position + alignment - 1) / alignment * alignment;
        if (offset != next) fail("level " + std::to_string(i) + " not at the next aligned offset");
        for (uint64_t p = position; p < next && p < f.size(); ++p)
            if (f[static_cast<size_t>(p)] != 0) fail("level padding not zero");
        if (unpacked != expected) fail("uncompressedByteLength of level " + std::to_string(i));
        if (r.scheme == 0 && length != expected) fail("byteLength of level " + std::to_string(i));
        if (offset > f.size() || length > f.size() - offset) return fail("level outside the file"), r;
        const std::span<const uint8_t> stored = f.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
        r.levels[i].resize(static_cast<size_t>(expected));
        if (r.scheme == 0)
            std::memcpy(r.levels[i].data(), stored.data(), stored.size());
        else if (!unpack(r.scheme, stored, r.levels[i]))
            fail("level " + std::to_string(i) + " does not unpack to its length");
        position = offset + length;
    }
    if (position != f.size()) fail("bytes after level 0");
    return r;
}

}  // namespace ktx2check
