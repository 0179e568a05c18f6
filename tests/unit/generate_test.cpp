// The map makers: height to normal against the filters' rules worked out
// here in double precision, the FFT and cosine transforms against plain
// sums, normal to height by round trips, and the blend modes on vectors
// whose results are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "generate/blend.h"
#include "generate/fft.h"
#include "generate/height_field.h"
#include "generate/height_to_normal.h"
#include "generate/normal_to_height.h"
#include "image/rows.h"
#include "platform/platform.h"

namespace {

constexpr double pi = std::numbers::pi;

// An Image released when the test ends.
struct OwnedImage {
    Image image{};
    OwnedImage() = default;
    OwnedImage(uint32_t width, uint32_t height, int bits, bool alpha) {
        EXPECT_TRUE(startImage(&image, width, height, bits, alpha));
    }
    ~OwnedImage() { resetImage(&image); }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    uint32_t sample(uint32_t x, uint32_t y, uint32_t c) const {
        const size_t channels = image.hasAlpha ? 4 : 3;
        const size_t i = (size_t{y} * uint32_t(image.width) + x) * channels + c;
        return isSixteenBit(image) ? reinterpret_cast<const uint16_t*>(image.pixels)[i] : image.pixels[i];
    }
    void set(uint32_t x, uint32_t y, uint32_t c, uint32_t v) {
        const size_t channels = image.hasAlpha ? 4 : 3;
        const size_t i = (size_t{y} * uint32_t(image.width) + x) * channels + c;
        if (isSixteenBit(image)) reinterpret_cast<uint16_t*>(image.pixels)[i] = static_cast<uint16_t>(v);
        else image.pixels[i] = static_cast<uint8_t>(v);
    }
};

// A field of heights owned by the test.
struct Heights {
    uint32_t width, height;
    std::vector<float> values;
    Heights(uint32_t w, uint32_t h, const std::function<double(double x, double y)>& f) : width(w), height(h) {
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) values.push_back(static_cast<float>(f(x, y)));
    }
    HeightField field() { return {values.data(), width, height, false}; }
    double at(int64_t x, int64_t y, EdgeRule edges) const {
        const int64_t w = width, h = height;
        if (edges == EdgeRule::wrap) {
            x = ((x % w) + w) % w;
            y = ((y % h) + h) % h;
        } else {
            x = std::clamp<int64_t>(x, 0, w - 1);
            y = std::clamp<int64_t>(y, 0, h - 1);
        }
        return values[size_t(y) * width + size_t(x)];
    }
};

// The filters as their 2-D kernels for d/dx (rows top to bottom, columns
// left to right); d/dy down the picture is the transpose.
struct FilterRule {
    DerivativeFilter filter;
    int radius;
    std::vector<double> kernel;  // (2 radius + 1)^2
    double divisor;
};

const std::vector<FilterRule>& filterRules() {
    static const std::vector<FilterRule> rules = {
        {DerivativeFilter::central, 1, {0, 0, 0, -1, 0, 1, 0, 0, 0}, 2},
        {DerivativeFilter::sobel, 1, {-1, 0, 1, -2, 0, 2, -1, 0, 1}, 8},
        {DerivativeFilter::scharr, 1, {-3, 0, 3, -10, 0, 10, -3, 0, 3}, 32},
        {DerivativeFilter::prewitt, 1, {-1, 0, 1, -1, 0, 1, -1, 0, 1}, 6},
        {DerivativeFilter::sobel5,
         2,
         {-1, -2, 0, 2, 1, -4, -8, 0, 8, 4, -6, -12, 0, 12, 6, -4, -8, 0, 8, 4, -1, -2, 0, 2, 1},
         128},
    };
    return rules;
}

// The samples of the normal the rule gives at (x, y), in double precision.
std::array<double, 3> ruleNormal(const Heights& h, const FilterRule& rule, const HeightToNormalOptions& o, uint32_t x,
                                 uint32_t y) {
    const int r = rule.radius, taps = 2 * r + 1;
    double dx = 0, dyDown = 0;
    for (int j = -r; j <= r; ++j)
        for (int i = -r; i <= r; ++i) {
            dx += rule.kernel[size_t((j + r) * taps + (i + r))] * h.at(int64_t{x} + i, int64_t{y} + j, o.edges);
            dyDown += rule.kernel[size_t((i + r) * taps + (j + r))] * h.at(int64_t{x} + i, int64_t{y} + j, o.edges);
        }
    dx /= rule.divisor;
    dyDown /= rule.divisor;
    const double dyConvention = o.convention == GreenConvention::openGl ? -dyDown : dyDown;  // y up for OpenGL
    const double n[3] = {-o.heightScale * dx, -o.heightScale * dyConvention, 1.0};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const double steps = o.outputBits == 16 ? 32767.0 : 127.0;
    return {n[0] / length * steps + steps + 1, n[1] / length * steps + steps + 1, n[2] / length * steps + steps + 1};
}

struct HeightCase {
    const char* name;
    uint32_t width, height;
    std::function<double(double, double)> f;
    double scale;
};

