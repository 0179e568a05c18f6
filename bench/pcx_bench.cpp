// readImageFile on a 4096 x 4096 picture stored as a three-plane PCX file, as written by
// bench/make_big_pcx.py into the directory QUORVEL_BENCH_DIR names.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "readers/readers.h"

namespace {

void readWholeFile(benchmark::State& state, const char* name) {
    const char* dir = std::getenv("QUORVEL_BENCH_DIR");
    const std::string path = std::string(dir ? dir : "") + "/" + name;
    std::error_code error;
    if (!dir || !std::filesystem::is_regular_file(path, error)) {
        state.SkipWithError("set QUORVEL_BENCH_DIR to the output of bench/make_big_pcx.py");
        return;
    }
    for (auto _ : state) {
        Image image{};
        const bool loaded = readImageFile(path.c_str(), &image);
        resetImage(&image);
        if (!loaded) {
            state.SkipWithError("the file did not load");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path, error)));
}

}  // namespace

BENCHMARK_CAPTURE(readWholeFile, threePlanes, "big.pcx")->Unit(benchmark::kMillisecond);
