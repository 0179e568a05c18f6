// The compressor behind the PNG encoder. Filtered rows of a normal map
// repeat at a few distances over and over: the same residues one row up,
// one pixel back (a flat plate, a steady slope), or a whole period of an
// enlarged picture's interpolation back (a map enlarged 16 times repeats
// its residues every 16 pixels). So each position first tries the four
// distances used last and the distance of one row, and then walks two hash
// chains: one of earlier 8-byte strings, which stays short on smooth
// pictures whose residues are nearly all zero (4-byte strings of zeros
// fill a chain with the last few positions and hide the match a period
// back), and, while nothing of 8 bytes has been found, one of 4-byte
// strings; the long chain is walked deeper after a long match, where the
// search costs less a byte. Positions inside matches are entered in the
// chains too (they are where the next long match starts), but for the
// middle of a long run at one distance, which repeats what the chains hold
// already. A match is worth four a
// byte it covers less one for each extra bit its distance takes, so that a
// near match wins over a far one as long, and a far one must be longer by
// a byte for every four extra bits. Matches short of 16 bytes wait a byte
// for a longer one. Blocks use dynamic Huffman codes (RFC 1951 3.2.7), and
// a block that would come out larger than its bytes is stored instead.
// Busy data gets a greedy search instead (codeSegmentGreedy).
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
constexpr size_t longMatch = 8;  // the strings of the long chain
constexpr size_t maxMatch = 258;
// Positions past this many bytes into a match are entered in the long chain
// only: a match from there on is found by its first 8 bytes.
constexpr size_t shortInsertLimit = 8;
// Positions entered at the end of a longest match that continues a run of
// matches at one distance: 40% less time on smooth maps for 0.1% more
// output (3% on the benchmark map, which still comes out a third smaller
// than ImageMagick's).
constexpr size_t runInsertTail = 32;
// The long chain is walked for as many candidates as bytes were coded
// since the last search, from the chain asked for to this many times it:
// 1 to 2% smaller output on smooth maps for 8% more time.
constexpr unsigned maxChainFactor = 4;
// Distances remembered from the matches taken, tried before the chains.
constexpr unsigned recentDistances = 4;
// Candidates tried along the long chain for a match as long as can be but
// far, in case a nearer one is as long.
constexpr unsigned nearerTries = 8;
constexpr size_t blockSymbols = size_t{1} << 15;

// Matches shorter than this are held back a byte in case a longer one
// starts there: 2% smaller output on smooth maps than a limit of 8.
constexpr size_t lazyLimit = 16;
constexpr size_t literalBlockBytes = size_t{1} << 18;
// The greedy search on busy data skips ahead after misses, as fast LZ
// coders do: after every `skipMisses` positions in a row without a match
// one more byte goes as a literal unsearched, up to skipMost. The steps
// are odd, so that at any distance the positions searched meet the ones
// searched (and entered in the table) before: a busy chunk that repeats (a
// tiled picture) is still found within a few bytes of where it starts.
constexpr size_t skipMisses = 16;
constexpr size_t skipMost = 31;
// Room past blockSymbols: literals given up to ever longer matches before a
// block is ended (a match grows at most to 258 bytes), or skipped.
constexpr size_t blockSymbolsRoom = blockSymbols + maxMatch + skipMost;
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

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

uint32_t hashAt(const uint8_t* p) { return (load32(p) * 0x9E3779B1u) >> (32 - hashBits); }
uint32_t longHashAt(const uint8_t* p) { return static_cast<uint32_t>((load64(p) * 0x9E3779B97F4A7C15u) >> (64 - hashBits)); }

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

// The extra bits of a distance's code (RFC 1951 3.2.5): none up to 4,
// then one more for each doubling.
unsigned distanceExtraBits(size_t distance) {
    const auto bits = static_cast<unsigned>(std::bit_width(distance - 1));
    return bits > 2 ? bits - 2 : 0;
}

