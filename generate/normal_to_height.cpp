#include "generate/normal_to_height.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <numbers>

#include "adjust/adjust.h"
#include "generate/fft.h"
#include "generate/height_to_normal.h"
#include "image/bands.h"
#include "platform/platform.h"

namespace {

// The weight of the curvature penalty: small enough to leave every
// frequency the filter sees as it was (a relative change of about 1e-4 w^2
// at angular frequency w), large enough to keep patterns the filter cannot
// see (a checkerboard, to which a central difference is blind) from being
// amplified without bound.
constexpr double curvaturePenalty = 1e-4;

bool fail(GenerateError* error, GenerateError why) {
    if (error) *error = why;
    return false;
}

// Owns a picture-sized buffer.
struct LargeBuffer {
    void* block = nullptr;
    explicit LargeBuffer(size_t bytes) : block(platformAllocLarge(bytes)) {}
    ~LargeBuffer() { platformFreeLarge(block); }
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
};

// The slopes of every pixel, handed to `store(index, p, qDown)`: p = -x / z
// to the right, qDown the slope down the picture. Each sample is read as
// re-normalisation reads it. False when a band has no memory for its row.
template <class Sample, class Store>
bool readSlopesAs(const ImageRows& rows, const NormalToHeightOptions& options, Store store) {
    const uint32_t width = rows.width;
    // OpenGL's y points up: the slope down the picture is y / z; DirectX's down: -y / z.
    const double downSign = options.convention == GreenConvention::openGl ? 1.0 : -1.0;
    const double minimumZ = options.minimumZ;
    return readRowsInBands(rows, 16, [&](uint32_t y, const uint16_t* rgba) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t i = size_t{y} * width + x;
            const uint16_t* s = rgba + size_t{x} * 4;
            const double nx = decodeSample<Sample>(int32_t{s[0]});
            const double ny = decodeSample<Sample>(int32_t{s[1]});
            const double nz = decodeSample<Sample>(int32_t{s[2]});
            const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
            if (!(length > 0.0)) {
                store(i, 0.0, 0.0);
                continue;
            }
            const double z = std::max(nz / length, minimumZ) * length;
            store(i, -nx / z, downSign * ny / z);
        }
    });
}

template <class Store>
bool readSlopes(const ImageRows& rows, const NormalToHeightOptions& options, Store store) {
    return rows.sixteen ? readSlopesAs<uint16_t>(rows, options, store) : readSlopesAs<uint8_t>(rows, options, store);
}

// The filter's response along one axis at the angular frequencies of
// `count` transform bins (spacing `step`): the derivative part s(w) (the
// filter multiplies a wave by i s(w)), the smoothing part c(w), and the
// compact Laplacian's 2 - 2 cos w for the curvature penalty.
struct AxisResponse {
    std::unique_ptr<double[]> slope, smooth, curvature;
    bool make(const DerivativeKernel& kernel, uint32_t count, double step) {
        slope.reset(new (std::nothrow) double[count]);
        smooth.reset(new (std::nothrow) double[count]);
        curvature.reset(new (std::nothrow) double[count]);
        if (!slope || !smooth || !curvature) return false;
        const int r = kernel.radius;
        for (uint32_t k = 0; k < count; ++k) {
            const double w = step * k;
            double s = 0.0, c = kernel.along[r];
            for (int j = 1; j <= r; ++j) {
                s += 2.0 * kernel.across[r + j] * std::sin(w * j);
                c += 2.0 * kernel.along[r + j] * std::cos(w * j);
            }
            slope[k] = s;
            smooth[k] = c;
            curvature[k] = 2.0 - 2.0 * std::cos(w);
        }
        return true;
    }
};

// The least-squares height for the filter's slopes gx and gy at one
// frequency: for p and q given as the filter would give them from a height
// H, gx p + gy q = (gx^2 + gy^2) H; the penalty adds curvature^2 to the
// denominator.
struct Solve {
    const AxisResponse* across;  // x frequencies
    const AxisResponse* down;    // y frequencies
    double divisor;
    // gx, gy and the denominator at bin (kx, ky); the denominator is 0 only at (0, 0).
    void at(uint32_t kx, uint32_t ky, double* gx, double* gy, double* denominator) const {
        *gx = across->slope[kx] * down->smooth[ky] / divisor;
        *gy = down->slope[ky] * across->smooth[kx] / divisor;
        const double l = across->curvature[kx] + down->curvature[ky];
        *denominator = *gx * *gx + *gy * *gy + curvaturePenalty * l * l;
    }
};

