// TIFF files: the first picture of the file, as other programs write it.
// The first directory (classic TIFF or BigTIFF) is read and checked here,
// every strip and tile against the file's length and against the most that
// its compression can hold, before anything picture-sized is allocated; the
// system's codec (platform/codecs.h) decompresses the samples, and they are
// put into the Image here by the same rules on every platform:
// - grey, palette and RGB pictures of 1 to 16 bits a sample: 8 bits or
//   fewer give an 8-bit Image, widened as v x 255 / max rounded (exact for
//   1, 2 and 4 bits: 255, 85 and 17 times v); 9 to 16 bits a 16-bit Image,
//   widened as v x 65535 / max rounded (12 bits: (v x 65535 + 2047) / 4095);
// - grey is repeated into red, green and blue; white-is-zero grey is turned
//   round (max - v) first;
// - a palette picture is read as the RGB its ColorMap gives: 8-bit when the
//   colours there are 8-bit colours as writers widen them (every one a
//   multiple of 257, or every one of 256, or all below 256), 16-bit
//   otherwise, so that no colour loses a bit;
// - YCbCr comes from the codec as 8-bit RGB (for JPEG-compressed files the
//   JPEG library's own conversion, as for JPEG files);
// - an alpha sample is kept; associated alpha (ExtraSamples 1, colour
//   premultiplied) is divided out: c = round(c x max / a), clamped to max.
//   Where alpha is 0 the colour is left as stored: a premultiplying writer
//   stores black there, and anything else there is data worth keeping;
// - floating-point samples (32-bit, or 16-bit halves) hold normals in
//   -1..1 and give a 16-bit Image, encoded as the 16-bit road encodes
//   normals: the integer part of t x 32767 + 32768, clamped to 0..65535;
//   alpha in 0..1 gives round(a x 65535), clamped; a NaN refuses the file;
// - every other extra sample is dropped, and no colour management is done.
// readFloatTiff reads the same pictures as numbers instead. Kinds that are
// not read (CMYK, CIE L*a*b*, signed or 32-bit integers, orientations other
// than top left, ...) and kinds the system's codec does not decode are
// refused as such, and the failure of the read names them.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>

#include "adjust/adjust.h"
#include "platform/codecs.h"
#include "platform/memory_block.h"
#include "readers/float_picture.h"
#include "readers/readers.h"

namespace {

// ------------------------------------------------------------ the directory

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
    colorMap = 320,
    tileWidth = 322,
    tileLength = 323,
    tileOffsets = 324,
    tileByteCounts = 325,
    extraSamples = 338,
    sampleFormat = 339,
    yCbCrSubSampling = 530,
};

constexpr Tag knownTags[] = {imageWidth,   imageLength,  bitsPerSample, compressionTag, photometric,
                             fillOrder,    stripOffsets, orientation,   samplesPerPixel, rowsPerStrip,
                             stripByteCounts, planarConfiguration, predictor, colorMap, tileWidth,
                             tileLength,   tileOffsets,  tileByteCounts, extraSamples,  sampleFormat,
                             yCbCrSubSampling};
constexpr size_t knownTagCount = std::size(knownTags);

// The kind of picture the calling thread's last readTiffPicture refused,
// for the failure of the read; empty when it refused the file as damaged.
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
    bool bigTiff = false;
    Field fields[knownTagCount];

    const Field& operator[](Tag tag) const {
        for (size_t i = 0; i < knownTagCount; ++i)
            if (knownTags[i] == tag) return fields[i];
        return fields[0];  // not reached: every Tag is known
    }
};

// Bytes a value of a whole-number type.
uint32_t typeSize(uint16_t type) {
    switch (type) {
        case 1: return 1;            // BYTE
        case 3: return 2;            // SHORT
        case 4: case 13: return 4;   // LONG, IFD
        case 16: case 18: return 8;  // LONG8, IFD8 (BigTIFF)
        default: return 0;
    }
}

bool readNumber(ByteReader* reader, bool bigEndian, uint64_t at, uint32_t size, uint64_t& value) {
    if (at > reader->length) return false;
    setCursor(reader, static_cast<uint32_t>(at));
    std::span<const uint8_t> b;
    if (!readSpan(reader, size, b)) return false;
    value = 0;
    for (uint32_t i = 0; i < size; ++i) value = (value << 8) | b[bigEndian ? i : size - 1 - i];
    return true;
}

