// MCU output routines for 64-bit ARM (scalar twins: the Output routines in
// decode/color_output.cpp; x86 twins: kernels/x86/color_output_simd.h). The
// chroma tables are replaced by 16-bit formulas, I x c + ((c x M) >> 16) + K
// with K one step higher below a threshold, that equal every table entry
// (kernels/color_terms.h checks that at compile time), so eight pixels need
// no table look-ups.
#include <arm_neon.h>

#include "kernels/arm/arm_kernels.h"
#include "kernels/color_terms.h"

namespace q32vex {
namespace {

using ConstBlocks = const int16_t (*)[64];

inline const int16_t* SampleRow(ConstBlocks blocks, int block, int row) { return blocks[block] + 8 * row; }
inline int16x8_t LumaRow(ConstBlocks blocks, int block, int row) { return vld1q_s16(SampleRow(blocks, block, row)); }

// One chroma term of c4 = sample >> 6 (-512..511). The doubling high product
// is (c4 x M) >> 15, floored; one more arithmetic shift floors it at 16 bits.
inline int16x8_t ChromaOf(int16x8_t c4, const ChromaTerm& t) {
    const int16x8_t high = vshrq_n_s16(vqdmulhq_s16(c4, vdupq_n_s16(t.fraction)), 1);
    const int16x8_t v = vaddq_s16(vmlaq_n_s16(high, c4, t.whole), vdupq_n_s16(t.base));
    const int16x8_t below = vreinterpretq_s16_u16(vcltq_s16(c4, vdupq_n_s16(t.threshold)));  // -1 below
    return t.lowStep > 0 ? vsubq_s16(v, below) : vaddq_s16(v, below);
}

// Blue, green and red terms of eight chroma pairs.
struct ChromaTerms {
    int16x8_t blue, green, red;
};

inline ChromaTerms ChromaRow(const int16_t* cbRow, const int16_t* crRow) {
    const int16x8_t cb = vshrq_n_s16(vld1q_s16(cbRow), 6);
    const int16x8_t cr = vshrq_n_s16(vld1q_s16(crRow), 6);
    return ChromaTerms{ChromaOf(cb, kCbBlue), vaddq_s16(ChromaOf(cb, kCbGreen), ChromaOf(cr, kCrGreen)),
                       ChromaOf(cr, kCrRed)};
}

// Each lane of the low (High = false) or high half twice: the terms of the
// eight pixels that four chroma samples cover side by side.
template <bool High>
inline int16x8_t Twice(int16x8_t v) { return High ? vzip2q_s16(v, v) : vzip1q_s16(v, v); }
template <bool High>
inline ChromaTerms Widen2(const ChromaTerms& t) {
    return ChromaTerms{Twice<High>(t.blue), Twice<High>(t.green), Twice<High>(t.red)};
}
// The same for pairs of lanes: each chroma sample over four pixels.
template <bool High>
inline int16x8_t PairTwice(int16x8_t v) {
    const int32x4_t w = vreinterpretq_s32_s16(v);
    return vreinterpretq_s16_s32(High ? vzip2q_s32(w, w) : vzip1q_s32(w, w));
}
template <bool High>
inline ChromaTerms Widen2x32(const ChromaTerms& t) {
    return ChromaTerms{PairTwice<High>(t.blue), PairTwice<High>(t.green), PairTwice<High>(t.red)};
}

// A channel sum of luma (0..32767, seven fraction bits) and a term to a byte.
// Wrapping, in 16 bits: bit 15 clear gives sum >> 7, bits 15 and 14 set
// (below zero) give 0, bit 15 alone (past 255) gives 255. Adding a quarter and
// taking it off again with unsigned saturation sends the negative sums to 0
// and leaves the others, and the saturating narrowing shift clips 256..383 to
// 255. Saturating: the sum with signed saturation, exact for every sum up to
// 32767 (the smallest, -28935, included) and 32767 for the larger ones; the
// narrowing shift to unsigned bytes clamps it to 0..255.
template <ColourOutput Colour>
inline uint8x8_t ChannelBytes(uint16x8_t y, int16x8_t term) {
    if constexpr (Colour == ColourOutput::kSaturating) {
        return vqshrun_n_s16(vqaddq_s16(vreinterpretq_s16_u16(y), term), 7);
    } else {
        const uint16x8_t quarter = vdupq_n_u16(0x4000);
        const uint16x8_t sum = vaddq_u16(y, vreinterpretq_u16_s16(term));
        return vqshrn_n_u16(vqsubq_u16(vaddq_u16(sum, quarter), quarter), 7);
    }
}

// Eight pixels of Bpp bytes at out from their luma samples and chroma terms.
// Three and four bytes are blue, green, red; the fourth byte keeps what the
// destination held. Two bytes are a 5-5-5 word, little-endian.
template <int Bpp, ColourOutput Colour>
inline void StorePixels(uint8_t* out, int16x8_t luma, const ChromaTerms& t) {
    const uint16x8_t y = vshrq_n_u16(veorq_u16(vreinterpretq_u16_s16(luma), vdupq_n_u16(0x8000)), 1);
    const uint8x8_t blue = ChannelBytes<Colour>(y, t.blue);
    const uint8x8_t green = ChannelBytes<Colour>(y, t.green);
    const uint8x8_t red = ChannelBytes<Colour>(y, t.red);
    if constexpr (Bpp == 4) {
        uint8x8x4_t pixels = vld4_u8(out);
        pixels.val[0] = blue;
        pixels.val[1] = green;
        pixels.val[2] = red;
        vst4_u8(out, pixels);
    } else if constexpr (Bpp == 3) {
        const uint8x8x3_t pixels = {{blue, green, red}};
        vst3_u8(out, pixels);
    } else {
        const uint8x8_t top5 = vdup_n_u8(0xF8);
        const uint16x8_t word = vorrq_u16(vorrq_u16(vshll_n_u8(vand_u8(red, top5), 7), vshll_n_u8(vand_u8(green, top5), 2)),
                                          vmovl_u8(vshr_n_u8(blue, 3)));
        vst1q_u8(out, vreinterpretq_u8_u16(word));
    }
}

}  // namespace
}  // namespace q32vex

