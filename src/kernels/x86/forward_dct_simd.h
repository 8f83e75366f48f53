// Body of the vector forward DCT and quantiser (scalar twin:
// encode/forward_dct.cpp; ARM twin: kernels/arm/forward_dct_neon.cpp),
// compiled once per target by
// forward_dct_sse2/ssse3/avx2.cpp. The row pass runs on the transposed block
// (one lane per row), the column pass on the block as it lies (one lane per
// column); every lane does the scalar transform's 16-bit arithmetic exactly.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "kernels/x86/simd_x86.h"
#include "kernels/transform_8.h"  // after the primitives it uses

namespace q32vex {
namespace {

// The multipliers of one row of a quantisation table.
inline __m128i QuantRow(const EncQuantTable* table, int row) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table->multiplier + 8 * row));
}

// Transform and quantise; r[] holds the quantised block in natural order.
inline void ForwardDctQuantizeRows(const int16_t* block, const EncQuantTable* table, __m128i* r) {
    LoadBlock(block, r);
    ForwardPasses(r);
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
inline void ForwardDctQuantizePairBody(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb) {
    __m128i ra[8], rb[8];
    LoadBlock(a, ra);
    LoadBlock(b, rb);
    __m256i r[8];
    for (int i = 0; i < 8; ++i) r[i] = Join(ra[i], rb[i]);
    ForwardPasses(r);
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
