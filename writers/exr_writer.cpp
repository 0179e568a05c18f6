// OpenEXR output: one channel of float heights, encoded by the system's
// library (platform/codecs.h) and saved atomically.
#include <cerrno>

#include "platform/codecs.h"
#include "writers/atomic_file.h"
#include "writers/writers.h"

namespace {

bool fillExr(void* context, const ByteSink& out) {
    return platformEncodeExr(*static_cast<const PixelRows*>(context), out);
}

}  // namespace

bool writeExrRows(const char* path, const PixelRows& rows) {
    errno = 0;
    if (!path || !*path || !rows.first || !platformHasOpenExr()) return false;
    PixelRows copy = rows;
    return writeFileAtomically(path, fillExr, &copy);
}
