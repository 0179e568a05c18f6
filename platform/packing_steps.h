// What the zlib and zstd back ends of platform/supercompression.h share:
// the place unpacked bytes go (kept, or made and dropped), and the zstd
// calls each system provides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Where unpacked bytes go: the first into the kept span, the rest into a
// small scratch buffer, never more than the stated length.
class UnpackTarget {
public:
    UnpackTarget(uint64_t length, std::span<uint8_t> keep);
    // Where the next bytes go: never empty (past the stated length, one
    // byte, so that a stream that goes on is seen).
    std::span<uint8_t> room();
    // Counts `count` bytes made into room(); false when they run past the
    // stated length.
    bool took(size_t count);
    // Whether exactly the stated length was made.
    bool whole() const { return made_ == length_; }

private:
    uint64_t length_ = 0, made_ = 0;
    std::span<uint8_t> keep_;
    uint8_t scratch_[1 << 16] = {};
};

bool platformHasZstd();
bool platformZstdPack(std::span<const uint8_t> data, int level, std::vector<uint8_t>& packed);
bool platformZstdUnpack(std::span<const uint8_t> packed, uint64_t unpackedLength, std::span<uint8_t> keep);
