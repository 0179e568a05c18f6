// Whole-buffer compression for texture containers: zstd (libzstd, where the
// system has it: not on Windows) and zlib (zlib's format, RFC 1950, over
// deflate; every build). Packing hands back a new buffer; unpacking takes a
// stated length and holds the data to it, so that a stream that inflates
// past that length, or ends before it, fails without writing or allocating
// more than it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

enum class Packing : uint8_t { zstd, zlib };

// Whether this build packs and unpacks `packing` (zlib always; zstd where
// the system has libzstd).
bool platformHasPacking(Packing packing);

// The levels each packing takes: zstd 1 to 22, zlib 1 to 9.
int maxPackingLevel(Packing packing);

// Packs `data` at `level` into `packed` (replaced). False when the build has
// no such packing, the level is out of range, or there is no memory.
bool platformPack(Packing packing, std::span<const uint8_t> data, int level, std::vector<uint8_t>& packed);

// Unpacks `packed`, which must make exactly `unpackedLength` bytes (zstd: one
// or more whole frames; zlib: one stream). The first `keep.size()` bytes
// (at most unpackedLength) are written to `keep`; the rest is made and
// dropped a piece at a time, so the time is that of unpackedLength bytes and
// the memory a small fixed buffer. False on damaged data, data that makes
// more or fewer bytes than stated, or a packing the build does not have.
bool platformUnpack(Packing packing, std::span<const uint8_t> packed, uint64_t unpackedLength,
                    std::span<uint8_t> keep);
