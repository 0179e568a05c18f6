#include "encode/mip_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "image/bands.h"

uint32_t mipLevelCount(uint32_t width, uint32_t height, uint32_t maxLevels) {
    uint32_t levels = 1;
    for (uint32_t side = std::max(width, height); side > 1; side /= 2) ++levels;
    return maxLevels ? std::min(levels, maxLevels) : levels;
}

std::vector<FootprintTaps> footprintTaps(uint32_t sourceSide, uint32_t destinationSide) {
    std::vector<FootprintTaps> taps(destinationSide);
    // Positions in units of 1 / destinationSide source pixels: destination
    // pixel i spans [i s, (i + 1) s), source pixel j spans [j d, (j + 1) d).
    const uint64_t s = sourceSide, d = destinationSide;
    for (uint64_t i = 0; i < d; ++i) {
        const uint64_t begin = i * s, end = (i + 1) * s;
        FootprintTaps& tap = taps[static_cast<size_t>(i)];
        tap.first = static_cast<uint32_t>(begin / d);
        for (uint64_t j = tap.first; j * d < end && tap.count < 4; ++j) {
            const uint64_t overlap = std::min(end, (j + 1) * d) - std::max(begin, j * d);
            tap.weight[tap.count++] = static_cast<float>(static_cast<double>(overlap) / static_cast<double>(s));
        }
    }
    return taps;
}

namespace {

void copyLevelRow(const void* context, uint32_t y, float* xyz) {
    const auto& level = *static_cast<const VectorLevel*>(context);
    const size_t length = size_t{3} * level.width;
    std::memcpy(xyz, level.xyz.data() + length * y, length * sizeof(float));
}

}  // namespace

VectorRows rowsOf(const VectorLevel& level) { return {&level, copyLevelRow, level.width, level.height}; }

void normalizeVector(float (&xyz)[3]) {
    const double x = xyz[0], y = xyz[1], z = xyz[2];
    const double squared = x * x + y * y + z * z;
    const double length = squared == 0.0 ? 0.0 : std::sqrt(squared);
    if (!(length > 0.0)) {
        xyz[0] = xyz[1] = xyz[2] = 0.0f;
        return;
    }
    const double q = 1.0 / static_cast<double>(static_cast<float>(length));
    xyz[0] = static_cast<float>(q * x);
    xyz[1] = static_cast<float>(q * y);
    xyz[2] = static_cast<float>(q * z);
}

namespace {

// normalizeVector over a row, written without branches for the vectoriser:
// the results are the same to the bit.
void normalizeRow(float* xyz, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, xyz += 3) {
        const double x = xyz[0], y = xyz[1], z = xyz[2];
        // The squared length is never negative, and the root of 0 is 0.
        const double length = __builtin_sqrt(x * x + y * y + z * z);
        const bool positive = length > 0.0;
        const double q = 1.0 / (positive ? static_cast<double>(static_cast<float>(length)) : 1.0);
        xyz[0] = positive ? static_cast<float>(q * x) : 0.0f;
        xyz[1] = positive ? static_cast<float>(q * y) : 0.0f;
        xyz[2] = positive ? static_cast<float>(q * z) : 0.0f;
    }
}

}  // namespace

uint16_t encodeComponent(float c, int sampleBits) {
    const double scale = sampleBits == 16 ? 32767.0 : 127.0, centre = sampleBits == 16 ? 32768.0 : 128.0;
    const double top = sampleBits == 16 ? 65535.0 : 255.0;
    const double v = std::clamp(static_cast<double>(c) * scale + centre, 0.0, top);
    return static_cast<uint16_t>(static_cast<int32_t>(v));
}

void encodeComponents(const float* components, size_t count, int sampleBits, uint16_t* samples) {
    if (sampleBits == 16) {
        for (size_t i = 0; i < count; ++i) samples[i] = encodeComponent(components[i], 16);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        // As encodeComponent does for 8 bits, in a loop the compiler widens.
        const double v = static_cast<double>(components[i]) * 127.0 + 128.0;
        const double held = v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v;
        samples[i] = static_cast<uint16_t>(static_cast<int32_t>(held));
    }
}

