// What a host relies on before it opens a sequence: the default record, the
// control exports, the format questions, quality scaling, table sizes and
// table numbering.
#include <cstring>
#include <vector>

#include "interface/format.h"
#include "interface/global_state.h"
#include "interface/tables.h"
#include "platform/allocator.h"
#include "test_support.h"

namespace {

using namespace q32vex;
using vextest::LibraryTest;

void PutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    bytes[offset] = uint8_t(value);
    bytes[offset + 1] = uint8_t(value >> 8);
}

// The default record as a host sees it in memory: zero except the fields
// listed, little-endian. On 32-bit targets the header pins these offsets to
// the legacy 146-byte layout at compile time.
std::vector<uint8_t> ExpectedDefaultBytes() {
    std::vector<uint8_t> bytes(sizeof(AppVexParams), 0);
    PutU16(bytes, offsetof(AppVexParams, tileWidth), 0xFFFF);
    PutU16(bytes, offsetof(AppVexParams, tileHeight), 0xFFFF);
    PutU16(bytes, offsetof(AppVexParams, containerKind), 1);
    const size_t s = offsetof(AppVexParams, sampling);
    PutU16(bytes, s + 0, 2);   // h[0]
    PutU16(bytes, s + 2, 1);   // h[1]
    PutU16(bytes, s + 4, 1);   // h[2]
    PutU16(bytes, s + 8, 1);   // v[0]
    PutU16(bytes, s + 10, 1);  // v[1]
    PutU16(bytes, s + 12, 1);  // v[2]
    const size_t f = offsetof(AppVexParams, pixelFormat);
    PutU16(bytes, f + 0, 8);
    PutU16(bytes, f + 2, 8);
    PutU16(bytes, f + 4, 8);
    PutU16(bytes, offsetof(AppVexParams, quality), 25);
    PutU16(bytes, offsetof(AppVexParams, windowRight), 0xFFFF);
    PutU16(bytes, offsetof(AppVexParams, windowBottom), 0xFFFF);
    return bytes;
}

// ---- the default record -----------------------------------------------

using DefaultRecord = LibraryTest;

TEST_F(DefaultRecord, BothNamesWriteEveryByteOfTheSameRecord) {
    const std::vector<uint8_t> expected = ExpectedDefaultBytes();
    for (auto fill : {AppVexSetDefaultCompress, AppVexSetDefaultDecompress}) {
        std::vector<uint8_t> raw(sizeof(AppVexParams) + 16, 0xAA);
        fill(reinterpret_cast<AppVexParams*>(raw.data()));
        EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + sizeof(AppVexParams)), expected);
        // Nothing past the record is touched.
        for (size_t i = sizeof(AppVexParams); i < raw.size(); ++i) EXPECT_EQ(raw[i], 0xAA);
    }
}

TEST_F(DefaultRecord, IsAcceptedByTheSupportQuery) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &p), 0);
    // pixel format 1, sampling 0: MCU 16 x 8, 24 bits, full support.
    EXPECT_EQ(g.format.pixelFormatIndex, 1);
    EXPECT_EQ(g.format.samplingIndex, 0);
    EXPECT_EQ(g.seq.mcuWidth, 16);
    EXPECT_EQ(g.seq.mcuHeight, 8);
    EXPECT_EQ(g.seq.bitsPerPixel, 24);
    EXPECT_EQ(g.seq.supportValue, 2047);
}

// ---- closing a sequence and giving memory back ---------------------------

using Control = LibraryTest;

TEST_F(Control, AbortClosesEitherDirectionOnceAndKeepsTheTileArrays) {
    for (uint16_t state : {uint16_t(kCompressing), uint16_t(kDecompressing)}) {
        ASSERT_EQ(AllocTileArrays(3), 0);
        g.seq.sequenceState = state;
        EXPECT_EQ(AppVexAbort(), 0);
        EXPECT_EQ(g.seq.sequenceState, kIdle);
        EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
        // Abort releases nothing; the next open or AppVexDeallocate does.
        EXPECT_EQ(GetAllocatorStats().liveBlocks, 2);
        EXPECT_NE(g.tiles.byteCounts, nullptr);
        FreeTileArrays();
    }
}

