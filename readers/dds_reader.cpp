// DirectDraw Surface files (the DDS format documentation): the top level of
// the first surface (the first slice of an array, the first face of a cube
// map); further mipmaps, faces and slices are ignored. The pixel format comes
// from the legacy header (a FourCC, or channel masks for uncompressed pixels)
// or, after the FourCC `DX10`, from the DXGI format of the extended header.
//
// What each format becomes:
// - BC1 (DXT1) blocks: 24-bit RGB, no alpha. BC2, BC3 (DXT2 to DXT5) and BC7
//   blocks: 32-bit RGBA. Premultiplied DXT2 and DXT4 are read as stored.
// - BC4: grey. BC5 and the two-channel pixel formats (R8G8, R16G16): X in
//   red, Y in green, Z rebuilt in blue. Signed values v are stored as
//   v + 128 (v + 32768 at 16 bits); in BC4 and BC5 blocks, whose decoding
//   counts an endpoint of -128 as -127, v is the decoded value.
// - R16G16 and R16G16B16A16: 16-bit samples. R10G10B10A2: 16-bit RGBA, each
//   10-bit sample widened by repeating its top bits below it, the 2-bit alpha
//   likewise (0, 21845, 43690, 65535).
// - Uncompressed legacy pixels keep an alpha channel when the masks give one.
// - sRGB formats are read as stored: a normal map is data.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <span>

#include "encode/block_decode.h"
#include "readers/readers.h"

// Block rows are assembled in words whose bytes are stored lowest first.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr uint32_t headerBytes = 128;
constexpr uint32_t extensionBytes = 20;
constexpr uint32_t linearSizeFlag = 0x80000;

constexpr uint32_t fourCc(const char (&code)[5]) {
    return uint32_t{static_cast<uint8_t>(code[0])} | (uint32_t{static_cast<uint8_t>(code[1])} << 8) |
           (uint32_t{static_cast<uint8_t>(code[2])} << 16) | (uint32_t{static_cast<uint8_t>(code[3])} << 24);
}
constexpr uint32_t uncompressed = 0;
constexpr uint32_t dx10 = fourCc("DX10");

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct DdsHeader {
    uint32_t flags;
    uint32_t height;
    uint32_t width;
    uint32_t fourCc;
    uint32_t rgbBitCount;
    uint32_t redMask;
    uint32_t greenMask;
    uint32_t blueMask;
    uint32_t alphaMask;
};

DdsHeader parseHeader(const uint8_t* bytes) {
    return {le32(bytes + 8),  le32(bytes + 12), le32(bytes + 16), le32(bytes + 84), le32(bytes + 88),
            le32(bytes + 92), le32(bytes + 96), le32(bytes + 100), le32(bytes + 104)};
}

// The extended header after the FourCC `DX10`.
struct Dx10Header {
    uint32_t dxgiFormat;
    uint32_t resourceDimension;
    uint32_t miscFlag;
    uint32_t arraySize;
};

Dx10Header parseExtension(const uint8_t* bytes) {
    return {le32(bytes), le32(bytes + 4), le32(bytes + 8), le32(bytes + 12)};
}

// Where the pixels come from, and how they are laid out.
enum class Source {
    bc1, bc2, bc3, bc4, bc5, bc7,   // 4 x 4 blocks
    masks,                          // legacy uncompressed pixels
    rgba8, bgra8, bgrx8, rg8,       // DXGI pixel formats
    rg16, rgba16, rgb10a2,
};

struct Format {
    Source source;
    bool isSigned;
    bool alpha;            // the Image keeps an alpha sample
    int sampleBits;        // of the Image: 8 or 16
    uint32_t unitBytes;    // bytes of a block, or of a pixel
};

constexpr bool isBlockSource(Source s) { return s <= Source::bc7; }

