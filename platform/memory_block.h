// A block of memory from malloc, freed on every way out of the scope that
// holds it. A failed allocation leaves `bytes` null, which the holder treats
// as a normal failure; a block of size 0 is still one byte, so that null
// always means the allocation failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

struct MemoryBlock {
    uint8_t* bytes = nullptr;

    explicit MemoryBlock(size_t size) : bytes(static_cast<uint8_t*>(std::malloc(size ? size : 1))) {}
    MemoryBlock(const MemoryBlock&) = delete;
    MemoryBlock& operator=(const MemoryBlock&) = delete;
    ~MemoryBlock() { std::free(bytes); }
};
