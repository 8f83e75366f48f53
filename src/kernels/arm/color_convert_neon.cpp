// Colour converters for 64-bit ARM (scalar twins: the Convert routines in
// encode/color_convert.cpp; x86 twins: kernels/x86/color_convert_simd.h).
// The forward colour tables are exact truncations of coefficient x (v - 128)
// x scale; each entry is formed here as sign(x) x (I x |x| + (|x| x M) >> 16),
// which equals it for every |x| <= 128 (kernels/color_terms.h checks that at
// compile time), so eight pixels need no table look-ups.
#include <arm_neon.h>

#include "kernels/arm/arm_kernels.h"
#include "kernels/color_terms.h"

namespace q32vex {
namespace {

// Channel values of eight pixels, level-shifted: v - 128.
struct Channels {
    int16x8_t blue, green, red;
};

inline int16x8_t Centred(uint8x8_t v) { return vreinterpretq_s16_u16(vsubl_u8(v, vdup_n_u8(128))); }
inline int16x8_t CentredHigh(uint8x16_t v) { return vreinterpretq_s16_u16(vsubl_high_u8(v, vdupq_n_u8(128))); }
inline int16x8_t CentredWords(uint16x8_t v) { return vreinterpretq_s16_u16(vsubq_u16(v, vdupq_n_u16(128))); }

// Eight pixels at p; reads exactly 8 x Bpp bytes. Three and four bytes are
// blue, green, red (and a byte that is skipped); two bytes are a 5-5-5 word,
// little-endian, whose 5-bit value c stands for 8c.
template <int Bpp>
inline Channels LoadEight(const uint8_t* p) {
    if constexpr (Bpp == 4) {
        const uint8x8x4_t v = vld4_u8(p);
        return Channels{Centred(v.val[0]), Centred(v.val[1]), Centred(v.val[2])};
    } else if constexpr (Bpp == 3) {
        const uint8x8x3_t v = vld3_u8(p);
        return Channels{Centred(v.val[0]), Centred(v.val[1]), Centred(v.val[2])};
    } else {
        const uint16x8_t w = vreinterpretq_u16_u8(vld1q_u8(p));
        const uint16x8_t five = vdupq_n_u16(0x1F << 3);
        return Channels{CentredWords(vandq_u16(vshlq_n_u16(w, 3), five)),
                        CentredWords(vandq_u16(vshrq_n_u16(w, 2), five)),
                        CentredWords(vandq_u16(vshrq_n_u16(w, 7), five))};
    }
}

// Sixteen pixels at p, the first eight to left, the others to right; reads
// exactly 16 x Bpp bytes.
template <int Bpp>
inline void LoadSixteen(const uint8_t* p, Channels* left, Channels* right) {
    if constexpr (Bpp == 2) {
        *left = LoadEight<2>(p);
        *right = LoadEight<2>(p + 16);
    } else {
        uint8x16_t b, g, r;
        if constexpr (Bpp == 4) {
            const uint8x16x4_t v = vld4q_u8(p);
            b = v.val[0], g = v.val[1], r = v.val[2];
        } else {
            const uint8x16x3_t v = vld3q_u8(p);
            b = v.val[0], g = v.val[1], r = v.val[2];
        }
        *left = Channels{Centred(vget_low_u8(b)), Centred(vget_low_u8(g)), Centred(vget_low_u8(r))};
        *right = Channels{CentredHigh(b), CentredHigh(g), CentredHigh(r)};
    }
}

// I x n + ((n x M) >> 16) for n = |x| in 0..128.
inline int16x8_t Term(uint16x8_t n, const ColorTerm& t) {
    const uint16x8_t fraction = vdupq_n_u16(t.fraction);
    const uint32x4_t low = vmull_u16(vget_low_u16(n), vget_low_u16(fraction));
    const uint32x4_t high = vmull_high_u16(n, fraction);
    const uint16x8_t product = vuzp2q_u16(vreinterpretq_u16_u32(low), vreinterpretq_u16_u32(high));
    return vreinterpretq_s16_u16(vmlaq_n_u16(product, n, uint16_t(t.whole)));
}

// f with the sign of x (f is 0 where x is 0).
inline int16x8_t WithSignOf(int16x8_t f, int16x8_t x) {
    const int16x8_t sign = vshrq_n_s16(x, 15);
    return vsubq_s16(veorq_s16(f, sign), sign);
}

// Y at scale 128, Cb and Cr at scale 64 of eight pixels.
struct Ycc {
    int16x8_t y, cb, cr;
};

inline Ycc ForwardColor(const Channels& c) {
    const uint16x8_t nb = vreinterpretq_u16_s16(vabsq_s16(c.blue));
    const uint16x8_t ng = vreinterpretq_u16_s16(vabsq_s16(c.green));
    const uint16x8_t nr = vreinterpretq_u16_s16(vabsq_s16(c.red));
    Ycc out;
    out.y = vaddq_s16(vaddq_s16(WithSignOf(Term(nb, kBlueY), c.blue), WithSignOf(Term(ng, kGreenY), c.green)),
                      WithSignOf(Term(nr, kRedY), c.red));
    out.cb = vsubq_s16(vsubq_s16(vshlq_n_s16(c.blue, 5), WithSignOf(Term(ng, kGreenCb), c.green)),
                       WithSignOf(Term(nr, kRedCb), c.red));
    out.cr = vsubq_s16(vsubq_s16(vshlq_n_s16(c.red, 5), WithSignOf(Term(nb, kBlueCr), c.blue)),
                       WithSignOf(Term(ng, kGreenCr), c.green));
    return out;
}

inline int16_t* Row(int16_t (*blocks)[64], int block, int row) { return blocks[block] + 8 * row; }

// Sums of neighbouring lanes, a's pairs first, wrapping like the scalar sums.
inline int16x8_t PairSums(int16x8_t a, int16x8_t b) { return vpaddq_s16(a, b); }
inline int16x8_t HalvedPairSums(int16x8_t a, int16x8_t b) { return vshrq_n_s16(vpaddq_s16(a, b), 1); }

template <int Bpp>
void ConvertH1V1Neon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        const Ycc v = ForwardColor(LoadEight<Bpp>(rows[row]));
        vst1q_s16(Row(blocks, 0, row), v.y);
        vst1q_s16(Row(blocks, 1, row), vaddq_s16(v.cb, v.cb));
        vst1q_s16(Row(blocks, 2, row), vaddq_s16(v.cr, v.cr));
    }
}

