#include "writers/bmp_writer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "image/image.h"

namespace {

void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void put32(uint8_t* p, uint32_t value) {
    put16(p, value);
    put16(p + 2, value >> 16);
}

// A name beside `path` that no file has yet.
bool temporaryNameBeside(const char* path, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = std::string(path) + ".~" + std::to_string(attempt) + ".tmp";
        if (!platformFileExists(name.c_str())) {
            FILE* probe = std::fopen(name.c_str(), "rb");
            if (!probe) return true;
            std::fclose(probe);
        }
    }
    return false;
}

}  // namespace

bool writeBmp(const char* path, BitmapHandle bitmap) {
    if (!path || !*path || !bitmap) return false;
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info) || !info.bits || info.width < 0) return false;
    const uint32_t height = info.height < 0 ? 0u - static_cast<uint32_t>(info.height) : static_cast<uint32_t>(info.height);
    const uint64_t imageSize = uint64_t{displayStride(static_cast<uint32_t>(info.width))} * height;
    if (imageSize > 0xFFFFFFFFu - 54) return false;

    uint8_t header[54] = {};
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

    std::string temporary;
    if (!temporaryNameBeside(path, temporary)) return false;
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(header, 1, 14, file) == 14 && std::fwrite(header + 14, 1, 40, file) == 40 &&
              std::fwrite(info.bits, 1, static_cast<size_t>(imageSize), file) == imageSize;
    ok = std::fclose(file) == 0 && ok;
    if (ok) ok = platformReplaceFile(temporary.c_str(), path);
    if (!ok) std::remove(temporary.c_str());
    return ok;
}
