// The parts of the Targa reader that are useful on their own.
#pragma once

#include <cstdint>

#include "platform/basics.h"

// The 18 bytes at the start of every Targa file.
struct TgaHeader {
    uint8_t idLength;        // bytes of the image ID that follows the header
    uint8_t colourMapType;   // 1: a colour map follows the image ID
    uint8_t imageType;       // 1, 2, 3: colour-mapped, true-colour, grey; 9, 10: run-length encoded
    uint16_t colourMapFirst;
    uint16_t colourMapLength;
    uint8_t colourMapEntrySize;  // bits of an entry
    uint16_t xOrigin;
    uint16_t yOrigin;
    uint16_t width;
    uint16_t height;
    uint8_t pixelDepth;  // bits of a stored pixel value
    uint8_t descriptor;  // 0x20: top row first
};

inline constexpr uint32_t tgaHeaderSize = 18;

// Reads the header at the reader's cursor, fields as stored; false when the
// bytes run out. Nothing is checked here.
bool readTgaHeader(ByteReader* reader, TgaHeader& header);
