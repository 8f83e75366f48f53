// The colour transforms of the vector kernels (x86 and ARM alike) as 16-bit
// fixed-point formulas instead of table look-ups, each checked at compile
// time to equal every entry of the table it replaces: the forward colour
// tables of encode/color_convert.cpp and the chroma tables of
// decode/color_output.cpp.
#pragma once
#include <cstdint>

namespace q32vex {
namespace {

// The colour tables hold trunc(c x (v - 128) x scale) with c the double
// nearest the decimal coefficient, the product formed exactly. For the seven
// terms that are not plain multiples of x (blue Cb and red Cr are 32 x), with
// n = |x| <= 128: floor(|c| x scale x n) = I x n + ((n x M) >> 16).
struct ColorTerm {
    int16_t whole;      // I
    uint16_t fraction;  // M
    double coefficient;
    int scaleLog2;      // 7 for Y, 6 for chroma
};
constexpr ColorTerm kBlueY = {14, 38801, 0.114, 7};      // 14.592
constexpr ColorTerm kGreenY = {75, 8910, 0.587, 7};      // 75.136
constexpr ColorTerm kRedY = {38, 17824, 0.299, 7};       // 38.272
constexpr ColorTerm kGreenCb = {21, 14594, 0.3316, 6};   // 21.2224
constexpr ColorTerm kRedCb = {10, 53481, 0.169, 6};      // 10.816
constexpr ColorTerm kBlueCr = {5, 13316, 0.0813, 6};     // 5.2032
constexpr ColorTerm kGreenCr = {26, 51800, 0.4186, 6};   // 26.7904

constexpr bool TermIsExact(const ColorTerm& t) {
    // The double as mantissa / 2^shift; doubling a double is exact.
    double c = t.coefficient;
    int shift = 0;
    while (c != double(int64_t(c))) {
        c *= 2.0;
        ++shift;
    }
    const int64_t mantissa = int64_t(c);
    shift -= t.scaleLog2;
    for (int64_t n = 0; n <= 128; ++n) {
        const int64_t exact = n * mantissa >> shift;  // floor; n x mantissa < 2^60
        if (t.whole * n + ((n * t.fraction) >> 16) != exact) return false;
    }
    return true;
}
static_assert(TermIsExact(kBlueY) && TermIsExact(kGreenY) && TermIsExact(kRedY),
              "luma terms must truncate like the colour tables");
static_assert(TermIsExact(kGreenCb) && TermIsExact(kRedCb) && TermIsExact(kBlueCr) &&
                  TermIsExact(kGreenCr),
              "chroma terms must truncate like the colour tables");

// One chroma term as a function of c4 = sample >> 6 (-512..511).
struct ChromaTerm {
    int16_t whole;        // I
    int16_t fraction;     // M, for the signed high product
    int16_t base;         // K at and above the threshold
    int16_t lowStep;      // added to K below the threshold (+1 or -1)
    int16_t threshold;
    double coefficient;   // 128 x k of the table definition
    double offset;
};
constexpr ChromaTerm kCbBlue = {57, -23592, 64, 1, -1, 128 * 1.77, 64};
constexpr ChromaTerm kCbGreen = {-11, 1, 65, -1, 6, 128 * -0.3437, 64};
constexpr ChromaTerm kCrGreen = {-23, 9332, 1, -1, 1, 128 * -0.7143, 0};
// The red coefficient is the single-precision value of 1.402.
constexpr ChromaTerm kCrRed = {45, -8914, 64, 1, -1, 128 * double(1.402f), 64};

constexpr int64_t FloorShift16(int64_t v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); }

constexpr bool ChromaTermIsExact(const ChromaTerm& t) {
    for (int c4 = -512; c4 < 512; ++c4) {
        // The table entry: trunc((128 k) x c + offset) with c = c4 / 4, in doubles.
        const double exact = t.coefficient * (c4 / 4.0) + t.offset;
        const int64_t entry = static_cast<int64_t>(exact);
        const int64_t formula = int64_t(t.whole) * c4 + FloorShift16(int64_t(c4) * t.fraction) +
                                t.base + (c4 < t.threshold ? t.lowStep : 0);
        if (formula != entry) return false;
    }
    return true;
}
static_assert(ChromaTermIsExact(kCbBlue) && ChromaTermIsExact(kCbGreen), "Cb terms");
static_assert(ChromaTermIsExact(kCrGreen) && ChromaTermIsExact(kCrRed), "Cr terms");

}  // namespace
}  // namespace q32vex
