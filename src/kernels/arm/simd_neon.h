// Vector helpers shared by the ARM kernels: whole 8x8 blocks of 16-bit
// values as eight registers of eight lanes, one register per row.
#pragma once
#include <cstdint>

#include <arm_neon.h>

#include "kernels/zigzag_order.h"

namespace q32vex {
namespace {

// Lane-wise 16-bit primitives of the shared transforms (kernels/transform_8.h).
inline int16x8_t Add16(int16x8_t a, int16x8_t b) { return vaddq_s16(a, b); }
inline int16x8_t Sub16(int16x8_t a, int16x8_t b) { return vsubq_s16(a, b); }
// An arithmetic shift of the wrapped sum; the halving adds of the instruction
// set keep the 17th bit, so they would differ where a sum wraps.
inline int16x8_t Half16(int16x8_t a) { return vshrq_n_s16(a, 1); }
inline int16x8_t Splat16(int16x8_t, int v) { return vdupq_n_s16(int16_t(v)); }
// Q15 product rounded half up, kept in 16 bits: (a * c + 16384) >> 15. The
// instruction saturates only for -32768 * -32768; every caller's c is a
// constant or multiplier in 0..32767, where it equals the scalar wrap-around.
inline int16x8_t MulRoundQ15(int16x8_t a, int16x8_t c) { return vqrdmulhq_s16(a, c); }

inline void LoadBlock(const int16_t* block, int16x8_t* r) {
    for (int i = 0; i < 8; ++i) r[i] = vld1q_s16(block + 8 * i);
}

inline void StoreBlock(int16_t* block, const int16x8_t* r) {
    for (int i = 0; i < 8; ++i) vst1q_s16(block + 8 * i, r[i]);
}

// 8x8 transpose of 16-bit lanes: 16-bit, 32-bit and 64-bit transposes of
// register pairs.
inline void Transpose8x8(int16x8_t* r) {
    const int16x8x2_t a01 = vtrnq_s16(r[0], r[1]);
    const int16x8x2_t a23 = vtrnq_s16(r[2], r[3]);
    const int16x8x2_t a45 = vtrnq_s16(r[4], r[5]);
    const int16x8x2_t a67 = vtrnq_s16(r[6], r[7]);
    // b0: columns 0 and 4 of rows 0..3, b1: columns 2 and 6, c0/c1: 1 and 5, 3 and 7.
    const int32x4x2_t b = vtrnq_s32(vreinterpretq_s32_s16(a01.val[0]), vreinterpretq_s32_s16(a23.val[0]));
    const int32x4x2_t c = vtrnq_s32(vreinterpretq_s32_s16(a01.val[1]), vreinterpretq_s32_s16(a23.val[1]));
    // The same for rows 4..7.
    const int32x4x2_t d = vtrnq_s32(vreinterpretq_s32_s16(a45.val[0]), vreinterpretq_s32_s16(a67.val[0]));
    const int32x4x2_t e = vtrnq_s32(vreinterpretq_s32_s16(a45.val[1]), vreinterpretq_s32_s16(a67.val[1]));
    auto low = [](int32x4_t top, int32x4_t bottom) {
        return vreinterpretq_s16_s64(vtrn1q_s64(vreinterpretq_s64_s32(top), vreinterpretq_s64_s32(bottom)));
    };
    auto high = [](int32x4_t top, int32x4_t bottom) {
        return vreinterpretq_s16_s64(vtrn2q_s64(vreinterpretq_s64_s32(top), vreinterpretq_s64_s32(bottom)));
    };
    r[0] = low(b.val[0], d.val[0]);
    r[4] = high(b.val[0], d.val[0]);
    r[2] = low(b.val[1], d.val[1]);
    r[6] = high(b.val[1], d.val[1]);
    r[1] = low(c.val[0], e.val[0]);
    r[5] = high(c.val[0], e.val[0]);
    r[3] = low(c.val[1], e.val[1]);
    r[7] = high(c.val[1], e.val[1]);
}

// Byte indices that move the 16-bit lanes of a block by a fixed permutation:
// lane k of the result takes lane source[k], as table look-ups into the
// block's 128 bytes.
struct BlockPermutation {
    alignas(16) uint8_t index[8][16];
};

constexpr BlockPermutation MakeBlockPermutation(const uint8_t* source) {
    BlockPermutation p{};
    for (int k = 0; k < 64; ++k) {
        p.index[k / 8][2 * (k % 8)] = uint8_t(2 * source[k]);
        p.index[k / 8][2 * (k % 8) + 1] = uint8_t(2 * source[k] + 1);
    }
    return p;
}

// out = the block in[] permuted: each output row is a look-up into the first
// 64 bytes, then one into the last 64 with the indices moved down by 64
// (indices that fall outside a look-up's 64 bytes leave the lane as it was).
inline void PermuteBlock(const BlockPermutation& p, const int16x8_t* in, int16x8_t* out) {
    const uint8x16x4_t first = {{vreinterpretq_u8_s16(in[0]), vreinterpretq_u8_s16(in[1]),
                                 vreinterpretq_u8_s16(in[2]), vreinterpretq_u8_s16(in[3])}};
    const uint8x16x4_t second = {{vreinterpretq_u8_s16(in[4]), vreinterpretq_u8_s16(in[5]),
                                  vreinterpretq_u8_s16(in[6]), vreinterpretq_u8_s16(in[7])}};
    const uint8x16_t down = vdupq_n_u8(64);
    for (int o = 0; o < 8; ++o) {
        const uint8x16_t index = vld1q_u8(p.index[o]);
        const uint8x16_t low = vqtbl4q_u8(first, index);
        out[o] = vreinterpretq_s16_u8(vqtbx4q_u8(low, second, vsubq_u8(index, down)));
    }
}

}  // namespace
}  // namespace q32vex

#include "kernels/transform_8.h"  // after the primitives it uses
