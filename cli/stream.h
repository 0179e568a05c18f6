// The streaming road: a picture adjusted from file to file in bands of rows,
// without picture-sized memory, for the inputs and outputs that allow it.
#pragma once

#include "adjust/adjust.h"
#include "writers/writers.h"

enum class StreamResult { notStreamable, written, loadFailed, writeFailed };

// Adjusts `input` by `options` into `output`, written in `format` as
// atomically as every writer writes, with the very bytes that reading the
// whole picture, adjusting it and writing it would give. Takes uncompressed
// 24-bit BMP and true-colour Targa files into BMP or Targa, and colour PNG
// files into PNG where `save` keeps their samples; anything else is
// notStreamable and left untouched. loadFailed means the input changed while
// it was read. On writeFailed, errno holds the system's reason (or 0).
// `threads` bounds the threads used (0: one per processor).
StreamResult streamAdjust(const char* input, const char* output, OutputFormat format, const AdjustOptions& options,
                          const SaveOptions& save, unsigned threads = 0);

// Where an uncompressed 24-bit BMP or true-colour Targa file (the files the
// streaming road reads) keeps its blue-green-red rows; false for any other
// file, and for a BMP or Targa file of another kind.
struct RowFileLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;     // the file holds the top row first
    uint64_t dataOffset = 0;  // of the first row in the file
    size_t stride = 0;        // a file row with its padding
};
bool rowFileLayout(const char* path, OutputFormat inputFormat, RowFileLayout& layout);
