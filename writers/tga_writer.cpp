// Truevision TGA output: uncompressed true colour (type 2), 24 bits, the
// 18-byte header with no image ID and no colour map, rows bottom-up (origin
// lower left, descriptor 0). The display bitmap already holds blue-green-red
// rows bottom row first, so its rows are written as they are, less padding.
#include <cerrno>
#include <cstdlib>

#include "image/image.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

struct TgaContent {
    BitmapInfo info;
    uint32_t height;
};

bool fillTga(void* context, const ByteSink& out) {
    const auto& c = *static_cast<const TgaContent*>(context);
    const uint32_t width = static_cast<uint32_t>(c.info.width);
    uint8_t header[rowFileHeaderMax];
    const size_t headerSize = rowFileHeader(OutputFormat::tga, width, c.height, header);
    if (!headerSize || !out.write(out.context, header, headerSize)) return false;
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

namespace {

// A picture with alpha: 32 bits a pixel, blue-green-red-alpha, descriptor 8
// (eight alpha bits, origin at the lower left).
bool fillTgaWithAlpha(void* context, const ByteSink& out) {
    const PixelRows& rows = *static_cast<const PixelRows*>(context);
    uint8_t header[rowFileHeaderMax];
    if (!rowFileHeader(OutputFormat::tga, rows.width, rows.height, header)) return false;
    header[16] = 32;
    header[17] = 8;
    if (!out.write(out.context, header, 18)) return false;
    const size_t rowBytes = size_t{4} * rows.width;
    auto* buffer = static_cast<uint8_t*>(std::malloc(rowBytes));
    if (!buffer) return false;
    bool ok = true;
    for (uint32_t row = 0; ok && row < rows.height; ++row) {
        const uint8_t* in = rows.first + rows.stride * static_cast<ptrdiff_t>(rows.height - 1 - row);
        for (size_t x = 0; x < rows.width; ++x, in += 4) {
            buffer[4 * x] = in[rows.bgr ? 0 : 2];
            buffer[4 * x + 1] = in[1];
            buffer[4 * x + 2] = in[rows.bgr ? 2 : 0];
            buffer[4 * x + 3] = in[3];
        }
        ok = out.write(out.context, buffer, rowBytes);
    }
    std::free(buffer);
    return ok;
}

}  // namespace

bool writeTgaWithAlpha(const char* path, const PixelRows& rows) {
    errno = 0;
    if (!path || !*path || rows.channels != 4 || rows.sampleBits != 8 || rows.width == 0 || rows.height == 0 ||
        rows.width > 0xFFFF || rows.height > 0xFFFF)
        return false;
    return writeFileAtomically(path, fillTgaWithAlpha, const_cast<PixelRows*>(&rows));
}
