// The row view of an Image (every layout the record holds, read back as
// samples top row first; records whose rows do not fit refused) and the
// band runner.
#include "image/rows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "image/bands.h"

namespace {

constexpr uint32_t width = 3, height = 2;

// The sample c (red, green, blue, alpha) of pixel (x, y), at 8 or 16 bits.
uint16_t sampleAt(uint32_t x, uint32_t y, uint32_t c, bool sixteen) {
    return static_cast<uint16_t>(sixteen ? 123 + 1000 * c + 300 * x + 7000 * y : 1 + 10 * c + 3 * x + 40 * y);
}

struct Layout {
    const char* name;
    int32_t bitsPerPixel;
    int32_t sampleBits;
    bool alpha;
    bool bgr;
    bool bottomUp;
    int32_t rowPad;
    int32_t missing;  // bytes short of what the rows need (0: exactly enough)
    bool accepted;
};

// Lays the picture out in memory as `l` says, independently of the view.
struct Record {
    std::vector<uint8_t> memory;
    Image image{};

    explicit Record(const Layout& l) {
        const bool sixteen = l.sampleBits == 16;
        const size_t step = static_cast<size_t>(l.bitsPerPixel) / 8, sample = sixteen ? 2 : 1;
        const int64_t signedAdvance = int64_t{width} * static_cast<int64_t>(step) + l.rowPad;
        const size_t advance = signedAdvance > 0 ? static_cast<size_t>(signedAdvance) : 0;
        memory.assign(advance * height + width * step, 0xEE);  // padding, and a fourth byte that is no alpha
        for (uint32_t m = 0; m < height && advance > 0; ++m) {
            const uint32_t y = l.bottomUp ? height - 1 - m : m;
            for (uint32_t x = 0; x < width; ++x)
                for (uint32_t c = 0; c < step / sample && c < (l.alpha ? 4u : 3u); ++c) {
                    const uint32_t at = l.bgr && !sixteen && c < 3 ? 2 - c : c;
                    const uint16_t v = sampleAt(x, y, c, sixteen);
                    uint8_t* p = memory.data() + m * advance + x * step + at * sample;
                    if (sixteen) std::memcpy(p, &v, 2);
                    else *p = static_cast<uint8_t>(v);
                }
        }
        image.pixels = memory.data();
        image.width = width;
        image.height = height;
        image.bitsPerPixel = l.bitsPerPixel;
        image.sampleBits = l.sampleBits;
        image.hasAlpha = l.alpha;
        image.bgrOrder = l.bgr;
        image.bottomUp = l.bottomUp;
        image.rowPad = l.rowPad;
        image.rowBytes = static_cast<int32_t>(width * step);
        // The last row needs only its pixels, not its padding.
        image.dataSize = static_cast<uint32_t>(advance * (height - 1) + width * step - static_cast<size_t>(l.missing));
    }
};

class ImageRowsTest : public testing::TestWithParam<Layout> {};

TEST_P(ImageRowsTest, GivesEveryRowTopFirstAsSamples) {
    const Layout& l = GetParam();
    Record record(l);
    ImageRows rows;
    ASSERT_EQ(viewRows(record.image, rows), l.accepted);
    if (!l.accepted) return;
    const bool sixteen = l.sampleBits == 16;
    EXPECT_EQ(rows.sixteen, sixteen);
    EXPECT_EQ(rows.alpha, l.alpha);
    EXPECT_EQ(rows.bottomUp, l.bottomUp);
    // Memory's first row is the bottom of a bottom-up picture.
    EXPECT_EQ(rows.storedRow(0), rows.row(l.bottomUp ? height - 1 : 0));
    EXPECT_EQ(rows.storedRow(0), record.memory.data());
    std::vector<uint16_t> full(4 * width);
    std::vector<uint8_t> reduced(4 * width);
    for (uint32_t y = 0; y < height; ++y) {
        readRowFull(rows, rows.row(y), full.data());
        readRow8(rows, rows.row(y), reduced.data());
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < 4; ++c) {
                const uint16_t top = sixteen ? 65535 : 255;
                const uint16_t expected = c < 3 || l.alpha ? sampleAt(x, y, c, sixteen) : top;
                EXPECT_EQ(full[4 * x + c], expected) << x << "," << y << " sample " << c;
                EXPECT_EQ(reduced[4 * x + c], sixteen ? reduceSample(expected) : expected)
                    << x << "," << y << " sample " << c;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ImageRowsTest,
    testing::Values(Layout{"Rgb24", 24, 8, false, false, false, 0, 0, true},
                    Layout{"Bgr24", 24, 8, false, true, false, 0, 0, true},
                    Layout{"Rgb32PaddingByte", 32, 8, false, false, false, 0, 0, true},
                    Layout{"Bgra32", 32, 8, true, true, false, 0, 0, true},
                    Layout{"Rgb24PaddedRows", 24, 8, false, false, false, 3, 0, true},
                    Layout{"Bgr24BottomUpPadded", 24, 8, false, true, true, 2, 0, true},
                    Layout{"Rgba32BottomUp", 32, 8, true, false, true, 0, 0, true},
                    Layout{"Rgb48", 48, 16, false, false, false, 0, 0, true},
                    Layout{"Rgba64", 64, 16, true, false, false, 0, 0, true},
                    Layout{"Rgb48BgrOrderIgnored", 48, 16, false, true, false, 0, 0, true},
                    Layout{"Rgb24OneByteShort", 24, 8, false, false, false, 0, 1, false},
                    Layout{"Bgr24BottomUpOneByteShort", 24, 8, false, true, true, 2, 1, false},
                    Layout{"Rgba64OneByteShort", 64, 16, true, false, false, 0, 1, false},
                    Layout{"RowsRunningBackwards", 24, 8, false, false, false, -12, 0, false},
                    Layout{"NoKnownDepth", 16, 8, false, false, false, 0, 0, false},
                    Layout{"FortyEightBitsOfBytes", 48, 8, false, false, false, 0, 0, false},
                    Layout{"WordsInTwentyFourBits", 24, 16, false, false, false, 0, 0, false}),
    [](const testing::TestParamInfo<Layout>& row) { return std::string(row.param.name); });

TEST(ImageRows, RefusesARecordWithoutPixelsOrRows) {
    Record record(Layout{"Rgb24", 24, 8, false, false, false, 0, 0, true});
    ImageRows rows;
    Image none = record.image;
    none.pixels = nullptr;
    EXPECT_FALSE(viewRows(none, rows));
    Image empty = record.image;
    empty.height = 0;
    EXPECT_FALSE(viewRows(empty, rows));
}

TEST(Bands, EveryRowOnceInNumberedBandsOfConsecutiveRows) {
    struct Case {
        uint32_t count;
        unsigned workers;
        unsigned bands;  // bands that run
    };
    for (const Case c : {Case{10, 3, 3}, Case{4, 3, 2}, Case{2, 8, 2}, Case{1, 4, 1}, Case{0, 2, 1}, Case{7, 0, 1}}) {
        std::vector<std::atomic<int>> seen(c.count);
        std::mutex lock;
        std::vector<std::pair<uint32_t, uint32_t>> ranges(c.bands + 8, {0, 0});
        std::atomic<unsigned> ran{0};
        runInNumberedBands(c.count, c.workers, [&](unsigned band, uint32_t first, uint32_t last) {
            ++ran;
            std::lock_guard<std::mutex> hold(lock);
            ASSERT_LT(band, ranges.size());
            ranges[band] = {first, last};
            for (uint32_t r = first; r < last; ++r) ++seen[r];
        });
        EXPECT_EQ(ran.load(), c.bands) << c.count << " rows, " << c.workers << " workers";
        for (uint32_t r = 0; r < c.count; ++r) EXPECT_EQ(seen[r].load(), 1) << "row " << r;
        // Band k follows band k - 1.
        for (unsigned k = 1; k < c.bands; ++k) EXPECT_EQ(ranges[k].first, ranges[k - 1].second) << k;
    }
}

}  // namespace
