// The reference picture that every file under tests/data stores in each of its
// variants; the same functions as scripts/testdata/reference.py.
#pragma once

#include <array>
#include <cstdint>

namespace reference {

using Rgb = std::array<uint8_t, 3>;

inline constexpr int width = 7;
inline constexpr int height = 5;

inline Rgb rgb(int x, int y) {
    const bool corner = x == 6 && y == 4;
    return {static_cast<uint8_t>(corner ? 255 : (x * 40 + y * 7) % 256),
            static_cast<uint8_t>(((255 - y * 60 - x * 3) % 256 + 256) % 256),
            static_cast<uint8_t>(x == 0 && y == 0 ? 0 : (x * 17 + y * 45 + 3) % 256)};
}

inline uint8_t grey(int x, int y) { return static_cast<uint8_t>(x == 6 && y == 4 ? 255 : (x * 37 + y * 53) % 256); }

// 1 where the grey picture is dark.
inline int bit(int x, int y) { return grey(x, y) < 128 ? 1 : 0; }

}  // namespace reference
