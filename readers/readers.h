// Loading a picture: one entry that picks a reader by the file name's
// extension, and one reader per format.
#pragma once

#include <cstddef>

#include "image/byte_reader.h"
#include "image/image.h"
#include "platform/codecs.h"

inline constexpr size_t nameBufferSize = 256;

// Loads `path` into `image` (which should be reset) with the reader that the
// extension after the last dot names, ignoring ASCII case. On success the
// Image is filled: pixels top row first, red-green-blue, at 8 or 16 bits a
// sample, with alpha where the file has it (image/image.h), and a display
// bitmap. Nothing is shown to the user.
bool readImageFile(const char* path, Image* image);

// The name of the format that `path`'s extension selects ("BMP", "Targa",
// "PCX", "Photoshop", "DDS", "Netpbm", "PNG", "JPEG" or "TIFF"), or null
// when no reader takes that extension.
const char* formatNameOf(const char* path);

// True when `path` holds a picture its reader refuses for its kind rather
// than as damaged; `text` (of `size` bytes) then names that kind, such as
// "BC6H_UF16 (DXGI 95)" for a DDS file or "32-bit floating-point samples"
// for a TIFF file. Reads only the file's first bytes (the whole of a TIFF
// file, whose directory may lie anywhere).
bool unreadableKindOf(const char* path, char* text, size_t size);

// Copies the last component of `path` (separators `\` and `/`) into
// `destination`, which holds nameBufferSize bytes. A component that does not
// fit fails.
bool extractFileName(char* destination, const char* path);

// Readers that work on a plain ByteReader handed in zeroed by the dispatch.
bool readBmp(ByteReader* reader, Image* image, const char* path);
bool readTga(ByteReader* reader, Image* image, const char* path);
bool readPcx(ByteReader* reader, Image* image, const char* path);
bool readDds(ByteReader* reader, Image* image, const char* path);
bool readPng(ByteReader* reader, Image* image, const char* path);
bool readJpeg(ByteReader* reader, Image* image, const char* path);
// For the streaming road: the PNG file at `path`, checked as readPng checks
// it, opened for its rows to be made in place. False when the file is not
// a red-green-blue(-alpha) picture that the codec can take so
// (readPng then reads it, or says why it cannot).
bool openPngRows(const char* path, PngRowsInPlace& rows);
// TIFF: 8- or 16-bit samples give an Image of that depth, with alpha when
// the file has an alpha sample.
bool readTiff(ByteReader* reader, Image* image, const char* path);

// The DDS header at the start of the file names a format the reader does not
// read; `text` names it.
bool ddsUnreadableKind(const char* path, char* text, size_t size);
// The first directory of the TIFF file describes a picture of a kind the
// reader does not read (floating-point samples, an orientation other than
// top-left, CMYK, JPEG compression...); `text` names it.
bool tiffUnreadableKind(const char* path, char* text, size_t size);

// Sets `image` up for a 24-bit, top-row-first picture of width x height and
// allocates its pixels (undefined content); false when the size is not
// allowed or there is no memory. For readers that fill rows as a codec
// hands them over.
bool startRgbImage(Image* image, uint32_t width, uint32_t height);
