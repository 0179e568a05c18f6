// The check of PNG image data that the Windows build runs before its
// decoder: complete data passes (trouble after the last row tolerated, as
// the reader tolerates it) and says whether the stream runs on, and its
// rows rebuilt as stored blocks are exactly the rows; data that cannot make
// the picture is broken.
#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/png_image_data.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Filtered rows: bytes counting up by 7.
Bytes filteredRows(size_t total) {
    Bytes rows(total);
    for (size_t i = 0; i < total; ++i) rows[i] = static_cast<uint8_t>(i * 7);
    return rows;
}

// The filtered size of a layout and the offsets of its filter bytes.
std::vector<size_t> filterBytes(const PngRowsLayout& l, size_t& total) {
    std::vector<size_t> at;
    total = 0;
    auto pass = [&](uint64_t w, uint64_t h) {
        if (w == 0 || h == 0) return;
        const size_t row = 1 + static_cast<size_t>((w * l.bitsPerPixel + 7) / 8);
        for (uint64_t y = 0; y < h; ++y, total += row) at.push_back(total);
    };
    if (!l.interlaced) {
        pass(l.width, l.height);
    } else {
        const uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
        const uint32_t y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
        for (int p = 0; p < 7; ++p)
            pass((l.width + dx[p] - 1 - x0[p]) / dx[p], (l.height + dy[p] - 1 - y0[p]) / dy[p]);
    }
    return at;
}

// The filtered rows of a layout, every row's filter byte cycling 0..4.
Bytes picture(const PngRowsLayout& l) {
    size_t total = 0;
    const std::vector<size_t> filters = filterBytes(l, total);
    Bytes rows = filteredRows(total);
    for (size_t k = 0; k < filters.size(); ++k) rows[filters[k]] = static_cast<uint8_t>(k % 5);
    return rows;
}

Bytes zlibOf(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes z(size);
    EXPECT_EQ(compress2(z.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6), Z_OK);
    z.resize(size);
    return z;
}

struct Case {
    const char* name;
    PngRowsLayout layout;
    std::function<Bytes(const Bytes& rows)> data;  // the image data made from the picture's rows
    bool complete;
    bool runsOn = false;  // the stream goes on past the last row
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class PngImageData : public ::testing::TestWithParam<Case> {};

TEST_P(PngImageData, IsJudgedAsTheReaderJudgesIt) {
    const Case& c = GetParam();
    // (The bomb's data is made without its rows.)
    const bool small = uint64_t{c.layout.width} * c.layout.height <= 1000000;
    const Bytes data = c.data(small ? picture(c.layout) : Bytes());
    bool runsOn = !c.runsOn;
    const PngImageDataCheck result = checkPngImageData(data, c.layout, runsOn);
    EXPECT_EQ(result == PngImageDataCheck::complete, c.complete);
    Bytes stream;
    EXPECT_EQ(pngRowsAsStoredStream(data, c.layout, stream), c.complete);
    if (!c.complete) return;
    EXPECT_EQ(runsOn, c.runsOn);
    // Rebuilt, the stream holds exactly the rows, checksum and all.
    const Bytes rows = picture(c.layout);
    Bytes out(rows.size() + 1);
    uLongf outLength = static_cast<uLongf>(out.size());
    uLong streamLength = static_cast<uLong>(stream.size());
    ASSERT_EQ(uncompress2(out.data(), &outLength, stream.data(), &streamLength), Z_OK);
    EXPECT_EQ(streamLength, stream.size());
    out.resize(outLength);
    EXPECT_TRUE(out == rows);
}

const PngRowsLayout rgb{13, 11, 24, false};
const PngRowsLayout grey1Interlaced{13, 11, 1, true};
const PngRowsLayout rgba16Interlaced{9, 10, 64, true};
const PngRowsLayout onePixel{1, 1, 8, false};

Bytes withFilterAt(Bytes rows, size_t row, const PngRowsLayout& l, uint8_t type) {
    size_t total = 0;
    rows[filterBytes(l, total)[row]] = type;
    return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngImageData,
    ::testing::Values(
        Case{"Plain", rgb, zlibOf, true},
        Case{"InterlacedPackedGrey", grey1Interlaced, zlibOf, true},
        Case{"InterlacedSixteenBitRgba", rgba16Interlaced, zlibOf, true},
        Case{"OnePixel", onePixel, zlibOf, true},
        Case{"StreamLongerThanThePicture", rgb, [](const Bytes& r) {
                 Bytes more = r;
                 more.insert(more.end(), 100000, 0);
                 return zlibOf(more);
             }, true, true},
        Case{"AdlerChecksumWrong", rgb, [](const Bytes& r) { Bytes z = zlibOf(r); z.back() ^= 1; return z; }, true},
        Case{"AdlerChecksumMissing", rgb, [](const Bytes& r) { Bytes z = zlibOf(r); z.erase(z.end() - 4, z.end()); return z; },
             true},
        Case{"BytesAfterTheStream", rgb, [](const Bytes& r) { Bytes z = zlibOf(r); z.insert(z.end(), 50, 7); return z; },
             true},
        Case{"StreamEndsBeforeTheLastRow", rgb, [](const Bytes& r) { return zlibOf(Bytes(r.begin(), r.end() - 1)); },
             false},
        Case{"InterlacedStreamEndsBeforeTheLastPass", rgba16Interlaced,
             [](const Bytes& r) { return zlibOf(Bytes(r.begin(), r.end() - 1)); }, false},
        Case{"DataCutShort", rgb, [](const Bytes& r) { Bytes z = zlibOf(r); z.resize(z.size() / 2); return z; }, false},
        Case{"NoData", rgb, [](const Bytes&) { return Bytes(); }, false},
        Case{"ZlibHeaderWrong", rgb, [](const Bytes& r) { Bytes z = zlibOf(r); z[1] ^= 1; return z; }, false},
        Case{"FilterTypeFiveInTheFirstRow", rgb, [](const Bytes& r) { return zlibOf(withFilterAt(r, 0, rgb, 5)); },
             false},
        Case{"FilterTypeFiveInTheLastRow", rgb, [](const Bytes& r) { return zlibOf(withFilterAt(r, 10, rgb, 5)); },
             false},
        Case{"FilterTypeFiveInALaterPass", grey1Interlaced,
             [](const Bytes& r) { return zlibOf(withFilterAt(r, 9, grey1Interlaced, 200)); }, false},
        // A huge picture (1.5 GiB of rows) whose 4 MB of zeros end early:
        // refused after inflating the 4 MB, nothing picture-sized held.
        Case{"BombThatEndsEarly", PngRowsLayout{16384, 16384, 48, false},
             [](const Bytes&) { return zlibOf(Bytes(size_t{4} << 20, 0)); }, false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
