#include "readers/ktx2_format.h"

#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

namespace ktx2 {

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Vulkan's block-compressed formats from BC1 to BC7 (131 to 146), for the
// message that refuses one.
constexpr const char* bcNames[] = {
    "BC1_RGB_UNORM_BLOCK", "BC1_RGB_SRGB_BLOCK", "BC1_RGBA_UNORM_BLOCK", "BC1_RGBA_SRGB_BLOCK", "BC2_UNORM_BLOCK",
    "BC2_SRGB_BLOCK",      "BC3_UNORM_BLOCK",    "BC3_SRGB_BLOCK",       "BC4_UNORM_BLOCK",     "BC4_SNORM_BLOCK",
    "BC5_UNORM_BLOCK",     "BC5_SNORM_BLOCK",    "BC6H_UFLOAT_BLOCK",    "BC6H_SFLOAT_BLOCK",   "BC7_UNORM_BLOCK",
    "BC7_SRGB_BLOCK",
};
// The ASTC block sizes in Vulkan's order (157 to 184, UNORM then SRGB).
constexpr const char* astcSizes[] = {"4x4", "5x4", "5x5", "6x5",  "6x6",  "8x5",   "8x6",
                                     "8x8", "10x5", "10x6", "10x8", "10x10", "12x10", "12x12"};

}  // namespace

const Payload* payloadNamed(const char* name) {
    for (const Payload& p : payloads)
        if (name && std::strcmp(p.name, name) == 0) return &p;
    return nullptr;
}

const Payload* payloadOf(TextureFormat texture) {
    for (const Payload& p : payloads)
        if (p.texture == texture) return &p;
    return nullptr;
}

const Payload* payloadOfVkFormat(uint32_t vkFormat) {
    for (const Payload& p : payloads)
        if (p.vkFormat == vkFormat) return &p;
    return nullptr;
}

const char* payloadNames() {
    static const std::string names = [] {
        std::string text;
        for (const Payload& p : payloads) text += (text.empty() ? "" : ", ") + std::string(p.name);
        return text;
    }();
    return names.c_str();
}

std::vector<uint8_t> descriptorOf(const Payload& payload) {
    const uint32_t blockSize = basicBlockBytes + sampleBytes * payload.sampleCount;
    std::vector<uint8_t> out;
    put32(out, 4 + blockSize);                      // dfdTotalSize
    put32(out, 0);                                  // vendorId 0 (Khronos), descriptorType 0 (basic)
    put32(out, 2 | (blockSize << 16));              // versionNumber 2, descriptorBlockSize
    put32(out, payload.model | (uint32_t{transferLinear} << 16));  // primaries unspecified, straight alpha
    put32(out, uint32_t(payload.blockWidth - 1) | (uint32_t(payload.blockHeight - 1) << 8));
    put32(out, payload.read.unitBytes);  // bytesPlane0; planes 1 to 7 none
    put32(out, 0);
    for (uint8_t i = 0; i < payload.sampleCount; ++i) {
        const Sample& s = payload.samples[i];
        // Unsigned, not linear-only, not exponent, not float: no qualifiers.
        put32(out, s.bitOffset | (uint32_t(s.bitLength - 1) << 16) | (uint32_t{s.channel} << 24));
        put32(out, 0);  // sample position 0, 0, 0, 0
        put32(out, 0);  // sampleLower
        put32(out, s.upper);
    }
    return out;
}

uint32_t levelAlignment(const Payload& payload, uint32_t scheme) {
    return scheme == none ? std::lcm(payload.read.unitBytes, 4u) : 1;
}

const char* refusedVkName(uint32_t vkFormat, char* buffer, size_t size) {
    if (vkFormat >= 131 && vkFormat <= 146) return bcNames[vkFormat - 131];
    if (vkFormat >= 157 && vkFormat <= 184) {
        const uint32_t i = vkFormat - 157;
        std::snprintf(buffer, size, "ASTC_%s_%s_BLOCK", astcSizes[i / 2], i % 2 ? "SRGB" : "UNORM");
        return buffer;
    }
    // VK_EXT_texture_compression_astc_hdr: the float ASTC formats.
    if (vkFormat >= 1000066000 && vkFormat <= 1000066013) {
        std::snprintf(buffer, size, "ASTC_%s_SFLOAT_BLOCK", astcSizes[vkFormat - 1000066000]);
        return buffer;
    }
    return nullptr;
}

}  // namespace ktx2
