// Work shared out among the cores by bands of rows: how many threads a
// piece of work is worth, and one runner that starts them.
#pragma once

#include <cstdint>
#include <functional>

// Threads worth starting for `count` rows that cost about `rowCost` each
// (any unit: one thread is kept per `perThread` of them), at most one per
// core and never fewer than one.
unsigned bandWorkers(uint64_t count, uint64_t rowCost, uint64_t perThread);

// Threads worth starting for `pixels` pixels of work: one below twice
// `perThread`, otherwise one per `perThread` pixels, at most `most` and at
// most one per core.
unsigned pixelWorkers(uint64_t pixels, uint64_t perThread, unsigned most);

// Runs `work(first, last)` over the rows [0, count) cut into `workers`
// bands of consecutive rows, the first band on the calling thread. When no
// thread can be started its band runs on the calling thread too.
void runInBands(uint32_t count, unsigned workers, const std::function<void(uint32_t first, uint32_t last)>& work);

// The same, telling each band its number (0 the top band, fewer than
// `workers`), for work that keeps one result a band and merges them in band
// order afterwards. Bands that would hold no rows are not run.
void runInNumberedBands(uint32_t count, unsigned workers,
                        const std::function<void(unsigned band, uint32_t first, uint32_t last)>& work);
