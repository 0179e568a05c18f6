// What the core and the platform both need, kept free of either so that
// neither has to include the other: the limits on a picture's size, the
// bounded reads over a file's bytes, and the row copies between pixel
// buffers and display bitmaps. Includes nothing of the project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// ---------------------------------------------------------------------------
// Limits.

// The largest picture any reader accepts, in pixels. Every size product of a
// picture this size fits in 32 bits at 4 bytes a pixel, and every stride fits
// in a signed 32-bit value.
inline constexpr uint64_t maxImagePixels = uint64_t{1} << 28;

// The largest file any reader takes, in bytes: offsets into it are 32-bit.
inline constexpr uint64_t maxFileBytes = 0xFFFFFFFFu;

// True when a picture of width x height pixels may be allocated: both sides
// positive and the pixel count within maxImagePixels.
bool imageSizeAllowed(int64_t width, int64_t height);

// 3 x width rounded up to a multiple of 4: the stride of a display bitmap row.
constexpr size_t displayStride(uint32_t width) { return (size_t{3} * width + 3) & ~size_t{3}; }

// ---------------------------------------------------------------------------
// A whole file held in memory, read through bounded little-endian reads that
// fail without moving the cursor. The reader only borrows the bytes.

struct ByteReader {
    const uint8_t* bytes;  // borrowed, or null: every read fails
    uint32_t cursor;       // may lie past `length`; reads then fail
    uint32_t length;
};

// A reader at the start of `file`, which must hold at most maxFileBytes
// bytes. An empty file still gives a reader whose reads of 0 bytes succeed.
ByteReader readerOver(std::span<const uint8_t> file);

bool readU8(ByteReader* reader, uint8_t& value);
bool readU16(ByteReader* reader, uint16_t& value);
bool readU32(ByteReader* reader, uint32_t& value);
bool readBlock(ByteReader* reader, uint32_t count, void* destination);
// The same bounded read without the copy: `view` shows the next `count` bytes.
bool readSpan(ByteReader* reader, uint32_t count, std::span<const uint8_t>& view);

// Bytes left from the cursor to the end; 0 when the cursor lies past the end.
inline uint32_t bytesLeft(const ByteReader* reader) {
    return reader->cursor < reader->length ? reader->length - reader->cursor : 0;
}

inline void setCursor(ByteReader* reader, uint32_t offset) { reader->cursor = offset; }
// Moves the cursor on by `count`; it stops at the top of the range instead of
// wrapping round to an offset inside the file.
void skipBytes(ByteReader* reader, uint32_t count);

// ---------------------------------------------------------------------------
// Row conversions between pixel buffers and display bitmaps: runs of pixels
// of 3 or 4 bytes copied to 3-byte pixels, keeping or swapping the order of
// their first and third bytes (red-green-blue against blue-green-red).

// The buffers must not overlap.
void copyPixelsSwapped(const uint8_t* source, size_t sourceStep, uint8_t* destination, size_t count);
void copyPixelsInOrder(const uint8_t* source, size_t sourceStep, uint8_t* destination, size_t count);
// Copies `count` pixels of `step` (3 or 4) bytes, swapping the first and
// third byte of each and keeping the fourth (alpha).
void copyPixelsSwappedKeepingStep(const uint8_t* source, size_t step, uint8_t* destination, size_t count);
// Copies `count` 16-bit words with their two bytes swapped: between words
// most significant byte first (as PNG stores them) and little-endian ones.
void copyWordsSwapped(const uint8_t* source, uint8_t* destination, size_t count);

// ---------------------------------------------------------------------------
// Rows of packed samples, as TIFF and PNG store samples of other than 8 or 16
// bits: one after the other, first sample in the highest bits of its byte.

// Sample `index` of a row of packed samples of `bits` (1 to 16) bits.
uint32_t packedSample(const uint8_t* row, size_t index, uint32_t bits);
// Ors `value` (below 2^bits) into sample `index`, whose bits are zero.
void putPackedSample(uint8_t* row, size_t index, uint32_t bits, uint32_t value);

// ---------------------------------------------------------------------------
// Functions whose loops the compiler turns into vector code are built more
// than once on x86-64 Linux with GCC (target_clones): for AVX2 and for the
// baseline, and for AVX-512 where wider vectors pay, and the best one the
// processor runs is picked when the program starts. Elsewhere they are built
// once, for the baseline.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define QUORVEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#define QUORVEL_WIDE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define QUORVEL_VECTOR_CLONES
#define QUORVEL_WIDE_VECTOR_CLONES
#endif
