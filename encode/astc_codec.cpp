#include "encode/astc_codec.h"

#include <atomic>
#include <cstring>

#include "encode/block_decode.h"
#include "image/bands.h"
#include "platform/basics.h"

namespace {

constexpr AstcBlock formatBlocks[] = {{4, 4}, {5, 4},  {5, 5},  {6, 5},  {6, 6},   {8, 5},   {8, 6},
                                      {8, 8}, {10, 5}, {10, 6}, {10, 8}, {10, 10}, {12, 10}, {12, 12}};

// The efforts of the library's command line presets (-fastest ... -thorough).
float effortOf(AstcQuality quality) {
    switch (quality) {
        case AstcQuality::fastest: return 0.0f;
        case AstcQuality::fast: return 10.0f;
        case AstcQuality::medium: return 60.0f;
        case AstcQuality::thorough: return 98.0f;
    }
    return 60.0f;
}

uint32_t get24(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16); }

void put24(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool astcBlockAllowed(uint32_t x, uint32_t y) {
    for (const AstcBlock& b : formatBlocks)
        if (b.x == x && b.y == y) return true;
    return false;
}

uint64_t astcLevelBytes(AstcBlock block, uint32_t width, uint32_t height) {
    if (!block.x || !block.y) return 0;
    return uint64_t{(width + block.x - 1) / block.x} * ((height + block.y - 1) / block.y) * astcBlockBytes;
}

bool putAstcFileHeader(const AstcFileHeader& header, uint8_t (&bytes)[astcFileHeaderBytes]) {
    if (!astcBlockAllowed(header.block.x, header.block.y) || header.width == 0 || header.height == 0 ||
        header.width > astcFileMaxSide || header.height > astcFileMaxSide)
        return false;
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(astcFileMagic >> (8 * i));
    bytes[4] = static_cast<uint8_t>(header.block.x);
    bytes[5] = static_cast<uint8_t>(header.block.y);
    bytes[6] = 1;  // block z: a 2D block
    put24(bytes + 7, header.width);
    put24(bytes + 10, header.height);
    put24(bytes + 13, 1);  // depth
    return true;
}

bool readAstcFileHeader(std::span<const uint8_t> file, AstcFileHeader& header, const char*& why) {
    ByteReader reader = readerOver(file);
    uint8_t bytes[astcFileHeaderBytes];
    if (!readBlock(&reader, astcFileHeaderBytes, bytes)) {
        why = "the file ends inside its 16-byte header";
        return false;
    }
    if (bytes[0] != (astcFileMagic & 0xFF) || bytes[1] != ((astcFileMagic >> 8) & 0xFF) ||
        bytes[2] != ((astcFileMagic >> 16) & 0xFF) || bytes[3] != (astcFileMagic >> 24)) {
        why = "it does not start with the .astc magic 0x5CA1AB13";
        return false;
    }
    if (bytes[6] != 1 || !astcBlockAllowed(bytes[4], bytes[5])) {
        why = "its block size is none of the format's 2D sizes (4x4 to 12x12)";
        return false;
    }
    const uint32_t width = get24(bytes + 7), height = get24(bytes + 10), depth = get24(bytes + 13);
    if (depth != 1) {
        why = "it holds a 3D picture (depth other than 1)";
        return false;
    }
    if (!imageSizeAllowed(width, height)) {
        why = "its picture size is zero or beyond the size limits";
        return false;
    }
    header = {{bytes[4], bytes[5]}, width, height};
    const uint64_t blocks = astcLevelBytes(header.block, width, height);
    if (bytesLeft(&reader) < blocks) {
        why = "the file ends before its blocks";
        return false;
    }
    if (bytesLeft(&reader) > blocks) {
        why = "the file holds more bytes than its blocks";
        return false;
    }
    return true;
}

bool decodeAstcLevel(std::span<const uint8_t> blocks, AstcBlock block, uint32_t width, uint32_t height,
                     uint8_t* rgba) {
    if (!astcBlockAllowed(block.x, block.y) || blocks.size() != astcLevelBytes(block, width, height)) return false;
    return platformDecodeAstc(blocks, block.x, block.y, width, height, rgba);
}

void astcNormalsToRgb(const uint8_t* rgba, size_t count, uint8_t* rgb) {
    for (size_t i = 0; i < count; ++i, rgba += 4, rgb += 3) {
        const uint8_t x = rgba[0], y = rgba[3];
        rgb[0] = x;
        rgb[1] = y;
        rgb[2] = rebuiltZ8(x, y);
    }
}

AstcLevelEncoder::AstcLevelEncoder(AstcBlock block, AstcQuality quality, uint64_t largestPixels) : block_(block) {
    if (!astcBlockAllowed(block.x, block.y)) return;
    // The library spreads the blocks among the threads itself; a thread is
    // worth starting from a few hundred blocks on.
    const uint64_t blocks = largestPixels / (uint64_t{block.x} * block.y) + 1;
    threads_ = bandWorkers(blocks, 1, 256);
    AstcEncoderSettings settings;
    settings.blockX = block.x;
    settings.blockY = block.y;
    settings.effort = effortOf(quality);
    settings.threads = threads_;
    settings.normalMap = true;
    encoder_ = platformOpenAstcEncoder(settings);
}

AstcLevelEncoder::~AstcLevelEncoder() { platformCloseAstcEncoder(encoder_); }

bool AstcLevelEncoder::encode(const AstcPicture& picture, uint8_t* out, size_t outSize) {
    if (!encoder_ || outSize != astcLevelBytes(block_, picture.width, picture.height)) return false;
    std::atomic<bool> ok = true;
    // One band a thread: each calls the library once with its own index.
    runInNumberedBands(threads_, threads_, [&](unsigned thread, uint32_t, uint32_t) {
        if (!platformAstcEncode(encoder_, picture, out, outSize, thread)) ok = false;
    });
    return platformAstcEncoderReset(encoder_) && ok;
}
