#include "image/byte_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

void resetReader(ByteReader* reader) {
    if (!reader) return;
    platformFreeLarge(reader->bytes);
    *reader = ByteReader{};
}

namespace {

FILE* openWithRetry(const char* path, bool retryOpen) {
    FILE* file = std::fopen(path, "rb");
    if (file || !retryOpen) return file;
    const uint32_t start = platformTicks();
    for (;;) {
        platformYield();
        file = std::fopen(path, "rb");
        if (file) return file;
        if (static_cast<uint32_t>(platformTicks() - start) > 2000) return nullptr;
    }
}

// Size of an open file; false when it cannot be told or is 4 GiB or more.
bool fileSize(FILE* file, uint32_t& size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const long long end = static_cast<long long>(ftello(file));
#endif
    if (end < 0 || end > 0xFFFFFFFFLL) return false;
    size = static_cast<uint32_t>(end);
    return std::fseek(file, 0, SEEK_SET) == 0;
}

// The bound rule of every read: n bytes wholly inside the buffer.
bool fits(const ByteReader* reader, uint32_t count) {
    return reader->bytes && reader->cursor <= reader->length && count <= reader->length - reader->cursor;
}

}  // namespace

bool loadWholeFile(ByteReader* reader, const char* path, bool retryOpen) {
    if (!reader || !path) return false;
    FILE* file = openWithRetry(path, retryOpen);
    if (!file) return false;
    resetReader(reader);
    uint32_t size = 0;
    if (!fileSize(file, size)) {
        std::fclose(file);
        return false;
    }
    // One byte more than asked for, so that an empty file still has a buffer.
    reader->bytes = static_cast<uint8_t*>(platformAllocLarge(size_t{size} + 1));
    if (!reader->bytes) {
        std::fclose(file);
        return false;
    }
    reader->length = size;
    if (std::fread(reader->bytes, 1, size, file) != size) {
        resetReader(reader);
        std::fclose(file);
        return false;
    }
    std::fclose(file);
    return true;
}

bool readU8(ByteReader* reader, uint8_t& value) {
    if (!fits(reader, 1)) return false;
    value = reader->bytes[reader->cursor++];
    return true;
}

bool readU16(ByteReader* reader, uint16_t& value) {
    if (!fits(reader, 2)) return false;
    const uint8_t* p = reader->bytes + reader->cursor;
    value = static_cast<uint16_t>(p[0] | (p[1] << 8));
    reader->cursor += 2;
    return true;
}

bool readU32(ByteReader* reader, uint32_t& value) {
    if (!fits(reader, 4)) return false;
    const uint8_t* p = reader->bytes + reader->cursor;
    value = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    reader->cursor += 4;
    return true;
}

bool readBlock(ByteReader* reader, uint32_t count, void* destination) {
    if (!destination || !fits(reader, count)) return false;
    if (count) std::memcpy(destination, reader->bytes + reader->cursor, count);
    reader->cursor += count;
    return true;
}

bool readSpan(ByteReader* reader, uint32_t count, std::span<const uint8_t>& view) {
    if (!fits(reader, count)) return false;
    view = std::span<const uint8_t>(reader->bytes + reader->cursor, count);
    reader->cursor += count;
    return true;
}

void setCursor(ByteReader* reader, uint32_t offset) { reader->cursor = offset; }

void skipBytes(ByteReader* reader, uint32_t count) {
    const uint32_t room = 0xFFFFFFFFu - reader->cursor;
    reader->cursor += count < room ? count : room;
}