TEST_F(Control, DeallocateReleasesTileArraysAndClosesTheSequence) {
    ASSERT_EQ(AllocTileArrays(40), 0);
    EXPECT_EQ(GetAllocatorStats().liveBlocks, 2);
    g.seq.sequenceState = kCompressing;
    EXPECT_EQ(AppVexDeallocate(), 0);
    EXPECT_EQ(GetAllocatorStats().liveBlocks, 0);
    EXPECT_EQ(g.tiles.byteCounts, nullptr);
    EXPECT_EQ(g.tiles.offsets, nullptr);
    EXPECT_EQ(g.tiles.byteCountsCursor, nullptr);
    EXPECT_EQ(g.tiles.offsetsCursor, nullptr);
    // A band call after this must not run on the released memory.
    EXPECT_EQ(g.seq.sequenceState, kIdle);
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
}

TEST_F(Control, DeallocateMidCompressionLeavesNoBlockAndNoOpenSequence) {
    vextest::Image image = vextest::MakeTestImage(48, 16, 3, 3);
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = 48;
    p.height = 16;
    p.bandWidth = 48;
    p.bandHeight = 16;
    vextest::ResetSink(4096);
    p.writeCallback = vextest::SinkWrite;
    ASSERT_EQ(AppVexCompressBuffInit(&p), 0);
    EXPECT_GT(GetAllocatorStats().liveBlocks, 0);
    EXPECT_EQ(AppVexDeallocate(), 0);
    EXPECT_EQ(GetAllocatorStats().liveBlocks, 0);
    std::vector<uint8_t*> rows;
    for (int y = 0; y < 16; ++y) rows.push_back(image.row(y));
    BandRect next{};
    EXPECT_EQ(AppVexCompressBuff(rows.data(), &next), VEX_ERR_NOT_COMPRESSING);
}

// ---- format questions ------------------------------------------------------

AppVexParams RecordFor(int formatIndex, int samplingIndex) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.pixelFormat = vextest::FormatDesc(formatIndex, &p.pixelModel);
    p.sampling = vextest::SamplingOf(samplingIndex, &p.colorSpace);
    return p;
}

using SupportQuery = LibraryTest;

TEST_F(SupportQuery, FirstFailingCheckDecidesTheCode) {
    struct Case {
        const char* what;
        void (*edit)(AppVexParams&);
        int16_t code;
    };
    const Case cases[] = {
        {"colour space out of range beats everything",
         [](AppVexParams& p) {
             p.colorSpace = 4;
             p.sampling.h[0] = 3;
             p.pixelModel = 9;
         },
         VEX_ERR_COLOR_SPACE},
        {"negative colour space", [](AppVexParams& p) { p.colorSpace = -1; }, VEX_ERR_COLOR_SPACE},
        {"bad factor beats bad pixel model",
         [](AppVexParams& p) {
             p.sampling.v[2] = 3;
             p.pixelModel = 9;
         },
         VEX_ERR_SAMPLING},
        {"largest h and largest v on different components",
         [](AppVexParams& p) { p.sampling = SamplingDesc{{2, 1, 1, 0}, {1, 2, 1, 0}}; },
         VEX_ERR_SAMPLING},
        {"more than ten blocks per MCU",
         [](AppVexParams& p) { p.sampling = SamplingDesc{{4, 2, 2, 0}, {2, 1, 1, 0}}; },
         VEX_ERR_SAMPLING},
        {"pixel model beats pixel format",
         [](AppVexParams& p) {
             p.pixelModel = 3;
             p.pixelFormat = PixelFormatDesc{};
         },
         VEX_ERR_PIXEL_MODEL},
        {"zero bits per pixel", [](AppVexParams& p) { p.pixelFormat = PixelFormatDesc{}; },
         VEX_ERR_PIXEL_FORMAT},
        {"format not in the table beats colour space 2",
         [](AppVexParams& p) {
             p.pixelFormat.bits[2] = 7;
             p.colorSpace = 2;
         },
         VEX_ERR_PIXEL_FORMAT},
        {"grey model needs the grey row",
         [](AppVexParams& p) { p.pixelModel = 1; }, VEX_ERR_PIXEL_FORMAT},
        {"four-channel model needs the four-channel row",
         [](AppVexParams& p) {
             p.pixelModel = 2;
             p.pixelFormat = PixelFormatDesc{{8, 8, 8, 0}, {0, 0, 8, 0}};
         },
         VEX_ERR_PIXEL_FORMAT},
        {"colour space 2 passes the MCU check but has no converter",
         [](AppVexParams& p) { p.colorSpace = 2; }, VEX_ERR_COLOR_SPACE},
        {"consistent factors that are not a table row",
         [](AppVexParams& p) { p.sampling = SamplingDesc{{2, 2, 2, 0}, {2, 1, 1, 0}}; },
         VEX_ERR_SAMPLING},
        {"grey colour space accepts only the grey row",
         [](AppVexParams& p) {
             p.colorSpace = 1;
             p.pixelModel = 1;
             p.pixelFormat = PixelFormatDesc{{8, 0, 0, 0}, {0, 0, 0, 0}};
         },
         VEX_ERR_SAMPLING},
        {"four components need a fourth factor",
         [](AppVexParams& p) { p.colorSpace = 3; }, VEX_ERR_SAMPLING},
        {"valid but unsupported pair comes last",
         [](AppVexParams& p) { p.sampling = SamplingDesc{{4, 1, 1, 0}, {1, 1, 1, 0}};
                               p.pixelFormat.pad[2] = 8; },
         VEX_ERR_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        AppVexParams p;
        AppVexSetDefaultCompress(&p);
        c.edit(p);
        EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &p), c.code) << c.what;
    }
}

