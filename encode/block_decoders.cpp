#include "encode/block_decoders.h"

void bc4Palette(uint8_t e0, uint8_t e1, uint8_t (&palette)[8]) {
    palette[0] = e0;
    palette[1] = e1;
    if (e0 > e1) {
        // Six steps between: ((7 - k) e0 + k e1) / 7 for k = 1..6.
        for (int k = 1; k <= 6; ++k) palette[k + 1] = static_cast<uint8_t>(((7 - k) * e0 + k * e1) / 7);
    } else {
        // Four steps between: ((5 - k) e0 + k e1) / 5 for k = 1..4, then 0 and 255.
        for (int k = 1; k <= 4; ++k) palette[k + 1] = static_cast<uint8_t>(((5 - k) * e0 + k * e1) / 5);
        palette[6] = 0;
        palette[7] = 255;
    }
}

void decodeBc4Block(const uint8_t* block, uint8_t (&values)[16]) {
    uint8_t palette[8];
    bc4Palette(block[0], block[1], palette);
    // 48 bits of 3-bit indices, the first pixel in the lowest bits.
    uint64_t indices = 0;
    for (int i = 0; i < 6; ++i) indices |= uint64_t{block[2 + i]} << (8 * i);
    for (int i = 0; i < 16; ++i) values[i] = palette[(indices >> (3 * i)) & 7];
}

void expand565(uint16_t colour, uint8_t (&rgb)[3]) {
    const unsigned r = (colour >> 11) & 31, g = (colour >> 5) & 63, b = colour & 31;
    rgb[0] = static_cast<uint8_t>((r << 3) | (r >> 2));
    rgb[1] = static_cast<uint8_t>((g << 2) | (g >> 4));
    rgb[2] = static_cast<uint8_t>((b << 3) | (b >> 2));
}

void decodeColourBlock(const uint8_t* block, bool alwaysFour, uint8_t (&rgb)[16][3]) {
    const uint16_t c0 = static_cast<uint16_t>(block[0] | (block[1] << 8));
    const uint16_t c1 = static_cast<uint16_t>(block[2] | (block[3] << 8));
    uint8_t colours[4][3];
    expand565(c0, colours[0]);
    expand565(c1, colours[1]);
    for (int k = 0; k < 3; ++k) {
        const int first = colours[0][k], second = colours[1][k];
        if (c0 > c1 || alwaysFour) {
            colours[2][k] = static_cast<uint8_t>((2 * first + second) / 3);
            colours[3][k] = static_cast<uint8_t>((first + 2 * second) / 3);
        } else {
            colours[2][k] = static_cast<uint8_t>((first + second) / 2);
            colours[3][k] = 0;
        }
    }
    for (int i = 0; i < 16; ++i) {
        const int index = (block[4 + i / 4] >> (2 * (i % 4))) & 3;
        for (int k = 0; k < 3; ++k) rgb[i][k] = colours[index][k];
    }
}
