#include "encode/bc7_encoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "encode/bc7_layout.h"
#include "encode/block_decode.h"

namespace {

constexpr float unreached = std::numeric_limits<float>::max();

// The block's samples, texel by texel: red, green, blue, alpha.
using Texels = float[16][4];

// How a line's endpoints are stored.
enum class PBits { none, shared, each };

// One line of colours (a subset, or the colour or scalar part of modes 4 and
// 5): the channels it covers, the bits each endpoint channel is stored in
// (p-bit left out) and the bits of its indices.
struct LineShape {
    int channels[4];
    int count;
    int bits[4];
    PBits pbits;
    int indexBits;
    bool pBitsOne;  // both p-bits 1: opaque mode 6, whose alpha then widens to 255
};

// A line fitted to some texels: its endpoints as stored (by listed channel),
// the p-bits, each texel's index and the weighted squared error.
struct LineFit {
    int q[2][4] = {};
    int p[2] = {};
    uint8_t index[16] = {};
    float error = unreached;
};

// An endpoint channel as it decodes: stored value `q` of `bits` bits, with
// p-bit `p` appended unless `p` is negative.
int decodedEnd(int q, int bits, int p) {
    return p < 0 ? bc7Widen(static_cast<uint32_t>(q), bits)
                 : bc7Widen(static_cast<uint32_t>((q << 1) | p), bits + 1);
}

// The stored value whose decoding lies nearest `e`.
int quantise(float e, int bits, int p) {
    const int top = (1 << bits) - 1;
    const float levels = static_cast<float>(p < 0 ? top : 2 * top + 1);
    const float scaled = e * levels / 255.0f;
    // Rounded to nearest (the values are never below -0.5).
    const int q = std::clamp(static_cast<int>((p < 0 ? scaled : (scaled - static_cast<float>(p)) * 0.5f) + 0.5f), 0, top);
    int best = q;
    float bestDistance = std::fabs(static_cast<float>(decodedEnd(q, bits, p)) - e);
    for (int other : {q - 1, q + 1}) {
        if (other < 0 || other > top) continue;
        const float distance = std::fabs(static_cast<float>(decodedEnd(other, bits, p)) - e);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = other;
        }
    }
    return best;
}

// Chooses each texel's index on the line between the decoded endpoints
// `ends` (by listed channel): the projection's nearest index, then
// neighbouring indices while they lower the error. Returns the error.
float assignIndices(const Texels& t, const uint8_t* texels, int n, const LineShape& s, const int (&ends)[2][4],
                    uint8_t* index) {
    const int entries = 1 << s.indexBits;
    int palette[16][4];
    for (int k = 0; k < entries; ++k)
        for (int c = 0; c < s.count; ++c)
            palette[k][c] = bc7Mix(ends[0][c], ends[1][c], bc7Weight(s.indexBits, static_cast<uint32_t>(k)));
    float weight[4], direction[4], length = 0.0f;
    for (int c = 0; c < s.count; ++c) {
        weight[c] = bc7ChannelWeights[s.channels[c]];
        direction[c] = static_cast<float>(ends[1][c] - ends[0][c]);
        length += weight[c] * direction[c] * direction[c];
    }
    const auto errorAt = [&](const float* x, int k) {
        float sum = 0.0f;
        for (int c = 0; c < s.count; ++c) {
            const float d = x[c] - static_cast<float>(palette[k][c]);
            sum += weight[c] * d * d;
        }
        return sum;
    };
    float total = 0.0f;
    for (int i = 0; i < n; ++i) {
        const int texel = texels[i];
        float x[4];
        for (int c = 0; c < s.count; ++c) x[c] = t[texel][s.channels[c]];
        int k = 0;
        if (length > 0.0f) {
            float along = 0.0f;
            for (int c = 0; c < s.count; ++c)
                along += weight[c] * (x[c] - static_cast<float>(ends[0][c])) * direction[c];
            const float at = std::clamp(along / length, 0.0f, 1.0f) * static_cast<float>(entries - 1);
            k = static_cast<int>(at + 0.5f);
        }
        // The entries are evenly spaced but for rounding: the nearest is
        // the projection's or a neighbour.
        float error = errorAt(x, k);
        const int below = std::max(k - 1, 0), above = std::min(k + 1, entries - 1);
        const float errorBelow = errorAt(x, below), errorAbove = errorAt(x, above);
        if (errorBelow < error) {
            error = errorBelow;
            k = below;
        }
        if (errorAbove < error) {
            error = errorAbove;
            k = above;
        }
        index[texel] = static_cast<uint8_t>(k);
        total += error;
    }
    return total;
}

