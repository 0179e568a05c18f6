#include "generate/blend.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "adjust/adjust.h"
#include "image/bands.h"
#include "image/rows.h"
#include "platform/basics.h"

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
// turns into vector code, and the results are written as re-normalisation
// writes vectors.
constexpr uint32_t blockPixels = 256;

struct Block {
    alignas(64) double x[blockPixels];
    alignas(64) double y[blockPixels];
    alignas(64) double z[blockPixels];
};

// One decoded vector made unit length (in float: the blend is written at 16
// bits at most, far coarser); a zero vector reads as flat.
inline UnitNormal unitOf(float x, float y, float z) {
    const float s = x * x + y * y + z * z;
    const float q = 1.0f / std::sqrt(s > 0.0f ? s : 1.0f);
    return {s > 0.0f ? x * q : 0.0f, s > 0.0f ? y * q : 0.0f, s > 0.0f ? z * q : 1.0f};
}

// Blends `count` pixels of red-green-blue-alpha samples, base `t` and detail
// `u` (whose columns start at `dx` and wrap at `detailWidth`), into `k`.
template <class BaseSample, class DetailSample, BlendMode mode>
QUORVEL_WIDE_VECTOR_CLONES void blendBlock(const uint16_t* t, const uint16_t* u, uint32_t dx, uint32_t detailWidth,
                                           uint32_t count, float strength, float detailY, Block& k) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t* b = t + size_t{i} * 4;
        const uint16_t* d = u + size_t{dx} * 4;
        dx = dx + 1 == detailWidth ? 0 : dx + 1;
        const UnitNormal base = unitOf(decodeSample<BaseSample>(int32_t{b[0]}), decodeSample<BaseSample>(int32_t{b[1]}),
                                       decodeSample<BaseSample>(int32_t{b[2]}));
        // Strength scales x and y against z: the slopes x / z and y / z.
        const UnitNormal detail = unitOf(decodeSample<DetailSample>(int32_t{d[0]}) * strength,
                                         decodeSample<DetailSample>(int32_t{d[1]}) * detailY,
                                         decodeSample<DetailSample>(int32_t{d[2]}));
        const UnitNormal r = blendNormals(base, detail, mode);
        k.x[i] = r.x;
        k.y[i] = r.y;
        k.z[i] = r.z;
    }
}

template <class BaseSample, class DetailSample>
void blendBlockAs(BlendMode mode, const uint16_t* t, const uint16_t* u, uint32_t dx, uint32_t detailWidth,
                  uint32_t count, float strength, float detailY, Block& k) {
    switch (mode) {
        case BlendMode::rnm:
            blendBlock<BaseSample, DetailSample, BlendMode::rnm>(t, u, dx, detailWidth, count, strength, detailY, k);
            break;
        case BlendMode::whiteout:
            blendBlock<BaseSample, DetailSample, BlendMode::whiteout>(t, u, dx, detailWidth, count, strength, detailY,
                                                                      k);
            break;
        case BlendMode::udn:
            blendBlock<BaseSample, DetailSample, BlendMode::udn>(t, u, dx, detailWidth, count, strength, detailY, k);
            break;
        case BlendMode::linear:
            blendBlock<BaseSample, DetailSample, BlendMode::linear>(t, u, dx, detailWidth, count, strength, detailY, k);
            break;
    }
}

// Rows [first, last) of the base blended, each written back in its own layout.
template <class BaseSample, class DetailSample>
void blendRows(const ImageRows& base, const ImageRows& detail, const BlendOptions& options, uint32_t first,
               uint32_t last, uint16_t* t, uint16_t* u) {
    const uint32_t width = base.width;
    const float strength = static_cast<float>(options.strength);
    // The detail's y is scaled with its x, and negated for the other convention.
    const float detailY = options.invertDetailGreen ? -strength : strength;
    Block k;
    BaseSample encoded[3 * blockPixels];
    for (uint32_t y = first; y < last; ++y) {
        readRowFull(base, base.row(y), t);
        readRowFull(detail, detail.row(y % detail.height), u);
        uint8_t* row = base.row(y);
        for (uint32_t x0 = 0; x0 < width; x0 += blockPixels) {
            const uint32_t count = width - x0 < blockPixels ? width - x0 : blockPixels;
            blendBlockAs<BaseSample, DetailSample>(options.mode, t + size_t{x0} * 4, u, x0 % detail.width,
                                                   detail.width, count, strength, detailY, k);
            renormalizeVectors(k.x, k.y, k.z, count, encoded, 3);
            for (uint32_t i = 0; i < count; ++i) {
                uint8_t* p = row + (size_t{x0} + i) * base.step;
                const BaseSample* e = encoded + size_t{i} * 3;
                if constexpr (sizeof(BaseSample) == 2) {
                    std::memcpy(p, e, 6);  // 16-bit pixels are always red-green-blue
                } else {
                    p[base.red] = e[0];
                    p[1] = e[1];
                    p[base.blue] = e[2];
                }
            }
        }
    }
}

}  // namespace

bool blendDetail(Image* base, const Image& detail, const BlendOptions& options, GenerateError* error) {
    ImageRows baseRows, detailRows;
    if (!base || !viewRows(*base, baseRows) || !viewRows(detail, detailRows))
        return fail(error, GenerateError::unsupportedLayout);
    if (!std::isfinite(options.strength)) return fail(error, GenerateError::badOption);
    std::atomic<bool> noMemory{false};
    const uint32_t height = baseRows.height;
    runInBands(height, bandWorkers(height, 1, 8), [&](uint32_t first, uint32_t last) {
        const size_t baseRow = size_t{baseRows.width} * 4;
        std::unique_ptr<uint16_t[]> samples(new (std::nothrow) uint16_t[baseRow + size_t{detailRows.width} * 4]);
        if (!samples) {
            noMemory = true;
            return;
        }
        uint16_t* const t = samples.get();
        uint16_t* const u = samples.get() + baseRow;
        if (baseRows.sixteen) {
            if (detailRows.sixteen) blendRows<uint16_t, uint16_t>(baseRows, detailRows, options, first, last, t, u);
            else blendRows<uint16_t, uint8_t>(baseRows, detailRows, options, first, last, t, u);
        } else {
            if (detailRows.sixteen) blendRows<uint8_t, uint16_t>(baseRows, detailRows, options, first, last, t, u);
            else blendRows<uint8_t, uint8_t>(baseRows, detailRows, options, first, last, t, u);
        }
    });
    return noMemory ? fail(error, GenerateError::noMemory) : true;
}