template <int Bpp>
void ConvertH2V1Neon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        Channels left, right;
        LoadSixteen<Bpp>(rows[row], &left, &right);
        const Ycc a = ForwardColor(left), b = ForwardColor(right);
        vst1q_s16(Row(blocks, 0, row), a.y);
        vst1q_s16(Row(blocks, 1, row), b.y);
        vst1q_s16(Row(blocks, 2, row), PairSums(a.cb, b.cb));
        vst1q_s16(Row(blocks, 3, row), PairSums(a.cr, b.cr));
    }
}

// Chroma of 2 x 2 pixels: the halved sums of each row's pairs, added.
template <int Bpp>
void ConvertH2V2Neon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        int16x8_t cb[2], cr[2];
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int yBlock = row < 8 ? 0 : 2;
            Channels left, right;
            LoadSixteen<Bpp>(rows[row], &left, &right);
            const Ycc a = ForwardColor(left), b = ForwardColor(right);
            vst1q_s16(Row(blocks, yBlock, row & 7), a.y);
            vst1q_s16(Row(blocks, yBlock + 1, row & 7), b.y);
            cb[k] = HalvedPairSums(a.cb, b.cb);
            cr[k] = HalvedPairSums(a.cr, b.cr);
        }
        vst1q_s16(Row(blocks, 4, pair), vaddq_s16(cb[0], cb[1]));
        vst1q_s16(Row(blocks, 5, pair), vaddq_s16(cr[0], cr[1]));
    }
}

