#include "platform/portable/png_unfilter.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/basics.h"
namespace {

QUORVEL_VECTOR_CLONES void unfilterUp(uint8_t* __restrict row, const uint8_t* __restrict above, size_t n) {
    for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
}

#if defined(__SSE2__)

// A pixel of `bpp` bytes as 16-bit lanes. The load takes a whole word of 4
// or 8 bytes (the bytes past the pixel are ignored; the caller leaves room
// for them after every row), so that no load waits on a partial store.
template <size_t bpp>
__m128i loadPixel(const uint8_t* p) {
    if constexpr (bpp <= 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        if constexpr (bpp < 4) v &= (uint32_t{1} << (8 * bpp)) - 1;
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
    } else {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if constexpr (bpp < 8) v &= (uint64_t{1} << (8 * bpp)) - 1;
        return _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(v)), _mm_setzero_si128());
    }
}

// Stores exactly the pixel's bytes.
template <size_t bpp>
void storePixel(uint8_t* p, __m128i lanes) {
    const __m128i packed = _mm_packus_epi16(lanes, lanes);
    if constexpr (bpp <= 4) {
        const auto v = static_cast<uint32_t>(_mm_cvtsi128_si32(packed));
        if constexpr (bpp == 1) p[0] = static_cast<uint8_t>(v);
        if constexpr (bpp == 2 || bpp == 3) {
            const auto low = static_cast<uint16_t>(v);
            std::memcpy(p, &low, 2);
        }
        if constexpr (bpp == 3) p[2] = static_cast<uint8_t>(v >> 16);
        if constexpr (bpp == 4) std::memcpy(p, &v, 4);
    } else {
        const auto v = static_cast<uint64_t>(_mm_cvtsi128_si64(packed));
        const auto low = static_cast<uint32_t>(v);
        std::memcpy(p, &low, 4);
        if constexpr (bpp == 6) {
            const auto high = static_cast<uint16_t>(v >> 32);
            std::memcpy(p + 4, &high, 2);
        }
        if constexpr (bpp == 8) {
            const auto high = static_cast<uint32_t>(v >> 32);
            std::memcpy(p + 4, &high, 4);
        }
    }
}

// Each byte is the filtered byte plus the prediction, modulo 256.
inline __m128i addModulo(__m128i filtered, __m128i prediction) {
    return _mm_and_si128(_mm_add_epi16(filtered, prediction), _mm_set1_epi16(0xFF));
}

inline __m128i absolute(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

inline __m128i choose(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

template <size_t bpp>
void unfilterSub(uint8_t* row, size_t n) {
    __m128i a = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += bpp) {
        a = addModulo(loadPixel<bpp>(row + i), a);
        storePixel<bpp>(row + i, a);
    }
}

template <size_t bpp>
void unfilterAverage(uint8_t* row, const uint8_t* above, size_t n) {
    __m128i a = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += bpp) {
        const __m128i b = loadPixel<bpp>(above + i);
        a = addModulo(loadPixel<bpp>(row + i), _mm_srli_epi16(_mm_add_epi16(a, b), 1));
        storePixel<bpp>(row + i, a);
    }
}

// Paeth's predictor: of a (left), b (above) and c (above left), the one
// nearest a + b - c, ties going to a, then b.
template <size_t bpp>
void unfilterPaeth(uint8_t* row, const uint8_t* above, size_t n) {
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += bpp) {
        const __m128i b = loadPixel<bpp>(above + i);
        const __m128i bMinusC = _mm_sub_epi16(b, c), aMinusC = _mm_sub_epi16(a, c);
        const __m128i pa = absolute(bMinusC), pb = absolute(aMinusC);
        const __m128i pc = absolute(_mm_add_epi16(bMinusC, aMinusC));
        const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        const __m128i nearest = choose(_mm_cmpeq_epi16(smallest, pa), a, choose(_mm_cmpeq_epi16(smallest, pb), b, c));
        a = addModulo(loadPixel<bpp>(row + i), nearest);
        storePixel<bpp>(row + i, a);
        c = b;
    }
}

template <size_t bpp>
void unfilterPixels(uint8_t type, uint8_t* row, const uint8_t* above, size_t n) {
    switch (type) {
        case 1: unfilterSub<bpp>(row, n); return;
        case 3: unfilterAverage<bpp>(row, above, n); return;
        default: unfilterPaeth<bpp>(row, above, n); return;
    }
}

#else

uint8_t paethPredictor(int a, int b, int c) {
    const int pa = b > c ? b - c : c - b, pb = a > c ? a - c : c - a;
    const int pc = (a + b - 2 * c) < 0 ? 2 * c - a - b : a + b - 2 * c;
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

template <size_t bpp>
void unfilterPixels(uint8_t type, uint8_t* row, const uint8_t* above, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
        const int prediction = type == 1 ? a : type == 3 ? (a + b) / 2 : paethPredictor(a, b, c);
        row[i] = static_cast<uint8_t>(row[i] + prediction);
    }
}

#endif

}  // namespace

bool unfilterPngRow(uint8_t type, uint8_t* row, const uint8_t* above, size_t n, size_t bpp) {
    if (type > 4 || bpp < 1 || bpp > 8 || n % bpp != 0) return false;
    if (type == 0) return true;
    if (type == 2) {
        unfilterUp(row, above, n);
        return true;
    }
    switch (bpp) {
        case 1: unfilterPixels<1>(type, row, above, n); break;
        case 2: unfilterPixels<2>(type, row, above, n); break;
        case 3: unfilterPixels<3>(type, row, above, n); break;
        case 4: unfilterPixels<4>(type, row, above, n); break;
        case 6: unfilterPixels<6>(type, row, above, n); break;
        case 8: unfilterPixels<8>(type, row, above, n); break;
        default: return false;
    }
    return true;
}