// Periodic: the transform of p + i q gives both P and Q, F(k) = P(k) + i Q(k)
// with P(-k) = conj P(k); the filter multiplies a height's transform by i gx
// and i gy, so H = -i (gx P + gy Q) / denominator.
bool solvePeriodic(const ImageRows& normals, const NormalToHeightOptions& options, HeightField* field) {
    const uint32_t width = field->width, height = field->height;
    LargeBuffer buffer(size_t{width} * height * sizeof(Complex));
    Complex* data = static_cast<Complex*>(buffer.block);
    AxisResponse across, down;
    const DerivativeKernel kernel = derivativeKernel(options.filter);
    if (!data || !across.make(kernel, width, 2.0 * std::numbers::pi / width) ||
        !down.make(kernel, height, 2.0 * std::numbers::pi / height))
        return false;
    const auto store = [data](size_t i, double p, double q) { data[i] = {p, q}; };
    if (!readSlopes(normals, options, store) || !fft2d(data, width, height, false)) return false;
    const Solve solve{&across, &down, kernel.divisor};
    // Bins k and -k are solved together; band b holds rows b and height - b.
    runInBands(height / 2 + 1, bandWorkers(height / 2 + 1, 1, 8), [&](uint32_t first, uint32_t last) {
        for (uint32_t ky = first; ky < last; ++ky) {
            const uint32_t kyMirror = (height - ky) % height;
            for (uint32_t kx = 0; kx < width; ++kx) {
                const uint32_t kxMirror = (width - kx) % width;
                if (ky == kyMirror && kx > kxMirror) continue;  // done as the mirror
                Complex& f = data[size_t{ky} * width + kx];
                Complex& g = data[size_t{kyMirror} * width + kxMirror];
                // P = (F(k) + conj F(-k)) / 2, Q = (F(k) - conj F(-k)) / 2i.
                const double pr = 0.5 * (f.re + g.re), pi = 0.5 * (f.im - g.im);
                const double qr = 0.5 * (f.im + g.im), qi = -0.5 * (f.re - g.re);
                double gx, gy, denominator;
                solve.at(kx, ky, &gx, &gy, &denominator);
                Complex h = {0.0, 0.0};
                if (denominator > 0.0) {
                    const double sr = (gx * pr + gy * qr) / denominator, si = (gx * pi + gy * qi) / denominator;
                    h = {si, -sr};  // -i (sr + i si)
                }
                f = h;
                g = {h.re, -h.im};
            }
        }
    });
    if (!fft2d(data, width, height, true)) return false;
    const double unit = 1.0 / (double(width) * height);
    runInBands(height, bandWorkers(height, 1, 16), [&](uint32_t first, uint32_t last) {
        for (size_t i = size_t{first} * width; i < size_t{last} * width; ++i)
            field->values[i] = static_cast<float>(data[i].re * unit);
    });
    return true;
}

// Free edges: the map mirrored about each edge (a height even about the
// edge, its slope across it odd) tiles, so the periodic solution of the
// mirrored map is the free-edge solution. Written with cosine and sine
// transforms of the map itself: with A = sine in x, cosine in y of p, and
// B = cosine in x, sine in y of q, the height's cosine transform is
// -(gx A + gy B) / denominator, at frequencies pi k / n. For the 5 x 5
// filter the mirror reads the second texel beyond an edge as the first
// inside it, where the clamp of height to normal repeats the edge texel.
bool solveFreeEdges(const ImageRows& normals, const NormalToHeightOptions& options, HeightField* field) {
    const uint32_t width = field->width, height = field->height;
    const size_t count = size_t{width} * height;
    LargeBuffer pBuffer(count * sizeof(double)), qBuffer(count * sizeof(double));
    double* a = static_cast<double*>(pBuffer.block);
    double* b = static_cast<double*>(qBuffer.block);
    AxisResponse across, down;
    const DerivativeKernel kernel = derivativeKernel(options.filter);
    if (!a || !b || !across.make(kernel, width, std::numbers::pi / width) ||
        !down.make(kernel, height, std::numbers::pi / height))
        return false;
    const auto store = [a, b](size_t i, double p, double q) {
        a[i] = p;
        b[i] = q;
    };
    if (!readSlopes(normals, options, store) || !realTransformPass(a, RealTransform::dst, b, RealTransform::dct, width, height, true) ||
        !realTransformPass(a, RealTransform::dct, b, RealTransform::dst, width, height, false))
        return false;
    const Solve solve{&across, &down, kernel.divisor};
    runInBands(height, bandWorkers(height, 1, 16), [&](uint32_t first, uint32_t last) {
        for (uint32_t ky = first; ky < last; ++ky)
            for (uint32_t kx = 0; kx < width; ++kx) {
                const size_t i = size_t{ky} * width + kx;
                double gx, gy, denominator;
                solve.at(kx, ky, &gx, &gy, &denominator);
                a[i] = denominator > 0.0 ? -(gx * a[i] + gy * b[i]) / denominator : 0.0;
            }
    });
    if (!realTransformPass(a, RealTransform::inverseDct, nullptr, RealTransform::inverseDct, width, height, false) ||
        !realTransformPass(a, RealTransform::inverseDct, nullptr, RealTransform::inverseDct, width, height, true))
        return false;
    runInBands(height, bandWorkers(height, 1, 16), [&](uint32_t first, uint32_t last) {
        for (size_t i = size_t{first} * width; i < size_t{last} * width; ++i)
            field->values[i] = static_cast<float>(a[i]);
    });
    return true;
}

}  // namespace

bool heightFromNormals(const Image& normals, const NormalToHeightOptions& options, HeightField* field,
                       GenerateError* error) {
    ImageRows rows;
    if (!viewRows(normals, rows)) return fail(error, GenerateError::unsupportedLayout);
    if (options.convention != GreenConvention::openGl && options.convention != GreenConvention::directX)
        return fail(error, GenerateError::unknownConvention);
    if (!(options.minimumZ > 0.0 && options.minimumZ <= 1.0)) return fail(error, GenerateError::badOption);
    if (!allocateHeightField(field, rows.width, rows.height, error)) return false;
    const bool solved = options.edges == EdgeRule::wrap ? solvePeriodic(rows, options, field)
                                                        : solveFreeEdges(rows, options, field);
    if (!solved) {
        releaseHeightField(field);
        return fail(error, GenerateError::noMemory);
    }
    return true;
}
