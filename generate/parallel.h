// Rows of work spread over the cores for the map makers.
#pragma once

#include <cstdint>
#include <functional>

// Runs `work(first, last)` over [0, count) cut into bands of consecutive
// indices, one band a core (fewer when there are fewer than `minPerBand`
// indices a band), the first band on the calling thread. When a thread
// cannot be started its band runs on the calling thread.
// bands: switch to image/bands.h runInBands
void generateInBands(uint32_t count, uint32_t minPerBand, const std::function<void(uint32_t first, uint32_t last)>& work);
