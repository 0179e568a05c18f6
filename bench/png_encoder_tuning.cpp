// The measurements behind the PNG encoder's choices: a picture (at its own
// depth, 8 or 16 bits a sample) encoded with
// each filter, hash chain length, chunk size and thread count asked for,
// with the size and the median wall time of each.
// Usage: png_encoder_tuning FILE [ROUNDS]
// Each line of standard input names one setting: FILTER CHAIN CHUNK_KIB
// THREADS (a filter of -1 is each row's own choice; a chain of -1 is the
// encoder's own choice, busy chunks coded with Huffman codes alone; 0 is
// Huffman codes alone everywhere).
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "readers/readers.h"
#include "writers/encoder_rows.h"
#include "writers/png_encoder.h"

namespace {

bool countBytes(void* context, const void*, size_t size) {
    *static_cast<size_t*>(context) += size;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: png_encoder_tuning FILE [ROUNDS] < SETTINGS\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    Image image{};
    if (!readImageFile(argv[1], &image)) {
        std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
        return 1;
    }
    // The picture at its own depth, as the PNG writer takes it.
    EncoderRows source;
    if (!source.prepare(image, isSixteenBit(image) ? 16 : 8, false)) {
        std::fprintf(stderr, "%s: no rows\n", argv[1]);
        return 1;
    }
    const PixelRows& rows = source.rows();
    int filter, chain, threads;
    unsigned long chunkKib;
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        PngEncoderTuning tuning;
        if (std::sscanf(line, "%d %d %lu %d", &filter, &chain, &chunkKib, &threads) < 4) continue;
        tuning.filter = filter;
        tuning.chain = chain;
        tuning.chunkBytes = chunkKib * 1024;
        tuning.threads = static_cast<unsigned>(threads);
        std::vector<double> times, processor;
        size_t size = 0;
        for (int r = 0; r < rounds; ++r) {
            size = 0;
            const ByteSink sink{&size, countBytes};
            const auto start = std::chrono::steady_clock::now();
            const std::clock_t startClock = std::clock();
            if (!encodePngTuned(rows, sink, tuning)) return 1;
            times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            processor.push_back(1000.0 * static_cast<double>(std::clock() - startClock) / CLOCKS_PER_SEC);
        }
        std::sort(times.begin(), times.end());
        std::sort(processor.begin(), processor.end());
        std::printf("filter %d chain %d chunk %lu KiB threads %d: %zu bytes, %.1f ms (processor %.1f ms)\n", filter,
                    chain, chunkKib, threads, size, times[times.size() / 2], processor[processor.size() / 2]);
        std::fflush(stdout);
    }
    resetImage(&image);
    return 0;
}
