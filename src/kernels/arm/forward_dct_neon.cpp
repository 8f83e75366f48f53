// Forward DCT and quantiser for 64-bit ARM (scalar twin: ForwardDctQuantize
// in encode/forward_dct.cpp; x86 twins: kernels/x86/forward_dct_simd.h). The
// row pass runs on the transposed block (one lane per row), the column pass
// on the block as it lies (one lane per column); every lane does the scalar
// transform's 16-bit arithmetic exactly.
#include <arm_neon.h>

#include "kernels/arm/arm_kernels.h"
#include "kernels/arm/simd_neon.h"

namespace q32vex {
namespace {

// One 1-D pass on independent lanes; x[0..7] in, X0..X7 out in place.
inline void ForwardTransform8(int16x8_t* x) {
    const int16x8_t c4 = vdupq_n_s16(23170);  // cos(pi/4) in Q15
    const int16x8_t c6 = vdupq_n_s16(12540);  // cos(3pi/8) in Q15
    const int16x8_t c2 = vdupq_n_s16(30274);  // cos(pi/8) in Q15
    const int16x8_t t0 = HalfSum(x[0], x[7]), t7 = HalfDifference(x[0], x[7]);
    const int16x8_t t1 = HalfSum(x[1], x[6]), t6 = HalfDifference(x[1], x[6]);
    const int16x8_t t2 = HalfSum(x[2], x[5]), t5 = HalfDifference(x[2], x[5]);
    const int16x8_t t3 = HalfSum(x[3], x[4]), t4 = HalfDifference(x[3], x[4]);

    const int16x8_t e0 = HalfSum(t0, t3), e3 = HalfDifference(t0, t3);
    const int16x8_t e1 = HalfSum(t1, t2), e2 = HalfDifference(t1, t2);

    const int16x8_t d = HalfDifference(t6, t5);
    const int16x8_t m1 = MulRoundQ15(t5, c4);
    const int16x8_t m2 = MulRoundQ15(t4, c4);
    const int16x8_t f = HalfDifference(t7, t4);
    const int16x8_t o13 = HalfDifference(f, m1), o15 = HalfSum(f, m1);
    const int16x8_t o12 = HalfDifference(d, m2), o14 = HalfSum(d, m2);

    x[0] = HalfSum(e0, e1);
    x[4] = HalfDifference(e0, e1);

    const int16x8_t m3 = MulRoundQ15(e2, c4);
    const int16x8_t g = HalfDifference(e3, e2);
    x[2] = HalfSum(g, m3);
    x[6] = HalfDifference(g, m3);

    const int16x8_t m4 = MulRoundQ15(o12, c6);
    const int16x8_t k = HalfDifference(o13, o12);
    x[3] = HalfSum(k, m4);
    x[5] = HalfDifference(k, m4);

    const int16x8_t m5 = MulRoundQ15(o14, c2);
    const int16x8_t j = HalfDifference(o15, o14);
    x[1] = HalfSum(j, m5);
    x[7] = HalfDifference(j, m5);
}

constexpr BlockPermutation kToZigzag = MakeBlockPermutation(kZigzagOrder);

}  // namespace

void ForwardDctQuantizeNeon(int16_t* block, const uint32_t* table) {
    int16x8_t r[8];
    LoadBlock(block, r);
    Transpose8x8(r);
    ForwardTransform8(r);  // row pass: lane = row
    Transpose8x8(r);
    ForwardTransform8(r);  // column pass: lane = column
    for (int i = 0; i < 8; ++i) {
        // Entry k of the table: multiplier in the high half, dead-zone
        // threshold in the low half; the de-interleaving load splits them.
        // The threshold only saves the scalar code a multiply: the rounded
        // product is zero wherever the threshold would skip it.
        const uint16x8x2_t halves = vld2q_u16(reinterpret_cast<const uint16_t*>(table + 8 * i));
        r[i] = MulRoundQ15(vaddq_s16(r[i], r[i]), vreinterpretq_s16_u16(halves.val[1]));
    }
    int16x8_t zigzag[8];
    PermuteBlock(kToZigzag, r, zigzag);
    StoreBlock(block, zigzag);
}

void ForwardDctQuantizePairNeon(int16_t* a, const uint32_t* ta, int16_t* b, const uint32_t* tb) {
    ForwardDctQuantizeNeon(a, ta);
    ForwardDctQuantizeNeon(b, tb);
}

}  // namespace q32vex
