// The compressor's chunks, laid end to end, must be one raw deflate stream
// that zlib inflates to exactly the bytes given, whatever they hold.
#include <zlib.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "writers/deflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Case {
    const char* name;
    size_t size;
    size_t period;     // bytes repeat at this distance; 0 for random bytes
    size_t chunkSize;  // bytes a chunk; 0 for one chunk
    unsigned chain;
    size_t rowDistance;
    DeflateSearch search = DeflateSearch::full;
};

Bytes makeBytes(const Case& c) {
    std::mt19937 random(static_cast<unsigned>(c.size * 31 + c.period));
    Bytes b(c.size);
    for (size_t i = 0; i < b.size(); ++i) {
        if (c.period && i >= c.period && random() % 64 != 0)
            b[i] = b[i - c.period];  // mostly a repeat, now and then a new byte
        else
            b[i] = static_cast<uint8_t>(c.period == 1 ? 7 : random());
    }
    return b;
}

Bytes inflateRaw(const Bytes& stream, size_t expected, bool& whole) {
    z_stream z{};
    Bytes out(expected + 16);
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    whole = status == Z_STREAM_END && z.avail_in == 0;
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return out;
}

class DeflateCases : public ::testing::TestWithParam<Case> {};

TEST_P(DeflateCases, ChunksInflateToTheBytesGiven) {
    const Case& c = GetParam();
    const Bytes data = makeBytes(c);
    DeflateCompressor compressor;
    DeflateOptions options;
    options.search = c.search;
    options.chain = c.chain;
    options.rowDistance = c.rowDistance;
    Bytes stream;
    const size_t chunk = c.chunkSize ? c.chunkSize : std::max<size_t>(c.size, 1);
    size_t at = 0;
    do {
        const size_t n = std::min(chunk, c.size - at);
        ASSERT_TRUE(compressor.compress(data.data() + at, n, at, at + n == c.size, options, stream));
        at += n;
    } while (at < c.size);
    bool whole = false;
    const Bytes back = inflateRaw(stream, c.size, whole);
    EXPECT_TRUE(whole) << "the stream must end with its final block and nothing after it";
    ASSERT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data);
    // Random bytes are stored, not inflated by the codes: a few bytes a block.
    if (c.period == 0) {
        EXPECT_LE(stream.size(), c.size + 5 * (c.size / 65535 + 2) * (c.size / chunk + 1));
    }
    // A run of one byte or a steady repeat shrinks to a sliver.
    if (c.period == 1) {
        EXPECT_LT(stream.size(), c.size / 100 + 64);
    }
    // The greedy search, skipping ahead over random bytes, still finds a
    // repeat at any distance (a tiled picture) and follows it.
    if (c.search == DeflateSearch::greedy && c.period > 1) {
        EXPECT_LT(stream.size(), c.period + c.size / 8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeflateCases,
    ::testing::Values(Case{"Empty", 0, 0, 0, 16, 0}, Case{"OneByte", 1, 0, 0, 16, 0},
                      Case{"FourBytes", 4, 1, 0, 16, 0},
                      Case{"RandomBytesAreStored", 200000, 0, 0, 16, 0},
                      Case{"RandomBytesHuffmanOnly", 300000, 0, 70000, 0, 0, DeflateSearch::literals},
                      Case{"OneByteRun", 1 << 20, 1, 0, 16, 0},
                      Case{"RepeatOfAPixelRow", 1 << 20, 768, 0, 16, 0},
                      Case{"RowDistanceFirst", 500000, 12289, 100000, 16, 12289},
                      Case{"DistancesAtTheTableSeam", 100000, 256, 0, 16, 257},
                      Case{"FarthestDistance", 200000, 32768, 0, 16, 32768},
                      Case{"JustPastTheWindow", 200000, 32769, 0, 16, 32769},
                      Case{"ManySmallChunks", 100000, 300, 999, 16, 301},
                      Case{"ChunksOfOneByte", 600, 3, 1, 4, 0},
                      Case{"LongChainsOfShortRepeats", 400000, 5, 0, 1000, 0},
                      Case{"HuffmanOnlyRepeats", 100000, 7, 33333, 0, 0, DeflateSearch::literals},
                      // The period of a map enlarged 16 times (48 bytes), found
                      // along the long chain and then among the distances used last.
                      Case{"PeriodOfAnEnlargedMap", 400000, 48, 150000, 32, 12289},
                      // Runs of longest matches at one distance, with only their
                      // tails entered in the chains, on deep searches.
                      Case{"LongRunsOnDeepSearches", 1 << 20, 1, 300000, 200, 0},
                      Case{"ShortChainOnAPeriod", 200000, 96, 0, 1, 3},
                      Case{"GreedyOnRandomBytes", 300000, 0, 100000, 0, 0, DeflateSearch::greedy},
                      Case{"GreedyFindsATileAtAnOddDistance", 600000, 24577, 0, 0, 0, DeflateSearch::greedy},
                      Case{"GreedyFindsATileOneRowBack", 600000, 12288, 200000, 0, 12289, DeflateSearch::greedy},
                      Case{"GreedyOnARun", 1 << 20, 1, 300000, 0, 0, DeflateSearch::greedy},
                      Case{"GreedyAtTheFarthestDistance", 200000, 32768, 70000, 0, 0, DeflateSearch::greedy}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
