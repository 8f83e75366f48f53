// Body of the vector colour converters (scalar twin: encode/color_convert.cpp;
// ARM twin: kernels/arm/color_convert_neon.cpp), compiled once per target by
// color_convert_sse2/ssse3/avx2.cpp. The forward colour tables are exact
// truncations of coefficient x (v - 128) x scale; here each entry is formed as
// sign(x) x (I x |x| + (|x| x M) >> 16), which equals it for every |x| <= 128
// (checked at compile time in kernels/color_terms.h), so eight pixels need no
// table look-ups.
#pragma once
#include <cstdint>
#include <cstring>

#include "common/engine_params.h"
#include "kernels/color_terms.h"
#include "kernels/x86/simd_x86.h"

namespace q32vex {
namespace {

inline __m128i Set16(int v) { return _mm_set1_epi16(int16_t(v)); }

// |x| and the sign carrier used by ApplySign.
inline __m128i Abs16(__m128i x) {
#if defined(__SSSE3__)
    return _mm_abs_epi16(x);
#else
    return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
#endif
}

// f with the sign of x (f is 0 where x is 0).
inline __m128i ApplySign(__m128i f, __m128i x) {
#if defined(__SSSE3__)
    return _mm_sign_epi16(f, x);
#else
    const __m128i s = _mm_srai_epi16(x, 15);
    return _mm_sub_epi16(_mm_xor_si128(f, s), s);
#endif
}

inline __m128i Term(__m128i n, const ColorTerm& t) {
    return _mm_add_epi16(_mm_mullo_epi16(n, Set16(t.whole)), _mm_mulhi_epu16(n, Set16(t.fraction)));
}

// Channel values 0..255 in 16-bit lanes to Y (scale 128), Cb and Cr (scale 64).
inline void ForwardColor(__m128i b, __m128i g, __m128i r, __m128i* y, __m128i* cb, __m128i* cr) {
    const __m128i xb = _mm_sub_epi16(b, Set16(128));
    const __m128i xg = _mm_sub_epi16(g, Set16(128));
    const __m128i xr = _mm_sub_epi16(r, Set16(128));
    const __m128i nb = Abs16(xb), ng = Abs16(xg), nr = Abs16(xr);
    *y = _mm_add_epi16(_mm_add_epi16(ApplySign(Term(nb, kBlueY), xb), ApplySign(Term(ng, kGreenY), xg)),
                       ApplySign(Term(nr, kRedY), xr));
    *cb = _mm_sub_epi16(_mm_sub_epi16(_mm_slli_epi16(xb, 5), ApplySign(Term(ng, kGreenCb), xg)),
                        ApplySign(Term(nr, kRedCb), xr));
    *cr = _mm_sub_epi16(_mm_sub_epi16(_mm_slli_epi16(xr, 5), ApplySign(Term(nb, kBlueCr), xb)),
                        ApplySign(Term(ng, kGreenCr), xg));
}

// Splits 32-bit pixels (channel bytes 0, 1, 2 = blue, green, red) of two
// registers into three registers of eight 16-bit channel values.
inline void SplitWords(__m128i w0, __m128i w1, __m128i* b, __m128i* g, __m128i* r) {
    const __m128i low = _mm_set1_epi32(0xFF);
    *b = _mm_packs_epi32(_mm_and_si128(w0, low), _mm_and_si128(w1, low));
    *g = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(w0, 8), low),
                         _mm_and_si128(_mm_srli_epi32(w1, 8), low));
    *r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(w0, 16), low),
                         _mm_and_si128(_mm_srli_epi32(w1, 16), low));
}

