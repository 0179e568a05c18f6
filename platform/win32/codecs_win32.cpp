// PNG, JPEG and TIFF decoding and TIFF encoding through the Windows Imaging
// Component. Each frame is taken in the pixel format the decoder reports for it, never through a
// format converter (Wine's refuses 16-bit, palette and packed grey frames),
// and its samples are put back into the order the file stores them: PNG's
// 16-bit samples most significant byte first, TIFF's as native words.
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/basics.h"
#include "platform/codecs.h"
#include "platform/memory_block.h"
#include "platform/png_chunk.h"
#include "platform/png_image_data.h"
#include "platform/tiff_encoding.h"

namespace {

// Owns one COM interface pointer.
template <class T>
struct Com {
    T* p = nullptr;
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
    T** out() { return &p; }
};

// COM for the calling thread, for the length of one call: the command line
// decodes from worker threads. A thread that already has another apartment
// keeps it (RPC_E_CHANGED_MODE) and is not uninitialised here.
struct ComScope {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool usable() const { return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE; }
    ~ComScope() {
        if (result == S_OK || result == S_FALSE) CoUninitialize();
    }
};

bool createFactory(Com<IWICImagingFactory>& factory) {
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out())));
}

// Where each sample of a WIC pixel format sits. Formats of whole samples list
// the sample holding red, green, blue and alpha (-1: none; grey formats give
// their one sample as all three); `sampleBytes` 2 and 4 mean little-endian
// words.
// Packed and palette formats (sampleBytes 0) are copied as they come, which
// is how PNG stores them: first pixel in the highest bits.
struct WicLayout {
    const GUID* format;
    uint32_t bitsPerPixel;
    uint32_t sampleBytes;
    int8_t red, green, blue, alpha;
    bool floating = false;  // IEEE floats or halves
};

constexpr WicLayout wicLayouts[] = {
    {&GUID_WICPixelFormat24bppBGR, 24, 1, 2, 1, 0, -1},
    {&GUID_WICPixelFormat24bppRGB, 24, 1, 0, 1, 2, -1},
    {&GUID_WICPixelFormat32bppBGRA, 32, 1, 2, 1, 0, 3},
    {&GUID_WICPixelFormat32bppRGBA, 32, 1, 0, 1, 2, 3},
    {&GUID_WICPixelFormat48bppRGB, 48, 2, 0, 1, 2, -1},
    {&GUID_WICPixelFormat48bppBGR, 48, 2, 2, 1, 0, -1},
    {&GUID_WICPixelFormat64bppRGBA, 64, 2, 0, 1, 2, 3},
    {&GUID_WICPixelFormat64bppBGRA, 64, 2, 2, 1, 0, 3},
    // TIFF's colour with a padding sample (an extra sample that is not alpha).
    {&GUID_WICPixelFormat32bppBGR, 32, 1, 2, 1, 0, -1},
    {&GUID_WICPixelFormat32bppRGB, 32, 1, 0, 1, 2, -1},
    {&GUID_WICPixelFormat64bppRGB, 64, 2, 0, 1, 2, -1},
    // TIFF's associated alpha: the colour samples as stored, premultiplied.
    {&GUID_WICPixelFormat32bppPBGRA, 32, 1, 2, 1, 0, 3},
    {&GUID_WICPixelFormat32bppPRGBA, 32, 1, 0, 1, 2, 3},
    {&GUID_WICPixelFormat64bppPRGBA, 64, 2, 0, 1, 2, 3},
    {&GUID_WICPixelFormat64bppPBGRA, 64, 2, 2, 1, 0, 3},
    {&GUID_WICPixelFormat8bppGray, 8, 1, 0, 0, 0, -1},
    {&GUID_WICPixelFormat16bppGray, 16, 2, 0, 0, 0, -1},
    // TIFF's 32-bit floating-point samples, as stored.
    {&GUID_WICPixelFormat32bppGrayFloat, 32, 4, 0, 0, 0, -1, true},
    {&GUID_WICPixelFormat96bppRGBFloat, 96, 4, 0, 1, 2, -1, true},
    {&GUID_WICPixelFormat128bppRGBFloat, 128, 4, 0, 1, 2, -1, true},
    {&GUID_WICPixelFormat128bppRGBAFloat, 128, 4, 0, 1, 2, 3, true},
    {&GUID_WICPixelFormat128bppPRGBAFloat, 128, 4, 0, 1, 2, 3, true},
    {&GUID_WICPixelFormatBlackWhite, 1, 0, -1, -1, -1, -1},
    {&GUID_WICPixelFormat2bppGray, 2, 0, -1, -1, -1, -1},
    {&GUID_WICPixelFormat4bppGray, 4, 0, -1, -1, -1, -1},
    {&GUID_WICPixelFormat1bppIndexed, 1, 0, -1, -1, -1, -1},
    {&GUID_WICPixelFormat2bppIndexed, 2, 0, -1, -1, -1, -1},
    {&GUID_WICPixelFormat4bppIndexed, 4, 0, -1, -1, -1, -1},
    {&GUID_WICPixelFormat8bppIndexed, 8, 0, -1, -1, -1, -1},
};

