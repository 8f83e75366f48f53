// The compression sequence as a host meets it: which check of the open
// answers first, what is written back and what is only read, and how the
// band calls hand the stream over to the output host.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "platform/allocator.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::CompressBands;
using compress::Feed;
using compress::MakeParams;
using compress::ParseSegments;
using compress::Segment;
using compress::ResetGuardedSink;
using compress::Sink;

// A DC table definition with three codes of length 2 (symbols 0..2); different
// from both defaults.
std::vector<uint8_t> SmallDcSpec(uint8_t extra) {
    std::vector<uint8_t> spec(80, 0);
    spec[1] = 3;
    spec[2] = extra;
    for (int i = 0; i < 3 + extra; ++i) spec[16 + i] = uint8_t(i);
    return spec;
}

std::vector<uint8_t> SmallAcSpec(uint8_t extra) {
    std::vector<uint8_t> spec(178, 0);
    spec[1] = 2;
    spec[2] = uint8_t(1 + extra);
    spec[16] = 0x00;
    spec[17] = 0x01;
    spec[18] = 0xF0;
    for (int i = 0; i < extra; ++i) spec[19 + i] = uint8_t(0x11 + i);
    return spec;
}

class CompressOpen : public LibraryTest {
protected:
    // Tables that the cases below point the record at.
    std::vector<uint8_t> zeroQ = std::vector<uint8_t>(64, 3);
    std::vector<uint8_t> dcA = SmallDcSpec(0), dcB = SmallDcSpec(1), dcC = SmallDcSpec(2);
    std::vector<uint8_t> acA = SmallAcSpec(0), acB = SmallAcSpec(1), acC = SmallAcSpec(2);
    std::vector<uint8_t> longDc = std::vector<uint8_t>(80, 0);

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
        p.dcTables[0] = dcA.data();
        p.dcTables[1] = dcB.data();
        p.dcTables[2] = dcC.data();
    }
    void ThreeAc(AppVexParams& p) {
        p.acTables[0] = acA.data();
        p.acTables[1] = acB.data();
        p.acTables[2] = acC.data();
    }
};

