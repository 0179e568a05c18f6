// Truevision TGA files: colour-mapped (types 1 and 9), true-colour (2 and 10)
// and greyscale (3), uncompressed or run-length encoded, in either row order.
// The result is 24 bits a pixel, red-green-blue, top row first; a 32-bit
// true-colour file keeps its alpha as a fourth byte.
#include <cstdlib>
#include <cstring>
#include <span>

#include "readers/readers.h"
#include "readers/tga_reader.h"

bool readTgaHeader(ByteReader* reader, TgaHeader& h) {
    return readU8(reader, h.idLength) && readU8(reader, h.colourMapType) && readU8(reader, h.imageType) &&
           readU16(reader, h.colourMapFirst) && readU16(reader, h.colourMapLength) &&
           readU8(reader, h.colourMapEntrySize) && readU16(reader, h.xOrigin) && readU16(reader, h.yOrigin) &&
           readU16(reader, h.width) && readU16(reader, h.height) && readU8(reader, h.pixelDepth) &&
           readU8(reader, h.descriptor);
}

namespace {

constexpr uint8_t topRowFirstBit = 0x20;
constexpr uint32_t maxPacketPixels = 128;

bool isColourMapped(uint8_t type) { return type == 1 || type == 9; }
bool isRunLength(uint8_t type) { return type == 9 || type == 10; }

// Bytes of a 15, 16, 24 or 32-bit colour; 0 for any other size.
uint32_t colourBytes(uint8_t bits) {
    switch (bits) {
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

bool headerAccepted(const TgaHeader& h) {
    if (h.colourMapType > 1) return false;
    if (h.imageType != 1 && h.imageType != 2 && h.imageType != 3 && h.imageType != 9 && h.imageType != 10)
        return false;
    if (h.pixelDepth != 8 && h.pixelDepth != 16 && h.pixelDepth != 24 && h.pixelDepth != 32) return false;
    // True-colour pixels of 8 bits have no colour to give.
    if ((h.imageType == 2 || h.imageType == 10) && h.pixelDepth == 8) return false;
    if (h.imageType == 3 && h.pixelDepth != 8) return false;
    if (isColourMapped(h.imageType) && (colourBytes(h.colourMapEntrySize) == 0 || h.colourMapLength == 0))
        return false;
    return imageSizeAllowed(h.width, h.height);
}

// Red, green and blue of one stored colour of 2, 3 or 4 bytes. Five-bit
// channels are widened by a plain shift, so 31 gives 248; alpha is dropped.
inline void storedColour(const uint8_t* in, uint32_t bytes, uint8_t* out) {
    if (bytes == 2) {
        const uint32_t w = uint32_t{in[0]} | (uint32_t{in[1]} << 8);
        out[0] = static_cast<uint8_t>(((w >> 10) & 31) << 3);
        out[1] = static_cast<uint8_t>(((w >> 5) & 31) << 3);
        out[2] = static_cast<uint8_t>((w & 31) << 3);
    } else {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

// How the stored pixel values of a file become colours.
struct PixelFormat {
    uint32_t valueBytes;      // bytes of one stored value
    const uint8_t* palette;   // red-green-blue triples of a colour-mapped file, else null
    uint32_t paletteLength;
    bool grey;                // one byte g gives g, g, g
    bool alpha;               // 4-byte values keep their alpha: red-green-blue-alpha pixels
};

size_t pixelStep(const PixelFormat& f) { return f.alpha ? 4 : 3; }

// Converts `count` stored values to red-green-blue pixels. Fails at an index
// past the colour map.
bool convertValues(const PixelFormat& f, const uint8_t* in, uint8_t* out, size_t count) {
    if (f.palette) {
        for (size_t i = 0; i < count; ++i, in += f.valueBytes, out += 3) {
            // Indices are little-endian, as wide as the pixel depth.
            uint32_t index = 0;
            for (uint32_t k = f.valueBytes; k-- > 0;) index = (index << 8) | in[k];
            if (index >= f.paletteLength) return false;
            std::memcpy(out, f.palette + size_t{3} * index, 3);
        }
    } else if (f.grey) {
        for (size_t i = 0; i < count; ++i, out += 3) out[0] = out[1] = out[2] = in[i];
    } else if (f.valueBytes == 2) {
        for (size_t i = 0; i < count; ++i, in += 2, out += 3) storedColour(in, 2, out);
    } else if (f.alpha) {
        for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
            storedColour(in, 4, out);
            out[3] = in[3];
        }
    } else {
        copyPixelsSwapped(in, f.valueBytes, out, count);
    }
    return true;
}

// Where decoded pixels go. Pixels arrive in file order; a file stored bottom
// row first has each row put in its upright place as it is written, which
// gives the same picture as decoding in file order and reversing the rows.
struct PixelSink {
    uint8_t* pixels;
    size_t width;
    size_t height;
    bool bottomRowFirst;
    size_t step;        // bytes a pixel
    size_t row = 0;     // rows completed, in file order
    size_t column = 0;  // pixels written in the current row

    size_t pixelsLeft() const { return (height - row) * width - column; }
    size_t leftInRow() const { return width - column; }
    uint8_t* next() const {
        const size_t y = bottomRowFirst ? height - 1 - row : row;
        return pixels + (y * width + column) * step;
    }
    void advance(size_t count) {
        column += count;
        if (column == width) {
            column = 0;
            ++row;
        }
    }
};

bool decodeUncompressed(ByteReader* reader, const PixelFormat& f, PixelSink& sink) {
    const uint32_t rowValueBytes = static_cast<uint32_t>(sink.width * f.valueBytes);
    for (size_t y = 0; y < sink.height; ++y) {
        std::span<const uint8_t> in;
        if (!readSpan(reader, rowValueBytes, in)) return false;
        if (!convertValues(f, in.data(), sink.next(), sink.width)) return false;
        sink.advance(sink.width);
    }
    return true;
}

// Packets may run on from one row into the next; one that would write past
// the last pixel fails the load.
bool decodeRunLength(ByteReader* reader, const PixelFormat& f, PixelSink& sink) {
    for (size_t left = sink.pixelsLeft(); left > 0; left = sink.pixelsLeft()) {
        uint8_t header = 0;
        if (!readU8(reader, header)) return false;
        size_t count = (header & 0x7Fu) + 1u;
        if (count > left) return false;
        std::span<const uint8_t> in;
        if (header & 0x80) {
            uint8_t colour[4];
            if (!readSpan(reader, f.valueBytes, in) || !convertValues(f, in.data(), colour, 1)) return false;
            while (count > 0) {
                const size_t n = count < sink.leftInRow() ? count : sink.leftInRow();
                uint8_t* out = sink.next();
                for (size_t i = 0; i < n; ++i, out += sink.step) std::memcpy(out, colour, sink.step);
                sink.advance(n);
                count -= n;
            }
        } else {
            if (!readSpan(reader, static_cast<uint32_t>(count * f.valueBytes), in)) return false;
            const uint8_t* values = in.data();
            while (count > 0) {
                const size_t n = count < sink.leftInRow() ? count : sink.leftInRow();
                if (!convertValues(f, values, sink.next(), n)) return false;
                values += n * f.valueBytes;
                sink.advance(n);
                count -= n;
            }
        }
    }
    return true;
}

// The smallest number of bytes that can hold `pixels` stored values: all of
// them uncompressed, or one packet of a header and one value per 128 pixels.
uint64_t smallestImageData(const TgaHeader& h, uint32_t valueBytes) {
    const uint64_t pixels = uint64_t{h.width} * h.height;
    if (!isRunLength(h.imageType)) return pixels * valueBytes;
    return (pixels + maxPacketPixels - 1) / maxPacketPixels * (1 + valueBytes);
}

// The colour map of a colour-mapped file as red-green-blue triples (malloc).
uint8_t* readPalette(ByteReader* reader, const TgaHeader& h) {
    const uint32_t entryBytes = colourBytes(h.colourMapEntrySize);
    std::span<const uint8_t> stored;
    if (!readSpan(reader, h.colourMapLength * entryBytes, stored)) return nullptr;
    auto* palette = static_cast<uint8_t*>(std::malloc(size_t{3} * h.colourMapLength));
    if (!palette) return nullptr;
    for (size_t i = 0; i < h.colourMapLength; ++i) storedColour(&stored[i * entryBytes], entryBytes, palette + 3 * i);
    return palette;
}

// Decodes the image data that starts at the cursor into `image`, whose fields
// are already set.
bool decodeTga(ByteReader* reader, const TgaHeader& h, Image* image) {
    PixelFormat format{static_cast<uint32_t>(h.pixelDepth / 8), nullptr, 0, h.imageType == 3, image->hasAlpha != 0};
    uint8_t* palette = nullptr;
    if (isColourMapped(h.imageType)) {
        palette = readPalette(reader, h);
        if (!palette) return false;
        format.palette = palette;
        format.paletteLength = h.colourMapLength;
    } else if (h.colourMapType == 1) {
        // The format stores a declared colour map before the image data even
        // where the pixels do not use it.
        skipBytes(reader, h.colourMapLength * ((h.colourMapEntrySize + 7u) / 8u));
    }

    bool ok = smallestImageData(h, format.valueBytes) <= bytesLeft(reader);
    if (ok) {
        image->pixels = static_cast<uint8_t*>(platformAllocLarge(image->dataSize));
        ok = image->pixels != nullptr;
    }
    if (ok) {
        PixelSink sink{image->pixels, h.width, h.height, image->bottomUp != 0, pixelStep(format)};
        ok = isRunLength(h.imageType) ? decodeRunLength(reader, format, sink)
                                      : decodeUncompressed(reader, format, sink);
    }
    std::free(palette);
    return ok;
}

}  // namespace

bool readTga(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image || file.empty()) return false;
    ByteReader record = readerOver(file);
    ByteReader* reader = &record;

    TgaHeader header{};
    bool ok = readTgaHeader(reader, header) && headerAccepted(header);
    setCursor(reader, tgaHeaderSize + header.idLength);
    resetImage(image);
    if (ok) {
        image->width = header.width;
        image->height = header.height;
        image->hasAlpha = !isColourMapped(header.imageType) && header.pixelDepth == 32;
        image->bitsPerPixel = image->hasAlpha ? 32 : 24;
        image->rowBytes = image->bitsPerPixel / 8 * image->width;
        image->dataSize = static_cast<uint32_t>(image->rowBytes) * static_cast<uint32_t>(image->height);
        image->bottomUp = (header.descriptor & topRowFirstBit) ? 0 : 1;
        ok = decodeTga(reader, header, image);
    }
    if (!ok) {
        resetImage(image);
        return false;
    }
    // The rows were put top row first while decoding.
    image->bottomUp = 0;
    return true;
}
