// Photoshop documents (the Adobe Photoshop file format, version 1, 8 or 16
// bits a channel): only the merged image data at the end of the file is
// read, raw or PackBits-compressed (at 16 bits the packed rows are rows of
// bytes, two a sample, most significant first). Greyscale, indexed and RGB
// files keep their colours, and an RGB file's fourth channel is kept as its
// alpha; every other colour mode becomes the average of its channels.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "readers/psd_reader.h"
#include "readers/readers.h"

namespace {

constexpr uint32_t headerBytes = 26;
constexpr uint32_t paletteBytes = 768;
constexpr int32_t greyscaleMode = 1;
constexpr int32_t indexedMode = 2;
constexpr int32_t rgbMode = 3;
constexpr uint16_t rawCompression = 0;
constexpr uint16_t packBitsCompression = 1;

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

bool readBe16(ByteReader* reader, uint16_t& value) {
    std::span<const uint8_t> bytes;
    if (!readSpan(reader, 2, bytes)) return false;
    value = be16(bytes.data());
    return true;
}

bool readBe32(ByteReader* reader, uint32_t& value) {
    std::span<const uint8_t> bytes;
    if (!readSpan(reader, 4, bytes)) return false;
    value = be32(bytes.data());
    return true;
}

// The fewest bytes that can hold the image data after its compression field:
// raw data is every sample; PackBits data is one 2-byte count per row of each
// channel and then, at best, runs of 128 bytes in 2 bytes each.
uint64_t smallestDataSize(uint16_t compression, uint64_t sampleCount, uint64_t rowCount) {
    if (compression == rawCompression) return sampleCount;
    return 2 * rowCount + 2 * ((sampleCount + 127) / 128);
}

// The planes lie one after another in one block, so both decoders fill them
// as a single run of channelCount x planeSize bytes from planes[0].
size_t planeBytes(const PsdReaderState* state) {
    return size_t{state->planeSize} * static_cast<uint32_t>(state->channelCount);
}

bool readRawPlanes(PsdReaderState* state) {
    std::span<const uint8_t> samples;
    if (!readSpan(&state->reader, static_cast<uint32_t>(planeBytes(state)), samples)) return false;
    std::memcpy(state->planes[0], samples.data(), samples.size());
    return true;
}

// One packed stream over all planes in order: runs and copies go on across
// rows and from one plane into the next, and decoding ends as soon as the
// last plane is full, dropping the rest of a run or copy.
bool unpackPlanes(PsdReaderState* state) {
    ByteReader* reader = &state->reader;
    // The row byte counts must be there, but the stream is decoded without them.
    std::span<const uint8_t> counts;
    if (!readSpan(reader, 2 * state->height * static_cast<uint32_t>(state->channelCount), counts)) return false;
    std::span<const uint8_t> stream;
    if (!readSpan(reader, bytesLeft(reader), stream)) return false;

    const uint8_t* in = stream.data();
    const uint8_t* const inEnd = in + stream.size();
    uint8_t* out = state->planes[0];
    uint8_t* const outEnd = out + planeBytes(state);
    while (out != outEnd) {
        if (in == inEnd) return false;
        const uint8_t header = *in++;
        if (header == 128) continue;  // writes nothing
        const bool repeat = header > 128;
        const size_t count = repeat ? size_t{257} - header : size_t{header} + 1;
        if (repeat && in == inEnd) return false;
        // Far from both ends a packet is written in whole 16-byte pieces: the
        // bytes past its end stay inside the planes and the packets that
        // follow overwrite them.
        if (outEnd - out >= 128 && inEnd - in >= 128) {
            uint8_t* const end = out + count;
            if (repeat) {
                const uint8_t value = *in++;
                for (; out < end; out += 16) std::memset(out, value, 16);
            } else {
                for (const uint8_t* from = in; out < end; out += 16, from += 16) std::memcpy(out, from, 16);
                in += count;
            }
            out = end;
            continue;
        }
        const size_t kept = std::min(count, static_cast<size_t>(outEnd - out));
        if (repeat) {
            std::memset(out, *in++, kept);
        } else {
            if (static_cast<size_t>(inEnd - in) < kept) return false;
            std::memcpy(out, in, kept);
            in += kept;
        }
        out += kept;
    }
    return true;
}

// The k-th sample of a plane: a byte, or a big-endian word.
template <typename Sample>
Sample sampleAt(const uint8_t* plane, size_t k) {
    if constexpr (sizeof(Sample) == 1)
        return plane[k];
    else
        return be16(plane + 2 * k);
}

template <typename Sample>
void composePixels(const PsdReaderState* state, Sample* out, size_t step) {
    const size_t count = state->planeSize / sizeof(Sample);
    uint8_t* const* planes = state->planes;
    const int32_t channels = state->colorMode == rgbMode ? std::min<int32_t>(state->channelCount, 3)
                                                           : state->channelCount;
    switch (state->colorMode) {
    case greyscaleMode:
        for (size_t k = 0; k < count; ++k, out += step) out[0] = out[1] = out[2] = sampleAt<Sample>(planes[0], k);
        break;
    case indexedMode:
        if constexpr (sizeof(Sample) == 1)
            for (size_t k = 0; k < count; ++k, out += step) std::memcpy(out, state->palette[planes[0][k]], 3);
        break;
    case rgbMode:
        // Components without a plane are 0.
        for (size_t k = 0; k < count; ++k, out += step)
            for (int32_t c = 0; c < 3; ++c) out[c] = c < channels ? sampleAt<Sample>(planes[c], k) : Sample{0};
        break;
    default: {
        // The mean of all channels: the sum times 1 / channels rounded to a
        // float, multiplied exactly (in a double) and truncated.
        const double factor = static_cast<double>(1.0f / static_cast<float>(channels));
        for (size_t k = 0; k < count; ++k, out += step) {
            uint32_t sum = 0;
            for (int32_t c = 0; c < channels; ++c) sum += sampleAt<Sample>(planes[c], k);
            out[0] = out[1] = out[2] = static_cast<Sample>(static_cast<double>(sum) * factor);
        }
        break;
    }
    }
}

bool composeImage(const PsdReaderState* state, Image* image) {
    const bool alpha = state->colorMode == rgbMode && state->channelCount >= 4;
    const bool words = state->depth == 16;
    if (!startImage(image, state->width, state->height, words ? 16 : 8, alpha)) return false;
    const size_t step = alpha ? 4 : 3;
    if (words)
        composePixels(state, reinterpret_cast<uint16_t*>(image->pixels), step);
    else
        composePixels(state, image->pixels, step);
    if (alpha) {
        const size_t count = size_t{state->width} * state->height;
        for (size_t k = 0; k < count; ++k) {
            if (words)
                reinterpret_cast<uint16_t*>(image->pixels)[4 * k + 3] = be16(state->planes[3] + 2 * k);
            else
                image->pixels[4 * k + 3] = state->planes[3][k];
        }
    }
    return true;
}

// Reads the header and the sections and decodes the image data into the
// planes; the composition follows once the file's bytes are released.
bool parsePsd(PsdReaderState* state) {
    ByteReader* reader = &state->reader;
    std::span<const uint8_t> header;
    if (!readSpan(reader, headerBytes, header) || std::memcmp(header.data(), "8BPS", 4) != 0) return false;
    const uint16_t version = be16(&header[4]);
    // Bytes 6 to 11 are reserved and not examined.
    const uint16_t channels = be16(&header[12]);
    const uint32_t height = be32(&header[14]);
    const uint32_t width = be32(&header[18]);
    const uint16_t depth = be16(&header[22]);
    const uint16_t colorMode = be16(&header[24]);
    if (version != 1 || channels == 0 || (depth != 8 && depth != 16) || (depth == 16 && colorMode == indexedMode))
        return false;

    // Only an indexed file whose colour mode data is exactly one palette has
    // colours; any other length leaves the palette black.
    uint32_t modeDataLength = 0;
    if (!readBe32(reader, modeDataLength)) return false;
    std::span<const uint8_t> paletteData;
    if (colorMode == indexedMode && modeDataLength == paletteBytes) {
        if (!readSpan(reader, paletteBytes, paletteData)) return false;
    } else {
        skipBytes(reader, modeDataLength);
    }
    // Image resources, then layer and mask information: skipped by their
    // lengths. A length past the end makes the next read fail.
    for (int section = 0; section < 2; ++section) {
        uint32_t length = 0;
        if (!readBe32(reader, length)) return false;
        skipBytes(reader, length);
    }
    uint16_t compression = 0;
    if (!readBe16(reader, compression) || (compression != rawCompression && compression != packBitsCompression))
        return false;

    // The picture must be allowed and its data able to fit in the rest of the
    // file before any plane is allocated.
    if (!imageSizeAllowed(width, height)) return false;
    const uint64_t sampleBytes = uint64_t{width} * height * channels * (depth / 8);
    if (sampleBytes > UINT32_MAX ||
        smallestDataSize(compression, sampleBytes, uint64_t{height} * channels) > bytesLeft(reader))
        return false;

    if (!makePsdPlanes(state, colorMode, depth, width, height, channels)) return false;
    // Stored by component: 256 reds, 256 greens, then 256 blues.
    for (size_t i = 0; i < paletteData.size() / 3; ++i) {
        state->palette[i][0] = paletteData[i];
        state->palette[i][1] = paletteData[256 + i];
        state->palette[i][2] = paletteData[512 + i];
    }
    return compression == rawCompression ? readRawPlanes(state) : unpackPlanes(state);
}

}  // namespace

