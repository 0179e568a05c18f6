// Speed of the platform's bitmap-file decoder (the own BMP decoder outside
// Windows) on a large picture in the common layouts: 24-bit bottom-up,
// 8-bit palette, and 32-bit bit-fields, decoded from memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A width x height BMP of the given depth with a 56-byte header, masks for
// 32-bit bit-fields, a grey 256-entry palette for 8 bits and patterned pixels.
std::vector<uint8_t> makeFile(uint32_t width, uint32_t height, uint16_t bitCount) {
    const uint32_t stride = (width * bitCount + 31) / 32 * 4;
    const uint32_t paletteBytes = bitCount == 8 ? 1024 : 0;
    const uint32_t dataOffset = 14 + 56 + paletteBytes;
    std::vector<uint8_t> f;
    f.reserve(dataOffset + size_t{stride} * height);
    put16(f, 0x4D42);
    put32(f, dataOffset + stride * height);
    put32(f, 0);
    put32(f, dataOffset);
    put32(f, 56);
    put32(f, width);
    put32(f, height);
    put16(f, 1);
    put16(f, bitCount);
    put32(f, bitCount == 32 ? 3 : 0);
    for (int i = 0; i < 5; ++i) put32(f, 0);
    put32(f, 0x00FF0000);
    put32(f, 0x0000FF00);
    put32(f, 0x000000FF);
    put32(f, 0xFF000000);
    for (uint32_t i = 0; i < paletteBytes / 4; ++i) put32(f, i * 0x010101u);
    for (size_t i = 0; i < size_t{stride} * height; ++i) f.push_back(static_cast<uint8_t>(i * 7));
    return f;
}

void decode(benchmark::State& state, uint16_t bitCount) {
    const std::vector<uint8_t> file = makeFile(2048, 2048, bitCount);
    for (auto _ : state) {
        BitmapHandle bitmap = platformDecodeBitmap(file);
        if (!bitmap) {
            state.SkipWithError("not loaded");
            break;
        }
        benchmark::DoNotOptimize(bitmap);
        platformDeleteBitmap(bitmap);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

void BM_DecodeBmp24(benchmark::State& state) { decode(state, 24); }
void BM_DecodeBmp8(benchmark::State& state) { decode(state, 8); }
void BM_DecodeBmp32Bitfields(benchmark::State& state) { decode(state, 32); }

}  // namespace

BENCHMARK(BM_DecodeBmp24);
BENCHMARK(BM_DecodeBmp8);
BENCHMARK(BM_DecodeBmp32Bitfields);
