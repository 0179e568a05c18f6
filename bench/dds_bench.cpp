// Loading 4096 x 4096 DDS files, DXT1 and uncompressed 32-bit
// (bench/make_big_dds.py).
#include "bench/read_file_bench.h"

BENCHMARK_CAPTURE(benchmarkReadImageFile, dds_dxt1, "big_dxt1.dds")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(benchmarkReadImageFile, dds_rgba32, "big_rgba32.dds")->Unit(benchmark::kMillisecond);
