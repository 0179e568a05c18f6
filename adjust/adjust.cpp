#include "adjust/adjust.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "image/bands.h"
#include "image/rows.h"
#include "platform/basics.h"

namespace {


double squared(double value) { return value * value; }

// Pixels are re-normalised in blocks: their bytes are gathered into arrays,
// the arithmetic runs over the arrays in straight-line loops that the
// compiler turns into vector code, and the results are scattered back. Every
// operation is an IEEE one whose vector form rounds exactly like the scalar
// one, so the bytes are the same as one pixel at a time would give.
constexpr size_t blockPixels = 256;

// One block of pixels, one array a channel, of 8-bit or 16-bit samples.
template <typename Sample>
struct Samples {
    alignas(64) Sample channel[3][blockPixels];
};
using Block = Samples<uint8_t>;
using WordBlock = Samples<uint16_t>;

// One vector normalised and encoded (SampleEncoding in adjust.h). From the
// squared length on, everything is double, rounded to float at the length
// and the normalised components, and a component t is encoded as the
// integer part of t x (c - 1) + c (-1 gives 1, 0 gives c, +1 the top).
template <typename Sample>
inline void normaliseAndEncode(double x, double y, double z, Sample& r, Sample& g, Sample& b) {
    constexpr double steps = SampleEncoding<Sample>::steps, middle = SampleEncoding<Sample>::middle;
    // The squared length is never negative, and the root of 0 is 0.
    const double length = __builtin_sqrt(x * x + y * y + z * z);
    const bool positive = length > 0.0;
    const double q = 1.0 / (positive ? static_cast<double>(static_cast<float>(length)) : 1.0);
    const double nx = positive ? static_cast<double>(static_cast<float>(q * x)) : 0.0;
    const double ny = positive ? static_cast<double>(static_cast<float>(q * y)) : 0.0;
    const double nz = positive ? static_cast<double>(static_cast<float>(q * z)) : 0.0;
    // Truncation, then the low bits: a component of -1 encodes as 1.
    r = static_cast<Sample>(static_cast<int32_t>(nx * steps + middle));
    g = static_cast<Sample>(static_cast<int32_t>(ny * steps + middle));
    b = static_cast<Sample>(static_cast<int32_t>(nz * steps + middle));
}

// The arithmetic of one block: the samples decoded, X and Y scaled, the
// vector normalised and encoded. The decoded and scaled components are
// float products of float operands: a float product is the double product
// (which is exact) rounded to float, so computing them in float is the same.
template <typename Sample>
QUORVEL_WIDE_VECTOR_CLONES void renormalizeBlock(Samples<Sample>& block, size_t count, float scale) {
    Sample* const r = block.channel[0];
    Sample* const g = block.channel[1];
    Sample* const b = block.channel[2];
    for (size_t i = 0; i < count; ++i) {
        const double x = decodeSample<Sample>(int32_t{r[i]}) * scale;
        const double y = decodeSample<Sample>(int32_t{g[i]}) * scale;
        const double z = decodeSample<Sample>(int32_t{b[i]});
        normaliseAndEncode(x, y, z, r[i], g[i], b[i]);
    }
}

// Normalises and encodes `count` vectors into pixels of `step` samples.
template <typename Sample>
QUORVEL_VECTOR_CLONES void renormalizeVectorsAs(const double* __restrict x, const double* __restrict y,
                                                const double* __restrict z, size_t count, Sample* __restrict out,
                                                size_t step) {
    for (size_t i = 0; i < count; ++i, out += step) normaliseAndEncode(x[i], y[i], z[i], out[0], out[1], out[2]);
}

// Inverts `count` pixels of `step` bytes from `p` (255 - v is v ^ 255).
template <size_t step>
QUORVEL_WIDE_VECTOR_CLONES void invertRun(uint8_t* __restrict p, size_t count, const uint8_t (&invert)[3]) {
    if constexpr (step == 4) {
        // Whole 4-byte pixels against one mask whose fourth byte is 0.
        const uint8_t maskBytes[4] = {invert[0], invert[1], invert[2], 0};
        uint32_t mask;
        std::memcpy(&mask, maskBytes, 4);
        for (size_t i = 0; i < count; ++i) {
            uint32_t pixel;
            std::memcpy(&pixel, p + 4 * i, 4);
            pixel ^= mask;
            std::memcpy(p + 4 * i, &pixel, 4);
        }
    } else {
        const uint8_t r = invert[0], g = invert[1], b = invert[2];
        for (size_t i = 0; i < count; ++i) {
            p[step * i] ^= r;
            p[step * i + 1] ^= g;
            p[step * i + 2] ^= b;
        }
    }
}

// Inverts and re-normalises `count` pixels of `step` bytes from `p`, whose
// first byte is red, or blue when `bgr` is set. `invert` is in byte order.
template <size_t step, bool bgr = false>
QUORVEL_WIDE_VECTOR_CLONES void renormalizeRun(uint8_t* __restrict p, size_t count, const uint8_t (&invert)[3],
                                          float scale) {
    constexpr size_t red = bgr ? 2 : 0, blue = bgr ? 0 : 2;
    Block block;
    while (count > 0) {
        const size_t n = count < blockPixels ? count : blockPixels;
        for (size_t i = 0; i < n; ++i) {
            block.channel[0][i] = p[step * i + red] ^ invert[red];  // 255 - v when inverted
            block.channel[1][i] = p[step * i + 1] ^ invert[1];
            block.channel[2][i] = p[step * i + blue] ^ invert[blue];
        }
        renormalizeBlock(block, n, scale);
        for (size_t i = 0; i < n; ++i) {
            p[step * i + red] = block.channel[0][i];
            p[step * i + 1] = block.channel[1][i];
            p[step * i + blue] = block.channel[2][i];
        }
        p += step * n;
        count -= n;
    }
}

// Inverts (65535 - v is v ^ 65535) and, when asked, re-normalises `count`
// pixels of `step` words from `p`; a fourth word (alpha) is left alone.
template <size_t step>
QUORVEL_WIDE_VECTOR_CLONES void adjustWordRun(uint16_t* __restrict p, size_t count, const uint16_t (&invert)[3],
                                         bool renormalize, float scale) {
    if (!renormalize) {
        for (size_t i = 0; i < count; ++i) {
            p[step * i] ^= invert[0];
            p[step * i + 1] ^= invert[1];
            p[step * i + 2] ^= invert[2];
        }
        return;
    }
    WordBlock block;
    while (count > 0) {
        const size_t n = count < blockPixels ? count : blockPixels;
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < 3; ++c) block.channel[c][i] = p[step * i + c] ^ invert[c];
        renormalizeBlock(block, n, scale);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < 3; ++c) p[step * i + c] = block.channel[c][i];
        p += step * n;
        count -= n;
    }
}

}  // namespace

