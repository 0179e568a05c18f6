// How the green convention is told.
//
// A tangent-space normal map describes a surface, so its slope field
// p = -nx/nz, s = -ny/nz must be the gradient of a height: its mixed
// derivatives agree. With rows running down, an OpenGL map (green is the
// normal's component towards the top of the picture, -dh/dup) stores
// p = dh/dcol and s = -dh/drow, so dp/drow = -ds/dcol; a DirectX map stores
// s = +dh/drow, so dp/drow = +ds/dcol. Components are read as v/127.5 - 1.
// On every 2 x 2 cell whose four pixels are unit normals with nz > 0.2,
// a = dp/drow and b = ds/dcol are taken, and the cell votes
// |a - b| - |a + b| = -2 sign(ab) min(|a|, |b|): the difference of the
// integrability residuals of the two readings, which gives a UV seam (one
// derivative jumping) no more weight than the other derivative. Votes are
// summed over every overlapping cell of a pyramid of 2 x 2 box-averaged
// slope fields, from full size (where quantisation hides gentle relief, so
// the coarser levels carry it) down to about 16 cells on the shorter side,
// and over a grid of up to 4 x 4 tiles. The score is the net vote over the
// total vote, in [-1, 1], where the total is taken as at least 0.01 a unit
// normal (an addition to the plain ratio: a handful of strong cells in a
// large picture, such as the corners where four pasted islands of planks
// meet, is not evidence enough however one-sided it is). The agreement is
// the share of the tiles' net votes on the winning side, and the confidence
// min(1, 2 |score|) x agreement^2; below 0.1 the answer is "unknown". It is
// "unknown" too when fewer than a fifth of the pixels are unit normals with
// nz > 0.2 (photographs, albedo, height maps): a pixel counts as a unit
// normal when its squared length is within 0.1 of 1, about four times the
// worst error of 8-bit quantisation (half a step on each of three
// components moves the squared length by up to 0.027), so that mip-mapped
// or block-compressed maps still count while random colours mostly do not.
// What cannot be told: only the relation between red and green is seen, so
// a map with red inverted reads as the other convention; relief that runs
// only along the axes (planks, stripes, weaves) has no mixed derivative and
// flat maps none at all, and a picture with mirrored pasted parts holds both
// readings at once: these come out "unknown".
//
// The pixels are read once, by bands of rows that are the tile rows: each
// band streams its rows through its own pyramid, keeping two rows a level,
// so the analysis needs a few rows of memory and the bands share nothing
// (cells across a band boundary are left out, so the answer does not depend
// on how many threads ran).
#include "detect/green_convention.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

