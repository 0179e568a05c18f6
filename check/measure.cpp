// The one pass over a map's pixels, and the statistics taken from it.
//
// Each pixel is read as 8-bit red, green, blue and alpha. Pixels of flat
// padding (a colour within 2 levels of its left, right or upper neighbour
// that is grey or no unit vector and whose blue is at most 153, Z at most
// 0.2: the black or grey fill that bakers put outside UV islands) and
// pixels whose X and Y alone are too long for a normal are only counted; every other pixel is counted in a
// histogram of colours at 6 bits a channel, and in exact sums for the
// channel correlations. Everything the rules need is then read off the
// histogram, for each way the samples may have been run through the sRGB
// curve, without touching the pixels again: a bin stands for its centre, 2
// levels at most from each of its colours, which moves a length by under
// 0.03.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "check/measure.h"
#include "check/transfer.h"
#include "image/bands.h"
#include "image/rows.h"

namespace check {
namespace {

constexpr int binBits = 6;
constexpr int binsPerChannel = 1 << binBits;
constexpr int binShift = 8 - binBits;
constexpr size_t colourBins = size_t{1} << (3 * binBits);
constexpr size_t packedBins = size_t{1} << (2 * binBits);

// Flat padding: within this many levels of the neighbours, with blue at
// most this (Z at most 0.2): black and grey fill, never a tilted normal.
constexpr int flatTolerance = 2;
constexpr int fillMaxBlue = 153;
// ... and is no unit vector (squared length more than 0.3 from 1, in units
// of 127^2) or is grey: the back of an object-space map and flat maps with
// Z inverted are normals, not padding, but black padding re-normalised
// (54, 54, 54) is still padding.
constexpr int unitSquared = 127 * 127;
constexpr int fillOffUnit = 4839;
// X^2 + Y^2 of at least 1.5 (in units of 127^2): no vector near unit length
// has it, whatever its Z. Dark ringing round black padding, and padding
// whose blue was inverted, are counted with the fill.
constexpr int impossibleSlope = 24194;
// Red, green and blue this close count as grey.
constexpr int greyTolerance = 3;
constexpr int likeTolerance = 2;
// When fill leaves fewer pixels than this share, the whole picture is measured.
constexpr double minimumMeasuredShare = 0.01;

struct Tally {
    std::vector<uint32_t> colours;
    std::vector<uint32_t> packed;
    int64_t sampled = 0, fill = 0, measured = 0, grey = 0, blueLikeGreen = 0, packedCount = 0;
    int64_t sum[3] = {}, square[3] = {}, redGreen = 0, greenBlue = 0;
    std::array<int64_t, 256> blues{};  // exact, for a blue that holds one value

