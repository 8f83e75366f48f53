// Scaled 8x8 forward DCT (scalar reference; vector twins in
// kernels/x86/forward_dct_simd.h and kernels/arm/forward_dct_neon.cpp) in
// 16-bit fixed point (five Q15 multiplications per 1-D pass, every stage
// halved so nothing leaves 16 bits) and the quantiser, whose multipliers also
// undo the transform's per-frequency scale.
#include "encode/forward_dct.h"

#include <cstring>

#include "common/tables.h"

namespace q32vex {
namespace {

constexpr int16_t kC4 = 23170;  // 0x5A82, cos(pi/4) in Q15
constexpr int16_t kC6 = 12540;  // 0x30FC, cos(3pi/8) in Q15
constexpr int16_t kC2 = 30274;  // 0x7642, cos(pi/8) in Q15

// A 16-bit sum or difference, halved with an arithmetic shift.
inline int16_t Half(int sum) { return int16_t(int16_t(sum) >> 1); }

// Q15 product rounded half up, kept in 16 bits.
inline int16_t MulQ15(int16_t a, int32_t c) { return int16_t((int32_t(a) * c + 16384) >> 15); }

// One 1-D pass over x[0], x[stride], ..., x[7 * stride]; X0..X7 go to out.
void Transform(const int16_t* x, int stride, int16_t* out) {
    const int16_t x0 = x[0], x1 = x[stride], x2 = x[2 * stride], x3 = x[3 * stride];
    const int16_t x4 = x[4 * stride], x5 = x[5 * stride], x6 = x[6 * stride], x7 = x[7 * stride];

    const int16_t t0 = Half(x0 + x7), t7 = Half(x0 - x7);
    const int16_t t1 = Half(x1 + x6), t6 = Half(x1 - x6);
    const int16_t t2 = Half(x2 + x5), t5 = Half(x2 - x5);
    const int16_t t3 = Half(x3 + x4), t4 = Half(x3 - x4);

    const int16_t e0 = Half(t0 + t3), e3 = Half(t0 - t3);
    const int16_t e1 = Half(t1 + t2), e2 = Half(t1 - t2);

    const int16_t d = Half(t6 - t5);
    const int16_t m1 = MulQ15(t5, kC4);
    const int16_t m2 = MulQ15(t4, kC4);
    const int16_t f = Half(t7 - t4);
    const int16_t o13 = Half(f - m1), o15 = Half(f + m1);
    const int16_t o12 = Half(d - m2), o14 = Half(d + m2);

    out[0] = Half(e0 + e1);
    out[4] = Half(e0 - e1);

    const int16_t m3 = MulQ15(e2, kC4);
    const int16_t gEven = Half(e3 - e2);
    out[2] = Half(gEven + m3);
    out[6] = Half(gEven - m3);

    const int16_t m4 = MulQ15(o12, kC6);
    const int16_t k = Half(o13 - o12);
    out[3] = Half(k + m4);
    out[5] = Half(k - m4);

    const int16_t m5 = MulQ15(o14, kC2);
    const int16_t j = Half(o15 - o14);
    out[1] = Half(j + m5);
    out[7] = Half(j - m5);
}

}  // namespace

void ForwardDctQuantize(int16_t* block, const EncQuantTable* table) {
    int16_t work[64];
    for (int r = 0; r < 8; ++r) Transform(block + 8 * r, 1, work + 8 * r);
    for (int c = 0; c < 8; ++c) {
        int16_t column[8];
        Transform(work + c, 8, column);
        for (int i = 0; i < 8; ++i) work[8 * i + c] = int16_t(column[i] * 2);
    }

    // Outputs inside the dead zone (|F| < t) round to zero; skipping them
    // saves the multiplication for most high frequencies.
    int16_t coefficient[64];
    std::memset(coefficient, 0, sizeof(coefficient));
    for (int k = 0; k < 64; ++k) {
        const int16_t F = work[k];
        const int32_t m = int32_t(table->entry[k] >> 16);
        const int32_t t = int32_t(table->entry[k] & 0xFFFF);
        if (F >= 0 ? F < t : F > -t) continue;
        coefficient[k] = MulQ15(F, m);
    }
    for (int k = 0; k < 64; ++k) block[kZigzagPos[k]] = coefficient[k];
}

void ForwardDctQuantizePair(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb) {
    ForwardDctQuantize(a, ta);
    ForwardDctQuantize(b, tb);
}

}  // namespace q32vex
