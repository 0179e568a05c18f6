#include "platform/portable/bmp_decoder.h"

BitmapHandle decodeBmpFile(std::span<const uint8_t>) { return nullptr; }