double squaredLength(Vector3 v) { return squared(v.x) + squared(v.y) + squared(v.z); }

double vectorLength(Vector3 v) {
    const double s = squaredLength(v);
    return s == 0.0 ? 0.0 : std::sqrt(s);
}

Vector3 normalized(Vector3 v) {
    const double length = vectorLength(v);
    if (!(length > 0.0)) return {0.0f, 0.0f, 0.0f};
    const double q = 1.0 / static_cast<double>(static_cast<float>(length));
    return {static_cast<float>(q * v.x), static_cast<float>(q * v.y), static_cast<float>(q * v.z)};
}

namespace {

// One adjustment walk over a pixel buffer.
struct Walk {
    uint8_t* pixels;
    size_t width;
    size_t step;  // 3 or 4 bytes a pixel (words, when `words`)
    bool words;   // 16-bit samples
    size_t dataSize;
    int64_t rowAdvance;  // bytes from one row's start to the next
    bool bgr;            // the first byte of a pixel is blue (3-byte pixels only)
    uint8_t invert[3];   // in byte order
    bool renormalize;
    float scale;
};

// Adjusts rows [first, last). The walk stops for good at the first pixel
// whose third byte would lie at or past dataSize (or before the buffer);
// whenever rows are shared out, row offsets only grow, so every later row
// would stop there too.
void adjustRows(const Walk& walk, size_t first, size_t last) {
    if (walk.words) {
        // 16-bit pictures are top row first and unpadded: the rows are whole.
        const uint16_t invert[3] = {static_cast<uint16_t>(walk.invert[0] ? 0xFFFF : 0),
                                    static_cast<uint16_t>(walk.invert[1] ? 0xFFFF : 0),
                                    static_cast<uint16_t>(walk.invert[2] ? 0xFFFF : 0)};
        const size_t wordsARow = walk.width * walk.step;
        uint16_t* p = reinterpret_cast<uint16_t*>(walk.pixels) + first * wordsARow;
        const size_t count = (last - first) * walk.width;
        if (walk.step == 3)
            adjustWordRun<3>(p, count, invert, walk.renormalize, walk.scale);
        else
            adjustWordRun<4>(p, count, invert, walk.renormalize, walk.scale);
        return;
    }
    for (size_t row = first; row < last; ++row) {
        const int64_t offset = static_cast<int64_t>(row) * walk.rowAdvance;
        if (offset < 0 || static_cast<uint64_t>(offset) + 2 >= walk.dataSize) return;
        const size_t room = (walk.dataSize - 3 - static_cast<size_t>(offset)) / walk.step + 1;
        const size_t count = room < walk.width ? room : walk.width;
        uint8_t* p = walk.pixels + offset;
        if (walk.renormalize) {
            if (walk.bgr)
                renormalizeRun<3, true>(p, count, walk.invert, walk.scale);
            else if (walk.step == 3)
                renormalizeRun<3>(p, count, walk.invert, walk.scale);
            else
                renormalizeRun<4>(p, count, walk.invert, walk.scale);
        } else if (walk.step == 3) {
            invertRun<3>(p, count, walk.invert);
        } else {
            invertRun<4>(p, count, walk.invert);
        }
        if (count < walk.width) return;
    }
}

// Re-normalising is the one costly step of a run; large pictures share it
// out among the cores by bands of rows, which touch disjoint bytes.
constexpr uint64_t pixelsWorthAThread = uint64_t{1} << 20;
constexpr unsigned mostWorkers = 8;

}  // namespace