// The weighted squared distance of endpoint `ends` from what it becomes
// stored with p-bit `p`.
float endError(const LineShape& s, const float (&end)[4], int p) {
    float sum = 0.0f;
    for (int c = 0; c < s.count; ++c) {
        const float d = static_cast<float>(decodedEnd(quantise(end[c], s.bits[c], p), s.bits[c], p)) - end[c];
        sum += bc7ChannelWeights[s.channels[c]] * d * d;
    }
    return sum;
}

// Quantises the float endpoints `ends` under the p-bits, assigns the
// indices, and keeps the best in `fit`. With `allPBits` every p-bit choice
// the shape allows is tried in full; otherwise the one that moves the
// endpoints least.
void tryEnds(const Texels& t, const uint8_t* texels, int n, const LineShape& s, const float (&ends)[2][4],
             bool allPBits, LineFit& fit) {
    int choices[4][2] = {{-1, -1}};
    int count = 1;
    if (s.pBitsOne) {
        choices[0][0] = choices[0][1] = 1;
    } else if (s.pbits == PBits::shared) {
        choices[0][0] = choices[0][1] = 0;
        choices[1][0] = choices[1][1] = 1;
        count = 2;
        if (!allPBits) {
            const bool one = endError(s, ends[0], 1) + endError(s, ends[1], 1) <
                             endError(s, ends[0], 0) + endError(s, ends[1], 0);
            choices[0][0] = choices[0][1] = one ? 1 : 0;
            count = 1;
        }
    } else if (s.pbits == PBits::each) {
        for (int c = 0; c < 4; ++c) {
            choices[c][0] = c & 1;
            choices[c][1] = c >> 1;
        }
        count = 4;
        if (!allPBits) {
            for (int e = 0; e < 2; ++e) choices[0][e] = endError(s, ends[e], 1) < endError(s, ends[e], 0) ? 1 : 0;
            count = 1;
        }
    }
    for (int choice = 0; choice < count; ++choice) {
        LineFit candidate;
        int decoded[2][4] = {};
        for (int e = 0; e < 2; ++e) {
            const int p = choices[choice][e];
            candidate.p[e] = std::max(p, 0);
            for (int c = 0; c < s.count; ++c) {
                candidate.q[e][c] = quantise(ends[e][c], s.bits[c], p);
                decoded[e][c] = decodedEnd(candidate.q[e][c], s.bits[c], p);
            }
        }
        candidate.error = assignIndices(t, texels, n, s, decoded, candidate.index);
        if (candidate.error < fit.error) fit = candidate;
    }
}

// The endpoints of the texels' principal axis: the extremes of their
// projections onto it.
void principalEnds(const Texels& t, const uint8_t* texels, int n, const LineShape& s, float (&ends)[2][4]) {
    float mean[4] = {};
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < s.count; ++c) mean[c] += t[texels[i]][s.channels[c]];
    for (int c = 0; c < s.count; ++c) mean[c] /= static_cast<float>(n);
    float covariance[4][4] = {};
    for (int i = 0; i < n; ++i) {
        float d[4];
        for (int c = 0; c < s.count; ++c) d[c] = t[texels[i]][s.channels[c]] - mean[c];
        for (int a = 0; a < s.count; ++a)
            for (int b = 0; b < s.count; ++b) covariance[a][b] += d[a] * d[b];
    }
    // Power iteration from the row of the largest variance.
    int widest = 0;
    for (int c = 1; c < s.count; ++c)
        if (covariance[c][c] > covariance[widest][widest]) widest = c;
    float axis[4];
    for (int c = 0; c < s.count; ++c) axis[c] = covariance[widest][c];
    for (int round = 0; round < 4; ++round) {
        float next[4] = {}, largest = 0.0f;
        for (int a = 0; a < s.count; ++a) {
            for (int b = 0; b < s.count; ++b) next[a] += covariance[a][b] * axis[b];
            largest = std::max(largest, std::fabs(next[a]));
        }
        if (!(largest > 0.0f)) break;
        for (int c = 0; c < s.count; ++c) axis[c] = next[c] / largest;
    }
    float norm = 0.0f;
    for (int c = 0; c < s.count; ++c) norm += axis[c] * axis[c];
    float low = 0.0f, high = 0.0f;
    if (norm > 0.0f) {
        norm = 1.0f / std::sqrt(norm);
        for (int c = 0; c < s.count; ++c) axis[c] *= norm;
        low = unreached;
        high = -unreached;
        for (int i = 0; i < n; ++i) {
            float along = 0.0f;
            for (int c = 0; c < s.count; ++c) along += (t[texels[i]][s.channels[c]] - mean[c]) * axis[c];
            low = std::min(low, along);
            high = std::max(high, along);
        }
    }
    for (int c = 0; c < s.count; ++c) {
        const float a = norm > 0.0f ? axis[c] : 0.0f;
        ends[0][c] = std::clamp(mean[c] + low * a, 0.0f, 255.0f);
        ends[1][c] = std::clamp(mean[c] + high * a, 0.0f, 255.0f);
    }
}

