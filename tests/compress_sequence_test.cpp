// The compression sequence as a host meets it: which check of the open (and
// of the format question) answers first, what is written back and what is
// only read, and how the band calls hand the stream over to the output host.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::MakeParams;
using compress::ParseSegments;
using compress::Segment;

// Huffman table definitions different from both defaults and each other:
// three or more DC codes of two bits, AC codes for EOB, one 0x01 and ZRL.
std::vector<uint8_t> SmallSpec(bool ac, uint8_t extra) {
    std::vector<uint8_t> spec(ac ? 178 : 80, 0);
    spec[1] = ac ? 2 : 3;
    spec[2] = uint8_t(ac ? 1 + extra : extra);
    for (int i = 0; i < 3 + extra; ++i) spec[16 + i] = uint8_t(ac ? (i == 2 ? 0xF0 : i < 2 ? i : 0x11 + i - 3) : i);
    return spec;
}

class CompressOpen : public LibraryTest {
protected:
    std::vector<uint8_t> zeroQ = std::vector<uint8_t>(64, 3), longDc = std::vector<uint8_t>(80, 0);
    std::vector<uint8_t> dc[3] = {SmallSpec(false, 0), SmallSpec(false, 1), SmallSpec(false, 2)};
    std::vector<uint8_t> ac[3] = {SmallSpec(true, 0), SmallSpec(true, 1), SmallSpec(true, 2)};

    void SetUp() override {
        zeroQ[17] = 0;
        longDc[0] = 65;  // 16 + 65 bytes do not fit the 80-byte slot
        ResetSink(4096);
    }
    static AppVexParams Valid() {
        AppVexParams p = MakeParams(1, 0, 100, 50);
        p.writeCallback = SinkWrite;
        p.bandWidth = 100;
        p.bandHeight = 50;
        return p;
    }
    void ThreeDc(AppVexParams& p) {
        for (int i = 0; i < 3; ++i) p.dcTables[i] = dc[i].data();
    }
    void ThreeAc(AppVexParams& p) {
        for (int i = 0; i < 3; ++i) p.acTables[i] = ac[i].data();
    }
};