#if defined(__SSSE3__)
// Byte-shuffle masks that zero-extend channel c of pixels 0..7 of a 3-byte
// run into 16-bit lanes, from the register holding bytes 0..15 (part 0) and
// the one holding bytes 16..23 (part 1).
struct TripletMasks {
    alignas(16) uint8_t mask[3][2][16];
};
constexpr TripletMasks MakeTripletMasks() {
    TripletMasks m{};
    for (int c = 0; c < 3; ++c) {
        for (int part = 0; part < 2; ++part) {
            for (int lane = 0; lane < 8; ++lane) {
                const int source = 3 * lane + c;
                m.mask[c][part][2 * lane] = source / 16 == part ? uint8_t(source % 16) : 0x80;
                m.mask[c][part][2 * lane + 1] = 0x80;
            }
        }
    }
    return m;
}
constexpr TripletMasks kTripletMasks = MakeTripletMasks();

inline __m128i Mask(int c, int part) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kTripletMasks.mask[c][part]));
}
#endif

// Eight host pixels at p to 16-bit blue, green and red values 0..255. Reads
// exactly 8 x Bpp bytes.
template <int Bpp>
inline void LoadPixels(const uint8_t* p, __m128i* b, __m128i* g, __m128i* r) {
    if (Bpp == 4) {
        SplitWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), b, g, r);
    } else if (Bpp == 3) {
#if defined(__SSSE3__)
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i v1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
        *b = _mm_or_si128(_mm_shuffle_epi8(v0, Mask(0, 0)), _mm_shuffle_epi8(v1, Mask(0, 1)));
        *g = _mm_or_si128(_mm_shuffle_epi8(v0, Mask(1, 0)), _mm_shuffle_epi8(v1, Mask(1, 1)));
        *r = _mm_or_si128(_mm_shuffle_epi8(v0, Mask(2, 0)), _mm_shuffle_epi8(v1, Mask(2, 1)));
#else
        // Pixel i as a 32-bit word; the last one is assembled without reading
        // past the run.
        uint32_t w[8];
        for (int i = 0; i < 7; ++i) std::memcpy(&w[i], p + 3 * i, 4);
        w[7] = uint32_t(p[21]) | uint32_t(p[22]) << 8 | uint32_t(p[23]) << 16;
        SplitWords(_mm_setr_epi32(int(w[0]), int(w[1]), int(w[2]), int(w[3])),
                   _mm_setr_epi32(int(w[4]), int(w[5]), int(w[6]), int(w[7])), b, g, r);
#endif
    } else {
        // 5-5-5 words: a 5-bit value c stands for 8c.
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i five = Set16(0x1F << 3);
        *b = _mm_and_si128(_mm_slli_epi16(w, 3), five);
        *g = _mm_and_si128(_mm_srli_epi16(w, 2), five);
        *r = _mm_and_si128(_mm_srli_epi16(w, 7), five);
    }
}

inline __m128i* BlockRow(int16_t (*blocks)[64], int block, int row) {
    return reinterpret_cast<__m128i*>(blocks[block] + 8 * row);
}

// Sums of neighbouring lanes of a and b (a's pairs first), each halved when
// Halve: the horizontal part of chroma averaging. The sums fit in 16 bits.
template <bool Halve>
inline __m128i PairSums(__m128i a, __m128i b) {
    const __m128i ones = Set16(1);
    __m128i sa = _mm_madd_epi16(a, ones), sb = _mm_madd_epi16(b, ones);
    if (Halve) {
        sa = _mm_srai_epi32(sa, 1);
        sb = _mm_srai_epi32(sb, 1);
    }
    return _mm_packs_epi32(sa, sb);
}

template <int Bpp>
void ConvertH1V1Vector(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        __m128i b, gr, r, y, cb, cr;
        LoadPixels<Bpp>(rows[row], &b, &gr, &r);
        ForwardColor(b, gr, r, &y, &cb, &cr);
        _mm_store_si128(BlockRow(blocks, 0, row), y);
        _mm_store_si128(BlockRow(blocks, 1, row), _mm_add_epi16(cb, cb));
        _mm_store_si128(BlockRow(blocks, 2, row), _mm_add_epi16(cr, cr));
    }
}

