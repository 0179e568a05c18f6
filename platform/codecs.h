// The picture codecs the system provides: PNG, JPEG and TIFF decoding, TIFF
// encoding. On Windows they are the Windows Imaging Component; elsewhere
// libspng (over zlib, with libdeflate for the common PNG layouts),
// libjpeg-turbo and libtiff. The codecs only unpack and pack bytes: a
// decoded picture is handed over in the form the file stores it, and the
// readers in readers/ apply the format's rules (rounding, palettes, what is
// refused), so that both back ends give the same pixels. PNG encoding is our
// own portable code (writers/png_encoder.h), which takes the PixelRows below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

// Receives a decoded picture one row at a time, top row first.
struct RowSink {
    void* context = nullptr;
    // Called once before any row with the picture's size and the samples of a
    // pixel; false stops the decoding (too large, no memory, not as expected).
    bool (*begin)(void* context, uint32_t width, uint32_t height, uint32_t channels) = nullptr;
    // Called for rows 0 .. height - 1 in order. `stored` holds the row as the
    // format stores it once unfiltered and deinterlaced.
    void (*row)(void* context, uint32_t y, const uint8_t* stored) = nullptr;
};

// Decodes the image data of a PNG file whose signature, IHDR and PLTE the
// reader has already read and checked. Rows come unfiltered and
// deinterlaced, every sample as stored: depths below 8 packed, first pixel
// in the highest bits; 16-bit samples as two bytes, most significant first;
// palette pictures as indices; alpha kept. `channels` is 1 (grey or index),
// 2 (grey, alpha), 3 (RGB) or 4 (RGBA). False on any fault in the image data
// (a CRC error, a zlib error, data that ends before the last row); nothing
// after the last row can make it fail (more IDAT chunks, the Adler-32
// checksum, a missing IEND), ancillary chunks are never inflated, and a
// PLTE longer than the bit depth can index is accepted as other decoders
// accept it.
bool platformDecodePng(std::span<const uint8_t> file, const RowSink& sink);

// The rows of a PNG file made one at a time where its image data was
// inflated, for the streaming road, which adjusts and encodes rows while
// later ones are still being unfiltered. Only red-green-blue(-alpha)
// pictures of 8- or 16-bit samples that are not interlaced and whose image
// data is plainly sound are taken
// (every IDAT chunk whole with its CRC right, a deflate stream that ends
// where the rows end, known filter types): for them the rows are those
// platformDecodePng hands on. Elsewhere, and on systems whose codec decodes
// whole pictures only, open() takes nothing and the picture is decoded the
// usual way.
class PngRowsInPlace {
public:
    PngRowsInPlace() = default;
    PngRowsInPlace(const PngRowsInPlace&) = delete;
    PngRowsInPlace& operator=(const PngRowsInPlace&) = delete;
    ~PngRowsInPlace();

    // For a file whose signature, IHDR and PLTE the reader has checked.
    bool open(std::span<const uint8_t> file);
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t channels() const { return channels_; }
    uint32_t sampleBits() const { return sampleBits_; }
    size_t stride() const { return stride_; }
    // Row y's samples, as stored (16-bit ones most significant byte first,
    // and not aligned to 2 bytes); meaningful once unfilter(y) has run.
    uint8_t* row(uint32_t y) { return rows_ + y * stride_ + 1; }
    // Unfilters rows y to y + count - 1; rows go in order, top first, each
    // once.
    void unfilter(uint32_t y, uint32_t count);

private:
    uint8_t* rows_ = nullptr;   // the filtered rows, each after its filter byte
    uint8_t* zeros_ = nullptr;  // the row above the top row
    uint32_t width_ = 0, height_ = 0, channels_ = 0, sampleBits_ = 0;
    size_t stride_ = 0;
};

// Decodes a JPEG file (baseline or progressive, any subsampling, grey) as the
// library decodes by default: accurate integer transform, smooth chroma
// upsampling. Rows are 8-bit grey (1 channel) or red-green-blue (3). False
// when the file is corrupt or ends early.
bool platformDecodeJpeg(std::span<const uint8_t> file, const RowSink& sink);

// What the TIFF reader found in a file's first directory: the picture the
// codec must find there too, and the samples it hands on. Numbers are those
// TIFF 6.0 (and the extensions that libtiff reads) gives.
struct TiffLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t samples = 0;        // samples a pixel, as stored
    uint32_t sampleBits = 8;     // 1 to 16 (integers), 16 or 32 (floating point); every sample alike
    bool floatingPoint = false;  // IEEE floats (SampleFormat 3)
    uint32_t colourSamples = 3;  // 1 (grey, or palette indices) or 3 (red, green, blue): the first samples of a pixel
    int32_t alphaSample = -1;    // the stored sample that is alpha, or -1
    uint32_t photometric = 2;    // 0 or 1 grey, 2 RGB, 3 palette, 6 YCbCr
    uint32_t compression = 1;
    bool planar = false;         // each sample in planes of its own
    bool tiled = false;
    bool bigTiff = false;
};

// Decodes the first picture of a TIFF file whose first directory the reader
// has read and checked (stored top row first). Each row handed on holds,
// for every pixel, the colour samples and then the alpha sample when the
// layout has one (`channels` is colourSamples, plus one for alpha); any
// other extra sample is left out. Samples of 8, 16 and 32 bits come as
// bytes or native-endian words, whatever the file's byte order; samples of
// other sizes packed one after the other, first sample in the highest bits,
// the row ending on a whole byte. Nothing else is changed: white-is-zero
// grey, palette indices and premultiplied colour are handed on as stored,
// and no colour management is done. YCbCr alone is converted, by the
// codec's own rules, to 8-bit red, green and blue (`channels` 3). False on
// any fault in the image data, or when the codec sees a picture other than
// `layout`.
bool platformDecodeTiff(std::span<const uint8_t> file, const TiffLayout& layout, const RowSink& sink);

