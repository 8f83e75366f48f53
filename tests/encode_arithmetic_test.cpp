// The compressor's arithmetic where the exact values matter and no decoder
// can tell them apart: the samples colour conversion gives for known pixels,
// how chroma is averaged and floored, the quantiser's multipliers, the
// forward DCT's rounding and dead zone, and the exact bits of coded blocks,
// stuffing and restart padding.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode/color_convert.h"
#include "encode/derived_tables.h"
#include "encode/forward_dct.h"
#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"
#include "interface/global_state.h"
#include "interface/tables.h"
#include "test_support.h"

namespace vextest {
namespace {

using namespace q32vex;

using EncodeArithmetic = LibraryTest;

// ---- colour conversion -------------------------------------------------------

void SetFormat(int bytesPerPixel, int mcuWidth, int mcuHeight) {
    g.format.bytesPerPixel = uint16_t(bytesPerPixel);
    g.format.mcuWidth = uint16_t(mcuWidth);
    g.format.mcuHeight = uint16_t(mcuHeight);
    g.format.mcuRowBytes = uint16_t(mcuWidth * bytesPerPixel);
}

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

std::vector<int16_t> Blocks(int n) {
    return std::vector<int16_t>(&g.engine.blockBuffers[0][0], &g.engine.blockBuffers[n][0]);
}

TEST_F(EncodeArithmetic, ColourConversionGivesTheNamedSamples) {
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
        SetFormat(bpp, 8, 8);
        ConvertH1V1(Mcu(8, 8, bpp, {255, 255, 255, 17}).pointers.data());
        EXPECT_EQ(Blocks(3), uniform(16255, -8, 4));
        ConvertH1V1(Mcu(8, 8, bpp, {0, 0, 0, 200}).pointers.data());
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
            SetFormat(3, w, h);
            convert(Mcu(w, h, 3, bgr).pointers.data());
            const std::vector<int16_t> expected = Blocks(blocks);
            SetFormat(2, w, h);
            convert(Mcu(w, h, 2, {uint8_t(word), uint8_t(word >> 8)}).pointers.data());
            EXPECT_EQ(Blocks(blocks), expected) << std::hex << word;
        }
    }
}

TEST_F(EncodeArithmetic, SubsampledChromaAddsPairsAndFloorsEachHalf) {
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
    SetFormat(3, 16, 16);
    Mcu square(16, 16, 3, {zero[0], zero[1], zero[2]});
    square.Set(0, 0, plus);
    square.Set(2, 0, minus);
    ConvertH2V2(square.pointers.data());
    EXPECT_EQ(g.engine.blockBuffers[4][0], 0);   // ((1 + 0) >> 1) + ((0 + 0) >> 1)
    EXPECT_EQ(g.engine.blockBuffers[4][1], -1);  // ((-1 + 0) >> 1) + 0
    EXPECT_EQ(g.engine.blockBuffers[5][0], floor2(cr(plus) + cr(zero)) + floor2(2 * cr(zero)));
    EXPECT_EQ(g.engine.blockBuffers[5][1], floor2(cr(minus) + cr(zero)) + floor2(2 * cr(zero)));
    // 4 x 1 does the same over four horizontal pixels.
    SetFormat(3, 32, 8);
    Mcu wide(32, 8, 3, {zero[0], zero[1], zero[2]});
    for (int x : {0, 8, 10}) wide.Set(x, 0, plus);
    wide.Set(4, 0, minus);
    ConvertH4V1(wide.pointers.data());
    EXPECT_EQ(std::vector<int>({g.engine.blockBuffers[4][0], g.engine.blockBuffers[4][1], g.engine.blockBuffers[4][2]}),
              std::vector<int>({0, -1, 0}));
    // 2 x 1 adds the two scale-64 values: no halving.
    SetFormat(3, 16, 8);
    Mcu pair(16, 8, 3, {zero[0], zero[1], zero[2]});
    pair.Set(0, 0, plus);
    pair.Set(2, 0, minus);
    ConvertH2V1(pair.pointers.data());
    EXPECT_EQ(std::vector<int>({g.engine.blockBuffers[2][0], g.engine.blockBuffers[2][1], g.engine.blockBuffers[3][0],
                                g.engine.blockBuffers[3][2]}),
              std::vector<int>({1, -1, cr(plus) + cr(zero), 2 * cr(zero)}));
}

// ---- quantisation and the forward DCT ------------------------------------------

std::vector<uint8_t> Zigzag(const uint8_t* natural) {
    std::vector<uint8_t> z(64);
    for (int k = 0; k < 64; ++k) z[k] = natural[kZigzag[k]];
    return z;
}

// The compression table of a zigzag quantisation table, through the cache.
std::vector<uint32_t> EncTable(const std::vector<uint8_t>& zigzag) {
    g.format.componentCount = 1;
    g.engine.params.qTables[0] = zigzag.data();
    EXPECT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    return std::vector<uint32_t>(EncQuant(0), EncQuant(0) + 64);
}

