#include "writers/atomic_file.h"

#include <cerrno>
#include <cstdio>
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

struct FileSink {
    FILE* file;
    int error = 0;  // errno of the first failed write
};

bool writeToFile(void* context, const void* bytes, size_t size) {
    auto& sink = *static_cast<FileSink*>(context);
    if (sink.error) return false;
    if (size == 0 || std::fwrite(bytes, 1, size, sink.file) == size) return true;
    sink.error = errno ? errno : EIO;
    return false;
}

}  // namespace

bool writeFileAtomically(const char* path, bool (*fill)(void* context, const ByteSink& out), void* context) {
    errno = 0;
    if (!path || !*path || !fill) return false;
    std::string temporary;
    if (!temporaryNameBeside(path, temporary)) return false;
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    FileSink fileSink{file};
    const ByteSink sink{&fileSink, writeToFile};
    errno = 0;
    bool ok = fill(context, sink) && !fileSink.error;
    int reason = fileSink.error;
    // Buffered bytes reach the disk at the close, where a full disk shows.
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
