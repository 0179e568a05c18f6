// The platform seam in plain C++ and POSIX, for every system but Windows.
#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/basics.h"
#include "platform/platform.h"
#include "platform/portable/bmp_decoder.h"
#include "platform/portable/portable_bitmap.h"

namespace {

constexpr size_t hugePage = size_t{2} << 20;

// Large blocks given back, kept for reuse by the thread that gave them back:
// a file's bytes, a picture's pixels and its display bitmap are the three a
// thread needs again for the next picture. Each thread has its own, so workers never
// share a block or a lock, and a thread's blocks go when it ends.
struct SpareBlocks {
    struct Block {
        void* block = nullptr;
        size_t capacity = 0;
    };
    Block kept[3];
    ~SpareBlocks() {
        for (Block& b : kept) std::free(b.block);
    }
};
thread_local SpareBlocks spares;

// Whether the kernel's free lists hold at least `bytes` in free blocks of
// a huge page or more (/proc/buddyinfo: per zone, the free blocks of each
// order, 2^order pages each), so that huge pages come without compaction.
// False where there is no such file.
bool hugePagesFree(size_t bytes) {
    const long page = sysconf(_SC_PAGESIZE);
    if (page <= 0) return false;
    const int hugeOrder = std::countr_zero(hugePage / static_cast<size_t>(page));
    FILE* f = std::fopen("/proc/buddyinfo", "r");
    if (!f) return false;
    size_t freeBytes = 0;
    char line[512];
    while (freeBytes < bytes && std::fgets(line, sizeof line, f)) {
        // "Node 0, zone   Normal   n0 n1 ... n10"
        const char* p = std::strstr(line, "zone");
        if (!p) continue;
        p += 4;
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;  // the zone's name
        char* end = nullptr;
        for (int order = 0;; ++order, p = end) {
            const unsigned long long blocks = std::strtoull(p, &end, 10);
            if (end == p) break;
            if (order >= hugeOrder && order < 40) freeBytes += static_cast<size_t>(blocks) * static_cast<size_t>(page) << order;
        }
    }
    std::fclose(f);
    return freeBytes >= bytes;
}

}  // namespace

