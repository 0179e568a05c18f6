// Block encoders of the DirectX block-compressed formats (the BC1-BC5
// definitions): each takes the 16 samples of one 4 x 4 block, pixel (x, y)
// of the block at index 4y + x, on the scale 0..255. Samples may carry
// fractions: a 16-bit picture hands its samples over as v x 255 / 65535, so
// the fit sees its full precision.
//
// The error each encoder minimises is the squared difference between the
// samples and the block as the common decoders decode it, which is
// encode/block_decode.h's decoding with measuredWidening below (the tests
// and benchmarks read back the same way): BC4 palette entries are the
// integer quotients (6 e0 + e1) / 7 and so on, rounded down; BC1 endpoints
// are widened by repeating their top bits and the two middle colours are
// (2 c0 + c1) / 3 and (c0 + 2 c1) / 3, rounded down.
#pragma once

#include <cstdint>

#include "encode/block_decode.h"

// How the encoders widen a BC1 endpoint when they measure a block: as
// graphics hardware shows it, not as the DDS reader does (see Widen565).
inline constexpr Widen565 measuredWidening = Widen565::repeatTopBits;

// One channel as a BC4 UNORM block (8 bytes). The eight-value mode (e0 >
// e1: e0, e1 and six steps between) is fitted from the samples' range, then
// refined by up to four rounds of least squares on the chosen indices
// (rounded to the nearest integer pair) while they help; a block left with
// more than two levels of error a sample also tries the neighbouring
// endpoint pairs. Where more than 1.5 levels a sample remain, the six-value
// mode (e0 <= e1: four steps between, and 0 and 255) is fitted the same way
// from the samples nearer the median than 0 and 255 are, and the better
// block is kept. A block of one integer value is exact.
void encodeBc4Block(const float (&values)[16], uint8_t* out);

// The colours of a block, one array a channel.
struct ColourBlock {
    float red[16];
    float green[16];
    float blue[16];
};

// A BC1 colour block (8 bytes) in four-colour mode (c0 > c1, or c0 == c1
// with every index 0), which is also the colour half of a BC3 block. The
// fit: the colours' extremes along their principal axis as endpoints, two
// rounds of least squares on the indices the colours take among the four
// colours of that line, rounding to 5:6:5, and then a walk over
// neighbouring 5:6:5 endpoints (one component one step) that keeps every
// step lowering the error of the block as decoded. A block of one colour
// takes the best endpoint pair for that colour from a table.
void encodeColourBlock(const ColourBlock& block, uint8_t* out);

// The alpha half of a BC3 block that decodes to 255 everywhere.
void opaqueAlphaBlock(uint8_t* out);

// The squared error of an encoded block against its samples, as the encoder
// measures it (decoded with measuredWidening, the samples' fractions kept).
float bc4BlockError(const float (&values)[16], const uint8_t* block);
float colourBlockError(const ColourBlock& colours, const uint8_t* block);
