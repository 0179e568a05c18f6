// The picture codecs on every system but Windows: libspng over zlib for PNG,
// libjpeg-turbo for JPEG.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <jpeglib.h>
#include <spng.h>
#include <zlib.h>

#include "image/image.h"
#include "platform/codecs.h"
#include "platform/png_chunk.h"

namespace {

// ---------------------------------------------------------------- PNG input

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool chunkTypeIs(const uint8_t* chunk, const char* type) { return std::memcmp(chunk + 4, type, 4) == 0; }

// The bytes libspng is given: the signature, IHDR, the PLTE of a palette
// picture, the run of IDAT chunks, then an IEND of our own. Ancillary chunks
// never reach the library, so none is inflated or interpreted, and whatever
// follows the image data (a missing IEND among it) cannot fail the load.
struct CriticalStream {
    struct Piece {
        const uint8_t* bytes;
        size_t size;
    };
    static constexpr size_t maxPieces = 4;
    Piece pieces[maxPieces] = {};
    size_t count = 0;
    size_t piece = 0;   // the piece being read
    size_t offset = 0;  // bytes of it already handed over
    const uint8_t* idat = nullptr;  // the run of IDAT chunks
    size_t idatSize = 0;
    // The PLTE handed over: libspng refuses more entries than the bit depth
    // can index, which other decoders and the reader accept (the extra
    // entries are never used), so it gets only those the depth can index.
    uint8_t plte[12 + 3 * 256] = {};

