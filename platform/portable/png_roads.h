// The two roads of the portable PNG decoder (platformDecodePng), apart, so
// that the tests and the fuzz target can hold them to one answer.
#pragma once

#include <span>

#include "platform/codecs.h"

enum class FastPngResult {
    decoded,  // every row handed to the sink
    refused,  // the file is refused (too little data, no memory, the sink said no)
    notSure,  // nothing handed over: libspng decides
};

// The fast road: 8- and 16-bit pictures that are not interlaced, inflated
// by libdeflate in one call and unfiltered here.
FastPngResult decodePngFast(std::span<const uint8_t> file, const RowSink& sink);

// libspng, which decodes every PNG and applies the rules on damaged data.
bool decodePngWithLibspng(std::span<const uint8_t> file, const RowSink& sink);