#include "kernels/mcu_output_rows.h"  // after the per-row operations it uses

namespace q32vex {
namespace {

// Level-restored bytes of a sample row: (s >> 8) + 128 modulo 256, the high
// byte with its top bit inverted.
inline uint8x8_t SampleBytes(int16x8_t s) {
    return veor_u8(vshrn_n_u16(vreinterpretq_u16_s16(s), 8), vdup_n_u8(0x80));
}

void OutputGreyNeon(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) vst1_u8(rows[row], SampleBytes(LumaRow(blocks, 0, row)));
}

void OutputFourNeon(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        const uint8x8x4_t pixels = {{SampleBytes(LumaRow(blocks, 0, row)), SampleBytes(LumaRow(blocks, 1, row)),
                                     SampleBytes(LumaRow(blocks, 2, row)), SampleBytes(LumaRow(blocks, 3, row))}};
        vst4_u8(rows[row], pixels);
    }
}

// Components 0 and 3 in four blocks each (0..3 and 6..9), 1 and 2 (blocks 4
// and 5) replicated over 2 x 2 pixels.
void OutputFourH2V2Neon(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        const uint8x8_t c1 = SampleBytes(LumaRow(blocks, 4, pair));
        const uint8x8_t c2 = SampleBytes(LumaRow(blocks, 5, pair));
        const uint8x8_t c1Left = vzip1_u8(c1, c1), c1Right = vzip2_u8(c1, c1);
        const uint8x8_t c2Left = vzip1_u8(c2, c2), c2Right = vzip2_u8(c2, c2);
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int block = row < 8 ? 0 : 2;
            const uint8x8x4_t left = {{SampleBytes(LumaRow(blocks, block, row & 7)), c1Left, c2Left,
                                       SampleBytes(LumaRow(blocks, block + 6, row & 7))}};
            const uint8x8x4_t right = {{SampleBytes(LumaRow(blocks, block + 1, row & 7)), c1Right, c2Right,
                                        SampleBytes(LumaRow(blocks, block + 7, row & 7))}};
            vst4_u8(rows[row], left);
            vst4_u8(rows[row] + 32, right);
        }
    }
}

template <int Bpp, ColourOutput Colour>
McuOutputRoutine ThreeComponentRoutine(uint16_t samplingIndex) {
    switch (samplingIndex) {
        case 0: return OutputH2V1Vector<Bpp, Colour>;
        case 1: return OutputH2V2Vector<Bpp, Colour>;
        case 2: return OutputH1V1Vector<Bpp, Colour>;
        default: return nullptr;
    }
}

// Each routine is built for its pixel size, so the size the engine passes
// it (as it does the scalar ones) is not read. Grey and four-component
// samples cannot leave 0..255, so both colour outputs have the same
// routines for them.
template <ColourOutput Colour>
McuOutputRoutine ChooseVectorOutput(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    switch (samplingIndex) {
        case 3: return bytesPerPixel == 1 ? OutputGreyNeon : nullptr;
        case 4: return bytesPerPixel == 4 ? OutputFourH2V2Neon : nullptr;
        case 5: return bytesPerPixel == 4 ? OutputFourNeon : nullptr;
        // 4:1:1 comes with 24-bit pixels only.
        case 6: return bytesPerPixel == 3 ? OutputH4V1Vector<3, Colour> : nullptr;
        default: break;
    }
    switch (bytesPerPixel) {
        case 2: return ThreeComponentRoutine<2, Colour>(samplingIndex);
        case 3: return ThreeComponentRoutine<3, Colour>(samplingIndex);
        case 4: return ThreeComponentRoutine<4, Colour>(samplingIndex);
        default: return nullptr;
    }
}

}  // namespace

McuOutputRoutine ChooseOutputRoutineNeon(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    return ChooseVectorOutput<ColourOutput::kWrapping>(samplingIndex, bytesPerPixel);
}
McuOutputRoutine ChooseSaturatingOutputRoutineNeon(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    return ChooseVectorOutput<ColourOutput::kSaturating>(samplingIndex, bytesPerPixel);
}

}  // namespace q32vex
