#include "generate/blend.h"

#include <atomic>
#include <cmath>

#include "generate/parallel.h"

namespace {

bool fail(GenerateError* error, GenerateError why) {
    if (error) *error = why;
    return false;
}

// Pixels blended at a time: the decoding, blending and encoding loops each
// run over a block, which the compiler turns into vector code.
constexpr uint32_t blockPixels = 128;

struct Block {
    double tx[blockPixels], ty[blockPixels], tz[blockPixels];
    double ux[blockPixels], uy[blockPixels], uz[blockPixels];
};

// The unit vector of the sample triple; a zero vector reads as flat.
template <uint32_t largest>
inline void decodeUnit(uint32_t r, uint32_t g, uint32_t b, double xScale, double* x, double* y, double* z) {
    const double vx = decodeComponent<largest>(r) * xScale, vy = decodeComponent<largest>(g) * xScale;
    const double vz = decodeComponent<largest>(b);
    const double squared = vx * vx + vy * vy + vz * vz;
    const bool zero = !(squared > 0.0);
    const double q = 1.0 / std::sqrt(zero ? 1.0 : squared);
    *x = zero ? 0.0 : vx * q;
    *y = zero ? 0.0 : vy * q;
    *z = zero ? 1.0 : vz * q;
}

template <BlendMode mode>
inline void blendInBlock(Block& k, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const UnitNormal r = blendNormals({k.tx[i], k.ty[i], k.tz[i]}, {k.ux[i], k.uy[i], k.uz[i]}, mode);
        k.tx[i] = r.x;
        k.ty[i] = r.y;
        k.tz[i] = r.z;
    }
}

template <class BaseSample, class DetailSample>
void blendRows(Image* base, const Image& detail, const BlendOptions& options, uint32_t first, uint32_t last) {
    constexpr uint32_t baseLargest = sizeof(BaseSample) == 2 ? 65535u : 255u;
    constexpr uint32_t detailLargest = sizeof(DetailSample) == 2 ? 65535u : 255u;
    const uint32_t width = static_cast<uint32_t>(base->width);
    const uint32_t detailWidth = static_cast<uint32_t>(detail.width), detailHeight = static_cast<uint32_t>(detail.height);
    const size_t baseChannels = pixelChannels(*base), detailChannels = pixelChannels(detail);
    BaseSample* const baseSamples = reinterpret_cast<BaseSample*>(base->pixels);
    const DetailSample* const detailSamples = reinterpret_cast<const DetailSample*>(detail.pixels);
    Block k;
    for (uint32_t y = first; y < last; ++y) {
        BaseSample* row = baseSamples + size_t{y} * width * baseChannels;
        const DetailSample* detailRow = detailSamples + size_t{y % detailHeight} * detailWidth * detailChannels;
        uint32_t dx = 0;  // the detail's column of x, wrapping
        for (uint32_t x0 = 0; x0 < width; x0 += blockPixels) {
            const uint32_t count = width - x0 < blockPixels ? width - x0 : blockPixels;
            BaseSample* p = row + size_t{x0} * baseChannels;
            for (uint32_t i = 0; i < count; ++i) {
                const BaseSample* s = p + i * baseChannels;
                decodeUnit<baseLargest>(s[0], s[1], s[2], 1.0, &k.tx[i], &k.ty[i], &k.tz[i]);
                const DetailSample* d = detailRow + size_t{dx} * detailChannels;
                // Strength scales x and y against z: the slopes x / z and y / z.
                decodeUnit<detailLargest>(d[0], d[1], d[2], options.strength, &k.ux[i], &k.uy[i], &k.uz[i]);
                dx = dx + 1 == detailWidth ? 0 : dx + 1;
            }
            switch (options.mode) {
                case BlendMode::rnm: blendInBlock<BlendMode::rnm>(k, count); break;
                case BlendMode::whiteout: blendInBlock<BlendMode::whiteout>(k, count); break;
                case BlendMode::udn: blendInBlock<BlendMode::udn>(k, count); break;
                case BlendMode::linear: blendInBlock<BlendMode::linear>(k, count); break;
            }
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t encoded[3];
                encodeNormal<baseLargest>(k.tx[i], k.ty[i], k.tz[i], encoded);
                BaseSample* s = p + i * baseChannels;
                s[0] = static_cast<BaseSample>(encoded[0]);
                s[1] = static_cast<BaseSample>(encoded[1]);
                s[2] = static_cast<BaseSample>(encoded[2]);
            }
        }
    }
}

template <class BaseSample>
void blendBand(Image* base, const Image& detail, const BlendOptions& options, uint32_t first, uint32_t last) {
    if (isSixteenBit(detail)) blendRows<BaseSample, uint16_t>(base, detail, options, first, last);
    else blendRows<BaseSample, uint8_t>(base, detail, options, first, last);
}

}  // namespace

UnitNormal blendNormals(UnitNormal t, UnitNormal u, BlendMode mode) {
    switch (mode) {
        case BlendMode::rnm: {
            // Barre-Brisebois and Hill: the rotation taking (0, 0, 1) to t,
            // applied to u. t'z is 0 only for t = (0, 0, -1), which has no
            // such rotation; it is held just above 0.
            const double ax = t.x, ay = t.y, az = t.z + 1.0;
            const double bx = -u.x, by = -u.y, bz = u.z;
            const double zt = az > 1e-12 ? az : 1e-12;
            const double d = (ax * bx + ay * by + az * bz) / zt;
            return {ax * d - bx, ay * d - by, az * d - bz};
        }
        case BlendMode::whiteout: return {t.x + u.x, t.y + u.y, t.z * u.z};
        case BlendMode::udn: return {t.x + u.x, t.y + u.y, t.z};
        case BlendMode::linear: return {t.x + u.x, t.y + u.y, t.z + u.z};
    }
    return t;
}

bool blendDetail(Image* base, const Image& detail, const BlendOptions& options, GenerateError* error) {
    if (!base || !plainLayout(*base) || !plainLayout(detail)) return fail(error, GenerateError::unsupportedLayout);
    if (!std::isfinite(options.strength)) return fail(error, GenerateError::badOption);
    const uint32_t height = static_cast<uint32_t>(base->height);
    generateInBands(height, 8, [&](uint32_t first, uint32_t last) {
        if (isSixteenBit(*base)) blendBand<uint16_t>(base, detail, options, first, last);
        else blendBand<uint8_t>(base, detail, options, first, last);
    });
    return true;
}