const std::vector<HeightCase>& heightCases() {
    static const std::vector<HeightCase> cases = {
        {"RampX", 9, 7, [](double x, double) { return 0.1 * x; }, 1.0},
        {"RampY", 6, 11, [](double, double y) { return 0.07 * y; }, 2.0},
        {"Cone", 13, 13, [](double x, double y) { return 1.0 - std::hypot(x - 6, y - 6) / 8.0; }, 3.0},
        {"Ripple", 16, 12,
         [](double x, double y) { return 0.5 + 0.5 * std::sin(2 * pi * x / 8) * std::cos(2 * pi * y / 6); }, 4.0},
        {"OneRow", 10, 1, [](double x, double) { return 0.03 * x * x; }, 1.0},
        {"OneColumn", 1, 10, [](double, double y) { return 0.03 * y * y; }, 1.0},
        {"OnePixel", 1, 1, [](double, double) { return 0.7; }, 5.0},
    };
    return cases;
}

TEST(GenerateHeightToNormal, EveryFilterEdgeConventionAndDepthFollowsTheRule) {
    for (const HeightCase& c : heightCases())
        for (const FilterRule& rule : filterRules())
            for (EdgeRule edges : {EdgeRule::wrap, EdgeRule::clamp})
                for (GreenConvention convention : {GreenConvention::openGl, GreenConvention::directX})
                    for (int bits : {8, 16}) {
                        Heights h(c.width, c.height, c.f);
                        HeightToNormalOptions o;
                        o.heightScale = c.scale;
                        o.filter = rule.filter;
                        o.edges = edges;
                        o.convention = convention;
                        o.outputBits = bits;
                        OwnedImage out;
                        GenerateError error = GenerateError::none;
                        const HeightField field = h.field();
                        ASSERT_TRUE(normalsFromHeight(field, o, &out.image, &error)) << generateErrorText(error);
                        ASSERT_EQ(out.image.sampleBits, bits);
                        const double tolerance = bits == 16 ? 2.0 : 1.0;
                        for (uint32_t y = 0; y < c.height; ++y)
                            for (uint32_t x = 0; x < c.width; ++x) {
                                const auto want = ruleNormal(h, rule, o, x, y);
                                for (uint32_t ch = 0; ch < 3; ++ch)
                                    ASSERT_NEAR(out.sample(x, y, ch), want[ch], tolerance)
                                        << c.name << " " << choiceName<DerivativeFilter>(derivativeFilterNames, rule.filter)
                                        << " " << choiceName<EdgeRule>(edgeRuleNames, edges) << " "
                                        << choiceName<GreenConvention>(conventionNames, convention) << " " << bits
                                        << " bits at " << x << "," << y << " channel " << ch;
                            }
                    }
}

TEST(GenerateHeightToNormal, SignsFollowTheConvention) {
    // Rising to the right: red below the centre. Rising towards the top
    // row: green below the centre for OpenGL, above for DirectX.
    Heights right(8, 8, [](double x, double) { return 0.05 * x; });
    Heights up(8, 8, [](double, double y) { return 0.05 * (8 - y); });
    HeightToNormalOptions o;
    o.edges = EdgeRule::clamp;
    o.outputBits = 8;
    OwnedImage a, b, c;
    HeightField f1 = right.field(), f2 = up.field();
    ASSERT_TRUE(normalsFromHeight(f1, o, &a.image, nullptr));
    EXPECT_LT(a.sample(4, 4, 0), 128u);
    EXPECT_EQ(a.sample(4, 4, 1), 128u);
    ASSERT_TRUE(normalsFromHeight(f2, o, &b.image, nullptr));
    EXPECT_LT(b.sample(4, 4, 1), 128u);
    o.convention = GreenConvention::directX;
    ASSERT_TRUE(normalsFromHeight(f2, o, &c.image, nullptr));
    EXPECT_GT(c.sample(4, 4, 1), 128u);
}

