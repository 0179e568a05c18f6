// TIFF files: the first picture of the file, grey or red-green-blue, with or
// without alpha, 8 or 16 bits a sample, in strips or tiles, contiguous or in
// planes, uncompressed or compressed with LZW, Deflate or PackBits. The
// first directory is read and checked here, every strip and tile against
// the file's length, before anything picture-sized is allocated; the
// system's codec (platform/codecs.h) unpacks the samples, and they are put
// into the Image here by the same rules on every platform:
// - 8-bit samples give an 8-bit Image, 16-bit samples a 16-bit one;
// - grey is repeated into red, green and blue;
// - an alpha sample (associated or unassociated) is kept as stored, and the
//   colour samples of premultiplied pictures too: a normal map is data, so
//   nothing is divided back out;
// - every other extra sample is dropped, and no colour management is done.
// Kinds that are read differently by different decoders, or not at all by
// some (floating-point and signed samples, other orientations, palettes,
// CMYK, YCbCr, JPEG compression, BigTIFF), are refused as such, and
// the failure of a read names them.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "platform/codecs.h"
#include "readers/readers.h"

namespace {

enum Tag : uint16_t {
    imageWidth = 256,
    imageLength = 257,
    bitsPerSample = 258,
    compressionTag = 259,
    photometric = 262,
    fillOrder = 266,
    stripOffsets = 273,
    orientation = 274,
    samplesPerPixel = 277,
    rowsPerStrip = 278,
    stripByteCounts = 279,
    planarConfiguration = 284,
    predictor = 317,
    tileWidth = 322,
    tileLength = 323,
    tileOffsets = 324,
    tileByteCounts = 325,
    extraSamples = 338,
    sampleFormat = 339,
};

constexpr Tag knownTags[] = {imageWidth,      imageLength, bitsPerSample,   compressionTag, photometric,
                             fillOrder,       stripOffsets, orientation,    samplesPerPixel, rowsPerStrip,
                             stripByteCounts, planarConfiguration, predictor, tileWidth,    tileLength,
                             tileOffsets,     tileByteCounts, extraSamples, sampleFormat};
constexpr size_t knownTagCount = std::size(knownTags);

// The compressions both codecs read, and the most bytes of picture that one
// byte of compressed data can give, so that data too short to hold a strip
// is refused before anything is allocated for it.
struct Compression {
    uint32_t code;
    uint64_t maxRatio;
};
constexpr Compression readCompressions[] = {
    {1, 1},        // none
    {5, 3641},     // LZW: a code of at least 9 bits gives at most 4096 bytes
    {8, 1032},     // Deflate: a 258-byte copy coded in two bits
    {32946, 1032},  // Deflate under its older number
    {32773, 64},   // PackBits: two bytes repeat one byte 128 times
};

// A picture holds at most this many samples a pixel (RGBA and four more).
constexpr uint32_t maxSamples = 8;
// A tile may be larger than the picture (writers tile small pictures in
// 256 x 256 tiles), but not larger than the picture's bytes or this.
constexpr uint64_t maxSpareTileBytes = uint64_t{1} << 22;
// No tile side is longer than this (which also keeps the sizes below in
// 64 bits).
constexpr uint32_t maxTileSide = 65536;

// The kind of picture the calling thread's last readTiffLayout refused, for
// the failure of the read; empty when it refused the file as damaged.
thread_local char refusedKind[128];

bool refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool refuse(const char* format, ...) {
    va_list list;
    va_start(list, format);
    std::vsnprintf(refusedKind, sizeof refusedKind, format, list);
    va_end(list);
    return false;
}

struct Field {
    bool present = false;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t at = 0;  // file offset of the first value
};

struct Directory {
    bool bigEndian = false;
    Field fields[knownTagCount];

    const Field& operator[](Tag tag) const {
        for (size_t i = 0; i < knownTagCount; ++i)
            if (knownTags[i] == tag) return fields[i];
        return fields[0];  // not reached: every Tag is known
    }
};

uint32_t typeSize(uint16_t type) {
    switch (type) {
        case 1: return 1;  // BYTE
        case 3: return 2;  // SHORT
        case 4: return 4;  // LONG
        default: return 0;
    }
}

bool readNumber(ByteReader* reader, bool bigEndian, uint32_t at, uint32_t size, uint32_t& value) {
    setCursor(reader, at);
    std::span<const uint8_t> b;
    if (!readSpan(reader, size, b)) return false;
    value = 0;
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t byte = b[bigEndian ? i : size - 1 - i];
        value = (value << 8) | byte;
    }
    return true;
}

