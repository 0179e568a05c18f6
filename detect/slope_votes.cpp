// The votes of a map's slope field for its green convention.
//
// A tangent-space normal map describes a surface, so its slope field
// p = -nx/nz, s = -ny/nz must be the gradient of a height: its mixed
// derivatives agree. With rows running down, an OpenGL map (green is the
// normal's component towards the top of the picture, -dh/dup) stores
// p = dh/dcol and s = -dh/drow, so dp/drow = -ds/dcol; a DirectX map stores
// s = +dh/drow, so dp/drow = +ds/dcol. Components are read as v/127.5 - 1
// (16-bit samples as v/32767.5 - 1, at their full precision); alpha is not
// looked at.
//
// Which pixels vote: those that face out of the surface (nz above a fifth of
// the vector's length) and are at least a third of unit length. A slope is a
// ratio of components, so it does not need a unit vector: maps whose
// vectors were shortened by mip-map averaging or never normalised give the
// same slopes as their normalised selves.
//
// On every 2 x 2 cell of voting pixels, a = dp/drow and b = ds/dcol are
// taken, and the cell votes |a - b| - |a + b| = -2 sign(ab) min(|a|, |b|):
// the difference of the integrability residuals of the two readings, which
// gives a UV seam (one derivative jumping) no more weight than the other
// derivative. Votes are summed over every overlapping cell of a pyramid of
// 2 x 2 box-averaged slope fields, from full size (where quantisation hides
// gentle relief, so the coarser levels carry it; a picture over 2048 pixels
// on the shorter side starts from its 2 x 2 averages, as from its first mip
// level) down to about 16 cells on the shorter side, and over a grid of up
// to 4 x 4 tiles.
//
// A one-sided vote is not enough when it rests on a few cells: the corners
// where pasted islands of planks meet are edges where four surfaces touch,
// and their handful of votes can all fall on one side. So the relief of the
// picture is measured too, as the sum of the cells' weights with each cell
// counted at most `edgeWeight` (a cell whose two derivatives both exceed
// that is an edge more often than a curve); the detection
// (green_convention.cpp) weighs the vote by it.
//
// The pixels are read once, by bands of rows that are the tile rows: each
// band streams its rows through its own pyramid, keeping two rows a level,
// so the analysis needs a few rows of memory and the bands share nothing
// (cells across a band boundary are left out, so the answer does not depend
// on how many threads ran).
#include "detect/slope_votes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>

#include "image/bands.h"
#include "platform/basics.h"

