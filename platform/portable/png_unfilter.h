// Undoing PNG's five row filters (None, Sub, Up, Average, Paeth) in place,
// one pixel of up to 8 bytes at a time in vector registers where the
// processor has them (SSE2 on every x86-64; AVX2, where present, for the Up
// filter, whose bytes do not depend on each other).
#pragma once

#include <cstddef>
#include <cstdint>

// Unfilters `row` (n bytes, without its filter byte) with filter `type`,
// given the row above already unfiltered (`above`, all zeros for the top
// row) and `bpp` bytes a pixel (1, 2, 3, 4, 6 or 8). Up to
// unfilterReadsPast bytes after the end of `row` and of `above` may be read
// (never written). False for a filter type past 4.
inline constexpr size_t unfilterReadsPast = 8;
bool unfilterPngRow(uint8_t type, uint8_t* row, const uint8_t* above, size_t n, size_t bpp);
