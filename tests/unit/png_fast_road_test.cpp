// The portable PNG decoder's fast road (libdeflate and our own unfiltering)
// against libspng: on every test PNG and on damaged variants of each (cut
// short, image data split into small chunks, data after the stream and
// after IEND, bad CRCs and checksums, corrupt deflate data), the fast road
// gives libspng's rows, or refuses what libspng refuses, or leaves the file
// to libspng. It must decide the sound files of its layouts itself.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/portable/png_roads.h"
#include "platform/portable/png_unfilter.h"
#include "writers/png_encoder.h"
#include "tests/unit/reader_test_support.h"

namespace {

using readertest::Bytes;

struct Rows {
    uint32_t width = 0, height = 0, channels = 0;
    bool begun = false;
    std::vector<Bytes> rows;
};

// Row bytes of the layout in IHDR, as the decoders hand rows over.
size_t storedRowBytes(const Bytes& file, uint32_t width) {
    static const uint32_t channelsOf[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint32_t depth = file[24], colourType = file[25] <= 6 ? file[25] : 1;
    return (size_t{width} * channelsOf[colourType] * depth + 7) / 8;
}

struct Collector {
    const Bytes* file;
    Rows rows;
};

bool beginRows(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& c = *static_cast<Collector*>(context);
    if (uint64_t{width} * height > (uint64_t{1} << 22)) return false;
    c.rows = Rows{width, height, channels, true, {}};
    c.rows.rows.assign(height, Bytes());
    return true;
}

void takeRow(void* context, uint32_t y, const uint8_t* stored) {
    auto& c = *static_cast<Collector*>(context);
    if (y < c.rows.rows.size()) c.rows.rows[y].assign(stored, stored + storedRowBytes(*c.file, c.rows.width));
}

enum class Outcome { decoded, refused, leftToLibspng };

struct Compared {
    Outcome fast;
    bool libspngOk;
    bool sameRows;
};

Compared compareRoads(const Bytes& file) {
    Collector fast{&file, {}}, slow{&file, {}};
    const FastPngResult result = decodePngFast(file, RowSink{&fast, beginRows, takeRow});
    const bool ok = decodePngWithLibspng(file, RowSink{&slow, beginRows, takeRow});
    const Outcome outcome = result == FastPngResult::decoded  ? Outcome::decoded
                            : result == FastPngResult::refused ? Outcome::refused
                                                                : Outcome::leftToLibspng;
    const bool same = fast.rows.width == slow.rows.width && fast.rows.height == slow.rows.height &&
                      fast.rows.channels == slow.rows.channels && fast.rows.rows == slow.rows.rows;
    return {outcome, ok, same};
}

// The roads agree: the fast road's rows are libspng's, and what it refuses
// libspng refuses.
void expectAgreement(const Bytes& file, const std::string& what) {
    const Compared c = compareRoads(file);
    if (c.fast == Outcome::decoded) {
        EXPECT_TRUE(c.libspngOk) << what << ": the fast road decoded what libspng refuses";
        EXPECT_TRUE(c.sameRows) << what << ": the roads give other rows";
    } else if (c.fast == Outcome::refused) {
        EXPECT_FALSE(c.libspngOk) << what << ": the fast road refused what libspng decodes";
    }
}

// ------------------------------------------------------------ chunks

struct Chunk {
    std::string type;
    Bytes data;
};

uint32_t big32(const Bytes& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

void putBig32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

std::vector<Chunk> chunksOf(const Bytes& file) {
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = big32(file, at);
        const auto start = file.begin() + static_cast<ptrdiff_t>(at);
        chunks.push_back({std::string(start + 4, start + 8), Bytes(start + 8, start + 8 + length)});
        at += 12 + length;
    }
    return chunks;
}

void appendChunk(Bytes& file, const std::string& type, const Bytes& data) {
    putBig32(file, static_cast<uint32_t>(data.size()));
    Bytes typeAndData(type.begin(), type.end());
    typeAndData.insert(typeAndData.end(), data.begin(), data.end());
    file.insert(file.end(), typeAndData.begin(), typeAndData.end());
    putBig32(file, static_cast<uint32_t>(crc32(0, typeAndData.data(), static_cast<uInt>(typeAndData.size()))));
}

// The file rebuilt with its image data (the IDAT chunks' data joined) as
// `change` leaves it, cut into IDAT chunks of `piece` bytes.
Bytes withImageData(const Bytes& file, const std::function<void(Bytes&)>& change, size_t piece = 1 << 20) {
    Bytes out(file.begin(), file.begin() + 8), data;
    const std::vector<Chunk> chunks = chunksOf(file);
    for (const Chunk& c : chunks)
        if (c.type == "IDAT") data.insert(data.end(), c.data.begin(), c.data.end());
    change(data);
    bool written = false;
    for (const Chunk& c : chunks) {
        if (c.type != "IDAT") {
            appendChunk(out, c.type, c.data);
        } else if (!written) {
            for (size_t at = 0; at < data.size(); at += piece)
                appendChunk(out, "IDAT",
                            Bytes(data.begin() + static_cast<ptrdiff_t>(at),
                                  data.begin() + static_cast<ptrdiff_t>(std::min(data.size(), at + piece))));
            written = true;
        }
    }
    return out;
}

// The offset of the first IDAT chunk.
size_t firstImageChunk(const Bytes& file) {
    size_t at = 8;
    while (at + 12 <= file.size() && std::memcmp(file.data() + at + 4, "IDAT", 4) != 0) at += 12 + big32(file, at);
    return at;
}

// ------------------------------------------------------------ cases

bool fastRoadLayout(const std::string& name) {
    return name.find("_plain") != std::string::npos && name.find("ct3") == std::string::npos &&
           (name.find("_d8_") != std::string::npos || name.find("_d16_") != std::string::npos);
}

std::vector<std::filesystem::path> testPngs() {
    std::vector<std::filesystem::path> files;
    for (const auto& path : readertest::dataFiles("png"))
        if (path.extension() == ".png") files.push_back(path);
    return files;
}

TEST(PngFastRoad, DecodesTheSoundFilesOfItsLayoutsToLibspngsRows) {
    const auto files = testPngs();
    ASSERT_EQ(files.size(), 54u);
    size_t decided = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        const Compared c = compareRoads(readertest::fileBytes(path));
        EXPECT_TRUE(c.libspngOk);
        if (fastRoadLayout(name)) {
            EXPECT_EQ(c.fast, Outcome::decoded);
            EXPECT_TRUE(c.sameRows);
            ++decided;
        } else {
            EXPECT_EQ(c.fast, Outcome::leftToLibspng);
        }
    }
    // Grey, grey and alpha, RGB and RGBA at 8 and 16 bits, each with and without extra chunks.
    EXPECT_EQ(decided, 16u);
}

TEST(PngFastRoad, AgreesWithLibspngOnEveryTruncation) {
    for (const auto& path : testPngs()) {
        const Bytes file = readertest::fileBytes(path);
        for (size_t length = 33; length < file.size(); ++length)
            expectAgreement(Bytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(length)),
                            path.filename().string() + " cut to " + std::to_string(length));
    }
}

