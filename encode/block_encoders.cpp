#include "encode/block_encoders.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "encode/block_decode.h"

// The searches measure 16 samples at a time as vectors (GCC's and Clang's
// vector extension). Each search is written once for a vector width and
// built three times: 16 lanes for AVX-512, 8 for AVX2 and 4 for every other
// processor, the widest the processor runs being chosen at the first call.
// The three give the same blocks: the lanes only change how many samples
// one instruction takes.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define QUORVEL_WIDE_LANES 1
#endif
#define QUORVEL_INLINE inline __attribute__((always_inline))

namespace {

template <int width>
struct Lanes {
    typedef float Floats __attribute__((vector_size(4 * width)));
    typedef int32_t Ints __attribute__((vector_size(4 * width)));
    static constexpr int parts = 16 / width;
};

// The 16 samples of a block (or any 16 numbers), in parts of `width` lanes.
template <int width>
struct Sixteen {
    typename Lanes<width>::Floats part[Lanes<width>::parts];
};
template <int width>
struct SixteenInts {
    typename Lanes<width>::Ints part[Lanes<width>::parts];
};

template <int width>
QUORVEL_INLINE Sixteen<width> load(const float (&values)[16]) {
    Sixteen<width> out;
    std::memcpy(out.part, values, sizeof out.part);
    return out;
}

// Vectors of 8, 4 and 2 floats, for adding lanes together.
typedef float Eight __attribute__((vector_size(32)));
typedef float Four __attribute__((vector_size(16)));
typedef float Two __attribute__((vector_size(8)));

// Half of a vector plus its other half.
template <typename Half, typename Whole>
QUORVEL_INLINE void fold(const Whole& whole, Half& out) {
    Half low, high;
    std::memcpy(&low, &whole, sizeof low);
    std::memcpy(&high, reinterpret_cast<const char*>(&whole) + sizeof low, sizeof high);
    out = low + high;
}

// The sum of the 16 numbers, added pairwise (number i to number i + 8, then
// i + 4, and so on), in the same order whatever the width.
template <int width>
QUORVEL_INLINE float total(const Sixteen<width>& x) {
    Four four;
    if constexpr (width == 16) {
        Eight eight;
        fold(x.part[0], eight);
        fold(eight, four);
    } else if constexpr (width == 8) {
        const Eight eight = x.part[0] + x.part[1];
        fold(eight, four);
    } else {
        four = (x.part[0] + x.part[2]) + (x.part[1] + x.part[3]);
    }
    Two two;
    fold(four, two);
    return two[0] + two[1];
}

// The nearest integer to a number from 0 to 255.
QUORVEL_INLINE int nearest(float x) { return static_cast<int>(x + 0.5f); }

template <int width>
QUORVEL_INLINE int32_t lane(const SixteenInts<width>& x, int i) {
    return x.part[i / width][i % width];
}

// ---------------------------------------------------------------- BC4 --

enum class Bc4Mode { eight, six };

// The six-value palette is another lattice of levels: it wins now and then
// where the eight-value fit leaves an error of more than 1.5 levels a
// sample (a squared error above 36 for the block), and hardly ever below.
constexpr float sixModeWorthTrying = 36.0f;

template <int width>
struct Bc4Fit {
    int e0 = -1, e1 = -1;
    float error = INFINITY;
    SixteenInts<width> index = {};  // the palette index of each sample
};

// The palette of e0, e1 as the decoder makes it (bc4Palette: in eight-value
// mode ((7 - k) e0 + k e1) / 7 for k = 1..6, in six-value mode
// ((5 - k) e0 + k e1) / 5 for k = 1..4, then 0 and 255, rounded down).
QUORVEL_INLINE void bc4Entries(int e0, int e1, float (&entries)[8]) {
    const uint8_t endpoints[2] = {static_cast<uint8_t>(e0), static_cast<uint8_t>(e1)};
    const std::array<uint8_t, 8> palette = bc4Palette(endpoints, false);
    for (size_t k = 0; k < 8; ++k) entries[k] = static_cast<float>(palette[k]);
}

// The order in which palette entries are tried for a sample: on a tie the
// earlier one wins. In six-value mode the fixed 0 and 255 come first, so a
// sample they match as well as an endpoint goes to them and leaves the
// endpoints free for the others.
constexpr int32_t eightOrder[8] = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr int32_t sixOrder[8] = {6, 7, 0, 1, 2, 3, 4, 5};

// Tries endpoints e0, e1, which must suit the mode: each sample takes its
// nearest palette entry, and the pair is kept in `best` when its squared
// error is lower. True when it was.
template <int width>
QUORVEL_INLINE bool tryBc4(const Sixteen<width>& values, int e0, int e1, Bc4Mode mode, Bc4Fit<width>& best) {
    using Ints = typename Lanes<width>::Ints;
    if (e0 == best.e0 && e1 == best.e1) return false;
    Sixteen<width> error;
    SixteenInts<width> chosen;
    if (mode == Bc4Mode::eight && e0 - e1 >= 7) {
        // Eight evenly spaced levels, each rounded down by less than one:
        // a sample's nearest entry is the one whose exact level is nearest
        // (rank r from e1 up) or the next one up, and only those two are
        // measured. (With steps below one level the rounding can skip a
        // rank, and every entry is measured below.)
        using Floats = typename Lanes<width>::Floats;
        const float span = static_cast<float>(e0 - e1), low = static_cast<float>(e1);
        const float perStep = 7.0f / span;
        for (int p = 0; p < Lanes<width>::parts; ++p) {
            const auto v = values.part[p];
            Floats x = (v - low) * perStep + 0.5f;
            x = x < 0.0f ? Floats{} : x;
            Ints r = __builtin_convertvector(x, Ints);
            r = r > 7 ? Ints{} + 7 : r;
            const Ints up = r < 7 ? r + 1 : r;
            // Entry of rank r: (7 e1 + r (e0 - e1)) / 7, rounded down.
            const Floats rankLevel = __builtin_convertvector(r, Floats), upLevel = __builtin_convertvector(up, Floats);
            const Floats at = __builtin_convertvector(
                __builtin_convertvector((7.0f * low + rankLevel * span + 0.5f) * (1.0f / 7.0f), Ints), Floats);
            const Floats above = __builtin_convertvector(
                __builtin_convertvector((7.0f * low + upLevel * span + 0.5f) * (1.0f / 7.0f), Ints), Floats);
            const Floats d0 = v - at, d1 = v - above;
            const Floats e = d0 * d0, f = d1 * d1;
            const Ints higher = f < e;
            error.part[p] = higher ? f : e;
            const Ints rank = higher ? up : r;
            // Rank 0 is e1 (index 1), rank 7 is e0 (index 0), rank r
            // between is index 8 - r.
            chosen.part[p] = rank == 0 ? Ints{} + 1 : rank == 7 ? Ints{} : 8 - rank;
        }
    } else {
    float entries[8];
    bc4Entries(e0, e1, entries);
    const int32_t* order = mode == Bc4Mode::eight ? eightOrder : sixOrder;
    for (int p = 0; p < Lanes<width>::parts; ++p) {
        const auto v = values.part[p];
        auto d = v - entries[order[0]];
        auto least = d * d;
        Ints index = Ints{} + order[0];
        for (int n = 1; n < 8; ++n) {
            const int32_t k = order[n];
            d = v - entries[k];
            const auto e = d * d;
            const Ints closer = e < least;
            least = closer ? e : least;
            index = closer ? Ints{} + k : index;
        }
        error.part[p] = least;
        chosen.part[p] = index;
    }
    }
    const float sum = total(error);
    if (!(sum < best.error)) return false;
    best.e0 = e0;
    best.e1 = e1;
    best.error = sum;
    best.index = chosen;
    return true;
}

// Endpoints put in the mode's order (e0 > e1 for eight values, e0 <= e1
// for six, both within 0..255) and tried.
template <int width>
QUORVEL_INLINE bool tryOrderedBc4(const Sixteen<width>& values, int e0, int e1, Bc4Mode mode, Bc4Fit<width>& best) {
    e0 = std::clamp(e0, 0, 255);
    e1 = std::clamp(e1, 0, 255);
    if (mode == Bc4Mode::six) {
        if (e0 > e1) std::swap(e0, e1);
    } else {
        if (e0 < e1) std::swap(e0, e1);
        if (e0 == e1) {
            if (e0 < 255) ++e0;
            else --e1;
        }
    }
    return tryBc4(values, e0, e1, mode, best);
}

// The endpoints that fit the samples best in the least-squares sense for
// the indices of `fit` (the fixed 0 and 255 left out), in the linear model
// sample = (1 - t) e0 + t e1 with t the index's place between e0 and e1;
// false when the indices leave them undetermined.
template <int width>
QUORVEL_INLINE bool leastSquaresBc4(const Sixteen<width>& values, const Bc4Fit<width>& fit, Bc4Mode mode, float& e0,
                                    float& e1) {
    using Floats = typename Lanes<width>::Floats;
    // The decoders round the middle entries down, by 3/7 of a level on
    // average in eight-value mode and 2/5 in six-value mode: the samples
    // that take them are aimed that much higher, so that the solution
    // rounded to the nearest integers is the pair they are served best by.
    const bool eight = mode == Bc4Mode::eight;
    const float bias = eight ? 3.0f / 7.0f : 2.0f / 5.0f;
    Sixteen<width> aa, ab, bb, av, bv;
    for (int p = 0; p < Lanes<width>::parts; ++p) {
        const auto index = fit.index.part[p];
        const Floats steps = __builtin_convertvector(index - 1, Floats);
        Floats t, s;
        if (mode == Bc4Mode::eight) {
            t = index == 0 ? Floats{} : index == 1 ? Floats{} + 1.0f : steps * (1.0f / 7.0f);
            s = 1.0f - t;
        } else {
            // The fixed entries (6 and 7) weigh nothing.
            t = index == 0 ? Floats{} : index == 1 ? Floats{} + 1.0f : index >= 6 ? Floats{} : steps * (1.0f / 5.0f);
            s = index >= 6 ? Floats{} : 1.0f - t;
        }
        const auto middle = (index >= 2) & (index < (eight ? 8 : 6));
        const Floats target = values.part[p] + (middle ? Floats{} + bias : Floats{});
        aa.part[p] = s * s;
        ab.part[p] = s * t;
        bb.part[p] = t * t;
        av.part[p] = s * target;
        bv.part[p] = t * target;
    }
    const float a = total(aa), b = total(ab), c = total(bb), u = total(av), v = total(bv);
    const float det = a * c - b * b;
    if (!(det > 1e-3f)) return false;
    e0 = std::clamp((c * u - b * v) / det, 0.0f, 255.0f);
    e1 = std::clamp((a * v - b * u) / det, 0.0f, 255.0f);
    return true;
}

// The fit in one mode: the start, then up to four rounds of least squares
// on the chosen indices, while a round lowers the error.
template <int width>
QUORVEL_INLINE Bc4Fit<width> fitBc4(const Sixteen<width>& values, float low, float high, Bc4Mode mode) {
    Bc4Fit<width> best;
    if (mode == Bc4Mode::eight)
        tryOrderedBc4(values, nearest(high), nearest(low), mode, best);
    else
        tryOrderedBc4(values, static_cast<int>(std::floor(low)), static_cast<int>(std::ceil(high)), mode, best);
    for (int round = 0; round < 4 && best.error > 0.0f; ++round) {
        float a, b;
        if (!leastSquaresBc4(values, best, mode, a, b) ||
            !tryOrderedBc4(values, nearest(a), nearest(b), mode, best))
            break;
    }
    // Blocks left with more than two levels of error a sample try the
    // neighbouring endpoints too, while a step helps.
    for (int step = 0; step < 4 && best.error > 64.0f; ++step) {
        const int e0 = best.e0, e1 = best.e1;
        bool moved = false;
        moved |= tryOrderedBc4(values, e0 + 1, e1, mode, best);
        moved |= tryOrderedBc4(values, e0 - 1, e1, mode, best);
        moved |= tryOrderedBc4(values, e0, e1 + 1, mode, best);
        moved |= tryOrderedBc4(values, e0, e1 - 1, mode, best);
        if (!moved) break;
    }
    return best;
}

template <int width>
QUORVEL_INLINE void writeBc4(const Bc4Fit<width>& fit, uint8_t* out) {
    out[0] = static_cast<uint8_t>(fit.e0);
    out[1] = static_cast<uint8_t>(fit.e1);
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= static_cast<uint64_t>(lane(fit.index, i)) << (3 * i);
    for (int i = 0; i < 6; ++i) out[2 + i] = static_cast<uint8_t>(bits >> (8 * i));
}

template <int width>
QUORVEL_INLINE void encodeBc4With(const float (&values)[16], uint8_t* out) {
    const Sixteen<width> samples = load<width>(values);
    float lowest = values[0], highest = values[0];
    for (int i = 1; i < 16; ++i) {
        lowest = std::min(lowest, values[i]);
        highest = std::max(highest, values[i]);
    }
    Bc4Fit<width> best;
    if (lowest == highest && lowest == std::round(lowest)) {
        // One exact value: both endpoints on it (six-value mode), no error.
        best.e0 = best.e1 = static_cast<int>(lowest);
        best.error = 0.0f;
    } else {
        best = fitBc4(samples, lowest, highest, Bc4Mode::eight);
        if (best.error > sixModeWorthTrying) {
            // The endpoints span the samples nearer the median than the
            // fixed 0 and 255 are; the others are left to 0 and 255.
            float sorted[16];
            std::copy(values, values + 16, sorted);
            std::nth_element(sorted, sorted + 8, sorted + 16);
            const float median = sorted[8];
            float inLow = median, inHigh = median;
            for (const float v : values)
                if (std::fabs(v - median) < std::min(v, 255.0f - v)) {
                    inLow = std::min(inLow, v);
                    inHigh = std::max(inHigh, v);
                }
            const Bc4Fit<width> six = fitBc4(samples, inLow, inHigh, Bc4Mode::six);
            if (six.error < best.error) best = six;
        }
    }
    writeBc4(best, out);
}

// ------------------------------------------------------- colour blocks --

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
            const auto e = dr * dr + dg * dg + db * db;
            const Ints closer = e < least;
            least = closer ? e : least;
            index = closer ? Ints{} + k : index;
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
__attribute__((target("avx512f"))) void encodeBc4Avx512(const float (&values)[16], uint8_t* out) {
    encodeBc4With<16>(values, out);
}
__attribute__((target("avx2"))) void encodeBc4Avx2(const float (&values)[16], uint8_t* out) {
    encodeBc4With<8>(values, out);
}
__attribute__((target("avx512f"))) void encodeColourAvx512(const ColourBlock& block, uint8_t* out) {
    encodeColourWith<16>(block, out);
}
__attribute__((target("avx2"))) void encodeColourAvx2(const ColourBlock& block, uint8_t* out) {
    encodeColourWith<8>(block, out);
}
#endif

#ifdef QUORVEL_WIDE_LANES
// The lanes this processor runs: 16, 8 or 4.
int laneWidth() {
    static const int width = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return 16;
        if (__builtin_cpu_supports("avx2")) return 8;
        return 4;
    }();
    return width;
}
#endif

}  // namespace

