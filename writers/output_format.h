// The formats the program saves, and the bytes that open the two whose
// pixel rows follow the header as they are (BMP and Targa), shared by the
// writers and by the streaming road.
#pragma once

#include <cstddef>
#include <cstdint>

// exr (OpenEXR) holds heights only: one float channel (writeExrRows).
// ktx2: a KTX 2.0 texture (writeKtx2); astc: the .astc file of one ASTC
// level (writeAstc).
enum class OutputFormat { bmp, png, tga, tif, dds, exr, ktx2, astc };

// The bytes that stand before the pixel rows in a BMP or Targa file of a
// 24-bit picture of width x height, whose rows follow bottom row first,
// blue-green-red (padded to 4 bytes in BMP, unpadded in Targa). Returns their
// count; 0 for PNG and TIFF, or for a size the format cannot hold.
inline constexpr size_t rowFileHeaderMax = 54;
size_t rowFileHeader(OutputFormat format, uint32_t width, uint32_t height, uint8_t (&header)[rowFileHeaderMax]);