TEST(GenerateHeightToNormal, WrappedMapTilesWithoutASeam) {
    // A periodic height shifted by whole texels gives the map shifted the
    // same way: the first and last columns (and rows) meet as neighbours.
    const auto f = [](double x, double y) { return 0.5 + 0.3 * std::sin(2 * pi * x / 12) + 0.2 * std::cos(2 * pi * y / 10); };
    for (const FilterRule& rule : filterRules()) {
        Heights h(12, 10, f);
        Heights shifted(12, 10, [&](double x, double y) { return f(std::fmod(x + 5, 12), std::fmod(y + 3, 10)); });
        HeightToNormalOptions o;
        o.filter = rule.filter;
        o.heightScale = 6.0;
        OwnedImage a, b;
        HeightField fa = h.field(), fb = shifted.field();
        ASSERT_TRUE(normalsFromHeight(fa, o, &a.image, nullptr));
        ASSERT_TRUE(normalsFromHeight(fb, o, &b.image, nullptr));
        for (uint32_t y = 0; y < 10; ++y)
            for (uint32_t x = 0; x < 12; ++x)
                for (uint32_t ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(b.sample(x, y, ch), a.sample((x + 5) % 12, (y + 3) % 10, ch), 1.0) << x << "," << y;
    }
}

TEST(GenerateHeightToNormal, ReadsAPicturesChannelsAndKeepsTheHeightInAlpha) {
    OwnedImage picture(3, 2, 8, true);
    for (uint32_t i = 0; i < 6; ++i) {
        picture.set(i % 3, i / 3, 0, 10 * i);
        picture.set(i % 3, i / 3, 1, 20 * i);
        picture.set(i % 3, i / 3, 2, 30 * i);
        picture.set(i % 3, i / 3, 3, 40 * i);
    }
    struct ChannelCase {
        HeightChannel channel;
        double (*value)(uint32_t i);
    };
    const ChannelCase cases[] = {
        {HeightChannel::red, [](uint32_t i) { return 10.0 * i / 255; }},
        {HeightChannel::green, [](uint32_t i) { return 20.0 * i / 255; }},
        {HeightChannel::blue, [](uint32_t i) { return 30.0 * i / 255; }},
        {HeightChannel::alpha, [](uint32_t i) { return 40.0 * i / 255; }},
        {HeightChannel::luma, [](uint32_t i) { return (0.2126 * 10 + 0.7152 * 20 + 0.0722 * 30) * i / 255; }},
        {HeightChannel::automatic, [](uint32_t i) { return (0.2126 * 10 + 0.7152 * 20 + 0.0722 * 30) * i / 255; }},
    };
    for (const ChannelCase& c : cases) {
        HeightField field;
        ASSERT_TRUE(heightFieldFromImage(picture.image, c.channel, &field, nullptr));
        EXPECT_TRUE(field.fromSamples);
        for (uint32_t i = 0; i < 6; ++i) EXPECT_NEAR(field.values[i], c.value(i), 1e-6);
        releaseHeightField(&field);
    }
    // Grey: red, green and blue agree.
    OwnedImage grey(2, 1, 16, false);
    for (uint32_t ch = 0; ch < 3; ++ch) {
        grey.set(0, 0, ch, 1000);
        grey.set(1, 0, ch, 65535);
    }
    HeightField field;
    ASSERT_TRUE(heightFieldFromImage(grey.image, HeightChannel::automatic, &field, nullptr));
    EXPECT_FLOAT_EQ(field.values[0], 1000.0f / 65535);
    EXPECT_FLOAT_EQ(field.values[1], 1.0f);
    // The height in alpha, widened to 16 bits.
    HeightToNormalOptions o;
    o.heightToAlpha = true;
    OwnedImage out;
    ASSERT_TRUE(normalsFromHeight(field, o, &out.image, nullptr));
    EXPECT_EQ(out.sample(0, 0, 3), 1000u);
    EXPECT_EQ(out.sample(1, 0, 3), 65535u);
    releaseHeightField(&field);
    // And from the 8-bit picture's alpha, reduced ... widened: v x 257.
    OwnedImage fromPicture;
    ASSERT_TRUE(normalsFromHeightImage(picture.image, HeightChannel::alpha, o, &fromPicture.image, nullptr));
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(fromPicture.sample(i % 3, i / 3, 3), 40 * i * 257);
    // A float field's range fills the alpha range.
    Heights floats(3, 1, [](double x, double) { return -2.0 + 3.0 * x; });
    HeightField ff = floats.field();
    o.outputBits = 8;
    OwnedImage fromFloats;
    ASSERT_TRUE(normalsFromHeight(ff, o, &fromFloats.image, nullptr));
    EXPECT_EQ(fromFloats.sample(0, 0, 3), 0u);
    EXPECT_EQ(fromFloats.sample(1, 0, 3), 128u);
    EXPECT_EQ(fromFloats.sample(2, 0, 3), 255u);
}

TEST(GenerateHeightToNormal, RefusesWhatItCannotRead) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (float value : bad) {
        std::vector<float> values(12, 0.5f);
        values[7] = value;
        HeightField field{values.data(), 4, 3, false};
        OwnedImage out;
        GenerateError error = GenerateError::none;
        EXPECT_FALSE(normalsFromHeight(field, {}, &out.image, &error));
        EXPECT_EQ(error, GenerateError::notFinite);
        EXPECT_EQ(out.image.pixels, nullptr);
    }
    OwnedImage picture(2, 2, 8, false);
    HeightField field;
    GenerateError error = GenerateError::none;
    picture.image.dataSize -= 1;  // the last row runs past the pixels
    EXPECT_FALSE(heightFieldFromImage(picture.image, HeightChannel::red, &field, &error));
    EXPECT_EQ(error, GenerateError::unsupportedLayout);
    picture.image.dataSize += 1;
    // Blue first: red is the third byte of a pixel.
    picture.image.bgrOrder = 1;
    picture.set(0, 0, 0, 10);
    picture.set(0, 0, 2, 255);
    ASSERT_TRUE(heightFieldFromImage(picture.image, HeightChannel::red, &field, &error));
    EXPECT_EQ(field.values[0], 1.0f);
    releaseHeightField(&field);
    picture.image.bgrOrder = 0;
    EXPECT_FALSE(heightFieldFromImage(picture.image, HeightChannel::alpha, &field, &error));
    EXPECT_EQ(error, GenerateError::noAlpha);
    std::vector<float> flat(4, 0.0f);
    HeightField empty{flat.data(), 0, 4, false};
    OwnedImage out;
    EXPECT_FALSE(normalsFromHeight(empty, {}, &out.image, &error));
    EXPECT_EQ(error, GenerateError::emptyPicture);
    HeightToNormalOptions o;
    o.convention = GreenConvention::unknown;
    HeightField four{flat.data(), 2, 2, false};
    EXPECT_FALSE(normalsFromHeight(four, o, &out.image, &error));
    EXPECT_EQ(error, GenerateError::unknownConvention);
}

