// Dequantisation and the separable 8x8 inverse DCT (scalar reference; vector
// twins in kernels/x86/inverse_dct_simd.h and kernels/arm/inverse_dct_neon.cpp),
// in place, in 16-bit fixed point with five multiplications per 1-D pass.
// Intermediates wrap around on overflow exactly like 16-bit registers; extreme
// coefficients wrap, they do not saturate.
#include "decode/inverse_dct.h"

namespace q32vex {

namespace {

// Q15 constants; mulQ doubles its operand first, so the factors applied are
// 2 cos(pi/8), sqrt(2) and 2 sin(pi/8).
constexpr int32_t kK1 = 30274;  // cos(pi/8) = 0.92388
constexpr int32_t kK2 = 23170;  // cos(pi/4) = 0.70711
constexpr int32_t kK3 = 12540;  // sin(pi/8) = 0.38268
static_assert(kK1 * kK1 + kK3 * kK3 > (1 << 30) - (1 << 16) &&
                  kK1 * kK1 + kK3 * kK3 < (1 << 30) + (1 << 16),
              "cos^2 + sin^2 of pi/8 must be one in Q15");
static_assert(2 * kK2 * kK2 > (1 << 30) - (1 << 16) && 2 * kK2 * kK2 < (1 << 30) + (1 << 16),
              "cos(pi/4) squared must be one half in Q15");

inline int16_t Wrap(int32_t v) {
    return int16_t(uint16_t(uint32_t(v)));
}

// round(z * K / 16384), halves upwards, with the doubling done in 16 bits.
inline int16_t MulQ(int16_t z, int32_t k) {
    const int32_t product = int32_t(Wrap(2 * int32_t(z))) * k;
    return Wrap((product + 16384) >> 15);
}

// One 1-D inverse transform: frequency order in, sample order out.
inline void Transform(const int16_t* x, int16_t* o) {
    const int16_t a0 = Wrap(x[0] + x[4]);
    const int16_t a4 = Wrap(x[0] - x[4]);
    const int16_t a1 = Wrap(x[1] + x[7]);
    const int16_t a7 = MulQ(Wrap(x[1] - x[7]), kK1);
    const int16_t a2 = Wrap(x[2] + x[6]);
    const int16_t a6 = MulQ(Wrap(x[2] - x[6]), kK2);
    const int16_t a3 = Wrap(x[3] + x[5]);
    const int16_t a5 = MulQ(Wrap(x[3] - x[5]), kK3);

    const int16_t b8 = Wrap(a0 + a2);
    const int16_t b10 = Wrap(a0 - a2);
    const int16_t t1 = Wrap(a6 - a2);
    const int16_t b14 = Wrap(a4 + t1);
    const int16_t b12 = Wrap(a4 - t1);
    const int16_t t2 = Wrap(a5 - a3);
    const int16_t t3 = Wrap(a7 - a1);
    const int16_t b15 = Wrap(t3 + t2);
    const int16_t b13 = MulQ(Wrap(t3 - t2), kK2);
    const int16_t b9 = Wrap(a1 + a3);
    const int16_t b11 = MulQ(Wrap(a1 - a3), kK2);

    const int16_t t4 = Wrap(b13 - b9);
    const int16_t t5 = Wrap(b11 - b15);
    o[0] = Wrap(b8 + b9);
    o[7] = Wrap(b8 - b9);
    o[3] = Wrap(b10 + t4);
    o[4] = Wrap(b10 - t4);
    o[1] = Wrap(b14 + b15);
    o[6] = Wrap(b14 - b15);
    o[2] = Wrap(b12 + t5);
    o[5] = Wrap(b12 - t5);
}

// r is 32 times the sample offset from mid-level; the output carries it as
// 256 times, so the signed sample sits in the high byte.
inline int16_t ScaleOutput(int16_t r) {
    if (r > 4095) return 32767;
    if (r < -4096) return -32768;
    return int16_t(r * 8);
}

}  // namespace

void TransformDequantized(int16_t* scratch, int16_t* block) {
    int16_t in[8];
    int16_t out[8];
    for (int v = 0; v < 8; ++v) {
        for (int j = 0; j < 8; ++j) in[j] = scratch[v + 8 * j];
        Transform(in, out);
        for (int j = 0; j < 8; ++j) scratch[v + 8 * j] = out[j];
    }
    for (int u = 0; u < 8; ++u) {
        Transform(scratch + 8 * u, out);
        for (int j = 0; j < 8; ++j) block[8 * u + j] = ScaleOutput(out[j]);
    }
}

void MakeDequantTable(const DecQuantTable* source, DequantTable* out) {
    for (int i = 0; i < 64; ++i) {
        out->multiplier[i] = int16_t(source->value[i]);
        out->scale[i] = Wrap(1 << (source->shift[i] & 15));
    }
}

void InverseDctNatural(int16_t* block, const DequantTable* table) {
    int16_t scratch[64];
    for (int i = 0; i < 64; ++i) {
        const int16_t shifted = Wrap(int32_t(block[i]) * table->scale[i]);
        scratch[i] = Wrap((int32_t(shifted) * table->multiplier[i] + 16384) >> 15);
    }
    TransformDequantized(scratch, block);
}

void InverseDctDcOnly(int16_t* block, const DequantTable* table) {
    const int16_t shifted = Wrap(int32_t(block[0]) * table->scale[0]);
    const int16_t dc = Wrap((int32_t(shifted) * table->multiplier[0] + 16384) >> 15);
    const int16_t sample = ScaleOutput(dc);
    for (int i = 0; i < 64; ++i) block[i] = sample;
}

void InverseDctNaturalPair(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    InverseDctNatural(a, ta);
    InverseDctNatural(b, tb);
}

}  // namespace q32vex
