// The compressor behind the PNG encoder. Filtered rows of a normal map
// repeat in two ways: along a row (a tiled cell, a flat plate, a steady
// slope give the same residues again at the distance just used) and from
// one row to the next. So each position first tries the last match's
// distance and the distance of one row, and only where neither gives a
// long match walks a short hash chain of earlier 4-byte sequences. Matches
// short of 8 bytes wait a byte for a longer one. Blocks use dynamic Huffman
// codes (RFC 1951 3.2.7), and a block that would come out larger than its
// bytes is stored instead.
#include "writers/deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr size_t windowSize = size_t{1} << 15;
constexpr size_t windowMask = windowSize - 1;
constexpr unsigned hashBits = 15;
constexpr size_t minMatch = 4;
constexpr size_t maxMatch = 258;
// Positions inside a match longer than this are not entered in the hash
// chains: the repeat that made it is found again by its distance.
constexpr size_t insertLimit = 32;
constexpr size_t blockSymbols = size_t{1} << 15;
// Room past blockSymbols: literals given up to ever longer matches before a
// block is ended (a match grows at most to 258 bytes).
constexpr size_t blockSymbolsRoom = blockSymbols + maxMatch;
// Matches shorter than this are held back a byte in case a longer one
// starts there: on the benchmark map 2% smaller output for 14% more time
// (a limit of 32 gave 3% for 40%).
constexpr size_t lazyLimit = 8;
constexpr size_t literalBlockBytes = size_t{1} << 18;
// A segment's positions fit 32 bits with room to spare.
constexpr size_t segmentBytes = size_t{1} << 28;
constexpr uint32_t matchFlag = 1u << 31;

constexpr unsigned litLenCodes = 286, distanceCodes = 30, lengthCodeCodes = 19;
constexpr unsigned maxCodeBits = 15, maxLengthCodeBits = 7;