TEST_F(SupportQuery, RefusesWhileASequenceIsOpen) {
    AppVexParams p = RecordFor(1, 0);
    ASSERT_EQ(AllocTileArrays(2), 0);
    g.seq.sequenceState = kDecompressing;
    g.seq.params.width = 4321;
    EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &p), VEX_ERR_BUSY);
    // Nothing of the open sequence was disturbed.
    EXPECT_EQ(g.seq.params.width, 4321);
    EXPECT_EQ(GetAllocatorStats().liveBlocks, 2);
    EXPECT_EQ(AppVexAbort(), 0);
}

using McuDims = LibraryTest;

TEST_F(McuDims, FollowTheLargestFactors) {
    struct Case {
        int16_t colorSpace;
        SamplingDesc s;
        uint16_t w, h;
    };
    const Case cases[] = {
        {0, {{2, 1, 1, 0}, {1, 1, 1, 0}}, 16, 8},
        {0, {{2, 1, 1, 0}, {2, 1, 1, 0}}, 16, 16},
        {0, {{1, 1, 1, 0}, {1, 1, 1, 0}}, 8, 8},
        {0, {{4, 1, 1, 0}, {1, 1, 1, 0}}, 32, 8},
        {0, {{4, 1, 1, 0}, {2, 1, 1, 0}}, 32, 16},     // exactly ten blocks
        {0, {{1, 2, 1, 0}, {1, 2, 1, 0}}, 16, 16},     // largest on component 1
        {1, {{1, 9, 9, 9}, {4, 9, 9, 9}}, 8, 32},      // only one component is read
        {2, {{2, 1, 1, 9}, {2, 1, 1, 9}}, 16, 16},     // colour space 2: 3 components read
        {3, {{2, 1, 1, 2}, {2, 1, 1, 2}}, 16, 16},
        {0, {{2, 2, 2, 0}, {2, 1, 1, 0}}, 16, 16},     // consistent, not a table row
    };
    int index = 0;
    for (const Case& c : cases) {
        uint16_t w = 0xAAAA, h = 0xAAAA;
        EXPECT_EQ(AppVexGetMcuDims(c.colorSpace, &c.s, &w, &h), 0) << "case " << index;
        EXPECT_EQ(w, c.w) << "case " << index;
        EXPECT_EQ(h, c.h) << "case " << index;
        ++index;
    }
}

