// Body of the vector MCU output routines (scalar twin: decode/color_output.cpp;
// ARM twin: kernels/arm/color_output_neon.cpp), compiled once per target by
// color_output_sse2/ssse3/avx2.cpp. The chroma tables are replaced by 16-bit
// formulas, I x c + ((c x M) >> 16) + K with K one step higher below a
// threshold, that equal every table entry (checked at compile time in
// kernels/color_terms.h), so eight pixels need no table look-ups.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "kernels/color_terms.h"
#include "kernels/x86/simd_x86.h"

namespace q32vex {
namespace {

inline __m128i Set16(int v) { return _mm_set1_epi16(int16_t(v)); }

inline __m128i ChromaOf(__m128i c4, const ChromaTerm& t) {
    __m128i v = _mm_add_epi16(_mm_mullo_epi16(c4, Set16(t.whole)), _mm_mulhi_epi16(c4, Set16(t.fraction)));
    v = _mm_add_epi16(v, Set16(t.base));
    const __m128i below = _mm_cmpgt_epi16(Set16(t.threshold), c4);  // -1 where c4 < threshold
    return t.lowStep > 0 ? _mm_sub_epi16(v, below) : _mm_add_epi16(v, below);
}

// Blue, green and red terms of eight chroma pairs.
struct ChromaTerms {
    __m128i blue, green, red;
};
inline ChromaTerms ChromaRow(const int16_t* cbRow, const int16_t* crRow) {
    const __m128i cb = _mm_srai_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(cbRow)), 6);
    const __m128i cr = _mm_srai_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(crRow)), 6);
    ChromaTerms t;
    t.blue = ChromaOf(cb, kCbBlue);
    t.green = _mm_add_epi16(ChromaOf(cb, kCbGreen), ChromaOf(cr, kCrGreen));
    t.red = ChromaOf(cr, kCrRed);
    return t;
}

// Each lane of the low (High = false) or high half twice: chroma for the
// eight pixels that four chroma samples cover side by side.
template <bool High>
inline ChromaTerms Widen2(const ChromaTerms& t) {
    ChromaTerms w;
    w.blue = High ? _mm_unpackhi_epi16(t.blue, t.blue) : _mm_unpacklo_epi16(t.blue, t.blue);
    w.green = High ? _mm_unpackhi_epi16(t.green, t.green) : _mm_unpacklo_epi16(t.green, t.green);
    w.red = High ? _mm_unpackhi_epi16(t.red, t.red) : _mm_unpacklo_epi16(t.red, t.red);
    return w;
}
template <bool High>
inline ChromaTerms Widen2x32(const ChromaTerms& t) {
    ChromaTerms w;
    w.blue = High ? _mm_unpackhi_epi32(t.blue, t.blue) : _mm_unpacklo_epi32(t.blue, t.blue);
    w.green = High ? _mm_unpackhi_epi32(t.green, t.green) : _mm_unpacklo_epi32(t.green, t.green);
    w.red = High ? _mm_unpackhi_epi32(t.red, t.red) : _mm_unpacklo_epi32(t.red, t.red);
    return w;
}

// A 16-bit channel sum to 0..383, where 256..383 mean "passed 32767" and
// become 255 in the final unsigned pack: bit 15 clear gives sum >> 7, bits
// 15 and 14 set (negative) give 0, bit 15 alone gives 255.
inline __m128i ReduceChannel(__m128i sum) {
    const __m128i quarter = Set16(0x4000);
    return _mm_srli_epi16(_mm_subs_epu16(_mm_add_epi16(sum, quarter), quarter), 7);
}