constexpr uint16_t lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t distanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                       193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t lengthCodeOrder[lengthCodeCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The code of every match length (less 3) and distance (less 1).
struct CodeTables {
    uint8_t lengthCode[256];
    uint8_t nearDistanceCode[256];  // distances 1..256
    uint8_t farDistanceCode[256];   // the rest, by (distance - 1) >> 7
    CodeTables() {
        for (unsigned code = 0; code < 29; ++code)
            for (unsigned l = lengthBase[code]; l < lengthBase[code] + (1u << lengthExtra[code]) && l <= 258; ++l)
                lengthCode[l - 3] = static_cast<uint8_t>(code);
        lengthCode[255] = 28;  // 258 has a code of its own
        for (unsigned code = 0; code < 30; ++code)
            for (unsigned d = distanceBase[code]; d < distanceBase[code] + (1u << distanceExtra[code]); ++d) {
                if (d <= 256) nearDistanceCode[d - 1] = static_cast<uint8_t>(code);
                else farDistanceCode[(d - 1) >> 7] = static_cast<uint8_t>(code);
            }
    }
    unsigned distanceCode(uint32_t d1) const { return d1 < 256 ? nearDistanceCode[d1] : farDistanceCode[d1 >> 7]; }
};

const CodeTables& tables() {
    static const CodeTables t;
    return t;
}

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint32_t hashAt(const uint8_t* p) { return (load32(p) * 0x9E3779B1u) >> (32 - hashBits); }

// How many bytes from `a` equal those from `b`, up to `limit`.
inline size_t matchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            const uint64_t diff = x ^ y;
            if constexpr (std::endian::native == std::endian::little) return n + static_cast<size_t>(std::countr_zero(diff)) / 8;
            return n + static_cast<size_t>(std::countl_zero(diff)) / 8;
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// ------------------------------------------------------------ Huffman codes

// Code lengths of at most `limit` bits for symbols of the given counts, at
// least two symbols coded (a code of one symbol is not complete). When the
// optimal code is deeper than allowed, the counts are halved and the code
// built again until it fits.
void codeLengths(const uint32_t* counts, unsigned n, unsigned limit, uint8_t* lengths) {
    uint32_t weight[litLenCodes];
    uint16_t order[litLenCodes];
    unsigned used = 0;
    for (unsigned s = 0; s < n; ++s) {
        weight[s] = counts[s];
        if (counts[s]) order[used++] = static_cast<uint16_t>(s);
    }
    for (unsigned s = 0; used < 2; ++s)
        if (!weight[s]) {
            weight[s] = 1;
            order[used++] = static_cast<uint16_t>(s);
        }
    std::memset(lengths, 0, n);
    uint64_t node[2 * litLenCodes];
    uint16_t parent[2 * litLenCodes];
    for (;;) {
        std::sort(order, order + used, [&](uint16_t a, uint16_t b) { return weight[a] != weight[b] ? weight[a] < weight[b] : a < b; });
        // Leaves in order of weight, then the inner nodes as they are made,
        // which come in order of weight too: the two lightest are always at
        // the front of one of the two runs.
        for (unsigned i = 0; i < used; ++i) node[i] = weight[order[i]];
        unsigned leaf = 0, inner = used;
        for (unsigned made = used; made < 2 * used - 1; ++made) {
            unsigned pick[2];
            for (unsigned& p : pick) p = (leaf < used && (inner >= made || node[leaf] <= node[inner])) ? leaf++ : inner++;
            node[made] = node[pick[0]] + node[pick[1]];
            parent[pick[0]] = parent[pick[1]] = static_cast<uint16_t>(made);
        }
        uint8_t depth[2 * litLenCodes];
        depth[2 * used - 2] = 0;
        unsigned deepest = 0;
        for (unsigned i = 2 * used - 2; i-- > 0;) {
            depth[i] = static_cast<uint8_t>(depth[parent[i]] + 1);
            if (i < used) deepest = std::max<unsigned>(deepest, depth[i]);
        }
        if (deepest <= limit) {
            for (unsigned i = 0; i < used; ++i) lengths[order[i]] = depth[i];
            return;
        }
        for (unsigned i = 0; i < used; ++i) weight[order[i]] = (weight[order[i]] + 1) / 2;
    }
}

uint16_t reversed(uint32_t code, unsigned bits) {
    uint32_t r = 0;
    for (unsigned i = 0; i < bits; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return static_cast<uint16_t>(r);
}

// The canonical codes of RFC 1951 3.2.2, bit-reversed for writing low bit first.
void canonicalCodes(const uint8_t* lengths, unsigned n, uint16_t* codes) {
    unsigned count[maxCodeBits + 1] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint32_t next[maxCodeBits + 2] = {};
    uint32_t code = 0;
    for (unsigned bits = 1; bits <= maxCodeBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (unsigned s = 0; s < n; ++s)
        codes[s] = lengths[s] ? reversed(next[lengths[s]]++, lengths[s]) : 0;
}

// ------------------------------------------------------------ bits

struct BitWriter {
    std::vector<uint8_t>& out;
    size_t used;
    uint64_t bits = 0;
    unsigned count = 0;

    // Room for `bytes` more bytes; throws std::bad_alloc as vectors do.
    void reserve(size_t bytes) {
        if (out.size() - used >= bytes + 8) return;
        out.resize(std::max(used + bytes + 8, out.size() + out.size() / 2));
    }
    // Up to 32 bits; the caller has reserved room for them.
    void put(uint32_t value, unsigned n) {
        bits |= uint64_t{value} << count;
        count += n;
        if (count >= 32) {
            uint8_t* p = out.data() + used;
            p[0] = static_cast<uint8_t>(bits);
            p[1] = static_cast<uint8_t>(bits >> 8);
            p[2] = static_cast<uint8_t>(bits >> 16);
            p[3] = static_cast<uint8_t>(bits >> 24);
            used += 4;
            bits >>= 32;
            count -= 32;
        }
    }
    void align() {
        while (count > 0) {
            out[used++] = static_cast<uint8_t>(bits);
            bits >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
        bits = 0;
    }
    void bytes(const uint8_t* p, size_t n) {
        if (n == 0) return;  // an empty stored block may come with no bytes at all
        std::memcpy(out.data() + used, p, n);
        used += n;
    }
};

// Stored blocks of at most 65535 bytes each; the last one final when asked.
void storedBlocks(BitWriter& w, const uint8_t* raw, size_t size, bool final) {
    do {
        const size_t n = std::min<size_t>(size, 65535);
        w.reserve(n + 8);
        w.put(final && n == size ? 1 : 0, 1);
        w.put(0, 2);
        w.align();
        const uint8_t header[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                                   static_cast<uint8_t>(~n >> 8)};
        w.bytes(header, 4);
        w.bytes(raw, n);
        raw += n;
        size -= n;
    } while (size > 0);
}

size_t storedBytes(size_t size) { return size + 5 * (size / 65535 + 1) + 1; }

// One block of `count` symbols (or, when `symbols` is null, of the bytes
// `raw` as literals), which codes the `rawSize` bytes at `raw`.
void writeBlock(BitWriter& w, const uint32_t* symbols, size_t count, const uint8_t* raw, size_t rawSize, bool final) {
    const CodeTables& t = tables();
    uint32_t litLenCount[litLenCodes] = {}, distanceCount[distanceCodes] = {};
    uint64_t extraBits = 0;
    if (symbols) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t s = symbols[i];
            if (s & matchFlag) {
                const unsigned lc = t.lengthCode[(s >> 16) & 0xFF], dc = t.distanceCode(s & 0xFFFF);
                ++litLenCount[257 + lc];
                ++distanceCount[dc];
                extraBits += lengthExtra[lc] + distanceExtra[dc];
            } else {
                ++litLenCount[s];
            }
        }
    } else {
        for (size_t i = 0; i < rawSize; ++i) ++litLenCount[raw[i]];
    }
    litLenCount[256] = 1;

    uint8_t litLenBits[litLenCodes], distanceBits[distanceCodes];
    codeLengths(litLenCount, litLenCodes, maxCodeBits, litLenBits);
    codeLengths(distanceCount, distanceCodes, maxCodeBits, distanceBits);
    unsigned hlit = litLenCodes, hdist = distanceCodes;
    while (hlit > 257 && litLenBits[hlit - 1] == 0) --hlit;
    while (hdist > 1 && distanceBits[hdist - 1] == 0) --hdist;

    // The code lengths, run-length coded: (symbol, extra) pairs.
    uint8_t all[litLenCodes + distanceCodes];
    std::memcpy(all, litLenBits, hlit);
    std::memcpy(all + hlit, distanceBits, hdist);
    uint8_t runs[litLenCodes + distanceCodes][2];
    unsigned runCount = 0;
    uint32_t lengthCodeCount[lengthCodeCodes] = {};
    auto emit = [&](unsigned symbol, unsigned extra) {
        runs[runCount][0] = static_cast<uint8_t>(symbol);
        runs[runCount][1] = static_cast<uint8_t>(extra);
        ++runCount;
        ++lengthCodeCount[symbol];
    };
    for (unsigned i = 0; i < hlit + hdist;) {
        const uint8_t v = all[i];
        unsigned run = 1;
        while (i + run < hlit + hdist && all[i + run] == v) ++run;
        i += run;
        if (v == 0) {
            for (; run >= 11; run -= std::min(run, 138u)) emit(18, std::min(run, 138u) - 11);
            if (run >= 3) emit(17, run - 3), run = 0;
            for (; run > 0; --run) emit(0, 0);
        } else {
            emit(v, 0);
            --run;
            for (; run >= 3; run -= std::min(run, 6u)) emit(16, std::min(run, 6u) - 3);
            for (; run > 0; --run) emit(v, 0);
        }
    }
    uint8_t lengthCodeBits[lengthCodeCodes];
    codeLengths(lengthCodeCount, lengthCodeCodes, maxLengthCodeBits, lengthCodeBits);
    unsigned hclen = lengthCodeCodes;
    while (hclen > 4 && lengthCodeBits[lengthCodeOrder[hclen - 1]] == 0) --hclen;

    uint64_t cost = 3 + 14 + 3 * hclen;
    for (unsigned s = 0; s < lengthCodeCodes; ++s) cost += uint64_t{lengthCodeCount[s]} * lengthCodeBits[s];
    cost += 2 * uint64_t{lengthCodeCount[16]} + 3 * uint64_t{lengthCodeCount[17]} + 7 * uint64_t{lengthCodeCount[18]};
    for (unsigned s = 0; s < litLenCodes; ++s) cost += uint64_t{litLenCount[s]} * litLenBits[s];
    for (unsigned s = 0; s < distanceCodes; ++s) cost += uint64_t{distanceCount[s]} * distanceBits[s];
    cost += extraBits;
    if (cost / 8 + 1 >= storedBytes(rawSize)) {
        storedBlocks(w, raw, rawSize, final);
        return;
    }

    w.reserve(static_cast<size_t>(cost / 8) + 16);
    uint16_t litLenCode[litLenCodes], distanceCode[distanceCodes], lengthCodeCode[lengthCodeCodes];
    canonicalCodes(litLenBits, litLenCodes, litLenCode);
    canonicalCodes(distanceBits, distanceCodes, distanceCode);
    canonicalCodes(lengthCodeBits, lengthCodeCodes, lengthCodeCode);
    w.put(final ? 1 : 0, 1);
    w.put(2, 2);
    w.put(hlit - 257, 5);
    w.put(hdist - 1, 5);
    w.put(hclen - 4, 4);
    for (unsigned i = 0; i < hclen; ++i) w.put(lengthCodeBits[lengthCodeOrder[i]], 3);
    static constexpr uint8_t runExtraBits[3] = {2, 3, 7};
    for (unsigned i = 0; i < runCount; ++i) {
        const unsigned s = runs[i][0];
        w.put(lengthCodeCode[s], lengthCodeBits[s]);
        if (s >= 16) w.put(runs[i][1], runExtraBits[s - 16]);
    }
    if (symbols) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t s = symbols[i];
            if (s & matchFlag) {
                const uint32_t l3 = (s >> 16) & 0xFF, d1 = s & 0xFFFF;
                const unsigned lc = t.lengthCode[l3], dc = t.distanceCode(d1);
                w.put(litLenCode[257 + lc] | ((l3 + 3 - lengthBase[lc]) << litLenBits[257 + lc]),
                      litLenBits[257 + lc] + lengthExtra[lc]);
                w.put(distanceCode[dc] | ((d1 + 1 - distanceBase[dc]) << distanceBits[dc]),
                      distanceBits[dc] + distanceExtra[dc]);
            } else {
                w.put(litLenCode[s], litLenBits[s]);
            }
        }
    } else {
        for (size_t i = 0; i < rawSize; ++i) w.put(litLenCode[raw[i]], litLenBits[raw[i]]);
    }
    w.put(litLenCode[256], litLenBits[256]);
}

