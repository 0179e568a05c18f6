// How the green convention is told.
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
// level) down to about 16 cells on the shorter side, and over a grid of up to 4 x 4 tiles. The score is the
// net vote over the total vote, in [-1, 1]; the agreement is the share of
// the tiles' net votes on the winning side.
//
// A one-sided vote is not enough when it rests on a few cells: the corners
// where pasted islands of planks meet are edges where four surfaces touch,
// and their handful of votes can all fall on one side. So the relief of the
// picture is measured too, as the cells' weights per voting pixel with each
// cell counted at most `edgeWeight` (a cell whose two derivatives both
// exceed that is an edge more often than a curve), and a picture with less
// relief than `reliefFloor` (what the rounding of 8-bit samples alone gives)
// has its confidence scaled down in proportion. The confidence is
// min(1, 2 |score|) x agreement^2 x min(1, relief / reliefFloor); below 0.1
// the answer is "unknown".
//
// It is "unknown" too when fewer than a fifth of the pixels look like
// normals: a normal points out of the surface, tilted by at most 45 degrees,
// with a squared length from 0.1 to 1.5 (JPEG-compressed, mip-mapped and
// loosely normalised maps stay in that band). Length alone does not keep
// height maps out (a grey pixel of mid brightness is as long as a normal),
// but the direction does: a grey pixel is tilted by 54.7 degrees, and albedo
// and photographs mostly point further off; random colours fill the cone
// about one time in ten, real maps from a quarter of their pixels (very
// steep relief) to all of them.
//
// What cannot be told: only the relation between red and green is seen, so
// a map with red inverted reads as the other convention; relief that runs
// only along the axes (planks, stripes, weaves) has no mixed derivative and
// flat maps none at all, and a picture with mirrored pasted parts holds both
// readings at once: these come out "unknown", with the reason.
//
// The pixels are read once, by bands of rows that are the tile rows: each
// band streams its rows through its own pyramid, keeping two rows a level,
// so the analysis needs a few rows of memory and the bands share nothing
// (cells across a band boundary are left out, so the answer does not depend
// on how many threads ran).
#include "detect/green_convention.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "image/vector_clones.h"

