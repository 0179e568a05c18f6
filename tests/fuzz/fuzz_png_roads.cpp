// The portable PNG decoder's two roads on the same bytes: what the fast
// road decodes, libspng decodes to the same rows; what it refuses, libspng
// refuses. Inputs of even length get every chunk's CRC made right first, so
// that mutations reach the image data.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/portable/png_roads.h"

namespace {

struct Rows {
    size_t rowBytes = 0;
    uint32_t width = 0, height = 0, channels = 0;
    std::vector<std::vector<uint8_t>> rows;
};

uint32_t big32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

bool begin(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& r = *static_cast<Rows*>(context);
    if (uint64_t{width} * height > (uint64_t{1} << 20)) return false;
    r.width = width, r.height = height, r.channels = channels;
    r.rows.assign(height, {});
    return true;
}

void row(void* context, uint32_t y, const uint8_t* stored) {
    auto& r = *static_cast<Rows*>(context);
    if (y < r.rows.size()) r.rows[y].assign(stored, stored + r.rowBytes);
}

// What the reader checks before the codec sees a file: the signature and a
// whole IHDR of a layout PNG allows.
bool readerWouldPass(const std::vector<uint8_t>& f) {
    static const uint8_t signature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    if (f.size() < 33 || std::memcmp(f.data(), signature, 8) != 0 || big32(f.data() + 8) != 13 ||
        std::memcmp(f.data() + 12, "IHDR", 4) != 0 || crc32(0, f.data() + 12, 17) != big32(f.data() + 29))
        return false;
    const uint32_t w = big32(f.data() + 16), h = big32(f.data() + 20), depth = f[24], type = f[25];
    const bool depthOk = type == 0   ? (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)
                         : type == 3 ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                                     : (type == 2 || type == 4 || type == 6) && (depth == 8 || depth == 16);
    return w > 0 && h > 0 && uint64_t{w} * h <= (uint64_t{1} << 28) && depthOk && f[26] == 0 && f[27] == 0 &&
           f[28] <= 1;
}

size_t rowBytesOf(const std::vector<uint8_t>& f) {
    static const uint32_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
    return (size_t{big32(f.data() + 16)} * channels[f[25]] * f[24] + 7) / 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    if (size % 2 == 0)
        for (size_t at = 8; at + 12 <= file.size();) {
            const size_t length = big32(file.data() + at);
            if (length > file.size() - at - 12) break;
            const uLong crc = crc32(0, file.data() + at + 4, static_cast<uInt>(length + 4));
            for (size_t k = 0; k < 4; ++k) file[at + 8 + length + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
            at += length + 12;
        }
    if (!readerWouldPass(file)) return 0;
    Rows fast, slow;
    fast.rowBytes = slow.rowBytes = rowBytesOf(file);
    const FastPngResult result = decodePngFast(file, RowSink{&fast, begin, row});
    const bool ok = decodePngWithLibspng(file, RowSink{&slow, begin, row});
    if (result == FastPngResult::decoded &&
        (!ok || fast.width != slow.width || fast.height != slow.height || fast.channels != slow.channels ||
         fast.rows != slow.rows))
        std::abort();
    if (result == FastPngResult::refused && ok) std::abort();
    return 0;
}
