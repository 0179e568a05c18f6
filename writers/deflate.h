// A raw deflate compressor (RFC 1951) for filtered picture rows, made to be
// run on many chunks of one stream at once: a chunk is compressed with the
// bytes before it as its window and ends on a byte boundary, with an empty
// stored block after it when it is not the last, so that chunks laid end to
// end are one stream (as zlib's sync flush makes them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How matches are searched for.
enum class DeflateSearch {
    // The distances used last and `rowDistance`, then the hash chains, up to
    // `chain` candidates; short matches wait a byte for a longer one.
    full,
    // For busy data, whose strings repeat seldom and briefly (a detailed
    // picture at 16 bits a sample): each position tries the distance used
    // last, `rowDistance` and one earlier position of the same 4-byte hash,
    // the longest match is taken at once, and runs of misses make the
    // search skip ahead. An exact repeat (a tiled picture) is still found
    // within a few bytes of its start and followed at its distance from
    // then on; the search costs a fraction of the full one.
    greedy,
    // None: every byte a literal (Huffman codes alone).
    literals,
};

struct DeflateOptions {
    DeflateSearch search = DeflateSearch::full;
    // For the full search: candidates tried along the chain of 8-byte
    // strings at a position where the distances used last and `rowDistance`
    // give no match as long as can be (up to four times as many after a
    // long match; a quarter as many, at least one, along the chain of
    // 4-byte strings while no 8-byte match is found). At least 1.
    unsigned chain = 32;
    // The distance to the same byte one row up, tried with the distances used
    // last; 0 when there are no rows.
    size_t rowDistance = 0;
};

class DeflateCompressor {
public:
    DeflateCompressor();

    // Appends the deflated form of `size` bytes at `data` to `out`. The
    // `window` bytes before `data` (at most 32 KiB are used) may be referred
    // to but are not coded. `last` ends the stream with the final block.
    // False only when memory runs out.
    bool compress(const uint8_t* data, size_t size, size_t window, bool last, const DeflateOptions& options,
                  std::vector<uint8_t>& out);

private:
    std::vector<uint32_t> head_;     // per hash of 4 bytes, then of 8: position + 1 of its newest occurrence
    std::vector<uint32_t> previous_; // per position modulo the window, for each chain: the one before it
    std::vector<uint32_t> symbols_;  // a block's literals and matches
};
