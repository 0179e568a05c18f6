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
};

constexpr ReaderEntry readerTable[] = {
    {"bmp", withByteReader<readBmp>},
    {"pcx", withByteReader<readPcx>},
    {"tga", withByteReader<readTga>},
    {"dds", withByteReader<readDds>},
    {"psd", withState<PsdReaderState, setUpPsdReader, readPsd, releasePsdReader>},
    {"ppm", withState<PnmReaderState, setUpPnmReader, readPnm, releasePnmReader>},
    {"pbm", withState<PnmReaderState, setUpPnmReader, readPnm, releasePnmReader>},
    {"pgm", withState<PnmReaderState, setUpPnmReader, readPnm, releasePnmReader>},
};

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
    char name[nameBufferSize] = {};
    if (!extractFileName(name, path)) return false;
    const char* dot = std::strrchr(name, '.');
    const char* extension = dot ? dot + 1 : "";
    for (const ReaderEntry& entry : readerTable)
        if (equalsIgnoringCase(extension, entry.extension)) return entry.run(image, path);
    return false;
}