template <int Bpp>
void ConvertH2V1Vector(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        __m128i b, gr, r, y0, cb0, cr0, y1, cb1, cr1;
        LoadPixels<Bpp>(rows[row], &b, &gr, &r);
        ForwardColor(b, gr, r, &y0, &cb0, &cr0);
        LoadPixels<Bpp>(rows[row] + 8 * Bpp, &b, &gr, &r);
        ForwardColor(b, gr, r, &y1, &cb1, &cr1);
        _mm_store_si128(BlockRow(blocks, 0, row), y0);
        _mm_store_si128(BlockRow(blocks, 1, row), y1);
        _mm_store_si128(BlockRow(blocks, 2, row), PairSums<false>(cb0, cb1));
        _mm_store_si128(BlockRow(blocks, 3, row), PairSums<false>(cr0, cr1));
    }
}

template <int Bpp>
void ConvertH2V2Vector(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        __m128i cbHalf[2], crHalf[2];
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int yBlock = row < 8 ? 0 : 2;
            __m128i b, gr, r, y0, cb0, cr0, y1, cb1, cr1;
            LoadPixels<Bpp>(rows[row], &b, &gr, &r);
            ForwardColor(b, gr, r, &y0, &cb0, &cr0);
            LoadPixels<Bpp>(rows[row] + 8 * Bpp, &b, &gr, &r);
            ForwardColor(b, gr, r, &y1, &cb1, &cr1);
            _mm_store_si128(BlockRow(blocks, yBlock, row & 7), y0);
            _mm_store_si128(BlockRow(blocks, yBlock + 1, row & 7), y1);
            cbHalf[k] = PairSums<true>(cb0, cb1);
            crHalf[k] = PairSums<true>(cr0, cr1);
        }
        _mm_store_si128(BlockRow(blocks, 4, pair), _mm_add_epi16(cbHalf[0], cbHalf[1]));
        _mm_store_si128(BlockRow(blocks, 5, pair), _mm_add_epi16(crHalf[0], crHalf[1]));
    }
}

void ConvertGreyVector(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[row]));
        const __m128i wide = _mm_unpacklo_epi8(v, _mm_setzero_si128());
        _mm_store_si128(BlockRow(blocks, 0, row), _mm_slli_epi16(_mm_sub_epi16(wide, Set16(128)), 7));
    }
}

#if defined(__AVX2__)
// Sixteen pixels per step: the same arithmetic on 256-bit registers.
inline __m256i Set16x(int v) { return _mm256_set1_epi16(int16_t(v)); }

inline __m256i ApplySign(__m256i f, __m256i x) { return _mm256_sign_epi16(f, x); }

inline __m256i Term(__m256i n, const ColorTerm& t) {
    return _mm256_add_epi16(_mm256_mullo_epi16(n, Set16x(t.whole)), _mm256_mulhi_epu16(n, Set16x(t.fraction)));
}

inline void ForwardColor(__m256i b, __m256i g, __m256i r, __m256i* y, __m256i* cb, __m256i* cr) {
    const __m256i xb = _mm256_sub_epi16(b, Set16x(128));
    const __m256i xg = _mm256_sub_epi16(g, Set16x(128));
    const __m256i xr = _mm256_sub_epi16(r, Set16x(128));
    const __m256i nb = _mm256_abs_epi16(xb), ng = _mm256_abs_epi16(xg), nr = _mm256_abs_epi16(xr);
    *y = _mm256_add_epi16(
        _mm256_add_epi16(ApplySign(Term(nb, kBlueY), xb), ApplySign(Term(ng, kGreenY), xg)),
        ApplySign(Term(nr, kRedY), xr));
    *cb = _mm256_sub_epi16(_mm256_sub_epi16(_mm256_slli_epi16(xb, 5), ApplySign(Term(ng, kGreenCb), xg)),
                           ApplySign(Term(nr, kRedCb), xr));
    *cr = _mm256_sub_epi16(_mm256_sub_epi16(_mm256_slli_epi16(xr, 5), ApplySign(Term(nb, kBlueCr), xb)),
                           ApplySign(Term(ng, kGreenCr), xg));
}

