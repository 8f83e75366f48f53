// What a host relies on before and around a sequence: the default record as
// it lies in memory, the control exports, MCU sizes with the code of the
// first check that fails, quality scaling and table sizes.
#include <cstring>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

void PutU16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value) {
    bytes[offset] = uint8_t(value);
    bytes[offset + 1] = uint8_t(value >> 8);
}

using Foundation = LibraryTest;

// The default record as a host sees it in memory: zero except the fields
// listed, little-endian. On 32-bit targets the header pins these offsets to
// the legacy 146-byte layout at compile time.
TEST_F(Foundation, BothDefaultNamesWriteEveryByteOfTheSameRecord) {
    std::vector<uint8_t> expected(sizeof(AppVexParams), 0);
    PutU16(expected, offsetof(AppVexParams, tileWidth), 0xFFFF);
    PutU16(expected, offsetof(AppVexParams, tileHeight), 0xFFFF);
    PutU16(expected, offsetof(AppVexParams, containerKind), 1);
    const size_t s = offsetof(AppVexParams, sampling), f = offsetof(AppVexParams, pixelFormat);
    PutU16(expected, s, 2);  // h[0]; h[1], h[2] and v[0..2] are 1
    for (size_t field : {s + 2, s + 4, s + 8, s + 10, s + 12}) PutU16(expected, field, 1);
    for (size_t field : {f + 0, f + 2, f + 4}) PutU16(expected, field, 8);
    PutU16(expected, offsetof(AppVexParams, quality), 25);
    PutU16(expected, offsetof(AppVexParams, windowRight), 0xFFFF);
    PutU16(expected, offsetof(AppVexParams, windowBottom), 0xFFFF);
    for (auto fill : {AppVexSetDefaultCompress, AppVexSetDefaultDecompress}) {
        std::vector<uint8_t> raw(sizeof(AppVexParams) + 16, 0xAA);
        fill(reinterpret_cast<AppVexParams *>(raw.data()));
        EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + sizeof(AppVexParams)), expected);
        EXPECT_EQ(std::vector<uint8_t>(raw.begin() + sizeof(AppVexParams), raw.end()), std::vector<uint8_t>(16, 0xAA))
            << "written past the record";
        EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, reinterpret_cast<AppVexParams *>(raw.data())), 0);
    }
}

TEST_F(Foundation, DeallocateMidSequenceLeavesNoBlockAndNoOpenSequence) {
    AppVexParams p = compress::MakeParams(1, 0, 48, 16);
    p.bandWidth = 48;
    p.bandHeight = 16;
    ResetSink(4096);
    p.writeCallback = SinkWrite;
    ASSERT_EQ(AppVexCompressBuffInit(&p), 0);
    EXPECT_GT(q32vex::GetAllocatorStats().liveBlocks, 0);
    // While it is open, the format question waits its turn.
    AppVexParams other = compress::MakeParams(3, 3, 8, 8);
    EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &other), VEX_ERR_BUSY);
    EXPECT_EQ(AppVexDeallocate(), 0);
    EXPECT_EQ(q32vex::GetAllocatorStats().liveBlocks, 0);
    Image image = MakeTestImage(48, 16, 3, 3);
    std::vector<uint8_t *> rows;
    for (int y = 0; y < 16; ++y) rows.push_back(image.row(y));
    BandRect next{};
    EXPECT_EQ(AppVexCompressBuff(rows.data(), &next), VEX_ERR_NOT_COMPRESSING);
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
    EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &other), 0);
}

