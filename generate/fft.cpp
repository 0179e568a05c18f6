#include "generate/fft.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <utility>

#include "image/bands.h"

namespace {

template <class T>
std::unique_ptr<T[]> newArray(size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

inline Complex times(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Complex conjugate(Complex a) { return {a.re, -a.im}; }

// e^(i pi numerator / denominator).
Complex turn(uint64_t numerator, uint64_t denominator, bool negative) {
    const double angle = std::numbers::pi * static_cast<double>(numerator) / static_cast<double>(denominator);
    return {std::cos(angle), negative ? -std::sin(angle) : std::sin(angle)};
}

// Decimation in time after the bit-reversal permutation.
template <bool inverse>
void radix2(const FftPlan& plan, Complex* a) {
    const uint32_t n = plan.n;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t j = plan.reversed[i];
        if (i < j) std::swap(a[i], a[j]);
    }
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        const Complex u = a[i], v = a[i + 1];
        a[i] = {u.re + v.re, u.im + v.im};
        a[i + 1] = {u.re - v.re, u.im - v.im};
    }
    const Complex* twiddles = plan.twiddles.get();
    for (uint32_t length = 4; length <= n; length <<= 1) {
        const uint32_t half = length / 2, step = n / length;
        for (uint32_t start = 0; start < n; start += length) {
            Complex* x = a + start;
            Complex* y = x + half;
            for (uint32_t j = 0; j < half; ++j) {
                const Complex w = twiddles[size_t{j} * step];
                const double wi = inverse ? -w.im : w.im;
                const double vr = y[j].re * w.re - y[j].im * wi;
                const double vi = y[j].re * wi + y[j].im * w.re;
                y[j] = {x[j].re - vr, x[j].im - vi};
                x[j] = {x[j].re + vr, x[j].im + vi};
            }
        }
    }
}

// Bluestein: jk = (j^2 + k^2 - (k - j)^2) / 2 turns the transform into a
// convolution with the chirp, done by transforms of length m.
void bluestein(const FftPlan& plan, Complex* data, Complex* scratch, bool inverse) {
    const uint32_t n = plan.n, m = plan.inner->n;
    // The inverse is the conjugate of the forward transform of the conjugate.
    for (uint32_t j = 0; j < n; ++j) {
        const Complex x = inverse ? conjugate(data[j]) : data[j];
        scratch[j] = times(x, plan.chirp[j]);
    }
    for (uint32_t j = n; j < m; ++j) scratch[j] = {0.0, 0.0};
    radix2<false>(*plan.inner, scratch);
    for (uint32_t j = 0; j < m; ++j) scratch[j] = times(scratch[j], plan.filter[j]);
    radix2<true>(*plan.inner, scratch);
    const double unit = 1.0 / m;
    for (uint32_t k = 0; k < n; ++k) {
        Complex x = times(scratch[k], plan.chirp[k]);
        x = {x.re * unit, x.im * unit};
        data[k] = inverse ? conjugate(x) : x;
    }
}

// Columns are gathered this many at a time so that each row's cache line is
// read once.
constexpr uint32_t columnBlock = 8;

}  // namespace

bool makeFftPlan(FftPlan* plan, uint32_t n) {
    *plan = FftPlan{};
    if (n == 0) return false;
    plan->n = n;
    plan->powerOfTwo = (n & (n - 1)) == 0;
    if (plan->powerOfTwo) {
        plan->twiddles = newArray<Complex>(n / 2 + 1);
        plan->reversed = newArray<uint32_t>(n);
        if (!plan->twiddles || !plan->reversed) return false;
        for (uint32_t k = 0; k < n / 2; ++k) plan->twiddles[k] = turn(2 * uint64_t{k}, n, true);
        uint32_t bits = 0;
        while ((uint32_t{1} << bits) < n) ++bits;
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t r = 0;
            for (uint32_t b = 0; b < bits; ++b) r |= ((k >> b) & 1u) << (bits - 1 - b);
            plan->reversed[k] = r;
        }
        return true;
    }
    uint32_t m = 1;
    while (m < 2 * uint64_t{n} - 1) m <<= 1;
    plan->inner.reset(new (std::nothrow) FftPlan);
    plan->chirp = newArray<Complex>(n);
    plan->filter = newArray<Complex>(m);
    if (!plan->inner || !plan->chirp || !plan->filter || !makeFftPlan(plan->inner.get(), m)) return false;
    // k^2 is taken modulo 2n so that the angle stays small and exact.
    for (uint32_t k = 0; k < n; ++k) plan->chirp[k] = turn((uint64_t{k} * k) % (2 * uint64_t{n}), n, true);
    for (uint32_t j = 0; j < m; ++j) plan->filter[j] = {0.0, 0.0};
    plan->filter[0] = conjugate(plan->chirp[0]);
    for (uint32_t k = 1; k < n; ++k) plan->filter[k] = plan->filter[m - k] = conjugate(plan->chirp[k]);
    radix2<false>(*plan->inner, plan->filter.get());
    return true;
}