// The DXGI formats that are read. Typeless formats are read as their UNORM
// kin, sRGB ones as stored.
struct DxgiEntry {
    uint32_t dxgi;
    Format format;
};
constexpr DxgiEntry dxgiFormats[] = {
    {70, {Source::bc1, false, false, 8, 8}},   {71, {Source::bc1, false, false, 8, 8}},
    {72, {Source::bc1, false, false, 8, 8}},   {73, {Source::bc2, false, true, 8, 16}},
    {74, {Source::bc2, false, true, 8, 16}},   {75, {Source::bc2, false, true, 8, 16}},
    {76, {Source::bc3, false, true, 8, 16}},   {77, {Source::bc3, false, true, 8, 16}},
    {78, {Source::bc3, false, true, 8, 16}},   {79, {Source::bc4, false, false, 8, 8}},
    {80, {Source::bc4, false, false, 8, 8}},   {81, {Source::bc4, true, false, 8, 8}},
    {82, {Source::bc5, false, false, 8, 16}},  {83, {Source::bc5, false, false, 8, 16}},
    {84, {Source::bc5, true, false, 8, 16}},   {97, {Source::bc7, false, true, 8, 16}},
    {98, {Source::bc7, false, true, 8, 16}},   {99, {Source::bc7, false, true, 8, 16}},
    {27, {Source::rgba8, false, true, 8, 4}},  {28, {Source::rgba8, false, true, 8, 4}},
    {29, {Source::rgba8, false, true, 8, 4}},  {87, {Source::bgra8, false, true, 8, 4}},
    {90, {Source::bgra8, false, true, 8, 4}},  {91, {Source::bgra8, false, true, 8, 4}},
    {88, {Source::bgrx8, false, false, 8, 4}}, {92, {Source::bgrx8, false, false, 8, 4}},
    {93, {Source::bgrx8, false, false, 8, 4}}, {48, {Source::rg8, false, false, 8, 2}},
    {49, {Source::rg8, false, false, 8, 2}},   {51, {Source::rg8, true, false, 8, 2}},
    {33, {Source::rg16, false, false, 16, 4}}, {35, {Source::rg16, false, false, 16, 4}},
    {37, {Source::rg16, true, false, 16, 4}},  {9, {Source::rgba16, false, true, 16, 8}},
    {11, {Source::rgba16, false, true, 16, 8}}, {23, {Source::rgb10a2, false, true, 16, 4}},
    {24, {Source::rgb10a2, false, true, 16, 4}},
};

// The FourCCs of the legacy header. DXT2 and DXT4 hold premultiplied colour;
// they are read as stored, like DXT3 and DXT5.
struct FourCcEntry {
    uint32_t code;
    Format format;
};
constexpr FourCcEntry fourCcFormats[] = {
    {fourCc("DXT1"), {Source::bc1, false, false, 8, 8}},  {fourCc("DXT2"), {Source::bc2, false, true, 8, 16}},
    {fourCc("DXT3"), {Source::bc2, false, true, 8, 16}},  {fourCc("DXT4"), {Source::bc3, false, true, 8, 16}},
    {fourCc("DXT5"), {Source::bc3, false, true, 8, 16}},  {fourCc("ATI1"), {Source::bc4, false, false, 8, 8}},
    {fourCc("BC4U"), {Source::bc4, false, false, 8, 8}},  {fourCc("BC4S"), {Source::bc4, true, false, 8, 8}},
    {fourCc("ATI2"), {Source::bc5, false, false, 8, 16}}, {fourCc("BC5U"), {Source::bc5, false, false, 8, 16}},
    {fourCc("BC5S"), {Source::bc5, true, false, 8, 16}},
};

