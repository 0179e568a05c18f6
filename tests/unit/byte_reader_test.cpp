#include <gtest/gtest.h>

#include <cstring>

#include "platform/basics.h"
#include "tests/unit/test_files.h"

namespace {

using testing_files::Bytes;

TEST(ByteReader, ReadsLittleEndianValues) {
    const Bytes bytes = {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12};
    ByteReader reader = readerOver(bytes);
    uint8_t a = 0;
    uint16_t b = 0;
    uint32_t c = 0;
    EXPECT_TRUE(readU8(&reader, a));
    EXPECT_TRUE(readU16(&reader, b));
    EXPECT_TRUE(readU32(&reader, c));
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x1234);
    EXPECT_EQ(c, 0x12345678u);
    EXPECT_EQ(reader.cursor, 7u);
}

TEST(ByteReader, ReadsFailWithoutMovingTheCursorWhenBytesAreShort) {
    const Bytes bytes = {1, 2, 3, 4, 5};
    ByteReader reader = readerOver(bytes);
    setCursor(&reader, 2);
    uint32_t value = 0;
    EXPECT_FALSE(readU32(&reader, value));  // 3 bytes left
    EXPECT_EQ(reader.cursor, 2u);
    setCursor(&reader, 1);
    EXPECT_TRUE(readU32(&reader, value));  // exactly 4 left
    EXPECT_EQ(reader.cursor, reader.length);
    uint8_t byte = 0;
    EXPECT_FALSE(readU8(&reader, byte));
    uint16_t half = 0;
    EXPECT_FALSE(readU16(&reader, half));
    uint8_t block[2];
    EXPECT_FALSE(readBlock(&reader, 2, block));
    EXPECT_TRUE(readBlock(&reader, 0, block));
    EXPECT_EQ(reader.cursor, 5u);
}

TEST(ByteReader, CursorPastTheEndOrNearTheTopOfTheRangeNeverReads) {
    const Bytes bytes = {1, 2, 3, 4};
    ByteReader reader = readerOver(bytes);
    uint8_t byte = 0;
    std::span<const uint8_t> view;
    setCursor(&reader, 100);
    EXPECT_FALSE(readU8(&reader, byte));
    EXPECT_EQ(bytesLeft(&reader), 0u);
    for (uint32_t cursor : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFCu}) {
        setCursor(&reader, cursor);
        uint32_t value = 0;
        EXPECT_FALSE(readU32(&reader, value)) << cursor;
        EXPECT_FALSE(readSpan(&reader, 4, view)) << cursor;
        EXPECT_EQ(reader.cursor, cursor);
    }
    // Skipping saturates instead of wrapping round into the file.
    setCursor(&reader, 2);
    skipBytes(&reader, 0xFFFFFFFFu);
    EXPECT_EQ(reader.cursor, 0xFFFFFFFFu);
    EXPECT_FALSE(readU8(&reader, byte));
}

TEST(ByteReader, SpanAndBlockReadsShowTheBytesInPlace) {
    const Bytes bytes = {9, 8, 7, 6, 5};
    ByteReader reader = readerOver(bytes);
    std::span<const uint8_t> view;
    ASSERT_TRUE(readSpan(&reader, 3, view));
    EXPECT_EQ(Bytes(view.begin(), view.end()), (Bytes{9, 8, 7}));
    uint8_t block[2] = {};
    ASSERT_TRUE(readBlock(&reader, 2, block));
    EXPECT_EQ(block[1], 5);
    EXPECT_FALSE(readSpan(&reader, 1, view));
}

TEST(ByteReader, EmptyRecordFailsEveryReadAndAnEmptyFileOnlyReadsNothing) {
    ByteReader reader{};
    uint8_t byte = 0;
    std::span<const uint8_t> view;
    EXPECT_FALSE(readU8(&reader, byte));
    EXPECT_FALSE(readSpan(&reader, 0, view));

    ByteReader empty = readerOver({});
    EXPECT_NE(empty.bytes, nullptr);
    EXPECT_EQ(empty.length, 0u);
    EXPECT_TRUE(readSpan(&empty, 0, view));
    EXPECT_FALSE(readU8(&empty, byte));
}

}  // namespace
