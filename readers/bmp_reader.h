// The parts of the BMP reader that are useful on their own.
#pragma once

#include <cstdint>
#include <span>

#include "image/image.h"

// The own parser: uncompressed 24-bit files with a 40-byte information
// header (or a longer one, of which the first 40 bytes are read).
bool parseBmp(std::span<const uint8_t> file, Image* image);

// A loaded bitmap as an upright 24-bit display bitmap; takes over `bitmap`.
BitmapHandle ensure24BitBitmap(BitmapHandle bitmap);
