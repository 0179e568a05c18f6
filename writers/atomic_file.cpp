#include "writers/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace {

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
    errno = EEXIST;
    return false;
}

// The file receives its bytes in blocks of blockBytes (the last one shorter)
// or, when a writer hands over more than a block at once, in that one piece:
// the system is asked a few dozen times for a picture of many megabytes, not
// once every 4 KiB as through the C library's own buffer.
constexpr size_t blockBytes = size_t{1} << 20;

struct FileSink {
    FILE* file;
    uint8_t* block;  // blockBytes; null leaves the buffering to the C library
    size_t used = 0;
    int error = 0;  // errno of the first failed write
};

bool writeThrough(FileSink& sink, const void* bytes, size_t size) {
    if (std::fwrite(bytes, 1, size, sink.file) == size) return true;
    sink.error = errno ? errno : EIO;
    return false;
}

bool writeToFile(void* context, const void* bytes, size_t size) {
    auto& sink = *static_cast<FileSink*>(context);
    if (sink.error) return false;
    if (size == 0) return true;
    if (!sink.block) return writeThrough(sink, bytes, size);
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (sink.used + size < blockBytes) {
        std::memcpy(sink.block + sink.used, p, size);
        sink.used += size;
        return true;
    }
    if (sink.used > 0) {
        // The block is topped up and goes out whole.
        const size_t room = blockBytes - sink.used;
        std::memcpy(sink.block + sink.used, p, room);
        p += room;
        size -= room;
        sink.used = 0;
        if (!writeThrough(sink, sink.block, blockBytes)) return false;
    }
    if (size >= blockBytes) return writeThrough(sink, p, size);
    std::memcpy(sink.block, p, size);
    sink.used = size;
    return true;
}

}  // namespace

bool writeFileAtomically(const char* path, bool (*fill)(void* context, const ByteSink& out), void* context) {
    errno = 0;
    if (!path || !*path || !fill) return false;
    std::string temporary;
    if (!temporaryNameBeside(path, temporary)) return false;
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    // With a block of its own the stream needs no buffer: every write the
    // sink makes goes to the system as it is.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockBytes]);
    if (block) std::setvbuf(file, nullptr, _IONBF, 0);
    FileSink fileSink{file, block.get()};
    const ByteSink sink{&fileSink, writeToFile};
    errno = 0;
    bool ok = fill(context, sink) && !fileSink.error;
    if (ok && fileSink.used > 0) ok = writeThrough(fileSink, fileSink.block, fileSink.used);
    int reason = fileSink.error;
    // Bytes the C library still holds reach the disk at the close, where a
    // full disk may show.
    errno = 0;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        reason = errno ? errno : EIO;
    }
    if (ok) {
        errno = 0;
        ok = platformReplaceFile(temporary.c_str(), path);
        reason = errno;
    }
    if (!ok) {
        std::remove(temporary.c_str());
        errno = reason;
    }
    return ok;
}
