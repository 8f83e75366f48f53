// Body of the vector dequantiser and inverse DCT, compiled once per target by
// inverse_dct_sse2/ssse3/avx2.cpp. The column pass runs on the block as it
// lies (one lane per column), the row pass on its transpose (one lane per
// row); every lane does the scalar transform's 16-bit arithmetic exactly.
#pragma once
#include <cstdint>

#include "encode/derived_tables.h"
#include "platform/simd_x86.h"

namespace q32vex {
namespace {

// mulQ(z, K): the operand doubled in 16 bits, then the rounded Q15 product.
inline __m128i MulDoubled(__m128i z, __m128i k) { return MulRoundQ15(_mm_add_epi16(z, z), k); }

// One 1-D pass on eight independent lanes; x[0..7] in frequency order in,
// samples o0..o7 out in place.
inline void InverseTransform8(__m128i* x) {
    const __m128i k1 = _mm_set1_epi16(30274);  // cos(pi/8) in Q15, applied doubled
    const __m128i k2 = _mm_set1_epi16(23170);  // cos(pi/4) in Q15, applied doubled
    const __m128i k3 = _mm_set1_epi16(12540);  // sin(pi/8) in Q15, applied doubled
    const __m128i a0 = _mm_add_epi16(x[0], x[4]), a4 = _mm_sub_epi16(x[0], x[4]);
    const __m128i a1 = _mm_add_epi16(x[1], x[7]);
    const __m128i a7 = MulDoubled(_mm_sub_epi16(x[1], x[7]), k1);
    const __m128i a2 = _mm_add_epi16(x[2], x[6]);
    const __m128i a6 = MulDoubled(_mm_sub_epi16(x[2], x[6]), k2);
    const __m128i a3 = _mm_add_epi16(x[3], x[5]);
    const __m128i a5 = MulDoubled(_mm_sub_epi16(x[3], x[5]), k3);

    const __m128i b8 = _mm_add_epi16(a0, a2), b10 = _mm_sub_epi16(a0, a2);
    const __m128i t1 = _mm_sub_epi16(a6, a2);
    const __m128i b14 = _mm_add_epi16(a4, t1), b12 = _mm_sub_epi16(a4, t1);
    const __m128i t2 = _mm_sub_epi16(a5, a3), t3 = _mm_sub_epi16(a7, a1);
    const __m128i b15 = _mm_add_epi16(t3, t2);
    const __m128i b13 = MulDoubled(_mm_sub_epi16(t3, t2), k2);
    const __m128i b9 = _mm_add_epi16(a1, a3);
    const __m128i b11 = MulDoubled(_mm_sub_epi16(a1, a3), k2);

    x[0] = _mm_add_epi16(b8, b9);
    x[7] = _mm_sub_epi16(b8, b9);
    const __m128i t4 = _mm_sub_epi16(b13, b9);
    x[3] = _mm_add_epi16(b10, t4);
    x[4] = _mm_sub_epi16(b10, t4);
    x[1] = _mm_add_epi16(b14, b15);
    x[6] = _mm_sub_epi16(b14, b15);
    const __m128i t5 = _mm_sub_epi16(b11, b15);
    x[2] = _mm_add_epi16(b12, t5);
    x[5] = _mm_sub_epi16(b12, t5);
}

// Both passes and the output scaling on dequantised rows in natural order:
// r > 4095 gives 32767, r < -4096 gives -32768, else r * 8, which is what
// three saturating doublings do.
inline void InverseTransformRows(__m128i* r) {
    InverseTransform8(r);  // column pass: lane = column
    Transpose8x8(r);
    InverseTransform8(r);  // row pass: lane = row
    Transpose8x8(r);
    for (int i = 0; i < 8; ++i) {
        __m128i v = _mm_adds_epi16(r[i], r[i]);
        v = _mm_adds_epi16(v, v);
        r[i] = _mm_adds_epi16(v, v);
    }
}

// De-zigzag and dequantise a block of coded coefficients into natural rows.
inline void DequantizeRows(const int16_t* block, const DecQuantTable* table, __m128i* r) {
#if defined(__SSSE3__)
    static constexpr LanePermutation kFromZigzag = MakeLanePermutation(kZigzagPosition);
    __m128i coded[8];
    LoadBlock(block, coded);
    PermuteLanes(kFromZigzag, coded, r);
    // 2^shift per lane from two 16-entry byte tables (low and high byte).
    const __m128i powLow = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i powHigh = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m128i zeroHigh = _mm_set1_epi16(int16_t(0x8000));
    const __m128i zeroLow = _mm_set1_epi16(0x0080);
    for (int i = 0; i < 8; ++i) {
        const __m128i shift =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table->shift + 8 * i)),
                          _mm_set1_epi16(15));
        const __m128i pow2 =
            _mm_or_si128(_mm_shuffle_epi8(powLow, _mm_or_si128(shift, zeroHigh)),
                         _mm_shuffle_epi8(powHigh, _mm_or_si128(_mm_slli_epi16(shift, 8), zeroLow)));
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table->value + 8 * i));
        // (c << shift) in 16 bits, then the rounded Q15 product; zero stays zero.
        r[i] = MulRoundQ15(_mm_mullo_epi16(r[i], pow2), value);
    }
#else
    alignas(16) int16_t natural[64];
    for (int k = 0; k < 64; ++k) natural[kZigzagOrder[k]] = block[k];
    for (int i = 0; i < 64; ++i) {
        if (natural[i] == 0) continue;
        const int16_t a = int16_t(uint16_t(natural[i]) << table->shift[i]);
        natural[i] = int16_t((int32_t(a) * table->value[i] + 16384) >> 15);
    }
    LoadBlock(natural, r);
#endif
}

}  // namespace
}  // namespace q32vex
