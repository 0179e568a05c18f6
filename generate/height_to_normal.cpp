#include "generate/height_to_normal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>

#include "adjust/adjust.h"
#include "image/bands.h"

DerivativeKernel derivativeKernel(DerivativeFilter filter) {
    switch (filter) {
        case DerivativeFilter::central: return {1, {-1, 0, 1}, {0, 1, 0}, 2};
        case DerivativeFilter::sobel: return {1, {-1, 0, 1}, {1, 2, 1}, 8};
        case DerivativeFilter::scharr: return {1, {-1, 0, 1}, {3, 10, 3}, 32};
        case DerivativeFilter::prewitt: return {1, {-1, 0, 1}, {1, 1, 1}, 6};
        // A ramp: (-1)(-2) + (-2)(-1) + 2 + 2 = 8 across, 16 along.
        case DerivativeFilter::sobel5: return {2, {-1, -2, 0, 2, 1}, {1, 4, 6, 4, 1}, 128};
    }
    return {1, {-1, 0, 1}, {0, 1, 0}, 2};
}

namespace {

bool fail(GenerateError* error, GenerateError why) {
    if (error) *error = why;
    return false;
}

// Index `i` (which may lie up to two texels beyond either end) under the edge rule.
inline uint32_t edgeIndex(int64_t i, uint32_t size, EdgeRule edges) {
    const int64_t n = size;
    if (edges == EdgeRule::wrap) return static_cast<uint32_t>(((i % n) + n) % n);
    return static_cast<uint32_t>(i < 0 ? 0 : (i >= n ? n - 1 : i));
}

struct Job {
    const HeightField* field;
    DerivativeKernel kernel;
    EdgeRule edges;
    double scale;      // S
    double ySign;      // the normal's y from the downward slope: +1 OpenGL, -1 DirectX
    bool alpha;
    double alphaOffset, alphaFactor;  // alpha = round((h - offset) x factor)
};

// Rows of work space for one band.
struct RowBuffers {
    double* smoothed;     // width + 2 x radius: the heights of the rows around y summed with the
    double* differenced;  // smoothing and the difference weights, padded by the edge rule
    double* x;            // width each: the vectors of the row before they are normalised
    double* y;
    double* z;
};

// One band of output rows, each written as re-normalisation writes vectors.
template <int radius, class Sample>
void normalRows(const Job& job, uint32_t first, uint32_t last, const RowBuffers& b, Sample* pixels) {
    constexpr uint32_t sampleMaxValue = sizeof(Sample) == 2 ? 65535u : 255u;
    constexpr int taps = 2 * radius + 1;
    const HeightField& field = *job.field;
    const uint32_t width = field.width;
    const DerivativeKernel& k = job.kernel;
    const size_t channels = job.alpha ? 4 : 3;
    for (uint32_t y = first; y < last; ++y) {
        const float* rows[taps];
        for (int j = 0; j < taps; ++j)
            rows[j] = field.values + size_t{edgeIndex(int64_t{y} + j - radius, field.height, job.edges)} * width;
        double* const smoothed = b.smoothed;
        double* const differenced = b.differenced;
        double* sv = smoothed + radius;
        double* dv = differenced + radius;
        for (uint32_t x = 0; x < width; ++x) {
            double s = 0.0, d = 0.0;
            for (int j = 0; j < taps; ++j) {
                const double h = rows[j][x];
                s += k.along[j] * h;
                d += k.across[j] * h;
            }
            sv[x] = s;
            dv[x] = d;
        }
        for (int i = 1; i <= radius; ++i) {
            sv[-i] = sv[edgeIndex(-i, width, job.edges)];
            dv[-i] = dv[edgeIndex(-i, width, job.edges)];
            sv[width - 1 + static_cast<uint32_t>(i)] = sv[edgeIndex(int64_t{width} - 1 + i, width, job.edges)];
            dv[width - 1 + static_cast<uint32_t>(i)] = dv[edgeIndex(int64_t{width} - 1 + i, width, job.edges)];
        }
        Sample* out = pixels + size_t{y} * width * channels;
        const float* centre = field.values + size_t{y} * width;
        for (uint32_t x = 0; x < width; ++x) {
            double dx = 0.0, dy = 0.0;
            for (int i = 0; i < taps; ++i) {
                dx += k.across[i] * smoothed[x + static_cast<uint32_t>(i)];
                dy += k.along[i] * differenced[x + static_cast<uint32_t>(i)];
            }
            // dy is the slope down the picture; the normal is (-S dh/dx, -S dh/dy, 1).
            b.x[x] = -job.scale * (dx / k.divisor);
            b.y[x] = job.ySign * job.scale * (dy / k.divisor);
        }
        renormalizeVectors(b.x, b.y, b.z, width, out, channels);
        if (job.alpha)
            for (uint32_t x = 0; x < width; ++x) {
                const double a = (centre[x] - job.alphaOffset) * job.alphaFactor;
                out[x * channels + 3] =
                    static_cast<Sample>(a < 0.0 ? 0.0 : (a > sampleMaxValue ? sampleMaxValue : a + 0.5));
            }
    }
}

template <class Sample>
bool runRows(const Job& job, Sample* pixels, GenerateError* error) {
    const uint32_t padded = job.field->width + 4;
    std::atomic<bool> noMemory{false};
    const uint32_t width = job.field->width, height = job.field->height;
    runInBands(height, bandWorkers(height, 1, 8), [&](uint32_t first, uint32_t last) {
        std::unique_ptr<double[]> buffers(new (std::nothrow) double[2 * size_t{padded} + 3 * size_t{width}]);
        if (!buffers) {
            noMemory = true;  // any band's failure fails the whole
            return;
        }
        double* const rows = buffers.get() + 2 * size_t{padded};
        const RowBuffers b{buffers.get(), buffers.get() + padded, rows, rows + width, rows + 2 * size_t{width}};
        std::fill(b.z, b.z + width, 1.0);
        if (job.kernel.radius == 2) normalRows<2>(job, first, last, b, pixels);
        else normalRows<1>(job, first, last, b, pixels);
    });
    return noMemory ? fail(error, GenerateError::noMemory) : true;
}

}  // namespace

