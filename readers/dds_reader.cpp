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
#include <cstring>
#include <initializer_list>
#include <span>

#include "encode/block_decode.h"
#include "readers/dds_format.h"
#include "readers/readers.h"

// Block rows are assembled in words whose bytes are stored lowest first.
static_assert(std::endian::native == std::endian::little);

namespace {

using namespace dds;

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

    if (format.source != Source::masks) return decodeTextureLevel(format, data, width, height, image);
    if (!startImage(image, width, height, format.sampleBits, format.alpha)) return false;
    const size_t pixelCount = size_t{width} * height;
    const Layout& layout = choice.layout;
    if (layout.alpha && layout.bytesPerPixel == 2)
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

bool dds::decodeTextureLevel(const Format& format, std::span<const uint8_t> data, uint32_t width, uint32_t height,
                             Image* image) {
    const uint64_t units = isBlockSource(format.source) ? uint64_t{(width + 3) / 4} * ((height + 3) / 4)
                                                         : uint64_t{width} * height;
    if (format.source == Source::masks || data.size() < units * format.unitBytes) return false;
    if (!startImage(image, width, height, format.sampleBits, format.alpha)) return false;
    if (isBlockSource(format.source) && format.alpha)
        decodeBlocks<4>(format, data.data(), image->pixels, width, height);
    else if (isBlockSource(format.source))
        decodeBlocks<3>(format, data.data(), image->pixels, width, height);
    else
        decodePixels(format, data.data(), image->pixels, size_t{width} * height);
    return true;
}

bool readDds(std::span<const uint8_t> file, Image* image, LoadFailure& failure) {
    if (!image) return false;
    resetImage(image);
    ByteReader reader = readerOver(file);
    if (parseDds(&reader, image)) return true;
    resetImage(image);
    // Whatever stopped the read, a header that names a format the reader
    // does not read is what the message tells.
    if (ddsRefusedKind(file, failure.text, sizeof failure.text)) failure.problem = LoadProblem::refusedKind;
    return false;
}
