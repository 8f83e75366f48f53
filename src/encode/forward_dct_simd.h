// Body of the vector forward DCT and quantiser, compiled once per target by
// forward_dct_sse2/ssse3/avx2.cpp. The row pass runs on the transposed block
// (one lane per row), the column pass on the block as it lies (one lane per
// column); every lane does the scalar transform's 16-bit arithmetic exactly.
#pragma once
#include <cstdint>

#include "platform/simd_x86.h"

namespace q32vex {
namespace {

inline __m128i Half(__m128i a) { return _mm_srai_epi16(a, 1); }
inline __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }

// One 1-D pass on eight independent lanes; x[0..7] in, X0..X7 out in place.
inline void ForwardTransform8(__m128i* x) {
    const __m128i c4 = _mm_set1_epi16(23170);  // cos(pi/4) in Q15
    const __m128i c6 = _mm_set1_epi16(12540);  // cos(3pi/8) in Q15
    const __m128i c2 = _mm_set1_epi16(30274);  // cos(pi/8) in Q15
    const __m128i t0 = Half(Add(x[0], x[7])), t7 = Half(Sub(x[0], x[7]));
    const __m128i t1 = Half(Add(x[1], x[6])), t6 = Half(Sub(x[1], x[6]));
    const __m128i t2 = Half(Add(x[2], x[5])), t5 = Half(Sub(x[2], x[5]));
    const __m128i t3 = Half(Add(x[3], x[4])), t4 = Half(Sub(x[3], x[4]));

    const __m128i e0 = Half(Add(t0, t3)), e3 = Half(Sub(t0, t3));
    const __m128i e1 = Half(Add(t1, t2)), e2 = Half(Sub(t1, t2));

    const __m128i d = Half(Sub(t6, t5));
    const __m128i m1 = MulRoundQ15(t5, c4);
    const __m128i m2 = MulRoundQ15(t4, c4);
    const __m128i f = Half(Sub(t7, t4));
    const __m128i o13 = Half(Sub(f, m1)), o15 = Half(Add(f, m1));
    const __m128i o12 = Half(Sub(d, m2)), o14 = Half(Add(d, m2));

    x[0] = Half(Add(e0, e1));
    x[4] = Half(Sub(e0, e1));

    const __m128i m3 = MulRoundQ15(e2, c4);
    const __m128i g = Half(Sub(e3, e2));
    x[2] = Half(Add(g, m3));
    x[6] = Half(Sub(g, m3));

    const __m128i m4 = MulRoundQ15(o12, c6);
    const __m128i k = Half(Sub(o13, o12));
    x[3] = Half(Add(k, m4));
    x[5] = Half(Sub(k, m4));

    const __m128i m5 = MulRoundQ15(o14, c2);
    const __m128i j = Half(Sub(o15, o14));
    x[1] = Half(Add(j, m5));
    x[7] = Half(Sub(j, m5));
}

// The multipliers of one row of an EncQuantTable (high halves of 8 entries).
inline __m128i QuantRow(const uint32_t* table, int row) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 8 * row));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 8 * row + 4));
    // Multipliers are at most 32767, so the signed pack cannot saturate.
    return _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
}

// Transform and quantise; r[] holds the quantised block in natural order.
inline void ForwardDctQuantizeRows(const int16_t* block, const uint32_t* table, __m128i* r) {
    LoadBlock(block, r);
    Transpose8x8(r);
    ForwardTransform8(r);  // row pass: lane = row
    Transpose8x8(r);
    ForwardTransform8(r);  // column pass: lane = column
    for (int i = 0; i < 8; ++i) {
        const __m128i twice = _mm_add_epi16(r[i], r[i]);
        // The dead-zone threshold only saves the scalar code a multiply: the
        // rounded product is zero wherever the threshold would skip it.
        r[i] = MulRoundQ15(twice, QuantRow(table, i));
    }
}

inline void StoreZigzag(int16_t* block, const __m128i* natural) {
#if defined(__SSSE3__)
    static constexpr LanePermutation kToZigzag = MakeLanePermutation(kZigzagOrder);
    __m128i out[8];
    PermuteLanes(kToZigzag, natural, out);
    StoreBlock(block, out);
#else
    alignas(16) int16_t tmp[64];
    StoreBlock(tmp, natural);
    for (int k = 0; k < 64; ++k) block[k] = tmp[kZigzagOrder[k]];
#endif
}

}  // namespace
}  // namespace q32vex
