// A general BMP decoder standing in for the Windows bitmap-file loader: the
// headers are read and checked, the size is checked against the file before
// the display bitmap is allocated, and the pixels are then decoded straight
// into it in one pass.
#include "platform/portable/bmp_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "image/byte_reader.h"
#include "image/image.h"

namespace {

constexpr uint16_t bmpMagic = 0x4D42;  // "BM"
constexpr uint32_t fileHeaderSize = 14;
constexpr uint32_t coreHeaderSize = 12;   // BITMAPCOREHEADER (OS/2 1.x)
constexpr uint32_t infoHeaderSize = 40;   // BITMAPINFOHEADER
constexpr uint32_t v2HeaderSize = 52;     // BITMAPV2INFOHEADER: masks inside the header
constexpr uint32_t v3HeaderSize = 56;     // BITMAPV3INFOHEADER: and an alpha mask
constexpr uint32_t os2v2HeaderSize = 64;  // OS/2 2.x BITMAPINFOHEADER2
constexpr uint32_t v4HeaderSize = 108;    // BITMAPV4HEADER
constexpr uint32_t v5HeaderSize = 124;    // BITMAPV5HEADER

constexpr uint32_t biRgb = 0;
constexpr uint32_t biRle8 = 1;
constexpr uint32_t biRle4 = 2;
constexpr uint32_t biBitfields = 3;
constexpr uint32_t biAlphaBitfields = 6;

// An RLE stream may stop at any point with an end-of-bitmap and leave the
// rest black, so its length alone does not bound the picture. The densest
// run codes 255 pixels in 2 bytes; a picture declaring more than 256 pixels
// per byte of RLE data is refused, so that a small file can never demand a
// bitmap out of proportion to it (deltas and an early end-of-bitmap can
// describe sparser pictures, but no encoder writes normal maps that way).
constexpr uint64_t maxRlePixelsPerByte = 256;

// A colour table of 256 blue-green-red entries. Entries the file does not
// supply stay black, so any 8-bit (or smaller) index lands inside the table,
// and an index past the file's colour count gives black, as GDI does.
using Palette = std::array<uint8_t, 256 * 3>;

// One colour channel of a 16- or 32-bit pixel: the top (at most 8) bits of
// its mask, widened to 8 bits by bit replication, as GDI widens them.
struct Channel {
    uint32_t shift = 0;
    uint32_t valueMask = 0;  // (1 << bits) - 1; 0 for an empty mask, giving 0
    std::array<uint8_t, 256> widened{};

    uint8_t of(uint32_t pixel) const { return widened[(pixel >> shift) & valueMask]; }
};

struct BmpHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t headersEnd = 0;       // file offset just past the headers and any masks after them
    uint32_t entrySize = 4;        // bytes of a colour table entry: 3 in OS/2 1.x files
    uint32_t declaredEntries = 0;  // colour table entries the header announces
    uint32_t paletteEntries = 0;   // of those, the ones that lie before the pixel data
    uint32_t dataOffset = 0;
    std::array<uint32_t, 3> masks{};  // red, green, blue
};

// The n-bit value repeated from the top bit down: for 5 bits (v << 3) | (v >> 2).
uint8_t widen(uint32_t value, uint32_t bits) {
    uint32_t out = 0;
    for (int32_t pos = 8 - static_cast<int32_t>(bits); pos > -static_cast<int32_t>(bits);
         pos -= static_cast<int32_t>(bits))
        out |= pos >= 0 ? value << pos : value >> -pos;
    return static_cast<uint8_t>(out);
}

// False when the mask's bits are not one contiguous run.
bool makeChannel(uint32_t mask, Channel& channel) {
    channel = Channel{};
    if (mask == 0) return true;
    const auto low = static_cast<uint32_t>(std::countr_zero(mask));
    const auto width = static_cast<uint32_t>(std::popcount(mask));
    // Shifted down, a contiguous mask is all ones: adding one clears it.
    const uint32_t run = mask >> low;
    if ((run & (run + 1)) != 0) return false;
    // A mask wider than 8 bits gives its top 8 bits.
    const uint32_t bits = std::min<uint32_t>(width, 8);
    channel.shift = low + width - bits;
    channel.valueMask = (uint32_t{1} << bits) - 1;
    for (uint32_t v = 0; v <= channel.valueMask; ++v) channel.widened[v] = widen(v, bits);
    return true;
}

