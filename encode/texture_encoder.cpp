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

// The rows of a level as samples (8 or 16 bits, red, green, blue), which
// the block encoders and the uncompressed layout read.
struct SampleRows {
    const void* context = nullptr;
    void (*row)(const void* context, uint32_t y, uint16_t* rgb) = nullptr;
    uint32_t width = 0, height = 0;
    int sampleBits = 8;
};

void imageSampleRow(const void* context, uint32_t y, uint16_t* rgb) {
    const auto& view = *static_cast<const ImageRows*>(context);
    const uint8_t* p = view.row(y);
    const SampleOffsets offsets = offsetsOf(view);
    const size_t r = offsets.at[0], g = offsets.at[1], b = offsets.at[2];
    if (view.sixteen) {
        for (uint32_t x = 0; x < view.width; ++x, p += view.step, rgb += 3) {
            std::memcpy(rgb, p + r, 2);
            std::memcpy(rgb + 1, p + g, 2);
            std::memcpy(rgb + 2, p + b, 2);
        }
    } else {
        for (uint32_t x = 0; x < view.width; ++x, p += view.step, rgb += 3) {
            rgb[0] = p[r];
            rgb[1] = p[g];
            rgb[2] = p[b];
        }
    }
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
    int sampleBits;
};

void levelSampleRow(const void* context, uint32_t y, uint16_t* rgb) {
    const auto& encoded = *static_cast<const EncodedLevel*>(context);
    const VectorLevel& level = *encoded.level;
    const size_t length = size_t{3} * level.width;
    encodeComponents(level.xyz.data() + length * y, length, encoded.sampleBits, rgb);
}

uint32_t blockBytes(TextureFormat format) { return format == TextureFormat::bc1 ? 8 : 16; }