    void add(const uint8_t* bytes, size_t size) {
        if (count < maxPieces) pieces[count++] = {bytes, size};
    }
};

constexpr uint8_t iendChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

// Finds the pieces in a file whose signature and IHDR the reader has
// checked. False when the file has no image data at all.
bool findCriticalPieces(std::span<const uint8_t> file, CriticalStream& stream) {
    constexpr size_t signatureAndIhdr = 8 + 12 + 13;
    if (file.size() < signatureAndIhdr) return false;
    // Outside palette pictures a PLTE is only a suggestion, left out.
    const bool palette = file[25] == 3;
    stream.add(file.data(), signatureAndIhdr);
    size_t at = signatureAndIhdr;
    bool plteSeen = false;
    while (at + 12 <= file.size()) {
        const uint8_t* chunk = file.data() + at;
        const uint64_t length = bigEndian32(chunk);
        const uint64_t whole = length + 12;
        if (chunkTypeIs(chunk, "IDAT")) {
            // The run of IDAT chunks. When the file ends inside one, the
            // library meets the end of the input there, and fails unless
            // every row came before it.
            size_t end = at;
            bool complete = true;
            while (end + 12 <= file.size() && chunkTypeIs(file.data() + end, "IDAT")) {
                const uint64_t next = end + uint64_t{bigEndian32(file.data() + end)} + 12;
                complete = next <= file.size();
                end = complete ? static_cast<size_t>(next) : file.size();
            }
            stream.add(chunk, end - at);
            stream.idat = chunk;
            stream.idatSize = end - at;
            if (complete) stream.add(iendChunk, sizeof iendChunk);
            return true;
        }
        if (palette && !plteSeen && chunkTypeIs(chunk, "PLTE") && at + whole <= file.size() && length <= 768) {
            const uint32_t indexable = 3u << file[24];
            const uint32_t kept = static_cast<uint32_t>(length) < indexable ? static_cast<uint32_t>(length) : indexable;
            const uint8_t lengthBytes[4] = {0, 0, static_cast<uint8_t>(kept >> 8), static_cast<uint8_t>(kept)};
            std::memcpy(stream.plte, lengthBytes, 4);
            std::memcpy(stream.plte + 4, chunk + 4, 4 + size_t{kept});
            const uLong crc = crc32(0, stream.plte + 4, 4 + kept);
            for (uint32_t k = 0; k < 4; ++k) stream.plte[8 + kept + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
            stream.add(stream.plte, 12 + size_t{kept});
            plteSeen = true;
        }
        if (at + whole > file.size()) return false;
        at += static_cast<size_t>(whole);
    }
    return false;
}

// libspng checks the CRC of each IDAT chunk it reads to the end, but stops
// reading inside the chunk where the rows end. That chunk's CRC is checked
// here; chunks after it hold nothing the picture needs.
bool lastImageChunkIntact(const CriticalStream& stream) {
    size_t consumed = 0;  // bytes of the IDAT run handed to the library
    for (size_t i = 0; i < stream.piece && i < stream.count; ++i)
        if (stream.pieces[i].bytes == stream.idat) consumed = stream.idatSize;
    if (stream.piece < stream.count && stream.pieces[stream.piece].bytes == stream.idat) consumed = stream.offset;
    size_t at = 0;
    while (at + 12 <= stream.idatSize) {
        const size_t whole = size_t{bigEndian32(stream.idat + at)} + 12;
        if (whole > stream.idatSize - at) return false;
        if (consumed <= at + whole) {
            const uLong crc = crc32(0, stream.idat + at + 4, static_cast<uInt>(whole - 8));
            return crc == bigEndian32(stream.idat + at + whole - 4);
        }
        at += whole;
    }
    return false;
}

int readCriticalStream(spng_ctx*, void* user, void* destination, size_t length) {
    auto& stream = *static_cast<CriticalStream*>(user);
    auto* out = static_cast<uint8_t*>(destination);
    while (length > 0) {
        if (stream.piece >= stream.count) return SPNG_IO_EOF;
        const CriticalStream::Piece& p = stream.pieces[stream.piece];
        const size_t n = std::min(length, p.size - stream.offset);
        std::memcpy(out, p.bytes + stream.offset, n);
        out += n;
        length -= n;
        stream.offset += n;
        if (stream.offset == p.size) {
            ++stream.piece;
            stream.offset = 0;
        }
    }
    return 0;
}

// libspng hands over 16-bit samples in the host's byte order; the seam
// promises the file's order, most significant byte first.
void toBigEndian16(uint8_t* row, size_t bytes) {
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    if (first == 0) return;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const uint8_t t = row[i];
        row[i] = row[i + 1];
        row[i + 1] = t;
    }
}

// Decodes every row with `ctx` set up for progressive decoding. A picture
// that is not interlaced goes row by row through one row buffer; an
// interlaced one is gathered whole in its stored form (each pass fills in
// pixels of rows already visited) and handed over once complete.
bool decodeRows(spng_ctx* ctx, const spng_ihdr& ihdr, size_t rowBytes, const RowSink& sink) {
    const bool interlaced = ihdr.interlace_method != 0;
    const size_t rows = interlaced ? ihdr.height : 1;
    if (rowBytes > SIZE_MAX / rows) return false;
    // Packed samples of the passes are merged into zeroed bytes.
    auto* buffer = static_cast<uint8_t*>(std::calloc(rowBytes * rows, 1));
    if (!buffer) return false;
    int status = 0;
    uint32_t delivered = 0;
    while (status == 0) {
        spng_row_info info{};
        if (spng_get_row_info(ctx, &info) != 0) break;
        uint8_t* row = buffer + (interlaced ? rowBytes * info.row_num : 0);
        status = spng_decode_row(ctx, row, rowBytes);
        if (status != 0 && status != SPNG_EOI) break;
        if (!interlaced) {
            if (ihdr.bit_depth == 16) toBigEndian16(row, rowBytes);
            sink.row(sink.context, info.row_num, row);
            ++delivered;
        }
    }
    if (interlaced && status == SPNG_EOI) {
        for (uint32_t y = 0; y < ihdr.height; ++y) {
            uint8_t* row = buffer + rowBytes * y;
            if (ihdr.bit_depth == 16) toBigEndian16(row, rowBytes);
            sink.row(sink.context, y, row);
        }
        delivered = ihdr.height;
    }
    std::free(buffer);
    return status == SPNG_EOI && delivered == ihdr.height;
}

// ---------------------------------------------------------------- JPEG input

struct JpegErrors {
    jpeg_error_mgr manager;  // first, so that the library's pointer is ours
    std::jmp_buf escape;
};

[[noreturn]] void jpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->escape, 1);
}

