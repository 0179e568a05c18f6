// DirectDraw Surface files (the DDS format documentation): the first surface
// only, block-compressed as DXT1, DXT3 or DXT5, or uncompressed in one of five
// layouts told apart by the number of bits in each channel mask. Alpha is
// never kept; mipmaps, further faces and slices are ignored.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>

#include "readers/readers.h"

// Block rows are assembled in words whose bytes are stored lowest first.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr uint32_t headerBytes = 128;
constexpr uint32_t linearSizeFlag = 0x80000;

constexpr uint32_t fourCc(const char (&code)[5]) {
    return uint32_t{static_cast<uint8_t>(code[0])} | (uint32_t{static_cast<uint8_t>(code[1])} << 8) |
           (uint32_t{static_cast<uint8_t>(code[2])} << 16) | (uint32_t{static_cast<uint8_t>(code[3])} << 24);
}
constexpr uint32_t uncompressed = 0;
constexpr uint32_t dxt1 = fourCc("DXT1");
constexpr uint32_t dxt3 = fourCc("DXT3");
constexpr uint32_t dxt5 = fourCc("DXT5");

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

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

// One colour channel of an uncompressed pixel: where its mask lies, and what
// each of its values becomes as an 8-bit component.
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
    Channel red, green, blue;
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
    layout.red = makeChannel(header.redMask);
    layout.green = makeChannel(header.greenMask);
    layout.blue = makeChannel(header.blueMask);
    return true;
}

template <uint32_t bytesPerPixel>
void decodeUncompressed(const uint8_t* in, uint8_t* out, size_t pixelCount, const Layout& layout) {
    const Channel &red = layout.red, &green = layout.green, &blue = layout.blue;
    for (size_t i = 0; i < pixelCount; ++i, in += bytesPerPixel, out += 3) {
        uint32_t v = in[0] | (uint32_t{in[1]} << 8);
        if constexpr (bytesPerPixel >= 3) v |= uint32_t{in[2]} << 16;
        if constexpr (bytesPerPixel == 4) v |= uint32_t{in[3]} << 24;
        out[0] = red.to8[(v >> red.shift) & red.valueMask];
        out[1] = green.to8[(v >> green.shift) & green.valueMask];
        out[2] = blue.to8[(v >> blue.shift) & blue.valueMask];
    }
}

// Colours 0 and 1 widened by shifting, low bits zero (31 becomes 248, 63
// becomes 252).
void expand565(uint32_t c, uint8_t* colour) {
    colour[0] = static_cast<uint8_t>(((c >> 11) & 31) << 3);
    colour[1] = static_cast<uint8_t>(((c >> 5) & 63) << 2);
    colour[2] = static_cast<uint8_t>((c & 31) << 3);
}

// The four colours of a colour block (8 bytes), red, green, blue in the
// low three bytes of each entry. DXT1 blocks with c0 <= c1 have three
// colours; the colour blocks of DXT3 and DXT5 always have four, whatever c0
// and c1 are (`alwaysFour`), as those formats define and encoders rely on.
std::array<uint32_t, 4> colourTable(const uint8_t* block, bool alwaysFour) {
    const uint32_t c0 = block[0] | (uint32_t{block[1]} << 8);
    const uint32_t c1 = block[2] | (uint32_t{block[3]} << 8);
    uint8_t colours[4][3];
    expand565(c0, colours[0]);
    expand565(c1, colours[1]);
    if (c0 > c1 || alwaysFour) {
        for (size_t k = 0; k < 3; ++k) {
            const int first = colours[0][k], second = colours[1][k];
            colours[2][k] = static_cast<uint8_t>((2 * first + second) / 3);
            colours[3][k] = static_cast<uint8_t>((first + 2 * second) / 3);
        }
    } else {
        for (size_t k = 0; k < 3; ++k) colours[2][k] = static_cast<uint8_t>((colours[0][k] + colours[1][k]) / 2);
        // The fourth entry of a three-colour block is shown as cyan.
        colours[3][0] = 0;
        colours[3][1] = 255;
        colours[3][2] = 255;
    }
    std::array<uint32_t, 4> table;
    for (size_t i = 0; i < 4; ++i)
        table[i] = colours[i][0] | (uint32_t{colours[i][1]} << 8) | (uint32_t{colours[i][2]} << 16);
    return table;
}

// Writes the `columns` x `rows` pixels of one colour block that lie inside
// the picture; `pitch` is the byte length of an output row.
void decodeColourBlock(const uint8_t* block, bool alwaysFour, uint8_t* out, size_t pitch, uint32_t columns,
                       uint32_t rows) {
    const std::array<uint32_t, 4> table = colourTable(block, alwaysFour);
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
// from the top; the pixels of edge blocks that fall outside are dropped. A
// DXT3 or DXT5 block begins with 8 bytes of alpha, which are skipped.
void decodeBlocks(const uint8_t* in, uint32_t blockBytes, uint8_t* pixels, uint32_t width, uint32_t height) {
    const size_t pitch = size_t{3} * width;
    const uint8_t* block = in + (blockBytes - 8);
    for (uint32_t top = 0; top < height; top += 4) {
        const uint32_t rows = std::min(4u, height - top);
        for (uint32_t left = 0; left < width; left += 4, block += blockBytes)
            decodeColourBlock(block, blockBytes == 16, pixels + top * pitch + size_t{3} * left, pitch,
                              std::min(4u, width - left), rows);
    }
}

// The `needed` bytes after the header that the decoder takes, or an empty
// view when the file cannot supply them all.
std::span<const uint8_t> pixelData(ByteReader* reader, const DdsHeader& header, uint64_t needed) {
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
    const bool compressed = header.fourCc != uncompressed;
    if (compressed && header.fourCc != dxt1 && header.fourCc != dxt3 && header.fourCc != dxt5) return false;
    Layout layout{};
    if (!compressed && !chooseLayout(header, layout)) return false;
    if (!imageSizeAllowed(header.width, header.height)) return false;

    const uint32_t width = header.width, height = header.height;
    const uint32_t blockBytes = header.fourCc == dxt1 ? 8 : 16;
    const uint64_t needed = compressed ? uint64_t{(width + 3) / 4} * ((height + 3) / 4) * blockBytes
                                       : uint64_t{layout.bytesPerPixel} * width * height;
    const std::span<const uint8_t> data = pixelData(reader, header, needed);
    if (data.empty()) return false;

    // The data reaches every pixel, so pixels are decoded straight into the
    // Image, red, green and blue, without a 4-byte work buffer.

    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->rowBytes = static_cast<int32_t>(3 * width);
    image->bitsPerPixel = 24;
    image->dataSize = 3 * width * height;
    image->rowPad = 0;
    image->bottomUp = 0;
    image->pixels = static_cast<uint8_t*>(platformAllocLarge(image->dataSize));
    if (!image->pixels) return false;

    const size_t pixelCount = size_t{width} * height;
    if (compressed)
        decodeBlocks(data.data(), blockBytes, image->pixels, width, height);
    else if (layout.bytesPerPixel == 2)
        decodeUncompressed<2>(data.data(), image->pixels, pixelCount, layout);
    else if (layout.bytesPerPixel == 3)
        decodeUncompressed<3>(data.data(), image->pixels, pixelCount, layout);
    else
        decodeUncompressed<4>(data.data(), image->pixels, pixelCount, layout);
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