// The hash chains of one segment: for each 4-byte hash the newest position
// (plus one; 0 for none) and, for each position modulo the window, the one
// before it with the same hash.
struct Chains {
    uint32_t* head;
    uint32_t* previous;
    const uint8_t* base;  // position 0

    void insert(size_t a, uint32_t hash) {
        previous[a & windowMask] = head[hash];
        head[hash] = static_cast<uint32_t>(a + 1);
    }

    // The longest match at `a` of at most `limit` bytes, at least minMatch
    // (else 0): the last distance and the row distance first, then the
    // chain unless they gave a long one.
    size_t longest(size_t a, size_t limit, uint32_t hash, size_t lastDistance, const DeflateOptions& options,
                   size_t& distance) const {
        const uint8_t* here = base + a;
        size_t best = minMatch - 1;
        distance = 0;
        for (const size_t d : {lastDistance, options.rowDistance}) {
            if (d == 0 || d > a || d > windowSize || d == distance) continue;
            const size_t l = matchLength(here, here - d, limit);
            if (l > best) best = l, distance = d;
        }
        if (best < limit && best < insertLimit) {
            uint32_t next = head[hash];
            for (unsigned tries = options.chain; next != 0 && tries > 0; --tries) {
                const size_t candidate = next - 1, d = a - candidate;
                if (d > windowSize) break;
                // A candidate must match at the byte that would make it longer
                // and in its first four (the hash may collide).
                if (base[candidate + best] == here[best] && load32(base + candidate) == load32(here)) {
                    const size_t l = matchLength(here, base + candidate, limit);
                    if (l > best) {
                        best = l, distance = d;
                        // As long as it can be, or long enough that the chain is not worth more.
                        if (l == limit || l >= insertLimit) break;
                    }
                }
                const uint32_t older = previous[candidate & windowMask];
                if (older >= next) break;  // the slot has been taken by a newer position
                next = older;
            }
        }
        return best >= minMatch ? best : 0;
    }
};

