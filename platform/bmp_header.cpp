#include "platform/bmp_header.h"

#include <algorithm>

#include "platform/basics.h"

namespace {

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

}  // namespace

bool readBmpHeader(ByteReader* reader, BmpHeader& h) {
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

bool bmpPixelsCanFit(const BmpHeader& h, uint32_t fileLength) {
    const uint64_t available = fileLength - h.dataOffset;
    if (h.compression == biRle8 || h.compression == biRle4)
        return uint64_t{h.width} * h.height <= maxRlePixelsPerByte * available;
    const uint64_t rowBits = uint64_t{h.width} * h.bitCount;
    const uint64_t stride = (rowBits + 31) / 32 * 4;
    // The last row need not carry its padding.
    return (h.height - 1) * stride + (rowBits + 7) / 8 <= available;
}

bool readSoundBmpHeaders(std::span<const uint8_t> file, ByteReader& reader, BmpHeader& header) {
    if (file.size() > 0xFFFFFFFFu) return false;
    reader = readerOver(file);
    return readBmpHeader(&reader, header) && bmpPixelsCanFit(header, reader.length);
}