TEST_F(CompressOpen, EachCheckAnswersInItsTurn) {
    struct Case {
        const char* name;
        int16_t expected;
        std::function<void(AppVexParams&)> change;
        bool formatQuestion = false;  // AppVexQuerySupport answers the same
    };
    using P = AppVexParams&;
    const std::vector<Case> cases = {
        {"no writeCallback before a bad colour space", VEX_ERR_NO_CALLBACK,
         [](P p) { p.writeCallback = nullptr, p.colorSpace = 9; }},
        {"colour space out of range before bad sampling", VEX_ERR_COLOR_SPACE,
         [](P p) { p.colorSpace = -1, p.sampling.h[0] = 3; }, true},
        {"sampling factors before the pixel model", VEX_ERR_SAMPLING,
         [](P p) { p.sampling.v[1] = 2, p.pixelModel = 5; }, true},
        {"largest h and largest v on different components", VEX_ERR_SAMPLING,
         [](P p) {
             p.sampling = SamplingDesc{{2, 1, 1, 0}, {1, 2, 1, 0}};
         },
         true},
        {"more than ten blocks per MCU", VEX_ERR_SAMPLING,
         [](P p) {
             p.sampling = SamplingDesc{{4, 2, 2, 0}, {2, 1, 1, 0}};
         },
         true},
        {"pixel model before a zero-bit format", VEX_ERR_PIXEL_MODEL,
         [](P p) { p.pixelModel = 3, p.pixelFormat = PixelFormatDesc{}; }, true},
        {"zero bits per pixel", VEX_ERR_PIXEL_FORMAT, [](P p) { p.pixelFormat = PixelFormatDesc{}; }, true},
        {"format not in the table before colour space 2", VEX_ERR_PIXEL_FORMAT,
         [](P p) { p.pixelFormat.pad[2] = 4, p.colorSpace = 2; }, true},
        {"grey model needs the grey row", VEX_ERR_PIXEL_FORMAT, [](P p) { p.pixelModel = 1; }, true},
        {"four-channel model needs the four-channel row", VEX_ERR_PIXEL_FORMAT,
         [](P p) { p.pixelModel = 2, p.pixelFormat = FormatDesc(2); }, true},
        {"colour space 2", VEX_ERR_COLOR_SPACE, [](P p) { p.colorSpace = 2; }, true},
        {"sampling not in the table", VEX_ERR_SAMPLING,
         [](P p) {
             p.sampling = SamplingDesc{{2, 2, 2, 0}, {2, 1, 1, 0}};
         },
         true},
        {"grey colour space accepts only the grey row", VEX_ERR_SAMPLING,
         [](P p) { p.colorSpace = 1, p.pixelModel = 1, p.pixelFormat = FormatDesc(3); }, true},
        {"four components need a fourth factor", VEX_ERR_SAMPLING, [](P p) { p.colorSpace = 3; }, true},
        {"unsupported pair before a zero width", VEX_ERR_UNSUPPORTED,
         [](P p) { p.pixelFormat = FormatDesc(0), p.sampling = SamplingOf(6), p.width = 0; }, true},
        {"four-channel pixels on three components", VEX_ERR_PIXEL_FORMAT,
         [](P p) { p.pixelFormat = FormatDesc(4), p.pixelModel = 2, p.sampling = SamplingOf(4); }},
        {"four-channel pixels as colour with 4:2:2: unsupported before a zero width", VEX_ERR_UNSUPPORTED,
         [](P p) { p.pixelFormat = FormatDesc(4), p.pixelModel = 0, p.width = 0; }, true},
        {"zero width before a bad tile", VEX_ERR_IMAGE_SIZE, [](P p) { p.width = 0, p.tileWidth = 24; }},
        {"tile width not a multiple of the MCU", VEX_ERR_TILE, [](P p) { p.tileWidth = 24, p.bandWidth = 4; }},
        {"band below the minimum before a bad table", VEX_ERR_BAND, [](P p) { p.bandWidth = 8, p.quality = 0; }},
        {"no band and no budget", VEX_ERR_BAND, [](P p) { p.bandWidth = 0, p.bandMemory = 0; }},
        {"zero in a quantisation table before quality 0", VEX_ERR_Q_TABLE,
         [this](P p) { p.qTables[1] = zeroQ.data(), p.quality = 0; }},
        {"quality 0 before three DC tables", VEX_ERR_QUALITY, [this](P p) { p.quality = 0, ThreeDc(p); }},
        {"DC table definition too long", VEX_ERR_DC_TABLE, [this](P p) { p.dcTables[2] = longDc.data(); }},
        {"three DC tables before three AC tables", VEX_ERR_DC_COUNT, [this](P p) { ThreeDc(p), ThreeAc(p); }},
        {"three AC tables before a bad container", VEX_ERR_AC_COUNT, [this](P p) { ThreeAc(p), p.containerKind = 3; }},
        {"unknown container", VEX_ERR_CONTAINER, [](P p) { p.containerKind = 3; }},
        {"TIFF of grey pixels in the colour model", VEX_ERR_CONTAINER,
         [](P p) {
             p.pixelFormat = FormatDesc(3), p.pixelModel = 0, p.sampling = SamplingOf(3, &p.colorSpace);
             p.containerKind = 2;
         }},
        {"TIFF with an unknown density unit", VEX_ERR_CONTAINER, [](P p) { p.densityUnits = 4, p.containerKind = 2; }},
    };
    for (const Case& c : cases) {
        AppVexParams p = Valid();
        c.change(p);
        AppVexParams before = p;
        if (c.formatQuestion) {
            EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &p), c.expected) << c.name;
        }
        EXPECT_EQ(AppVexCompressBuffInit(&p), c.expected) << c.name;
        // Only the band size may have been written back.
        before.bandWidth = p.bandWidth;
        before.bandHeight = p.bandHeight;
        EXPECT_EQ(std::memcmp(&before, &p, sizeof p), 0) << c.name;
        uint8_t* rows[1] = {nullptr};
        BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        EXPECT_EQ(AppVexCompressBuff(rows, &next), VEX_ERR_NOT_COMPRESSING) << c.name;
        EXPECT_EQ(next.x0, 0xEEEE) << c.name;
    }
    // After all of that a good record still opens, and an open sequence
    // refuses a second open without touching its record.
    AppVexParams p = Valid();
    ASSERT_EQ(AppVexCompressBuffInit(&p), 0);
    AppVexParams second = Valid();
    second.bandWidth = 40;
    const AppVexParams before = second;
    EXPECT_EQ(AppVexCompressBuffInit(&second), VEX_ERR_BUSY);
    EXPECT_EQ(std::memcmp(&before, &second, sizeof second), 0);
    EXPECT_EQ(AppVexAbort(), 0);
    EXPECT_EQ(AppVexCompressBuffInit(&second), 0);
}