// The endpoints that fit the texels best, by least squares, for the
// indices `fit` chose. False when every texel has the same weight.
bool leastSquaresEnds(const Texels& t, const uint8_t* texels, int n, const LineShape& s, const LineFit& fit,
                      float (&ends)[2][4]) {
    float aa = 0.0f, ab = 0.0f, bb = 0.0f, ax[4] = {}, bx[4] = {};
    for (int i = 0; i < n; ++i) {
        const int texel = texels[i];
        const float w = static_cast<float>(bc7Weight(s.indexBits, fit.index[texel])) / 64.0f, v = 1.0f - w;
        aa += v * v;
        ab += v * w;
        bb += w * w;
        for (int c = 0; c < s.count; ++c) {
            ax[c] += v * t[texel][s.channels[c]];
            bx[c] += w * t[texel][s.channels[c]];
        }
    }
    const float determinant = aa * bb - ab * ab;
    if (!(std::fabs(determinant) > 1e-6f)) return false;
    for (int c = 0; c < s.count; ++c) {
        ends[0][c] = std::clamp((bb * ax[c] - ab * bx[c]) / determinant, 0.0f, 255.0f);
        ends[1][c] = std::clamp((aa * bx[c] - ab * ax[c]) / determinant, 0.0f, 255.0f);
    }
    return true;
}

// A line fitted to the texels: the principal axis, then up to `rounds`
// rounds of least squares while they lower the error.
LineFit fitLine(const Texels& t, const uint8_t* texels, int n, const LineShape& s, int rounds, bool allPBits) {
    LineFit best;
    float ends[2][4];
    principalEnds(t, texels, n, s, ends);
    tryEnds(t, texels, n, s, ends, allPBits, best);
    for (int round = 0; round < rounds && best.error > 0.0f; ++round) {
        if (!leastSquaresEnds(t, texels, n, s, best, ends)) break;
        LineFit refined;
        tryEnds(t, texels, n, s, ends, allPBits, refined);
        if (!(refined.error < best.error)) break;
        best = refined;
    }
    return best;
}

// A block as it is stored: the mode, partition, rotation and index
// selector, the endpoints by subset, endpoint and slot (red, green, blue,
// alpha as stored, before the rotation), the p-bits, and the indices: the
// colour (or only) set and, in modes 4 and 5, alpha's.
struct Encoding {
    int mode = 6, partition = 0, rotation = 0, selector = 0;
    int q[3][2][4] = {};
    int p[3][2] = {};
    uint8_t index[16] = {};
    uint8_t scalarIndex[16] = {};
};

// The 128 bits of a block written from the lowest bit up.
class BitWriter {
public:
    // `count` (0 to 8) bits of `value`.
    void put(uint32_t value, int count) {
        const uint64_t v = value & ((1u << count) - 1);
        if (position_ < 64) {
            low_ |= v << position_;
            if (position_ + count > 64) high_ |= v >> (64 - position_);
        } else {
            high_ |= v << (position_ - 64);
        }
        position_ += count;
    }
    void copyTo(uint8_t* out) const {
        for (int i = 0; i < 8; ++i) {
            out[i] = static_cast<uint8_t>(low_ >> (8 * i));
            out[8 + i] = static_cast<uint8_t>(high_ >> (8 * i));
        }
    }

private:
    uint64_t low_ = 0, high_ = 0;
    int position_ = 0;
};

