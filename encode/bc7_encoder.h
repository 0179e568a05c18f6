// A BC7 block encoder (the BPTC definition in the Khronos Data Format
// Specification), for normal maps with or without a height in alpha. It
// takes the 16 samples of one 4 x 4 block, pixel (x, y) of the block at
// index 4y + x, on the scale 0..255, fractions kept (a 16-bit picture hands
// its samples over as v x 255 / 65535), and gives 16 bytes.
//
// A block whose alphas are all 255 is opaque and decodes to alpha 255
// exactly: it is tried as mode 6 (one line of 16 colours; both p-bits 1 so
// that alpha widens to 255) and as the two-subset modes 1 (3-bit indices)
// and 3 (7-bit endpoints). A block with alpha tries mode 6 with alpha on the
// line, mode 5 (alpha with its own indices and 8-bit endpoints) and mode 7
// (two subsets of RGBA). The two-subset modes rank all 64 partitions by how
// far each subset lies from its principal axis and fit the best few in
// full. Every fit takes the endpoints from the principal axis, tries the
// p-bits, chooses each texel's index against the block as it decodes, and
// then refines the endpoints by least squares on the chosen indices while
// that lowers the error. The candidates are compared as decodeBc7 decodes
// them, with bc7BlockError.
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
    normal,  // the modes above, the best 4 partitions of each two-subset mode, 3 rounds of refinement
    fast,    // mode 6, and only the best partition of mode 1 (opaque) or mode 5 (alpha); 1 round
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