// Codes positions [start, end) of `chains.base`, whose positions before
// `start` are already in the chains, as blocks of about blockSymbols
// symbols; the last block is final when `final` is set. A match shorter
// than lazyLimit is held back one byte: when the next position starts a
// longer one, the byte goes as a literal and the longer match is taken
// (or held back in its turn).
void codeSegment(BitWriter& w, Chains& chains, uint32_t* symbols, size_t start, size_t end,
                 const DeflateOptions& options, bool final) {
    const uint8_t* const base = chains.base;
    size_t lastDistance = 0, blockStart = start, count = 0;
    size_t heldLength = 0, heldDistance = 0;  // a match at a - 1, not yet coded
    const auto takeMatch = [&](size_t at, size_t length, size_t distance, size_t inserted) {
        symbols[count++] = matchFlag | static_cast<uint32_t>((length - 3) << 16) | static_cast<uint32_t>(distance - 1);
        if (length <= insertLimit)
            for (size_t i = inserted; i < at + length && i + minMatch <= end; ++i) chains.insert(i, hashAt(base + i));
        lastDistance = distance;
    };
    size_t a = start;
    while (a < end) {
        size_t length = 0, distance = 0;
        const size_t limit = std::min(maxMatch, end - a);
        if (limit >= minMatch) {
            const uint32_t hash = hashAt(base + a);
            length = chains.longest(a, limit, hash, lastDistance, options, distance);
            chains.insert(a, hash);
        }
        if (heldLength) {
            if (length > heldLength) {
                symbols[count++] = base[a - 1];
                heldLength = length, heldDistance = distance;
                ++a;
                continue;
            }
            takeMatch(a - 1, heldLength, heldDistance, a + 1);
            a += heldLength - 1;
            heldLength = 0;
        } else if (length && length < lazyLimit && a + 1 < end) {
            heldLength = length, heldDistance = distance;
            ++a;
            continue;
        } else if (length) {
            takeMatch(a, length, distance, a + 1);
            a += length;
        } else {
            symbols[count++] = base[a];
            ++a;
        }
        if (count >= blockSymbols && a < end) {
            writeBlock(w, symbols, count, base + blockStart, a - blockStart, false);
            blockStart = a;
            count = 0;
        }
    }
    if (heldLength) takeMatch(a - 1, heldLength, heldDistance, a + 1);  // a match that ran to the end
    writeBlock(w, symbols, count, base + blockStart, end - blockStart, final);
}

}  // namespace