namespace {

constexpr int maxLevels = 16;
constexpr int32_t coarsestSide = 16;  // cells on the shorter side of the coarsest level
constexpr int32_t largestSide = 2048;  // beyond this on the shorter side the 2 x 2 averages are read
// The most a cell counts towards the relief: 25 times the rounding noise of
// a cell. (Anything from 0.03 to 0.1 gives the same answers on generated and
// real maps.)
constexpr float edgeWeight = 0.05f;

// Components are decoded in units of 1/255 (2v - 255 for 8-bit samples), so
// a unit normal has a squared length of 255^2.
constexpr float unitSquared = 255.0f * 255.0f;
constexpr float shortestSquared = 0.1f * unitSquared;  // at least a third of unit length
constexpr float longestSquared = 1.5f * unitSquared;   // the most a normal may be

// The shape of the analysis, the same for every band.
struct VotePlan {
    const ImageRows* rows;
    bool halved;             // the analysis reads the picture's 2 x 2 averages
    int32_t width;           // of the picture analysed
    int32_t height;
    int levels;
    int tileRows;
    int tileCols;
};

// A slope that is not there (the pixel does not vote) is a NaN: it spreads
// through the sums, so a cell or a coarser block that holds one is left out
// without a mask of its own.
constexpr float missing = std::numeric_limits<float>::quiet_NaN();

// One level of a band's pyramid: the previous and the current row of slopes,
// and the sums of horizontal pairs of an even row waiting for its odd
// partner.
struct Level {
    int32_t width = 0;
    float* p[2]{};
    float* s[2]{};
    float* pairP = nullptr;
    float* pairS = nullptr;
    int64_t rows = 0;
    int32_t bounds[maxVoteTiles + 1]{};  // first cell of each tile column
};

struct RowCounts {
    int32_t voters = 0;
    int32_t normals = 0;
};

// One pixel's components, in units of 1/255, into slopes; counts it. With
// q = x^2 + y^2, facing out (nz^2 above 0.04 of the squared length) is
// 24 z^2 > q, and a tilt of at most 45 degrees is z^2 >= q. The tests are
// combined bit by bit, so that the loops around this have no branches and
// become vector code.
inline void decodePixel(float x, float y, float z, float& p, float& s, int32_t& voters, int32_t& normals) {
    const float q = x * x + y * y, zz = z * z, squared = q + zz;
    const bool longEnough = squared >= shortestSquared;
    const bool votes = (z > 0.0f) & (24.0f * zz > q) & longEnough;
    const bool normal = (z > 0.0f) & (zz >= q) & longEnough & (squared <= longestSquared);
    const float inverse = -1.0f / z;
    p = votes ? x * inverse : missing;
    s = votes ? y * inverse : missing;
    voters += votes ? 1 : 0;
    normals += normal ? 1 : 0;
}

// Decodes one row of 8-bit pixels into slopes. The layout is fixed at
// compile time so that the loop becomes vector code.
template <size_t step, size_t red, size_t blue>
QUORVEL_VECTOR_CLONES RowCounts decodeRowAs(const uint8_t* __restrict row, int32_t width, float* __restrict p,
                                            float* __restrict s) {
    int32_t voters = 0, normals = 0;
    for (int32_t c = 0; c < width; ++c) {
        const uint8_t* pixel = row + static_cast<size_t>(c) * step;
        // Whole numbers below 2^24: float holds every step exactly.
        const float x = static_cast<float>(pixel[red]) * 2.0f - 255.0f;
        const float y = static_cast<float>(pixel[1]) * 2.0f - 255.0f;
        const float z = static_cast<float>(pixel[blue]) * 2.0f - 255.0f;
        decodePixel(x, y, z, p[c], s[c], voters, normals);
    }
    return {voters, normals};
}

// The 2 x 2 averages of 8-bit pixels are taken in three plain loops, which
// run faster than one that gathers twelve bytes a pixel: the bytes of two
// rows added, the sums of horizontal pairs of pixels as components, and
// those decoded.
struct Halving {
    uint16_t* sums;
    float* x;
    float* y;
    float* z;
};

QUORVEL_VECTOR_CLONES void addRows(const uint8_t* __restrict a, const uint8_t* __restrict b, uint16_t* __restrict sums,
                                   size_t bytes) {
    for (size_t k = 0; k < bytes; ++k) sums[k] = static_cast<uint16_t>(a[k] + b[k]);
}

template <size_t step, size_t red, size_t blue>
QUORVEL_VECTOR_CLONES void averagePairs(const uint16_t* __restrict sums, int32_t width, float* __restrict x,
                                        float* __restrict y, float* __restrict z) {
    for (int32_t c = 0; c < width; ++c) {
        const uint16_t* pair = sums + static_cast<size_t>(c) * 2 * step;
        // The sum of four bytes over 2 is the average's 2v - 255, plus 255.
        x[c] = static_cast<float>(pair[red] + pair[red + step]) * 0.5f - 255.0f;
        y[c] = static_cast<float>(pair[1] + pair[1 + step]) * 0.5f - 255.0f;
        z[c] = static_cast<float>(pair[blue] + pair[blue + step]) * 0.5f - 255.0f;
    }
}

QUORVEL_VECTOR_CLONES RowCounts decodeComponents(const float* __restrict x, const float* __restrict y,
                                                 const float* __restrict z, int32_t width, float* __restrict p,
                                                 float* __restrict s) {
    int32_t voters = 0, normals = 0;
    for (int32_t c = 0; c < width; ++c) decodePixel(x[c], y[c], z[c], p[c], s[c], voters, normals);
    return {voters, normals};
}

template <size_t step, size_t red, size_t blue>
RowCounts decodeHalvedRowAs(const uint8_t* row, const uint8_t* next, int32_t width, const Halving& h, float* p,
                            float* s) {
    addRows(row, next, h.sums, static_cast<size_t>(width) * 2 * step);
    averagePairs<step, red, blue>(h.sums, width, h.x, h.y, h.z);
    return decodeComponents(h.x, h.y, h.z, width, p, s);
}

// The same for 16-bit samples, `channels` words a pixel (red, green, blue,
// then alpha when there are four).
template <size_t channels, bool halved>
QUORVEL_VECTOR_CLONES RowCounts decodeWideRowAs(const uint8_t* __restrict row, const uint8_t* __restrict next,
                                                int32_t width, float* __restrict p, float* __restrict s) {
    constexpr float scale = 510.0f / 65535.0f;  // v/32767.5 - 1 in units of 1/255
    constexpr size_t step = channels * 2;
    constexpr bool little = std::endian::native == std::endian::little;
    const auto word = [](const uint8_t* at) { return little ? at[0] | at[1] << 8 : at[0] << 8 | at[1]; };
    int32_t voters = 0, normals = 0;
    for (int32_t c = 0; c < width; ++c) {
        float x, y, z;
        if constexpr (halved) {
            const uint8_t* a = row + static_cast<size_t>(c) * 2 * step;
            const uint8_t* b = next + static_cast<size_t>(c) * 2 * step;
            const auto sum = [&](size_t k) {
                return static_cast<float>((word(a + k) + word(a + k + step)) + (word(b + k) + word(b + k + step)));
            };
            x = sum(0) * (scale * 0.25f) - 255.0f;
            y = sum(2) * (scale * 0.25f) - 255.0f;
            z = sum(4) * (scale * 0.25f) - 255.0f;
        } else {
            const uint8_t* pixel = row + static_cast<size_t>(c) * step;
            x = static_cast<float>(word(pixel)) * scale - 255.0f;
            y = static_cast<float>(word(pixel + 2)) * scale - 255.0f;
            z = static_cast<float>(word(pixel + 4)) * scale - 255.0f;
        }
        decodePixel(x, y, z, p[c], s[c], voters, normals);
    }
    return {voters, normals};
}

// Row r of the picture analysed into slopes. Rows are memory rows.
RowCounts decodeRow(int32_t r, const VotePlan& plan, const Halving& h, float* p, float* s) {
    const ImageRows& rows = *plan.rows;
    const int32_t w = plan.width;
    const bool swapped = rows.red == 2;
    if (plan.halved) {
        const uint8_t* row = rows.storedRow(2 * static_cast<uint32_t>(r));
        const uint8_t* next = rows.storedRow(2 * static_cast<uint32_t>(r) + 1);
        if (rows.sixteen)
            return rows.step == 6 ? decodeWideRowAs<3, true>(row, next, w, p, s)
                                  : decodeWideRowAs<4, true>(row, next, w, p, s);
        if (rows.step == 3)
            return !swapped ? decodeHalvedRowAs<3, 0, 2>(row, next, w, h, p, s)
                            : decodeHalvedRowAs<3, 2, 0>(row, next, w, h, p, s);
        return !swapped ? decodeHalvedRowAs<4, 0, 2>(row, next, w, h, p, s)
                        : decodeHalvedRowAs<4, 2, 0>(row, next, w, h, p, s);
    }
    const uint8_t* row = rows.storedRow(static_cast<uint32_t>(r));
    if (rows.sixteen)
        return rows.step == 6 ? decodeWideRowAs<3, false>(row, nullptr, w, p, s)
                              : decodeWideRowAs<4, false>(row, nullptr, w, p, s);
    if (rows.step == 3)
        return !swapped ? decodeRowAs<3, 0, 2>(row, w, p, s) : decodeRowAs<3, 2, 0>(row, w, p, s);
    return !swapped ? decodeRowAs<4, 0, 2>(row, w, p, s) : decodeRowAs<4, 2, 0>(row, w, p, s);
}

// The votes of the cells between two rows of one level, cells [first, last).
QUORVEL_VECTOR_CLONES void voteCells(const float* __restrict p0, const float* __restrict s0, const float* __restrict p1,
                                     const float* __restrict s1, int32_t first, int32_t last, TileVotes& votes,
                                     double& relief) {
    float net = 0.0f, total = 0.0f, capped = 0.0f;
    for (int32_t c = first; c < last; ++c) {
        const float a = (p1[c] + p1[c + 1]) - (p0[c] + p0[c + 1]);  // dp/drow
        const float b = (s0[c + 1] + s1[c + 1]) - (s0[c] + s1[c]);  // ds/dcol
        const float product = a * b;
        const float smaller = std::min(std::fabs(a), std::fabs(b));
        const float w = product == product ? smaller : 0.0f;  // NaN: a slope is missing
        net += product < 0.0f ? w : -w;
        total += w;
        // min(w, edgeWeight), written so that the sum stays a plain one.
        capped += 0.5f * ((w + edgeWeight) - std::fabs(w - edgeWeight));
    }
    votes.net += static_cast<double>(net);
    votes.total += static_cast<double>(total);
    relief += static_cast<double>(capped);
}

// How much the slopes change between two rows of a level and along the
// second: nothing at all only in a flat picture.
double slopeChange(const float* p0, const float* s0, const float* p1, const float* s1, int32_t width) {
    double change = 0.0;
    for (int32_t c = 0; c + 1 < width; ++c) {
        const float steps[] = {p1[c] - p0[c], s1[c] - s0[c], p1[c + 1] - p1[c], s1[c + 1] - s1[c]};
        for (const float step : steps)
            if (step == step) change += std::fabs(static_cast<double>(step));
    }
    return change;
}

// Sums the horizontal pairs of an even row.
QUORVEL_VECTOR_CLONES void pairUp(const float* __restrict row, float* __restrict pair, int32_t half) {
    for (int32_t c = 0; c < half; ++c) pair[c] = row[2 * c] + row[2 * c + 1];
}

// The next level's row: the averages of the 2 x 2 blocks that the odd row
// completes.
QUORVEL_VECTOR_CLONES void finishBlocks(const float* __restrict row, const float* __restrict pair,
                                        float* __restrict next, int32_t half) {
    for (int32_t c = 0; c < half; ++c) next[c] = (pair[c] + (row[2 * c] + row[2 * c + 1])) * 0.25f;
}

// A band's pyramid and its votes.
class Band {
public:
    Band(const VotePlan& plan, float* scratch) : plan_(plan) {
        int32_t width = plan.width;
        for (int k = 0; k < plan.levels; ++k, width /= 2) {
            Level& level = levels_[k];
            level.width = width;
            for (int i = 0; i < 2; ++i) {
                level.p[i] = scratch, scratch += width;
                level.s[i] = scratch, scratch += width;
            }
            level.pairP = scratch, scratch += width / 2;
            level.pairS = scratch, scratch += width / 2;
            for (int t = 0; t <= plan.tileCols; ++t)
                level.bounds[t] = static_cast<int32_t>(int64_t{t} * (width - 1) / plan.tileCols);
        }
        if (halvesBytes(plan)) {
            const size_t row = static_cast<size_t>(plan.width);
            halving_.x = scratch, scratch += row;
            halving_.y = scratch, scratch += row;
            halving_.z = scratch, scratch += row;
            halving_.sums = reinterpret_cast<uint16_t*>(scratch);  // 2 x width x step words
        }
    }

