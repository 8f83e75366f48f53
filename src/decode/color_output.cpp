// MCU output routines (scalar reference; vector twins in
// kernels/x86/color_output_simd.h and kernels/arm/color_output_neon.cpp):
// restore the sample level, replicate subsampled chroma over the pixels it
// covers, turn YCbCr into blue, green, red with two table look-ups per chroma
// pair, and pack pixels. One routine per sampling, the pixel size tested once
// per call.
#include "decode/color_output.h"

#include "decode/pixel_terms.h"

namespace q32vex {

namespace {

// Chroma tables are indexed by the top ten bits of a chroma sample, read as a
// ten-bit signed number c4 standing for the level-shifted value c = c4 / 4.
// Terms carry seven fraction bits; the +64 is half a level, so that blue, green
// and red come out rounded (green takes its half from the Cb side only).
constexpr double kCbBlue = 1.77;
constexpr double kCbGreen = -0.3437;
constexpr double kCrGreen = -0.7143;
constexpr double kCrRed = double(1.402f);  // single precision: 1.4019999504089355

constexpr int16_t Term(double coefficient, int index, double offset) {
    const double c = (index < 512 ? index : index - 1024) / 4.0;
    return int16_t((128.0 * coefficient) * c + offset);  // truncation towards zero
}

constexpr ChromaPair CbPair(int index) {
    return ChromaPair{Term(kCbBlue, index, 64.0), Term(kCbGreen, index, 64.0)};
}
constexpr ChromaPair CrPair(int index) {
    return ChromaPair{Term(kCrGreen, index, 0.0), Term(kCrRed, index, 64.0)};
}

}  // namespace

// The header fixes both tables as plain arrays, so their 1024 entries are spelt
// out here as 1024 compile-time calls.
#define Q_ROWS4(f, i) f(i), f((i) + 1), f((i) + 2), f((i) + 3)
#define Q_ROWS16(f, i) Q_ROWS4(f, i), Q_ROWS4(f, (i) + 4), Q_ROWS4(f, (i) + 8), Q_ROWS4(f, (i) + 12)
#define Q_ROWS64(f, i) \
    Q_ROWS16(f, i), Q_ROWS16(f, (i) + 16), Q_ROWS16(f, (i) + 32), Q_ROWS16(f, (i) + 48)
#define Q_ROWS256(f, i) \
    Q_ROWS64(f, i), Q_ROWS64(f, (i) + 64), Q_ROWS64(f, (i) + 128), Q_ROWS64(f, (i) + 192)
#define Q_ROWS1024(f) \
    Q_ROWS256(f, 0), Q_ROWS256(f, 256), Q_ROWS256(f, 512), Q_ROWS256(f, 768)

constexpr ChromaPair kInvCbTable[1024] = {Q_ROWS1024(CbPair)};
constexpr ChromaPair kInvCrTable[1024] = {Q_ROWS1024(CrPair)};

#undef Q_ROWS1024
#undef Q_ROWS256
#undef Q_ROWS64
#undef Q_ROWS16
#undef Q_ROWS4

namespace {

constexpr bool RowIs(int i, int blue, int green1, int green2, int red) {
    return kInvCbTable[i].first == blue && kInvCbTable[i].second == green1 &&
           kInvCrTable[i].first == green2 && kInvCrTable[i].second == red;
}
static_assert(RowIs(0, 64, 64, 0, 64), "chroma row 0");
static_assert(RowIs(1, 120, 53, -22, 108), "chroma row 1");
static_assert(RowIs(4, 290, 20, -91, 243), "chroma row 4");
static_assert(RowIs(100, 5728, -1035, -2285, 4550), "chroma row 100");
static_assert(RowIs(511, 29007, -5556, -11680, 22989), "chroma row 511");
static_assert(RowIs(512, -28935, 5695, 11703, -22906), "chroma row 512");
static_assert(RowIs(1023, 7, 74, 22, 19), "chroma row 1023");

using Block = int16_t[64];

// Three-component MCUs: component 0 in kH x kV blocks, then one Cb and one Cr
// block, each chroma sample replicated over kH x kV pixels.
template <int kBytes, int kH, int kV, ColourOutput kColour>
void WriteThree(uint8_t* const* rows, const Block* blocks) {
    const Block& cb = blocks[kH * kV];
    const Block& cr = blocks[kH * kV + 1];
    for (int y = 0; y < 8 * kV; ++y) {
        uint8_t* p = rows[y];
        const int lumaRow = (y & 7) * 8;
        const int chromaRow = (y / kV) * 8;
        for (int bx = 0; bx < kH; ++bx) {
            const Block& luma = blocks[(y >> 3) * kH + bx];
            for (int x = 0; x < 8; ++x) {
                const int chromaColumn = (bx * 8 + x) / kH;
                const ChromaTerms t =
                    TermsOf(cb[chromaRow + chromaColumn], cr[chromaRow + chromaColumn]);
                PutPixel<kBytes, kColour>(p, luma[lumaRow + x], t);
                p += kBytes;
            }
        }
    }
}

// The pixel-size test, made once per call. The format tables pair every
// three-component sampling with 2, 3 or 4 bytes per pixel; any other size
// writes nothing rather than guess a layout the host did not size its rows for.
template <int kH, int kV, ColourOutput kColour = ColourOutput::kWrapping>
void OutputThree(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    switch (bytesPerPixel) {
        case 2: WriteThree<2, kH, kV, kColour>(rows, blocks); break;
        case 3: WriteThree<3, kH, kV, kColour>(rows, blocks); break;
        case 4: WriteThree<4, kH, kV, kColour>(rows, blocks); break;
        default: break;
    }
}

}  // namespace

void OutputH2V1(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<2, 1>(rows, blocks, bytesPerPixel);
}
void OutputH2V2(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<2, 2>(rows, blocks, bytesPerPixel);
}
void OutputH1V1(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<1, 1>(rows, blocks, bytesPerPixel);
}
void OutputH4V1(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<4, 1>(rows, blocks, bytesPerPixel);
}

void OutputH2V1Saturating(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<2, 1, ColourOutput::kSaturating>(rows, blocks, bytesPerPixel);
}
void OutputH2V2Saturating(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<2, 2, ColourOutput::kSaturating>(rows, blocks, bytesPerPixel);
}
void OutputH1V1Saturating(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<1, 1, ColourOutput::kSaturating>(rows, blocks, bytesPerPixel);
}
void OutputH4V1Saturating(uint8_t* const* rows, const Block* blocks, int bytesPerPixel) {
    OutputThree<4, 1, ColourOutput::kSaturating>(rows, blocks, bytesPerPixel);
}

// Grey and four-component pixels have one size each (1 and 4 bytes).
void OutputGrey(uint8_t* const* rows, const Block* blocks, int /*bytesPerPixel*/) {
    const Block& luma = blocks[0];
    for (int y = 0; y < 8; ++y) {
        uint8_t* p = rows[y];
        for (int x = 0; x < 8; ++x) p[x] = Level(luma[8 * y + x]);
    }
}

void OutputFour(uint8_t* const* rows, const Block* blocks, int /*bytesPerPixel*/) {
    for (int y = 0; y < 8; ++y) {
        uint8_t* p = rows[y];
        for (int x = 0; x < 8; ++x, p += 4) {
            const int i = 8 * y + x;
            p[0] = Level(blocks[0][i]);
            p[1] = Level(blocks[1][i]);
            p[2] = Level(blocks[2][i]);
            p[3] = Level(blocks[3][i]);
        }
    }
}

// Components 0 and 3 in 2 x 2 blocks (buffers 0..3 and 6..9), components 1 and
// 2 in one block each (buffers 4 and 5), replicated over 2 x 2 pixels.
void OutputFourH2V2(uint8_t* const* rows, const Block* blocks, int /*bytesPerPixel*/) {
    for (int y = 0; y < 16; ++y) {
        uint8_t* p = rows[y];
        const int fullRow = (y & 7) * 8;
        const int halfRow = (y >> 1) * 8;
        for (int x = 0; x < 16; ++x, p += 4) {
            const int b = (y >> 3) * 2 + (x >> 3);
            const int full = fullRow + (x & 7);
            const int half = halfRow + (x >> 1);
            p[0] = Level(blocks[b][full]);
            p[1] = Level(blocks[4][half]);
            p[2] = Level(blocks[5][half]);
            p[3] = Level(blocks[6 + b][full]);
        }
    }
}

// Grey and four-component pixels are level-restored samples, (s >> 8) + 128,
// which never leave 0..255: both colour outputs share their routines.
const McuOutputRoutine kOutputRoutines[kSamplingCount] = {
    OutputH2V1, OutputH2V2, OutputH1V1, OutputGrey, OutputFourH2V2, OutputFour, OutputH4V1,
};
const McuOutputRoutine kSaturatingOutputRoutines[kSamplingCount] = {
    OutputH2V1Saturating, OutputH2V2Saturating, OutputH1V1Saturating, OutputGrey,
    OutputFourH2V2,       OutputFour,           OutputH4V1Saturating,
};

}  // namespace q32vex
