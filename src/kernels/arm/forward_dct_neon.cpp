// Forward DCT and quantiser for 64-bit ARM (scalar twin: ForwardDctQuantize
// in encode/forward_dct.cpp; x86 twins: kernels/x86/forward_dct_simd.h). The
// row pass runs on the transposed block (one lane per row), the column pass
// on the block as it lies (one lane per column); the passes themselves are
// the shared ones of kernels/transform_8.h.
#include <arm_neon.h>

#include "kernels/arm/arm_kernels.h"
#include "kernels/arm/simd_neon.h"

namespace q32vex {
namespace {

constexpr BlockPermutation kToZigzag = MakeBlockPermutation(kZigzagOrder);

}  // namespace

void ForwardDctQuantizeNeon(int16_t* block, const EncQuantTable* table) {
    int16x8_t r[8];
    LoadBlock(block, r);
    ForwardPasses(r);
    for (int i = 0; i < 8; ++i) {
        // The dead-zone threshold only saves the scalar code a multiply: the
        // rounded product is zero wherever the threshold would skip it.
        r[i] = MulRoundQ15(vaddq_s16(r[i], r[i]), vld1q_s16(table->multiplier + 8 * i));
    }
    int16x8_t zigzag[8];
    PermuteBlock(kToZigzag, r, zigzag);
    StoreBlock(block, zigzag);
}

void ForwardDctQuantizePairNeon(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb) {
    ForwardDctQuantizeNeon(a, ta);
    ForwardDctQuantizeNeon(b, tb);
}

}  // namespace q32vex