    // 8-bit pictures read through their averages need row scratch of their own.
    static bool halvesBytes(const VotePlan& plan) { return plan.halved && !plan.rows->sixteen; }

    // Floats of scratch one band needs.
    static size_t scratchFloats(const VotePlan& plan) {
        size_t floats = 0;
        int32_t width = plan.width;
        for (int k = 0; k < plan.levels; ++k, width /= 2) floats += 4 * size_t(width) + 2 * size_t(width / 2);
        if (halvesBytes(plan)) floats += 3 * size_t(plan.width) + size_t(plan.width) * plan.rows->step;
        return floats;
    }

    void run(int32_t firstRow, int32_t endRow, BandVotes& result) {
        result_ = &result;
        for (int32_t r = firstRow; r < endRow; ++r) {
            Level& level = levels_[0];
            const int slot = static_cast<int>(level.rows & 1);
            const RowCounts counts = decodeRow(r, plan_, halving_, level.p[slot], level.s[slot]);
            result.voters += counts.voters;
            result.normals += counts.normals;
            arrived(0);
        }
    }

private:
    // A new row of level k sits in slot (rows & 1).
    void arrived(int k) {
        Level& level = levels_[k];
        const int cur = static_cast<int>(level.rows & 1), prev = cur ^ 1;
        if (level.rows > 0) {
            for (int t = 0; t < plan_.tileCols; ++t)
                voteCells(level.p[prev], level.s[prev], level.p[cur], level.s[cur], level.bounds[t],
                          level.bounds[t + 1], result_->tiles[t], result_->relief);
            if (k + 1 == plan_.levels)
                result_->change += slopeChange(level.p[prev], level.s[prev], level.p[cur], level.s[cur], level.width);
        }
        if (k + 1 < plan_.levels) {
            const int32_t half = level.width / 2;
            if ((level.rows & 1) == 0) {
                pairUp(level.p[cur], level.pairP, half);
                pairUp(level.s[cur], level.pairS, half);
            } else {
                Level& next = levels_[k + 1];
                const int slot = static_cast<int>(next.rows & 1);
                finishBlocks(level.p[cur], level.pairP, next.p[slot], half);
                finishBlocks(level.s[cur], level.pairS, next.s[slot], half);
                arrived(k + 1);
            }
        }
        ++level.rows;
    }