struct Variant {
    const char* name;
    std::function<Bytes(const Bytes&)> make;
};

Bytes flipped(Bytes b, size_t at) {
    if (at < b.size()) b[at] ^= 0x10;
    return b;
}

const Variant variants[] = {
    {"ImageDataInOneByteChunks", [](const Bytes& f) { return withImageData(f, [](Bytes&) {}, 1); }},
    {"ImageDataInSevenByteChunks", [](const Bytes& f) { return withImageData(f, [](Bytes&) {}, 7); }},
    {"ImageDataInOneChunk", [](const Bytes& f) { return withImageData(f, [](Bytes&) {}); }},
    {"BytesAfterTheStream",
     [](const Bytes& f) { return withImageData(f, [](Bytes& d) { d.insert(d.end(), 300, 0x5A); }); }},
    {"AdlerChecksumWrong", [](const Bytes& f) { return withImageData(f, [](Bytes& d) { d.back() ^= 1; }); }},
    {"AdlerChecksumMissing",
     [](const Bytes& f) { return withImageData(f, [](Bytes& d) { d.erase(d.end() - std::min<ptrdiff_t>(4, std::ssize(d)), d.end()); }); }},
    {"LastRowsMissing", [](const Bytes& f) { return withImageData(f, [](Bytes& d) { d.resize(d.size() / 2); }); }},
    {"ZlibHeaderCheckWrong", [](const Bytes& f) { return withImageData(f, [](Bytes& d) { d[1] ^= 1; }); }},
    {"PresetDictionaryAsked",
     [](const Bytes& f) {
         return withImageData(f, [](Bytes& d) {
             d[1] = static_cast<uint8_t>((d[1] | 0x20) & 0xE0);
             d[1] = static_cast<uint8_t>(d[1] + (31 - (d[0] * 256 + d[1]) % 31));
         });
     }},
    {"WindowTooLarge",
     [](const Bytes& f) {
         return withImageData(f, [](Bytes& d) {
             d[0] = 0x88;
             d[1] = static_cast<uint8_t>(d[1] & 0xE0);
             d[1] = static_cast<uint8_t>(d[1] + (31 - (d[0] * 256 + d[1]) % 31));
         });
     }},
    {"MoreImageDataChunksAfterTheStream",
     [](const Bytes& f) {
         Bytes out = withImageData(f, [](Bytes&) {});
         Bytes more;
         appendChunk(more, "IDAT", {1, 2, 3, 4, 5});
         const size_t iend = out.size() - 12;
         out.insert(out.begin() + static_cast<ptrdiff_t>(iend), more.begin(), more.end());
         return out;
     }},
    {"BytesAfterIend", [](const Bytes& f) { Bytes out = f; out.insert(out.end(), 64, 0xEE); return out; }},
    {"IendMissing", [](const Bytes& f) { return Bytes(f.begin(), f.end() - 12); }},
    {"FirstImageChunkCrcWrong", [](const Bytes& f) {
         const size_t at = firstImageChunk(f);
         return flipped(f, at + 8 + big32(f, at));
     }},
    {"LastImageChunkCrcWrong", [](const Bytes& f) {
         Bytes out = withImageData(f, [](Bytes&) {}, 16);
         return flipped(out, out.size() - 12 - 4);
     }},
};

