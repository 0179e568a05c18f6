// Netpbm files: bitmaps (P1 plain, P4 raw), greymaps (P2, P5) and pixmaps
// (P3, P6), told apart by the magic. Samples are scaled from 0..maxval to
// 0..255 and the result is 32 bits a pixel, red, green, blue and 255, top row
// first; a raw greymap or pixmap with a maxval above 255 (two bytes a sample)
// keeps 16 bits instead, scaled to 0..65535.
#include "readers/pnm_reader.h"
#include "readers/readers.h"

#include <cstdlib>
#include <cstring>
#include <span>

namespace {

constexpr uint32_t maxMaxval = 65535;
constexpr uint32_t maxHeaderNumber = 0x7FFFFFFF;

bool isPlain(int32_t variant) { return variant <= 3; }
bool isBitmap(int32_t variant) { return variant == 1 || variant == 4; }
bool isPixmap(int32_t variant) { return variant == 3 || variant == 6; }

// White space as the Netpbm formats define it: C's isspace in the C locale.
bool isWhite(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool endsComment(uint8_t c) { return c == '\n' || c == '\r'; }

// v scaled from 0..maxval to 0..255, rounded half up.
uint8_t scaleSample(uint32_t v, uint32_t maxval) { return static_cast<uint8_t>((v * 255 + maxval / 2) / maxval); }

// Reads past a comment whose '#' has been read, through the CR or LF that
// ends it (or to the end of the file).
void skipComment(ByteReader* reader) {
    uint8_t c = 0;
    while (readU8(reader, c) && !endsComment(c)) {
    }
}

// One header number: white space and comments before it, decimal digits, and
// the one byte after it, which must be white space or begin a comment. A
// comment there ends with its CR or LF, so after the last number of the
// header the cursor is at the first byte of the raster, as Netpbm reads it.
bool readHeaderNumber(ByteReader* reader, uint32_t& value) {
    uint8_t c = 0;
    do {
        if (!readU8(reader, c)) return false;
        if (c == '#') skipComment(reader);
    } while (isWhite(c) || c == '#');
    if (!isDigit(c)) return false;
    uint64_t number = 0;
    for (;;) {
        number = number * 10 + (c - uint32_t{'0'});
        if (number > maxHeaderNumber) return false;
        value = static_cast<uint32_t>(number);
        if (!readU8(reader, c)) return true;  // the file ends with the number
        if (!isDigit(c)) break;
    }
    if (c == '#') skipComment(reader);
    return isWhite(c) || c == '#';
}

bool readPnmHeader(PnmReaderState* state) {
    uint16_t magic = 0;
    if (!readU16(&state->reader, magic)) return false;
    const uint8_t letter = static_cast<uint8_t>(magic & 0xFF), digit = static_cast<uint8_t>(magic >> 8);
    if (letter != 'P' || digit < '1' || digit > '6') return false;
    state->variant = digit - '0';

    uint32_t width = 0, height = 0, maxval = 1;
    if (!readHeaderNumber(&state->reader, width) || !readHeaderNumber(&state->reader, height)) return false;
    if (!isBitmap(state->variant) && !readHeaderNumber(&state->reader, maxval)) return false;
    if (maxval < 1 || maxval > maxMaxval || !imageSizeAllowed(width, height)) return false;
    state->width = static_cast<int32_t>(width);
    state->height = static_cast<int32_t>(height);
    state->maxval = static_cast<int32_t>(maxval);
    return true;
}

// Bytes of the raw raster: packed rows of bits, or one or two bytes a sample.
uint64_t rawRasterBytes(const PnmReaderState* state, uint64_t samplesInImage) {
    const uint64_t width = static_cast<uint32_t>(state->width), height = static_cast<uint32_t>(state->height);
    if (state->variant == 4) return (width + 7) / 8 * height;
    return samplesInImage * (state->maxval > 255 ? 2 : 1);
}

// The plain raster: decimal samples separated by white space or comments;
// for the bitmap, '0' and '1' characters with or without white space between.
// A raster that ends early leaves the remaining samples 0; text after the
// last sample is ignored.
bool readPlainRaster(PnmReaderState* state, std::span<const uint8_t> text) {
    const uint32_t maxval = static_cast<uint32_t>(state->maxval);
    const size_t count = static_cast<size_t>(state->sampleCount);
    size_t i = 0;
    for (size_t n = 0; n < count;) {
        while (i < text.size() && (isWhite(text[i]) || text[i] == '#')) {
            if (text[i++] == '#')
                while (i < text.size() && !endsComment(text[i++])) {
                }
        }
        if (i == text.size()) return true;
        if (!isDigit(text[i])) return false;
        if (state->variant == 1) {
            if (text[i] > '1') return false;
            state->samples[n++] = static_cast<uint8_t>(text[i++] - '0');
            continue;
        }
        uint32_t v = 0;
        while (i < text.size() && isDigit(text[i])) {
            v = v * 10 + (text[i++] - uint32_t{'0'});
            if (v > maxval) return false;
        }
        if (i < text.size() && !isWhite(text[i]) && text[i] != '#') return false;
        state->samples[n++] = scaleSample(v, maxval);
    }
    return true;
}

// Levels of the raw raster of one-byte samples written straight into the
// pixels, `channels` samples a pixel. Fails at a sample above maxval.
template <size_t channels>
bool convertRaw(std::span<const uint8_t> raster, uint32_t maxval, uint8_t* out) {
    uint8_t table[256] = {};
    for (uint32_t v = 0; v <= maxval; ++v) table[v] = scaleSample(v, maxval);
    const uint8_t* in = raster.data();
    const size_t pixels = raster.size() / channels;
    for (size_t i = 0; i < pixels; ++i, out += 4) {
        uint8_t level[channels];
        for (size_t c = 0; c < channels; ++c) {
            const uint32_t v = *in++;
            if (v > maxval) return false;
            level[c] = table[v];
        }
        if constexpr (channels == 1) {
            out[0] = out[1] = out[2] = level[0];
        } else {
            out[0] = level[0];
            out[1] = level[1];
            out[2] = level[2];
        }
        out[3] = 255;
    }
    return true;
}

// The raw bitmap: each row starts at a fresh byte, most significant bit first;
// a set bit is black.
void convertRawBits(std::span<const uint8_t> raster, size_t width, uint8_t* out) {
    const size_t rowBytes = (width + 7) / 8;
    for (size_t start = 0; start < raster.size(); start += rowBytes)
        for (size_t x = 0; x < width; ++x, out += 4) {
            const uint8_t level = (raster[start + x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
            out[0] = out[1] = out[2] = level;
            out[3] = 255;
        }
}

// Two-byte samples (most significant first) scaled to 0..65535, rounded to
// nearest, as 16-bit red-green-blue words. Fails at a sample above maxval.
template <size_t channels>
bool convertWords(std::span<const uint8_t> raster, uint32_t maxval, uint16_t* out) {
    const uint8_t* in = raster.data();
    const size_t pixels = raster.size() / (2 * channels);
    for (size_t i = 0; i < pixels; ++i, out += 3)
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t v = (uint32_t{in[0]} << 8) | in[1];
            if (v > maxval) return false;
            out[c] = static_cast<uint16_t>((v * 65535u + maxval / 2) / maxval);
            if (channels == 3 || c == 2) in += 2;
        }
    return true;
}

// Bytes that are already levels (maxval 255), copied with the fourth byte set.
template <size_t channels>
void copyLevels(std::span<const uint8_t> raster, uint8_t* out) {
    const uint8_t* in = raster.data();
    const size_t pixels = raster.size() / channels;
    for (size_t i = 0; i < pixels; ++i, in += channels, out += 4) {
        out[0] = in[0];
        out[1] = in[channels == 3 ? 1 : 0];
        out[2] = in[channels == 3 ? 2 : 0];
        out[3] = 255;
    }
}

bool convertRawRaster(const PnmReaderState* state, std::span<const uint8_t> raster, uint8_t* out) {
    const uint32_t maxval = static_cast<uint32_t>(state->maxval);
    if (maxval == 255 && state->variant != 4) {
        if (state->variant == 5)
            copyLevels<1>(raster, out);
        else
            copyLevels<3>(raster, out);
        return true;
    }
    switch (state->variant) {
        case 4: convertRawBits(raster, static_cast<uint32_t>(state->width), out); return true;
        case 5: return convertRaw<1>(raster, maxval, out);
        default: return convertRaw<3>(raster, maxval, out);
    }
}

// The plain raster's samples into the pixels: for the bitmap 1 is black and 0
// white; greymaps give equal channels.
void convertPlainSamples(const PnmReaderState* state, uint8_t* out) {
    const uint8_t* s = state->samples;
    const size_t count = static_cast<size_t>(state->sampleCount);
    if (state->variant == 3) {
        for (size_t i = 0; i < count; i += 3, out += 4) {
            std::memcpy(out, s + i, 3);
            out[3] = 255;
        }
        return;
    }
    const bool bitmap = state->variant == 1;
    for (size_t i = 0; i < count; ++i, out += 4) {
        const uint8_t level = bitmap ? (s[i] ? 0 : 255) : s[i];
        out[0] = out[1] = out[2] = level;
        out[3] = 255;
    }
}

void releaseSamples(PnmReaderState* state) {
    std::free(state->samples);
    state->samples = nullptr;
}

// Reads the header and decodes the raster into the Image. Before anything
// picture-sized is allocated, the rest of the file must be able to hold the
// raster: all of it for a raw file, a character a sample for a plain one.
bool decodePnm(PnmReaderState* state, Image* image) {
    if (!readPnmHeader(state)) return false;
    const uint64_t pixels = uint64_t{static_cast<uint32_t>(state->width)} * static_cast<uint32_t>(state->height);
    const uint64_t samplesInImage = isPixmap(state->variant) ? 3 * pixels : pixels;
    const bool plain = isPlain(state->variant);
    const uint64_t needed = plain ? samplesInImage : rawRasterBytes(state, samplesInImage);
    std::span<const uint8_t> data;
    if (needed > bytesLeft(&state->reader) ||
        !readSpan(&state->reader, plain ? bytesLeft(&state->reader) : static_cast<uint32_t>(needed), data))
        return false;

    const uint32_t maxval = static_cast<uint32_t>(state->maxval);
    if (!plain && maxval > 255 && state->variant != 4) {
        if (!startImage(image, static_cast<uint32_t>(state->width), static_cast<uint32_t>(state->height), 16, false))
            return false;
        auto* words = reinterpret_cast<uint16_t*>(image->pixels);
        return state->variant == 5 ? convertWords<1>(data, maxval, words) : convertWords<3>(data, maxval, words);
    }
    image->width = state->width;
    image->height = state->height;
    image->bitsPerPixel = 32;
    image->rowBytes = 4 * state->width;
    image->dataSize = static_cast<uint32_t>(image->rowBytes) * static_cast<uint32_t>(image->height);
    image->pixels = static_cast<uint8_t*>(platformAllocLarge(image->dataSize));
    if (!image->pixels) return false;
    if (!plain) return convertRawRaster(state, data, image->pixels);

    state->sampleCount = static_cast<int32_t>(samplesInImage);
    // Cleared, so that samples a short raster does not reach are 0.
    state->samples = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(state->sampleCount), 1));
    if (!state->samples || !readPlainRaster(state, data)) return false;
    convertPlainSamples(state, image->pixels);
    return true;
}

}  // namespace

void setUpPnmReader(PnmReaderState* state) { *state = PnmReaderState{}; }

void releasePnmReader(PnmReaderState* state) { releaseSamples(state); }

bool readPnm(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image) return false;
    resetImage(image);
    PnmReaderState state;
    setUpPnmReader(&state);
    state.reader = readerOver(file);
    const bool ok = decodePnm(&state, image);
    releasePnmReader(&state);
    if (!ok) {
        resetImage(image);
        return false;
    }
    return true;
}
