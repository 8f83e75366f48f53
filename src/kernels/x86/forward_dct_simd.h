// Body of the vector forward DCT and quantiser (scalar twin:
// encode/forward_dct.cpp; ARM twin: kernels/arm/forward_dct_neon.cpp),
// compiled once per target by
// forward_dct_sse2/ssse3/avx2.cpp. The row pass runs on the transposed block
// (one lane per row), the column pass on the block as it lies (one lane per
// column); every lane does the scalar transform's 16-bit arithmetic exactly.
#pragma once
#include <cstdint>

#include "kernels/x86/simd_x86.h"

namespace q32vex {
namespace {

// One 1-D pass on independent lanes; x[0..7] in, X0..X7 out in place.
template <class V>
inline void ForwardTransform8(V* x) {
    const V c4 = Splat16(x[0], 23170);  // cos(pi/4) in Q15
    const V c6 = Splat16(x[0], 12540);  // cos(3pi/8) in Q15
    const V c2 = Splat16(x[0], 30274);  // cos(pi/8) in Q15
    const V t0 = Half16(Add16(x[0], x[7])), t7 = Half16(Sub16(x[0], x[7]));
    const V t1 = Half16(Add16(x[1], x[6])), t6 = Half16(Sub16(x[1], x[6]));
    const V t2 = Half16(Add16(x[2], x[5])), t5 = Half16(Sub16(x[2], x[5]));
    const V t3 = Half16(Add16(x[3], x[4])), t4 = Half16(Sub16(x[3], x[4]));

    const V e0 = Half16(Add16(t0, t3)), e3 = Half16(Sub16(t0, t3));
    const V e1 = Half16(Add16(t1, t2)), e2 = Half16(Sub16(t1, t2));

    const V d = Half16(Sub16(t6, t5));
    const V m1 = MulRoundQ15(t5, c4);
    const V m2 = MulRoundQ15(t4, c4);
    const V f = Half16(Sub16(t7, t4));
    const V o13 = Half16(Sub16(f, m1)), o15 = Half16(Add16(f, m1));
    const V o12 = Half16(Sub16(d, m2)), o14 = Half16(Add16(d, m2));

    x[0] = Half16(Add16(e0, e1));
    x[4] = Half16(Sub16(e0, e1));

    const V m3 = MulRoundQ15(e2, c4);
    const V g = Half16(Sub16(e3, e2));
    x[2] = Half16(Add16(g, m3));
    x[6] = Half16(Sub16(g, m3));

    const V m4 = MulRoundQ15(o12, c6);
    const V k = Half16(Sub16(o13, o12));
    x[3] = Half16(Add16(k, m4));
    x[5] = Half16(Sub16(k, m4));

    const V m5 = MulRoundQ15(o14, c2);
    const V j = Half16(Sub16(o15, o14));
    x[1] = Half16(Add16(j, m5));
    x[7] = Half16(Sub16(j, m5));
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

#if defined(__AVX2__)
// Two blocks side by side, one per 128-bit half, each with its own table.
inline void ForwardDctQuantizePairBody(int16_t* a, const uint32_t* ta, int16_t* b, const uint32_t* tb) {
    __m128i ra[8], rb[8];
    LoadBlock(a, ra);
    LoadBlock(b, rb);
    __m256i r[8];
    for (int i = 0; i < 8; ++i) r[i] = Join(ra[i], rb[i]);
    Transpose8x8(r);
    ForwardTransform8(r);  // row pass: lane = row
    Transpose8x8(r);
    ForwardTransform8(r);  // column pass: lane = column
    for (int i = 0; i < 8; ++i) {
        const __m256i twice = _mm256_add_epi16(r[i], r[i]);
        r[i] = MulRoundQ15(twice, Join(QuantRow(ta, i), QuantRow(tb, i)));
    }
    static constexpr LanePermutation kToZigzag = MakeLanePermutation(kZigzagOrder);
    __m256i zz[8];
    PermuteLanes(kToZigzag, r, zz);
    for (int i = 0; i < 8; ++i) {
        ra[i] = LowHalf(zz[i]);
        rb[i] = HighHalf(zz[i]);
    }
    StoreBlock(a, ra);
    StoreBlock(b, rb);
}
#endif

}  // namespace
}  // namespace q32vex