// Names of every DXGI format up to 132, for the message that refuses one.
constexpr const char* dxgiNames[] = {
    "UNKNOWN", "R32G32B32A32_TYPELESS", "R32G32B32A32_FLOAT", "R32G32B32A32_UINT", "R32G32B32A32_SINT",
    "R32G32B32_TYPELESS", "R32G32B32_FLOAT", "R32G32B32_UINT", "R32G32B32_SINT", "R16G16B16A16_TYPELESS",
    "R16G16B16A16_FLOAT", "R16G16B16A16_UNORM", "R16G16B16A16_UINT", "R16G16B16A16_SNORM", "R16G16B16A16_SINT",
    "R32G32_TYPELESS", "R32G32_FLOAT", "R32G32_UINT", "R32G32_SINT", "R32G8X24_TYPELESS", "D32_FLOAT_S8X24_UINT",
    "R32_FLOAT_X8X24_TYPELESS", "X32_TYPELESS_G8X24_UINT", "R10G10B10A2_TYPELESS", "R10G10B10A2_UNORM",
    "R10G10B10A2_UINT", "R11G11B10_FLOAT", "R8G8B8A8_TYPELESS", "R8G8B8A8_UNORM", "R8G8B8A8_UNORM_SRGB",
    "R8G8B8A8_UINT", "R8G8B8A8_SNORM", "R8G8B8A8_SINT", "R16G16_TYPELESS", "R16G16_FLOAT", "R16G16_UNORM",
    "R16G16_UINT", "R16G16_SNORM", "R16G16_SINT", "R32_TYPELESS", "D32_FLOAT", "R32_FLOAT", "R32_UINT", "R32_SINT",
    "R24G8_TYPELESS", "D24_UNORM_S8_UINT", "R24_UNORM_X8_TYPELESS", "X24_TYPELESS_G8_UINT", "R8G8_TYPELESS",
    "R8G8_UNORM", "R8G8_UINT", "R8G8_SNORM", "R8G8_SINT", "R16_TYPELESS", "R16_FLOAT", "D16_UNORM", "R16_UNORM",
    "R16_UINT", "R16_SNORM", "R16_SINT", "R8_TYPELESS", "R8_UNORM", "R8_UINT", "R8_SNORM", "R8_SINT", "A8_UNORM",
    "R1_UNORM", "R9G9B9E5_SHAREDEXP", "R8G8_B8G8_UNORM", "G8R8_G8B8_UNORM", "BC1_TYPELESS", "BC1_UNORM",
    "BC1_UNORM_SRGB", "BC2_TYPELESS", "BC2_UNORM", "BC2_UNORM_SRGB", "BC3_TYPELESS", "BC3_UNORM",
    "BC3_UNORM_SRGB", "BC4_TYPELESS", "BC4_UNORM", "BC4_SNORM", "BC5_TYPELESS", "BC5_UNORM", "BC5_SNORM",
    "B5G6R5_UNORM", "B5G5R5A1_UNORM", "B8G8R8A8_UNORM", "B8G8R8X8_UNORM", "R10G10B10_XR_BIAS_A2_UNORM",
    "B8G8R8A8_TYPELESS", "B8G8R8A8_UNORM_SRGB", "B8G8R8X8_TYPELESS", "B8G8R8X8_UNORM_SRGB", "BC6H_TYPELESS",
    "BC6H_UF16", "BC6H_SF16", "BC7_TYPELESS", "BC7_UNORM", "BC7_UNORM_SRGB", "AYUV", "Y410", "Y416", "NV12",
    "P010", "P016", "420_OPAQUE", "YUY2", "Y210", "Y216", "NV11", "AI44", "IA44", "P8", "A8P8", "B4G4R4A4_UNORM",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, "P208", "V208", "V408",
};
static_assert(std::size(dxgiNames) == 133);

// Legacy FourCC values that are Direct3D 9 format numbers rather than text.
struct D3dName {
    uint32_t code;
    const char* name;
};
constexpr D3dName d3dFormatNames[] = {
    {36, "A16B16G16R16"},  {110, "Q16W16V16U16"},  {111, "R16F"},  {112, "G16R16F"},
    {113, "A16B16G16R16F"}, {114, "R32F"}, {115, "G32R32F"}, {116, "A32B32G32R32F"},
};

// One colour channel of an uncompressed legacy pixel: where its mask lies,
// and what each of its values becomes as an 8-bit component.
struct Channel {
    uint32_t shift;
    uint32_t valueMask;
    std::array<uint8_t, 256> to8;
};

Channel makeChannel(uint32_t mask) {
    Channel channel{};
    const int bits = std::popcount(mask);
    channel.shift = static_cast<uint32_t>(std::countr_zero(mask));
    channel.valueMask = (1u << bits) - 1;
    for (uint32_t v = 0; v <= channel.valueMask; ++v) {
        switch (bits) {
        case 1: channel.to8[v] = static_cast<uint8_t>(v * 255); break;
        case 4: channel.to8[v] = static_cast<uint8_t>(v * 17); break;
        case 5: channel.to8[v] = static_cast<uint8_t>(v * 255 / 31); break;
        case 6: channel.to8[v] = static_cast<uint8_t>(v * 255 / 63); break;
        default: channel.to8[v] = static_cast<uint8_t>(v); break;
        }
    }
    return channel;
}

