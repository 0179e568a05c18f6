#include "encode/bands.h"

#include <algorithm>
#include <thread>
#include <vector>

unsigned bandWorkers(uint64_t count, uint64_t rowCost, uint64_t perThread) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const uint64_t byWork = perThread ? count * rowCost / perThread : cores;
    return static_cast<unsigned>(std::clamp<uint64_t>(std::min<uint64_t>(byWork, count), 1, cores));
}

void runInBands(uint32_t count, unsigned workers, const std::function<void(uint32_t first, uint32_t last)>& work) {
    workers = std::clamp(workers, 1u, std::max(count, 1u));
    const uint32_t band = (count + workers - 1) / workers;
    std::vector<std::thread> helpers;
    for (unsigned k = 1; k < workers; ++k) {
        const uint32_t first = k * band, last = std::min(count, first + band);
        if (first >= last) break;
        try {
            helpers.emplace_back(work, first, last);
        } catch (...) {
            work(first, last);  // no thread to be had: do it here
        }
    }
    work(0, std::min(count, band));
    for (std::thread& helper : helpers) helper.join();
}