TEST_F(McuDims, RejectsBadFactorsWithoutWritingOutputs) {
    struct Case {
        int16_t colorSpace;
        SamplingDesc s;
        int16_t code;
    };
    const Case cases[] = {
        {-1, {{1, 0, 0, 0}, {1, 0, 0, 0}}, VEX_ERR_COLOR_SPACE},
        {4, {{1, 0, 0, 0}, {1, 0, 0, 0}}, VEX_ERR_COLOR_SPACE},
        {0, {{3, 1, 1, 0}, {1, 1, 1, 0}}, VEX_ERR_SAMPLING},
        {0, {{2, 1, 0, 0}, {1, 1, 1, 0}}, VEX_ERR_SAMPLING},   // third component 0
        {0, {{2, 1, 1, 0}, {1, 1, 8, 0}}, VEX_ERR_SAMPLING},
        {0, {{2, 1, 1, 0}, {1, 2, 1, 0}}, VEX_ERR_SAMPLING},
        {0, {{4, 1, 1, 0}, {2, 2, 1, 0}}, VEX_ERR_SAMPLING},   // eleven blocks
        {0, {{4, 2, 2, 0}, {2, 1, 1, 0}}, VEX_ERR_SAMPLING},   // twelve blocks
        {3, {{2, 1, 1, 0}, {2, 1, 1, 0}}, VEX_ERR_SAMPLING},   // fourth factor 0
    };
    int index = 0;
    for (const Case& c : cases) {
        uint16_t w = 0xAAAA, h = 0xAAAA;
        EXPECT_EQ(AppVexGetMcuDims(c.colorSpace, &c.s, &w, &h), c.code) << "case " << index;
        EXPECT_EQ(w, 0xAAAA);
        EXPECT_EQ(h, 0xAAAA);
        ++index;
    }
}

// ---- quality scaling, table sizes ---------------------------

using QualityScaling = LibraryTest;

TEST_F(QualityScaling, Quality50ReproducesTheTableInZigzagOrder) {
    uint8_t out[64];
    ASSERT_EQ(AppVexMakeQTable(kLumQuant, 50, out), 0);
    const uint8_t head[8] = {16, 11, 12, 14, 12, 10, 16, 14};
    EXPECT_EQ(std::memcmp(out, head, 8), 0);
    EXPECT_EQ(out[63], 99);   // bottom-right corner comes last
    EXPECT_EQ(out[35], 72);   // bottom-left corner
    EXPECT_EQ(out[28], 61);   // top-right corner
}

TEST_F(QualityScaling, Quality1FloorsEveryEntryAt2) {
    uint8_t out[64];
    for (const uint8_t* table : {kLumQuant, kChromQuant}) {
        ASSERT_EQ(AppVexMakeQTable(table, 1, out), 0);
        for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], 2) << k;
    }
}

TEST_F(QualityScaling, Quality255SaturatesAt255) {
    uint8_t out[64];
    ASSERT_EQ(AppVexMakeQTable(kChromQuant, 255, out), 0);
    EXPECT_EQ(out[0], 86);  // 17 * 5.1 = 86.7
    EXPECT_EQ(out[1], 91);  // 18 * 5.1 = 91.8
    EXPECT_EQ(out[63], 255);
    int saturated = 0;
    for (int k = 0; k < 64; ++k) saturated += out[k] == 255;
    EXPECT_EQ(saturated, 64 - 10);  // every entry from 50 up; ten are below
}

TEST_F(QualityScaling, OutOfRangeQualityLeavesTheDestinationAlone) {
    for (uint16_t quality : {uint16_t(0), uint16_t(256), uint16_t(65535)}) {
        uint8_t out[64];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(AppVexMakeQTable(kLumQuant, quality, out), VEX_ERR_QUALITY);
        for (uint8_t b : out) EXPECT_EQ(b, 0xAA);
    }
}

using TableSize = LibraryTest;

