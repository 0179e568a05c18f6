// zstd through the system's libzstd.
#include <zstd.h>

#include <memory>
#include <new>

#include "platform/packing_steps.h"

bool platformHasZstd() { return true; }

bool platformZstdPack(std::span<const uint8_t> data, int level, std::vector<uint8_t>& packed) {
    try {
        packed.resize(ZSTD_compressBound(data.size()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const size_t length = ZSTD_compress(packed.data(), packed.size(), data.data(), data.size(), level);
    if (ZSTD_isError(length)) return false;
    packed.resize(length);
    return true;
}

bool platformZstdUnpack(std::span<const uint8_t> packed, uint64_t unpackedLength, std::span<uint8_t> keep) {
    const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    const auto target = std::make_unique<UnpackTarget>(unpackedLength, keep);
    if (!context) return false;
    ZSTD_inBuffer in{packed.data(), packed.size(), 0};
    for (;;) {
        const std::span<uint8_t> room = target->room();
        ZSTD_outBuffer out{room.data(), room.size(), 0};
        const size_t status = ZSTD_decompressStream(context.get(), &out, &in);
        if (ZSTD_isError(status) || !target->took(out.pos)) return false;
        // 0: a frame ended; with no input left, the data ends there.
        if (in.pos == in.size && status == 0) return target->whole();
        // Input used up in the middle of a frame: the data ends early.
        if (in.pos == in.size && out.pos < out.size) return false;
    }
}