    const VotePlan& plan_;
    Level levels_[maxLevels];
    Halving halving_{};
    BandVotes* result_ = nullptr;
};

// Large pictures share the bands out among the cores.
constexpr uint64_t pixelsWorthAThread = uint64_t{1} << 20;

unsigned workersFor(const VotePlan& plan) {
    if (plan.height < 256) return 1;
    return pixelWorkers(uint64_t(plan.width) * uint64_t(plan.height), pixelsWorthAThread,
                        static_cast<unsigned>(plan.tileRows));
}

// Runs bands [first, last) with one scratch block.
bool runBands(const VotePlan& plan, unsigned first, unsigned last, BandVotes* results) {
    const size_t floats = Band::scratchFloats(plan);
    float* scratch = static_cast<float*>(std::malloc(floats * sizeof(float)));
    if (!scratch) return false;
    for (unsigned k = first; k < last; ++k) {
        Band band(plan, scratch);
        const int32_t top = static_cast<int32_t>(int64_t{plan.height} * k / plan.tileRows);
        const int32_t end = static_cast<int32_t>(int64_t{plan.height} * (k + 1) / plan.tileRows);
        band.run(top, end, results[k]);
    }
    std::free(scratch);
    return true;
}

int tilesAlong(int32_t side) { return static_cast<int>(std::clamp<int32_t>(side / coarsestSide, 1, maxVoteTiles)); }

}  // namespace

