#include "platform/tiff_encoding.h"

#include <algorithm>

#include "platform/basics.h"
#include "platform/codecs.h"

namespace {

// Deflate with the horizontal predictor, in strips of about a megabyte,
// level 7 for 8-bit samples and 6 for 16-bit ones. Measured with libdeflate
// on the 4096 x 4096 benchmark map (bench/tiff-vs-convert,
// bench/make_big_tiff.py): the predictor makes the file 0.42x (8-bit) and
// 0.65x (16-bit) the size it is without; at 8 bits level 7 gives a file
// 0.88x the size of level 6's for 11% more time, at 16 bits 0.995x for 36%
// more; level 8 takes twice the time; strips of 64 KiB grow the 16-bit file
// by 23%. 32-bit floats take level 6 and the floating-point predictor,
// whose bytes of like significance lie together.
int deflateLevel(uint32_t sampleBits) { return sampleBits == 8 ? 7 : 6; }
constexpr size_t stripBytes = size_t{1} << 20;

}  // namespace

bool tiffEncodingFor(const PixelRows& rows, TiffEncoding& encoding) {
    const bool floats = rows.floats && rows.sampleBits == 32 && rows.channels == 1;
    if (!rows.first || rows.width == 0 || rows.height == 0 ||
        (rows.channels != 1 && rows.channels != 3 && rows.channels != 4) ||
        (rows.floats ? !floats : rows.sampleBits != 8 && rows.sampleBits != 16) || (rows.bgr && rows.channels == 1) ||
        !imageSizeAllowed(rows.width, rows.height))
        return false;
    const size_t rowBytes = size_t{rows.width} * rows.channels * (rows.sampleBits / 8);
    if (rowBytes > 0x7FFFFFFFu) return false;
    const size_t distance = rows.stride < 0 ? 0 - static_cast<size_t>(rows.stride) : static_cast<size_t>(rows.stride);
    if (rows.height > 1 && distance < rowBytes) return false;

    TiffEncoding e;
    e.width = rows.width;
    e.height = rows.height;
    e.samplesPerPixel = static_cast<uint16_t>(rows.channels);
    e.bitsPerSample = static_cast<uint16_t>(rows.sampleBits);
    e.extraSamples = rows.channels == 4 ? 1 : 0;
    if (rows.channels == 1) e.photometric = 1;
    if (floats) {
        e.sampleFormat = 3;
        e.predictor = 3;
    }
    e.rowsPerStrip = static_cast<uint32_t>(std::clamp<size_t>(stripBytes / rowBytes, 1, rows.height));
    e.strips = (rows.height + e.rowsPerStrip - 1) / e.rowsPerStrip;
    e.rowBytes = rowBytes;
    e.deflateLevel = deflateLevel(rows.sampleBits);
    encoding = e;
    return true;
}