namespace {

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define QUORVEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUORVEL_VECTOR_CLONES
#endif

constexpr int maxTiles = 4;  // tiles a side
constexpr int maxLevels = 16;
constexpr int32_t coarsestSide = 16;  // cells on the shorter side of the coarsest level
constexpr int32_t smallestSide = 4;   // below this on either side nothing is told
constexpr float minimumConfidence = 0.1f;
constexpr double minimumNormalShare = 0.2;
// The total vote is taken as at least this much a unit normal: five times
// what 8-bit quantisation noise alone gives at full size (its error in a
// cell's derivative is about 0.0045, and the smaller of two such is about
// half that). Maps with relief give 4 to 20 times more; where the only
// evidence is a few junctions of pasted parts (four islands of planks
// meeting at a corner), it is ten to a hundred times less.
constexpr double evidenceFloor = 0.01;

// Components are decoded as 2v - 255 (v/127.5 - 1 in units of 1/255), so a
// unit normal has a squared length of 255^2 and nz > 0.2 means z > 51.
constexpr float unitSquared = 255.0f * 255.0f;
constexpr float lengthTolerance = unitSquared / 10;  // squared length within 0.1 of 1
constexpr float minimumZ = 51.0f;

struct TileVotes {
    double net = 0.0;    // OpenGL positive
    double total = 0.0;  // sum of the vote weights
};

struct BandResult {
    TileVotes tiles[maxTiles];
    int64_t normals = 0;  // pixels that are unit normals with nz > 0.2
};

// The shape of the analysis, the same for every band.
struct Plan {
    const uint8_t* pixels;
    int64_t rowAdvance;
    size_t step;
    size_t red, green, blue;  // byte offsets in a pixel
    int32_t width;
    int32_t height;
    int levels;
    int tileRows;
    int tileCols;
};

// A slope that is not there (the pixel is no unit normal with nz > 0.2) is
// a NaN: it spreads through the sums, so a cell or a coarser block that
// holds one is left out without a mask of its own.
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

// Decodes one row of pixels into slopes; returns how many pixels are unit
// normals. The layout is fixed at compile time so that the loop becomes
// vector code.
template <size_t step, size_t red, size_t blue>
QUORVEL_VECTOR_CLONES int32_t decodeRowAs(const uint8_t* __restrict row, int32_t width, float* __restrict p,
                                          float* __restrict s) {
    int32_t count = 0;
    for (int32_t c = 0; c < width; ++c) {
        const uint8_t* pixel = row + static_cast<size_t>(c) * step;
        // Whole numbers below 2^24: float holds every step exactly.
        const float x = static_cast<float>(pixel[red]) * 2.0f - 255.0f;
        const float y = static_cast<float>(pixel[1]) * 2.0f - 255.0f;
        const float z = static_cast<float>(pixel[blue]) * 2.0f - 255.0f;
        const float off = (x * x + y * y) + (z * z - unitSquared);
        const bool valid = z > minimumZ && off <= lengthTolerance && off >= -lengthTolerance;
        const float inverse = valid ? -1.0f / z : missing;
        p[c] = x * inverse;
        s[c] = y * inverse;
        count += valid ? 1 : 0;
    }
    return count;
}

int32_t decodeRow(const uint8_t* row, const Plan& plan, float* p, float* s) {
    if (plan.step == 3)
        return plan.red == 0 ? decodeRowAs<3, 0, 2>(row, plan.width, p, s)
                             : decodeRowAs<3, 2, 0>(row, plan.width, p, s);
    return plan.red == 0 ? decodeRowAs<4, 0, 2>(row, plan.width, p, s) : decodeRowAs<4, 2, 0>(row, plan.width, p, s);
}

// The votes of the cells between two rows of one level, cells [first, last).
QUORVEL_VECTOR_CLONES void voteCells(const float* __restrict p0, const float* __restrict s0, const float* __restrict p1,
                                     const float* __restrict s1, int32_t first, int32_t last, TileVotes& votes) {
    float net = 0.0f, total = 0.0f;
    for (int32_t c = first; c < last; ++c) {
        const float a = (p1[c] + p1[c + 1]) - (p0[c] + p0[c + 1]);  // dp/drow
        const float b = (s0[c + 1] + s1[c + 1]) - (s0[c] + s1[c]);  // ds/dcol
        const float product = a * b;
        const float smaller = std::min(std::fabs(a), std::fabs(b));
        const float w = product == product ? smaller : 0.0f;  // NaN: a slope is missing
        net += product < 0.0f ? w : -w;
        total += w;
    }
    votes.net += static_cast<double>(net);
    votes.total += static_cast<double>(total);
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
    }

    // Floats of scratch one band needs.
    static size_t scratchFloats(const Plan& plan) {
        size_t floats = 0;
        int32_t width = plan.width;
        for (int k = 0; k < plan.levels; ++k, width /= 2) floats += 4 * size_t(width) + 2 * size_t(width / 2);
        return floats;
    }

