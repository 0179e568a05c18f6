// The PNG encoder, the same portable code on every system: any PixelRows
// of whole-number samples (1, 3 or 4 channels, 8 or 16 bits) as a PNG of
// colour type 0, 2 or 6 at the same depth, with no ancillary chunks.
#pragma once

#include "platform/codecs.h"

// Writes the signature, IHDR, the image data and IEND to `sink`. Each row
// is filtered with the filter that suits it and the filtered rows are
// deflated in chunks of about a megabyte on every core, each chunk primed with the end
// of the one before it, into one zlib stream. False when the picture cannot
// be a PNG (no rows, a side past the format's limit, an unknown layout),
// when memory runs out or when the sink fails.
bool encodePng(const PixelRows& rows, const ByteSink& sink);

// Rows made while the encoder runs: before the encoder reads the rows
// [top, end) of a chunk it calls `prepare` for them, from any of its
// threads, once for each chunk; a chunk's rows are read only once the calls
// for it and for every chunk above it have returned.
struct RowPreparer {
    void* context = nullptr;
    void (*prepare)(void* context, uint32_t top, uint32_t end) = nullptr;
    // The prepared rows hold 16-bit samples most significant byte first,
    // as the file does, not as native words.
    bool fileOrder = false;
};
// encodePng on `threads` threads (0: one a core), rows made on the way.
bool encodePngPrepared(const PixelRows& rows, const ByteSink& sink, const RowPreparer& preparer, unsigned threads);

// The tunables of the encoder, for the benchmarks that chose them.
struct PngEncoderTuning {
    int chain = -1;        // hash chain candidates a position, 0 for Huffman codes alone; -1 keeps
                           // the default and codes busy chunks with Huffman codes alone
    int filter = -1;       // PNG filter type 0..4 for every row; -1 chooses each row's own
    size_t chunkBytes = 0; // filtered bytes a chunk; 0 keeps the default
    unsigned threads = 0;  // 0: one a core
};
bool encodePngTuned(const PixelRows& rows, const ByteSink& sink, const PngEncoderTuning& tuning);
