// Work shared out among the cores by bands of rows.
#pragma once

#include <cstdint>
#include <functional>

// Threads worth starting for `count` rows that cost about `rowCost` each
// (any unit: one thread is kept per `perThread` of them), at most one per
// core and never fewer than one.
unsigned bandWorkers(uint64_t count, uint64_t rowCost, uint64_t perThread);

// Runs `work(first, last)` over the rows [0, count) cut into `workers`
// bands of consecutive rows, the first band on the calling thread. When no
// thread can be started its band runs on the calling thread too.
void runInBands(uint32_t count, unsigned workers, const std::function<void(uint32_t first, uint32_t last)>& work);