TEST_F(CompressOpen, EachCheckAnswersInItsTurn) {
    struct Case {
        const char* name;
        int16_t expected;
        std::function<void(AppVexParams&)> change;
    };
    const std::vector<Case> cases = {
        {"no writeCallback before a bad colour space", VEX_ERR_NO_CALLBACK,
         [](AppVexParams& p) { p.writeCallback = nullptr; p.colorSpace = 9; }},
        {"colour space out of range before bad sampling", VEX_ERR_COLOR_SPACE,
         [](AppVexParams& p) { p.colorSpace = -1; p.sampling.h[0] = 3; }},
        {"sampling factors before the pixel model", VEX_ERR_SAMPLING,
         [](AppVexParams& p) { p.sampling.v[1] = 2; p.pixelModel = 5; }},
        {"pixel model before a zero-bit format", VEX_ERR_PIXEL_MODEL,
         [](AppVexParams& p) { p.pixelModel = 3; p.pixelFormat = PixelFormatDesc{}; }},
        {"zero bits per pixel", VEX_ERR_PIXEL_FORMAT,
         [](AppVexParams& p) { p.pixelFormat = PixelFormatDesc{}; }},
        {"format not in the table before colour space 2", VEX_ERR_PIXEL_FORMAT,
         [](AppVexParams& p) { p.pixelFormat.pad[2] = 4; p.colorSpace = 2; }},
        {"colour space 2", VEX_ERR_COLOR_SPACE, [](AppVexParams& p) { p.colorSpace = 2; }},
        {"sampling not in the table", VEX_ERR_SAMPLING,
         [](AppVexParams& p) { p.sampling = SamplingDesc{{2, 2, 2, 0}, {2, 1, 1, 0}}; }},
        {"unsupported pair before a zero width", VEX_ERR_UNSUPPORTED,
         [](AppVexParams& p) { p.pixelFormat = FormatDesc(0); p.sampling = SamplingOf(6); p.width = 0; }},
        {"zero width before a bad tile", VEX_ERR_IMAGE_SIZE,
         [](AppVexParams& p) { p.width = 0; p.tileWidth = 24; }},
        {"tile width not a multiple of the MCU", VEX_ERR_TILE,
         [](AppVexParams& p) { p.tileWidth = 24; p.bandWidth = 4; }},
        {"zero tile height", VEX_ERR_TILE, [](AppVexParams& p) { p.tileHeight = 0; }},
        {"band below the minimum before a bad table", VEX_ERR_BAND,
         [](AppVexParams& p) { p.bandWidth = 8; p.quality = 0; }},
        {"no band and no budget", VEX_ERR_BAND,
         [](AppVexParams& p) { p.bandWidth = 0; p.bandMemory = 0; }},
        {"zero in a quantisation table before quality 0", VEX_ERR_Q_TABLE,
         [this](AppVexParams& p) { p.qTables[1] = zeroQ.data(); p.quality = 0; }},
        {"quality 0 before three DC tables", VEX_ERR_QUALITY,
         [this](AppVexParams& p) { p.quality = 0; ThreeDc(p); }},
        {"quality 256", VEX_ERR_QUALITY, [](AppVexParams& p) { p.quality = 256; }},
        {"DC table definition too long", VEX_ERR_DC_TABLE,
         [this](AppVexParams& p) { p.dcTables[2] = longDc.data(); }},
        {"three DC tables before three AC tables", VEX_ERR_DC_COUNT,
         [this](AppVexParams& p) { ThreeDc(p); ThreeAc(p); }},
        {"three AC tables before a bad container", VEX_ERR_AC_COUNT,
         [this](AppVexParams& p) { ThreeAc(p); p.containerKind = 3; }},
        {"four-channel pixels on three components", VEX_ERR_PIXEL_FORMAT,
         [](AppVexParams& p) {
             p.pixelFormat = FormatDesc(4);
             p.pixelModel = 2;
             p.sampling = SamplingOf(4);
         }},
        {"four-channel pixels counted as three", VEX_ERR_PIXEL_FORMAT,
         [](AppVexParams& p) {
             p.pixelFormat = FormatDesc(4);
             p.pixelModel = 0;
             p.sampling = SamplingOf(5);
             p.colorSpace = 3;
         }},
        {"unknown container", VEX_ERR_CONTAINER, [](AppVexParams& p) { p.containerKind = 3; }},
        {"negative container", VEX_ERR_CONTAINER, [](AppVexParams& p) { p.containerKind = -1; }},
        {"TIFF of grey pixels in the colour model", VEX_ERR_CONTAINER,
         [](AppVexParams& p) {
             p.pixelFormat = FormatDesc(3);
             p.pixelModel = 0;
             p.sampling = SamplingOf(3);
             p.colorSpace = 1;
             p.containerKind = 2;
         }},
        {"TIFF with an unknown density unit", VEX_ERR_CONTAINER,
         [](AppVexParams& p) { p.densityUnits = 4; p.containerKind = 2; }},
    };
    for (const Case& c : cases) {
        AppVexParams p = Valid();
        c.change(p);
        AppVexParams before = p;
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
    // After all of that a good record still opens.
    AppVexParams p = Valid();
    EXPECT_EQ(AppVexCompressBuffInit(&p), 0);
}

// The tile arrays and tileCount are 16 bits wide.
TEST_F(CompressOpen, MoreTilesThanTheArraysCanCountAreRefused) {
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
}

// The engine counts the passes of one tile in 16 bits.
TEST_F(CompressOpen, BandsTooNarrowForTheTileAreRefused) {
    AppVexParams p = MakeParams(3, 3, 4096, 2048);
    p.writeCallback = SinkWrite;
    p.bandWidth = 8;
    p.bandHeight = 8;  // 512 passes per MCU row, 256 MCU rows
    EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_BAND);
    p.bandWidth = 64;  // 64 x 256 passes
    EXPECT_EQ(AppVexCompressBuffInit(&p), 0);
    EXPECT_EQ(AppVexAbort(), 0);
}

