#include "image/bands.h"

#include <algorithm>
#include <thread>
#include <vector>

unsigned bandWorkers(uint64_t count, uint64_t rowCost, uint64_t perThread) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const uint64_t byWork = perThread ? count * rowCost / perThread : cores;
    return static_cast<unsigned>(std::clamp<uint64_t>(std::min<uint64_t>(byWork, count), 1, cores));
}

unsigned pixelWorkers(uint64_t pixels, uint64_t perThread, unsigned most) {
    if (perThread == 0 || pixels < 2 * perThread) return 1;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::clamp<uint64_t>(pixels / perThread, 1, std::min(cores, std::max(most, 1u))));
}

void runInNumberedBands(uint32_t count, unsigned workers,
                        const std::function<void(unsigned band, uint32_t first, uint32_t last)>& work) {
    workers = std::clamp(workers, 1u, std::max(count, 1u));
    const uint32_t band = (count + workers - 1) / workers;
    std::vector<std::thread> helpers;
    for (unsigned k = 1; k < workers; ++k) {
        const uint32_t first = k * band, last = std::min(count, first + band);
        if (first >= last) break;
        try {
            helpers.emplace_back(work, k, first, last);
        } catch (...) {
            work(k, first, last);  // no thread to be had: do it here
        }
    }
    work(0, 0, std::min(count, band));
    for (std::thread& helper : helpers) helper.join();
}

void runInBands(uint32_t count, unsigned workers, const std::function<void(uint32_t first, uint32_t last)>& work) {
    runInNumberedBands(count, workers, [&work](unsigned, uint32_t first, uint32_t last) { work(first, last); });
}