// Depths and compressions this decoder takes, with their default masks.
bool knownLayout(BmpHeader& h, uint32_t headerSize) {
    const bool core = headerSize == coreHeaderSize;
    switch (h.compression) {
    case biRgb:
        if (h.bitCount == 16) h.masks = {0x7C00, 0x03E0, 0x001F};
        if (h.bitCount == 32) h.masks = {0xFF0000, 0x00FF00, 0x0000FF};
        return h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 24 ||
               (!core && (h.bitCount == 16 || h.bitCount == 32));
    // RLE pictures are bottom-up only; Windows refuses a top-down one too.
    case biRle8:
        return h.bitCount == 8 && !h.topDown;
    case biRle4:
        return h.bitCount == 4 && !h.topDown;
    // In an OS/2 2.x header the values 3 and 4 mean Huffman and RLE24,
    // neither of which is taken; 4 and 5 elsewhere are JPEG and PNG.
    case biBitfields:
    case biAlphaBitfields:
        return headerSize != os2v2HeaderSize && (h.bitCount == 16 || h.bitCount == 32);
    default:
        return false;
    }
}

// Reads and checks the file header and the information header, and settles
// where the colour table and the pixel data lie. Nothing is allocated here.
bool readHeader(ByteReader* reader, BmpHeader& h) {
    uint16_t magic = 0, reserved = 0, planes = 0, bitCount = 0;
    uint32_t fileSize = 0, offBits = 0, headerSize = 0;
    // The file-size field is not checked: writers get it wrong, and the
    // Windows loader ignores it as well.
    if (!readU16(reader, magic) || magic != bmpMagic || !readU32(reader, fileSize) || !readU16(reader, reserved) ||
        !readU16(reader, reserved) || !readU32(reader, offBits) || !readU32(reader, headerSize))
        return false;

    int64_t width = 0, height = 0;
    uint32_t colorsUsed = 0;
    if (headerSize == coreHeaderSize) {
        // BITMAPCOREHEADER: unsigned 16-bit sizes, always bottom-up,
        // uncompressed, colour table entries of 3 bytes.
        uint16_t w = 0, hh = 0;
        if (!readU16(reader, w) || !readU16(reader, hh) || !readU16(reader, planes) || !readU16(reader, bitCount))
            return false;
        width = w;
        height = hh;
        h.entrySize = 3;
    } else if (headerSize == infoHeaderSize || headerSize == v2HeaderSize || headerSize == v3HeaderSize ||
               headerSize == os2v2HeaderSize || headerSize == v4HeaderSize || headerSize == v5HeaderSize) {
        // BITMAPINFOHEADER and the headers that extend it. An OS/2 2.x header
        // is read as its first 40 bytes, which have the same layout; its
        // further fields (units, recording, halftoning) do not change the pixels.
        uint32_t w = 0, hh = 0, sizeImage = 0, xPels = 0, yPels = 0, important = 0;
        if (!readU32(reader, w) || !readU32(reader, hh) || !readU16(reader, planes) || !readU16(reader, bitCount) ||
            !readU32(reader, h.compression) || !readU32(reader, sizeImage) || !readU32(reader, xPels) ||
            !readU32(reader, yPels) || !readU32(reader, colorsUsed) || !readU32(reader, important))
            return false;
        width = static_cast<int32_t>(w);
        height = static_cast<int32_t>(hh);
    } else {
        return false;
    }
    h.headersEnd = fileHeaderSize + headerSize;
    h.bitCount = bitCount;
    h.topDown = height < 0;
    if (planes != 1 || width <= 0 || height == 0) return false;
    if (h.topDown) height = -height;
    if (!imageSizeAllowed(width, height)) return false;
    h.width = static_cast<uint32_t>(width);
    h.height = static_cast<uint32_t>(height);
    if (!knownLayout(h, headerSize)) return false;

    if (h.compression == biBitfields || h.compression == biAlphaBitfields) {
        // V2 and later headers hold the masks at offset 40; after a plain
        // BITMAPINFOHEADER they follow it (with a fourth, alpha, for type 6).
        if (headerSize == infoHeaderSize)
            h.headersEnd += h.compression == biAlphaBitfields ? 16 : 12;
        else
            setCursor(reader, fileHeaderSize + infoHeaderSize);
        for (uint32_t& mask : h.masks)
            if (!readU32(reader, mask)) return false;
    }

    // Colour table: 2^bits entries unless the header names fewer (more are
    // capped). Above 8 bits an optional table of colorsUsed entries may sit
    // before the pixels; it is skipped.
    if (h.bitCount <= 8) {
        const uint32_t full = uint32_t{1} << h.bitCount;
        h.declaredEntries = colorsUsed == 0 || colorsUsed > full ? full : colorsUsed;
    } else {
        h.declaredEntries = colorsUsed;
    }
    // The pixels start at the data offset, and the colour table cannot reach
    // into them: a table the header declares longer than the room before the
    // data is cut short there (its missing entries are black). A data offset
    // of 0, or one pointing into the headers, cannot be meant: the pixels are
    // then taken right after the whole table, as Windows takes them when the
    // offset is 0.
    const uint32_t tableRoom = offBits >= h.headersEnd ? (offBits - h.headersEnd) / h.entrySize : 0;
    const uint64_t dataOffset = offBits >= h.headersEnd
                                    ? offBits
                                    : uint64_t{h.headersEnd} + uint64_t{h.declaredEntries} * h.entrySize;
    if (dataOffset > reader->length) return false;
    h.dataOffset = static_cast<uint32_t>(dataOffset);
    if (h.bitCount <= 8)
        h.paletteEntries = offBits >= h.headersEnd ? std::min(h.declaredEntries, tableRoom) : h.declaredEntries;
    return true;
}

