// .astc files: beside the shared checks, a picture read must be exactly as
// large as the file's blocks say, and its blue must be Z rebuilt from its
// red and green.
#include "encode/astc_codec.h"
#include "encode/block_decode.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Image image{};
    LoadFailure failure;
    if (!decodeImage(std::span<const uint8_t>(data, size), "input.astc", &image, failure)) {
        fuzzing::checkFailure(failure);
        return 0;
    }
    fuzzing::checkLoadedImage(image);
    const auto w = static_cast<uint32_t>(image.width), h = static_cast<uint32_t>(image.height);
    if (size != astcFileHeaderBytes + astcLevelBytes({data[4], data[5]}, w, h)) fuzzing::broken("blocks fill the file");
    for (size_t i = 0; i < size_t{w} * h; ++i) {
        const uint8_t* p = image.pixels + 3 * i;
        if (p[2] != rebuiltZ8(p[0], p[1])) fuzzing::broken("blue is Z rebuilt");
    }
    resetImage(&image);
    return 0;
}