void swapEnds(Encoding& e, int subset, int firstSlot, int lastSlot) {
    for (int c = firstSlot; c <= lastSlot; ++c) std::swap(e.q[subset][0][c], e.q[subset][1][c]);
}

// Lays the block out. An anchor texel's index is stored without its top
// bit, so a subset whose anchor index has it set has its endpoints swapped
// and its indices turned round first.
void pack(Encoding e, uint8_t* out) {
    const Bc7Mode& m = bc7Modes[e.mode];
    int subsetOf[16] = {};
    bool anchor[16] = {true};
    int anchorOf[3] = {0, 0, 0};
    if (m.subsets == 2) {
        for (int i = 0; i < 16; ++i) subsetOf[i] = (bc7TwoSubsets[e.partition] >> i) & 1;
        anchorOf[1] = bc7TwoSubsetAnchors[e.partition];
    } else if (m.subsets == 3) {
        for (int i = 0; i < 16; ++i) subsetOf[i] = static_cast<int>((bc7ThreeSubsets[e.partition] >> (2 * i)) & 3);
        anchorOf[1] = bc7ThreeSubsetSecondAnchors[e.partition];
        anchorOf[2] = bc7ThreeSubsetThirdAnchors[e.partition];
    }
    for (int s = 1; s < m.subsets; ++s) anchor[anchorOf[s]] = true;

    const bool twoSets = m.secondaryIndexBits != 0;
    uint8_t* primary = twoSets && e.selector ? e.scalarIndex : e.index;
    uint8_t* secondary = e.selector ? e.index : e.scalarIndex;
    const uint32_t primaryHalf = 1u << (m.indexBits - 1);
    for (int s = 0; s < m.subsets; ++s) {
        if (primary[anchorOf[s]] < primaryHalf) continue;
        for (int i = 0; i < 16; ++i)
            if (subsetOf[i] == s) primary[i] = static_cast<uint8_t>(2 * primaryHalf - 1 - primary[i]);
        if (!twoSets) {
            swapEnds(e, s, 0, 3);
            std::swap(e.p[s][0], e.p[s][1]);
        } else if (e.selector) {
            swapEnds(e, s, 3, 3);
        } else {
            swapEnds(e, s, 0, 2);
        }
    }
    if (twoSets && secondary[0] >= (1u << (m.secondaryIndexBits - 1))) {
        for (int i = 0; i < 16; ++i)
            secondary[i] = static_cast<uint8_t>((1u << m.secondaryIndexBits) - 1 - secondary[i]);
        if (e.selector) swapEnds(e, 0, 0, 2);
        else swapEnds(e, 0, 3, 3);
    }

    BitWriter bits;
    bits.put(1u << e.mode, e.mode + 1);
    bits.put(static_cast<uint32_t>(e.partition), m.partitionBits);
    bits.put(static_cast<uint32_t>(e.rotation), m.rotationBits);
    bits.put(static_cast<uint32_t>(e.selector), m.selectorBits);
    for (int c = 0; c < 3; ++c)
        for (int s = 0; s < m.subsets; ++s)
            for (int end = 0; end < 2; ++end) bits.put(static_cast<uint32_t>(e.q[s][end][c]), m.colourBits);
    for (int s = 0; s < m.subsets; ++s)
        for (int end = 0; end < 2; ++end) bits.put(static_cast<uint32_t>(e.q[s][end][3]), m.alphaBits);
    for (int s = 0; s < m.subsets; ++s) {
        if (m.sharedPBits) bits.put(static_cast<uint32_t>(e.p[s][0]), 1);
        for (int end = 0; end < 2 && m.endpointPBits; ++end) bits.put(static_cast<uint32_t>(e.p[s][end]), 1);
    }
    for (int i = 0; i < 16; ++i) bits.put(primary[i], m.indexBits - (anchor[i] ? 1 : 0));
    for (int i = 0; i < 16 && twoSets; ++i) bits.put(secondary[i], m.secondaryIndexBits - (i == 0 ? 1 : 0));
    bits.copyTo(out);
}

float texelsError(const Texels& t, const uint8_t* encoded) {
    uint8_t decoded[16][4];
    decodeBc7(encoded, decoded[0], 16);
    float sum = 0.0f;
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 4; ++c) {
            const float d = t[i][c] - static_cast<float>(decoded[i][c]);
            sum += bc7ChannelWeights[c] * d * d;
        }
    return sum;
}

