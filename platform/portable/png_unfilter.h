// Undoing PNG's five row filters (None, Sub, Up, Average, Paeth) in place,
// one pixel of up to 8 bytes at a time in vector registers where the
// processor has them (SSE2 on every x86-64; AVX2, where present, for the Up
// filter, whose bytes do not depend on each other), and runs of rows
// filtered Paeth four or two at once.
#pragma once

#include <cstddef>
#include <cstdint>

// Unfilters `count` rows laid `stride` bytes apart at `rows`, each its
// filter type byte and then stride - 1 bytes, in place, given the row
// above the first already unfiltered (`above`, all zeros for the top row)
// and `bpp` bytes a pixel (1, 2, 3, 4, 6 or 8). Up to unfilterReadsPast
// bytes after the end of the last row and of `above` may be read (never
// written). False, with the rows before it unfiltered, at a filter type
// past 4.
inline constexpr size_t unfilterReadsPast = 8;
bool unfilterPngRows(uint8_t* rows, size_t stride, const uint8_t* above, size_t bpp, uint32_t count);
