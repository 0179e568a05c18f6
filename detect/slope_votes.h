// The measurement behind the green-convention detection: the votes of a
// map's slope field for the two readings of green, summed by tiles.
#pragma once

#include <cstdint>

#include "image/rows.h"

inline constexpr int maxVoteTiles = 4;  // tiles a side

struct TileVotes {
    double net = 0.0;    // OpenGL positive, with memory rows running down
    double total = 0.0;  // sum of the vote weights
};

// The votes of one band of rows, which is one row of tiles.
struct BandVotes {
    TileVotes tiles[maxVoteTiles];
    double relief = 0.0;  // sum of the vote weights, each at most edgeWeight
    double change = 0.0;  // how much the slopes of the coarsest level change
    int64_t voters = 0;   // pixels that vote
    int64_t normals = 0;  // pixels that look like normals
};

struct SlopeVotes {
    int32_t width = 0;  // of the picture analysed: the picture's, or its 2 x 2 averages' when large
    int32_t height = 0;
    int tileRows = 0;
    int tileCols = 0;
    BandVotes bands[maxVoteTiles];  // one a tile row, in memory order
};

// Reads every row of `rows` once, in the order memory holds them (so a
// bottom-up picture's votes come out turned round), and sums the votes by
// tiles. Large pictures are shared out among the cores; the sums do not
// depend on how many threads ran. False when memory runs out.
bool voteSlopes(const ImageRows& rows, SlopeVotes& votes);