// Copies a fitted line into the encoding: listed channel k to slot
// firstSlot + k of subset `subset`, its indices into `index`.
void place(const LineFit& fit, const uint8_t* texels, int n, int count, int subset, int firstSlot, Encoding& e,
           uint8_t* index) {
    for (int end = 0; end < 2; ++end) {
        for (int k = 0; k < count; ++k) e.q[subset][end][firstSlot + k] = fit.q[end][k];
        e.p[subset][end] = fit.p[end];
    }
    for (int i = 0; i < n; ++i) index[texels[i]] = fit.index[texels[i]];
}

// The two subsets of partition `partition` as texel lists.
struct SubsetLists {
    uint8_t texels[2][16];
    int count[2] = {0, 0};
};

SubsetLists subsetsOf(int partition) {
    SubsetLists lists;
    for (int i = 0; i < 16; ++i) {
        const int s = (bc7TwoSubsets[partition] >> i) & 1;
        lists.texels[s][lists.count[s]++] = static_cast<uint8_t>(i);
    }
    return lists;
}

// Whether texel i lies in the second subset of each two-subset partition,
// as 1 or 0, laid out partition by partition for the loops below.
struct PartitionMasks {
    float second[16][64];
    float count[64];
    PartitionMasks() {
        for (int p = 0; p < 64; ++p) {
            count[p] = 0.0f;
            for (int i = 0; i < 16; ++i) {
                second[i][p] = static_cast<float>((bc7TwoSubsets[p] >> i) & 1);
                count[p] += second[i][p];
            }
        }
    }
};

const PartitionMasks partitionMasks;

// How a set of points lies about its principal axis: the (weighted)
// scatter off it and the scatter along it (its largest eigenvalue).
struct Spread {
    float off, along;
};

// The spread of `n` points from their sums (`sums[0..3]`) and sums of
// products (`sums[4..13]`, a <= b), in the first `channels` channels. The
// largest eigenvalue comes from power iteration from the row of the largest
// variance. Written without branches, so that the loop over the partitions
// runs four or eight at once.
template <int channels>
[[gnu::always_inline]] inline Spread spreadOf(const float (&sums)[14], float n) {
    const float inverse = 1.0f / n;
    float c[4][4] = {};
    int k = 4;
    for (int a = 0; a < 4; ++a)
        for (int b = a; b < 4; ++b, ++k) c[a][b] = c[b][a] = sums[k] - sums[a] * sums[b] * inverse;
    float trace = 0.0f, widest = c[0][0];
    float v[4];
    for (int a = 0; a < 4; ++a) v[a] = c[0][a];
    for (int a = 1; a < channels; ++a) {
        trace += c[a][a];
        const bool wider = c[a][a] > widest;
        widest = wider ? c[a][a] : widest;
        for (int b = 0; b < 4; ++b) v[b] = wider ? c[a][b] : v[b];
    }
    trace += c[0][0];
    float eigen = 0.0f;
    for (int round = 0; round < 3; ++round) {
        float next[4] = {}, norm = 0.0f, length = 0.0f;
        for (int a = 0; a < channels; ++a) {
            for (int b = 0; b < channels; ++b) next[a] += c[a][b] * v[b];
            norm += next[a] * next[a];
            length += v[a] * v[a];
        }
        // Kept at unit length, so that the powers cannot overflow.
        const float scale = norm > 0.0f ? 1.0f / std::sqrt(norm) : 0.0f;
        eigen = length > 0.0f ? std::sqrt(norm / length) : 0.0f;
        for (int a = 0; a < channels; ++a) v[a] = next[a] * scale;
    }
    eigen = std::min(eigen, trace);
    return {std::max(trace - eigen, 0.0f), std::max(eigen, 0.0f)};
}

// The weighted channels of each texel and their products (4 + 10), the
// sums over the block, and the sums over the second subset of every
// two-subset partition at once.
struct BlockMoments {
    float texel[16][14];
    float total[14] = {};
    float second[14][64] = {};
};

