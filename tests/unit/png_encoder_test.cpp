// The PNG encoder: pictures of every layout PixelRows describes (1, 3 or 4
// channels, 8 or 16 bits, red-green-blue or blue-green-red, top row first
// or last, padded rows), in chunks that do and do not divide the picture,
// encoded and handed to the system's PNG decoder give back their samples;
// the file holds IHDR, IDAT and IEND only and its zlib stream is whole,
// checksum and all.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codecs.h"
#include "writers/png_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Layout {
    const char* name;
    uint32_t width, height, channels, bits;
    bool bgr = false;
    bool bottomUp = false;
    uint32_t padding = 0;   // bytes after each row in memory
    size_t chunkBytes = 0;  // 0: the encoder's own
    unsigned threads = 0;   // 0: one a core
    bool noisy = false;     // samples that deflate hardly at all
    uint32_t tile = 0;      // noise that repeats every `tile` pixels along a row; 0 for none
    friend void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }
};

// Sample c of pixel (x, y), top row 0, in the file's channel order: smooth
// slopes with a few steps, or noise.
uint32_t sampleAt(const Layout& l, uint32_t x, uint32_t y, uint32_t c) {
    uint32_t v;
    if (l.tile) x %= l.tile;
    if (l.noisy) {
        v = (x * 2654435761u) ^ (y * 40503u + c * 977u);
        v ^= v >> 13;
        v *= 0x5bd1e995u;
        v ^= v >> 15;
    } else {
        v = (x * (3 + c) + y * (5 + 2 * c) + ((x / 7 + y / 5) % 3) * 40) * 521u;
    }
    return l.bits == 16 ? (v & 0xFFFF) : (v & 0xFF);
}

// The picture in memory as `l` lays it out, and as the file stores it.
struct Picture {
    Bytes memory;
    Bytes stored;  // rows top first, red-green-blue(-alpha), 16 bits most significant byte first
    PixelRows rows;
};

Picture makePicture(const Layout& l) {
    Picture p;
    const uint32_t sampleBytes = l.bits / 8;
    const size_t rowBytes = size_t{l.width} * l.channels * sampleBytes;
    const size_t stride = rowBytes + l.padding;
    p.memory.assign(stride * l.height, 0xCD);
    for (uint32_t y = 0; y < l.height; ++y) {
        const uint32_t memoryRow = l.bottomUp ? l.height - 1 - y : y;
        uint8_t* row = p.memory.data() + memoryRow * stride;
        for (uint32_t x = 0; x < l.width; ++x)
            for (uint32_t c = 0; c < l.channels; ++c) {
                const uint32_t v = sampleAt(l, x, y, c);
                p.stored.push_back(static_cast<uint8_t>(l.bits == 16 ? v >> 8 : v));
                if (l.bits == 16) p.stored.push_back(static_cast<uint8_t>(v));
                const uint32_t memoryChannel = l.bgr && c < 3 ? 2 - c : c;
                uint8_t* at = row + (size_t{x} * l.channels + memoryChannel) * sampleBytes;
                if (l.bits == 16) {
                    const auto word = static_cast<uint16_t>(v);
                    std::memcpy(at, &word, 2);  // native byte order
                } else {
                    *at = static_cast<uint8_t>(v);
                }
            }
    }
    const auto signedStride = static_cast<ptrdiff_t>(stride);
    p.rows.first = p.memory.data() + (l.bottomUp ? (static_cast<ptrdiff_t>(l.height) - 1) * signedStride : 0);
    p.rows.stride = l.bottomUp ? -signedStride : signedStride;
    p.rows.width = l.width;
    p.rows.height = l.height;
    p.rows.channels = l.channels;
    p.rows.sampleBits = l.bits;
    p.rows.bgr = l.bgr;
    return p;
}

bool appendBytes(void* context, const void* bytes, size_t size) {
    auto* out = static_cast<Bytes*>(context);
    const auto* b = static_cast<const uint8_t*>(bytes);
    out->insert(out->end(), b, b + size);
    return true;
}