// A naive transform, sum over j of x[j] e^(-+2 pi i jk / n).
std::vector<Complex> naiveDft(const std::vector<Complex>& x, bool inverse) {
    const size_t n = x.size();
    std::vector<Complex> out(n, Complex{0, 0});
    for (size_t k = 0; k < n; ++k)
        for (size_t j = 0; j < n; ++j) {
            const double a = (inverse ? 2 : -2) * pi * double((j * k) % n) / double(n);
            out[k].re += x[j].re * std::cos(a) - x[j].im * std::sin(a);
            out[k].im += x[j].re * std::sin(a) + x[j].im * std::cos(a);
        }
    return out;
}

std::vector<Complex> noise(size_t n, unsigned seed) {
    std::vector<Complex> x(n);
    srand(seed);
    for (Complex& c : x) c = {rand() / double(RAND_MAX) - 0.5, rand() / double(RAND_MAX) - 0.5};
    return x;
}

TEST(GenerateFft, MatchesThePlainSumAtEveryLength) {
    for (uint32_t n : {1u, 2u, 4u, 3u, 5u, 12u, 17u, 64u, 100u, 127u, 256u}) {
        FftPlan plan;
        ASSERT_TRUE(makeFftPlan(&plan, n));
        std::vector<Complex> scratch(fftScratchSize(plan) + 1);
        for (bool inverse : {false, true}) {
            std::vector<Complex> x = noise(n, n), want = naiveDft(x, inverse);
            fftInPlace(plan, x.data(), scratch.data(), inverse);
            for (uint32_t k = 0; k < n; ++k) {
                ASSERT_NEAR(x[k].re, want[k].re, 1e-9 * n) << n << " " << k;
                ASSERT_NEAR(x[k].im, want[k].im, 1e-9 * n) << n << " " << k;
            }
        }
    }
}

TEST(GenerateFft, TwoDimensionsAreRowsThenColumns) {
    for (auto [w, h] : {std::pair{6u, 5u}, std::pair{8u, 4u}, std::pair{1u, 7u}, std::pair{9u, 1u}}) {
        std::vector<Complex> x = noise(size_t{w} * h, w * 31 + h), want(x.size());
        // The plain sum over both axes.
        for (uint32_t ky = 0; ky < h; ++ky)
            for (uint32_t kx = 0; kx < w; ++kx) {
                Complex s{0, 0};
                for (uint32_t y = 0; y < h; ++y)
                    for (uint32_t x0 = 0; x0 < w; ++x0) {
                        const double a = -2 * pi * (double(kx * x0) / w + double(ky * y) / h);
                        const Complex v = x[size_t{y} * w + x0];
                        s.re += v.re * std::cos(a) - v.im * std::sin(a);
                        s.im += v.re * std::sin(a) + v.im * std::cos(a);
                    }
                want[size_t{ky} * w + kx] = s;
            }
        ASSERT_TRUE(fft2d(x.data(), w, h, false));
        for (size_t i = 0; i < x.size(); ++i) {
            ASSERT_NEAR(x[i].re, want[i].re, 1e-9);
            ASSERT_NEAR(x[i].im, want[i].im, 1e-9);
        }
    }
}

TEST(GenerateFft, CosineAndSineTransformsMatchThePlainSums) {
    for (uint32_t n : {1u, 2u, 5u, 8u, 13u, 16u}) {
        DctPlan plan;
        ASSERT_TRUE(makeDctPlan(&plan, n));
        std::vector<Complex> work(dctWorkSize(plan));
        std::vector<double> a(n), b(n);
        for (uint32_t j = 0; j < n; ++j) {
            a[j] = std::sin(1.0 + 3.0 * j);
            b[j] = std::cos(0.3 * j * j);
        }
        const std::vector<double> a0 = a, b0 = b;
        dctPairInPlace(plan, a.data(), b.data(), work.data(), false);
        for (uint32_t k = 0; k < n; ++k) {
            double sa = 0, sb = 0;
            for (uint32_t j = 0; j < n; ++j) {
                sa += a0[j] * std::cos(pi * k * (j + 0.5) / n);
                sb += b0[j] * std::cos(pi * k * (j + 0.5) / n);
            }
            ASSERT_NEAR(a[k], sa, 1e-9) << n;
            ASSERT_NEAR(b[k], sb, 1e-9) << n;
        }
        dctPairInPlace(plan, a.data(), nullptr, work.data(), true);
        dctPairInPlace(plan, b.data(), nullptr, work.data(), true);
        for (uint32_t j = 0; j < n; ++j) {
            ASSERT_NEAR(a[j], a0[j], 1e-9) << n;
            ASSERT_NEAR(b[j], b0[j], 1e-9) << n;
        }
    }
    // Along the rows and columns of a field: a sine transform one way.
    const uint32_t w = 5, h = 3;
    std::vector<double> f(w * h), g(w * h);
    for (size_t i = 0; i < f.size(); ++i) f[i] = g[i] = std::sin(0.7 * double(i * i));
    ASSERT_TRUE(realTransformPass(f.data(), RealTransform::dst, nullptr, RealTransform::dst, w, h, false));
    for (uint32_t k = 0; k < h; ++k)
        for (uint32_t x = 0; x < w; ++x) {
            double s = 0;
            for (uint32_t y = 0; y < h; ++y) s += g[y * w + x] * std::sin(pi * k * (y + 0.5) / h);
            ASSERT_NEAR(f[k * w + x], s, 1e-9);
        }
}

