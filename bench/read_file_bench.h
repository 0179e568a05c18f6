// Shared by the reader benchmarks: readImageFile on a big file that a
// bench/make_big_<format>.py script wrote into the directory named by the
// environment variable QUORVEL_BENCH_DIR.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "readers/readers.h"

inline void benchmarkReadImageFile(benchmark::State& state, const char* name) {
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
