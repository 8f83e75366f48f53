// Host pixels of one MCU to level-shifted sample blocks (scalar reference;
// vector twins in kernels/x86/color_convert_simd.h and
// kernels/arm/color_convert_neon.cpp). The YCbCr transform
// is three table lookups per pixel; the tables carry chroma at half scale so
// that averaging two pixels is a plain sum. One routine per sampling.
#include "encode/color_convert.h"

#include <cstring>


namespace q32vex {
namespace {

// A double coefficient as the exact fraction mantissa / 2^shift, found by
// doubling until it is an integer (every doubling is exact).
struct ExactCoefficient {
    int64_t mantissa;
    int shift;
};

constexpr ExactCoefficient Exact(double c) {
    int shift = 0;
    while (c != double(int64_t(c))) {
        c *= 2.0;
        ++shift;
    }
    return {int64_t(c), shift};
}

// trunc(c x (v - 128) x 2^scaleLog2) with the product formed exactly: plain
// double arithmetic would round some products up to the next integer.
constexpr int16_t Contribution(ExactCoefficient c, int v, int scaleLog2) {
    const int64_t product = c.mantissa * (v - 128);
    if (c.shift >= scaleLog2) return int16_t(product / (int64_t(1) << (c.shift - scaleLog2)));
    return int16_t(product * (int64_t(1) << (scaleLog2 - c.shift)));
}

// Coefficients per channel (blue, green, red); Y at scale 128 (2^7), chroma
// at scale 64 (2^6).
constexpr double kCoefY[3] = {0.114, 0.587, 0.299};
constexpr double kCoefCb[3] = {0.5, -0.3316, -0.169};
constexpr double kCoefCr[3] = {-0.0813, -0.4186, 0.5};
constexpr ExactCoefficient kExactY[3] = {Exact(kCoefY[0]), Exact(kCoefY[1]), Exact(kCoefY[2])};
constexpr ExactCoefficient kExactCb[3] = {Exact(kCoefCb[0]), Exact(kCoefCb[1]), Exact(kCoefCb[2])};
constexpr ExactCoefficient kExactCr[3] = {Exact(kCoefCr[0]), Exact(kCoefCr[1]), Exact(kCoefCr[2])};

constexpr ColorContribution ForwardEntry(int channel, int v) {
    return {Contribution(kExactY[channel], v, 7), Contribution(kExactCb[channel], v, 6),
            Contribution(kExactCr[channel], v, 6), 0};
}

}  // namespace

#define Q_FWD4(c, v) ForwardEntry(c, v), ForwardEntry(c, v + 1), ForwardEntry(c, v + 2), ForwardEntry(c, v + 3)
#define Q_FWD16(c, v) Q_FWD4(c, v), Q_FWD4(c, v + 4), Q_FWD4(c, v + 8), Q_FWD4(c, v + 12)
#define Q_FWD64(c, v) Q_FWD16(c, v), Q_FWD16(c, v + 16), Q_FWD16(c, v + 32), Q_FWD16(c, v + 48)
#define Q_FWD256(c) {Q_FWD64(c, 0), Q_FWD64(c, 64), Q_FWD64(c, 128), Q_FWD64(c, 192)}
constexpr ColorContribution kForwardColor[3][256] = {Q_FWD256(0), Q_FWD256(1), Q_FWD256(2)};
#undef Q_FWD256
#undef Q_FWD64
#undef Q_FWD16
#undef Q_FWD4

// The products that land exactly on an integer in decimal but whose double
// coefficient lies just below it: double arithmetic would give one more.
static_assert(kForwardColor[1][3].y == -9391 && kForwardColor[1][253].y == 9391);
static_assert(kForwardColor[2][3].y == -4783 && kForwardColor[2][253].y == 4783);
// Mid-grey is zero everywhere, so the level shift is built in; white sums to
// 16255 (one short of 127 x 128) through truncation.
static_assert(kForwardColor[0][128].y == 0 && kForwardColor[1][128].cb == 0 &&
              kForwardColor[2][128].cr == 0);
static_assert(kForwardColor[0][255].y + kForwardColor[1][255].y + kForwardColor[2][255].y == 16255);
static_assert(kForwardColor[0][255].cb == 4064 && kForwardColor[1][255].cb == -2695 &&
              kForwardColor[2][255].cb == -1373);

namespace {

struct Ycc {
    int16_t y, cb, cr;
};

inline Ycc Lookup(unsigned blue, unsigned green, unsigned red) {
    const ColorContribution& b = kForwardColor[0][blue];
    const ColorContribution& gr = kForwardColor[1][green];
    const ColorContribution& r = kForwardColor[2][red];
    return {int16_t(b.y + gr.y + r.y), int16_t(b.cb + gr.cb + r.cb), int16_t(b.cr + gr.cr + r.cr)};
}

// Blue, green, red bytes; a fourth byte per pixel is skipped by the stride.
struct BytePixels {
    int stride;
    Ycc operator()(const uint8_t* row, int x) const {
        const uint8_t* p = row + x * stride;
        return Lookup(p[0], p[1], p[2]);
    }
};

// Little-endian 5-5-5 words; a 5-bit value c stands for 8c.
struct WordPixels {
    Ycc operator()(const uint8_t* row, int x) const {
        const uint8_t* p = row + 2 * x;
        const unsigned w = unsigned(p[0]) | (unsigned(p[1]) << 8);
        return Lookup((w & 31) << 3, ((w >> 5) & 31) << 3, ((w >> 10) & 31) << 3);
    }
};

inline int16_t Sum(int16_t a, int16_t b) { return int16_t(a + b); }
// Mean of four scale-64 values at scale 128, halving each pair first.
inline int16_t Sum4(int16_t a, int16_t b, int16_t c, int16_t d) {
    return int16_t((int16_t(a + b) >> 1) + (int16_t(c + d) >> 1));
}
inline int16_t Level(uint8_t v) { return int16_t((int(v) - 128) * 128); }

template <class Pixels>
void H2V1(uint8_t* const* rows, int16_t (*blocks)[64], Pixels pixel) {
    for (int r = 0; r < 8; ++r) {
        for (int j = 0; j < 8; ++j) {
            const Ycc a = pixel(rows[r], 2 * j);
            const Ycc b = pixel(rows[r], 2 * j + 1);
            int16_t* y = blocks[j >> 2] + 8 * r + ((2 * j) & 7);
            y[0] = a.y;
            y[1] = b.y;
            blocks[2][8 * r + j] = Sum(a.cb, b.cb);
            blocks[3][8 * r + j] = Sum(a.cr, b.cr);
        }
    }
}

template <class Pixels>
void H2V2(uint8_t* const* rows, int16_t (*blocks)[64], Pixels pixel) {
    for (int i = 0; i < 8; ++i) {
        const uint8_t* top = rows[2 * i];
        const uint8_t* bottom = rows[2 * i + 1];
        const int half = (i >> 2) * 2;  // Y blocks 2 and 3 hold rows 8..15
        const int row = (2 * i) & 7;
        for (int j = 0; j < 8; ++j) {
            const Ycc tl = pixel(top, 2 * j);
            const Ycc tr = pixel(top, 2 * j + 1);
            const Ycc bl = pixel(bottom, 2 * j);
            const Ycc br = pixel(bottom, 2 * j + 1);
            int16_t* y = blocks[half + (j >> 2)] + 8 * row + ((2 * j) & 7);
            y[0] = tl.y;
            y[1] = tr.y;
            y[8] = bl.y;
            y[9] = br.y;
            blocks[4][8 * i + j] = Sum4(tl.cb, tr.cb, bl.cb, br.cb);
            blocks[5][8 * i + j] = Sum4(tl.cr, tr.cr, bl.cr, br.cr);
        }
    }
}

template <class Pixels>
void H1V1(uint8_t* const* rows, int16_t (*blocks)[64], Pixels pixel) {
    for (int r = 0; r < 8; ++r) {
        for (int x = 0; x < 8; ++x) {
            const Ycc p = pixel(rows[r], x);
            blocks[0][8 * r + x] = p.y;
            blocks[1][8 * r + x] = int16_t(p.cb * 2);
            blocks[2][8 * r + x] = int16_t(p.cr * 2);
        }
    }
}

// 32 x 8: four Y blocks left to right, chroma of each four pixels averaged
// the way the 2 x 2 case averages its two rows.
template <class Pixels>
void H4V1(uint8_t* const* rows, int16_t (*blocks)[64], Pixels pixel) {
    for (int r = 0; r < 8; ++r) {
        for (int j = 0; j < 8; ++j) {
            const Ycc p0 = pixel(rows[r], 4 * j);
            const Ycc p1 = pixel(rows[r], 4 * j + 1);
            const Ycc p2 = pixel(rows[r], 4 * j + 2);
            const Ycc p3 = pixel(rows[r], 4 * j + 3);
            int16_t* y = blocks[j >> 1] + 8 * r + ((4 * j) & 7);
            y[0] = p0.y;
            y[1] = p1.y;
            y[2] = p2.y;
            y[3] = p3.y;
            blocks[4][8 * r + j] = Sum4(p0.cb, p1.cb, p2.cb, p3.cb);
            blocks[5][8 * r + j] = Sum4(p0.cr, p1.cr, p2.cr, p3.cr);
        }
    }
}

}  // namespace

// The three-component converters choose the byte or the word path once per
// MCU, not per pixel.
void ConvertH2V1(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel) {
    if (bytesPerPixel > 2) H2V1(rows, blocks, BytePixels{bytesPerPixel});
    else H2V1(rows, blocks, WordPixels{});
}

void ConvertH2V2(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel) {
    if (bytesPerPixel > 2) H2V2(rows, blocks, BytePixels{bytesPerPixel});
    else H2V2(rows, blocks, WordPixels{});
}

void ConvertH1V1(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel) {
    if (bytesPerPixel > 2) H1V1(rows, blocks, BytePixels{bytesPerPixel});
    else H1V1(rows, blocks, WordPixels{});
}

void ConvertH4V1(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel) {
    if (bytesPerPixel > 2) H4V1(rows, blocks, BytePixels{bytesPerPixel});
    else H4V1(rows, blocks, WordPixels{});
}

// Grey and four-component pixels have one size each (1 and 4 bytes).
void ConvertGrey(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    int16_t* block = blocks[0];
    for (int r = 0; r < 8; ++r) {
        for (int x = 0; x < 8; ++x) block[8 * r + x] = Level(rows[r][x]);
    }
}

// Components 0 and 3 at full resolution (laid out like the Y blocks of the
// 2 x 2 case), 1 and 2 averaged over 2 x 2 pixels: four values at scale 32.
void ConvertCmykH2V2(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int i = 0; i < 8; ++i) {
        const uint8_t* top = rows[2 * i];
        const uint8_t* bottom = rows[2 * i + 1];
        const int half = (i >> 2) * 2;
        const int row = (2 * i) & 7;
        for (int j = 0; j < 8; ++j) {
            const uint8_t* tl = top + 8 * j;
            const uint8_t* tr = tl + 4;
            const uint8_t* bl = bottom + 8 * j;
            const uint8_t* br = bl + 4;
            const int at = 8 * row + ((2 * j) & 7);
            int16_t* c0 = blocks[half + (j >> 2)] + at;
            int16_t* c3 = blocks[6 + half + (j >> 2)] + at;
            c0[0] = Level(tl[0]);
            c0[1] = Level(tr[0]);
            c0[8] = Level(bl[0]);
            c0[9] = Level(br[0]);
            c3[0] = Level(tl[3]);
            c3[1] = Level(tr[3]);
            c3[8] = Level(bl[3]);
            c3[9] = Level(br[3]);
            for (int k = 1; k <= 2; ++k) {
                blocks[3 + k][8 * i + j] = int16_t((tl[k] - 128) * 32 + (tr[k] - 128) * 32 +
                                                   (bl[k] - 128) * 32 + (br[k] - 128) * 32);
            }
        }
    }
}