// The heights height to normal and back give.
struct RoundTrip {
    double rmsError;  // of the height, constant removed, over its range
};

RoundTrip heightRoundTrip(Heights& h, double scale, EdgeRule edges, DerivativeFilter filter, GreenConvention convention) {
    HeightToNormalOptions o;
    o.filter = filter;
    o.edges = edges;
    o.heightScale = scale;
    o.convention = convention;
    OwnedImage normals;
    HeightField field = h.field();
    EXPECT_TRUE(normalsFromHeight(field, o, &normals.image, nullptr));
    NormalToHeightOptions back;
    back.edges = edges;
    back.filter = filter;
    back.convention = convention;
    HeightField solved;
    EXPECT_TRUE(heightFromNormals(normals.image, back, &solved, nullptr));
    double mean = 0, solvedMean = 0;
    const size_t count = h.values.size();
    for (size_t i = 0; i < count; ++i) {
        mean += h.values[i] * scale;
        solvedMean += solved.values[i];
    }
    mean /= double(count);
    solvedMean /= double(count);
    EXPECT_NEAR(solvedMean, 0.0, 1e-5);
    const auto [low, high] = std::minmax_element(h.values.begin(), h.values.end());
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const double e = solved.values[i] - (h.values[i] * scale - mean);
        sum += e * e;
    }
    releaseHeightField(&solved);
    return {std::sqrt(sum / double(count)) / ((*high - *low) * scale)};
}

TEST(GenerateNormalToHeight, PeriodicHeightComesBack) {
    for (DerivativeFilter filter : {DerivativeFilter::central, DerivativeFilter::sobel, DerivativeFilter::sobel5})
        for (GreenConvention convention : {GreenConvention::openGl, GreenConvention::directX}) {
            Heights h(48, 40, [](double x, double y) {
                return 0.5 + 0.25 * std::sin(2 * pi * x / 48) * std::cos(2 * pi * 2 * y / 40) +
                       0.2 * std::sin(2 * pi * (x / 24 + y / 40));
            });
            EXPECT_LT(heightRoundTrip(h, 8.0, EdgeRule::wrap, filter, convention).rmsError, 1e-4)
                << choiceName<DerivativeFilter>(derivativeFilterNames, filter);
        }
}

TEST(GenerateNormalToHeight, FreeEdgeHeightComesBack) {
    // Neither tiling nor symmetric: a slope and an off-centre bump.
    for (auto [w, h] : {std::pair{40u, 30u}, std::pair{33u, 17u}}) {
        Heights heights(w, h, [](double x, double y) {
            return 0.3 + 0.01 * x - 0.005 * y + 0.3 * std::exp(-((x - 12) * (x - 12) + (y - 9) * (y - 9)) / 40.0);
        });
        EXPECT_LT(heightRoundTrip(heights, 10.0, EdgeRule::clamp, DerivativeFilter::central, GreenConvention::openGl).rmsError,
                  5e-4)
            << w << "x" << h;
        EXPECT_LT(heightRoundTrip(heights, 10.0, EdgeRule::clamp, DerivativeFilter::sobel, GreenConvention::directX).rmsError,
                  5e-4)
            << w << "x" << h;
    }
}

TEST(GenerateNormalToHeight, TinyAndFlatMapsGiveFlatHeights) {
    for (auto [w, h] : {std::pair{1u, 1u}, std::pair{1u, 5u}, std::pair{6u, 1u}, std::pair{4u, 4u}})
        for (EdgeRule edges : {EdgeRule::wrap, EdgeRule::clamp}) {
            OwnedImage flat(w, h, 8, false);
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x) {
                    flat.set(x, y, 0, 128);
                    flat.set(x, y, 1, 128);
                    flat.set(x, y, 2, 255);
                }
            NormalToHeightOptions o;
            o.edges = edges;
            HeightField field;
            ASSERT_TRUE(heightFromNormals(flat.image, o, &field, nullptr));
            for (size_t i = 0; i < size_t{w} * h; ++i) EXPECT_NEAR(field.values[i], 0.0f, 1e-6f);
            releaseHeightField(&field);
        }
}

