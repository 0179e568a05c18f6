// ZSoft PCX files of version 5 or later with 8 bits a plane: one plane of
// colour indices with a 256-colour palette at the end of the file, or three
// planes of red, green and blue. The result is always 32 bits a pixel, red,
// green, blue and 255, top row first.
#include <cstdlib>
#include <cstring>
#include <span>

#include "readers/readers.h"

namespace {

struct PcxHeader {
    uint8_t manufacturer;
    uint8_t version;
    uint8_t encoding;
    uint8_t bitsPerPixel;
    uint16_t xMin;
    uint16_t yMin;
    uint16_t xMax;
    uint16_t yMax;
    uint8_t colourPlanes;
    uint16_t bytesPerLine;
};

constexpr uint32_t pcxHeaderSize = 128;
constexpr uint32_t paletteSize = 768;
constexpr uint8_t paletteMarker = 12;
constexpr uint32_t maxRunLength = 63;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

PcxHeader parseHeader(std::span<const uint8_t, pcxHeaderSize> b) {
    return PcxHeader{b[0], b[1], b[2], b[3], le16(&b[4]), le16(&b[6]), le16(&b[8]), le16(&b[10]), b[65],
                     le16(&b[66])};
}

int32_t pcxWidth(const PcxHeader& h) { return int32_t{h.xMax} - int32_t{h.xMin} + 1; }
int32_t pcxHeight(const PcxHeader& h) { return int32_t{h.yMax} - int32_t{h.yMin} + 1; }

bool headerAccepted(const PcxHeader& h) {
    if (h.manufacturer != 10 || h.version < 5 || h.bitsPerPixel != 8) return false;
    if (h.colourPlanes != 1 && h.colourPlanes != 3) return false;
    if (!imageSizeAllowed(pcxWidth(h), pcxHeight(h))) return false;
    // Each plane's line must hold the row's pixels.
    return h.colourPlanes == 1 || pcxWidth(h) <= int32_t{h.bytesPerLine};
}

// The run-length stream, decoded a piece at a time. Runs are not cut at line
// or plane ends, so a run left over from one piece goes on in the next.
struct RunLengthStream {
    std::span<const uint8_t> packed;
    size_t position = 0;
    uint8_t runValue = 0;
    size_t runLeft = 0;