const WicLayout* findLayout(const GUID& format) {
    for (const WicLayout& layout : wicLayouts)
        if (IsEqualGUID(*layout.format, format)) return &layout;
    return nullptr;
}

// What the seam hands on: `channels` samples of `depth` bits a pixel, as
// the file stores them. No channels: as the frame comes, grey or colour
// (JPEG).
struct StoredLayout {
    uint32_t channels;
    uint32_t depth;
    bool palette;              // indices (or grey that WIC reports as indices)
    bool nativeWords = false;  // 16-bit samples handed on as native words, not most significant byte first
    bool wholeSamples = false;  // only formats of whole samples will do
    bool floating = false;      // floats (or halves) only, never whole numbers
};

// The samples of the WIC layout that make up a stored pixel, in stored
// order; false when the frame's format cannot give the stored layout.
bool pickSamples(const WicLayout& wic, const StoredLayout& stored, bool& raw, int8_t (&picks)[4]) {
    raw = wic.sampleBytes == 0;
    if (raw && stored.wholeSamples) return false;
    if (raw) {
        // Grey with a transparent level comes as indices whose values are the levels.
        return stored.channels == 1 && stored.depth == wic.bitsPerPixel;
    }
    if (stored.palette || stored.depth != 8 * wic.sampleBytes || stored.floating != wic.floating) return false;
    switch (stored.channels) {
    case 1: picks[0] = wic.red; break;
    case 2: picks[0] = wic.red, picks[1] = wic.alpha; break;
    case 3: picks[0] = wic.red, picks[1] = wic.green, picks[2] = wic.blue; break;
    case 4: picks[0] = wic.red, picks[1] = wic.green, picks[2] = wic.blue, picks[3] = wic.alpha; break;
    default: return false;
    }
    for (uint32_t c = 0; c < stored.channels; ++c)
        if (picks[c] < 0) return false;
    return true;
}

