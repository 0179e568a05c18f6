#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "readers/dds_format.h"
#include "readers/float_picture.h"
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

using Reader = bool (*)(std::span<const uint8_t>, Image*, LoadFailure&);

struct ReaderEntry {
    const char* extension;
    Reader read;
    const char* formatName;
};

constexpr ReaderEntry readerTable[] = {
    {"bmp", readBmp, "BMP"},         {"pcx", readPcx, "PCX"},        {"tga", readTga, "Targa"},
    {"dds", readDds, "DDS"},         {"psd", readPsd, "Photoshop"},  {"ppm", readPnm, "Netpbm"},
    {"pbm", readPnm, "Netpbm"},      {"pgm", readPnm, "Netpbm"},     {"png", readPng, "PNG"},
    {"jpg", readJpeg, "JPEG"},       {"jpeg", readJpeg, "JPEG"},     {"tif", readTiff, "TIFF"},
    {"tiff", readTiff, "TIFF"},      {"ktx2", readKtx2, "KTX2"},
    {"astc", readAstc, "ASTC"},
};

// The entry of `table` that the extension of `path`'s last component
// names, or null.
template <class Entry, size_t count>
const Entry* entryIn(const Entry (&table)[count], const char* path) {
    char name[nameBufferSize] = {};
    if (!path || !extractFileName(name, path)) return nullptr;
    const char* dot = std::strrchr(name, '.');
    const char* extension = dot ? dot + 1 : "";
    for (const Entry& entry : table)
        if (equalsIgnoringCase(extension, entry.extension)) return &entry;
    return nullptr;
}

const ReaderEntry* entryFor(const char* path) { return entryIn(readerTable, path); }

// A name no reader takes: its extension, as the message names it. The last
// component is what follows the platform's separator (on Windows `/` too),
// and the extension runs from its last dot to the end.
void failUnknownExtension(const char* path, LoadFailure& failure) {
    failure = LoadFailure{};
    failure.problem = LoadProblem::unknownExtension;
    const char* name = std::strrchr(path, pathSeparator);
    if (pathSeparator != '/')
        if (const char* slash = std::strrchr(path, '/'); slash && (!name || slash > name)) name = slash;
    if (const char* dot = std::strrchr(name ? name : path, '.'))
        std::snprintf(failure.text, sizeof failure.text, "%s", dot);
}

void failOpening(int error, LoadFailure& failure) {
    failure = LoadFailure{};
    failure.problem = LoadProblem::cannotOpen;
    failure.systemError = error;
}

// Opens `path` for reading. With `retryOpen`, an open that fails although the
// file is there is tried again for up to 2000 ms, yielding between attempts.
FILE* openFile(const char* path, bool retryOpen) {
    FILE* file = std::fopen(path, "rb");
    if (file || !retryOpen) return file;
    const int error = errno;
    if (!platformFileExists(path)) {
        errno = error;
        return nullptr;
    }
    const uint32_t start = platformTicks();
    for (;;) {
        platformYield();
        file = std::fopen(path, "rb");
        if (file) return file;
        if (static_cast<uint32_t>(platformTicks() - start) > 2000) return nullptr;
    }
}

// Size of an open file; false when it cannot be told or is larger than any
// reader takes.
bool fileSize(FILE* file, uint32_t& size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const long long end = static_cast<long long>(ftello(file));
#endif
    if (end < 0 || static_cast<unsigned long long>(end) > maxFileBytes) return false;
    size = static_cast<uint32_t>(end);
    return std::fseek(file, 0, SEEK_SET) == 0;
}

// The whole of an open file in one block (one byte more than the file, so
// that an empty file still has one); null when it cannot be read.
uint8_t* readWhole(FILE* file, uint32_t& size) {
    if (!fileSize(file, size)) return nullptr;
    auto* bytes = static_cast<uint8_t*>(platformAllocLarge(size_t{size} + 1));
    if (bytes && std::fread(bytes, 1, size, file) != size) {
        platformFreeLarge(bytes);
        return nullptr;
    }
    return bytes;
}