    // Fills `out` with the next `count` decoded bytes. Where the stream ends
    // first the rest is 0. Fails when a run header has no value byte.
    bool decode(uint8_t* out, size_t count) {
        while (count > 0) {
            if (runLeft > 0) {
                const size_t n = runLeft < count ? runLeft : count;
                std::memset(out, runValue, n);
                out += n;
                count -= n;
                runLeft -= n;
                continue;
            }
            if (position >= packed.size()) {
                std::memset(out, 0, count);
                return true;
            }
            const uint8_t b = packed[position++];
            if (b >= 0xC0) {
                if (position >= packed.size()) return false;
                runValue = packed[position++];
                runLeft = b & 0x3Fu;
                continue;
            }
            *out++ = b;
            --count;
            // Literal bytes come in long stretches in smooth pictures.
            while (count > 0 && position < packed.size() && packed[position] < 0xC0) {
                *out++ = packed[position++];
                --count;
            }
        }
        return true;
    }
};

// True when `packed` bytes could hold `decoded` bytes at the best rate the
// encoding allows: 63 bytes for every two-byte run, one for a lone literal.
bool streamCanHold(uint32_t packed, uint64_t decoded) {
    return uint64_t{packed / 2} * maxRunLength + packed % 2 >= decoded;
}

// Each scanline holds bytesPerLine bytes of red, then of green, then of blue;
// the first width bytes of each plane are the row's pixels.
bool decodeThreePlanes(RunLengthStream& stream, const PcxHeader& h, Image* image) {
    const size_t width = static_cast<uint32_t>(image->width);
    const size_t lineBytes = h.bytesPerLine;
    auto* line = static_cast<uint8_t*>(std::malloc(3 * lineBytes));
    if (!line) return false;
    bool ok = true;
    uint8_t* out = image->pixels;
    for (int32_t y = 0; ok && y < image->height; ++y) {
        ok = stream.decode(line, 3 * lineBytes);
        if (!ok) break;
        const uint8_t* red = line;
        const uint8_t* green = line + lineBytes;
        const uint8_t* blue = line + 2 * lineBytes;
        for (size_t x = 0; x < width; ++x, out += 4) {
            out[0] = red[x];
            out[1] = green[x];
            out[2] = blue[x];
            out[3] = 255;
        }
    }
    std::free(line);
    return ok;
}

// Each scanline holds max(width, bytesPerLine) indices, of which the first
// width are the row's pixels: odd widths have a padding index on every line.
bool decodeOnePlane(RunLengthStream& stream, const PcxHeader& h, const uint8_t* palette, Image* image) {
    const size_t width = static_cast<uint32_t>(image->width);
    const size_t lineBytes = width > h.bytesPerLine ? width : h.bytesPerLine;
    auto* line = static_cast<uint8_t*>(std::malloc(lineBytes));
    if (!line) return false;
    uint8_t colours[256][4];
    for (size_t i = 0; i < 256; ++i) {
        std::memcpy(colours[i], palette + 3 * i, 3);
        colours[i][3] = 255;
    }
    bool ok = true;
    uint8_t* out = image->pixels;
    for (int32_t y = 0; ok && y < image->height; ++y) {
        ok = stream.decode(line, lineBytes);
        if (!ok) break;
        for (size_t x = 0; x < width; ++x, out += 4) std::memcpy(out, colours[line[x]], 4);
    }
    std::free(line);
    return ok;
}

bool decodePcx(ByteReader* reader, Image* image) {
    std::span<const uint8_t> headerBytes;
    if (!readSpan(reader, pcxHeaderSize, headerBytes)) return false;
    const PcxHeader h = parseHeader(headerBytes.first<pcxHeaderSize>());
    if (!headerAccepted(h)) return false;

    const size_t width = static_cast<uint32_t>(pcxWidth(h));
    const size_t height = static_cast<uint32_t>(pcxHeight(h));
    RunLengthStream stream;
    std::span<const uint8_t> palette;
    uint64_t decodedBytes = 0;
    if (h.colourPlanes == 3) {
        // The packed data runs to the end of the file.
        if (!readSpan(reader, bytesLeft(reader), stream.packed) || stream.packed.empty()) return false;
        decodedBytes = uint64_t{3} * h.bytesPerLine * height;
    } else {
        // The palette is the last 768 bytes, after a marker byte; the packed
        // data is everything between the header and the marker.
        if (reader->length <= pcxHeaderSize + 1 + paletteSize) return false;
        uint8_t marker = 0;
        if (!readSpan(reader, reader->length - (pcxHeaderSize + 1 + paletteSize), stream.packed) ||
            !readU8(reader, marker) || marker != paletteMarker || !readSpan(reader, paletteSize, palette))
            return false;
        decodedBytes = uint64_t{width > h.bytesPerLine ? width : h.bytesPerLine} * height;
    }
    if (!streamCanHold(static_cast<uint32_t>(stream.packed.size()), decodedBytes)) return false;

    image->width = pcxWidth(h);
    image->height = pcxHeight(h);
    image->bitsPerPixel = 32;
    image->rowBytes = 4 * image->width;
    image->dataSize = static_cast<uint32_t>(4 * width * height);
    image->pixels = static_cast<uint8_t*>(platformAllocLarge(image->dataSize));
    if (!image->pixels) return false;
    // Decoding stops once the picture is full: anything after it is ignored.
    return h.colourPlanes == 3 ? decodeThreePlanes(stream, h, image)
                               : decodeOnePlane(stream, h, palette.data(), image);
}

}  // namespace

bool readPcx(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image) return false;
    resetImage(image);
    ByteReader reader = readerOver(file);
    const bool ok = decodePcx(&reader, image);
    if (!ok) {
        resetImage(image);
        return false;
    }
    return true;
}
