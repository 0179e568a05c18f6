// The core's hot paths on a 4096 x 4096 picture: loading a 24-bit BMP, the
// adjustment, the display conversion, the thumbnail, the BMP writer and the
// green-convention detection (beside the load it follows in --detect).
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "adjust/adjust.h"
#include "bench/bench_picture.h"
#include "detect/green_convention.h"
#include "image/thumbnail.h"
#include "readers/readers.h"
#include "writers/bmp_writer.h"

namespace {

constexpr int32_t side = 4096;

// One picture (with its display bitmap) and its BMP file, made once.
struct Fixture {
    Image image{};
    std::string directory;
    std::string bmpPath;
    Fixture() {
        directory = (std::filesystem::temp_directory_path() / "quorvel-bench").string();
        std::filesystem::create_directories(directory);
        bmpPath = directory + "/picture.bmp";
        if (!makeBenchPicture(&image, side, side) || !buildDisplayBitmap(&image) ||
            !writeBmp(bmpPath.c_str(), image.bitmap))
            std::abort();
    }
    ~Fixture() {
        resetImage(&image);
        std::filesystem::remove_all(directory);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * side * side * 3);
}

void BM_LoadBmp24(benchmark::State& state) {
    const std::string& path = fixture().bmpPath;
    for (auto _ : state) {
        Image loaded{};
        if (!readImageFile(path.c_str(), &loaded)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(loaded.pixels);
        resetImage(&loaded);
    }
    setBytes(state);
}
BENCHMARK(BM_LoadBmp24)->Unit(benchmark::kMillisecond);

void BM_DetectGreenConvention(benchmark::State& state) {
    const Image& image = fixture().image;
    for (auto _ : state) benchmark::DoNotOptimize(detectGreenConvention(image));
    setBytes(state);
}
BENCHMARK(BM_DetectGreenConvention)->Unit(benchmark::kMillisecond)->UseRealTime();

// The load and the analysis together, as --detect runs them.
void BM_LoadBmp24AndDetect(benchmark::State& state) {
    const std::string& path = fixture().bmpPath;
    for (auto _ : state) {
        Image loaded{};
        if (!readImageFile(path.c_str(), &loaded)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(detectGreenConvention(loaded));
        resetImage(&loaded);
    }
    setBytes(state);
}
BENCHMARK(BM_LoadBmp24AndDetect)->Unit(benchmark::kMillisecond)->UseRealTime();

void adjustBench(benchmark::State& state, AdjustOptions options) {
    Image& source = fixture().image;
    Image work = source;
    work.bitmap = nullptr;
    work.pixels = static_cast<uint8_t*>(std::malloc(source.dataSize));
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.pixels, source.pixels, source.dataSize);
        state.ResumeTiming();
        adjustPixels(&work, options);
        benchmark::ClobberMemory();
    }
    resetImage(&work);
    setBytes(state);
}

void BM_AdjustInvert(benchmark::State& state) { adjustBench(state, {1, 1, 0, 0, 1.0f}); }
BENCHMARK(BM_AdjustInvert)->Unit(benchmark::kMillisecond);

void BM_AdjustRenormalizeScale2(benchmark::State& state) { adjustBench(state, {0, 1, 0, 1, 2.0f}); }
BENCHMARK(BM_AdjustRenormalizeScale2)->Unit(benchmark::kMillisecond);

void BM_BuildDisplayBitmap(benchmark::State& state) {
    Image& image = fixture().image;
    for (auto _ : state) {
        if (!buildDisplayBitmap(&image)) state.SkipWithError("build failed");
        benchmark::ClobberMemory();
    }
    setBytes(state);
}
BENCHMARK(BM_BuildDisplayBitmap)->Unit(benchmark::kMillisecond);

void BM_BuildThumbnail(benchmark::State& state) {
    BitmapHandle loaded = fixture().image.bitmap;
    for (auto _ : state) {
        BitmapHandle thumbnail = makeThumbnailBitmap(loaded);
        if (!thumbnail) state.SkipWithError("no thumbnail");
        platformDeleteBitmap(thumbnail);
    }
    setBytes(state);
}
BENCHMARK(BM_BuildThumbnail)->Unit(benchmark::kMillisecond);

void BM_WriteBmp(benchmark::State& state) {
    const std::string path = fixture().directory + "/written.bmp";
    for (auto _ : state)
        if (!writeBmp(path.c_str(), fixture().image.bitmap)) state.SkipWithError("write failed");
    setBytes(state);
}
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond);

}  // namespace