void setUpPsdReader(PsdReaderState* state) { *state = PsdReaderState{}; }

void releasePsdReader(PsdReaderState* state) { releasePsdPlanes(state); }

bool makePsdPlanes(PsdReaderState* state, int32_t colorMode, int32_t depth, uint32_t width, uint32_t height,
                   int32_t channelCount) {
    releasePsdPlanes(state);
    if (channelCount <= 0) return false;
    state->planes = static_cast<uint8_t**>(std::calloc(static_cast<size_t>(channelCount), sizeof(uint8_t*)));
    if (!state->planes) return false;
    state->colorMode = colorMode;
    state->channelCount = channelCount;
    const uint64_t planeSize = uint64_t{depth > 0 ? static_cast<uint32_t>(depth) / 8 : 0u} * width * height;
    const uint64_t totalSize = planeSize * static_cast<uint32_t>(channelCount);
    // Sizes that do not fit in 32 bits are refused rather than wrapped.
    if (planeSize == 0 || totalSize > UINT32_MAX) return false;
    state->width = width;
    state->height = height;
    state->depth = depth;
    state->planeSize = static_cast<uint32_t>(planeSize);
    // The planes lie one after another in one block, owned through planes[0]:
    // given back whole, it can serve the next picture-sized allocation.
    auto* block = static_cast<uint8_t*>(platformAllocLarge(static_cast<size_t>(totalSize)));
    if (!block) return false;
    for (int32_t c = 0; c < channelCount; ++c) state->planes[c] = block + static_cast<size_t>(c) * state->planeSize;
    return true;
}

void releasePsdPlanes(PsdReaderState* state) {
    if (state->planes) {
        platformFreeLarge(state->planes[0]);
        std::free(state->planes);
    }
    const ByteReader reader = state->reader;
    *state = PsdReaderState{};
    state->reader = reader;
}

bool readPsd(std::span<const uint8_t> file, Image* image, LoadFailure&) {
    if (!image) return false;
    resetImage(image);
    PsdReaderState state;
    setUpPsdReader(&state);
    state.reader = readerOver(file);
    const bool composed = parsePsd(&state) && composeImage(&state, image);
    // The planes go now, so that a display bitmap made next can take over
    // their block.
    releasePsdReader(&state);
    if (composed) return true;
    resetImage(image);
    return false;
}
