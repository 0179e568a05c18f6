// TIFF on every system but Windows: libtiff, reading from the file's bytes in
// memory and writing into memory, through client procedures of our own; the
// strips written are compressed here with libdeflate, two at a time.
// Nothing the library says reaches standard error.
#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/basics.h"
#include "platform/codecs.h"
#include "platform/memory_block.h"
#include "platform/tiff_encoding.h"

namespace {

// A file in memory as the library sees it: the bytes of a file being read
// (mapped, so strips are decoded straight from them), or a growing buffer
// for a file being written.
struct MemoryFile {
    const uint8_t* input = nullptr;
    uint8_t* output = nullptr;  // malloc
    size_t capacity = 0;
    size_t size = 0;
    size_t position = 0;
    bool failed = false;

    MemoryFile() = default;
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() { std::free(output); }
};

tmsize_t readBytes(thandle_t handle, void* destination, tmsize_t wanted) {
    auto& file = *static_cast<MemoryFile*>(handle);
    if (!file.input || wanted < 0 || file.position >= file.size) return 0;
    const size_t n = std::min(static_cast<size_t>(wanted), file.size - file.position);
    std::memcpy(destination, file.input + file.position, n);
    file.position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t writeBytes(thandle_t handle, void* source, tmsize_t count) {
    auto& file = *static_cast<MemoryFile*>(handle);
    if (file.input || count < 0) return -1;
    const size_t n = static_cast<size_t>(count);
    if (n > SIZE_MAX / 2 - file.position) {
        file.failed = true;
        return -1;
    }
    const size_t end = file.position + n;
    if (end > file.capacity) {
        const size_t grown = std::max(end, file.capacity ? 2 * file.capacity : size_t{1} << 16);
        auto* bigger = static_cast<uint8_t*>(std::realloc(file.output, grown));
        if (!bigger) {
            file.failed = true;
            return -1;
        }
        file.output = bigger;
        file.capacity = grown;
    }
    // A seek past the end leaves a gap, which reads as zeros.
    if (file.position > file.size) std::memset(file.output + file.size, 0, file.position - file.size);
    if (n) std::memcpy(file.output + file.position, source, n);
    file.position = end;
    file.size = std::max(file.size, end);
    return count;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    auto& file = *static_cast<MemoryFile*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = file.position;
    else if (whence == SEEK_END)
        base = file.size;
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    // Offsets are unsigned here; a step back from the current position or
    // the end comes as its two's complement.
    const uint64_t target = base + offset;
    if (target > (uint64_t{1} << 40)) return static_cast<toff_t>(-1);
    file.position = static_cast<size_t>(target);
    return target;
}

int closeFile(thandle_t) { return 0; }

toff_t fileSize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size; }

int mapFile(thandle_t handle, void** base, toff_t* size) {
    auto& file = *static_cast<MemoryFile*>(handle);
    if (!file.input) return 0;
    *base = const_cast<uint8_t*>(file.input);
    *size = file.size;
    return 1;
}

void unmapFile(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The library's process-wide handlers print to standard error; they are
// taken away once, and every file also gets quiet handlers of its own.
void silenceLibrary() {
    static const bool silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
}

// An open TIFF and its options, closed on every way out.
struct OpenTiff {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFF* tiff = nullptr;

    OpenTiff(MemoryFile& file, const char* mode, tmsize_t largestAllocation) {
        silenceLibrary();
        if (!options) return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, largestAllocation);
        tiff = TIFFClientOpenExt("memory", mode, &file, readBytes, writeBytes, seekTo, closeFile, fileSize, mapFile,
                                 unmapFile, options);
    }
    OpenTiff(const OpenTiff&) = delete;
    OpenTiff& operator=(const OpenTiff&) = delete;
    ~OpenTiff() {
        if (tiff) TIFFClose(tiff);
        if (options) TIFFOpenOptionsFree(options);
    }
};

// ---------------------------------------------------------------- input

// The library's view of the picture agrees with the reader's, and every
// strip or tile it will read lies in the file.
bool sameLayout(TIFF* tiff, const TiffLayout& layout, uint64_t fileLength) {
    uint32_t width = 0, height = 0;
    uint16_t samples = 0, bits = 0, planes = 0, format = 0, photometric = 0, compression = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planes) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format) ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression))
        return false;
    if (width != layout.width || height != layout.height || samples != layout.samples ||
        bits != layout.sampleBits || format != (layout.floatingPoint ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT) ||
        photometric != layout.photometric || compression != layout.compression ||
        (TIFFIsBigTIFF(tiff) != 0) != layout.bigTiff ||
        (planes == PLANARCONFIG_SEPARATE && samples > 1) != layout.planar || (TIFFIsTiled(tiff) != 0) != layout.tiled)
        return false;
    const uint32_t units = layout.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (uint32_t u = 0; u < units; ++u) {
        int failed = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, u, &failed);
        const uint64_t count = TIFFGetStrileByteCountWithErr(tiff, u, &failed);
        if (failed || offset > fileLength || count > fileLength - offset) return false;
    }
    return true;
}