void momentsOf(const Texels& t, BlockMoments& m) {
    constexpr float root[4] = {1.0f, 1.0f, 0.5f, 1.0f};  // square roots of bc7ChannelWeights
    static_assert(root[2] * root[2] == bc7ChannelWeights[2] && root[3] * root[3] == bc7ChannelWeights[3]);
    for (int i = 0; i < 16; ++i) {
        float x[4];
        for (int c = 0; c < 4; ++c) x[c] = t[i][c] * root[c];
        int k = 0;
        for (int a = 0; a < 4; ++a) m.texel[i][k++] = x[a];
        for (int a = 0; a < 4; ++a)
            for (int b = a; b < 4; ++b) m.texel[i][k++] = x[a] * x[b];
        for (int k2 = 0; k2 < 14; ++k2) m.total[k2] += m.texel[i][k2];
    }
}

// The spreads of both subsets of every two-subset partition.
struct PartitionSpreads {
    Spread subset[2][64];
};

template <int channels>
void partitionSpreads(BlockMoments& m, PartitionSpreads& out) {
    for (int i = 0; i < 16; ++i)
        for (int k = 0; k < 14; ++k)
            for (int p = 0; p < 64; ++p) m.second[k][p] += partitionMasks.second[i][p] * m.texel[i][k];
    for (int p = 0; p < 64; ++p) {
        float one[14], zero[14];
        for (int k = 0; k < 14; ++k) {
            one[k] = m.second[k][p];
            zero[k] = m.total[k] - one[k];
        }
        const float n = partitionMasks.count[p];
        out.subset[0][p] = spreadOf<channels>(zero, 16.0f - n);
        out.subset[1][p] = spreadOf<channels>(one, n);
    }
}

// The spread of the whole block in the listed channels (any of the four).
Spread blockSpread(const BlockMoments& m, const int* list, int count) {
    float sums[14] = {};
    for (int a = 0; a < count; ++a) {
        sums[a] = m.total[list[a]];
        for (int b = a; b < count; ++b) {
            const int lo = std::min(list[a], list[b]), hi = std::max(list[a], list[b]);
            // Products of channels lo <= hi sit at 4 + lo * (9 - lo) / 2 + (hi - lo).
            const int from = 4 + lo * (9 - lo) / 2 + (hi - lo);
            const int to = 4 + a * (9 - a) / 2 + (b - a);
            sums[to] = m.total[from];
        }
    }
    switch (count) {
        case 1: return spreadOf<1>(sums, 16.0f);
        case 2: return spreadOf<2>(sums, 16.0f);
        case 3: return spreadOf<3>(sums, 16.0f);
        default: return spreadOf<4>(sums, 16.0f);
    }
}

// The weighted squared error of one endpoint channel stored in `bits` bits
// (p-bit included), spread over a texel: a level of the stored scale is
// 255 / (2^bits - 1), its rounding error a twelfth of that squared, about
// half of which reaches the texels between the endpoints.
constexpr float endNoise(int bits, float weight) {
    const float step = 255.0f / static_cast<float>((1 << bits) - 1);
    return weight * step * step / 24.0f;
}

// The estimated error of a line through `n` texels of spread `s` with
// 2^indexBits entries: the scatter off the line, that along it rounded to
// the entries (evenly spread texels: a twelfth of an entry's gap squared),
// and the endpoints' rounding (`noise` a texel).
float lineEstimate(Spread s, float n, int indexBits, float noise) {
    const float gaps = static_cast<float>((1 << indexBits) - 1);
    return s.off + s.along / (gaps * gaps) + n * noise;
}

// A mode, partition, rotation and index selector to fit in full, and the
// error its spread foretells.
struct Candidate {
    float estimate;
    int mode, partition, rotation, selector;
};

constexpr LineShape rgbaLine(int bits, PBits pbits, int indexBits, bool pBitsOne) {
    return {{0, 1, 2, 3}, 4, {bits, bits, bits, bits}, pbits, indexBits, pBitsOne};
}
constexpr LineShape rgbLine(int bits, PBits pbits, int indexBits) {
    return {{0, 1, 2, 0}, 3, {bits, bits, bits, 0}, pbits, indexBits, false};
}

// The search over the modes: each fit's error is that of the block as it
// decodes (the palettes are made by the decoder's own arithmetic,
// bc7_layout.h), so the best is packed once, at the end.
class BlockSearch {
public:
    BlockSearch(const Texels& t, int rounds, bool allPBits) : t_(t), rounds_(rounds), allPBits_(allPBits) {}

    float error() const { return error_; }
    void write(uint8_t* out) const { pack(best_, out); }

