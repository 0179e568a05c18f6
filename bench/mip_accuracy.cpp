// The mip chain against a double-precision reference of its rule: for each
// picture, every level of the bgra8 texture (the samples the block encoders
// start from) is compared with the reference made in doubles from the top
// level down (area-weighted averages over the exact footprints, normalised,
// never rounded), where the reference's averaged vector is not very short
// (length at least 0.5 before normalising). Also reported: each level's
// deviation from unit length, and the BC5 (X, Y) and BC1 (X, Y, Z) error of
// the compressed levels against those samples.
// Goals: every bgra8 level unit length within 8-bit rounding (sqrt(3)/127),
// every level within 3 levels of the reference.
// Usage: mip_accuracy PICTURE...
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "encode/block_decode.h"
#include "encode/mip_chain.h"
#include "encode/texture_encoder.h"
#include "readers/readers.h"

namespace {

struct Level {
    uint32_t width, height;
    std::vector<double> xyz;     // the reference, normalised
    std::vector<double> length;  // the averaged vector's length before normalising
};

// Weights of source pixels for destination pixel i, in doubles from the
// interval [i s / d, (i + 1) s / d).
std::vector<std::pair<uint32_t, double>> weights(uint32_t s, uint32_t d, uint32_t i) {
    std::vector<std::pair<uint32_t, double>> out;
    const double begin = static_cast<double>(i) * s / d, end = static_cast<double>(i + 1) * s / d;
    for (uint32_t j = static_cast<uint32_t>(begin); j < s && j < end; ++j) {
        const double overlap = std::min<double>(end, j + 1) - std::max<double>(begin, j);
        if (overlap > 1e-12) out.emplace_back(j, overlap / (end - begin));
    }
    return out;
}

Level halve(const Level& above) {
    Level below{std::max(1u, above.width / 2), std::max(1u, above.height / 2), {}, {}};
    below.xyz.resize(size_t{3} * below.width * below.height);
    below.length.resize(size_t{below.width} * below.height);
    for (uint32_t y = 0; y < below.height; ++y)
        for (uint32_t x = 0; x < below.width; ++x) {
            double sum[3] = {};
            for (const auto& [sy, wy] : weights(above.height, below.height, y))
                for (const auto& [sx, wx] : weights(above.width, below.width, x))
                    for (int k = 0; k < 3; ++k) sum[k] += wx * wy * above.xyz[3 * (size_t{sy} * above.width + sx) + k];
            const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
            const size_t at = size_t{y} * below.width + x;
            below.length[at] = length;
            for (int k = 0; k < 3; ++k) below.xyz[3 * at + k] = length > 0 ? sum[k] / length : 0.0;
        }
    return below;
}

std::vector<uint8_t> encoded(const Image& image, TextureFormat format) {
    const uint32_t w = static_cast<uint32_t>(image.width), h = static_cast<uint32_t>(image.height);
    std::vector<uint8_t> out(static_cast<size_t>(textureBytes(format, w, h, mipLevelCount(w, h, 0))));
    if (!encodeTexture(image, {format, 0, false}, out.data(), out.size())) out.clear();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("Usage: mip_accuracy PICTURE...\n", stderr);
        return 2;
    }
    double worstReference = 0, worstLength = 0;
    size_t beyondThree = 0, compared = 0;
    for (int n = 1; n < argc; ++n) {
        Image image{};
        if (!readImageFile(argv[n], &image)) {
            std::fprintf(stderr, "mip_accuracy: %s: cannot read it\n", argv[n]);
            return 1;
        }
        const uint32_t w = static_cast<uint32_t>(image.width), h = static_cast<uint32_t>(image.height);
        const std::vector<uint8_t> bgra = encoded(image, TextureFormat::bgra8), bc5 = encoded(image, TextureFormat::bc5),
                                   bc1 = encoded(image, TextureFormat::bc1);
        // The top level as the program decodes it, from the bgra8 texture.
        Level reference{w, h, std::vector<double>(size_t{3} * w * h), std::vector<double>(size_t{w} * h, 1.0)};
        for (size_t i = 0; i < size_t{w} * h; ++i)
            for (int k = 0; k < 3; ++k) reference.xyz[3 * i + k] = (bgra[4 * i + 2 - k] - 128) / 127.0;
        size_t pixelAt = 0, bc5At = 0, bc1At = 0;
        std::printf("%s\n", argv[n]);
        for (uint32_t level = 0; level < mipLevelCount(w, h, 0); ++level) {
            if (level > 0) reference = halve(reference);
            const uint32_t lw = reference.width, lh = reference.height;
            double levelWorst = 0, levelLength = 0, bc5Squares = 0, bc1Squares = 0;
            for (uint32_t y = 0; y < lh; ++y)
                for (uint32_t x = 0; x < lw; ++x) {
                    const size_t i = size_t{y} * lw + x;
                    const uint8_t* p = bgra.data() + pixelAt + 4 * i;
                    double v[3], squared = 0;
                    for (int k = 0; k < 3; ++k) {
                        v[k] = (p[2 - k] - 128) / 127.0;
                        squared += v[k] * v[k];
                    }
                    if (level > 0) levelLength = std::max(levelLength, std::fabs(std::sqrt(squared) - 1));
                    if (reference.length[i] < 0.5) continue;
                    for (int k = 0; k < 3; ++k)
                        levelWorst = std::max(levelWorst, std::fabs(p[2 - k] - (reference.xyz[3 * i + k] * 127 + 128)));
                }
            for (uint32_t by = 0; by < (lh + 3) / 4; ++by)
                for (uint32_t bx = 0; bx < (lw + 3) / 4; ++bx, bc5At += 16, bc1At += 8) {
                    uint8_t red[16], green[16], colours[16][4];
                    decodeBc4Channel(bc5.data() + bc5At, false, red, 4, 1);
                    decodeBc4Channel(bc5.data() + bc5At + 8, false, green, 4, 1);
                    decodeBc1(bc1.data() + bc1At, colours[0], 16, false, Widen565::repeatTopBits);
                    for (uint32_t k = 0; k < 16; ++k) {
                        const uint32_t x = 4 * bx + k % 4, y = 4 * by + k / 4;
                        if (x >= lw || y >= lh) continue;
                        const uint8_t* p = bgra.data() + pixelAt + 4 * (size_t{y} * lw + x);
                        bc5Squares += (red[k] - p[2]) * (red[k] - p[2]) + (green[k] - p[1]) * (green[k] - p[1]);
                        for (int c = 0; c < 3; ++c) bc1Squares += (colours[k][c] - p[2 - c]) * (colours[k][c] - p[2 - c]);
                    }
                }
            for (size_t i = 0; i < size_t{lw} * lh; ++i) {
                if (reference.length[i] < 0.5) continue;
                ++compared;
                const uint8_t* p = bgra.data() + pixelAt + 4 * i;
                for (int k = 0; k < 3; ++k)
                    if (std::fabs(p[2 - k] - (reference.xyz[3 * i + k] * 127 + 128)) > 3) {
                        ++beyondThree;
                        break;
                    }
            }
            const double pixels = static_cast<double>(lw) * lh;
            std::printf("  level %2u %5ux%-5u samples vs reference: max %.3f levels; |v| - 1: max %.4f; BC5 X/Y RMS %.3f; BC1 RMS %.3f\n",
                        level, lw, lh, levelWorst, levelLength, std::sqrt(bc5Squares / (2 * pixels)),
                        std::sqrt(bc1Squares / (3 * pixels)));
            worstReference = std::max(worstReference, levelWorst);
            worstLength = std::max(worstLength, levelLength);
            pixelAt += size_t{4} * lw * lh;
        }
        resetImage(&image);
    }
    const bool met = worstReference <= 3.0 && worstLength <= std::sqrt(3.0) / 127;
    std::printf("all levels: samples within %.3f levels of the reference (%zu of %zu pixels beyond 3), |v| - 1 at most %.4f "
                "(8-bit rounding allows %.4f); goals: %s\n",
                worstReference, beyondThree, compared, worstLength, std::sqrt(3.0) / 127, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