struct Layout {
    uint32_t bytesPerPixel;
    bool alpha;
    Channel red, green, blue, alphaChannel;
};

// The layout is chosen by the numbers of mask bits alone; each channel is then
// taken from where its mask puts it.
bool chooseLayout(const DdsHeader& header, Layout& layout) {
    const int a = std::popcount(header.alphaMask), r = std::popcount(header.redMask),
              g = std::popcount(header.greenMask), b = std::popcount(header.blueMask);
    if (a == 8 && r == 8 && g == 8 && b == 8)
        layout.bytesPerPixel = 4;
    else if ((a == 1 && r == 5 && g == 5 && b == 5) || (a == 4 && r == 4 && g == 4 && b == 4))
        layout.bytesPerPixel = 2;
    else if (a == 0 && r == 8 && g == 8 && b == 8)
        layout.bytesPerPixel = header.rgbBitCount == 32 ? 4 : 3;
    else if (a == 0 && r == 5 && g == 6 && b == 5)
        layout.bytesPerPixel = 2;
    else
        return false;
    layout.alpha = a != 0;
    layout.red = makeChannel(header.redMask);
    layout.green = makeChannel(header.greenMask);
    layout.blue = makeChannel(header.blueMask);
    if (layout.alpha) layout.alphaChannel = makeChannel(header.alphaMask);
    return true;
}

template <uint32_t bytesPerPixel, bool alpha>
void decodeUncompressed(const uint8_t* in, uint8_t* out, size_t pixelCount, const Layout& layout) {
    const Channel &red = layout.red, &green = layout.green, &blue = layout.blue, &alphaChannel = layout.alphaChannel;
    constexpr size_t step = alpha ? 4 : 3;
    for (size_t i = 0; i < pixelCount; ++i, in += bytesPerPixel, out += step) {
        uint32_t v = in[0] | (uint32_t{in[1]} << 8);
        if constexpr (bytesPerPixel >= 3) v |= uint32_t{in[2]} << 16;
        if constexpr (bytesPerPixel == 4) v |= uint32_t{in[3]} << 24;
        out[0] = red.to8[(v >> red.shift) & red.valueMask];
        out[1] = green.to8[(v >> green.shift) & green.valueMask];
        out[2] = blue.to8[(v >> blue.shift) & blue.valueMask];
        if constexpr (alpha) out[3] = alphaChannel.to8[(v >> alphaChannel.shift) & alphaChannel.valueMask];
    }
}

// What the header asks for: a format this reader reads, one it does not
// (named for the message), or a header that is damaged.
enum class Verdict { readable, unreadable, damaged };

struct Choice {
    Verdict verdict = Verdict::damaged;
    Format format{};
    Layout layout{};
    uint32_t dataOffset = headerBytes;
    char kind[64] = {};  // the format refused, as the message names it
};

