// The platform seam on Windows: display bitmaps are GDI DIB sections, and the
// rest are thin wrappers over the kernel, USER and GDI calls.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <vector>

#include "platform/basics.h"
#include "platform/bmp_header.h"
#include "platform/platform.h"

namespace {

HBITMAP toHandle(BitmapHandle bitmap) { return reinterpret_cast<HBITMAP>(bitmap); }
BitmapHandle fromHandle(HBITMAP bitmap) { return reinterpret_cast<BitmapHandle>(bitmap); }

// The 40-byte header of a 24-bit, uncompressed bitmap; a negative height
// means top row first.
BITMAPINFO header24(int32_t width, int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// Width and height of any bitmap as GetObject reports them for a BITMAP
// (the height always positive).
bool bitmapSize(HBITMAP bitmap, LONG& width, LONG& height) {
    BITMAP bm{};
    if (!bitmap || GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm) return false;
    width = bm.bmWidth;
    height = bm.bmHeight;
    return true;
}

// True when `width` x `height` with rows of `stride` bytes describes exactly
// the bitmap, and the rows can hold 24-bit pixels.
bool gridMatches(HBITMAP bitmap, uint32_t width, uint32_t height, size_t stride) {
    LONG bw = 0, bh = 0;
    return bitmapSize(bitmap, bw, bh) && static_cast<uint32_t>(bw) == width && static_cast<uint32_t>(bh) == height &&
           height <= 0x7FFFFFFFu && stride >= size_t{3} * width;
}

DWORD toDword(size_t size) { return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(size); }

}  // namespace

BitmapHandle platformCreateBitmap(int32_t width, int32_t height, bool clearToBlack) {
    if (!imageSizeAllowed(width, height)) return nullptr;
    BITMAPINFO info = header24(width, height);
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!bitmap) return nullptr;
    if (clearToBlack) {
        HDC memory = CreateCompatibleDC(nullptr);
        if (memory) {
            HGDIOBJ previous = SelectObject(memory, bitmap);
            BITMAP bm{};
            GetObjectA(bitmap, sizeof bm, &bm);
            BitBlt(memory, 0, 0, bm.bmWidth, bm.bmHeight, nullptr, 0, 0, BLACKNESS);
            SelectObject(memory, previous);
            DeleteDC(memory);
        }
    }
    return fromHandle(bitmap);
}

bool platformQueryBitmap(BitmapHandle bitmap, BitmapInfo& info) {
    HBITMAP handle = toHandle(bitmap);
    if (!handle || GetObjectType(handle) != OBJ_BITMAP) return false;
    DIBSECTION section{};
    const int size = GetObjectA(handle, sizeof section, &section);
    if (size == sizeof section) {
        // A section's own header keeps the sign of its height, so a top-down
        // section reports itself as such.
        info.width = section.dsBmih.biWidth;
        info.height = section.dsBmih.biHeight;
        info.bitsPerPixel = section.dsBmih.biBitCount;
        info.bits = static_cast<uint8_t*>(section.dsBm.bmBits);
        return true;
    }
    if (size != sizeof(BITMAP)) return false;
    // A device-dependent bitmap has no memory the program can address.
    info.width = section.dsBm.bmWidth;
    info.height = section.dsBm.bmHeight;
    info.bitsPerPixel = section.dsBm.bmBitsPixel;
    info.bits = nullptr;
    return true;
}

void platformDeleteBitmap(BitmapHandle bitmap) {
    if (bitmap) DeleteObject(toHandle(bitmap));
}

