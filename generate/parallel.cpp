#include "generate/parallel.h"

#include <algorithm>
#include <thread>

// bands: switch to image/bands.h runInBands
void generateInBands(uint32_t count, uint32_t minPerBand, const std::function<void(uint32_t first, uint32_t last)>& work) {
    if (count == 0) return;
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    const uint32_t bySize = std::max(1u, count / std::max(1u, minPerBand));
    const uint32_t bands = std::min({cores, bySize, count, 64u});
    if (bands <= 1) {
        work(0, count);
        return;
    }
    std::thread threads[64];
    bool started[64] = {};
    const auto bandStart = [&](uint32_t band) {
        return static_cast<uint32_t>(uint64_t{count} * band / bands);
    };
    for (uint32_t band = 1; band < bands; ++band) {
        try {
            threads[band] = std::thread(work, bandStart(band), bandStart(band + 1));
            started[band] = true;
        } catch (...) {  // no thread (or no memory for one)
            started[band] = false;  // run below, on this thread
        }
    }
    work(0, bandStart(1));
    for (uint32_t band = 1; band < bands; ++band) {
        if (started[band]) threads[band].join();
        else work(bandStart(band), bandStart(band + 1));
    }
}
