#include "writers/bmp_writer.h"

#include "image/image.h"
#include "writers/atomic_file.h"
#include "writers/output_format.h"

namespace {

struct BmpContent {
    uint8_t header[rowFileHeaderMax] = {};
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
    if (!rowFileHeader(OutputFormat::bmp, static_cast<uint32_t>(info.width), height, content.header)) return false;
    // A bitmap kept top row first says so in its header, as its height's sign.
    const auto storedHeight = static_cast<uint32_t>(info.height);
    for (int i = 0; i < 4; ++i) content.header[22 + i] = static_cast<uint8_t>(storedHeight >> (8 * i));
    return writeFileAtomically(path, fillBmp, &content);
}