// Rows of one frame copied out in bands of about a megabyte, each row
// rewritten into the stored layout and handed to the sink.
bool deliverFrame(IWICBitmapFrameDecode* frame, const StoredLayout& wanted, const RowSink& sink) {
    UINT width = 0, height = 0;
    WICPixelFormatGUID format{};
    if (FAILED(frame->GetSize(&width, &height)) || FAILED(frame->GetPixelFormat(&format))) return false;
    const WicLayout* wic = findLayout(format);
    StoredLayout stored = wanted;
    if (stored.channels == 0 && wic) {
        if (IsEqualGUID(format, GUID_WICPixelFormat8bppGray)) stored.channels = 1;
        if (IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) stored.channels = 3;
    }
    bool raw = false;
    int8_t picks[4] = {};
    if (!wic || !pickSamples(*wic, stored, raw, picks)) return false;
    if (!imageSizeAllowed(width, height)) return false;
    if (!sink.begin(sink.context, width, height, stored.channels)) return false;

    const size_t wicStride = (size_t{width} * wic->bitsPerPixel + 7) / 8;
    const size_t storedStride = (size_t{width} * stored.channels * stored.depth + 7) / 8;
    if (wicStride > 0x7FFFFFFFu) return false;
    constexpr size_t bandBytes = size_t{1} << 20;
    const UINT bandRows = static_cast<UINT>(std::max<size_t>(1, std::min<size_t>(height, bandBytes / wicStride)));
    MemoryBlock band(wicStride * bandRows);
    MemoryBlock row(raw ? 0 : storedStride);
    if (!band.bytes || !row.bytes) return false;

    const auto tailBits = static_cast<uint32_t>((size_t{width} * wic->bitsPerPixel) % 8);
    const uint32_t wicBytes = wic->bitsPerPixel / 8;
    const uint32_t sampleBytes = wic->sampleBytes;
    for (UINT top = 0; top < height; top += bandRows) {
        const UINT rows = std::min(bandRows, height - top);
        const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(frame->CopyPixels(&rect, static_cast<UINT>(wicStride), static_cast<UINT>(wicStride * rows),
                                     band.bytes)))
            return false;
        for (UINT r = 0; r < rows; ++r) {
            uint8_t* const line = band.bytes + r * wicStride;
            if (raw) {
                // The bits after the last pixel of a packed row are not
                // written by CopyPixels; they are handed on as zeros.
                if (tailBits) line[wicStride - 1] &= static_cast<uint8_t>(0xFF00u >> tailBits);
                sink.row(sink.context, top + r, line);
                continue;
            }
            const uint8_t* in = line;
            uint8_t* out = row.bytes;
            if (sampleBytes == 1 && stored.channels == 3 && wicBytes == 3 && picks[0] == 2 && picks[2] == 0) {
                // Blue-green-red, the common case, swapped in one tight loop.
                for (UINT x = 0; x < width; ++x, in += 3, out += 3) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            } else if (sampleBytes == 1) {
                for (UINT x = 0; x < width; ++x, in += wicBytes)
                    for (uint32_t c = 0; c < stored.channels; ++c) *out++ = in[picks[c]];
            } else if (stored.nativeWords) {
                // Little-endian words in the frame, as Windows stores words.
                for (UINT x = 0; x < width; ++x, in += wicBytes)
                    for (uint32_t c = 0; c < stored.channels; ++c, out += sampleBytes)
                        std::memcpy(out, in + sampleBytes * picks[c], sampleBytes);
            } else {
                // Little-endian words in the frame, most significant byte first in the file.
                for (UINT x = 0; x < width; ++x, in += wicBytes)
                    for (uint32_t c = 0; c < stored.channels; ++c) {
                        const uint8_t* word = in + 2 * picks[c];
                        *out++ = word[1];
                        *out++ = word[0];
                    }
            }
            sink.row(sink.context, top + r, row.bytes);
        }
    }
    return true;
}

// Frame 0 of `file` decoded by the container's own decoder (never one chosen
// by sniffing the bytes).
bool decodeFile(std::span<const uint8_t> file, const GUID& container, const StoredLayout& stored,
                const RowSink& sink) {
    if (file.size() > 0xFFFFFFFFu || !sink.begin || !sink.row) return false;
    ComScope com;
    if (!com.usable()) return false;
    Com<IWICImagingFactory> factory;
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    if (!createFactory(factory) || FAILED(factory->CreateStream(stream.out())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(file.data()), static_cast<DWORD>(file.size()))) ||
        FAILED(factory->CreateDecoder(container, nullptr, decoder.out())) ||
        FAILED(decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand)) ||
        FAILED(decoder->GetFrame(0, frame.out())))
        return false;
    return deliverFrame(frame.p, stored, sink);
}

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void putBigEndian32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

// Appends a chunk of `type` holding `size` bytes of `data`, under its CRC.
void appendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    const size_t start = out.size();
    out.resize(start + 12 + size);
    uint8_t* chunk = out.data() + start;
    putBigEndian32(chunk, static_cast<uint32_t>(size));
    std::memcpy(chunk + 4, type, 4);
    if (size) std::memcpy(chunk + 8, data, size);
    putBigEndian32(chunk + 8 + size, pngChunkCrc(chunk + 4, 4 + size));
}