    bool start(bool alpha) {
        try {
            colours.assign(colourBins, 0);
            if (alpha) packed.assign(packedBins, 0);
        } catch (...) {
            return false;
        }
        return true;
    }
    void add(const Tally& other) {
        for (size_t i = 0; i < colours.size(); ++i) colours[i] += other.colours[i];
        for (size_t i = 0; i < packed.size(); ++i) packed[i] += other.packed[i];
        sampled += other.sampled, fill += other.fill, measured += other.measured, grey += other.grey, blueLikeGreen += other.blueLikeGreen;
        packedCount += other.packedCount;
        for (int k = 0; k < 3; ++k) sum[k] += other.sum[k], square[k] += other.square[k];
        redGreen += other.redGreen, greenBlue += other.greenBlue;
        for (size_t i = 0; i < blues.size(); ++i) blues[i] += other.blues[i];
    }
};

inline bool near(const uint8_t* a, const uint8_t* b, size_t red, size_t blue) {
    return std::abs(a[red] - b[red]) <= flatTolerance && std::abs(a[1] - b[1]) <= flatTolerance &&
           std::abs(a[blue] - b[blue]) <= flatTolerance;
}

// Counts the pixels c = 0, every, 2 every, ... of one memory row. The
// neighbours are only looked at for the few pixels that could be padding.
template <size_t step, size_t red, size_t blue>
void tallyRow(const uint8_t* row, const uint8_t* above, size_t width, size_t every, bool skipFill, Tally& tally) {
    uint32_t* const colours = tally.colours.data();
    int64_t* const blues = tally.blues.data();
    int64_t sampled = 0, measured = 0, grey = 0;
    int64_t sum[3] = {}, square[3] = {}, redGreen = 0, greenBlue = 0;
    for (size_t c = 0; c < width; c += every) {
        const uint8_t* p = row + c * step;
        const int r = p[red], g = p[1], b = p[blue];
        ++sampled;
        if (skipFill) {
            const int dx = r - 128, dy = g - 128, dz = b - 128;
            const int slope = dx * dx + dy * dy;
            if (slope >= impossibleSlope) continue;
            if (b <= fillMaxBlue &&
                (std::abs(slope + dz * dz - unitSquared) > fillOffUnit ||
                 std::max({r, g, b}) - std::min({r, g, b}) <= greyTolerance) &&
                ((c > 0 && near(p, p - step, red, blue)) || (c + 1 < width && near(p, p + step, red, blue)) ||
                 (above && near(p, above + c * step, red, blue))))
                continue;
        }
        ++measured;
        ++blues[b];
        ++colours[(r >> binShift) << (2 * binBits) | (g >> binShift) << binBits | b >> binShift];
        grey += std::max({r, g, b}) - std::min({r, g, b}) <= greyTolerance;
        sum[0] += r, sum[1] += g, sum[2] += b;
        square[0] += r * r, square[1] += g * g, square[2] += b * b;
        redGreen += r * g, greenBlue += g * b;
    }
    tally.sampled += sampled, tally.measured += measured, tally.fill += sampled - measured, tally.grey += grey;
    for (int k = 0; k < 3; ++k) tally.sum[k] += sum[k], tally.square[k] += square[k];
    tally.redGreen += redGreen, tally.greenBlue += greenBlue;
}

// Counts memory rows first, first + every, ... below last into `tally`,
// every `every`-th pixel of each. With `skipFill` false, every pixel
// counted is measured. Rows are taken in memory order (a pixel's upper
// neighbour is the row before it in memory), as they always were.
bool tallyRows(const ImageRows& source, int32_t first, int32_t last, size_t every, bool skipFill, Tally& tally) {
    const size_t width = source.width;
    // 8-bit red-green-blue rows are read where they lie; every other layout
    // is first read into rows of four 8-bit samples.
    const bool direct = !source.sixteen && !source.alpha;
    std::unique_ptr<uint8_t[]> buffer(direct ? nullptr : new (std::nothrow) uint8_t[8 * width]);
    if (!direct && !buffer) return false;
    const bool swapped = source.red == 2;
    for (int32_t r = first; r < last; r += static_cast<int32_t>(every)) {
        const uint8_t* memory = source.storedRow(static_cast<uint32_t>(r));
        const uint8_t* up = r > 0 ? source.storedRow(static_cast<uint32_t>(r - 1)) : nullptr;
        if (direct) {
            if (source.step == 3) {
                if (swapped) tallyRow<3, 2, 0>(memory, up, width, every, skipFill, tally);
                else tallyRow<3, 0, 2>(memory, up, width, every, skipFill, tally);
            } else {
                if (swapped) tallyRow<4, 2, 0>(memory, up, width, every, skipFill, tally);
                else tallyRow<4, 0, 2>(memory, up, width, every, skipFill, tally);
            }
            continue;
        }
        uint8_t* row = buffer.get();
        uint8_t* above = up ? buffer.get() + 4 * width : nullptr;
        readRow8(source, memory, row);
        if (above) readRow8(source, up, above);
        tallyRow<4, 0, 2>(row, above, width, every, skipFill, tally);
        if (source.alpha) {
            // Alpha and green as X and Y: only pairs that no normal has
            // (black padding among them) are left out.
            uint32_t* const packed = tally.packed.data();
            for (size_t c = 0; c < width; c += every) {
                const uint8_t* p = row + 4 * c;
                tally.blueLikeGreen += std::abs(p[2] - p[1]) <= likeTolerance;
                const int ax = p[3] - 128, gy = p[1] - 128;
                if (skipFill && ax * ax + gy * gy >= impossibleSlope) continue;
                ++packed[(p[3] >> binShift) << binBits | p[1] >> binShift];
                ++tally.packedCount;
            }
        }
    }
    return true;
}

constexpr uint64_t pixelsWorthAThread = uint64_t{1} << 20;
constexpr unsigned mostWorkers = 8;

unsigned workersFor(const ImageRows& source) {
    if (source.height < 64) return 1;
    return pixelWorkers(uint64_t{source.width} * source.height, pixelsWorthAThread, mostWorkers);
}

// Pictures larger than this are measured on a regular grid of samples
// (every second pixel of every second row, every third of every third, ...):
// the measurements are shares, and a million samples pin them to a tenth
// of a percent.
constexpr int64_t samplesEnough = int64_t{1} << 20;

size_t samplingStep(const ImageRows& source) {
    const int64_t pixels = int64_t{source.width} * source.height;
    size_t every = 1;
    while (pixels / static_cast<int64_t>(every * every) > samplesEnough) ++every;
    return every;
}

// The whole picture in bands of memory rows, one a core. The counts are
// whole numbers, so the bands' tallies add up to the same whatever the
// bands are.
bool tallyPicture(const ImageRows& source, bool skipFill, Tally& total) {
    const unsigned workers = workersFor(source);
    const size_t every = samplingStep(source);
    std::vector<Tally> tallies(workers);
    for (Tally& tally : tallies)
        if (!tally.start(source.alpha)) return false;
    std::vector<char> ok(workers, 1);
    // The bands are cut between sampled rows, so that the samples do not
    // depend on how many threads ran.
    const auto sampledRows = static_cast<uint32_t>((source.height + every - 1) / every);
    runInNumberedBands(sampledRows, workers, [&](unsigned k, uint32_t first, uint32_t last) {
        const auto top = static_cast<int32_t>(first * every);
        const auto end = static_cast<int32_t>(std::min<size_t>(last * every, source.height));
        ok[k] = tallyRows(source, top, end, every, skipFill, tallies[k]);
    });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) return false;
    total = std::move(tallies[0]);
    for (unsigned k = 1; k < workers; ++k) total.add(tallies[k]);
    return true;
}

// The value a bin stands for, read back through a transfer, on 0..255.
double binValue(int bin, Transfer transfer) {
    const double centre = (bin << binShift) + ((1 << binShift) - 1) / 2.0;
    switch (transfer) {
        case Transfer::linear: return centre;
        case Transfer::decoded: return 255.0 * linearToSrgb(centre / 255.0);  // undoes a decoding
        case Transfer::encoded: return 255.0 * srgbToLinear(centre / 255.0);  // undoes an encoding
    }
    return centre;
}

// A whole sample read back through a transfer, on 0..255.
double binValueOf(int sample, Transfer transfer) {
    switch (transfer) {
        case Transfer::linear: return sample;
        case Transfer::decoded: return 255.0 * linearToSrgb(sample / 255.0);
        case Transfer::encoded: return 255.0 * srgbToLinear(sample / 255.0);
    }
    return sample;
}

// The median of a 64-bin marginal on 0..255, interpolated within its bin,
// read back through a transfer.
double medianOf(const std::array<int64_t, binsPerChannel>& marginal, int64_t total, Transfer transfer) {
    if (total <= 0) return 128;
    const double half = static_cast<double>(total) / 2;
    double below = 0;
    for (int bin = 0; bin < binsPerChannel; ++bin) {
        const double count = static_cast<double>(marginal[static_cast<size_t>(bin)]);
        if (below + count >= half && count > 0) {
            const double at = (bin << binShift) + (half - below) / count * (1 << binShift) - 0.5;
            const double value = std::clamp(at, 0.0, 255.0);
            switch (transfer) {
                case Transfer::linear: return value;
                case Transfer::decoded: return 255.0 * linearToSrgb(value / 255.0);
                case Transfer::encoded: return 255.0 * srgbToLinear(value / 255.0);
            }
        }
        below += count;
    }
    return 255;
}

double modeShare(const std::array<int64_t, binsPerChannel>& marginal, int64_t total) {
    if (total <= 0) return 0;
    return static_cast<double>(*std::max_element(marginal.begin(), marginal.end())) / static_cast<double>(total);
}

constexpr int lengthBins = 256;  // lengths 0 .. 2 in steps of 1/128
// X and Y of a vector whose Z can be rebuilt: inside the unit disc, or
// within 0.1 of its rim in squared length.
constexpr double insideDisc = 1.1;

// The length below which a share `quantile` of the vectors lie.
double lengthQuantile(const std::array<double, lengthBins>& lengths, double total, double quantile) {
    double below = 0;
    const double wanted = total * quantile;
    for (int i = 0; i < lengthBins; ++i) {
        const double here = lengths[static_cast<size_t>(i)];
        if (below + here >= wanted && here > 0) return (i + (wanted - below) / here) / (lengthBins / 2.0);
        below += here;
    }
    return 2;
}

double medianLength(const std::array<double, lengthBins>& lengths, double total) {
    return lengthQuantile(lengths, total, 0.5);
}

// Nearly flat: X^2 + Y^2 below this (tilted by under 8 degrees).
constexpr double nearlyFlat = 0.02;
// Lengths within this share of each other count as alike.
constexpr double alikeLengths = 0.06;
// Z differs from the commonest blue by more than this (4 levels).
constexpr double contradiction = 0.03;

// The reading of red, green and blue through one transfer.
Reading readColours(const std::vector<uint32_t>& colours, const std::array<int64_t, binsPerChannel> (&marginal)[3],
                    int64_t total, Transfer transfer, int commonBlue) {
    Reading reading;
    if (total <= 0) return reading;
    double component[binsPerChannel];
    for (int bin = 0; bin < binsPerChannel; ++bin) component[bin] = (binValue(bin, transfer) - 128.0) / 127.0;
    reading.medianX = medianOf(marginal[0], total, transfer);
    reading.medianY = medianOf(marginal[1], total, transfer);
    std::array<double, lengthBins> lengths{}, flatLengths{};
    const int commonBin = commonBlue >> binShift;
    const double commonZ = (binValueOf(commonBlue, transfer) - 128.0) / 127.0;
    double flats = 0, contradicted = 0, invertedFacing = 0;
    double unit = 0, lengthSum = 0, negative = 0, upright = 0, invertedUpright = 0, gap = 0, inside = 0;
    for (size_t i = 0; i < colours.size(); ++i) {
        if (colours[i] == 0) continue;
        const double count = colours[i];
        const double x = component[i >> (2 * binBits)];
        const double y = component[(i >> binBits) & (binsPerChannel - 1)];
        const double z = component[i & (binsPerChannel - 1)];
        const double flat = x * x + y * y;
        const double squared = flat + z * z;
        const double length = std::sqrt(squared);
        const double side = std::max(std::fabs(x), std::fabs(y));
        unit += std::fabs(squared - 1.0) <= 0.1 ? count : 0;
        lengthSum += count * length;
        lengths[static_cast<size_t>(std::min(lengthBins - 1, static_cast<int>(length * (lengthBins / 2))))] += count;
        negative += z < 0 ? count : 0;
        upright += z > 0 && z >= side ? count : 0;
        invertedUpright += z < 0 && -z >= side ? count : 0;
        gap += count * std::fabs(z - std::sqrt(std::max(0.0, 1.0 - flat)));
        invertedFacing += -z >= 0.5 * length ? count : 0;
        inside += flat <= insideDisc ? count : 0;
        if (flat <= nearlyFlat) {
            flats += count;
            flatLengths[static_cast<size_t>(std::min(lengthBins - 1, static_cast<int>(length * (lengthBins / 2))))] += count;
        }
        if (static_cast<int>(i & (binsPerChannel - 1)) == commonBin &&
            std::fabs(std::sqrt(std::max(0.0, 1.0 - flat)) - commonZ) > contradiction)
            contradicted += count;
    }
    const double n = static_cast<double>(total);
    reading.unitShare = unit / n;
    reading.meanLength = lengthSum / n;
    reading.medianLength = medianLength(lengths, n);
    // Lengths within a quarter of the median.
    double consistent = 0;
    for (int i = 0; i < lengthBins; ++i) {
        const double centre = (i + 0.5) / (lengthBins / 2.0);
        if (std::fabs(centre - reading.medianLength) <= 0.25 * reading.medianLength)
            consistent += lengths[static_cast<size_t>(i)];
    }
    reading.consistentShare = consistent / n;
    reading.negativeZShare = negative / n;
    reading.uprightShare = upright / n;
    reading.invertedUprightShare = invertedUpright / n;
    reading.rebuiltGap = gap / n;
    reading.insideShare = inside / n;
    reading.longestLength = lengthQuantile(lengths, n, 0.999);
    reading.flatShare = flats / n;
    reading.flatLength = flats > 0 ? medianLength(flatLengths, flats) : 0;
    double alike = 0;
    for (int i = 0; i < lengthBins; ++i) {
        const double centre = (i + 0.5) / (lengthBins / 2.0);
        if (std::fabs(centre - reading.flatLength) <= alikeLengths * reading.flatLength)
            alike += flatLengths[static_cast<size_t>(i)];
    }
    reading.flatAlikeShare = flats > 0 ? alike / flats : 0;
    reading.contradictedShare = contradicted / n;
    reading.invertedFacingShare = invertedFacing / n;
    return reading;
}

// Alpha as X and green as Y through one transfer, with Z rebuilt: every
// pair inside the unit disc makes a unit vector.
Reading readPacked(const std::vector<uint32_t>& packed, Transfer transfer) {
    Reading reading;
    std::array<int64_t, binsPerChannel> marginal[2]{};
    int64_t total = 0;
    for (size_t i = 0; i < packed.size(); ++i) {
        marginal[0][i >> binBits] += packed[i];
        marginal[1][i & (binsPerChannel - 1)] += packed[i];
        total += packed[i];
    }
    if (total <= 0) return reading;
    double component[binsPerChannel];
    for (int bin = 0; bin < binsPerChannel; ++bin) component[bin] = (binValue(bin, transfer) - 128.0) / 127.0;
    reading.medianX = medianOf(marginal[0], total, transfer);
    reading.medianY = medianOf(marginal[1], total, transfer);
    double inside = 0;
    for (size_t i = 0; i < packed.size(); ++i) {
        if (packed[i] == 0) continue;
        const double x = component[i >> binBits], y = component[i & (binsPerChannel - 1)];
        inside += x * x + y * y <= insideDisc ? packed[i] : 0;
    }
    const double n = static_cast<double>(total);
    reading.insideShare = reading.unitShare = reading.uprightShare = inside / n;
    reading.meanLength = reading.medianLength = 1.0;
    return reading;
}

double correlation(double n, double sumA, double sumB, double squareA, double squareB, double product) {
    const double varianceA = n * squareA - sumA * sumA, varianceB = n * squareB - sumB * sumB;
    // A channel that hardly varies (within a level) correlates with nothing.
    if (varianceA <= n * n * 0.25 || varianceB <= n * n * 0.25) return 0;
    return (n * product - sumA * sumB) / std::sqrt(varianceA * varianceB);
}

}  // namespace
}  // namespace check