// How the decoded strips or tiles of one band of rows lie: for each plane
// handed on (one, or one a kept sample when the file is planar), the units
// across the picture (one strip, or a row of tiles), each in a slot of
// `slotBytes` that holds its rows within the picture.
struct Unpacking {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t unitWidth = 0;    // a strip is the picture's width
    uint32_t unitHeight = 0;   // rows a strip or tile, at most the picture's
    uint32_t across = 1;       // units across the picture
    uint32_t unitSamples = 0;  // samples a pixel in a unit: all, or one when planar
    uint32_t bits = 0;         // a sample
    uint32_t kept = 0;         // samples a pixel handed on
    uint16_t picks[4] = {};    // the stored samples handed on, in order
    size_t unitRowBytes = 0;   // a row of a unit, ending on a whole byte as stored
    size_t tileBytes = 0;      // a whole tile as decoded, its rows past the picture's foot too
    size_t slotBytes = 0;      // the rows of a unit within the picture
    bool planar = false;
};

// Decodes the units holding rows top..top+rows-1 into `band`; a tile is
// decoded whole into `tile` first.
bool decodeBand(TIFF* tiff, const Unpacking& u, bool tiled, uint32_t top, uint32_t rows, uint8_t* band,
                uint8_t* tile) {
    const uint32_t planes = u.planar ? u.kept : 1;
    for (uint32_t p = 0; p < planes; ++p) {
        const uint16_t plane = u.planar ? u.picks[p] : 0;
        for (uint32_t c = 0; c < u.across; ++c) {
            uint8_t* out = band + (size_t{p} * u.across + c) * u.slotBytes;
            if (tiled) {
                const auto size = static_cast<tmsize_t>(u.tileBytes);
                if (TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, c * u.unitWidth, top, 0, plane), tile, size) !=
                    size)
                    return false;
                std::memcpy(out, tile, rows * u.unitRowBytes);
            } else {
                const auto expected = static_cast<tmsize_t>(rows * u.unitRowBytes);
                if (TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, top, plane), out, expected) != expected)
                    return false;
            }
        }
    }
    return true;
}

// Row r of the band as handed on: the kept samples of every pixel.
void assembleRow(const Unpacking& u, const uint8_t* band, uint32_t r, uint8_t* row, size_t rowBytes) {
    const bool whole = u.bits % 8 == 0;
    const size_t sampleBytes = u.bits / 8;
    if (!u.planar && u.across == 1 && u.kept == u.unitSamples) {
        std::memcpy(row, band + r * u.unitRowBytes, rowBytes);  // every stored sample, in order
        return;
    }
    if (!whole) std::memset(row, 0, rowBytes);
    for (uint32_t k = 0; k < u.kept; ++k) {
        const uint8_t* plane = band + (u.planar ? size_t{k} * u.across * u.slotBytes : 0);
        const size_t step = u.planar ? 1 : u.unitSamples;
        const size_t first = u.planar ? 0 : u.picks[k];
        for (uint32_t c = 0; c < u.across; ++c) {
            const uint8_t* in = plane + c * u.slotBytes + r * u.unitRowBytes;
            const uint32_t x0 = c * u.unitWidth;
            const uint32_t columns = std::min(u.unitWidth, u.width - x0);
            for (uint32_t i = 0; i < columns; ++i) {
                const size_t from = i * step + first, to = size_t{x0 + i} * u.kept + k;
                if (whole)
                    std::memcpy(row + to * sampleBytes, in + from * sampleBytes, sampleBytes);
                else
                    putPackedSample(row, to, u.bits, packedSample(in, from, u.bits));
            }
        }
    }
}