// The part of a PNG file that WIC is given: the signature, IHDR, PLTE and
// the image data of the first run of IDAT chunks, then IEND.
// - Ancillary chunks are left out, so the decoder neither expands tRNS into
//   alpha nor reads text and profiles; nothing after the image data (more
//   chunks, a bad IEND, trailing bytes) can matter.
// - Wine's decoder ignores CRC errors, so the CRCs are checked here.
// - The decoder's zlib checks the Adler-32 checksum after the last row while
//   it still has input, and fails the whole picture when it is wrong or
//   missing. So the last four bytes of the image data (the checksum, in a
//   well-formed file) go into an IDAT chunk of their own, followed by one of
//   four spare bytes: the checksum is then read only once the picture is
//   complete, where a mismatch is a warning, and a stream without one finds
//   something to read instead of running out of data.
// - The image data is checked first (platform/png_image_data.h): data that
//   cannot make the picture is refused here, after inflating no more than
//   the picture's own size, and a stream that runs on past the last row is
//   replaced by the rows alone in stored blocks, so that the decoder never
//   inflates more than the picture either, whatever the stream would
//   inflate to.
// False for a CRC error, a critical chunk cut short or unknown before the
// image data ends, image data that breaks or ends before the last row or
// has a filter type that does not exist, or when there is no image data.
bool pngImagePart(std::span<const uint8_t> file, const PngRowsLayout& layout, std::vector<uint8_t>& part) {
    constexpr size_t signatureSize = 8;
    part.assign(file.begin(), file.begin() + signatureSize);
    std::vector<uint8_t> data;
    bool inImageData = false;
    size_t at = signatureSize;
    while (file.size() - at >= 8) {
        const uint8_t* head = file.data() + at;
        const uint32_t length = bigEndian32(head);
        const bool idat = std::memcmp(head + 4, "IDAT", 4) == 0;
        if ((inImageData && !idat) || std::memcmp(head + 4, "IEND", 4) == 0) break;
        const size_t available = file.size() - at - 8;
        const bool whole = length <= 0x7FFFFFFFu && available >= size_t{length} + 4;
        if ((head[4] & 0x20) != 0) {  // ancillary
            if (!whole) break;
            at += 12 + size_t{length};
            continue;
        }
        if (!idat && std::memcmp(head + 4, "IHDR", 4) != 0 && std::memcmp(head + 4, "PLTE", 4) != 0) return false;
        // A chunk that the end of the file cuts short, its CRC with it, is
        // refused as libspng refuses it, even when its data holds the rest
        // of the picture.
        if (!whole) return false;
        if (pngChunkCrc(head + 4, 4 + size_t{length}) != bigEndian32(head + 8 + length)) return false;
        if (idat)
            data.insert(data.end(), head + 8, head + 8 + length);
        else
            part.insert(part.end(), head, head + 12 + length);
        inImageData = inImageData || idat;
        at += 12 + size_t{length};
    }
    if (!inImageData) return false;
    bool runsOn = false;
    if (checkPngImageData(data, layout, runsOn) != PngImageDataCheck::complete) return false;
    if (runsOn) {
        std::vector<uint8_t> rebuilt;
        if (!pngRowsAsStoredStream(data, layout, rebuilt)) return false;
        data.swap(rebuilt);
    }
    const size_t tail = std::min<size_t>(4, data.size());
    appendChunk(part, "IDAT", data.data(), data.size() - tail);
    appendChunk(part, "IDAT", data.data() + data.size() - tail, tail);
    static constexpr uint8_t spare[4] = {};
    appendChunk(part, "IDAT", spare, sizeof spare);
    appendChunk(part, "IEND", nullptr, 0);
    return true;
}

}  // namespace

// WIC decodes whole pictures only: every PNG goes the usual way.
PngRowsInPlace::~PngRowsInPlace() = default;
bool PngRowsInPlace::open(std::span<const uint8_t>) { return false; }
void PngRowsInPlace::unfilter(uint32_t, uint32_t) {}