// Value `index` of a field of whole numbers.
bool fieldValue(ByteReader* reader, const Directory& dir, const Field& field, uint32_t index, uint64_t& value) {
    const uint32_t size = typeSize(field.type);
    if (!field.present || size == 0 || index >= field.count) return false;
    return readNumber(reader, dir.bigEndian, field.at + uint64_t{index} * size, size, value);
}

// The first value of a field as 32 bits, or `fallback` when the file leaves
// the field out.
bool singleValue(ByteReader* reader, const Directory& dir, Tag tag, uint32_t fallback, uint32_t& value) {
    const Field& field = dir[tag];
    uint64_t wide = fallback;
    if (field.present && (!fieldValue(reader, dir, field, 0, wide) || wide > UINT32_MAX)) return false;
    value = static_cast<uint32_t>(wide);
    return true;
}

// Classic TIFF and BigTIFF differ in the sizes of offsets, entry counts and
// entries.
struct Shape {
    uint32_t offsetSize;  // an offset, and the value field of an entry
    uint32_t countSize;   // the number of entries of a directory
    uint32_t entrySize;
    uint32_t headerSize;
};
constexpr Shape classicShape{4, 2, 12, 8};
constexpr Shape bigShape{8, 8, 20, 16};

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
    uint64_t magic = 0, first = 0, entries = 0;
    if (!readNumber(reader, dir.bigEndian, 2, 2, magic)) return false;
    dir.bigTiff = magic == 43;
    if (dir.bigTiff) {
        // The size of an offset, and a word that must be zero.
        uint64_t offsetSize = 0, zero = 0;
        if (!readNumber(reader, dir.bigEndian, 4, 2, offsetSize) || !readNumber(reader, dir.bigEndian, 6, 2, zero) ||
            offsetSize != 8 || zero != 0)
            return false;
    } else if (magic != 42) {
        return false;
    }
    const Shape& shape = dir.bigTiff ? bigShape : classicShape;
    if (!readNumber(reader, dir.bigEndian, 4 + (dir.bigTiff ? 4 : 0), shape.offsetSize, first) ||
        first < shape.headerSize || first > reader->length ||
        !readNumber(reader, dir.bigEndian, first, shape.countSize, entries) || entries == 0 ||
        entries > reader->length || first + shape.countSize + entries * shape.entrySize > reader->length)
        return false;
    for (uint64_t e = 0; e < entries; ++e) {
        const uint64_t at = first + shape.countSize + e * shape.entrySize;
        uint64_t tag = 0, type = 0, count = 0;
        if (!readNumber(reader, dir.bigEndian, at, 2, tag) || !readNumber(reader, dir.bigEndian, at + 2, 2, type) ||
            !readNumber(reader, dir.bigEndian, at + 4, shape.offsetSize, count))
            return false;
        const auto known = std::find(std::begin(knownTags), std::end(knownTags), tag);
        if (known == std::end(knownTags)) continue;
        Field& field = dir.fields[known - std::begin(knownTags)];
        // Decoders disagree on which of two copies of a tag counts.
        if (field.present) return false;
        const uint32_t size = typeSize(static_cast<uint16_t>(type));
        if (size == 0 || count == 0 || count > reader->length) return false;
        const uint64_t bytes = count * size;
        uint64_t valueAt = at + 4 + shape.offsetSize;
        if (bytes > shape.offsetSize && !readNumber(reader, dir.bigEndian, valueAt, shape.offsetSize, valueAt))
            return false;
        if (valueAt + bytes > reader->length) return false;
        field = {true, static_cast<uint16_t>(type), static_cast<uint32_t>(count), static_cast<uint32_t>(valueAt)};
    }
    return true;
}

// ------------------------------------------------------------ the picture

