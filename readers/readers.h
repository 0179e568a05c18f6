// Loading a picture: one reader per format, each decoding a whole file held
// in memory; one dispatcher that picks the reader by the name's extension;
// and one function that reads a file and hands its bytes to the dispatcher.
// A failed load says why, in a record from which the message is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "encode/astc_codec.h"
#include "image/image.h"
#include "platform/basics.h"
#include "platform/codecs.h"

inline constexpr size_t nameBufferSize = 256;

// Why a picture could not be loaded.
enum class LoadProblem : uint8_t {
    none,
    cannotOpen,        // the system refused to open the file; `systemError` says why
    notRegularFile,    // it opened, but is a folder, a device or the like
    unknownExtension,  // no reader takes the name's extension; `text` holds it
    refusedKind,       // a picture of a kind its reader does not read; `text` names it
    damaged,           // the reader refused it: damaged, cut short, or too large
};

struct LoadFailure {
    LoadProblem problem = LoadProblem::none;
    int systemError = 0;               // cannotOpen: errno of the failed open
    const char* formatName = nullptr;  // refusedKind, damaged: the reader's format, as formatNameOf names it
    // refusedKind: the kind, such as "BC6H_UF16 (DXGI 95)" for a DDS file or
    // "32-bit floating-point samples" for a TIFF file. unknownExtension: the
    // last component's extension with its dot (".xyz", or "." for a name
    // ending in a dot), empty when the name has no dot.
    char text[nameBufferSize] = {};
};

// Decodes `file`, a whole file held in memory, into `image` (which should be
// reset) with the reader that the extension after the last dot of `name`'s
// last component names, ignoring ASCII case; `name` serves nothing else.
// On success the Image is filled: pixels top row first, red-green-blue, at 8
// or 16 bits a sample, with alpha where the file has it (image/image.h), and
// a display bitmap unless `display` is notMade (a BMP may come with one all
// the same: it is where the system decodes it). Otherwise `failure` says
// why (unknownExtension, refusedKind or damaged). Files of more than
// maxFileBytes are damaged.
enum class DisplayBitmap { made, notMade };
bool decodeImage(std::span<const uint8_t> file, const char* name, Image* image, LoadFailure& failure,
                 DisplayBitmap display = DisplayBitmap::made);

// Reads the whole file at `path` with one allocation and one read and
// decodes it with decodeImage; `failure`, when given, says why a load
// failed. A file that cannot be opened, is not a regular
// file or has no reader fails before anything is read; a BMP file whose open
// fails although the file is there (another program holding it) is tried
// again for up to 2000 ms, yielding between attempts.
bool readImageFile(const char* path, Image* image, LoadFailure* failure = nullptr,
                   DisplayBitmap display = DisplayBitmap::made);

// The one-line reason for `failure`, as `program` reports it, for example
// "a DDS file of BC6H_UF16 (DXGI 95), which quorvel-cli does not read".
std::string describeLoadFailure(const LoadFailure& failure, const char* program);

// The name of the format that `path`'s extension selects ("BMP", "Targa",
// "PCX", "Photoshop", "DDS", "KTX2", "Netpbm", "PNG", "JPEG" or "TIFF"), or null
// when no reader takes that extension.
const char* formatNameOf(const char* path);

// What --check --json says a file holds: its container (formatNameOf) and,
// for a texture (DDS, KTX2, ASTC), its payload as the header names it
// ("BC5_UNORM", "ATI2", "BC7_UNORM_BLOCK", "ASTC_6x6"; empty when the header
// cannot be read). False, and no container, when no reader takes the
// extension.
struct StoredFormat {
    const char* container = nullptr;
    char payload[48] = {};
};
bool storedFormatOf(const char* path, StoredFormat& stored);

// Copies the last component of `path` (separators `\` and `/`) into
// `destination`, which holds nameBufferSize bytes. A component that does not
// fit fails.
bool extractFileName(char* destination, const char* path);

// The readers. Each takes a whole file of at most maxFileBytes bytes and an
// Image to fill with pixels as decodeImage describes (the display bitmap is
// decodeImage's to make); on failure the Image is reset and
// `failure` is left alone unless the reader can say more than "damaged"
// (DDS and TIFF name the kinds they refuse).
bool readBmp(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
bool readTga(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
bool readPcx(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
bool readPsd(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
bool readPnm(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
bool readDds(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
// KTX 2.0: the top level of the first layer and face (ktx2_reader.cpp).
bool readKtx2(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
// True when `file` is a KTX2 file of a kind the reader does not read;
// `text` (of `size` bytes) then names it, as in "ASTC_6x6_UNORM_BLOCK
// (VkFormat 165)" or "Basis Universal UASTC".
bool ktx2RefusedKind(std::span<const uint8_t> file, char* text, size_t size);
// The Vulkan format a KTX2 header names ("BC5_UNORM_BLOCK"), or false.
bool ktx2PayloadName(std::span<const uint8_t> file, char* text, size_t size);
bool readPng(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
bool readJpeg(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
// TIFF: 8- or 16-bit samples give an Image of that depth, with alpha when
// the file has an alpha sample.
bool readTiff(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
// ASTC (.astc): a normal map in the ASTC library's normal-map layout,
// read as 24-bit X, Y and rebuilt Z. Refused where there is no library.
bool readAstc(std::span<const uint8_t> file, Image* image, LoadFailure& failure);
// The block size a sound .astc header names ("ASTC_6x6"), or false.
bool astcPayloadName(std::span<const uint8_t> file, char* text, size_t size);
// One level of ASTC normal-map blocks (the .astc file's, a KTX2 file's) as
// the picture readAstc makes; false (the Image reset) where the library
// cannot decode them or there is no memory.
bool decodeAstcNormals(std::span<const uint8_t> blocks, AstcBlock block, uint32_t width, uint32_t height,
                       Image* image);

// For the streaming road: the PNG file `file`, checked as readPng checks it,
// opened for its rows to be made in place. False when the file is not a
// red-green-blue(-alpha) picture that the codec can take so (readPng then
// reads it, or says why it cannot). `rows` keeps nothing of `file`.
bool openPngRows(std::span<const uint8_t> file, PngRowsInPlace& rows);

// Sets `image` up for a 24-bit, top-row-first picture of width x height and
// allocates its pixels (undefined content); false when the size is not
// allowed or there is no memory. For readers that fill rows as a codec
// hands them over.
bool startRgbImage(Image* image, uint32_t width, uint32_t height);

// openPngRows on the file at `path`, for the streaming road, which has not
// read the file yet.
bool openPngRows(const char* path, PngRowsInPlace& rows);
