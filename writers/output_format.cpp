#include "writers/output_format.h"

#include <cstring>

#include "platform/basics.h"

namespace {

void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void put32(uint8_t* p, uint32_t value) {
    put16(p, value);
    put16(p + 2, value >> 16);
}

}  // namespace

size_t rowFileHeader(OutputFormat format, uint32_t width, uint32_t height, uint8_t (&header)[rowFileHeaderMax]) {
    std::memset(header, 0, sizeof header);
    if (format == OutputFormat::bmp) {
        const uint64_t imageSize = uint64_t{displayStride(width)} * height;
        if (imageSize > 0xFFFFFFFFu - 54 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return 0;
        put16(header + 0, 19778);                                  // "BM"
        put32(header + 2, static_cast<uint32_t>(imageSize + 54));  // file size
        put32(header + 10, 54);                                    // pixel data offset
        put32(header + 14, 40);                                    // information header size
        put32(header + 18, width);
        put32(header + 22, height);
        put16(header + 26, 1);   // planes
        put16(header + 28, 24);  // bits per pixel
        put32(header + 34, static_cast<uint32_t>(imageSize));
        put32(header + 38, 300);  // pixels per metre, both ways
        put32(header + 42, 300);
        return 54;
    }
    if (format == OutputFormat::tga) {
        // The header holds each side in 16 bits. No image ID, no colour map,
        // uncompressed true colour (type 2), 24 bits, descriptor 0: no alpha
        // bits, origin at the lower left.
        if (width > 0xFFFF || height > 0xFFFF) return 0;
        header[2] = 2;
        put16(header + 12, width);
        put16(header + 14, height);
        header[16] = 24;
        return 18;
    }
    return 0;
}
