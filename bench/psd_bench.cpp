// Loading a 4096 x 4096 PackBits RGB Photoshop file (bench/make_big_psd.py).
#include "bench/read_file_bench.h"

BENCHMARK_CAPTURE(benchmarkReadImageFile, psd_packbits, "big_packbits.psd")->Unit(benchmark::kMillisecond);