bool platformDecodePng(std::span<const uint8_t> file, const RowSink& sink) {
    // The stored layout comes from IHDR, which the reader has checked.
    if (file.size() < 33 || std::memcmp(file.data() + 12, "IHDR", 4) != 0) return false;
    const uint8_t depth = file[24];
    const uint8_t colourType = file[25];
    StoredLayout stored{0, depth, colourType == 3};
    switch (colourType) {
    case 0: case 3: stored.channels = 1; break;
    case 2: stored.channels = 3; break;
    case 4: stored.channels = 2; break;
    case 6: stored.channels = 4; break;
    default: return false;
    }
    const PngRowsLayout layout{bigEndian32(file.data() + 16), bigEndian32(file.data() + 20),
                               uint32_t{depth} * stored.channels, file[28] != 0};
    std::vector<uint8_t> part;
    try {
        if (!pngImagePart(file, layout, part)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return decodeFile(part, GUID_ContainerFormatPng, stored, sink);
}

bool platformDecodeJpeg(std::span<const uint8_t> file, const RowSink& sink) {
    // JPEG frames come as 8-bit grey or blue-green-red; any other (CMYK) is refused.
    return decodeFile(file, GUID_ContainerFormatJpeg, StoredLayout{0, 8, false}, sink);
}

namespace {

// WIC hands white-is-zero grey on turned round, as black-is-zero grey (it
// has no white-is-zero formats); the reader wants it as stored, so it is
// turned back here: max - v, every bit of the sample flipped.
struct StoredGrey {
    const RowSink* sink;
    uint32_t width = 0;
    uint32_t bits = 0;
    bool alpha = false;  // every other sample is alpha, left alone
    size_t rowBytes = 0;
    uint8_t* row = nullptr;  // malloc
    ~StoredGrey() { std::free(row); }
};

bool beginStoredGrey(void* context, uint32_t width, uint32_t height, uint32_t channels) {
    auto& g = *static_cast<StoredGrey*>(context);
    g.width = width;
    g.rowBytes = (size_t{width} * channels * g.bits + 7) / 8;
    g.row = static_cast<uint8_t*>(std::malloc(g.rowBytes ? g.rowBytes : 1));
    return g.row && g.sink->begin(g.sink->context, width, height, channels);
}

void storedGreyRow(void* context, uint32_t y, const uint8_t* in) {
    auto& g = *static_cast<StoredGrey*>(context);
    std::memcpy(g.row, in, g.rowBytes);
    const size_t sampleBytes = g.bits / 8;
    if (!g.alpha) {
        for (size_t i = 0; i < g.rowBytes; ++i) g.row[i] = static_cast<uint8_t>(~g.row[i]);
    } else {
        for (size_t x = 0; x < g.width; ++x)
            for (size_t b = 0; b < sampleBytes; ++b) g.row[2 * x * sampleBytes + b] ^= 0xFF;
    }
    g.sink->row(g.sink->context, y, g.row);
}

}  // namespace

bool platformDecodeTiff(std::span<const uint8_t> file, const TiffLayout& layout, const RowSink& sink) {
    // The decoder reports grey as grey, grey with alpha and colour with
    // alpha as four samples (alpha last), colour as three, YCbCr as
    // blue-green-red; the samples the reader keeps are picked from those.
    // Grey and palette indices of fewer than 8 bits come packed, as stored.
    // Extra samples it cannot place in one of its formats make it refuse the
    // frame.
    if (platformTiffGap(layout) != TiffGap::none) return false;
    const bool ycbcr = layout.photometric == 6;
    const uint32_t channels = ycbcr ? 3 : layout.colourSamples + (layout.alphaSample >= 0 ? 1 : 0);
    const uint32_t depth = ycbcr ? 8 : layout.sampleBits;
    // Palette indices come as indices, whatever their size.
    const StoredLayout stored{channels, depth, false, true, depth >= 8 && layout.photometric != 3,
                              layout.floatingPoint};
    if (layout.photometric != 0) return decodeFile(file, GUID_ContainerFormatTiff, stored, sink);
    StoredGrey grey{&sink};
    grey.bits = depth;
    grey.alpha = channels == 2;
    const RowSink turned{&grey, beginStoredGrey, storedGreyRow};
    return decodeFile(file, GUID_ContainerFormatTiff, stored, turned);
}

TiffGap platformTiffGap(const TiffLayout& layout) {
    // The compressions WIC's TIFF decoder reads: none, CCITT, LZW, JPEG,
    // Deflate (both numbers) and PackBits; no BigTIFF.
    constexpr uint32_t decoded[] = {1, 2, 3, 4, 5, 7, 8, 32773, 32946};
    if (std::find(std::begin(decoded), std::end(decoded), layout.compression) == std::end(decoded))
        return TiffGap::compression;
    if (layout.bigTiff) return TiffGap::bigTiff;
    // Its pixel formats hold samples of 8 and 16 bits, 32-bit floats (its
    // half formats are not those of TIFF files), and grey or palette indices
    // of 1, 2 and 4 bits alone.
    const uint32_t bits = layout.sampleBits;
    const bool packedGrey =
        layout.colourSamples == 1 && layout.alphaSample < 0 && (bits == 1 || bits == 2 || bits == 4);
    if (layout.floatingPoint ? bits != 32 : bits != 8 && bits != 16 && !packedGrey) return TiffGap::sampleBits;
    return TiffGap::none;
}

namespace {

// The WIC format a TIFF is encoded from: grey of 8 or 16 bits or 32-bit
// floats as they are; 3 or 4 samples of 8 or 16 bits with 8-bit rows as
// blue-green-red(-alpha), 16-bit ones as red-green-blue(-alpha) words. The
// alpha formats are the unassociated ones (not premultiplied), which the
// codec writes as ExtraSamples 2.
const GUID& tiffFormatFor(const TiffEncoding& e) {
    if (e.samplesPerPixel == 1)
        return e.bitsPerSample == 32 ? GUID_WICPixelFormat32bppGrayFloat
               : e.bitsPerSample == 16 ? GUID_WICPixelFormat16bppGray
                                       : GUID_WICPixelFormat8bppGray;
    const bool alpha = e.extraSamples != 0;
    if (e.bitsPerSample == 16) return alpha ? GUID_WICPixelFormat64bppRGBA : GUID_WICPixelFormat48bppRGB;
    return alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
}

// Row y of `rows` in the encoder's format: 8-bit colour swapped to
// blue-green-red unless it is already; grey and wider samples as they are.
void encoderRow(const PixelRows& rows, uint32_t y, uint8_t* out) {
    const uint8_t* in = rows.first + static_cast<ptrdiff_t>(y) * rows.stride;
    const size_t bytes = size_t{rows.width} * rows.channels * (rows.sampleBits / 8);
    if (rows.sampleBits != 8 || rows.bgr || rows.channels == 1)
        std::memcpy(out, in, bytes);
    else
        copyPixelsSwappedKeepingStep(in, rows.channels, out, rows.width);
}

// Asks the frame for Deflate compression. The codec has no option for the
// predictor, the strips or the level: it chooses them itself.
bool askForDeflate(IPropertyBag2* options) {
    PROPBAG2 name{};
    name.pstrName = const_cast<LPOLESTR>(L"TiffCompressionMethod");
    VARIANT value{};
    value.vt = VT_UI1;
    value.bVal = WICTiffCompressionZIP;
    return SUCCEEDED(options->Write(1, &name, &value));
}

// Hands the bytes of a memory stream to the sink.
bool drainStream(IStream* stream, const ByteSink& sink) {
    HGLOBAL memory = nullptr;
    STATSTG stat{};
    if (FAILED(GetHGlobalFromStream(stream, &memory)) || FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return false;
    const auto size = static_cast<size_t>(stat.cbSize.QuadPart);
    const void* bytes = GlobalLock(memory);
    if (!bytes) return false;
    const bool ok = sink.write(sink.context, bytes, size);
    GlobalUnlock(memory);
    return ok;
}

}  // namespace

bool platformEncodeTiff(const PixelRows& rows, const ByteSink& sink) {
    TiffEncoding encoding;
    if (!sink.write || !tiffEncodingFor(rows, encoding)) return false;
    // The compression decided for every TIFF is Deflate, which the frame is asked for below.
    static_assert(TiffEncoding{}.compression == 8);
    const size_t rowBytes = encoding.rowBytes;
    ComScope com;
    if (!com.usable()) return false;
    // The encoder seeks back to finish the directory: it writes into a
    // growing memory stream, handed to the sink once complete.
    Com<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()))) return false;
    Com<IWICImagingFactory> factory;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    Com<IPropertyBag2> options;
    if (!createFactory(factory) || FAILED(factory->CreateEncoder(GUID_ContainerFormatTiff, nullptr, encoder.out())) ||
        FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.out(), options.out())) || !askForDeflate(options.p) ||
        FAILED(frame->Initialize(options.p)) || FAILED(frame->SetSize(encoding.width, encoding.height)))
        return false;
    const GUID& wanted = tiffFormatFor(encoding);
    WICPixelFormatGUID format = wanted;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, wanted)) return false;
    MemoryBlock row(rowBytes);
    if (!row.bytes) return false;
    for (uint32_t y = 0; y < rows.height; ++y) {
        encoderRow(rows, y, row.bytes);
        if (FAILED(frame->WritePixels(1, static_cast<UINT>(rowBytes), static_cast<UINT>(rowBytes), row.bytes)))
            return false;
    }
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()) && drainStream(stream.p, sink);
}