size_t fftScratchSize(const FftPlan& plan) { return plan.powerOfTwo ? 0 : plan.inner->n; }

void fftInPlace(const FftPlan& plan, Complex* data, Complex* scratch, bool inverse) {
    if (plan.n <= 1) return;
    if (!plan.powerOfTwo) bluestein(plan, data, scratch, inverse);
    else if (inverse) radix2<true>(plan, data);
    else radix2<false>(plan, data);
}

bool fft2d(Complex* data, uint32_t width, uint32_t height, bool inverse) {
    FftPlan rowPlan, columnPlan;
    if (!makeFftPlan(&rowPlan, width) || !makeFftPlan(&columnPlan, height)) return false;
    std::atomic<bool> noMemory{false};
    runInBands(height, bandWorkers(height, 1, 8), [&](uint32_t first, uint32_t last) {
        auto scratch = newArray<Complex>(fftScratchSize(rowPlan) + 1);
        if (!scratch) {
            noMemory = true;
            return;
        }
        for (uint32_t y = first; y < last; ++y) fftInPlace(rowPlan, data + size_t{y} * width, scratch.get(), inverse);
    });
    if (noMemory) return false;
    const uint32_t blocks = (width + columnBlock - 1) / columnBlock;
    runInBands(blocks, bandWorkers(blocks, 1, 2), [&](uint32_t first, uint32_t last) {
        auto lines = newArray<Complex>(size_t{columnBlock} * height + fftScratchSize(columnPlan));
        if (!lines) {
            noMemory = true;
            return;
        }
        Complex* scratch = lines.get() + size_t{columnBlock} * height;
        for (uint32_t block = first; block < last; ++block) {
            const uint32_t x0 = block * columnBlock, count = std::min(columnBlock, width - x0);
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t i = 0; i < count; ++i) lines[size_t{i} * height + y] = data[size_t{y} * width + x0 + i];
            for (uint32_t i = 0; i < count; ++i) fftInPlace(columnPlan, lines.get() + size_t{i} * height, scratch, inverse);
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t i = 0; i < count; ++i) data[size_t{y} * width + x0 + i] = lines[size_t{i} * height + y];
        }
    });
    return !noMemory;
}

bool makeDctPlan(DctPlan* plan, uint32_t n) {
    plan->shift = newArray<Complex>(n);
    if (!plan->shift || !makeFftPlan(&plan->fft, n)) return false;
    for (uint32_t k = 0; k < n; ++k) plan->shift[k] = turn(k, 2 * uint64_t{n}, true);
    return true;
}

size_t dctWorkSize(const DctPlan& plan) { return plan.fft.n + fftScratchSize(plan.fft); }

// Makhoul's reordering: v holds the even samples in order, then the odd ones
// backwards; the DCT-II is then Re(e^(-i pi k / 2n) V[k]) for V the
// transform of v. Two real sequences share one complex transform, a in the
// real part and b in the imaginary part.
void dctPairInPlace(const DctPlan& plan, double* a, double* b, Complex* work, bool inverse) {
    const uint32_t n = plan.fft.n;
    Complex* v = work;
    Complex* scratch = work + n;
    // Sample j of the sequence goes to place slot(j) of v.
    const auto slot = [&](uint32_t j) { return (j & 1u) ? n - 1 - j / 2 : j / 2; };
    if (!inverse) {
        for (uint32_t j = 0; j < n; ++j) v[slot(j)] = {a[j], b ? b[j] : 0.0};
        fftInPlace(plan.fft, v, scratch, false);
        for (uint32_t k = 0; k < n; ++k) {
            const Complex z = v[k], w = conjugate(v[k == 0 ? 0 : n - k]);
            // The transforms of a and b: (z + w) / 2 and (z - w) / 2i.
            const Complex va = {(z.re + w.re) * 0.5, (z.im + w.im) * 0.5};
            const Complex vb = {(z.im - w.im) * 0.5, -(z.re - w.re) * 0.5};
            a[k] = times(plan.shift[k], va).re;
            if (b) b[k] = times(plan.shift[k], vb).re;
        }
        return;
    }
    // V[k] = e^(i pi k / 2n) (X[k] - i X[n - k]), X[n] = 0; v = V's inverse.
    for (uint32_t k = 0; k < n; ++k) {
        const Complex back = conjugate(plan.shift[k]);
        const double ar = a[k], ai = k == 0 ? 0.0 : -a[n - k];
        const Complex va = times(back, {ar, ai});
        Complex vb = {0.0, 0.0};
        if (b) vb = times(back, {b[k], k == 0 ? 0.0 : -b[n - k]});
        // va + i vb
        v[k] = {va.re - vb.im, va.im + vb.re};
    }
    fftInPlace(plan.fft, v, scratch, true);
    const double unit = 1.0 / n;
    for (uint32_t j = 0; j < n; ++j) {
        a[j] = v[slot(j)].re * unit;
        if (b) b[j] = v[slot(j)].im * unit;
    }
}