bool decodeSamples(TIFF* tiff, const TiffLayout& layout, const RowSink& sink) {
    Unpacking u;
    u.width = layout.width;
    u.height = layout.height;
    u.bits = layout.sampleBits;
    u.planar = layout.planar;
    u.unitSamples = layout.planar ? 1 : layout.samples;
    for (uint16_t c = 0; c < layout.colourSamples; ++c) u.picks[u.kept++] = c;
    if (layout.alphaSample >= 0) u.picks[u.kept++] = static_cast<uint16_t>(layout.alphaSample);
    if (layout.tiled) {
        if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &u.unitWidth) ||
            !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &u.unitHeight) || u.unitWidth == 0 || u.unitHeight == 0)
            return false;
        u.across = (u.width - 1) / u.unitWidth + 1;
    } else {
        uint32_t rows = 0;
        if (!TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows) || rows == 0) return false;
        u.unitWidth = u.width;
        u.unitHeight = std::min(rows, u.height);
    }
    u.unitRowBytes = (size_t{u.unitWidth} * u.unitSamples * u.bits + 7) / 8;
    if (layout.tiled) {
        u.tileBytes = u.unitRowBytes * u.unitHeight;
        const tmsize_t tileSize = TIFFTileSize(tiff);
        if (tileSize <= 0 || static_cast<uint64_t>(tileSize) != u.tileBytes) return false;
        // A band of tiles holds the rows of whole tiles; only the picture's rows are kept.
        u.unitHeight = std::min(u.unitHeight, u.height);
    }
    u.slotBytes = u.unitRowBytes * u.unitHeight;
    const size_t bandPlanes = layout.planar ? u.kept : 1;
    const size_t rowBytes = (size_t{u.width} * u.kept * u.bits + 7) / 8;
    if (!sink.begin(sink.context, u.width, u.height, u.kept)) return false;
    MemoryBlock band(bandPlanes * u.across * u.slotBytes);
    MemoryBlock tile(u.tileBytes);
    MemoryBlock row(rowBytes);
    if (!band.bytes || !tile.bytes || !row.bytes) return false;
    for (uint32_t top = 0; top < u.height; top += u.unitHeight) {
        const uint32_t rows = std::min(u.unitHeight, u.height - top);
        if (!decodeBand(tiff, u, layout.tiled, top, rows, band.bytes, tile.bytes)) return false;
        for (uint32_t r = 0; r < rows; ++r) {
            assembleRow(u, band.bytes, r, row.bytes, rowBytes);
            sink.row(sink.context, top + r, row.bytes);
        }
    }
    return true;
}

// YCbCr held other than as JPEG's own data: the library's RGBA interface
// converts it to red, green and blue, a strip's or tile's rows at a time.
bool decodeThroughRgba(TIFF* tiff, const TiffLayout& layout, const RowSink& sink) {
    char message[1024] = {};
    TIFFRGBAImage image;
    if (!TIFFRGBAImageOK(tiff, message) || !TIFFRGBAImageBegin(&image, tiff, 0, message)) return false;
    struct End {
        TIFFRGBAImage* image;
        ~End() { TIFFRGBAImageEnd(image); }
    } end{&image};
    image.req_orientation = ORIENTATION_TOPLEFT;
    uint32_t bandRows = 0;
    if (!(layout.tiled ? TIFFGetField(tiff, TIFFTAG_TILELENGTH, &bandRows)
                       : TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &bandRows)) ||
        bandRows == 0)
        return false;
    bandRows = std::min(bandRows, layout.height);
    if (!sink.begin(sink.context, layout.width, layout.height, 3)) return false;
    MemoryBlock raster(size_t{layout.width} * bandRows * 4);
    MemoryBlock row(size_t{layout.width} * 3);
    if (!raster.bytes || !row.bytes) return false;
    auto* pixels = reinterpret_cast<uint32_t*>(raster.bytes);
    for (uint32_t top = 0; top < layout.height; top += bandRows) {
        const uint32_t rows = std::min(bandRows, layout.height - top);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, pixels, layout.width, rows)) return false;
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t* in = pixels + size_t{r} * layout.width;
            for (uint32_t x = 0; x < layout.width; ++x) {
                row.bytes[3 * x] = static_cast<uint8_t>(TIFFGetR(in[x]));
                row.bytes[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(in[x]));
                row.bytes[3 * x + 2] = static_cast<uint8_t>(TIFFGetB(in[x]));
            }
            sink.row(sink.context, top + r, row.bytes);
        }
    }
    return true;
}

// ---------------------------------------------------------------- output

// The file's tags and strips are decided in platform/tiff_encoding.h, in the
// numbers TIFF 6.0 gives its tags, which are libtiff's.
constexpr TiffEncoding everyFile{};
static_assert(everyFile.photometric == PHOTOMETRIC_RGB && everyFile.planarConfiguration == PLANARCONFIG_CONTIG &&
              everyFile.orientation == ORIENTATION_TOPLEFT && everyFile.compression == COMPRESSION_ADOBE_DEFLATE &&
              everyFile.predictor == PREDICTOR_HORIZONTAL && everyFile.extraSampleKind == EXTRASAMPLE_UNASSALPHA);

