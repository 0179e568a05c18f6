// The BC4 block encoder (and so BC5's two channels, and the alpha half of
// BC3): endpoints fitted to the samples and refined while the error of the
// block as decoded falls (see encode/block_encoders.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "encode/block_decode.h"
#include "encode/block_encoders.h"
#include "encode/block_lanes.h"

namespace {

using namespace block_lanes;

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
            keepCloser(least, index, d * d, k);
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

#ifdef QUORVEL_WIDE_LANES
__attribute__((target("avx512f"))) void encodeBc4Avx512(const float (&values)[16], uint8_t* out) {
    encodeBc4With<16>(values, out);
}
__attribute__((target("avx2"))) void encodeBc4Avx2(const float (&values)[16], uint8_t* out) {
    encodeBc4With<8>(values, out);
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

void opaqueAlphaBlock(uint8_t* out) {
    // e0 = e1 = 255 (six-value mode), every index 0.
    const uint8_t block[8] = {255, 255, 0, 0, 0, 0, 0, 0};
    std::memcpy(out, block, sizeof block);
}