bool voteSlopes(const ImageRows& rows, SlopeVotes& votes) {
    votes = SlopeVotes{};
    VotePlan plan{};
    plan.rows = &rows;
    const auto width = static_cast<int32_t>(rows.width), height = static_cast<int32_t>(rows.height);
    // A large picture is read through its 2 x 2 averages, as its first
    // mip level (an odd last row or column left out): finer detail adds
    // nothing the coarser levels do not say, and the pixels are still read
    // once.
    plan.halved = std::min(width, height) > largestSide;
    plan.width = plan.halved ? width / 2 : width;
    plan.height = plan.halved ? height / 2 : height;
    plan.tileRows = tilesAlong(plan.height);
    plan.tileCols = tilesAlong(plan.width);
    plan.levels = 1;
    for (int32_t side = std::min(plan.width, plan.height) / 2; side >= coarsestSide && plan.levels < maxLevels;
         side /= 2)
        ++plan.levels;
    votes.width = plan.width;
    votes.height = plan.height;
    votes.tileRows = plan.tileRows;
    votes.tileCols = plan.tileCols;

    bool ok[maxVoteTiles] = {true, true, true, true};
    runInNumberedBands(static_cast<uint32_t>(plan.tileRows), workersFor(plan),
                       [&](unsigned k, uint32_t first, uint32_t last) {
                           ok[k] = runBands(plan, first, last, votes.bands);
                       });
    return std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; });
}