// Before anything is allocated: the pixel data must be able to fit in the
// bytes from the data offset to the end of the file.
bool pixelsCanFit(const BmpHeader& h, uint32_t fileLength) {
    const uint64_t available = fileLength - h.dataOffset;
    if (h.compression == biRle8 || h.compression == biRle4)
        return uint64_t{h.width} * h.height <= maxRlePixelsPerByte * available;
    const uint64_t rowBits = uint64_t{h.width} * h.bitCount;
    const uint64_t stride = (rowBits + 31) / 32 * 4;
    // The last row need not carry its padding.
    return (h.height - 1) * stride + (rowBits + 7) / 8 <= available;
}

bool readPalette(ByteReader* reader, const BmpHeader& h, Palette& palette) {
    setCursor(reader, h.headersEnd);
    for (uint32_t i = 0; i < h.paletteEntries; ++i) {
        std::span<const uint8_t> entry;
        if (!readSpan(reader, h.entrySize, entry)) return false;
        // Blue, green, red (and a reserved byte in 4-byte entries).
        std::memcpy(&palette[size_t{3} * i], entry.data(), 3);
    }
    return true;
}

void putIndex(uint8_t* out, const Palette& palette, uint32_t index) {
    std::memcpy(out, &palette[size_t{3} * index], 3);
}

// Uncompressed rows in file order into their places in the bitmap. Fails
// (for the caller to refuse the file) when the data ends early.
bool decodeRows(ByteReader* reader, const BmpHeader& h, const Palette& palette, const std::array<Channel, 3>& rgb,
                uint8_t* bits) {
    const uint64_t rowBits = uint64_t{h.width} * h.bitCount;
    const auto rowBytes = static_cast<uint32_t>((rowBits + 7) / 8);
    const auto filePad = static_cast<uint32_t>((rowBits + 31) / 32 * 4 - rowBytes);
    const size_t stride = displayStride(h.width);
    const Channel& red = rgb[0];
    const Channel& green = rgb[1];
    const Channel& blue = rgb[2];
    const bool defaultRgb32 = h.bitCount == 32 && h.compression == biRgb;
    setCursor(reader, h.dataOffset);
    for (uint32_t row = 0; row < h.height; ++row) {
        std::span<const uint8_t> in;
        if (!readSpan(reader, rowBytes, in)) return false;
        skipBytes(reader, filePad);
        // Memory row 0 is the bottom of the picture: a bottom-up file's rows
        // go in as they come, a top-down file's from the top.
        uint8_t* out = bits + size_t{h.topDown ? h.height - 1 - row : row} * stride;
        switch (h.bitCount) {
        case 1:
            for (uint32_t x = 0; x < h.width; ++x, out += 3)
                putIndex(out, palette, (in[x >> 3] >> (7 - (x & 7))) & 1u);
            break;
        case 4:
            for (uint32_t x = 0; x < h.width; ++x, out += 3)
                putIndex(out, palette, (x & 1 ? in[x >> 1] : in[x >> 1] >> 4) & 15u);
            break;
        case 8:
            for (uint32_t x = 0; x < h.width; ++x, out += 3) putIndex(out, palette, in[x]);
            break;
        case 16:
            for (uint32_t x = 0; x < h.width; ++x, out += 3) {
                const uint32_t v = in[2 * x] | uint32_t{in[2 * x + 1]} << 8;
                out[0] = blue.of(v);
                out[1] = green.of(v);
                out[2] = red.of(v);
            }
            break;
        case 24:
            // Already blue, green, red: the row goes over whole.
            std::memcpy(out, in.data(), rowBytes);
            break;
        case 32:
            if (defaultRgb32) {
                // Blue, green, red, unused.
                for (uint32_t x = 0; x < h.width; ++x, out += 3) std::memcpy(out, &in[size_t{4} * x], 3);
                break;
            }
            for (uint32_t x = 0; x < h.width; ++x, out += 3) {
                const size_t i = size_t{4} * x;
                const uint32_t v = in[i] | uint32_t{in[i + 1]} << 8 | uint32_t{in[i + 2]} << 16 |
                                   uint32_t{in[i + 3]} << 24;
                out[0] = blue.of(v);
                out[1] = green.of(v);
                out[2] = red.of(v);
            }
            break;
        default:
            return false;
        }
    }
    return true;
}

