// SSSE3 forms of the TurboJPEG layer's pixel conversions (scalar reference:
// ConvertFixed in pixels.cpp), byte for byte the same. Each converts whole
// steps while the 16-byte loads and stores stay inside the row (they may
// touch up to 4 bytes past a step, which the next step or the scalar tail
// writes again) and returns the pixels it did.
#include "pixels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>

// Built with the instruction set named on each function, whatever the
// flags of the target that compiles this file.
#define Q32VEX_TJ_SSSE3 __attribute__((target("ssse3")))

namespace q32vex_tj {
namespace {

// Steps run while this many pixels are left: 16-byte accesses at the last
// pixel of a 4-pixel group of 3-byte pixels reach 4 bytes past it.
constexpr size_t kSlack = 2;

Q32VEX_TJ_SSSE3 inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
Q32VEX_TJ_SSSE3 inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
Q32VEX_TJ_SSSE3 inline __m128i Mask(const uint8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }

}  // namespace

Q32VEX_TJ_SSSE3 size_t ShuffleRow_ssse3(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n) {
    const __m128i mask = Mask(c.masks[0]);
    const __m128i fill = Mask(c.fill);
    const size_t fromStep = size_t(c.fromBytes) * 4, toStep = size_t(c.toBytes) * 4;
    size_t i = 0;
    for (; i + 4 + kSlack <= n; i += 4, from += fromStep, to += toStep) {
        Store(to, _mm_or_si128(_mm_shuffle_epi8(Load(from), mask), fill));
    }
    return i;
}

// Four pixels to four 32-bit lumas: 19595 R + 38470 G + 7471 B + 32768,
// shifted down 16. 38470 does not fit a signed 16-bit factor, so G is taken
// as 65536 G - 27066 G.
Q32VEX_TJ_SSSE3 inline __m128i Luma4(const uint8_t* from, __m128i rg, __m128i b0, __m128i g, __m128i fill) {
    const __m128i rgFactors = _mm_set1_epi32(int32_t(uint32_t(uint16_t(-27066)) << 16 | 19595u));
    const __m128i bFactors = _mm_set1_epi32(2 << 16 | 7471);
    const __m128i pixels = Load(from);
    const __m128i sum = _mm_add_epi32(
        _mm_madd_epi16(_mm_shuffle_epi8(pixels, rg), rgFactors),
        _mm_add_epi32(_mm_madd_epi16(_mm_or_si128(_mm_shuffle_epi8(pixels, b0), fill), bFactors),
                      _mm_slli_epi32(_mm_shuffle_epi8(pixels, g), 16)));
    return _mm_srli_epi32(sum, 16);
}

Q32VEX_TJ_SSSE3 size_t LumaRow_ssse3(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n) {
    const __m128i rg = Mask(c.masks[0]), b0 = Mask(c.masks[1]), g = Mask(c.masks[2]);
    const __m128i fill = Mask(c.fill);
    const size_t step = size_t(c.fromBytes) * 4;
    size_t i = 0;
    for (; i + 16 + kSlack <= n; i += 16, from += 4 * step, to += 16) {
        const __m128i y0 = Luma4(from, rg, b0, g, fill);
        const __m128i y1 = Luma4(from + step, rg, b0, g, fill);
        const __m128i y2 = Luma4(from + 2 * step, rg, b0, g, fill);
        const __m128i y3 = Luma4(from + 3 * step, rg, b0, g, fill);
        Store(to, _mm_packus_epi16(_mm_packs_epi32(y0, y1), _mm_packs_epi32(y2, y3)));
    }
    return i;
}

Q32VEX_TJ_SSSE3 size_t SpreadGrayRow_ssse3(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n) {
    const __m128i m0 = Mask(c.masks[0]), m1 = Mask(c.masks[1]), m2 = Mask(c.masks[2]), m3 = Mask(c.masks[3]);
    const __m128i fill = Mask(c.fill);
    const size_t step = size_t(c.toBytes) * 4;
    size_t i = 0;
    for (; i + 16 + kSlack <= n; i += 16, from += 16, to += 4 * step) {
        const __m128i grey = Load(from);
        Store(to, _mm_or_si128(_mm_shuffle_epi8(grey, m0), fill));
        Store(to + step, _mm_or_si128(_mm_shuffle_epi8(grey, m1), fill));
        Store(to + 2 * step, _mm_or_si128(_mm_shuffle_epi8(grey, m2), fill));
        Store(to + 3 * step, _mm_or_si128(_mm_shuffle_epi8(grey, m3), fill));
    }
    return i;
}

}  // namespace q32vex_tj

#endif