inline __m256i Both(__m128i low, __m128i high) { return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1); }

// Two runs of eight pixels, at a (low lane) and b (high lane), to 16-bit
// channels. Reads exactly 8 x Bpp bytes at each.
template <int Bpp>
inline void LoadPixelPairs(const uint8_t* a, const uint8_t* bb, __m256i* b, __m256i* g, __m256i* r) {
    if (Bpp == 4) {
        const __m256i lo = Both(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bb)));
        const __m256i hi = Both(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bb + 16)));
        // lo = pixels a0..3 | b0..3, hi = a4..7 | b4..7: pack without permuting.
        const __m256i m = _mm256_set1_epi32(0xFF);
        *b = _mm256_packs_epi32(_mm256_and_si256(lo, m), _mm256_and_si256(hi, m));
        *g = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(lo, 8), m),
                                _mm256_and_si256(_mm256_srli_epi32(hi, 8), m));
        *r = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(lo, 16), m),
                                _mm256_and_si256(_mm256_srli_epi32(hi, 16), m));
    } else if (Bpp == 3) {
        const __m256i v0 = Both(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bb)));
        const __m256i v1 = Both(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + 16)),
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bb + 16)));
        const __m256i mb0 = _mm256_broadcastsi128_si256(Mask(0, 0)), mb1 = _mm256_broadcastsi128_si256(Mask(0, 1));
        const __m256i mg0 = _mm256_broadcastsi128_si256(Mask(1, 0)), mg1 = _mm256_broadcastsi128_si256(Mask(1, 1));
        const __m256i mr0 = _mm256_broadcastsi128_si256(Mask(2, 0)), mr1 = _mm256_broadcastsi128_si256(Mask(2, 1));
        *b = _mm256_or_si256(_mm256_shuffle_epi8(v0, mb0), _mm256_shuffle_epi8(v1, mb1));
        *g = _mm256_or_si256(_mm256_shuffle_epi8(v0, mg0), _mm256_shuffle_epi8(v1, mg1));
        *r = _mm256_or_si256(_mm256_shuffle_epi8(v0, mr0), _mm256_shuffle_epi8(v1, mr1));
    } else {
        const __m256i w = Both(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(bb)));
        const __m256i five = Set16x(0x1F << 3);
        *b = _mm256_and_si256(_mm256_slli_epi16(w, 3), five);
        *g = _mm256_and_si256(_mm256_srli_epi16(w, 2), five);
        *r = _mm256_and_si256(_mm256_srli_epi16(w, 7), five);
    }
}

inline void StoreHalves(int16_t (*blocks)[64], __m256i v, int blockLow, int rowLow, int blockHigh, int rowHigh) {
    _mm_store_si128(BlockRow(blocks, blockLow, rowLow), _mm256_castsi256_si128(v));
    _mm_store_si128(BlockRow(blocks, blockHigh, rowHigh), _mm256_extracti128_si256(v, 1));
}

// Pair sums of sixteen chroma lanes (halved when Halve) for Cb and Cr, as
// 32-bit values: lanes 0..3 of each half are pairs 0..3 and 4..7.
template <bool Halve>
inline __m256i PairSums32(__m256i v) {
    __m256i s = _mm256_madd_epi16(v, Set16x(1));
    return Halve ? _mm256_srai_epi32(s, 1) : s;
}

// Eight Cb and eight Cr values (32-bit) to the two chroma rows.
inline void StoreChroma(int16_t (*blocks)[64], __m256i cb, __m256i cr, int row) {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(cb, cr), 0xD8);
    StoreHalves(blocks, packed, 4, row, 5, row);
}

template <int Bpp>
void ConvertH1V1Wide(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; row += 2) {
        __m256i b, gr, r, y, cb, cr;
        LoadPixelPairs<Bpp>(rows[row], rows[row + 1], &b, &gr, &r);
        ForwardColor(b, gr, r, &y, &cb, &cr);
        _mm256_store_si256(reinterpret_cast<__m256i*>(blocks[0] + 8 * row), y);
        _mm256_store_si256(reinterpret_cast<__m256i*>(blocks[1] + 8 * row), _mm256_add_epi16(cb, cb));
        _mm256_store_si256(reinterpret_cast<__m256i*>(blocks[2] + 8 * row), _mm256_add_epi16(cr, cr));
    }
}