// RLE8 and RLE4 streams, bottom row first. Pixels the stream never reaches
// stay black. A run or delta that goes past the row's end is clipped there
// (the rest of that run is dropped) rather than refused, which keeps the
// decodable part of a sloppy file and can never write outside the row.
// A stream that ends without its end-of-bitmap keeps what was decoded, as
// GDI does: the end-of-bitmap may legally come anywhere, so a cut file is
// just a picture that stops early.
void decodeRle(ByteReader* reader, const BmpHeader& h, const Palette& palette, uint8_t* bits) {
    const bool rle4 = h.compression == biRle4;
    const size_t stride = displayStride(h.width);
    uint32_t x = 0, y = 0;
    // Every pixel is checked against the row's end here, where it is
    // written; y is always inside the picture while the loop runs.
    auto put = [&](uint32_t index) {
        if (x >= h.width) return;
        putIndex(bits + size_t{y} * stride + size_t{3} * x, palette, index);
        ++x;
    };
    setCursor(reader, h.dataOffset);
    for (;;) {
        uint8_t count = 0, value = 0;
        if (!readU8(reader, count) || !readU8(reader, value)) return;
        if (count > 0) {
            // An encoded run: one index repeated, or two alternating nibbles.
            for (uint32_t i = 0; i < count && x < h.width; ++i)
                put(rle4 ? (i & 1 ? value & 15u : uint32_t{value} >> 4) : value);
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            if (++y >= h.height) return;
            break;
        case 1:  // end of bitmap
            return;
        case 2: {  // delta: move right and up
            uint8_t dx = 0, dy = 0;
            if (!readU8(reader, dx) || !readU8(reader, dy)) return;
            x = std::min(x + dx, h.width);
            y += dy;
            if (y >= h.height) return;
            break;
        }
        default: {  // absolute run of `value` indices, padded to 16 bits
            const uint32_t bytes = rle4 ? (value + 1u) / 2 : value;
            std::span<const uint8_t> in;
            if (!readSpan(reader, bytes, in)) return;
            skipBytes(reader, bytes & 1);
            for (uint32_t i = 0; i < value && x < h.width; ++i)
                put(rle4 ? (i & 1 ? in[i / 2] & 15u : uint32_t{in[i / 2]} >> 4) : in[i]);
            break;
        }
        }
    }
}

}  // namespace

BitmapHandle decodeBmpFile(std::span<const uint8_t> file) {
    if (file.size() > 0xFFFFFFFFu) return nullptr;
    // The reader only borrows the bytes: it is never reset, so it never frees them.
    ByteReader reader{const_cast<uint8_t*>(file.data()), 0, static_cast<uint32_t>(file.size())};

    BmpHeader header;
    if (!readHeader(&reader, header) || !pixelsCanFit(header, reader.length)) return nullptr;
    Palette palette{};
    if (!readPalette(&reader, header, palette)) return nullptr;
    std::array<Channel, 3> channels;
    for (size_t c = 0; c < channels.size(); ++c)
        if (!makeChannel(header.masks[c], channels[c])) return nullptr;

    BitmapHandle bitmap = platformCreateBitmap(static_cast<int32_t>(header.width),
                                               static_cast<int32_t>(header.height), true);
    BitmapInfo info;
    if (!bitmap || !platformQueryBitmap(bitmap, info) || !info.bits) {
        platformDeleteBitmap(bitmap);
        return nullptr;
    }
    if (header.compression == biRle8 || header.compression == biRle4) {
        decodeRle(&reader, header, palette, info.bits);
    } else if (!decodeRows(&reader, header, palette, channels, info.bits)) {
        platformDeleteBitmap(bitmap);
        return nullptr;
    }
    return bitmap;
}