bool realTransformPass(double* a, RealTransform ta, double* b, RealTransform tb, uint32_t width, uint32_t height,
                       bool alongRows) {
    const uint32_t count = alongRows ? height : width;  // lines a field
    const uint32_t n = alongRows ? width : height;      // samples a line
    const bool inverse = ta == RealTransform::inverseDct;
    DctPlan plan;
    if (!makeDctPlan(&plan, n)) return false;
    // A block is `perField` lines of each field, gathered side by side.
    const uint32_t fields = b ? 2 : 1, perField = columnBlock / fields;
    const uint32_t blocks = (count + perField - 1) / perField;
    std::atomic<bool> noMemory{false};
    runInBands(blocks, bandWorkers(blocks, 1, 2), [&](uint32_t first, uint32_t last) {
        auto lines = newArray<double>(size_t{columnBlock} * n);
        auto work = newArray<Complex>(dctWorkSize(plan));
        if (!lines || !work) {
            noMemory = true;
            return;
        }
        const auto line = [&](uint32_t field, uint32_t i) { return lines.get() + (size_t{field} * perField + i) * n; };
        for (uint32_t block = first; block < last; ++block) {
            const uint32_t i0 = block * perField, used = std::min(perField, count - i0);
            for (uint32_t f = 0; f < fields; ++f) {
                const double* source = f == 0 ? a : b;
                if (alongRows) {
                    for (uint32_t i = 0; i < used; ++i)
                        std::memcpy(line(f, i), source + size_t{i0 + i} * width, n * sizeof(double));
                } else {
                    for (uint32_t y = 0; y < n; ++y)
                        for (uint32_t i = 0; i < used; ++i) line(f, i)[y] = source[size_t{y} * width + i0 + i];
                }
                // The sine transform is the cosine transform of the sequence
                // with every other sign turned, read backwards:
                // sin(pi k (j + 1/2) / n) = (-1)^j cos(pi (n - k) (j + 1/2) / n).
                if ((f == 0 ? ta : tb) == RealTransform::dst)
                    for (uint32_t i = 0; i < used; ++i)
                        for (uint32_t j = 1; j < n; j += 2) line(f, i)[j] = -line(f, i)[j];
            }
            if (b) {
                for (uint32_t i = 0; i < used; ++i) dctPairInPlace(plan, line(0, i), line(1, i), work.get(), inverse);
            } else {
                for (uint32_t i = 0; i < used; i += 2)
                    dctPairInPlace(plan, line(0, i), i + 1 < used ? line(0, i + 1) : nullptr, work.get(), inverse);
            }
            for (uint32_t f = 0; f < fields; ++f) {
                if ((f == 0 ? ta : tb) == RealTransform::dst)
                    for (uint32_t i = 0; i < used; ++i) {
                        std::reverse(line(f, i) + 1, line(f, i) + n);
                        line(f, i)[0] = 0.0;
                    }
                double* target = f == 0 ? a : b;
                if (alongRows) {
                    for (uint32_t i = 0; i < used; ++i)
                        std::memcpy(target + size_t{i0 + i} * width, line(f, i), n * sizeof(double));
                } else {
                    for (uint32_t y = 0; y < n; ++y)
                        for (uint32_t i = 0; i < used; ++i) target[size_t{y} * width + i0 + i] = line(f, i)[y];
                }
            }
        }
    });
    return !noMemory;
}
