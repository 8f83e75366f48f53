// Forward DCT and quantisation: known blocks give the coefficients T.81's
// DCT gives, divided by q and rounded, in zigzag order; the dead zone only
// skips what would round to zero; 8-bit input stays in the coder's range.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "encode/forward_dct.h"
#include "encode_helpers.h"

namespace {

using namespace q32vex;
using vextest::LibraryTest;

class ForwardDct : public LibraryTest {};

// The compression table of a zigzag quantisation table, through the cache.
std::vector<uint32_t> EncTable(const std::vector<uint8_t>& zigzag) {
    g.format.componentCount = 1;
    g.engine.params.qTables[0] = zigzag.data();
    EXPECT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    return std::vector<uint32_t>(EncQuant(0), EncQuant(0) + 64);
}

std::vector<uint8_t> ZigzagOf(const uint8_t* natural) {
    std::vector<uint8_t> z(64);
    for (int k = 0; k < 64; ++k) z[k] = natural[kZigzag[k]];
    return z;
}

// Level-shifted sample blocks as the converters deliver them.
std::vector<int16_t> Samples(const uint8_t pixels[64]) {
    std::vector<int16_t> block(64);
    for (int i = 0; i < 64; ++i) block[i] = int16_t((pixels[i] - 128) * 128);
    return block;
}

// T.81 A.3.3 in double precision, natural order.
std::vector<double> ExactDct(const uint8_t pixels[64]) {
    std::vector<double> F(64);
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += (pixels[8 * y + x] - 128) * std::cos((2 * y + 1) * u * M_PI / 16) *
                           std::cos((2 * x + 1) * v * M_PI / 16);
            const double cu = u == 0 ? std::sqrt(0.5) : 1, cv = v == 0 ? std::sqrt(0.5) : 1;
            F[8 * u + v] = 0.25 * cu * cv * sum;
        }
    return F;
}

TEST_F(ForwardDct, UniformBlocksGiveTheRoundedDc) {
    // 255s: DC output 32512, with q = 16 (m = 64) rounds 63.5 up to 64.
    const std::vector<uint32_t> lum = EncTable(ZigzagOf(kLumQuant));
    std::vector<int16_t> white(64, 16256);
    ForwardDctQuantize(white.data(), lum.data());
    EXPECT_EQ(white[0], 64);
    for (int k = 1; k < 64; ++k) EXPECT_EQ(white[k], 0) << k;
    // 0s: DC output -32768, the most negative 16-bit value; with q = 1
    // (m = 1024) it quantises to -1024.
    const std::vector<uint32_t> ones = EncTable(std::vector<uint8_t>(64, 1));
    std::vector<int16_t> black(64, -16384);
    ForwardDctQuantize(black.data(), ones.data());
    EXPECT_EQ(black[0], -1024);
    for (int k = 1; k < 64; ++k) EXPECT_EQ(black[k], 0) << k;
}

// F exactly at -t or t is multiplied; one inside is not. Uniform blocks of
// +-3 reach the quantiser as DC outputs of +-6.
TEST_F(ForwardDct, DeadZoneBoundary) {
    std::vector<uint32_t> table(64, 0);
    for (int sign : {-1, 1}) {
        table[0] = (3000u << 16) | 6;  // t = 6: F = +-6 is multiplied
        std::vector<int16_t> block(64, int16_t(3 * sign));
        ForwardDctQuantize(block.data(), table.data());
        EXPECT_EQ(block[0], sign);  // (+-18000 + 16384) >> 15
        table[0] = (3000u << 16) | 7;  // t = 7: F = +-6 is skipped
        block.assign(64, int16_t(3 * sign));
        ForwardDctQuantize(block.data(), table.data());
        EXPECT_EQ(block[0], 0);
    }
}

struct Deviation {
    int worst = 0;
    double mean = 0;
};

Deviation CompareWithExact(const std::vector<uint8_t>& zigzagQuant, std::mt19937& rng, int blocks) {
    const std::vector<uint32_t> table = EncTable(zigzagQuant);
    uint8_t natural[64];
    for (int k = 0; k < 64; ++k) natural[kZigzag[k]] = zigzagQuant[k];
    Deviation d;
    long sum = 0, n = 0;
    for (int b = 0; b < blocks; ++b) {
        uint8_t pixels[64];
        const int base = int(rng() % 256), spread = int(rng() % 256);
        for (auto& p : pixels) p = uint8_t(std::clamp(base + int(rng() % (spread + 1)) - spread / 2, 0, 255));
        std::vector<int16_t> block = Samples(pixels);
        const std::vector<double> F = ExactDct(pixels);
        ForwardDctQuantize(block.data(), table.data());
        for (int k = 0; k < 64; ++k) {
            const int expected = int(std::floor(F[k] / natural[k] + 0.5));
            const int got = block[kZigzagPos[k]];
            d.worst = std::max(d.worst, std::abs(got - expected));
            sum += got - expected;
            ++n;
        }
    }
    d.mean = double(sum) / n;
    return d;
}

// Against the exact DCT: within a few units for q = 1 (biased slightly
// low by the halvings), within one for the Annex K tables.
TEST_F(ForwardDct, AgreesWithTheExactTransform) {
    std::mt19937 rng(2024);
    const Deviation fine = CompareWithExact(std::vector<uint8_t>(64, 1), rng, 400);
    EXPECT_LE(fine.worst, 4);
    EXPECT_LE(fine.mean, 0.0);
    EXPECT_GT(fine.mean, -1.0);
    EXPECT_LE(CompareWithExact(ZigzagOf(kLumQuant), rng, 400).worst, 1);
    EXPECT_LE(CompareWithExact(ZigzagOf(kChromQuant), rng, 400).worst, 1);
}

// Extreme 8-bit content at q = 1 stays within the 10-bit AC and 11-bit DC
// ranges of the Huffman coder.
TEST_F(ForwardDct, ExtremeInputStaysInTheCodersRange) {
    const std::vector<uint32_t> ones = EncTable(std::vector<uint8_t>(64, 1));
    std::mt19937 rng(99);
    int largestAc = 0;
    for (int b = 0; b < 20000; ++b) {
        uint8_t pixels[64];
        const uint64_t bits = (uint64_t(rng()) << 32) | rng();
        for (int i = 0; i < 64; ++i) pixels[i] = ((bits >> i) & 1) ? 255 : 0;
        if (b < 64) {  // the basis-like patterns that give the largest values
            for (int i = 0; i < 64; ++i) {
                const int y = i / 8, x = i % 8, u = b / 8, v = b % 8;
                pixels[i] = std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16) >= 0 ? 255 : 0;
            }
        }
        std::vector<int16_t> block = Samples(pixels);
        ForwardDctQuantize(block.data(), ones.data());
        EXPECT_GE(block[0], -1024);
        EXPECT_LE(block[0], 1020);
        for (int k = 1; k < 64; ++k) largestAc = std::max(largestAc, std::abs(int(block[k])));
    }
    EXPECT_LE(largestAc, 1023);
    EXPECT_GE(largestAc, 900);  // the patterns above do reach the top of the range
}

}  // namespace
