// The seam between the core and the operating system.
//
// The core touches exactly one platform object, the display bitmap: 24 bits a
// pixel, bottom row first, blue-green-red, rows padded to a multiple of 4 bytes
// (byte for byte the pixel array of a 24-bit BMP file). On Windows it is a GDI
// DIB section; elsewhere a small owned memory object with the same layout.
// Everything else here is a thin wrapper over a system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct PlatformBitmap;  // opaque; an HBITMAP on Windows
using BitmapHandle = PlatformBitmap*;

#ifdef _WIN32
inline constexpr char pathSeparator = '\\';
#else
inline constexpr char pathSeparator = '/';
#endif

struct BitmapInfo {
    int32_t width = 0;
    int32_t height = 0;  // as the bitmap's header holds it: positive means bottom row first
    int32_t bitsPerPixel = 0;
    uint8_t* bits = nullptr;  // null when the bitmap has no addressable memory
};

// A new 24-bit, bottom-up bitmap section of the given size, or null. With
// clearToBlack every byte starts at zero; without it the row padding does,
// and the pixel bytes are whatever the platform gives a new section.
BitmapHandle platformCreateBitmap(int32_t width, int32_t height, bool clearToBlack);

// Width, height, depth and memory of any bitmap handle; false when the handle
// is null or not a bitmap.
bool platformQueryBitmap(BitmapHandle bitmap, BitmapInfo& info);

void platformDeleteBitmap(BitmapHandle bitmap);

// Draws the whole source over the whole destination (nearest-pixel stretching).
void platformStretchCopy(BitmapHandle source, BitmapHandle destination);

// Transfers between a bitmap and a top-row-first grid of 24-bit rows of
// `stride` bytes, `width` x `height` pixels. The grid's size must equal the
// bitmap's; false (and nothing transferred) otherwise.
bool platformReadRowsTopDown(BitmapHandle bitmap, uint8_t* grid, uint32_t width, uint32_t height, size_t stride);
bool platformWriteRowsTopDown(BitmapHandle bitmap, const uint8_t* grid, uint32_t width, uint32_t height, size_t stride);

// The platform's bitmap-file decoder: a whole BMP file held in memory, of any
// variant it understands, as a bitmap handle (of any depth), or null.
BitmapHandle platformDecodeBitmap(std::span<const uint8_t> file);

// An image-sized buffer, or null when there is no memory. Large blocks are
// laid out so that the system can back them with huge pages, which makes
// first use of a whole picture's memory many times cheaper than faulting it
// in 4 KiB at a time. The content is undefined. Release it with
// platformFreeLarge, which keeps the thread's last large blocks for its next picture
// (every click re-reads the file into buffers of the same sizes); std::free
// is also safe on it.
void* platformAllocLarge(size_t size);
void platformFreeLarge(void* block);

// A whole file mapped into memory for reading, where the system's file
// cache holds it: no picture-sized memory is asked for and no byte is
// copied. False when the file cannot be mapped (empty, too large, or no
// such file); the caller then reads it another way. The bytes must not be
// written, and stay valid until platformUnmapFile.
struct MappedFile {
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
    void* handle = nullptr;  // the system's mapping object, where it has one
};
bool platformMapFile(const char* path, MappedFile& mapped);
void platformUnmapFile(MappedFile& mapped);

// True when the file exists and can be opened for reading (no exclusive lock).
bool platformFileExists(const char* path);

// Replaces `target` with `source` (both in the same directory) in one step;
// on failure errno holds the system's reason.
bool platformReplaceFile(const char* source, const char* target);

uint32_t platformTicks();  // milliseconds, wrapping
void platformYield();      // gives up the rest of the time slice

// Full path of the running executable; 0 when it cannot be told or does not
// fit in `size` bytes with its terminating zero. Otherwise its length.
size_t platformExecutablePath(char* buffer, size_t size);

// The process's current directory; 0 when it cannot be told or does not fit.
size_t platformCurrentDirectory(char* buffer, size_t size);
bool platformSetCurrentDirectory(const char* path);
