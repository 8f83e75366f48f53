// Body of the vector dequantiser and inverse DCT (scalar twin:
// decode/inverse_dct.cpp; ARM twin: kernels/arm/inverse_dct_neon.cpp),
// compiled once per target by
// inverse_dct_sse2/ssse3/avx2.cpp. The column pass runs on the block as it
// lies (one lane per column), the row pass on its transpose (one lane per
// row); every lane does the scalar transform's 16-bit arithmetic exactly.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "kernels/x86/simd_x86.h"
#include "kernels/transform_8.h"  // after the primitives it uses

namespace q32vex {
namespace {

// Both passes and the output scaling on dequantised rows in natural order:
// r > 4095 gives 32767, r < -4096 gives -32768, else r * 8, which is what
// three saturating doublings do.
template <class V>
inline void InverseTransformRows(V* r) {
    InversePasses(r);
    for (int i = 0; i < 8; ++i) {
        V v = AddSat16(r[i], r[i]);
        v = AddSat16(v, v);
        r[i] = AddSat16(v, v);
    }
}

inline __m128i LoadRow(const int16_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }

// The engine's form: natural-order coefficients, dequantised here with the
// component's DequantTable. A block with only a DC coefficient (the most
// common block) gives 64 equal samples through both passes, so it is filled
// directly with that value.
inline void InverseDctNaturalBody(int16_t* block, const DequantTable* table) {
    __m128i r[8];
    LoadBlock(block, r);
    const __m128i acMask = _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1);
    __m128i any = _mm_and_si128(r[0], acMask);
    for (int i = 1; i < 8; ++i) any = _mm_or_si128(any, r[i]);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
        __m128i dc = MulRoundQ15(_mm_mullo_epi16(r[0], LoadRow(table->scale)), LoadRow(table->multiplier));
        dc = _mm_shufflelo_epi16(dc, 0);
        dc = _mm_unpacklo_epi64(dc, dc);
        dc = _mm_adds_epi16(dc, dc);
        dc = _mm_adds_epi16(dc, dc);
        dc = _mm_adds_epi16(dc, dc);
        for (int i = 0; i < 8; ++i) r[i] = dc;
        StoreBlock(block, r);
        return;
    }
    for (int i = 0; i < 8; ++i) {
        r[i] = MulRoundQ15(_mm_mullo_epi16(r[i], LoadRow(table->scale + 8 * i)),
                           LoadRow(table->multiplier + 8 * i));
    }
    InverseTransformRows(r);
    StoreBlock(block, r);
}

#if defined(__AVX2__)
// Two blocks side by side, one per 128-bit half. A block with only a DC
// coefficient takes its own shortcut instead.
inline void InverseDctNaturalPairBody(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    __m128i ra[8], rb[8];
    LoadBlock(a, ra);
    LoadBlock(b, rb);
    const __m128i acMask = _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1);
    __m128i anyA = _mm_and_si128(ra[0], acMask), anyB = _mm_and_si128(rb[0], acMask);
    for (int i = 1; i < 8; ++i) {
        anyA = _mm_or_si128(anyA, ra[i]);
        anyB = _mm_or_si128(anyB, rb[i]);
    }
    const bool dcOnlyA = _mm_movemask_epi8(_mm_cmpeq_epi8(anyA, _mm_setzero_si128())) == 0xFFFF;
    const bool dcOnlyB = _mm_movemask_epi8(_mm_cmpeq_epi8(anyB, _mm_setzero_si128())) == 0xFFFF;
    if (dcOnlyA || dcOnlyB) {
        InverseDctNaturalBody(a, ta);
        InverseDctNaturalBody(b, tb);
        return;
    }
    __m256i r[8];
    for (int i = 0; i < 8; ++i) {
        const __m256i scale = Join(LoadRow(ta->scale + 8 * i), LoadRow(tb->scale + 8 * i));
        const __m256i multiplier = Join(LoadRow(ta->multiplier + 8 * i), LoadRow(tb->multiplier + 8 * i));
        r[i] = MulRoundQ15(_mm256_mullo_epi16(Join(ra[i], rb[i]), scale), multiplier);
    }
    InverseTransformRows(r);
    for (int i = 0; i < 8; ++i) {
        ra[i] = LowHalf(r[i]);
        rb[i] = HighHalf(r[i]);
    }
    StoreBlock(a, ra);
    StoreBlock(b, rb);
}
#endif

}  // namespace
}  // namespace q32vex