#if defined(__SSSE3__)
// Masks that interleave bytes B0..B7 G0..G7 (register bg) and R0..R7
// (register rr) into 24 bytes of blue-green-red pixels, in two parts.
struct InterleaveMasks {
    alignas(16) uint8_t fromBg[2][16];
    alignas(16) uint8_t fromR[2][16];
};
constexpr InterleaveMasks MakeInterleaveMasks() {
    InterleaveMasks m{};
    for (int part = 0; part < 2; ++part) {
        for (int i = 0; i < 16; ++i) {
            const int out = 16 * part + i;  // byte of the 24-byte run (16..31 unused)
            const int pixel = out / 3, channel = out % 3;
            const bool valid = out < 24;
            m.fromBg[part][i] = valid && channel < 2 ? uint8_t(channel * 8 + pixel) : 0x80;
            m.fromR[part][i] = valid && channel == 2 ? uint8_t(pixel) : 0x80;
        }
    }
    return m;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();
inline __m128i MaskAt(const uint8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }
#endif

// A channel of eight pixels from their luma (0..32767, seven fraction bits)
// and colour terms. Wrapping: the 16-bit sum through ReduceChannel, 0..383.
// Saturating: the sum with signed saturation, exact for every sum up to 32767
// (the smallest, -28935, included) and 32767 for the larger ones; shifted to
// -227..255 and the negatives raised to 0.
template <ColourOutput Colour>
inline __m128i ChannelOf(__m128i y, __m128i term) {
    if (Colour == ColourOutput::kSaturating)
        return _mm_max_epi16(_mm_srai_epi16(_mm_adds_epi16(y, term), 7), _mm_setzero_si128());
    return ReduceChannel(_mm_add_epi16(y, term));
}

// Blue, green and red of eight pixels from luma samples and the chroma terms
// of their positions: 0..383 wrapping, 0..255 saturating (see ChannelOf).
struct Channels {
    __m128i blue, green, red;
};
template <ColourOutput Colour>
inline Channels PixelChannels(__m128i luma, const ChromaTerms& t) {
    const __m128i y = _mm_srli_epi16(_mm_xor_si128(luma, Set16(0x8000)), 1);
    return Channels{ChannelOf<Colour>(y, t.blue), ChannelOf<Colour>(y, t.green), ChannelOf<Colour>(y, t.red)};
}

// Eight pixels packed into Bpp bytes each at out. The fourth byte of 4-byte
// pixels keeps what the destination held.
template <int Bpp>
inline void PackPixels(uint8_t* out, const Channels& c) {
    const __m128i b = c.blue, gr = c.green, r = c.red;
    if (Bpp == 2) {
        const __m128i top = Set16(255);
        const __m128i b5 = _mm_srli_epi16(_mm_min_epi16(b, top), 3);
        const __m128i g5 = _mm_srli_epi16(_mm_min_epi16(gr, top), 3);
        const __m128i r5 = _mm_srli_epi16(_mm_min_epi16(r, top), 3);
        const __m128i word = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r5, 10), _mm_slli_epi16(g5, 5)), b5);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), word);
    } else if (Bpp == 4) {
        const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), _mm_packus_epi16(gr, gr));
        const __m128i r0 = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), _mm_setzero_si128());
        const __m128i keep = _mm_set1_epi32(int32_t(0xFF000000u));
        __m128i* p0 = reinterpret_cast<__m128i*>(out);
        __m128i* p1 = reinterpret_cast<__m128i*>(out + 16);
        const __m128i old0 = _mm_and_si128(_mm_loadu_si128(p0), keep);
        const __m128i old1 = _mm_and_si128(_mm_loadu_si128(p1), keep);
        _mm_storeu_si128(p0, _mm_or_si128(old0, _mm_unpacklo_epi16(bg, r0)));
        _mm_storeu_si128(p1, _mm_or_si128(old1, _mm_unpackhi_epi16(bg, r0)));
    } else {
        const __m128i bg = _mm_packus_epi16(b, gr);
        const __m128i rr = _mm_packus_epi16(r, r);
#if defined(__SSSE3__)
        const __m128i first = _mm_or_si128(_mm_shuffle_epi8(bg, MaskAt(kInterleave.fromBg[0])),
                                           _mm_shuffle_epi8(rr, MaskAt(kInterleave.fromR[0])));
        const __m128i second = _mm_or_si128(_mm_shuffle_epi8(bg, MaskAt(kInterleave.fromBg[1])),
                                            _mm_shuffle_epi8(rr, MaskAt(kInterleave.fromR[1])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), second);
#else
        alignas(16) uint8_t bgBytes[16], rBytes[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(bgBytes), bg);
        _mm_store_si128(reinterpret_cast<__m128i*>(rBytes), rr);
        for (int i = 0; i < 8; ++i) {
            out[3 * i] = bgBytes[i];
            out[3 * i + 1] = bgBytes[8 + i];
            out[3 * i + 2] = rBytes[i];
        }
#endif
    }
}