// Limits of 16-bit counts: the tile arrays and tileCount, and the passes of
// one tile the engine counts.
TEST_F(CompressOpen, CountsBeyondSixteenBitsAreRefused) {
    AppVexParams p = MakeParams(3, 3, 65520, 136);
    p.writeCallback = SinkWrite;
    p.tileWidth = 16;
    p.tileHeight = 8;  // 4095 x 17 = 69615 tiles
    p.bandWidth = 16;
    p.bandHeight = 8;
    EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_TILE);
    p.height = 128;  // 4095 x 16 = 65520 tiles fit
    EXPECT_EQ(AppVexCompressBuffInit(&p), 0);
    EXPECT_EQ(AppVexAbort(), 0);
    p = MakeParams(3, 3, 4096, 2048);
    p.writeCallback = SinkWrite;
    p.bandWidth = 8;
    p.bandHeight = 8;  // 512 passes per MCU row, 256 MCU rows
    EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_BAND);
    p.bandWidth = 64;  // 64 x 256 passes
    EXPECT_EQ(AppVexCompressBuffInit(&p), 0);
    EXPECT_EQ(AppVexAbort(), 0);
}

// Host tables are only read, and only their own bytes: tables of exactly
// their size, a Huffman table of 28 bytes at the very end of its allocation
// (the address sanitizer sees any read of the full 80-byte slot).
TEST_F(CompressOpen, HostTablesAreReadNotWritten) {
    std::vector<uint8_t> q(64), copy1, copy2;
    for (int i = 0; i < 64; ++i) q[i] = uint8_t(1 + i);
    copy1 = copy2 = q;
    const uint8_t* const* defaults[3] = {};
    ASSERT_EQ(AppVexGetDefaultTables(0, &defaults[0], &defaults[1], &defaults[2]), 0);
    std::vector<uint8_t> dc(defaults[1][0], defaults[1][0] + 28);
    AppVexParams p = Valid();
    p.qTables[0] = q.data();
    p.qTables[1] = copy1.data();  // equal bytes, other pointers: one table
    p.qTables[2] = copy2.data();
    p.dcTables[0] = dc.data();
    p.quality = 200;
    std::vector<uint8_t> out;
    ASSERT_EQ(CompressImage(p, MakeTestImage(100, 50, 3, 4), CompressOptions(), &out), 0);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(q[i], 1 + i);
    EXPECT_EQ(copy1, q);
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(out, &seg, &scan));
    ASSERT_EQ(seg[3].marker, 0xDB);
    EXPECT_EQ(seg[3].length, 67);
    // Scaled by 4 and in zigzag order: natural 0, 1, 8, 16 hold 1, 2, 9, 17.
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + long(seg[3].offset) + 5, out.begin() + long(seg[3].offset) + 9),
              std::vector<uint8_t>({4, 8, 36, 68}));
}

// ---- the band calls and the output host ----------------------------------

class CompressSequence : public LibraryTest {};

// The finishing call hands over what is left, possibly nothing, at -1; a
// buffer the data fills exactly is kept until more bytes come.
TEST_F(CompressSequence, FinalHandOverCarriesTheRestEvenWhenEmpty) {
    const Image image = MakeTestImage(64, 32, 3, 8);
    AppVexParams p = MakeParams(1, 0, 64, 32);
    p.containerKind = 0;
    std::vector<uint8_t> reference;
    ASSERT_EQ(CompressImage(p, image, CompressOptions(), &reference), 0);
    ASSERT_LT(reference.size(), 4096u);
    EXPECT_EQ(g_sink.log.back().position, -1);
    EXPECT_EQ(g_sink.log.back().size, reference.size());
    for (uint16_t size : {uint16_t(reference.size()), uint16_t(1)}) {
        CompressOptions o;
        o.outputBuffer = size;
        std::vector<uint8_t> out;
        ASSERT_EQ(CompressImage(p, image, o, &out), 0);
        EXPECT_EQ(out, reference);
        EXPECT_EQ(g_sink.log.back().position, -1);
        EXPECT_EQ(g_sink.log.back().size, 0) << size;
    }
}

}  // namespace
}  // namespace vextest