// Warnings (level -1) are corrupt data or a file that ends early, which the
// library would patch over with grey; they end the decoding as errors do.
// Trace messages (levels 0 and up) are ignored.
void jpegMessage(j_common_ptr info, int level) {
    if (level < 0) jpegFailed(info);
}

void jpegSilent(j_common_ptr) {}

// Holds everything the jump can skip over in plain objects, so that a
// longjmp out of the library passes no destructor.
bool decodeJpegWith(jpeg_decompress_struct* info, JpegErrors* errors, std::span<const uint8_t> file,
                    const RowSink& sink, uint8_t* volatile* row) {
    info->err = jpeg_std_error(&errors->manager);
    errors->manager.error_exit = jpegFailed;
    errors->manager.emit_message = jpegMessage;
    errors->manager.output_message = jpegSilent;
    if (setjmp(errors->escape)) return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, file.data(), static_cast<unsigned long>(file.size()));
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
    // The library's defaults stay: accurate integer transform, smooth chroma
    // upsampling. Only the output colour space is named.
    info->out_color_space = info->num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    const uint32_t channels = info->num_components == 1 ? 1 : 3;
    if (!sink.begin(sink.context, info->image_width, info->image_height, channels)) return false;
    jpeg_start_decompress(info);
    if (info->output_components != static_cast<int>(channels) || info->output_width != info->image_width ||
        info->output_height != info->image_height)
        return false;
    *row = static_cast<uint8_t*>(std::malloc(size_t{info->output_width} * channels));
    if (!*row) return false;
    while (info->output_scanline < info->output_height) {
        const uint32_t y = info->output_scanline;
        JSAMPROW rows[1] = {*row};
        if (jpeg_read_scanlines(info, rows, 1) != 1) return false;
        sink.row(sink.context, y, *row);
    }
    jpeg_finish_decompress(info);
    return true;
}

// --------------------------------------------------------------- PNG output
//
// The image data is filtered with the Up filter (each row less the row above
// it, so that the long flat runs and repeated rows of a normal map deflate
// to almost nothing) and deflated at zlib's default level with a shorter
// match search, in two bands of rows at once: each band is a raw deflate
// stream ending in a full flush (the last one in the final block), so their
// bytes follow each other as one zlib stream, whose Adler-32 is put together
// from the bands' own. libspng writes the signature and IHDR. Measured in
// bench/png-vs-convert.

constexpr int pngDeflateLevel = 6;
// Level 6 searches chains of 128 candidate matches; 64 costs a fifth less
// time on the benchmark picture for a file about 6% larger (still 0.95x
// ImageMagick's).
constexpr int pngMatchChain = 64;
constexpr uint8_t upFilter = 2;
// Below this many bytes of image data a second thread costs more than it saves.
constexpr size_t parallelFromBytes = size_t{1} << 20;

int writeToSink(spng_ctx*, void* user, void* bytes, size_t length) {
    const ByteSink& sink = *static_cast<const ByteSink*>(user);
    return sink.write(sink.context, bytes, length) ? 0 : SPNG_IO_ERROR;
}

struct DeflatedBand {
    uint32_t first = 0;  // rows first .. end - 1, top row 0
    uint32_t end = 0;
    bool last = false;
    uint8_t* bytes = nullptr;  // malloc
    size_t size = 0;
    uLong adler = 1;
    bool ok = false;

    DeflatedBand() = default;
    DeflatedBand(const DeflatedBand&) = delete;
    DeflatedBand& operator=(const DeflatedBand&) = delete;
    ~DeflatedBand() { std::free(bytes); }
};

