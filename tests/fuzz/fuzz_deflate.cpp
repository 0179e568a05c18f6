// Any bytes, cut into chunks at places the input chooses, deflated chunk by
// chunk and inflated by zlib: the same bytes must come back.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "writers/deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    DeflateOptions options;
    options.search = (data[0] & 0x80) != 0 ? DeflateSearch::greedy
                     : data[0] % 4 == 0    ? DeflateSearch::literals
                                           : DeflateSearch::full;
    options.chain = data[0];
    options.rowDistance = data[1] * 37u;
    size_t chunk = 1 + (size_t{data[2]} << 4 | data[3]) * 16;
    data += 4;
    size -= 4;
    // At most 64 chunks: each primes its window of up to 32 KiB anew, so a
    // large input in tiny chunks costs its size times the window (the
    // encoder's chunks are a megabyte).
    if (chunk < size / 64) chunk = size / 64;
    DeflateCompressor compressor;
    std::vector<uint8_t> stream;
    size_t at = 0;
    do {
        const size_t n = size - at < chunk ? size - at : chunk;
        if (!compressor.compress(data + at, n, at, at + n == size, options, stream)) std::abort();
        at += n;
    } while (at < size);
    std::vector<uint8_t> back(size + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) std::abort();
    z.next_in = stream.data();
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(back.size());
    const int status = inflate(&z, Z_FINISH);
    const size_t produced = back.size() - z.avail_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END || z.avail_in != 0 || produced != size || std::memcmp(back.data(), data, size) != 0)
        std::abort();
    return 0;
}