// The compressions read, with the most bytes of picture that one byte of
// compressed data can give, so that data too short to hold a strip is
// refused before anything is allocated for it, and their names.
struct Compression {
    uint32_t code;
    uint64_t maxRatio;
    const char* name;
};
// The newer codecs reach far higher ratios on flat pictures (a flat normal
// map is common): a run-length block of Zstandard gives 128 KiB from 4
// bytes, a white fax row costs one bit, a flat WebP picture has no bound at
// all. They are allowed 2^15, which flat tiles of 256 x 256 stay well
// within; a larger flat strip or tile in one WebP picture is refused.
constexpr uint64_t newerCodecRatio = uint64_t{1} << 15;
constexpr Compression readCompressions[] = {
    {1, 1, "no"},
    {2, newerCodecRatio, "CCITT Huffman"},
    {3, newerCodecRatio, "CCITT fax 3"},
    {4, newerCodecRatio, "CCITT fax 4"},
    {5, 3641, "LZW"},  // a code of at least 9 bits gives at most 4096 bytes
    {6, newerCodecRatio, "old-style JPEG"},
    {7, newerCodecRatio, "JPEG"},
    {8, 1032, "Deflate"},        // a 258-byte copy coded in two bits
    {32946, 1032, "Deflate"},    // under its older number
    {32771, newerCodecRatio, "CCITT Huffman"},
    {32773, 64, "PackBits"},     // two bytes repeat one byte 128 times
    {34925, newerCodecRatio, "LZMA"},
    {50000, newerCodecRatio, "Zstandard"},
    {50001, newerCodecRatio, "WebP"},
};

// Compressions that libtiff runs the Predictor for.
bool predicted(uint32_t compression) {
    return compression == 5 || compression == 8 || compression == 32946 || compression == 34925 ||
           compression == 50000;
}

const char* unreadCompressionName(uint32_t value) {
    switch (value) {
        case 32809: return "ThunderScan";
        case 34661: return "JBIG";
        case 34887: return "LERC";
        case 32908: case 32909: return "PixarLog";
        case 34676: case 34677: return "SGI LogLuv";
        default: return nullptr;
    }
}

const char* photometricName(uint32_t value) {
    switch (value) {
        case 4: return "a transparency mask";
        case 5: return "CMYK colour";
        case 8: case 9: case 10: return "CIE L*a*b* colour";
        case 32803: return "a colour filter array (raw camera data)";
        case 32844: case 32845: return "SGI LogLuv colour";
        case 34892: return "linear raw camera data";
        default: return nullptr;
    }
}

// What the reader found: the layout the codec decodes, and what the rules
// need beyond it.
struct TiffPicture {
    TiffLayout layout;
    bool associated = false;       // the alpha sample is premultiplied into the colour
    uint16_t palette[3][256] = {};  // red, green and blue of each index, for palette pictures
    uint32_t paletteMax = 65535;    // of the palette's colours: 255 or 65535
    uint64_t maxRatio = 1;
};

// Every value of a per-sample field equals the first.
bool sameForEverySample(ByteReader* reader, const Directory& dir, Tag tag, uint32_t samples, uint32_t first) {
    const Field& field = dir[tag];
    for (uint32_t s = 1; field.present && s < std::min(field.count, samples); ++s) {
        uint64_t value = 0;
        if (!fieldValue(reader, dir, field, s, value) || value != first) return false;
    }
    return true;
}

// The ColorMap: 3 x 2^bits 16-bit colours, all reds, then greens, then
// blues. Writers store 8-bit colours widened as v x 257 (libtiff's tools,
// ImageMagick for 8-bit colours) or as v x 256 (Pillow), or, in old files,
// unwidened; such a palette gives 8-bit colours exactly, any other 16-bit.
bool readPalette(ByteReader* reader, const Directory& dir, TiffPicture& picture) {
    const Field& field = dir[colorMap];
    const uint32_t entries = 1u << picture.layout.sampleBits;
    if (!field.present || field.count != 3 * entries) return false;
    bool times257 = true, times256 = true, small = true;
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < entries; ++i) {
            uint64_t value = 0;
            if (!fieldValue(reader, dir, field, c * entries + i, value) || value > 0xFFFF) return false;
            picture.palette[c][i] = static_cast<uint16_t>(value);
            times257 = times257 && value % 257 == 0;
            times256 = times256 && value % 256 == 0;
            small = small && value < 256;
        }
    const uint32_t divisor = times257 ? 257 : times256 ? 256 : small ? 1 : 0;
    picture.paletteMax = divisor ? 255 : 65535;
    for (uint32_t c = 0; divisor && c < 3; ++c)
        for (uint32_t i = 0; i < entries; ++i)
            picture.palette[c][i] = static_cast<uint16_t>(picture.palette[c][i] / divisor);
    return true;
}