template <int Bpp, ColourOutput Colour>
inline void StorePixels(uint8_t* out, __m128i luma, const ChromaTerms& t) {
    PackPixels<Bpp>(out, PixelChannels<Colour>(luma, t));
}

using ConstBlocks = const int16_t (*)[64];

inline __m128i LumaRow(ConstBlocks blocks, int block, int row) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(blocks[block] + 8 * row));
}
inline const int16_t* SampleRow(ConstBlocks blocks, int block, int row) { return blocks[block] + 8 * row; }

}  // namespace
}  // namespace q32vex

#include "kernels/mcu_output_rows.h"  // after the per-row operations it uses

namespace q32vex {
namespace {

// Level-restored bytes of a sample row: (s >> 8) + 128, i.e. the high byte
// with its top bit inverted.
inline __m128i SampleBytes(__m128i s) {
    return _mm_xor_si128(_mm_packs_epi16(_mm_srai_epi16(s, 8), _mm_setzero_si128()), _mm_set1_epi8(-128));
}

void OutputGreyVector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[row]), SampleBytes(LumaRow(blocks, 0, row)));
}

// Eight four-byte pixels from the four component rows.
inline void StoreFour(uint8_t* out, __m128i c0, __m128i c1, __m128i c2, __m128i c3) {
    const __m128i c01 = _mm_unpacklo_epi8(SampleBytes(c0), SampleBytes(c1));
    const __m128i c23 = _mm_unpacklo_epi8(SampleBytes(c2), SampleBytes(c3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(c01, c23));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(c01, c23));
}

void OutputFourVector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row)
        StoreFour(rows[row], LumaRow(blocks, 0, row), LumaRow(blocks, 1, row), LumaRow(blocks, 2, row), LumaRow(blocks, 3, row));
}

// Components 0 and 3 in four blocks each (0..3 and 6..9), 1 and 2 (blocks 4
// and 5) replicated over 2 x 2 pixels.
void OutputFourH2V2Vector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        const __m128i c1 = LumaRow(blocks, 4, pair), c2 = LumaRow(blocks, 5, pair);
        const __m128i c1Left = _mm_unpacklo_epi16(c1, c1), c1Right = _mm_unpackhi_epi16(c1, c1);
        const __m128i c2Left = _mm_unpacklo_epi16(c2, c2), c2Right = _mm_unpackhi_epi16(c2, c2);
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int block = row < 8 ? 0 : 2;
            StoreFour(rows[row], LumaRow(blocks, block, row & 7), c1Left, c2Left, LumaRow(blocks, block + 6, row & 7));
            StoreFour(rows[row] + 32, LumaRow(blocks, block + 1, row & 7), c1Right, c2Right,
                      LumaRow(blocks, block + 7, row & 7));
        }
    }
}

#if defined(__AVX2__)
// Sixteen pixels per step: the chroma terms and channel sums on 256-bit
// registers, the packing per half.
inline __m256i Set16x(int v) { return _mm256_set1_epi16(int16_t(v)); }

inline __m256i ChromaOf(__m256i c4, const ChromaTerm& t) {
    __m256i v = _mm256_add_epi16(_mm256_mullo_epi16(c4, Set16x(t.whole)), _mm256_mulhi_epi16(c4, Set16x(t.fraction)));
    v = _mm256_add_epi16(v, Set16x(t.base));
    const __m256i below = _mm256_cmpgt_epi16(Set16x(t.threshold), c4);
    return t.lowStep > 0 ? _mm256_sub_epi16(v, below) : _mm256_add_epi16(v, below);
}

struct WideTerms {
    __m256i blue, green, red;
};

