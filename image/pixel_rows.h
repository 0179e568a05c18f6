// Row conversions between pixel buffers and display bitmaps: runs of pixels
// of 3 or 4 bytes copied to 3-byte pixels, keeping or swapping the order of
// their first and third bytes (red-green-blue against blue-green-red).
#pragma once

#include <cstddef>
#include <cstdint>

// The buffers must not overlap.
void copyPixelsSwapped(const uint8_t* source, size_t sourceStep, uint8_t* destination, size_t count);
void copyPixelsInOrder(const uint8_t* source, size_t sourceStep, uint8_t* destination, size_t count);
// Copies `count` pixels of `step` (3 or 4) bytes, swapping the first and
// third byte of each and keeping the fourth (alpha).
void copyPixelsSwappedKeepingStep(const uint8_t* source, size_t step, uint8_t* destination, size_t count);