// Below this many bytes of samples a second thread costs more than it saves.
constexpr size_t parallelFromBytes = size_t{1} << 21;

// Row y of `rows` as grey or red-green-blue(-alpha) samples in `out`.
void storedRow(const PixelRows& rows, uint32_t y, uint8_t* out) {
    const uint8_t* in = rows.first + static_cast<ptrdiff_t>(y) * rows.stride;
    const size_t bytes = size_t{rows.width} * rows.channels * (rows.sampleBits / 8);
    if (!rows.bgr || rows.sampleBits != 8)
        std::memcpy(out, in, bytes);
    else
        copyPixelsSwappedKeepingStep(in, rows.channels, out, rows.width);
}

// Horizontal differencing (Predictor 2) of one row of `samples` samples a
// pixel, in place: each sample less the same sample of the pixel before,
// modulo its size, from the right so that the originals are still there.
template <typename Sample>
void differenceRow(uint8_t* row, size_t count, uint32_t samples) {
    for (size_t i = count; i-- > samples;) {
        Sample a, b;
        std::memcpy(&a, row + i * sizeof(Sample), sizeof(Sample));
        std::memcpy(&b, row + (i - samples) * sizeof(Sample), sizeof(Sample));
        const auto d = static_cast<Sample>(a - b);
        std::memcpy(row + i * sizeof(Sample), &d, sizeof(Sample));
    }
}

// The floating-point predictor (Predictor 3, TIFF Technical Note 3) of one
// row of `count` 32-bit samples of `samples` a pixel, in place: the bytes of
// every sample spread over four planes, most significant first, and the
// planes then differenced byte by byte as one row, from the right.
void floatDifferenceRow(uint8_t* row, size_t count, uint32_t samples, uint8_t* scratch) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, row + 4 * i, 4);
        for (size_t k = 0; k < 4; ++k) scratch[k * count + i] = static_cast<uint8_t>(bits >> (24 - 8 * k));
    }
    std::memcpy(row, scratch, 4 * count);
    differenceRow<uint8_t>(row, 4 * count, samples);
}

// One strip, compressed by a worker.
struct CompressedStrip {
    uint8_t* bytes = nullptr;  // malloc
    size_t size = 0;
};

struct StripWork {
    const PixelRows* rows = nullptr;
    const TiffEncoding* encoding = nullptr;
    CompressedStrip* strips = nullptr;
    uint32_t first = 0;  // strips first, first + step, ... below end
    uint32_t step = 1;
    uint32_t end = 0;
    bool ok = false;
};

// Fills, differences and deflates (zlib format, as TIFF's Deflate holds it)
// the strips of one worker.
void compressStrips(StripWork* work) {
    const PixelRows& rows = *work->rows;
    const TiffEncoding& e = *work->encoding;
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(e.deflateLevel);
    MemoryBlock raw(e.rowBytes * e.rowsPerStrip);
    MemoryBlock scratch(e.sampleFormat == 3 ? e.rowBytes : 0);
    bool ok = compressor && raw.bytes && scratch.bytes;
    for (uint32_t s = work->first; ok && s < work->end; s += work->step) {
        const uint32_t top = s * e.rowsPerStrip;
        const uint32_t count = std::min(e.rowsPerStrip, rows.height - top);
        for (uint32_t r = 0; r < count; ++r) {
            uint8_t* row = raw.bytes + r * e.rowBytes;
            storedRow(rows, top + r, row);
            if (e.sampleFormat == 3)
                floatDifferenceRow(row, e.rowBytes / 4, rows.channels, scratch.bytes);
            else if (rows.sampleBits == 16)
                differenceRow<uint16_t>(row, e.rowBytes / 2, rows.channels);
            else
                differenceRow<uint8_t>(row, e.rowBytes, rows.channels);
        }
        const size_t size = count * e.rowBytes;
        const size_t bound = libdeflate_zlib_compress_bound(compressor, size);
        CompressedStrip& out = work->strips[s];
        out.bytes = static_cast<uint8_t*>(std::malloc(bound));
        out.size = out.bytes ? libdeflate_zlib_compress(compressor, raw.bytes, size, out.bytes, bound) : 0;
        ok = out.size != 0;
    }
    if (compressor) libdeflate_free_compressor(compressor);
    work->ok = ok;
}