// Reads the format from the header and, for `DX10`, the extension in
// `extension` (null when the file is too short to hold it).
Choice chooseFormat(const DdsHeader& header, const uint8_t* extension) {
    Choice choice;
    if (header.fourCc == uncompressed) {
        if (chooseLayout(header, choice.layout)) {
            choice.format = {Source::masks, false, choice.layout.alpha, 8, choice.layout.bytesPerPixel};
            choice.verdict = Verdict::readable;
        } else {
            choice.verdict = Verdict::unreadable;
            std::snprintf(choice.kind, sizeof choice.kind, "uncompressed pixels with masks %X %X %X %X",
                          header.redMask, header.greenMask, header.blueMask, header.alphaMask);
        }
        return choice;
    }
    if (header.fourCc != dx10) {
        for (const FourCcEntry& entry : fourCcFormats)
            if (entry.code == header.fourCc) {
                choice.format = entry.format;
                choice.verdict = Verdict::readable;
                return choice;
            }
        choice.verdict = Verdict::unreadable;
        for (const D3dName& entry : d3dFormatNames)
            if (entry.code == header.fourCc) {
                std::snprintf(choice.kind, sizeof choice.kind, "%s (D3DFMT %u)", entry.name, entry.code);
                return choice;
            }
        char text[5] = {};
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>((header.fourCc >> (8 * i)) & 0xFF);
            text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        std::snprintf(choice.kind, sizeof choice.kind, "FourCC %s", text);
        return choice;
    }
    if (!extension) return choice;
    const Dx10Header ext = parseExtension(extension);
    choice.dataOffset = headerBytes + extensionBytes;
    // Texture1D, Texture2D or Texture3D, with at least one slice: the first
    // slice's top level is the first surface in every one of them.
    if (ext.resourceDimension < 2 || ext.resourceDimension > 4 || ext.arraySize == 0) return choice;
    for (const DxgiEntry& entry : dxgiFormats)
        if (entry.dxgi == ext.dxgiFormat) {
            choice.format = entry.format;
            choice.verdict = Verdict::readable;
            return choice;
        }
    choice.verdict = Verdict::unreadable;
    const char* name = ext.dxgiFormat < std::size(dxgiNames) ? dxgiNames[ext.dxgiFormat] : nullptr;
    if (name)
        std::snprintf(choice.kind, sizeof choice.kind, "%s (DXGI %u)", name, ext.dxgiFormat);
    else
        std::snprintf(choice.kind, sizeof choice.kind, "DXGI format %u", ext.dxgiFormat);
    return choice;
}

