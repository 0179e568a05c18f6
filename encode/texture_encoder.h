// A normal map as a GPU texture: its mip chain (encode/mip_chain.h) with
// every level block-compressed (BC5, BC1, BC3, BC7, or ASTC through the
// system's library, encode/astc_codec.h) or left uncompressed
// (blue-green-red-alpha bytes), the levels one after another, largest
// first, each as DDS files and GPUs lay them out (blocks, or pixels, in
// rows from the top). The one-channel BC4 and the 8- and 16-bit plain
// formats (RG, RGBA) serve KTX2 files.
#pragma once

#include <cstdint>

#include "encode/astc_codec.h"
#include "encode/bc7_encoder.h"
#include "image/image.h"

enum class TextureFormat : int32_t {
    bc5,    // X in a BC4 block of red, Y in one of green; Z is rebuilt by the reader
    bc1,    // red, green and blue as BC1 colour blocks
    bc3,    // BC1 colour blocks, each after a BC4 alpha block of 255
    bgra8,  // 8-bit blue, green, red, alpha (255, or the picture's with keepAlpha)
    bc4,    // one channel (the red, i.e. grey of a height or grey map) in BC4 blocks
    rg8,    // 8-bit X and Y (red, green); Z is rebuilt by the reader
    rgba8,  // 8-bit red, green, blue, alpha (as the samples give it; 255 when they hold none)
    rg16,   // 16-bit X and Y, least significant byte first
    rgba16, // 16-bit red, green, blue, alpha, least significant byte first
    bc7,    // BC7 blocks of red, green, blue and alpha (255, or the picture's with keepAlpha)
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

// Whether the format stores Z (and so can keep the averaged lengths).
constexpr bool textureStoresZ(TextureFormat format) {
    return format == TextureFormat::bc1 || format == TextureFormat::bc3 || format == TextureFormat::bgra8 ||
           format == TextureFormat::rgba8 || format == TextureFormat::rgba16 || format == TextureFormat::bc7;
}
// Whether the format is made of 4 x 4 blocks (otherwise of pixels).
constexpr bool textureIsBlocks(TextureFormat format) {
    return format == TextureFormat::bc5 || format == TextureFormat::bc1 || format == TextureFormat::bc3 ||
           format == TextureFormat::bc4 || format == TextureFormat::bc7;
}
// Whether KTX2 files of the format keep a picture's alpha (DDS keeps it in
// BC7 alone).
constexpr bool textureKeepsAlpha(TextureFormat format) {
    return format == TextureFormat::rgba8 || format == TextureFormat::rgba16 || format == TextureFormat::bc7;
}
// The bytes of a block, or of a pixel.
uint32_t textureUnitBytes(TextureFormat format);

struct TextureOptions {
    TextureFormat format = TextureFormat::bc5;
    // At most this many levels (1: the picture alone); 0 goes down to 1 x 1.
    uint32_t maxLevels = 0;
    // The levels below the top keep the averaged vectors' lengths instead
    // of being re-normalised, for renderers that read the length (specular
    // anti-aliasing). Only formats that store Z keep them: BC5, RG8 and
    // RG16 store the X and Y of unit vectors whatever this says, since their
    // reader rebuilds Z. BC4 holds a grey or height map, not vectors: its
    // levels are plain averages of the level above, always.
    bool keepLength = false;
    // The picture's alpha goes into the formats that store alpha (bgra8,
    // bc7): the top level's as it is, each level below the area-weighted
    // average of the level above, as the vectors are averaged. Without it,
    // or when the picture has none, alpha is 255.
    bool keepAlpha = false;
    // How hard the BC7 encoder searches.
    Bc7Quality bc7Quality = Bc7Quality::normal;
    // The ASTC formats' search preset.
    AstcQuality astcQuality = AstcQuality::medium;
};

// The block size of an ASTC format; false for the others.
bool astcBlockOf(TextureFormat format, AstcBlock& block);

// The bytes of one level of width x height in `format`.
uint64_t textureLevelBytes(TextureFormat format, uint32_t width, uint32_t height);

// The bytes of the first `levels` levels of a picture of width x height.
uint64_t textureBytes(TextureFormat format, uint32_t width, uint32_t height, uint32_t levels);

// Encodes `image` (any layout an Image holds; alpha as keepAlpha says) and the
// levels below it into `out`, which holds textureBytes(...) bytes for the
// level count mipLevelCount(width, height, options.maxLevels). The top
// level is the picture's samples as they are; 16-bit samples reach the
// block encoders with their full precision (and are rounded to 8 bits for
// bgra8, rg8 and rgba8; 8-bit samples are widened (v x 257) for rg16 and
// rgba16; handed to the ASTC encoder as floats). False when the Image holds
// no picture, `outSize` does not match, there is no memory, or (ASTC) no
// library.
bool encodeTexture(const Image& image, const TextureOptions& options, uint8_t* out, uint64_t outSize);
