// Checking a normal map for the well-known ways it goes wrong: one pass over
// the pixels fills a plain record of measurements (measureMap), which
// small named rules turn into findings (check/diagnose.h); the repairs
// (check/repair.h) undo them.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "image/rows.h"

// The ways a map's samples may have been run through the sRGB curve.
enum class Transfer { linear, decoded, encoded };
inline constexpr int transferCount = 3;

// What the vectors look like when the samples are read back through one
// transfer (the damage undone), over the pixels that are not fill.
struct Reading {
    double medianX = 0;         // median red and green sample, back on the 0..255 scale
    double medianY = 0;
    double unitShare = 0;       // squared length within 0.1 of 1
    double meanLength = 0;
    double medianLength = 0;
    double consistentShare = 0; // lengths within a quarter of the median length
    double negativeZShare = 0;  // blue below the middle
    double uprightShare = 0;    // Z positive and at least as large as |X| and |Y|
    double invertedUprightShare = 0;  // the same with Z read the other way
    double rebuiltGap = 0;      // mean |Z - sqrt(1 - X^2 - Y^2)|
    double insideShare = 0;     // X^2 + Y^2 at most 1.1: Z can be rebuilt
    double longestLength = 0;   // the length that 99.9% of the vectors stay below
    double invertedFacingShare = 0;  // Z negative and at least half the length: tilted by at most 60 degrees
    double flatLength = 0;      // median length of the nearly flat vectors (X^2 + Y^2 under 0.02)
    double flatShare = 0;       // share of those
    double flatAlikeShare = 0;  // share of those within 6% of their median length
    double contradictedShare = 0;  // blue holds the commonest blue value while X and Y make Z differ from it
};

// The record one pass over a picture fills.
struct Measurements {
    bool valid = false;  // false: the Image holds no layout that can be read
    int sampleBits = 8;
    bool alpha = false;
    int64_t pixels = 0;
    int64_t sampled = 0;    // pixels looked at: all, or a regular grid of a million or more
    int64_t fill = 0;       // of those, padding: flat runs of a colour that is no normal, black or grey
    int64_t measured = 0;   // pixels the shares below are over (all pixels when nearly all are fill)
    double greyShare = 0;   // red, green and blue within 3 levels of each other
    double channelCorrelation = 0;  // the smaller of corr(red, green) and corr(green, blue)
    double redModeShare = 0;    // share of the commonest 4-level bin of red
    double blueModeShare = 0;   // share of the commonest blue value
    int commonBlue = 0;         // that value
    double alphaModeShare = 0;  // share of the commonest 4-level bin of alpha
    double blueLikeGreenShare = 0;  // blue within 2 levels of green
    Reading reading[transferCount];  // red, green, blue read through each transfer
    Reading packed[transferCount];   // alpha as X, green as Y, Z rebuilt
};

// The rows of a picture the check reads (measureMap, repairMap): those of
// viewRows, but no record whose padding steps back or whose samples are
// neither 8 nor 16 bits. False for any other.
bool checkedRows(const Image& image, ImageRows& rows);

// One pass over any layout the Image record holds (8-bit 24 or 32 bits in
// any row and channel order, 16-bit RGB and RGBA). Large pictures are shared
// out among the cores by bands of rows. Safe from several threads on
// different Images.
Measurements measureMap(const Image& image);
