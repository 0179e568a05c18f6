// Shared by the TIFF tests: TIFF files built from a list of directory
// entries and strips, and the directory of a written file read back.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "tests/unit/test_files.h"

namespace tifftest {

using testing_files::Bytes;

struct Entry {
    uint16_t tag;
    uint16_t type;  // 1 BYTE, 3 SHORT, 4 LONG, 5 RATIONAL (two LONGs a value)
    // StripOffsets, StripByteCounts, TileOffsets and TileByteCounts left
    // empty are filled in with where the strips are laid out and their sizes.
    std::vector<uint32_t> values;
    uint32_t forcedOffset = 0;  // non-zero: the values are said to lie here, and are not written
};

inline void putNumber(Bytes& b, uint32_t value, uint32_t size, bool bigEndian) {
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t shift = 8 * (bigEndian ? size - 1 - i : i);
        b.push_back(static_cast<uint8_t>(value >> shift));
    }
}

inline void putLittle32(Bytes& b, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

// The offset of the first directory of a little-endian file.
inline size_t directoryOffset(const Bytes& b) { return testing_files::get32(b, 4); }

// Replaces the entry of the same tag, or adds it.
inline void putEntry(std::vector<Entry>& entries, const Entry& entry) {
    std::erase_if(entries, [&](const Entry& e) { return e.tag == entry.tag; });
    entries.push_back(entry);
}

// A TIFF file: the header, the strips one after the other from offset 8
// (each at an even offset), the directory with the entries in the order
// given (sorted by tag when `sortEntries`), then the values that do not
// fit in an entry.
inline Bytes buildTiff(std::vector<Entry> entries, const std::vector<Bytes>& strips, bool bigEndian = false,
                       bool sortEntries = true) {
    Bytes file = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    putNumber(file, 42, 2, bigEndian);
    putNumber(file, 0, 4, bigEndian);
    std::vector<uint32_t> offsets, sizes;
    for (const Bytes& strip : strips) {
        offsets.push_back(static_cast<uint32_t>(file.size()));
        sizes.push_back(static_cast<uint32_t>(strip.size()));
        file.insert(file.end(), strip.begin(), strip.end());
        if (file.size() % 2) file.push_back(0);
    }
    for (Entry& e : entries) {
        if (!e.values.empty()) continue;
        if (e.tag == 273 || e.tag == 324) e.values = offsets;
        if (e.tag == 279 || e.tag == 325) e.values = sizes;
    }
    if (sortEntries)
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const auto directory = static_cast<uint32_t>(file.size());
    Bytes head;
    putNumber(head, directory, 4, bigEndian);
    std::copy(head.begin(), head.end(), file.begin() + 4);
    uint32_t valuesAt = directory + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    Bytes values;
    putNumber(file, static_cast<uint32_t>(entries.size()), 2, bigEndian);
    for (const Entry& e : entries) {
        const uint32_t size = e.type == 1 ? 1 : e.type == 3 ? 2 : 4;
        Bytes packed;
        for (uint32_t v : e.values) putNumber(packed, v, size, bigEndian);
        const uint32_t count = static_cast<uint32_t>(e.type == 5 ? e.values.size() / 2 : e.values.size());
        putNumber(file, e.tag, 2, bigEndian);
        putNumber(file, e.type, 2, bigEndian);
        putNumber(file, count, 4, bigEndian);
        if (e.forcedOffset) {
            putNumber(file, e.forcedOffset, 4, bigEndian);
        } else if (packed.size() <= 4) {
            packed.resize(4, 0);
            file.insert(file.end(), packed.begin(), packed.end());
        } else {
            putNumber(file, valuesAt + static_cast<uint32_t>(values.size()), 4, bigEndian);
            values.insert(values.end(), packed.begin(), packed.end());
            if (values.size() % 2) values.push_back(0);
        }
    }
    putNumber(file, 0, 4, bigEndian);  // no next directory
    file.insert(file.end(), values.begin(), values.end());
    return file;
}

// The parts of a file before it is built.
struct TiffParts {
    std::vector<Entry> entries;
    std::vector<Bytes> strips;
};
using Mutation = std::function<void(TiffParts&)>;

inline std::array<uint8_t, 3> tinyRgbPixel(int x, int y) {
    return {static_cast<uint8_t>(200 + x * 13 + y), static_cast<uint8_t>(x * 60 + y * 7), static_cast<uint8_t>(255 - y * 90 - x)};
}

// A 4 x 3 red-green-blue picture of 8-bit samples in two uncompressed
// strips (two rows, then one), changed by `mutate` before it is built.
inline Bytes tinyRgbTiff(const Mutation& mutate = {}) {
    TiffParts parts;
    parts.entries = {{256, 4, {4}},      {257, 4, {3}}, {258, 3, {8, 8, 8}}, {259, 3, {1}},
                     {262, 3, {2}},      {273, 4, {}},  {277, 3, {3}},       {278, 3, {2}},
                     {279, 4, {}},       {284, 3, {1}}};
    for (int top = 0; top < 3; top += 2) {
        Bytes strip;
        for (int y = top; y < std::min(top + 2, 3); ++y)
            for (int x = 0; x < 4; ++x)
                for (uint8_t v : tinyRgbPixel(x, y)) strip.push_back(v);
        parts.strips.push_back(strip);
    }
    if (mutate) mutate(parts);
    return buildTiff(parts.entries, parts.strips);
}

// Every entry of a file's first directory: tag to values (whole-number
// types only; other types give no values).
inline std::map<uint16_t, std::vector<uint32_t>> readTags(const Bytes& file) {
    std::map<uint16_t, std::vector<uint32_t>> tags;
    if (file.size() < 8) return tags;
    const bool big = file[0] == 'M';
    auto number = [&](size_t at, uint32_t size) -> uint32_t {
        uint32_t v = 0;
        for (uint32_t i = 0; i < size && at + i < file.size(); ++i)
            v |= uint32_t{file[at + i]} << (8 * (big ? size - 1 - i : i));
        return v;
    };
    const size_t directory = number(4, 4);
    const uint32_t count = number(directory, 2);
    for (uint32_t e = 0; e < count; ++e) {
        const size_t at = directory + 2 + 12 * e;
        const auto tag = static_cast<uint16_t>(number(at, 2));
        const uint32_t type = number(at + 2, 2);
        const uint32_t n = number(at + 4, 4);
        const uint32_t size = type == 1 ? 1 : type == 3 ? 2 : type == 4 ? 4 : 0;
        std::vector<uint32_t>& values = tags[tag];
        if (size == 0 || n > file.size()) continue;
        const size_t valuesAt = size * n <= 4 ? at + 8 : number(at + 8, 4);
        for (uint32_t i = 0; i < n; ++i) values.push_back(number(valuesAt + size_t{i} * size, size));
    }
    return tags;
}

}  // namespace tifftest
