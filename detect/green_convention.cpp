// How the green convention is told from the votes of a map's slope field
// (detect/slope_votes.cpp), whose score is the net vote over the total
// vote, in [-1, 1], and whose agreement is the share of the tiles' net
// votes on the winning side.
//
// A one-sided vote is not enough when it rests on a few cells: the corners
// where pasted islands of planks meet are edges where four surfaces touch,
// and their handful of votes can all fall on one side. So the relief of the
// picture is weighed too: the cells' weights per voting pixel with each
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
#include "detect/green_convention.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "detect/slope_votes.h"
#include "image/rows.h"

namespace {

constexpr int32_t smallestSide = 4;   // below this on either side nothing is told
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

}  // namespace

ConventionGuess detectGreenConvention(const Image& image) {
    ConventionGuess guess;
    // The detection reads no record whose padding steps back, and tells
    // nothing of a picture too small to hold a cell at its coarsest level.
    if (image.rowPad < 0 || image.width < smallestSide || image.height < smallestSide) return guess;
    ImageRows rows;
    if (!viewRows(image, rows)) return guess;
    SlopeVotes votes;
    if (!voteSlopes(rows, votes)) return guess;
    const BandVotes* const results = votes.bands;

    double net = 0.0, total = 0.0, relief = 0.0, change = 0.0;
    int64_t voters = 0, normals = 0;
    for (int b = 0; b < votes.tileRows; ++b) {
        voters += results[b].voters;
        normals += results[b].normals;
        relief += results[b].relief;
        change += results[b].change;
        for (int t = 0; t < votes.tileCols; ++t) {
            net += results[b].tiles[t].net;
            total += results[b].tiles[t].total;
        }
    }
    const double pixels = static_cast<double>(votes.width) * static_cast<double>(votes.height);
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
    const double score = (rows.bottomUp ? -net : net) / total;
    double agreeing = 0.0, mass = 0.0;
    for (int b = 0; b < votes.tileRows; ++b)
        for (int t = 0; t < votes.tileCols; ++t) {
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