bool makeNextLevel(const VectorRows& above, bool keepLength, unsigned workers, VectorLevel& below) {
    below.width = std::max(1u, above.width / 2);
    below.height = std::max(1u, above.height / 2);
    try {
        below.xyz.resize(size_t{3} * below.width * below.height);
    } catch (const std::bad_alloc&) {
        below.xyz.clear();
        return false;
    }
    const std::vector<FootprintTaps> across = footprintTaps(above.width, below.width);
    const std::vector<FootprintTaps> down = footprintTaps(above.height, below.height);
    // Even widths take the plain pairs, which the general taps also give.
    const bool even = above.width == 2 * below.width;
    bool ok = true;
    runInBands(below.height, workers, [&](uint32_t first, uint32_t last) {
        std::vector<float> source, filtered;
        try {
            source.resize(size_t{3} * above.width);
            filtered.resize(size_t{3} * below.width);
        } catch (const std::bad_alloc&) {
            ok = false;  // the level is then refused as a whole
            return;
        }
        for (uint32_t y = first; y < last; ++y) {
            float* out = below.xyz.data() + size_t{3} * below.width * y;
            const FootprintTaps& rows = down[y];
            for (uint32_t r = 0; r < rows.count; ++r) {
                above.row(above.context, rows.first + r, source.data());
                // Across first, then down: the weights are products of the
                // two axes' shares, so the order changes nothing but the
                // last bits.
                const float* in = source.data();
                float* h = filtered.data();
                if (even) {
                    for (uint32_t x = 0; x < below.width; ++x, in += 6, h += 3) {
                        h[0] = (in[0] + in[3]) * 0.5f;
                        h[1] = (in[1] + in[4]) * 0.5f;
                        h[2] = (in[2] + in[5]) * 0.5f;
                    }
                } else {
                    for (uint32_t x = 0; x < below.width; ++x, h += 3) {
                        const FootprintTaps& columns = across[x];
                        h[0] = h[1] = h[2] = 0.0f;
                        for (uint32_t c = 0; c < columns.count; ++c) {
                            const float* v = in + size_t{3} * (columns.first + c);
                            for (int k = 0; k < 3; ++k) h[k] += columns.weight[c] * v[k];
                        }
                    }
                }
                // The first row's share starts the sums (0 + share, as a
                // sum from zero gives it, signed zeros included).
                const float weight = rows.weight[r];
                const float* f = filtered.data();
                if (r == 0) {
                    for (size_t i = 0; i < size_t{3} * below.width; ++i) out[i] = 0.0f + weight * f[i];
                } else {
                    for (size_t i = 0; i < size_t{3} * below.width; ++i) out[i] += weight * f[i];
                }
            }
            if (keepLength) continue;
            normalizeRow(out, below.width);
        }
    });
    return ok;
}

bool makeNextScalarLevel(const ScalarLevel& above, unsigned workers, ScalarLevel& below) {
    below.width = std::max(1u, above.width / 2);
    below.height = std::max(1u, above.height / 2);
    try {
        below.values.resize(size_t{below.width} * below.height);
    } catch (const std::bad_alloc&) {
        below.values.clear();
        return false;
    }
    const std::vector<FootprintTaps> across = footprintTaps(above.width, below.width);
    const std::vector<FootprintTaps> down = footprintTaps(above.height, below.height);
    runInBands(below.height, workers, [&](uint32_t first, uint32_t last) {
        for (uint32_t y = first; y < last; ++y) {
            float* out = below.values.data() + size_t{below.width} * y;
            const FootprintTaps& rows = down[y];
            for (uint32_t r = 0; r < rows.count; ++r) {
                const float* in = above.values.data() + size_t{above.width} * (rows.first + r);
                for (uint32_t x = 0; x < below.width; ++x) {
                    const FootprintTaps& columns = across[x];
                    float sum = 0.0f;
                    for (uint32_t c = 0; c < columns.count; ++c) sum += columns.weight[c] * in[columns.first + c];
                    out[x] = (r == 0 ? 0.0f : out[x]) + rows.weight[r] * sum;
                }
            }
        }
    });
    return true;
}
