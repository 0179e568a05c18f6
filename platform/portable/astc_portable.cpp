// ASTC through Arm's astcenc library (Apache-2.0): one context per encoder,
// shared by the encoding threads as the library's threading notes describe
// (each thread calls astcenc_compress_image with its own index), and one
// decode-only context per decoded picture.
#include <astcenc.h>

#include <new>

#include "platform/codecs.h"

struct AstcEncoder {
    astcenc_context* context = nullptr;
    astcenc_swizzle swizzle{};
    unsigned threads = 1;
};

namespace {

// The number of bytes of the blocks of a picture, or 0 when the block
// size or the picture is empty.
uint64_t blockBytes(uint32_t blockX, uint32_t blockY, uint32_t width, uint32_t height) {
    if (!blockX || !blockY || !width || !height) return 0;
    return uint64_t{(width + blockX - 1) / blockX} * ((height + blockY - 1) / blockY) * 16;
}

}  // namespace

bool platformHasAstc() { return true; }

AstcEncoder* platformOpenAstcEncoder(const AstcEncoderSettings& settings) {
    if (settings.threads == 0) return nullptr;
    // The encoder never decodes: its context may leave out the tables of
    // block modes it does not use, which makes it much quicker to set up
    // (as the library's command line does when it only compresses).
    const unsigned flags = ASTCENC_FLG_SELF_DECOMPRESS_ONLY | (settings.normalMap ? ASTCENC_FLG_MAP_NORMAL : 0u);
    astcenc_config config{};
    if (astcenc_config_init(ASTCENC_PRF_LDR, settings.blockX, settings.blockY, 1, settings.effort, flags, &config) !=
        ASTCENC_SUCCESS)
        return nullptr;
    auto* encoder = new (std::nothrow) AstcEncoder;
    if (!encoder) return nullptr;
    if (astcenc_context_alloc(&config, settings.threads, &encoder->context) != ASTCENC_SUCCESS) {
        delete encoder;
        return nullptr;
    }
    encoder->threads = settings.threads;
    // Normals: X (red) in red, green and blue, Y (green) in alpha.
    encoder->swizzle = settings.normalMap
                           ? astcenc_swizzle{ASTCENC_SWZ_R, ASTCENC_SWZ_R, ASTCENC_SWZ_R, ASTCENC_SWZ_G}
                           : astcenc_swizzle{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};
    return encoder;
}

void platformCloseAstcEncoder(AstcEncoder* encoder) {
    if (!encoder) return;
    astcenc_context_free(encoder->context);
    delete encoder;
}

bool platformAstcEncode(AstcEncoder* encoder, const AstcPicture& picture, uint8_t* out, size_t outSize,
                        unsigned thread) {
    if (!encoder || !picture.samples || !out || thread >= encoder->threads || !picture.width || !picture.height)
        return false;
    // The library takes its slices as non-const pointers but only reads them.
    void* slice = const_cast<void*>(picture.samples);
    astcenc_image image{};
    image.dim_x = picture.width;
    image.dim_y = picture.height;
    image.dim_z = 1;
    image.data_type = picture.floats ? ASTCENC_TYPE_F32 : ASTCENC_TYPE_U8;
    image.data = &slice;
    return astcenc_compress_image(encoder->context, &image, &encoder->swizzle, out, outSize, thread) ==
           ASTCENC_SUCCESS;
}

bool platformAstcEncoderReset(AstcEncoder* encoder) {
    return encoder && astcenc_compress_reset(encoder->context) == ASTCENC_SUCCESS;
}

bool platformDecodeAstc(std::span<const uint8_t> blocks, uint32_t blockX, uint32_t blockY, uint32_t width,
                        uint32_t height, uint8_t* rgba) {
    const uint64_t expected = blockBytes(blockX, blockY, width, height);
    if (!rgba || !expected || blocks.size() != expected) return false;
    astcenc_config config{};
    if (astcenc_config_init(ASTCENC_PRF_LDR, blockX, blockY, 1, ASTCENC_PRE_FASTEST, ASTCENC_FLG_DECOMPRESS_ONLY,
                            &config) != ASTCENC_SUCCESS)
        return false;
    astcenc_context* context = nullptr;
    if (astcenc_context_alloc(&config, 1, &context) != ASTCENC_SUCCESS) return false;
    void* slice = rgba;
    astcenc_image image{};
    image.dim_x = width;
    image.dim_y = height;
    image.dim_z = 1;
    image.data_type = ASTCENC_TYPE_U8;
    image.data = &slice;
    const astcenc_swizzle asStored{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};
    const bool ok = astcenc_decompress_image(context, blocks.data(), blocks.size(), &image, &asStored, 0) ==
                    ASTCENC_SUCCESS;
    astcenc_context_free(context);
    return ok;
}
