#include <cstring>

#include "readers/pnm_reader.h"
#include "readers/psd_reader.h"
#include "readers/readers.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool equalsIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}

// Runs a reader that takes a plain ByteReader, releasing it on every way out.
template <bool (*reader)(ByteReader*, Image*, const char*)>
bool withByteReader(Image* image, const char* path) {
    ByteReader record{};
    const bool ok = reader(&record, image, path);
    resetReader(&record);
    return ok;
}

template <typename State, void (*setUp)(State*), bool (*reader)(State*, Image*, const char*), void (*release)(State*)>
bool withState(Image* image, const char* path) {
    State state;
    setUp(&state);
    const bool ok = reader(&state, image, path);
    release(&state);
    return ok;
}

struct ReaderEntry {
    const char* extension;
    bool (*run)(Image*, const char*);
    const char* formatName;
};

constexpr ReaderEntry readerTable[] = {
    {"bmp", withByteReader<readBmp>, "BMP"},
    {"pcx", withByteReader<readPcx>, "PCX"},
    {"tga", withByteReader<readTga>, "Targa"},
    {"dds", withByteReader<readDds>, "DDS"},
    {"psd", withState<PsdReaderState, setUpPsdReader, readPsd, releasePsdReader>, "Photoshop"},
    {"ppm", withState<PnmReaderState, setUpPnmReader, readPnm, releasePnmReader>, "Netpbm"},
    {"pbm", withState<PnmReaderState, setUpPnmReader, readPnm, releasePnmReader>, "Netpbm"},
    {"pgm", withState<PnmReaderState, setUpPnmReader, readPnm, releasePnmReader>, "Netpbm"},
    {"png", withByteReader<readPng>, "PNG"},
    {"jpg", withByteReader<readJpeg>, "JPEG"},
    {"jpeg", withByteReader<readJpeg>, "JPEG"},
};

// The entry that the extension of `path`'s last component names, or null.
const ReaderEntry* entryFor(const char* path) {
    char name[nameBufferSize] = {};
    if (!path || !extractFileName(name, path)) return nullptr;
    const char* dot = std::strrchr(name, '.');
    const char* extension = dot ? dot + 1 : "";
    for (const ReaderEntry& entry : readerTable)
        if (equalsIgnoringCase(extension, entry.extension)) return &entry;
    return nullptr;
}

}  // namespace

bool extractFileName(char* destination, const char* path) {
    if (!destination || !path || !*path) return false;
    // The last run of characters between separators.
    const char* end = path + std::strlen(path);
    while (end > path && isSeparator(end[-1])) --end;
    const char* begin = end;
    while (begin > path && !isSeparator(begin[-1])) --begin;
    const size_t length = static_cast<size_t>(end - begin);
    if (length == 0) return true;  // only separators: the destination stays as it is
    if (length >= nameBufferSize) return false;
    std::memcpy(destination, begin, length);
    destination[length] = '\0';
    return true;
}

bool readImageFile(const char* path, Image* image) {
    if (!image || !path) return false;
    const ReaderEntry* entry = entryFor(path);
    return entry && entry->run(image, path);
}

const char* formatNameOf(const char* path) {
    const ReaderEntry* entry = entryFor(path);
    return entry ? entry->formatName : nullptr;
}

bool unreadableKindOf(const char* path, char* text, size_t size) {
    const ReaderEntry* entry = entryFor(path);
    return entry && entry->run == withByteReader<readDds> && ddsUnreadableKind(path, text, size);
}

bool startRgbImage(Image* image, uint32_t width, uint32_t height) {
    return startImage(image, width, height, 8, false);
}