DeflateCompressor::DeflateCompressor() = default;

bool DeflateCompressor::compress(const uint8_t* data, size_t size, size_t window, bool last,
                                 const DeflateOptions& options, std::vector<uint8_t>& out) {
    try {
        BitWriter w{out, out.size()};
        if (options.chain == 0) {
            for (size_t at = 0; at < size; at += literalBlockBytes) {
                const size_t n = std::min(literalBlockBytes, size - at);
                writeBlock(w, nullptr, 0, data + at, n, last && at + n == size);
            }
        } else {
            if (head_.empty()) {
                head_.resize(size_t{1} << hashBits);
                previous_.resize(windowSize);
                symbols_.resize(blockSymbolsRoom);
            }
            for (size_t at = 0; at < size; at += segmentBytes) {
                const size_t n = std::min(segmentBytes, size - at);
                const size_t before = std::min(windowSize, window + at);
                Chains chains{head_.data(), previous_.data(), data + at - before};
                std::fill(head_.begin(), head_.end(), 0u);
                for (size_t a = 0; a < before && a + minMatch <= before + n; ++a) chains.insert(a, hashAt(chains.base + a));
                codeSegment(w, chains, symbols_.data(), before, before + n, options, last && at + n == size);
            }
        }
        if (size == 0 && last) storedBlocks(w, data, 0, true);
        w.reserve(8);
        if (!last) {
            // An empty stored block: the chunk ends on a byte boundary.
            w.put(0, 3);
            w.align();
            const uint8_t empty[4] = {0, 0, 0xFF, 0xFF};
            w.bytes(empty, 4);
        }
        w.align();
        out.resize(w.used);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