// Value `index` of a field of whole numbers.
bool fieldValue(ByteReader* reader, const Directory& dir, const Field& field, uint32_t index, uint32_t& value) {
    const uint32_t size = typeSize(field.type);
    if (!field.present || size == 0 || index >= field.count) return false;
    return readNumber(reader, dir.bigEndian, field.at + index * size, size, value);
}

// The first value of a field, or `fallback` when the file leaves it out.
bool singleValue(ByteReader* reader, const Directory& dir, Tag tag, uint32_t fallback, uint32_t& value) {
    const Field& field = dir[tag];
    if (!field.present) {
        value = fallback;
        return true;
    }
    return fieldValue(reader, dir, field, 0, value);
}

// Reads the header and the first directory: every known tag at most once,
// each of a whole-number type, its values within the file.
bool readDirectory(ByteReader* reader, Directory& dir) {
    std::span<const uint8_t> order;
    setCursor(reader, 0);
    if (!readSpan(reader, 2, order)) return false;
    if (order[0] == 'I' && order[1] == 'I')
        dir.bigEndian = false;
    else if (order[0] == 'M' && order[1] == 'M')
        dir.bigEndian = true;
    else
        return false;
    uint32_t magic = 0, first = 0;
    if (!readNumber(reader, dir.bigEndian, 2, 2, magic)) return false;
    if (magic == 43) return refuse("the BigTIFF layout");
    if (magic != 42 || !readNumber(reader, dir.bigEndian, 4, 4, first) || first < 8) return false;
    uint32_t entries = 0;
    if (!readNumber(reader, dir.bigEndian, first, 2, entries) || entries == 0) return false;
    if (uint64_t{first} + 2 + uint64_t{entries} * 12 > reader->length) return false;
    for (uint32_t e = 0; e < entries; ++e) {
        const uint32_t at = first + 2 + 12 * e;
        uint32_t tag = 0, type = 0, count = 0;
        if (!readNumber(reader, dir.bigEndian, at, 2, tag) || !readNumber(reader, dir.bigEndian, at + 2, 2, type) ||
            !readNumber(reader, dir.bigEndian, at + 4, 4, count))
            return false;
        const auto known = std::find(std::begin(knownTags), std::end(knownTags), tag);
        if (known == std::end(knownTags)) continue;
        Field& field = dir.fields[known - std::begin(knownTags)];
        // Decoders disagree on which of two copies of a tag counts.
        if (field.present) return false;
        const uint32_t size = typeSize(static_cast<uint16_t>(type));
        if (size == 0 || count == 0) return false;
        const uint64_t bytes = uint64_t{count} * size;
        uint32_t valueAt = at + 8;
        if (bytes > 4 && !readNumber(reader, dir.bigEndian, at + 8, 4, valueAt)) return false;
        if (uint64_t{valueAt} + bytes > reader->length) return false;
        field = {true, static_cast<uint16_t>(type), count, valueAt};
    }
    return true;
}

const char* photometricName(uint32_t value) {
    switch (value) {
        case 0: return "white-is-zero grey";
        case 3: return "palette colour";
        case 4: return "a transparency mask";
        case 5: return "CMYK colour";
        case 6: return "YCbCr colour";
        case 8: case 9: case 10: return "CIE L*a*b* colour";
        default: return nullptr;
    }
}

const char* compressionName(uint32_t value) {
    switch (value) {
        case 2: case 3: case 4: case 32771: return "CCITT fax";
        case 6: case 7: return "JPEG";
        case 34925: return "LZMA";
        case 50000: return "Zstandard";
        case 50001: return "WebP";
        default: return nullptr;
    }
}

// Every value of a per-sample field equals the first.
bool sameForEverySample(ByteReader* reader, const Directory& dir, Tag tag, uint32_t samples, uint32_t first) {
    const Field& field = dir[tag];
    for (uint32_t s = 1; field.present && s < std::min(field.count, samples); ++s) {
        uint32_t value = 0;
        if (!fieldValue(reader, dir, field, s, value) || value != first) return false;
    }
    return true;
}