using namespace check;

bool checkedRows(const Image& image, ImageRows& rows) {
    // Stricter than the row view: rows that overlap (a negative padding)
    // and sample sizes other than 8 and 16 bits are not read.
    if (image.rowPad < 0 || (image.sampleBits != 0 && image.sampleBits != 8 && image.sampleBits != 16)) {
        rows = ImageRows{};
        return false;
    }
    return viewRows(image, rows);
}

Measurements measureMap(const Image& image) {
    Measurements m;
    ImageRows source;
    if (!checkedRows(image, source)) return m;
    m.sampleBits = source.sixteen ? 16 : 8;
    m.alpha = source.alpha;
    m.pixels = int64_t{source.width} * source.height;
    Tally tally;
    if (!tallyPicture(source, true, tally)) return m;
    m.fill = tally.fill;
    m.sampled = tally.sampled;
    // A picture that is nearly all flat padding is measured whole.
    if (static_cast<double>(tally.measured) < minimumMeasuredShare * static_cast<double>(tally.sampled) &&
        !tallyPicture(source, false, tally))
        return m;
    m.measured = tally.measured;
    m.valid = true;
    if (m.measured <= 0) return m;
    const double n = static_cast<double>(m.measured);

    std::array<int64_t, binsPerChannel> marginal[3]{};
    for (size_t i = 0; i < tally.colours.size(); ++i) {
        marginal[0][i >> (2 * binBits)] += tally.colours[i];
        marginal[1][(i >> binBits) & (binsPerChannel - 1)] += tally.colours[i];
        marginal[2][i & (binsPerChannel - 1)] += tally.colours[i];
    }
    m.greyShare = static_cast<double>(tally.grey) / n;
    m.redModeShare = modeShare(marginal[0], m.measured);
    const auto commonBlue = std::max_element(tally.blues.begin(), tally.blues.end());
    m.blueModeShare = static_cast<double>(*commonBlue) / n;
    m.commonBlue = static_cast<int>(commonBlue - tally.blues.begin());
    const auto sum = [&](int k) { return static_cast<double>(tally.sum[k]); };
    const auto square = [&](int k) { return static_cast<double>(tally.square[k]); };
    m.channelCorrelation =
        std::min(correlation(n, sum(0), sum(1), square(0), square(1), static_cast<double>(tally.redGreen)),
                 correlation(n, sum(1), sum(2), square(1), square(2), static_cast<double>(tally.greenBlue)));
    for (int t = 0; t < transferCount; ++t)
        m.reading[t] = readColours(tally.colours, marginal, m.measured, static_cast<Transfer>(t), m.commonBlue);
    if (m.alpha) {
        std::array<int64_t, binsPerChannel> alphaMarginal{};
        for (size_t i = 0; i < tally.packed.size(); ++i) alphaMarginal[i >> binBits] += tally.packed[i];
        m.alphaModeShare = modeShare(alphaMarginal, tally.packedCount);
        m.blueLikeGreenShare = static_cast<double>(tally.blueLikeGreen) / static_cast<double>(tally.sampled);
        for (int t = 0; t < transferCount; ++t) m.packed[t] = readPacked(tally.packed, static_cast<Transfer>(t));
    }
    return m;
}
