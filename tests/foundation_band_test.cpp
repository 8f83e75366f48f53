// Band geometry at its limits: which band size a host gets back for a request
// or a memory budget at and around every threshold, how wide a band row can
// be, which sizes and tiles are refused in which order, and, over a sweep of
// shapes, a walk of units and bands that codes every MCU of the padded image
// exactly once, tile by tile, inside its band.
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "band/band_geometry.h"
#include "interface/codec.h"
#include "test_support.h"

namespace vextest {
namespace {

using namespace q32vex;

struct Shape {
    uint16_t width, height;
    uint16_t mcuW = 16, mcuH = 8, bits = 24;
    uint16_t tileW = 0xFFFF, tileH = 0xFFFF;
    uint16_t bandW = 0, bandH = 0;
    int32_t bandMemory = 0;
};

// A codec instance of the test's own; only its record copy, the values
// derived from it and the band geometry are used.
std::unique_ptr<Codec> NewCodec() { return std::make_unique<Codec>(); }

// Prepares the instance's record copy the way a sequence open does before it
// asks for the geometry, and asks.
Status Choose(Codec& c, const Shape& s) {
    AppVexSetDefaultCompress(&c.seq.params);
    AppVexParams& p = c.seq.params;
    p.width = s.width;
    p.height = s.height;
    p.tileWidth = s.tileW;
    p.tileHeight = s.tileH;
    p.bandWidth = s.bandW;
    p.bandHeight = s.bandH;
    p.bandMemory = s.bandMemory;
    c.seq.mcuWidth = s.mcuW;
    c.seq.mcuHeight = s.mcuH;
    c.seq.bitsPerPixel = s.bits;
    c.seq.maxWidth = uint16_t(2047 * s.mcuW);
    c.band = BandGeometry{};
    return ChooseSequenceGeometry(c.seq, &c.band);
}

Shape Tiled(uint16_t tileW, uint16_t tileH) {
    Shape s{100, 50};
    s.tileW = tileW;
    s.tileH = tileH;
    return s;
}

bool Inside(const Rect16& inner, const Rect16& outer) {
    return inner.x0 >= outer.x0 && inner.x1 <= outer.x1 && inner.y0 >= outer.y0 && inner.y1 <= outer.y1;
}

using BandGeometryTest = LibraryTest;

TEST_F(BandGeometryTest, EachModeSnapsTheRequestToItsGrid) {
    const std::unique_ptr<Codec> codec = NewCodec();
    Codec& c = *codec;
    const BandGeometry& b = c.band;
    const AppVexParams& p = c.seq.params;
    struct Case {
        uint16_t tileW, tileH, bandW, bandH;
        int mode;
        uint16_t outW, outH, passWidth, spanW, spanH;
    };
    const Case cases[] = {
        // untiled 100 x 50
        {0xFFFF, 0xFFFF, 100, 50, 3, 100, 50, 112, 112, 56},   // the whole image
        {0xFFFF, 0xFFFF, 100, 47, 1, 100, 40, 112, 112, 40},   // lower than the image
        {0xFFFF, 0xFFFF, 99, 50, 0, 96, 8, 16, 96, 8},         // 6 and 7 MCUs share only 1
        {0xFFFF, 0xFFFF, 500, 900, 3, 100, 50, 112, 112, 56},  // larger than the image
        // 32 x 16 tiles
        {32, 16, 20, 50, 0, 16, 8, 16, 16, 8},
        {32, 16, 32, 10, 1, 32, 8, 32, 32, 8},
        {32, 16, 64, 16, 2, 64, 16, 32, 64, 16},
        {32, 16, 95, 40, 2, 64, 16, 32, 64, 16},
        {32, 16, 100, 40, 3, 100, 32, 32, 128, 32},
        {32, 16, 100, 50, 3, 100, 50, 32, 128, 64},
    };
    for (const Case& k : cases) {
        Shape s = Tiled(k.tileW, k.tileH);
        s.bandW = k.bandW;
        s.bandH = k.bandH;
        ASSERT_EQ(Choose(c, s), 0) << k.bandW << "x" << k.bandH;
        EXPECT_EQ(std::vector<int>({int(b.bandMode), p.bandWidth, p.bandHeight, b.passWidth, b.bandSpanWidth,
                                    b.bandSpanHeight}),
                  std::vector<int>({k.mode, k.outW, k.outH, k.passWidth, k.spanW, k.spanH}))
            << "tiles " << k.tileW << ", band " << k.bandW << "x" << k.bandH;
    }
    // Images smaller than an MCU take bands as small as the image.
    Shape small{5, 3};
    small.bandW = 5;
    small.bandH = 3;
    ASSERT_EQ(Choose(c, small), 0);
    EXPECT_EQ(std::vector<int>({int(b.bandMode), b.paddedImageWidth, b.paddedImageHeight, b.passWidth}),
              std::vector<int>({3, 16, 8, 16}));
}

TEST_F(BandGeometryTest, ChecksRunInOrderSizeTileWidthTileHeightBand) {
    const std::unique_ptr<Codec> codec = NewCodec();
    struct Case {
        const char* name;
        Shape shape;
        Status status;
    };
    auto with = [](Shape s, uint16_t tileW, uint16_t tileH, uint16_t bandW, uint16_t bandH) {
        s.tileW = tileW, s.tileH = tileH, s.bandW = bandW, s.bandH = bandH;
        return s;
    };
    const Shape image{100, 50};
    const Case cases[] = {
        {"zero height", with(Shape{100, 0}, 0xFFFF, 0xFFFF, 1, 1), VEX_ERR_IMAGE_SIZE},
        {"tile width not whole MCUs before a bad height", with(image, 24, 12, 1, 1), VEX_ERR_TILE},
        {"zero tile width", with(image, 0, 0xFFFF, 100, 50), VEX_ERR_TILE},
        {"tile height not whole MCUs", with(image, 200, 12, 1, 1), VEX_ERR_TILE},
        {"band before the tiles are fine", with(image, 200, 16, 1, 1), VEX_ERR_BAND},
        {"band narrower than an MCU", with(image, 0xFFFF, 0xFFFF, 15, 50), VEX_ERR_BAND},
        // 65535 columns round up to 65536 with any MCU width; so do tiles
        // that overshoot the 16-bit range.
        {"width padding past 16 bits", with(Shape{65535, 16}, 0xFFFF, 0xFFFF, 64, 8), VEX_ERR_IMAGE_SIZE},
        {"height padding past 16 bits", with(Shape{16, 65535}, 0xFFFF, 0xFFFF, 16, 8), VEX_ERR_IMAGE_SIZE},
        {"tiles padding past 16 bits", with(Shape{65500, 16}, 1024, 0xFFFF, 1024, 8), VEX_ERR_IMAGE_SIZE},
        {"largest width padding to 65520", with(Shape{65520, 16}, 0xFFFF, 0xFFFF, 4096, 8), 0},
        {"largest width padding to 65504", with(Shape{65504, 8, 32, 8, 24}, 0xFFFF, 0xFFFF, 4096, 8), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Choose(*codec, c.shape), c.status) << c.name;
    // A tile wider than the image is one tile column; what was settled
    // before a failure stays settled.
    EXPECT_EQ(Choose(*codec, with(image, 200, 12, 1, 1)), VEX_ERR_TILE);
    EXPECT_EQ(codec->seq.params.tileWidth, 100);
}

struct BudgetCase {
    int32_t budget;
    Status status;
    int mode;
    uint16_t bandW, bandH, passWidth;
};

void CheckBudgets(Shape s, const std::vector<BudgetCase>& cases) {
    const std::unique_ptr<Codec> codec = NewCodec();
    const BandGeometry& b = codec->band;
    const AppVexParams& p = codec->seq.params;
    for (const BudgetCase& c : cases) {
        s.bandMemory = c.budget;
        ASSERT_EQ(Choose(*codec, s), c.status) << "budget " << c.budget;
        if (c.status != 0) continue;
        EXPECT_EQ(std::vector<int>({int(b.bandMode), p.bandWidth, p.bandHeight, b.passWidth, p.bandMemory}),
                  std::vector<int>({c.mode, c.bandW, c.bandH, c.passWidth, c.budget}))
            << "budget " << c.budget;
    }
}

TEST_F(BandGeometryTest, BudgetsAtAndAroundEveryThreshold) {
    // 100 x 50 at 24 bits: one MCU piece 16 x 8 = 384 bytes, one MCU row of
    // the image 2400 bytes, the whole image 15000 bytes.
    CheckBudgets(Shape{100, 50}, {
                                     {-1, VEX_ERR_BAND, 0, 0, 0, 0},
                                     {INT32_MIN, VEX_ERR_BAND, 0, 0, 0, 0},
                                     {383, VEX_ERR_BAND, 0, 0, 0, 0},
                                     {384, 0, 0, 16, 8, 16},
                                     {2399, 0, 0, 96, 8, 16},
                                     {2400, 0, 1, 100, 8, 112},
                                     {14999, 0, 1, 100, 48, 112},
                                     {15000, 0, 3, 100, 50, 112},
                                 });
    // 32 x 16 tiles: 384-byte MCU piece, 768-byte tile MCU row, 1536-byte
    // tile, 4800-byte tile row, 15000-byte image.
    CheckBudgets(Tiled(32, 16), {
                                    {383, VEX_ERR_BAND, 0, 0, 0, 0},
                                    {384, 0, 0, 16, 8, 16},
                                    {767, 0, 0, 16, 8, 16},
                                    {768, 0, 1, 32, 8, 32},
                                    {1535, 0, 1, 32, 8, 32},
                                    {1536, 0, 2, 32, 16, 32},
                                    {4799, 0, 2, 96, 16, 32},
                                    {4800, 0, 3, 100, 16, 32},
                                    {15000, 0, 3, 100, 50, 32},
                                });
    // A 320-pixel tile is 20 MCUs; the budget holds 9 MCUs (3456 bytes, below
    // one 7680-byte tile MCU row). Cost = passes per tile MCU row x (bands
    // per tile row)^2: 1-MCU passes with 9-MCU bands 20 x 9 = 180; 2-MCU
    // passes, 8-MCU bands 10 x 9 = 90; 5-MCU passes, 5-MCU bands 4 x 16 = 64;
    // 4-MCU passes, 8-MCU bands 5 x 9 = 45, the cheapest.
    CheckBudgets(Shape{320, 40}, {{9 * 384, 0, 0, 128, 8, 64}});
}

TEST_F(BandGeometryTest, BandRowsStayWithinSixtyFourKibibytes) {
    const std::unique_ptr<Codec> codec = NewCodec();
    Codec& c = *codec;
    const BandGeometry& b = c.band;
    const AppVexParams& p = c.seq.params;
    // 30000 pixels at 32 bits are 120000 bytes a row. The band of 100 rows
    // becomes a budget of 100 x 64 KiB, which gives 48 full-width rows, then
    // 24, then 8, then a 16384-pixel piece of one MCU row; the pass search
    // then settles on 1875-MCU passes and bands (3750 MCUs per tile row).
    Shape s{30000, 100, 8, 8, 32};
    s.bandW = 30000;
    s.bandH = 100;
    ASSERT_EQ(Choose(c, s), 0);
    EXPECT_EQ(std::vector<int>({int(b.bandMode), p.bandMemory, p.bandHeight, p.bandWidth, b.passWidth}),
              std::vector<int>({0, 8 * 65536, 8, 15000, 15000}));
    // Exactly one band row of 64 KiB is allowed; one pixel more is not.
    s = Shape{16384, 16, 8, 8, 32};
    s.bandW = 16384;
    s.bandH = 16;
    ASSERT_EQ(Choose(c, s), 0);
    EXPECT_EQ(std::vector<int>({int(b.bandMode), p.bandMemory, p.bandWidth}), std::vector<int>({3, 0, 16384}));
    s.width = s.bandW = 16386;  // 65544 bytes
    ASSERT_EQ(Choose(c, s), 0);
    EXPECT_NE(p.bandMemory, 0);
    EXPECT_LE(uint32_t(p.bandWidth) * 4, 65536u);
}

// One step of the walk as the sequences drive it: the next unit, and a new
// band whenever the unit has left the current one.
int Step(BandGeometry& b) {
    const int result = AdvanceUnit(b);
    if (result != kImageDone && !Inside(b.unitRect, b.bandRect)) AdvanceBand(b);
    return result;
}

TEST_F(BandGeometryTest, EveryShapeCoversThePaddedImageExactlyOnce) {
    const std::unique_ptr<Codec> codec = NewCodec();
    std::mt19937 rng(20240607);
    struct Mcu {
        uint16_t w, h, bits;
    };
    const Mcu mcus[] = {{16, 8, 24}, {16, 16, 16}, {8, 8, 8}, {8, 8, 32}, {32, 8, 24}, {16, 16, 32}};
    const uint16_t sizes[] = {1, 5, 8, 15, 16, 17, 31, 33, 64, 100, 150, 257};
    int checked = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const Mcu m = mcus[rng() % 6];
        Shape s{sizes[rng() % 12], sizes[rng() % 12], m.w, m.h, m.bits};
        const int tw = int(rng() % 4), th = int(rng() % 4);
        s.tileW = tw == 0 ? 0xFFFF : uint16_t(m.w * tw * (1 + rng() % 2));
        s.tileH = th == 0 ? 0xFFFF : uint16_t(m.h * th);
        if (rng() % 2) {
            s.bandW = uint16_t(1 + rng() % 300);
            s.bandH = uint16_t(1 + rng() % 300);
        } else {
            s.bandMemory = int32_t(rng() % 40000);
        }
        const Status status = Choose(*codec, s);
        if (status != 0) {
            EXPECT_TRUE(status == VEX_ERR_BAND || status == VEX_ERR_TILE) << status;
            continue;
        }
        ++checked;
        BandGeometry& b = codec->band;
        const AppVexParams& p = codec->seq.params;
        ASSERT_GE(p.bandWidth, 1);
        ASSERT_GE(p.bandHeight, 1);
        ASSERT_LE((uint32_t(p.bandWidth) * m.bits + 7) / 8, 65536u);
        ASSERT_GT(b.passWidth, 0);
        ASSERT_EQ(b.passWidth % m.w, 0);
        ASSERT_LE(b.passWidth, codec->seq.maxWidth);
        ASSERT_EQ(b.paddedTileWidth % b.passWidth, 0);
        ASSERT_EQ(b.unitWidth % b.passWidth, 0) << "a unit is whole passes";
        ASSERT_EQ(b.paddedImageWidth % b.paddedTileWidth, 0);
        ASSERT_EQ(b.paddedImageHeight % b.paddedTileHeight, 0);

        const int cols = b.paddedImageWidth / m.w, rows = b.paddedImageHeight / m.h;
        std::vector<uint8_t> seen(size_t(cols) * rows, 0);
        int lastTileX = -1, lastTileY = -1, result = kNewTile, units = 0;
        do {
            const Rect16 u = b.unitRect;
            ASSERT_EQ(u.y1 - u.y0 + 1, m.h);
            ASSERT_LT(u.x1, b.paddedImageWidth);
            ASSERT_LT(u.y1, b.paddedImageHeight);
            ASSERT_EQ(u.x0 / b.paddedTileWidth, u.x1 / b.paddedTileWidth) << "one tile";
            const int tileX = u.x0 / b.paddedTileWidth, tileY = u.y0 / b.paddedTileHeight;
            ASSERT_EQ(result == kNewTile, tileX != lastTileX || tileY != lastTileY);
            lastTileX = tileX;
            lastTileY = tileY;
            ASSERT_TRUE(Inside(u, b.bandRect));
            ASSERT_LE(b.bandRect.x1 - b.bandRect.x0 + 1, b.bandSpanWidth);
            ASSERT_LE(b.bandRect.y1 - b.bandRect.y0 + 1, b.bandSpanHeight);
            for (int x = u.x0 / m.w; x <= u.x1 / m.w; ++x) {
                uint8_t& cell = seen[size_t(u.y0 / m.h) * cols + x];
                ASSERT_EQ(cell, 0) << "MCU coded twice";
                cell = 1;
            }
            ASSERT_LE(++units, cols * rows);
            result = Step(b);
        } while (result != kImageDone);
        for (uint8_t cell : seen) ASSERT_EQ(cell, 1) << "MCU never coded";
        // Done stays done and moves nothing.
        const Rect16 last = b.unitRect;
        ASSERT_EQ(AdvanceUnit(b), kImageDone);
        ASSERT_TRUE(last.x0 == b.unitRect.x0 && last.y0 == b.unitRect.y0);
    }
    EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace vextest