void encodeBc4Block(const float (&values)[16], uint8_t* out) {
#ifdef QUORVEL_WIDE_LANES
    switch (laneWidth()) {
        case 16: return encodeBc4Avx512(values, out);
        case 8: return encodeBc4Avx2(values, out);
        default: break;
    }
#endif
    encodeBc4With<4>(values, out);
}

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

void opaqueAlphaBlock(uint8_t* out) {
    // e0 = e1 = 255 (six-value mode), every index 0.
    const uint8_t block[8] = {255, 255, 0, 0, 0, 0, 0, 0};
    std::memcpy(out, block, sizeof block);
}

float bc4BlockError(const float (&values)[16], const uint8_t* block) {
    uint8_t decoded[16];
    decodeBc4Channel(block, false, decoded, 4, 1);
    float sum = 0.0f;
    for (int i = 0; i < 16; ++i) sum += (values[i] - decoded[i]) * (values[i] - decoded[i]);
    return sum;
}

float colourBlockError(const ColourBlock& colours, const uint8_t* block) {
    uint8_t decoded[16][4];
    decodeBc1(block, decoded[0], 16, false, measuredWidening);
    float sum = 0.0f;
    for (int i = 0; i < 16; ++i) {
        const float dr = colours.red[i] - decoded[i][0], dg = colours.green[i] - decoded[i][1],
                    db = colours.blue[i] - decoded[i][2];
        sum += dr * dr + dg * dg + db * db;
    }
    return sum;
}
