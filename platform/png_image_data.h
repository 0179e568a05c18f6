// A check of a PNG file's image data that needs no decoder: the zlib stream
// is inflated into a small window, no further than the picture's own
// filtered rows, and every row's filter type is read. The Windows build runs
// it before the system's decoder sees a file, so that data that cannot make
// the picture (a stream that breaks or ends before the last row, a filter
// type that does not exist) is refused at the cost of one pass over the
// picture's own size, however far the stream would inflate; a stream that
// runs on past the last row can be given to the decoder rebuilt to end
// there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct PngRowsLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;  // depth x samples a pixel
    bool interlaced = false;
};

enum class PngImageDataCheck {
    complete,  // every row is there
    broken,    // a zlib error, the stream ends before the last row, or a bad filter type
};

// `data` is the image data: the IDAT chunks' data joined, zlib header first.
// On `complete`, `runsOn` tells whether the stream goes on past the last
// row (it ends there, or breaks there, in a file that is not a bomb).
PngImageDataCheck checkPngImageData(std::span<const uint8_t> data, const PngRowsLayout& layout, bool& runsOn);

// The picture's rows, as inflated from complete image data, deflated again
// as stored blocks into a zlib stream that ends with them. False when the
// data is not complete or there is no memory.
bool pngRowsAsStoredStream(std::span<const uint8_t> data, const PngRowsLayout& layout,
                           std::vector<uint8_t>& stream);
