// The pixels a writer takes from an Image, at the depth and with the
// channels the output asks for: the Image's own memory where it already has
// that form, otherwise a converted copy.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "platform/codecs.h"

class EncoderRows {
public:
    EncoderRows() = default;
    EncoderRows(const EncoderRows&) = delete;
    EncoderRows& operator=(const EncoderRows&) = delete;
    ~EncoderRows();

    // Describes `image` as rows of `sampleBits` (8 or 16) samples, with its
    // alpha when `alpha` and the Image has one. 16-bit samples become 8 bits
    // by reduceSample, 8-bit ones 16 bits by widenSample. False when the
    // Image holds no known layout or memory runs out.
    bool prepare(const Image& image, uint32_t sampleBits, bool alpha);
    const PixelRows& rows() const { return rows_; }

private:
    PixelRows rows_{};
    uint8_t* copy_ = nullptr;  // platformAllocLarge, when converted
};
