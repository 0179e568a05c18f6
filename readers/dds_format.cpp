#include "readers/dds_format.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace dds {

namespace {

// A code of the header (a DXGI format or a FourCC) and the format it names.
struct FormatCode {
    uint32_t code;
    Format format;
};

// The DXGI formats that are read. Typeless formats are read as their UNORM
// kin, sRGB ones as stored.
constexpr FormatCode dxgiFormats[] = {
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
constexpr FormatCode fourCcFormats[] = {
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

// Makes `choice` readable in the format that `table` gives `code`; false,
// and the choice unreadable, when the table does not hold the code.
template <size_t count>
bool pickFormat(const FormatCode (&table)[count], uint32_t code, Choice& choice) {
    for (const FormatCode& entry : table)
        if (entry.code == code) {
            choice.format = entry.format;
            choice.verdict = Verdict::readable;
            return true;
        }
    choice.verdict = Verdict::unreadable;
    return false;
}

}  // namespace

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
        if (pickFormat(fourCcFormats, header.fourCc, choice)) return choice;
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
    if (pickFormat(dxgiFormats, ext.dxgiFormat, choice)) return choice;
    const char* name = ext.dxgiFormat < std::size(dxgiNames) ? dxgiNames[ext.dxgiFormat] : nullptr;
    if (name)
        std::snprintf(choice.kind, sizeof choice.kind, "%s (DXGI %u)", name, ext.dxgiFormat);
    else
        std::snprintf(choice.kind, sizeof choice.kind, "DXGI format %u", ext.dxgiFormat);
    return choice;
}

}  // namespace dds

bool ddsRefusedKind(std::span<const uint8_t> file, char* text, size_t size) {
    using namespace dds;
    if (!text || size == 0 || file.size() < headerBytes || std::memcmp(file.data(), "DDS ", 4) != 0) return false;
    const bool hasExtension = file.size() >= headerBytes + extensionBytes;
    const Choice choice = chooseFormat(parseHeader(file.data()), hasExtension ? file.data() + headerBytes : nullptr);
    if (choice.verdict != Verdict::unreadable) return false;
    std::snprintf(text, size, "%s", choice.kind);
    return true;
}

bool ddsPayloadName(std::span<const uint8_t> file, char* text, size_t size) {
    using namespace dds;
    if (!text || size == 0 || file.size() < headerBytes || std::memcmp(file.data(), "DDS ", 4) != 0) return false;
    const DdsHeader header = parseHeader(file.data());
    if (header.fourCc == uncompressed) {
        const Choice choice = chooseFormat(header, nullptr);
        if (choice.verdict != Verdict::readable) return false;
        std::snprintf(text, size, "uncompressed %u-bit", 8 * choice.layout.bytesPerPixel);
        return true;
    }
    if (header.fourCc != dx10) {
        char code[5] = {};
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>((header.fourCc >> (8 * i)) & 0xFF);
            code[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        std::snprintf(text, size, "%s", code);
        return true;
    }
    if (file.size() < headerBytes + extensionBytes) return false;
    const uint32_t code = parseExtension(file.data() + headerBytes).dxgiFormat;
    if (code < std::size(dxgiNames))
        std::snprintf(text, size, "%s", dxgiNames[code]);
    else
        std::snprintf(text, size, "DXGI %u", code);
    return true;
}
