// The KTX 2.0 container (the KTX File Format Specification, version 2.0) as both ends of
// the program use it: the header's layout, and one table row per payload
// that the program writes and reads, with its Vulkan format, the facts of
// its data format descriptor (the Khronos Data Format Specification, basic
// descriptor block) and how the DDS decoding reads it. The writer is
// writers/ktx2_writer.cpp, the reader ktx2_reader.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "encode/texture_encoder.h"
#include "readers/dds_format.h"

namespace ktx2 {

inline constexpr uint8_t identifier[12] = {0xAB, 'K', 'T', 'X', ' ', '2', '0', 0xBB, '\r', '\n', 0x1A, '\n'};
// The identifier, nine 32-bit header fields and the index (4 x 32 + 2 x 64 bits).
inline constexpr uint32_t headerBytes = 80;
// byteOffset, byteLength, uncompressedByteLength: 64 bits each.
inline constexpr uint32_t levelEntryBytes = 24;

enum Scheme : uint32_t { none = 0, basisLz = 1, zstd = 2, zlib = 3 };

// Colour models of the Khronos Data Format Specification.
enum Model : uint8_t {
    rgbsda = 1, bc1a = 128, bc2 = 129, bc3 = 130, bc4 = 131, bc5 = 132, bc6h = 133, bc7 = 134,
    etc1 = 160, etc2 = 161, astc = 162, etc1s = 163, pvrtc = 164, pvrtc2 = 165, uastc = 166,
};
inline constexpr uint8_t transferLinear = 1;
// The basic descriptor block's header (24 bytes) and each sample (16).
inline constexpr uint32_t basicBlockBytes = 24, sampleBytes = 16;

struct Sample {
    uint8_t channel;     // the channel id of the colour model
    uint16_t bitOffset;  // within the texel block
    uint8_t bitLength;   // bits (the descriptor stores one less)
    uint32_t upper;      // sampleUpper; sampleLower is 0
};

struct Payload {
    const char* name;  // as --ktx names it
    TextureFormat texture;
    uint32_t vkFormat;
    const char* vkName;  // VK_FORMAT_..., as a refusal names a neighbour
    uint8_t model;
    uint8_t blockWidth, blockHeight;
    uint32_t typeSize;  // 1 for bytes and blocks, 2 for 16-bit samples
    uint8_t sampleCount;
    Sample samples[4];
    dds::Format read;  // how the DDS decoding reads a level
};

// ASTC levels are decoded by the ASTC library (astcBlockOf gives the block
// size): of their `read`, only the 16 bytes a block count.
inline constexpr dds::Format astcRead{dds::Source::bc7, false, false, 8, 16};

// Every payload the program writes and reads; bytes a texel block is the
// read format's unitBytes.
inline constexpr Payload payloads[] = {
    {"bc5", TextureFormat::bc5, 141, "BC5_UNORM_BLOCK", bc5, 4, 4, 1, 2,
     {{0, 0, 64, 0xFFFFFFFFu}, {1, 64, 64, 0xFFFFFFFFu}}, {dds::Source::bc5, false, false, 8, 16}},
    {"bc1", TextureFormat::bc1, 131, "BC1_RGB_UNORM_BLOCK", bc1a, 4, 4, 1, 1,
     {{0, 0, 64, 0xFFFFFFFFu}}, {dds::Source::bc1, false, false, 8, 8}},
    {"bc3", TextureFormat::bc3, 137, "BC3_UNORM_BLOCK", bc3, 4, 4, 1, 2,
     {{15, 0, 64, 0xFFFFFFFFu}, {0, 64, 64, 0xFFFFFFFFu}}, {dds::Source::bc3, false, true, 8, 16}},
    {"bc4", TextureFormat::bc4, 139, "BC4_UNORM_BLOCK", bc4, 4, 4, 1, 1,
     {{0, 0, 64, 0xFFFFFFFFu}}, {dds::Source::bc4, false, false, 8, 8}},
    {"rg8", TextureFormat::rg8, 16, "R8G8_UNORM", rgbsda, 1, 1, 1, 2,
     {{0, 0, 8, 255}, {1, 8, 8, 255}}, {dds::Source::rg8, false, false, 8, 2}},
    {"rgba8", TextureFormat::rgba8, 37, "R8G8B8A8_UNORM", rgbsda, 1, 1, 1, 4,
     {{0, 0, 8, 255}, {1, 8, 8, 255}, {2, 16, 8, 255}, {15, 24, 8, 255}}, {dds::Source::rgba8, false, true, 8, 4}},
    {"rg16", TextureFormat::rg16, 77, "R16G16_UNORM", rgbsda, 1, 1, 2, 2,
     {{0, 0, 16, 65535}, {1, 16, 16, 65535}}, {dds::Source::rg16, false, false, 16, 4}},
    {"rgba16", TextureFormat::rgba16, 91, "R16G16B16A16_UNORM", rgbsda, 1, 1, 2, 4,
     {{0, 0, 16, 65535}, {1, 16, 16, 65535}, {2, 32, 16, 65535}, {15, 48, 16, 65535}},
     {dds::Source::rgba16, false, true, 16, 8}},
    {"bc7", TextureFormat::bc7, 145, "BC7_UNORM_BLOCK", bc7, 4, 4, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, {dds::Source::bc7, false, true, 8, 16}},
    {"astc4x4", TextureFormat::astc4x4, 157, "ASTC_4x4_UNORM_BLOCK", astc, 4, 4, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc5x4", TextureFormat::astc5x4, 159, "ASTC_5x4_UNORM_BLOCK", astc, 5, 4, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc5x5", TextureFormat::astc5x5, 161, "ASTC_5x5_UNORM_BLOCK", astc, 5, 5, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc6x5", TextureFormat::astc6x5, 163, "ASTC_6x5_UNORM_BLOCK", astc, 6, 5, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc6x6", TextureFormat::astc6x6, 165, "ASTC_6x6_UNORM_BLOCK", astc, 6, 6, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc8x5", TextureFormat::astc8x5, 167, "ASTC_8x5_UNORM_BLOCK", astc, 8, 5, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc8x6", TextureFormat::astc8x6, 169, "ASTC_8x6_UNORM_BLOCK", astc, 8, 6, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
    {"astc8x8", TextureFormat::astc8x8, 171, "ASTC_8x8_UNORM_BLOCK", astc, 8, 8, 1, 1,
     {{0, 0, 128, 0xFFFFFFFFu}}, astcRead},
};

// The row --ktx `name` names, the row of a texture format, of a Vulkan format; null when none.
const Payload* payloadNamed(const char* name);
const Payload* payloadOf(TextureFormat texture);
const Payload* payloadOfVkFormat(uint32_t vkFormat);

// The names of the payloads, as "bc5, bc1, ..." for messages and --help.
const char* payloadNames();

// The data format descriptor of `payload` as the file holds it: dfdTotalSize
// and one basic descriptor block (linear transfer, unspecified primaries,
// straight alpha), bytesPlane0 the bytes of a texel block.
std::vector<uint8_t> descriptorOf(const Payload& payload);

// Levels are aligned to the least common multiple of a texel block's
// bytes and 4 when they are not supercompressed, else to 1 byte.
uint32_t levelAlignment(const Payload& payload, uint32_t scheme);

// The name of a Vulkan format that the reader refuses, as in
// "BC7_UNORM_BLOCK" or "ASTC_6x6_UNORM_BLOCK", or null when it has none.
const char* refusedVkName(uint32_t vkFormat, char* buffer, size_t size);

inline uint32_t le32(const uint8_t* p) { return dds::le32(p); }
inline uint64_t le64(const uint8_t* p) { return le32(p) | (uint64_t{le32(p + 4)} << 32); }

}  // namespace ktx2
