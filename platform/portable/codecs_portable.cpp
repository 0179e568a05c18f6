// The picture codecs on every system but Windows: PNG through libdeflate and
// our own unfiltering for the common layouts (png_fast_road.cpp), libspng
// over zlib for the rest and for every file the fast road is not sure of;
// libjpeg-turbo for JPEG.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <spng.h>
#include <zlib.h>

#include "platform/basics.h"
#include "platform/codecs.h"
#include "platform/png_chunk.h"
#include "platform/portable/png_roads.h"

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
        const int next = spng_get_row_info(ctx, &info);
        // A picture whose last passes are empty (1 x 1, interlaced) ends
        // without the last row saying so.
        if (next == SPNG_EOI) status = SPNG_EOI;
        if (next != 0) break;
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

}  // namespace

bool decodePngWithLibspng(std::span<const uint8_t> file, const RowSink& sink) {
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

bool platformDecodePng(std::span<const uint8_t> file, const RowSink& sink) {
    switch (decodePngFast(file, sink)) {
        case FastPngResult::decoded: return true;
        case FastPngResult::refused: return false;
        case FastPngResult::notSure: break;
    }
    return decodePngWithLibspng(file, sink);
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