    void run(int32_t firstRow, int32_t endRow, BandResult& result) {
        result_ = &result;
        for (int32_t r = firstRow; r < endRow; ++r) {
            Level& level = levels_[0];
            const int slot = static_cast<int>(level.rows & 1);
            const uint8_t* row = plan_.pixels + r * plan_.rowAdvance;
            result.normals += decodeRow(row, plan_, level.p[slot], level.s[slot]);
            arrived(0);
        }
    }

private:
    // A new row of level k sits in slot (rows & 1).
    void arrived(int k) {
        Level& level = levels_[k];
        const int cur = static_cast<int>(level.rows & 1), prev = cur ^ 1;
        if (level.rows > 0)
            for (int t = 0; t < plan_.tileCols; ++t)
                voteCells(level.p[prev], level.s[prev], level.p[cur], level.s[cur], level.bounds[t],
                          level.bounds[t + 1], result_->tiles[t]);
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

}  // namespace

ConventionGuess detectGreenConvention(const Image& image) {
    ConventionGuess guess;
    if (!image.pixels || (image.bitsPerPixel != 24 && image.bitsPerPixel != 32)) return guess;
    if (image.width < smallestSide || image.height < smallestSide || image.rowPad < 0) return guess;
    Plan plan{};
    plan.pixels = image.pixels;
    plan.step = image.bitsPerPixel == 24 ? 3 : 4;
    plan.rowAdvance = int64_t{image.width} * static_cast<int64_t>(plan.step) + image.rowPad;
    // Every row must lie within the bytes the record says may be read.
    const int64_t lastRowEnd =
        (int64_t{image.height} - 1) * plan.rowAdvance + int64_t{image.width} * int64_t(plan.step);
    if (lastRowEnd > int64_t{image.dataSize}) return guess;
    plan.red = image.bgrOrder ? 2 : 0;
    plan.green = 1;
    plan.blue = image.bgrOrder ? 0 : 2;
    plan.width = image.width;
    plan.height = image.height;
    plan.tileRows = tilesAlong(image.height);
    plan.tileCols = tilesAlong(image.width);
    plan.levels = 1;
    for (int32_t side = std::min(image.width, image.height) / 2; side >= coarsestSide && plan.levels < maxLevels;
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

    double net = 0.0, total = 0.0;
    int64_t normals = 0;
    for (int b = 0; b < plan.tileRows; ++b) {
        normals += results[b].normals;
        for (int t = 0; t < plan.tileCols; ++t) {
            net += results[b].tiles[t].net;
            total += results[b].tiles[t].total;
        }
    }
    guess.normalShare = static_cast<float>(static_cast<double>(normals) /
                                           (static_cast<double>(image.width) * static_cast<double>(image.height)));
    if (total <= 0.0) {
        guess.reason = guess.normalShare < minimumNormalShare ? UnknownReason::notNormalMap : UnknownReason::flat;
        return guess;
    }
    // Memory rows running up turn every dp/drow round. A few cells of
    // evidence in a large picture are not enough, however one-sided.
    const double floor = evidenceFloor * static_cast<double>(normals);
    const double score = (image.bottomUp ? -net : net) / std::max(total, floor);
    double agreeing = 0.0, mass = 0.0;
    for (int b = 0; b < plan.tileRows; ++b)
        for (int t = 0; t < plan.tileCols; ++t) {
            const double tileNet = results[b].tiles[t].net;
            mass += std::fabs(tileNet);
            if ((tileNet > 0.0) == (net > 0.0)) agreeing += std::fabs(tileNet);
        }
    const double agreement = mass > 0.0 ? agreeing / mass : 0.0;
    guess.confidence = static_cast<float>(std::min(1.0, 2.0 * std::fabs(score)) * agreement * agreement);
    guess.score = static_cast<float>(score);
    guess.agreement = static_cast<float>(agreement);
    guess.relief = static_cast<float>(total / static_cast<double>(std::max<int64_t>(normals, 1)));
    const bool normalMap = guess.normalShare >= minimumNormalShare;
    if (!normalMap) {
        guess.reason = UnknownReason::notNormalMap;
    } else if (guess.confidence < minimumConfidence) {
        guess.reason = agreement < 0.75 ? UnknownReason::partsDisagree : UnknownReason::tooLittleRelief;
    } else {
        guess.convention = score > 0.0 ? GreenConvention::openGl : GreenConvention::directX;
    }
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
