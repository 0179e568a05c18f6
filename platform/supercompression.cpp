// The packing that every build has: zlib streams, through zlib. zstd is the
// system's (platform/portable/zstd_portable.cpp, or none on Windows).
#include "platform/supercompression.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "platform/packing_steps.h"

namespace {

bool zlibPack(std::span<const uint8_t> data, int level, std::vector<uint8_t>& packed) {
    if (level < 1 || level > 9 || data.size() > 0xFFFFFFFFu) return false;
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    try {
        packed.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (compress2(packed.data(), &length, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) return false;
    packed.resize(length);
    return true;
}

bool zlibUnpack(std::span<const uint8_t> packed, uint64_t unpackedLength, std::span<uint8_t> keep) {
    if (packed.size() > 0xFFFFFFFFu) return false;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    UnpackTarget target(unpackedLength, keep);
    bool ok = false;
    for (;;) {
        const std::span<uint8_t> room = target.room();
        stream.next_out = room.data();
        stream.avail_out = static_cast<uInt>(room.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        const size_t made = room.size() - stream.avail_out;
        if (!target.took(made)) break;  // past the stated length
        if (status == Z_STREAM_END) {
            ok = target.whole();
            break;
        }
        // Out of input before the end of the stream, or damaged data.
        if (status != Z_OK || (made == 0 && stream.avail_in == 0)) break;
    }
    inflateEnd(&stream);
    return ok;
}

}  // namespace

UnpackTarget::UnpackTarget(uint64_t length, std::span<uint8_t> keep)
    : length_(length), keep_(keep.subspan(0, static_cast<size_t>(std::min<uint64_t>(keep.size(), length)))) {}

std::span<uint8_t> UnpackTarget::room() {
    if (made_ < keep_.size()) return keep_.subspan(static_cast<size_t>(made_));
    // Past the stated length, one byte of room shows a stream that goes on.
    const uint64_t left = length_ - made_;
    const size_t size = left == 0 ? 1 : static_cast<size_t>(std::min<uint64_t>(left, sizeof scratch_));
    return {scratch_, size};
}

bool UnpackTarget::took(size_t count) {
    if (count > length_ - made_) return false;
    made_ += count;
    return true;
}

bool platformHasPacking(Packing packing) { return packing == Packing::zlib || platformHasZstd(); }

int maxPackingLevel(Packing packing) { return packing == Packing::zlib ? 9 : 22; }

bool platformPack(Packing packing, std::span<const uint8_t> data, int level, std::vector<uint8_t>& packed) {
    if (packing == Packing::zlib) return zlibPack(data, level, packed);
    return level >= 1 && level <= 22 && platformZstdPack(data, level, packed);
}

bool platformUnpack(Packing packing, std::span<const uint8_t> packed, uint64_t unpackedLength,
                    std::span<uint8_t> keep) {
    if (packing == Packing::zlib) return zlibUnpack(packed, unpackedLength, keep);
    return platformZstdUnpack(packed, unpackedLength, keep);
}
