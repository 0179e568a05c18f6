// A normal map as a GPU texture: its mip chain (encode/mip_chain.h) with
// every level block-compressed (BC5, BC1, BC3, or ASTC through the
// system's library, encode/astc_codec.h) or left uncompressed
// (blue-green-red-alpha bytes), the levels one after another, largest
// first, each as DDS files and GPUs lay them out (blocks, or pixels, in
// rows from the top).
#pragma once

#include <cstdint>

#include "encode/astc_codec.h"
#include "image/image.h"

enum class TextureFormat : int32_t {
    bc5,    // X in a BC4 block of red, Y in one of green; Z is rebuilt by the reader
    bc1,    // red, green and blue as BC1 colour blocks
    bc3,    // BC1 colour blocks, each after a BC4 alpha block of 255
    bgra8,  // 8-bit blue, green, red, alpha (255)
    // ASTC blocks of these sizes in texels, 16 bytes each, in the library's
    // normal-map mode: X in red, green and blue, Y in alpha (read .ga);
    // Z is rebuilt by the reader. Nowhere without an ASTC library.
    astc4x4,
    astc5x4,
    astc5x5,
    astc6x5,
    astc6x6,
    astc8x5,
    astc8x6,
    astc8x8,
};

struct TextureOptions {
    TextureFormat format = TextureFormat::bc5;
    // At most this many levels (1: the picture alone); 0 goes down to 1 x 1.
    uint32_t maxLevels = 0;
    // The levels below the top keep the averaged vectors' lengths instead
    // of being re-normalised, for renderers that read the length (specular
    // anti-aliasing). Only formats that store Z keep them: BC5 stores the X
    // and Y of unit vectors whatever this says, since its reader rebuilds Z.
    bool keepLength = false;
    // The ASTC formats' search preset.
    AstcQuality astcQuality = AstcQuality::medium;
};

// The block size of an ASTC format; false for the others.
bool astcBlockOf(TextureFormat format, AstcBlock& block);

// The bytes of one level of width x height in `format`.
uint64_t textureLevelBytes(TextureFormat format, uint32_t width, uint32_t height);

// The bytes of the first `levels` levels of a picture of width x height.
uint64_t textureBytes(TextureFormat format, uint32_t width, uint32_t height, uint32_t levels);

// Encodes `image` (any layout an Image holds; alpha is not stored) and the
// levels below it into `out`, which holds textureBytes(...) bytes for the
// level count mipLevelCount(width, height, options.maxLevels). The top
// level is the picture's samples as they are; 16-bit samples reach the
// block encoders with their full precision (and are rounded to 8 bits for
// bgra8, and handed to the ASTC encoder as floats). False when the Image
// holds no picture, `outSize` does not match, there is no memory, or (ASTC)
// no library.
bool encodeTexture(const Image& image, const TextureOptions& options, uint8_t* out, uint64_t outSize);