inline WideTerms WideChroma(__m256i cbSamples, __m256i crSamples) {
    const __m256i cb = _mm256_srai_epi16(cbSamples, 6);
    const __m256i cr = _mm256_srai_epi16(crSamples, 6);
    return WideTerms{ChromaOf(cb, kCbBlue), _mm256_add_epi16(ChromaOf(cb, kCbGreen), ChromaOf(cr, kCrGreen)),
                     ChromaOf(cr, kCrRed)};
}

inline __m256i ReduceChannel(__m256i sum) {
    const __m256i quarter = Set16x(0x4000);
    return _mm256_srli_epi16(_mm256_subs_epu16(_mm256_add_epi16(sum, quarter), quarter), 7);
}

template <ColourOutput Colour>
inline __m256i ChannelOf(__m256i y, __m256i term) {
    if (Colour == ColourOutput::kSaturating)
        return _mm256_max_epi16(_mm256_srai_epi16(_mm256_adds_epi16(y, term), 7), _mm256_setzero_si256());
    return ReduceChannel(_mm256_add_epi16(y, term));
}

// Sixteen pixels from their channels (pixels 0..7 in the low half), 0..7 to
// low and 8..15 to high: PackPixels' layouts, with the byte moves done on
// both halves at once.
template <int Bpp>
inline void PackWide(uint8_t* low, uint8_t* high, __m256i b, __m256i gr, __m256i r) {
    if (Bpp == 3) {
        const __m256i bg = _mm256_packus_epi16(b, gr);
        const __m256i rr = _mm256_packus_epi16(r, r);
        const auto mask = [](const uint8_t* m) { return _mm256_broadcastsi128_si256(MaskAt(m)); };
        const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(bg, mask(kInterleave.fromBg[0])),
                                              _mm256_shuffle_epi8(rr, mask(kInterleave.fromR[0])));
        const __m256i second = _mm256_or_si256(_mm256_shuffle_epi8(bg, mask(kInterleave.fromBg[1])),
                                               _mm256_shuffle_epi8(rr, mask(kInterleave.fromR[1])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(low), LowHalf(first));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(low + 16), LowHalf(second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(high), HighHalf(first));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(high + 16), HighHalf(second));
    } else if (Bpp == 4) {
        const __m256i bg = _mm256_unpacklo_epi8(_mm256_packus_epi16(b, b), _mm256_packus_epi16(gr, gr));
        const __m256i r0 = _mm256_unpacklo_epi8(_mm256_packus_epi16(r, r), _mm256_setzero_si256());
        const __m256i front = _mm256_unpacklo_epi16(bg, r0), back = _mm256_unpackhi_epi16(bg, r0);
        const __m256i keep = _mm256_set1_epi32(int32_t(0xFF000000u));
        __m256i* p0 = reinterpret_cast<__m256i*>(low);
        __m256i* p1 = reinterpret_cast<__m256i*>(high);
        const __m256i old0 = _mm256_and_si256(_mm256_loadu_si256(p0), keep);
        const __m256i old1 = _mm256_and_si256(_mm256_loadu_si256(p1), keep);
        _mm256_storeu_si256(p0, _mm256_or_si256(old0, _mm256_permute2x128_si256(front, back, 0x20)));
        _mm256_storeu_si256(p1, _mm256_or_si256(old1, _mm256_permute2x128_si256(front, back, 0x31)));
    } else {
        PackPixels<Bpp>(low, Channels{LowHalf(b), LowHalf(gr), LowHalf(r)});
        PackPixels<Bpp>(high, Channels{HighHalf(b), HighHalf(gr), HighHalf(r)});
    }
}

// Pixels 0..7 of the register to low, 8..15 to high.
template <int Bpp, ColourOutput Colour>
inline void StoreWide(uint8_t* low, uint8_t* high, __m256i luma, const WideTerms& t) {
    const __m256i y = _mm256_srli_epi16(_mm256_xor_si256(luma, Set16x(0x8000)), 1);
    const __m256i b = ChannelOf<Colour>(y, t.blue);
    const __m256i gr = ChannelOf<Colour>(y, t.green);
    const __m256i r = ChannelOf<Colour>(y, t.red);
    PackWide<Bpp>(low, high, b, gr, r);
}

