#include "writers/writers.h"

#include <cerrno>
#include <cstring>

#include "writers/bmp_writer.h"

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool outputFormatOf(const char* path, OutputFormat& format) {
    if (!path) return false;
    const char* dot = std::strrchr(path, '.');
    // A dot inside a folder name is no extension.
    if (!dot || std::strchr(dot, '/') || std::strchr(dot, '\\')) return false;
    char extension[5] = {};
    for (size_t i = 0; i < 4; ++i) {
        if (!dot[1 + i]) break;
        extension[i] = lowerAscii(dot[1 + i]);
    }
    if (std::strlen(dot + 1) != 3) return false;
    if (std::strcmp(extension, "bmp") == 0) format = OutputFormat::bmp;
    else if (std::strcmp(extension, "png") == 0) format = OutputFormat::png;
    else if (std::strcmp(extension, "tga") == 0) format = OutputFormat::tga;
    else return false;
    return true;
}

bool writeImageFile(const char* path, BitmapHandle bitmap, OutputFormat format) {
    switch (format) {
        case OutputFormat::png: return writePng(path, bitmap);
        case OutputFormat::tga: return writeTga(path, bitmap);
        case OutputFormat::bmp: break;
    }
    errno = 0;
    return writeBmp(path, bitmap);
}
