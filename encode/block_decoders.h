// Small decoders of the blocks the encoders write, decoding as the encoders
// measure (see block_encoders.h). They serve the encoders' own error sums
// and the tests' round trips; the DDS reader has decoders of its own.
#pragma once

#include <cstdint>

// The eight palette entries of a BC4 UNORM block.
void bc4Palette(uint8_t e0, uint8_t e1, uint8_t (&palette)[8]);

// A BC4 UNORM block (8 bytes) to its 16 values, pixel (x, y) at 4y + x.
void decodeBc4Block(const uint8_t* block, uint8_t (&values)[16]);

// A 5:6:5 colour widened to 8 bits a channel by repeating the high bits.
void expand565(uint16_t colour, uint8_t (&rgb)[3]);

// A BC1 colour block (8 bytes) to 16 red-green-blue pixels, pixel (x, y)
// at 4y + x. Three-colour blocks (c0 <= c1) give black for index 3, unless
// `alwaysFour` (the colour half of BC2 and BC3, which is always four-colour).
void decodeColourBlock(const uint8_t* block, bool alwaysFour, uint8_t (&rgb)[16][3]);