    // A candidate: a two-subset mode or mode 4 or 5.
    void fit(const Candidate& c) {
        if (bc7Modes[c.mode].subsets == 2)
            twoLines(c.mode, c.partition);
        else
            separateChannel(c.mode, c.rotation, c.selector);
    }

    // Mode 6: one line of RGBA.
    void oneLine(bool opaque) {
        const LineFit fit = fitLine(t_, all, 16, rgbaLine(7, PBits::each, 4, opaque), rounds_, allPBits_);
        Encoding e;
        e.mode = 6;
        place(fit, all, 16, 4, 0, 0, e, e.index);
        consider(e, fit.error);
    }

    // A two-subset mode (1, 3 or 7) on one partition.
    void twoLines(int mode, int partition) {
        const Bc7Mode& m = bc7Modes[mode];
        const LineShape shape = m.alphaBits ? rgbaLine(m.colourBits, PBits::each, m.indexBits, false)
                                            : rgbLine(m.colourBits, m.sharedPBits ? PBits::shared : PBits::each,
                                                      m.indexBits);
        const SubsetLists lists = subsetsOf(partition);
        Encoding e;
        e.mode = mode;
        e.partition = partition;
        float error = 0.0f;
        for (int s = 0; s < 2 && error < error_; ++s) {
            const LineFit fit = fitLine(t_, lists.texels[s], lists.count[s], shape, rounds_, false);
            place(fit, lists.texels[s], lists.count[s], shape.count, s, 0, e, e.index);
            error += fit.error;
        }
        consider(e, error);
    }

    // Mode 4 or 5: three channels on one line and the fourth on its own,
    // alpha or, with `rotation` 1 to 3, red, green or blue (whose slot on
    // the line then holds alpha). Mode 4's `selector` 0 gives the single
    // channel the 3-bit indices, 1 the line.
    void separateChannel(int mode, int rotation, int selector) {
        const Bc7Mode& m = bc7Modes[mode];
        const int colourIndexBits = selector ? m.secondaryIndexBits : m.indexBits;
        const int alphaIndexBits = selector ? m.indexBits : m.secondaryIndexBits;
        LineShape colour = rgbLine(m.colourBits, PBits::none, colourIndexBits);
        const int single = rotation ? rotation - 1 : 3;
        if (rotation) colour.channels[rotation - 1] = 3;
        const LineShape alpha{{single, 0, 0, 0}, 1, {m.alphaBits, 0, 0, 0}, PBits::none, alphaIndexBits, false};
        Encoding e;
        e.mode = mode;
        e.rotation = rotation;
        e.selector = selector;
        const LineFit colourFit = fitLine(t_, all, 16, colour, rounds_, allPBits_);
        const LineFit alphaFit = fitLine(t_, all, 16, alpha, rounds_, allPBits_);
        place(colourFit, all, 16, 3, 0, 0, e, e.index);
        place(alphaFit, all, 16, 1, 0, 3, e, e.scalarIndex);
        consider(e, colourFit.error + alphaFit.error);
    }

private:
    static constexpr uint8_t all[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

    void consider(const Encoding& e, float error) {
        if (error < error_) {
            error_ = error;
            best_ = e;
        }
    }

    const Texels& t_;
    int rounds_;
    bool allPBits_;
    float error_ = unreached;
    Encoding best_;
};

void toTexels(const RgbaBlock& block, Texels& t) {
    for (int i = 0; i < 16; ++i) {
        t[i][0] = block.red[i];
        t[i][1] = block.green[i];
        t[i][2] = block.blue[i];
        t[i][3] = block.alpha[i];
    }
}

}  // namespace

namespace {

// The endpoints' rounding a texel (endNoise) of a line over the listed
// channels stored in `bits` bits; an opaque block's alpha (255) is exact.
float lineNoise(const int* list, int count, int bits, bool opaque) {
    float sum = 0.0f;
    for (int k = 0; k < count; ++k)
        if (!(opaque && list[k] == 3)) sum += endNoise(bits, bc7ChannelWeights[list[k]]);
    return sum;
}

// Mode 4 or 5 with channel `single` (0 to 3) on its own: the estimate of
// the line through the other three and of the single channel.
float separateEstimate(const BlockMoments& m, int mode, int single, int selector, bool opaque) {
    const Bc7Mode& b = bc7Modes[mode];
    int line[3], count = 0;
    for (int c = 0; c < 4; ++c)
        if (c != single) line[count++] = c;
    const int lineIndexBits = selector ? b.secondaryIndexBits : b.indexBits;
    const int singleIndexBits = selector ? b.indexBits : b.secondaryIndexBits;
    return lineEstimate(blockSpread(m, line, 3), 16.0f, lineIndexBits, lineNoise(line, 3, b.colourBits, opaque)) +
           lineEstimate(blockSpread(m, &single, 1), 16.0f, singleIndexBits,
                        opaque && single == 3 ? 0.0f : endNoise(b.alphaBits, bc7ChannelWeights[single]));
}

}  // namespace

