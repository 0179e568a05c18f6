// OpenEXR files, read into a FloatPicture. The layout is the one the
// OpenEXR project's document "OpenEXR File Layout" gives: a magic
// number, a version field with flags, one header (or, in a multi-part file,
// several, ended by an empty one) of named, typed and sized attributes, the
// chunk offset tables, and the chunks. Every header is walked and checked
// here through the bounded reader before the library (behind
// platform/codecs.h) sees the bytes, so that nothing the library allocates
// from a header's numbers is out of proportion to the file:
// - every attribute lies within the file, and the two kinds whose value the
//   library sizes from numbers of its own (preview images, string vectors)
//   hold what those numbers say;
// - every part's data window is within the picture limits, and its chunk
//   offset table and the chunks' own headers fit in the file;
// - the first part's samples are at most its compression's best ratio times
//   the file, and one chunk of them at most the whole picture (or 16 MiB);
// - the first part's offset table points to every chunk within the file, the
//   chunks read are where the table says and hold no more than their
//   samples (stored samples exactly those), so that the library neither
//   searches a damaged file for its chunks nor reads past a short one.
// The first part's channels are chosen here; the library only unpacks them.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codecs.h"
#include "readers/float_picture.h"

namespace {

constexpr uint32_t exrMagic = 20000630;
// The version field: the format's version in the low byte, then flags.
constexpr uint32_t singlePartTiled = 0x200;
constexpr uint32_t longNames = 0x400;
constexpr uint32_t nonImage = 0x800;  // deep data
constexpr uint32_t multiPart = 0x1000;
constexpr uint32_t knownFlags = singlePartTiled | longNames | nonImage | multiPart;

// The kind of file the calling thread's last walk refused, for the failure;
// empty when it refused the file as damaged.
thread_local char refusedKind[96];

bool refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool refuse(const char* format, ...) {
    va_list list;
    va_start(list, format);
    std::vsnprintf(refusedKind, sizeof refusedKind, format, list);
    va_end(list);
    return false;
}

// The compressions the library reads (numbered as the format numbers them):
// the scan lines a chunk of a scanline part holds, and the most bytes of
// samples one byte of a chunk can give. RLE gives at most 128 bytes for 2;
// deflate (ZIP, and after PXR24's 24-bit floats) at most 1032 for 1; PIZ's
// Huffman code with its runs of up to 255 values in at least 10 bits about
// 410; B44 at most 32 for 3 (a flat block). DWA's channels could reach
// 64 x 1032 (RLE, then deflate), but the header of every chunk (about 100
// bytes for 32 or 256 scan lines) keeps real files far below 8192 unless
// they are flat and tens of thousands of pixels wide; those few are refused
// so that no file asks for more than 8192 x 2 times its size in floats.
// Each of the others is rounded up, with room.
struct Compression {
    uint32_t linesPerChunk;
    uint64_t maxRatio;
};
constexpr Compression compressions[] = {
    {1, 1},            // none
    {1, 64},           // RLE
    {1, 1032},         // ZIPS
    {16, 1032},        // ZIP
    {32, 4096},        // PIZ
    {16, 1400},        // PXR24
    {32, 12},          // B44
    {32, 12},          // B44A
    {32, 8192},        // DWAA
    {256, 8192},       // DWAB
};

// One chunk of a picture's samples may be as large as the picture, or this.
constexpr uint64_t chunkAllowance = uint64_t{1} << 24;

struct Channel {
    std::string_view name;  // within the file, followed by its NUL
    uint32_t type = 0;      // 0 unsigned int, 1 half, 2 float
    int32_t xSampling = 1;
    int32_t ySampling = 1;
};

constexpr uint64_t sampleBytes(uint32_t type) { return type == 1 ? 2 : 4; }

// What one header says, as far as the checks need it.
struct Part {
    std::vector<Channel> channels;
    bool hasChannels = false, hasCompression = false, hasWindow = false, hasTiles = false;
    uint32_t compression = 0;
    int32_t window[4] = {};  // xMin, yMin, xMax, yMax
    uint32_t tileWidth = 0, tileHeight = 0;
    uint8_t levelMode = 0;  // tiled parts: 0 one level, 1 mipmaps, 2 ripmaps
    bool roundUp = false;   // levels' sizes rounded up rather than down
    std::string_view type;    // multi-part files: scanlineimage, tiledimage, deepscanline or deeptile
    uint32_t chunkCount = 0;  // multi-part files: what the header says
    bool tiled = false;
    bool deep = false;

