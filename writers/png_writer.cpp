// PNG output: 8-bit red-green-blue (colour type 2), no ancillary chunks,
// encoded by the system's codec (platform/codecs.h).
#include <cerrno>

#include "platform/codecs.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

bool fillPng(void* context, const ByteSink& out) {
    return platformEncodePng(static_cast<BitmapHandle>(context), out);
}

}  // namespace

bool writePng(const char* path, BitmapHandle bitmap) {
    errno = 0;
    if (!path || !*path || !bitmap) return false;
    return writeFileAtomically(path, fillPng, bitmap);
}
