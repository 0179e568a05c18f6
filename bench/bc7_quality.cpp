// How close a normal map's top level comes back from BC7 (default and fast),
// BC5 and BC1, each encoded by encode/texture_encoder.h and decoded by
// encode/block_decode.h as graphics hardware decodes it: the mean angle in
// degrees between each decoded normal (BC5's Z rebuilt) and the map's own,
// both as re-normalisation reads them and scaled to unit length; the RGB
// PSNR of BC7; and, with HEIGHT (a grey picture of the same size, put in
// alpha as a height), BC7's alpha PSNR.
// Usage: bc7_quality MAP [HEIGHT]
// Prints: MAP bc7 bc7fast bc5 bc1 (mean angles) rgbPsnr7 rgbPsnr7fast alphaPsnr7 alphaPsnr7fast
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "encode/block_decode.h"
#include "encode/block_encoders.h"
#include "encode/texture_encoder.h"
#include "image/rows.h"
#include "readers/readers.h"

namespace {

// The picture's rows as 8-bit red, green, blue, alpha.
bool rgbaOf(const char* path, std::vector<uint8_t>& rgba, uint32_t& width, uint32_t& height) {
    Image image{};
    ImageRows rows;
    if (!readImageFile(path, &image) || !viewRows(image, rows)) {
        resetImage(&image);
        return false;
    }
    width = rows.width;
    height = rows.height;
    rgba.resize(size_t{4} * width * height);
    for (uint32_t y = 0; y < height; ++y) readRow8(rows, rows.row(y), rgba.data() + size_t{4} * width * y);
    resetImage(&image);
    return true;
}

// The top level decoded into 8-bit red, green, blue, alpha.
std::vector<uint8_t> decodedTop(TextureFormat format, const uint8_t* blocks, uint32_t width, uint32_t height) {
    std::vector<uint8_t> out(size_t{4} * width * height);
    const uint32_t across = (width + 3) / 4, down = (height + 3) / 4;
    const size_t blockBytes = format == TextureFormat::bc1 ? 8 : 16;
    for (uint32_t by = 0; by < down; ++by)
        for (uint32_t bx = 0; bx < across; ++bx) {
            const uint8_t* block = blocks + (size_t{by} * across + bx) * blockBytes;
            uint8_t texels[16][4];
            if (format == TextureFormat::bc7) {
                decodeBc7(block, texels[0], 16);
            } else if (format == TextureFormat::bc1) {
                decodeBc1(block, texels[0], 16, false, measuredWidening);
            } else {
                decodeBc4Channel(block, false, &texels[0][0], 16, 4);
                decodeBc4Channel(block + 8, false, &texels[0][1], 16, 4);
                for (auto& t : texels) {
                    t[2] = rebuiltZ8(t[0], t[1]);
                    t[3] = 255;
                }
            }
            for (uint32_t i = 0; i < 16; ++i) {
                const uint32_t x = 4 * bx + i % 4, y = 4 * by + i / 4;
                if (x < width && y < height) std::memcpy(out.data() + 4 * (size_t{y} * width + x), texels[i], 4);
            }
        }
    return out;
}

struct Scores {
    double meanAngle, rgbPsnr, alphaPsnr;
};

double psnr(double squares, double count) {
    return squares > 0 ? 10.0 * std::log10(255.0 * 255.0 * count / squares) : 99.0;
}

Scores scoresOf(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& decoded) {
    double angles = 0, rgbSquares = 0, alphaSquares = 0;
    const size_t pixels = reference.size() / 4;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* a = reference.data() + 4 * i;
        const uint8_t* b = decoded.data() + 4 * i;
        double dot = 0, la = 0, lb = 0;
        for (int k = 0; k < 3; ++k) {
            const double u = (a[k] - 128) / 127.0, v = (b[k] - 128) / 127.0;
            dot += u * v;
            la += u * u;
            lb += v * v;
            rgbSquares += (a[k] - b[k]) * (a[k] - b[k]);
        }
        const double c = la > 0 && lb > 0 ? dot / std::sqrt(la * lb) : 1.0;
        angles += std::acos(std::fmax(-1.0, std::fmin(1.0, c))) * 57.29577951308232;  // degrees a radian
        alphaSquares += (a[3] - b[3]) * (a[3] - b[3]);
    }
    return {angles / static_cast<double>(pixels), psnr(rgbSquares, 3.0 * static_cast<double>(pixels)),
            psnr(alphaSquares, static_cast<double>(pixels))};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("Usage: bc7_quality MAP [HEIGHT]\n", stderr);
        return 2;
    }
    std::vector<uint8_t> rgba;
    uint32_t width = 0, height = 0;
    if (!rgbaOf(argv[1], rgba, width, height)) {
        std::fprintf(stderr, "bc7_quality: %s: cannot read it\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        std::vector<uint8_t> grey;
        uint32_t w = 0, h = 0;
        if (!rgbaOf(argv[2], grey, w, h) || w != width || h != height) {
            std::fprintf(stderr, "bc7_quality: %s: cannot read it, or not %ux%u\n", argv[2], width, height);
            return 1;
        }
        for (size_t i = 0; i < grey.size(); i += 4) rgba[i + 3] = grey[i];
    }
    Image picture{};
    if (!startImage(&picture, width, height, 8, true)) return 1;
    std::memcpy(picture.pixels, rgba.data(), rgba.size());

    const struct {
        TextureFormat format;
        Bc7Quality quality;
    } runs[] = {{TextureFormat::bc7, Bc7Quality::normal},
                {TextureFormat::bc7, Bc7Quality::fast},
                {TextureFormat::bc5, Bc7Quality::normal},
                {TextureFormat::bc1, Bc7Quality::normal}};
    Scores scores[4];
    for (int r = 0; r < 4; ++r) {
        TextureOptions options;
        options.format = runs[r].format;
        options.maxLevels = 1;
        options.keepAlpha = true;
        options.bc7Quality = runs[r].quality;
        std::vector<uint8_t> blocks(static_cast<size_t>(textureBytes(options.format, width, height, 1)));
        if (!encodeTexture(picture, options, blocks.data(), blocks.size())) return 1;
        scores[r] = scoresOf(rgba, decodedTop(options.format, blocks.data(), width, height));
    }
    resetImage(&picture);
    std::printf("%s %.4f %.4f %.4f %.4f %.2f %.2f %.2f %.2f\n", argv[1], scores[0].meanAngle, scores[1].meanAngle,
                scores[2].meanAngle, scores[3].meanAngle, scores[0].rgbPsnr, scores[1].rgbPsnr, scores[0].alphaPsnr,
                scores[1].alphaPsnr);
    return 0;
}