TEST(GenerateNormalToHeight, HeightPicturesSpanTheRangeOrFollowTheScale) {
    std::vector<float> values = {-1.0f, 0.0f, 3.0f, 1.0f};
    HeightField field{values.data(), 2, 2, false};
    const HeightRange range = heightRange(field);
    EXPECT_EQ(range.low, -1.0f);
    EXPECT_EQ(range.high, 3.0f);
    // One grey sample a pixel: the range, or S = 2 texel widths a step.
    uint16_t grey[4], scaled[4];
    ASSERT_TRUE(heightToGreySamples(field, 0.0, grey, nullptr));
    EXPECT_EQ(std::vector<uint16_t>(grey, grey + 4), (std::vector<uint16_t>{0, 16384, 65535, 32768}));
    ASSERT_TRUE(heightToGreySamples(field, 2.0, scaled, nullptr));
    EXPECT_EQ(std::vector<uint16_t>(scaled, scaled + 4), (std::vector<uint16_t>{0, 32768, 65535, 65535}));
    GenerateError error = GenerateError::none;
    EXPECT_FALSE(heightToGreySamples(field, -1.0, grey, &error));
    EXPECT_EQ(error, GenerateError::badOption);
    // Floats: S texel widths a unit above the lowest, in place.
    ASSERT_TRUE(heightAboveLowest(&field, 2.0, nullptr));
    EXPECT_EQ(values, (std::vector<float>{0.0f, 0.5f, 2.0f, 1.0f}));
    EXPECT_FALSE(heightAboveLowest(&field, 0.0, &error));
    EXPECT_EQ(error, GenerateError::badOption);
}

// A FloatPicture of w x h with `channels` samples a pixel from `f(x, y, c)`.
struct OwnedFloats {
    FloatPicture picture;
    OwnedFloats(uint32_t w, uint32_t h, uint32_t channels, const std::function<float(uint32_t, uint32_t, uint32_t)>& f) {
        picture.samples = static_cast<float*>(std::malloc(sizeof(float) * w * h * channels));
        picture.width = w;
        picture.height = h;
        picture.channels = channels;
        for (uint32_t i = 0; i < w * h * channels; ++i)
            picture.samples[i] = f(i / channels % w, i / channels / w, i % channels);
    }
};

