// Body of the vector dequantiser and inverse DCT (scalar twin:
// decode/inverse_dct.cpp), compiled once per target by
// inverse_dct_sse2/ssse3/avx2.cpp. The column pass runs on the block as it
// lies (one lane per column), the row pass on its transpose (one lane per
// row); every lane does the scalar transform's 16-bit arithmetic exactly.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "kernels/x86/simd_x86.h"

namespace q32vex {
namespace {

// mulQ(z, K): the operand doubled in 16 bits, then the rounded Q15 product.
template <class V>
inline V MulDoubled(V z, V k) { return MulRoundQ15(Add16(z, z), k); }

// One 1-D pass on independent lanes; x[0..7] in frequency order in, samples
// o0..o7 out in place.
template <class V>
inline void InverseTransform8(V* x) {
    const V k1 = Splat16(x[0], 30274);  // cos(pi/8) in Q15, applied doubled
    const V k2 = Splat16(x[0], 23170);  // cos(pi/4) in Q15, applied doubled
    const V k3 = Splat16(x[0], 12540);  // sin(pi/8) in Q15, applied doubled
    const V a0 = Add16(x[0], x[4]), a4 = Sub16(x[0], x[4]);
    const V a1 = Add16(x[1], x[7]);
    const V a7 = MulDoubled(Sub16(x[1], x[7]), k1);
    const V a2 = Add16(x[2], x[6]);
    const V a6 = MulDoubled(Sub16(x[2], x[6]), k2);
    const V a3 = Add16(x[3], x[5]);
    const V a5 = MulDoubled(Sub16(x[3], x[5]), k3);

    const V b8 = Add16(a0, a2), b10 = Sub16(a0, a2);
    const V t1 = Sub16(a6, a2);
    const V b14 = Add16(a4, t1), b12 = Sub16(a4, t1);
    const V t2 = Sub16(a5, a3), t3 = Sub16(a7, a1);
    const V b15 = Add16(t3, t2);
    const V b13 = MulDoubled(Sub16(t3, t2), k2);
    const V b9 = Add16(a1, a3);
    const V b11 = MulDoubled(Sub16(a1, a3), k2);

    x[0] = Add16(b8, b9);
    x[7] = Sub16(b8, b9);
    const V t4 = Sub16(b13, b9);
    x[3] = Add16(b10, t4);
    x[4] = Sub16(b10, t4);
    x[1] = Add16(b14, b15);
    x[6] = Sub16(b14, b15);
    const V t5 = Sub16(b11, b15);
    x[2] = Add16(b12, t5);
    x[5] = Sub16(b12, t5);
}

// Both passes and the output scaling on dequantised rows in natural order:
// r > 4095 gives 32767, r < -4096 gives -32768, else r * 8, which is what
// three saturating doublings do.
template <class V>
inline void InverseTransformRows(V* r) {
    InverseTransform8(r);  // column pass: lane = column
    Transpose8x8(r);
    InverseTransform8(r);  // row pass: lane = row
    Transpose8x8(r);
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
