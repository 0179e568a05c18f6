// KTX 2.0 files (the KTX File Format Specification, version 2.0): the top level of the
// first layer and face, in the payloads of ktx2_format.h, stored as they are
// or supercompressed with zstd (scheme 2) or zlib (scheme 3). Levels are
// decoded by the DDS decoding (dds_format.h), so what each payload becomes
// is what the DDS reader makes of the same format: BC5 and the two-channel
// formats with Z rebuilt in blue, BC4 grey, RGBA and BC7 with their alpha,
// 16-bit samples kept. ASTC levels become what the .astc reader makes of
// them (X and Y of the library's normal-map layout, Z rebuilt).
//
// The whole header, the level index and the data format descriptor are
// checked before anything is allocated: every offset and length against the
// file, the levels in the order the format gives (the smallest
// first in the file, none overlapping another or the metadata), each level's
// length against its size, and the descriptor against the Vulkan format.
// Basis Universal payloads (BasisLZ, or the ETC1S and UASTC colour models),
// and formats outside the table are refused by name; so is ASTC where the
// build has no ASTC library.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "encode/astc_codec.h"
#include "encode/mip_chain.h"
#include "platform/supercompression.h"
#include "readers/ktx2_format.h"
#include "readers/readers.h"

namespace {

using namespace ktx2;

// Arrays and cube maps are read for their first image only; a count this
// large is a damaged file, not a texture.
constexpr uint64_t maxImagesPerLevel = 1024;
// A supercompressed top level is unpacked whole, to hold it to its stated
// length, though only its first image is kept: beyond a cube map's six
// images, at most this many bytes, which bounds the time a small file can
// ask for.
constexpr uint64_t maxUnpackedBeyondCube = uint64_t{1} << 30;

struct Header {
    uint32_t vkFormat, typeSize, width, height, depth, layers, faces, levelCount, scheme;
    uint32_t dfdOffset, dfdLength, kvdOffset, kvdLength;
    uint64_t sgdOffset, sgdLength;
};

Header parseHeader(const uint8_t* p) {
    return {le32(p + 12), le32(p + 16), le32(p + 20), le32(p + 24), le32(p + 28), le32(p + 32), le32(p + 36),
            le32(p + 40), le32(p + 44), le32(p + 48), le32(p + 52), le32(p + 56), le32(p + 60),
            le64(p + 64), le64(p + 72)};
}

struct Level {
    uint64_t offset, length, unpackedLength;
};

// Whether [offset, offset + length) lies in a file of `size` bytes.
bool inFile(uint64_t offset, uint64_t length, uint64_t size) { return length <= size && offset <= size - length; }

enum class Verdict { readable, refused, damaged };

struct Reading {
    Verdict verdict = Verdict::damaged;
    Header header{};
    const Payload* payload = nullptr;
    Level top{};
    char kind[nameBufferSize] = {};
};

Verdict refuse(Reading& r, const char* kind) {
    std::snprintf(r.kind, sizeof r.kind, "%s", kind);
    return r.verdict = Verdict::refused;
}

// The basic descriptor block's colour model, or -1 when the descriptor is
// not in the file.
int colourModel(std::span<const uint8_t> file, const Header& h) {
    if (h.dfdLength < 4 + basicBlockBytes || !inFile(h.dfdOffset, h.dfdLength, file.size())) return -1;
    return file[h.dfdOffset + 4 + 8];
}

// Whether the descriptor describes `payload`: the colour model, the texel
// block, its bytes (or 0, which writers of supercompressed files once
// wrote) and each sample's channel and bits. Transfer, primaries and alpha
// flags are not looked at: the data is read as stored.
bool descriptorFits(std::span<const uint8_t> file, const Header& h, const Payload& payload) {
    const uint32_t blockSize = basicBlockBytes + sampleBytes * payload.sampleCount;
    if (h.dfdOffset % 4 != 0 || h.dfdLength < 4 + blockSize || !inFile(h.dfdOffset, h.dfdLength, file.size()))
        return false;
    const uint8_t* d = file.data() + h.dfdOffset;
    if (le32(d) != h.dfdLength) return false;  // dfdTotalSize
    const uint8_t* block = d + 4;
    if ((le32(block) & 0x7FFFFFFFu) != 0) return false;  // Khronos, basic block (the top bit is vendor id's)
    if (le32(block + 4) >> 16 != blockSize) return false;
    if (block[8] != payload.model) return false;
    if (block[12] != payload.blockWidth - 1 || block[13] != payload.blockHeight - 1 || block[14] > 0 ||
        block[15] > 0)
        return false;
    const uint32_t bytesPlane0 = block[16];
    if (bytesPlane0 != payload.read.unitBytes && !(bytesPlane0 == 0 && h.scheme != none)) return false;
    for (uint8_t i = 0; i < payload.sampleCount; ++i) {
        const uint8_t* sample = block + basicBlockBytes + sampleBytes * i;
        const Sample& s = payload.samples[i];
        const uint32_t word = le32(sample);
        if ((word & 0xFFFF) != s.bitOffset || ((word >> 16) & 0xFF) != uint32_t(s.bitLength - 1) ||
            ((word >> 24) & 0x0F) != s.channel || (word >> 30) != 0)  // no signed or float samples
            return false;
    }
    return true;
}

// What `file` holds and where its top level is; every offset and length
// is checked here.
Reading examine(std::span<const uint8_t> file) {
    Reading r;
    if (file.size() < headerBytes || std::memcmp(file.data(), identifier, sizeof identifier) != 0) return r;
    const Header h = r.header = parseHeader(file.data());
    const uint64_t size = file.size();

    // What the file is, and whether it is read at all.
    char name[64];
    if (h.scheme == basisLz) return refuse(r, "Basis Universal (BasisLZ supercompression)"), r;
    if (h.scheme > zlib) {
        std::snprintf(name, sizeof name, "supercompression scheme %u", h.scheme);
        return refuse(r, name), r;
    }
    if (h.scheme == zstd && !platformHasPacking(Packing::zstd))
        return refuse(r, "zstd-supercompressed levels (this build has no zstd library)"), r;
    const int model = colourModel(file, h);
    if (model == etc1s || model == uastc)
        return refuse(r, model == uastc ? "Basis Universal UASTC" : "Basis Universal ETC1S"), r;
    r.payload = payloadOfVkFormat(h.vkFormat);
    if (!r.payload) {
        char buffer[48];
        char text[96];
        const char* vkName = refusedVkName(h.vkFormat, buffer, sizeof buffer);
        if (vkName)
            std::snprintf(text, sizeof text, "%s (VkFormat %u)", vkName, h.vkFormat);
        else
            std::snprintf(text, sizeof text, "VkFormat %u", h.vkFormat);
        return refuse(r, text), r;
    }
    const Payload& payload = *r.payload;
    if (h.depth > 0) return refuse(r, "a 3D texture"), r;
    if (payload.model == astc && !platformHasAstc()) {
        std::snprintf(name, sizeof name, "%s (this build has no ASTC decoder)", payload.vkName);
        return refuse(r, name), r;
    }

    // The geometry.
    if (h.typeSize != payload.typeSize || (h.faces != 1 && h.faces != 6) || !imageSizeAllowed(h.width, h.height))
        return r;
    const uint64_t images = uint64_t{h.layers ? h.layers : 1} * h.faces;
    if (images > maxImagesPerLevel) return r;
    uint32_t longest = h.width > h.height ? h.width : h.height, possible = 0;
    for (; longest; longest >>= 1) ++possible;
    const uint32_t levelCount = h.levelCount ? h.levelCount : 1;
    if (levelCount > possible) return r;

    // The index and the metadata after it.
    const uint64_t indexEnd = headerBytes + uint64_t{levelEntryBytes} * levelCount;
    if (indexEnd > size || h.dfdOffset < indexEnd || !descriptorFits(file, h, payload)) return r;
    uint64_t metadataEnd = uint64_t{h.dfdOffset} + h.dfdLength;
    if (h.kvdLength) {
        if (h.kvdOffset % 4 != 0 || h.kvdOffset < metadataEnd || !inFile(h.kvdOffset, h.kvdLength, size)) return r;
        metadataEnd = uint64_t{h.kvdOffset} + h.kvdLength;
    }
    if (h.sgdLength) {
        if (h.sgdOffset < metadataEnd || !inFile(h.sgdOffset, h.sgdLength, size)) return r;
        metadataEnd = h.sgdOffset + h.sgdLength;
    }

    // The levels: the smallest first in the file, each after the metadata
    // and before the next larger one, each of the length its size makes.
    const uint32_t alignment = levelAlignment(payload, h.scheme);
    uint64_t nextStart = size;  // where the level above the current one starts
    for (uint32_t i = 0; i < levelCount; ++i) {
        const uint8_t* entry = file.data() + headerBytes + uint64_t{levelEntryBytes} * i;
        const Level level{le64(entry), le64(entry + 8), le64(entry + 16)};
        const uint64_t expected =
            textureLevelBytes(payload.texture, mipSide(h.width, i), mipSide(h.height, i)) * images;
        if (!inFile(level.offset, level.length, size) || level.offset < metadataEnd || level.length == 0 ||
            level.unpackedLength != expected || (h.scheme == none && level.length != expected) ||
            level.offset % alignment != 0)
            return r;
        if (i > 0 && level.offset + level.length > nextStart) return r;
        nextStart = level.offset;
        if (i == 0) r.top = level;
    }
    const uint64_t image = textureLevelBytes(payload.texture, h.width, h.height);
    if (h.scheme != none && r.top.unpackedLength > 6 * image && r.top.unpackedLength > maxUnpackedBeyondCube)
        return r;
    r.verdict = Verdict::readable;
    return r;
}

bool decodeTop(std::span<const uint8_t> file, const Reading& r, Image* image) {
    const Header& h = r.header;
    const Payload& payload = *r.payload;
    const uint64_t levelBytes = textureLevelBytes(payload.texture, h.width, h.height);
    // The level lies within the file; only a packed one can be larger than
    // memory can hold (in a 32-bit program).
    if (levelBytes > SIZE_MAX) return false;
    const size_t bytes = static_cast<size_t>(levelBytes);
    const std::span<const uint8_t> stored =
        file.subspan(static_cast<size_t>(r.top.offset), static_cast<size_t>(r.top.length));
    const auto decode = [&](std::span<const uint8_t> level) {
        if (AstcBlock block; astcBlockOf(payload.texture, block))
            return decodeAstcNormals(level.first(bytes), block, h.width, h.height, image);
        return dds::decodeTextureLevel(payload.read, level, h.width, h.height, image);
    };
    if (h.scheme == none) return decode(stored);
    std::vector<uint8_t> level;
    try {
        level.resize(bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const Packing packing = h.scheme == zstd ? Packing::zstd : Packing::zlib;
    return platformUnpack(packing, stored, r.top.unpackedLength, level) && decode(level);
}

}  // namespace

bool ktx2RefusedKind(std::span<const uint8_t> file, char* text, size_t size) {
    const Reading r = examine(file);
    if (r.verdict != Verdict::refused) return false;
    std::snprintf(text, size, "%s", r.kind);
    return true;
}

bool ktx2PayloadName(std::span<const uint8_t> file, char* text, size_t size) {
    if (!text || size == 0 || file.size() < headerBytes || std::memcmp(file.data(), identifier, sizeof identifier) != 0)
        return false;
    const uint32_t vkFormat = le32(file.data() + 12);
    char buffer[48];
    const Payload* payload = payloadOfVkFormat(vkFormat);
    const char* name = payload ? payload->vkName : refusedVkName(vkFormat, buffer, sizeof buffer);
    if (name)
        std::snprintf(text, size, "%s", name);
    else
        std::snprintf(text, size, "VkFormat %u", vkFormat);
    return true;
}

bool readKtx2(std::span<const uint8_t> file, Image* image, LoadFailure& failure) {
    if (!image) return false;
    resetImage(image);
    const Reading r = examine(file);
    if (r.verdict == Verdict::readable && decodeTop(file, r, image)) return true;
    resetImage(image);
    if (r.verdict == Verdict::refused) {
        failure.problem = LoadProblem::refusedKind;
        std::snprintf(failure.text, sizeof failure.text, "%s", r.kind);
    }
    return false;
}
