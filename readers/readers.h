// Loading a picture: one entry that picks a reader by the file name's
// extension, and one reader per format.
#pragma once

#include <cstddef>

#include "image/byte_reader.h"
#include "image/image.h"

inline constexpr size_t nameBufferSize = 256;

// Loads `path` into `image` (which should be reset) with the reader that the
// extension after the last dot names, ignoring ASCII case. On success the
// Image is filled: pixels top row first, red-green-blue, 24 or 32 bits, and a
// display bitmap. Nothing is shown to the user.
bool readImageFile(const char* path, Image* image);

// Copies the last component of `path` (separators `\` and `/`) into
// `destination`, which holds nameBufferSize bytes. A component that does not
// fit fails.
bool extractFileName(char* destination, const char* path);

// Readers that work on a plain ByteReader handed in zeroed by the dispatch.
bool readBmp(ByteReader* reader, Image* image, const char* path);
bool readTga(ByteReader* reader, Image* image, const char* path);
bool readPcx(ByteReader* reader, Image* image, const char* path);
bool readDds(ByteReader* reader, Image* image, const char* path);
