// PNG files: colour types 0, 2, 3, 4 and 6 at every depth they allow,
// interlaced or not. The reader checks the signature, IHDR and PLTE itself;
// the system's codec (platform/codecs.h) unpacks the image data, and every
// stored row is turned into red-green-blue here, by the same rules on every
// platform: 16-bit samples kept as 16-bit words, packed grey scaled to
// 0..255, palettes expanded, grey repeated, the alpha of colour types 4 and
// 6 kept beside the colour (tRNS is not alpha of its own and is dropped),
// and no colour management (a normal map is data, not colour).
#include <cstring>

#include "platform/codecs.h"
#include "platform/png_chunk.h"
#include "readers/readers.h"

namespace {

constexpr uint8_t pngSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
constexpr uint32_t ihdrLength = 13;
// Deflate turns no byte of input into more than 1032 bytes of output (a
// 258-byte copy coded in two bits), so image data shorter than this share of
// the picture cannot hold it, however it is compressed.
constexpr uint64_t deflateMaxRatio = 1032;

struct PngHeader {
    uint32_t width;
    uint32_t height;
    uint8_t depth;
    uint8_t colourType;
    uint8_t compression;
    uint8_t filter;
    uint8_t interlace;
};

struct Chunk {
    uint32_t length;
    char type[5];
    std::span<const uint8_t> typeAndData;  // what the CRC covers
};

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Reads a chunk's length and type; the cursor stays on its data.
bool readChunkStart(ByteReader* reader, Chunk& chunk) {
    std::span<const uint8_t> start;
    if (!readSpan(reader, 8, start)) return false;
    chunk.length = bigEndian32(start.data());
    std::memcpy(chunk.type, start.data() + 4, 4);
    chunk.type[4] = '\0';
    return chunk.length <= 0x7FFFFFFFu;  // the format's own limit
}

// Reads the data and CRC of a chunk whose start was just read; false when
// they run past the file or the CRC does not match.
bool readCheckedData(ByteReader* reader, Chunk& chunk) {
    setCursor(reader, reader->cursor - 4);
    std::span<const uint8_t> crcBytes;
    if (!readSpan(reader, chunk.length + 4, chunk.typeAndData) || !readSpan(reader, 4, crcBytes)) return false;
    return pngChunkCrc(chunk.typeAndData.data(), chunk.typeAndData.size()) == bigEndian32(crcBytes.data());
}

bool isCritical(const Chunk& chunk) { return (chunk.type[0] & 0x20) == 0; }

bool depthAllowed(uint8_t colourType, uint8_t depth) {
    switch (colourType) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
    }
}

bool headerAccepted(const PngHeader& h) {
    return h.width > 0 && h.height > 0 && h.width <= 0x7FFFFFFFu && h.height <= 0x7FFFFFFFu &&
           depthAllowed(h.colourType, h.depth) && h.compression == 0 && h.filter == 0 && h.interlace <= 1 &&
           imageSizeAllowed(h.width, h.height);
}

bool readHeader(ByteReader* reader, PngHeader& h) {
    std::span<const uint8_t> signature;
    Chunk chunk;
    if (!readSpan(reader, 8, signature) || std::memcmp(signature.data(), pngSignature, 8) != 0) return false;
    if (!readChunkStart(reader, chunk) || std::strcmp(chunk.type, "IHDR") != 0 || chunk.length != ihdrLength ||
        !readCheckedData(reader, chunk))
        return false;
    const uint8_t* d = chunk.typeAndData.data() + 4;
    h = PngHeader{bigEndian32(d), bigEndian32(d + 4), d[8], d[9], d[10], d[11], d[12]};
    return headerAccepted(h);
}

// Bytes of the filtered, stored rows: one filter byte and the packed samples
// per row, for each of the seven passes of an interlaced picture.
uint64_t storedDataSize(const PngHeader& h) {
    const uint64_t bits = uint64_t{h.depth} * pngChannels(h.colourType);
    auto rowsOf = [&](uint64_t width, uint64_t height) {
        return width == 0 || height == 0 ? 0 : height * (1 + (width * bits + 7) / 8);
    };
    if (h.interlace == 0) return rowsOf(h.width, h.height);
    constexpr uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    constexpr uint32_t y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    uint64_t total = 0;
    for (int p = 0; p < 7; ++p)
        total += rowsOf((uint64_t{h.width} + dx[p] - 1 - x0[p]) / dx[p], (uint64_t{h.height} + dy[p] - 1 - y0[p]) / dy[p]);
    return total;
}

struct Palette {
    uint8_t colours[256][3];
    uint32_t count = 0;
};

// Walks the chunks between IHDR and the image data: keeps the PLTE, skips
// ancillary chunks unread, refuses unknown critical ones. On success the
// cursor is at the start of the first IDAT chunk.
bool readUpToImageData(ByteReader* reader, const PngHeader& h, Palette& palette) {
    bool plteSeen = false;
    for (;;) {
        const uint32_t start = reader->cursor;
        Chunk chunk;
        if (!readChunkStart(reader, chunk)) return false;
        if (std::strcmp(chunk.type, "IDAT") == 0) {
            setCursor(reader, start);
            // A palette picture cannot be shown without its palette.
            return h.colourType != 3 || plteSeen;
        }
        if (std::strcmp(chunk.type, "PLTE") == 0) {
            if (plteSeen || !readCheckedData(reader, chunk)) return false;
            const uint32_t entries = chunk.length / 3;
            if (chunk.length % 3 != 0 || entries == 0 || entries > 256) return false;
            // Grey pictures have no use for a palette; colour ones may carry
            // one as a suggestion for displays with few colours.
            std::memcpy(palette.colours, chunk.typeAndData.data() + 4, chunk.length);
            palette.count = entries;
            plteSeen = true;
        } else if (isCritical(chunk)) {
            return false;  // IEND before any image data, or a chunk we cannot understand
        } else {
            // Text, colour profiles and the rest are never read, let alone inflated.
            if (bytesLeft(reader) < uint64_t{chunk.length} + 4) return false;
            skipBytes(reader, chunk.length + 4);
        }
    }
}

