// Dequantisation and inverse DCT for 64-bit ARM (scalar twin:
// InverseDctNatural in decode/inverse_dct.cpp; x86 twins:
// kernels/x86/inverse_dct_simd.h). The column pass runs on the block as it
// lies (one lane per column), the row pass on its transpose (one lane per
// row); the passes themselves are the shared ones of kernels/transform_8.h.
#include <arm_neon.h>

#include "kernels/arm/arm_kernels.h"
#include "kernels/arm/simd_neon.h"

namespace q32vex {
namespace {

// Both passes and the output scaling on dequantised rows in natural order,
// stored to block. r > 4095 gives 32767, r < -4096 gives -32768, else r * 8:
// a saturating shift left by three.
inline void TransformAndStore(int16x8_t* r, int16_t* block) {
    InversePasses(r);
    for (int i = 0; i < 8; ++i) vst1q_s16(block + 8 * i, vqshlq_n_s16(r[i], 3));
}

// Dequantisation of one row: (c * scale) in 16 bits, then the rounded Q15
// product with the multiplier (0..32767, so the product cannot saturate);
// zero stays zero.
inline int16x8_t Dequantize(int16x8_t c, int16x8_t scale, int16x8_t multiplier) {
    return MulRoundQ15(vmulq_s16(c, scale), multiplier);
}

}  // namespace

// The engine's form: natural-order coefficients, dequantised here with the
// component's DequantTable. The engine sends blocks without AC coefficients
// to InverseDctDcOnly, so there is no test for them here (both passes give
// such a block the same flat samples anyway).
void InverseDctNaturalNeon(int16_t* block, const DequantTable* table) {
    int16x8_t r[8];
    LoadBlock(block, r);
    for (int i = 0; i < 8; ++i)
        r[i] = Dequantize(r[i], vld1q_s16(table->scale + 8 * i), vld1q_s16(table->multiplier + 8 * i));
    TransformAndStore(r, block);
}

void InverseDctNaturalPairNeon(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    InverseDctNaturalNeon(a, ta);
    InverseDctNaturalNeon(b, tb);
}

}  // namespace q32vex
