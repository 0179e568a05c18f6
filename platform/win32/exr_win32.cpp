// OpenEXR on Windows: the system has no library for it, so every file is
// refused (the readers and the command line say so before they get here).
#include "platform/codecs.h"

bool platformHasOpenExr() { return false; }

bool platformDecodeExr(std::span<const uint8_t>, const ExrLayout&, float*, std::span<char> reason) {
    if (!reason.empty()) reason[0] = '\0';
    return false;
}

bool platformEncodeExr(const PixelRows&, const ByteSink&) { return false; }
