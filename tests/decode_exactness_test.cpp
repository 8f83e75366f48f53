// The decompressor's numbers and its answers to corrupt data where the
// exact result matters: dequantisation values, the inverse DCT's worked
// values, saturation and 16-bit wrap-around, colour output clamping and
// packing, what the entropy decoder makes of codes a table lacks or of runs
// past the block, and the refusals of Huffman tables and input requests.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "common/derived_tables.h"
#include "common/tables.h"
#include "decode/color_output.h"
#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"
#include "reference_kernels.h"
#include "test_support.h"

namespace vextest {
namespace {

using namespace q32vex;
using Bytes = std::vector<uint8_t>;

using DecodeExactness = LibraryTest;

// A derived-table cache of the test's own, released before the fixture
// counts the library's blocks.
struct OwnTables {
    DerivedTableCache cache{};
    ~OwnTables() { ReleaseDerivedTables(cache); }
};

// The dequantisation table the decoder derives for a 64-byte table.
const DecQuantTable* Derived(OwnTables& tables, const uint8_t* zigzagQuant) {
    const uint8_t* sources[4] = {zigzagQuant, nullptr, nullptr, nullptr};
    EXPECT_EQ(BuildDerivedTables(tables.cache, kDecompress, kQuantTable, sources, 1), 0);
    return DecQuant(tables.cache, 0);
}

TEST_F(DecodeExactness, DequantisationAndInverseDctWorkedValues) {
    OwnTables tables;
    uint8_t q[64];
    std::memset(q, 1, sizeof q);
    for (const auto& [q0, value, shift] :
         {std::tuple<uint8_t, int, int>{16, 8192, 8}, {1, 8192, 4}, {255, 16320, 11}}) {
        q[0] = q0;
        const DecQuantTable* t = Derived(tables, q);
        EXPECT_EQ(std::vector<int>({t->value[0], t->shift[0], t->shift[1]}), std::vector<int>({value, shift, 4}))
            << int(q0);
    }
    // A DC-only block is flat, one level above mid-grey.
    q[0] = 1;
    int16_t block[64] = {8};
    InverseDctBlock(block, Derived(tables, q));
    EXPECT_EQ(std::vector<int16_t>(block, block + 64), std::vector<int16_t>(64, 256));
    // The first horizontal frequency gives the worked row in every row.
    std::memset(q, 16, sizeof q);
    int16_t wave[64] = {10, 3};
    InverseDctBlock(wave, Derived(tables, q));
    const std::vector<int16_t> row = {7248, 6928, 6320, 5552, 4688, 3920, 3312, 2992};
    for (int y = 0; y < 8; ++y) EXPECT_EQ(std::vector<int16_t>(wave + 8 * y, wave + 8 * y + 8), row) << y;
}

TEST_F(DecodeExactness, InverseDctSaturatesAndWrapsLikeSixteenBitRegisters) {
    // A table under which the dequantised value equals the coefficient
    // (((c << 1) * 16384 + 16384) >> 15 = c for |c| < 16384).
    DecQuantTable identity;
    std::fill(std::begin(identity.value), std::end(identity.value), 16384);
    std::fill(std::begin(identity.shift), std::end(identity.shift), 1);
    const std::pair<int16_t, int16_t> cases[] = {{4095, 32760},   {4096, 32767},   {9000, 32767}, {-4096, -32768},
                                                 {-4097, -32768}, {-9000, -32768}, {-1, -8},      {0, 0}};
    for (const auto& [r, out] : cases) {
        int16_t block[64] = {r};
        InverseDctBlock(block, &identity);
        EXPECT_EQ(std::vector<int16_t>(block, block + 64), std::vector<int16_t>(64, out)) << r;
    }
    // Column 0 gets x0 = x2 = x4 = 12000: x0 + x4 + x2 = 36000 overflows the
    // even part, which wraps to -29536 in rows 0 and 7 (a saturating
    // transform would give 32767 there instead).
    int16_t block[64] = {};
    block[0] = block[kZigzagPos[16]] = block[kZigzagPos[32]] = 12000;
    InverseDctBlock(block, &identity);
    const int16_t rowValue[8] = {-32768, 32767, -32768, 32767, 32767, -32768, 32767, -32768};
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(std::vector<int16_t>(block + 8 * y, block + 8 * y + 8), std::vector<int16_t>(8, rowValue[y])) << y;
}

// One pixel of an H1V1 MCU from luma and chroma samples as the inverse DCT
// gives them, in `bpp` bytes, from the wrapping or the saturating routine.
std::vector<uint8_t> ColourPixel(int16_t luma, int16_t cb, int16_t cr, int bpp = 3,
                                 McuOutputRoutine routine = OutputH1V1) {
    alignas(32) int16_t blocks[10][64] = {};
    blocks[0][0] = luma;
    blocks[1][0] = cb;
    blocks[2][0] = cr;
    std::vector<uint8_t> out(size_t(8) * (8 * bpp + 16), 0xAA);
    std::vector<uint8_t*> rows;
    for (int y = 0; y < 8; ++y) rows.push_back(out.data() + size_t(y) * (8 * bpp + 16));
    routine(rows.data(), blocks, bpp);
    EXPECT_TRUE(std::all_of(rows[0] + 8 * bpp, rows[0] + 8 * bpp + 16, [](uint8_t b) { return b == 0xAA; }));
    return std::vector<uint8_t>(rows[0], rows[0] + bpp);
}

TEST_F(DecodeExactness, ColourOutputClampsAndPacks) {
    using Bgr = std::vector<uint8_t>;
    // Luma at the top: the blue sum 32767 + 64 passes 0x8000 and reads as 255.
    EXPECT_EQ(ColourPixel(32767, 0, 0), Bgr({255, 255, 255}));
    // Luma 100 with Cb -80 (blue term -18060): the blue sum is negative. The
    // same Cb adds 3583 to green: (12800 + 3583) >> 7.
    EXPECT_EQ(ColourPixel((100 - 128) * 256, -80 * 256, 0), Bgr({0, 127, 100}));
    EXPECT_EQ(ColourPixel(-32768, 0, 0), Bgr({0, 0, 0}));
    // Chroma rows 100, 511, 512 and 1023 at mid luma; only the top ten bits
    // of a chroma sample select the row.
    EXPECT_EQ(ColourPixel(0, 100 * 64, 100 * 64), Bgr({172, 102, 163}));
    EXPECT_EQ(ColourPixel(0, 511 * 64, 511 * 64), Bgr({255, 0, 255}));
    EXPECT_EQ(ColourPixel(0, -32768, -32768), Bgr({0, 255, 0}));
    EXPECT_EQ(ColourPixel(0, -64, -64), Bgr({128, 128, 128}));
    EXPECT_EQ(ColourPixel(0, 100 * 64 + 63, 100 * 64 + 63), Bgr({172, 102, 163}));
    // 5-5-5 words keep the top five bits of each channel, bit 15 clear.
    const Bgr word = ColourPixel(0, 100 * 64, 100 * 64, 2);
    EXPECT_EQ(word[0] | word[1] << 8, (163 >> 3) << 10 | (102 >> 3) << 5 | (172 >> 3));
}

// Beyond -128..383 the legacy arithmetic wraps and the saturating one
// clamps. Top luma (255 and 127/128) under the strongest red chroma: red
// 255 + 179 wraps to 0, green 255 - 91 stays at 165. Bottom luma under the
// most negative blue chroma: blue -226 wraps to 255.
TEST_F(DecodeExactness, SaturatingColourOutputClampsWhereTheLegacyOneWraps) {
    using Bgr = std::vector<uint8_t>;
    const int16_t white = 32767, black = -32768, strongest = 511 * 64, weakest = -32768;
    EXPECT_EQ(ColourPixel(white, 0, strongest), Bgr({255, 165, 0}));
    EXPECT_EQ(ColourPixel(white, 0, strongest, 3, OutputH1V1Saturating), Bgr({255, 165, 255}));
    EXPECT_EQ(ColourPixel(black, weakest, 0), Bgr({255, 44, 0}));
    EXPECT_EQ(ColourPixel(black, weakest, 0, 3, OutputH1V1Saturating), Bgr({0, 44, 0}));
    // 32-bit pixels leave the fourth byte; 5-5-5 words pack the clamped channels.
    EXPECT_EQ(ColourPixel(white, 0, strongest, 4, OutputH1V1Saturating), Bgr({255, 165, 255, 0xAA}));
    const Bgr word = ColourPixel(white, 0, strongest, 2, OutputH1V1Saturating);
    EXPECT_EQ(word[0] | word[1] << 8, (255 >> 3) << 10 | (165 >> 3) << 5 | (255 >> 3));
}

// The JFIF 1.02 conversion in this library's fixed point, one pixel at a
// time: luma (s + 32768) / 2 with seven fraction bits; each chroma sample
// read to a quarter level, c = (s >> 6) / 4; each term 128 k c truncated
// towards zero, with half a level added to the blue, red and one green term
// so that the final floor rounds; k the library's coefficients (1.77,
// -0.3437 and -0.7143, and 1.402 in single precision, where JFIF has 1.772,
// -0.344136, -0.714136 and 1.402). Returns blue, green and red before
// clamping.
std::array<int, 3> FixedPointChannels(int16_t luma, int16_t cb, int16_t cr) {
    const int y = (int(luma) + 32768) >> 1;
    const double b = (cb >> 6) / 4.0, r = (cr >> 6) / 4.0;
    const int blue = int(128 * 1.77 * b + 64);
    const int green = int(128 * -0.3437 * b + 64) + int(128 * -0.7143 * r);
    const int red = int(128 * double(1.402f) * r + 64);
    auto level = [y](int term) { return int(std::floor((y + term) / 128.0)); };
    return {level(blue), level(green), level(red)};
}

// On a grid of every luma level (with changing fractions) and every fourth
// chroma level of both components, ends included: the saturating routine
// gives each channel of the fixed-point reference clamped to 0..255, within
// two levels of JFIF's exact equations clamped and rounded; the legacy
// routine gives the same wherever the channel is within -128..383 and the
// opposite extreme beyond.
TEST_F(DecodeExactness, SaturatingColourOutputFollowsTheJfifEquationsEverywhere) {
    std::vector<int> chroma;
    for (int c4 = -512; c4 < 512; c4 += 4) chroma.push_back(c4);
    chroma.push_back(511);
    alignas(32) int16_t blocks[10][64];
    uint8_t clamped[8][24], wrapped[8][24];
    uint8_t* clampedRows[8];
    uint8_t* wrappedRows[8];
    for (int r = 0; r < 8; ++r) clampedRows[r] = clamped[r], wrappedRows[r] = wrapped[r];
    int worstJfif = 0, wraps = 0;
    uint32_t fraction = 1;
    for (int cb4 : chroma) {
        for (size_t k = 0; k < chroma.size(); ++k) {
            const int cr4 = chroma[k];
            for (int start = 0; start < 256; start += 64) {
                for (int i = 0; i < 64; ++i) {
                    fraction = fraction * 1103515245u + 12345u;
                    blocks[0][i] = int16_t((start + i - 128) * 256 + int((fraction >> 16) & 255));
                    blocks[1][i] = int16_t(cb4 * 64 + int((fraction >> 8) & 63));
                    blocks[2][i] = int16_t(cr4 * 64 + int((fraction >> 24) & 63));
                }
                OutputH1V1Saturating(clampedRows, blocks, 3);
                OutputH1V1(wrappedRows, blocks, 3);
                for (int i = 0; i < 64; ++i) {
                    const std::array<int, 3> exact = FixedPointChannels(blocks[0][i], blocks[1][i], blocks[2][i]);
                    const double y = (blocks[0][i] + 32768) / 256.0, b = blocks[1][i] / 256.0,
                                 r = blocks[2][i] / 256.0;
                    const double jfif[3] = {y + 1.772 * b, y - 0.344136 * b - 0.714136 * r, y + 1.402 * r};
                    for (int ch = 0; ch < 3; ++ch) {
                        const int got = clamped[i / 8][3 * (i % 8) + ch];
                        const int legacy = wrapped[i / 8][3 * (i % 8) + ch];
                        const int want = std::clamp(exact[ch], 0, 255);
                        if (got != want)
                            FAIL() << "luma " << blocks[0][i] << ", Cb " << blocks[1][i] << ", Cr " << blocks[2][i]
                                   << ", channel " << ch << ": " << got << ", reference " << want;
                        worstJfif = std::max(worstJfif, std::abs(got - std::clamp(int(std::lround(jfif[ch])), 0, 255)));
                        const bool exactInSixteenBits = exact[ch] >= -128 && exact[ch] <= 383;
                        if (legacy != (exactInSixteenBits ? want : 255 - want))
                            FAIL() << "legacy: luma " << blocks[0][i] << ", Cb " << blocks[1][i] << ", Cr "
                                   << blocks[2][i] << ", channel " << ch << ": " << legacy << " against " << want;
                        wraps += exactInSixteenBits ? 0 : 1;
                    }
                }
            }
        }
    }
    EXPECT_LE(worstJfif, 2);
    EXPECT_GT(wraps, 100000);  // the grid reaches far beyond what 16 bits hold
}

// ---- the entropy decoder on corrupt data ------------------------------------------

// The input and bit readers of a decoder, owned by the test.
struct Readers {
    InputBuffer in{};
    BitReader bits{};
};

// The reader as the decompression open leaves it for an untiled stream.
void OpenReader(Readers& r, const Bytes& data, uint16_t chunk, VexReadCallback callback = SourceRead) {
    ResetSource(data, chunk);
    r = Readers{};
    HostIo io{};
    io.read = callback;
    ResetInput(r.in, io);
    r.in.segmentLimit = kUntiledSegmentLimit;
    r.in.readAhead = 65535;
}

void OpenInput(Readers& r, const Bytes& data) {
    OpenReader(r, data, 65535);
    ASSERT_EQ(StartEntropyInput(r.bits, r.in), 0);
    ASSERT_EQ(ResyncEntropyInput(r.bits, r.in), 0);
}

// A decoder lookup table owned by the test, released before the fixture
// counts the library's blocks.
struct DecoderTable {
    uint16_t* table = nullptr;
    DecoderTable(const uint8_t* spec, int lookahead) { EXPECT_EQ(BuildHuffDecTable(spec, lookahead, &table), 0); }
    ~DecoderTable() { LibFree(table); }
};

TEST_F(DecodeExactness, CorruptCodesNeverLeaveTheBlock) {
    // DC: one code "0" for category 0. AC: "0" for run 15 / size 1, "10" for EOB.
    const uint8_t oneCodeDc[17] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};
    const uint8_t longRunAc[18] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF1, 0x00};
    DecoderTable dc(oneCodeDc, kDcLookahead), ac(longRunAc, kAcLookahead);
    // Block 1: DC "0", then four times run 15 + value 1 ("0" "1"): the fourth
    // lands at 64 and ends the block inside it. Block 2: DC "0", EOB "10".
    Readers r;
    OpenInput(r, {0x2A, 0xA0, 0xFF, 0xD9});
    int16_t coefs[80];
    std::fill(std::begin(coefs), std::end(coefs), int16_t(0x5A5A));
    int16_t predictor = 0;
    ASSERT_EQ(DecodeBlock(r.bits, r.in, coefs, &predictor, dc.table, ac.table), 0);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(coefs[k], (k == 16 || k == 32 || k == 48) ? 1 : 0) << k;
    EXPECT_EQ(std::count(coefs + 64, coefs + 80, int16_t(0x5A5A)), 16) << "written past the block";
    ASSERT_EQ(DecodeBlock(r.bits, r.in, coefs, &predictor, dc.table, ac.table), 0);
    EXPECT_EQ(std::count(coefs, coefs + 64, 0), 64);

