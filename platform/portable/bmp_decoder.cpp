// A general BMP decoder standing in for the Windows bitmap-file loader: the
// headers are read and checked, the size is checked against the file before
// the display bitmap is allocated, and the pixels are then decoded straight
// into it in one pass.
#include "platform/portable/bmp_decoder.h"

#include "platform/bmp_header.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "platform/basics.h"

namespace {

// A colour table of 256 blue-green-red entries. Entries the file does not
// supply stay black, so any 8-bit (or smaller) index lands inside the table,
// and an index past the file's colour count gives black, as GDI does.
using Palette = std::array<uint8_t, 256 * 3>;

// One colour channel of a 16- or 32-bit pixel: the top (at most 8) bits of
// its mask, widened to 8 bits by bit replication, as GDI widens them.
struct MaskChannel {
    uint32_t shift = 0;
    uint32_t valueMask = 0;  // (1 << bits) - 1; 0 for an empty mask, giving 0
    std::array<uint8_t, 256> widened{};

    uint8_t of(uint32_t pixel) const { return widened[(pixel >> shift) & valueMask]; }
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
bool makeChannel(uint32_t mask, MaskChannel& channel) {
    channel = MaskChannel{};
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
bool decodeRows(ByteReader* reader, const BmpHeader& h, const Palette& palette, const std::array<MaskChannel, 3>& rgb,
                uint8_t* bits) {
    const uint64_t rowBits = uint64_t{h.width} * h.bitCount;
    const auto rowBytes = static_cast<uint32_t>((rowBits + 7) / 8);
    const auto filePad = static_cast<uint32_t>((rowBits + 31) / 32 * 4 - rowBytes);
    const size_t stride = displayStride(h.width);
    const MaskChannel& red = rgb[0];
    const MaskChannel& green = rgb[1];
    const MaskChannel& blue = rgb[2];
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
// hold colour 0 of the table, as an index buffer that starts at zero gives
// them (which is what the Windows loader shows). A run or delta that goes past the row's end is clipped there
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
    for (uint32_t row = 0; row < h.height; ++row)
        for (uint32_t column = 0; column < h.width; ++column)
            putIndex(bits + size_t{row} * stride + size_t{3} * column, palette, 0);
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
    ByteReader reader;
    BmpHeader header;
    if (!readSoundBmpHeaders(file, reader, header)) return nullptr;
    Palette palette{};
    if (!readPalette(&reader, header, palette)) return nullptr;
    std::array<MaskChannel, 3> channels;
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