void encodeBlock(TextureFormat format, const uint16_t* const (&rows)[4], uint32_t left, uint32_t width,
                 int sampleBits, uint8_t* out) {
    // Pixels past the right edge repeat the last column (rows past the
    // bottom already repeat the last row).
    size_t at[4];
    for (uint32_t i = 0; i < 4; ++i) at[i] = size_t{3} * std::min(left + i, width - 1);
    const float scale = sampleBits == 16 ? 255.0f / 65535.0f : 1.0f;
    ColourBlock colours;
    for (int i = 0; i < 16; ++i) {
        const uint16_t* pixel = rows[i / 4] + at[i % 4];
        colours.red[i] = static_cast<float>(pixel[0]) * scale;
        colours.green[i] = static_cast<float>(pixel[1]) * scale;
        colours.blue[i] = static_cast<float>(pixel[2]) * scale;
    }
    switch (format) {
        case TextureFormat::bc5:
            encodeBc4Block(colours.red, out);
            encodeBc4Block(colours.green, out + 8);
            break;
        case TextureFormat::bc1: encodeColourBlock(colours, out); break;
        case TextureFormat::bc3:
            opaqueAlphaBlock(out);
            encodeColourBlock(colours, out + 8);
            break;
        default: break;  // bgra8 and ASTC are not encoded a 4 x 4 block at a time
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
        if (!sizeBuffer(line, size_t{3} * width)) {
            ok = false;
            return;
        }
        for (uint32_t y = first; y < last; ++y) {
            rows.row(rows.context, y, line.data());
            const size_t start = size_t{4} * width * y;
            for (uint32_t x = 0; x < width; ++x) {
                const uint16_t* s = line.data() + size_t{3} * x;
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

// Encodes one level from its sample rows into `out`.
bool encodeLevel(const SampleRows& rows, TextureFormat format, AstcLevelEncoder* astc, uint8_t* out) {
    const uint32_t width = rows.width, height = rows.height;
    if (astc) return encodeAstcLevel(rows, *astc, out, textureLevelBytes(format, width, height));
    if (format == TextureFormat::bgra8) {
        const unsigned workers = bandWorkers(height, width, uint64_t{1} << 20);
        std::atomic<bool> ok = true;
        runInBands(height, workers, [&](uint32_t first, uint32_t last) {
            std::vector<uint16_t> samples;
            if (!sizeBuffer(samples, size_t{3} * width)) {
                ok = false;
                return;
            }
            for (uint32_t y = first; y < last; ++y) {
                rows.row(rows.context, y, samples.data());
                uint8_t* pixel = out + size_t{4} * width * y;
                for (uint32_t x = 0; x < width; ++x, pixel += 4) {
                    const uint16_t* s = samples.data() + size_t{3} * x;
                    for (int k = 0; k < 3; ++k)
                        pixel[2 - k] = rows.sampleBits == 16 ? reduceSample(s[k]) : static_cast<uint8_t>(s[k]);
                    pixel[3] = 255;
                }
            }
        });
        return ok;
    }
    const uint32_t blocksAcross = (width + 3) / 4, blocksDown = (height + 3) / 4;
    const size_t rowBytes = size_t{blocksAcross} * blockBytes(format);
    // About a microsecond a block; a thread is worth it from a few
    // thousand blocks on.
    const unsigned workers = bandWorkers(blocksDown, blocksAcross, 4096);
    std::atomic<bool> ok = true;
    runInBands(blocksDown, workers, [&](uint32_t first, uint32_t last) {
        std::vector<uint16_t> band;
        if (!sizeBuffer(band, size_t{12} * width)) {
            ok = false;
            return;
        }
        for (uint32_t by = first; by < last; ++by) {
            const uint16_t* lines[4];
            for (uint32_t r = 0; r < 4; ++r) {
                const uint32_t y = 4 * by + r;
                if (y < height) {
                    uint16_t* line = band.data() + size_t{3} * width * r;
                    rows.row(rows.context, y, line);
                    lines[r] = line;
                } else {
                    lines[r] = lines[r - 1];  // below the bottom: the last row again
                }
            }
            uint8_t* block = out + rowBytes * by;
            for (uint32_t bx = 0; bx < blocksAcross; ++bx, block += blockBytes(format))
                encodeBlock(format, lines, 4 * bx, width, rows.sampleBits, block);
        }
    });
    return ok;
}

}  // namespace

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

uint64_t textureLevelBytes(TextureFormat format, uint32_t width, uint32_t height) {
    if (format == TextureFormat::bgra8) return uint64_t{4} * width * height;
    if (AstcBlock block; astcBlockOf(format, block)) return astcLevelBytes(block, width, height);
    return uint64_t{(width + 3) / 4} * ((height + 3) / 4) * blockBytes(format);
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
    // BC5 and ASTC's normal-map mode keep X and Y of unit vectors only.
    AstcBlock block;
    const bool isAstc = astcBlockOf(options.format, block);
    const bool keepLength = options.keepLength && options.format != TextureFormat::bc5 && !isAstc;
    // One encoder (the library's context and its threads) for every level.
    std::unique_ptr<AstcLevelEncoder> astc;
    if (isAstc) {
        astc.reset(new (std::nothrow) AstcLevelEncoder(block, options.astcQuality, uint64_t{view.width} * view.height));
        if (!astc || !astc->ready()) return false;
    }

    const SampleRows top{&view, imageSampleRow, view.width, view.height, sampleBits};
    if (!encodeLevel(top, options.format, astc.get(), out)) return false;
    out += textureLevelBytes(options.format, view.width, view.height);

    VectorLevel above, below;
    VectorRows source{&view, topVectorRow, view.width, view.height};
    for (uint32_t level = 1; level < levels; ++level) {
        const unsigned workers = bandWorkers(mipSide(view.height, level), source.width, uint64_t{1} << 19);
        if (!makeNextLevel(source, keepLength, workers, below)) return false;
        std::swap(above, below);
        source = rowsOf(above);
        const EncodedLevel encoded{&above, sampleBits};
        const SampleRows rows{&encoded, levelSampleRow, above.width, above.height, sampleBits};
        if (!encodeLevel(rows, options.format, astc.get(), out)) return false;
        out += textureLevelBytes(options.format, above.width, above.height);
    }
    return true;
}
