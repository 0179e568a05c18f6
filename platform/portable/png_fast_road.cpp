// The fast road of the portable PNG decoder, for pictures of whole samples
// (8 or 16 bits) that are not interlaced: the image data gathered from its
// IDAT chunks is inflated by libdeflate in one call into a buffer of exactly
// the filtered rows' size, whose rows are then unfiltered in place and
// handed over. The road only answers when the file is plainly sound: every
// IDAT chunk whole with its CRC right, a zlib header zlib would take, a
// deflate stream that ends where the rows end (the Adler-32 after it
// unread) and filter types that exist. Anything else (a stream longer or
// shorter than the picture, a corrupt one, a chunk cut short) goes to
// libspng, which applies the reader's rules on what to tolerate; so the two
// roads never disagree.
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/basics.h"
#include "platform/png_chunk.h"
#include "platform/png_image_data.h"
#include "platform/portable/png_roads.h"
#include "platform/portable/png_unfilter.h"

namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool chunkTypeIs(const uint8_t* chunk, const char* type) { return std::memcmp(chunk + 4, type, 4) == 0; }

struct FastHeader {
    uint32_t width, height, channels, bytesPerSample;
};

bool fastRoadTakes(std::span<const uint8_t> file, FastHeader& h) {
    if (file.size() < 33) return false;
    const uint8_t depth = file[24], colourType = file[25], interlace = file[28];
    if ((depth != 8 && depth != 16) || colourType == 3 || interlace != 0) return false;
    h = {bigEndian32(file.data() + 16), bigEndian32(file.data() + 20), pngChannels(colourType), depth / 8u};
    return h.width > 0 && h.height > 0;
}

// The data of the first run of IDAT chunks, joined in one block of
// platformAllocLarge (which keeps it for the next file's).
struct ImageData {
    std::unique_ptr<uint8_t, decltype(&platformFreeLarge)> block{nullptr, &platformFreeLarge};
    size_t size = 0;
    std::span<const uint8_t> bytes() const { return {block.get(), size}; }
};

// Joins the data; false unless every chunk up to the end of that run is
// whole and every IDAT chunk's CRC holds, or when there is no memory.
bool gatherImageData(std::span<const uint8_t> file, ImageData& data) {
    // The data's size first, so that it is copied once, into one block.
    size_t total = 0;
    for (size_t at = 8 + 12 + 13; at + 12 <= file.size();) {
        const size_t length = bigEndian32(file.data() + at);
        if (length > file.size() - at - 12) break;
        if (chunkTypeIs(file.data() + at, "IDAT")) total += length;
        else if (total > 0) break;
        at += length + 12;
    }
    data.block.reset(static_cast<uint8_t*>(platformAllocLarge(total)));
    if (!data.block) return false;
    size_t at = 8 + 12 + 13;
    bool inRun = false;
    while (at + 12 <= file.size()) {
        const uint8_t* chunk = file.data() + at;
        const size_t length = bigEndian32(chunk);
        const bool idat = chunkTypeIs(chunk, "IDAT");
        if (inRun && !idat) return true;
        if (length > file.size() - at - 12) return false;
        if (idat) {
            // libdeflate's CRC-32 (the same sum as zlib's) runs several times as fast.
            if (libdeflate_crc32(0, chunk + 4, length + 4) != bigEndian32(chunk + 8 + length)) return false;
            std::memcpy(data.block.get() + data.size, chunk + 8, length);
            data.size += length;
            inRun = true;
        }
        at += length + 12;
    }
    return inRun;
}

// The reader allows a picture only as large as its image data could inflate
// to (deflate's best is 1032 bytes out for one in); held here too, so that
// no buffer is ever larger than the data can fill.
constexpr uint64_t deflateMaxRatio = 1032;
// Rows up to this size are inflated at once; beyond it the data is checked
// first (the check costs about what zlib's inflate of the rows costs).
constexpr uint64_t unprovenRowsMax = uint64_t{256} << 20;

struct LibdeflateDecompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    LibdeflateDecompressor() = default;
    LibdeflateDecompressor(const LibdeflateDecompressor&) = delete;
    LibdeflateDecompressor& operator=(const LibdeflateDecompressor&) = delete;
    ~LibdeflateDecompressor() {
        if (d) libdeflate_free_decompressor(d);
    }
};