void adjustPixels(Image* image, const AdjustOptions& options) {
    if (!image || image->adjustLocked != 0) return;
    PixelLayout layout;
    if (!describeLayout(*image, layout)) return;
    Walk walk{};
    // The first byte of an 8-bit pixel is taken for red whatever bgrOrder
    // says, as adjustPixels always has: every reader hands it red first.
    walk.invert[0] = static_cast<uint8_t>(options.invertRed == 1 ? 0xFF : 0);
    walk.invert[1] = static_cast<uint8_t>(options.invertGreen == 1 ? 0xFF : 0);
    walk.invert[2] = static_cast<uint8_t>(options.invertBlue == 1 ? 0xFF : 0);
    walk.renormalize = options.renormalize == 1;
    if (!walk.renormalize && !walk.invert[0] && !walk.invert[1] && !walk.invert[2]) return;
    walk.scale = options.scale;
    walk.pixels = image->pixels;
    walk.words = layout.sixteen;
    walk.step = layout.channels();
    walk.width = layout.width;
    const size_t height = layout.height;
    if (walk.words) {
        // A 16-bit picture is adjusted as one run of words: its rows must
        // all lie within its pixels, top row first and without padding.
        ImageRows rows;
        if (!viewRows(*image, rows) || rows.advance != static_cast<int64_t>(rows.rowLength()) || rows.bottomUp)
            return;
    }
    // 8-bit rows are walked in memory order, whatever the row order, and the
    // walk stops at the first pixel past dataSize (adjustRows) rather than
    // refusing a short buffer: the bytes before it are adjusted, as they
    // always were.
    walk.dataSize = image->dataSize;
    walk.rowAdvance = layout.advance;
    // Rows that overlap (a negative padding) are walked in order, alone.
    const unsigned workers = image->rowPad < 0 || !walk.renormalize
                                 ? 1
                                 : pixelWorkers(uint64_t{walk.width} * height, pixelsWorthAThread, mostWorkers);
    runInBands(static_cast<uint32_t>(height), workers,
               [&walk](uint32_t first, uint32_t last) { adjustRows(walk, first, last); });
}

namespace {

// Rows of `step`-byte pixels in place, the first byte blue when `bgr`.
void adjustStoredRows(uint8_t* rows, size_t width, size_t height, size_t stride, size_t step, bool bgr,
                      const AdjustOptions& options) {
    if (!rows || width == 0 || height == 0 || stride < step * width) return;
    Walk walk{};
    walk.invert[bgr ? 2 : 0] = static_cast<uint8_t>(options.invertRed == 1 ? 0xFF : 0);
    walk.invert[1] = static_cast<uint8_t>(options.invertGreen == 1 ? 0xFF : 0);
    walk.invert[bgr ? 0 : 2] = static_cast<uint8_t>(options.invertBlue == 1 ? 0xFF : 0);
    walk.renormalize = options.renormalize == 1;
    if (!walk.renormalize && !walk.invert[0] && !walk.invert[1] && !walk.invert[2]) return;
    walk.scale = options.scale;
    walk.pixels = rows;
    walk.step = step;
    walk.bgr = bgr;
    walk.width = width;
    walk.dataSize = (height - 1) * stride + step * width;
    walk.rowAdvance = static_cast<int64_t>(stride);
    adjustRows(walk, 0, height);
}

}  // namespace

void adjustBgrRows(uint8_t* rows, size_t width, size_t height, size_t stride, const AdjustOptions& options) {
    adjustStoredRows(rows, width, height, stride, 3, true, options);
}

void adjustRgbRows(uint8_t* rows, size_t width, size_t height, size_t stride, size_t channels,
                   const AdjustOptions& options) {
    if (channels == 3 || channels == 4) adjustStoredRows(rows, width, height, stride, channels, false, options);
}

void adjustWordPixels(uint16_t* words, size_t count, size_t channels, const AdjustOptions& options) {
    const uint16_t invert[3] = {static_cast<uint16_t>(options.invertRed == 1 ? 0xFFFF : 0),
                                static_cast<uint16_t>(options.invertGreen == 1 ? 0xFFFF : 0),
                                static_cast<uint16_t>(options.invertBlue == 1 ? 0xFFFF : 0)};
    const bool renormalize = options.renormalize == 1;
    if (!words || (!renormalize && !invert[0] && !invert[1] && !invert[2])) return;
    if (channels == 3)
        adjustWordRun<3>(words, count, invert, renormalize, options.scale);
    else if (channels == 4)
        adjustWordRun<4>(words, count, invert, renormalize, options.scale);
}

void renormalizeVectors(const double* x, const double* y, const double* z, size_t count, uint8_t* out, size_t step) {
    renormalizeVectorsAs(x, y, z, count, out, step);
}

void renormalizeVectors(const double* x, const double* y, const double* z, size_t count, uint16_t* out, size_t step) {
    renormalizeVectorsAs(x, y, z, count, out, step);
}