// Red-green-blue of row y (top row 0) of a display bitmap.
void rgbRow(const BitmapInfo& info, uint32_t height, uint32_t y, uint8_t* out) {
    const uint32_t width = static_cast<uint32_t>(info.width);
    const uint8_t* in = info.bits + size_t{info.height > 0 ? height - 1 - y : y} * displayStride(width);
    for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

// Runs deflate over `z`'s input, growing the band's output as needed.
bool deflateInto(z_stream& z, DeflatedBand& band, size_t& capacity, int flush) {
    for (;;) {
        if (capacity - band.size < 4096) {
            const size_t grown = capacity ? 2 * capacity : size_t{1} << 18;
            auto* bigger = static_cast<uint8_t*>(std::realloc(band.bytes, grown));
            if (!bigger) return false;
            band.bytes = bigger;
            capacity = grown;
        }
        const size_t room = std::min<size_t>(capacity - band.size, size_t{1} << 30);
        z.next_out = band.bytes + band.size;
        z.avail_out = static_cast<uInt>(room);
        const int status = deflate(&z, flush);
        band.size += room - z.avail_out;
        if (status == Z_STREAM_END) return true;
        if (status != Z_OK && status != Z_BUF_ERROR) return false;
        // Done when all input is taken and deflate had room to spare, so
        // that a flush has given all its output.
        if (flush != Z_FINISH && z.avail_in == 0 && z.avail_out != 0) return true;
    }
}

void deflateBand(const BitmapInfo* info, uint32_t height, DeflatedBand* band) {
    const size_t rowBytes = size_t{3} * static_cast<uint32_t>(info->width);
    auto* scratch = static_cast<uint8_t*>(std::malloc(3 * rowBytes + 1));
    z_stream z{};
    bool ok = scratch && deflateInit2(&z, pngDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK &&
              deflateTune(&z, 8, 16, 128, pngMatchChain) == Z_OK;
    if (!ok) {
        std::free(scratch);
        return;
    }
    uint8_t* above = scratch;
    uint8_t* current = scratch + rowBytes;
    uint8_t* filtered = scratch + 2 * rowBytes;
    if (band->first > 0)
        rgbRow(*info, height, band->first - 1, above);
    else
        std::memset(above, 0, rowBytes);
    size_t capacity = 0;
    for (uint32_t y = band->first; ok && y < band->end; ++y) {
        rgbRow(*info, height, y, current);
        filtered[0] = upFilter;
        for (size_t i = 0; i < rowBytes; ++i) filtered[1 + i] = static_cast<uint8_t>(current[i] - above[i]);
        band->adler = adler32(band->adler, filtered, static_cast<uInt>(rowBytes + 1));
        z.next_in = filtered;
        z.avail_in = static_cast<uInt>(rowBytes + 1);
        ok = deflateInto(z, *band, capacity, Z_NO_FLUSH);
        std::swap(above, current);
    }
    ok = ok && deflateInto(z, *band, capacity, band->last ? Z_FINISH : Z_FULL_FLUSH);
    deflateEnd(&z);
    std::free(scratch);
    band->ok = ok;
}

bool writeChunk(const ByteSink& sink, const char* type, std::span<const uint8_t> a, std::span<const uint8_t> b,
                std::span<const uint8_t> c) {
    const size_t length = a.size() + b.size() + c.size();
    if (length > 0x7FFFFFFFu) return false;
    uint8_t head[8] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                       static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    // (A null pointer would ask zlib for the initial value instead.)
    for (auto part : {a, b, c})
        if (!part.empty()) crc = crc32(crc, part.data(), static_cast<uInt>(part.size()));
    const uint8_t tail[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                             static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    bool ok = sink.write(sink.context, head, 8);
    for (auto part : {a, b, c}) ok = ok && (part.empty() || sink.write(sink.context, part.data(), part.size()));
    return ok && sink.write(sink.context, tail, 4);
}

// Deflates both bands, the second on a thread of its own when the picture
// is large enough and a thread can be had.
void deflateBands(const BitmapInfo& info, uint32_t height, DeflatedBand (&bands)[2]) {
    std::thread helper;
    try {
        helper = std::thread(deflateBand, &info, height, &bands[1]);
    } catch (...) {
        // No thread: the second band is deflated after the first.
    }
    deflateBand(&info, height, &bands[0]);
    if (helper.joinable())
        helper.join();
    else
        deflateBand(&info, height, &bands[1]);
}

}  // namespace

bool platformDecodePng(std::span<const uint8_t> file, const RowSink& sink) {
    CriticalStream stream;
    if (!findCriticalPieces(file, stream)) return false;
    // The Adler-32 checksum follows the last row's data: trouble there must
    // not undo a picture already complete.
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_IGNORE_ADLER32);
    if (!ctx) return false;
    bool ok = spng_set_png_stream(ctx, readCriticalStream, &stream) == 0 &&
              spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_DISCARD) == 0 &&
              spng_set_image_limits(ctx, 0x7FFFFFFF, 0x7FFFFFFF) == 0;
    spng_ihdr ihdr{};
    size_t size = 0;
    ok = ok && spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size) == 0;
    ok = ok && sink.begin(sink.context, ihdr.width, ihdr.height, pngChannels(ihdr.color_type));
    ok = ok && spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE) == 0;
    ok = ok && decodeRows(ctx, ihdr, size / ihdr.height, sink) && lastImageChunkIntact(stream);
    spng_ctx_free(ctx);
    return ok;
}