TEST(GenerateHeightField, FloatPicturesGiveTheirSamplesAsTheyAre) {
    const auto colour = [](uint32_t x, uint32_t y, uint32_t c) { return -3.5f + 1.25f * static_cast<float>(x + 3 * y) + 100.0f * static_cast<float>(c); };
    const auto grey = [](uint32_t x, uint32_t y, uint32_t) { return 1e6f * static_cast<float>(x) - 0.001f * static_cast<float>(y); };
    const struct {
        const char* name;
        uint32_t channels;
        bool colourful;
        HeightChannel channel;
        GenerateError error;
        double (*expected)(float r, float g, float b, float a);
    } cases[] = {
        {"grey, automatic", 1, false, HeightChannel::automatic, GenerateError::none, [](float r, float, float, float) { return double{r}; }},
        {"grey, red", 1, false, HeightChannel::red, GenerateError::none, [](float r, float, float, float) { return double{r}; }},
        {"grey, luma", 1, false, HeightChannel::luma, GenerateError::none, [](float r, float, float, float) { return double{r}; }},
        {"grey, alpha", 1, false, HeightChannel::alpha, GenerateError::noAlpha, nullptr},
        {"rgb grey, automatic", 3, false, HeightChannel::automatic, GenerateError::none, [](float, float g, float, float) { return double{g}; }},
        {"rgb, automatic", 3, true, HeightChannel::automatic, GenerateError::none,
         [](float r, float g, float b, float) { return double{static_cast<float>(0.2126 * r + 0.7152 * g + 0.0722 * b)}; }},
        {"rgb, blue", 3, true, HeightChannel::blue, GenerateError::none, [](float, float, float b, float) { return double{b}; }},
        {"rgb, alpha", 3, true, HeightChannel::alpha, GenerateError::noAlpha, nullptr},
        {"rgba, alpha", 4, true, HeightChannel::alpha, GenerateError::none, [](float, float, float, float a) { return double{a}; }},
        {"rgba, red", 4, true, HeightChannel::red, GenerateError::none, [](float r, float, float, float) { return double{r}; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const OwnedFloats floats(5, 3, c.channels, c.colourful ? std::function(colour) : std::function(grey));
        HeightField field;
        GenerateError error = GenerateError::none;
        EXPECT_EQ(heightFieldFromFloatPicture(floats.picture, c.channel, &field, &error), c.error == GenerateError::none);
        EXPECT_EQ(error, c.error);
        if (!c.expected) continue;
        EXPECT_FALSE(field.fromSamples);
        for (uint32_t i = 0; i < 15; ++i) {
            const float* p = floats.picture.samples + size_t{i} * c.channels;
            const float a = c.channels == 4 ? p[3] : 0.0f;
            EXPECT_EQ(double{field.values[i]}, c.channels == 1 ? c.expected(p[0], 0, 0, 0) : c.expected(p[0], p[1], p[2], a)) << i;
        }
        releaseHeightField(&field);
    }
}

TEST(GenerateHeightField, NonFiniteHeightsAreCountedFromTheFirst) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    std::vector<float> values(7 * 5, 0.25f);
    HeightField field{values.data(), 7, 5, false};
    EXPECT_EQ(findNonFinite(field).count, 0u);
    values[3 * 7 + 6] = nan;
    values[4 * 7 + 0] = -inf;
    values[1 * 7 + 2] = inf;
    const NonFiniteHeights found = findNonFinite(field);
    EXPECT_EQ(found.count, 3u);
    EXPECT_EQ(found.x, 2u);
    EXPECT_EQ(found.y, 1u);
    EXPECT_FALSE(checkHeightField(field, nullptr));
}

UnitNormal unit(double x, double y, double z) {
    const double l = std::sqrt(x * x + y * y + z * z);
    return {x / l, y / l, z / l};
}

void expectDirection(UnitNormal got, UnitNormal want, const std::string& what) {
    const UnitNormal g = unit(got.x, got.y, got.z);
    EXPECT_NEAR(g.x, want.x, 1e-12) << what;
    EXPECT_NEAR(g.y, want.y, 1e-12) << what;
    EXPECT_NEAR(g.z, want.z, 1e-12) << what;
}

TEST(GenerateBlend, ModesOnKnownVectors) {
    const UnitNormal flat{0, 0, 1};
    const UnitNormal samples[] = {unit(0.3, -0.2, 0.9), unit(-0.5, 0.1, 0.4), unit(0.0, 0.7, 0.7)};
    for (const auto& entry : blendModeNames) {
        const std::string name(entry.name);
        for (const UnitNormal& n : samples) {
            // A flat detail leaves the base as it was; linear halves the way to flat.
            if (entry.value == BlendMode::linear) expectDirection(blendNormals(n, flat, entry.value), unit(n.x, n.y, n.z + 1), name);
            else expectDirection(blendNormals(n, flat, entry.value), n, name + " flat detail");
            // A flat base gives the detail; udn keeps the base's z.
            if (entry.value == BlendMode::udn) expectDirection(blendNormals(flat, n, entry.value), unit(n.x, n.y, 1), name);
            else if (entry.value == BlendMode::linear) expectDirection(blendNormals(flat, n, entry.value), unit(n.x, n.y, n.z + 1), name);
            else expectDirection(blendNormals(flat, n, entry.value), n, name + " flat base");
        }
    }
    // RNM turns the detail by the base's tilt: tilts about one axis add up.
    for (double a : {0.1, 0.4, -0.3})
        for (double b : {0.2, -0.5}) {
            expectDirection(blendNormals({std::sin(a), 0, std::cos(a)}, {std::sin(b), 0, std::cos(b)}, BlendMode::rnm),
                            {std::sin(a + b), 0, std::cos(a + b)}, "rnm about y");
            expectDirection(blendNormals({0, std::sin(a), std::cos(a)}, {0, std::sin(b), std::cos(b)}, BlendMode::rnm),
                            {0, std::sin(a + b), std::cos(a + b)}, "rnm about x");
        }
    // Whiteout: (0.3, 0, 0.9539) and (0.4, 0, 0.9165) give (0.7, 0, 0.8742) before normalising.
    const UnitNormal t = unit(0.3, 0, std::sqrt(1 - 0.09)), u = unit(0.4, 0, std::sqrt(1 - 0.16));
    expectDirection(blendNormals(t, u, BlendMode::whiteout), unit(0.7, 0, t.z * u.z), "whiteout");
    expectDirection(blendNormals(t, u, BlendMode::udn), unit(0.7, 0, t.z), "udn");
    expectDirection(blendNormals(t, u, BlendMode::linear), unit(0.7, 0, t.z + u.z), "linear");
}

TEST(GenerateBlend, DetailTilesKeepsAlphaAndWritesRenormalisedSamples) {
    for (int bits : {8, 16}) {
        const uint32_t largest = bits == 16 ? 65535u : 255u, centre = largest / 2 + 1;
        // A base of one tilted, already re-normalised normal, with alpha.
        OwnedImage base(5, 3, bits, true), detail(2, 2, 8, false);
        uint32_t tilted[3];
        const double tx = 0.3, ty = -0.2, tz = 0.9;
        if (bits == 16) {
            uint16_t samples[3];
            renormalizeVectors(&tx, &ty, &tz, 1, samples, 3);
            std::copy(samples, samples + 3, tilted);
        } else {
            uint8_t samples[3];
            renormalizeVectors(&tx, &ty, &tz, 1, samples, 3);
            std::copy(samples, samples + 3, tilted);
        }
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) {
                for (uint32_t c = 0; c < 3; ++c) base.set(x, y, c, tilted[c]);
                base.set(x, y, 3, 7 * x + y);
            }
        // The detail: flat but for one pixel tilted along x, at (1, 0).
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 2; ++x) {
                detail.set(x, y, 0, 128);
                detail.set(x, y, 1, 128);
                detail.set(x, y, 2, 255);
            }
        detail.set(1, 0, 0, 200);
        detail.set(1, 0, 2, 230);
        for (const auto& entry : blendModeNames) {
            if (entry.value == BlendMode::linear) continue;  // linear moves even a flat detail
            OwnedImage out(5, 3, bits, true);
            std::copy(base.image.pixels, base.image.pixels + base.image.dataSize, out.image.pixels);
            GenerateError error = GenerateError::none;
            ASSERT_TRUE(blendDetail(&out.image, detail.image, {entry.value, 1.0}, &error)) << generateErrorText(error);
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < 5; ++x) {
                    EXPECT_EQ(out.sample(x, y, 3), 7 * x + y);
                    const bool tiltedDetail = x % 2 == 1 && y % 2 == 0;
                    if (!tiltedDetail) {
                        for (uint32_t c = 0; c < 3; ++c) EXPECT_NEAR(out.sample(x, y, c), tilted[c], 1.0) << entry.name;
                    } else {
                        EXPECT_GT(out.sample(x, y, 0), tilted[0] + (bits == 16 ? 1000 : 4)) << entry.name;
                    }
                }
            // Strength 0 flattens the detail.
            std::copy(base.image.pixels, base.image.pixels + base.image.dataSize, out.image.pixels);
            ASSERT_TRUE(blendDetail(&out.image, detail.image, {entry.value, 0.0}, nullptr));
            for (uint32_t c = 0; c < 3; ++c) EXPECT_NEAR(out.sample(1, 0, c), tilted[c], 1.0) << entry.name;
        }
        (void)centre;
    }
}