    // "1" is a code of neither table: DC difference 0, end of block, and
    // nothing consumed, however often it is met.
    OpenInput(r, {0xF0, 0x12, 0x34, 0x56});
    predictor = 7;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(DecodeBlock(r.bits, r.in, coefs, &predictor, dc.table, ac.table), 0);
        EXPECT_EQ(coefs[0], 7);
        EXPECT_EQ(std::count(coefs + 1, coefs + 64, 0), 63);
        EXPECT_EQ(r.bits.bitBuffer, 0xF0123456u);
    }

    // A DC table whose only symbol is 0xFF reads it as category 15:
    // "0", fifteen bits 100000000000000, then EOB "10".
    const uint8_t hostileDc[17] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
    DecoderTable dc15(hostileDc, kDcLookahead);
    OpenInput(r, {0x40, 0x00, 0x80, 0x00, 0xFF, 0xD9});
    predictor = 0;
    ASSERT_EQ(DecodeBlock(r.bits, r.in, coefs, &predictor, dc15.table, ac.table), 0);
    EXPECT_EQ(predictor, 16384);
    EXPECT_EQ(coefs[0], 16384);
    EXPECT_EQ(std::count(coefs + 1, coefs + 64, 0), 63);
}

// Counts that overflow the code space only at long lengths are refused with
// the class's code and allocate nothing: the two-bit space filled, then one
// 16-bit code; 255 eight-bit codes, then three nine-bit codes where two fit.
TEST_F(DecodeExactness, HuffmanCountsThatOverflowLateAreRefused) {
    std::vector<Bytes> bad(2, Bytes(16 + 16 * 255, 0));
    bad[0][1] = 4, bad[0][15] = 1;
    bad[1][7] = 255, bad[1][8] = 3;
    for (const Bytes& spec : bad) {
        const int64_t blocks = GetAllocatorStats().liveBlocks;
        uint16_t* table = nullptr;
        EXPECT_EQ(BuildHuffDecTable(spec.data(), kDcLookahead, &table), VEX_ERR_DC_TABLE);
        EXPECT_EQ(BuildHuffDecTable(spec.data(), kAcLookahead, &table), VEX_ERR_AC_TABLE);
        EXPECT_EQ(table, nullptr);
        EXPECT_EQ(GetAllocatorStats().liveBlocks, blocks);
    }
}

// A copy that runs out writes only what came; a near skip (read on) or a far
// seek beyond what the host has is refused.
TEST_F(DecodeExactness, InputRequestsBeyondWhatTheHostHasAreRefused) {
    Bytes data(1100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + i / 251);
    Readers r;
    auto copyAt = [&r](int32_t position, uint8_t* destination, uint16_t count) {
        int16_t mode = kInputCopy;
        return ReadInput(r.in, destination, position, &count, &mode);
    };
    OpenReader(r, data, 1000);
    Bytes out(1200, 0xAA);
    EXPECT_EQ(copyAt(10, out.data(), 1100), VEX_ERR_NO_BUFFER);
    EXPECT_TRUE(std::equal(data.begin() + 10, data.end(), out.begin()));
    EXPECT_EQ(out[1090], 0xAA);
    for (int32_t target : {1300, 4000}) {
        OpenReader(r, data, 1000);
        ASSERT_EQ(copyAt(0, out.data(), 1), 0);
        EXPECT_EQ(copyAt(target, out.data(), 1), VEX_ERR_NO_BUFFER) << target;
    }
}

}  // namespace
}  // namespace vextest
