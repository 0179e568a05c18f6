// Truevision TGA output: uncompressed true colour (type 2), 24 bits, the
// 18-byte header with no image ID and no colour map, rows bottom-up (origin
// lower left, descriptor 0). The display bitmap already holds blue-green-red
// rows bottom row first, so its rows are written as they are, less padding.
#include <cerrno>

#include "image/image.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

constexpr size_t tgaHeaderSize = 18;

struct TgaContent {
    BitmapInfo info;
    uint32_t height;
};

bool fillTga(void* context, const ByteSink& out) {
    const auto& c = *static_cast<const TgaContent*>(context);
    const uint32_t width = static_cast<uint32_t>(c.info.width);
    const uint8_t header[tgaHeaderSize] = {
        0,  // ID length
        0,  // colour map type: none
        2,  // image type: uncompressed true colour
        0, 0, 0, 0, 0,  // colour map specification, unused
        0, 0,  // X origin
        0, 0,  // Y origin
        static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8),
        static_cast<uint8_t>(c.height), static_cast<uint8_t>(c.height >> 8),
        24,  // pixel depth
        0,   // descriptor: no alpha bits, bottom row first
    };
    if (!out.write(out.context, header, tgaHeaderSize)) return false;
    const size_t stride = displayStride(width);
    const bool bottomUp = c.info.height > 0;
    for (uint32_t row = 0; row < c.height; ++row) {
        const uint32_t y = bottomUp ? row : c.height - 1 - row;
        if (!out.write(out.context, c.info.bits + size_t{y} * stride, size_t{3} * width)) return false;
    }
    return true;
}

}  // namespace

bool writeTga(const char* path, BitmapHandle bitmap) {
    errno = 0;
    TgaContent content{};
    if (!path || !*path || !platformQueryBitmap(bitmap, content.info) || !content.info.bits ||
        content.info.width <= 0 || content.info.height == 0)
        return false;
    content.height = content.info.height < 0 ? 0u - static_cast<uint32_t>(content.info.height)
                                             : static_cast<uint32_t>(content.info.height);
    // The header holds each side in 16 bits.
    if (content.info.width > 0xFFFF || content.height > 0xFFFF) return false;
    return writeFileAtomically(path, fillTga, &content);
}
