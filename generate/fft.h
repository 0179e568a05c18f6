// Fourier transforms of any length, written out here so that every build
// takes the same road: iterative radix-2 for powers of two, Bluestein's chirp
// for every other length; two-dimensional transforms by rows then columns,
// spread over the cores; and the cosine transform (DCT-II) and its inverse
// on top of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct Complex {
    double re, im;
};

// What a transform of one length needs, made once and read by any number of
// threads. A plain record; fill it with makeFftPlan.
struct FftPlan {
    uint32_t n = 0;
    bool powerOfTwo = false;
    std::unique_ptr<Complex[]> twiddles;  // e^(-2 pi i k / n), k < n / 2 (powers of two)
    std::unique_ptr<uint32_t[]> reversed;  // bit-reversed index of each k (powers of two)
    // Bluestein: chirp[k] = e^(-i pi k^2 / n); filter = the transform (of
    // length m, a power of two >= 2n - 1) of the conjugate chirp laid around 0.
    std::unique_ptr<Complex[]> chirp;
    std::unique_ptr<Complex[]> filter;
    std::unique_ptr<FftPlan> inner;  // the plan of length m
};

// False when there is no memory (or n is 0).
bool makeFftPlan(FftPlan* plan, uint32_t n);

// Complex values of scratch space fftInPlace needs for this plan.
size_t fftScratchSize(const FftPlan& plan);

// X[k] = sum over j of x[j] e^(-2 pi i jk / n), or e^(+2 pi i jk / n) when
// `inverse` (unscaled: a forward then inverse transform multiplies by n).
void fftInPlace(const FftPlan& plan, Complex* data, Complex* scratch, bool inverse);

// The two-dimensional transform of width x height values, rows stored one
// after another, in place; unscaled like fftInPlace. False when there is no
// memory (the data are then unchanged or partly transformed).
bool fft2d(Complex* data, uint32_t width, uint32_t height, bool inverse);

// The cosine transform of one length.
struct DctPlan {
    FftPlan fft;
    std::unique_ptr<Complex[]> shift;  // e^(-i pi k / 2n)
};
bool makeDctPlan(DctPlan* plan, uint32_t n);

// Complex values of work space dctPairInPlace needs.
size_t dctWorkSize(const DctPlan& plan);

// DCT-II, X[k] = sum over j of x[j] cos(pi k (j + 1/2) / n), of one or two
// real sequences of length n at once (`b` may be null); with `inverse`, the
// sequences whose DCT-II the data are.
void dctPairInPlace(const DctPlan& plan, double* a, double* b, Complex* work, bool inverse);

// Real transforms of each row or column of a field.
enum class RealTransform {
    dct,         // DCT-II
    dst,         // S[k] = sum over j of x[j] sin(pi k (j + 1/2) / n), k < n (S[0] = 0)
    inverseDct,  // the inverse of DCT-II
};

// Applies `ta` to every row (alongRows) or column of the width x height
// field `a` and, when `b` is not null, `tb` to those of `b` (both forward or
// both inverse). Spread over the cores. False when there is no memory.
bool realTransformPass(double* a, RealTransform ta, double* b, RealTransform tb, uint32_t width, uint32_t height,
                       bool alongRows);
