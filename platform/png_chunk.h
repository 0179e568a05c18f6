// What the PNG reader and the Windows codec both need of PNG's layout: the
// CRC that every chunk carries, and the samples a pixel has in each colour
// type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The CRC-32 of PNG chunks (ISO 3309, reflected polynomial 0xEDB88320),
// written out here because the Windows build has no zlib.
inline constexpr std::array<uint32_t, 256> pngCrcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// The CRC of a chunk's type and data.
inline uint32_t pngChunkCrc(const uint8_t* typeAndData, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = pngCrcTable[(c ^ typeAndData[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// Samples of a pixel: 1 for grey and palette indices, 2 for grey with alpha,
// 3 for RGB, 4 for RGBA.
constexpr uint32_t pngChannels(uint8_t colourType) {
    switch (colourType) {
        case 0:
        case 3: return 1;
        case 4: return 2;
        case 2: return 3;
        default: return 4;
    }
}
