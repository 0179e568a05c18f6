// BMP output: an uncompressed 24-bit BMP file of the display bitmap.
#pragma once

#include "platform/platform.h"

// Writes the display bitmap behind a 54-byte header. The file is written
// beside the target under a temporary name and replaces the target only once
// it is whole, so a failed write leaves any earlier file as it was.
bool writeBmp(const char* path, BitmapHandle bitmap);