// A match's worth: four for each byte it covers, less one for each extra
// bit its distance code takes.
long matchWorth(size_t length, size_t distance) {
    return 4 * static_cast<long>(length) - static_cast<long>(distanceExtraBits(distance));
}

// The shortest match at `distance` worth more than `worth` (which is never
// negative).
size_t lengthToBeat(long worth, size_t distance) {
    return ((static_cast<size_t>(worth) + distanceExtraBits(distance)) >> 2) + 1;
}

// Whether the bytes just before `need` agree (the eight of them where there
// are eight): a candidate that falls short of `need` mostly fails here at
// once, even among residues that are nearly all zero.
inline bool sameEnd(const uint8_t* here, const uint8_t* there, size_t need) {
    if (need >= 8) return load64(here + need - 8) == load64(there + need - 8);
    return here[need - 1] == there[need - 1];
}

struct Match {
    size_t length = 0;  // 0 for none
    size_t distance = 0;
    long worth = 4 * static_cast<long>(minMatch - 1);  // what a match must beat
};

// The two hash chains of one segment: for each hash of the 4 (8) bytes at
// a position, the newest position (plus one; 0 for none), and for each
// position modulo the window the one before it with the same hash.
struct Chains {
    uint32_t* head;
    uint32_t* previous;
    uint32_t* longHead;
    uint32_t* longPrevious;
    const uint8_t* base;  // position 0
    size_t end;           // past the last position

    void insert(size_t a) {
        const uint32_t hash = hashAt(base + a);
        previous[a & windowMask] = head[hash];
        head[hash] = static_cast<uint32_t>(a + 1);
        insertLong(a);
    }
    void insertLong(size_t a) {
        if (a + longMatch > end) return;
        const uint32_t hash = longHashAt(base + a);
        longPrevious[a & windowMask] = longHead[hash];
        longHead[hash] = static_cast<uint32_t>(a + 1);
    }

    // Takes the candidate at `distance` when it gives a match worth more
    // than `best`.
    void tryDistance(size_t a, size_t limit, size_t distance, Match& best) const {
        const size_t need = std::max(lengthToBeat(best.worth, distance), minMatch);
        const uint8_t* here = base + a;
        const uint8_t* there = here - distance;
        // The bytes that would make it worth more first, then the rest.
        if (need > limit || !sameEnd(here, there, need)) return;
        const size_t length = matchLength(here, there, limit);
        if (length >= need) best = {length, distance, matchWorth(length, distance)};
    }

    // Walks at most `tries` candidates of a chain, nearest first; true when
    // a match of `limit` bytes was found.
    template <bool isLong>
    bool walk(size_t a, size_t limit, unsigned tries, Match& best) const {
        const uint8_t* here = base + a;
        const uint32_t* chainHead = isLong ? longHead : head;
        const uint32_t* chainPrevious = isLong ? longPrevious : previous;
        uint32_t next = chainHead[isLong ? longHashAt(here) : hashAt(here)];
        for (; next != 0 && tries > 0; --tries) {
            const size_t candidate = next - 1, distance = a - candidate;
            if (distance > windowSize) break;
            const size_t need = std::max(lengthToBeat(best.worth, distance), isLong ? longMatch : minMatch);
            const uint8_t* there = base + candidate;
            // The bytes that would make it worth more, and the chain's own
            // string (the hash may collide).
            if (need <= limit && sameEnd(here, there, need) &&
                (isLong ? load64(there) == load64(here) : load32(there) == load32(here))) {
                const size_t length = matchLength(here, there, limit);
                if (length >= need) {
                    best = {length, distance, matchWorth(length, distance)};
                    if (length == limit) return true;
                }
            }
            const uint32_t older = chainPrevious[candidate & windowMask];
            if (older >= next) break;  // the slot has been taken by a newer position
            next = older;
        }
        return false;
    }