    uint64_t width() const { return static_cast<uint64_t>(int64_t{window[2]} - window[0] + 1); }
    uint64_t height() const { return static_cast<uint64_t>(int64_t{window[3]} - window[1] + 1); }
};

// A NUL-terminated name of at most `longest` bytes; `name` shows it within
// the file (its NUL right after it).
bool readName(ByteReader* reader, uint32_t longest, std::string_view& name) {
    const uint32_t start = reader->cursor;
    for (uint32_t length = 0; length <= longest; ++length) {
        uint8_t c = 0;
        if (!readU8(reader, c)) return false;
        if (c != 0) continue;
        std::span<const uint8_t> view;
        setCursor(reader, start);
        if (!readSpan(reader, length, view)) return false;
        skipBytes(reader, 1);
        name = std::string_view(reinterpret_cast<const char*>(view.data()), length);
        return true;
    }
    return false;
}

bool readI32(ByteReader* reader, int32_t& value) {
    uint32_t bits = 0;
    if (!readU32(reader, bits)) return false;
    value = static_cast<int32_t>(bits);
    return true;
}

bool readChannels(ByteReader* value, uint32_t longest, Part& part) {
    for (;;) {
        std::string_view name;
        if (!readName(value, longest, name)) return false;
        if (name.empty()) return bytesLeft(value) == 0;
        Channel channel;
        channel.name = name;
        uint8_t linear = 0, reserved[3];
        if (!readU32(value, channel.type) || !readU8(value, linear) || !readBlock(value, 3, reserved) ||
            !readI32(value, channel.xSampling) || !readI32(value, channel.ySampling))
            return false;
        if (channel.type > 2 || channel.xSampling < 1 || channel.ySampling < 1) return false;
        part.channels.push_back(channel);
    }
}

// A preview image holds exactly the width x height RGBA bytes it declares.
bool previewFits(ByteReader* value) {
    uint32_t width = 0, height = 0;
    return readU32(value, width) && readU32(value, height) &&
           uint64_t{width} * height * 4 == bytesLeft(value);
}

// Every string of a string vector lies within the value.
bool stringsFit(ByteReader* value) {
    while (bytesLeft(value) > 0) {
        uint32_t length = 0;
        if (!readU32(value, length) || length > bytesLeft(value)) return false;
        skipBytes(value, length);
    }
    return true;
}

// The value of one attribute the checks need, or the checks some kinds of
// value need; every other value is only skipped.
bool readValue(std::string_view name, std::string_view type, std::span<const uint8_t> bytes, uint32_t longest,
               Part& part) {
    ByteReader value = readerOver(bytes);
    if (type == "preview") return previewFits(&value);
    if (type == "stringvector") return stringsFit(&value);
    if (name == "channels") {
        part.hasChannels = true;
        return type == "chlist" && readChannels(&value, longest, part);
    }
    if (name == "compression") {
        uint8_t scheme = 0;
        part.hasCompression = true;
        part.compression = bytes.size() == 1 && readU8(&value, scheme) ? scheme : 0xFF;
        return type == "compression" && part.compression < std::size(compressions);
    }
    if (name == "dataWindow") {
        part.hasWindow = true;
        for (int32_t& edge : part.window)
            if (!readI32(&value, edge)) return false;
        return type == "box2i" && bytes.size() == 16;
    }
    if (name == "tiles") {
        uint8_t mode = 0;
        part.hasTiles = true;
        if (type != "tiledesc" || bytes.size() != 9 || !readU32(&value, part.tileWidth) ||
            !readU32(&value, part.tileHeight) || !readU8(&value, mode))
            return false;
        part.levelMode = mode & 0x0F;
        part.roundUp = (mode >> 4) == 1;
        return part.tileWidth > 0 && part.tileHeight > 0 && part.levelMode <= 2 && (mode >> 4) <= 1;
    }
    if (name == "type") {
        part.type = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return type == "string";
    }
    if (name == "chunkCount") {
        int32_t count = 0;
        if (type != "int" || !readI32(&value, count) || count < 0) return false;
        part.chunkCount = static_cast<uint32_t>(count);
    }
    return true;
}

// One header, up to and including its closing NUL.
bool readHeader(ByteReader* reader, uint32_t longest, Part& part) {
    for (;;) {
        std::string_view name, type;
        if (!readName(reader, longest, name)) return false;
        if (name.empty()) return true;
        uint32_t size = 0;
        std::span<const uint8_t> bytes;
        if (!readName(reader, longest, type) || !readU32(reader, size) || !readSpan(reader, size, bytes) ||
            !readValue(name, type, bytes, longest, part))
            return false;
    }
}

// The levels of a tiled part along one side of `size` pixels, and the size
// of level `level`, as the format rounds them.
uint32_t levelCount(uint64_t size, bool roundUp) {
    uint32_t log = 0;
    while ((uint64_t{1} << (log + 1)) <= size) ++log;
    if (roundUp && (uint64_t{1} << log) < size) ++log;
    return log + 1;
}
uint64_t levelSize(uint64_t size, uint32_t level, bool roundUp) {
    const uint64_t step = uint64_t{1} << level;
    return std::max<uint64_t>(roundUp ? (size + step - 1) / step : size / step, 1);
}
uint64_t tilesOver(const Part& part, uint64_t width, uint64_t height) {
    return ((width + part.tileWidth - 1) / part.tileWidth) * ((height + part.tileHeight - 1) / part.tileHeight);
}

// A part's chunks as its offset table counts them: the scan-line blocks, or
// the tiles of every level.
uint64_t chunksOf(const Part& part) {
    if (!part.tiled) {
        const uint64_t lines = compressions[part.compression].linesPerChunk;
        return (part.height() + lines - 1) / lines;
    }
    const uint64_t w = part.width(), h = part.height();
    if (part.levelMode == 0) return tilesOver(part, w, h);
    uint64_t tiles = 0;
    if (part.levelMode == 1) {
        for (uint32_t l = 0, n = levelCount(std::max(w, h), part.roundUp); l < n; ++l)
            tiles += tilesOver(part, levelSize(w, l, part.roundUp), levelSize(h, l, part.roundUp));
        return tiles;
    }
    for (uint32_t ly = 0, ny = levelCount(h, part.roundUp); ly < ny; ++ly)
        for (uint32_t lx = 0, nx = levelCount(w, part.roundUp); lx < nx; ++lx)
            tiles += tilesOver(part, levelSize(w, lx, part.roundUp), levelSize(h, ly, part.roundUp));
    return tiles;
}

// The first part's offset table, starting at `reader`'s cursor, and the
// chunks it points to: every offset lies past the tables (which end at
// `tablesEnd`) with the chunk's header and data within the file, and each
// chunk the picture is read from is the one its place in the table names,
// with no more bytes than its samples take (exactly those when they are
// stored as they are). The library copes with a damaged table by searching
// the file for chunks, and trusts a chunk's own size; a file that needs
// either is refused here.
bool firstTableSound(ByteReader reader, std::span<const uint8_t> file, const Part& part, bool multi,
                     uint64_t tablesEnd, uint64_t pixelBytes) {
    const uint64_t entries = multi ? part.chunkCount : chunksOf(part);
    const uint64_t linesPerChunk = compressions[part.compression].linesPerChunk;
    const uint64_t across = part.tiled ? (part.width() + part.tileWidth - 1) / part.tileWidth : 1;
    const uint64_t readChunks = part.tiled ? tilesOver(part, part.width(), part.height()) : entries;
    for (uint64_t i = 0; i < entries; ++i) {
        uint64_t offset = 0;
        uint32_t low = 0, high = 0;
        if (!readU32(&reader, low) || !readU32(&reader, high)) return false;
        offset = uint64_t{high} << 32 | low;
        if (offset < tablesEnd || offset >= file.size()) return false;
        ByteReader chunk = readerOver(file.subspan(static_cast<size_t>(offset)));
        int32_t number = 0, coordinates[4] = {}, size = 0;
        if (multi && (!readI32(&chunk, number) || number != 0)) return false;
        for (int k = 0; k < (part.tiled ? 4 : 1); ++k)
            if (!readI32(&chunk, coordinates[k])) return false;
        if (!readI32(&chunk, size) || size < 0 || static_cast<uint64_t>(size) > bytesLeft(&chunk)) return false;
        if (i >= readChunks) continue;
        uint64_t pixels = 0;
        if (part.tiled) {
            const uint64_t tx = i % across, ty = i / across;
            if (static_cast<uint64_t>(coordinates[0]) != tx || static_cast<uint64_t>(coordinates[1]) != ty ||
                coordinates[2] != 0 || coordinates[3] != 0)
                return false;
            pixels = std::min<uint64_t>(part.tileWidth, part.width() - tx * part.tileWidth) *
                     std::min<uint64_t>(part.tileHeight, part.height() - ty * part.tileHeight);
        } else {
            if (int64_t{coordinates[0]} != part.window[1] + static_cast<int64_t>(i * linesPerChunk)) return false;
            pixels = part.width() * std::min(linesPerChunk, part.height() - i * linesPerChunk);
        }
        const uint64_t samples = pixels * pixelBytes;
        if (static_cast<uint64_t>(size) > samples || (part.compression == 0 && static_cast<uint64_t>(size) != samples))
            return false;
    }
    return true;
}

// The checks every part must pass, the first or not.
bool partSound(Part& part, uint32_t version, bool multi) {
    if (!part.hasChannels || !part.hasCompression || !part.hasWindow) return false;
    if (multi) {
        part.tiled = part.type == "tiledimage" || part.type == "deeptile";
        part.deep = part.type == "deepscanline" || part.type == "deeptile";
        if (!part.deep && !part.tiled && part.type != "scanlineimage") return false;
    } else {
        part.tiled = (version & singlePartTiled) != 0;
        part.deep = (version & nonImage) != 0;
    }
    if (part.tiled && !part.hasTiles) return false;
    if (part.window[2] < part.window[0] || part.window[3] < part.window[1]) return false;
    return imageSizeAllowed(static_cast<int64_t>(part.width()), static_cast<int64_t>(part.height()));
}

// Picks the channels of the first part that are read: its only one, or R,
// G, B (and A). False, with the kind refused, for any other set.
bool chooseChannels(const Part& part, ExrLayout& layout) {
    const std::vector<Channel>& channels = part.channels;
    const auto find = [&](std::string_view colour) -> const Channel* {
        for (const Channel& channel : channels)
            if (channel.name == colour) return &channel;
        return nullptr;
    };
    const Channel* const colours[] = {find("R"), find("G"), find("B"), find("A")};
    const size_t count = channels.size();
    if (count == 1) {
        layout.channels = 1;
        layout.names[0] = channels[0].name.data();
    } else if ((count == 3 || count == 4) && colours[0] && colours[1] && colours[2] && (count == 3 || colours[3])) {
        layout.channels = static_cast<uint32_t>(count);
        for (size_t c = 0; c < count; ++c) layout.names[c] = colours[c]->name.data();
    } else {
        // "5 channels (A, B, G, R, Z)": the names as far as they fit.
        std::string names;
        for (const Channel& channel : channels) names += (names.empty() ? "" : ", ") + std::string(channel.name);
        if (names.size() > 60) names = names.substr(0, 57) + "...";
        return refuse("%u channels (%s)", static_cast<unsigned>(count), names.c_str());
    }
    for (const Channel& channel : channels)
        if (channel.xSampling != 1 || channel.ySampling != 1) return refuse("subsampled channels");
    return true;
}

// Walks the headers and checks them; on success `layout` holds the first
// part's data window and the channels read.
bool walkFile(std::span<const uint8_t> file, ExrLayout& layout) {
    ByteReader reader = readerOver(file);
    uint32_t magic = 0, version = 0;
    if (!readU32(&reader, magic) || magic != exrMagic || !readU32(&reader, version)) return false;
    if ((version & 0xFF) != 2 || (version & ~(0xFFu | knownFlags)) != 0) return false;
    const uint32_t longest = version & longNames ? 255 : 31;
    const bool multi = (version & multiPart) != 0;
    if (!multi && (version & nonImage)) return refuse("deep data");
    std::vector<Part> parts;
    for (;;) {
        if (multi && bytesLeft(&reader) > 0 && parts.size() > 0) {
            // An empty header (a lone NUL) ends the list.
            uint8_t next = 0;
            const uint32_t at = reader.cursor;
            if (!readU8(&reader, next)) return false;
            if (next == 0) break;
            setCursor(&reader, at);
        }
        Part part;
        if (!readHeader(&reader, longest, part) || !partSound(part, version, multi)) return false;
        parts.push_back(std::move(part));
        if (!multi) break;
    }
    // Every chunk has its offset (8 bytes) and a header of its own (at least
    // 8 bytes) in the file.
    uint64_t chunks = 0;
    for (const Part& part : parts) chunks += multi ? part.chunkCount : chunksOf(part);
    if (chunks > (file.size() - reader.cursor) / 16) return false;

    const Part& first = parts.front();
    if (first.deep) return refuse("deep data");
    if (multi && first.chunkCount != chunksOf(first)) return false;
    if (!chooseChannels(first, layout)) return false;
    uint64_t pixelBytes = 0;
    for (const Channel& channel : first.channels) pixelBytes += sampleBytes(channel.type);
    if (!firstTableSound(reader, file, first, multi, reader.cursor + chunks * 8, pixelBytes)) return false;
    const uint64_t pictureBytes = pixelBytes * first.width() * first.height();
    if (pictureBytes > compressions[first.compression].maxRatio * file.size()) return false;
    if (first.tiled && uint64_t{first.tileWidth} * first.tileHeight > maxImagePixels) return false;
    const uint64_t chunkBytes = first.tiled ? pixelBytes * first.tileWidth * first.tileHeight
                                            : pixelBytes * first.width() * compressions[first.compression].linesPerChunk;
    if (chunkBytes > std::max(pictureBytes, chunkAllowance)) return false;
    layout.left = first.window[0];
    layout.top = first.window[1];
    layout.right = first.window[2];
    layout.bottom = first.window[3];
    return true;
}

}  // namespace