// Z for every X and Y byte, made once.
const uint8_t* zTable() {
    static const auto table = [] {
        std::array<uint8_t, 65536> t{};
        for (uint32_t i = 0; i < 65536; ++i) t[i] = rebuiltZ8(static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
        return t;
    }();
    return table.data();
}

// A signed value v is stored as v + 128 (v + 32768), -128 included.
uint8_t signedByte(uint8_t v) { return static_cast<uint8_t>(v ^ 0x80); }
uint16_t signedWord(uint16_t v) { return static_cast<uint16_t>(v ^ 0x8000); }

// One block decoded into 16 RGBA texels (pitch 16) as the Image takes them.
void decodeBlock(const Format& format, const uint8_t* block, uint8_t* texels) {
    switch (format.source) {
    case Source::bc2: decodeBc2(block, texels, 16, Widen565::zeroLowBits); break;
    case Source::bc3: decodeBc3(block, texels, 16, Widen565::zeroLowBits); break;
    case Source::bc7: decodeBc7(block, texels, 16); break;
    case Source::bc4:
        decodeBc4Channel(block, format.isSigned, texels, 16, 4);
        for (size_t i = 0; i < 64; i += 4) texels[i + 1] = texels[i + 2] = texels[i];
        break;
    case Source::bc5: {
        decodeBc4Channel(block, format.isSigned, texels, 16, 4);
        decodeBc4Channel(block + 8, format.isSigned, texels + 1, 16, 4);
        const uint8_t* z = zTable();
        for (size_t i = 0; i < 64; i += 4) texels[i + 2] = z[(texels[i] << 8) | texels[i + 1]];
        break;
    }
    default: break;
    }
}

// The `columns` x `rows` texels of a block that lie inside the picture, as
// `step`-byte pixels; `pitch` is the byte length of an output row.
template <size_t step>
void placeTexels(const uint8_t* texels, uint8_t* out, size_t pitch, uint32_t columns, uint32_t rows) {
    for (uint32_t y = 0; y < rows; ++y, out += pitch, texels += 16) {
        if (step == 4 && columns == 4) {
            std::memcpy(out, texels, 16);
        } else {
            for (uint32_t x = 0; x < columns; ++x) std::memcpy(out + step * x, texels + 4 * x, step);
        }
    }
}

// A BC1 block straight into 3-byte pixels. Index 3 of a three-colour block
// (transparent black) is shown as cyan, as this reader always has.
void placeBc1Block(const uint8_t* block, uint8_t* out, size_t pitch, uint32_t columns, uint32_t rows) {
    std::array<uint32_t, 4> table = bc1Palette(block, false, Widen565::zeroLowBits);
    for (uint32_t& colour : table)
        colour = (colour >> 24) == 0 ? 0xFFFF00u : colour & 0xFFFFFFu;
    for (uint32_t y = 0; y < rows; ++y, out += pitch) {
        const uint32_t indices = block[4 + y];
        if (columns == 4) {
            // A whole row of the block, 12 bytes, assembled in two words.
            const uint64_t p0 = table[indices & 3], p1 = table[(indices >> 2) & 3];
            const uint64_t p2 = table[(indices >> 4) & 3], p3 = table[indices >> 6];
            const uint64_t first = p0 | (p1 << 24) | (p2 << 48);
            const uint32_t second = static_cast<uint32_t>((p2 >> 16) | (p3 << 8));
            std::memcpy(out, &first, 8);
            std::memcpy(out + 8, &second, 4);
        } else {
            for (uint32_t x = 0; x < columns; ++x) std::memcpy(out + 3 * x, &table[(indices >> (2 * x)) & 3], 3);
        }
    }
}

// Blocks as DDS files store them: ceil(width / 4) to a block row, block rows
// from the top; the texels of edge blocks that fall outside are dropped.
template <size_t step>
void decodeBlocks(const Format& format, const uint8_t* in, uint8_t* pixels, uint32_t width, uint32_t height) {
    const size_t pitch = step * width;
    const uint8_t* block = in;
    uint8_t texels[64];
    for (uint32_t top = 0; top < height; top += 4) {
        const uint32_t rows = std::min(4u, height - top);
        for (uint32_t left = 0; left < width; left += 4, block += format.unitBytes) {
            const uint32_t columns = std::min(4u, width - left);
            uint8_t* out = pixels + top * pitch + step * left;
            if (format.source == Source::bc1) {
                placeBc1Block(block, out, pitch, columns, rows);
            } else {
                decodeBlock(format, block, texels);
                placeTexels<step>(texels, out, pitch, columns, rows);
            }
        }
    }
}

void storeWords(uint8_t* out, std::initializer_list<uint16_t> words) {
    for (uint16_t w : words) {
        std::memcpy(out, &w, 2);
        out += 2;
    }
}

// Widens a sample of `bits` bits to 16 by repeating its top bits below it.
uint16_t widenTo16(uint32_t v, int bits) {
    uint32_t wide = 0;
    for (int filled = 0; filled < 16; filled += bits) wide = (wide << bits) | v;
    return static_cast<uint16_t>(wide >> (((16 + bits - 1) / bits) * bits - 16));
}

// Pixel formats of the extended header, one pixel at a time.
void decodePixels(const Format& format, const uint8_t* in, uint8_t* out, size_t pixelCount) {
    const uint8_t* z = zTable();
    for (size_t i = 0; i < pixelCount; ++i, in += format.unitBytes) {
        switch (format.source) {
        case Source::rgba8: std::memcpy(out, in, 4); out += 4; break;
        case Source::bgra8:
            out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
            out += 4;
            break;
        case Source::bgrx8:
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
            out += 3;
            break;
        case Source::rg8: {
            const uint8_t x = format.isSigned ? signedByte(in[0]) : in[0];
            const uint8_t y = format.isSigned ? signedByte(in[1]) : in[1];
            out[0] = x, out[1] = y, out[2] = z[(x << 8) | y];
            out += 3;
            break;
        }
        case Source::rg16: {
            const uint16_t x = format.isSigned ? signedWord(le16(in)) : le16(in);
            const uint16_t y = format.isSigned ? signedWord(le16(in + 2)) : le16(in + 2);
            storeWords(out, {x, y, rebuiltZ16(x, y)});
            out += 6;
            break;
        }
        case Source::rgba16:
            storeWords(out, {le16(in), le16(in + 2), le16(in + 4), le16(in + 6)});
            out += 8;
            break;
        case Source::rgb10a2: {
            const uint32_t v = le32(in);
            storeWords(out, {widenTo16(v & 0x3FF, 10), widenTo16((v >> 10) & 0x3FF, 10),
                             widenTo16((v >> 20) & 0x3FF, 10), widenTo16(v >> 30, 2)});
            out += 8;
            break;
        }
        default: return;
        }
    }
}

// The `needed` bytes after the header that the decoder takes, or an empty
// view when the file cannot supply them all.
std::span<const uint8_t> legacyPixelData(ByteReader* reader, const DdsHeader& header, uint64_t needed) {
    uint64_t available = bytesLeft(reader);
    if (!(header.flags & linearSizeFlag) && header.rgbBitCount != 0) {
        // Read row by row: rows of bit count x width / 8 bytes that follow
        // each other without padding. Every row must be in the file, and the
        // decoder takes its bytes from the rows alone.
        const uint64_t rowBits = uint64_t{header.rgbBitCount} * header.width;
        if (header.rgbBitCount > 32 || rowBits > UINT32_MAX) return {};
        const uint64_t rowLength = rowBits / 8;
        if (rowLength == 0 || rowLength * header.height > available) return {};
        available = rowLength * header.height;
    }
    std::span<const uint8_t> view;
    if (needed == 0 || needed > available || !readSpan(reader, static_cast<uint32_t>(needed), view)) return {};
    return view;
}

bool parseDds(ByteReader* reader, Image* image) {
    std::span<const uint8_t> bytes;
    if (!readSpan(reader, headerBytes, bytes) || std::memcmp(bytes.data(), "DDS ", 4) != 0) return false;
    const DdsHeader header = parseHeader(bytes.data());
    std::span<const uint8_t> extension;
    if (header.fourCc == dx10 && !readSpan(reader, extensionBytes, extension)) return false;
    const Choice choice = chooseFormat(header, extension.empty() ? nullptr : extension.data());
    if (choice.verdict != Verdict::readable || !imageSizeAllowed(header.width, header.height)) return false;

    // Every size is checked against the file before the picture is allocated.
    const Format& format = choice.format;
    const uint32_t width = header.width, height = header.height;
    const uint64_t units = isBlockSource(format.source) ? uint64_t{(width + 3) / 4} * ((height + 3) / 4)
                                                         : uint64_t{width} * height;
    const uint64_t needed = units * format.unitBytes;
    std::span<const uint8_t> data;
    if (header.fourCc == dx10) {
        if (needed > bytesLeft(reader) || !readSpan(reader, static_cast<uint32_t>(needed), data)) return false;
    } else {
        data = legacyPixelData(reader, header, needed);
    }
    if (data.empty()) return false;

    if (!startImage(image, width, height, format.sampleBits, format.alpha)) return false;
    const size_t pixelCount = size_t{width} * height;
    const Layout& layout = choice.layout;
    if (isBlockSource(format.source) && format.alpha)
        decodeBlocks<4>(format, data.data(), image->pixels, width, height);
    else if (isBlockSource(format.source))
        decodeBlocks<3>(format, data.data(), image->pixels, width, height);
    else if (format.source != Source::masks)
        decodePixels(format, data.data(), image->pixels, pixelCount);
    else if (layout.alpha && layout.bytesPerPixel == 2)
        decodeUncompressed<2, true>(data.data(), image->pixels, pixelCount, layout);
    else if (layout.alpha)
        decodeUncompressed<4, true>(data.data(), image->pixels, pixelCount, layout);
    else if (layout.bytesPerPixel == 2)
        decodeUncompressed<2, false>(data.data(), image->pixels, pixelCount, layout);
    else if (layout.bytesPerPixel == 3)
        decodeUncompressed<3, false>(data.data(), image->pixels, pixelCount, layout);
    else
        decodeUncompressed<4, false>(data.data(), image->pixels, pixelCount, layout);
    return true;
}

}  // namespace

bool readDds(ByteReader* reader, Image* image, const char* path) {
    if (!reader || !image) return false;
    resetImage(image);
    if (!path || !loadWholeFile(reader, path, false)) return false;
    const bool parsed = parseDds(reader, image);
    resetReader(reader);
    if (parsed && buildDisplayBitmap(image)) return true;
    resetImage(image);
    return false;
}

bool ddsUnreadableKind(const char* path, char* text, size_t size) {
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file || !text || size == 0) {
        if (file) std::fclose(file);
        return false;
    }
    uint8_t start[headerBytes + extensionBytes];
    const size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    if (got < headerBytes || std::memcmp(start, "DDS ", 4) != 0) return false;
    const Choice choice = chooseFormat(parseHeader(start), got == sizeof start ? start + headerBytes : nullptr);
    if (choice.verdict != Verdict::unreadable) return false;
    std::snprintf(text, size, "%s", choice.kind);
    return true;
}