// The sample format, depth, colour space and extra samples; false (with the
// reason for kinds that are not read) when the picture is not one read here.
bool readSampleLayout(ByteReader* reader, const Directory& dir, TiffPicture& picture) {
    TiffLayout& layout = picture.layout;
    uint32_t samples = 0, bits = 0, format = 0, colourSpace = 0;
    if (!singleValue(reader, dir, samplesPerPixel, 1, samples) || samples == 0) return false;
    if (samples > 8) return refuse("%u samples a pixel", samples);
    if (!singleValue(reader, dir, sampleFormat, 1, format)) return false;
    if (!singleValue(reader, dir, bitsPerSample, 1, bits) || bits == 0) return false;
    if (!sameForEverySample(reader, dir, sampleFormat, samples, format) ||
        !sameForEverySample(reader, dir, bitsPerSample, samples, bits))
        return refuse("samples of different kinds or sizes");
    if (format == 3) {
        if (bits != 16 && bits != 32) return refuse("%u-bit floating-point samples", bits);
    } else if (format == 2) {
        return refuse("signed integer samples");
    } else if (format != 1) {
        return refuse("samples of SampleFormat %u", format);
    } else if (bits > 16) {
        return refuse("%u-bit samples", bits);
    }
    layout.floatingPoint = format == 3;
    layout.sampleBits = bits;

    if (!dir[photometric].present || !singleValue(reader, dir, photometric, 0, colourSpace)) return false;
    switch (colourSpace) {
        case 0: case 1: layout.colourSamples = 1; break;
        case 2: layout.colourSamples = 3; break;
        case 3: layout.colourSamples = 1; break;
        case 6: layout.colourSamples = 3; break;
        default:
            if (const char* name = photometricName(colourSpace)) return refuse("%s", name);
            return refuse("PhotometricInterpretation %u", colourSpace);
    }
    layout.photometric = colourSpace;
    if (layout.floatingPoint && colourSpace != 1 && colourSpace != 2)
        return refuse("floating-point samples of PhotometricInterpretation %u", colourSpace);
    if (colourSpace == 3 && bits > 8) return refuse("palette colour of %u-bit indices", bits);
    if (colourSpace == 3 && !readPalette(reader, dir, picture)) return false;
    if (colourSpace == 6 && (bits != 8 || samples != 3)) return refuse("YCbCr colour other than 3 samples of 8 bits");
    if (samples < layout.colourSamples) return false;

    // The first extra sample marked as alpha, associated (1) or not (2).
    // Extra samples left unmarked are other data, dropped.
    layout.alphaSample = -1;
    const Field& extras = dir[extraSamples];
    if (extras.present && extras.count > samples - layout.colourSamples) return false;
    for (uint32_t e = 0; extras.present && e < extras.count; ++e) {
        uint64_t kind = 0;
        if (!fieldValue(reader, dir, extras, e, kind)) return false;
        if ((kind == 1 || kind == 2) && layout.alphaSample < 0) {
            layout.alphaSample = static_cast<int32_t>(layout.colourSamples + e);
            picture.associated = kind == 1;
        }
    }
    layout.samples = samples;
    return true;
}

// Compression, predictor, bit order, orientation and planar configuration.
bool readStorage(ByteReader* reader, const Directory& dir, TiffPicture& picture) {
    TiffLayout& layout = picture.layout;
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
        if (const char* name = unreadCompressionName(scheme)) return refuse("%s compression", name);
        return refuse("Compression %u", scheme);
    }
    layout.compression = scheme;
    picture.maxRatio = known->maxRatio;
    if (predicted(scheme)) {
        if (prediction == 2 && layout.sampleBits % 8 != 0)
            return refuse("Predictor 2 with %u-bit samples", layout.sampleBits);
        if (prediction == 3 && !layout.floatingPoint) return refuse("Predictor 3 with integer samples");
        if (prediction < 1 || prediction > 3) return refuse("Predictor %u", prediction);
    }
    // The codec puts the bits of each byte in order (FillOrder 2) itself.
    if (bitOrder != 1 && bitOrder != 2) return false;
    if (planes != 1 && planes != 2) return false;
    layout.planar = planes == 2 && layout.samples > 1;
    if (layout.planar && layout.photometric == 6) return refuse("YCbCr colour in separate planes");
    return true;
}