void encodeBc7Block(const RgbaBlock& block, Bc7Quality quality, uint8_t* out) {
    Texels t;
    toTexels(block, t);
    bool opaque = true;
    for (int i = 0; i < 16; ++i) opaque = opaque && t[i][3] >= 254.5f;
    // A 16-bit 65535 handed over as 65535 x 255 / 65535 may fall short of
    // 255 by a rounding: opaque is opaque.
    if (opaque)
        for (auto& texel : t) texel[3] = 255.0f;
    const bool fast = quality == Bc7Quality::fast;
    BlockSearch search(t, fast ? 1 : 2, !fast);
    search.oneLine(opaque);
    // Below a quarter of a level squared a texel (fast: a level), no other
    // mode is worth its time.
    if (search.error() <= (fast ? 16.0f : 4.0f)) {
        search.write(out);
        return;
    }
    BlockMoments moments;
    momentsOf(t, moments);
    Candidate candidates[16];
    int count = 0;
    // X or Y on its own, as BC5 keeps them, and the rest on a line; with
    // alpha, also alpha on its own.
    Candidate bestSeparate{unreached, 5, 0, 0, 0};
    for (int rotation = opaque ? 1 : 0; rotation < 3; ++rotation) {
        const int single = rotation ? rotation - 1 : 3;
        const Candidate five{separateEstimate(moments, 5, single, 0, opaque), 5, 0, rotation, 0};
        if (five.estimate < bestSeparate.estimate) bestSeparate = five;
        if (fast) continue;
        candidates[count++] = five;
        for (int selector = 0; selector < 2; ++selector)
            candidates[count++] = {separateEstimate(moments, 4, single, selector, opaque), 4, 0, rotation, selector};
    }
    // The fast search fits the best of mode 5; the default one fits it too,
    // then the best few of every mode by their estimates.
    search.fit(bestSeparate);
    if (!fast) {
        PartitionSpreads spreads;
        if (opaque)
            partitionSpreads<3>(moments, spreads);
        else
            partitionSpreads<4>(moments, spreads);
        static constexpr int opaqueModes[] = {1, 3}, alphaModes[] = {7};
        for (int mode : opaque ? std::span<const int>(opaqueModes) : std::span<const int>(alphaModes)) {
            const Bc7Mode& b = bc7Modes[mode];
            const int list[4] = {0, 1, 2, 3};
            const float noise = lineNoise(list, 4, b.colourBits + (b.sharedPBits || b.endpointPBits ? 1 : 0), opaque);
            Candidate best[2] = {{unreached, mode, 0, 0, 0}, {unreached, mode, 0, 0, 0}};
            for (int p = 0; p < 64; ++p) {
                const float n = partitionMasks.count[p];
                const float estimate = lineEstimate(spreads.subset[0][p], 16.0f - n, b.indexBits, noise) +
                                       lineEstimate(spreads.subset[1][p], n, b.indexBits, noise);
                if (estimate < best[1].estimate) {
                    best[1] = {estimate, mode, p, 0, 0};
                    if (best[1].estimate < best[0].estimate) std::swap(best[0], best[1]);
                }
            }
            candidates[count++] = best[0];
            candidates[count++] = best[1];
        }
        std::sort(candidates, candidates + count,
                  [](const Candidate& a, const Candidate& b) { return a.estimate < b.estimate; });
        const int fits = std::min(count, 4);
        for (int i = 0; i < fits; ++i) {
            const Candidate& c = candidates[i];
            if (c.mode == bestSeparate.mode && c.rotation == bestSeparate.rotation && c.selector == bestSeparate.selector)
                continue;
            search.fit(c);
        }
    }
    search.write(out);
}

float bc7BlockError(const RgbaBlock& block, const uint8_t* encoded) {
    Texels t;
    toTexels(block, t);
    return texelsError(t, encoded);
}
