// The headers of a DirectDraw Surface file and the formats they name: the
// legacy header with its FourCC or channel masks, the DX10 extension with
// its DXGI format, and the verdict on what the reader makes of them. The
// pixels themselves are decoded in dds_reader.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/image.h"

namespace dds {

inline constexpr uint32_t headerBytes = 128;
inline constexpr uint32_t extensionBytes = 20;
inline constexpr uint32_t linearSizeFlag = 0x80000;

inline constexpr uint32_t fourCc(const char (&code)[5]) {
    return uint32_t{static_cast<uint8_t>(code[0])} | (uint32_t{static_cast<uint8_t>(code[1])} << 8) |
           (uint32_t{static_cast<uint8_t>(code[2])} << 16) | (uint32_t{static_cast<uint8_t>(code[3])} << 24);
}
inline constexpr uint32_t uncompressed = 0;
inline constexpr uint32_t dx10 = fourCc("DX10");

inline uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

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

inline DdsHeader parseHeader(const uint8_t* bytes) {
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

inline Dx10Header parseExtension(const uint8_t* bytes) {
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

// One colour channel of an uncompressed legacy pixel: where its mask lies,
// and what each of its values becomes as an 8-bit component.
struct Channel {
    uint32_t shift;
    uint32_t valueMask;
    std::array<uint8_t, 256> to8;
};

struct Layout {
    uint32_t bytesPerPixel;
    bool alpha;
    Channel red, green, blue, alphaChannel;
};

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
Choice chooseFormat(const DdsHeader& header, const uint8_t* extension);

// Decodes one level of a texture, blocks or pixels as DDS files lay them out
// (any source but masks), into `image`, which this starts. `data` holds at
// least the level's bytes. False when it does not, or when the size is not
// allowed or there is no memory. KTX2 files share it (ktx2_reader.cpp).
bool decodeTextureLevel(const Format& format, std::span<const uint8_t> data, uint32_t width, uint32_t height,
                        Image* image);

}  // namespace dds

// True when the header at the start of `file` names a format the reader does
// not read; `text` (of `size` bytes) then names it, as in "BC6H_UF16 (DXGI 95)".
// Only the header and its extension are looked at.
bool ddsRefusedKind(std::span<const uint8_t> file, char* text, size_t size);

// The format the header at the start of `file` names, as --check --json
// names a DDS payload: the DXGI format of a DX10 header ("BC5_UNORM"), the
// FourCC of a legacy one ("ATI2"), or "uncompressed 24-bit". False when the
// header is not there.
bool ddsPayloadName(std::span<const uint8_t> file, char* text, size_t size);
