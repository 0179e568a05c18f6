// The atomic save's sink: whatever pieces a writer hands it, small or larger
// than its block, in any order of sizes, the file holds exactly their bytes;
// and a fill or a write that fails leaves the earlier file and no temporary
// file behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "tests/unit/test_files.h"
#include "writers/atomic_file.h"

namespace {

using testing_files::Bytes;

constexpr size_t mib = size_t{1} << 20;

// Bytes that differ from their neighbours and repeat only far apart, so a
// piece written twice, dropped or moved shows.
Bytes pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + i / 997);
    return bytes;
}

// A fill that writes `pattern` in pieces of the given sizes, then answers
// `result`.
struct Pieces {
    std::vector<size_t> sizes;
    Bytes bytes;
    bool result = true;
};

bool fillPieces(void* context, const ByteSink& out) {
    const auto& c = *static_cast<const Pieces*>(context);
    size_t at = 0;
    for (size_t size : c.sizes) {
        if (!out.write(out.context, c.bytes.data() + at, size)) return false;
        at += size;
    }
    return c.result;
}

Pieces piecesOf(std::vector<size_t> sizes) {
    Pieces pieces;
    size_t total = 0;
    for (size_t size : sizes) total += size;
    pieces.sizes = std::move(sizes);
    pieces.bytes = pattern(total);
    return pieces;
}

std::vector<size_t> repeated(size_t size, size_t times) { return std::vector<size_t>(times, size); }

struct SinkCase {
    const char* name;
    std::vector<size_t> sizes;
};
void PrintTo(const SinkCase& c, std::ostream* out) { *out << c.name; }

class SinkPieces : public ::testing::TestWithParam<SinkCase> {};

TEST_P(SinkPieces, TheFileHoldsEveryPieceInOrder) {
    testing_files::TempDir dir;
    Pieces pieces = piecesOf(GetParam().sizes);
    const std::string path = dir.file("out.bin");
    ASSERT_TRUE(writeFileAtomically(path.c_str(), fillPieces, &pieces));
    const Bytes written = testing_files::readFile(path);
    ASSERT_EQ(written.size(), pieces.bytes.size());
    EXPECT_TRUE(written == pieces.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SinkPieces,
    ::testing::Values(SinkCase{"Nothing", {}}, SinkCase{"EmptyPiecesBetween", {0, 10, 0, 0, 7, 0}},
                      SinkCase{"RowsOfATarga", repeated(3 * 1021, 700)},
                      SinkCase{"ExactlyOneBlock", {mib}}, SinkCase{"BlocksEndToEnd", {mib, mib, mib}},
                      SinkCase{"HeaderThenAWholePicture", {54, 3 * mib + 5}},
                      SinkCase{"PiecesThatTopUpTheBlock", {100, mib - 100, 5, mib - 5, 1}},
                      SinkCase{"OneByteShortOfABlock", {mib - 1, mib - 1, mib - 1, 3}},
                      SinkCase{"HalfBlocks", repeated(mib / 2 + 3, 7)},
                      SinkCase{"LargeAfterSmall", {1, 2 * mib, 1, 2 * mib + 1}}),
    [](const auto& param) { return std::string(param.param.name); });

// The target holds `earlier` and the folder nothing else.
void expectOnlyEarlierFile(const testing_files::TempDir& dir, const std::string& path, const Bytes& earlier) {
    EXPECT_TRUE(testing_files::readFile(path) == earlier);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(AtomicSave, AFillThatFailsAfterManyBytesKeepsTheEarlierFile) {
    testing_files::TempDir dir;
    const std::string path = dir.file("out.bin");
    const Bytes earlier = pattern(5000);
    testing_files::writeFile(path, earlier);
    for (const auto& sizes : {std::vector<size_t>{10}, std::vector<size_t>{mib + 3}, repeated(5000, 500)}) {
        Pieces pieces = piecesOf(sizes);
        pieces.result = false;
        EXPECT_FALSE(writeFileAtomically(path.c_str(), fillPieces, &pieces));
        EXPECT_EQ(errno, 0);  // the fill's own failure: no system reason
        expectOnlyEarlierFile(dir, path, earlier);
    }
}

#ifndef _WIN32
// A file size limit makes the system refuse a write (EFBIG) at a chosen
// length: in a piece written through, in a block topped up, or in the last
// bytes still held when the fill ends.
TEST(AtomicSave, AWriteTheSystemRefusesKeepsTheEarlierFileAndSaysWhy) {
    testing_files::TempDir dir;
    const std::string path = dir.file("out.bin");
    const Bytes earlier = pattern(4000);
    testing_files::writeFile(path, earlier);
    const struct {
        const char* name;
        std::vector<size_t> sizes;
    } cases[] = {{"written through", {54, 3 * mib}},
                 {"topped-up block", repeated(3 * 1021, 1000)},
                 {"held at the end", {mib + mib / 2, 1000}}};
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(mib + mib / 2 + 10);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pieces pieces = piecesOf(c.sizes);
        ASSERT_GT(pieces.bytes.size(), static_cast<size_t>(limited.rlim_cur));
        const bool ok = writeFileAtomically(path.c_str(), fillPieces, &pieces);
        const int reason = errno;
        EXPECT_FALSE(ok);
        EXPECT_EQ(reason, EFBIG);
        expectOnlyEarlierFile(dir, path, earlier);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
}
#endif

}  // namespace
