// The decompressor's numbers and its answers to corrupt data where the
// exact result matters: dequantisation values, the inverse DCT's worked
// values, saturation and 16-bit wrap-around, colour output clamping and
// packing, what the entropy decoder makes of codes a table lacks or of runs
// past the block, and the refusals of Huffman tables and input requests.
#include <algorithm>
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
// gives them, in `bpp` bytes.
std::vector<uint8_t> ColourPixel(int16_t luma, int16_t cb, int16_t cr, int bpp = 3) {
    alignas(32) int16_t blocks[10][64] = {};
    blocks[0][0] = luma;
    blocks[1][0] = cb;
    blocks[2][0] = cr;
    std::vector<uint8_t> out(size_t(8) * (8 * bpp + 16), 0xAA);
    std::vector<uint8_t*> rows;
    for (int y = 0; y < 8; ++y) rows.push_back(out.data() + size_t(y) * (8 * bpp + 16));
    OutputH1V1(rows.data(), blocks, bpp);
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
