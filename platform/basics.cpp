#include "platform/basics.h"

#include <algorithm>
#include <cstring>

bool imageSizeAllowed(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return false;
    if (width > static_cast<int64_t>(maxImagePixels) || height > static_cast<int64_t>(maxImagePixels)) return false;
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= maxImagePixels;
}

// ---------------------------------------------------------------------------
// Bounded reads.

namespace {

// Where an empty file's reader points, so that it is told from a reader over
// nothing at all.
constexpr uint8_t noBytes[1] = {0};

// The bound rule of every read: n bytes wholly inside the buffer.
bool fits(const ByteReader* reader, uint32_t count) {
    return reader->bytes && reader->cursor <= reader->length && count <= reader->length - reader->cursor;
}

}  // namespace

ByteReader readerOver(std::span<const uint8_t> file) {
    if (file.empty()) return ByteReader{noBytes, 0, 0};
    const size_t length = file.size() < maxFileBytes ? file.size() : size_t{maxFileBytes};
    return ByteReader{file.data(), 0, static_cast<uint32_t>(length)};
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

void skipBytes(ByteReader* reader, uint32_t count) {
    const uint32_t room = 0xFFFFFFFFu - reader->cursor;
    reader->cursor += count < room ? count : room;
}

// ---------------------------------------------------------------------------
// Row copies. These loops carry most of the bytes of every load and display;
// written with constant strides over unaliased buffers they become vector
// shuffles.

namespace {

template <size_t step, bool swap>
QUORVEL_VECTOR_CLONES void copyRun(const uint8_t* __restrict source, uint8_t* __restrict destination, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        destination[3 * i] = source[step * i + (swap ? 2 : 0)];
        destination[3 * i + 1] = source[step * i + 1];
        destination[3 * i + 2] = source[step * i + (swap ? 0 : 2)];
    }
}

// The same with pixels of `step` bytes kept whole.
template <size_t step>
QUORVEL_VECTOR_CLONES void swapRun(const uint8_t* __restrict source, uint8_t* __restrict destination, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        destination[step * i] = source[step * i + 2];
        destination[step * i + 1] = source[step * i + 1];
        destination[step * i + 2] = source[step * i];
        if constexpr (step == 4) destination[step * i + 3] = source[step * i + 3];
    }
}

QUORVEL_VECTOR_CLONES void swapWordRun(const uint8_t* __restrict source, uint8_t* __restrict destination, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        destination[2 * i] = source[2 * i + 1];
        destination[2 * i + 1] = source[2 * i];
    }
}

}  // namespace

void copyWordsSwapped(const uint8_t* source, uint8_t* destination, size_t count) { swapWordRun(source, destination, count); }

void copyPixelsSwappedKeepingStep(const uint8_t* source, size_t step, uint8_t* destination, size_t count) {
    if (step == 4)
        swapRun<4>(source, destination, count);
    else
        swapRun<3>(source, destination, count);
}

void copyPixelsSwapped(const uint8_t* source, size_t sourceStep, uint8_t* destination, size_t count) {
    if (sourceStep == 4)
        copyRun<4, true>(source, destination, count);
    else
        copyRun<3, true>(source, destination, count);
}

void copyPixelsInOrder(const uint8_t* source, size_t sourceStep, uint8_t* destination, size_t count) {
    if (sourceStep == 4)
        copyRun<4, false>(source, destination, count);
    else if (count)
        std::memcpy(destination, source, 3 * count);
}

uint32_t packedSample(const uint8_t* row, size_t index, uint32_t bits) {
    size_t bit = index * bits;
    uint32_t value = 0;
    for (uint32_t left = bits; left > 0;) {
        const auto offset = static_cast<uint32_t>(bit % 8);
        const uint32_t take = std::min(left, 8 - offset);
        const uint32_t byte = row[bit / 8];
        value = (value << take) | ((byte >> (8 - offset - take)) & ((1u << take) - 1));
        bit += take;
        left -= take;
    }
    return value;
}

void putPackedSample(uint8_t* row, size_t index, uint32_t bits, uint32_t value) {
    size_t bit = index * bits;
    for (uint32_t left = bits; left > 0;) {
        const auto offset = static_cast<uint32_t>(bit % 8);
        const uint32_t put = std::min(left, 8 - offset);
        const uint32_t part = (value >> (left - put)) & ((1u << put) - 1);
        row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (part << (8 - offset - put)));
        bit += put;
        left -= put;
    }
}