// Inflates a plainly sound file's rows into `rows` (platformAllocLarge),
// each row after its filter byte, filter types checked.
FastPngResult inflateRows(std::span<const uint8_t> file, FastHeader& h, uint8_t*& rows) {
    rows = nullptr;
    if (!fastRoadTakes(file, h)) return FastPngResult::notSure;
    const uint64_t rowBytes = uint64_t{h.width} * h.channels * h.bytesPerSample;
    const uint64_t filteredBytes = (rowBytes + 1) * h.height;
    if (!imageSizeAllowed(h.width, h.height) || filteredBytes > SIZE_MAX / 2) return FastPngResult::notSure;
    ImageData gathered;
    if (!gatherImageData(file, gathered)) return gathered.block ? FastPngResult::notSure : FastPngResult::refused;
    const std::span<const uint8_t> data = gathered.bytes();
    // The zlib header: deflate, a window of at most 32 KiB, no preset
    // dictionary, and its check bits right.
    if (data.size() < 2 || (data[0] & 0x0F) != 8 || (data[0] >> 4) > 7 || (data[1] & 0x20) != 0 ||
        (data[0] * 256u + data[1]) % 31 != 0)
        return FastPngResult::notSure;
    if (filteredBytes > deflateMaxRatio * data.size()) return FastPngResult::refused;
    // A picture this large must prove its data before its buffer is asked
    // for: a stream of a couple of megabytes can claim gigabytes of rows
    // and break at the last one. The proof inflates through a small window.
    if (filteredBytes > unprovenRowsMax) {
        bool runsOn = false;
        const PngRowsLayout layout{h.width, h.height, h.channels * h.bytesPerSample * 8, false};
        if (checkPngImageData(data, layout, runsOn) != PngImageDataCheck::complete) return FastPngResult::notSure;
    }

    LibdeflateDecompressor inflater;
    uint8_t* block = static_cast<uint8_t*>(platformAllocLarge(static_cast<size_t>(filteredBytes) + unfilterReadsPast));
    if (!inflater.d || !block) {
        platformFreeLarge(block);
        return FastPngResult::refused;
    }
    size_t used = 0, produced = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        inflater.d, data.data() + 2, data.size() - 2, block, static_cast<size_t>(filteredBytes), &used, &produced);
    bool sound = result == LIBDEFLATE_SUCCESS && produced == filteredBytes;
    const size_t stride = static_cast<size_t>(rowBytes) + 1;
    for (uint32_t y = 0; sound && y < h.height; ++y) sound = block[y * stride] <= 4;
    if (!sound) {
        platformFreeLarge(block);
        return FastPngResult::notSure;
    }
    rows = block;
    return FastPngResult::decoded;
}

}  // namespace

FastPngResult decodePngFast(std::span<const uint8_t> file, const RowSink& sink) {
    FastHeader h{};
    uint8_t* rows = nullptr;
    const FastPngResult inflated = inflateRows(file, h, rows);
    if (inflated != FastPngResult::decoded) return inflated;
    const std::unique_ptr<uint8_t, decltype(&platformFreeLarge)> owned(rows, &platformFreeLarge);
    const size_t rowBytes = size_t{h.width} * h.channels * h.bytesPerSample, stride = rowBytes + 1;
    // The row above the top row is all zeros.
    std::unique_ptr<uint8_t, decltype(&std::free)> zeros(static_cast<uint8_t*>(std::calloc(rowBytes + unfilterReadsPast, 1)),
                                                         &std::free);
    if (!zeros || !sink.begin(sink.context, h.width, h.height, h.channels)) return FastPngResult::refused;
    const uint8_t* above = zeros.get();
    const size_t bpp = size_t{h.channels} * h.bytesPerSample;
    // Runs of rows (runs of Paeth rows are undone several at once), each
    // handed on while it is still in the cache.
    for (uint32_t y = 0; y < h.height; y += 16) {
        uint8_t* row = rows + y * stride;
        const uint32_t count = std::min(16u, h.height - y);
        unfilterPngRows(row, stride, above, bpp, count);
        for (uint32_t i = 0; i < count; ++i) sink.row(sink.context, y + i, row + i * stride + 1);
        above = row + (count - 1) * stride + 1;
    }
    return FastPngResult::decoded;
}

PngRowsInPlace::~PngRowsInPlace() {
    platformFreeLarge(rows_);
    std::free(zeros_);
}

bool PngRowsInPlace::open(std::span<const uint8_t> file) {
    FastHeader h{};
    if (rows_ || !fastRoadTakes(file, h) || h.channels < 3) return false;
    if (inflateRows(file, h, rows_) != FastPngResult::decoded) return false;
    stride_ = size_t{h.width} * h.channels * h.bytesPerSample + 1;
    zeros_ = static_cast<uint8_t*>(std::calloc(stride_ + unfilterReadsPast, 1));
    if (!zeros_) {
        platformFreeLarge(rows_);
        rows_ = nullptr;
        return false;
    }
    width_ = h.width;
    height_ = h.height;
    channels_ = h.channels;
    sampleBits_ = 8 * h.bytesPerSample;
    return true;
}

void PngRowsInPlace::unfilter(uint32_t y, uint32_t count) {
    uint8_t* filtered = rows_ + y * stride_;
    unfilterPngRows(filtered, stride_, y == 0 ? zeros_ : filtered + 1 - stride_, channels_ * sampleBits_ / 8, count);
}
