// The file formats the program saves, picked by a file name's extension.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encode/texture_encoder.h"
#include "image/image.h"
#include "platform/codecs.h"
#include "platform/platform.h"
#include "writers/output_format.h"

// The format that `path`'s extension names (".bmp", ".png", ".tga", ".tif",
// ".tiff", ".dds", ".ktx2" or ".astc", ASCII case ignored); false when it
// names none of them.
bool outputFormatOf(const char* path, OutputFormat& format);
// The format a height field is written in that `path`'s extension names:
// ".png", ".tif", ".tiff" or ".exr" (ASCII case ignored); false for any
// other.
bool heightFormatOf(const char* path, OutputFormat& format);

// Each writer saves atomically: the file is written beside the target under a
// temporary name and replaces it only once whole, so a failed write leaves an
// earlier file as it was and no temporary file behind. On failure errno holds
// the system's reason, or 0 when there was none (an encoder fault).
bool writeImageFile(const char* path, BitmapHandle bitmap, OutputFormat format);

// How a picture beyond 8-bit RGB is saved.
struct SaveOptions {
    int32_t keepAlpha = 1;  // PNG, Targa, TIFF: write the alpha the picture has
    int32_t depth = 0;      // PNG, TIFF: 0 keeps the picture's depth; 8 reduces, 16 widens
    // DDS: the texture format, the DX10 header (DXGI format) instead of the
    // legacy one (FourCC or bit masks), at most this many mip levels (0:
    // down to 1 x 1), and lower levels that keep their averaged lengths.
    TextureFormat ddsFormat = TextureFormat::bc5;
    int32_t ddsDx10 = 0;
    uint32_t mips = 0;
    int32_t mipKeepLength = 0;
    // KTX2: the payload (--ktx) and its supercompression: zstd at
    // ktxZstd (-1: the payload's default, ktxDefaultZstdLevel; 0: none) or,
    // when ktxZlib is above 0, zlib at that level instead. The mips, as DDS.
    TextureFormat ktxFormat = TextureFormat::bc5;
    int32_t ktxZstd = -1;
    int32_t ktxZlib = 0;
    int32_t bc7Fast = 0;  // BC7: the fast search (see Bc7Quality)
    // ASTC (.astc): the block size (one of the TextureFormat astc values;
    // 4x4 holds 8 bits a texel, as BC5 does) and the search preset.
    TextureFormat astcFormat = TextureFormat::astc4x4;
    AstcQuality astcQuality = AstcQuality::medium;
};

// The zstd level a KTX2 payload gets by default: 18 for block formats,
// 9 for plain ones (plain levels are several times larger; 9 keeps a 4096 x
// 4096 RGBA16 save to seconds while taking most of what 18 takes). 0 (no
// supercompression) where the build has no zstd (Windows).
int32_t ktxDefaultZstdLevel(TextureFormat format);
// Whether the format stores 8-bit samples, so that 16-bit ones are reduced
// (the block encoders take all 16 bits).
constexpr bool textureReducesSamples(TextureFormat format) {
    return format == TextureFormat::bgra8 || format == TextureFormat::rg8 || format == TextureFormat::rgba8;
}

// What writeImage did that the options did not ask for: the notes a front
// end passes on.
struct SaveReport {
    int32_t alphaDropped = 0;  // the picture's alpha, which the format cannot hold, was left out
    int32_t reduced = 0;       // 16-bit samples were written as 8 bits, the most the format holds
};

// Saves an Image in `format`. A picture that is 8-bit RGB, or any picture
// saved as BMP, is written from its display bitmap (which must be built),
// exactly as writeImageFile writes it, except that an 8-bit RGB PNG is
// written from its pixels (the same bytes); otherwise from its pixels,
// keeping 16 bits and alpha where the format and the options allow.
bool writeImage(const char* path, const Image& image, OutputFormat format, const SaveOptions& options,
                SaveReport* report = nullptr);
// Whether writeImage writes this picture from its display bitmap, which must
// then be built; otherwise only its pixels are read.
bool writeReadsBitmap(const Image& image, OutputFormat format, const SaveOptions& options);
bool writePng(const char* path, BitmapHandle bitmap);
// A DDS texture of the Image's pixels (any layout; see encode/texture_encoder.h)
// with its mip chain, as `options` choose.
bool writeDds(const char* path, const Image& image, const SaveOptions& options);
// A KTX 2.0 texture (writers/ktx2_writer.cpp): the payload, mip chain and
// supercompression `options` choose. False (errno 0) when the build lacks
// the supercompression asked for.
bool writeKtx2(const char* path, const Image& image, const SaveOptions& options);
// An .astc file of the Image's pixels (any layout): the top level in the
// ASTC library's normal-map mode, as `options` choose; false where the
// system has no ASTC library.
bool writeAstc(const char* path, const Image& image, const SaveOptions& options);
bool writeTga(const char* path, BitmapHandle bitmap);
// A 32-bit Targa file from 8-bit rows with alpha.
bool writeTgaWithAlpha(const char* path, const PixelRows& rows);
// A PNG file from rows of any depth and channels PixelRows holds (grey
// ones as colour type 0); floats are refused.
bool writePngRows(const char* path, const PixelRows& rows);
// TIFF of the display bitmap: 8-bit red-green-blue, as writeImageFile saves.
bool writeTiff(const char* path, BitmapHandle bitmap);
// A TIFF file from rows of any depth and channels PixelRows holds, grey
// 32-bit floats included.
bool writeTiffRows(const char* path, const PixelRows& rows);
// An OpenEXR file from one channel of 32-bit floats (platform/codecs.h,
// platformEncodeExr); false where the system has no OpenEXR library.
bool writeExrRows(const char* path, const PixelRows& rows);