// A tile may be larger than the picture (writers tile small pictures in
// 256 x 256 tiles), but not larger than the picture's bytes or this.
constexpr uint64_t maxSpareTileBytes = uint64_t{1} << 22;
// No tile side is longer than this (which also keeps the sizes below in
// 64 bits).
constexpr uint32_t maxTileSide = 65536;

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The bytes of `rows` rows of a unit `width` pixels wide as decoded: YCbCr
// other than in JPEG is stored in blocks of h x v luma samples and two
// chroma samples (YCbCrSubSampling, 2 x 2 when left out).
bool decodedUnitBytes(ByteReader* reader, const Directory& dir, const TiffLayout& layout, uint64_t width,
                      uint64_t rows, uint64_t& bytes) {
    const uint64_t unitSamples = layout.planar ? 1 : layout.samples;
    if (layout.photometric != 6 || layout.compression == 7) {
        bytes = ceilDiv(width * unitSamples * layout.sampleBits, 8) * rows;
        return true;
    }
    uint64_t h = 2, v = 2;
    const Field& field = dir[yCbCrSubSampling];
    if (field.present && (field.count != 2 || !fieldValue(reader, dir, field, 0, h) ||
                          !fieldValue(reader, dir, field, 1, v)))
        return false;
    if ((h != 1 && h != 2 && h != 4) || (v != 1 && v != 2 && v != 4)) return false;
    bytes = ceilDiv(width, h) * ceilDiv(rows, v) * (h * v + 2);
    return true;
}

// The strips or tiles: present, as many as the picture needs, each lying in
// the file and long enough to hold its part of the picture at the
// compression's best ratio.
bool checkUnits(ByteReader* reader, const Directory& dir, TiffPicture& picture) {
    TiffLayout& layout = picture.layout;
    const uint64_t planes = layout.planar ? layout.samples : 1;
    uint64_t unitWidth = layout.width, unitHeight = 0, across = 1;
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
        uint64_t pictureBytes = 0, tileBytes = 0;
        if (!decodedUnitBytes(reader, dir, layout, layout.width, layout.height, pictureBytes) ||
            !decodedUnitBytes(reader, dir, layout, unitWidth, unitHeight, tileBytes) ||
            tileBytes > std::max(pictureBytes * planes, maxSpareTileBytes))
            return false;
    } else {
        uint32_t rows = 0;
        if (!singleValue(reader, dir, rowsPerStrip, 0xFFFFFFFFu, rows) || rows == 0) return false;
        unitHeight = std::min<uint64_t>(rows, layout.height);
    }
    const uint64_t down = ceilDiv(layout.height, unitHeight);
    const uint64_t units = across * down * planes;
    const Field& offsets = dir[offsetsTag];
    const Field& counts = dir[countsTag];
    // (Without byte counts decoders guess them, each its own way.)
    if (!offsets.present || !counts.present || offsets.count < units || counts.count < units) return false;
    for (uint32_t u = 0; u < units; ++u) {
        uint64_t offset = 0, count = 0, decoded = 0;
        if (!fieldValue(reader, dir, offsets, u, offset) || !fieldValue(reader, dir, counts, u, count)) return false;
        if (offset > reader->length || count > reader->length - offset) return false;
        // Strips at the foot of the picture hold only its remaining rows.
        const uint64_t row = (u % (across * down)) / across * unitHeight;
        const uint64_t rows = layout.tiled ? unitHeight : std::min(unitHeight, layout.height - row);
        if (!decodedUnitBytes(reader, dir, layout, unitWidth, rows, decoded) || decoded > count * picture.maxRatio)
            return false;
    }
    return true;
}

// What the system's codec cannot decode, named.
bool withinTheCodec(const TiffPicture& picture) {
    const TiffLayout& layout = picture.layout;
    switch (platformTiffGap(layout)) {
        case TiffGap::none: return true;
        case TiffGap::compression: {
            const auto known = std::find_if(std::begin(readCompressions), std::end(readCompressions),
                                            [&](const Compression& c) { return c.code == layout.compression; });
            return refuse("%s compression", known->name);
        }
        case TiffGap::sampleBits:
            if (layout.floatingPoint) return refuse("%u-bit floating-point samples", layout.sampleBits);
            return refuse("%u-bit samples", layout.sampleBits);
        case TiffGap::bigTiff: return refuse("the BigTIFF layout");
    }
    return false;
}

