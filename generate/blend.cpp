#include "generate/blend.h"

#include <atomic>
#include <cmath>

#include "generate/parallel.h"
#include "image/vector_clones.h"

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

namespace {

bool fail(GenerateError* error, GenerateError why) {
    if (error) *error = why;
    return false;
}

// Pixels are blended in blocks: their samples are gathered into arrays, the
// arithmetic runs over the arrays in straight-line loops that the compiler
// turns into vector code, and the results are scattered back.
constexpr uint32_t blockPixels = 256;

template <class BaseSample, class DetailSample>
struct Block {
    alignas(64) BaseSample t[3][blockPixels];
    alignas(64) DetailSample u[3][blockPixels];
};

// Decodes, blends and encodes one block; the results replace the base's samples.
template <class BaseSample, class DetailSample, BlendMode mode>
QUORVEL_WIDE_VECTOR_CLONES void blendBlock(Block<BaseSample, DetailSample>& k, uint32_t count, float strength) {
    constexpr float baseCentre = sizeof(BaseSample) == 2 ? 32768.0f : 128.0f, baseSteps = baseCentre - 1;
    constexpr float detailCentre = sizeof(DetailSample) == 2 ? 32768.0f : 128.0f, detailSteps = detailCentre - 1;
    constexpr double centre = baseCentre, steps = baseSteps;
    for (uint32_t i = 0; i < count; ++i) {
        // Each decoded vector made unit length (in float: the blend is written
        // at 16 bits at most, far coarser); a zero vector reads as flat.
        const float ax = (k.t[0][i] - baseCentre) / baseSteps, ay = (k.t[1][i] - baseCentre) / baseSteps;
        const float az = (k.t[2][i] - baseCentre) / baseSteps;
        const float as = ax * ax + ay * ay + az * az;
        const float aq = 1.0f / std::sqrt(as > 0.0f ? as : 1.0f);
        const UnitNormal t = {as > 0.0f ? ax * aq : 0.0f, as > 0.0f ? ay * aq : 0.0f, as > 0.0f ? az * aq : 1.0f};
        // Strength scales x and y against z: the slopes x / z and y / z.
        const float bx = (k.u[0][i] - detailCentre) / detailSteps * strength;
        const float by = (k.u[1][i] - detailCentre) / detailSteps * strength;
        const float bz = (k.u[2][i] - detailCentre) / detailSteps;
        const float bs = bx * bx + by * by + bz * bz;
        const float bq = 1.0f / std::sqrt(bs > 0.0f ? bs : 1.0f);
        const UnitNormal u = {bs > 0.0f ? bx * bq : 0.0f, bs > 0.0f ? by * bq : 0.0f, bs > 0.0f ? bz * bq : 1.0f};
        const UnitNormal r = blendNormals(t, u, mode);
        // Written as re-normalisation writes (normal_codec.h, encodeNormal).
        const double length = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
        const bool positive = length > 0.0;
        const double q = 1.0 / (positive ? static_cast<double>(static_cast<float>(length)) : 1.0);
        const double nx = positive ? static_cast<double>(static_cast<float>(q * r.x)) : 0.0;
        const double ny = positive ? static_cast<double>(static_cast<float>(q * r.y)) : 0.0;
        const double nz = positive ? static_cast<double>(static_cast<float>(q * r.z)) : 0.0;
        k.t[0][i] = static_cast<BaseSample>(static_cast<int32_t>(nx * steps + centre));
        k.t[1][i] = static_cast<BaseSample>(static_cast<int32_t>(ny * steps + centre));
        k.t[2][i] = static_cast<BaseSample>(static_cast<int32_t>(nz * steps + centre));
    }
}

template <class BaseSample, class DetailSample>
void blendRows(Image* base, const Image& detail, const BlendOptions& options, uint32_t first, uint32_t last) {
    const uint32_t width = static_cast<uint32_t>(base->width);
    const uint32_t detailWidth = static_cast<uint32_t>(detail.width), detailHeight = static_cast<uint32_t>(detail.height);
    const size_t baseChannels = pixelChannels(*base), detailChannels = pixelChannels(detail);
    BaseSample* const baseSamples = reinterpret_cast<BaseSample*>(base->pixels);
    const DetailSample* const detailSamples = reinterpret_cast<const DetailSample*>(detail.pixels);
    Block<BaseSample, DetailSample> k;
    const float strength = static_cast<float>(options.strength);
    for (uint32_t y = first; y < last; ++y) {
        BaseSample* row = baseSamples + size_t{y} * width * baseChannels;
        const DetailSample* detailRow = detailSamples + size_t{y % detailHeight} * detailWidth * detailChannels;
        uint32_t dx = 0;  // the detail's column of x, wrapping
        for (uint32_t x0 = 0; x0 < width; x0 += blockPixels) {
            const uint32_t count = width - x0 < blockPixels ? width - x0 : blockPixels;
            BaseSample* p = row + size_t{x0} * baseChannels;
            for (uint32_t i = 0; i < count; ++i)
                for (uint32_t c = 0; c < 3; ++c) k.t[c][i] = p[i * baseChannels + c];
            for (uint32_t i = 0; i < count; ++i) {
                for (uint32_t c = 0; c < 3; ++c) k.u[c][i] = detailRow[size_t{dx} * detailChannels + c];
                dx = dx + 1 == detailWidth ? 0 : dx + 1;
            }
            switch (options.mode) {
                case BlendMode::rnm: blendBlock<BaseSample, DetailSample, BlendMode::rnm>(k, count, strength); break;
                case BlendMode::whiteout:
                    blendBlock<BaseSample, DetailSample, BlendMode::whiteout>(k, count, strength);
                    break;
                case BlendMode::udn: blendBlock<BaseSample, DetailSample, BlendMode::udn>(k, count, strength); break;
                case BlendMode::linear:
                    blendBlock<BaseSample, DetailSample, BlendMode::linear>(k, count, strength);
                    break;
            }
            for (uint32_t i = 0; i < count; ++i)
                for (uint32_t c = 0; c < 3; ++c) p[i * baseChannels + c] = k.t[c][i];
        }
    }
}

template <class BaseSample>
void blendBand(Image* base, const Image& detail, const BlendOptions& options, uint32_t first, uint32_t last) {
    if (isSixteenBit(detail)) blendRows<BaseSample, uint16_t>(base, detail, options, first, last);
    else blendRows<BaseSample, uint8_t>(base, detail, options, first, last);
}

}  // namespace

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