inline __m256i TwoRows(ConstBlocks blocks, int block, int row) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(blocks[block] + 8 * row));
}

template <int Bpp, ColourOutput Colour>
void OutputH1V1Wide(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; row += 2)
        StoreWide<Bpp, Colour>(rows[row], rows[row + 1], TwoRows(blocks, 0, row), WideChroma(TwoRows(blocks, 1, row), TwoRows(blocks, 2, row)));
}

// The chroma terms of rows `row` and row + 1 of the chroma blocks, worked
// out once per sample and then each taken twice: the sixteen pixels each
// row of samples covers.
inline void DoubledChroma(ConstBlocks blocks, int cbBlock, int crBlock, int row, WideTerms* first,
                          WideTerms* second) {
    const WideTerms t = WideChroma(TwoRows(blocks, cbBlock, row), TwoRows(blocks, crBlock, row));
    const auto spread = [](__m256i v, __m256i* a, __m256i* b) {
        const __m256i low = _mm256_unpacklo_epi16(v, v), high = _mm256_unpackhi_epi16(v, v);
        *a = _mm256_permute2x128_si256(low, high, 0x20);
        *b = _mm256_permute2x128_si256(low, high, 0x31);
    };
    spread(t.blue, &first->blue, &second->blue);
    spread(t.green, &first->green, &second->green);
    spread(t.red, &first->red, &second->red);
}

template <int Bpp, ColourOutput Colour>
void OutputH2V1Wide(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; row += 2) {
        WideTerms t[2];
        DoubledChroma(blocks, 2, 3, row, &t[0], &t[1]);
        for (int k = 0; k < 2; ++k) {
            StoreWide<Bpp, Colour>(rows[row + k], rows[row + k] + 8 * Bpp,
                                   Join(LumaRow(blocks, 0, row + k), LumaRow(blocks, 1, row + k)), t[k]);
        }
    }
}

template <int Bpp, ColourOutput Colour>
void OutputH2V2Wide(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; pair += 2) {
        WideTerms t[2];
        DoubledChroma(blocks, 4, 5, pair, &t[0], &t[1]);
        for (int k = 0; k < 4; ++k) {
            const int row = 2 * pair + k;
            const int yBlock = row < 8 ? 0 : 2;
            StoreWide<Bpp, Colour>(rows[row], rows[row] + 8 * Bpp,
                                   Join(LumaRow(blocks, yBlock, row & 7), LumaRow(blocks, yBlock + 1, row & 7)), t[k >> 1]);
        }
    }
}
#endif

template <int Bpp, ColourOutput Colour>
McuOutputRoutine ThreeComponentRoutine(uint16_t samplingIndex) {
#if defined(__AVX2__)
    switch (samplingIndex) {
        case 0: return OutputH2V1Wide<Bpp, Colour>;
        case 1: return OutputH2V2Wide<Bpp, Colour>;
        case 2: return OutputH1V1Wide<Bpp, Colour>;
        default: break;
    }
#endif
    switch (samplingIndex) {
        case 0: return OutputH2V1Vector<Bpp, Colour>;
        case 1: return OutputH2V2Vector<Bpp, Colour>;
        case 2: return OutputH1V1Vector<Bpp, Colour>;
        case 6: return OutputH4V1Vector<Bpp, Colour>;
        default: return nullptr;
    }
}

// The routine for a sampling index and pixel size, or null where the scalar
// routine is the only one. Each routine is built for its pixel size, so the
// size the engine passes it (as it does the scalar ones) is not read. Grey
// and four-component samples cannot leave 0..255, so both colour outputs
// have the same routines for them.
template <ColourOutput Colour>
McuOutputRoutine ChooseVectorOutput(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    switch (samplingIndex) {
        case 3: return bytesPerPixel == 1 ? OutputGreyVector : nullptr;
        case 4: return bytesPerPixel == 4 ? OutputFourH2V2Vector : nullptr;
        case 5: return bytesPerPixel == 4 ? OutputFourVector : nullptr;
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
}  // namespace q32vex
