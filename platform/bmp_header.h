// The headers of a BMP file, read and checked before anything is decoded or
// allocated. The portable decoder works from them, and the Windows loader is
// only handed files that pass them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/basics.h"

inline constexpr uint16_t bmpMagic = 0x4D42;  // "BM"
inline constexpr uint32_t fileHeaderSize = 14;
inline constexpr uint32_t coreHeaderSize = 12;   // BITMAPCOREHEADER (OS/2 1.x)
inline constexpr uint32_t infoHeaderSize = 40;   // BITMAPINFOHEADER
inline constexpr uint32_t v2HeaderSize = 52;     // BITMAPV2INFOHEADER: masks inside the header
inline constexpr uint32_t v3HeaderSize = 56;     // BITMAPV3INFOHEADER: and an alpha mask
inline constexpr uint32_t os2v2HeaderSize = 64;  // OS/2 2.x BITMAPINFOHEADER2
inline constexpr uint32_t v4HeaderSize = 108;    // BITMAPV4HEADER
inline constexpr uint32_t v5HeaderSize = 124;    // BITMAPV5HEADER

inline constexpr uint32_t biRgb = 0;
inline constexpr uint32_t biRle8 = 1;
inline constexpr uint32_t biRle4 = 2;
inline constexpr uint32_t biBitfields = 3;
inline constexpr uint32_t biAlphaBitfields = 6;

// An RLE stream may stop at any point with an end-of-bitmap and leave the
// rest black, so its length alone does not bound the picture. The densest
// run codes 255 pixels in 2 bytes; a picture declaring more than 256 pixels
// per byte of RLE data is refused, so that a small file can never demand a
// bitmap out of proportion to it (deltas and an early end-of-bitmap can
// describe sparser pictures, but no encoder writes normal maps that way).
inline constexpr uint64_t maxRlePixelsPerByte = 256;

struct BmpHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t headersEnd = 0;       // file offset just past the headers and any masks after them
    uint32_t entrySize = 4;        // bytes of a colour table entry: 3 in OS/2 1.x files
    uint32_t declaredEntries = 0;  // colour table entries the header announces
    uint32_t paletteEntries = 0;   // of those, the ones that lie before the pixel data
    uint32_t dataOffset = 0;
    std::array<uint32_t, 3> masks{};  // red, green, blue
};

// Reads and checks the file header and the information header, and settles
// where the colour table and the pixel data lie. Nothing is allocated here.
bool readBmpHeader(ByteReader* reader, BmpHeader& header);

// Before anything is allocated: the pixel data must be able to fit in the
// bytes from the data offset to the end of the file.
bool bmpPixelsCanFit(const BmpHeader& header, uint32_t fileLength);

// Both checks on a whole file in memory; `reader` (over `file`) is left
// just past the headers.
bool readSoundBmpHeaders(std::span<const uint8_t> file, ByteReader& reader, BmpHeader& header);
