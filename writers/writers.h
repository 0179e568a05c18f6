// The file formats the program saves, picked by a file name's extension.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "platform/codecs.h"
#include "platform/platform.h"

enum class OutputFormat { bmp, png, tga };

// The format that `path`'s extension names (".bmp", ".png" or ".tga", ASCII
// case ignored); false when it names none of the three.
bool outputFormatOf(const char* path, OutputFormat& format);

// Each writer saves atomically: the file is written beside the target under a
// temporary name and replaces it only once whole, so a failed write leaves an
// earlier file as it was and no temporary file behind. On failure errno holds
// the system's reason, or 0 when there was none (an encoder fault).
// The bytes that stand before the pixel rows in a BMP or Targa file of a
// 24-bit picture of width x height, whose rows follow bottom row first,
// blue-green-red (padded to 4 bytes in BMP, unpadded in Targa). Returns their
// count; 0 for PNG, or for a size the format cannot hold.
inline constexpr size_t rowFileHeaderMax = 54;
size_t rowFileHeader(OutputFormat format, uint32_t width, uint32_t height, uint8_t (&header)[rowFileHeaderMax]);

bool writeImageFile(const char* path, BitmapHandle bitmap, OutputFormat format);

// How a picture beyond 8-bit RGB is saved.
struct SaveOptions {
    int32_t keepAlpha = 1;  // PNG, Targa, TIFF: write the alpha the picture has
    int32_t depth = 0;      // PNG, TIFF: 0 keeps the picture's depth; 8 reduces, 16 widens
};

// What writeImage did that the options did not ask for: the notes a front
// end passes on.
struct SaveReport {
    int32_t alphaDropped = 0;  // the picture's alpha, which the format cannot hold, was left out
    int32_t reduced = 0;       // 16-bit samples were written as 8 bits, the most the format holds
};

// Saves an Image in `format`. A picture that is 8-bit RGB, or any picture
// saved as BMP, is written from its display bitmap (which must be built),
// exactly as writeImageFile writes it; otherwise from its pixels, keeping
// 16 bits and alpha where the format and the options allow.
bool writeImage(const char* path, const Image& image, OutputFormat format, const SaveOptions& options,
                SaveReport* report = nullptr);
bool writePng(const char* path, BitmapHandle bitmap);
bool writeTga(const char* path, BitmapHandle bitmap);
// A 32-bit Targa file from 8-bit rows with alpha.
bool writeTgaWithAlpha(const char* path, const PixelRows& rows);
// A PNG file from rows of any depth and channels PixelRows holds.
bool writePngRows(const char* path, const PixelRows& rows);