// The sample format, depth, colour space and extra samples; false (with the
// reason for kinds that are not read) when the picture is not one read here.
bool readSampleLayout(ByteReader* reader, const Directory& dir, TiffLayout& layout) {
    uint32_t samples = 0, bits = 0, format = 0, colourSpace = 0;
    if (!singleValue(reader, dir, samplesPerPixel, 1, samples) || samples == 0) return false;
    if (samples > maxSamples) return refuse("%u samples a pixel", samples);
    if (!singleValue(reader, dir, sampleFormat, 1, format)) return false;
    if (!singleValue(reader, dir, bitsPerSample, 1, bits)) return false;
    if (!sameForEverySample(reader, dir, sampleFormat, samples, format) ||
        !sameForEverySample(reader, dir, bitsPerSample, samples, bits))
        return refuse("samples of different kinds or sizes");
    if (format == 3) return refuse("%u-bit floating-point samples", bits);
    if (format == 2) return refuse("signed integer samples");
    if (format != 1) return refuse("samples of SampleFormat %u", format);
    if (bits != 8 && bits != 16) return refuse("%u-bit samples", bits);

    if (!dir[photometric].present || !fieldValue(reader, dir, dir[photometric], 0, colourSpace)) return false;
    if (colourSpace != 1 && colourSpace != 2) {
        if (const char* name = photometricName(colourSpace))
            return refuse("%s", name);
        return refuse("PhotometricInterpretation %u", colourSpace);
    }
    layout.colourSamples = colourSpace == 2 ? 3 : 1;
    if (samples < layout.colourSamples) return false;

    // The first extra sample marked as alpha, associated (1) or not (2).
    // Extra samples left unmarked are other data, dropped.
    layout.alphaSample = -1;
    const Field& extras = dir[extraSamples];
    if (extras.present && extras.count > samples - layout.colourSamples) return false;
    for (uint32_t e = 0; extras.present && e < extras.count; ++e) {
        uint32_t kind = 0;
        if (!fieldValue(reader, dir, extras, e, kind)) return false;
        if ((kind == 1 || kind == 2) && layout.alphaSample < 0)
            layout.alphaSample = static_cast<int32_t>(layout.colourSamples + e);
    }
    layout.samples = samples;
    layout.sampleBits = bits;
    return true;
}

// Compression, predictor, bit order, orientation and planar configuration.
bool readStorage(ByteReader* reader, const Directory& dir, TiffLayout& layout, uint64_t& maxRatio) {
    uint32_t scheme = 0, prediction = 0, bitOrder = 0, turn = 0, planes = 0;
    if (!singleValue(reader, dir, compressionTag, 1, scheme) || !singleValue(reader, dir, predictor, 1, prediction) ||
        !singleValue(reader, dir, fillOrder, 1, bitOrder) || !singleValue(reader, dir, orientation, 1, turn) ||
        !singleValue(reader, dir, planarConfiguration, 1, planes))
        return false;
    if (turn != 1)
        return refuse("Orientation %u (rows not stored top row first, left to right)", turn);
    const auto known = std::find_if(std::begin(readCompressions), std::end(readCompressions),
                                    [&](const Compression& c) { return c.code == scheme; });
    if (known == std::end(readCompressions)) {
        if (const char* name = compressionName(scheme))
            return refuse("%s compression", name);
        return refuse("Compression %u", scheme);
    }
    maxRatio = known->maxRatio;
    if (prediction != 1 && prediction != 2)
        return refuse("Predictor %u", prediction);
    if (bitOrder != 1) return refuse("FillOrder %u (the bits of each byte reversed)", bitOrder);
    if (planes != 1 && planes != 2) return false;
    layout.planar = planes == 2 && layout.samples > 1;
    return true;
}

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The strips or tiles: present, as many as the picture needs, each lying in
// the file and long enough to hold its part of the picture at the
// compression's best ratio.
bool checkUnits(ByteReader* reader, const Directory& dir, TiffLayout& layout, uint64_t maxRatio) {
    const uint64_t sampleBytes = layout.sampleBits / 8;
    const uint64_t unitSamples = layout.planar ? 1 : layout.samples;
    const uint64_t planes = layout.planar ? layout.samples : 1;
    uint64_t unitWidth = layout.width, unitHeight = 0, across = 1, down = 0;
    Tag offsetsTag = stripOffsets, countsTag = stripByteCounts;
    layout.tiled = dir[tileWidth].present || dir[tileLength].present || dir[tileOffsets].present;
    if (layout.tiled) {
        uint32_t tw = 0, th = 0;
        if (!singleValue(reader, dir, tileWidth, 0, tw) || !singleValue(reader, dir, tileLength, 0, th) || tw == 0 ||
            th == 0 || tw > maxTileSide || th > maxTileSide)
            return false;
        unitWidth = tw;
        unitHeight = th;
        across = ceilDiv(layout.width, tw);
        offsetsTag = tileOffsets;
        countsTag = tileByteCounts;
        const uint64_t pictureBytes = uint64_t{layout.width} * layout.height * layout.samples * sampleBytes;
        if (unitWidth * unitHeight * unitSamples * sampleBytes > std::max(pictureBytes, maxSpareTileBytes)) return false;
    } else {
        uint32_t rows = 0;
        if (!singleValue(reader, dir, rowsPerStrip, 0xFFFFFFFFu, rows) || rows == 0) return false;
        unitHeight = std::min<uint64_t>(rows, layout.height);
    }
    down = ceilDiv(layout.height, unitHeight);
    const uint64_t units = across * down * planes;
    const Field& offsets = dir[offsetsTag];
    const Field& counts = dir[countsTag];
    // (Without byte counts decoders guess them, each its own way.)
    if (!offsets.present || !counts.present || offsets.count < units || counts.count < units) return false;
    for (uint32_t u = 0; u < units; ++u) {
        uint32_t offset = 0, count = 0;
        if (!fieldValue(reader, dir, offsets, u, offset) || !fieldValue(reader, dir, counts, u, count)) return false;
        if (uint64_t{offset} + count > reader->length) return false;
        // Strips at the foot of the picture hold only its remaining rows.
        const uint64_t row = (u % (across * down)) / across * unitHeight;
        const uint64_t rows = layout.tiled ? unitHeight : std::min(unitHeight, layout.height - row);
        const uint64_t decoded = unitWidth * rows * unitSamples * sampleBytes;
        if (decoded > uint64_t{count} * maxRatio) return false;
    }
    return true;
}

