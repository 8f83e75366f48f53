// Vector helpers shared by the x86 kernels. Everything here has internal
// linkage, so each kernel file compiles its own copy with its own target
// flags and no instruction of a higher level can leak into a lower one.
// Kernel files include no other inline library code for the same reason.
#pragma once
#include <cstdint>

#include <emmintrin.h>
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace q32vex {
namespace {

// The T.81 zigzag order: zigzag position k holds natural index kZigzagOrder[k].
constexpr uint8_t kZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
static_assert(kZigzagOrder[2] == 8 && kZigzagOrder[63] == 63, "zigzag order");

// Its inverse: natural index n sits at zigzag position kZigzagPosition[n].
constexpr uint8_t kZigzagPosition[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
    3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
    10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
    21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};
constexpr bool ZigzagTablesAgree() {
    for (int k = 0; k < 64; ++k)
        if (kZigzagPosition[kZigzagOrder[k]] != k) return false;
    return true;
}
static_assert(ZigzagTablesAgree(), "the two zigzag tables must be inverse permutations");

// Q15 product rounded half up, kept in 16 bits: (a * c + 16384) >> 15.
inline __m128i MulRoundQ15(__m128i a, __m128i c) {
#if defined(__SSSE3__)
    return _mm_mulhrs_epi16(a, c);
#else
    // With the 32-bit product P = hi * 65536 + lo (lo unsigned), the result is
    // 2 * hi + ((lo >> 14) + 1) >> 1: the rounding carry out of the low half.
    const __m128i hi = _mm_mulhi_epi16(a, c);
    const __m128i lo = _mm_mullo_epi16(a, c);
    __m128i carry = _mm_srli_epi16(lo, 14);
    carry = _mm_srli_epi16(_mm_add_epi16(carry, _mm_set1_epi16(1)), 1);
    return _mm_add_epi16(_mm_add_epi16(hi, hi), carry);
#endif
}

inline void Transpose8x8(__m128i* r) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]);
    const __m128i a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]);
    const __m128i a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]);
    const __m128i a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
    const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
    const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
    const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
    const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

inline void LoadBlock(const int16_t* block, __m128i* r) {
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
}

inline void StoreBlock(int16_t* block, const __m128i* r) {
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

#if defined(__SSSE3__)
// Byte-shuffle masks that move 16-bit lanes between eight registers by a fixed
// permutation: out register o, lane l takes in register source[8o+l] / 8,
// lane source[8o+l] % 8. `used` says which (o, r) pairs contribute at all.
struct LanePermutation {
    alignas(16) uint8_t mask[8][8][16];
    bool used[8][8];
};

constexpr LanePermutation MakeLanePermutation(const uint8_t* source) {
    LanePermutation p{};
    for (int o = 0; o < 8; ++o) {
        for (int r = 0; r < 8; ++r) {
            p.used[o][r] = false;
            for (int l = 0; l < 8; ++l) {
                const int s = source[8 * o + l];
                const bool here = s / 8 == r;
                p.mask[o][r][2 * l] = here ? uint8_t(2 * (s % 8)) : 0x80;
                p.mask[o][r][2 * l + 1] = here ? uint8_t(2 * (s % 8) + 1) : 0x80;
                if (here) p.used[o][r] = true;
            }
        }
    }
    return p;
}

inline void PermuteLanes(const LanePermutation& p, const __m128i* in, __m128i* out) {
#pragma GCC unroll 8
    for (int o = 0; o < 8; ++o) {
        __m128i acc = _mm_setzero_si128();
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r) {
            if (p.used[o][r]) {
                const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(p.mask[o][r]));
                acc = _mm_or_si128(acc, _mm_shuffle_epi8(in[r], m));
            }
        }
        out[o] = acc;
    }
}
#endif

}  // namespace
}  // namespace q32vex
