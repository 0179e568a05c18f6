#include "app/session.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "image/thumbnail.h"
#include "readers/readers.h"
#include "writers/writers.h"

char moduleDirectory[pathBufferSize];
Session* session;

namespace {

constexpr char untitledName[] = "Untitled.bmp";
// The longest directory that still leaves room for "Untitled.bmp" and the
// terminating zero in a path field.
constexpr size_t maxDirectoryLength = pathBufferSize - sizeof untitledName;

bool isSeparator(char c, char separator) { return c == separator || c == '/'; }

// The directory part of `path`: its pieces (empty ones dropped) but the last,
// each followed by `separator`, behind the kept leading separators. False
// when it would be too long.
bool directoryOf(const char* path, char separator, char (&result)[pathBufferSize]) {
    std::string_view rest(path);
    std::string out;
    size_t leading = 0;
    while (leading < rest.size() && isSeparator(rest[leading], separator)) ++leading;
    // A network share keeps its two separators, a root its one.
    out.append(leading >= 2 && separator == '\\' ? 2 : (leading ? 1 : 0), separator);
    rest.remove_prefix(leading);
    while (!rest.empty()) {
        size_t end = 0;
        while (end < rest.size() && !isSeparator(rest[end], separator)) ++end;
        const std::string_view piece = rest.substr(0, end);
        while (end < rest.size() && isSeparator(rest[end], separator)) ++end;
        rest.remove_prefix(end);
        if (rest.empty()) break;  // the last piece is the file's own name
        out.append(piece);
        out.push_back(separator);
    }
    if (out.size() > maxDirectoryLength) return false;
    std::memcpy(result, out.c_str(), out.size() + 1);
    return true;
}

}  // namespace

void composeModuleDirectory(const char* executablePath, const char* currentDirectory, char separator,
                            char (&result)[pathBufferSize]) {
    std::memset(result, 0, sizeof result);
    if (executablePath && *executablePath && directoryOf(executablePath, separator, result)) return;
    std::memset(result, 0, sizeof result);
    if (!currentDirectory) return;
    const size_t length = std::strlen(currentDirectory);
    const bool needsSeparator = length > 0 && !isSeparator(currentDirectory[length - 1], separator);
    if (length + (needsSeparator ? 1 : 0) > maxDirectoryLength) return;
    std::memcpy(result, currentDirectory, length);
    if (needsSeparator) result[length] = separator;
}

void findModuleDirectory() {
    char executable[pathBufferSize] = {};
    char current[pathBufferSize] = {};
    const bool haveExecutable = platformExecutablePath(executable, sizeof executable) != 0;
    platformCurrentDirectory(current, sizeof current);
    composeModuleDirectory(haveExecutable ? executable : nullptr, current, pathSeparator, moduleDirectory);
}

bool copyPath(char (&field)[pathBufferSize], const char* text) {
    if (!text) return false;
    const size_t length = std::strlen(text);
    if (length >= pathBufferSize) return false;
    std::memcpy(field, text, length + 1);
    return true;
}

void rememberDirectory(char (&field)[pathBufferSize], const char* directory) {
    char remembered[pathBufferSize] = {};
    const size_t length = std::strlen(directory);
    if (length >= pathBufferSize) return;
    std::memcpy(remembered, directory, length);
    if (length > 0 && !isSeparator(remembered[length - 1], pathSeparator)) {
        if (length + 1 >= pathBufferSize) return;
        remembered[length] = pathSeparator;
    }
    std::memcpy(field, remembered, sizeof remembered);
}

Session* createSession() {
    auto* record = new (std::nothrow) Session{};
    if (!record) return nullptr;
    copyPath(record->saveDirectory, moduleDirectory);
    copyPath(record->openDirectory, moduleDirectory);
    // moduleDirectory always leaves room for the name.
    std::strcpy(record->openPath, moduleDirectory);
    std::strcat(record->openPath, untitledName);
    std::strcpy(record->savePath, record->openPath);
    record->options = defaultAdjustOptions;
    return record;
}

void destroySession(Session* record) {
    if (!record) return;
    resetImage(&record->image);
    resetImage(&record->thumbnail);
    resetImage(&record->made);
    delete record;
}

void adoptImage(Image* fresh) {
    resetImage(&session->image);
    resetImage(&session->thumbnail);
    moveImage(fresh, &session->image);
    session->loaded = 1;
}

int buildThumbnail() {
    if (!session || !session->image.bitmap) return 0;
    resetImage(&session->thumbnail);
    session->thumbnail.bitmap = makeThumbnailBitmap(session->image.bitmap);
    return 1;
}

bool adoptOpenFile(const char* chosenPath) {
    if (!session || !chosenPath || std::strlen(chosenPath) >= pathBufferSize) return false;
    Image fresh{};
    if (!readImageFile(chosenPath, &fresh)) {
        resetImage(&fresh);
        return false;
    }
    copyPath(session->openPath, chosenPath);
    adoptImage(&fresh);
    resetImage(&session->made);
    session->options = defaultAdjustOptions;
    return true;
}

bool copyImagePixels(const Image& source, Image* copy) {
    resetImage(copy);
    if (!source.pixels) return false;
    auto* pixels = static_cast<uint8_t*>(std::malloc(source.dataSize ? source.dataSize : 1));
    if (!pixels) return false;
    std::memcpy(pixels, source.pixels, source.dataSize);
    *copy = source;
    copy->pixels = pixels;
    copy->bitmap = nullptr;
    return true;
}

bool adoptMadeMap(Image* map, const char* madeFrom) {
    if (!session || !map || !madeFrom || std::strlen(madeFrom) >= pathBufferSize) return false;
    Image kept{};
    if (!copyImagePixels(*map, &kept)) return false;
    if (!map->bitmap && !buildDisplayBitmap(map)) {
        resetImage(&kept);
        return false;
    }
    copyPath(session->openPath, madeFrom);
    adoptImage(map);
    resetImage(&session->made);
    moveImage(&kept, &session->made);
    session->options = defaultAdjustOptions;
    buildThumbnail();
    return true;
}

bool loadOpenFile(const char* chosenPath) {
    if (!adoptOpenFile(chosenPath)) return false;
    buildThumbnail();
    return true;
}

bool saveImageTo(const char* path) {
    if (!session || !path || std::strlen(path) >= pathBufferSize) return false;
    // The file is written in the format its extension names; any other
    // extension (or none) still gets a BMP file, as the Save dialog expects.
    OutputFormat format = OutputFormat::bmp;
    outputFormatOf(path, format);
    if (!writeImage(path, session->image, format, SaveOptions{})) return false;
    char current[pathBufferSize] = {};
    platformCurrentDirectory(current, sizeof current);
    rememberDirectory(session->saveDirectory, current);
    copyPath(session->savePath, path);
    return true;
}
