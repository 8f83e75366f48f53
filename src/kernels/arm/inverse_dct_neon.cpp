// Dequantisation and inverse DCT for 64-bit ARM (scalar twins: InverseDctBlock
// and InverseDctNatural in decode/inverse_dct.cpp; x86 twins:
// kernels/x86/inverse_dct_simd.h). The column pass runs on the block as it
// lies (one lane per column), the row pass on its transpose (one lane per
// row); every lane does the scalar transform's 16-bit arithmetic exactly.
#include <arm_neon.h>

#include "kernels/arm/arm_kernels.h"
#include "kernels/arm/simd_neon.h"

namespace q32vex {
namespace {

// mulQ(z, K): the operand doubled in 16 bits, then the rounded Q15 product.
inline int16x8_t MulDoubled(int16x8_t z, int16x8_t k) { return MulRoundQ15(vaddq_s16(z, z), k); }

// One 1-D pass on independent lanes; x[0..7] in frequency order in, samples
// o0..o7 out in place. Sums and differences wrap like the scalar code's.
inline void InverseTransform8(int16x8_t* x) {
    const int16x8_t k1 = vdupq_n_s16(30274);  // cos(pi/8) in Q15, applied doubled
    const int16x8_t k2 = vdupq_n_s16(23170);  // cos(pi/4) in Q15, applied doubled
    const int16x8_t k3 = vdupq_n_s16(12540);  // sin(pi/8) in Q15, applied doubled
    const int16x8_t a0 = vaddq_s16(x[0], x[4]), a4 = vsubq_s16(x[0], x[4]);
    const int16x8_t a1 = vaddq_s16(x[1], x[7]);
    const int16x8_t a7 = MulDoubled(vsubq_s16(x[1], x[7]), k1);
    const int16x8_t a2 = vaddq_s16(x[2], x[6]);
    const int16x8_t a6 = MulDoubled(vsubq_s16(x[2], x[6]), k2);
    const int16x8_t a3 = vaddq_s16(x[3], x[5]);
    const int16x8_t a5 = MulDoubled(vsubq_s16(x[3], x[5]), k3);

    const int16x8_t b8 = vaddq_s16(a0, a2), b10 = vsubq_s16(a0, a2);
    const int16x8_t t1 = vsubq_s16(a6, a2);
    const int16x8_t b14 = vaddq_s16(a4, t1), b12 = vsubq_s16(a4, t1);
    const int16x8_t t2 = vsubq_s16(a5, a3), t3 = vsubq_s16(a7, a1);
    const int16x8_t b15 = vaddq_s16(t3, t2);
    const int16x8_t b13 = MulDoubled(vsubq_s16(t3, t2), k2);
    const int16x8_t b9 = vaddq_s16(a1, a3);
    const int16x8_t b11 = MulDoubled(vsubq_s16(a1, a3), k2);

    x[0] = vaddq_s16(b8, b9);
    x[7] = vsubq_s16(b8, b9);
    const int16x8_t t4 = vsubq_s16(b13, b9);
    x[3] = vaddq_s16(b10, t4);
    x[4] = vsubq_s16(b10, t4);
    x[1] = vaddq_s16(b14, b15);
    x[6] = vsubq_s16(b14, b15);
    const int16x8_t t5 = vsubq_s16(b11, b15);
    x[2] = vaddq_s16(b12, t5);
    x[5] = vsubq_s16(b12, t5);
}

// Both passes and the output scaling on dequantised rows in natural order,
// stored to block. r > 4095 gives 32767, r < -4096 gives -32768, else r * 8:
// a saturating shift left by three.
inline void TransformAndStore(int16x8_t* r, int16_t* block) {
    InverseTransform8(r);  // column pass: lane = column
    Transpose8x8(r);
    InverseTransform8(r);  // row pass: lane = row
    Transpose8x8(r);
    for (int i = 0; i < 8; ++i) vst1q_s16(block + 8 * i, vqshlq_n_s16(r[i], 3));
}

// Dequantisation of one row: (c * scale) in 16 bits, then the rounded Q15
// product with the multiplier (0..32767, so the product cannot saturate);
// zero stays zero.
inline int16x8_t Dequantize(int16x8_t c, int16x8_t scale, int16x8_t multiplier) {
    return MulRoundQ15(vmulq_s16(c, scale), multiplier);
}

constexpr BlockPermutation kFromZigzag = MakeBlockPermutation(kZigzagPosition);

}  // namespace

void InverseDctBlockNeon(int16_t* block, const DecQuantTable* table) {
    int16x8_t coded[8], r[8];
    LoadBlock(block, coded);
    PermuteBlock(kFromZigzag, coded, r);
    const int16x8_t shiftMask = vdupq_n_s16(15);
    for (int i = 0; i < 8; ++i) {
        // c << (shift & 15) in 16 bits is c times the 16-bit factor 2^shift.
        const int16x8_t shift = vandq_s16(vreinterpretq_s16_u16(vld1q_u16(table->shift + 8 * i)), shiftMask);
        const int16x8_t value = vreinterpretq_s16_u16(vld1q_u16(table->value + 8 * i));
        r[i] = MulRoundQ15(vshlq_s16(r[i], shift), value);
    }
    TransformAndStore(r, block);
}

// The engine's form: natural-order coefficients, dequantised here with the
// component's DequantTable. A block with only a DC coefficient (the most
// common block) gives 64 equal samples through both passes, so it is filled
// directly with that value.
void InverseDctNaturalNeon(int16_t* block, const DequantTable* table) {
    int16x8_t r[8];
    LoadBlock(block, r);
    int16x8_t any = vsetq_lane_s16(0, r[0], 0);
    for (int i = 1; i < 8; ++i) any = vorrq_s16(any, r[i]);
    if (vmaxvq_u16(vreinterpretq_u16_s16(any)) == 0) {
        const int16x8_t dc = Dequantize(r[0], vld1q_s16(table->scale), vld1q_s16(table->multiplier));
        const int16x8_t sample = vdupq_laneq_s16(vqshlq_n_s16(dc, 3), 0);
        for (int i = 0; i < 8; ++i) vst1q_s16(block + 8 * i, sample);
        return;
    }
    for (int i = 0; i < 8; ++i)
        r[i] = Dequantize(r[i], vld1q_s16(table->scale + 8 * i), vld1q_s16(table->multiplier + 8 * i));
    TransformAndStore(r, block);
}

void InverseDctNaturalPairNeon(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    InverseDctNaturalNeon(a, ta);
    InverseDctNaturalNeon(b, tb);
}

}  // namespace q32vex
