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

// A pixel of `bpp` bytes as 16-bit lanes, loaded as a whole word of 4 or 8
// bytes (the caller leaves room for them after every row). The lanes past
// the pixel hold the bytes after it: every step works lane by lane, and
// they are never stored.
template <size_t bpp>
__m128i loadPixel(const uint8_t* p) {
    __m128i v;
    if constexpr (bpp <= 4) {
        int32_t word;
        std::memcpy(&word, p, 4);
        v = _mm_cvtsi32_si128(word);
    } else {
        v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    }
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
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

// Stores the pixel's bytes as a whole word where the pixel has 3 or 6
// bytes, and so also the first byte or two of the pixel after it: the
// caller has loaded that pixel already and stores it whole later.
template <size_t bpp>
void storeWide(uint8_t* p, __m128i lanes) {
    const __m128i packed = _mm_packus_epi16(lanes, lanes);
    if constexpr (bpp == 3) {
        const int32_t word = _mm_cvtsi128_si32(packed);
        std::memcpy(p, &word, 4);
    } else if constexpr (bpp == 6) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), packed);
    } else {
        storePixel<bpp>(p, lanes);
    }
}

// Each byte is the filtered byte plus the prediction, modulo 256: lanes
// that hold bytes add as bytes, their high halves staying zero.
inline __m128i addModulo(__m128i filtered, __m128i prediction) { return _mm_add_epi8(filtered, prediction); }

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
// nearest a + b - c, ties going to a, then b. The distances are |b - c|,
// |a - c| and |a + b - 2c|; what depends on a, the one value carried from
// pixel to pixel, is kept to a few steps.
inline __m128i paethPrediction(__m128i a, __m128i b, __m128i c) {
    const __m128i bMinusC = _mm_sub_epi16(b, c), aMinusC = _mm_sub_epi16(a, c);
    const __m128i pa = absolute(bMinusC), pb = absolute(aMinusC);
    const __m128i pc = absolute(_mm_add_epi16(bMinusC, aMinusC));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i bOrC = choose(_mm_cmpgt_epi16(pb, pc), c, b);
    return choose(notA, bOrC, a);
}

// `count` rows filtered Paeth, `stride` bytes apart, each a pixel behind
// the one above it, whose pixels it takes from registers: a row's pixels
// wait on the one to their left, so several rows at once keep that much
// more work in flight. Each pixel's filtered bytes are loaded before the
// wide store of the one to its left reaches them; a row's last pixel is
// stored exactly.
template <size_t bpp, size_t count>
void unfilterPaeth(uint8_t* first, size_t stride, const uint8_t* above, size_t n) {
    __m128i a[count], c[count], x[count];  // per row: left, above left, the next filtered pixel
    for (size_t r = 0; r < count; ++r) {
        a[r] = c[r] = _mm_setzero_si128();
        x[r] = loadPixel<bpp>(first + r * stride);
    }
    const size_t pixels = n / bpp, steps = pixels + count - 1;
    // Step `step` takes row r's pixel step - r. The lowest row goes first:
    // each takes the pixel above it from the row above before that row
    // moves on. `checked` where some row has not begun, or has ended, or
    // is at its last pixel.
    const auto advance = [&](size_t step, bool checked) {
        for (size_t r = count; r-- > 0;) {
            if (checked && (step < r || step - r >= pixels)) continue;
            const size_t i = (step - r) * bpp;
            uint8_t* row = first + r * stride;
            const __m128i b = r == 0 ? loadPixel<bpp>(above + i) : a[r - 1];
            const __m128i value = addModulo(x[r], paethPrediction(a[r], b, c[r]));
            if (checked && i + bpp == n) {
                storePixel<bpp>(row + i, value);
            } else {
                x[r] = loadPixel<bpp>(row + i + bpp);
                storeWide<bpp>(row + i, value);
            }
            a[r] = value;
            c[r] = b;
        }
    };
    size_t step = 0;
    for (; step + 1 < count && step < steps; ++step) advance(step, true);
    for (; step + 1 < pixels; ++step) advance(step, false);
    for (; step < steps; ++step) advance(step, true);
}

template <size_t bpp>
void unfilterPixels(uint8_t type, uint8_t* row, const uint8_t* above, size_t n) {
    switch (type) {
        case 1: unfilterSub<bpp>(row, n); return;
        case 3: unfilterAverage<bpp>(row, above, n); return;
        default: unfilterPaeth<bpp, 1>(row, 0, above, n); return;
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

template <size_t bpp>
bool unfilterRows(uint8_t* rows, size_t stride, const uint8_t* above, uint32_t count) {
    const size_t n = stride - 1;
    for (uint32_t y = 0; y < count; ++y) {
        uint8_t* filtered = rows + y * stride;
        const uint8_t type = filtered[0];
        if (type > 4) return false;
#if defined(__SSE2__)
        // Runs of Paeth rows four or two at a time.
        uint32_t paeth = 0;
        while (type == 4 && n > 0 && paeth < 4 && y + paeth < count && filtered[paeth * stride] == 4) ++paeth;
        if (paeth >= 2) {
            paeth = paeth == 4 ? 4 : 2;
            if (paeth == 4) unfilterPaeth<bpp, 4>(filtered + 1, stride, above, n);
            else unfilterPaeth<bpp, 2>(filtered + 1, stride, above, n);
            above = filtered + (paeth - 1) * stride + 1;
            y += paeth - 1;
            continue;
        }
#endif
        if (type == 2) unfilterUp(filtered + 1, above, n);
        else if (type != 0) unfilterPixels<bpp>(type, filtered + 1, above, n);
        above = filtered + 1;
    }
    return true;
}

}  // namespace

bool unfilterPngRows(uint8_t* rows, size_t stride, const uint8_t* above, size_t bpp, uint32_t count) {
    if (stride == 0 || bpp == 0 || (stride - 1) % bpp != 0) return false;
    switch (bpp) {
        case 1: return unfilterRows<1>(rows, stride, above, count);
        case 2: return unfilterRows<2>(rows, stride, above, count);
        case 3: return unfilterRows<3>(rows, stride, above, count);
        case 4: return unfilterRows<4>(rows, stride, above, count);
        case 6: return unfilterRows<6>(rows, stride, above, count);
        case 8: return unfilterRows<8>(rows, stride, above, count);
        default: return false;
    }
}