TEST_F(TableSize, RejectsOversizedAndBrokenTablesWithoutWritingTheSize) {
    uint8_t dc[80] = {};
    dc[15] = 64;  // 16 + 64 = 80 fills the slot exactly
    uint16_t size = 0xAAAA;
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dc, &size), 0);
    EXPECT_EQ(size, 80);
    dc[0] = 1;  // 81
    size = 0xAAAA;
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dc, &size), VEX_ERR_DC_TABLE);
    EXPECT_EQ(size, 0xAAAA);

    uint8_t ac[178];
    std::memcpy(ac, kLumAcSpec, sizeof ac);
    ac[0] = 1;  // 179
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_AC, ac, &size), VEX_ERR_AC_TABLE);
    EXPECT_EQ(size, 0xAAAA);
    // A DC-sized count is fine for an AC table.
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_AC, dc, &size), 0);
    EXPECT_EQ(size, 81);

    uint8_t q[64];
    std::memcpy(q, kLumQuant, sizeof q);
    q[63] = 0;
    size = 0xAAAA;
    EXPECT_EQ(AppVexGetTableSize(VEX_TABLE_QUANT, q, &size), VEX_ERR_Q_TABLE);
    EXPECT_EQ(size, 0xAAAA);

    EXPECT_EQ(AppVexGetTableSize(3, kLumQuant, &size), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(AppVexGetTableSize(-1, kLumQuant, &size), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(size, 0xAAAA);
}

using TableNumbering = LibraryTest;

TEST_F(TableNumbering, NumbersAreSlotIndicesNotConsecutiveIds) {
    const uint8_t* aba[3] = {kLumQuant, kChromQuant, kLumQuant};
    uint16_t count = 3, number[3];
    ASSERT_EQ(NumberTables(&count, kQuantTable, aba, number), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(number[0], 0);
    EXPECT_EQ(number[1], 1);
    EXPECT_EQ(number[2], 0);

    const uint8_t* baa[3] = {kChromQuant, kLumQuant, kLumQuant};
    count = 3;
    ASSERT_EQ(NumberTables(&count, kQuantTable, baa, number), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(number[0], 0);
    EXPECT_EQ(number[1], 1);
    EXPECT_EQ(number[2], 1);
}

TEST_F(TableNumbering, EqualBytesAtDifferentAddressesShareANumber) {
    uint8_t copyA[64], copyB[64];
    std::memcpy(copyA, kChromQuant, 64);
    std::memcpy(copyB, kChromQuant, 64);
    // A, copy of B, B, copy of B again: all B's fold into slot 1.
    const uint8_t* slots[4] = {kLumQuant, copyA, kChromQuant, copyB};
    uint16_t count = 4, number[4];
    ASSERT_EQ(NumberTables(&count, kQuantTable, slots, number), 0);
    EXPECT_EQ(count, 2);
    const uint16_t expected[4] = {0, 1, 1, 1};
    EXPECT_EQ(std::memcmp(number, expected, sizeof expected), 0);

    // One byte different is a different table.
    copyB[63] = 98;
    count = 4;
    ASSERT_EQ(NumberTables(&count, kQuantTable, slots, number), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(number[3], 3);
}

TEST_F(TableNumbering, HuffmanTablesCompareOnlyTheirOwnBytes) {
    // Same table definition in two slots whose unused tails differ.
    uint8_t a[80], b[80];
    std::memcpy(a, kLumDcSpec, 80);
    std::memcpy(b, kLumDcSpec, 80);
    std::memset(b + 28, 0x5C, 80 - 28);
    // A table definition that is a prefix of another one is not equal to it.
    uint8_t shorter[80] = {};
    std::memcpy(shorter, kLumDcSpec, 80);
    shorter[8] = 0;  // one code fewer: 27 bytes
    const uint8_t* slots[3] = {a, b, shorter};
    uint16_t count = 3, number[3];
    ASSERT_EQ(NumberTables(&count, kDcTable, slots, number), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(number[1], 0);
    EXPECT_EQ(number[2], 2);
}

TEST_F(TableNumbering, StopsAtTheFirstBadTableWithTheCountUnchanged) {
    uint8_t broken[64];
    std::memcpy(broken, kLumQuant, 64);
    broken[10] = 0;
    const uint8_t* slots[4] = {kLumQuant, kChromQuant, broken, kLumQuant};
    uint16_t count = 4;
    uint16_t number[4] = {7, 7, 7, 7};
    EXPECT_EQ(NumberTables(&count, kQuantTable, slots, number), VEX_ERR_Q_TABLE);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(number[0], 0);
    EXPECT_EQ(number[1], 1);
    EXPECT_EQ(number[3], 7);

    EXPECT_EQ(NumberTables(&count, 3, slots, number), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(NumberTables(&count, -1, slots, number), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(count, 4);
}

}  // namespace