void platformStretchCopy(BitmapHandle source, BitmapHandle destination) {
    if (!source || !destination) return;
    LONG sw = 0, sh = 0, dw = 0, dh = 0;
    if (!bitmapSize(toHandle(source), sw, sh) || !bitmapSize(toHandle(destination), dw, dh)) return;
    HDC sourceDc = CreateCompatibleDC(nullptr);
    HDC destinationDc = CreateCompatibleDC(nullptr);
    if (sourceDc && destinationDc) {
        HGDIOBJ previousSource = SelectObject(sourceDc, toHandle(source));
        HGDIOBJ previousDestination = SelectObject(destinationDc, toHandle(destination));
        StretchBlt(destinationDc, 0, 0, dw, dh, sourceDc, 0, 0, sw, sh, SRCCOPY);
        SelectObject(sourceDc, previousSource);
        SelectObject(destinationDc, previousDestination);
    }
    if (sourceDc) DeleteDC(sourceDc);
    if (destinationDc) DeleteDC(destinationDc);
}

bool platformReadRowsTopDown(BitmapHandle bitmap, uint8_t* grid, uint32_t width, uint32_t height, size_t stride) {
    if (!grid || !gridMatches(toHandle(bitmap), width, height, stride)) return false;
    // GetDIBits lays rows out at the display stride; any other grid stride
    // goes through a block of that layout.
    const size_t packed = displayStride(width);
    uint8_t* rows = stride == packed ? grid : static_cast<uint8_t*>(std::malloc(packed * height));
    if (!rows) return false;
    BITMAPINFO info = header24(static_cast<int32_t>(width), -static_cast<int32_t>(height));
    HDC screen = GetDC(nullptr);
    const int copied = GetDIBits(screen, toHandle(bitmap), 0, height, rows, &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    const bool ok = copied == static_cast<int>(height);
    if (rows != grid) {
        if (ok)
            for (uint32_t r = 0; r < height; ++r) std::memcpy(grid + r * stride, rows + r * packed, size_t{3} * width);
        std::free(rows);
    }
    return ok;
}

bool platformWriteRowsTopDown(BitmapHandle bitmap, const uint8_t* grid, uint32_t width, uint32_t height,
                              size_t stride) {
    if (!grid || !gridMatches(toHandle(bitmap), width, height, stride)) return false;
    const size_t packed = displayStride(width);
    const uint8_t* rows = grid;
    uint8_t* repacked = nullptr;
    if (stride != packed) {
        repacked = static_cast<uint8_t*>(std::calloc(packed, height));
        if (!repacked) return false;
        for (uint32_t r = 0; r < height; ++r) std::memcpy(repacked + r * packed, grid + r * stride, size_t{3} * width);
        rows = repacked;
    }
    BITMAPINFO info = header24(static_cast<int32_t>(width), -static_cast<int32_t>(height));
    HDC screen = GetDC(nullptr);
    const int copied = SetDIBits(screen, toHandle(bitmap), 0, height, rows, &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    std::free(repacked);
    return copied == static_cast<int>(height);
}

namespace {

uint32_t fileU32(std::span<const uint8_t> file, size_t at) {
    const uint8_t* p = file.data() + at;
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// A file stored top row first, drawn into a new display bitmap by SetDIBits.
// The system loader loses the pixels of such files (Wine's gives a black
// picture), so they never take its road. `topDown` is false, and the result
// null, for every other file; a top-down file that is not plain uncompressed
// or bit-field data, or whose parts do not lie inside it, gives null.
BitmapHandle decodeTopDownBitmap(std::span<const uint8_t> file, bool& topDown) {
    topDown = false;
    // The first 26 bytes tell: the magic, the header's size and the height.
    if (file.size() < 26 || file[0] != 'B' || file[1] != 'M' || fileU32(file, 14) < 40 ||
        static_cast<int32_t>(fileU32(file, 22)) >= 0)
        return nullptr;
    topDown = true;
    if (file.size() < 54 || file.size() > 0xFFFFFFFFu) return nullptr;
    const auto length = static_cast<uint32_t>(file.size());
    const uint32_t headerSize = fileU32(file, 14);
    const auto width = static_cast<int32_t>(fileU32(file, 18));
    const auto height = static_cast<int32_t>(fileU32(file, 22));

    const uint32_t dataOffset = fileU32(file, 10);
    const uint32_t planes = fileU32(file, 26) & 0xFFFF;
    const uint32_t bits = fileU32(file, 26) >> 16;
    const uint32_t compression = fileU32(file, 30);
    const uint32_t coloursUsed = fileU32(file, 46);
    const int64_t rows = -int64_t{height};
    if (planes != 1 || !imageSizeAllowed(width, rows) || headerSize > length - 14) return nullptr;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
    const bool bitFields = compression == BI_BITFIELDS && (bits == 16 || bits == 32);
    if (compression != BI_RGB && !bitFields) return nullptr;

    // The header GDI is given: the first 40 bytes of the file's, then the
    // three colour masks, then the colour table. The masks come right after
    // the first 40 bytes, whether they follow a 40-byte header or open the
    // rest of a longer one.
    constexpr size_t masksAt = 54;
    const size_t masksBytes = bitFields ? 12 : 0;
    const size_t tableAt = 14 + size_t{headerSize} + (headerSize == 40 ? masksBytes : 0);
    const size_t maxColours = bits <= 8 ? size_t{1} << bits : 0;
    const size_t colours = bits <= 8 ? (coloursUsed ? coloursUsed : maxColours) : 0;
    if (colours > maxColours || masksAt + masksBytes > length || tableAt + 4 * colours > length) return nullptr;
    std::vector<uint8_t> info(40 + masksBytes + 4 * colours);
    std::memcpy(info.data(), file.data() + 14, 40);
    std::memcpy(info.data() + 40, file.data() + masksAt, masksBytes);
    std::memcpy(info.data() + 40 + masksBytes, file.data() + tableAt, 4 * colours);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    header->biSize = 40;
    header->biClrUsed = static_cast<DWORD>(colours);

    const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32 * 4;
    if (dataOffset > length || stride * static_cast<uint64_t>(rows) > length - dataOffset) return nullptr;
    BitmapHandle bitmap = platformCreateBitmap(width, static_cast<int32_t>(rows), true);
    if (!bitmap) return nullptr;
    HDC screen = GetDC(nullptr);
    const int copied = SetDIBits(screen, toHandle(bitmap), 0, static_cast<UINT>(rows), file.data() + dataOffset,
                                 reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (copied != rows) {
        platformDeleteBitmap(bitmap);
        return nullptr;
    }
    return bitmap;
}

// Every other sound file as the system's bitmap-file loader makes it: a DIB
// section of the file's own depth and colour table (or masks), its pixels set
// from the file's by SetDIBits. GDI reads the headers in place, as the loader
// hands them on; it is given a copy that runs on past them for the masks and
// the longest colour table there can be, with zeros where the file ends, so
// that it never reads past the file. The section, which cannot be
// compressed, is made of the same depth uncompressed for an RLE stream.
BitmapHandle decodeStoredBitmap(std::span<const uint8_t> file, const BmpHeader& header) {
    const size_t headerSize = fileU32(file, fileHeaderSize);
    const size_t infoBytes = headerSize + 16 + 4 * 256;
    // Two copies: the one that describes the pixels, and the one the section
    // is made from, which is never compressed.
    auto* info = static_cast<uint8_t*>(std::calloc(2, infoBytes));
    if (!info) return nullptr;
    uint8_t* sectionInfo = info + infoBytes;
    std::memcpy(info, file.data() + fileHeaderSize, std::min(infoBytes, file.size() - fileHeaderSize));
    std::memcpy(sectionInfo, info, infoBytes);
    const uint8_t* pixels = file.data() + header.dataOffset;
    uint8_t* padded = nullptr;
    if ((header.compression == biRle8 || header.compression == biRle4) && headerSize >= infoHeaderSize) {
        const size_t available = file.size() - header.dataOffset;
        auto* stored = reinterpret_cast<BITMAPINFOHEADER*>(info);
        if (stored->biSizeImage == 0) {
            stored->biSizeImage = static_cast<DWORD>(available);
        } else if (stored->biSizeImage > available) {
            // A stream cut short goes on as zeros, as the loader read it from
            // the file's mapping: enough for the longest absolute run and an
            // end of line, so that the last row it began still shows.
            const size_t padding = std::min<size_t>(stored->biSizeImage - available, 260);
            padded = static_cast<uint8_t*>(std::calloc(available + padding, 1));
            if (!padded) {
                std::free(info);
                return nullptr;
            }
            if (available) std::memcpy(padded, pixels, available);
            pixels = padded;
            stored->biSizeImage = static_cast<DWORD>(available + padding);
        }
        auto* uncompressed = reinterpret_cast<BITMAPINFOHEADER*>(sectionInfo);
        uncompressed->biCompression = BI_RGB;
        uncompressed->biSizeImage = 0;
    }
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP section =
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(sectionInfo), DIB_RGB_COLORS, &bits, nullptr, 0);
    // As the loader does, the section is kept whatever part of the pixels
    // SetDIBits could set (an RLE stream may stop early).
    if (section)
        SetDIBits(screen, section, 0, header.height, pixels, reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS);
    std::free(padded);
    ReleaseDC(nullptr, screen);
    std::free(info);
    return fromHandle(section);
}

}  // namespace

BitmapHandle platformDecodeBitmap(std::span<const uint8_t> file) {
    // Only files whose headers hold together and whose pixels fit in them
    // reach GDI: a picture's memory must never be out of proportion to its
    // file, and nothing may be read past its end.
    ByteReader reader;
    BmpHeader header;
    if (!readSoundBmpHeaders(file, reader, header)) return nullptr;
    bool topDown = false;
    BitmapHandle stored = decodeTopDownBitmap(file, topDown);
    if (topDown) return stored;
    return decodeStoredBitmap(file, header);
}

// Plain heap blocks: the system's allocator already serves large requests
// straight from fresh pages.
void* platformAllocLarge(size_t size) { return std::malloc(size ? size : 1); }

void platformFreeLarge(void* block) { std::free(block); }

bool platformMapFile(const char* path, MappedFile& mapped) {
    mapped = MappedFile{};
    if (!path) return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    HANDLE mapping = nullptr;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
        static_cast<unsigned long long>(size.QuadPart) <= SIZE_MAX)
        mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);  // the mapping keeps the file open
    if (!mapping) return false;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        CloseHandle(mapping);
        return false;
    }
    mapped.bytes = static_cast<const uint8_t*>(view);
    mapped.size = static_cast<uint64_t>(size.QuadPart);
    mapped.handle = mapping;
    return true;
}

void platformUnmapFile(MappedFile& mapped) {
    if (mapped.bytes) UnmapViewOfFile(mapped.bytes);
    if (mapped.handle) CloseHandle(static_cast<HANDLE>(mapped.handle));
    mapped = MappedFile{};
}

bool platformFileExists(const char* path) {
    if (!path) return false;
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

namespace {

// The C library's name for a system error, for callers that report errno.
int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return EIO;
    }
}

}  // namespace

bool platformReplaceFile(const char* source, const char* target) {
    if (!source || !target) return false;
    if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING)) return true;
    errno = errnoOf(GetLastError());
    return false;
}

uint32_t platformTicks() { return GetTickCount(); }

void platformYield() { Sleep(0); }

size_t platformExecutablePath(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    const DWORD length = GetModuleFileNameA(nullptr, buffer, toDword(size));
    // A path that was cut short fills the whole buffer.
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

size_t platformCurrentDirectory(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    const DWORD length = GetCurrentDirectoryA(toDword(size), buffer);
    // A directory that does not fit gives the size it would need.
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

bool platformSetCurrentDirectory(const char* path) { return path && SetCurrentDirectoryA(path) != 0; }