bool readTiffLayout(ByteReader* reader, TiffLayout& layout) {
    refusedKind[0] = '\0';
    Directory dir;
    uint32_t width = 0, height = 0;
    uint64_t maxRatio = 0;
    if (!readDirectory(reader, dir) || !dir[imageWidth].present || !dir[imageLength].present ||
        !singleValue(reader, dir, imageWidth, 0, width) || !singleValue(reader, dir, imageLength, 0, height) ||
        width == 0 || height == 0)
        return false;
    if (!imageSizeAllowed(width, height))
        return refuse("%u x %u pixels (more than 2^28)", width, height);
    layout.width = width;
    layout.height = height;
    return readSampleLayout(reader, dir, layout) && readStorage(reader, dir, layout, maxRatio) &&
           checkUnits(reader, dir, layout, maxRatio);
}

struct TiffTarget {
    Image* image;
    const TiffLayout* layout;
    uint32_t channels = 0;  // of each row handed over
    uint32_t nextRow = 0;
};

bool beginPicture(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& t = *static_cast<TiffTarget*>(context);
    const TiffLayout& layout = *t.layout;
    const bool alpha = layout.alphaSample >= 0;
    if (width != layout.width || height != layout.height || channels != layout.colourSamples + (alpha ? 1 : 0))
        return false;
    t.channels = channels;
    return startImage(t.image, width, height, static_cast<int>(layout.sampleBits), alpha);
}

// Spreads one row of `in` samples of type Sample into the Image's row:
// grey repeated, alpha (when there is one) last.
template <typename Sample>
void spreadRow(const uint8_t* in, uint8_t* out, size_t width, uint32_t channels, bool alpha) {
    const uint32_t step = alpha ? 4 : 3;
    Sample s[4];
    for (size_t x = 0; x < width; ++x, in += channels * sizeof(Sample), out += step * sizeof(Sample)) {
        std::memcpy(s, in, channels * sizeof(Sample));
        if (channels - (alpha ? 1 : 0) == 1) {
            if (alpha) s[3] = s[1];
            s[1] = s[2] = s[0];
        }
        std::memcpy(out, s, step * sizeof(Sample));
    }
}

void takeRow(void* context, uint32_t y, const uint8_t* in) {
    auto& t = *static_cast<TiffTarget*>(context);
    if (y != t.nextRow || y >= static_cast<uint32_t>(t.image->height)) return;
    ++t.nextRow;
    const size_t width = static_cast<uint32_t>(t.image->width);
    uint8_t* out = t.image->pixels + static_cast<size_t>(t.image->rowBytes) * y;
    const bool alpha = t.image->hasAlpha != 0;
    if (t.channels == 3 || t.channels == 4) {
        std::memcpy(out, in, static_cast<size_t>(t.image->rowBytes));
    } else if (t.layout->sampleBits == 16) {
        spreadRow<uint16_t>(in, out, width, t.channels, alpha);
    } else {
        spreadRow<uint8_t>(in, out, width, t.channels, alpha);
    }
}

}  // namespace

bool readTiff(std::span<const uint8_t> file, Image* image, LoadFailure& failure) {
    if (!image) return false;
    resetImage(image);
    ByteReader reader = readerOver(file);
    TiffLayout layout;
    bool ok = readTiffLayout(&reader, layout);
    if (!ok && refusedKind[0]) {
        failure.problem = LoadProblem::refusedKind;
        std::snprintf(failure.text, sizeof failure.text, "%s", refusedKind);
    }
    TiffTarget target{image, &layout};
    if (ok) {
        const RowSink sink{&target, beginPicture, takeRow};
        ok = platformDecodeTiff(file, layout, sink);
    }
    if (!ok || target.nextRow != layout.height) {
        resetImage(image);
        return false;
    }
    return true;
}
