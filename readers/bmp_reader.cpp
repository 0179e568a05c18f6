// Windows bitmap files. The platform's bitmap-file decoder is asked first;
// when it refuses the file, the own parser takes the one variant it knows: uncompressed 24-bit with a 40-byte information header.
#include <cstdlib>
#include <cstring>
#include <span>

#include "readers/bmp_reader.h"
#include "readers/readers.h"

namespace {

struct BmpInfoHeader {
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitsPerPixel;
    uint32_t compression;
};

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint32_t magnitude(int32_t value) {
    return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

}  // namespace

// The loaded bitmap as a 24-bit display bitmap standing upright (bottom row
// first in memory); takes over `bitmap`. Other depths, and a 24-bit bitmap
// kept top-down in memory, are redrawn one to one into a new display bitmap.
BitmapHandle ensure24BitBitmap(BitmapHandle bitmap) {
    if (!bitmap) return nullptr;
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info)) {
        platformDeleteBitmap(bitmap);
        return nullptr;
    }
    if (info.bitsPerPixel == 24 && info.height > 0) return bitmap;
    const int32_t height = info.height < 0 ? -info.height : info.height;
    BitmapHandle converted = createBlankBitmap(info.width, height);
    if (converted) platformStretchCopy(bitmap, converted);
    platformDeleteBitmap(bitmap);
    return converted;
}

bool decodeBmpRows(ByteReader* reader, Image* image, const BmpInfoHeader& header) {
    const uint32_t w = magnitude(header.width);
    const uint32_t h = magnitude(header.height);
    const size_t rowBytes = size_t{3} * w;
    image->rowBytes = static_cast<int32_t>(rowBytes);
    image->width = static_cast<int32_t>(w);
    image->height = static_cast<int32_t>(h);
    image->bitsPerPixel = 24;
    image->dataSize = static_cast<uint32_t>(rowBytes * h);
    image->rowPad = 0;
    image->bottomUp = 0;
    const uint32_t filePad = static_cast<uint32_t>(displayStride(w) - rowBytes);
    image->pixels = static_cast<uint8_t*>(platformAllocLarge(image->dataSize));
    if (!image->pixels) return false;
    // A positive height stores the bottom row first: each row goes straight
    // to its place from the top, so no flip is needed afterwards.
    const bool bottomFirst = header.height > 0;
    for (uint32_t row = 0; row < h; ++row) {
        std::span<const uint8_t> in;
        if (!readSpan(reader, static_cast<uint32_t>(rowBytes), in)) return false;
        // Blue, green, red in the file become red, green, blue.
        copyPixelsSwapped(in.data(), 3, image->pixels + (bottomFirst ? h - 1 - row : row) * rowBytes, w);
        // The padding is skipped, not read: a file may end after its last pixel.
        skipBytes(reader, filePad);
    }
    return true;
}

bool parseBmp(std::span<const uint8_t> file, Image* image) {
    if (!image || image->pixels || file.size() > maxFileBytes) return false;
    resetImage(image);
    ByteReader record = readerOver(file);
    ByteReader* reader = &record;

    uint16_t magic = 0, reserved1 = 0, reserved2 = 0;
    uint32_t fileSize = 0, dataOffset = 0;
    uint8_t info[40];
    const bool ok = readU16(reader, magic) && readU32(reader, fileSize) && readU16(reader, reserved1) &&
                    readU16(reader, reserved2) && readU32(reader, dataOffset) && magic == 19778 &&
                    fileSize == reader->length && readBlock(reader, sizeof info, info);
    BmpInfoHeader header{};
    if (ok) {
        // Only the first 40 bytes of the information header count, whatever
        // size it declares: a V4 or V5 header reads the same way.
        header.width = static_cast<int32_t>(le32(info + 4));
        header.height = static_cast<int32_t>(le32(info + 8));
        header.planes = le16(info + 12);
        header.bitsPerPixel = le16(info + 14);
        header.compression = le32(info + 16);
    }
    const uint32_t w = magnitude(header.width), h = magnitude(header.height);
    // The rows must fit in the file (the last row may lack its padding)
    // before anything picture-sized is allocated.
    const bool fitsFile = ok && header.planes == 1 && header.compression == 0 && header.bitsPerPixel == 24 &&
                          imageSizeAllowed(w, h) && dataOffset <= reader->length &&
                          displayStride(w) * (h - 1) + size_t{3} * w <= reader->length - dataOffset;
    if (!fitsFile) return false;
    setCursor(reader, dataOffset);
    return decodeBmpRows(reader, image, header);
}

bool readBmp(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image || image->pixels) return false;
    resetImage(image);
    if (BitmapHandle loaded = platformDecodeBitmap(file)) {
        image->bitmap = ensure24BitBitmap(loaded);
        if (!image->bitmap) return false;
        if (!pixelsFromBitmap(image)) {
            resetImage(image);
            return false;
        }
        return true;
    }
    if (!parseBmp(file, image)) {
        resetImage(image);
        return false;
    }
    return true;
}
