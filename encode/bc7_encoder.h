// A BC7 block encoder (the BPTC block layout as Khronos's data format
// document defines it), for normal maps with or without a height in alpha. It
// takes the 16 samples of one 4 x 4 block, pixel (x, y) of the block at
// index 4y + x, on the scale 0..255, fractions kept (a 16-bit picture hands
// its samples over as v x 255 / 65535), and gives 16 bytes.
//
// A block whose alphas are all 255 is opaque and decodes to alpha 255
// exactly. Every block is first fitted as mode 6 (one line of 16 colours;
// an opaque block's p-bits both 1 so that alpha widens to 255); a block
// that comes back within a quarter of a level a texel stops there. The
// other modes are estimated from the block's spread about principal axes,
// without fitting: the scatter off each line, the scatter along it rounded
// to its indices and its endpoints' rounding. Those are modes 5 and 4 with
// X or Y (and, with alpha, alpha) on its own indices, mode 4 with either
// index selector, and the two best partitions of each two-subset mode (1
// and 3 for opaque blocks, 7 with alpha). The best of mode 5 and the best
// few estimates are fitted in full. Every fit takes the endpoints from the
// principal axis, chooses the p-bits, chooses each texel's index against
// the block as it decodes, and then refines the endpoints by least squares
// on the chosen indices while that lowers the error. Every error is that of
// the block as decodeBc7 decodes it (bc7BlockError): the palettes are made
// with the decoder's own arithmetic (bc7_layout.h).
#pragma once

#include <cstdint>

// The samples of a block, one array a channel.
struct RgbaBlock {
    float red[16];
    float green[16];
    float blue[16];
    float alpha[16];
};

enum class Bc7Quality : int32_t {
    // The modes above; the best 4 estimates fitted; every p-bit choice of
    // mode 6 in full; 2 rounds of refinement.
    normal,
    // Mode 6 and the best estimate of mode 5 only; the p-bits that move the
    // endpoints least; 1 round; blocks within a level a texel after mode 6
    // stop there.
    fast,
};

// The weight of each channel's squared error. X (red) and Y (green) count
// alike, as the BC5 encoder counts them. Z (blue) counts a quarter: the
// direction of a unit normal tilted by t from the surface's normal moves by
// dz x sin t for a change dz of Z, against dx for X, and the tilts of
// tangent-space maps are mostly below 30 degrees (sin^2 30 = 1/4). Alpha,
// a height, counts as X and Y do: a level of height is as visible in a
// parallax or displacement shader as a level of slope is in lighting.
inline constexpr float bc7ChannelWeights[4] = {1.0f, 1.0f, 0.25f, 1.0f};

// One block into `out` (16 bytes).
void encodeBc7Block(const RgbaBlock& block, Bc7Quality quality, uint8_t* out);

// The weighted squared error (bc7ChannelWeights) of an encoded block, as
// decodeBc7 decodes it, against its samples.
float bc7BlockError(const RgbaBlock& block, const uint8_t* encoded);