bool encode(const Layout& l, const PixelRows& rows, Bytes& file) {
    PngEncoderTuning tuning;
    tuning.chunkBytes = l.chunkBytes;
    tuning.threads = l.threads;
    return encodePngTuned(rows, ByteSink{&file, appendBytes}, tuning);
}

uint32_t big32(const Bytes& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

struct Decoded {
    uint32_t width = 0, height = 0, channels = 0;
    Bytes stored;
    size_t rowBytes = 0;
};

bool beginDecoded(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& d = *static_cast<Decoded*>(context);
    d.width = width;
    d.height = height;
    d.channels = channels;
    return true;
}

void rowDecoded(void* context, uint32_t, const uint8_t* row) {
    auto& d = *static_cast<Decoded*>(context);
    d.stored.insert(d.stored.end(), row, row + d.rowBytes);
}

class PngEncoderLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(PngEncoderLayouts, TheSystemsDecoderGivesBackEverySample) {
    const Layout& l = GetParam();
    const Picture picture = makePicture(l);
    Bytes file;
    ASSERT_TRUE(encode(l, picture.rows, file));
    Decoded decoded;
    decoded.rowBytes = size_t{l.width} * l.channels * (l.bits / 8);
    ASSERT_TRUE(platformDecodePng(file, RowSink{&decoded, beginDecoded, rowDecoded}));
    EXPECT_EQ(decoded.width, l.width);
    EXPECT_EQ(decoded.height, l.height);
    EXPECT_EQ(decoded.channels, l.channels);
    ASSERT_EQ(decoded.stored.size(), picture.stored.size());
    EXPECT_TRUE(decoded.stored == picture.stored);
}

TEST_P(PngEncoderLayouts, TheFileHoldsOnlyCriticalChunksAndOneWholeZlibStream) {
    const Layout& l = GetParam();
    const Picture picture = makePicture(l);
    Bytes file;
    ASSERT_TRUE(encode(l, picture.rows, file));
    const Bytes signature = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    ASSERT_GE(file.size(), 8u + 25u + 12u);
    ASSERT_TRUE(std::equal(signature.begin(), signature.end(), file.begin()));
    std::string types;
    Bytes stream;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = big32(file, at);
        ASSERT_LE(at + 12 + length, file.size());
        const std::string type(file.begin() + static_cast<ptrdiff_t>(at + 4), file.begin() + static_cast<ptrdiff_t>(at + 8));
        types += (types.empty() ? "" : " ") + type;
        const uLong crc = crc32(0, file.data() + at + 4, 4 + length);
        EXPECT_EQ(crc, big32(file, at + 8 + length)) << type;
        if (type == "IHDR") {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(big32(file, at + 8), l.width);
            EXPECT_EQ(big32(file, at + 12), l.height);
            EXPECT_EQ(file[at + 16], l.bits);
            EXPECT_EQ(file[at + 17], l.channels == 1 ? 0 : l.channels == 4 ? 6 : 2);
            EXPECT_EQ(file[at + 20], 0);  // not interlaced
        }
        if (type == "IDAT") stream.insert(stream.end(), file.begin() + static_cast<ptrdiff_t>(at + 8),
                                          file.begin() + static_cast<ptrdiff_t>(at + 8 + length));
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size());
    // IHDR, one or more IDAT, IEND.
    std::string expected = "IHDR";
    while (expected.size() + 5 < types.size()) expected += " IDAT";
    EXPECT_EQ(types, expected + " IEND");
    EXPECT_GE(expected.size(), 9u);
    // zlib's own inflate checks the header, every block and the Adler-32,
    // and must use up the whole stream on exactly the picture's bytes.
    const size_t rawSize = size_t{l.height} * (1 + size_t{l.width} * l.channels * (l.bits / 8));
    Bytes raw(rawSize + 1);
    uLongf rawLength = static_cast<uLongf>(raw.size());
    uLong streamLength = static_cast<uLong>(stream.size());
    ASSERT_EQ(uncompress2(raw.data(), &rawLength, stream.data(), &streamLength), Z_OK);
    EXPECT_EQ(rawLength, rawSize);
    EXPECT_EQ(streamLength, stream.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngEncoderLayouts,
    ::testing::Values(
        Layout{"OnePixel", 1, 1, 3, 8},
        // A display bitmap: blue-green-red, bottom row first, rows padded to 4 bytes.
        Layout{"DisplayBitmapLayout", 5, 3, 3, 8, true, true, 1},
        Layout{"RgbaTopDown", 7, 9, 4, 8},
        Layout{"BgraBottomUp", 6, 4, 4, 8, true, true},
        Layout{"SixteenBitRgb", 9, 4, 3, 16},
        Layout{"SixteenBitRgbaBottomUpPadded", 6, 5, 4, 16, false, true, 6},
        Layout{"Grey", 13, 7, 1, 8},
        Layout{"SixteenBitGreyBottomUpPadded", 9, 6, 1, 16, false, true, 2},
        Layout{"SixteenBitGreyChunks", 300, 40, 1, 16, false, false, 0, 2048, 2},
        // Rows of 121 filtered bytes, 8 to a chunk: 38 chunks on 3 threads,
        // each primed with rows from more than one chunk before it.
        Layout{"ManySmallChunks", 40, 300, 3, 8, false, false, 0, 1024, 3},
        // A row of 5601 bytes is more than a chunk: a chunk a row.
        Layout{"RowLargerThanAChunk", 700, 6, 4, 16, false, false, 0, 1024, 2},
        Layout{"ChunksThatDoNotDivideTheHeight", 33, 77, 4, 8, true, true, 0, 2048, 1},
        Layout{"ChunksOnOneThread", 50, 90, 3, 16, false, false, 0, 4096, 1},
        // Over a megabyte of rows: two chunks of the encoder's own size.
        Layout{"TwoDefaultChunks", 700, 520, 3, 8, true, true, 3},
        // Over four megabytes that hardly deflate: more than one IDAT chunk.
        Layout{"SeveralIdatChunks", 800, 820, 4, 16, false, false, 0, 0, 0, true},
        // Noise that repeats along each row: busy chunks that the trial
        // finds repeating, deflated with the greedy search.
        Layout{"BusyRowsThatRepeat", 512, 700, 3, 16, false, false, 0, 0, 0, true, 97}),
    [](const auto& param) { return std::string(param.param.name); });

// Busy rows that repeat every 97 pixels deflate to little more than their
// first 97 pixels; coded byte by byte (Huffman codes alone), the noise
// would take nearly its whole size.
TEST(PngEncoderSize, BusyRowsThatRepeatDeflateToAboutTheirRepeat) {
    const Layout l{"BusyRowsThatRepeat", 512, 700, 3, 16, false, false, 0, 0, 0, true, 97};
    const Picture picture = makePicture(l);
    Bytes file;
    ASSERT_TRUE(encode(l, picture.rows, file));
    EXPECT_LT(file.size(), picture.stored.size() * 3 / 10);
}

struct Refused {
    const char* name;
    PixelRows rows;
};

class PngEncoderRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(PngEncoderRefuses, PicturesThatCannotBeAPng) {
    Bytes file;
    EXPECT_FALSE(encodePng(GetParam().rows, ByteSink{&file, appendBytes}));
}

const uint8_t somePixels[64] = {};

PixelRows rowsOf(uint32_t width, uint32_t height, uint32_t channels, uint32_t bits, bool bgr = false,
                 const uint8_t* first = somePixels, ptrdiff_t stride = 8) {
    PixelRows r;
    r.first = first;
    r.stride = stride;
    r.width = width;
    r.height = height;
    r.channels = channels;
    r.sampleBits = bits;
    r.bgr = bgr;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngEncoderRefuses,
    ::testing::Values(Refused{"NoRows", rowsOf(1, 1, 3, 8, false, nullptr)},
                      Refused{"ZeroWidth", rowsOf(0, 1, 3, 8)}, Refused{"ZeroHeight", rowsOf(1, 0, 3, 8)},
                      Refused{"WidthPastTheFormatsLimit", rowsOf(0x80000000u, 1, 3, 8)},
                      Refused{"TwoChannels", rowsOf(1, 1, 2, 8)}, Refused{"TwelveBits", rowsOf(1, 1, 3, 12)},
                      Refused{"BlueFirstSixteenBits", rowsOf(1, 1, 3, 16, true)},
                      Refused{"BlueFirstGrey", rowsOf(1, 1, 1, 8, true)},
                      Refused{"Floats", [] {
                                  PixelRows r = rowsOf(1, 1, 1, 32);
                                  r.floats = true;
                                  return r;
                              }()},
                      Refused{"OverlappingRows", rowsOf(2, 2, 3, 8, false, somePixels, 5)}),
    [](const auto& param) { return std::string(param.param.name); });

// Rows made while the encoder runs: the picture's memory holds nothing
// until a chunk's rows are prepared, and chunk 0 is prepared only after
// chunk 1 has been, so that the encoder must hold chunk 1 back until the
// rows above it are there.
struct LateRows {
    const Picture* source = nullptr;
    Picture* target = nullptr;
    size_t stride = 0;
    std::vector<int> prepared;  // per row
    std::mutex lock;
    std::condition_variable changed;
    bool secondStarted = false;
};

void prepareLate(void* context, uint32_t top, uint32_t end) {
    auto& late = *static_cast<LateRows*>(context);
    {
        std::unique_lock hold(late.lock);
        if (top == 0)
            late.changed.wait_for(hold, std::chrono::seconds(10), [&] { return late.secondStarted; });
        else
            late.secondStarted = true;
        late.changed.notify_all();
        for (uint32_t y = top; y < end; ++y) ++late.prepared[y];
    }
    std::memcpy(late.target->memory.data() + top * late.stride, late.source->memory.data() + top * late.stride,
                (end - top) * late.stride);
}

TEST(PngEncoderPrepared, RowsAreReadOnlyOnceTheyAndTheRowsAboveArePrepared) {
    // About 4.5 MB of rows: five chunks of the encoder's own size.
    const Layout l{"Late", 1000, 1500, 3, 8};
    const Picture source = makePicture(l);
    Picture target = makePicture(l);
    std::fill(target.memory.begin(), target.memory.end(), uint8_t{0xCD});
    LateRows late;
    late.source = &source;
    late.target = &target;
    late.stride = size_t{l.width} * 3;
    late.prepared.assign(l.height, 0);
    Bytes file;
    ASSERT_TRUE(encodePngPrepared(target.rows, ByteSink{&file, appendBytes}, RowPreparer{&late, prepareLate}, 3));
    EXPECT_TRUE(late.secondStarted);
    EXPECT_EQ(std::count(late.prepared.begin(), late.prepared.end(), 1), static_cast<ptrdiff_t>(l.height));
    Decoded decoded;
    decoded.rowBytes = size_t{l.width} * 3;
    ASSERT_TRUE(platformDecodePng(file, RowSink{&decoded, beginDecoded, rowDecoded}));
    EXPECT_TRUE(decoded.stored == source.stored);
}

bool failAfter(void* context, const void*, size_t) {
    auto& left = *static_cast<int*>(context);
    return left-- > 0;
}

TEST(PngEncoderSink, AFailingSinkStopsTheEncodingWhereverItFails) {
    const Layout l{"Failing", 40, 300, 3, 8, false, false, 0, 1024, 2};
    const Picture picture = makePicture(l);
    PngEncoderTuning tuning;
    tuning.chunkBytes = l.chunkBytes;
    int unlimited = 1 << 30;
    ASSERT_TRUE(encodePngTuned(picture.rows, ByteSink{&unlimited, failAfter}, tuning));
    const int writes = (1 << 30) - unlimited;
    // At the signature, in IHDR, in the image data, at IEND's last bytes.
    for (int allowed : {0, 2, writes / 2, writes - 1}) {
        int left = allowed;
        EXPECT_FALSE(encodePngTuned(picture.rows, ByteSink{&left, failAfter}, tuning)) << allowed;
    }
}

}  // namespace
