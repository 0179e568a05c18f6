// The BC1 colour block encoder (also the colour half of BC3): endpoints
// from the colours' principal axis, or from a table for a block of one
// colour, then walked over neighbouring 5:6:5 values while the error of the
// block as decoded falls (see encode/block_encoders.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "encode/block_decode.h"
#include "encode/block_encoders.h"
#include "encode/block_lanes.h"

namespace {

using namespace block_lanes;

uint16_t pack565(int r, int g, int b) { return static_cast<uint16_t>((r << 11) | (g << 5) | b); }

// A 5:6:5 component (channel 1 is green's 6 bits) widened as the encoders
// measure it.
QUORVEL_INLINE int widened(int v, int bits) {
    const auto u = static_cast<uint32_t>(v);
    return static_cast<int>(bits == 6 ? widen6(u, measuredWidening) : widen5(u, measuredWidening));
}

// The four colours of endpoints c0, c1 in four-colour mode, each channel
// widened as the encoders measure it.
QUORVEL_INLINE void colourPalette(const int (&first)[3], const int (&second)[3], float (&palette)[4][3]) {
    constexpr int bits[3] = {5, 6, 5};
    for (int k = 0; k < 3; ++k) {
        const int a = widened(first[k], bits[k]);
        const int b = widened(second[k], bits[k]);
        palette[0][k] = static_cast<float>(a);
        palette[1][k] = static_cast<float>(b);
        palette[2][k] = static_cast<float>((2 * a + b) / 3);
        palette[3][k] = static_cast<float>((a + 2 * b) / 3);
    }
}

template <int width>
struct ColourSamples {
    Sixteen<width> channel[3];
};

template <int width>
struct ColourFit {
    int end[2][3] = {};  // 5:6:5 components of c0 and c1
    float error = INFINITY;
    SixteenInts<width> index = {};
};

// Tries endpoints `first` and `second` (5:6:5 components): each pixel takes
// its nearest colour, and the pair is kept in `best` when its squared error
// is lower. True when it was.
template <int width>
QUORVEL_INLINE bool tryColours(const ColourSamples<width>& block, const int (&first)[3], const int (&second)[3],
                               ColourFit<width>& best) {
    using Ints = typename Lanes<width>::Ints;
    constexpr int top[3] = {31, 63, 31};
    for (int k = 0; k < 3; ++k)
        if (first[k] < 0 || first[k] > top[k] || second[k] < 0 || second[k] > top[k]) return false;
    float palette[4][3];
    colourPalette(first, second, palette);
    Sixteen<width> error;
    SixteenInts<width> chosen;
    for (int p = 0; p < Lanes<width>::parts; ++p) {
        const auto r = block.channel[0].part[p], g = block.channel[1].part[p], b = block.channel[2].part[p];
        auto dr = r - palette[0][0], dg = g - palette[0][1], db = b - palette[0][2];
        auto least = dr * dr + dg * dg + db * db;
        Ints index = {};
        for (int32_t k = 1; k < 4; ++k) {
            dr = r - palette[k][0];
            dg = g - palette[k][1];
            db = b - palette[k][2];
            keepCloser(least, index, dr * dr + dg * dg + db * db, k);
        }
        error.part[p] = least;
        chosen.part[p] = index;
    }
    const float sum = total(error);
    if (!(sum < best.error)) return false;
    std::memcpy(best.end[0], first, sizeof first);
    std::memcpy(best.end[1], second, sizeof second);
    best.error = sum;
    best.index = chosen;
    return true;
}

// Steps one 5:6:5 component of one endpoint up or down while a step lowers
// the error.
template <int width>
QUORVEL_INLINE void walkColours(const ColourSamples<width>& block, ColourFit<width>& best) {
    for (int step = 0; step < 16 && best.error > 0.0f; ++step) {
        int start[2][3];
        std::memcpy(start, best.end, sizeof start);
        const float before = best.error;
        for (int end = 0; end < 2; ++end)
            for (int k = 0; k < 3; ++k)
                for (int delta : {1, -1}) {
                    int moved[2][3];
                    std::memcpy(moved, start, sizeof moved);
                    moved[end][k] += delta;
                    tryColours(block, moved[0], moved[1], best);
                }
        if (best.error == before) break;
    }
}

// A colour on the scale 0..255 rounded to 5:6:5 components.
void quantise565(const float (&colour)[3], int (&out)[3]) {
    constexpr float top[3] = {31.0f, 63.0f, 31.0f};
    for (int k = 0; k < 3; ++k)
        out[k] = static_cast<int>(std::lround(std::clamp(colour[k], 0.0f, 255.0f) * top[k] / 255.0f));
}

// The best way to show one 8-bit value in a channel of `bits` bits, with
// the endpoint itself (index 0) or with the first middle colour (index 2).
struct SingleColourTable {
    uint8_t plain[256];      // the endpoint nearest the value
    uint8_t middle[256][2];  // the pair whose (2 c0 + c1) / 3 is nearest
};

SingleColourTable makeSingleColourTable(int bits) {
    SingleColourTable table{};
    const int count = 1 << bits;
    auto expand = [bits](int v) { return widened(v, bits); };
    for (int value = 0; value < 256; ++value) {
        int bestPlain = 1 << 20, bestMiddle = 1 << 20;
        for (int a = 0; a < count; ++a) {
            const int d = expand(a) - value;
            if (d * d < bestPlain) {
                bestPlain = d * d;
                table.plain[value] = static_cast<uint8_t>(a);
            }
            for (int b = 0; b < count; ++b) {
                const int m = (2 * expand(a) + expand(b)) / 3 - value;
                if (m * m < bestMiddle) {
                    bestMiddle = m * m;
                    table.middle[value][0] = static_cast<uint8_t>(a);
                    table.middle[value][1] = static_cast<uint8_t>(b);
                }
            }
        }
    }
    return table;
}

const SingleColourTable& singleColourTable(int bits) {
    static const SingleColourTable five = makeSingleColourTable(5);
    static const SingleColourTable six = makeSingleColourTable(6);
    return bits == 5 ? five : six;
}

// One colour for the whole block: the tables' best pairs for either index.
template <int width>
QUORVEL_INLINE ColourFit<width> fitOneColour(const ColourBlock& colours, const ColourSamples<width>& block) {
    const float colour[3] = {colours.red[0], colours.green[0], colours.blue[0]};
    constexpr int bits[3] = {5, 6, 5};
    int plain[3], first[3], second[3];
    for (int k = 0; k < 3; ++k) {
        const int value = static_cast<int>(std::lround(std::clamp(colour[k], 0.0f, 255.0f)));
        const SingleColourTable& table = singleColourTable(bits[k]);
        plain[k] = table.plain[value];
        first[k] = table.middle[value][0];
        second[k] = table.middle[value][1];
    }
    ColourFit<width> best;
    tryColours(block, plain, plain, best);
    tryColours(block, first, second, best);
    return best;
}

// The principal axis of the colours (power iteration on their covariance).
void principalAxis(const ColourBlock& block, const float (&mean)[3], float (&axis)[3]) {
    float cov[6] = {};  // rr, rg, rb, gg, gb, bb
    for (int i = 0; i < 16; ++i) {
        const float r = block.red[i] - mean[0], g = block.green[i] - mean[1], b = block.blue[i] - mean[2];
        cov[0] += r * r;
        cov[1] += r * g;
        cov[2] += r * b;
        cov[3] += g * g;
        cov[4] += g * b;
        cov[5] += b * b;
    }
    // Start from the row of the largest variance, which is never orthogonal
    // to the principal axis unless the covariance is zero.
    const float diagonal[3] = {cov[0], cov[3], cov[5]};
    const int start = static_cast<int>(std::max_element(diagonal, diagonal + 3) - diagonal);
    const float rows[3][3] = {{cov[0], cov[1], cov[2]}, {cov[1], cov[3], cov[4]}, {cov[2], cov[4], cov[5]}};
    float v[3] = {rows[start][0], rows[start][1], rows[start][2]};
    for (int iteration = 0; iteration < 8; ++iteration) {
        float next[3];
        for (int k = 0; k < 3; ++k) next[k] = rows[k][0] * v[0] + rows[k][1] * v[1] + rows[k][2] * v[2];
        const float largest = std::max({std::fabs(next[0]), std::fabs(next[1]), std::fabs(next[2])});
        if (!(largest > 0.0f)) break;
        for (int k = 0; k < 3; ++k) v[k] = next[k] / largest;
    }
    std::memcpy(axis, v, sizeof v);
}

// The range fit with least-squares refinement: the colours' extremes along
// their principal axis as endpoints, then rounds of least squares on the
// indices each colour takes among the four colours of the line.
void rangeFit(const ColourBlock& block, float (&first)[3], float (&second)[3]) {
    float mean[3] = {};
    for (int i = 0; i < 16; ++i) {
        mean[0] += block.red[i];
        mean[1] += block.green[i];
        mean[2] += block.blue[i];
    }
    for (float& m : mean) m /= 16.0f;
    float axis[3];
    principalAxis(block, mean, axis);
    float low = INFINITY, high = -INFINITY;
    float key[16];
    for (int i = 0; i < 16; ++i) {
        key[i] = (block.red[i] - mean[0]) * axis[0] + (block.green[i] - mean[1]) * axis[1] + (block.blue[i] - mean[2]) * axis[2];
        low = std::min(low, key[i]);
        high = std::max(high, key[i]);
    }
    const float norm = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
    for (int c = 0; c < 3; ++c) {
        first[c] = mean[c] + axis[c] * low / norm;
        second[c] = mean[c] + axis[c] * high / norm;
    }
    const float* channel[3] = {block.red, block.green, block.blue};
    for (int round = 0; round < 2; ++round) {
        float aa = 0, ab = 0, bb = 0, ax[3] = {}, bx[3] = {};
        for (int i = 0; i < 16; ++i) {
            // The nearest of the four colours at 0, 1/3, 2/3, 1 of the way.
            float bestT = 0.0f, bestE = INFINITY;
            for (int k = 0; k < 4; ++k) {
                const float t = static_cast<float>(k) / 3.0f;
                float e = 0.0f;
                for (int c = 0; c < 3; ++c) {
                    const float d = channel[c][i] - (first[c] + t * (second[c] - first[c]));
                    e += d * d;
                }
                if (e < bestE) {
                    bestE = e;
                    bestT = t;
                }
            }
            const float s = 1.0f - bestT;
            aa += s * s;
            ab += s * bestT;
            bb += bestT * bestT;
            for (int c = 0; c < 3; ++c) {
                ax[c] += s * channel[c][i];
                bx[c] += bestT * channel[c][i];
            }
        }
        const float det = aa * bb - ab * ab;
        if (!(det > 1e-3f)) break;
        for (int c = 0; c < 3; ++c) {
            first[c] = (bb * ax[c] - ab * bx[c]) / det;
            second[c] = (aa * bx[c] - ab * ax[c]) / det;
        }
    }
}

bool allOneColour(const ColourBlock& block) {
    for (int i = 1; i < 16; ++i)
        if (block.red[i] != block.red[0] || block.green[i] != block.green[0] || block.blue[i] != block.blue[0])
            return false;
    return true;
}

template <int width>
QUORVEL_INLINE void writeColours(const ColourFit<width>& fit, uint8_t* out) {
    uint16_t c0 = pack565(fit.end[0][0], fit.end[0][1], fit.end[0][2]);
    uint16_t c1 = pack565(fit.end[1][0], fit.end[1][1], fit.end[1][2]);
    int index[16];
    for (int i = 0; i < 16; ++i) index[i] = lane(fit.index, i);
    if (c0 < c1) {
        // The same four colours with the endpoints the other way round.
        std::swap(c0, c1);
        constexpr int swapped[4] = {1, 0, 3, 2};
        for (int& i : index) i = swapped[i];
    } else if (c0 == c1) {
        // Three-colour mode, whose first three colours are all this one.
        std::memset(index, 0, sizeof index);
    }
    out[0] = static_cast<uint8_t>(c0);
    out[1] = static_cast<uint8_t>(c0 >> 8);
    out[2] = static_cast<uint8_t>(c1);
    out[3] = static_cast<uint8_t>(c1 >> 8);
    for (int row = 0; row < 4; ++row)
        out[4 + row] = static_cast<uint8_t>(index[4 * row] | (index[4 * row + 1] << 2) | (index[4 * row + 2] << 4) |
                                            (index[4 * row + 3] << 6));
}

template <int width>
QUORVEL_INLINE void encodeColourWith(const ColourBlock& colours, uint8_t* out) {
    ColourSamples<width> block;
    block.channel[0] = load<width>(colours.red);
    block.channel[1] = load<width>(colours.green);
    block.channel[2] = load<width>(colours.blue);
    ColourFit<width> best;
    if (allOneColour(colours)) {
        best = fitOneColour(colours, block);
    } else {
        float first[3], second[3];
        rangeFit(colours, first, second);
        int a[3], b[3];
        quantise565(first, a);
        quantise565(second, b);
        tryColours(block, a, b, best);
    }
    walkColours(block, best);
    writeColours(best, out);
}

#ifdef QUORVEL_WIDE_LANES
__attribute__((target("avx512f"))) void encodeColourAvx512(const ColourBlock& block, uint8_t* out) {
    encodeColourWith<16>(block, out);
}
__attribute__((target("avx2"))) void encodeColourAvx2(const ColourBlock& block, uint8_t* out) {
    encodeColourWith<8>(block, out);
}
#endif

}  // namespace

void encodeColourBlock(const ColourBlock& block, uint8_t* out) {
#ifdef QUORVEL_WIDE_LANES
    switch (laneWidth()) {
        case 16: return encodeColourAvx512(block, out);
        case 8: return encodeColourAvx2(block, out);
        default: break;
    }
#endif
    encodeColourWith<4>(block, out);
}