TEST_F(CompressOpen, AnOpenSequenceRefusesASecondOpen) {
    AppVexParams p = Valid();
    ASSERT_EQ(AppVexCompressBuffInit(&p), 0);
    AppVexParams second = Valid();
    second.bandWidth = 40;
    const AppVexParams before = second;
    EXPECT_EQ(AppVexCompressBuffInit(&second), VEX_ERR_BUSY);
    EXPECT_EQ(std::memcmp(&before, &second, sizeof second), 0);
    EXPECT_EQ(AppVexAbort(), 0);
    uint8_t* rows[1] = {nullptr};
    BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
    EXPECT_EQ(AppVexCompressBuff(rows, &next), VEX_ERR_NOT_COMPRESSING);
    EXPECT_EQ(next.x0, 0xEEEE);
    EXPECT_EQ(AppVexCompressBuffInit(&second), 0);
}

TEST_F(CompressOpen, HostTablesAreReadNotWritten) {
    std::vector<uint8_t> q(64), copy1, copy2;
    for (int i = 0; i < 64; ++i) q[i] = uint8_t(1 + i);
    copy1 = q;
    copy2 = q;
    AppVexParams p = Valid();
    p.qTables[0] = q.data();
    p.qTables[1] = copy1.data();  // equal bytes, other pointers: one table
    p.qTables[2] = copy2.data();
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
    EXPECT_EQ(out[seg[3].offset + 5], 4);
    EXPECT_EQ(out[seg[3].offset + 6], 8);
    EXPECT_EQ(out[seg[3].offset + 7], 36);
    EXPECT_EQ(out[seg[3].offset + 8], 68);
}

// ---- the band calls and the output host ----------------------------------

class CompressSequence : public LibraryTest {};

// Bare entropy-coded data is exactly the JFIF stream's scan data.
TEST_F(CompressSequence, RawContainerHoldsOnlyTheScanData) {
    const Image image = MakeTestImage(100, 50, 3, 7);
    AppVexParams p = MakeParams(1, 1, 100, 50);
    p.restartInterval = 4;
    std::vector<uint8_t> jfif, raw;
    ASSERT_EQ(CompressBands(p, image, Feed{}, &jfif), 0);
    p.containerKind = 0;
    ASSERT_EQ(CompressBands(p, image, Feed{}, &raw), 0);
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(jfif, &seg, &scan));
    EXPECT_EQ(raw, std::vector<uint8_t>(jfif.begin() + scan, jfif.end() - 2));
}

// The finishing call hands over what is left, possibly nothing, at -1.
TEST_F(CompressSequence, FinalHandOverCarriesTheRestEvenWhenEmpty) {
    const Image image = MakeTestImage(64, 32, 3, 8);
    AppVexParams p = MakeParams(1, 0, 64, 32);
    p.containerKind = 0;
    std::vector<uint8_t> reference;
    ASSERT_EQ(CompressBands(p, image, Feed{}, &reference), 0);
    ASSERT_LT(reference.size(), 4096u);
    // One buffer held everything: the last call hands it all over.
    ASSERT_FALSE(Sink().calls.empty());
    EXPECT_EQ(Sink().calls.back().position, -1);
    EXPECT_EQ(Sink().calls.back().size, reference.size());

    // Buffers that the scan data fills exactly: the last call has nothing left.
    for (uint16_t size : {uint16_t(reference.size()), uint16_t(1)}) {
        Feed feed;
        feed.outputBuffer = size;
        std::vector<uint8_t> out;
        ASSERT_EQ(CompressBands(p, image, feed, &out), 0);
        EXPECT_EQ(out, reference);
        EXPECT_EQ(Sink().calls.back().position, -1);
        EXPECT_EQ(Sink().calls.back().size, 0) << size;
    }
}

}  // namespace
}  // namespace vextest