void ConvertCmyk(uint8_t* const* rows, int16_t (*blocks)[64], int /*bytesPerPixel*/) {
    for (int r = 0; r < 8; ++r) {
        for (int x = 0; x < 8; ++x) {
            const uint8_t* p = rows[r] + 4 * x;
            for (int k = 0; k < 4; ++k) blocks[k][8 * r + x] = Level(p[k]);
        }
    }
}

void FillEdgeMcu(const FormatInfo& format, uint8_t* const* rows, uint16_t width, uint16_t height,
                 uint8_t (*edge)[kEdgeRowBytes]) {
    const int bytesPerPixel = format.bytesPerPixel;
    const int mcuWidth = format.mcuWidth;
    const int mcuHeight = format.mcuHeight;
    // The caller never passes more than one MCU; clamp anyway so that the
    // copies stay inside the sixteen rows.
    int w = width < mcuWidth ? width : mcuWidth;
    int h = height < mcuHeight ? height : mcuHeight;
    if (w == 0 || h == 0) {
        // Wholly outside the image: one mid-grey pixel, repeated below.
        std::memset(edge[0], 128, size_t(bytesPerPixel));
        w = h = 1;
    } else {
        for (int r = 0; r < h; ++r) std::memcpy(edge[r], rows[r], size_t(w) * bytesPerPixel);
    }
    const int rowBytes = mcuWidth * bytesPerPixel;
    for (int r = 0; r < h; ++r) {
        // Byte by byte on purpose: the overlapping copy repeats the last
        // real pixel to the right edge.
        uint8_t* row = edge[r];
        for (int i = w * bytesPerPixel; i < rowBytes; ++i) row[i] = row[i - bytesPerPixel];
    }
    for (int r = h; r < mcuHeight; ++r) std::memcpy(edge[r], edge[h - 1], size_t(rowBytes));
}

}  // namespace q32vex