    // The best match at `a` of at most `limit` bytes (length 0 for none
    // of at least minMatch bytes).
    Match find(size_t a, size_t limit, const size_t* recent, const DeflateOptions& options, unsigned longTries) const {
        Match best;
        for (unsigned i = 0; i < recentDistances; ++i)
            if (recent[i] != 0 && recent[i] <= a) tryDistance(a, limit, recent[i], best);
        if (options.rowDistance != 0 && options.rowDistance <= a && options.rowDistance <= windowSize)
            tryDistance(a, limit, options.rowDistance, best);
        if (limit >= longMatch) {
            if (best.length < limit) {
                if (walk<true>(a, limit, longTries, best)) return best;
            } else if (best.distance > 4) {
                walk<true>(a, limit, nearerTries, best);  // one as long, nearer
                return best;
            }
        }
        if (best.length < longMatch && best.length < limit)
            walk<false>(a, limit, std::max(1u, options.chain / 4), best);
        return best;
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
    size_t recent[recentDistances] = {};  // newest first
    size_t blockStart = start, count = 0;
    Match held;  // a match at a - 1, not yet coded (length 0: none)
    size_t lastEnd = 0;  // where the last match taken ended
    size_t lastSearch = start;  // where the last search was
    const auto takeMatch = [&](size_t at, const Match& m, size_t inserted) {
        symbols[count++] = matchFlag | static_cast<uint32_t>((m.length - 3) << 16) | static_cast<uint32_t>(m.distance - 1);
        // A longest match that goes on where the last one at its distance
        // ended (a long run, a flat plate) repeats what that one held: only
        // its last positions start strings not in the chains already.
        if (m.length == maxMatch && m.distance == recent[0] && at == lastEnd)
            inserted = std::max(inserted, at + maxMatch - runInsertTail);
        lastEnd = at + m.length;
        for (size_t i = inserted; i < at + m.length && i + minMatch <= end; ++i) {
            if (i - at < shortInsertLimit) chains.insert(i);
            else chains.insertLong(i);
        }
        unsigned i = 0;
        while (i + 1 < recentDistances && recent[i] != m.distance) ++i;
        for (; i > 0; --i) recent[i] = recent[i - 1];
        recent[0] = m.distance;
    };
    size_t a = start;
    while (a < end) {
        Match found;
        const size_t limit = std::min(maxMatch, end - a);
        if (limit >= minMatch) {
            // One candidate for each byte since the last search, within
            // bounds: where matches are long a deeper search costs little
            // a byte.
            const size_t tries = std::clamp<size_t>(a - lastSearch, options.chain, size_t{maxChainFactor} * options.chain);
            lastSearch = a;
            found = chains.find(a, limit, recent, options, static_cast<unsigned>(tries));
            chains.insert(a);
        }
        if (held.length) {
            if (found.length > held.length) {
                symbols[count++] = base[a - 1];
                held = found;
                ++a;
                continue;
            }
            takeMatch(a - 1, held, a + 1);
            a += held.length - 1;
            held.length = 0;
        } else if (found.length && found.length < lazyLimit && a + 1 < end) {
            held = found;
            ++a;
            continue;
        } else if (found.length) {
            takeMatch(a, found, a + 1);
            a += found.length;
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
    if (held.length) takeMatch(a - 1, held, a + 1);  // a match that ran to the end
    writeBlock(w, symbols, count, base + blockStart, end - blockStart, final);
}

// Codes positions [start, end) as codeSegment does, for busy data whose
// strings repeat seldom and briefly: each position tries the distance used
// last, the distance of one row and the newest earlier position with the
// same 4-byte hash (one table, no chains), and takes the longest match at
// once. A match enters its first few positions in the table. Misses in a
// row make the search skip ahead (skipMisses).
void codeSegmentGreedy(BitWriter& w, Chains& chains, uint32_t* symbols, size_t start, size_t end,
                       const DeflateOptions& options, bool final) {
    const uint8_t* const base = chains.base;
    const size_t row = options.rowDistance <= windowSize ? options.rowDistance : 0;
    size_t blockStart = start, count = 0;
    size_t last = 0;    // the distance of the last match
    size_t misses = 0;  // positions searched in a row without a match
    size_t a = start;
    while (a < end) {
        const size_t limit = std::min(maxMatch, end - a);
        Match found;
        if (limit >= minMatch) {
            if (last != 0 && last <= a) chains.tryDistance(a, limit, last, found);
            if (row != 0 && row <= a && row != last) chains.tryDistance(a, limit, row, found);
            uint32_t& newest = chains.head[hashAt(base + a)];
            const size_t candidate = newest;  // position + 1, 0 for none
            newest = static_cast<uint32_t>(a + 1);
            if (candidate != 0 && found.length < limit && a + 1 - candidate <= windowSize)
                chains.tryDistance(a, limit, a + 1 - candidate, found);
        }
        if (found.length) {
            symbols[count++] = matchFlag | static_cast<uint32_t>((found.length - 3) << 16) |
                               static_cast<uint32_t>(found.distance - 1);
            const size_t stop = std::min(a + std::min(found.length, shortInsertLimit), end - minMatch + 1);
            for (size_t i = a + 1; i < stop; ++i) chains.head[hashAt(base + i)] = static_cast<uint32_t>(i + 1);
            last = found.distance;
            a += found.length;
            misses = 0;
        } else {
            symbols[count++] = base[a++];
            const size_t skip = std::min(skipMost, (++misses / skipMisses) | 1) - 1;
            for (size_t k = 0; k < skip && a + 1 < end; ++k) symbols[count++] = base[a++];
        }
        if (count >= blockSymbols && a < end) {
            writeBlock(w, symbols, count, base + blockStart, a - blockStart, false);
            blockStart = a;
            count = 0;
        }
    }
    writeBlock(w, symbols, count, base + blockStart, end - blockStart, final);
}

}  // namespace

DeflateCompressor::DeflateCompressor() = default;

bool DeflateCompressor::compress(const uint8_t* data, size_t size, size_t window, bool last,
                                 const DeflateOptions& options, std::vector<uint8_t>& out) {
    try {
        // Room for the data stored as it is (5 bytes a block of 65535), which
        // a block never needs to exceed: the output is then written into one
        // allocation, not copied again each time a growing vector moves.
        out.reserve(out.size() + size + (size / 65535 + 2) * 5 + 16);
        BitWriter w{out, out.size()};
        DeflateOptions full = options;
        full.chain = std::max(1u, options.chain);
        if (options.search == DeflateSearch::literals) {
            for (size_t at = 0; at < size; at += literalBlockBytes) {
                const size_t n = std::min(literalBlockBytes, size - at);
                writeBlock(w, nullptr, 0, data + at, n, last && at + n == size);
            }
        } else {
            if (head_.empty()) {
                head_.resize(size_t{2} << hashBits);
                previous_.resize(2 * windowSize);
                symbols_.resize(blockSymbolsRoom);
            }
            for (size_t at = 0; at < size; at += segmentBytes) {
                const size_t n = std::min(segmentBytes, size - at);
                const size_t before = std::min(windowSize, window + at);
                Chains chains{head_.data(), previous_.data(), head_.data() + (size_t{1} << hashBits),
                              previous_.data() + windowSize, data + at - before, before + n};
                std::fill(head_.begin(), head_.end(), 0u);
                for (size_t a = 0; a < before && a + minMatch <= before + n; ++a) chains.insert(a);
                if (options.search == DeflateSearch::greedy)
                    codeSegmentGreedy(w, chains, symbols_.data(), before, before + n, options, last && at + n == size);
                else
                    codeSegment(w, chains, symbols_.data(), before, before + n, full, last && at + n == size);
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
