#include "writers/writers.h"

#include <cerrno>
#include <cstring>

#include "image/image.h"
#include "writers/bmp_writer.h"
#include "writers/encoder_rows.h"

namespace {

void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void put32(uint8_t* p, uint32_t value) {
    put16(p, value);
    put16(p + 2, value >> 16);
}

// A display bitmap saved as DDS with the default choices: its rows seen as
// the 24-bit blue-green-red Image they are.
bool writeDdsFromBitmap(const char* path, BitmapHandle bitmap) {
    errno = 0;
    BitmapInfo info;
    if (!platformQueryBitmap(bitmap, info) || !info.bits || info.width <= 0 || info.height == 0) return false;
    const uint32_t width = static_cast<uint32_t>(info.width);
    const uint32_t height = info.height < 0 ? 0u - static_cast<uint32_t>(info.height) : static_cast<uint32_t>(info.height);
    const uint64_t size = uint64_t{displayStride(width)} * height;
    if (height > 0x7FFFFFFF || size > 0xFFFFFFFFu) return false;
    Image view{};
    view.pixels = info.bits;
    view.width = info.width;
    view.height = static_cast<int32_t>(height);
    view.bitsPerPixel = 24;
    view.dataSize = static_cast<uint32_t>(size);
    view.rowBytes = static_cast<int32_t>(3 * width);
    view.rowPad = static_cast<int32_t>(displayStride(width) - 3 * width);
    view.bgrOrder = 1;
    view.bottomUp = info.height > 0;
    return writeDds(path, view, SaveOptions{});
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool outputFormatOf(const char* path, OutputFormat& format) {
    if (!path) return false;
    const char* dot = std::strrchr(path, '.');
    // A dot inside a folder name is no extension.
    if (!dot || std::strchr(dot, '/') || std::strchr(dot, '\\')) return false;
    char extension[6] = {};
    for (size_t i = 0; i < 5; ++i) {
        if (!dot[1 + i]) break;
        extension[i] = lowerAscii(dot[1 + i]);
    }
    const size_t length = std::strlen(dot + 1);
    if (length != 3 && length != 4) return false;
    if (std::strcmp(extension, "bmp") == 0) format = OutputFormat::bmp;
    else if (std::strcmp(extension, "png") == 0) format = OutputFormat::png;
    else if (std::strcmp(extension, "tga") == 0) format = OutputFormat::tga;
    else if (std::strcmp(extension, "tif") == 0 || std::strcmp(extension, "tiff") == 0) format = OutputFormat::tif;
    else if (std::strcmp(extension, "dds") == 0) format = OutputFormat::dds;
    else return false;
    return true;
}

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

bool writeImageFile(const char* path, BitmapHandle bitmap, OutputFormat format) {
    switch (format) {
        case OutputFormat::png: return writePng(path, bitmap);
        case OutputFormat::tga: return writeTga(path, bitmap);
        case OutputFormat::tif: return writeTiff(path, bitmap);
        case OutputFormat::dds: return writeDdsFromBitmap(path, bitmap);
        case OutputFormat::bmp: break;
    }
    errno = 0;
    return writeBmp(path, bitmap);
}

bool writeImage(const char* path, const Image& image, OutputFormat format, const SaveOptions& options,
                SaveReport* report) {
    SaveReport notes;
    const bool words = isSixteenBit(image);
    const bool alpha = image.hasAlpha != 0 && options.keepAlpha != 0;
    // PNG and TIFF keep 16 bits unless told otherwise; BMP and Targa hold 8 bits.
    const bool deep = format == OutputFormat::png || format == OutputFormat::tif;
    const bool sixteen = deep && (options.depth == 16 || (options.depth == 0 && words));
    notes.reduced = words && !sixteen && options.depth != 8;
    notes.alphaDropped = image.hasAlpha != 0 && format == OutputFormat::bmp && options.keepAlpha != 0;
    bool ok = false;
    errno = 0;
    if (format == OutputFormat::dds) {
        // The encoders read the pixels in any layout, 16 bits included; only
        // the uncompressed layout stores 8-bit samples, and none stores alpha.
        notes.reduced = words && options.ddsFormat == TextureFormat::bgra8;
        notes.alphaDropped = image.hasAlpha != 0 && options.keepAlpha != 0;
        ok = image.pixels ? writeDds(path, image, options) : writeImageFile(path, image.bitmap, format);
    } else if (format == OutputFormat::bmp || (!sixteen && !alpha)) {
        // The display bitmap holds the picture in 8 bits without alpha.
        ok = writeImageFile(path, image.bitmap, format);
    } else {
        EncoderRows source;
        ok = source.prepare(image, sixteen ? 16 : 8, alpha);
        if (ok && format == OutputFormat::png) ok = writePngRows(path, source.rows());
        else if (ok && format == OutputFormat::tif) ok = writeTiffRows(path, source.rows());
        else ok = ok && writeTgaWithAlpha(path, source.rows());
    }
    if (ok && report) *report = notes;
    return ok;
}
