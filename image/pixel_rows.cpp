#include "image/pixel_rows.h"

#include <cstring>

#include "image/vector_clones.h"

// These loops carry most of the bytes of every load and display; written with
// constant strides over unaliased buffers they become vector shuffles.
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

}  // namespace

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
