// A general BMP decoder standing in for the Windows bitmap-file loader.
#pragma once

#include <cstdint>
#include <span>

#include "platform/platform.h"

// Decodes a whole BMP file held in memory into a new 24-bit display bitmap
// (bottom row first, blue-green-red), whatever the file's own row order and
// depth; alpha is dropped. Null when the file is not a BMP this decoder takes.
BitmapHandle decodeBmpFile(std::span<const uint8_t> file);
