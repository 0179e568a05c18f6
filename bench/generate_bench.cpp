// The map makers on 4096 x 4096 pictures (height to normal, normal to height,
// blending a detail beside the re-normalisation it is measured against), and
// their accuracy:
// - RoundTripHeight: a 16-bit height of smooth periodic noise through height
//   to normal (central, wrap, 16 bits) and back through normal to height;
//   counter rms_of_range is the RMS difference (constant removed) over the
//   height's range.
// - NormalsDevRoundTrip: every map of the labelled folder named by
//   QUORVEL_NORMALS_DEV (MANIFEST.tsv: file name first, convention sixth)
//   through normal to height and back through height to normal; counter
//   median_deg is the median over the maps of each map's mean angle to its
//   original normals (QUORVEL_VERBOSE prints each map's). Skipped when the
//   variable is not set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "bench/bench_picture.h"
#include "generate/blend.h"
#include "generate/height_to_normal.h"
#include "generate/normal_to_height.h"
#include "readers/readers.h"

namespace {

constexpr uint32_t side = 4096;

// Smooth periodic noise: products of whole-period waves in x and y with
// random phases, 16-bit grey, spanning 0 .. 65535.
bool makeNoiseHeight(Image* image, uint32_t width, uint32_t height, unsigned seed) {
    if (!startImage(image, width, height, 16, false)) return false;
    constexpr int waves = 24;
    std::vector<double> xs(size_t{waves} * width), ys(size_t{waves} * height), amplitude(waves);
    srand(seed);
    const auto random = [] { return rand() / double(RAND_MAX); };
    for (int w = 0; w < waves; ++w) {
        const int fx = 1 + rand() % 8, fy = 1 + rand() % 8;
        const double px = 2 * std::numbers::pi * random(), py = 2 * std::numbers::pi * random();
        amplitude[size_t(w)] = 1.0 / (fx + fy);
        for (uint32_t x = 0; x < width; ++x) xs[size_t(w) * width + x] = std::cos(2 * std::numbers::pi * fx * x / width + px);
        for (uint32_t y = 0; y < height; ++y) ys[size_t(w) * height + y] = std::cos(2 * std::numbers::pi * fy * y / height + py);
    }
    std::vector<double> values(size_t{width} * height, 0.0);
    for (uint32_t y = 0; y < height; ++y)
        for (int w = 0; w < waves; ++w) {
            const double a = amplitude[size_t(w)] * ys[size_t(w) * height + y];
            const double* xw = xs.data() + size_t(w) * width;
            double* row = values.data() + size_t{y} * width;
            for (uint32_t x = 0; x < width; ++x) row[x] += a * xw[x];
        }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const double lo = *low, span = *high - *low;
    uint16_t* words = reinterpret_cast<uint16_t*>(image->pixels);
    for (size_t i = 0; i < values.size(); ++i)
        words[3 * i] = words[3 * i + 1] = words[3 * i + 2] = static_cast<uint16_t>((values[i] - lo) / span * 65535 + 0.5);
    return true;
}

struct Pictures {
    Image height{};     // 16-bit grey noise, side x side
    Image normals{};    // 16-bit normals of it
    Image detail{};     // 16-bit normals, 1024 x 1024
    Pictures() {
        HeightToNormalOptions o;
        o.heightScale = 64;
        if (!makeNoiseHeight(&height, side, side, 1) ||
            !normalsFromHeightImage(height, HeightChannel::automatic, o, &normals, nullptr) ||
            !makeBenchPicture(&detail, 1024, 1024, 16))
            std::abort();
    }
    ~Pictures() {
        resetImage(&height);
        resetImage(&normals);
        resetImage(&detail);
    }
};

Pictures& pictures() {
    static Pictures p;
    return p;
}

void BM_HeightToNormal16(benchmark::State& state) {
    const Image& height = pictures().height;
    HeightToNormalOptions o;
    o.filter = static_cast<DerivativeFilter>(state.range(0));
    for (auto _ : state) {
        Image out{};
        if (!normalsFromHeightImage(height, HeightChannel::automatic, o, &out, nullptr)) state.SkipWithError("failed");
        resetImage(&out);
    }
    state.SetLabel(std::string(choiceName<DerivativeFilter>(derivativeFilterNames, o.filter)));
}
BENCHMARK(BM_HeightToNormal16)
    ->Arg(int(DerivativeFilter::central))
    ->Arg(int(DerivativeFilter::sobel))
    ->Arg(int(DerivativeFilter::sobel5))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_NormalToHeight16(benchmark::State& state) {
    const Image& normals = pictures().normals;
    NormalToHeightOptions o;
    o.edges = state.range(0) ? EdgeRule::clamp : EdgeRule::wrap;
    for (auto _ : state) {
        HeightField field;
        if (!heightFromNormals(normals, o, &field, nullptr)) state.SkipWithError("failed");
        releaseHeightField(&field);
    }
    state.SetLabel(state.range(0) ? "clamp" : "wrap");
}
BENCHMARK(BM_NormalToHeight16)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Re-normalising the 16-bit map in place: the measure for blending.
void BM_Renormalize16(benchmark::State& state) {
    Image& normals = pictures().normals;
    for (auto _ : state) adjustPixels(&normals, {0, 0, 0, 1, 1.0f});
}
BENCHMARK(BM_Renormalize16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlendDetail16(benchmark::State& state) {
    Image& base = pictures().normals;
    BlendOptions o;
    o.mode = static_cast<BlendMode>(state.range(0));
    o.strength = 0.0;  // the map stays as it was, the work is the same
    for (auto _ : state)
        if (!blendDetail(&base, pictures().detail, o, nullptr)) state.SkipWithError("failed");
    state.SetLabel(std::string(choiceName<BlendMode>(blendModeNames, o.mode)));
}
BENCHMARK(BM_BlendDetail16)
    ->Arg(int(BlendMode::rnm))
    ->Arg(int(BlendMode::whiteout))
    ->Arg(int(BlendMode::linear))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RoundTripHeight(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    const double scale = static_cast<double>(state.range(1));
    Image height{}, normals{};
    HeightField original, solved;
    double rms = 0;
    for (auto _ : state) {
        HeightToNormalOptions o;
        o.filter = DerivativeFilter::central;
        o.heightScale = scale;
        NormalToHeightOptions back;
        if (!makeNoiseHeight(&height, size, size, 7) ||
            !heightFieldFromImage(height, HeightChannel::automatic, &original, nullptr) ||
            !normalsFromHeight(original, o, &normals, nullptr) || !heightFromNormals(normals, back, &solved, nullptr)) {
            state.SkipWithError("failed");
            break;
        }
        const size_t count = size_t{size} * size;
        double mean = 0;
        for (size_t i = 0; i < count; ++i) mean += original.values[i] * scale;
        mean /= double(count);
        double sum = 0;
        for (size_t i = 0; i < count; ++i) {
            const double e = solved.values[i] - (original.values[i] * scale - mean);
            sum += e * e;
        }
        const HeightRange range = heightRange(original);
        rms = std::sqrt(sum / double(count)) / ((range.high - range.low) * scale);
    }
    releaseHeightField(&original);
    releaseHeightField(&solved);
    resetImage(&height);
    resetImage(&normals);
    state.counters["rms_of_range"] = rms;
}
BENCHMARK(BM_RoundTripHeight)
    ->Args({1024, 1})
    ->Args({1024, 64})
    ->Args({4096, 1})
    ->Args({4096, 64})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The mean angle in degrees between two maps' normals (each read at its depth).
double meanAngle(const Image& a, const Image& b) {
    const size_t count = size_t(uint32_t(a.width)) * uint32_t(a.height);
    const auto read = [](const Image& image, size_t i, double v[3]) {
        const size_t channels = pixelBytes(image) / (isSixteenBit(image) ? 2 : 1);
        for (size_t c = 0; c < 3; ++c)
            v[c] = isSixteenBit(image)
                       ? decodeSample<uint16_t>(int32_t{reinterpret_cast<const uint16_t*>(image.pixels)[i * channels + c]})
                       : decodeSample<uint8_t>(int32_t{image.pixels[i * channels + c]});
        const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        for (size_t c = 0; c < 3; ++c) v[c] = l > 0 ? v[c] / l : (c == 2 ? 1.0 : 0.0);
    };
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        double u[3], v[3];
        read(a, i, u);
        read(b, i, v);
        sum += std::acos(std::clamp(u[0] * v[0] + u[1] * v[1] + u[2] * v[2], -1.0, 1.0));
    }
    return sum / double(count) * 180 / std::numbers::pi;
}

void BM_NormalsDevRoundTrip(benchmark::State& state) {
    const char* folder = std::getenv("QUORVEL_NORMALS_DEV");
    if (!folder) {
        state.SkipWithError("QUORVEL_NORMALS_DEV not set");
        for (auto _ : state) {
        }
        return;
    }
    const DerivativeFilter filter = static_cast<DerivativeFilter>(state.range(0));
    const EdgeRule edges = state.range(1) ? EdgeRule::clamp : EdgeRule::wrap;
    std::vector<double> angles;
    for (auto _ : state) {
        std::ifstream manifest(std::string(folder) + "/MANIFEST.tsv");
        std::string line;
        std::getline(manifest, line);  // the header
        while (std::getline(manifest, line)) {
            std::vector<std::string> fields;
            std::stringstream columns(line);
            for (std::string field; std::getline(columns, field, '\t');) fields.push_back(field);
            if (fields.size() < 6) continue;
            Image map{}, again{};
            HeightField height;
            NormalToHeightOptions back;
            back.convention = fields[5] == "directx" ? GreenConvention::directX : GreenConvention::openGl;
            back.filter = filter;
            back.edges = edges;
            HeightToNormalOptions o;
            o.convention = back.convention;
            o.filter = filter;
            o.edges = edges;
            const std::string path = std::string(folder) + "/" + fields[0];
            GenerateError why = GenerateError::none;
            const bool read = readImageFile(path.c_str(), &map);
            if (read && heightFromNormals(map, back, &height, &why) && normalsFromHeight(height, o, &again, &why)) {
                angles.push_back(meanAngle(map, again));
                // One line a map on request.
                if (std::getenv("QUORVEL_VERBOSE")) std::fprintf(stderr, "%s %.3f\n", fields[0].c_str(), angles.back());
            } else {
                state.SkipWithError(("failed on " + path + ": " + (read ? generateErrorText(why) : "not read")).c_str());
            }
            releaseHeightField(&height);
            resetImage(&map);
            resetImage(&again);
        }
    }
    std::sort(angles.begin(), angles.end());
    state.counters["maps"] = double(angles.size());
    const size_t n = angles.size();
    state.counters["median_deg"] = n == 0 ? 0.0 : (angles[(n - 1) / 2] + angles[n / 2]) / 2;
    state.counters["worst_deg"] = angles.empty() ? 0.0 : angles.back();
    state.SetLabel(std::string(choiceName<DerivativeFilter>(derivativeFilterNames, filter)) + " " +
                   std::string(choiceName<EdgeRule>(edgeRuleNames, edges)));
}
BENCHMARK(BM_NormalsDevRoundTrip)
    ->Args({int(DerivativeFilter::central), 0})
    ->Args({int(DerivativeFilter::sobel), 0})
    ->Args({int(DerivativeFilter::central), 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
