#include "encode/texture_encoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "encode/block_encoders.h"
#include "encode/mip_chain.h"
#include "image/bands.h"
#include "image/rows.h"

namespace {

// Bytes from a pixel's start to its red, green and blue samples.
struct SampleOffsets {
    size_t at[3];
};

SampleOffsets offsetsOf(const ImageRows& rows) {
    const size_t sample = rows.sampleBytes();
    return {{rows.red * sample, sample, rows.blue * sample}};
}

// The rows of a level as samples (8 or 16 bits, red, green, blue, alpha),
// which the block encoders and the uncompressed layout read.
struct SampleRows {
    const void* context = nullptr;
    void (*row)(const void* context, uint32_t y, uint16_t* rgba) = nullptr;
    uint32_t width = 0, height = 0;
    int sampleBits = 8;
};

// The top level: the picture's samples, alpha full unless it is kept.
struct TopLevel {
    const ImageRows* view;
    bool keepAlpha;
};

void imageSampleRow(const void* context, uint32_t y, uint16_t* rgba) {
    const auto& top = *static_cast<const TopLevel*>(context);
    const ImageRows& view = *top.view;
    readRowFull(view, view.row(y), rgba);
    if (top.keepAlpha) return;
    const uint16_t full = view.sixteen ? 65535 : 255;
    for (uint32_t x = 0; x < view.width; ++x) rgba[4 * x + 3] = full;
}

// The top level as vectors, decoded as the re-normalisation decodes.
void topVectorRow(const void* context, uint32_t y, float* xyz) {
    const auto& view = *static_cast<const ImageRows*>(context);
    const uint8_t* p = view.row(y);
    const SampleOffsets offsets = offsetsOf(view);
    if (view.sixteen) {
        constexpr float unit = 1.0f / 32767.0f;
        for (uint32_t x = 0; x < view.width; ++x, p += view.step)
            for (int k = 0; k < 3; ++k) {
                uint16_t word;
                std::memcpy(&word, p + offsets.at[k], 2);
                *xyz++ = static_cast<float>(static_cast<int32_t>(word) - 32768) * unit;
            }
        return;
    }
    constexpr float unit = 1.0f / 127.0f;
    if (view.step == 3 && offsets.at[0] == 0) {
        // Red, green, blue bytes one after another: one run.
        for (size_t i = 0; i < size_t{3} * view.width; ++i) xyz[i] = static_cast<float>(p[i] - 128) * unit;
        return;
    }
    const size_t r = offsets.at[0], g = offsets.at[1], b = offsets.at[2];
    for (uint32_t x = 0; x < view.width; ++x, p += view.step, xyz += 3) {
        xyz[0] = static_cast<float>(p[r] - 128) * unit;
        xyz[1] = static_cast<float>(p[g] - 128) * unit;
        xyz[2] = static_cast<float>(p[b] - 128) * unit;
    }
}

struct EncodedLevel {
    const VectorLevel* level;
    const ScalarLevel* alpha;  // null: alpha is full
    int sampleBits;
};

void levelSampleRow(const void* context, uint32_t y, uint16_t* rgba) {
    const auto& encoded = *static_cast<const EncodedLevel*>(context);
    const VectorLevel& level = *encoded.level;
    const uint32_t width = level.width;
    // The three samples of each pixel go to the last three quarters of the
    // row, then spread forwards to four a pixel: pixel x's samples are read
    // from width + 3x before anything at 4x + 3 < width + 3(x + 1) is written.
    encodeComponents(level.xyz.data() + size_t{3} * width * y, size_t{3} * width, encoded.sampleBits, rgba + width);
    const float top = encoded.sampleBits == 16 ? 65535.0f : 255.0f;
    const float* alpha = encoded.alpha ? encoded.alpha->values.data() + size_t{width} * y : nullptr;
    for (uint32_t x = 0; x < width; ++x) {
        const uint16_t* from = rgba + width + size_t{3} * x;
        const uint16_t r = from[0], g = from[1], b = from[2];
        uint16_t* to = rgba + size_t{4} * x;
        to[0] = r;
        to[1] = g;
        to[2] = b;
        to[3] = alpha ? static_cast<uint16_t>(std::clamp(alpha[x], 0.0f, top) + 0.5f) : static_cast<uint16_t>(top);
    }
}

// A sample of `sampleBits` bits as 8 bits, and as 16.
uint8_t sample8(uint16_t v, int sampleBits) { return sampleBits == 16 ? reduceSample(v) : static_cast<uint8_t>(v); }
uint16_t sample16(uint16_t v, int sampleBits) { return sampleBits == 16 ? v : static_cast<uint16_t>(v * 257); }

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// One pixel of a plain format from its red, green and blue samples and its
// alpha (all of `sampleBits` bits).
void storePixel(TextureFormat format, const uint16_t* rgb, uint16_t alpha, int sampleBits, uint8_t* out) {
    switch (format) {
        case TextureFormat::bgra8:
            for (int k = 0; k < 3; ++k) out[2 - k] = sample8(rgb[k], sampleBits);
            out[3] = sample8(alpha, sampleBits);
            break;
        case TextureFormat::rg8:
            out[0] = sample8(rgb[0], sampleBits);
            out[1] = sample8(rgb[1], sampleBits);
            break;
        case TextureFormat::rgba8:
            for (int k = 0; k < 3; ++k) out[k] = sample8(rgb[k], sampleBits);
            out[3] = sample8(alpha, sampleBits);
            break;
        case TextureFormat::rg16:
            put16(out, sample16(rgb[0], sampleBits));
            put16(out + 2, sample16(rgb[1], sampleBits));
            break;
        case TextureFormat::rgba16:
            for (int k = 0; k < 3; ++k) put16(out + 2 * k, sample16(rgb[k], sampleBits));
            put16(out + 6, sample16(alpha, sampleBits));
            break;
        default: break;
    }
}

void encodeBlock(const TextureOptions& options, const uint16_t* const (&rows)[4], uint32_t left, uint32_t width,
                 int sampleBits, uint8_t* out) {
    // Pixels past the right edge repeat the last column (rows past the
    // bottom already repeat the last row).
    size_t at[4];
    for (uint32_t i = 0; i < 4; ++i) at[i] = size_t{4} * std::min(left + i, width - 1);
    const float scale = sampleBits == 16 ? 255.0f / 65535.0f : 1.0f;
    if (options.format == TextureFormat::bc7) {
        RgbaBlock block;
        for (int i = 0; i < 16; ++i) {
            const uint16_t* pixel = rows[i / 4] + at[i % 4];
            block.red[i] = static_cast<float>(pixel[0]) * scale;
            block.green[i] = static_cast<float>(pixel[1]) * scale;
            block.blue[i] = static_cast<float>(pixel[2]) * scale;
            block.alpha[i] = static_cast<float>(pixel[3]) * scale;
        }
        encodeBc7Block(block, options.bc7Quality, out);
        return;
    }
    ColourBlock colours;
    for (int i = 0; i < 16; ++i) {
        const uint16_t* pixel = rows[i / 4] + at[i % 4];
        colours.red[i] = static_cast<float>(pixel[0]) * scale;
        colours.green[i] = static_cast<float>(pixel[1]) * scale;
        colours.blue[i] = static_cast<float>(pixel[2]) * scale;
    }
    switch (options.format) {
        case TextureFormat::bc5:
            encodeBc4Block(colours.red, out);
            encodeBc4Block(colours.green, out + 8);
            break;
        case TextureFormat::bc1: encodeColourBlock(colours, out); break;
        case TextureFormat::bc3:
            opaqueAlphaBlock(out);
            encodeColourBlock(colours, out + 8);
            break;
        case TextureFormat::bc4: encodeBc4Block(colours.red, out); break;
        default: break;  // BC7 above, plain formats in storePixel
    }
}

// Gives a band's own buffer `count` samples; false when there is no memory.
bool sizeBuffer(std::vector<uint16_t>& buffer, size_t count) {
    try {
        buffer.resize(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The library takes whole pictures of four samples a pixel: the level's
// samples as they are (bytes), or 16-bit samples as floats s / 65535, so
// that they keep their precision. X and Y are what the encoder reads.
bool encodeAstcLevel(const SampleRows& rows, AstcLevelEncoder& encoder, uint8_t* out, uint64_t outSize) {
    const uint32_t width = rows.width, height = rows.height;
    const bool floats = rows.sampleBits == 16;
    const size_t pixels = size_t{width} * height;
    void* samples = floats ? static_cast<void*>(new (std::nothrow) float[4 * pixels])
                           : static_cast<void*>(new (std::nothrow) uint8_t[4 * pixels]);
    if (!samples) return false;
    const unsigned workers = bandWorkers(height, width, uint64_t{1} << 20);
    std::atomic<bool> ok = true;
    runInBands(height, workers, [&](uint32_t first, uint32_t last) {
        std::vector<uint16_t> line;
        if (!sizeBuffer(line, size_t{4} * width)) {
            ok = false;
            return;
        }
        for (uint32_t y = first; y < last; ++y) {
            rows.row(rows.context, y, line.data());
            const size_t start = size_t{4} * width * y;
            for (uint32_t x = 0; x < width; ++x) {
                const uint16_t* s = line.data() + size_t{4} * x;
                const size_t at = start + size_t{4} * x;
                if (floats) {
                    float* p = static_cast<float*>(samples) + at;
                    for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(s[k]) * (1.0f / 65535.0f);
                    p[3] = 1.0f;
                } else {
                    uint8_t* p = static_cast<uint8_t*>(samples) + at;
                    for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>(s[k]);
                    p[3] = 255;
                }
            }
        }
    });
    const AstcPicture picture{samples, width, height, floats};
    const bool encoded = ok && encoder.encode(picture, out, static_cast<size_t>(outSize));
    if (floats)
        delete[] static_cast<float*>(samples);
    else
        delete[] static_cast<uint8_t*>(samples);
    return encoded;
}

// The top level's alpha samples as a ScalarLevel; false when there is no
// memory for it.
bool alphaOf(const ImageRows& view, ScalarLevel& alpha) {
    alpha.width = view.width;
    alpha.height = view.height;
    try {
        alpha.values.resize(size_t{view.width} * view.height);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const unsigned workers = bandWorkers(view.height, view.width, uint64_t{1} << 20);
    std::atomic<bool> ok = true;
    runInBands(view.height, workers, [&](uint32_t first, uint32_t last) {
        std::vector<uint16_t> samples;
        if (!sizeBuffer(samples, size_t{4} * view.width)) {
            ok = false;
            return;
        }
        for (uint32_t y = first; y < last; ++y) {
            readRowFull(view, view.row(y), samples.data());
            float* to = alpha.values.data() + size_t{view.width} * y;
            for (uint32_t x = 0; x < view.width; ++x) to[x] = samples[size_t{4} * x + 3];
        }
    });
    return ok;
}

// Encodes one level from its sample rows into `out`.
bool encodeLevel(const SampleRows& rows, const TextureOptions& options, AstcLevelEncoder* astc, uint8_t* out) {
    const TextureFormat format = options.format;
    const uint32_t width = rows.width, height = rows.height;
    if (astc) return encodeAstcLevel(rows, *astc, out, textureLevelBytes(format, width, height));
    if (!textureIsBlocks(format)) {
        const size_t pixelBytes = textureUnitBytes(format);
        const unsigned workers = bandWorkers(height, width, uint64_t{1} << 20);
        std::atomic<bool> ok = true;
        runInBands(height, workers, [&](uint32_t first, uint32_t last) {
            std::vector<uint16_t> samples;
            if (!sizeBuffer(samples, size_t{4} * width)) {
                ok = false;
                return;
            }
            for (uint32_t y = first; y < last; ++y) {
                rows.row(rows.context, y, samples.data());
                uint8_t* pixel = out + pixelBytes * width * y;
                for (uint32_t x = 0; x < width; ++x, pixel += pixelBytes) {
                    const uint16_t* s = samples.data() + size_t{4} * x;
                    storePixel(format, s, s[3], rows.sampleBits, pixel);
                }
            }
        });
        return ok;
    }
    const uint32_t blocksAcross = (width + 3) / 4, blocksDown = (height + 3) / 4;
    const size_t rowBytes = size_t{blocksAcross} * textureUnitBytes(format);
    // About a microsecond a block; a thread is worth it from a few
    // thousand blocks on.
    const unsigned workers = bandWorkers(blocksDown, blocksAcross, 4096);
    std::atomic<bool> ok = true;
    runInBands(blocksDown, workers, [&](uint32_t first, uint32_t last) {
        std::vector<uint16_t> band;
        if (!sizeBuffer(band, size_t{16} * width)) {
            ok = false;
            return;
        }
        for (uint32_t by = first; by < last; ++by) {
            const uint16_t* lines[4];
            for (uint32_t r = 0; r < 4; ++r) {
                const uint32_t y = 4 * by + r;
                if (y < height) {
                    uint16_t* line = band.data() + size_t{4} * width * r;
                    rows.row(rows.context, y, line);
                    lines[r] = line;
                } else {
                    lines[r] = lines[r - 1];  // below the bottom: the last row again
                }
            }
            uint8_t* block = out + rowBytes * by;
            for (uint32_t bx = 0; bx < blocksAcross; ++bx, block += textureUnitBytes(format))
                encodeBlock(options, lines, 4 * bx, width, rows.sampleBits, block);
        }
    });
    return ok;
}

}  // namespace

uint32_t textureUnitBytes(TextureFormat format) {
    switch (format) {
        case TextureFormat::bc1:
        case TextureFormat::bc4: return 8;
        case TextureFormat::bc5:
        case TextureFormat::bc3:
        case TextureFormat::bc7: return 16;
        case TextureFormat::rg8: return 2;
        case TextureFormat::bgra8:
        case TextureFormat::rgba8:
        case TextureFormat::rg16: return 4;
        case TextureFormat::rgba16: return 8;
        default: break;  // ASTC: 16 bytes a block of astcBlockOf's size
    }
    return 16;
}

uint64_t textureLevelBytes(TextureFormat format, uint32_t width, uint32_t height) {
    if (AstcBlock block; astcBlockOf(format, block)) return astcLevelBytes(block, width, height);
    if (!textureIsBlocks(format)) return uint64_t{textureUnitBytes(format)} * width * height;
    return uint64_t{(width + 3) / 4} * ((height + 3) / 4) * textureUnitBytes(format);
}

bool astcBlockOf(TextureFormat format, AstcBlock& block) {
    switch (format) {
        case TextureFormat::astc4x4: block = {4, 4}; return true;
        case TextureFormat::astc5x4: block = {5, 4}; return true;
        case TextureFormat::astc5x5: block = {5, 5}; return true;
        case TextureFormat::astc6x5: block = {6, 5}; return true;
        case TextureFormat::astc6x6: block = {6, 6}; return true;
        case TextureFormat::astc8x5: block = {8, 5}; return true;
        case TextureFormat::astc8x6: block = {8, 6}; return true;
        case TextureFormat::astc8x8: block = {8, 8}; return true;
        default: return false;
    }
}

uint64_t textureBytes(TextureFormat format, uint32_t width, uint32_t height, uint32_t levels) {
    uint64_t total = 0;
    for (uint32_t level = 0; level < levels; ++level)
        total += textureLevelBytes(format, mipSide(width, level), mipSide(height, level));
    return total;
}

bool encodeTexture(const Image& image, const TextureOptions& options, uint8_t* out, uint64_t outSize) {
    ImageRows view;
    if (!out || !viewRows(image, view)) return false;
    const uint32_t levels = mipLevelCount(view.width, view.height, options.maxLevels);
    if (outSize != textureBytes(options.format, view.width, view.height, levels)) return false;
    const int sampleBits = view.sixteen ? 16 : 8;
    // Formats without Z keep X and Y of unit vectors only; a grey map's
    // levels are plain averages.
    AstcBlock block;
    const bool isAstc = astcBlockOf(options.format, block);
    const bool keepLength =
        options.format == TextureFormat::bc4 || (options.keepLength && textureStoresZ(options.format));
    // One encoder (the library's context and its threads) for every level.
    std::unique_ptr<AstcLevelEncoder> astc;
    if (isAstc) {
        astc.reset(new (std::nothrow) AstcLevelEncoder(block, options.astcQuality, uint64_t{view.width} * view.height));
        if (!astc || !astc->ready()) return false;
    }

    // Alpha below the top is averaged level by level, as the vectors are.
    const bool keepAlpha = options.keepAlpha && view.alpha;
    const TopLevel topLevel{&view, keepAlpha};
    const SampleRows top{&topLevel, imageSampleRow, view.width, view.height, sampleBits};
    if (!encodeLevel(top, options, astc.get(), out)) return false;
    out += textureLevelBytes(options.format, view.width, view.height);

    VectorLevel above, below;
    ScalarLevel alphaAbove, alphaBelow;
    if (levels > 1 && keepAlpha && !alphaOf(view, alphaAbove)) return false;
    VectorRows source{&view, topVectorRow, view.width, view.height};
    for (uint32_t level = 1; level < levels; ++level) {
        const unsigned workers = bandWorkers(mipSide(view.height, level), source.width, uint64_t{1} << 19);
        if (!makeNextLevel(source, keepLength, workers, below)) return false;
        std::swap(above, below);
        source = rowsOf(above);
        if (keepAlpha) {
            if (!makeNextScalarLevel(alphaAbove, workers, alphaBelow)) return false;
            std::swap(alphaAbove, alphaBelow);
        }
        const EncodedLevel encoded{&above, keepAlpha ? &alphaAbove : nullptr, sampleBits};
        const SampleRows rows{&encoded, levelSampleRow, above.width, above.height, sampleBits};
        if (!encodeLevel(rows, options, astc.get(), out)) return false;
        out += textureLevelBytes(options.format, above.width, above.height);
    }
    return true;
}