bool readTiffPicture(ByteReader* reader, TiffPicture& picture) {
    refusedKind[0] = '\0';
    Directory dir;
    uint32_t width = 0, height = 0;
    if (!readDirectory(reader, dir) || !dir[imageWidth].present || !dir[imageLength].present ||
        !singleValue(reader, dir, imageWidth, 0, width) || !singleValue(reader, dir, imageLength, 0, height) ||
        width == 0 || height == 0)
        return false;
    if (!imageSizeAllowed(width, height))
        return refuse("%u x %u pixels (more than 2^28)", width, height);
    picture.layout.width = width;
    picture.layout.height = height;
    picture.layout.bigTiff = dir.bigTiff;
    return readSampleLayout(reader, dir, picture) && readStorage(reader, dir, picture) &&
           checkUnits(reader, dir, picture) && withinTheCodec(picture);
}

// ------------------------------------------------------------ the samples

// A 16-bit IEEE float (half) as a float: exact.
float halfToFloat(uint32_t half) {
    const uint32_t exponent = (half >> 10) & 31, mantissa = half & 1023;
    float magnitude;
    if (exponent == 0)
        magnitude = std::ldexp(static_cast<float>(mantissa), -24);
    else if (exponent == 31)
        magnitude = mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    else
        magnitude = std::ldexp(static_cast<float>(mantissa + 1024), static_cast<int>(exponent) - 25);
    return (half & 0x8000) ? -magnitude : magnitude;
}

// Where the rows the codec hands on go, and the rules that take them there.
struct TiffTarget {
    const TiffPicture* picture = nullptr;
    Image* image = nullptr;          // readTiff
    FloatPicture* floats = nullptr;  // readFloatTiff
    uint32_t channels = 0;           // samples a pixel handed on: colour, then alpha
    uint32_t bits = 0;               // a sample handed on
    uint32_t colours = 0;            // colour samples handed on (1 or 3)
    bool alpha = false;
    uint32_t max = 0;                // the largest stored integer
    uint32_t outBits = 8;            // the Image's samples
    uint32_t nextRow = 0;
    bool notANumber = false;         // a NaN sample was handed on
};

// Handed-on sample i of a row, as a whole number (the bits of a float).
uint32_t handedSample(const uint8_t* row, size_t i, uint32_t bits) {
    if (bits == 8) return row[i];
    if (bits == 16) {
        uint16_t word;
        std::memcpy(&word, row + 2 * i, 2);
        return word;
    }
    if (bits == 32) {
        uint32_t word;
        std::memcpy(&word, row + 4 * i, 4);
        return word;
    }
    return packedSample(row, i, bits);
}

float floatSample(uint32_t stored, uint32_t bits) {
    if (bits == 16) return halfToFloat(stored);
    float value;
    std::memcpy(&value, &stored, 4);
    return value;
}

// One pixel of whole-number samples: red, green, blue out of `colourMax`
// (the palette's for a palette's colours, else the stored max), alpha out
// of the stored max (the top when there is none). Palettes are looked up,
// white-is-zero grey turned round and premultiplied colour divided out.
void integerPixel(const TiffTarget& t, const uint8_t* row, uint32_t x, uint32_t rgba[4], uint32_t& colourMax) {
    const TiffPicture& p = *t.picture;
    const size_t first = size_t{x} * t.channels;
    const uint32_t a = t.alpha ? handedSample(row, first + t.colours, t.bits) : t.max;
    colourMax = t.max;
    if (p.layout.photometric == 3) {
        const uint32_t index = handedSample(row, first, t.bits);
        for (uint32_t c = 0; c < 3; ++c) rgba[c] = p.palette[c][index];
        colourMax = p.paletteMax;
    } else {
        for (uint32_t c = 0; c < 3; ++c) {
            uint32_t v = handedSample(row, first + (t.colours == 3 ? c : 0), t.bits);
            if (p.layout.photometric == 0) v = t.max - v;
            rgba[c] = v;
        }
    }
    rgba[3] = a;
    if (p.associated && a != 0)
        for (uint32_t c = 0; c < 3; ++c)
            rgba[c] = static_cast<uint32_t>(
                std::min<uint64_t>(colourMax, (2 * uint64_t{rgba[c]} * t.max + a) / (2 * uint64_t{a})));
}

