#include "writers/writers.h"

#include <cerrno>
#include <cstring>

#include "image/image.h"
#include "image/rows.h"
#include "writers/bmp_writer.h"
#include "writers/encoder_rows.h"

namespace {

// A display bitmap saved as a texture (DDS, KTX2 or ASTC) with the default
// choices: its rows seen as the 24-bit blue-green-red Image they are.
bool writeTextureFromBitmap(const char* path, BitmapHandle bitmap, OutputFormat format) {
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
    if (format == OutputFormat::ktx2) return writeKtx2(path, view, SaveOptions{});
    return format == OutputFormat::astc ? writeAstc(path, view, SaveOptions{}) : writeDds(path, view, SaveOptions{});
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

namespace {

// The format `path`'s extension names, OpenEXR included.
bool formatOfExtension(const char* path, OutputFormat& format) {
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
    else if (std::strcmp(extension, "exr") == 0) format = OutputFormat::exr;
    else if (std::strcmp(extension, "ktx2") == 0) format = OutputFormat::ktx2;
    else if (std::strcmp(extension, "astc") == 0) format = OutputFormat::astc;
    else return false;
    return true;
}

}  // namespace

bool outputFormatOf(const char* path, OutputFormat& format) {
    OutputFormat named;
    if (!formatOfExtension(path, named) || named == OutputFormat::exr) return false;
    format = named;
    return true;
}

bool heightFormatOf(const char* path, OutputFormat& format) {
    OutputFormat named;
    if (!formatOfExtension(path, named) ||
        (named != OutputFormat::png && named != OutputFormat::tif && named != OutputFormat::exr))
        return false;
    format = named;
    return true;
}

bool writeImageFile(const char* path, BitmapHandle bitmap, OutputFormat format) {
    switch (format) {
        case OutputFormat::png: return writePng(path, bitmap);
        case OutputFormat::tga: return writeTga(path, bitmap);
        case OutputFormat::tif: return writeTiff(path, bitmap);
        case OutputFormat::dds:
        case OutputFormat::ktx2:
        case OutputFormat::astc: return writeTextureFromBitmap(path, bitmap, format);
        case OutputFormat::exr: errno = 0; return false;  // no picture: heights only
        case OutputFormat::bmp: break;
    }
    errno = 0;
    return writeBmp(path, bitmap);
}

namespace {

// PNG and TIFF keep 16 bits unless told otherwise; BMP and Targa hold 8 bits.
bool writesSixteenBits(const Image& image, OutputFormat format, const SaveOptions& options) {
    const bool deep = format == OutputFormat::png || format == OutputFormat::tif;
    return deep && (options.depth == 16 || (options.depth == 0 && isSixteenBit(image)));
}

}  // namespace

bool writeReadsBitmap(const Image& image, OutputFormat format, const SaveOptions& options) {
    if (format == OutputFormat::dds || format == OutputFormat::ktx2 || format == OutputFormat::astc) return !image.pixels;
    const bool alpha = image.hasAlpha != 0 && options.keepAlpha != 0;
    // The PNG encoder reads 8-bit red-green-blue rows as they are, and the
    // bitmap would hold the same bytes: making it would only copy them.
    ImageRows rows;
    if (format == OutputFormat::png && isEightBitRgb(image) && viewRows(image, rows) && rows.advance > 0)
        return false;
    return format == OutputFormat::bmp || (!writesSixteenBits(image, format, options) && !alpha);
}

bool writeImage(const char* path, const Image& image, OutputFormat format, const SaveOptions& options,
                SaveReport* report) {
    SaveReport notes;
    const bool words = isSixteenBit(image);
    const bool alpha = image.hasAlpha != 0 && options.keepAlpha != 0;
    const bool sixteen = writesSixteenBits(image, format, options);
    notes.reduced = words && !sixteen && options.depth != 8;
    notes.alphaDropped = image.hasAlpha != 0 && format == OutputFormat::bmp && options.keepAlpha != 0;
    bool ok = false;
    errno = 0;
    if (format == OutputFormat::exr) return false;  // heights only
    if (format == OutputFormat::dds) {
        // The encoders read the pixels in any layout, 16 bits included; only
        // the uncompressed layout stores 8-bit samples, and none stores alpha.
        notes.reduced = words && options.ddsFormat == TextureFormat::bgra8;
        notes.alphaDropped = image.hasAlpha != 0 && options.keepAlpha != 0 && options.ddsFormat != TextureFormat::bc7;  // BC7 stores it
        ok = image.pixels ? writeDds(path, image, options) : writeImageFile(path, image.bitmap, format);
    } else if (format == OutputFormat::ktx2) {
        // As DDS; the 16-bit payloads keep 16 bits, and the RGBA ones and
        // BC7 the alpha.
        notes.reduced = words && textureReducesSamples(options.ktxFormat);
        notes.alphaDropped = image.hasAlpha != 0 && options.keepAlpha != 0 && !textureKeepsAlpha(options.ktxFormat);
        ok = image.pixels ? writeKtx2(path, image, options) : writeImageFile(path, image.bitmap, format);
    } else if (format == OutputFormat::astc) {
        // The encoder reads the pixels in any layout, 16 bits included;
        // alpha is not stored (it holds Y).
        notes.alphaDropped = image.hasAlpha != 0 && options.keepAlpha != 0;
        ok = image.pixels ? writeAstc(path, image, options) : writeImageFile(path, image.bitmap, format);
    } else if (writeReadsBitmap(image, format, options)) {
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
