// The file formats the program saves, picked by a file name's extension.
#pragma once

#include "platform/platform.h"

enum class OutputFormat { bmp, png, tga };

// The format that `path`'s extension names (".bmp", ".png" or ".tga", ASCII
// case ignored); false when it names none of the three.
bool outputFormatOf(const char* path, OutputFormat& format);

// Each writer saves atomically: the file is written beside the target under a
// temporary name and replaces it only once whole, so a failed write leaves an
// earlier file as it was and no temporary file behind. On failure errno holds
// the system's reason, or 0 when there was none (an encoder fault).
bool writeImageFile(const char* path, BitmapHandle bitmap, OutputFormat format);
bool writePng(const char* path, BitmapHandle bitmap);
bool writeTga(const char* path, BitmapHandle bitmap);
