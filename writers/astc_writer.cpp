// ASTC files (the .astc container, encode/astc_codec.h): the top level of
// the texture road alone, in the ASTC library's normal-map mode, behind the
// 16-byte header; handed to the system in two writes.
#include <cerrno>
#include <new>

#include "encode/astc_codec.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

struct AstcContent {
    uint8_t header[astcFileHeaderBytes] = {};
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
};

bool fillAstc(void* context, const ByteSink& out) {
    const auto& c = *static_cast<const AstcContent*>(context);
    return out.write(out.context, c.header, sizeof c.header) && out.write(out.context, c.data, c.dataSize);
}

}  // namespace

bool writeAstc(const char* path, const Image& image, const SaveOptions& options) {
    errno = 0;
    AstcBlock block;
    if (!path || !*path || image.width <= 0 || image.height <= 0 || !astcBlockOf(options.astcFormat, block))
        return false;
    const uint32_t width = static_cast<uint32_t>(image.width), height = static_cast<uint32_t>(image.height);
    AstcContent content;
    if (!putAstcFileHeader({block, width, height}, content.header)) return false;
    TextureOptions texture;
    texture.format = options.astcFormat;
    texture.maxLevels = 1;  // the file holds one level
    texture.astcQuality = options.astcQuality;
    const uint64_t dataSize = textureBytes(texture.format, width, height, 1);
    if (dataSize > SIZE_MAX) return false;
    uint8_t* data = new (std::nothrow) uint8_t[static_cast<size_t>(dataSize)];
    if (!data) return false;
    content.data = data;
    content.dataSize = static_cast<size_t>(dataSize);
    const bool ok = encodeTexture(image, texture, data, dataSize) && writeFileAtomically(path, fillAstc, &content);
    const int reason = errno;
    delete[] data;
    errno = reason;
    return ok;
}