bool readExr(std::span<const uint8_t> file, FloatPicture* picture, LoadFailure& failure) {
    if (!picture) return false;
    picture->reset();
    refusedKind[0] = '\0';
    ExrLayout layout;
    if (!walkFile(file, layout)) {
        if (refusedKind[0]) {
            failure.problem = LoadProblem::refusedKind;
            std::snprintf(failure.text, sizeof failure.text, "%s", refusedKind);
        }
        return false;
    }
    if (!platformHasOpenExr()) {
        failure.problem = LoadProblem::refusedKind;
        std::snprintf(failure.text, sizeof failure.text, "any kind (this build has no OpenEXR library)");
        return false;
    }
    const auto width = static_cast<uint64_t>(int64_t{layout.right} - layout.left + 1);
    const auto height = static_cast<uint64_t>(int64_t{layout.bottom} - layout.top + 1);
    const uint64_t bytes = width * height * layout.channels * sizeof(float);
    if (bytes > SIZE_MAX) return false;
    auto* samples = static_cast<float*>(std::malloc(static_cast<size_t>(bytes)));
    if (!samples) return false;
    char reason[nameBufferSize] = {};
    if (!platformDecodeExr(file, layout, samples, reason)) {
        std::free(samples);
        std::snprintf(failure.text, sizeof failure.text, "%s", reason);
        return false;
    }
    picture->samples = samples;
    picture->width = static_cast<uint32_t>(width);
    picture->height = static_cast<uint32_t>(height);
    picture->channels = layout.channels;
    return true;
}
