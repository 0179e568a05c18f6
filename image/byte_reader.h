// A whole file held in memory, read through bounded little-endian reads that
// fail without moving the cursor.
#pragma once

#include <cstdint>
#include <span>

struct ByteReader {
    uint8_t* bytes;   // owned (malloc), or null
    uint32_t cursor;  // may lie past `length`; reads then fail
    uint32_t length;
};

void resetReader(ByteReader* reader);

// Reads the whole file into `reader` with one allocation and one read. With
// `retryOpen` a failed open is retried for up to 2000 ms, yielding between
// attempts. Files of 4 GiB or more are refused.
bool loadWholeFile(ByteReader* reader, const char* path, bool retryOpen);

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

void setCursor(ByteReader* reader, uint32_t offset);
// Moves the cursor on by `count`; it stops at the top of the range instead of
// wrapping round to an offset inside the file.
void skipBytes(ByteReader* reader, uint32_t count);