bool normalsFromHeight(const HeightField& field, const HeightToNormalOptions& options, Image* out,
                       GenerateError* error) {
    if (!checkHeightField(field, error)) return false;
    if (options.convention != GreenConvention::openGl && options.convention != GreenConvention::directX)
        return fail(error, GenerateError::unknownConvention);
    if (!std::isfinite(options.heightScale) || (options.outputBits != 8 && options.outputBits != 16))
        return fail(error, GenerateError::badOption);
    if (!imageSizeAllowed(field.width, field.height)) return fail(error, GenerateError::tooLarge);
    Job job{&field,
            derivativeKernel(options.filter),
            options.edges,
            options.heightScale,
            options.convention == GreenConvention::openGl ? 1.0 : -1.0,
            options.heightToAlpha,
            0.0,
            1.0};
    const double largest = options.outputBits == 16 ? 65535.0 : 255.0;
    if (options.heightToAlpha) {
        if (field.fromSamples) {
            job.alphaFactor = largest;
        } else {
            const HeightRange range = heightRange(field);
            const double span = static_cast<double>(range.high) - range.low;
            job.alphaOffset = range.low;
            job.alphaFactor = span > 0.0 ? largest / span : 0.0;
        }
    }
    if (!startImage(out, field.width, field.height, options.outputBits, options.heightToAlpha))
        return fail(error, GenerateError::noMemory);
    const bool done = options.outputBits == 16 ? runRows(job, reinterpret_cast<uint16_t*>(out->pixels), error)
                                               : runRows(job, out->pixels, error);
    if (!done) resetImage(out);
    return done;
}

bool normalsFromHeightImage(const Image& image, HeightChannel channel, const HeightToNormalOptions& options,
                            Image* out, GenerateError* error) {
    HeightField field;
    if (!heightFieldFromImage(image, channel, &field, error)) return false;
    const bool done = normalsFromHeight(field, options, out, error);
    releaseHeightField(&field);
    return done;
}