// The strips are compressed here, on two threads when the picture is large
// enough and a thread can be had, and handed to the library whole; the
// library writes the directory.
bool encodeTiff(TIFF* tiff, const PixelRows& rows, const TiffEncoding& e) {
    const uint32_t stripCount = e.strips;
    const uint16_t extraSampleKinds[1] = {e.extraSampleKind};
    // Tags passed as varargs: 16-bit values widen to int, as the library reads them.
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, e.width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, e.height) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, e.bitsPerSample) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, e.samplesPerPixel) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, e.photometric) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, e.planarConfiguration) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, e.orientation) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, e.compression) &&
              TIFFSetField(tiff, TIFFTAG_PREDICTOR, e.predictor) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, e.rowsPerStrip);
    if (ok && e.extraSamples) ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, e.extraSamples, extraSampleKinds);
    // Unsigned integers are what a file without SampleFormat holds.
    if (ok && e.sampleFormat != SAMPLEFORMAT_UINT) ok = TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, e.sampleFormat);
    if (!ok) return false;

    auto* strips = static_cast<CompressedStrip*>(std::calloc(stripCount, sizeof(CompressedStrip)));
    if (!strips) return false;
    const bool parallel = stripCount > 1 && e.rowBytes * rows.height >= parallelFromBytes;
    StripWork work[2];
    for (uint32_t w = 0; w < 2; ++w)
        work[w] = StripWork{&rows, &e, strips, w, parallel ? 2u : 1u, parallel || w == 0 ? stripCount : 0};
    std::thread helper;
    if (parallel) {
        try {
            helper = std::thread(compressStrips, &work[1]);
        } catch (...) {
            // No thread: the second worker's strips are done after the first's.
        }
    }
    compressStrips(&work[0]);
    if (helper.joinable())
        helper.join();
    else
        compressStrips(&work[1]);
    ok = work[0].ok && work[1].ok;
    for (uint32_t s = 0; ok && s < stripCount; ++s)
        ok = TIFFWriteRawStrip(tiff, s, strips[s].bytes, static_cast<tmsize_t>(strips[s].size)) ==
             static_cast<tmsize_t>(strips[s].size);
    for (uint32_t s = 0; s < stripCount; ++s) std::free(strips[s].bytes);
    std::free(strips);
    return ok && TIFFWriteDirectory(tiff) != 0;
}

}  // namespace

bool platformDecodeTiff(std::span<const uint8_t> file, const TiffLayout& layout, const RowSink& sink) {
    const bool widthsAllowed = layout.floatingPoint ? layout.sampleBits == 16 || layout.sampleBits == 32
                                                    : layout.sampleBits >= 1 && layout.sampleBits <= 16;
    if (!sink.begin || !sink.row || !widthsAllowed || layout.samples == 0 || layout.samples > 8 ||
        layout.colourSamples + (layout.alphaSample >= 0 ? 1u : 0u) > 4)
        return false;
    MemoryFile memory;
    memory.input = file.data();
    memory.size = file.size();
    // Nothing the library allocates for one file need be larger than the
    // picture's samples as stored (or converted to RGBA), or the file.
    const uint64_t pixelBytes = std::max(layout.samples * layout.sampleBits / 8, 4u);
    const uint64_t picture = uint64_t{layout.width} * layout.height * pixelBytes;
    const uint64_t largest = std::max<uint64_t>(picture, file.size()) + (uint64_t{1} << 20);
    OpenTiff open(memory, "r", static_cast<tmsize_t>(std::min<uint64_t>(largest, INT64_MAX)));
    if (!open.tiff || !sameLayout(open.tiff, layout, file.size())) return false;
    if (layout.photometric == PHOTOMETRIC_YCBCR) {
        if (layout.compression != COMPRESSION_JPEG) return decodeThroughRgba(open.tiff, layout, sink);
        // The JPEG library converts to red, green and blue, as it does for JPEG files.
        if (!TIFFSetField(open.tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) return false;
    }
    return decodeSamples(open.tiff, layout, sink);
}

TiffGap platformTiffGap(const TiffLayout& layout) {
    return TIFFIsCODECConfigured(static_cast<uint16_t>(layout.compression)) ? TiffGap::none : TiffGap::compression;
}

bool platformEncodeTiff(const PixelRows& rows, const ByteSink& sink) {
    TiffEncoding encoding;
    if (!sink.write || !tiffEncodingFor(rows, encoding)) return false;
    MemoryFile memory;
    {
        OpenTiff open(memory, "w", 0);
        if (!open.tiff || !encodeTiff(open.tiff, rows, encoding)) return false;
    }
    return !memory.failed && sink.write(sink.context, memory.output, memory.size);
}