// The data bytes of the run of IDAT chunks that starts at the cursor, as
// far as the file holds them.
uint64_t imageDataLength(ByteReader reader) {
    uint64_t total = 0;
    Chunk chunk;
    while (readChunkStart(&reader, chunk) && std::strcmp(chunk.type, "IDAT") == 0) {
        const uint32_t left = bytesLeft(&reader);
        total += chunk.length < left ? chunk.length : left;
        skipBytes(&reader, chunk.length);
        skipBytes(&reader, 4);
    }
    return total;
}

// Where the codec's rows go.
struct PngTarget {
    Image* image;
    PngHeader header;
    const Palette* palette;
    uint8_t greyLevels[16];  // a packed grey value scaled to 0..255
    bool indexPastPalette = false;
};

bool beginPicture(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& t = *static_cast<PngTarget*>(context);
    if (width != t.header.width || height != t.header.height || channels != pngChannels(t.header.colourType))
        return false;
    const bool alpha = t.header.colourType == 4 || t.header.colourType == 6;
    return startImage(t.image, width, height, t.header.depth == 16 ? 16 : 8, alpha);
}

void paletteRow(PngTarget& t, const uint8_t* in, uint8_t* out, uint32_t width) {
    const Palette& p = *t.palette;
    const uint32_t depth = t.header.depth, mask = (1u << depth) - 1;
    for (uint32_t x = 0; x < width; ++x, out += 3) {
        const uint32_t bit = x * depth;
        const uint32_t index = (in[bit / 8] >> (8 - depth - bit % 8)) & mask;
        if (index >= p.count) {
            t.indexPastPalette = true;
            return;
        }
        std::memcpy(out, p.colours[index], 3);
    }
}

void convertRow(void* context, uint32_t y, const uint8_t* in) {
    auto& t = *static_cast<PngTarget*>(context);
    const uint32_t width = t.header.width;
    if (y >= t.header.height) return;
    const uint32_t channels = pngChannels(t.header.colourType);
    const bool colour = channels >= 3, alpha = channels % 2 == 0;
    const size_t outStep = alpha ? 4 : 3;
    if (t.header.depth == 16) {
        // Big-endian samples become native words; grey is repeated.
        uint16_t* out = reinterpret_cast<uint16_t*>(t.image->pixels) + outStep * width * y;
        const size_t step = size_t{2} * channels;
        for (uint32_t x = 0; x < width; ++x, in += step, out += outStep) {
            const auto sample = [in](size_t k) { return static_cast<uint16_t>((in[2 * k] << 8) | in[2 * k + 1]); };
            out[0] = sample(0);
            out[1] = colour ? sample(1) : out[0];
            out[2] = colour ? sample(2) : out[0];
            if (alpha) out[3] = sample(channels - 1);
        }
        return;
    }
    uint8_t* out = t.image->pixels + outStep * width * y;
    if (t.header.colourType == 3) {
        paletteRow(t, in, out, width);
    } else if (t.header.depth == 8) {
        if (channels == 3 || channels == 4) {
            std::memcpy(out, in, size_t{channels} * width);
        } else {
            for (uint32_t x = 0; x < width; ++x, in += channels, out += outStep) {
                out[0] = out[1] = out[2] = in[0];
                if (alpha) out[3] = in[1];
            }
        }
    } else {
        const uint32_t depth = t.header.depth, mask = (1u << depth) - 1;
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            const uint32_t bit = x * depth;
            out[0] = out[1] = out[2] = t.greyLevels[(in[bit / 8] >> (8 - depth - bit % 8)) & mask];
        }
    }
}

}  // namespace

bool readPng(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image) return false;
    resetImage(image);
    ByteReader reader = readerOver(file);
    PngHeader header{};
    Palette palette;
    bool ok = readHeader(&reader, header) && readUpToImageData(&reader, header, palette);
    // Image data too short to hold the picture is refused before anything
    // picture-sized is allocated.
    ok = ok && storedDataSize(header) <= deflateMaxRatio * (imageDataLength(reader) + 1);
    if (ok) {
        PngTarget target{image, header, &palette, {}};
        if (header.depth < 8)
            for (uint32_t v = 0, top = (1u << header.depth) - 1; v <= top; ++v)
                target.greyLevels[v] = static_cast<uint8_t>(v * 255 / top);
        const RowSink sink{&target, beginPicture, convertRow};
        ok = platformDecodePng(file, sink) && !target.indexPastPalette;
    }
    if (!ok) {
        resetImage(image);
        return false;
    }
    return true;
}

bool openPngRows(std::span<const uint8_t> file, PngRowsInPlace& rows) {
    if (file.size() > maxFileBytes) return false;
    ByteReader reader = readerOver(file);
    PngHeader header{};
    Palette palette;
    return readHeader(&reader, header) && readUpToImageData(&reader, header, palette) &&
           storedDataSize(header) <= deflateMaxRatio * (imageDataLength(reader) + 1) &&
           (header.colourType == 2 || header.colourType == 6) && rows.open(file);
}
