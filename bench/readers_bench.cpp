// readImageFile on the 4096 x 4096 benchmark picture stored in every format,
// as the bench/make_big_<format>.py scripts write it into the directory that
// the environment variable QUORVEL_BENCH_DIR names (bench/run-benchmarks
// makes them).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "readers/readers.h"

namespace {

void readBigFile(benchmark::State& state, const char* name) {
    const char* dir = std::getenv("QUORVEL_BENCH_DIR");
    if (!dir || !*dir) {
        state.SkipWithError("QUORVEL_BENCH_DIR is not set");
        return;
    }
    const std::string path = std::string(dir) + "/" + name;
    for (auto _ : state) {
        Image image{};
        if (!readImageFile(path.c_str(), &image)) {
            state.SkipWithError(("cannot read " + path).c_str());
            return;
        }
        benchmark::DoNotOptimize(image.pixels);
        resetImage(&image);
    }
}

}  // namespace

BENCHMARK_CAPTURE(readBigFile, tga_raw24, "big_raw.tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readBigFile, tga_rle24, "big_rle.tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readBigFile, pcx_three_planes, "big.pcx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readBigFile, ppm_raw, "big_raw.ppm")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readBigFile, psd_packbits, "big_packbits.psd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readBigFile, dds_dxt1, "big_dxt1.dds")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readBigFile, dds_rgba32, "big_rgba32.dds")->Unit(benchmark::kMillisecond);