// 32 x 8: four Y blocks side by side; the chroma of four pixels is the sum of
// the halved sums of its two pairs.
template <int Bpp>
void ConvertH4V1Neon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        Ycc v[4];
        for (int half = 0; half < 2; ++half) {
            Channels left, right;
            LoadSixteen<Bpp>(rows[row] + 16 * Bpp * half, &left, &right);
            v[2 * half] = ForwardColor(left);
            v[2 * half + 1] = ForwardColor(right);
        }
        for (int i = 0; i < 4; ++i) vst1q_s16(Row(blocks, i, row), v[i].y);
        vst1q_s16(Row(blocks, 4, row),
                  PairSums(HalvedPairSums(v[0].cb, v[1].cb), HalvedPairSums(v[2].cb, v[3].cb)));
        vst1q_s16(Row(blocks, 5, row),
                  PairSums(HalvedPairSums(v[0].cr, v[1].cr), HalvedPairSums(v[2].cr, v[3].cr)));
    }
}

// 128 x (v - 128), the level shift of one sample.
inline int16x8_t Level(uint8x8_t v) { return vshlq_n_s16(Centred(v), 7); }
inline int16x8_t LevelHigh(uint8x16_t v) { return vshlq_n_s16(CentredHigh(v), 7); }

void ConvertGreyNeon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) vst1q_s16(Row(blocks, 0, row), Level(vld1_u8(rows[row])));
}

void ConvertCmykNeon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        const uint8x8x4_t v = vld4_u8(rows[row]);
        for (int k = 0; k < 4; ++k) vst1q_s16(Row(blocks, k, row), Level(v.val[k]));
    }
}

// Components 0 and 3 at full resolution (laid out like the Y blocks of the
// 2 x 2 case), 1 and 2 as the sum of 2 x 2 values at scale 32.
void ConvertCmykH2V2Neon(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        int16x8_t sum1 = vdupq_n_s16(0), sum2 = vdupq_n_s16(0);
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int block = row < 8 ? 0 : 2;
            const uint8x16x4_t v = vld4q_u8(rows[row]);
            vst1q_s16(Row(blocks, block, row & 7), Level(vget_low_u8(v.val[0])));
            vst1q_s16(Row(blocks, block + 1, row & 7), LevelHigh(v.val[0]));
            vst1q_s16(Row(blocks, block + 6, row & 7), Level(vget_low_u8(v.val[3])));
            vst1q_s16(Row(blocks, block + 7, row & 7), LevelHigh(v.val[3]));
            sum1 = vaddq_s16(sum1, PairSums(Centred(vget_low_u8(v.val[1])), CentredHigh(v.val[1])));
            sum2 = vaddq_s16(sum2, PairSums(Centred(vget_low_u8(v.val[2])), CentredHigh(v.val[2])));
        }
        vst1q_s16(Row(blocks, 4, pair), vshlq_n_s16(sum1, 5));
        vst1q_s16(Row(blocks, 5, pair), vshlq_n_s16(sum2, 5));
    }
}

template <int Bpp>
McuConverter ThreeComponentConverter(uint16_t samplingIndex) {
    switch (samplingIndex) {
        case 0: return ConvertH2V1Neon<Bpp>;
        case 1: return ConvertH2V2Neon<Bpp>;
        case 2: return ConvertH1V1Neon<Bpp>;
        default: return nullptr;
    }
}

}  // namespace

// Each routine is built for its pixel size, so the size the engine passes
// it (as it does the scalar ones) is not read.
McuConverter ChooseConverterNeon(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    switch (samplingIndex) {
        case 3: return bytesPerPixel == 1 ? ConvertGreyNeon : nullptr;
        case 4: return bytesPerPixel == 4 ? ConvertCmykH2V2Neon : nullptr;
        case 5: return bytesPerPixel == 4 ? ConvertCmykNeon : nullptr;
        // 4:1:1 comes with 24-bit pixels only.
        case 6: return bytesPerPixel == 3 ? ConvertH4V1Neon<3> : nullptr;
        default: break;
    }
    switch (bytesPerPixel) {
        case 2: return ThreeComponentConverter<2>(samplingIndex);
        case 3: return ThreeComponentConverter<3>(samplingIndex);
        case 4: return ThreeComponentConverter<4>(samplingIndex);
        default: return nullptr;
    }
}

}  // namespace q32vex