void* platformAllocLarge(size_t size) {
    if (size < hugePage) return std::malloc(size ? size : 1);
    // A spare block serves a request of at least half its size, so that a
    // small picture never pins a much larger block.
    for (SpareBlocks::Block& spare : spares.kept) {
        if (spare.block && spare.capacity >= size && spare.capacity / 2 <= size) {
            void* block = spare.block;
            spare = {};
            return block;
        }
    }
    const size_t rounded = (size + hugePage - 1) & ~(hugePage - 1);
    void* block = std::aligned_alloc(hugePage, rounded);
    if (!block) return nullptr;
#ifdef MADV_HUGEPAGE
    // Huge pages when the kernel has them free, never when it would have to
    // compact memory for them (the first touch then waited for that, which
    // on a machine up for hours made the PNG road 1.6 times slower). Where
    // the pages come free they save a fault a 4 KiB page: under a
    // hypervisor that shadows page tables, about 140 ms a 100 MB picture.
    if (hugePagesFree(2 * rounded)) madvise(block, rounded, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    // Its pages made at once, in one call, rather than one fault at a time
    // as they are first written (a fault a 4 KiB page: about 12,000 for a
    // 4096 x 4096 picture). A kernel without it (before Linux 5.14) says
    // EINVAL and the pages come as they are touched, as before.
    madvise(block, rounded, MADV_POPULATE_WRITE);
#endif
    return block;
}

void platformFreeLarge(void* block) {
    if (!block) return;
    const size_t capacity = malloc_usable_size(block);
    if (capacity < hugePage) {
        std::free(block);
        return;
    }
    // An empty place, else the place of the smaller block, which is the
    // less likely to serve again.
    SpareBlocks::Block* place = &spares.kept[0];
    for (SpareBlocks::Block& spare : spares.kept)
        if (!spare.block || (place->block && spare.capacity < place->capacity)) place = &spare;
    std::free(place->block);
    *place = {block, capacity};
}

BitmapHandle platformCreateBitmap(int32_t width, int32_t height, bool clearToBlack) {
    if (!imageSizeAllowed(width, height)) return nullptr;
    const size_t stride = displayStride(static_cast<uint32_t>(width));
    const size_t rowPixels = size_t{3} * static_cast<uint32_t>(width);
    const size_t size = stride * static_cast<uint32_t>(height);
    auto* bits = static_cast<uint8_t*>(platformAllocLarge(size));
    if (!bits) return nullptr;
    if (clearToBlack) {
        std::memset(bits, 0, size);
    } else if (stride != rowPixels) {
        // The row padding is never written by anyone: it starts zero, as a
        // BMP file's padding must be. The pixels are left to the caller.
        for (size_t row = 0; row < static_cast<uint32_t>(height); ++row)
            std::memset(bits + row * stride + rowPixels, 0, stride - rowPixels);
    }
    auto* bitmap = new (std::nothrow) PlatformBitmap{width, height, bits};
    if (!bitmap) platformFreeLarge(bits);
    return bitmap;
}

bool platformQueryBitmap(BitmapHandle bitmap, BitmapInfo& info) {
    if (!bitmap) return false;
    info.width = bitmap->width;
    info.height = bitmap->height;
    info.bitsPerPixel = 24;
    info.bits = bitmap->bits;
    return true;
}

void platformDeleteBitmap(BitmapHandle bitmap) {
    if (!bitmap) return;
    platformFreeLarge(bitmap->bits);
    delete bitmap;
}

void platformStretchCopy(BitmapHandle source, BitmapHandle destination) {
    if (!source || !destination) return;
    const uint32_t sw = static_cast<uint32_t>(source->width), sh = static_cast<uint32_t>(source->height);
    const uint32_t dw = static_cast<uint32_t>(destination->width), dh = static_cast<uint32_t>(destination->height);
    if (sw == 0 || sh == 0 || dw == 0 || dh == 0) return;
    const size_t sStride = displayStride(sw), dStride = displayStride(dw);
    // Nearest pixel by the centre of each destination pixel, counted from the
    // top-left corner as a screen copy counts it. A centre that falls exactly
    // on the border between two source pixels takes the upper or left one, as
    // GDI's StretchBlt does: source index ((2x + 1) * s - 1) / (2 * d).
    for (uint32_t y = 0; y < dh; ++y) {
        const uint64_t sy = ((uint64_t{2} * y + 1) * sh - 1) / (uint64_t{2} * dh);
        const uint8_t* sRow = source->bits + (sh - 1 - sy) * sStride;
        uint8_t* dRow = destination->bits + size_t{dh - 1 - y} * dStride;
        if (sw == dw) {
            std::memcpy(dRow, sRow, size_t{3} * dw);
            continue;
        }
        for (uint32_t x = 0; x < dw; ++x) {
            const uint64_t sx = ((uint64_t{2} * x + 1) * sw - 1) / (uint64_t{2} * dw);
            std::memcpy(dRow + size_t{3} * x, sRow + 3 * sx, 3);
        }
    }
}

bool platformReadRowsTopDown(BitmapHandle bitmap, uint8_t* grid, uint32_t width, uint32_t height, size_t stride) {
    if (!bitmap || !grid || static_cast<uint32_t>(bitmap->width) != width ||
        static_cast<uint32_t>(bitmap->height) != height || stride < size_t{3} * width)
        return false;
    const size_t bStride = displayStride(width);
    for (uint32_t r = 0; r < height; ++r)
        std::memcpy(grid + r * stride, bitmap->bits + size_t{height - 1 - r} * bStride, size_t{3} * width);
    return true;
}

bool platformWriteRowsTopDown(BitmapHandle bitmap, const uint8_t* grid, uint32_t width, uint32_t height,
                              size_t stride) {
    if (!bitmap || !grid || static_cast<uint32_t>(bitmap->width) != width ||
        static_cast<uint32_t>(bitmap->height) != height || stride < size_t{3} * width)
        return false;
    const size_t bStride = displayStride(width);
    for (uint32_t r = 0; r < height; ++r)
        std::memcpy(bitmap->bits + size_t{height - 1 - r} * bStride, grid + r * stride, size_t{3} * width);
    return true;
}

BitmapHandle platformDecodeBitmap(std::span<const uint8_t> file) { return decodeBmpFile(file); }

bool platformMapFile(const char* path, MappedFile& mapped) {
    mapped = MappedFile{};
    if (!path) return false;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    void* bytes = MAP_FAILED;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        static_cast<uint64_t>(status.st_size) <= SIZE_MAX)
        // The pages are mapped at once from the file cache (MAP_POPULATE), a
        // few kernel calls in place of a fault every 64 KiB.
        bytes = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    close(fd);
    if (bytes == MAP_FAILED) return false;
    mapped.bytes = static_cast<const uint8_t*>(bytes);
    mapped.size = static_cast<uint64_t>(status.st_size);
    return true;
}

void platformUnmapFile(MappedFile& mapped) {
    if (mapped.bytes) munmap(const_cast<uint8_t*>(mapped.bytes), static_cast<size_t>(mapped.size));
    mapped = MappedFile{};
}

bool platformFileExists(const char* path) {
    if (!path) return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

bool platformReplaceFile(const char* source, const char* target) {
    return source && target && std::rename(source, target) == 0;
}

uint32_t platformTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void platformYield() { sched_yield(); }

size_t platformExecutablePath(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    const ssize_t n = ::readlink("/proc/self/exe", buffer, size);
    if (n <= 0 || static_cast<size_t>(n) >= size) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return static_cast<size_t>(n);
}

size_t platformCurrentDirectory(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    if (!::getcwd(buffer, size)) {
        buffer[0] = '\0';
        return 0;
    }
    return std::strlen(buffer);
}

bool platformSetCurrentDirectory(const char* path) { return path && ::chdir(path) == 0; }