// What the system's TIFF codec cannot decode of a picture that the reader
// takes, for the reader to name: none, or the first of these it lacks.
enum class TiffGap : uint8_t { none, compression, sampleBits, bigTiff };
TiffGap platformTiffGap(const TiffLayout& layout);

// Receives an encoded file's bytes, in order; false stops the encoding.
struct ByteSink {
    void* context = nullptr;
    bool (*write)(void* context, const void* bytes, size_t size) = nullptr;
};

// A picture handed to an encoder: rows of interleaved samples, grey, or
// red-green-blue (and alpha) or, for 8-bit samples when `bgr` is set,
// blue-green-red (and alpha). `first` is the top row; `stride` is the
// distance in bytes from one row to the row below it, negative when memory
// runs bottom row first (a display bitmap).
struct PixelRows {
    const uint8_t* first = nullptr;
    ptrdiff_t stride = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 3;    // 1 (grey), 3 (colour) or 4 (colour and alpha)
    uint32_t sampleBits = 8;  // 8, 16 as native-endian words, or 32 (floats)
    bool bgr = false;         // 8-bit samples only
    bool floats = false;      // 32-bit IEEE floats, native-endian: grey TIFF and OpenEXR only
};

// Encodes `rows` as a TIFF file of one picture: grey (BlackIsZero), or
// red-green-blue, or red-green-blue-alpha with unassociated alpha
// (ExtraSamples 2) when `rows.channels` is 4, samples of `rows.sampleBits`
// (32-bit grey ones as IEEE floats), Deflate compression. False when the
// encoder or the sink fails.
bool platformEncodeTiff(const PixelRows& rows, const ByteSink& sink);

// OpenEXR, where the system has a library for it: everywhere but Windows.
bool platformHasOpenExr();

// The picture the OpenEXR reader found in a file's first part, and the
// channels the codec hands on.
struct ExrLayout {
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // the data window, inclusive
    uint32_t channels = 0;                             // 1, 3 or 4
    const char* names[4] = {};                         // the channels read, in the order handed on
};

// Decodes the first part of an OpenEXR file whose headers the reader has
// walked and checked: the named channels of every pixel of the data
// window, converted to 32-bit floats, interleaved into `samples` (width x
// height x channels, top row first), which the caller has allocated. False
// on any fault in the file (or when the library sees another data window),
// with the library's reason in `reason` (NUL-terminated, cut to its size)
// when it gave one; nothing is written to standard error. Never throws.
bool platformDecodeExr(std::span<const uint8_t> file, const ExrLayout& layout, float* samples, std::span<char> reason);

// Encodes `rows` (one channel of 32-bit floats) as an OpenEXR file of one
// part: a scanline picture whose one channel, "Y", holds 32-bit floats,
// ZIP compression, the data and display windows (0, 0) to (width - 1,
// height - 1). False when the encoder or the sink fails, or where there is
// no library.
bool platformEncodeExr(const PixelRows& rows, const ByteSink& sink);

// ASTC blocks through Arm's astcenc library, where the system has it:
// everywhere but Windows. Both ways use the LDR profile (linear, no sRGB).
bool platformHasAstc();

// A picture handed to the ASTC encoder: width x height pixels of four
// samples (red, green, blue, alpha), top row first, no padding; bytes when
// `floats` is clear, otherwise 32-bit floats from 0 to 1.
struct AstcPicture {
    const void* samples = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    bool floats = false;
};

// One encoder: a block size, a search effort from 0 (the library's fastest
// preset) to 100 (exhaustive), and the number of threads that will encode
// each picture together. A normal map is encoded in the library's
// normal-map mode (error measured as angles), X taken from red and Y from
// green and stored as the library's command line stores normals: X in red,
// green and blue, Y in alpha.
struct AstcEncoder;
struct AstcEncoderSettings {
    uint32_t blockX = 4;
    uint32_t blockY = 4;
    float effort = 60;
    unsigned threads = 1;
    bool normalMap = true;
};
// Null where there is no library, for settings it refuses, or without memory.
AstcEncoder* platformOpenAstcEncoder(const AstcEncoderSettings& settings);
void platformCloseAstcEncoder(AstcEncoder* encoder);
// Encodes `picture` into `out` (16 bytes a block, blocks in rows from the
// top, `outSize` exactly that). Every thread of the encoder calls it once
// with its own `thread` (0 to threads - 1), at the same time or one after
// another; together they encode the picture. Afterwards, when every call
// has returned, platformAstcEncoderReset readies the encoder for the next
// picture.
bool platformAstcEncode(AstcEncoder* encoder, const AstcPicture& picture, uint8_t* out, size_t outSize,
                        unsigned thread);
bool platformAstcEncoderReset(AstcEncoder* encoder);

// Decodes width x height pixels of ASTC blocks of blockX x blockY (a 2D
// block size of the format, the blocks as above) into `rgba`, 4 bytes a
// pixel, top row first, as stored (no swizzle). Blocks the LDR profile
// cannot decode come out as the format's error colour (magenta). False
// where there is no library, for a size the blocks do not match, or
// without memory.
bool platformDecodeAstc(std::span<const uint8_t> blocks, uint32_t blockX, uint32_t blockY, uint32_t width,
                        uint32_t height, uint8_t* rgba);