namespace {

constexpr int maxTiles = 4;  // tiles a side
constexpr int maxLevels = 16;
constexpr int32_t coarsestSide = 16;  // cells on the shorter side of the coarsest level
constexpr int32_t smallestSide = 4;   // below this on either side nothing is told
constexpr int32_t largestSide = 2048;  // beyond this on the shorter side the 2 x 2 averages are read
constexpr float minimumConfidence = 0.1f;
constexpr double minimumNormalShare = 0.2;
// A parts' disagreement of one vote in four or more is named as the reason
// when the confidence falls short.
constexpr double disagreeingAgreement = 0.75;

// The relief below which the confidence is scaled down, in cell weight per
// voting pixel: about what the rounding of 8-bit samples alone gives at full
// size (a cell's derivative is off by about 0.0045 from rounding, and the
// smaller of two such is about half that). Maps with relief give 2 to 100
// times more; the junctions of pasted islands of planks, with every cell
// counted at most edgeWeight, give less than half of it.
constexpr double reliefFloor = 0.002;
// The most a cell counts towards the relief: 25 times the rounding noise of
// a cell. (Anything from 0.03 to 0.1 gives the same answers on generated and
// real maps.)
constexpr float edgeWeight = 0.05f;

// Components are decoded in units of 1/255 (2v - 255 for 8-bit samples), so
// a unit normal has a squared length of 255^2.
constexpr float unitSquared = 255.0f * 255.0f;
constexpr float shortestSquared = 0.1f * unitSquared;  // at least a third of unit length
constexpr float longestSquared = 1.5f * unitSquared;   // the most a normal may be

struct TileVotes {
    double net = 0.0;    // OpenGL positive
    double total = 0.0;  // sum of the vote weights
};

struct BandResult {
    TileVotes tiles[maxTiles];
    double relief = 0.0;  // sum of the vote weights, each at most edgeWeight
    double change = 0.0;  // how much the slopes of the coarsest level change
    int64_t voters = 0;   // pixels that vote
    int64_t normals = 0;  // pixels that look like normals
};

// The shape of the analysis, the same for every band.
struct Plan {
    const uint8_t* pixels;
    int64_t rowAdvance;
    size_t step;             // bytes a pixel
    bool sixteenBit;         // samples are native-endian 16-bit words, red first
    size_t red, blue;        // byte offsets in an 8-bit pixel
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
    int32_t bounds[maxTiles + 1]{};  // first cell of each tile column
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

// Row r of the picture analysed into slopes.
RowCounts decodeRow(int32_t r, const Plan& plan, const Halving& h, float* p, float* s) {
    const int32_t w = plan.width;
    if (plan.halved) {
        const uint8_t* row = plan.pixels + 2 * int64_t{r} * plan.rowAdvance;
        const uint8_t* next = row + plan.rowAdvance;
        if (plan.sixteenBit)
            return plan.step == 6 ? decodeWideRowAs<3, true>(row, next, w, p, s)
                                  : decodeWideRowAs<4, true>(row, next, w, p, s);
        if (plan.step == 3)
            return plan.red == 0 ? decodeHalvedRowAs<3, 0, 2>(row, next, w, h, p, s)
                                 : decodeHalvedRowAs<3, 2, 0>(row, next, w, h, p, s);
        return plan.red == 0 ? decodeHalvedRowAs<4, 0, 2>(row, next, w, h, p, s)
                             : decodeHalvedRowAs<4, 2, 0>(row, next, w, h, p, s);
    }
    const uint8_t* row = plan.pixels + r * plan.rowAdvance;
    if (plan.sixteenBit)
        return plan.step == 6 ? decodeWideRowAs<3, false>(row, nullptr, w, p, s)
                              : decodeWideRowAs<4, false>(row, nullptr, w, p, s);
    if (plan.step == 3)
        return plan.red == 0 ? decodeRowAs<3, 0, 2>(row, w, p, s) : decodeRowAs<3, 2, 0>(row, w, p, s);
    return plan.red == 0 ? decodeRowAs<4, 0, 2>(row, w, p, s) : decodeRowAs<4, 2, 0>(row, w, p, s);
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
    Band(const Plan& plan, float* scratch) : plan_(plan) {
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
    static bool halvesBytes(const Plan& plan) { return plan.halved && !plan.sixteenBit; }

    // Floats of scratch one band needs.
    static size_t scratchFloats(const Plan& plan) {
        size_t floats = 0;
        int32_t width = plan.width;
        for (int k = 0; k < plan.levels; ++k, width /= 2) floats += 4 * size_t(width) + 2 * size_t(width / 2);
        if (halvesBytes(plan)) floats += 3 * size_t(plan.width) + size_t(plan.width) * plan.step;
        return floats;
    }

    void run(int32_t firstRow, int32_t endRow, BandResult& result) {
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

    const Plan& plan_;
    Level levels_[maxLevels];
    Halving halving_{};
    BandResult* result_ = nullptr;
};

// Large pictures share the bands out among the cores.
constexpr int64_t pixelsWorthAThread = int64_t{1} << 20;

unsigned workersFor(const Plan& plan) {
    const int64_t pixels = int64_t{plan.width} * plan.height;
    if (pixels < 2 * pixelsWorthAThread || plan.height < 256) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<unsigned>(std::min<int64_t>({cores ? cores : 1, plan.tileRows, pixels / pixelsWorthAThread}));
}

// Runs bands first, first + stride, ... with one scratch block.
bool runBands(const Plan& plan, unsigned first, unsigned stride, BandResult* results) {
    const size_t floats = Band::scratchFloats(plan);
    float* scratch = static_cast<float*>(std::malloc(floats * sizeof(float)));
    if (!scratch) return false;
    for (unsigned k = first; k < static_cast<unsigned>(plan.tileRows); k += stride) {
        Band band(plan, scratch);
        const int32_t top = static_cast<int32_t>(int64_t{plan.height} * k / plan.tileRows);
        const int32_t end = static_cast<int32_t>(int64_t{plan.height} * (k + 1) / plan.tileRows);
        band.run(top, end, results[k]);
    }
    std::free(scratch);
    return true;
}

int tilesAlong(int32_t side) { return static_cast<int>(std::clamp<int32_t>(side / coarsestSide, 1, maxTiles)); }

// The layouts read: 8-bit pixels of 24 or 32 bits (the fourth byte padding or
// alpha), 16-bit RGB or RGBA pixels.
bool layoutRead(const Image& image) {
    if (isSixteenBit(image)) return image.bitsPerPixel == 48 || image.bitsPerPixel == 64;
    return image.bitsPerPixel == 24 || image.bitsPerPixel == 32;
}

}  // namespace

ConventionGuess detectGreenConvention(const Image& image) {
    ConventionGuess guess;
    if (!image.pixels || !layoutRead(image)) return guess;
    if (image.width < smallestSide || image.height < smallestSide || image.rowPad < 0) return guess;
    Plan plan{};
    plan.pixels = image.pixels;
    plan.step = pixelBytes(image);
    plan.sixteenBit = isSixteenBit(image);
    plan.rowAdvance = int64_t{image.width} * static_cast<int64_t>(plan.step) + image.rowPad;
    // Every row must lie within the bytes the record says may be read.
    const int64_t lastRowEnd =
        (int64_t{image.height} - 1) * plan.rowAdvance + int64_t{image.width} * int64_t(plan.step);
    if (lastRowEnd > int64_t{image.dataSize}) return guess;
    // 16-bit pictures are always red first.
    plan.red = image.bgrOrder && !plan.sixteenBit ? 2 : 0;
    plan.blue = image.bgrOrder && !plan.sixteenBit ? 0 : 2;
    // A large picture is read through its 2 x 2 averages, as its first
    // mip level (an odd last row or column left out): finer detail adds
    // nothing the coarser levels do not say, and the pixels are still read
    // once.
    plan.halved = std::min(image.width, image.height) > largestSide;
    plan.width = plan.halved ? image.width / 2 : image.width;
    plan.height = plan.halved ? image.height / 2 : image.height;
    plan.tileRows = tilesAlong(plan.height);
    plan.tileCols = tilesAlong(plan.width);
    plan.levels = 1;
    for (int32_t side = std::min(plan.width, plan.height) / 2; side >= coarsestSide && plan.levels < maxLevels;
         side /= 2)
        ++plan.levels;

    BandResult results[maxTiles];
    const unsigned workers = workersFor(plan);
    std::vector<std::thread> helpers;
    bool helpersOk[maxTiles] = {true, true, true, true};
    for (unsigned k = 1; k < workers; ++k) {
        try {
            helpers.emplace_back(
                [&plan, &results, &helpersOk, k, workers] { helpersOk[k] = runBands(plan, k, workers, results); });
        } catch (...) {
            helpersOk[k] = runBands(plan, k, workers, results);  // no thread to be had: do it here
        }
    }
    bool ok = runBands(plan, 0, workers, results);
    for (std::thread& helper : helpers) helper.join();
    for (unsigned k = 1; k < workers; ++k) ok = ok && helpersOk[k];
    if (!ok) return guess;

    double net = 0.0, total = 0.0, relief = 0.0, change = 0.0;
    int64_t voters = 0, normals = 0;
    for (int b = 0; b < plan.tileRows; ++b) {
        voters += results[b].voters;
        normals += results[b].normals;
        relief += results[b].relief;
        change += results[b].change;
        for (int t = 0; t < plan.tileCols; ++t) {
            net += results[b].tiles[t].net;
            total += results[b].tiles[t].total;
        }
    }
    const double pixels = static_cast<double>(plan.width) * static_cast<double>(plan.height);
    guess.normalShare = static_cast<float>(static_cast<double>(normals) / pixels);
    if (static_cast<double>(normals) < minimumNormalShare * pixels) {
        guess.reason = UnknownReason::notNormalMap;
        return guess;
    }
    if (total <= 0.0) {
        // No cell holds a mixed derivative: a flat picture, or relief along
        // the axes only.
        guess.reason = change > 0.0 ? UnknownReason::tooLittleRelief : UnknownReason::flat;
        return guess;
    }
    // Memory rows running up turn every dp/drow round.
    const double score = (image.bottomUp ? -net : net) / total;
    double agreeing = 0.0, mass = 0.0;
    for (int b = 0; b < plan.tileRows; ++b)
        for (int t = 0; t < plan.tileCols; ++t) {
            const double tileNet = results[b].tiles[t].net;
            mass += std::fabs(tileNet);
            if ((tileNet > 0.0) == (net > 0.0)) agreeing += std::fabs(tileNet);
        }
    const double agreement = mass > 0.0 ? agreeing / mass : 0.0;
    const double enough = std::min(1.0, relief / (reliefFloor * static_cast<double>(voters)));
    guess.relief = static_cast<float>(relief / static_cast<double>(voters));
    guess.score = static_cast<float>(score);
    guess.agreement = static_cast<float>(agreement);
    guess.confidence = static_cast<float>(std::min(1.0, 2.0 * std::fabs(score)) * agreement * agreement * enough);
    if (guess.confidence >= minimumConfidence)
        guess.convention = score > 0.0 ? GreenConvention::openGl : GreenConvention::directX;
    else
        guess.reason =
            agreement < disagreeingAgreement ? UnknownReason::partsDisagree : UnknownReason::tooLittleRelief;
    return guess;
}

std::string unknownReasonText(const ConventionGuess& guess) {
    if (guess.convention != GreenConvention::unknown) return {};
    switch (guess.reason) {
        case UnknownReason::none: break;
        case UnknownReason::flat: return "flat";
        case UnknownReason::notNormalMap: {
            char text[64];
            std::snprintf(text, sizeof text, "not a normal map: %.0f%% unit-length normals",
                          std::floor(static_cast<double>(guess.normalShare) * 100.0));
            return text;
        }
        case UnknownReason::tooLittleRelief: return "too little relief";
        case UnknownReason::partsDisagree: return "parts disagree";
    }
    return {};
}