// T.81's DCT in double precision, natural order.
std::vector<double> ExactDct(const uint8_t pixels[64]) {
    std::vector<double> F(64);
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += (pixels[8 * y + x] - 128) * std::cos((2 * y + 1) * u * M_PI / 16) *
                           std::cos((2 * x + 1) * v * M_PI / 16);
            F[8 * u + v] = 0.25 * (u == 0 ? std::sqrt(0.5) : 1) * (v == 0 ? std::sqrt(0.5) : 1) * sum;
        }
    return F;
}

TEST_F(EncodeArithmetic, QuantiserMultipliersRoundingAndDeadZone) {
    // Multiplier and threshold of the luminance table: q 16 and q 12.
    const std::vector<uint32_t> lum = EncTable(Zigzag(kLumQuant));
    EXPECT_EQ(std::vector<uint32_t>({lum[0] >> 16, lum[0] & 0xFFFF, lum[9] >> 16, lum[9] & 0xFFFF}),
              std::vector<uint32_t>({64, 256, 2627, 6}));
    // 255s: DC output 32512, with q 16 (m 64) rounds 63.5 up to 64.
    std::vector<int16_t> white(64, 16256);
    ForwardDctQuantize(white.data(), lum.data());
    EXPECT_EQ(std::count(white.begin(), white.end(), 0), 63);
    EXPECT_EQ(white[0], 64);
    // 0s: DC output -32768, the most negative 16-bit value; q 1 (m 1024).
    std::vector<int16_t> black(64, -16384);
    ForwardDctQuantize(black.data(), EncTable(std::vector<uint8_t>(64, 1)).data());
    EXPECT_EQ(black[0], -1024);
    // F exactly at -t or t is multiplied; one inside is not. Uniform blocks
    // of +-3 reach the quantiser as DC outputs of +-6.
    std::vector<uint32_t> table(64, 0);
    for (int sign : {-1, 1}) {
        for (uint32_t threshold : {6u, 7u}) {
            table[0] = (3000u << 16) | threshold;
            std::vector<int16_t> block(64, int16_t(3 * sign));
            ForwardDctQuantize(block.data(), table.data());
            EXPECT_EQ(block[0], threshold == 6 ? sign : 0) << "(+-18000 + 16384) >> 15";
        }
    }
}

// Against the exact DCT: within a few units for q = 1 (biased slightly low
// by the halvings), within one for the default tables; extreme 8-bit input
// at q = 1 stays within the coder's 10-bit AC and 11-bit DC ranges.
TEST_F(EncodeArithmetic, ForwardDctAgreesWithTheExactTransform) {
    std::mt19937 rng(2024);
    for (const std::vector<uint8_t>& zigzag : {std::vector<uint8_t>(64, 1), Zigzag(kLumQuant), Zigzag(kChromQuant)}) {
        const std::vector<uint32_t> table = EncTable(zigzag);
        int worst = 0;
        long sum = 0;
        for (int b = 0; b < 400; ++b) {
            uint8_t pixels[64];
            const int base = int(rng() % 256), spread = int(rng() % 256);
            for (auto& p : pixels) p = uint8_t(std::clamp(base + int(rng() % (spread + 1)) - spread / 2, 0, 255));
            std::vector<int16_t> block(64);
            for (int i = 0; i < 64; ++i) block[i] = int16_t((pixels[i] - 128) * 128);
            const std::vector<double> F = ExactDct(pixels);
            ForwardDctQuantize(block.data(), table.data());
            for (int k = 0; k < 64; ++k) {
                const int diff = block[kZigzagPos[k]] - int(std::floor(F[k] / zigzag[kZigzagPos[k]] + 0.5));
                worst = std::max(worst, std::abs(diff));
                sum += diff;
            }
        }
        EXPECT_LE(worst, zigzag[1] == 1 ? 4 : 1);
        if (zigzag[1] == 1) {
            EXPECT_TRUE(sum <= 0 && sum > -400 * 64) << sum;
        }
    }
    const std::vector<uint32_t> ones = EncTable(std::vector<uint8_t>(64, 1));
    int largestAc = 0;
    for (int b = 0; b < 20000; ++b) {
        std::vector<int16_t> block(64);
        const uint64_t bits = (uint64_t(rng()) << 32) | rng();
        for (int i = 0; i < 64; ++i) {
            bool on = (bits >> i) & 1;
            if (b < 64)  // the basis-like patterns that give the largest values
                on = std::cos((2 * (i / 8) + 1) * (b / 8) * M_PI / 16) *
                         std::cos((2 * (i % 8) + 1) * (b % 8) * M_PI / 16) >=
                     0;
            block[i] = int16_t(on ? 127 * 128 : -128 * 128);
        }
        ForwardDctQuantize(block.data(), ones.data());
        ASSERT_GE(block[0], -1024);
        ASSERT_LE(block[0], 1020);
        for (int k = 1; k < 64; ++k) largestAc = std::max(largestAc, std::abs(int(block[k])));
    }
    EXPECT_LE(largestAc, 1023);
    EXPECT_GE(largestAc, 900);  // the patterns above do reach the top of the range
}

// ---- Huffman coding and the bit writer ------------------------------------------