template <int Bpp>
void ConvertH2V1Wide(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        __m256i b, gr, r, y, cb, cr;
        LoadPixelPairs<Bpp>(rows[row], rows[row] + 8 * Bpp, &b, &gr, &r);
        ForwardColor(b, gr, r, &y, &cb, &cr);
        StoreHalves(blocks, y, 0, row, 1, row);
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packs_epi32(PairSums32<false>(cb), PairSums32<false>(cr)), 0xD8);
        StoreHalves(blocks, packed, 2, row, 3, row);
    }
}

template <int Bpp>
void ConvertH2V2Wide(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        __m256i cbSum = _mm256_setzero_si256(), crSum = _mm256_setzero_si256();
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int yBlock = row < 8 ? 0 : 2;
            __m256i b, gr, r, y, cb, cr;
            LoadPixelPairs<Bpp>(rows[row], rows[row] + 8 * Bpp, &b, &gr, &r);
            ForwardColor(b, gr, r, &y, &cb, &cr);
            StoreHalves(blocks, y, yBlock, row & 7, yBlock + 1, row & 7);
            // Each halved pair sum fits in 16 bits, and so does the sum of two.
            cbSum = _mm256_add_epi32(cbSum, PairSums32<true>(cb));
            crSum = _mm256_add_epi32(crSum, PairSums32<true>(cr));
        }
        StoreChroma(blocks, cbSum, crSum, pair);
    }
}
#endif

// The converter for a sampling index and pixel size, or null where the
// scalar converter is the only one. Each routine is built for its pixel size,
// so the size the engine passes it (as it does the scalar ones) is not read.
McuConverter ChooseVectorConverter(uint16_t samplingIndex, uint16_t bytesPerPixel) {
#if defined(__AVX2__)
    switch (samplingIndex) {
        case 0:
            return bytesPerPixel == 4 ? ConvertH2V1Wide<4>
                 : bytesPerPixel == 3 ? ConvertH2V1Wide<3>
                 : bytesPerPixel == 2 ? ConvertH2V1Wide<2> : nullptr;
        case 1:
            return bytesPerPixel == 4 ? ConvertH2V2Wide<4>
                 : bytesPerPixel == 3 ? ConvertH2V2Wide<3>
                 : bytesPerPixel == 2 ? ConvertH2V2Wide<2> : nullptr;
        case 2:
            return bytesPerPixel == 4 ? ConvertH1V1Wide<4>
                 : bytesPerPixel == 3 ? ConvertH1V1Wide<3>
                 : bytesPerPixel == 2 ? ConvertH1V1Wide<2> : nullptr;
        default:
            break;
    }
#endif
    switch (samplingIndex) {
        case 0:
            return bytesPerPixel == 4 ? ConvertH2V1Vector<4>
                 : bytesPerPixel == 3 ? ConvertH2V1Vector<3>
                 : bytesPerPixel == 2 ? ConvertH2V1Vector<2> : nullptr;
        case 1:
            return bytesPerPixel == 4 ? ConvertH2V2Vector<4>
                 : bytesPerPixel == 3 ? ConvertH2V2Vector<3>
                 : bytesPerPixel == 2 ? ConvertH2V2Vector<2> : nullptr;
        case 2:
            return bytesPerPixel == 4 ? ConvertH1V1Vector<4>
                 : bytesPerPixel == 3 ? ConvertH1V1Vector<3>
                 : bytesPerPixel == 2 ? ConvertH1V1Vector<2> : nullptr;
        case 3:
            return bytesPerPixel == 1 ? ConvertGreyVector : nullptr;
        default:
            return nullptr;
    }
}

}  // namespace
}  // namespace q32vex
