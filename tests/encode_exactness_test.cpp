// The compressor's numbers where the exact values matter and no decoder
// can tell them apart: the samples colour conversion gives for known pixels,
// how chroma is averaged and floored, the quantiser's multipliers, and the
// forward DCT's rounding and dead zone.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "common/derived_tables.h"
#include "common/tables.h"
#include "encode/color_convert.h"
#include "encode/forward_dct.h"
#include "reference_kernels.h"
#include "test_support.h"

namespace vextest {
namespace {

using namespace q32vex;

using EncodeExactness = LibraryTest;

// ---- colour conversion -------------------------------------------------------

// The sample blocks of one MCU, as the engine keeps them for a converter.
alignas(32) int16_t mcuBlocks[10][64];

// An MCU of host pixels, all set to `pixel`.
struct Mcu {
    int bpp;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t*> pointers;
    Mcu(int w, int h, int b, std::vector<uint8_t> pixel) : bpp(b), rows(size_t(h)) {
        pixel.resize(size_t(b));
        for (auto& r : rows) {
            for (int x = 0; x < w; ++x) r.insert(r.end(), pixel.begin(), pixel.end());
            pointers.push_back(r.data());
        }
    }
    void Set(int x, int y, const std::array<uint8_t, 3>& p) { std::copy(p.begin(), p.end(), rows[y].data() + x * bpp); }
};

// Converts `mcu` into mcuBlocks.
void Convert(McuConverter convert, const Mcu& mcu) { convert(mcu.pointers.data(), mcuBlocks, mcu.bpp); }

std::vector<int16_t> Blocks(int n) { return std::vector<int16_t>(&mcuBlocks[0][0], &mcuBlocks[n][0]); }

TEST_F(EncodeExactness, ColourConversionGivesTheNamedSamples) {
    EXPECT_EQ(kForwardColor[1][3].y, -9391);
    EXPECT_EQ(kForwardColor[1][253].y, 9391);
    EXPECT_EQ(kForwardColor[2][3].y, -4783);
    EXPECT_EQ(kForwardColor[2][253].y, 4783);
    EXPECT_EQ(std::vector<int>({kForwardColor[0][255].y, kForwardColor[1][255].y, kForwardColor[2][255].y}),
              std::vector<int>({1853, 9542, 4860}));
    // White and black (the pad byte of 4-byte pixels is ignored).
    auto uniform = [](int16_t y, int16_t cb, int16_t cr) {
        std::vector<int16_t> v(64, y);
        v.insert(v.end(), 64, cb);
        v.insert(v.end(), 64, cr);
        return v;
    };
    for (int bpp : {3, 4}) {
        Convert(ConvertH1V1, Mcu(8, 8, bpp, {255, 255, 255, 17}));
        EXPECT_EQ(Blocks(3), uniform(16255, -8, 4));
        Convert(ConvertH1V1, Mcu(8, 8, bpp, {0, 0, 0, 200}));
        EXPECT_EQ(Blocks(3), uniform(-16382, 8, -2));
    }
    // 5-bit fields stand for 8c: all-31 words convert like bytes of 248 (the
    // top bit ignored), the word 0x8080 like blue 0, green 32, red 0.
    const std::pair<uint16_t, std::vector<uint8_t>> words[] = {
        {0x7FFF, {248, 248, 248}}, {0xFFFF, {248, 248, 248}}, {0x8080, {0, 32, 0}}, {0x7C00, {0, 0, 248}}};
    for (const auto& [word, bgr] : words) {
        for (McuConverter convert : {ConvertH2V1, ConvertH2V2, ConvertH1V1}) {
            const int h = convert == ConvertH2V2 ? 16 : 8, w = convert == ConvertH1V1 ? 8 : 16;
            const int blocks = convert == ConvertH1V1 ? 3 : convert == ConvertH2V1 ? 4 : 6;
            Convert(convert, Mcu(w, h, 3, bgr));
            const std::vector<int16_t> expected = Blocks(blocks);
            Convert(convert, Mcu(w, h, 2, {uint8_t(word), uint8_t(word >> 8)}));
            EXPECT_EQ(Blocks(blocks), expected) << std::hex << word;
        }
    }
}

TEST_F(EncodeExactness, SubsampledChromaAddsPairsAndFloorsEachHalf) {
    // Pixels whose blue-difference chroma (at scale 64) is +1, 0 and -1.
    auto cb = [](const std::array<uint8_t, 3>& p) {
        return kForwardColor[0][p[0]].cb + kForwardColor[1][p[1]].cb + kForwardColor[2][p[2]].cb;
    };
    auto cr = [](const std::array<uint8_t, 3>& p) {
        return kForwardColor[0][p[0]].cr + kForwardColor[1][p[1]].cr + kForwardColor[2][p[2]].cr;
    };
    std::array<uint8_t, 3> found[3] = {};
    bool have[3] = {};
    for (int b = 100; b < 160; ++b)
        for (int gr = 100; gr < 160; ++gr)
            for (int r = 100; r < 160; ++r) {
                const std::array<uint8_t, 3> px = {uint8_t(b), uint8_t(gr), uint8_t(r)};
                const int k = 1 - cb(px);
                if (k >= 0 && k <= 2 && !have[k]) found[k] = px, have[k] = true;
            }
    ASSERT_TRUE(have[0] && have[1] && have[2]);
    const auto& plus = found[0];
    const auto& zero = found[1];
    const auto& minus = found[2];
    auto floor2 = [](int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); };
    // 2 x 2: each vertical pair halved (floored), then the halves added.
    Mcu square(16, 16, 3, {zero[0], zero[1], zero[2]});
    square.Set(0, 0, plus);
    square.Set(2, 0, minus);
    Convert(ConvertH2V2, square);
    EXPECT_EQ(mcuBlocks[4][0], 0);   // ((1 + 0) >> 1) + ((0 + 0) >> 1)
    EXPECT_EQ(mcuBlocks[4][1], -1);  // ((-1 + 0) >> 1) + 0
    EXPECT_EQ(mcuBlocks[5][0], floor2(cr(plus) + cr(zero)) + floor2(2 * cr(zero)));
    EXPECT_EQ(mcuBlocks[5][1], floor2(cr(minus) + cr(zero)) + floor2(2 * cr(zero)));
    // 4 x 1 does the same over four horizontal pixels.
    Mcu wide(32, 8, 3, {zero[0], zero[1], zero[2]});
    for (int x : {0, 8, 10}) wide.Set(x, 0, plus);
    wide.Set(4, 0, minus);
    Convert(ConvertH4V1, wide);
    EXPECT_EQ(std::vector<int>({mcuBlocks[4][0], mcuBlocks[4][1], mcuBlocks[4][2]}),
              std::vector<int>({0, -1, 0}));
    // 2 x 1 adds the two scale-64 values: no halving.
    Mcu pair(16, 8, 3, {zero[0], zero[1], zero[2]});
    pair.Set(0, 0, plus);
    pair.Set(2, 0, minus);
    Convert(ConvertH2V1, pair);
    EXPECT_EQ(std::vector<int>({mcuBlocks[2][0], mcuBlocks[2][1], mcuBlocks[3][0],
                                mcuBlocks[3][2]}),
              std::vector<int>({1, -1, cr(plus) + cr(zero), 2 * cr(zero)}));
}

// ---- quantisation and the forward DCT ------------------------------------------

std::vector<uint8_t> Zigzag(const uint8_t* natural) {
    std::vector<uint8_t> z(64);
    for (int k = 0; k < 64; ++k) z[k] = natural[kZigzag[k]];
    return z;
}

TEST_F(EncodeExactness, QuantiserMultipliersRoundingAndDeadZone) {
    // Multiplier and threshold of the luminance table: q 16 and q 12.
    const EncQuantTable lum = LibraryEncQuantTable(Zigzag(kLumQuant).data());
    EXPECT_EQ(std::vector<uint32_t>({lum.entry[0] >> 16, lum.entry[0] & 0xFFFF, lum.entry[9] >> 16, lum.entry[9] & 0xFFFF}),
              std::vector<uint32_t>({64, 256, 2627, 6}));
    // 255s: DC output 32512, with q 16 (m 64) rounds 63.5 up to 64.
    std::vector<int16_t> white(64, 16256);
    ForwardDctQuantize(white.data(), &lum);
    EXPECT_EQ(std::count(white.begin(), white.end(), 0), 63);
    EXPECT_EQ(white[0], 64);
    // 0s: DC output -32768, the most negative 16-bit value; q 1 (m 1024).
    std::vector<int16_t> black(64, -16384);
    const EncQuantTable ones = LibraryEncQuantTable(std::vector<uint8_t>(64, 1).data());
    ForwardDctQuantize(black.data(), &ones);
    EXPECT_EQ(black[0], -1024);
    // F exactly at -t or t is multiplied; one inside is not. Uniform blocks
    // of +-3 reach the quantiser as DC outputs of +-6.
    EncQuantTable table{};
    for (int sign : {-1, 1}) {
        for (uint32_t threshold : {6u, 7u}) {
            table.entry[0] = (3000u << 16) | threshold;
            SetQuantMultipliers(table);
            std::vector<int16_t> block(64, int16_t(3 * sign));
            ForwardDctQuantize(block.data(), &table);
            EXPECT_EQ(block[0], threshold == 6 ? sign : 0) << "(+-18000 + 16384) >> 15";
        }
    }
}

}  // namespace
}  // namespace vextest