// One pixel of floating-point samples: colour and alpha, premultiplied
// colour divided out where alpha is not 0.
void floatPixel(const TiffTarget& t, const uint8_t* row, uint32_t x, float rgba[4]) {
    const size_t first = size_t{x} * t.channels;
    for (uint32_t c = 0; c < 3; ++c)
        rgba[c] = floatSample(handedSample(row, first + (t.colours == 3 ? c : 0), t.bits), t.bits);
    rgba[3] = t.alpha ? floatSample(handedSample(row, first + t.colours, t.bits), t.bits) : 1.0f;
    if (t.picture->associated && rgba[3] != 0.0f)
        for (uint32_t c = 0; c < 3; ++c) rgba[c] /= rgba[3];
}

// v out of `max` at `outMax`, rounded.
uint32_t widened(uint32_t v, uint32_t max, uint32_t outMax) {
    if (max == outMax) return v;
    return static_cast<uint32_t>((2 * uint64_t{v} * outMax + max) / (2 * uint64_t{max}));
}

template <typename Sample>
void putSamples(uint8_t* out, size_t pixel, size_t step, const uint32_t* values) {
    for (size_t c = 0; c < step; ++c) {
        const auto s = static_cast<Sample>(values[c]);
        std::memcpy(out + (pixel * step + c) * sizeof(Sample), &s, sizeof(Sample));
    }
}

// A row of the Image from a handed-on row.
void imageRow(TiffTarget& t, const uint8_t* in, uint8_t* out) {
    const TiffPicture& p = *t.picture;
    const uint32_t width = p.layout.width;
    const size_t step = t.alpha ? 4 : 3;
    const uint32_t outMax = (1u << t.outBits) - 1;
    uint32_t values[4];
    const bool plain = !p.layout.floatingPoint && p.layout.photometric != 0 && p.layout.photometric != 3 &&
                       !p.associated && t.bits == t.outBits;
    if (plain && t.colours == 3) {
        std::memcpy(out, in, size_t{width} * step * (t.bits / 8));  // samples as the Image holds them
        return;
    }
    for (uint32_t x = 0; x < width; ++x) {
        if (p.layout.floatingPoint) {
            float rgba[4];
            floatPixel(t, in, x, rgba);
            for (uint32_t c = 0; c < 4; ++c) t.notANumber = t.notANumber || std::isnan(rgba[c]);
            for (uint32_t c = 0; c < 3; ++c) values[c] = encodeComponent<uint16_t>(rgba[c]);
            const double a = std::clamp(static_cast<double>(rgba[3]), 0.0, 1.0) * 65535.0 + 0.5;
            values[3] = static_cast<uint32_t>(std::isnan(a) ? 0.0 : a);
        } else {
            uint32_t colourMax = 0;
            integerPixel(t, in, x, values, colourMax);
            for (uint32_t c = 0; c < 3; ++c) values[c] = widened(values[c], colourMax, outMax);
            values[3] = widened(values[3], t.max, outMax);
        }
        if (t.outBits == 16)
            putSamples<uint16_t>(out, x, step, values);
        else
            putSamples<uint8_t>(out, x, step, values);
    }
}

// A row of a FloatPicture from a handed-on row: whole numbers as v / max.
void floatRow(TiffTarget& t, const uint8_t* in, float* out) {
    const TiffPicture& p = *t.picture;
    const uint32_t channels = t.floats->channels;
    for (uint32_t x = 0; x < p.layout.width; ++x, out += channels) {
        float rgba[4];
        if (p.layout.floatingPoint) {
            floatPixel(t, in, x, rgba);
        } else {
            uint32_t values[4], colourMax = 0;
            integerPixel(t, in, x, values, colourMax);
            for (uint32_t c = 0; c < 3; ++c) rgba[c] = static_cast<float>(values[c]) / static_cast<float>(colourMax);
            rgba[3] = static_cast<float>(values[3]) / static_cast<float>(t.max);
        }
        if (channels == 1)
            out[0] = rgba[0];
        else
            std::memcpy(out, rgba, channels * sizeof(float));
    }
}