TEST(PngFastRoad, AgreesWithLibspngOnDamagedAndUnusualVariants) {
    for (const auto& path : testPngs())
        for (const Variant& v : variants)
            expectAgreement(v.make(readertest::fileBytes(path)), path.filename().string() + " " + v.name);
}

TEST(PngFastRoad, AgreesWithLibspngOnCorruptDeflateData) {
    // A bit flipped at every 3rd byte of the image data, with the CRCs made
    // right again, so that the deflate stream itself is damaged.
    for (const auto& path : testPngs()) {
        const std::string name = path.filename().string();
        if (!fastRoadLayout(name)) continue;
        const Bytes file = readertest::fileBytes(path);
        size_t dataSize = 0;
        withImageData(file, [&](Bytes& d) { dataSize = d.size(); });
        for (size_t at = 2; at < dataSize; at += 3)
            expectAgreement(withImageData(file, [at](Bytes& d) { d[at] ^= 0x04; }),
                            name + " byte " + std::to_string(at) + " flipped");
    }
}

bool appendBytes(void* context, const void* bytes, size_t size) {
    auto* out = static_cast<Bytes*>(context);
    const auto* b = static_cast<const uint8_t*>(bytes);
    out->insert(out->end(), b, b + size);
    return true;
}

TEST(PngFastRoad, UndoesEveryFilterAtEveryPixelSizeAsLibspngDoes) {
    // Samples from a few values near 0 and 255, so that Paeth's ties and
    // the sums that wrap around come up often.
    constexpr uint32_t width = 37, height = 23;
    Bytes samples(size_t{width} * height * 8);
    uint32_t state = 12345;
    for (uint8_t& v : samples) {
        state = state * 1103515245u + 12345u;
        const uint32_t r = (state >> 16) % 8;
        v = static_cast<uint8_t>(r < 4 ? r : 251 + r);
    }
    for (int filter = 0; filter <= 4; ++filter)
        for (uint32_t channels : {3u, 4u})
            for (uint32_t bits : {8u, 16u}) {
                const std::string what = "filter " + std::to_string(filter) + ", " + std::to_string(channels) +
                                         " channels, " + std::to_string(bits) + " bits";
                PixelRows rows;
                rows.first = samples.data();
                rows.stride = static_cast<ptrdiff_t>(width * channels * bits / 8);
                rows.width = width;
                rows.height = height;
                rows.channels = channels;
                rows.sampleBits = bits;
                PngEncoderTuning tuning;
                tuning.filter = filter;
                Bytes file;
                ASSERT_TRUE(encodePngTuned(rows, ByteSink{&file, appendBytes}, tuning)) << what;
                const Compared c = compareRoads(file);
                EXPECT_EQ(c.fast, Outcome::decoded) << what;
                EXPECT_TRUE(c.libspngOk) << what;
                EXPECT_TRUE(c.sameRows) << what;
            }
}

