#include "platform/png_image_data.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace {

// The rows of each of the seven passes of an interlaced picture, or of the
// one pass of a plain one: how many, and the bytes of each with its filter byte.
struct Pass {
    uint64_t rows;
    uint64_t bytes;
};

int passesOf(const PngRowsLayout& l, Pass (&passes)[7]) {
    auto pass = [&](uint64_t width, uint64_t height) {
        return width == 0 || height == 0 ? Pass{0, 0} : Pass{height, 1 + (width * l.bitsPerPixel + 7) / 8};
    };
    if (!l.interlaced) {
        passes[0] = pass(l.width, l.height);
        return 1;
    }
    constexpr uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    constexpr uint32_t y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p)
        passes[p] = pass((uint64_t{l.width} + dx[p] - 1 - x0[p]) / dx[p], (uint64_t{l.height} + dy[p] - 1 - y0[p]) / dy[p]);
    return 7;
}

struct Inflater {
    z_stream z{};
    bool ready = inflateInit(&z) == Z_OK;
    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() {
        if (ready) inflateEnd(&z);
    }
};

}  // namespace

namespace {

// Stored deflate blocks of at most 65535 bytes, built as the bytes come.
struct StoredStream {
    std::vector<uint8_t>& out;
    size_t header = SIZE_MAX;  // where the open block's header is
    size_t length = 0;         // and the bytes it holds so far
    uLong adler = 1;

    void closeBlock(bool last) {
        if (header == SIZE_MAX) return;
        const uint8_t bytes[5] = {static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(length),
                                  static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(~length),
                                  static_cast<uint8_t>(~length >> 8)};
        std::copy(bytes, bytes + 5, out.begin() + static_cast<ptrdiff_t>(header));
    }
    void openBlock() {
        closeBlock(false);
        header = out.size();
        out.resize(out.size() + 5);
        length = 0;
    }
    void add(const uint8_t* bytes, size_t size) {
        adler = adler32(adler, bytes, static_cast<uInt>(size));
        while (size > 0) {
            if (header == SIZE_MAX || length == 65535) openBlock();
            const size_t take = std::min(size, 65535 - length);
            out.insert(out.end(), bytes, bytes + take);
            length += take, bytes += take, size -= take;
        }
    }
    void finish() {
        if (header == SIZE_MAX) openBlock();
        closeBlock(true);
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
    }
};

// Inflates the rows of `layout` from `data` through a small window, handing
// each piece to `stored` when one is given.
PngImageDataCheck inflateRows(std::span<const uint8_t> data, const PngRowsLayout& layout, bool& runsOn,
                              StoredStream* stored) {
    runsOn = false;
    Pass passes[7];
    const int count = passesOf(layout, passes);
    Inflater inflater;
    if (!inflater.ready) return PngImageDataCheck::broken;
    z_stream& z = inflater.z;
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(std::min<size_t>(data.size(), 0xFFFFFFFFu));
    uint8_t window[1 << 15];
    bool ended = false;
    for (int p = 0; p < count; ++p) {
        for (uint64_t row = 0; row < passes[p].rows; ++row) {
            // A row is inflated in pieces of the window's size; its first
            // byte, the filter type, is read as it comes.
            for (uint64_t left = passes[p].bytes; left > 0;) {
                if (ended) return PngImageDataCheck::broken;
                const bool first = left == passes[p].bytes;
                z.next_out = window;
                z.avail_out = static_cast<uInt>(std::min<uint64_t>(left, sizeof window));
                const uInt asked = z.avail_out;
                const int status = inflate(&z, Z_SYNC_FLUSH);
                const uInt got = asked - z.avail_out;
                // The stream may end, or break (a wrong Adler-32 among the
                // ways), right after the last row: only bytes still wanted
                // after that make it broken.
                if (status == Z_STREAM_END || (status == Z_DATA_ERROR && got > 0)) ended = true;
                else if (status != Z_OK || got == 0) return PngImageDataCheck::broken;
                if (first && got > 0 && window[0] > 4) return PngImageDataCheck::broken;
                if (stored) stored->add(window, got);
                left -= got;
            }
        }
    }
    if (!ended) {
        z.next_out = window;
        z.avail_out = 1;
        runsOn = inflate(&z, Z_SYNC_FLUSH) == Z_OK && z.avail_out == 0;
    }
    return PngImageDataCheck::complete;
}

}  // namespace

PngImageDataCheck checkPngImageData(std::span<const uint8_t> data, const PngRowsLayout& layout, bool& runsOn) {
    return inflateRows(data, layout, runsOn, nullptr);
}

bool pngRowsAsStoredStream(std::span<const uint8_t> data, const PngRowsLayout& layout,
                           std::vector<uint8_t>& stream) {
    try {
        stream.assign({0x78, 0x01});  // deflate, 32 KiB window, no dictionary
        StoredStream stored{stream};
        bool runsOn = false;
        if (inflateRows(data, layout, runsOn, &stored) != PngImageDataCheck::complete) return false;
        stored.finish();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
