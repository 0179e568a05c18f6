// ASTC files (the .astc container of Arm's tools, encode/astc_codec.h): one
// 2D level of blocks, decoded through the system's ASTC library as a normal
// map stored the library's way, X in red (and green and blue) and Y in
// alpha. The picture is X in red, Y in green and Z rebuilt in blue, as the
// DDS reader gives two-channel BC5. Every header field is checked against
// the file before anything is allocated.
#include <cstdio>
#include <cstdlib>

#include "encode/astc_codec.h"
#include "readers/readers.h"

bool readAstc(std::span<const uint8_t> file, Image* image, LoadFailure& failure) {
    if (!image) return false;
    resetImage(image);
    AstcFileHeader header;
    const char* why = "";
    if (!readAstcFileHeader(file, header, why)) {
        std::snprintf(failure.text, sizeof failure.text, "%s", why);
        return false;
    }
    if (!platformHasAstc()) {
        failure.problem = LoadProblem::refusedKind;
        std::snprintf(failure.text, sizeof failure.text, "any kind (this build has no ASTC decoder)");
        return false;
    }
    if (decodeAstcNormals(file.subspan(astcFileHeaderBytes), header.block, header.width, header.height, image))
        return true;
    std::snprintf(failure.text, sizeof failure.text, "the ASTC library could not decode its blocks");
    return false;
}

bool astcPayloadName(std::span<const uint8_t> file, char* text, size_t size) {
    AstcFileHeader header;
    const char* why = "";
    if (!text || size == 0 || !readAstcFileHeader(file, header, why)) return false;
    std::snprintf(text, size, "ASTC_%ux%u", header.block.x, header.block.y);
    return true;
}

bool decodeAstcNormals(std::span<const uint8_t> blocks, AstcBlock block, uint32_t width, uint32_t height,
                       Image* image) {
    const size_t pixels = size_t{width} * height;
    auto* rgba = static_cast<uint8_t*>(std::malloc(4 * pixels));
    if (!rgba) return false;
    const bool decoded = decodeAstcLevel(blocks, block, width, height, rgba) && startRgbImage(image, width, height);
    if (decoded) astcNormalsToRgb(rgba, pixels, image->pixels);
    std::free(rgba);
    if (!decoded) resetImage(image);
    return decoded;
}
