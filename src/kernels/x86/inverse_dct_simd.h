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
// component's DequantTable. The engine sends blocks without AC coefficients
// to InverseDctDcOnly, so there is no test for them here (both passes give
// such a block the same flat samples anyway).
inline void InverseDctNaturalBody(int16_t* block, const DequantTable* table) {
    __m128i r[8];
    LoadBlock(block, r);
    for (int i = 0; i < 8; ++i) {
        r[i] = MulRoundQ15(_mm_mullo_epi16(r[i], LoadRow(table->scale + 8 * i)),
                           LoadRow(table->multiplier + 8 * i));
    }
    InverseTransformRows(r);
    StoreBlock(block, r);
}

#if defined(__AVX2__)
// Two blocks side by side, one per 128-bit half.
inline void InverseDctNaturalPairBody(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    __m256i r[8];
    for (int i = 0; i < 8; ++i) {
        const __m256i scale = Join(LoadRow(ta->scale + 8 * i), LoadRow(tb->scale + 8 * i));
        const __m256i multiplier = Join(LoadRow(ta->multiplier + 8 * i), LoadRow(tb->multiplier + 8 * i));
        const __m256i coefs = Join(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * i)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * i)));
        r[i] = MulRoundQ15(_mm256_mullo_epi16(coefs, scale), multiplier);
    }
    InverseTransformRows(r);
    for (int i = 0; i < 8; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 8 * i), LowHalf(r[i]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * i), HighHalf(r[i]));
    }
}
#endif

}  // namespace
}  // namespace q32vex
