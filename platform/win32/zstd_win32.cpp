// Windows has no zstd library: the builds for it neither pack nor unpack
// zstd, and say so (platformHasPacking).
#include "platform/packing_steps.h"

bool platformHasZstd() { return false; }

bool platformZstdPack(std::span<const uint8_t>, int, std::vector<uint8_t>&) { return false; }

bool platformZstdUnpack(std::span<const uint8_t>, uint64_t, std::span<uint8_t>) { return false; }
