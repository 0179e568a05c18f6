// The command line's own road on the picture bench/python-module writes
// ($QUORVEL_BENCH_DIR/big.png, 4096 x 4096 8-bit RGB), step by step, for the
// Python module's timings to be held against: the read as quorvel-cli reads
// (no display bitmap), and the adjusting road's middle (adjustImage) with
// --renormalize on the picture as read.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "readers/readers.h"

namespace {

std::string benchPng() {
    const char* dir = std::getenv("QUORVEL_BENCH_DIR");
    return dir && *dir ? std::string(dir) + "/big.png" : std::string();
}

void BM_CliRoadReadPng(benchmark::State& state) {
    const std::string path = benchPng();
    for (auto _ : state) {
        Image image{};
        if (path.empty() || !readImageFile(path.c_str(), &image, nullptr, DisplayBitmap::notMade)) {
            state.SkipWithError("no $QUORVEL_BENCH_DIR/big.png");
            return;
        }
        benchmark::DoNotOptimize(image.pixels);
        resetImage(&image);
    }
}
BENCHMARK(BM_CliRoadReadPng)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CliRoadRenormalize(benchmark::State& state) {
    const std::string path = benchPng();
    Image source{}, work{};
    if (path.empty() || !readImageFile(path.c_str(), &source, nullptr, DisplayBitmap::notMade)) {
        state.SkipWithError("no $QUORVEL_BENCH_DIR/big.png");
        return;
    }
    Arguments args;
    args.options.renormalize = 1;
    work = source;
    work.pixels = static_cast<uint8_t*>(std::malloc(source.dataSize));
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.pixels, source.pixels, source.dataSize);
        state.ResumeTiming();
        FileResult result;
        adjustImage(args, "big.png", &work, nullptr, result);
        benchmark::ClobberMemory();
    }
    resetImage(&work);
    resetImage(&source);
}
BENCHMARK(BM_CliRoadRenormalize)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
