// KTX 2.0 output (the KTX File Format Specification, version 2.0): a 2D texture with its
// mip chain in one of the payloads of readers/ktx2_format.h, the levels
// encoded by encode/texture_encoder.h exactly as the DDS writer encodes
// them, each level supercompressed on its own with zstd (scheme 2) or zlib
// (scheme 3), or not at all. This file lays out the header, the level
// index, the data format descriptor and the key/value data, and hands the
// whole file to the atomic writer.
#include <cerrno>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "encode/mip_chain.h"
#include "platform/basics.h"
#include "platform/supercompression.h"
#include "readers/ktx2_format.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

using namespace ktx2;

void put32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
void put64(uint8_t* p, uint64_t value) {
    put32(p, static_cast<uint32_t>(value));
    put32(p + 4, static_cast<uint32_t>(value >> 32));
}

size_t alignUp(size_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The key/value data: each entry its length, the key and the value (both
// NUL-terminated), padded to 4 bytes; entries sorted by key.
std::vector<uint8_t> keyValueData() {
    static constexpr const char* entries[][2] = {
        {"KTXorientation", "rd"},  // rows from the top, columns from the left
        {"KTXwriter", "Quorvel " QUORVEL_VERSION},
    };
    std::vector<uint8_t> out;
    for (const auto& entry : entries) {
        const size_t keyLength = std::strlen(entry[0]) + 1, valueLength = std::strlen(entry[1]) + 1;
        uint8_t length[4];
        put32(length, static_cast<uint32_t>(keyLength + valueLength));
        out.insert(out.end(), length, length + 4);
        out.insert(out.end(), entry[0], entry[0] + keyLength);
        out.insert(out.end(), entry[1], entry[1] + valueLength);
        out.resize(alignUp(out.size(), 4), 0);
    }
    return out;
}

struct Ktx2File {
    std::vector<uint8_t> bytes;
};

bool fillKtx2(void* context, const ByteSink& out) {
    const auto& file = *static_cast<const Ktx2File*>(context);
    return out.write(out.context, file.bytes.data(), file.bytes.size());
}

// The supercompression `options` ask for; false when this build lacks it.
bool schemeOf(const SaveOptions& options, TextureFormat format, uint32_t& scheme, int& level) {
    if (options.ktxZlib > 0) {
        scheme = zlib;
        level = options.ktxZlib;
        return true;
    }
    level = options.ktxZstd < 0 ? ktxDefaultZstdLevel(format) : options.ktxZstd;
    scheme = level > 0 ? zstd : none;
    return scheme == none || platformHasPacking(Packing::zstd);
}

// Lays out the whole file from the encoded levels (largest first in
// `levels`), packing each level when a scheme is asked for.
bool layOut(const Payload& payload, uint32_t width, uint32_t height, uint32_t levelCount, uint32_t scheme,
            int level, std::span<const uint8_t> levels, std::vector<uint8_t>& file) {
    const std::vector<uint8_t> descriptor = descriptorOf(payload);
    const std::vector<uint8_t> keyValues = keyValueData();
    // Every size here fits in size_t: the caller holds all the levels.
    const size_t dfdOffset = headerBytes + size_t{levelEntryBytes} * levelCount;
    const size_t kvdOffset = dfdOffset + descriptor.size();
    const uint32_t alignment = levelAlignment(payload, scheme);
    try {
        file.assign(kvdOffset + keyValues.size(), 0);
        std::memcpy(file.data() + dfdOffset, descriptor.data(), descriptor.size());
        std::memcpy(file.data() + kvdOffset, keyValues.data(), keyValues.size());
        // Where each level starts in `levels`.
        std::vector<size_t> starts(levelCount + 1, 0);
        for (uint32_t i = 0; i < levelCount; ++i)
            starts[i + 1] = starts[i] + static_cast<size_t>(
                                            textureLevelBytes(payload.texture, mipSide(width, i), mipSide(height, i)));
        // The smallest level first.
        std::vector<uint8_t> packed;
        for (uint32_t i = levelCount; i-- > 0;) {
            const std::span<const uint8_t> data = levels.subspan(starts[i], starts[i + 1] - starts[i]);
            std::span<const uint8_t> stored = data;
            if (scheme != none) {
                if (!platformPack(scheme == zstd ? Packing::zstd : Packing::zlib, data, level, packed)) return false;
                stored = packed;
            }
            const size_t offset = alignUp(file.size(), alignment);
            file.resize(offset, 0);
            file.insert(file.end(), stored.begin(), stored.end());
            uint8_t* entry = file.data() + headerBytes + size_t{levelEntryBytes} * i;
            put64(entry, offset);
            put64(entry + 8, stored.size());
            put64(entry + 16, data.size());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    uint8_t* h = file.data();
    std::memcpy(h, identifier, sizeof identifier);
    put32(h + 12, payload.vkFormat);
    put32(h + 16, payload.typeSize);
    put32(h + 20, width);
    put32(h + 24, height);
    put32(h + 28, 0);  // pixelDepth: a 2D texture
    put32(h + 32, 0);  // layerCount: not an array
    put32(h + 36, 1);  // faceCount
    put32(h + 40, levelCount);
    put32(h + 44, scheme);
    put32(h + 48, static_cast<uint32_t>(dfdOffset));
    put32(h + 52, static_cast<uint32_t>(descriptor.size()));
    put32(h + 56, static_cast<uint32_t>(kvdOffset));
    put32(h + 60, static_cast<uint32_t>(keyValues.size()));
    put64(h + 64, 0);  // no supercompression global data
    put64(h + 72, 0);
    return true;
}

}  // namespace

int32_t ktxDefaultZstdLevel(TextureFormat format) {
    if (!platformHasPacking(Packing::zstd)) return 0;
    AstcBlock block;
    return textureIsBlocks(format) || astcBlockOf(format, block) ? 18 : 9;
}

bool writeKtx2(const char* path, const Image& image, const SaveOptions& options) {
    errno = 0;
    const Payload* payload = payloadOf(options.ktxFormat);
    if (!path || !*path || !payload || image.width <= 0 || image.height <= 0) return false;
    uint32_t scheme = none;
    int level = 0;
    if (!schemeOf(options, payload->texture, scheme, level)) return false;
    const uint32_t width = static_cast<uint32_t>(image.width), height = static_cast<uint32_t>(image.height);
    TextureOptions texture;
    texture.format = payload->texture;
    texture.maxLevels = options.mips;
    texture.keepLength = options.mipKeepLength != 0;
    texture.keepAlpha = textureKeepsAlpha(texture.format) && options.keepAlpha != 0;
    texture.bc7Quality = options.bc7Fast ? Bc7Quality::fast : Bc7Quality::normal;
    texture.astcQuality = options.astcQuality;
    const uint32_t levelCount = mipLevelCount(width, height, texture.maxLevels);
    const uint64_t dataSize = textureBytes(texture.format, width, height, levelCount);
    if (dataSize > SIZE_MAX) return false;
    std::vector<uint8_t> levels;
    Ktx2File file;
    try {
        levels.resize(static_cast<size_t>(dataSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!encodeTexture(image, texture, levels.data(), dataSize)) return false;
    if (!layOut(*payload, width, height, levelCount, scheme, level, levels, file.bytes)) return false;
    // A file the program's own readers would refuse is not written.
    if (file.bytes.size() > maxFileBytes) return false;
    levels = {};
    return writeFileAtomically(path, fillKtx2, &file);
}