// The bytes an entropy-coded segment takes: the bit writer started, `body`
// run, the segment flushed and handed over.
template <class Body>
std::vector<uint8_t> WriteSegment(Body body) {
    ResetSink(4096);
    g.seq.params.writeCallback = SinkWrite;
    g.out = StreamBuffer{};
    g.bitWriter.stuffingEnabled = 1;
    EXPECT_EQ(StartBitWriter(), 0);
    body();
    EXPECT_EQ(FlushBitWriter(), 0);
    g.out.bufferSize = uint16_t(g.out.bufferSize - g.out.bytesFree);
    EXPECT_EQ(SinkWrite(&g.out.hostBuffer, -1, &g.out.bufferSize, nullptr), 0);
    return g_sink.stream;
}

// The coded bits of one block with the default luminance tables, stuffed
// zero bytes removed.
std::string BlockBits(const std::vector<int16_t>& block, int16_t predictor) {
    g.format.componentCount = 1;
    g.engine.params.dcTables[0] = kLumDcSpec;
    g.engine.params.acTables[0] = kLumAcSpec;
    EXPECT_EQ(BuildDerivedTables(kCompress, kDcTable), 0);
    EXPECT_EQ(BuildDerivedTables(kCompress, kAcTable), 0);
    const std::vector<uint8_t> bytes =
        WriteSegment([&] { EXPECT_EQ(EncodeBlock(block.data(), &predictor, EncDc(0), EncAc(0)), 0); });
    std::string bits;
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (int b = 7; b >= 0; --b) bits += char('0' + ((bytes[i] >> b) & 1));
        if (bytes[i] == 0xFF) {
            EXPECT_EQ(bytes.at(++i), 0x00) << "unstuffed 0xFF";
        }
    }
    return bits;
}

// The bits padded with zeros to whole bytes, as the last byte must be.
std::string Padded(std::string bits) { return bits.append((8 - bits.size() % 8) % 8, '0'); }

TEST_F(EncodeArithmetic, BlocksCodeToTheirExactBits) {
    std::vector<int16_t> block(64, 0);
    EXPECT_EQ(BlockBits(block, 0), Padded("00"
                                          "1010"));
    block[0] = 4;
    EXPECT_EQ(BlockBits(block, 5), Padded("010"
                                          "0"
                                          "1010"));  // -1
    block[0] = 3;
    EXPECT_EQ(BlockBits(block, 0), Padded("011"
                                          "11"
                                          "1010"));  // +3
    block[0] = -1000;
    EXPECT_EQ(BlockBits(block, 1000), Padded("111111110"
                                             "00000101111"
                                             "1010"));  // -2000: category 11
    block[0] = 0;
    block[1] = -3;    // run 0 size 2: 01, bits 00
    block[3] = 1;     // run 1 size 1: 1100, bit 1
    block[4] = 1023;  // run 0 size 10: 1111111110000011, bits 1111111111
    EXPECT_EQ(BlockBits(block, 0), Padded("00"
                                          "01"
                                          "00"
                                          "1100"
                                          "1"
                                          "1111111110000011"
                                          "1111111111"
                                          "1010"));
    block.assign(64, 0);
    block[63] = 1;  // 62 zeros: three ZRLs, then run 14 size 1, and no EOB
    EXPECT_EQ(BlockBits(block, 0), Padded("00"
                                          "11111111001"
                                          "11111111001"
                                          "11111111001"
                                          "1111111111101011"
                                          "1"));
    block[63] = 0;
    block[20] = -1;  // 19 zeros: ZRL, run 3 size 1, then EOB for the trailing zeros
    EXPECT_EQ(BlockBits(block, 0), Padded("00"
                                          "11111111001"
                                          "111010"
                                          "0"
                                          "1010"));
}

TEST_F(EncodeArithmetic, StuffingAndRestartPadding) {
    // Codes as {value, bits}; bits 0 with a value writes that restart marker.
    struct Case {
        std::vector<std::pair<uint32_t, int>> codes;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        // Completed 0xFF bytes are stuffed; the last byte is padded with zeros.
        {{{0xFF, 8}}, {0xFF, 0x00}},
        {{{0xF, 4}, {0xFFF, 12}, {0x1, 1}}, {0xFF, 0x00, 0xFF, 0x00, 0x80}},
        {{{0x3, -1}}, {}},  // no bits at all
        // Restart markers pad with ones and are not stuffed; a pad that
        // completes 0xFF is; on a byte boundary nothing is padded, and
        // stuffing resumes after the marker.
        {{{0b101, 3}, {0xD3, 0}}, {0xBF, 0xFF, 0xD3}},
        {{{0b111, 3}, {0xD0, 0}}, {0xFF, 0x00, 0xFF, 0xD0}},
        {{{0x12, 8}, {0xD7, 0}, {0xFF, 8}}, {0x12, 0xFF, 0xD7, 0xFF, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WriteSegment([&] {
                      for (const auto& [value, bits] : c.codes)
                          EXPECT_EQ(bits == 0 ? WriteRestartMarker(uint8_t(value)) : PutBits(value, std::max(bits, 0)),
                                    0);
                  }),
                  c.bytes);
    }
}

}  // namespace
}  // namespace vextest