TEST_F(Foundation, McuDimensionsFollowTheLargestFactors) {
    struct Case {
        int16_t colorSpace;
        SamplingDesc s;
        int16_t code;
        uint16_t w, h;
    };
    const Case cases[] = {
        {0, {{2, 1, 1, 0}, {1, 1, 1, 0}}, 0, 16, 8},
        {0, {{2, 1, 1, 0}, {2, 1, 1, 0}}, 0, 16, 16},
        {0, {{4, 1, 1, 0}, {1, 1, 1, 0}}, 0, 32, 8},
        {0, {{4, 1, 1, 0}, {2, 1, 1, 0}}, 0, 32, 16},  // exactly ten blocks
        {0, {{1, 2, 1, 0}, {1, 2, 1, 0}}, 0, 16, 16},  // largest on component 1
        {1, {{1, 9, 9, 9}, {4, 9, 9, 9}}, 0, 8, 32},   // only one component is read
        {2, {{2, 1, 1, 9}, {2, 1, 1, 9}}, 0, 16, 16},  // colour space 2: three components read
        {3, {{2, 1, 1, 2}, {2, 1, 1, 2}}, 0, 16, 16},
        {0, {{2, 2, 2, 0}, {2, 1, 1, 0}}, 0, 16, 16},  // consistent, not a table row
        // Refusals leave the outputs alone.
        {-1, {{1, 0, 0, 0}, {1, 0, 0, 0}}, VEX_ERR_COLOR_SPACE, 0xAAAA, 0xAAAA},
        {0, {{3, 1, 1, 0}, {1, 1, 1, 0}}, VEX_ERR_SAMPLING, 0xAAAA, 0xAAAA},
        {0, {{2, 1, 0, 0}, {1, 1, 1, 0}}, VEX_ERR_SAMPLING, 0xAAAA, 0xAAAA},  // third component 0
        {0, {{2, 1, 1, 0}, {1, 2, 1, 0}}, VEX_ERR_SAMPLING, 0xAAAA, 0xAAAA},
        {0, {{4, 1, 1, 0}, {2, 2, 1, 0}}, VEX_ERR_SAMPLING, 0xAAAA, 0xAAAA},  // eleven blocks
        {3, {{2, 1, 1, 0}, {2, 1, 1, 0}}, VEX_ERR_SAMPLING, 0xAAAA, 0xAAAA},  // fourth factor 0
    };
    int index = 0;
    for (const Case &c : cases) {
        uint16_t w = 0xAAAA, h = 0xAAAA;
        EXPECT_EQ(AppVexGetMcuDims(c.colorSpace, &c.s, &w, &h), c.code) << "case " << index;
        EXPECT_EQ(w, c.w) << "case " << index;
        EXPECT_EQ(h, c.h) << "case " << index++;
    }
}

TEST_F(Foundation, QualityScalesTablesInFiftieths) {
    const uint8_t *const *q = nullptr, *const *dc = nullptr, *const *ac = nullptr;
    ASSERT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    uint8_t out[64];
    // 50 reproduces the table in zigzag order.
    ASSERT_EQ(AppVexMakeQTable(q[0], 50, out), 0);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), std::vector<uint8_t>({16, 11, 12, 14, 12, 10, 16, 14}));
    EXPECT_EQ(std::vector<uint8_t>({out[28], out[35], out[63]}), std::vector<uint8_t>({61, 72, 99}));  // corners
    // 1 floors every entry at 2.
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(AppVexMakeQTable(q[t], 1, out), 0);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 64), std::vector<uint8_t>(64, 2));
    }
    // 255 multiplies by 5.1, truncated, and saturates every entry from 50 up.
    ASSERT_EQ(AppVexMakeQTable(q[1], 255, out), 0);
    EXPECT_EQ(std::vector<uint8_t>({out[0], out[1], out[63]}), std::vector<uint8_t>({86, 91, 255}));
    EXPECT_EQ(std::count(out, out + 64, 255), 64 - 10);
    for (uint16_t quality : {uint16_t(0), uint16_t(256), uint16_t(65535)}) {
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(AppVexMakeQTable(q[0], quality, out), VEX_ERR_QUALITY);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 64), std::vector<uint8_t>(64, 0xAA));
    }
}

TEST_F(Foundation, TableSizeRejectsOversizedAndBrokenTablesWithoutWritingTheSize) {
    const uint8_t *const *q = nullptr, *const *dc = nullptr, *const *ac = nullptr;
    ASSERT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    uint8_t dcSpec[80] = {};
    dcSpec[15] = 64;  // 16 + 64 = 80 fills the slot exactly
    uint16_t size = 0xAAAA;
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dcSpec, &size), 0);
    EXPECT_EQ(size, 80);
    // A DC-sized count of 81 is fine for an AC table.
    dcSpec[0] = 1;
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_AC, dcSpec, &size), 0);
    EXPECT_EQ(size, 81);
    uint8_t acSpec[178];
    std::memcpy(acSpec, ac[0], sizeof acSpec);
    acSpec[0] = 1;  // 179
    uint8_t quant[64];
    std::memcpy(quant, q[0], 64);
    quant[63] = 0;
    size = 0xAAAA;
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dcSpec, &size), VEX_ERR_DC_TABLE);
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_AC, acSpec, &size), VEX_ERR_AC_TABLE);
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_QUANT, quant, &size), VEX_ERR_Q_TABLE);
    EXPECT_EQ(AppVexGetTableSize(3, q[0], &size), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(AppVexGetTableSize(-1, q[0], &size), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(size, 0xAAAA);
}

}  // namespace
}  // namespace vextest