// Every layout the row view takes is blended alike: a base and a detail
// stored bottom row first, blue first and with padded rows give the samples
// the plain ones give; rows past the pixels are refused.
TEST(GenerateBlend, EveryRowLayoutBlendsAlike) {
    const uint32_t w = 3, h = 2;
    const auto fill = [](Image& image, uint32_t seed) {
        ImageRows rows;
        ASSERT_TRUE(viewRows(image, rows));
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t* p = rows.row(y) + x * rows.step;
                p[rows.red] = static_cast<uint8_t>(100 + 20 * x + seed);
                p[1] = static_cast<uint8_t>(140 - 15 * y + seed);
                p[rows.blue] = 230;
            }
    };
    // A 32-bit picture blue first, bottom row first, each row padded by 4 bytes.
    const auto stored = [&](OwnedImage& image, uint32_t seed) {
        resetImage(&image.image);
        image.image.rowPad = 4;
        image.image.rowBytes = static_cast<int32_t>(w * 4);
        image.image.bitsPerPixel = 32;
        image.image.width = w;
        image.image.height = h;
        image.image.bgrOrder = 1;
        image.image.bottomUp = 1;
        image.image.dataSize = (w * 4 + 4) * h;
        image.image.pixels = static_cast<uint8_t*>(platformAllocLarge(image.image.dataSize));
        std::fill(image.image.pixels, image.image.pixels + image.image.dataSize, uint8_t{0});
        fill(image.image, seed);
    };
    OwnedImage plainBase(w, h, 8, false), plainDetail(w, h, 8, false), base, detail;
    fill(plainBase.image, 0);
    fill(plainDetail.image, 7);
    stored(base, 0);
    stored(detail, 7);
    for (const auto& entry : blendModeNames) {
        OwnedImage plainOut(w, h, 8, false), out;
        std::copy(plainBase.image.pixels, plainBase.image.pixels + plainBase.image.dataSize, plainOut.image.pixels);
        stored(out, 0);
        ASSERT_TRUE(blendDetail(&plainOut.image, plainDetail.image, {entry.value, 1.5}, nullptr));
        ASSERT_TRUE(blendDetail(&out.image, detail.image, {entry.value, 1.5}, nullptr));
        ImageRows a, b;
        ASSERT_TRUE(viewRows(plainOut.image, a) && viewRows(out.image, b));
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (size_t c = 0; c < 3; ++c) {
                    const size_t ca = c == 0 ? a.red : c == 2 ? a.blue : 1, cb = c == 0 ? b.red : c == 2 ? b.blue : 1;
                    EXPECT_EQ(a.row(y)[x * a.step + ca], b.row(y)[x * b.step + cb]) << entry.name;
                }
    }
    OwnedImage plain(w, h, 8, false), cut(w, h, 8, false);
    cut.image.dataSize -= 1;  // the last row runs past the pixels
    GenerateError error = GenerateError::none;
    EXPECT_FALSE(blendDetail(&plain.image, cut.image, {}, &error));
    EXPECT_EQ(error, GenerateError::unsupportedLayout);
    HeightField field;
    EXPECT_FALSE(heightFieldFromImage(cut.image, HeightChannel::red, &field, &error));
    EXPECT_EQ(error, GenerateError::unsupportedLayout);
}

TEST(GenerateNames, EveryNameParsesToItsValue) {
    for (const auto& entry : derivativeFilterNames) {
        DerivativeFilter f{};
        EXPECT_TRUE(parseChoice<DerivativeFilter>(derivativeFilterNames, entry.name, &f));
        EXPECT_EQ(f, entry.value);
        EXPECT_EQ(choiceName<DerivativeFilter>(derivativeFilterNames, f), entry.name);
    }
    BlendMode mode = BlendMode::udn;
    EXPECT_TRUE(parseChoice<BlendMode>(blendModeNames, "rnm", &mode));
    EXPECT_EQ(mode, BlendMode::rnm);
    EXPECT_FALSE(parseChoice<BlendMode>(blendModeNames, "overlay", &mode));
    EdgeRule edges = EdgeRule::wrap;
    EXPECT_TRUE(parseChoice<EdgeRule>(edgeRuleNames, "clamp", &edges));
    EXPECT_EQ(edges, EdgeRule::clamp);
    HeightChannel channel = HeightChannel::red;
    EXPECT_TRUE(parseChoice<HeightChannel>(heightChannelNames, "luma", &channel));
    EXPECT_EQ(channel, HeightChannel::luma);
    EXPECT_STRNE(generateErrorText(GenerateError::notFinite), "");
}

}  // namespace
