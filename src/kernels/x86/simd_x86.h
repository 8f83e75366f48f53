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

// Lane-wise 16-bit primitives, overloaded for 128-bit registers and, where
// compiled for AVX2, 256-bit ones (two independent 128-bit halves), so that
// the transforms below serve one block or two blocks side by side.
inline __m128i Add16(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i Sub16(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
inline __m128i Half16(__m128i a) { return _mm_srai_epi16(a, 1); }
inline __m128i AddSat16(__m128i a, __m128i b) { return _mm_adds_epi16(a, b); }
inline __m128i Unpack16Lo(__m128i a, __m128i b) { return _mm_unpacklo_epi16(a, b); }
inline __m128i Unpack16Hi(__m128i a, __m128i b) { return _mm_unpackhi_epi16(a, b); }
inline __m128i Unpack32Lo(__m128i a, __m128i b) { return _mm_unpacklo_epi32(a, b); }
inline __m128i Unpack32Hi(__m128i a, __m128i b) { return _mm_unpackhi_epi32(a, b); }
inline __m128i Unpack64Lo(__m128i a, __m128i b) { return _mm_unpacklo_epi64(a, b); }
inline __m128i Unpack64Hi(__m128i a, __m128i b) { return _mm_unpackhi_epi64(a, b); }
inline __m128i Splat16(__m128i, int v) { return _mm_set1_epi16(int16_t(v)); }
#if defined(__AVX2__)
inline __m256i MulRoundQ15(__m256i a, __m256i c) { return _mm256_mulhrs_epi16(a, c); }
inline __m256i Add16(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
inline __m256i Sub16(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
inline __m256i Half16(__m256i a) { return _mm256_srai_epi16(a, 1); }
inline __m256i AddSat16(__m256i a, __m256i b) { return _mm256_adds_epi16(a, b); }
inline __m256i Unpack16Lo(__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }
inline __m256i Unpack16Hi(__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }
inline __m256i Unpack32Lo(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
inline __m256i Unpack32Hi(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
inline __m256i Unpack64Lo(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
inline __m256i Unpack64Hi(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }
inline __m256i Splat16(__m256i, int v) { return _mm256_set1_epi16(int16_t(v)); }

// Two 128-bit registers as the halves of one 256-bit register, and back.
inline __m256i Join(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}
inline __m128i LowHalf(__m256i v) { return _mm256_castsi256_si128(v); }
inline __m128i HighHalf(__m256i v) { return _mm256_extracti128_si256(v, 1); }
#endif

// 8x8 transpose of 16-bit lanes (of each 128-bit half independently).
template <class V>
inline void Transpose8x8(V* r) {
    const V a0 = Unpack16Lo(r[0], r[1]);
    const V a1 = Unpack16Hi(r[0], r[1]);
    const V a2 = Unpack16Lo(r[2], r[3]);
    const V a3 = Unpack16Hi(r[2], r[3]);
    const V a4 = Unpack16Lo(r[4], r[5]);
    const V a5 = Unpack16Hi(r[4], r[5]);
    const V a6 = Unpack16Lo(r[6], r[7]);
    const V a7 = Unpack16Hi(r[6], r[7]);
    const V b0 = Unpack32Lo(a0, a2);
    const V b1 = Unpack32Hi(a0, a2);
    const V b2 = Unpack32Lo(a1, a3);
    const V b3 = Unpack32Hi(a1, a3);
    const V b4 = Unpack32Lo(a4, a6);
    const V b5 = Unpack32Hi(a4, a6);
    const V b6 = Unpack32Lo(a5, a7);
    const V b7 = Unpack32Hi(a5, a7);
    r[0] = Unpack64Lo(b0, b4);
    r[1] = Unpack64Hi(b0, b4);
    r[2] = Unpack64Lo(b1, b5);
    r[3] = Unpack64Hi(b1, b5);
    r[4] = Unpack64Lo(b2, b6);
    r[5] = Unpack64Hi(b2, b6);
    r[6] = Unpack64Lo(b3, b7);
    r[7] = Unpack64Hi(b3, b7);
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

#if defined(__AVX2__)
// The same permutation applied to both 128-bit halves at once.
inline void PermuteLanes(const LanePermutation& p, const __m256i* in, __m256i* out) {
#pragma GCC unroll 8
    for (int o = 0; o < 8; ++o) {
        __m256i acc = _mm256_setzero_si256();
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r) {
            if (p.used[o][r]) {
                const __m256i m = _mm256_broadcastsi128_si256(
                    _mm_load_si128(reinterpret_cast<const __m128i*>(p.mask[o][r])));
                acc = _mm256_or_si256(acc, _mm256_shuffle_epi8(in[r], m));
            }
        }
        out[o] = acc;
    }
}
#endif
#endif

}  // namespace
}  // namespace q32vex
