// ASTC glue: the block sizes, the .astc file's header, and the levels of a
// texture encoded and decoded through the system's ASTC library
// (platform/codecs.h; none on Windows, where platformHasAstc() is false).
//
// Normal maps are stored as the library's command line stores them in its
// normal-map mode: X in red, green and blue, Y in alpha; a shader reads the
// vector as .ga (X from green, Y from alpha) and rebuilds Z.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/codecs.h"

// Every ASTC block holds 16 bytes, whatever its size in texels.
inline constexpr uint32_t astcBlockBytes = 16;

struct AstcBlock {
    uint32_t x = 4;
    uint32_t y = 4;
};

// Whether x by y is one of the 2D block sizes of the ASTC format (4x4 to
// 12x12, fourteen in all).
bool astcBlockAllowed(uint32_t x, uint32_t y);

// The bytes of one level of width x height in blocks of `block`: 16 bytes a
// block, blocks rounded up on both sides.
uint64_t astcLevelBytes(AstcBlock block, uint32_t width, uint32_t height);

// The library's search presets.
enum class AstcQuality : int32_t { fastest, fast, medium, thorough };

// The .astc file as Arm's tools write it: a 16-byte header (the magic
// 0x5CA1AB13 little-endian, the block's x, y and z, then the picture's
// x, y and z sizes, each 24 bits little-endian) and the blocks of one
// level, rows from the top.
inline constexpr size_t astcFileHeaderBytes = 16;
inline constexpr uint32_t astcFileMagic = 0x5CA1AB13u;
// The sizes the header can hold.
inline constexpr uint32_t astcFileMaxSide = 0xFFFFFF;

struct AstcFileHeader {
    AstcBlock block;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The header of a 2D picture; false for a size the header cannot hold or
// a block size the format does not have.
bool putAstcFileHeader(const AstcFileHeader& header, uint8_t (&bytes)[astcFileHeaderBytes]);

// Reads and checks the header of `file` against the whole file: the magic,
// a 2D block size of the format (z 1), sizes from 1 to the image limits
// (depth 1), and exactly the blocks those sizes need after the header.
// False with the reason in `why` (a phrase such as "the file ends before
// its blocks") when anything is wrong; nothing is allocated.
bool readAstcFileHeader(std::span<const uint8_t> file, AstcFileHeader& header, const char*& why);

// Decodes one level of width x height stored in blocks of `block` into
// `rgba` (4 bytes a pixel, top row first, as stored: for a normal map X
// in red, green and blue and Y in alpha). `blocks` must hold exactly
// astcLevelBytes(...) bytes. For any ASTC payload (a .astc file, a KTX2
// level). False where the system has no ASTC library, for a size the
// blocks do not match, or without memory.
bool decodeAstcLevel(std::span<const uint8_t> blocks, AstcBlock block, uint32_t width, uint32_t height,
                     uint8_t* rgba);

// Normal-map pixels as decoded (X in red, Y in alpha) turned into 3-byte
// red-green-blue pixels: X in red, Y in green, Z rebuilt in blue as the
// DDS reader rebuilds it for two-channel BC5 (rebuiltZ8).
void astcNormalsToRgb(const uint8_t* rgba, size_t count, uint8_t* rgb);

// An encoder of normal maps in the library's normal-map mode, its threads
// spread over the machine's cores; reused for every level of a texture.
class AstcLevelEncoder {
public:
    AstcLevelEncoder(AstcBlock block, AstcQuality quality, uint64_t largestPixels);
    ~AstcLevelEncoder();
    AstcLevelEncoder(const AstcLevelEncoder&) = delete;
    AstcLevelEncoder& operator=(const AstcLevelEncoder&) = delete;

    // False when the library refused the settings, or there is none.
    bool ready() const { return encoder_ != nullptr; }
    // Encodes a picture whose red is X and green Y (blue and alpha are not
    // read) into `out`, which holds exactly astcLevelBytes(...) bytes.
    bool encode(const AstcPicture& picture, uint8_t* out, size_t outSize);

private:
    AstcEncoder* encoder_ = nullptr;
    AstcBlock block_;
    unsigned threads_ = 1;
};