bool beginPicture(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& t = *static_cast<TiffTarget*>(context);
    const TiffLayout& layout = t.picture->layout;
    const bool ycbcr = layout.photometric == 6;
    t.alpha = layout.alphaSample >= 0 && !ycbcr;
    t.colours = layout.colourSamples;
    t.bits = ycbcr ? 8 : layout.sampleBits;
    t.max = layout.floatingPoint ? 0 : (1u << t.bits) - 1;
    if (width != layout.width || height != layout.height || channels != t.colours + (t.alpha ? 1 : 0)) return false;
    t.channels = channels;
    if (t.floats) {
        // Grey stays one channel; grey with alpha becomes RGBA, a palette RGB(A).
        const bool oneChannel = t.colours == 1 && !t.alpha && layout.photometric != 3;
        const uint32_t kept = oneChannel ? 1 : t.alpha ? 4 : 3;
        const uint64_t count = uint64_t{width} * height * kept;
        if (count > SIZE_MAX / sizeof(float)) return false;
        t.floats->samples = static_cast<float*>(std::malloc(static_cast<size_t>(count) * sizeof(float)));
        if (!t.floats->samples) return false;
        t.floats->width = width;
        t.floats->height = height;
        t.floats->channels = kept;
        return true;
    }
    if (layout.floatingPoint)
        t.outBits = 16;
    else if (layout.photometric == 3)
        t.outBits = t.picture->paletteMax == 255 ? 8 : 16;
    else
        t.outBits = t.bits <= 8 ? 8 : 16;
    return startImage(t.image, width, height, static_cast<int>(t.outBits), t.alpha);
}

// Spreads one row of grey (and alpha) samples of type Sample into the Image's
// row: grey repeated, alpha (when there is one) last.
template <typename Sample>
void spreadGrey(const uint8_t* in, uint8_t* out, size_t width, bool alpha) {
    const uint32_t channels = alpha ? 2 : 1, step = alpha ? 4 : 3;
    Sample s[4];
    for (size_t x = 0; x < width; ++x, in += channels * sizeof(Sample), out += step * sizeof(Sample)) {
        std::memcpy(s, in, channels * sizeof(Sample));
        if (alpha) s[3] = s[1];
        s[1] = s[2] = s[0];
        std::memcpy(out, s, step * sizeof(Sample));
    }
}

void takeRow(void* context, uint32_t y, const uint8_t* in) {
    auto& t = *static_cast<TiffTarget*>(context);
    if (y != t.nextRow || y >= t.picture->layout.height) return;
    ++t.nextRow;
    if (t.floats) {
        floatRow(t, in, t.floats->samples + size_t{y} * t.floats->width * t.floats->channels);
        return;
    }
    const TiffPicture& p = *t.picture;
    uint8_t* out = t.image->pixels + static_cast<size_t>(t.image->rowBytes) * y;
    const bool plainGrey = t.colours == 1 && !p.layout.floatingPoint && p.layout.photometric == 1 &&
                           !p.associated && t.bits == t.outBits;
    if (plainGrey && t.bits == 16)
        spreadGrey<uint16_t>(in, out, p.layout.width, t.alpha);
    else if (plainGrey)
        spreadGrey<uint8_t>(in, out, p.layout.width, t.alpha);
    else
        imageRow(t, in, out);
}

// Reads `file` into the target's Image or FloatPicture; on failure,
// `failure` names a kind that is not read.
bool decodeInto(std::span<const uint8_t> file, TiffTarget& target, LoadFailure& failure) {
    ByteReader reader = readerOver(file);
    TiffPicture picture;
    target.picture = &picture;
    bool ok = readTiffPicture(&reader, picture);
    if (ok) {
        const RowSink sink{&target, beginPicture, takeRow};
        ok = platformDecodeTiff(file, picture.layout, sink) && target.nextRow == picture.layout.height;
        if (ok && target.notANumber) ok = refuse("floating-point samples that are not numbers (NaN)");
    }
    if (!ok && refusedKind[0]) {
        failure.problem = LoadProblem::refusedKind;
        std::snprintf(failure.text, sizeof failure.text, "%s", refusedKind);
    }
    return ok;
}

}  // namespace

bool readTiff(std::span<const uint8_t> file, Image* image, LoadFailure& failure) {
    if (!image) return false;
    resetImage(image);
    TiffTarget target;
    target.image = image;
    if (!decodeInto(file, target, failure)) {
        resetImage(image);
        return false;
    }
    return true;
}

bool readFloatTiff(std::span<const uint8_t> file, FloatPicture* picture, LoadFailure& failure) {
    if (!picture) return false;
    picture->reset();
    TiffTarget target;
    target.floats = picture;
    if (!decodeInto(file, target, failure)) {
        picture->reset();
        return false;
    }
    return true;
}