// Reads the whole file at `path` for `entry` (null: no reader takes the
// name) and hands its bytes to `decode(bytes)`. A file that cannot be
// opened, is not a regular file or has no reader fails before anything is
// read; with `retryOpen` an open that fails although the file is there is
// tried again (openFile).
template <class Entry, class Decode>
bool decodeWholeFile(const char* path, const Entry* entry, bool retryOpen, LoadFailure& failure, Decode decode) {
    if (!path) {
        failOpening(EINVAL, failure);
        return false;
    }
    FILE* file = openFile(path, retryOpen);
    if (!file) {
        failOpening(errno, failure);
        return false;
    }
    if (!platformFileExists(path)) {
        std::fclose(file);
        failure = LoadFailure{};
        failure.problem = LoadProblem::notRegularFile;
        return false;
    }
    if (!entry) {
        std::fclose(file);
        failUnknownExtension(path, failure);
        return false;
    }
    uint32_t size = 0;
    uint8_t* bytes = readWhole(file, size);
    std::fclose(file);
    if (!bytes) {
        failure = LoadFailure{};
        failure.problem = LoadProblem::damaged;
        failure.formatName = entry->formatName;
        return false;
    }
    const bool ok = decode(std::span<const uint8_t>(bytes, size));
    platformFreeLarge(bytes);
    return ok;
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

bool decodeImage(std::span<const uint8_t> file, const char* name, Image* image, LoadFailure& failure,
                 DisplayBitmap display) {
    failure = LoadFailure{};
    const ReaderEntry* entry = entryFor(name);
    if (!entry) {
        failUnknownExtension(name ? name : "", failure);
        return false;
    }
    if (image && file.size() <= maxFileBytes && entry->read(file, image, failure)) {
        if (display == DisplayBitmap::notMade || image->bitmap || buildDisplayBitmap(image)) return true;
        resetImage(image);  // no memory for the bitmap
    }
    if (failure.problem == LoadProblem::none) failure.problem = LoadProblem::damaged;
    failure.formatName = entry->formatName;
    return false;
}

bool readImageFile(const char* path, Image* image, LoadFailure* reason, DisplayBitmap display) {
    LoadFailure ignored;
    LoadFailure& failure = reason ? *reason : ignored;
    const ReaderEntry* entry = entryFor(path);
    // The BMP reader has always waited for a file that another program holds.
    return decodeWholeFile(path, entry, entry && entry->read == readBmp, failure, [&](std::span<const uint8_t> bytes) {
        return decodeImage(bytes, path, image, failure, display);
    });
}

// Float pictures: the one table of their readers, and the same reading of
// the path as readImageFile's.

namespace {

using FloatReader = bool (*)(std::span<const uint8_t>, FloatPicture*, LoadFailure&);

struct FloatReaderEntry {
    const char* extension;
    FloatReader read;
    const char* formatName;
};

// TIFF heights are read as numbers too: float samples as stored, whole
// numbers as v / max, so a 16-bit or float height keeps every step.
constexpr FloatReaderEntry floatReaderTable[] = {
    {"exr", readExr, "OpenEXR"},
    {"tif", readFloatTiff, "TIFF"},
    {"tiff", readFloatTiff, "TIFF"},
};

const FloatReaderEntry* floatEntryFor(const char* path) { return entryIn(floatReaderTable, path); }

}  // namespace

bool isFloatPictureName(const char* path) { return floatEntryFor(path) != nullptr; }

bool readFloatPictureFile(const char* path, FloatPicture* picture, LoadFailure& failure) {
    failure = LoadFailure{};
    if (!picture) {
        failOpening(EINVAL, failure);
        return false;
    }
    picture->reset();
    const FloatReaderEntry* entry = floatEntryFor(path);
    return decodeWholeFile(path, entry, false, failure, [&](std::span<const uint8_t> bytes) {
        if (entry->read(bytes, picture, failure)) return true;
        if (failure.problem == LoadProblem::none) failure.problem = LoadProblem::damaged;
        failure.formatName = entry->formatName;
        return false;
    });
}

std::string describeLoadFailure(const LoadFailure& failure, const char* program) {
    const std::string format = failure.formatName ? failure.formatName : "";
    const std::string article =
        format.starts_with('O') || format.starts_with('A') ? "an " : "a ";  // an OpenEXR file, an ASTC file
    switch (failure.problem) {
        case LoadProblem::none: return "";
        case LoadProblem::cannotOpen: return std::strerror(failure.systemError);
        case LoadProblem::notRegularFile: return "not a regular file";
        case LoadProblem::refusedKind: {
            // A kind is named in at most 95 characters.
            const std::string kind(failure.text, strnlen(failure.text, 95));
            return article + format + " file of " + kind + ", which " + program + " does not read";
        }
        case LoadProblem::damaged:
            // A codec's own reason, when it gave one, says more than the guess.
            if (failure.text[0])
                return "not " + article + format + " file that " + program +
                       " can read: " + std::string(failure.text, strnlen(failure.text, sizeof failure.text));
            return "not " + article + format + " file that " + program + " can read (damaged, or a kind it does not read)";
        case LoadProblem::unknownExtension: {
            const std::string kind =
                failure.text[0] ? std::string(failure.text) + " files" : std::string("files without an extension");
            return std::string(program) + " does not read " + kind +
                   " (it reads BMP, TGA, PCX, PSD, DDS, PPM, PGM, PBM, PNG, JPEG and TIFF)";
        }
    }
    return "";
}

const char* formatNameOf(const char* path) {
    const ReaderEntry* entry = entryFor(path);
    return entry ? entry->formatName : nullptr;
}

bool storedFormatOf(const char* path, StoredFormat& stored) {
    stored = StoredFormat{};
    const ReaderEntry* entry = entryFor(path);
    if (!entry) return false;
    stored.container = entry->formatName;
    using PayloadName = bool (*)(std::span<const uint8_t>, char*, size_t);
    const PayloadName payloadName = entry->read == readDds    ? ddsPayloadName
                                    : entry->read == readKtx2 ? ktx2PayloadName
                                    : entry->read == readAstc ? astcPayloadName
                                                              : nullptr;
    MappedFile mapped;
    if (payloadName && platformMapFile(path, mapped)) {
        if (!payloadName({mapped.bytes, static_cast<size_t>(mapped.size)}, stored.payload, sizeof stored.payload)) stored.payload[0] = '\0';
        platformUnmapFile(mapped);
    }
    return true;
}

bool startRgbImage(Image* image, uint32_t width, uint32_t height) {
    return startImage(image, width, height, 8, false);
}

// The streaming road's PNG files.

bool openPngRows(const char* path, PngRowsInPlace& rows) {
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) return false;
    uint32_t size = 0;
    uint8_t* bytes = readWhole(file, size);
    std::fclose(file);
    const bool ok = bytes && openPngRows(std::span<const uint8_t>(bytes, size), rows);
    platformFreeLarge(bytes);
    return ok;
}
