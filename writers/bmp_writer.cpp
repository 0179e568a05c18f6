#include "writers/bmp_writer.h"

#include "image/image.h"
#include "writers/atomic_file.h"

namespace {

void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void put32(uint8_t* p, uint32_t value) {
    put16(p, value);
    put16(p + 2, value >> 16);
}

struct BmpContent {
    uint8_t header[54] = {};
    const uint8_t* bits;
    size_t size;
};

bool fillBmp(void* context, const ByteSink& out) {
    const auto& c = *static_cast<const BmpContent*>(context);
    return out.write(out.context, c.header, 14) && out.write(out.context, c.header + 14, 40) &&
           out.write(out.context, c.bits, c.size);
}

}  // namespace

bool writeBmp(const char* path, BitmapHandle bitmap) {
    if (!path || !*path || !bitmap) return false;
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info) || !info.bits || info.width < 0) return false;
    const uint32_t height = info.height < 0 ? 0u - static_cast<uint32_t>(info.height) : static_cast<uint32_t>(info.height);
    const uint64_t imageSize = uint64_t{displayStride(static_cast<uint32_t>(info.width))} * height;
    if (imageSize > 0xFFFFFFFFu - 54) return false;

    BmpContent content{{}, info.bits, static_cast<size_t>(imageSize)};
    uint8_t* header = content.header;
    put16(header + 0, 19778);                                  // "BM"
    put32(header + 2, static_cast<uint32_t>(imageSize + 54));  // file size
    put32(header + 10, 54);                                    // pixel data offset
    put32(header + 14, 40);                                    // information header size
    put32(header + 18, static_cast<uint32_t>(info.width));
    put32(header + 22, static_cast<uint32_t>(info.height));
    put16(header + 26, 1);   // planes
    put16(header + 28, 24);  // bits per pixel
    put32(header + 34, static_cast<uint32_t>(imageSize));
    put32(header + 38, 300);  // pixels per metre, both ways
    put32(header + 42, 300);
    return writeFileAtomically(path, fillBmp, &content);
}