// Rows unfiltered as the PNG format defines each filter, one byte at a time.
void unfilterByDefinition(Bytes& rows, size_t stride, Bytes above, size_t bpp) {
    for (size_t y = 0; y * stride < rows.size(); ++y) {
        uint8_t* row = rows.data() + y * stride + 1;
        for (size_t i = 0; i + 1 < stride; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            const int predictions[5] = {0, a, b, (a + b) / 2, paeth};
            row[i] = static_cast<uint8_t>(row[i] + predictions[row[-1]]);
        }
        above.assign(row, row + stride - 1);
    }
}

TEST(PngUnfilter, EverySequenceOfFiltersAtEveryPixelSizeAsDefined) {
    // Paeth rows go four or two at a time: runs of them of every length up
    // to nine, between rows of the other filters, at the top and bottom of
    // what is unfiltered.
    const std::vector<std::vector<uint8_t>> sequences = {
        {4}, {4, 4}, {4, 4, 4}, {1, 4, 4, 2, 4}, {4, 3, 4, 4, 4, 4, 0}, {2, 4, 1, 4, 3, 4, 0, 4, 4},
        {4, 4, 4, 4, 4}, {3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 1}, {4, 4, 4, 2, 4, 4, 4, 4, 4, 4}};
    for (size_t bpp : {1, 2, 3, 4, 6, 8})
        for (size_t width : {1, 2, 9})
            for (const auto& types : sequences) {
                const size_t stride = width * bpp + 1;
                Bytes rows(types.size() * stride + unfilterReadsPast), above(stride - 1 + unfilterReadsPast);
                uint32_t state = static_cast<uint32_t>(bpp * 131 + width * 7 + types.size());
                const auto next = [&] {
                    state = state * 1103515245u + 12345u;
                    const uint32_t r = (state >> 16) % 8;
                    return static_cast<uint8_t>(r < 4 ? r : 251 + r);  // near 0 and 255: ties, wraps
                };
                for (uint8_t& v : rows) v = next();
                for (uint8_t& v : above) v = next();
                for (size_t y = 0; y < types.size(); ++y) rows[y * stride] = types[y];
                const auto end = rows.begin() + static_cast<ptrdiff_t>(types.size() * stride);
                Bytes expected(rows.begin(), end);
                unfilterByDefinition(expected, stride, above, bpp);
                expected.insert(expected.end(), end, rows.end());  // the bytes past the rows are only read
                ASSERT_TRUE(unfilterPngRows(rows.data(), stride, above.data(), bpp, static_cast<uint32_t>(types.size())));
                EXPECT_EQ(rows, expected) << "bpp " << bpp << ", width " << width << ", " << types.size() << " rows";
            }
    Bytes bad = {5, 1, 2, 3};
    EXPECT_FALSE(unfilterPngRows(bad.data(), 4, bad.data(), 3, 1)) << "filter type 5";
}

TEST(PngFastRoad, RefusesABombBeforeAllocatingIt) {
    // 16384 x 16384 RGBA (1 GiB of rows) from 20 bytes of image data.
    Bytes file = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    Bytes ihdr;
    putBig32(ihdr, 16384);
    putBig32(ihdr, 16384);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    appendChunk(file, "IHDR", ihdr);
    appendChunk(file, "IDAT", {0x78, 0x9C, 0x63, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    appendChunk(file, "IEND", {});
    Collector sink{&file, {}};
    EXPECT_EQ(decodePngFast(file, RowSink{&sink, beginRows, takeRow}), FastPngResult::refused);
    EXPECT_FALSE(sink.rows.begun);
}

}  // namespace

#endif
