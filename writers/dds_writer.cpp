// DirectDraw Surface output (the DDS format documentation): a 2D texture
// with its mip chain, BC5, BC1, BC3 or 32-bit blue-green-red-alpha, behind
// the legacy header that every reader takes (FourCC ATI2, DXT1, DXT5, or
// the bit masks) or the DX10 header (DXGI format). The pixels are encoded
// by encode/texture_encoder.h; this file lays out the headers and hands the
// whole file to the system in two writes.
#include <cerrno>
#include <cstring>
#include <new>

#include "encode/mip_chain.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

// DDS_HEADER flags.
constexpr uint32_t ddsdCaps = 0x1, ddsdHeight = 0x2, ddsdWidth = 0x4, ddsdPitch = 0x8, ddsdPixelFormat = 0x1000,
                   ddsdMipMapCount = 0x20000, ddsdLinearSize = 0x80000;
// DDS_PIXELFORMAT flags.
constexpr uint32_t ddpfAlphaPixels = 0x1, ddpfFourCc = 0x4, ddpfRgb = 0x40;
// Caps.
constexpr uint32_t ddscapsComplex = 0x8, ddscapsTexture = 0x1000, ddscapsMipMap = 0x400000;
// DX10 extension.
constexpr uint32_t resourceDimensionTexture2d = 3;

constexpr uint32_t fourCc(const char (&code)[5]) {
    return uint32_t{static_cast<uint8_t>(code[0])} | (uint32_t{static_cast<uint8_t>(code[1])} << 8) |
           (uint32_t{static_cast<uint8_t>(code[2])} << 16) | (uint32_t{static_cast<uint8_t>(code[3])} << 24);
}

// The magic, the 124-byte header and the 20-byte DX10 extension.
constexpr size_t legacyHeaderBytes = 128, dx10HeaderBytes = 148;

struct FormatCodes {
    uint32_t legacyFourCc;  // 0: uncompressed, described by bit masks
    uint32_t dxgiFormat;
};

FormatCodes codesOf(TextureFormat format) {
    switch (format) {
        case TextureFormat::bc5: return {fourCc("ATI2"), 83};  // DXGI_FORMAT_BC5_UNORM
        case TextureFormat::bc1: return {fourCc("DXT1"), 71};  // DXGI_FORMAT_BC1_UNORM
        case TextureFormat::bc3: return {fourCc("DXT5"), 77};  // DXGI_FORMAT_BC3_UNORM
        default: break;  // bgra8 (ASTC never reaches a DDS file)
    }
    return {0, 87};  // DXGI_FORMAT_B8G8R8A8_UNORM
}

void put32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

struct DdsContent {
    uint8_t header[dx10HeaderBytes] = {};
    size_t headerSize = 0;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
};

bool fillDds(void* context, const ByteSink& out) {
    const auto& c = *static_cast<const DdsContent*>(context);
    return out.write(out.context, c.header, c.headerSize) && out.write(out.context, c.data, c.dataSize);
}

size_t ddsHeader(TextureFormat format, bool dx10, uint32_t width, uint32_t height, uint32_t levels,
                 uint8_t (&header)[dx10HeaderBytes]) {
    std::memset(header, 0, sizeof header);
    const FormatCodes codes = codesOf(format);
    const bool compressed = format != TextureFormat::bgra8;
    std::memcpy(header, "DDS ", 4);
    uint8_t* h = header + 4;
    put32(h + 0, 124);  // dwSize
    put32(h + 4, ddsdCaps | ddsdHeight | ddsdWidth | ddsdPixelFormat | ddsdMipMapCount |
                     (compressed ? ddsdLinearSize : ddsdPitch));
    put32(h + 8, height);
    put32(h + 12, width);
    // Compressed: the bytes of the top level; uncompressed: of one row.
    const uint64_t pitchOrSize = compressed ? textureLevelBytes(format, width, height) : uint64_t{4} * width;
    put32(h + 16, static_cast<uint32_t>(pitchOrSize));
    put32(h + 24, levels);  // dwMipMapCount
    uint8_t* pixelFormat = h + 72;
    put32(pixelFormat + 0, 32);  // dwSize
    if (dx10) {
        put32(pixelFormat + 4, ddpfFourCc);
        put32(pixelFormat + 8, fourCc("DX10"));
    } else if (compressed) {
        put32(pixelFormat + 4, ddpfFourCc);
        put32(pixelFormat + 8, codes.legacyFourCc);
    } else {
        put32(pixelFormat + 4, ddpfRgb | ddpfAlphaPixels);
        put32(pixelFormat + 12, 32);           // dwRGBBitCount
        put32(pixelFormat + 16, 0x00FF0000u);  // red
        put32(pixelFormat + 20, 0x0000FF00u);  // green
        put32(pixelFormat + 24, 0x000000FFu);  // blue
        put32(pixelFormat + 28, 0xFF000000u);  // alpha
    }
    put32(h + 104, ddscapsTexture | (levels > 1 ? ddscapsComplex | ddscapsMipMap : 0));
    if (!dx10) return legacyHeaderBytes;
    uint8_t* extension = header + legacyHeaderBytes;
    put32(extension + 0, codes.dxgiFormat);
    put32(extension + 4, resourceDimensionTexture2d);
    put32(extension + 8, 0);   // misc flag: not a cube map
    put32(extension + 12, 1);  // array size
    put32(extension + 16, 0);  // alpha mode not stated
    return dx10HeaderBytes;
}

}  // namespace

bool writeDds(const char* path, const Image& image, const SaveOptions& options) {
    errno = 0;
    if (!path || !*path || image.width <= 0 || image.height <= 0) return false;
    const uint32_t width = static_cast<uint32_t>(image.width), height = static_cast<uint32_t>(image.height);
    // DDS has no ASTC formats.
    if (AstcBlock block; astcBlockOf(options.ddsFormat, block)) return false;
    TextureOptions texture;
    texture.format = options.ddsFormat;
    texture.maxLevels = options.mips;
    texture.keepLength = options.mipKeepLength != 0;
    const uint32_t levels = mipLevelCount(width, height, texture.maxLevels);
    const uint64_t dataSize = textureBytes(texture.format, width, height, levels);
    // The header holds the top level's size in 32 bits.
    if (textureLevelBytes(texture.format, width, height) > 0xFFFFFFFFu || dataSize > SIZE_MAX) return false;
    uint8_t* data = new (std::nothrow) uint8_t[static_cast<size_t>(dataSize)];
    if (!data) return false;
    DdsContent content;
    content.headerSize = ddsHeader(texture.format, options.ddsDx10 != 0, width, height, levels, content.header);
    content.data = data;
    content.dataSize = static_cast<size_t>(dataSize);
    const bool ok = encodeTexture(image, texture, data, dataSize) && writeFileAtomically(path, fillDds, &content);
    const int reason = errno;
    delete[] data;
    errno = reason;
    return ok;
}