bool platformDecodeJpeg(std::span<const uint8_t> file, const RowSink& sink) {
    if (file.empty() || !sink.begin || !sink.row) return false;
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    uint8_t* volatile row = nullptr;
    const bool ok = decodeJpegWith(&info, &errors, file, sink, &row);
    jpeg_destroy_decompress(&info);
    std::free(row);
    return ok;
}

bool platformEncodePng(BitmapHandle bitmap, const ByteSink& sink) {
    BitmapInfo info;
    if (!sink.write || !platformQueryBitmap(bitmap, info) || !info.bits || info.width <= 0 || info.height == 0)
        return false;
    const uint32_t width = static_cast<uint32_t>(info.width);
    const uint32_t height = info.height > 0 ? static_cast<uint32_t>(info.height) : 0u - static_cast<uint32_t>(info.height);

    DeflatedBand bands[2];
    const bool parallel = (size_t{3} * width + 1) * height >= parallelFromBytes;
    bands[0].end = parallel ? height / 2 : height;
    bands[1].first = bands[0].end;
    bands[1].end = height;
    bands[1].last = true;
    if (parallel) {
        deflateBands(info, height, bands);
    } else {
        deflateBand(&info, height, &bands[0]);
        deflateBand(&info, height, &bands[1]);
    }
    if (!bands[0].ok || !bands[1].ok) return false;
    const uLong secondLength = (size_t{3} * width + 1) * (bands[1].end - bands[1].first);
    const uLong adler = adler32_combine(bands[0].adler, bands[1].adler, static_cast<z_off_t>(secondLength));

    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    bool ok = ctx && spng_set_png_stream(ctx, writeToSink, const_cast<ByteSink*>(&sink)) == 0 &&
              spng_set_ihdr(ctx, &ihdr) == 0 && spng_encode_chunks(ctx) == 0;
    spng_ctx_free(ctx);
    // The zlib header (deflate, 32 KiB window, default level) leads the first
    // IDAT chunk and the Adler-32 closes the last.
    const uint8_t zlibHeader[2] = {0x78, 0x9C};
    const uint8_t adlerBytes[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                                   static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
    ok = ok && writeChunk(sink, "IDAT", zlibHeader, {bands[0].bytes, bands[0].size}, {}) &&
         writeChunk(sink, "IDAT", {}, {bands[1].bytes, bands[1].size}, adlerBytes);
    return ok && writeChunk(sink, "IEND", {}, {}, {});
}
